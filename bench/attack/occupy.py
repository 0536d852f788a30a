#!/usr/bin/env python3
"""Terminal slots held by connections that each report a serial number nobody has seen.

A fresh service with MaxConnCount 50 and the registration limits at their defaults knows a
fleet of FLEET terminals (each reported once). Then 50 connections report fresh serial numbers
and keep reporting every 5 s, holding every slot. The fleet reconnects one terminal after the
other, or all at once with --together (a refused one tries again after 0.5-1.5 s, up to 10
times) while the occupiers hold on, and finally 20 more connections with fresh serial numbers
try to take the slots back. Printed: how many of the fleet were answered, after how many tries
and how fast; how many occupiers were closed; how many fresh newcomers got in.
"""
import argparse
import asyncio
import os
import random
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from wfservice import Service  # noqa: E402
from capacity.capacity import ANSWER, report_packet  # noqa: E402

SLOTS = 50
TRIES = 10


async def exchange(port, sn, keep=False):
    """Connects, reports as sn, returns (answered, ms, connection) or (False, None, None)."""
    started = time.perf_counter()
    try:
        reader, writer = await asyncio.open_connection("127.0.0.1", port)
        writer.write(report_packet(sn, 1))
        await writer.drain()
        await asyncio.wait_for(reader.readexactly(ANSWER), 5)
    except (OSError, asyncio.IncompleteReadError, asyncio.TimeoutError):
        return False, None, None
    ms = (time.perf_counter() - started) * 1000.0
    if not keep:
        writer.close()
        return True, ms, None
    return True, ms, (reader, writer)


async def occupy(connection, sn, running, closed):
    """Keeps a slot busy with a valid report every 5 s until the service closes it."""
    reader, writer = connection
    serial = 1
    while running["on"]:
        try:
            await asyncio.sleep(5)
            serial += 1
            writer.write(report_packet(sn, serial))
            await writer.drain()
            await asyncio.wait_for(reader.readexactly(ANSWER), 5)
        except (OSError, asyncio.IncompleteReadError, asyncio.TimeoutError):
            closed.append(sn)
            return
    writer.close()


async def run(port, fleet, together):
    for i in range(fleet):  # the fleet is known to the device table
        ok, _, _ = await exchange(port, "FLEET%04d" % i)
        assert ok, "fleet terminal %d not registered" % i
    running, closed, tasks = {"on": True}, [], []
    for i in range(SLOTS):
        ok, _, connection = await exchange(port, "OCCUPY%04d" % i, keep=True)
        if ok:
            tasks.append(asyncio.ensure_future(occupy(connection, "OCCUPY%04d" % i, running,
                                                      closed)))
    held = len(tasks)

    tries, latencies, kept = [], [], []

    async def reconnect(i):
        for attempt in range(1, TRIES + 1):
            ok, ms, connection = await exchange(port, "FLEET%04d" % i, keep=True)
            if ok:
                tries.append(attempt)
                latencies.append(ms)
                kept.append(connection)
                return
            await asyncio.sleep(random.uniform(0.5, 1.5))

    started = time.monotonic()
    if together:
        await asyncio.gather(*(reconnect(i) for i in range(fleet)))
    else:
        for i in range(fleet):
            await reconnect(i)
    elapsed, served = time.monotonic() - started, len(tries)

    fresh_in = 0
    for i in range(20):
        ok, _, connection = await exchange(port, "LATE%04d" % i, keep=True)
        if ok:
            fresh_in += 1
            kept.append(connection)
    running["on"] = False
    for _, writer in kept:
        writer.close()
    await asyncio.gather(*tasks)
    latencies.sort()
    return ("occupiers holding slots %d of %d; fleet answered %d of %d in %.1f s (tries mean %.1f,"
            " max %d; report p50 %.1f ms, max %.1f ms); occupiers closed for them %d; fresh"
            " newcomers let in %d of 20"
            % (held, SLOTS, served, fleet, elapsed, sum(tries) / max(1, len(tries)),
               max(tries or [0]),
               latencies[len(latencies) // 2] if latencies else float("nan"),
               latencies[-1] if latencies else float("nan"), len(closed), fresh_in))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("exe")
    parser.add_argument("--fleet", type=int, default=40)
    parser.add_argument("--together", action="store_true",
                        help="the fleet reconnects all at once instead of one after the other")
    args = parser.parse_args()
    # The registration limits as shipped, not the benches' unlimited ones.
    service = Service(args.exe, SLOTS, params={"RegistrationsPerMinutePerAddress": 600,
                                               "RegistrationsPerMinute": 3000})
    try:
        print("occupy: " + asyncio.get_event_loop().run_until_complete(run(service.tcp,
                                                                            args.fleet,
                                                                            args.together)))
    finally:
        service.stop()


if __name__ == "__main__":
    main()
