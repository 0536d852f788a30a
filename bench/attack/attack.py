#!/usr/bin/env python3
"""Attacks on the management port of the real wayfarer, one scenario at a time.

Each scenario starts a fresh service, samples its memory (VmRSS, VmHWM), descriptors and CPU
every 0.2 s, and probes GET /KORVA/packageList every 0.5 s to tell whether other clients were
served meanwhile. Scenarios:
  slow-header   CLIENTS connections trickle a request head one byte a second
  unfinished    CLIENTS uploads announce 64 MiB - 1 bytes, send all but one byte and stall
  descriptors   a service with NOFILE descriptors; CLIENTS silent connections flood it
  big-file      CLIENTS clients fetch a sparse package of SIZE GiB and read it slowly
  workbook-bomb CLIENTS clients post a workbook whose sheet inflates to 100 MB (from some 400 KiB)
                to the import preview, again and again
  hello         CLIENTS connections send the first bytes of a TLS ClientHello and stall
With --tls the service speaks HTTPS (a self-signed certificate made with openssl) and every
client goes through TLS (silent ones of the descriptors scenario connect only). Attackers come
from 127.0.0.2 .. (spread over SOURCES addresses), the normal client from 127.0.0.1; traffic
stays on loopback, and every scenario ends by itself after its SECONDS.
"""
import argparse
import io
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from wfservice import Service  # noqa: E402

TICK = os.sysconf("SC_CLK_TCK")
MIB = 1024 * 1024
TLS = None  # the client side of TLS with --tls
SOURCES = 1
# A TLS record header announcing a 512-byte handshake message, then the start of a ClientHello.
PARTIAL_HELLO = b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03"


def open_socket(port, index=None, handshake=True, timeout=10):
    """A connection to the service: from the attackers' addresses when index is given, through
    TLS with --tls unless handshake is False."""
    source = ("127.0.0.%d" % (2 + index % SOURCES), 0) if index is not None else None
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout, source_address=source)
    if TLS and handshake:
        try:
            s = TLS.wrap_socket(s)
        except OSError:
            s.close()
            raise
    return s


class Client:
    """An attacking connection that tells whether the service has closed it or refused it."""

    def __init__(self, port, index, handshake=True):
        self.data, self.closed = b"", False
        try:
            self.sock = open_socket(port, index, handshake)
        except ssl.SSLError:  # closed before the handshake: refused
            self.sock, self.closed = None, True

    def finished(self):
        """True once the service has closed the connection or answered it with 503."""
        if not self.sock:
            return True
        self.sock.setblocking(False)
        try:
            while not self.closed:
                chunk = self.sock.recv(65536)
                self.closed = not chunk
                self.data += chunk
        except (BlockingIOError, ssl.SSLWantReadError, ssl.SSLWantWriteError):
            pass
        except OSError:
            self.closed = True
        return self.closed or self.refused()

    def refused(self):
        return self.data.startswith(b"HTTP/1.1 503")

    def close(self):
        if self.sock:
            self.sock.close()


class Monitor(threading.Thread):
    """Peaks of the service's VmRSS and descriptors, and its CPU time, while running."""

    def __init__(self, service):
        super().__init__(daemon=True)
        self.pid, self.stop = service.proc.pid, threading.Event()
        self.peak_rss_kib = self.peak_fds = 0
        self.cpu0 = self.cpu_seconds()
        self.t0 = time.monotonic()

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / TICK

    def sample(self):
        with open("/proc/%d/status" % self.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    self.peak_rss_kib = max(self.peak_rss_kib, int(line.split()[1]))
        self.peak_fds = max(self.peak_fds, len(os.listdir("/proc/%d/fd" % self.pid)))

    def run(self):
        while not self.stop.wait(0.2):
            try:
                self.sample()
            except OSError:
                return

    def cpu_percent(self):
        return 100.0 * (self.cpu_seconds() - self.cpu0) / (time.monotonic() - self.t0)


class Probe(threading.Thread):
    """A normal client: GET /KORVA/packageList every 0.5 s, 5 s allowed for each answer."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.port, self.stop = port, threading.Event()
        self.latencies, self.failures = [], 0

    def once(self):
        started = time.monotonic()
        try:
            with open_socket(self.port, timeout=5) as s:
                s.sendall(b"GET /KORVA/packageList HTTP/1.1\r\nHost: x\r\n\r\n")
                data = b""
                while not data.startswith(b"HTTP/1.1 200") or b"statusCode" not in data:
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    data += chunk
            if data.startswith(b"HTTP/1.1 200"):
                self.latencies.append(time.monotonic() - started)
                return
        except OSError:
            pass
        self.failures += 1

    def run(self):
        while not self.stop.is_set():
            self.once()
            self.stop.wait(0.5)

    def summary(self):
        if not self.latencies:
            return "served 0, failed %d" % self.failures
        return "served %d, failed %d, worst %.0f ms" % (
            len(self.latencies), self.failures, 1000 * max(self.latencies))


def slow_header(service, args):
    head = b"GET /KORVA/packageList HTTP/1.1\r\nHost: x\r\nX-Slow: " + b"a" * 1000
    clients = [Client(service.http, i) for i in range(args.clients)]
    started, closed_at = time.monotonic(), {}
    for step in range(args.seconds):
        for i, c in enumerate(clients):
            if i in closed_at:
                continue
            try:
                if c.sock:
                    c.sock.setblocking(True)
                    c.sock.send(head[step:step + 1])
            except OSError:
                pass
            if c.finished():
                closed_at[i] = time.monotonic() - started
        if len(closed_at) == len(clients):
            break
        time.sleep(1)
    for c in clients:
        c.close()
    last = max(closed_at.values()) if closed_at else 0
    return "closed by the service %d of %d (%d refused with 503, %d before the handshake, last " \
           "after %.0f s)" % (len(closed_at), len(clients), sum(c.refused() for c in clients),
                              sum(c.sock is None for c in clients), last)


def hello(service, args):
    clients, failed = [], 0
    for i in range(args.clients):
        try:
            c = Client(service.http, i, handshake=False)
            c.sock.sendall(PARTIAL_HELLO)
            clients.append(c)
        except OSError:
            failed += 1
    started, closed_at = time.monotonic(), {}
    while time.monotonic() - started < args.seconds and len(closed_at) < len(clients):
        for i, c in enumerate(clients):
            if i not in closed_at and c.finished():
                closed_at[i] = time.monotonic() - started
        time.sleep(0.2)
    for c in clients:
        c.close()
    at_once = sum(1 for t in closed_at.values() if t < 1)
    last = max(closed_at.values()) if closed_at else 0
    return "connections %d (connect failed %d), closed by the service %d (%d at once, last " \
           "after %.0f s)" % (len(clients), failed, len(closed_at), at_once, last)


def unfinished(service, args):
    length = 64 * MIB - 1
    head = ("POST /KORVA/uploadExcel?name=l.csv HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n"
            % length).encode()
    block = b"x" * MIB
    clients = []
    for i in range(args.clients):
        c = Client(service.http, i)
        try:
            c.sock.sendall(head)  # None: refused before the handshake
            sent = 0
            while sent < length - 1:
                sent += c.sock.send(block[:min(len(block), length - 1 - sent)])
        except (OSError, AttributeError):
            pass
        clients.append(c)
    deadline = time.monotonic() + args.seconds
    answered = set()
    while time.monotonic() < deadline and len(answered) < len(clients):
        for i, c in enumerate(clients):
            if i not in answered and c.finished():
                answered.add(i)
        time.sleep(0.2)
    for c in clients:
        c.close()
    return "refused with 503: %d of %d; closed or answered by the end: %d" % (
        sum(c.refused() for c in clients), len(clients), len(answered))


def descriptors(service, args):
    clients, failed = [], 0
    for i in range(args.clients):
        try:
            clients.append(Client(service.http, i, handshake=False))
        except OSError:
            failed += 1
    time.sleep(args.seconds)  # the flood holds; CPU and log lines are measured meanwhile
    refused = sum(1 for c in clients if c.finished())
    for c in clients:
        c.close()
    with open(os.path.join(service.dir, "stdout.txt"), "rb") as f:
        lines = f.read().count(b"[Listen Error]")
    terminal = "terminal port accepted" if try_connect(service.tcp) else "terminal port refused"
    download = "download port accepted" if try_connect(service.http2) else "download port refused"
    return "connections %d (connect failed %d), closed or refused %d, '[Listen Error]' lines " \
           "%d, %s, %s" % (len(clients), failed, refused, lines, terminal, download)


def try_connect(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=2).close()
        return True
    except OSError:
        return False


def big_file(service, args):
    package = os.path.join(service.dir, "Package", "T1")
    os.makedirs(package, exist_ok=True)
    with open(os.path.join(package, "big.bin"), "wb") as f:
        f.truncate(int(args.size * 1024 * MIB))  # sparse: no disk used
    request = b"GET /KORVA/dlPackage/T1/big.bin HTTP/1.1\r\nHost: x\r\n\r\n"
    clients = []
    for i in range(args.clients):
        s = open_socket(service.http, i)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 256 * 1024)
        s.sendall(request)
        s.setblocking(False)
        clients.append(s)
    received = [0] * len(clients)
    deadline = time.monotonic() + args.seconds
    # Slow readers: 4 MiB a second each.
    while time.monotonic() < deadline:
        for i, s in enumerate(clients):
            try:
                received[i] += len(s.recv(400 * 1024))
            except (BlockingIOError, ssl.SSLWantReadError):
                pass
            except OSError:
                pass
        time.sleep(0.1)
    for s in clients:
        s.close()
    return "received %s MiB in %d s" % ("/".join("%.0f" % (r / MIB) for r in received),
                                        args.seconds)


def workbook_bomb_bytes():
    ns = ' xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
    r = ' xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"'
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("xl/workbook.xml", '<workbook%s%s><sheets><sheet name="S" r:id="rId1"/>'
                   "</sheets></workbook>" % (ns, r))
        z.writestr("xl/_rels/workbook.xml.rels", '<Relationships><Relationship Id="rId1" '
                   'Target="worksheets/sheet1.xml"/></Relationships>')
        z.writestr("xl/worksheets/sheet1.xml", "<worksheet%s><sheetData>%s</sheetData>"
                   "</worksheet>" % (ns, ("<row>" + "<c><v>1</v></c>" * 16 + "</row>") * 400000))
    return out.getvalue()


def workbook_bomb(service, args):
    body = workbook_bomb_bytes()
    head = ("POST /KORVA/v2/devices/import/preview HTTP/1.1\r\nHost: x\r\n"
            "Content-Length: %d\r\n\r\n" % len(body)).encode()
    deadline = time.monotonic() + args.seconds
    statuses = {}
    lock = threading.Lock()

    def client():
        while time.monotonic() < deadline:
            status = "no answer"
            try:
                with socket.create_connection(("127.0.0.1", service.http), timeout=60) as s:
                    s.sendall(head + body)
                    status = s.recv(64).split(b" ")[1].decode()
            except (OSError, IndexError):
                pass
            with lock:
                statuses[status] = statuses.get(status, 0) + 1

    threads = [threading.Thread(target=client, daemon=True) for _ in range(args.clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return "%d KiB posted; answers %s" % (len(body) // 1024, ", ".join(
        "%s x%d" % item for item in sorted(statuses.items())))


SCENARIOS = {"slow-header": slow_header, "unfinished": unfinished, "descriptors": descriptors,
             "big-file": big_file, "workbook-bomb": workbook_bomb, "hello": hello}


def make_certificate(directory):
    cert, key = os.path.join(directory, "cert.pem"), os.path.join(directory, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1", "-subj",
                    "/CN=127.0.0.1", "-keyout", key, "-out", cert], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("exe")
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    parser.add_argument("--clients", type=int, default=24)
    parser.add_argument("--seconds", type=int, default=45)
    parser.add_argument("--size", type=float, default=1.4, help="GiB, big-file")
    parser.add_argument("--nofile", type=int, default=0, help="descriptor limit of the service")
    parser.add_argument("--param", action="append", default=[], help="KEY=VALUE for config.ini")
    parser.add_argument("--tls", action="store_true", help="HTTPS on the management port")
    parser.add_argument("--sources", type=int, default=1, help="attacker addresses, 127.0.0.2..")
    args = parser.parse_args()
    params = dict(p.split("=", 1) for p in args.param)
    global TLS, SOURCES
    SOURCES = max(1, args.sources)
    certificates = tempfile.TemporaryDirectory(prefix="wf-attack-")
    if args.tls:
        params["TlsCertificate"], params["TlsKey"] = make_certificate(certificates.name)
        TLS = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        TLS.check_hostname, TLS.verify_mode = False, ssl.CERT_NONE
    # On a busy machine a port picked free may be taken before the service binds it.
    for attempt in range(3):
        try:
            service = Service(args.exe, 50, params=params, nofile=args.nofile or None)
        except RuntimeError:
            service = None
        if service and try_connect(service.http):
            break
        if service:
            service.stop()
        if attempt == 2:
            raise RuntimeError("the service did not start on its ports")
    monitor, probe = Monitor(service), Probe(service.http)
    try:
        monitor.start()
        probe.start()
        outcome = SCENARIOS[args.scenario](service, args)
        probe.stop.set()
        probe.join()
        monitor.stop.set()
        monitor.join()
        monitor.sample()
        print("%s%s: %s" % (args.scenario, " (TLS)" if args.tls else "", outcome))
        print("  peak VmRSS %.1f MiB, VmHWM %.1f MiB, peak descriptors %d, CPU %.1f %% of one core"
              % (monitor.peak_rss_kib / 1024, service.status_kib("VmHWM") / 1024,
                 monitor.peak_fds, monitor.cpu_percent()))
        print("  other clients: %s; load average %s" % (
            probe.summary(), " ".join("%.2f" % x for x in os.getloadavg())))
    finally:
        if service.proc.poll() is not None:
            print("  the service ended with %d; last lines:" % service.proc.returncode)
            with open(os.path.join(service.dir, "stdout.txt"), "rb") as f:
                print("   ", b"\n    ".join(f.read().splitlines()[-5:]).decode(errors="replace"))
        service.stop()


if __name__ == "__main__":
    main()
