"""lifesim opens full screen, keeps time, quits on Escape and restores the
screen; the same restoration on every other way it can end: signals at any
moment of start-up, a fault, a standard output closed or never read, an X
protocol error, a fault on the audio thread, memory refused."""
import array
import fcntl
import os
import re
import signal
import subprocess
import tempfile
import termios
import time

from lifesim_e2e import (BOTTOM, GRABCHECK, STARTUP_REPORT, TOP, VAR_OK, ServerTestCase, main,
                         marker, read_retrace, with_retrace, with_shim)

SIGNAL_TEXT = "appstub.linux signal handler %d"


def signalled(signo):
    """The status and standard error (a pattern) of an end by signal signo."""
    return 255, re.escape(SIGNAL_TEXT % signo)


class Lifecycle(ServerTestCase):
    def setUp(self):
        self.before = self.x.video_mode()

    def tearDown(self):
        self.assertEqual(self.x.video_mode(), self.before, "video mode not restored")

    def launch(self, env=None, wait=0, **kw):
        self.windows_before = self.windows()
        return super().launch(env, wait, **kw)

    def test_full_screen_run_and_escape(self):
        # Started from another directory: nothing it needs is looked up there.
        sim = self.launch(wait=3, cwd="/")
        self.assertEqual(self.x.mode_size(), (640, 480))
        wanted = ("Width: 640", "Height: 480", "Map State: IsViewable", "Override Redirect State: yes",
                  "Absolute upper-left X:  0", "Absolute upper-left Y:  0")
        infos = [self.x.run("xwininfo", "-id", wid, check=False).stdout for wid in self.windows()]
        self.assertTrue(any(all(w in info for w in wanted) for info in infos),
                        "no mapped 640x480 override-redirect window at 0,0:\n" + "\n".join(infos))
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
        sim = self.launch(wait=3, program=STARTUP_REPORT)
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
                    sim = self.launch(with_retrace(self.x.env, out.name, hz, offer, jitter))
                    sim.wait_for(BOTTOM, 20)
                    self.x.key("Escape")
                    self.assertEqual(sim.wait_exit(), 0, sim.err)
                    counts, intervals = read_retrace(out.name)
                self.assertEqual(intervals[-15:], [later] * 15, counts)
                if offer == "SGI":
                    self.assertGreaterEqual(counts["refused"], 1, counts)

    def windows(self):
        tree = self.x.run("xwininfo", "-root", "-children").stdout
        return {line.split()[0] for line in tree.splitlines() if line.strip().startswith("0x")}

    def check_clean_end(self, sim, status, err):
        """The process ended with `status` and standard error all matched by
        the pattern `err`, the video mode is back, none of its windows is
        left and another client can take the keyboard and the pointer."""
        self.assertEqual(sim.wait_exit(timeout=30), status, sim.err)
        self.assertIsNotNone(re.fullmatch(err, sim.err), sim.err)
        self.assertEqual(self.x.video_mode(), self.before, "video mode not restored")
        self.assertEqual(self.windows(), self.windows_before)
        grabs = self.x.run(GRABCHECK, check=False).stdout.split()
        self.assertEqual(grabs, ["keyboard=GrabSuccess", "pointer=GrabSuccess"])
        # An interrupted frame writes nothing after its last marker.
        self.assertTrue(sim.out == "" or sim.out.endswith(">      "), sim.out[-80:])

    def test_signals_sent_from_outside_are_terminate_requests(self):
        # A fault signal sent by another process is a request too, not a
        # crash. Last, SIGTERM with the exit watchdog's timer call (the
        # process's second) slowed by 3 ms: a 1 ms tick still running when the
        # watchdog's handler goes in would end the process there, before the
        # mode is put back.
        slowed = with_shim(self.x.env, "setitimer", "slow", wait_ms=3, count=2)
        cases = [(signo, None) for signo in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP,
                                             signal.SIGPIPE, signal.SIGSEGV)]
        for signo, env in cases + [(signal.SIGTERM, slowed)] * 3:
            with self.subTest(signal=signo, slowed_watchdog=env is not None):
                sim = self.launch(env, wait=3)
                os.kill(sim.proc.pid, signo)
                self.check_clean_end(sim, *signalled(signo))

    def test_a_call_made_to_misbehave_ends_cleanly(self):
        # Exact moments through the call shim. A terminate request raised
        # inside a start-up call, after it did its work, ends before the first
        # frame. A fault inside the buffer swap, or on the audio thread as it
        # opens the sound device once frames are running, is reported once.
        # The program's own allocations refused from 1.5 s on, once (the exit
        # finds memory again) or for good (the exit must do without). An X
        # protocol error nothing traps is one line.
        memory = (255, r"lifesim: out of memory \(\d+ bytes\)\n")
        x_error = (1, r"[^\n]*X protocol error[^\n]*X_GLXSwapBuffers[^\n]*\n")
        cases = [
            ("module start-up", "XOpenDisplay", "signal:15", {}, signalled(signal.SIGTERM)),
            ("mode switch", "XF86VidModeSwitchToMode", "signal:2", {}, signalled(signal.SIGINT)),
            ("sync test", "glXSwapBuffers", "signal:1", {"count": 20}, signalled(signal.SIGHUP)),
            ("inside the driver", "glXSwapBuffers", "signal:11", {"count": 40},
             signalled(signal.SIGSEGV)),
            ("fault in the swap", "glXSwapBuffers", "fault", {"after_ms": 1500},
             signalled(signal.SIGSEGV)),
            ("fault on the audio thread", "open", "fault", {"thread": "other", "wait_ms": 1500},
             signalled(signal.SIGSEGV)),
            ("one refusal", "malloc", "fail", {"after_ms": 1500, "count": 1}, memory),
            ("all refused", "malloc", "fail", {"after_ms": 1500, "count": 0}, memory),
            ("X error", "glXSwapBuffers", "xerror", {"after_ms": 1500}, x_error),
        ]
        for name, call, action, plan, (status, err) in cases:
            with self.subTest(moment=name):
                sim = self.launch(with_shim(self.x.env, call, action, **plan))
                self.check_clean_end(sim, status, err)
                if action.startswith("signal:"):
                    self.assertNotIn(TOP, sim.out)

    def test_terminate_request_at_any_delay_from_the_start(self):
        # The request waits blocked until lifesim takes it, so one sent before
        # its entry counts too.
        for delay in (0.0, 0.03, 0.08, 0.15, 0.25, 0.4, 0.6, 0.8, 1.0, 1.2, 1.5):
            with self.subTest(delay=delay):
                sim = self.launch(blocked=(signal.SIGTERM,))
                time.sleep(delay)
                os.kill(sim.proc.pid, signal.SIGTERM)
                self.check_clean_end(sim, *signalled(signal.SIGTERM))

    def test_standard_output_closed_or_never_read(self):
        # Its reader gone (lifesim | head): ended like a terminate request.
        sim = self.launch()
        out = sim.proc.stdout
        os.set_blocking(out.fileno(), True)
        head = subprocess.Popen(["head", "-c", "100"], stdin=out, stdout=subprocess.PIPE)
        out.close()  # head is the only reader
        self.assertEqual(len(head.communicate(timeout=30)[0]), 100)
        self.check_clean_end(sim, *signalled(signal.SIGPIPE))
        # A reader that never reads (lifesim | sleep 1000): once the pipe is
        # full the markers go nowhere, and Escape and terminate requests still
        # end lifesim. Nothing reads its output until it has ended.
        for end, (status, err) in (("Escape", (0, "")), (signal.SIGTERM, signalled(signal.SIGTERM))):
            with self.subTest(end=end):
                sim = self.launch()
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
                self.check_clean_end(sim, status, err)


if __name__ == "__main__":
    main()
