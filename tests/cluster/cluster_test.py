#!/usr/bin/env python3
"""Two instances behind HAProxy (deploy/haproxy/wayfarer.cfg) on one PostgreSQL database and one
package directory. Simulated terminals upgrade through HAProxy with resumed downloads; one
instance is killed with SIGKILL in the middle and its terminals finish on the other; both
consoles show every terminal, its progress and its history; after the restart nothing is lost
or duplicated. Then an instance is drained (SIGTERM with DrainSeconds) while a download runs,
the terminals are spread again, and a reload adds an instance. Exit code 77: skipped (haproxy or postgresql missing)."""
import json
import os
import pathlib
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request
from http.client import HTTPConnection

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))
from ports import free_port  # noqa: E402

SKIP = 77
TERMINALS = 24
PACKAGE_SIZE = 2 * 1024 * 1024
BREAK_AT = 700_000
# Each terminal repeats its first progress step this long after its upgrade answer, so the
# kill falls while no terminal has reported 100 yet.
LOOP_MS = 8000
DRAIN_SECONDS = 10
DRAINED = 16  # terminals of the drain

SOURCE = pathlib.Path(os.environ.get("WAYFARER_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
EXE = os.environ.get("WAYFARER_EXE")
TERMINAL = os.environ.get("WAYFARER_TERMINAL")


LOGS = []  # files whose tails explain a failure

PG_SCRIPT = str(SOURCE / "tests/support/pg_cluster.sh")


def postgres(prefix):
    """A throwaway PostgreSQL cluster in a new temporary directory: (tmp, state file, its
    settings), or None, said, when the server is not installed."""
    tmp = pathlib.Path(tempfile.mkdtemp(prefix=prefix))
    state = tmp / "pg.env"
    subprocess.run([PG_SCRIPT, "start", str(state)], check=True)
    pg = {k: v.strip("'") for k, v in (l.split("=", 1) for l in state.read_text().splitlines())}
    if "PG_MISSING" in pg:
        print("SKIP: " + pg["PG_MISSING"])
        shutil.rmtree(tmp)
        return None
    return tmp, state, pg


def fail(message):
    for log in LOGS:
        if log.exists():
            print(f"--- {log.name}:\n" + "\n".join(log.read_text(errors="replace").splitlines()[-15:]))
    print("FAIL: " + message, flush=True)
    sys.exit(1)


def wait_for(what, predicate, seconds):
    deadline = time.monotonic() + seconds
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            fail("timed out waiting for " + what)
        time.sleep(0.1)


def http(port, path, method="GET", body=None, headers=None):
    request = urllib.request.Request(f"http://127.0.0.1:{port}{path}", data=body, method=method,
                                     headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=10) as reply:
            return reply.status, reply.read()
    except urllib.error.HTTPError as error:
        return error.code, error.read()
    except OSError:
        return 0, b""


def accepts(port, host="127.0.0.1"):
    try:
        socket.create_connection((host, port), timeout=1).close()
        return True
    except OSError:
        return False


class Cluster:
    def __init__(self, tmp, pg):
        self.tmp = tmp
        self.pg = pg
        self.processes = []
        self.fronts = {"terminal": free_port(), "download": free_port(),
                       "management": free_port()}
        shared = tmp / "shared"
        self.instances = {}
        for name in ("a", "b"):
            ports = {"tcp": free_port(), "http": free_port(), "download": free_port()}
            directory = tmp / name
            directory.mkdir()
            shutil.copy(EXE, directory / "wayfarer")
            (directory / "db-password").write_text("unused\n")
            (directory / "config.ini").write_text(f"""[LocalParam]
InstanceName={name}
TcpPort={ports['tcp']}
HttpPort={ports['http']}
HttpPort2={ports['download']}
NetIP=127.0.0.1
NetHttpPort2={self.fronts['download']}
TcpProxyProtocol=1
TcpListenAddress=127.0.0.1
HttpListenAddress=127.0.0.1
HttpListenAddress2=127.0.0.1
HttpProxyTrusted=127.0.0.1
DrainSeconds={DRAIN_SECONDS}
OperatorLogin=0
PackageStore={shared}/packages
DeviceFileStore={shared}/files
DbDriver=postgresql
DbHost={pg['PG_DIR']}
DbPort={pg['PG_PORT']}
DbName={pg['PG_DB']}
DbUser={pg['PG_USER']}
DbPasswordFile={directory}/db-password
""")
            self.instances[name] = {"dir": directory, "ports": ports, "process": None}

    def start_instance(self, name):
        instance = self.instances[name]
        LOGS.append(instance["dir"] / "out.txt")
        log = open(instance["dir"] / "out.txt", "ab")
        instance["process"] = subprocess.Popen([str(instance["dir"] / "wayfarer")],
                                               cwd=instance["dir"], stdout=log,
                                               stderr=subprocess.STDOUT)
        self.processes.append(instance["process"])
        ports = instance["ports"]
        wait_for(f"instance {name} to answer",
                 lambda: http(ports["http"], "/test")[0] == 200 and accepts(ports["tcp"]) and
                 http(ports["download"], "/test")[0] == 200, 30)

    def kill_instance(self, name):
        process = self.instances[name]["process"]
        process.send_signal(signal.SIGKILL)
        process.wait()

    def start_haproxy(self):
        self.stats = self.tmp / "haproxy.sock"
        environment = dict(os.environ)
        environment.update({
            "WF_TERMINAL_BIND": f"127.0.0.1:{self.fronts['terminal']}",
            "WF_DOWNLOAD_BIND": f"127.0.0.1:{self.fronts['download']}",
            "WF_MANAGEMENT_BIND": f"127.0.0.1:{self.fronts['management']}",
            "WF_ADMIN_SOCKET": str(self.stats),
            "WF_CHECK_INTER": "300ms",
            "WF_MAXCONN": "2000",
        })
        # The shipped configuration with the instances' server lines at this run's ports.
        config = (SOURCE / "deploy/haproxy/wayfarer.cfg").read_text()
        for prefix, name in (("11", "a"), ("12", "b")):
            ports = self.instances[name]["ports"]
            for shipped, port in (("022", "tcp"), ("001", "download"), ("080", "http")):
                config = config.replace(f"127.0.0.1:{prefix}{shipped}", f"127.0.0.1:{ports[port]}")
            config = config.replace(f"check port {prefix}080", f"check port {ports['http']}")
        (self.tmp / "haproxy.cfg").write_text(config)
        self.haproxy_log = self.tmp / "haproxy.log"
        LOGS.append(self.haproxy_log)
        self.haproxy = subprocess.Popen(
            ["haproxy", "-W", "-db", "-f", str(self.tmp / "haproxy.cfg")],
            env=environment, stdout=open(self.haproxy_log, "wb"), stderr=subprocess.STDOUT)
        self.processes.append(self.haproxy)

    def servers_up(self, name):
        """Whether every backend has server `name` up in HAProxy's own view."""
        try:
            with socket.socket(socket.AF_UNIX) as s:
                s.connect(str(self.stats))
                s.sendall(b"show stat\n")
                data = b""
                while chunk := s.recv(65536):
                    data += chunk
        except OSError:
            return False
        states = [line.split(",") for line in data.decode().splitlines() if line and line[0] != "#"]
        mine = [row for row in states if row[1] == name]
        return len(mine) == 3 and all(row[17] == "UP" for row in mine)

    def balance(self, *args):
        return subprocess.run([sys.executable, str(SOURCE / "deploy/haproxy/wf-balance"),
                               "--socket", str(self.stats), *args], check=True,
                              capture_output=True, text=True).stdout

    def psql(self, statement):
        result = subprocess.run(
            [f"{self.pg['PG_BIN']}/psql", "-h", self.pg["PG_DIR"], "-p", self.pg["PG_PORT"], "-U",
             self.pg["PG_USER"], "-d", self.pg["PG_DB"], "-At", "-F", "|", "-c", statement],
            capture_output=True, text=True, check=True)
        return [line.split("|") for line in result.stdout.splitlines()]

    def scalar(self, statement):
        return int(self.psql(statement)[0][0])

    def stop(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait()


def upload_package(cluster, kind="T1", size=PACKAGE_SIZE):
    body = os.urandom(size)
    status, reply = http(cluster.fronts["management"],
                         f"/KORVA/uploadFile?name=fw.bin&app=V5.3.1%20build220711&type={kind}"
                         f"&blockIndex=0&blockSize=1&totalLength={size}&uploadTime=20260101",
                         "POST", body, {"Content-Type": "application/octet-stream"})
    if status != 200:
        fail(f"upload answered {status}: {reply[:200]!r}")
    return body


def split_download(cluster, body):
    """The package begun on instance a and finished on instance b, as a terminal whose
    download is resumed elsewhere gets it."""
    path = "/KORVA/dlPackage/T1/20260101_fw.bin"
    status, head = http(cluster.instances["a"]["ports"]["download"], path,
                        headers={"Range": f"bytes=0-{BREAK_AT - 1}"})
    status2, tail = http(cluster.instances["b"]["ports"]["download"], path,
                         headers={"Range": f"bytes={BREAK_AT}-"})
    if (status, status2) != (206, 206) or head + tail != body:
        fail(f"a download begun on a and resumed on b: {status}, {status2}, "
             f"{len(head)} + {len(tail)} bytes")


def forwarded_address(cluster):
    """An operator's change through HAProxy is audited under the operator's own address: the one
    HAProxy forwards, not one the client claims itself."""
    connection = HTTPConnection("127.0.0.1", cluster.fronts["management"], 10, ("127.0.0.2", 0))
    connection.request("PUT", "/KORVA/stopUpload", headers={"X-Forwarded-For": "203.0.113.5"})
    status = connection.getresponse().status
    address = cluster.psql("select address from Tab_AuditLog where action='forced_upgrade_clear'")
    if status != 200 or address != [["127.0.0.2"]]:
        fail(f"a change through HAProxy answered {status}, audited from {address}")


def presence(cluster, prefix):
    """Where the terminals of that serial number prefix are connected: instance -> count."""
    return dict((row[0], int(row[1])) for row in cluster.psql(
        f"select instance, count(*) from Tab_DevicePresence where devSN like '{prefix}%' "
        "group by instance"))


def drain_and_rebalance(cluster, tmp):
    """SIGTERM on an instance HAProxy no longer sends to: its terminals leave a few at a time and
    reconnect to the other, a download under way finishes, then it ends. Restarted, it gets half
    of the terminals back by a rebalance."""
    # Larger than the kernel buffers for a reader that waits (4 MiB at most).
    package = upload_package(cluster, "T9", 8 * 1024 * 1024)
    LOGS.append(tmp / "drained.txt")
    # Reporting progress all along, so that a closed connection is reconnected.
    terminals = subprocess.Popen(
        [TERMINAL, "--host", "127.0.0.1", "--port", str(cluster.fronts["terminal"]),
         "--count", str(DRAINED), "--sn", "DR", "--type", "T9", "--app", "V5.3.0 build220711",
         "--expect", "upgrade", "--no-download", "--loop-progress", "600000",
         "--reconnect", "5", "--timeout", "30000"],
        stdout=open(tmp / "drained.txt", "wb"), stderr=subprocess.STDOUT)
    cluster.processes.append(terminals)
    wait_for("the drained terminals on both instances", lambda: len(presence(cluster, "DR")) == 2
             and sum(presence(cluster, "DR").values()) == DRAINED, 30)
    on_a = presence(cluster, "DR")["a"]

    # A download from instance a that its reader holds open.
    download = socket.socket()
    download.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    download.connect(("127.0.0.1", cluster.instances["a"]["ports"]["download"]))
    download.sendall(b"GET /KORVA/dlPackage/T9/20260101_fw.bin HTTP/1.1\r\nHost: a\r\n\r\n")
    received = download.recv(4096)

    cluster.balance("drain", "a")
    process = cluster.instances["a"]["process"]
    process.send_signal(signal.SIGTERM)
    seen = set()  # the counts on a while they leave

    def moved():
        where = presence(cluster, "DR")
        seen.add(where.get("a", 0))
        return where == {"b": DRAINED}
    wait_for("the terminals to leave the drained instance", moved, DRAIN_SECONDS)
    if process.poll() is not None:
        fail("the drained instance ended before its download did")
    if not seen & set(range(1, on_a)):
        fail(f"the drained instance's {on_a} terminals left at once: {sorted(seen)}")
    download.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
    while chunk := download.recv(65536):
        received += chunk
    if not received.endswith(package) or b" 200 " not in received.split(b"\r\n", 1)[0]:
        fail(f"the download under the drain: {received[:100]!r}, {len(received)} bytes")
    process.wait(timeout=DRAIN_SECONDS)
    if "[stop] drained" not in (cluster.instances["a"]["dir"] / "out.txt").read_text():
        fail("the drained instance did not end as soon as it was drained")

    cluster.start_instance("a")
    cluster.balance("ready", "a")
    wait_for("HAProxy to take instance a again", lambda: cluster.servers_up("a"), 30)
    cluster.balance("rebalance", "--over", "1")
    wait_for("the terminals spread again", lambda: presence(cluster, "DR") ==
             {"a": DRAINED // 2, "b": DRAINED // 2}, 30)
    terminals.terminate()
    terminals.wait()


def reload_adds_instance(cluster):
    """A server line added to the configuration is in force after a reload (SIGUSR2 to the
    master, as systemctl reload sends it)."""
    config = cluster.tmp / "haproxy.cfg"
    added = rf"\1\n    server c 127.0.0.1:{free_port()} check"
    config.write_text(re.sub(r"(\n    server b [^\n]*)", added, config.read_text()))
    cluster.haproxy.send_signal(signal.SIGUSR2)
    wait_for("the reload to add instance c", lambda: cluster.servers_up("a") and
             cluster.balance("status").count(" c ") == 3, 30)


def console(port):
    """What an operator sees on one instance: the legacy progress list, every device with its
    presence, the upgrade history."""
    views = {}
    for key, path in (("progress", "/KORVA/getProgress"),
                      ("uploadStatus", "/KORVA/deviceList?uploadStatus=1"),
                      ("devices", "/KORVA/v2/devices?limit=500&sort=devSN"),
                      ("upgrades", "/KORVA/v2/upgrades?limit=500")):
        status, body = http(port, path)
        if status != 200:
            fail(f"{path} on port {port} answered {status}")
        views[key] = json.loads(body)
    return views


def check_console(views, on_b):
    progress = views["progress"]["data"]["progressList"]
    if sorted(p["deviceId"] for p in progress) != sorted(f"CL{i}" for i in range(1, TERMINALS + 1)):
        fail(f"legacy progress list: {progress}")
    if any(p["progress"] != 100 for p in progress) or views["progress"]["statusCode"] != 1:
        fail(f"legacy progress list not at 100: {views['progress']}")
    if len(views["uploadStatus"]["data"]["deviceInfo"]) != TERMINALS:
        fail("uploadStatus list: " + json.dumps(views["uploadStatus"])[:300])
    devices = views["devices"]
    if devices["total"] != TERMINALS:
        fail(f"v2 devices total {devices['total']}")
    for device in devices["items"]:
        presence = device.get("presence") or {}
        if not device.get("online") or presence.get("instance") not in ("a", "b"):
            fail(f"device without presence on a live instance: {device}")
        if not presence.get("peerAddress", "").startswith("127.0.0.1:"):
            fail(f"presence without the terminal's address: {presence}")
        if presence.get("instance") != "b" and on_b:
            fail(f"presence on the killed instance: {presence}")
    upgrades = views["upgrades"]["items"]
    completed = [u for u in upgrades if u["state"] == "completed"]
    if sorted(u["devSN"] for u in completed) != sorted(f"CL{i}" for i in range(1, TERMINALS + 1)):
        fail("completed upgrades: " + json.dumps(completed)[:500])


def begin(prefix, haproxy=True):
    """A test's PostgreSQL and its instances: (tmp, state, cluster), or None when the test is
    skipped (the reason printed)."""
    if haproxy and not shutil.which("haproxy"):
        print("SKIP: haproxy is not installed: run scripts/install-deps.sh")
        return None
    started = postgres(prefix)
    if not started:
        return None
    tmp, state, pg = started
    return tmp, state, Cluster(tmp, pg)


def end(cluster, state, tmp):
    """Stops what begin() started and removes its files."""
    cluster.stop()
    subprocess.run([PG_SCRIPT, "stop", str(state)])
    shutil.rmtree(tmp, ignore_errors=True)


def main():
    if not EXE or not TERMINAL:
        fail("WAYFARER_EXE and WAYFARER_TERMINAL must name the executables")
    begun = begin("wayfarer-cluster.")
    if not begun:
        return SKIP
    tmp, state, cluster = begun
    terminals = None
    try:
        for name in ("a", "b"):
            cluster.start_instance(name)
        for ports in (instance["ports"] for instance in cluster.instances.values()):
            if any(accepts(port, "127.0.0.2") for port in ports.values()):
                fail(f"an instance's port is open beyond its listen address: {ports}")
        cluster.start_haproxy()
        wait_for("HAProxy to see both instances up",
                 lambda: cluster.servers_up("a") and cluster.servers_up("b"), 30)
        package = upload_package(cluster)
        split_download(cluster, package)

        terminal_log = tmp / "terminals.txt"
        LOGS.append(terminal_log)
        terminals = subprocess.Popen(
            [TERMINAL, "--host", "127.0.0.1", "--port", str(cluster.fronts["terminal"]),
             "--count", str(TERMINALS), "--sn", "CL", "--type", "T1",
             "--app", "V5.3.0 build220711", "--expect", "upgrade", "--break-at", str(BREAK_AT),
             "--loop-progress", str(LOOP_MS), "--reconnect", "5", "--timeout", "30000",
             "--exit-after", "600000"],
            stdout=open(terminal_log, "wb"), stderr=subprocess.STDOUT)
        cluster.processes.append(terminals)

        # Every terminal has been offered the package and reports progress; some on each.
        wait_for("every terminal to report progress", lambda: cluster.scalar(
            "select count(*) from Tab_UpgradeAttempt where isCurrent<>0 and lastProgressAt>0 "
            "and completedAt=0") == TERMINALS, 60)
        on_a = [row[0] for row in cluster.psql(
            "select devSN from Tab_DevicePresence where instance='a' order by devSN")]
        on_b = cluster.scalar("select count(*) from Tab_DevicePresence where instance='b'")
        if not on_a or on_b == 0 or len(on_a) + on_b != TERMINALS:
            fail(f"terminals not spread over both instances: a {on_a}, b {on_b}")
        if cluster.scalar("select count(*) from Tab_UpgradeAttempt where completedAt>0") != 0:
            fail("an upgrade completed before the kill: the loop is too short for this machine")

        cluster.kill_instance("a")
        wait_for("every terminal to complete its upgrade", lambda: cluster.scalar(
            "select count(distinct devSN) from Tab_UpgradeAttempt where completedAt>0")
            == TERMINALS, 120)
        wait_for("every terminal to be present again", lambda: cluster.scalar(
            "select count(*) from Tab_DevicePresence") == TERMINALS, 30)

        # Exactly one completed attempt each; the moved terminals' first one was superseded. A
        # terminal on b starts over too when its download went through the killed instance.
        per_terminal = cluster.psql(
            "select devSN, sum(case when completedAt>0 then 1 else 0 end), count(*) "
            "from Tab_UpgradeAttempt group by devSN order by devSN")
        for sn, completed, attempts in per_terminal:
            expected_attempts = (2,) if sn in on_a else (1, 2)
            if int(completed) != 1 or int(attempts) not in expected_attempts:
                fail(f"{sn}: {completed} completed of {attempts} attempts")
        check_console(console(cluster.fronts["management"]), on_b=True)

        # Through HAProxy downloads went to both instances, and broken ones were resumed.
        log = cluster.haproxy_log.read_text().splitlines()
        for name in ("a", "b"):
            if not any(f"download_instances/{name} " in line for line in log):
                fail(f"no download served by instance {name}")
        if not any("download_instances/" in line and " 206 " in line for line in log):
            fail("no resumed download through HAProxy")

        counts = {table: cluster.scalar(f"select count(*) from {table}") for table in
                  ("Tab_DeviceInfo", "Tab_Package", "Tab_UpgradeAttempt", "Tab_DevicePresence")}
        cluster.start_instance("a")
        wait_for("HAProxy to see instance a again", lambda: cluster.servers_up("a"), 30)
        after = {table: cluster.scalar(f"select count(*) from {table}") for table in counts}
        if after != counts or counts["Tab_DeviceInfo"] != TERMINALS or counts["Tab_Package"] != 1:
            fail(f"rows before the restart {counts}, after {after}")
        instances = {row[0] for row in cluster.psql("select distinct instance from Tab_DevicePresence")}
        if instances != {"b"}:
            fail(f"presence rows on {instances}: only b holds terminals")

        # Both consoles answer alike, and through HAProxy.
        views = {name: console(cluster.instances[name]["ports"]["http"]) for name in ("a", "b")}
        if views["a"] != views["b"]:
            fail("the instances' consoles differ")
        check_console(views["a"], on_b=True)
        history = json.loads(http(cluster.instances["a"]["ports"]["http"],
                                  f"/KORVA/v2/devices/{on_a[0]}")[1])
        states = sorted(u["state"] for u in history["upgrades"])
        if states != ["completed", "superseded"]:
            fail(f"history of {on_a[0]} on the restarted instance: {states}")

        terminals.terminate()
        terminals.wait()
        output = terminal_log.read_text()
        done = output.count(": script done")
        if done != TERMINALS or "FAULT" in output:
            fail(f"{done} terminals finished; faults: "
                 + "; ".join(l for l in output.splitlines() if "FAULT" in l)[:500])
        if output.count("reconnecting") < len(on_a):
            fail("the terminals of the killed instance did not reconnect")
        forwarded_address(cluster)  # a change that needs devices
        drain_and_rebalance(cluster, tmp)
        reload_adds_instance(cluster)
        print(f"PASS: {TERMINALS} terminals upgraded through HAProxy, {len(on_a)} moved from the "
              "killed instance and finished on the other; consoles agree after the restart; "
              "a drain moved its terminals away while a download finished; rebalanced")
        return 0
    finally:
        end(cluster, state, tmp)


if __name__ == "__main__":
    sys.exit(main())
