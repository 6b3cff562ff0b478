"""The Debian package as a user gets it: made by CPack from this build,
checked by lintian, unpacked into a scratch root. The unpacked program runs
on a test X server, and its manual page describes what that program does."""
import glob
import gzip
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

from lifesim_e2e import SOURCE_DIR, TOP, Lifesim, XServer, main, marker, read_text

BUILD_DIR = os.environ.get("LIFESIM_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
PROGRAM = "usr/games/lifesim"
MANUAL = "usr/share/man/man6/lifesim.6.gz"
DESKTOP = "usr/share/applications/lifesim.desktop"
ICON = "usr/share/icons/hicolor/64x64/apps/lifesim.png"
DOCS = ("usr/share/doc/lifesim/copyright", "usr/share/doc/lifesim/changelog.gz")


def squeeze(text):
    return " ".join(text.split())


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="lifesim-package-")
        subprocess.run(["cpack", "--config", os.path.join(BUILD_DIR, "CPackConfig.cmake"),
                        "-B", cls.tmp], check=True, capture_output=True, timeout=300)
        debs = glob.glob(os.path.join(cls.tmp, "lifesim_*.deb"))
        assert len(debs) == 1, debs
        cls.deb = debs[0]
        cls.root = os.path.join(cls.tmp, "root")
        subprocess.run(["dpkg", "-x", cls.deb, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def field(self, name):
        return subprocess.run(["dpkg-deb", "-f", self.deb, name], check=True,
                              capture_output=True, text=True).stdout.strip()

    def test_package_holds_exactly_the_installed_files_and_lintian_accepts_it(self):
        listing = subprocess.run(["dpkg-deb", "-c", self.deb], check=True, capture_output=True,
                                 text=True).stdout.splitlines()
        files = {line.split()[-1].lstrip("./") for line in listing if line.startswith("-")}
        self.assertEqual(files, {PROGRAM, MANUAL, DESKTOP, ICON, *DOCS})
        self.assertTrue(any(l.startswith("-rwxr-xr-x root/root") and l.endswith(PROGRAM)
                            for l in listing), listing)

        self.assertEqual(self.field("Package"), "lifesim")
        self.assertEqual(self.field("Section"), "games")
        # Computed from the program's shared libraries, not written by hand.
        depends = {d.split()[0] for d in self.field("Depends").split(", ")}
        self.assertLessEqual({"libc6", "libstdc++6", "libx11-6", "libxxf86vm1"}, depends)
        self.assertTrue({"libgl1", "libglx0"} & depends, depends)
        with gzip.open(os.path.join(self.root, DOCS[1]), "rt") as f:
            self.assertTrue(f.readline().startswith("lifesim (%s) " % self.field("Version")))

        with open(os.path.join(self.root, DESKTOP)) as f:
            entry = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        self.assertTrue(os.access(os.path.join(self.root, "usr/games", entry["Exec"].split()[0]),
                                  os.X_OK), entry)
        self.assertEqual(entry["Categories"], "Game;Simulation;")
        with open(os.path.join(self.root, ICON), "rb") as f:
            head = f.read(24)
        self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(struct.unpack(">II", head[16:24]), (64, 64))  # as its folder says
        self.assertEqual(os.path.basename(ICON), entry["Icon"] + ".png")

        lint = subprocess.run(["lintian", "--fail-on", "error", self.deb], capture_output=True,
                              text=True, timeout=300)
        self.assertEqual(lint.returncode, 0, lint.stdout + lint.stderr)  # no error tag

    def test_installed_program_runs_as_its_manual_says(self):
        program = os.path.join(self.root, PROGRAM)
        man = subprocess.run(["man", "--warnings", "-l", os.path.join(self.root, MANUAL)],
                             env=dict(os.environ, MANWIDTH="100"), capture_output=True,
                             text=True, timeout=60)
        self.assertEqual((man.returncode, man.stderr), (0, ""))
        page = squeeze(man.stdout)
        self.assertIn("LIFESIM(6)", page)
        self.assertIn("lifesim %s" % self.field("Version"), page)
        statuses = re.search(r"EXIT STATUS (.*?) ENVIRONMENT ", page).group(1)

        x = XServer()
        self.addCleanup(x.stop)
        sim = Lifesim(x.env, program=program)
        self.addCleanup(sim.kill)
        sim.wait_for(TOP, 3)
        sim.stop_between_frames()
        version_line, off = read_text(x.screenshot(), 10, 270, 40)
        sim.cont()
        self.assertEqual((version_line.split()[2], off), (self.field("Version"), 0))
        x.key("2")  # so that every kind of marker is written
        sim.wait_for(marker("AFFICHEBINAIRE OUT"))
        x.key("Escape")
        self.assertEqual(sim.wait_exit(), 0, sim.err)
        self.assertEqual(sim.err, "")
        markers = set(re.findall(r"<[A-Z ]+>", sim.out))
        self.assertEqual(len(markers), 11, markers)
        for m in markers:
            self.assertTrue(m in page, "%s is missing from the manual" % m)
        self.assertRegex(statuses, r"^0 Escape")

        # With no display at all: two lines on standard error, both in the
        # manual with the display's name as a placeholder, and status 1.
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        alone = subprocess.run([program], env=env, capture_output=True, text=True, timeout=30)
        lines = alone.stderr.splitlines()
        self.assertEqual((alone.returncode, len(lines)), (1, 2), alone.stderr)
        for line in lines:
            documented = squeeze(line.replace("(DISPLAY is not set)", "name"))
            self.assertTrue(documented in page, "%r is missing from the manual" % documented)
        self.assertIn(" 1 No display could be opened", statuses)


if __name__ == "__main__":
    main()
