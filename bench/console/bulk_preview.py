#!/usr/bin/env python3
"""What the previews cost on a large fleet: POST /KORVA/v2/devices/bulk/preview and the rollout
plan preview of type T00 against the real service with N terminals of `types` types (half of
them with a package, 60 % connected, a third of each type on its package's version), p50 and
p99 over a connection each.
Usage: bulk_preview.py <wayfarer> [terminals=100000] [rounds=50] [types=20]"""
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
from wfservice import Service, median_p99, timed_requests  # noqa: E402

BODIES = {
    "forced upgrade of every terminal": {"filter": {}, "set": {"isAutoUpdate": True}},
    "one type": {"filter": {"devType": "T03"}, "set": {"isAutoUpdate": True}},
    "connected terminals": {"filter": {"online": "true"}},
    "5000 ticked serial numbers": {"filter": {}, "serials": ["SN%07d" % i for i in range(0, 100000, 20)]},
}


PLAN = {"stages": [{"serials": ["SN%07d" % i for i in range(10)]}, {"percent": 1}, {"percent": 10}, {"percent": 100}],
        "pauseAtFailures": 3}


def seed(service, count, types):
    db = service.db()
    db.executemany("insert into Tab_DeviceInfo(devSN,devId,devType,AppVersion) values(?,?,?,?)",
                   (("SN%07d" % i, "ID%07d" % i, "T%02d" % (i % types), "V%d" % (i % 3)) for i in range(count)))
    db.executemany("insert into Tab_DevicePresence(devSN,instance,connectedSince,lastReport) values(?,'b',1,1)",
                   (("SN%07d" % i,) for i in range(count) if i % 5 < 3))
    db.executemany("insert into Tab_Package(packageName,AppVersion,packagePath,size,deviceType) values(?,?,?,1,?)",
                   (("p%02d.bin" % t, "V0", "/nonexistent/p%02d.bin" % t, "T%02d" % t) for t in range((types + 1) // 2)))
    db.commit()
    package = db.execute("select id from Tab_Package where deviceType='T00'").fetchone()[0]
    db.close()
    return package


def main():
    args = sys.argv[1:] + [None] * 3
    exe, count, rounds, types = args[0], int(args[1] or 100000), int(args[2] or 50), int(args[3] or 20)
    service = Service(exe, 50)
    try:
        package = seed(service, count, types)
        routes = [(name, "/KORVA/v2/devices/bulk/preview", body) for name, body in BODIES.items()]
        routes.append(("plan of 4 stages over type T00", "/KORVA/v2/packages/%d/plan/preview" % package, PLAN))
        print("load average %.2f; %d terminals, %d rounds each, milliseconds" % (os.getloadavg()[0], count, rounds))
        for name, route, body in routes:
            times, reply = timed_requests(service.http, "POST", route, rounds + 3, json.dumps(body),
                                          {"Content-Type": "application/json"})
            answer = json.loads(reply)
            print("| %s | %d | %.1f / %.1f |" % (name, answer.get("matched", answer.get("terminals")),
                                                 *median_p99(times[3:])))
        print("load average %.2f" % os.getloadavg()[0])
    finally:
        service.stop()


main()
