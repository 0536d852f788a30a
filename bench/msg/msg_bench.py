#!/usr/bin/env python3
"""Device-report latency of the service while other terminals sit in their progress loops,
and a many-connection load run with the service's peak memory.

Runs the real wayfarer in a temporary application directory and drives it with
wayfarer-terminal. Figures come from the simulator's summary line (report-to-answer latency
per report) and from /proc/<pid>/status (VmHWM).
"""
import argparse
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from wfservice import Service, raise_fd_limit  # noqa: E402

SUMMARY = re.compile(r"summary: (\d+) terminals, (\d+) failed, (\d+) answers, latency ms "
                     r"median ([\d.]+) p99 ([\d.]+) max ([\d.]+)")


def add_package(svc, device_type, app_version):
    path = os.path.join(svc.dir, "Package", device_type, "pkg.bin")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(os.urandom(4096))
    db = svc.db()
    db.execute("insert into Tab_Package(packageName,AppVersion,packagePath,size,deviceType) "
               "values('pkg.bin',?,?,4096,?)", (app_version, path, device_type))
    db.commit()
    db.close()


def terminal(exe, port, *args):
    return [exe, "--port", str(port), "--quiet", "--timeout", "30000", *args]


CONNECTED = re.compile(r"connected to \S+ in (\d+) ms")


def probe_cmd(exe, port, reports, sn, delay_ms=0):
    return [exe, "--port", str(port), "--timeout", "60000", "--sn", sn, "--type", "NOPKG",
            "--expect", "none", "--reports", str(reports), "--start-delay", str(delay_ms)]


def probe_result(returncode, out):
    m = SUMMARY.search(out)
    c = CONNECTED.search(out)
    if returncode != 0 or not m or not c:
        raise RuntimeError("probe failed:\n" + out[-2000:])
    return float(m.group(4)), float(m.group(5)), float(m.group(6)), int(c.group(1))


def run_probe(exe, port, reports, sn):
    out = subprocess.run(probe_cmd(exe, port, reports, sn), capture_output=True, text=True,
                         preexec_fn=raise_fd_limit)
    return probe_result(out.returncode, out.stdout)


def latency_under_loops(args):
    svc = Service(args.wayfarer, args.loopers + 50)
    try:
        add_package(svc, "LOOP", "V9.0.0 build220101")
        idle = run_probe(args.terminal, svc.tcp, args.reports, "IDLE")
        # Connected before the loops start, reporting once they run: the figure is the
        # report-to-answer time alone.
        probe = subprocess.Popen(probe_cmd(args.terminal, svc.tcp, args.reports, "PROBE",
                                           args.settle_ms),
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                 preexec_fn=raise_fd_limit)
        time.sleep(0.5)
        loop_start = time.time()
        loopers = subprocess.Popen(
            terminal(args.terminal, svc.tcp, "--sn", "LOOP", "--type", "LOOP", "--count",
                     str(args.loopers), "--app", "V1.0.0 build220101", "--expect", "upgrade",
                     "--no-download", "--loop-progress", str(args.loop_ms)),
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
            preexec_fn=raise_fd_limit)
        probe_out, _ = probe.communicate()
        probe_done = time.time() - loop_start
        loaded = probe_result(probe.returncode, probe_out)
        # A terminal that connects while the loops run: how long until it is accepted.
        late = run_probe(args.terminal, svc.tcp, 20, "LATE")
        late_done = time.time() - loop_start
        still_looping = loopers.poll() is None
        loopers.kill()  # the loops only end here, so every probe report met them
        loopers.communicate()
        print("device report to answer, %d reports, ms:" % args.reports)
        print("  idle service:                   median %.3f  p99 %.3f  max %.3f" % idle[:3])
        print("  %d terminals in progress loops: median %.3f  p99 %.3f  max %.3f"
              % ((args.loopers,) + loaded[:3]))
        print("  ratio loaded/idle:              median %.2f  p99 %.2f"
              % (loaded[0] / idle[0], loaded[1] / idle[1]))
        print("  probe finished %.1f s after the loops started; loops still running: %s"
              % (probe_done, still_looping))
        print("  terminal connecting during the loops: accepted in %d ms, 20 reports median "
              "%.3f p99 %.3f (finished at %.1f s)" % (late[3], late[0], late[1], late_done))
        print("  service load average over the run: %s" % open("/proc/loadavg").read().strip())
    finally:
        svc.stop()


def load_run(args):
    svc = Service(args.wayfarer, args.connections + 100)
    try:
        start = time.time()
        out = subprocess.run(
            terminal(args.terminal, svc.tcp, "--sn", "LOAD", "--type", "NOPKG", "--count",
                     str(args.connections), "--reports", str(args.per_conn), "--expect", "none",
                     # every report is to be answered, however long the queue
                     "--timeout", "180000"),
            capture_output=True, text=True, preexec_fn=raise_fd_limit)
        elapsed = time.time() - start
        m = SUMMARY.search(out.stdout)
        print("load run: %d connections x %d reports" % (args.connections, args.per_conn))
        print("  exit %d, %.2f s for %d answers (%.0f reports/s)"
              % (out.returncode, elapsed, int(m.group(3)) if m else -1,
                 (int(m.group(3)) if m else 0) / elapsed))
        if m:
            print("  per-report latency ms: median %s p99 %s max %s, failed terminals %s"
                  % (m.group(4), m.group(5), m.group(6), m.group(2)))
        faults = [l for l in out.stdout.splitlines() if "FAULT" in l]
        if faults:
            print("  %d faults, first: %s" % (len(faults), faults[0]))
        print("  service peak memory VmHWM: %.1f MiB" % (svc.status_kib("VmHWM") / 1024.0))
    finally:
        svc.stop()


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--wayfarer", required=True)
    p.add_argument("--terminal", required=True)
    p.add_argument("--loopers", type=int, default=200)
    p.add_argument("--loop-ms", type=int, default=600000)
    p.add_argument("--settle-ms", type=int, default=4000,
                   help="time given to the loopers to start before the probe reports")
    p.add_argument("--reports", type=int, default=200)
    p.add_argument("--connections", type=int, default=1000)
    p.add_argument("--per-conn", type=int, default=20)
    p.add_argument("--skip-load", action="store_true")
    args = p.parse_args()
    latency_under_loops(args)
    if not args.skip_load:
        load_run(args)


if __name__ == "__main__":
    sys.exit(main())
