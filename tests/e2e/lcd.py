"""What the window should show: sizes, colours, and the expected client area,
from q72render (the native renderer) or from a map of LCD pixels."""

import os
import struct
import subprocess

from images import Image

LCD_WIDTH, LCD_HEIGHT = 128, 64
GREEN, BLACK = b"\x99\xff\x33", b"\x00\x00\x00"
BLUE, WHITE = b"\x14\x14\x8c", b"\xff\xff\xff"
OUTER_SIZES = {1: (150, 110), 2: (280, 170), 3: (400, 235), 4: (532, 302)}


def config(com_port=0, blk_on_grn=1, scale=1, pad1=b"\0\0\0", pad2=b"\0\0\0"):
    """The 12-byte configuration file image."""
    return (struct.pack("<B", com_port) + pad1 + struct.pack("<i", blk_on_grn)
            + struct.pack("<B", scale) + pad2)


def fields_of(image):
    """(comPort, BlkOnGrn, scale) of a configuration image, short images padded with 0."""
    image = (image + bytes(12))[:12]
    return image[0], struct.unpack("<i", image[4:8])[0], image[8]


def scheme(blk_on_grn):
    """(lit, dark) pixel colours."""
    return (BLACK, GREEN) if blk_on_grn == 1 else (WHITE, BLUE)


def background(blk_on_grn):
    """The class background, fixed at start-up."""
    return GREEN if blk_on_grn != 0 else BLUE


def bitmap_size(scale):
    return (LCD_WIDTH * scale, LCD_HEIGHT * scale) if 1 <= scale <= 4 else (512, 256)


def render_map(pixels, scale, blk_on_grn):
    """The off-screen bitmap for a map given as 64 rows of 128 0/1 values:
    each LCD pixel a scale x scale square, clipped; scale 0 draws no pixel."""
    width, height = bitmap_size(scale)
    lit, dark = scheme(blk_on_grn)
    if scale == 0:
        return Image.filled(width, height, dark)
    rows = []
    for y in range(height):
        source = pixels[y // scale] if y // scale < LCD_HEIGHT else [0] * LCD_WIDTH
        row = b"".join((lit if x // scale < LCD_WIDTH and source[x // scale] else dark)
                       for x in range(width))
        rows.append(row)
    return Image(width, height, b"".join(rows))


def client_image(width, height, bitmap, blk_on_grn):
    """A client area of width x height: the bitmap at (0, 0) over the class background."""
    return Image.filled(width, height, background(blk_on_grn)).paste(bitmap, 0, 0)


class Renderer:
    """q72render from the native build, with its outputs cached per run."""

    def __init__(self, q72render, scratch):
        self.q72render = q72render
        self.scratch = scratch
        self.cache = {}

    def _run(self, args, out_name):
        out = os.path.join(self.scratch, out_name)
        subprocess.run([self.q72render] + args + [os.devnull, out], check=True,
                       capture_output=True)
        with open(out, "rb") as f:
            return f.read()

    def startup_png(self, scale, blk_on_grn):
        """The start-up screen as q72render paints it (scale 1..4)."""
        key = ("png", scale, blk_on_grn)
        if key not in self.cache:
            name = "green" if blk_on_grn == 1 else "blue"
            data = self._run(["--startup", "--scale", str(scale), "--scheme", name],
                             "startup-%d-%s.png" % (scale, name))
            self.cache[key] = Image.from_png(data)
        return self.cache[key]

    def startup_map(self):
        """The start-up screen's LCD pixels: 64 rows of 128 0/1 values."""
        if "map" not in self.cache:
            text = self._run(["--startup"], "startup.pbm").decode("ascii")
            fields = text.split()
            if fields[:3] != ["P1", "128", "64"]:
                raise ValueError("unexpected PBM from q72render")
            bits = "".join(fields[3:])
            self.cache["map"] = [[int(c) for c in bits[y * LCD_WIDTH:(y + 1) * LCD_WIDTH]]
                                 for y in range(LCD_HEIGHT)]
        return self.cache["map"]
