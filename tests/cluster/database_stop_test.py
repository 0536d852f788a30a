#!/usr/bin/env python3
"""A 30 s PostgreSQL stop in the middle of a rollout, two instances behind HAProxy: terminals
finish their downloads, report 100 and leave while the database is away; both instances say they
are not ready and are again once it is back. Then every completion and every departure reported
in the outage is written (no upgrade stays running, no presence is left behind) and the
terminals' next reports, on the new version, judge every upgrade succeeded. Exit code 77:
skipped."""
import pathlib
import subprocess
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from cluster_test import (LOGS, PG_SCRIPT, SKIP, TERMINAL, begin, end, fail, http,  # noqa: E402
                          split_download, upload_package, wait_for)

TERMINALS = 16
OUTAGE_SECONDS = 30
# Each terminal repeats its first progress step this long after its upgrade answer, so that its
# 100 falls in the outage.
LOOP_MS = 4000
OLD, NEW = "V5.3.0 build220711", "V5.3.1 build220711"


def metric(port, name):
    status, body = http(port, "/metrics")
    if status != 200:
        fail(f"/metrics answered {status}")
    return sum(float(line.split()[-1]) for line in body.decode().splitlines()
               if line.split(" ")[0].split("{")[0] == name)


def terminals(cluster, log, *options):
    LOGS.append(log)
    process = subprocess.Popen(
        [TERMINAL, "--host", "127.0.0.1", "--port", str(cluster.fronts["terminal"]),
         "--count", str(TERMINALS), "--sn", "DS", "--type", "T1", "--timeout", "60000",
         *options], stdout=open(log, "wb"), stderr=subprocess.STDOUT)
    cluster.processes.append(process)
    return process


def main():
    begun = begin("wayfarer-dbstop.")
    if not begun:
        return SKIP
    tmp, state, cluster = begun
    ports = [instance["ports"]["http"] for instance in cluster.instances.values()]

    def ready():
        return [http(port, "/ready")[0] for port in ports]

    def queued():
        return sum(metric(port, "wayfarer_report_writes_queued") for port in ports)

    def scalar(statement):
        return cluster.scalar(statement)

    try:
        for name in cluster.instances:
            cluster.start_instance(name)
        cluster.start_haproxy()
        wait_for("HAProxy to see both instances up",
                 lambda: cluster.servers_up("a") and cluster.servers_up("b"), 30)
        # Both instances have served the package once, so they know it while the database is away.
        split_download(cluster, upload_package(cluster))

        first = terminals(cluster, tmp / "before.txt", "--app", OLD, "--expect", "upgrade",
                          "--loop-progress", str(LOOP_MS), "--exit-after", "500")
        wait_for("every terminal to report progress", lambda: scalar(
            "select count(*) from Tab_UpgradeAttempt where isCurrent<>0 and lastProgressAt>0 "
            "and completedAt=0") == TERMINALS, 60)
        if scalar("select count(*) from Tab_UpgradeAttempt where completedAt>0") != 0:
            fail("an upgrade completed before the stop: the loop is too short for this machine")

        subprocess.run([PG_SCRIPT, "pause", str(state)], check=True)
        stopped = time.monotonic()
        wait_for("both instances to say they are not ready", lambda: ready() == [503, 503], 15)
        try:
            first.wait(timeout=OUTAGE_SECONDS - 5)
        except subprocess.TimeoutExpired:
            fail("the terminals did not finish while the database was away")
        output = (tmp / "before.txt").read_text()
        if output.count(": script done") != TERMINALS or "FAULT" in output:
            fail("terminals in the outage: " + "; ".join(
                l for l in output.splitlines() if "FAULT" in l)[:500])
        kept = queued()
        if kept < 2 * TERMINALS:  # at least each one's 100 and its departure
            fail(f"{kept} writes kept while the database was away")
        time.sleep(max(0.0, stopped + OUTAGE_SECONDS - time.monotonic()))  # the outage lasts
        subprocess.run([PG_SCRIPT, "resume", str(state)], check=True)

        wait_for("both instances to be ready again", lambda: ready() == [200, 200], 30)
        wait_for("the kept writes to be written", lambda: queued() == 0, 30)
        running = scalar("select count(*) from Tab_UpgradeAttempt where isCurrent<>0 and "
                         "completedAt=0")
        completed = scalar("select count(distinct devSN) from Tab_UpgradeAttempt where "
                           "completedAt>0")
        ghosts = scalar("select count(*) from Tab_DevicePresence")
        failed = sum(metric(port, "wayfarer_report_writes_failed_total") for port in ports)
        if (running, completed, ghosts, failed) != (0, TERMINALS, 0, 0):
            fail(f"after the outage: {running} running, {completed} completed, {ghosts} presence "
                 f"rows of terminals that left, {failed} writes dropped")

        wait_for("HAProxy to see both instances up again",
                 lambda: cluster.servers_up("a") and cluster.servers_up("b"), 30)
        after = terminals(cluster, tmp / "after.txt", "--app", NEW, "--expect", "none",
                          "--exit-after", "600000")
        wait_for("every upgrade to be judged succeeded", lambda: scalar(
            "select count(*) from Tab_UpgradeAttempt where outcome='succeeded'") == TERMINALS, 30)
        wait_for("every terminal to be present", lambda: scalar(
            "select count(*) from Tab_DevicePresence") == TERMINALS, 30)
        after.terminate()
        after.wait()
        wait_for("the terminals' departures to be written", lambda: scalar(
            "select count(*) from Tab_DevicePresence") == 0, 30)
        print(f"PASS: {TERMINALS} terminals completed in a {OUTAGE_SECONDS} s database stop; "
              f"{int(kept)} writes kept and written, every upgrade judged succeeded")
        return 0
    finally:
        end(cluster, state, tmp)


if __name__ == "__main__":
    sys.exit(main())
