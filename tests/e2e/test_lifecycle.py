"""lifesim opens full screen, keeps time, quits on Escape and restores the
screen; the same restoration after signals."""
import os
import signal
import subprocess
import time

from lifesim_e2e import (BOTTOM, GRABCHECK, STARTUP_REPORT, TOP, VAR_OK, Lifesim,
                         ServerTestCase, main, marker)


class Lifecycle(ServerTestCase):
    def setUp(self):
        self.before = self.x.video_mode()

    def tearDown(self):
        self.assertEqual(self.x.video_mode(), self.before, "video mode not restored")

    def start(self, **kw):
        sim = Lifesim(self.x.env, **kw)
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

    def test_started_from_another_directory(self):
        sim = self.start(cwd="/")
        self.x.key("Escape")
        self.assertEqual(sim.wait_exit(), 0, sim.err)

    def check_signal(self, signo):
        sim = self.start()
        os.kill(sim.proc.pid, signo)
        status = sim.wait_exit(timeout=5)
        self.assertEqual(status, 255, sim.err)
        self.assertEqual(sim.err, "appstub.linux signal handler %d" % signo)

    def test_sigterm_reports_and_restores(self):
        self.check_signal(signal.SIGTERM)

    def test_sigint_and_sighup_are_handled_like_sigterm(self):
        self.check_signal(signal.SIGINT)
        self.check_signal(signal.SIGHUP)

    def test_crash_signal_reports_and_restores(self):
        self.check_signal(signal.SIGSEGV)


if __name__ == "__main__":
    main()
