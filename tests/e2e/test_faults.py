"""Faults from outside: no X server, a server without video modes, the X
server dying mid-run. Each ends with a message naming the cause, never with
a crash, a hang or a process left behind."""
import os
import signal
import subprocess
import time
import unittest

from lifesim_e2e import LIFESIM, TOP, Lifesim, XServer, main


def run_alone(env, timeout=30):
    return subprocess.run([LIFESIM], env=env, capture_output=True, text=True, timeout=timeout)


class NoServer(unittest.TestCase):
    def check_two_lines(self, env):
        r = run_alone(env)
        self.assertNotEqual(r.returncode, 0)
        self.assertGreater(r.returncode, 0, "ended by a signal: %d" % r.returncode)
        self.assertLess(r.returncode, 128)
        lines = r.stderr.strip().splitlines()
        self.assertEqual(len(lines), 2, r.stderr)
        self.assertIn("no X server", lines[0])
        self.assertIn("window", lines[1])
        self.assertNotIn("<MAIN LOOP TOP OK>", r.stdout)

    def test_no_display_variable(self):
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        self.check_two_lines(env)

    def test_display_that_names_no_server(self):
        env = dict(os.environ, DISPLAY=":93")
        self.check_two_lines(env)


class WithoutVideoModes(unittest.TestCase):
    def test_xvfb_runs_in_a_window(self):
        x = XServer(xvfb=True)
        self.addCleanup(x.stop)
        sim = Lifesim(x.env)
        self.addCleanup(sim.kill)
        sim.wait_for(TOP, 5)
        lines = sim.err.strip().splitlines()
        self.assertEqual(len(lines), 1, sim.err)
        self.assertIn("has no video-mode extension", lines[0])
        self.assertIn(x.display, lines[0])
        x.key("Escape")
        self.assertEqual(sim.wait_exit(), 0, sim.err)


class ServerDies(unittest.TestCase):
    def test_killed_server_ends_lifesim_promptly(self):
        x = XServer()
        self.addCleanup(x.stop)
        sim = Lifesim(x.env)
        self.addCleanup(sim.kill)
        sim.wait_for(TOP, 3)
        os.kill(x.pid, signal.SIGKILL)
        killed = time.monotonic()
        status = sim.wait_exit(timeout=10)
        self.assertLess(time.monotonic() - killed, 1.5)
        self.assertNotEqual(status, 0)
        self.assertGreater(status, 0, "ended by signal %d" % -status)
        self.assertIn("lost the connection to the X server", sim.err)
        # Nothing of ours is left running.
        time.sleep(0.2)
        ps = subprocess.run(["pgrep", "-f", LIFESIM], capture_output=True, text=True).stdout.split()
        self.assertNotIn(str(sim.proc.pid), ps)


if __name__ == "__main__":
    main()
