"""The Debian package as a distribution and a user get it: built twice by
tools/package.sh (through debian/) from this work tree, in two folders under
umasks 0022 and 0002, which must give the same bytes; checked by lintian,
hardening-check, appstreamcli and desktop-file-validate; unpacked into a
scratch root, where the program runs on a test X server and its manual page
describes what that program does."""
import email.utils
import glob
import gzip
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest
import zlib

from lifesim_e2e import SOURCE_DIR, TOP, Lifesim, XServer, main, marker, read_text

PROGRAM = "usr/games/lifesim"
MANUAL = "usr/share/man/man6/lifesim.6.gz"
DESKTOP = "usr/share/applications/lifesim.desktop"
METAINFO = "usr/share/metainfo/org.lifesim.lifesim.metainfo.xml"
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
ICONS = {"usr/share/icons/hicolor/%dx%d/apps/lifesim.png" % (n, n): n for n in ICON_SIZES}
SVG = "usr/share/icons/hicolor/scalable/apps/lifesim.svg"
DOCS = ("usr/share/doc/lifesim/copyright", "usr/share/doc/lifesim/changelog.gz")
HARDENING = ("Position Independent Executable", "Stack protected", "Fortify Source functions",
             "Read-only relocations", "Immediate binding")


def squeeze(text):
    return " ".join(text.split())


def run(*args, **kw):
    return subprocess.run(args, capture_output=True, text=True, timeout=kw.pop("timeout", 300),
                          **kw)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def png_header_and_corner(path):
    """(width, height, bit depth, colour type) and the top-left pixel's bytes.
    Every PNG filter leaves the first pixel of the first row as it is."""
    data = read_bytes(path)
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    header = struct.unpack(">IIBB", data[16:26])
    idat, pos = b"", 8
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        if kind == b"IDAT":
            idat += data[pos + 8:pos + 8 + length]
        pos += 12 + length
    return header, zlib.decompress(idat)[1:5]


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="lifesim-package-")
        cls.debs, cls.logs = [], []
        for folder, umask in (("one", 0o022), ("two", 0o002)):
            build = os.path.join(cls.tmp, folder)
            out = subprocess.run(["bash", os.path.join(SOURCE_DIR, "tools", "package.sh")],
                                 env=dict(os.environ, BUILD_DIR=build), capture_output=True,
                                 text=True, timeout=1200, preexec_fn=lambda: os.umask(umask))
            assert out.returncode == 0, out.stdout[-3000:] + out.stderr[-3000:]
            debs = glob.glob(os.path.join(build, "lifesim_*.deb"))
            assert len(debs) == 1, debs
            cls.debs.append(debs[0])
        cls.deb = cls.debs[0]
        cls.root = os.path.join(cls.tmp, "root")
        subprocess.run(["dpkg", "-x", cls.deb, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def field(self, name):
        return subprocess.run(["dpkg-deb", "-f", self.deb, name], check=True,
                              capture_output=True, text=True).stdout.strip()

    def path(self, name):
        return os.path.join(self.root, name)

    def test_package_is_reproducible_hardened_and_accepted_by_the_checkers(self):
        one, two = (read_bytes(d) for d in self.debs)
        if one != two:
            diff = run("diffoscope", "--text", "-", *self.debs, timeout=600)
            self.fail("the two builds differ:\n" + diff.stdout[-6000:])

        listing = run("dpkg-deb", "-c", self.deb, check=True).stdout.splitlines()
        files = {line.split()[-1].lstrip("./") for line in listing if line.startswith("-")}
        self.assertEqual(files, {PROGRAM, MANUAL, DESKTOP, METAINFO, SVG, *ICONS, *DOCS})
        self.assertTrue(any(l.startswith("-rwxr-xr-x root/root") and l.endswith(PROGRAM)
                            for l in listing), listing)
        loose = [l for l in listing if not l.startswith(("drwxr-xr-x root/root",
                                                         "-rw-r--r-- root/root",
                                                         "-rwxr-xr-x root/root"))]
        self.assertEqual(loose, [])

        self.assertEqual(self.field("Package"), "lifesim")
        self.assertEqual(self.field("Section"), "games")
        self.assertEqual(self.field("Homepage"), "https://lifesim.org")
        self.assertNotIn(".invalid", self.field("Maintainer"))
        # Computed from the program's shared libraries, not written by hand.
        depends = {d.split()[0] for d in self.field("Depends").split(", ")}
        self.assertLessEqual({"libc6", "libstdc++6", "libx11-6", "libxxf86vm1"}, depends)
        self.assertTrue({"libgl1", "libglx0"} & depends, depends)
        with gzip.open(self.path(DOCS[1]), "rt") as f:
            changelog = f.read()
        self.assertTrue(changelog.startswith("lifesim (%s) " % self.field("Version")))

        # The licence: LICENSE's text is the copyright file's Zlib licence.
        with open(os.path.join(SOURCE_DIR, "LICENSE")) as f:
            licence = f.read().split("\n", 2)
        self.assertEqual(licence[0], "Copyright (c) 2026 The lifesim developers")
        with open(self.path(DOCS[0])) as f:
            copyright_file = f.read()
        self.assertTrue(copyright_file.startswith("Format: https://www.debian.org/doc/"
                                                  "packaging-manuals/copyright-format/1.0/\n"))
        stanza = copyright_file.split("\nLicense: Zlib\n")[-1]
        unindented = "\n".join("" if l == " ." else l[1:] for l in stanza.splitlines())
        self.assertEqual(unindented.strip(), licence[2].strip())

        checked = run("hardening-check", self.path(PROGRAM)).stdout
        for name in HARDENING:
            self.assertRegex(checked, r"\n %s: yes" % name, checked)

        with open(self.path(DESKTOP)) as f:
            entry = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        self.assertEqual((entry["Exec"], entry["TryExec"]), ("/" + PROGRAM, "/" + PROGRAM))
        self.assertEqual((entry["StartupWMClass"], entry["Icon"], entry["Categories"]),
                         ("lifesim", "lifesim", "Game;Simulation;"))
        checked = run("desktop-file-validate", self.path(DESKTOP))
        self.assertEqual((checked.returncode, checked.stdout, checked.stderr), (0, "", ""))

        for icon, size in ICONS.items():
            header, corner = png_header_and_corner(self.path(icon))
            self.assertEqual(header, (size, size, 8, 6), icon)  # 8-bit RGBA, as its folder says
            self.assertEqual(corner[3], 0, icon)  # the background shows through
        # Every size is the script's rendering of the one SVG, not a stale file.
        rendered = os.path.join(self.tmp, "icons")
        subprocess.run(["bash", os.path.join(SOURCE_DIR, "tools", "make-icon.sh"), rendered],
                       check=True, timeout=120)
        for icon, size in ICONS.items():
            self.assertEqual(read_bytes(self.path(icon)),
                             read_bytes(os.path.join(rendered, "%dx%d.png" % (size, size))), icon)

        # The metadata and the tree it describes (desktop entry, icons), and
        # a release for every version in the changelog, dated as there.
        for check in (["validate", "--no-net", "--pedantic", self.path(METAINFO)],
                      ["validate-tree", "--no-net", "--pedantic", self.root]):
            checked = run("appstreamcli", *check)
            self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
            self.assertIn("Validation was successful", checked.stdout)
            self.assertNotRegex(checked.stdout, r"(?m)^[EWIP]:", checked.stdout)
        with open(self.path(METAINFO)) as f:
            releases = re.findall(r'<release version="([^"]+)" date="([^"]+)"', f.read())
        versions = re.findall(r"^lifesim \(([^)]+)\)", changelog, re.M)
        dates = [email.utils.parsedate_to_datetime(d).strftime("%Y-%m-%d")
                 for d in re.findall(r"^ -- .*>  (.*)$", changelog, re.M)]
        self.assertEqual(releases, list(zip(versions, dates)))

        lint = run("lintian", "--fail-on", "error,warning,info,pedantic", "-I", "-E",
                   "--pedantic", self.deb)
        self.assertEqual((lint.returncode, lint.stdout), (0, ""), lint.stdout + lint.stderr)

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
