"""Command-line behaviour of q72render: outputs, options and failures."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import pngread  # noqa: E402

RENDER = os.environ.get("Q72RENDER", "build/tools/q72render")
DATA = os.path.join(os.path.dirname(__file__), "..", "data")

GREEN = ((0, 0, 0), (153, 255, 51))
BLUE = ((255, 255, 255), (20, 20, 140))


def run(*args, stdin=None):
    return subprocess.run([RENDER, *args], input=stdin, capture_output=True)


def pbm_pixels(path):
    with open(path) as f:
        lines = f.read().split("\n")
    return [[c == "1" for c in line] for line in lines[2:66]]


class Outputs(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def out(self, name):
        return os.path.join(self.dir.name, name)

    def test_pbm_and_stats_for_a_recorded_stream(self):
        r = run("--stats", os.path.join(DATA, "s004.bin"), self.out("s.pbm"))
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(os.path.join(DATA, "s004.stats"), "rb") as f:
            self.assertEqual(r.stdout, f.read())
        with open(self.out("s.pbm"), "rb") as a, open(os.path.join(DATA, "s004.pbm"), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_help_and_version(self):
        version = b"q72render %s\n" % os.environ["Q72_VERSION"].encode()
        for option, start in (("--help", b"usage: q72render"), ("--version", version)):
            r = run(option)
            self.assertEqual((r.returncode, r.stderr), (0, b""))
            self.assertTrue(r.stdout.startswith(start), r.stdout)

    def test_stdin_with_startup_screen(self):
        r = run("--stats", "--startup", "-", self.out("s.pbm"), stdin=b"")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, b"repaints=0 cursor=21,7 off\n")
        with open(self.out("s.pbm"), "rb") as a, open(os.path.join(DATA, "startup.pbm"), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_png_matches_the_map_at_every_scale_and_scheme(self):
        run("--startup", "-", self.out("ref.pbm"), stdin=b"")
        lit = pbm_pixels(self.out("ref.pbm"))
        for scheme, colours in (("green", GREEN), ("blue", BLUE)):
            for scale in (1, 2, 3, 4):
                with self.subTest(scheme=scheme, scale=scale):
                    png = self.out("s%d%s.png" % (scale, scheme))
                    r = run("--startup", "--scale", str(scale), "--scheme", scheme, "-", png, stdin=b"")
                    self.assertEqual(r.returncode, 0, r.stderr)
                    width, height, rows = pngread.read_rgb(png)
                    self.assertEqual((width, height), (128 * scale, 64 * scale))
                    for y in range(height):
                        for x in range(width):
                            want = colours[0] if lit[y // scale][x // scale] else colours[1]
                            got = tuple(rows[y][3 * x:3 * x + 3])
                            if got != want:
                                self.fail("pixel (%d,%d) is %s, want %s" % (x, y, got, want))

    def test_an_existing_output_is_replaced(self):
        with open(self.out("s.pbm"), "w") as f:
            f.write("old")
        self.assertEqual(run("-", self.out("s.pbm"), stdin=b"\x89").returncode, 0)
        with open(self.out("s.pbm")) as f:
            self.assertTrue(f.read().startswith("P1\n128 64\n"))


class Failures(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def assertFails(self, args, stdin=b""):
        r = run(*args, stdin=stdin)
        self.assertEqual(r.returncode, 2, args)
        lines = r.stderr.decode().split("\n")
        self.assertEqual(len(lines), 2, "one line, ending in a newline: %r" % r.stderr)
        self.assertTrue(lines[0].startswith("q72render: "), r.stderr)
        self.assertEqual(os.listdir(self.dir.name), [], "left a file behind")
        return lines[0]

    def test_bad_usage(self):
        out = os.path.join(self.dir.name, "o.pbm")
        for args in (
            [],
            ["-"],
            ["-", out, "extra"],
            ["--scale", "5", "-", out],
            ["--scale", "0", "-", out],
            ["--scale", "x", "-", out],
            ["--scale"],
            ["--scheme", "red", "-", out],
            ["--frobnicate", "-", out],
            ["-", os.path.join(self.dir.name, "o.jpg")],
        ):
            with self.subTest(args=args):
                self.assertFails(args)

    def test_unreadable_stream_names_the_file(self):
        missing = os.path.join(self.dir.name, "missing.bin")
        line = self.assertFails([missing, os.path.join(self.dir.name, "o.pbm")])
        self.assertIn("missing.bin", line)

    def test_unwritable_output_names_the_file(self):
        out = os.path.join(self.dir.name, "no-such-dir", "o.png")
        line = self.assertFails(["-", out])
        self.assertIn("o.png", line)


if __name__ == "__main__":
    unittest.main()
