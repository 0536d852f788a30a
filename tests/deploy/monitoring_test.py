#!/usr/bin/env python3
"""The shipped alert rules and dashboard against the real service: promtool accepts the rules
(when it is installed), the dashboard is valid JSON, and every wayfarer_* metric either names is
one the service declares on /metrics, with the type its use needs."""
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))
from ports import free_port  # noqa: E402

SOURCE = pathlib.Path(os.environ.get("WAYFARER_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
RULES = SOURCE / "deploy/prometheus/wayfarer-rules.yml"
DASHBOARD = SOURCE / "deploy/grafana/wayfarer-dashboard.json"
# Families the rules may name that no scrape of a fresh service declares.
OPTIONAL = set()


def declared_families(exe, tmp):
    http = free_port()
    shutil.copy(exe, tmp / "wayfarer")
    (tmp / "config.ini").write_text(f"[LocalParam]\nTcpPort={free_port()}\nHttpPort={http}\n"
                                    f"HttpPort2={free_port()}\nOperatorLogin=0\n")
    service = subprocess.Popen([str(tmp / "wayfarer")], cwd=tmp, stdout=subprocess.DEVNULL,
                               stderr=subprocess.STDOUT)
    try:
        deadline = time.monotonic() + 30
        while True:
            try:
                with urllib.request.urlopen(f"http://127.0.0.1:{http}/metrics", timeout=5) as reply:
                    text = reply.read().decode()
                    break
            except OSError:
                if time.monotonic() > deadline or service.poll() is not None:
                    sys.exit("FAIL: the service's /metrics did not answer")
                time.sleep(0.1)
    finally:
        service.kill()
        service.wait()
    return dict(re.findall(r"^# TYPE (\S+) (\S+)$", text, re.M))


def main():
    failures = []
    promtool = shutil.which("promtool")
    if promtool:
        check = subprocess.run([promtool, "check", "rules", str(RULES)], capture_output=True, text=True)
        if check.returncode != 0:
            failures.append("promtool check rules: " + check.stdout + check.stderr)
    else:
        print("promtool is not installed: the rules' syntax is not checked")
    dashboard = json.loads(DASHBOARD.read_text())
    expressions = [t["expr"] for p in dashboard["panels"] for t in p["targets"]]
    used = set(re.findall(r"wayfarer_[a-z_]+", RULES.read_text() + "\n".join(expressions)))

    with tempfile.TemporaryDirectory(prefix="wayfarer-monitoring.") as tmp:
        families = declared_families(os.environ["WAYFARER_EXE"], pathlib.Path(tmp))
    for name in sorted(used):
        base, suffix = re.match(r"(.*?)(_bucket|_sum|_count)?$", name).groups()
        kind = families.get(name) or (suffix and families.get(base) == "histogram" and "histogram")
        if not kind and name not in OPTIONAL:
            failures.append(f"{name} is not declared by the service")
        elif name.endswith("_total") and kind and kind != "counter":
            failures.append(f"{name} is a {kind}, used as a counter")
    if failures:
        print("FAIL:\n" + "\n".join(failures))
        return 1
    print(f"PASS: {len(used)} metrics of the rules and the dashboard declared by the service")
    return 0


if __name__ == "__main__":
    sys.exit(main())
