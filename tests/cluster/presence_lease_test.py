#!/usr/bin/env python3
"""Two instances on one PostgreSQL database, terminals connected straight to each. While both
live, their leases keep every presence row; after a SIGKILL of one, the other clears that
instance's rows once its lease has run out and keeps its own. Exit code 77: skipped."""
import pathlib
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from cluster_test import LOGS, SKIP, TERMINAL, begin, end, fail, wait_for  # noqa: E402

LEASE_SECONDS = 2
ON = {"a": 3, "b": 2}


def main():
    begun = begin("wayfarer-lease.", haproxy=False)
    if not begun:
        return SKIP
    tmp, state, cluster = begun
    try:
        for name, instance in cluster.instances.items():
            config = instance["dir"] / "config.ini"
            # Terminals come straight in, without a balancer's PROXY header.
            config.write_text(config.read_text().replace("TcpProxyProtocol=1", "TcpProxyProtocol=0")
                              + f"InstanceLeaseSeconds={LEASE_SECONDS}\n")
            cluster.start_instance(name)
        for name, count in ON.items():
            log = tmp / f"terminals-{name}.txt"
            LOGS.append(log)
            cluster.processes.append(subprocess.Popen(
                [TERMINAL, "--host", "127.0.0.1", "--port", str(cluster.instances[name]["ports"]["tcp"]),
                 "--count", str(count), "--sn", f"L{name.upper()}", "--type", "T1", "--app", "V1",
                 "--expect", "none", "--exit-after", "600000"],
                stdout=open(log, "wb"), stderr=subprocess.STDOUT))

        def present(name):
            return cluster.scalar(f"select count(*) from Tab_DevicePresence where instance='{name}'")

        wait_for("every terminal to be present", lambda: all(present(n) == c for n, c in ON.items()), 30)
        # Both renew for longer than a lease: neither takes the other for dead.
        first = cluster.scalar("select expiresAt from Tab_InstanceLease where instance='a'")
        wait_for("instance a to renew its lease twice over", lambda: cluster.scalar(
            "select expiresAt from Tab_InstanceLease where instance='a'") >= first + LEASE_SECONDS, 30)
        if present("a") != ON["a"] or present("b") != ON["b"]:
            fail(f"presence cleared while both instances live: a {present('a')}, b {present('b')}")

        cluster.kill_instance("a")
        wait_for("instance b to clear the presence of the killed instance", lambda: present("a") == 0,
                 LEASE_SECONDS * 10)
        if present("b") != ON["b"]:
            fail(f"instance b's own terminals lost their presence: {present('b')}")
        print(f"PASS: the presence of {ON['a']} terminals of the killed instance cleared by the other")
        return 0
    finally:
        end(cluster, state, tmp)


if __name__ == "__main__":
    sys.exit(main())
