#!/usr/bin/env python3
"""A report flood on the terminal port of the real wayfarer, and whether other terminals are served.

FLOODERS connections send device reports as fast as the service takes them for SECONDS and never
read an answer; one closed by the service connects again. Meanwhile, and for AFTER seconds past
the flood, a probe terminal reports every 0.5 s and waits up to 5 s for each answer. Prints what
the flood sent, the probe's answers during and after it, the service's CPU and the bytes it wrote
to its console and WFSLog. --offer puts a package on offer for the flood's device type.
Traffic goes to 127.0.0.1 only.
"""
import argparse
import os
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "capacity"))
from capacity import ANSWER, proc_figures, report_packet  # noqa: E402
from wfservice import Service  # noqa: E402

MIB = 1024 * 1024


class Flooder(threading.Thread):
    def __init__(self, port, sn, stop):
        super().__init__(daemon=True)
        self.port, self.stop = port, stop
        self.burst = b"".join(report_packet(sn, i % 65535 + 1) for i in range(64))
        self.sent = self.connections = 0

    def run(self):
        while not self.stop.is_set():
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=1) as s:
                    self.connections += 1
                    while not self.stop.is_set():
                        try:
                            self.sent += s.send(self.burst)
                        except socket.timeout:
                            pass  # the service reads no further for now
            except OSError:
                time.sleep(0.01)


class Probe(threading.Thread):
    """A well-behaved terminal on one connection: a report, its answer, 0.5 s, again."""

    def __init__(self, port, stop):
        super().__init__(daemon=True)
        self.port, self.stop = port, stop
        self.during, self.after, self.failures = [], [], 0
        self.flooding = True

    def run(self):
        serial = 0
        sock = None
        while not self.stop.is_set():
            serial = serial % 65535 + 1
            started = time.monotonic()
            try:
                if sock is None:
                    sock = socket.create_connection(("127.0.0.1", self.port), timeout=5)
                sock.sendall(report_packet("PROBE0001", serial))
                got = b""
                while len(got) < ANSWER:
                    chunk = sock.recv(ANSWER - len(got))
                    if not chunk:
                        raise OSError("closed")
                    got += chunk
                (self.during if self.flooding else self.after).append(
                    1000 * (time.monotonic() - started))
            except OSError:
                self.failures += 1
                if sock:
                    sock.close()
                sock = None
            self.stop.wait(0.5)
        if sock:
            sock.close()


def summary(latencies):
    if not latencies:
        return "answered 0"
    latencies = sorted(latencies)
    return "answered %d, median %.0f ms, worst %.0f ms" % (
        len(latencies), latencies[len(latencies) // 2], latencies[-1])


def log_bytes(service):
    total = os.path.getsize(os.path.join(service.dir, "stdout.txt"))
    for root, _, files in os.walk(os.path.join(service.dir, "WFSLog")):
        total += sum(os.path.getsize(os.path.join(root, f)) for f in files)
    return total


def offer_package(service, serials):
    # A package for the flood's type (report_packet's "CAP"), forced on the flooding terminals.
    folder = os.path.join(service.dir, "Package", "CAP")
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "p.bin")
    with open(path, "wb") as f:
        f.write(b"x" * 1024)
    with service.db() as db:
        db.execute("insert into Tab_Package(packageName,deviceType,packagePath,size,AppVersion) "
                   "values('p.bin','CAP',?,1024,'9.9.9')", (path,))
        for sn in serials:
            db.execute("insert into Tab_DeviceInfo(devSN,devType,isAutoUpdate) values(?,'CAP',1)",
                       (sn,))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("exe")
    parser.add_argument("--flooders", type=int, default=2)
    parser.add_argument("--seconds", type=int, default=20)
    parser.add_argument("--after", type=int, default=10)
    parser.add_argument("--offer", action="store_true")
    args = parser.parse_args()
    service = Service(args.exe, 50)
    try:
        serials = ["FLOOD%04d" % i for i in range(args.flooders)]
        if args.offer:
            offer_package(service, serials)
        logs0, cpu0 = log_bytes(service), proc_figures(service.proc.pid)[3]
        stop_flood, stop_probe = threading.Event(), threading.Event()
        probe = Probe(service.tcp, stop_probe)
        flooders = [Flooder(service.tcp, sn, stop_flood) for sn in serials]
        probe.start()
        for f in flooders:
            f.start()
        time.sleep(args.seconds)
        stop_flood.set()
        probe.flooding = False
        for f in flooders:
            f.join()
        time.sleep(args.after)
        stop_probe.set()
        probe.join()
        cpu = proc_figures(service.proc.pid)[3] - cpu0
        sent = sum(f.sent for f in flooders)
        written = log_bytes(service) - logs0
        print("flood: %d connections sent %.1f MiB of reports in %d s (%d connections made)" % (
            args.flooders, sent / MIB, args.seconds, sum(f.connections for f in flooders)))
        print("  probe during the flood: %s" % summary(probe.during))
        print("  probe after the flood:  %s; failures %d" % (summary(probe.after), probe.failures))
        print("  other terminals served: %s" % (
            "yes" if probe.during and probe.after and probe.failures == 0 else "NO"))
        print("  log written %.1f MiB (%.3f bytes per byte sent); CPU %.1f s in %d s" % (
            written / MIB, written / max(sent, 1), cpu, args.seconds + args.after))
        if args.offer:
            with service.db() as db:
                rows = db.execute("select count(*) from Tab_UpgradeAttempt").fetchone()[0]
            print("  upgrade attempt rows: %d" % rows)
    finally:
        service.stop()


if __name__ == "__main__":
    main()
