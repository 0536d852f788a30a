#!/usr/bin/env python3
"""Slow and half-open clients on the management port, the download port and the terminal port.

While 50 connections per port sit silent or trickle request headers a byte a second, a normal
request on each port is answered promptly and a terminal report is answered, and the process
stays up. The servers' own idle time-outs (minutes) are not waited for.
"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ports import free_port  # noqa: E402

EXE = os.environ["WAYFARER_EXE"]
TERMINAL = os.environ["WAYFARER_TERMINAL"]
PER_PORT = 50
PROMPT_S = 3.0


def fail(message):
    print("FAIL:", message, file=sys.stderr)
    sys.exit(1)


def port_open(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def wait_for(pred, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if pred():
            return True
        time.sleep(0.1)
    return pred()


def http_status(port, path, timeout=PROMPT_S):
    try:
        with urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=timeout) as reply:
            return reply.status
    except urllib.error.HTTPError as error:
        return error.code
    except Exception:  # refused, reset or timed out: no answer
        return None


class Trickler(threading.Thread):
    """Sends a request's headers a byte a second and never finishes them."""

    def __init__(self, sock, data):
        super().__init__(daemon=True)
        self.sock, self.data, self.stop = sock, data, threading.Event()
        self.sent = 0

    def run(self):
        for byte in self.data:
            try:
                self.sock.send(bytes([byte]))
            except OSError:
                return
            self.sent += 1
            if self.stop.wait(1.0):
                return


def answer_normal_clients(ports):
    checks = [("management", ports["HttpPort"], "/KORVA/packageList", {200}),
              ("download", ports["HttpPort2"], "/nothing-bound-here", {404})]
    for label, port, path, codes in checks:
        started = time.monotonic()
        status = http_status(port, path)
        took = time.monotonic() - started
        if status not in codes:
            fail(f"{label} port: status {status} after {took:.1f} s with slow clients open")
        print(f"{label} port answered {status} in {took * 1000:.0f} ms")

    started = time.monotonic()
    terminal = subprocess.run(
        [TERMINAL, "--port", str(ports["TcpPort"]), "--sn", "SLOW1", "--expect", "none",
         "--timeout", str(int(PROMPT_S * 1000))],
        capture_output=True, text=True, timeout=30)
    took = time.monotonic() - started
    if terminal.returncode != 0:
        fail(f"terminal report not answered ({took:.1f} s): {terminal.stdout}{terminal.stderr}")
    print(f"terminal report answered in {took * 1000:.0f} ms")


def main():
    tmp = tempfile.mkdtemp()
    service = None
    sockets, tricklers = [], []
    try:
        shutil.copy2(EXE, os.path.join(tmp, "wayfarer"))
        ports = {"TcpPort": free_port(), "HttpPort": free_port(), "HttpPort2": free_port()}
        # The terminal port admits MaxConnCount connections (50 by default), silent ones
        # included: room for the slow ones and the real terminal.
        with open(os.path.join(tmp, "config.ini"), "w") as config:
            config.write("[LocalParam]\n" + "".join(f"{k}={v}\n" for k, v in ports.items()) +
                         f"MaxConnCount={PER_PORT + 10}\nOperatorLogin=0\n")
        log = open(os.path.join(tmp, "out.txt"), "wb")
        service = subprocess.Popen([os.path.join(tmp, "wayfarer")], cwd=tmp, stdout=log,
                                   stderr=subprocess.STDOUT)
        if not wait_for(lambda: http_status(ports["HttpPort"], "/KORVA/packageList", 1) == 200,
                        20):
            fail("the service did not start")
        # The terminal port is the last listener start-up opens.
        if not wait_for(lambda: port_open(ports["TcpPort"]), 20):
            fail("the terminal port did not open")

        http_headers = b"GET /KORVA/packageList HTTP/1.1\r\nHost: x\r\nX-Slow: " + b"a" * 200
        tcp_bytes = bytes(range(1, 200))  # a packet header that never completes
        for name, port in ports.items():
            for i in range(PER_PORT):
                sock = socket.create_connection(("127.0.0.1", port), timeout=5)
                sockets.append((name, sock))
                if i % 2:
                    trickler = Trickler(sock, tcp_bytes if name == "TcpPort" else http_headers)
                    tricklers.append(trickler)
                    trickler.start()

        # Once right away, once after the slow ones have trickled a few bytes more.
        for round_number in (1, 2):
            if round_number == 2 and not wait_for(
                    lambda: all(t.sent >= 3 for t in tricklers), 10):
                fail("the trickling clients could not send")
            answer_normal_clients(ports)
        if service.poll() is not None:
            fail(f"the service ended with {service.returncode}")
        # The slow clients are still connected: nothing closed them early.
        open_count = {}
        for name, sock in sockets:
            sock.setblocking(False)
            try:
                closed = sock.recv(1, socket.MSG_PEEK) == b""
            except BlockingIOError:
                closed = False
            except OSError:
                closed = True
            open_count[name] = open_count.get(name, 0) + (0 if closed else 1)
        print("slow connections still open per port:", open_count)
        if open_count.get("TcpPort", 0) != PER_PORT:
            fail("the terminal port dropped silent connections before its time-out")
        print("PASS: slow and silent clients do not block others")
    finally:
        for trickler in tricklers:
            trickler.stop.set()
        for _, sock in sockets:
            sock.close()
        if service:
            service.kill()
            service.wait()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
