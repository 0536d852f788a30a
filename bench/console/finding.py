#!/usr/bin/env python3
"""What finding costs on a large fleet: the upgrade history by a part of the serial number, by
type, package, state and start time, and the audit trail by time, against the real service with
N terminals, three upgrade attempts each, and N audit rows; p50 and p99 over a connection each.
Usage: finding.py <wayfarer> [terminals=100000] [rounds=30]"""
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
from wfservice import Service, median_p99, timed_requests  # noqa: E402

QUERIES = [
    ("newest page, no filter", "/KORVA/v2/upgrades"),
    ("part of a serial, a few matches", "/KORVA/v2/upgrades?devSNContains=12345"),
    ("part of a serial, one match in three", "/KORVA/v2/upgrades?devSNContains=9"),
    ("part of a serial, nearly every row", "/KORVA/v2/upgrades?devSNContains=SN0"),
    ("one type of seven", "/KORVA/v2/upgrades?devType=T3"),
    ("type, package and state", "/KORVA/v2/upgrades?devType=T3&packageId=2&state=completed"),
    ("one start-time range", "/KORVA/v2/upgrades?from=1701000000&to=1701100000"),
    ("audit trail, one time range", "/KORVA/v2/audit?from=1700050000&to=1700050100"),
]


def seed(service, count):
    db = service.db()
    db.executemany("insert into Tab_DeviceInfo(devSN,devType,LicensePlateNumber) values(?,?,?)",
                   (("SN%06d" % i, "T%d" % (i % 7), "京A%05d" % i) for i in range(1, count + 1)))
    db.executemany("insert into Tab_UpgradeAttempt(devSN,devType,packageId,packageName,startedAt,"
                   "completedAt,isCurrent) values(?,?,?,'p.bin',?,?,?)",
                   (("SN%06d" % (i % count + 1), "T%d" % ((i % count + 1) % 7), 1 + i % 5,
                     1700000000 + i * 10, 1700000005 + i * 10 if i % 2 else 0, int(i >= 2 * count))
                    for i in range(1, 3 * count + 1)))
    db.executemany("insert into Tab_AuditLog(at,account,address,route,action,summary) "
                   "values(?,'a','','','login','')", ((1700000000000 + i * 1000,) for i in range(count)))
    db.commit()
    db.close()


def main():
    args = sys.argv[1:] + [None] * 2
    exe, count, rounds = args[0], int(args[1] or 100000), int(args[2] or 30)
    service = Service(exe, 50)
    try:
        seed(service, count)
        print("load average %.2f; %d terminals, %d attempts, %d audit rows; milliseconds"
              % (os.getloadavg()[0], count, 3 * count, count))
        for name, route in QUERIES:
            times, body = timed_requests(service.http, "GET", route, rounds + 3)
            print("| %s | %d | %.1f / %.1f |" % (name, json.loads(body)["total"],
                                                 *median_p99(times[3:])))
        print("load average %.2f" % os.getloadavg()[0])
    finally:
        service.stop()


main()
