"""Faults from outside, as real desktops make them: no X server, a server
without video modes or without GLX, the server dying at any moment, the
connection killed by the server, another client holding the keyboard,
a second lifesim, the window manager's close button. Each ends with one
line naming the cause (or none, where nothing failed), never with a crash,
a hang, a process left behind or the screen left switched."""
import os
import signal
import subprocess
import tempfile
import time
import unittest

from lifesim_e2e import GRABCHECK, LIFESIM, SOURCE_DIR, TOP, Lifesim, XServer, main


def run_alone(env, **kw):
    return subprocess.run([LIFESIM], env=env, capture_output=True, text=True, timeout=30, **kw)


class NoServer(unittest.TestCase):
    def test_no_display_variable_or_one_that_names_no_server(self):
        for display in (None, ":93"):
            with self.subTest(display=display):
                env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
                r = run_alone(dict(env, DISPLAY=display) if display else env)
                self.assertGreater(r.returncode, 0, "ended by a signal: %d" % r.returncode)
                self.assertLess(r.returncode, 128)
                lines = r.stderr.strip().splitlines()
                self.assertEqual(len(lines), 2, r.stderr)
                self.assertIn("no X server", lines[0])
                self.assertIn("window", lines[1])
                self.assertNotIn(TOP.strip(), r.stdout)


class WithoutVideoModes(unittest.TestCase):
    def test_xvfb_runs_in_a_window_of_the_desktop(self):
        # Named, sized and owned for the window manager; its close button
        # ends lifesim as Escape does.
        x = XServer(xvfb=True)
        self.addCleanup(x.stop)
        sim = Lifesim(x.env)
        self.addCleanup(sim.kill)
        sim.wait_for(TOP, 5)
        lines = sim.err.strip().splitlines()
        self.assertEqual(len(lines), 1, sim.err)
        self.assertIn("has no video-mode extension", lines[0])
        self.assertIn(x.display, lines[0])
        wid = x.run(GRABCHECK, "find").stdout.strip()
        props = x.run("xprop", "-id", wid).stdout
        for expected in ('WM_NAME(STRING) = "lifesim"', 'WM_CLASS(STRING) = "lifesim", "lifesim"',
                         "_NET_WM_PID(CARDINAL) = %d" % sim.proc.pid,
                         "minimum size: 640 by 480", "maximum size: 640 by 480",
                         "WM_PROTOCOLS(ATOM): protocols  WM_DELETE_WINDOW"):
            self.assertIn(expected, props)
        x.run(GRABCHECK, "close")
        self.assertEqual(sim.wait_exit(timeout=5), 0, sim.err)


class WithoutGLX(unittest.TestCase):
    def test_the_line_names_glx(self):
        with open(os.path.join(SOURCE_DIR, "tools", "xorg-dummy.conf")) as f:
            conf = f.read().replace('Load "glx"', "").replace('"GLX" "Enable"', '"GLX" "Disable"')
        path = os.path.join(tempfile.mkdtemp(), "xorg-noglx.conf")
        with open(path, "w") as f:
            f.write(conf)
        x = XServer(path)
        self.addCleanup(x.stop)
        before = x.video_mode()
        r = run_alone(x.env)
        self.assertEqual(r.returncode, 1, r.stderr)
        lines = r.stderr.strip().splitlines()
        self.assertEqual(len(lines), 2, r.stderr)
        for line in lines:
            self.assertIn("has no OpenGL extension (GLX)", line)
        self.assertEqual(x.video_mode(), before)


class StarvedAtStartUp(unittest.TestCase):
    def test_the_line_says_memory(self):
        # Too little address space for the GL driver: the failed open is
        # reported as memory, not as GLX, and ends through the usual exit.
        import resource
        x = XServer()
        self.addCleanup(x.stop)
        before = x.video_mode()
        for limit_mib in (40, 200):
            with self.subTest(limit_mib=limit_mib):
                limit = limit_mib << 20
                r = run_alone(x.env, preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS,
                                                                           (limit, limit)))
                self.assertEqual(r.returncode, 255, r.stderr)
                ours = [l for l in r.stderr.splitlines() if l.startswith("lifesim:")]
                self.assertEqual(ours, ["lifesim: out of memory"], r.stderr)
                self.assertEqual(x.video_mode(), before)


class ServerDies(unittest.TestCase):
    def test_server_killed_at_any_moment(self):
        # Whenever the server goes, during start-up (even inside the GL
        # library's own reads of the connection) or mid-run: one line about
        # the server, status 1 within 2 s, no crash text, nothing left running.
        for delay in (0.05, 0.1, 0.15, 0.2, 0.3, 0.6, None):
            with self.subTest(delay=delay):
                x = XServer()
                self.addCleanup(x.stop)
                sim = Lifesim(x.env)
                self.addCleanup(sim.kill)
                if delay is None:
                    sim.wait_for(TOP, 3)
                else:
                    time.sleep(delay)
                os.kill(x.pid, signal.SIGKILL)
                killed = time.monotonic()
                self.assertEqual(sim.wait_exit(timeout=5), 1, sim.err)
                self.assertLess(time.monotonic() - killed, 2)
                self.assertNotIn("signal handler", sim.err)
                lines = sim.err.strip().splitlines()
                self.assertTrue(lines and "X server" in lines[0], sim.err)
                if delay is None:
                    self.assertIn("lost the connection to the X server", lines[0])


class Desktop(unittest.TestCase):
    """Other clients of lifesim's server: each path ends with the screen in
    the mode it was in before lifesim started."""

    def setUp(self):
        self.x = XServer()
        self.addCleanup(self.x.stop)
        self.before = self.x.video_mode()

    def start(self):
        sim = Lifesim(self.x.env)
        self.addCleanup(sim.kill)
        sim.wait_for(TOP, 1, timeout=10)
        return sim

    def end(self, sim, how):
        """Ends sim by Escape (status 0) or a terminate request (255)."""
        if how == "Escape":
            self.x.key("Escape")
        else:
            sim.proc.send_signal(signal.SIGTERM)
        self.assertEqual(sim.wait_exit(timeout=5), 0 if how == "Escape" else 255, sim.err)

    def test_connection_killed_by_the_server(self):
        sim = self.start()
        self.assertEqual(self.x.mode_size(), (640, 480))
        self.x.run(GRABCHECK, "kill")
        killed = time.monotonic()
        self.assertEqual(sim.wait_exit(timeout=5), 1, sim.err)
        self.assertLess(time.monotonic() - killed, 2)
        self.assertEqual(sim.err.strip().splitlines(),
                         ["lifesim: lost the connection to the X server %s" % self.x.display])
        self.assertEqual(self.x.video_mode(), self.before)

    def test_keyboard_held_by_another_client(self):
        # A menu's short grab is waited for; a longer one leaves lifesim in a
        # window with its keys, the mode never left switched.
        for hold, full_screen, end in ((0.3, True, "Escape"), (3, False, "Escape"),
                                       (3600, False, "SIGTERM")):
            with self.subTest(hold=hold):
                holder = subprocess.Popen([GRABCHECK, "hold", str(hold)], env=self.x.env,
                                          stdout=subprocess.PIPE, text=True)
                self.addCleanup(holder.stdout.close)
                self.addCleanup(holder.kill)
                self.assertEqual(holder.stdout.readline().strip(), "held")
                sim = self.start()
                lines = sim.err.strip().splitlines()
                if full_screen:
                    self.assertEqual(lines, [])
                    self.assertEqual(self.x.mode_size(), (640, 480))
                else:
                    self.assertEqual(len(lines), 1, sim.err)
                    self.assertIn("holds the keyboard", lines[0])
                    self.assertEqual(self.x.video_mode(), self.before)
                if end == "Escape":
                    holder.wait(timeout=10)
                self.end(sim, end)
                holder.kill()
                holder.wait()
                self.assertEqual(self.x.video_mode(), self.before)

    def test_two_lifesims_end_in_either_order(self):
        for first_ends_first in (True, False):
            with self.subTest(first_ends_first=first_ends_first):
                first = self.start()
                second = self.start()
                self.assertIn("holds the keyboard", second.err)
                self.assertEqual(self.x.mode_size(), (640, 480))
                ends = [(first, "Escape"), (second, "SIGTERM")]
                for sim, how in ends if first_ends_first else ends[::-1]:
                    self.end(sim, how)
                self.assertEqual(self.x.video_mode(), self.before)


if __name__ == "__main__":
    main()
