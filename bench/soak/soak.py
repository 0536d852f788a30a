#!/usr/bin/env python3
"""Load and soak run of the whole service.

Starts the real wayfarer in a temporary application directory and keeps N simulated terminals
connected for the given duration: every terminal reports every 30-60 s (connect, report, stay,
leave, come back), a tenth upgrade from the embedded server with a broken and resumed download,
a tenth send a requested log file, and simulator processes are killed at random and restarted.
Meanwhile wrk loads GET /KORVA/deviceList. At the end it checks:
  - UpgradeCompletionTime > 0 for exactly the serials that reported 100,
  - every requested file arrived whole (sha256 against the source),
  - threads and file descriptors of the service back to their start values once every
    terminal has left,
and records peak memory (VmHWM), CPU time (utime + stime) and the load average.
Exit code 0 when every check passed.
"""
import argparse
import glob
import hashlib
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from wfservice import Service, raise_fd_limit  # noqa: E402

OLD_APP = "V1.0.0 build220101"
NEW_APP = "V9.0.0 build220101"
PACKAGE_SIZE = 256 * 1024
BREAK_AT = 64 * 1024
BATCH = 50  # terminals per simulator process


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        h.update(f.read())
    return h.hexdigest()


def proc_counts(pid):
    return len(os.listdir("/proc/%d/task" % pid)), len(os.listdir("/proc/%d/fd" % pid))


def proc_inventory(pid):
    """Descriptor targets and thread names, to tell a leak from a pool that grew."""
    from collections import Counter
    fds = Counter()
    for fd in os.listdir("/proc/%d/fd" % pid):
        try:
            target = os.readlink("/proc/%d/fd/%s" % (pid, fd))
        except OSError:
            continue
        fds[re.sub(r"\[\d+\]", "[]", target)] += 1
    names = Counter()
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            names[open("/proc/%d/task/%s/comm" % (pid, tid)).read().strip()] += 1
        except OSError:
            pass
    return fds, names


def periodic_pool(start, end):
    """Threads of Qt's pool, and their event descriptors, that the periodic jobs (rollout
    supervision, fleet samples) keep: one that runs again within the pool's 30 s expiry never
    ends, and the start may have come before the first run."""
    threads = max(0, min(2, end[1]["Thread (pooled)"] - start[1]["Thread (pooled)"]))
    events = max(0, end[0]["anon_inode:[eventfd]"] - start[0]["anon_inode:[eventfd]"])
    return threads, min(threads, events)


def pool_growth(start, end):
    """Descriptors the service keeps on purpose: SQLite connections the pool opened on demand
    (the database and its WAL, at most 5 connections) and a log file that rotated."""
    grown = 0
    for target in set(start) | set(end):
        if re.search(r"/WFS\.db(-wal|-shm)?$", target):
            grown += max(0, end[target] - start[target])
    rotated_in = sum(end[t] for t in end if "/WFSLog/" in t and t not in start)
    rotated_out = sum(start[t] for t in start if "/WFSLog/" in t and t not in end)
    return grown + max(0, rotated_in - rotated_out)


def listen_overflows():
    """Machine-wide count of connections dropped because an accept queue was full."""
    with open("/proc/net/netstat") as f:
        lines = [l.split() for l in f if l.startswith("TcpExt:")]
    return int(dict(zip(lines[0], lines[1])).get("ListenOverflows", 0))


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # fields[0] is the state (field 3): utime and stime are fields 14 and 15
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Batch:
    """One simulator process with a batch of terminals, restarted until the run ends."""

    def __init__(self, name, kind, count, args, svc, src_file, logdir):
        self.name, self.kind, self.count = name, kind, count
        self.args, self.svc, self.src_file = args, svc, src_file
        self.logdir = logdir
        self.proc = None
        self.round = 0
        self.faults = 0
        self.killed = 0
        self.first_done = False

    def command(self):
        hold = random.randint(30000, 60000)
        cmd = [self.args.terminal, "--port", str(self.svc.tcp), "--count", str(self.count),
               "--sn", self.name + "-", "--timeout", "90000", "--exit-after", str(hold)]
        if self.kind == "upg":
            cmd += ["--type", "UPG"]
            if not self.first_done:
                cmd += ["--app", OLD_APP, "--expect", "upgrade", "--break-at", str(BREAK_AT)]
            else:
                cmd += ["--app", NEW_APP, "--expect", "any"]
        elif self.kind == "fil":
            cmd += ["--type", "FIL", "--expect", "any", "--file", "1=" + self.src_file]
        else:
            cmd += ["--type", "RPT", "--expect", "none", "--quiet"]
        return cmd

    def start(self):
        self.round += 1
        self.out = open(os.path.join(self.logdir, "%s.%d.log" % (self.name, self.round)), "w")
        self.proc = subprocess.Popen(self.command(), stdout=self.out, stderr=subprocess.STDOUT,
                                     preexec_fn=raise_fd_limit)

    def poll(self, running):
        """Restarts the process when it ended and the run goes on; True while one runs."""
        if self.proc is None:
            return False
        rc = self.proc.poll()
        if rc is None:
            return True
        self.out.close()
        if rc > 0:
            self.faults += 1
        if rc == 0 and self.kind == "upg" and not self.first_done:
            self.first_done = True
        self.proc = None
        if running:
            self.start()
            return True
        return False

    def kill(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.killed += 1


def first_fault(logdir):
    for path in sorted(glob.glob(os.path.join(logdir, "*.log"))):
        for line in open(path, errors="replace"):
            if "FAULT" in line:
                return "%s: %s" % (os.path.basename(path), line.strip())
    return "none"


def parse_wrk(text):
    res = {"requests": 0, "non2xx": 0, "socket_errors": 0, "rps": 0.0, "latency": {}}
    m = re.search(r"(\d+) requests in", text)
    if m:
        res["requests"] = int(m.group(1))
    m = re.search(r"Non-2xx or 3xx responses: (\d+)", text)
    if m:
        res["non2xx"] = int(m.group(1))
    m = re.search(r"Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+)", text)
    if m:
        res["socket_errors"] = sum(int(g) for g in m.groups())
    m = re.search(r"Requests/sec:\s+([\d.]+)", text)
    if m:
        res["rps"] = float(m.group(1))
    for q, v in re.findall(r"^\s+(50|75|90|99)%\s+(\S+)", text, re.M):
        res["latency"][q] = v
    return res


def main():
    p = argparse.ArgumentParser(description=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--wayfarer", required=True)
    p.add_argument("--terminal", required=True)
    p.add_argument("--terminals", type=int, default=2000)
    p.add_argument("--duration", type=int, default=600, help="seconds")
    p.add_argument("--wrk-seconds", type=int, default=60)
    p.add_argument("--chaos-every", type=float, default=10.0,
                   help="seconds between killing a random simulator process")
    p.add_argument("--storm-every", type=float, default=0.0,
                   help="seconds between reconnect storms (0: none): a share of the reporting "
                        "simulator processes killed at once, their terminals back together")
    p.add_argument("--storm-share", type=float, default=0.3,
                   help="share of the reporting simulator processes a storm kills")
    p.add_argument("--keep", action="store_true", help="keep the application directory")
    p.add_argument("--completions", default="soak-completions.csv",
                   help="where to write every upgraded terminal's UpgradeCompletionTime (CSV)")
    args = p.parse_args()
    raise_fd_limit()
    random.seed(1)

    workdir = tempfile.mkdtemp(prefix="wf-soak-")
    logdir = os.path.join(workdir, "sim-logs")
    os.makedirs(logdir)
    # The rollout supervisor looks every second, so the pooled thread it keeps (with that
    # thread's database connection) belongs to the baseline, not to the growth.
    svc = Service(args.wayfarer, args.terminals + 200, workdir,
                  params={"RolloutCheckSeconds": 1})
    ok = True
    try:
        time.sleep(3)  # let the pools settle before the baseline
        threads0, fds0 = proc_counts(svc.proc.pid)
        cpu0 = cpu_seconds(svc.proc.pid)
        inv0 = proc_inventory(svc.proc.pid)
        overflows0 = listen_overflows()

        n_upg = max(1, args.terminals // 10)
        n_fil = max(1, args.terminals // 10)
        n_rpt = args.terminals - n_upg - n_fil

        # The package for the upgraders, newer than their version.
        pkg_dir = os.path.join(workdir, "Package", "UPG")
        os.makedirs(pkg_dir)
        pkg = os.path.join(pkg_dir, "soak_pkg.bin")
        with open(pkg, "wb") as f:
            f.write(os.urandom(PACKAGE_SIZE))
        src_file = os.path.join(workdir, "soak-log-source.bin")
        with open(src_file, "wb") as f:
            f.write(os.urandom(20000))
        src_hash = sha256(src_file)

        batches = []

        def make(kind, prefix, total):
            i = 0
            while total > 0:
                c = min(BATCH, total)
                batches.append(Batch("%s%02d" % (prefix, i), kind, c, args, svc, src_file,
                                     logdir))
                total -= c
                i += 1

        make("upg", "UPG", n_upg)
        make("fil", "FIL", n_fil)
        make("rpt", "RPT", n_rpt)

        db = svc.db()
        db.execute("insert into Tab_Package(packageName,AppVersion,packagePath,size,deviceType) "
                   "values('soak_pkg.bin',?,?,?,'UPG')", (NEW_APP, pkg, PACKAGE_SIZE))
        fil_sns = []
        for b in batches:
            if b.kind == "fil":
                for i in range(1, b.count + 1):
                    sn = "%s-%d" % (b.name, i)
                    fil_sns.append(sn)
                    db.execute("insert into Tab_DeviceInfo(devId,devSN,devType,GetLogFile,"
                               "UpgradeCompletionTime) values(?,?,'FIL',1,0)", (sn, sn))
        db.commit()
        db.close()

        print("soak: %d terminals (%d upgrading, %d sending files, %d reporting), %d s, "
              "%d simulator processes" % (args.terminals, n_upg, n_fil, n_rpt, args.duration,
                                          len(batches)))
        print("start: threads %d, fds %d, load %s" % (threads0, fds0,
                                                       open("/proc/loadavg").read().strip()))
        sys.stdout.flush()
        start = time.time()
        # Upgraders first, so wrk meets them downloading.
        for b in sorted(batches, key=lambda b: b.kind != "upg"):
            b.start()
            time.sleep(0.05)
        print("all %d simulator processes started in %.1f s" % (len(batches), time.time() - start))
        sys.stdout.flush()

        wrk_url = "http://127.0.0.1:%d/KORVA/deviceList" % svc.http
        wrk = subprocess.Popen(["wrk", "-t2", "-c16", "-d%ds" % args.wrk_seconds, "--latency",
                                "--timeout", "10s", wrk_url],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        peak_threads = peak_fds = 0
        load_samples = []
        next_chaos = time.time() + args.chaos_every
        next_storm = time.time() + (args.storm_every or float("inf"))
        storms = 0
        while time.time() - start < args.duration:
            for b in batches:
                b.poll(True)
            t, fd = proc_counts(svc.proc.pid)
            peak_threads, peak_fds = max(peak_threads, t), max(peak_fds, fd)
            load_samples.append(float(open("/proc/loadavg").read().split()[0]))
            if time.time() >= next_chaos:
                # Random disconnects: a reporting batch dies and comes back at the next poll.
                victim = random.choice([b for b in batches if b.kind == "rpt"])
                victim.kill()
                next_chaos += args.chaos_every
            if time.time() >= next_storm:
                # Only reporting batches: a killed upgrade or file transfer would leave a
                # completion or a file the checks below cannot tell from a fault.
                reporting = [b for b in batches if b.kind == "rpt"]
                for victim in random.sample(reporting,
                                            max(1, int(len(reporting) * args.storm_share))):
                    victim.kill()
                storms += 1
                next_storm += args.storm_every
            if svc.proc.poll() is not None:
                print("FAIL: the service died with %s" % svc.proc.returncode)
                ok = False
                break
            time.sleep(1)
        wrk_out, _ = wrk.communicate()
        # Let the running processes finish their round, then no restarts.
        print("duration over, waiting for the simulators to leave")
        sys.stdout.flush()
        end_wait = time.time() + 150
        while time.time() < end_wait and any(b.poll(False) for b in batches):
            time.sleep(1)
        for b in batches:
            b.kill()
            b.poll(False)
        elapsed = time.time() - start

        # The service releases a connection's thread after the socket closed: wait for the
        # counts to come back, with a deadline.
        deadline = time.time() + 60
        while time.time() < deadline:
            t, fd = proc_counts(svc.proc.pid)
            if t <= threads0 and fd <= fds0:
                break
            time.sleep(1)
        threads1, fds1 = proc_counts(svc.proc.pid)
        vm_hwm = svc.status_kib("VmHWM")
        inv1 = proc_inventory(svc.proc.pid)
        kept, kept_fds = periodic_pool(inv0, inv1)
        cpu = cpu_seconds(svc.proc.pid) - cpu0

        # Which upgraders reported 100: the simulator says "progress 100 sent".
        reached = set()
        for path in glob.glob(os.path.join(logdir, "UPG*.log")):
            for line in open(path, errors="replace"):
                m = re.match(r"(\S+): progress 100 sent", line)
                if m:
                    reached.add(m.group(1))
        db = svc.db()
        completions = sorted(db.execute(
            "select devSN, UpgradeCompletionTime from Tab_DeviceInfo "
            "where UpgradeCompletionTime > 0 order by UpgradeCompletionTime, devSN"))
        db.close()
        done = {sn for sn, _ in completions}
        with open(args.completions, "w") as out:
            out.write("devSN,UpgradeCompletionTime,local time,seconds after start\n")
            for sn, t in completions:
                out.write("%s,%d,%s,%d\n" % (sn, t, time.strftime("%Y-%m-%d %H:%M:%S",
                                                                time.localtime(t)), t - start))
        after = [t - start for _, t in completions]
        lost = sorted(reached - done)
        extra = sorted(done - reached)

        # Every requested file whole.
        files_ok, files_bad, files_missing = 0, [], []
        for sn in fil_sns:
            found = glob.glob(os.path.join(workdir, "DevLog", sn, "*", "*"))
            if not found:
                files_missing.append(sn)
                continue
            for path in found:
                if sha256(path) == src_hash:
                    files_ok += 1
                else:
                    files_bad.append(path)

        faults = sum(b.faults for b in batches)
        killed = sum(b.killed for b in batches)
        rounds = sum(b.round for b in batches)
        w = parse_wrk(wrk_out)
        print("\n== results (%s, %d terminals, %d s, %.0f s wall) ==" %
              (time.strftime("%Y-%m-%d %H:%M"), args.terminals, args.duration, elapsed))
        terminal_faults = 0
        for path in glob.glob(os.path.join(logdir, "*.log")):
            terminal_faults += sum(1 for line in open(path, errors="replace") if "FAULT" in line)
        print("simulator rounds %d, killed %d, reconnect storms %d, rounds ending in a fault %d "
              "(%d terminal faults, first: %s)"
              % (rounds, killed, storms, faults, terminal_faults, first_fault(logdir)))
        print("accept-queue overflows (machine-wide) during the run: %d" %
              (listen_overflows() - overflows0))
        print("upgrade: %d reached 100, %d with completion time; lost %d, unexpected %d" %
              (len(reached), len(done), len(lost), len(extra)))
        if after:
            print("completion times, seconds after the start: first %d, median %d, p90 %d, "
                  "last %d (all %d in %s)" % (after[0], after[len(after) // 2],
                                             after[min(len(after) - 1, len(after) * 9 // 10)],
                                             after[-1], len(after), args.completions))
        if lost:
            print("  lost:", lost[:10])
        if extra:
            print("  unexpected:", extra[:10])
        print("files: %d requested, %d whole, %d damaged, %d missing" %
              (len(fil_sns), files_ok, len(files_bad), len(files_missing)))
        if files_bad:
            print("  damaged:", files_bad[:5])
        if files_missing:
            print("  missing:", files_missing[:10])
        print("threads: start %d, peak %d, end %d; fds: start %d, peak %d, end %d" %
              (threads0, peak_threads, threads1, fds0, peak_fds, fds1))
        for label, a, b in (("fds", inv0[0], inv1[0]), ("threads", inv0[1], inv1[1])):
            grown = {k: b[k] - a[k] for k in set(a) | set(b) if b[k] != a[k]}
            if grown:
                print("  %s changed (end - start): %s" % (label, grown))
        print("peak memory VmHWM %.1f MiB; CPU utime+stime %.1f s (%.1f%% of one core)" %
              (vm_hwm / 1024.0, cpu, 100.0 * cpu / elapsed))
        print("load average: mean %.2f, max %.2f of 1-min samples; now %s" %
              (sum(load_samples) / max(1, len(load_samples)), max(load_samples or [0]),
               open("/proc/loadavg").read().strip()))
        print("wrk deviceList %d s: %d requests, %.1f req/s, non-2xx %d, socket errors %d, "
              "latency p50 %s p75 %s p90 %s p99 %s" %
              (args.wrk_seconds, w["requests"], w["rps"], w["non2xx"], w["socket_errors"],
               *(w["latency"].get(q, "?") for q in ("50", "75", "90", "99"))))
        checks = [
            ("completion times", not lost and not extra and len(reached) > 0),
            ("files whole", not files_bad and not files_missing),
            ("no thread leak", threads1 - kept <= threads0),
            ("no fd leak", fds1 - pool_growth(inv0[0], inv1[0]) - kept_fds <= fds0),
            ("wrk clean", w["requests"] > 0 and w["non2xx"] == 0 and w["socket_errors"] == 0),
            ("service alive", svc.proc.poll() is None),
            ("every terminal answered", terminal_faults == 0),
        ]
        for name, good in checks:
            print("%-18s %s" % (name, "ok" if good else "FAIL"))
            ok = ok and good
        if not ok:
            print("wrk output:\n" + wrk_out)
    finally:
        svc.stop()
        if args.keep or not ok:
            print("application directory kept: " + workdir)
        else:
            shutil.rmtree(workdir, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
