#!/usr/bin/env python3
"""A long outage of the back office, side by side in one run.

CPU per whole call (ivr-orvel in emulator mode, the sample call found by
phone, the back office refusing connections, so every record goes to the
spool): with no spool (the floor), an empty spool, and a spool holding
1,000,000 records of 10 back offices, the call's own among them. Calls of
the three kinds are interleaved, so load on the host falls on each alike.
Every process a call uses is counted: this script is a subreaper, so the
process left delivering after the hand-back is waited for and counted.

Then a burst of FastAGI calls at one service with the back office down:
every record of every call must be in the spool afterwards.

Usage: bench/outage_bench.py [--build DIR] [--records N] [--calls N] [--burst N]
Exit status 0 when every record was kept, 1 otherwise (a MISSED figure is
reported, not failed).
"""
import argparse
import concurrent.futures
import ctypes
import json
import os
import shutil
import socket
import sqlite3
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fastagi_bench as fastagi  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ROBOT = os.path.join(ROOT, "examples/robots/identified-by-phone.xml")
RATIO_TARGET = 1.1
PR_SET_CHILD_SUBREAPER = 36


def refusing_port():
    """A bound port nobody listens on: connections to it are refused."""
    holder = socket.socket()
    holder.bind(("127.0.0.1", 0))
    return holder, holder.getsockname()[1]


def configuration(work, name, base, spool):
    with open(os.path.join(ROOT, "examples/config/orvel.json")) as source:
        config = json.load(source)
    config["kestro"] = base
    config["debug"] = os.path.join(work, name + "-debug.log")
    config.pop("metricsFile", None)
    config["spoolDirectory"] = spool
    path = os.path.join(work, name + ".json")
    with open(path, "w") as target:
        json.dump(config, target)
    return path


def spooled(spool):
    """Records waiting in a spool, per channel of the call that left them."""
    path = os.path.join(spool, "spool.db")
    if not os.path.exists(path):
        return {}
    per_channel = {}
    with sqlite3.connect("file:%s?mode=ro" % path, uri=True) as database:
        for (text,) in database.execute("SELECT record FROM records"):
            body = json.loads(json.loads(text).get("body") or "{}")
            channel = body.get("channel", "?")
            per_channel[channel] = per_channel.get(channel, 0) + 1
    return per_channel


def whole_call_cpu_ms(ivr, config, here):
    """CPU of one emulated call and of every process it left behind."""
    os.makedirs(here, exist_ok=True)
    child = subprocess.Popen([ivr, "-e", "-r", ROBOT, "atendimento", config], cwd=here,
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    cpu = 0.0
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        try:
            _, _, usage = os.wait4(-1, 0)
        except ChildProcessError:
            break
        cpu += usage.ru_utime + usage.ru_stime
    return cpu * 1000, child


def median(values):
    ordered = sorted(values)
    return ordered[len(ordered) // 2] if ordered else 0.0


def measure_calls(build, work, base, records, calls):
    ivr = os.path.join(build, "sites/orvel/ivr-orvel")
    empty = os.path.join(work, "spool-empty")
    full = os.path.join(work, "spool-full")
    for spool in (empty, full):
        os.makedirs(spool, mode=0o700)
    started = time.monotonic()
    filled = subprocess.run([os.path.join(build, "bench/bench-spool"), "--fill", full, "--base", base,
                             "--records", str(records)], timeout=1800)
    if filled.returncode != 0:
        print("outage bench: the spool could not be filled")
        return False
    fill_seconds = time.monotonic() - started
    kinds = [("no spool (floor)", configuration(work, "floor", base, "")),
             ("empty spool", configuration(work, "empty", base, empty)),
             ("%d records of 10 back offices" % records, configuration(work, "full", base, full))]
    figures = {label: [] for label, _ in kinds}
    for round_number in range(calls):
        # Each round in another order, so no kind always runs after another.
        order = kinds[round_number % 3:] + kinds[:round_number % 3]
        for label, config in order:
            cpu, _ = whole_call_cpu_ms(ivr, config, os.path.join(work, "calls"))
            figures[label].append(cpu)
    print("CPU per whole call, back office refusing, every record spooled (median of %d, filled in %.0f s)"
          % (calls, fill_seconds))
    for label, _ in kinds:
        print("  %-40s %7.2f ms" % (label, median(figures[label])))
    ratio = median(figures[kinds[2][0]]) / max(median(figures[kinds[1][0]]), 1e-9)
    print("  full spool / empty spool: %.2fx, target %.1fx: %s"
          % (ratio, RATIO_TARGET, "met" if ratio <= RATIO_TARGET else "MISSED"))
    waiting = sum(spooled(empty).values())
    print("  records the empty-spool calls left: %d (%d calls)" % (waiting, calls))
    return waiting > 0


def burst(build, work, base, calls):
    ivr = os.path.join(build, "sites/orvel/ivr-orvel")
    spool = os.path.join(work, "spool-burst")
    os.makedirs(spool, mode=0o700)
    config = configuration(work, "burst", base, spool)
    service, port, log = fastagi.start_service(ivr, work, "burst", [], 200)
    if port is None:
        print("outage bench: the FastAGI service did not start; see " + log)
        return False
    # One call alone first: what each call leaves (not every record names its channel).
    first = fastagi.fastagi_call(port, config, "1765246799.1")
    fastagi.wait_for(lambda: not fastagi.children_of(service.pid), 60)
    per_call = sum(spooled(spool).values())
    started = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(max_workers=50) as pool:
        results = list(pool.map(lambda index: fastagi.fastagi_call(port, config, "1765246800.%d" % index),
                                range(calls)))
    seconds = time.monotonic() - started
    # The call processes deliver (here: spool) after the hand-back.
    fastagi.wait_for(lambda: not fastagi.children_of(service.pid), 120)
    fastagi.stop_service(service)
    failed = [call for call in [first] + results if call.error or not fastagi.last_goto(call.commands)]
    per_channel = spooled(spool)
    total = sum(per_channel.values())
    expected = per_call * (calls + 1)
    every = per_call > 0 and total == expected
    print("Burst of %d FastAGI calls in %.1f s, 50 at a time, back office down: %d handed back with a Goto, "
          "%d records in the spool of %d expected (%d a call)"
          % (calls, seconds, calls + 1 - len(failed), total, expected, per_call))
    print("  every record of every call kept: %s" % ("yes" if every and not failed else "NO"))
    return every and not failed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build-release"))
    parser.add_argument("--records", type=int, default=1000000)
    parser.add_argument("--calls", type=int, default=40)
    parser.add_argument("--burst", type=int, default=1000)
    options = parser.parse_args()
    options.build = os.path.abspath(options.build)
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    work = tempfile.mkdtemp(prefix="bench-outage-", dir="/var/tmp")
    holder, port = refusing_port()
    base = "http://127.0.0.1:%d" % port
    ok = False
    try:
        ok = measure_calls(options.build, work, base, options.records, options.calls)
        ok = burst(options.build, work, base, options.burst) and ok
    finally:
        holder.close()
        if ok:
            shutil.rmtree(work, ignore_errors=True)
        else:
            print("outage bench: work files kept in " + work)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
