#!/usr/bin/env python3
"""Attacks on the logins and API tokens of the real wayfarer (logins on), one scenario a run.

  token        an admin makes an admin token, that token mints another; the admin is demoted,
               then removed. Prints what each token is answered at each step on an admin route,
               a viewer route and token minting.
  login-burst  CLIENTS clients send logins for unknown names for SECONDS, each from a fresh
               loopback address every time (no throttle applies), while a viewer token asks
               GET /KORVA/v2/status every 50 ms. Prints that probe's latency before and during
               the burst, and how the logins were answered.
Traffic goes to 127.0.0.0/8 only; every scenario ends by itself.
"""
import argparse
import itertools
import json
import os
import socket
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from wfservice import Service  # noqa: E402


def call(port, method, target, headers=None, body=None, source="127.0.0.1"):
    """One request on its own connection: (status, headers dict, body bytes)."""
    payload = json.dumps(body).encode() if body is not None else b""
    head = "%s %s HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: %d\r\n" % (
        method, target, len(payload))
    if body is not None:
        head += "Content-Type: application/json\r\n"
    for name, value in (headers or {}).items():
        head += "%s: %s\r\n" % (name, value)
    with socket.create_connection(("127.0.0.1", port), timeout=30,
                                  source_address=(source, 0)) as s:
        s.sendall(head.encode() + b"\r\n" + payload)
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    top, _, rest = data.partition(b"\r\n\r\n")
    lines = top.decode("latin-1").split("\r\n")
    fields = dict((k.strip().lower(), v.strip()) for k, _, v in
                  (line.partition(":") for line in lines[1:]))
    return int(lines[0].split()[1]), fields, rest


def session(port, name, password):
    status, fields, body = call(port, "POST", "/KORVA/v2/auth/login",
                                body={"name": name, "password": password})
    if status != 200:
        raise RuntimeError("login %s: %d %s" % (name, status, body[:200]))
    cookie = fields["set-cookie"].split(";")[0]
    return {"Cookie": cookie, "X-CSRF-Token": json.loads(body)["csrfToken"]}


def own_session(port, name, handed, chosen):
    """Logs in with the handed-over password and sets the chosen one, as the first login asks."""
    headers = session(port, name, handed)
    status, _, body = call(port, "POST", "/KORVA/v2/auth/password", headers,
                           {"currentPassword": handed, "newPassword": chosen})
    if status != 200:
        raise RuntimeError("password change %s: %d %s" % (name, status, body[:200]))
    return headers


def start(exe):
    service = Service(exe, 50, params={"OperatorLogin": 1})
    with open(os.path.join(service.dir, "initial-admin-password")) as f:
        first = f.read().strip()
    return service, own_session(service.http, "admin", first, "admin-bench-secret")


def make_token(port, headers, name, role):
    status, _, body = call(port, "POST", "/KORVA/v2/tokens", headers,
                           {"name": name, "role": role, "expiresInDays": 1})
    return "Bearer " + json.loads(body)["token"] if status == 201 else None


def token(service, admin, args):
    port = service.http
    call(port, "POST", "/KORVA/v2/accounts", admin,
         {"name": "admin2", "role": "admin", "password": "handed-over"})
    second = own_session(port, "admin2", "handed-over", "admin2-bench-secret")
    made = make_token(port, second, "by-admin2", "admin")
    minted = make_token(port, {"Authorization": made}, "by-token", "admin")
    steps = [("admin2 is admin", None),
             ("admin2 demoted to viewer",
              ("PUT", "/KORVA/v2/accounts/admin2", {"role": "viewer"})),
             ("admin2 removed", ("DELETE", "/KORVA/v2/accounts/admin2", None))]
    refused = True
    for n, (label, change) in enumerate(steps):
        if change:
            call(port, change[0], change[1], admin, change[2])
        for which, bearer in (("made by admin2", made), ("minted by that token", minted)):
            auth = {"Authorization": bearer}
            accounts = call(port, "GET", "/KORVA/v2/accounts", auth)[0]
            status = call(port, "GET", "/KORVA/v2/status", auth)[0]
            mint = call(port, "POST", "/KORVA/v2/tokens", auth,
                        {"name": "again-%d-%d" % (n, len(which)), "role": "admin"})[0]
            print("%-26s token %-22s accounts %d  status %d  mint admin token %d"
                  % (label, which, accounts, status, mint))
            if n > 0 and (accounts == 200 or mint == 201):
                refused = False
            if n == 2 and status != 401:
                refused = False
    print("demoted/removed admin's tokens refused: %s" % ("yes" if refused else "NO"))


class Prober(threading.Thread):
    """GET /KORVA/v2/status with a viewer token every 50 ms; latencies in ms, by phase."""

    def __init__(self, port, bearer):
        super().__init__(daemon=True)
        self.port, self.auth, self.stop = port, {"Authorization": bearer}, threading.Event()
        self.phase, self.latencies = "idle", {"idle": [], "burst": []}

    def run(self):
        while not self.stop.is_set():
            started = time.monotonic()
            status = call(self.port, "GET", "/KORVA/v2/status", self.auth)[0]
            if status == 200:
                self.latencies[self.phase].append(1000 * (time.monotonic() - started))
            self.stop.wait(0.05)


def figures(values):
    if not values:
        return "none served"
    ordered = sorted(values)
    return "n %d, median %.1f ms, p95 %.1f ms, max %.1f ms" % (
        len(ordered), statistics.median(ordered), ordered[int(0.95 * (len(ordered) - 1))],
        ordered[-1])


def login_burst(service, admin, args):
    port = service.http
    prober = Prober(port, make_token(port, admin, "probe", "viewer"))
    prober.start()
    time.sleep(args.idle)
    prober.phase = "burst"
    addresses = ("127.%d.%d.%d" % (a, b, c) for a, b, c in
                 itertools.product(range(1, 255), range(0, 256), range(1, 255)))
    lock, answers, stop = threading.Lock(), {}, time.monotonic() + args.seconds

    def client(n):
        k = 0
        while time.monotonic() < stop:
            with lock:
                source = next(addresses)
            status = call(port, "POST", "/KORVA/v2/auth/login",
                          body={"name": "nobody-%d-%d" % (n, k), "password": "guess-guess"},
                          source=source)[0]
            k += 1
            with lock:
                answers[status] = answers.get(status, 0) + 1

    clients = [threading.Thread(target=client, args=(n,)) for n in range(args.clients)]
    for c in clients:
        c.start()
    for c in clients:
        c.join()
    prober.stop.set()
    prober.join()
    print("logins answered: %s" % ", ".join("%d x %d" % (v, k) for k, v in sorted(answers.items())))
    print("status probe idle : %s" % figures(prober.latencies["idle"]))
    print("status probe burst: %s" % figures(prober.latencies["burst"]))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("exe")
    parser.add_argument("scenario", choices=["token", "login-burst"])
    parser.add_argument("--clients", type=int, default=4)
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--idle", type=float, default=3, help="probe alone first, seconds")
    args = parser.parse_args()
    service, admin = start(args.exe)
    try:
        {"token": token, "login-burst": login_burst}[args.scenario](service, admin, args)
    finally:
        service.stop()


if __name__ == "__main__":
    main()
