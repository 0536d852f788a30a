#!/usr/bin/env python3
"""Terminals held and report latency through HAProxy, with one instance and with two.

For each layout a fresh PostgreSQL cluster (tests/support/pg_cluster.sh), HAProxy with the
shipped deploy/haproxy/wayfarer.cfg and the instances (TcpProxyProtocol=1, PackageStore shared)
are started; terminals connect to HAProxy's terminal frontend from many loopback source
addresses, report at connect and then once every --period seconds. At each step of the ramp
the driver measures over --window seconds: terminals still connected, report-to-answer p50 and
p99, CPU of the instances together and of HAProxy (share of one core), the instances' VmRSS
and the load average. With one instance both server lines of the configuration name it.
"""
import argparse
import asyncio
import os
import pathlib
import random
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parents[1]
sys.path.insert(0, str(HERE.parent / "capacity"))
sys.path.insert(0, str(HERE.parent))
from capacity import Terminal, open_terminals, percentile, proc_figures  # noqa: E402
from wfservice import free_port  # noqa: E402


def wait_port(port, seconds=30):
    import socket
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


class Layout:
    def __init__(self, exe, count, tmp):
        self.tmp = tmp
        self.procs = []
        state = tmp / "pg.env"
        subprocess.run([str(ROOT / "tests/support/pg_cluster.sh"), "start", str(state)],
                       check=True, stdout=subprocess.DEVNULL)
        self.state = state
        pg = dict(l.split("=", 1) for l in state.read_text().splitlines())
        pg = {k: v.strip("'") for k, v in pg.items()}
        if "PG_MISSING" in pg:
            raise SystemExit(pg["PG_MISSING"])
        self.front = free_port()
        self.instances = []
        hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
        for i in range(count):
            d = tmp / ("i%d" % i)
            d.mkdir()
            shutil.copy(exe, d / "wayfarer")
            (d / "pw").write_text("unused\n")
            ports = (free_port(), free_port(), free_port())
            (d / "config.ini").write_text(
                "[LocalParam]\nInstanceName=i%d\nTcpPort=%d\nHttpPort=%d\nHttpPort2=%d\n"
                "NetIP=127.0.0.1\nMaxConnCount=1000000\nOperatorLogin=0\nTcpProxyProtocol=1\n"
                "RegistrationsPerMinutePerAddress=0\nRegistrationsPerMinute=0\n"
                "PackageStore=%s\nDbDriver=postgresql\nDbHost=%s\nDbPort=%s\nDbName=%s\n"
                "DbUser=%s\nDbPasswordFile=%s\n"
                % (i, ports[0], ports[1], ports[2], tmp / "packages", pg["PG_DIR"], pg["PG_PORT"],
                   pg["PG_DB"], pg["PG_USER"], d / "pw"))
            proc = subprocess.Popen(
                [str(d / "wayfarer")], cwd=d, stdout=open(d / "out.txt", "wb"),
                stderr=subprocess.STDOUT,
                preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard)))
            self.procs.append(proc)
            if not wait_port(ports[0]):
                raise SystemExit("instance %d did not start" % i)
            self.instances.append((proc, ports))
        env = dict(os.environ)
        env.update({"WF_TERMINAL_BIND": "0.0.0.0:%d" % self.front,
                    "WF_DOWNLOAD_BIND": "127.0.0.1:%d" % free_port(),
                    "WF_MANAGEMENT_BIND": "127.0.0.1:%d" % free_port(),
                    "WF_CHECK_INTER": "2s", "WF_MAXCONN": str((hard - 2000) // 2)})
        for name, (proc, ports) in zip("AB", self.instances * (3 - count)):
            env["WF_%s_TERMINAL" % name] = "127.0.0.1:%d" % ports[0]
            env["WF_%s_MANAGEMENT" % name] = "127.0.0.1:%d" % ports[1]
            env["WF_%s_DOWNLOAD" % name] = "127.0.0.1:%d" % ports[2]
        self.haproxy = subprocess.Popen(
            ["haproxy", "-db", "-f", str(ROOT / "deploy/haproxy/wayfarer.cfg")], env=env,
            stdout=subprocess.DEVNULL, stderr=open(tmp / "haproxy.txt", "wb"))
        self.procs.append(self.haproxy)
        # Servers count as up until a check fails; the instances already listen.
        if not wait_port(self.front):
            raise SystemExit("haproxy did not start: " + (tmp / "haproxy.txt").read_text())

    def cpu(self):
        instances = sum(proc_figures(p.pid)[3] for p, _ in self.instances)
        return instances, proc_figures(self.haproxy.pid)[3]

    def rss_mib(self):
        return sum(proc_figures(p.pid)[2] for p, _ in self.instances) / 1024.0

    def alive(self):
        return all(p.poll() is None for p in self.procs)

    def deaths(self):
        """Which processes ended, with their exit codes and the tails of their output."""
        lines = []
        for proc, name, out in self.named():
            if proc.poll() is not None:
                tail = out.read_text(errors="replace").splitlines()[-20:] if out.exists() else []
                lines += ["%s exited with %s" % (name, proc.returncode)] + tail
        return "\n".join(lines)

    def named(self):
        for i, (proc, _) in enumerate(self.instances):
            yield proc, "instance %d" % i, self.tmp / ("i%d" % i) / "out.txt"
        yield self.haproxy, "haproxy", self.tmp / "haproxy.txt"

    def stop(self):
        for p in self.procs:
            if p.poll() is None:
                p.send_signal(signal.SIGKILL)
                p.wait()
        subprocess.run([str(ROOT / "tests/support/pg_cluster.sh"), "stop", str(self.state)])


async def ramp(layout, args):
    terminals, tasks, latencies, rows = [], [], [], []
    running = {"on": True, "measure": False}
    for step in args.steps:
        new = [Terminal(i, layout.front) for i in range(len(terminals), step)]
        await open_terminals(new, args.concurrency)
        terminals += new
        tasks += [asyncio.ensure_future(t.steady(args.period, latencies, running))
                  for t in new if not t.closed]
        await asyncio.sleep(2)  # the connect burst's reports are not the steady load
        latencies.clear()
        running["measure"] = True
        cpu_a = layout.cpu()
        w0 = time.time()
        await asyncio.sleep(args.window)
        running["measure"] = False
        wall = time.time() - w0
        cpu_b = layout.cpu()
        rows.append({
            "held": sum(1 for t in terminals if not t.closed),
            "rate": len(latencies) / wall,
            "p50": percentile(latencies, 0.5), "p99": percentile(latencies, 0.99),
            "cpu": 100.0 * (cpu_b[0] - cpu_a[0]) / wall,
            "haproxy": 100.0 * (cpu_b[1] - cpu_a[1]) / wall,
            "rss": layout.rss_mib(),
            "load": open("/proc/loadavg").read().split()[0],
        })
        print("  %d terminals: %s" % (step, rows[-1]), flush=True)
        if not layout.alive():
            raise SystemExit("a process of the layout died:\n" + layout.deaths())
    running["on"] = False
    for task in tasks:
        task.cancel()
    await asyncio.gather(*tasks, return_exceptions=True)
    for t in terminals:
        if t.writer:
            t.writer.close()
    return rows


def main():
    p = argparse.ArgumentParser(description=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--wayfarer", required=True)
    p.add_argument("--steps", default="1000,2000,4000,8000")
    p.add_argument("--period", type=float, default=30.0)
    p.add_argument("--window", type=float, default=20.0)
    p.add_argument("--concurrency", type=int, default=200)
    p.add_argument("--layouts", default="1,2", help="instance counts, in the order run")
    args = p.parse_args()
    args.steps = [int(s) for s in args.steps.split(",")]
    args.layouts = [int(s) for s in args.layouts.split(",")]
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    random.seed(1)
    print("open files %d, cores %d, load before %s" % (hard, os.cpu_count(),
                                                        open("/proc/loadavg").read().strip()))
    results = {}
    for count in args.layouts:
        tmp = pathlib.Path(tempfile.mkdtemp(prefix="wf-cluster-bench."))
        print("%d instance(s) behind HAProxy" % count, flush=True)
        layout = Layout(args.wayfarer, count, tmp)
        try:
            results[count] = asyncio.run(ramp(layout, args))
        finally:
            layout.stop()
            shutil.rmtree(tmp, ignore_errors=True)
    print()
    counts = sorted(results)
    names = " / ".join(str(c) for c in counts)
    print("| Terminals | " + " | ".join(
        "%s %s" % (column, names) for column in
        ("held", "reports/s", "p50 ms", "p99 ms", "instances CPU %", "HAProxy CPU %",
         "instances RSS MiB", "load")) + " |")
    print("|---" * 9 + "|")
    formats = (("held", "%d"), ("rate", "%.0f"), ("p50", "%.2f"), ("p99", "%.2f"),
               ("cpu", "%.1f"), ("haproxy", "%.1f"), ("rss", "%.0f"), ("load", "%s"))
    for i, step in enumerate(args.steps):
        cells = []
        for key, fmt in formats:
            cells.append(" / ".join(fmt % results[c][i][key] if i < len(results[c]) else "-"
                                    for c in counts))
        print("| %d | %s |" % (step, " | ".join(cells)))
    print("load after %s" % open("/proc/loadavg").read().strip())
    return 0


if __name__ == "__main__":
    sys.exit(main())
