"""lifesim opens full screen, keeps time, quits on Escape and restores the
screen; the same restoration on every other way it can end: signals at any
moment of start-up, a fault, a standard output closed or never read, an X
protocol error, a fault on the audio thread, memory refused."""
import array
import fcntl
import os
import signal
import subprocess
import tempfile
import termios
import time

from lifesim_e2e import (BOTTOM, GRABCHECK, STARTUP_REPORT, TOP, VAR_OK, Lifesim,
                         ServerTestCase, main, marker, read_retrace, with_retrace, with_shim)

SIGNAL_TEXT = "appstub.linux signal handler %d"


class Lifecycle(ServerTestCase):
    def setUp(self):
        self.before = self.x.video_mode()

    def tearDown(self):
        self.assertEqual(self.x.video_mode(), self.before, "video mode not restored")

    def start(self, env=None, **kw):
        sim = Lifesim(env or self.x.env, **kw)
        self.addCleanup(sim.kill)
        sim.wait_for(TOP, 3)
        return sim

    def test_full_screen_run_and_escape(self):
        sim = self.start()
        self.assertEqual(self.x.mode_size(), (640, 480))
        tree = self.x.run("xwininfo", "-root", "-children").stdout
        ids = [line.split()[0] for line in tree.splitlines() if line.strip().startswith("0x")]
        found = False
        for wid in ids:
            info = self.x.run("xwininfo", "-id", wid, check=False).stdout
            if ("Width: 640" in info and "Height: 480" in info and "Map State: IsViewable" in info
                    and "Override Redirect State: yes" in info
                    and "Absolute upper-left X:  0" in info and "Absolute upper-left Y:  0" in info):
                found = True
        self.assertTrue(found, "no mapped 640x480 override-redirect window at 0,0:\n" + tree)
        # Keyboard and pointer are grabbed: another client cannot take them.
        grabs = self.x.run(GRABCHECK, check=False).stdout.split()
        self.assertEqual(grabs, ["keyboard=AlreadyGrabbed", "pointer=AlreadyGrabbed"])

        self.x.key("Escape")
        self.assertEqual(sim.wait_exit(), 0, sim.err)
        self.assertEqual(sim.err, "")
        start = [VAR_OK, marker("INITSIM IN"), marker("TRACETABLEAU IN"), marker("TRACETABLEAU OUT"),
                 marker("REFRESHCELLS IN"), marker("REFRESHCELLS OUT"), marker("INITSIM OUT"), TOP]
        self.assertTrue(sim.out.startswith("".join(start)), sim.out[:400])
        self.assertTrue(sim.out.endswith(BOTTOM))
        self.assertEqual(sim.out.count(TOP), sim.out.count(BOTTOM))
        self.assertNotIn("\n", sim.out)

    def test_start_up_state_and_a_full_event_queue(self):
        # The same program with a report of start-up's work when it closes
        # the display: the event hook carries polled input (0) and the queue
        # (-10000), the flip hook is the second id, both fonts are built in,
        # and the unread queue stops at 256 after some 600 key events.
        sim = self.start(program=STARTUP_REPORT)
        self.x.run("xdotool", "key", "--delay", "0", *(["x"] * 300))
        self.x.key("Escape")
        self.assertEqual(sim.wait_exit(), 0, sim.err)
        self.assertEqual(sim.err.strip(), "startup event_hook=0 priorities=0,-10000 flip_hook=1 "
                         "gldrawtextfont.bin=1536 zorbefont.bin=1536 queued=256")

    def test_vertical_sync_under_simulated_retraces(self):
        # At 60 Hz, steady or with retraces 2 ms early or late, the sync test
        # sees the retrace and every frame after it swaps with sync. At 75 Hz
        # it does not: where the display lets sync be turned off, frames swap
        # without it; where it refuses interval 0, lifesim runs on paced.
        cases = [(60, "EXT,SGI", 0, 1), (60, "EXT,SGI", 2, 1), (75, "EXT,SGI", 0, 0),
                 (75, "MESA", 0, 0), (75, "SGI", 0, 1)]
        for hz, offer, jitter, later in cases:
            with self.subTest(hz=hz, offer=offer, jitter=jitter):
                with tempfile.NamedTemporaryFile(suffix=".retrace") as out:
                    sim = Lifesim(with_retrace(self.x.env, out.name, hz, offer, jitter))
                    self.addCleanup(sim.kill)
                    sim.wait_for(BOTTOM, 20)
                    self.x.key("Escape")
                    self.assertEqual(sim.wait_exit(), 0, sim.err)
                    counts, intervals = read_retrace(out.name)
                self.assertEqual(intervals[-15:], [later] * 15, counts)
                if offer == "SGI":
                    self.assertGreaterEqual(counts["refused"], 1, counts)

    def test_started_from_another_directory(self):
        sim = self.start(cwd="/")
        self.x.key("Escape")
        self.assertEqual(sim.wait_exit(), 0, sim.err)

    def windows(self):
        tree = self.x.run("xwininfo", "-root", "-children").stdout
        return {line.split()[0] for line in tree.splitlines() if line.strip().startswith("0x")}

    def check_clean_end(self, sim, status, err, windows_before):
        """The process ended with `status` and exactly `err` on standard error,
        the video mode is back, none of its windows is left and another
        client can take the keyboard and the pointer."""
        self.assertEqual(sim.wait_exit(timeout=10), status, sim.err)
        self.assertEqual(sim.err, err)
        self.assertEqual(self.x.video_mode(), self.before, "video mode not restored")
        self.assertEqual(self.windows(), windows_before)
        grabs = self.x.run(GRABCHECK, check=False).stdout.split()
        self.assertEqual(grabs, ["keyboard=GrabSuccess", "pointer=GrabSuccess"])
        # An interrupted frame writes nothing after its last marker.
        self.assertTrue(sim.out == "" or sim.out.endswith(">      "), sim.out[-80:])

    def check_signal(self, signo, env=None):
        windows = self.windows()
        sim = self.start(env)
        os.kill(sim.proc.pid, signo)
        self.check_clean_end(sim, 255, SIGNAL_TEXT % signo, windows)

    def test_sigterm_reports_and_restores(self):
        self.check_signal(signal.SIGTERM)
        # The exit watchdog's timer call (the process's second) slowed by
        # 3 ms: a 1 ms tick still running when the watchdog's handler goes in
        # would end the process there, before the mode is put back.
        for trial in range(3):
            with self.subTest(slowed_watchdog=trial):
                self.check_signal(signal.SIGTERM, with_shim(self.x.env, "setitimer", "slow",
                                                            wait_ms=3, count=2))

    def test_sent_signals_are_handled_like_sigterm(self):
        # A fault signal sent by another process is a request too, not a crash.
        for signo in (signal.SIGINT, signal.SIGHUP, signal.SIGPIPE, signal.SIGSEGV):
            with self.subTest(signal=signo):
                self.check_signal(signo)

    def test_terminate_request_at_every_moment_of_start_up(self):
        # Exact moments through the call shim: the signal is raised inside the
        # call, after it did its work.
        moments = [
            ("module start-up", "XOpenDisplay", signal.SIGTERM, {}),
            ("mode switch", "XF86VidModeSwitchToMode", signal.SIGINT, {}),
            ("sync test", "glXSwapBuffers", signal.SIGHUP, {"count": 20}),
            ("inside the driver", "glXSwapBuffers", signal.SIGSEGV, {"count": 40}),
        ]
        for name, call, signo, plan in moments:
            with self.subTest(moment=name):
                windows = self.windows()
                sim = Lifesim(with_shim(self.x.env, call, "signal:%d" % signo, **plan))
                self.addCleanup(sim.kill)
                self.check_clean_end(sim, 255, SIGNAL_TEXT % signo, windows)
                self.assertNotIn(TOP, sim.out)
        # And a sweep of real delays from the start; the request waits blocked
        # until lifesim takes it, so one sent before its entry counts too.
        for delay in (0.0, 0.03, 0.08, 0.15, 0.25, 0.4, 0.6, 0.8, 1.0, 1.2, 1.5):
            with self.subTest(delay=delay):
                windows = self.windows()
                sim = Lifesim(self.x.env, blocked=(signal.SIGTERM,))
                self.addCleanup(sim.kill)
                time.sleep(delay)
                os.kill(sim.proc.pid, signal.SIGTERM)
                self.check_clean_end(sim, 255, SIGNAL_TEXT % signal.SIGTERM, windows)

    def test_fault_inside_buffer_swap_reports_once_and_restores(self):
        windows = self.windows()
        sim = Lifesim(with_shim(self.x.env, "glXSwapBuffers", "fault", after_ms=1500))
        self.addCleanup(sim.kill)
        self.check_clean_end(sim, 255, SIGNAL_TEXT % signal.SIGSEGV, windows)

    def test_fault_on_the_audio_thread_ends_from_the_main_thread(self):
        # The output thread opens the sound device; the open faults once the
        # display is up and frames are running.
        windows = self.windows()
        sim = Lifesim(with_shim(self.x.env, "open", "fault", thread="other", wait_ms=1500))
        self.addCleanup(sim.kill)
        self.check_clean_end(sim, 255, SIGNAL_TEXT % signal.SIGSEGV, windows)

    def test_memory_refused_mid_run(self):
        # The program's own allocations refused from 1.5 s on: once (the
        # exit finds memory again) or for good (the exit must do without).
        for count in (1, 0):
            with self.subTest(refusals="one" if count else "all"):
                windows = self.windows()
                sim = Lifesim(with_shim(self.x.env, "malloc", "fail", after_ms=1500, count=count))
                self.addCleanup(sim.kill)
                sim.wait_exit(timeout=30)
                self.assertRegex(sim.err, r"^lifesim: out of memory \(\d+ bytes\)\n$")
                self.check_clean_end(sim, 255, sim.err, windows)

    def test_untrapped_x_error_is_reported_in_one_line(self):
        windows = self.windows()
        sim = Lifesim(with_shim(self.x.env, "glXSwapBuffers", "xerror", after_ms=1500))
        self.addCleanup(sim.kill)
        status = sim.wait_exit(timeout=10)
        lines = sim.err.splitlines()
        self.assertEqual(len(lines), 1, sim.err)
        self.assertIn("X protocol error", lines[0])
        self.assertIn("X_GLXSwapBuffers", lines[0])
        self.check_clean_end(sim, status, sim.err, windows)
        self.assertEqual(status, 1)

    def test_standard_output_closed_or_never_read(self):
        # Its reader gone (lifesim | head): ended like a terminate request.
        windows = self.windows()
        sim = Lifesim(self.x.env)
        self.addCleanup(sim.kill)
        out = sim.proc.stdout
        os.set_blocking(out.fileno(), True)
        head = subprocess.Popen(["head", "-c", "100"], stdin=out, stdout=subprocess.PIPE)
        out.close()  # head is the only reader
        self.assertEqual(len(head.communicate(timeout=30)[0]), 100)
        self.check_clean_end(sim, 255, SIGNAL_TEXT % signal.SIGPIPE, windows)
        # A reader that never reads (lifesim | sleep 1000): once the pipe is
        # full the markers go nowhere, and Escape and terminate requests still
        # end lifesim. Nothing reads its output until it has ended.
        for end, status, err in (("Escape", 0, ""),
                                 (signal.SIGTERM, 255, SIGNAL_TEXT % signal.SIGTERM)):
            with self.subTest(end=end):
                windows = self.windows()
                sim = Lifesim(self.x.env)
                self.addCleanup(sim.kill)
                fd = sim.proc.stdout.fileno()
                fcntl.fcntl(fd, fcntl.F_SETPIPE_SZ, 4096)
                # The first marker follows the display's creation; then the
                # pipe takes what it takes and stays as it is.
                queued, last, still = array.array("i", [0]), -1, 0
                deadline = time.monotonic() + 30
                while still < 10:
                    self.assertIsNone(sim.proc.poll(), sim.err)
                    self.assertLess(time.monotonic(), deadline, "standard output never settled")
                    time.sleep(0.1)
                    fcntl.ioctl(fd, termios.FIONREAD, queued)
                    still = still + 1 if queued[0] == last and last > 0 else 0
                    last = queued[0]
                time.sleep(0.5)  # frames go on against the full pipe
                if end == "Escape":
                    self.x.key("Escape")
                else:
                    os.kill(sim.proc.pid, end)
                try:
                    sim.proc.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    self.fail("lifesim did not end with its standard output full")
                self.check_clean_end(sim, status, err, windows)


if __name__ == "__main__":
    main()
