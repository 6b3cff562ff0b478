"""lifesim feeds the sound device with silence from start to exit.

There is no /dev/dsp on these machines, so the program runs with the OSS
emulation library of alsa-oss preloaded: its open("/dev/dsp") then reaches
an ALSA configuration of this test's own, a file plugin that captures the
stream into a file (and plays it into the null device). The capture shows
what the output thread wrote.

alsa-oss exists for one architecture per system only, the 64-bit one here.
A 32-bit lifesim gets the project's stand-in instead (dspcapture.cpp), which
sends the bytes written to "/dev/dsp" straight into the capture file: the
same test then checks the same output thread.
"""
import os
import signal
import subprocess
import tempfile
import time

from lifesim_e2e import LIFESIM, ServerTestCase, main

LIBAOSS = "/usr/lib/x86_64-linux-gnu/libaoss.so"
DSPCAPTURE = os.environ.get("LIFESIM_DSPCAPTURE",
                            os.path.join(os.path.dirname(LIFESIM), "..", "tests", "e2e", "dspcapture.so"))
BLOCK = 4096
BYTES_PER_SECOND = 44100 * 2 * 2

ASOUNDRC = """
pcm.dsp0 {
  type file
  slave.pcm "silent"
  file "%s"
  format "raw"
}
pcm.silent { type null }
"""


def is_32_bit(path):
    with open(path, "rb") as f:
        return f.read(5)[4] == 1  # EI_CLASS: ELFCLASS32


def device_library():
    return DSPCAPTURE if is_32_bit(LIFESIM) else LIBAOSS


def preload():
    """The device library, behind the sanitizer runtime when lifesim was
    built with it (that runtime refuses to start unless it is loaded first)."""
    libs = [device_library()]
    out = subprocess.run(["ldd", LIFESIM], capture_output=True, text=True).stdout
    for line in out.splitlines():
        if "libasan" in line and "=>" in line:
            libs.insert(0, line.split("=>")[1].split()[0])
    return ":".join(libs)


def capture_stats(path):
    """(size, non-zero bytes) of the capture file."""
    with open(path, "rb") as f:
        data = f.read()
    return len(data), len(data) - data.count(0)


class AudioOss(ServerTestCase):
    def setUp(self):
        self.assertTrue(os.path.exists(device_library()),
                        "%s is missing (alsa-oss from tools/packages.sh, or the build)" % device_library())
        self.dir = tempfile.TemporaryDirectory(prefix="lifesim-oss-")
        self.addCleanup(self.dir.cleanup)
        self.capture = os.path.join(self.dir.name, "dsp.raw")
        conf = os.path.join(self.dir.name, "asoundrc")
        with open(conf, "w") as f:
            f.write(ASOUNDRC % self.capture)
        self.env = dict(self.x.env, LD_PRELOAD=preload(), ALSA_CONFIG_PATH=conf,
                        LIFESIM_DSP_CAPTURE=self.capture)

    def start(self, size):
        """A lifesim, once its output thread has written size bytes."""
        sim = self.launch(self.env, wait=3)
        deadline = time.monotonic() + 10
        while not os.path.exists(self.capture) or os.path.getsize(self.capture) < size:
            self.assertLess(time.monotonic(), deadline, "nothing reached the sound device")
            sim.pump(0.05)
        return sim

    def test_silence_is_written_in_real_time_until_exit(self):
        sim = self.start(8 * BLOCK)
        t0, s0 = time.monotonic(), os.path.getsize(self.capture)
        while time.monotonic() - t0 < 2.0:
            sim.pump(0.05)
        t1, s1 = time.monotonic(), os.path.getsize(self.capture)
        rate = (s1 - s0) / (t1 - t0)
        # The null device takes data at once: the thread itself keeps to
        # about real time instead of racing ahead.
        self.assertGreater(rate, BYTES_PER_SECOND * 0.5)
        self.assertLess(rate, BYTES_PER_SECOND * 1.5)

        self.x.key("Escape")
        self.assertEqual(sim.wait_exit(), 0, sim.err)
        self.assertEqual(sim.err, "")
        size, nonzero = capture_stats(self.capture)
        self.assertGreater(size, 0)
        self.assertEqual(size % BLOCK, 0, "blocks are 4096 bytes")
        self.assertEqual(nonzero, 0, "the simulator plays nothing: silence only")

    def test_terminate_signal_with_the_device_open_exits_promptly(self):
        sim = self.start(1)
        t0 = time.monotonic()
        os.kill(sim.proc.pid, signal.SIGTERM)
        self.assertEqual(sim.wait_exit(timeout=10), 255)
        self.assertLess(time.monotonic() - t0, 3.0, "the at-exit stop held up the exit")
        self.assertIn("appstub.linux signal handler 15", sim.err)
        size, nonzero = capture_stats(self.capture)
        self.assertEqual(nonzero, 0)


if __name__ == "__main__":
    main()
