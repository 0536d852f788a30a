#!/usr/bin/env python3
"""A rolling upgrade across two builds behind HAProxy: both instances run this build; one is
stopped and started on the next (a build with one more schema step, that only adds); this build
goes on serving beside it, is ready, and starts again after a crash on the newer schema (a
rollback stays possible); then the other instance is upgraded too. Terminals move between the
instances and none is lost. Exit code 77: skipped."""
import json
import os
import pathlib
import shutil
import signal
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from cluster_test import (EXE, LOGS, SKIP, TERMINAL, begin, end, fail, http,  # noqa: E402
                          upload_package, wait_for)

NEXT = os.environ.get("WAYFARER_NEXT_EXE")
TERMINALS = 12


def main():
    if not NEXT:
        fail("WAYFARER_NEXT_EXE must name the next build")
    begun = begin("wayfarer-rolling.")
    if not begun:
        return SKIP
    tmp, state, cluster = begun

    def run_build(name, exe):
        shutil.copy(exe, cluster.instances[name]["dir"] / "wayfarer")
        cluster.start_instance(name)

    def ready(name):
        return http(cluster.instances[name]["ports"]["http"], "/ready")[0] == 200

    def schema():
        return cluster.scalar("select max(version) from Tab_SchemaVersion")

    def present():
        return cluster.scalar("select count(*) from Tab_DevicePresence")

    def upgrade(name):
        process = cluster.instances[name]["process"]
        process.send_signal(signal.SIGTERM)
        process.wait(timeout=30)
        run_build(name, NEXT)
        wait_for(f"instance {name} on the next build to be ready", lambda: ready(name), 30)

    try:
        for name in cluster.instances:
            run_build(name, EXE)
        current = schema()
        cluster.start_haproxy()
        wait_for("HAProxy to see both instances up",
                 lambda: cluster.servers_up("a") and cluster.servers_up("b"), 30)
        upload_package(cluster, "T1", 4096)
        log = tmp / "terminals.txt"
        LOGS.append(log)
        # Reporting progress all along, so that a closed connection is reconnected.
        terminals = subprocess.Popen(
            [TERMINAL, "--host", "127.0.0.1", "--port", str(cluster.fronts["terminal"]),
             "--count", str(TERMINALS), "--sn", "RU", "--type", "T1", "--app", "V5.3.0 build220711",
             "--expect", "upgrade", "--no-download", "--loop-progress", "600000",
             "--reconnect", "20", "--timeout", "30000"],
            stdout=open(log, "wb"), stderr=subprocess.STDOUT)
        cluster.processes.append(terminals)
        wait_for("every terminal to be present", lambda: present() == TERMINALS, 30)

        upgrade("a")
        newest = schema()
        if newest != current + 1:
            fail(f"the next build left schema {newest} after {current}")
        # This build beside it runs on the newer step, and starts on it again.
        if not ready("b"):
            fail("this build is not ready on the newer schema")
        cluster.kill_instance("b")
        run_build("b", EXE)
        wait_for("this build, restarted, to be ready", lambda: ready("b"), 30)
        output = (cluster.instances["b"]["dir"] / "out.txt").read_text(errors="replace")
        if "only add, so this program runs on it" not in output:
            fail("this build did not say why it runs on the newer schema")
        wait_for("HAProxy to see both instances up",
                 lambda: cluster.servers_up("a") and cluster.servers_up("b"), 30)

        upgrade("b")
        wait_for("HAProxy to see both instances up",
                 lambda: cluster.servers_up("a") and cluster.servers_up("b"), 30)
        wait_for("every terminal to be present again", lambda: present() == TERMINALS, 60)
        views = [json.loads(http(cluster.instances[n]["ports"]["http"],
                                 "/KORVA/v2/devices?limit=100&sort=devSN")[1]) for n in "ab"]
        if views[0] != views[1] or views[0]["total"] != TERMINALS:
            fail("the consoles of the upgraded instances differ or miss terminals")
        text = log.read_text()
        if "FAULT" in text or text.count("reconnecting") == 0:
            fail("terminals: " + "; ".join(l for l in text.splitlines() if "FAULT" in l)[:500])
        print(f"PASS: rolled from schema {current} to {newest} instance by instance; this build "
              f"ran and restarted beside the next; {TERMINALS} terminals present")
        return 0
    finally:
        end(cluster, state, tmp)


if __name__ == "__main__":
    sys.exit(main())
