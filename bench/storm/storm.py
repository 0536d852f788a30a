#!/usr/bin/env python3
"""A fleet reconnecting at once: reports answered per second, beside what the machine can do.

For each scenario N x R (N terminals connect at once, each reports R times, again as soon as
answered) storm_driver runs, in turn, against:
  - floor:   storm_floor, a minimal epoll server answering the report with the same bytes and
             no database: what this machine can do at all, and proof the driver is no limit;
  - sqlite:  the real wayfarer on its SQLite database;
  - pg:      the real wayfarer on a throwaway local PostgreSQL (tests/support/pg_cluster.sh),
             skipped with the reason when PostgreSQL is not installed.
The service is fresh for each scenario and its fleet is known: one report of every terminal
registers them first, as after an outage it is known terminals that come back. Each row gives
reports answered per second, report-to-answer p50 / p99, the time until the last terminal's
last answer, errors / refusals / time-outs, the server's CPU (share of one core, from /proc)
and CPU per report, the load average, and the rate and p99 as a share of the floor's.

--idle N registers N terminals, then opens N connections that report once and stay, and
prints the service's descriptors and resident memory per idle terminal.
"""
import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parents[1]
sys.path.insert(0, str(HERE.parent))
sys.path.insert(0, str(HERE.parent / "capacity"))
from capacity import proc_figures  # noqa: E402
from wfservice import Service, free_port  # noqa: E402


def load():
    return open("/proc/loadavg").read().split()[0]


def cpu_seconds(pid):
    return proc_figures(pid)[3]


def wait_quiet(pid, seconds=20):
    """Until the server has used under 2 % of a core for a second (the warm-up's disconnects)."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        before = cpu_seconds(pid)
        time.sleep(1)
        if cpu_seconds(pid) - before < 0.02:
            return


def drive(driver, port, count, reports, timeout_ms, extra=()):
    out = subprocess.run([driver, "--port", str(port), "--count", str(count), "--reports",
                          str(reports), "--timeout", str(timeout_ms), *extra],
                         capture_output=True, text=True)
    line = next((l for l in out.stdout.splitlines() if l.startswith("storm:")), None)
    if line is None:
        raise RuntimeError("storm_driver: %s" % (out.stderr or out.stdout))
    return {k: float(v) for k, v in (f.split("=") for f in line.split()[1:])}


def measure(args, name, port, pid, count, reports):
    cpu0 = cpu_seconds(pid)
    wall0 = time.time()
    f = drive(args.driver, port, count, reports, args.timeout)
    wall = time.time() - wall0
    cpu = cpu_seconds(pid) - cpu0
    f.update(name=name, cpu=100.0 * cpu / wall, us=1e6 * cpu / max(1, f["answered"]), load=load())
    return f


class Postgres:
    def __init__(self, tmp):
        self.state = pathlib.Path(tmp) / "pg.env"
        subprocess.run([str(ROOT / "tests/support/pg_cluster.sh"), "start", str(self.state)],
                       check=True, stdout=subprocess.DEVNULL)
        env = dict(l.split("=", 1) for l in self.state.read_text().splitlines())
        self.env = {k: v.strip("'") for k, v in env.items()}
        self.missing = self.env.get("PG_MISSING")

    def params(self, tmp):
        pw = pathlib.Path(tmp) / "pw"
        pw.write_text("unused\n")
        e = self.env
        return {"DbDriver": "postgresql", "DbHost": e["PG_DIR"], "DbPort": e["PG_PORT"],
                "DbName": e["PG_DB"], "DbUser": e["PG_USER"], "DbPasswordFile": pw}

    def reset(self):
        """Every scenario starts from an empty database, as with a fresh SQLite file."""
        e = self.env
        sql = "DROP SCHEMA public CASCADE; CREATE SCHEMA public;"
        subprocess.run(["runuser", "-u", "nobody", "--", "psql", "-q", "-h", e["PG_DIR"], "-p",
                        e["PG_PORT"], "-U", e["PG_USER"], "-d", e["PG_DB"], "-c", sql]
                       if os.getuid() == 0 else
                       ["psql", "-q", "-h", e["PG_DIR"], "-p", e["PG_PORT"], "-U", e["PG_USER"],
                        "-d", e["PG_DB"], "-c", sql], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def stop(self):
        subprocess.run([str(ROOT / "tests/support/pg_cluster.sh"), "stop", str(self.state)])


def service_row(args, name, count, reports, params):
    svc = Service(args.wayfarer, 1000000, params=params)
    try:
        drive(args.driver, svc.tcp, count, 1, args.timeout)  # registers the fleet
        wait_quiet(svc.proc.pid)
        return measure(args, name, svc.tcp, svc.proc.pid, count, reports)
    finally:
        svc.stop()


def floor_row(args, count, reports):
    port = free_port()
    floor = subprocess.Popen([args.floor, str(port)])
    try:
        time.sleep(0.2)
        return measure(args, "floor", port, floor.pid, count, reports)
    finally:
        floor.kill()
        floor.wait()


def print_row(scenario, f, floor):
    share = 100.0 * f["rate"] / floor["rate"] if floor["rate"] else 0
    print("| %s | %s | %s | %.2f | %.2f | %.0f | %d/%d/%d | %.0f %% | %.0f | %s | %.0f %% |"
          % (scenario, f["name"], format(int(f["rate"]), ","), f["p50_ms"], f["p99_ms"],
             f["last_ms"], f["errors"], f["refused"], f["timeouts"], f["cpu"], f["us"], f["load"],
             share))
    sys.stdout.flush()


def idle_cost(args, count):
    svc = Service(args.wayfarer, 1000000)
    try:
        _, _, rss_start, _ = proc_figures(svc.proc.pid)
        # Known terminals: what the fleet itself costs (device rows, caches) is not the link's.
        drive(args.driver, svc.tcp, count, 1, args.timeout)
        wait_quiet(svc.proc.pid)
        _, fds0, rss0, _ = proc_figures(svc.proc.pid)
        driver = subprocess.Popen([args.driver, "--port", str(svc.tcp), "--count", str(count),
                                   "--reports", "1", "--hold", "600"], stdout=subprocess.PIPE,
                                  text=True)
        line = driver.stdout.readline()  # the figures: every terminal answered, now holding
        wait_quiet(svc.proc.pid)
        _, fds, rss, _ = proc_figures(svc.proc.pid)
        driver.kill()
        driver.wait()
        print("idle terminals: %s" % line.strip())
        # The second figure charges the terminals with everything the process grew by since it
        # started, their registration included: an upper bound.
        print("| %d idle terminals | %.2f descriptors each | %.1f KiB each | %.1f KiB each since "
              "start | VmRSS %.1f MiB |" % (count, (fds - fds0) / count, (rss - rss0) / count,
                                            (rss - rss_start) / count, rss / 1024.0))
    finally:
        svc.stop()


def main():
    p = argparse.ArgumentParser(description=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--build", required=True, help="build directory (Release, WAYFARER_BENCH=ON)")
    p.add_argument("--scenarios", default="100x50,2000x10,5000x4,9000x1")
    p.add_argument("--servers", default="floor,sqlite,pg")
    p.add_argument("--timeout", type=int, default=30000, help="ms one report may wait")
    p.add_argument("--idle", type=int, default=0, help="measure this many idle terminals")
    args = p.parse_args()
    build = pathlib.Path(args.build)
    args.wayfarer = str(build / "bin/wayfarer")
    args.driver = str(build / "bench/storm_driver")
    args.floor = str(build / "bench/storm_floor")
    servers = args.servers.split(",")
    print("cores %d, open files %s, load before %s"
          % (os.cpu_count(), subprocess.run(["sh", "-c", "ulimit -n"], capture_output=True,
                                            text=True).stdout.strip(),
             open("/proc/loadavg").read().strip()))
    if args.idle:
        idle_cost(args, args.idle)
    with tempfile.TemporaryDirectory() as tmp:
        pg = Postgres(tmp) if "pg" in servers else None
        if pg and pg.missing:
            print("pg: skipped (%s)" % pg.missing)
            servers.remove("pg")
        try:
            print("| terminals x reports | server | reports/s | p50 ms | p99 ms | last ms | "
                  "err/refused/timeout | server CPU | CPU us/report | load | rate / floor |")
            print("|---|---|---|---|---|---|---|---|---|---|---|")
            for scenario in filter(None, args.scenarios.split(",")):
                count, reports = (int(x) for x in scenario.split("x"))
                floor = floor_row(args, count, reports)
                if "floor" in servers:
                    print_row(scenario, floor, floor)
                if "sqlite" in servers:
                    print_row(scenario, service_row(args, "sqlite", count, reports, {}), floor)
                if "pg" in servers:
                    pg.reset()
                    print_row(scenario, service_row(args, "pg", count, reports, pg.params(tmp)),
                              floor)
        finally:
            if pg:
                pg.stop()
    print("load average at the end %s" % open("/proc/loadavg").read().strip())
    return 0


if __name__ == "__main__":
    sys.exit(main())
