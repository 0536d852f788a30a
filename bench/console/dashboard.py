#!/usr/bin/env python3
"""What the dashboard costs on a large fleet: GET /KORVA/v2/dashboard (a week of history) and
one page of a terminal's timeline against the real service with N terminals of 20 types (60 %
connected, three App versions), one upgrade attempt per terminal over the last week, 30 days of
samples every 5 minutes with two rollouts, and 200 events per terminal for 1000 terminals; the
first request, then p50 and p99 over a connection each.
Usage: dashboard.py <wayfarer> [terminals=100000] [rounds=50]"""
import json
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
from wfservice import Service, median_p99, timed_requests  # noqa: E402

PERIOD = 300


def seed(service, count):
    now = int(time.time())
    db = service.db()
    db.executemany("insert into Tab_DeviceInfo(devSN,devId,devType,AppVersion,McuVersion) values(?,?,?,?,?)",
                   (("SN%07d" % i, "ID%07d" % i, "T%02d" % (i % 20), "V%d" % (i % 3), "M%d" % (i % 7))
                    for i in range(count)))
    db.executemany("insert into Tab_DevicePresence(devSN,instance,connectedSince,lastReport) values(?,'b',1,1)",
                   (("SN%07d" % i,) for i in range(count) if i % 5 < 3))
    db.executemany("insert into Tab_UpgradeAttempt(devSN,startedAt,outcome) values(?,?,?)",
                   (("SN%07d" % i, now - i * 7 * 86400 // count, ("succeeded", "reverted", "")[i % 3])
                    for i in range(count)))
    start = now - now % PERIOD - 30 * 86400
    rows = []
    for at in range(start, now, PERIOD):
        rows.append((at, "online", "", count * 3 // 5, 0, count))
        rows += [(at, "rollout:%d" % p, "p%d.bin" % p, 100, 3, 5000) for p in (1, 2)]
    db.executemany("insert or ignore into Tab_FleetSample(periodStart,series,label,done,failed,total) values(?,?,?,?,?,?)", rows)
    db.executemany("insert into Tab_DeviceEvent(devSN,at,kind,detail) values(?,?,'reported','AppVersion V1 -> V2')",
                   (("SN%07d" % (i // 200), now) for i in range(200 * 1000)))
    db.commit()
    db.close()


def main():
    args = sys.argv[1:] + [None] * 2
    exe, count, rounds = args[0], int(args[1] or 100000), int(args[2] or 50)
    service = Service(exe, 50, params={"DashboardSampleSeconds": 3600})
    try:
        seed(service, count)
        print("load average %.2f; %d terminals, %d rounds each, milliseconds" % (os.getloadavg()[0], count, rounds))
        for name, route in (("dashboard, a week", "/KORVA/v2/dashboard?days=7&utcOffsetMinutes=480"),
                            ("timeline, first page of 20", "/KORVA/v2/devices/SN0000500/events?limit=20")):
            times, body = timed_requests(service.http, "GET", route, rounds + 3)
            # The first pays for the counts over every terminal; the rest find them kept.
            print("| %s | %d KiB | %.1f | %.1f / %.1f |" % (name, len(body) // 1024, times[0],
                                                          *median_p99(times[3:])))
        print("load average %.2f" % os.getloadavg()[0])
    finally:
        service.stop()


main()
