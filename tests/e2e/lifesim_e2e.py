"""Runs the real lifesim on a test X server and looks at it from outside:
markers on standard output, exit status, video mode, windows, screenshots.

Every test script starts X servers of its own (tools/xserver.sh), so the
scripts do not disturb each other or the unit tests.
"""
import fcntl
import os
import re
import select
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE_DIR = os.environ.get("LIFESIM_SOURCE_DIR",
                            os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
import xwdimage  # noqa: E402

LIFESIM = os.environ.get("LIFESIM", os.path.join(SOURCE_DIR, "build", "app", "lifesim"))
FONTDUMP = os.environ.get("LIFESIM_FONTDUMP", os.path.join(os.path.dirname(LIFESIM), "..", "tests", "e2e", "fontdump"))
STARTUP_REPORT = os.environ.get("LIFESIM_STARTUP_REPORT",
                                os.path.join(os.path.dirname(FONTDUMP), "lifesim_startup_report"))
GRABCHECK = os.environ.get("LIFESIM_GRABCHECK", os.path.join(os.path.dirname(FONTDUMP), "grabcheck"))
CALLSHIM = os.environ.get("LIFESIM_CALLSHIM", os.path.join(os.path.dirname(FONTDUMP), "..",
                                                           "libcallshim.so"))
RETRACESIM = os.environ.get("LIFESIM_RETRACESIM", os.path.join(os.path.dirname(FONTDUMP), "..",
                                                               "libretracesim.so"))
XSERVER = os.path.join(SOURCE_DIR, "tools", "xserver.sh")

TOP = "      <MAIN LOOP TOP OK>      "
BOTTOM = "      <MAIN LOOP BOTTOM OK>      "
VAR_OK = "      <VAR OK>      "


def marker(word):
    return "      <%s>      " % word


class XServer:
    """An Xorg with the dummy driver (or Xvfb) of the test's own."""

    def __init__(self, config="xorg-dummy.conf", xvfb=False):
        self.xvfb = xvfb
        self.proc = None
        if xvfb:
            # Servers started at the same moment by other suites can race
            # for a display number: try again with a fresh one.
            errors = []
            for attempt in range(5):
                if self._start_xvfb(errors):
                    break
                self.stop()
            else:
                raise RuntimeError("Xvfb did not start:\n" + "\n".join(errors))
        else:
            out = subprocess.run(["bash", XSERVER, "start", config], check=True,
                                 capture_output=True, text=True)
            self.display = out.stdout.strip().splitlines()[-1]
        self.env = dict(os.environ, DISPLAY=self.display)

    def _start_xvfb(self, errors):
        r, w = os.pipe()
        with tempfile.TemporaryFile() as log:
            self.proc = subprocess.Popen(
                ["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=log, start_new_session=True)
            os.close(w)
            # The server writes the number and its newline separately and dies
            # if the pipe is gone before the second write: read the whole line.
            with os.fdopen(r, "rb") as pipe:
                num = pipe.readline().decode().strip()
            self.display = ":" + num
            deadline = time.monotonic() + 10
            while not num or subprocess.run(["xdpyinfo"], env=dict(os.environ, DISPLAY=self.display),
                                            capture_output=True).returncode != 0:
                if not num or time.monotonic() > deadline or self.proc.poll() is not None:
                    log.seek(0)
                    errors.append(log.read().decode(errors="replace").strip()[-400:])
                    return False
                time.sleep(0.1)
        return True

    @property
    def pid(self):
        if self.proc:
            return self.proc.pid
        num = self.display.lstrip(":")
        state = os.environ.get("XSERVER_STATE_DIR", "/tmp/lifesim-xserver")
        with open(os.path.join(state, "xorg-%s.pid" % num)) as f:
            return int(f.read().strip())

    def run(self, *args, check=True):
        return subprocess.run(list(args), env=self.env, capture_output=True, text=True,
                              check=check, timeout=60)

    def video_mode(self):
        """The current mode line as xvidtune prints it (size and timings)."""
        return self.run("xvidtune", "-show").stdout.strip()

    def mode_size(self):
        fields = self.video_mode().split()
        return int(fields[2]), int(fields[6])

    def key(self, *names):
        self.run("xdotool", "key", "--delay", "30", *names)

    def screenshot(self):
        data = subprocess.run(["xwd", "-root", "-silent"], env=self.env, capture_output=True,
                              check=True, timeout=60).stdout
        return xwdimage.read_xwd(data)

    def stop(self):
        if self.proc:
            if self.proc.poll() is None:
                self.proc.terminate()
                try:
                    self.proc.wait(10)
                except subprocess.TimeoutExpired:
                    self.proc.kill()
        else:
            subprocess.run(["bash", XSERVER, "stop", self.display], capture_output=True)


def preloaded(env, library, prefix, **settings):
    """env with library preloaded and its settings as prefix + NAME."""
    out = dict(env, LD_PRELOAD=library)
    out.update((prefix + key.upper(), str(value)) for key, value in settings.items())
    # Under the sanitizers the preloaded library comes before their runtime.
    out["ASAN_OPTIONS"] = out.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
    return out


def with_shim(env, call, action, **plan):
    """env with the call shim preloaded: `call` does `action` (see
    tests/e2e/callshim.cpp); plan: count, thread, wait_ms, after_ms."""
    return preloaded(env, CALLSHIM, "LIFESIM_SHIM_", call=call, action=action, **plan)


def with_retrace(env, out, hz, offer="SGI", jitter_ms=0):
    """env with a display's vertical retrace simulated (see
    tests/e2e/retracesim.cpp); the counts and swaps go to the file out."""
    return preloaded(env, RETRACESIM, "LIFESIM_RETRACE_", hz=hz, offer=offer, jitter_ms=jitter_ms,
                     out=out)


def read_retrace(out):
    """(counts line as a dict, [interval of each swap in order])."""
    with open(out) as f:
        lines = f.read().splitlines()
    words = lines[0].split()
    counts = {"swaps0": int(words[1]), "swaps1": int(words[2]), "calls": int(words[4]),
              "refused": int(words[6])}
    return counts, [int(line.split()[1]) for line in lines[1:]]


class ServerTestCase(unittest.TestCase):
    """Tests that share one test X server of their own, started for the class."""

    @classmethod
    def setUpClass(cls):
        cls.x = XServer()

    @classmethod
    def tearDownClass(cls):
        cls.x.stop()

    def launch(self, env=None, wait=0, **kw):
        """A lifesim on the class's server, killed at the test's end if still
        running; with wait, once it has begun that many frames."""
        sim = Lifesim(env or self.x.env, **kw)
        self.addCleanup(sim.kill)
        if wait:
            sim.wait_for(TOP, wait)
        return sim


class Lifesim:
    """One lifesim process with its markers read as they come."""

    def __init__(self, env, args=(), cwd=None, program=LIFESIM, blocked=()):
        """blocked: signals the process starts with blocked (a request sent
        early then waits until lifesim takes it)."""
        self.proc = subprocess.Popen([program, *args], env=env, cwd=cwd,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     preexec_fn=(lambda: signal.pthread_sigmask(
                                         signal.SIG_BLOCK, blocked)) if blocked else None)
        for stream in (self.proc.stdout, self.proc.stderr):
            fl = fcntl.fcntl(stream.fileno(), fcntl.F_GETFL)
            fcntl.fcntl(stream.fileno(), fcntl.F_SETFL, fl | os.O_NONBLOCK)
        self.out = ""
        self.err = ""
        # When each bottom marker was read: the frame's present, as the
        # reader saw it (counted as the text arrives, not by rescanning it).
        self.bottom_stamps = []
        self.reads = []  # (time, length of stdout text after the read)

    def pump(self, timeout=0.05):
        streams = [s for s in (self.proc.stdout, self.proc.stderr) if not s.closed]
        ready, _, _ = select.select(streams, [], [], timeout)
        for s in ready:
            try:
                chunk = os.read(s.fileno(), 65536)
            except BlockingIOError:
                continue
            if s is self.proc.stdout:
                now = time.monotonic()
                seen = len(self.out) - len(BOTTOM) + 1
                self.out += chunk.decode("latin-1")
                new = self.out.count(BOTTOM, max(seen, 0))
                self.bottom_stamps.extend([now] * new)
                self.reads.append((now, len(self.out)))
            else:
                self.err += chunk.decode("latin-1")

    def wait_for(self, text, count=1, timeout=30.0):
        """Waits until text has been written count times; returns the time."""
        deadline = time.monotonic() + timeout
        while self.out.count(text) < count:
            if time.monotonic() > deadline:
                raise AssertionError("timed out waiting for %r x%d; stdout tail %r, stderr %r"
                                     % (text, count, self.out[-300:], self.err[-500:]))
            if self.proc.poll() is not None:
                self.pump(0)
                if self.out.count(text) >= count:
                    break
                raise AssertionError("lifesim ended (status %s) before %r x%d; stderr %r"
                                     % (self.proc.returncode, text, count, self.err[-500:]))
            self.pump()
        return time.monotonic()

    def read_time(self, text, n=1):
        """When the n-th copy of text had been read."""
        at = -1
        for _ in range(n):
            at = self.out.index(text, at + 1)
        end = at + len(text)
        return next(t for t, length in self.reads if length >= end)

    def frames(self):
        return len(self.bottom_stamps)

    def wait_exit(self, timeout=20.0):
        deadline = time.monotonic() + timeout
        while self.proc.poll() is None:
            if time.monotonic() > deadline:
                self.proc.kill()
                raise AssertionError("lifesim did not end within %.0f s" % timeout)
            self.pump()
        for _ in range(20):
            self.pump(0.01)
        return self.proc.returncode

    def drain(self):
        """Reads everything written so far."""
        before = None
        while before != (len(self.out), len(self.err)):
            before = (len(self.out), len(self.err))
            self.pump(0.01)

    def stop_between_frames(self):
        """Stops the process right after a frame was presented: the screen then
        shows that frame until cont(). Returns the number of frames finished."""
        self.drain()
        self.wait_for(BOTTOM, self.frames() + 1)
        os.kill(self.proc.pid, signal.SIGSTOP)
        self.drain()
        return self.frames()

    def cont(self):
        os.kill(self.proc.pid, signal.SIGCONT)

    def keys_between_frames(self, server, *names):
        """Sends keys while the process is stopped after a frame, so that they
        arrive together; returns the stdout offset at which it resumed."""
        self.stop_between_frames()
        server.key(*names)
        time.sleep(0.2)  # let the server queue them to the client
        offset = len(self.out)
        self.cont()
        return offset

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for stream in (self.proc.stdout, self.proc.stderr):
            if not stream.closed:
                stream.close()


_font = None


def font():
    """The built-in 8 x 16 font: 96 glyphs of 16 row bytes (bit k = column k)."""
    global _font
    if _font is None:
        data = bytes.fromhex(subprocess.run([FONTDUMP], capture_output=True, text=True,
                                            check=True).stdout.strip())
        assert len(data) == 1536
        _font = [[data[r * 96 + j] for r in range(16)] for j in range(96)]
    return _font


def ink(code, col, row):
    return 32 <= code < 128 and (font()[code - 32][row] >> col) & 1 == 1


def is_white(p):
    return p[0] > 200 and p[1] > 200 and p[2] > 200


def read_char(image, x, y, rows=range(16), candidates=None):
    """The character whose ink matches the white pixels of the cell at (x, y)."""
    codes = candidates if candidates is not None else range(32, 127)
    best, best_diff = None, None
    for code in codes:
        diff = 0
        for row in rows:
            for col in range(8):
                if ink(ord(code) if isinstance(code, str) else code, col, row) != \
                        is_white(image.pixel(x + col, y + row)):
                    diff += 1
        if best_diff is None or diff < best_diff:
            best, best_diff = code, diff
    best = best if isinstance(best, str) else chr(best)
    return best, best_diff


def read_text(image, x, y, length):
    """Decodes a line of text of the built-in font; returns (text, mismatched pixels)."""
    text, total = "", 0
    for i in range(length):
        ch, diff = read_char(image, x + 8 * i, y)
        text += ch
        total += diff
    return text.rstrip(), total


def expected_text_pixels(text, x, y):
    """(x, y) -> True for every pixel the text's ink covers."""
    out = {}
    for i, ch in enumerate(text):
        for row in range(16):
            for col in range(8):
                out[(x + 8 * i + col, y + row)] = ink(ord(ch), col, row)
    return out


def cell_colour(image, cx, cy):
    """Colour at the centre of cell (cx, cy)'s mode-1 square."""
    return image.pixel(15 + 10 * cx, 25 + 10 * cy)


LIVE = (9, 62, 253)
DEAD = (0, 0, 0)
GRID = (20, 112, 10)


def grid_mode1(image):
    """The 57 x 24 cells read from a mode-1 screenshot: 1, 0 or None (neither colour)."""
    cells = []
    for cx in range(57):
        col = []
        for cy in range(24):
            p = cell_colour(image, cx, cy)
            col.append(1 if p == LIVE else 0 if p == DEAD else None)
        cells.append(col)
    return cells


def life_step(cells):
    """The hard-edged rule, written independently of lifesim's code."""
    nxt = [[0] * 24 for _ in range(57)]
    for x in range(57):
        for y in range(24):
            n = sum(cells[x + dx][y + dy]
                    for dx in (-1, 0, 1) for dy in (-1, 0, 1)
                    if (dx or dy) and 0 <= x + dx < 57 and 0 <= y + dy < 24)
            nxt[x][y] = 1 if n == 3 else cells[x][y] if n == 2 else 0
    return nxt


GENERATION_RE = re.compile(r"Mode de rendu : (\d+) -- Generation number (\d+)")


def status_line(image):
    """Mode and generation number read from the fourth status line."""
    text, diff = read_text(image, 10, 330, 60)
    m = GENERATION_RE.match(text)
    if not m or diff:
        raise AssertionError("cannot read the status line: %r (%d pixels off)" % (text, diff))
    return int(m.group(1)), int(m.group(2))


def main():
    unittest.main(verbosity=2)
