#!/usr/bin/env python3
"""Capacity of one service instance: terminals held, and what each one costs.

Starts the real wayfarer (MaxConnCount far above what the open-file limit allows, so the
descriptor budget decides) and ramps terminal connections in steps up to its connection limit.
Connections come from many loopback source addresses (127.0.0.2, .3, ...), each address good for
20000 of them, so the ephemeral-port range of one address is no limit. Every terminal sends a
valid device report at connect and then one every --period seconds (the fleet's steady load);
at each step the driver measures over --window seconds:
  - service threads and descriptors, and descriptors per connection,
  - resident memory (VmRSS) and its growth per connection since the start,
  - report-to-answer latency p50 / p99 of the steady reports,
  - service CPU (utime + stime) as a share of one core, and the load average.
At the limit it opens --overflow connections more: they must be closed without an answer while
the service stays up and keeps answering the fleet. Prints one table row per step.
"""
import argparse
import asyncio
import os
import random
import re
import resource
import struct
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from wfservice import Service  # noqa: E402

ANSWER = 42 + 132  # the no-upgrade answer to a report
PER_SOURCE = 20000
CMD_REPORT = 0x0001
# The standard report body: its fields in order, by their record names, and their widths.
REPORT_FIELDS = (("devSN", 16), ("devType", 64), ("LicensePlateNumber", 16), ("PhoneNumber", 16),
                 ("AppVersion", 32), ("McuVersion", 32), ("FourGVersion", 32),
                 ("GnssVersion", 32), ("SmartModule", 32), ("Reserve", 32))


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


def frame(cmd, dev_id, serial, body):
    header = struct.pack(">BBH32sHH", 0x5A, 0xA5, cmd, dev_id.encode()[:32], serial, len(body))
    packet = header + body
    return packet + struct.pack(">H", crc16(packet[2:]))


def report_body(fields):
    """Missing fields are empty; the plate is GBK, the rest UTF-8, each cut or padded."""
    body = b""
    for name, size in REPORT_FIELDS:
        text = fields.get(name, "")
        raw = text.encode("gbk" if name == "LicensePlateNumber" else "utf-8")[:size]
        body += raw.ljust(size, b"\0")
    return body


def report_packet(sn, serial):
    return frame(CMD_REPORT, sn, serial, report_body({"devSN": sn, "devType": "CAP"}))


def proc_figures(pid):
    threads = len(os.listdir("/proc/%d/task" % pid))
    fds = len(os.listdir("/proc/%d/fd" % pid))
    rss = 0
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    return threads, fds, rss, cpu


def percentile(values, q):
    if not values:
        return float("nan")
    values = sorted(values)
    return values[min(len(values) - 1, int(q * len(values)))]


class Terminal:
    """One connection: reports at connect, then once per period while the fleet runs."""

    def __init__(self, index, port):
        self.index, self.port = index, port
        self.sn = "CAP%06d" % index
        self.serial = 0
        self.reader = self.writer = None
        self.closed = False

    async def connect(self):
        source = "127.0.0.%d" % (2 + self.index // PER_SOURCE)
        self.reader, self.writer = await asyncio.open_connection(
            "127.0.0.1", self.port, local_addr=(source, 0))

    async def exchange(self):
        """Sends a report, returns the milliseconds until its answer, None when closed."""
        self.serial = self.serial % 65535 + 1
        start = time.perf_counter()
        try:
            self.writer.write(report_packet(self.sn, self.serial))
            await self.writer.drain()
            await self.reader.readexactly(ANSWER)
        except (OSError, asyncio.IncompleteReadError):
            self.closed = True
            return None
        return (time.perf_counter() - start) * 1000.0

    async def steady(self, period, latencies, running):
        await asyncio.sleep(random.uniform(0, period))
        while running["on"] and not self.closed:
            ms = await self.exchange()
            if ms is not None and running["measure"]:
                latencies.append(ms)
            await asyncio.sleep(period)


async def open_terminals(terminals, concurrency):
    """Connects and reports each terminal; returns how many failed."""
    gate = asyncio.Semaphore(concurrency)
    failed = 0

    async def one(t):
        nonlocal failed
        async with gate:
            try:
                await t.connect()
            except OSError:
                t.closed = True
                failed += 1
                return
            if await t.exchange() is None:
                failed += 1

    await asyncio.gather(*(one(t) for t in terminals))
    return failed


async def overflow(port, start_index, count):
    """Connections beyond the limit: how many are closed without any answer."""
    refused = 0
    extra = [Terminal(start_index + i, port) for i in range(count)]
    for t in extra:
        try:
            await t.connect()
            t.writer.write(report_packet(t.sn, 1))
            data = await asyncio.wait_for(t.reader.read(ANSWER), 10)
            if data == b"":
                refused += 1
        except (OSError, asyncio.TimeoutError):
            refused += 1
    for t in extra:
        if t.writer:
            t.writer.close()
    return refused


async def run(args, svc, limit):
    pid = svc.proc.pid
    time.sleep(1)
    threads0, fds0, rss0, _ = proc_figures(pid)
    print("service at rest: threads %d, descriptors %d, VmRSS %.1f MiB; limit %d terminals"
          % (threads0, fds0, rss0 / 1024.0, limit))
    top = min(limit, args.max) if args.max else limit
    steps = sorted({s for s in args.steps if s < top} | {top})
    terminals = []
    running = {"on": True, "measure": False}
    latencies = []
    tasks = []
    rows = []
    print("%8s %7s %7s %8s %9s %9s %8s %8s %8s %7s %6s %9s"
          % ("conns", "threads", "fds", "fds/conn", "RSS MiB", "KiB/conn", "rep/s", "p50 ms",
             "p99 ms", "CPU %", "load", "conn s"))
    for step in steps:
        new = [Terminal(i, svc.tcp) for i in range(len(terminals), step)]
        t0 = time.time()
        failed = await open_terminals(new, args.concurrency)
        opened = time.time() - t0
        terminals += new
        for t in new:
            if not t.closed:
                tasks.append(asyncio.ensure_future(t.steady(args.period, latencies, running)))
        latencies.clear()
        running["measure"] = True
        _, _, _, cpu_a = proc_figures(pid)
        w0 = time.time()
        await asyncio.sleep(args.window)
        running["measure"] = False
        wall = time.time() - w0
        threads, fds, rss, cpu_b = proc_figures(pid)
        alive = sum(1 for t in terminals if not t.closed)
        load = float(open("/proc/loadavg").read().split()[0])
        row = (alive, threads, fds, (fds - fds0) / max(1, alive), rss / 1024.0,
               (rss - rss0) / max(1, alive), len(latencies) / wall, percentile(latencies, 0.5),
               percentile(latencies, 0.99), 100.0 * (cpu_b - cpu_a) / wall, load, opened)
        rows.append(row)
        print("%8d %7d %7d %8.2f %9.1f %9.2f %8.1f %8.2f %8.2f %7.1f %6.2f %9.1f" % row
              + ("  (%d failed to connect or report)" % failed if failed else ""))
        sys.stdout.flush()
        if svc.proc.poll() is not None:
            print("FAIL: the service died with %s" % svc.proc.returncode)
            return False
    if top < limit:  # a trial run below the limit: nothing to overflow
        args.overflow = 0
    refused = await overflow(svc.tcp, len(terminals), args.overflow)
    running["on"] = False
    for task in tasks:
        task.cancel()
    await asyncio.gather(*tasks, return_exceptions=True)
    lost = sum(1 for t in terminals if t.closed)
    alive = svc.proc.poll() is None
    # The fleet is still answered after the overflow (a reply cut short by the cancel above
    # may answer the first of these: only liveness counts here).
    sample = [t for t in terminals if not t.closed][:200]
    answers = [await t.exchange() for t in sample]
    answered = sum(1 for a in answers if a is not None)
    vm_hwm = svc.status_kib("VmHWM")
    # Gone before the terminals close: the closing side keeps the TIME_WAIT, and ours would
    # hold ports a later run may want to listen on.
    svc.stop()
    print("peak memory VmHWM %.1f MiB" % (vm_hwm / 1024.0))
    print("beyond the limit: %d of %d more connections closed without an answer; service %s; "
          "fleet connections lost %d; %d of %d sampled terminals answered afterwards"
          % (refused, args.overflow, "up" if alive else "DOWN", lost, answered, len(sample)))
    return alive and refused == args.overflow and lost == 0 and answered == len(sample)


def main():
    p = argparse.ArgumentParser(description=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--wayfarer", required=True)
    p.add_argument("--steps", default="1000,2000,4000,8000",
                   help="connection counts measured on the way to the limit")
    p.add_argument("--period", type=float, default=30.0,
                   help="seconds between two reports of one terminal")
    p.add_argument("--window", type=float, default=30.0, help="seconds measured at each step")
    p.add_argument("--concurrency", type=int, default=200,
                   help="connections opened at once during the ramp")
    p.add_argument("--overflow", type=int, default=200)
    p.add_argument("--max", type=int, default=0, help="stop the ramp here (0: at the limit)")
    args = p.parse_args()
    args.steps = [int(s) for s in args.steps.split(",") if s]
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    random.seed(1)

    svc = Service(args.wayfarer, 1000000)
    try:
        deadline = time.time() + 10
        limit = None
        while time.time() < deadline and limit is None:
            with open(os.path.join(svc.dir, "stdout.txt"), errors="replace") as f:
                m = re.search(r"at most (\d+) terminal connections \(MaxConnCount \d+, open files "
                              r"(\d+)\), (\d+) I/O threads", f.read())
            if m:
                limit = int(m.group(1))
                print("open files %s, %s I/O threads, load before %s" %
                      (m.group(2), m.group(3), open("/proc/loadavg").read().strip()))
            else:
                time.sleep(0.1)
        if limit is None:
            print("FAIL: no connection limit in the service's output")
            return 1
        ok = asyncio.run(run(args, svc, limit))
        print("load average at the end %s" % open("/proc/loadavg").read().strip())
        print("capacity: %s" % ("ok" if ok else "FAIL"))
        return 0 if ok else 1
    finally:
        svc.stop()


if __name__ == "__main__":
    sys.exit(main())
