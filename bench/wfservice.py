"""The real wayfarer in an application directory of its own, for the benchmark drivers."""
import http.client
import os
import resource
import shutil
import socket
import sqlite3
import subprocess
import tempfile
import time


def free_port():
    # Free on every address: the service binds 0.0.0.0, and other loopback addresses
    # (127.0.0.2, ...) may hold a port that 127.0.0.1 does not.
    with socket.socket() as s:
        s.bind(("0.0.0.0", 0))
        return s.getsockname()[1]


def timed_requests(port, method, route, count, body=None, headers=None):
    """count requests on a connection each, every one answered 200: the milliseconds of each in
    their order, and the last answer's body."""
    times = []
    for _ in range(count):
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        start = time.perf_counter()
        connection.request(method, route, body, headers or {})
        reply = connection.getresponse()
        data = reply.read()
        times.append((time.perf_counter() - start) * 1000)
        connection.close()
        assert reply.status == 200, data[:200]
    return times, data


def median_p99(times):
    ordered = sorted(times)
    return ordered[len(ordered) // 2], ordered[int(len(ordered) * 0.99) - 1]


def raise_fd_limit():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, min(hard, 65536)), hard))


def fd_limit(count):
    """A pre-exec function that gives the service `count` descriptors at most."""
    def apply():
        # The hard limit too: the service raises its soft limit to the hard one at start.
        resource.setrlimit(resource.RLIMIT_NOFILE, (count, count))
    return apply


class Service:
    """Started on free ports with MaxConnCount max_conn; ready once its terminal port accepts
    and WFS.db exists. Without workdir it makes a temporary one and removes it at stop()."""

    def __init__(self, exe, max_conn, workdir=None, params=None, nofile=None):
        self.owns_dir = workdir is None
        self.dir = workdir or tempfile.mkdtemp(prefix="wf-bench-")
        self.tcp, self.http, self.http2 = free_port(), free_port(), free_port()
        shutil.copy(exe, os.path.join(self.dir, "wayfarer"))
        with open(os.path.join(self.dir, "config.ini"), "w") as f:
            f.write("[LocalParam]\nTcpPort=%d\nHttpPort=%d\nHttpPort2=%d\nNetIP=127.0.0.1\n"
                    "MaxConnCount=%d\nOperatorLogin=0\n" % (self.tcp, self.http, self.http2, max_conn))
            # A synthetic fleet registers thousands of serial numbers within seconds from one
            # address; the registration limits are off unless a scenario sets them.
            keys = {"RegistrationsPerMinutePerAddress": 0, "RegistrationsPerMinute": 0}
            keys.update(params or {})
            for key, value in keys.items():
                f.write("%s=%s\n" % (key, value))
        # Output to a file, never a pipe nobody reads: a full pipe would stall the service.
        self.log = open(os.path.join(self.dir, "stdout.txt"), "wb")
        self.proc = subprocess.Popen([os.path.join(self.dir, "wayfarer")], cwd=self.dir,
                                     stdout=self.log, stderr=subprocess.STDOUT,
                                     preexec_fn=fd_limit(nofile) if nofile else raise_fd_limit)
        deadline = time.time() + 20
        while time.time() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.tcp), 0.2).close()
                break
            except OSError:
                time.sleep(0.05)
        else:
            self.stop()
            raise RuntimeError("service did not start")
        while time.time() < deadline and not os.path.exists(self.db_path()):
            time.sleep(0.05)

    def db_path(self):
        return os.path.join(self.dir, "WFS.db")

    def db(self):
        return sqlite3.connect(self.db_path(), timeout=30)

    def status_kib(self, key):
        """A /proc/<pid>/status figure in KiB (VmHWM, VmRSS), -1 when missing."""
        with open("/proc/%d/status" % self.proc.pid) as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
        return -1

    def stop(self):
        self.proc.kill()
        self.proc.wait()
        self.log.close()
        if self.owns_dir:
            shutil.rmtree(self.dir, ignore_errors=True)
