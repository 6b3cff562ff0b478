#!/usr/bin/env python3
"""Generations per second and frame intervals of lifesim at maximum speed
under simulated vertical retraces (tests/e2e/retracesim.cpp preloaded), on a
test X server of its own.

  retrace_bench.py [--seconds N] [--offer SGI] [--force] [HZ ...]

For each rate (default 60 75 50): lifesim starts, S switches it to maximum
speed, and over the next N seconds (default 20) the script counts the
bottom markers (one per generation) and reads the swap return times the
simulator records; it prints generations/s, presents/s and the median and
99th percentile of the intervals between presents. The machine's load
shows in the figures: run it on a quiet machine, and more than once.
"""
import argparse
import os
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from lifesim_e2e import BOTTOM, TOP, Lifesim, XServer  # noqa: E402

BUILD = os.environ.get("LIFESIM_BUILD_DIR", os.path.join(HERE, "..", "build"))
RETRACESIM = os.environ.get("LIFESIM_RETRACESIM", os.path.join(BUILD, "tests", "libretracesim.so"))


def percentile(values, p):
    values = sorted(values)
    if not values:
        return float("nan")
    return values[min(len(values) - 1, int(round(p / 100.0 * (len(values) - 1))))]


def measure(server, hz, seconds, offer, force):
    with tempfile.NamedTemporaryFile(suffix=".txt", delete=False) as f:
        out = f.name
    env = dict(server.env, LD_PRELOAD=RETRACESIM, LIFESIM_RETRACE_HZ=str(hz),
               LIFESIM_RETRACE_OFFER=offer, LIFESIM_RETRACE_OUT=out,
               LIFESIM_RETRACE_FORCE="1" if force else "0")
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
    sim = Lifesim(env)
    try:
        sim.wait_for(TOP, 3)
        server.key("s")
        time.sleep(1.0)  # the switch to maximum speed is taken
        sim.drain()
        start, frames0 = time.monotonic(), sim.frames()
        while time.monotonic() < start + seconds:
            sim.pump(0.05)
        end, frames1 = time.monotonic(), sim.frames()
        server.key("Escape")
        sim.wait_exit()
    finally:
        sim.kill()
    with open(out) as f:
        lines = f.read().splitlines()
    os.unlink(out)
    stamps = [float(line.split()[0]) for line in lines[1:]]
    window = [t for t in stamps if start <= t <= end]
    intervals = [(b - a) * 1000.0 for a, b in zip(window, window[1:])]
    return {
        "hz": hz, "gen_per_s": (frames1 - frames0) / (end - start),
        "presents_per_s": len(window) / (end - start),
        "median_ms": percentile(intervals, 50), "p99_ms": percentile(intervals, 99),
        "counts": lines[0],
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=20.0)
    parser.add_argument("--offer", default="SGI")
    parser.add_argument("--force", action="store_true")
    parser.add_argument("rates", nargs="*", type=int, default=[60, 75, 50])
    args = parser.parse_args()
    server = XServer()
    try:
        print("%4s %8s %10s %10s %8s  %s" % ("Hz", "gen/s", "presents/s", "median ms", "p99 ms",
                                            "simulator counts"))
        for hz in args.rates:
            r = measure(server, hz, args.seconds, args.offer, args.force)
            print("%4d %8.1f %10.1f %10.2f %8.2f  %s" % (
                r["hz"], r["gen_per_s"], r["presents_per_s"], r["median_ms"], r["p99_ms"],
                r["counts"]), flush=True)
    finally:
        server.stop()


if __name__ == "__main__":
    main()
