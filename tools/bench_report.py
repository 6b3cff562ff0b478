#!/usr/bin/env python3
"""Runs every benchmark in bench/ and lifesim itself at maximum speed, and
prints one table: the figure, its target and the ratio figure / target.

Run it through tools/bench-report.sh, which builds and provides the X server.
"""
import json
import os
import platform
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
BUILD = os.environ.get("BUILD_DIR", os.path.join(SOURCE, "build"))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
# The whole-program parts run the lifesim of the build being measured.
os.environ.setdefault("LIFESIM", os.path.join(BUILD, "app", "lifesim"))


def run_bench(name, extra=()):
    """Results by name. The JSON goes through a file: some benchmarks run the
    simulator's drawing, whose markers go to standard output."""
    path = os.path.join(BUILD, "bench", name)
    with tempfile.NamedTemporaryFile(suffix=".json") as result:
        out = subprocess.run([path, "--benchmark_out=" + result.name,
                              "--benchmark_out_format=json", *extra],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                             timeout=900)
        if out.returncode != 0:
            raise RuntimeError("%s failed: %s" % (name, out.stderr[-500:]))
        data = json.load(open(result.name))
    return {b["name"]: b for b in data["benchmarks"]}


def ns(b):
    """CPU time of one iteration in nanoseconds."""
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
    return b["cpu_time"] * scale


def real_ns(b):
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
    return b["real_time"] * scale


def mean_of(results, prefix, key):
    values = [b[key] for n, b in results.items() if n.startswith(prefix) and "_mean" not in n
              and "_median" not in n and "_stddev" not in n and "_cv" not in n and key in b]
    return statistics.mean(values)


rows = []


def row(what, figure, unit, target, lower_is_better=True, note=""):
    ratio = figure / target if target else float("nan")
    met = ratio <= 1.0 if lower_is_better else ratio >= 1.0
    rows.append((what, "%.4g %s" % (figure, unit), "%s %g %s" % ("≤" if lower_is_better else "≥",
                                                                 target, unit),
                 "%.2f" % ratio, "yes" if met else "NO", note))


def memory():
    r = run_bench("bench_memory", ["--benchmark_repetitions=3"])
    small = [ns(b) for n, b in r.items() if n.startswith("BM_SmallAllocFree/") and "_" not in n[18:]]
    mall = [ns(b) for n, b in r.items() if n.startswith("BM_MallocFree/") and "_" not in n[14:]]
    row("small-object alloc+free vs glibc malloc/free (16-240 B)",
        statistics.mean(small) / statistics.mean(mall), "×", 0.5)
    row("collection of 10,000 pending objects, per freed object",
        mean_of(r, "BM_CollectPending", "ns_per_freed_object"), "ns", 50)
    row("stack scan of 64 KiB", statistics.mean(
        [ns(b) for n, b in r.items() if n.startswith("BM_StackScan64K") and "_" not in n[16:]]) / 1e3,
        "µs", 50)


def life():
    r = run_bench("bench_life")
    row("one generation (step + copy-back)", ns(r["BM_Generation"]) / 1e3, "µs", 5)
    b = r["BM_FrameStringsMemoryFlat/iterations:1000000"]
    # Flat means bounded: a leak of even one byte in ten frames would grow
    # past the bound over a million frames.
    growth = b["bytes_in_use_highest"] - b["bytes_in_use_after_first_collection"]
    row("1,000,000 frames of Strings: bytes in use above the level after the first collection",
        growth / 1024, "KiB", 64,
        note="%d B after the first collection, %d B at the end"
        % (b["bytes_in_use_after_first_collection"], b["bytes_in_use_end"]))


def input_():
    r = run_bench("bench_input")
    row("dispatch one KeyDown into polled input", ns(r["BM_DispatchKeyDown"]) / 1e3, "µs", 1)
    row("KeyHit with no events pending, display open", ns(r["BM_KeyHitNothingPending"]) / 1e3,
        "µs", 5)


def pixmap():
    r = run_bench("bench_pixmap", ["--benchmark_repetitions=3"])
    memcpy = mean_of(r, "BM_MemcpyFrame", "cpu_time")
    paste = mean_of(r, "BM_PasteBgraIntoRgba", "cpu_time")
    row("1024×1024 BGRA32 → RGBA32 vs memcpy", paste / memcpy, "×", 2.0)
    row("ScalePixmap 1024×1024 → 512×512 RGBA32",
        mean_of(r, "BM_ScaleRgbaHalf", "cpu_time"), "ms", 20)


def graphics():
    r = run_bench("bench_graphics")
    pacing = r["BM_SoftPacingError/iterations:1"]
    row("Flip(-1) pacing error at 60 Hz, p99 over 600 frames", pacing["p99_ms"], "ms", 2,
        note="median %.2f, max %.2f" % (pacing["median_ms"], pacing["max_ms"]))
    full = [b for n, b in r.items() if n.startswith("BM_OpenFullScreen/60")][0]
    row("Graphics(640,480,32,60,0) beyond the 1 s sync test", real_ns(full) / 1e6 - 1000, "ms",
        200)


def render():
    r = run_bench("bench_render2d", ["--benchmark_filter=Paired"])
    row("mode-1 frame through the 2D API vs direct OpenGL (CPU)",
        mean_of(r, "BM_Mode1FramePaired", "ratio"), "×", 1.15)
    r = run_bench("bench_text")
    b = r["BM_DigitGridPaired/iterations:300"]
    row("mode-2 frame (2736 glyphs) through the API vs direct OpenGL (CPU)", b["ratio"], "×",
        1.15, note="median of the per-frame ratios, process CPU; medians %.0f vs %.0f µs"
        % (b["api_us"], b["direct_us"]))


def frame():
    """Where a maximum-speed frame's time goes (medians, ms), and the main
    thread's CPU for the frame's drawing through the 2D API against the same
    OpenGL calls issued directly."""
    r = run_bench("bench_frame")
    for mode in (1, 2):
        b = r["BM_FrameBreakdown/mode:%d/split:1/iterations:1" % mode]
        parts = ("input", "life", "emit", "delay", "flush", "flip_wait", "raster", "present",
                 "pump")
        row("mode-%d frame, p99 interval over 600 frames (in-process, full screen)" % mode,
            b["frame_p99"], "ms", 18,
            note="median ms: " + ", ".join("%s %.2f" % (p, b[p + "_med"]) for p in parts)
            + "; longest %.2f ms, its parts: " % b["frame_max"]
            + ", ".join("%s %.2f" % (p, b["worst_" + p]) for p in parts))
        for settled, grid in ((0, "seeded grid"), (1, "grid after 600 generations")):
            c = r["BM_FrameCpu/mode:%d/settled:%d/iterations:%s"
                  % (mode, settled, frame_cpu_iterations())]
            row("mode-%d frame drawing through the 2D API vs direct OpenGL (main-thread CPU), %s"
                % (mode, grid), c["ratio"], "×", 1.05,
                note="median of the per-frame ratios; medians %.0f vs %.0f µs; ratio of the sums "
                "%.3f; with OpenGL's calls as no-op stubs %.0f vs %.0f µs"
                % (c["api_us"], c["direct_us"], c["mean_ratio"], c["api_own_us"],
                   c["direct_own_us"]))


def frame_cpu_iterations():
    return os.environ.get("BENCH_FRAME_CPU_ITERATIONS", "300")


def audio():
    r = run_bench("bench_audio")
    b = list(r.values())[0]
    row("audio output thread CPU, FIFO drained at 176,400 B/s", b["thread_cpu_percent"], "%", 1)


def collision():
    path = os.path.join(BUILD, "bench", "bench_collision")
    if not os.path.exists(path):
        return
    r = run_bench("bench_collision")
    row("ImagesOverlap, opaque 64×64 images overlapping by half",
        ns(r["BM_ImagesOverlapHalfOpaque"]) / 1e3, "µs", 20)
    row("ImagesOverlap, overlapping by half, opaque halves apart (every row scanned)",
        ns(r["BM_ImagesOverlapHalfClear"]) / 1e3, "µs", 20)
    row("ImagesOverlap, boxes apart", ns(r["BM_ImagesOverlapBoxesApart"]), "ns", 200)


class BusyCore:
    """One core kept busy by another process for the length of a with block."""

    def __enter__(self):
        self.child = subprocess.Popen([sys.executable, "-c", "while True: pass"])
        return self

    def __exit__(self, *exc):
        self.child.kill()
        self.child.wait()


RETRACESIM = os.environ.get("LIFESIM_RETRACESIM", os.path.join(BUILD, "tests", "libretracesim.so"))


STALLWATCH = os.path.join(BUILD, "bench", "stallwatch")


def interval_figures(stamps):
    """Generations per second, p99 and longest interval (ms) of a list of times."""
    rate = (len(stamps) - 1) / (stamps[-1] - stamps[0])
    gaps = sorted((b - a) * 1000 for a, b in zip(stamps, stamps[1:]))
    return rate, gaps[int(len(gaps) * 0.99)], gaps[-1]


class StallWatch:
    """bench/stallwatch beside a run: the gaps (start, end) in which the
    machine ran nothing for 10 ms or more."""

    def __enter__(self):
        self.out = tempfile.NamedTemporaryFile(suffix=".stalls")
        self.child = (subprocess.Popen([STALLWATCH, self.out.name])
                      if os.path.exists(STALLWATCH) else None)
        self.gaps = None
        return self

    def __exit__(self, *exc):
        if self.child:
            self.child.terminate()
            if self.child.wait() == 0:
                self.gaps = [tuple(map(float, l.split())) for l in open(self.out.name) if l.strip()]
        self.out.close()


def stall_note(stamps, stalls):
    """The machine's stalls in the run, and the longest frame interval that
    overlaps none of them."""
    if stalls is None or len(stamps) < 2:
        return "no stall watch"
    inside = [(b - a) * 1000 for a, b in zip(stamps, stamps[1:])
              if not any(s < b and a < e for s, e in stalls)]
    return ("%d machine stalls of 10 ms or more (longest %.1f ms); longest interval overlapping "
            "none %.2f ms" % (len(stalls), max([(e - s) * 1000 for s, e in stalls] or [0]),
                              max(inside or [0])))


def lifesim_rate(mode_key, seconds=10):
    """Figures of the presents (the swap times tests/e2e/retracesim.cpp records
    in lifesim, simulating no retrace) over the run, and the same figures as
    the report's reader saw the bottom markers; the reader's include its own
    scheduling delays."""
    from lifesim_e2e import BOTTOM, TOP, Lifesim
    env = dict(os.environ)
    with tempfile.NamedTemporaryFile(suffix=".swaps") as swaps:
        if os.path.exists(RETRACESIM):
            env.update(LD_PRELOAD=RETRACESIM, LIFESIM_RETRACE_HZ="0", LIFESIM_RETRACE_OUT=swaps.name)
        sim = Lifesim(env)
        watch = StallWatch()
        try:
            sim.wait_for(TOP, 3)
            subprocess.run(["xdotool", "key", "s", mode_key], env=env, check=True)
            sim.wait_for(BOTTOM, sim.frames() + 30)
            first = sim.frames()
            start = time.monotonic()
            with watch:
                while time.monotonic() - start < seconds:
                    sim.pump(0.1)
            seen = sim.bottom_stamps[first:]
            subprocess.run(["xdotool", "key", "Escape"], env=env, check=True)
            sim.wait_exit()
        finally:
            sim.kill()
        # The swap of a frame comes just before its marker is written.
        # After the counts line, one line per swap: its time, its interval.
        stamps = [float(line.split()[0]) for line in open(swaps.name).read().splitlines()[1:]]
        presents = [t for t in stamps if seen[0] - 0.010 <= t <= seen[-1]]
    reader = interval_figures(seen)
    if len(presents) < 2:
        return reader, None, stall_note(seen, watch.gaps)
    return interval_figures(presents), reader, stall_note(presents, watch.gaps)


def first_frame():
    """Milliseconds from exec to the first frame's bottom marker (it is written
    right after the frame was presented), median of 3, and the medians of its
    parts as the markers split it."""
    from lifesim_e2e import BOTTOM, TOP, VAR_OK, Lifesim
    runs = []
    for _ in range(3):
        start = time.monotonic()
        sim = Lifesim(dict(os.environ))
        try:
            sim.wait_for(BOTTOM, 1)
            runs.append([(sim.read_time(m) - start) * 1000 for m in (VAR_OK, TOP, BOTTOM)])
            subprocess.run(["xdotool", "key", "Escape"], env=os.environ, check=True)
            sim.wait_exit()
        finally:
            sim.kill()
    var_ok, top, bottom = (statistics.median(r[i] for r in runs) for i in range(3))
    return bottom, ("exec to VAR OK %.1f (display open and sync test); to the first loop top "
                    "%.1f (seeding, first paced Flip, grid drawn); to its bottom %.1f"
                    % (var_ok, top, bottom))


def reader_note(reader):
    return ("as the reader saw the markers: %.2f /s, p99 %.2f ms, longest %.2f ms"
            % reader if reader else "no swap times: figures as the reader saw the markers")


def whole_program():
    ms, parts = first_frame()
    row("exec to the first presented frame, beyond the 1 s sync test (median of 3)",
        ms - 1000, "ms", 150, note="medians, ms: " + parts)
    seconds = int(os.environ.get("LIFESIM_RATE_SECONDS", "60"))
    for key, mode in (("1", "mode 1"), ("2", "mode 2")):
        (rate, p99, worst), reader, stalls = lifesim_rate(key, seconds)
        # Frames are paced to the 60 Hz frame clock, so 60 is the most there
        # can be: 60.0 to one decimal.
        row("lifesim at maximum speed, %s, generations per second over %d s" % (mode, seconds),
            rate, "/s", 59.95, lower_is_better=False, note="paced at 60 Hz")
        row("lifesim at maximum speed, %s, p99 frame interval" % mode, p99, "ms", 18)
        row("lifesim at maximum speed, %s, longest frame interval" % mode, worst, "ms", 25,
            note=reader_note(reader) + "; " + stalls)


def loaded():
    """The same whole-program rates while another process keeps one core busy."""
    seconds = int(os.environ.get("LIFESIM_RATE_SECONDS", "60"))
    for key, mode in (("1", "mode 1"), ("2", "mode 2")):
        with BusyCore():
            (rate, p99, worst), reader, stalls = lifesim_rate(key, seconds)
        row("one core busy: lifesim at maximum speed, %s, generations per second over %d s"
            % (mode, seconds), rate, "/s", 58, lower_is_better=False,
            note="longest interval %.1f ms; %s" % (worst, stalls))
        row("one core busy: lifesim at maximum speed, %s, p99 frame interval" % mode, p99, "ms",
            20, note=reader_note(reader))


def main():
    parts = (memory, life, input_, pixmap, graphics, render, frame, audio, collision,
             whole_program, loaded)
    # e.g. BENCH_PARTS=whole_program,loaded with LIFESIM_RATE_SECONDS=600
    only = os.environ.get("BENCH_PARTS")
    if only:
        parts = [p for p in parts if p.__name__ in only.split(",")]
    for part in parts:
        try:
            part()
        except Exception as e:  # one failing benchmark must not hide the others
            rows.append((part.__name__.strip("_"), "failed: %s" % e, "", "", "NO", ""))
    cpu = "unknown"
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(l.split(":", 1)[1].strip() for l in f if l.startswith("model name"))
    except (OSError, StopIteration):
        pass
    arch = os.environ.get("LIFESIM_ARCH", "x86_64")
    print("Machine: %s, %d cores, %s; programs built for %s; OpenGL: Mesa llvmpipe on Xorg's dummy driver."
          % (cpu, os.cpu_count(), platform.platform(), arch))
    print("Build: %s" % os.path.abspath(BUILD))
    print()
    print("| Measure | Figure | Target | Ratio | Met | Note |")
    print("|---|---|---|---|---|---|")
    for r in rows:
        print("| %s |" % " | ".join(r))


if __name__ == "__main__":
    main()
