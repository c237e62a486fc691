"""RGB images for pixel comparisons: PPM and PNG decoding, crops, fills."""

import struct
import zlib


class Image:
    """width x height pixels, 3 bytes (R, G, B) each, top row first."""

    def __init__(self, width, height, rgb):
        if len(rgb) != 3 * width * height:
            raise ValueError("%dx%d image needs %d bytes, got %d"
                             % (width, height, 3 * width * height, len(rgb)))
        self.width = width
        self.height = height
        self.rgb = bytes(rgb)

    @classmethod
    def filled(cls, width, height, colour):
        return cls(width, height, bytes(colour) * (width * height))

    @classmethod
    def from_ppm(cls, data):
        """Binary PPM (P6), maxval 255."""
        fields = []
        pos = 0
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            if data[pos:pos + 1] == b"#":
                pos = data.index(b"\n", pos)
                continue
            start = pos
            while not data[pos:pos + 1].isspace():
                pos += 1
            fields.append(data[start:pos])
        if fields[0] != b"P6" or fields[3] != b"255":
            raise ValueError("not an 8-bit binary PPM")
        width, height = int(fields[1]), int(fields[2])
        pos += 1
        return cls(width, height, data[pos:pos + 3 * width * height])

    @classmethod
    def from_png(cls, data):
        """8-bit RGB PNG without interlacing, the kind q72render writes."""
        if data[:8] != b"\x89PNG\r\n\x1a\n":
            raise ValueError("not a PNG")
        pos = 8
        idat = b""
        header = None
        while pos < len(data):
            length, kind = struct.unpack(">I4s", data[pos:pos + 8])
            body = data[pos + 8:pos + 8 + length]
            pos += 12 + length
            if kind == b"IHDR":
                header = struct.unpack(">IIBBBBB", body)
            elif kind == b"IDAT":
                idat += body
            elif kind == b"IEND":
                break
        width, height, depth, colour_type, _, _, interlace = header
        if (depth, colour_type, interlace) != (8, 2, 0):
            raise ValueError("unsupported PNG kind")
        raw = zlib.decompress(idat)
        stride = 3 * width
        rows = []
        previous = bytearray(stride)
        for y in range(height):
            start = y * (stride + 1)
            kind = raw[start]
            row = bytearray(raw[start + 1:start + 1 + stride])
            for x in range(stride):
                left = row[x - 3] if x >= 3 else 0
                up = previous[x]
                upper_left = previous[x - 3] if x >= 3 else 0
                if kind == 1:
                    row[x] = (row[x] + left) & 255
                elif kind == 2:
                    row[x] = (row[x] + up) & 255
                elif kind == 3:
                    row[x] = (row[x] + (left + up) // 2) & 255
                elif kind == 4:
                    p = left + up - upper_left
                    pa, pb, pc = abs(p - left), abs(p - up), abs(p - upper_left)
                    predictor = left if pa <= pb and pa <= pc else up if pb <= pc else upper_left
                    row[x] = (row[x] + predictor) & 255
            rows.append(bytes(row))
            previous = row
        return cls(width, height, b"".join(rows))

    def pixel(self, x, y):
        k = 3 * (y * self.width + x)
        return tuple(self.rgb[k:k + 3])

    def crop(self, x, y, width, height):
        rows = [self.rgb[3 * ((y + j) * self.width + x):3 * ((y + j) * self.width + x + width)]
                for j in range(height)]
        return Image(width, height, b"".join(rows))

    def paste(self, other, x, y):
        """A copy with `other` laid over it at (x, y), clipped to this image."""
        out = bytearray(self.rgb)
        width = min(other.width, self.width - x)
        for j in range(min(other.height, self.height - y)):
            src = 3 * j * other.width
            dst = 3 * ((y + j) * self.width + x)
            out[dst:dst + 3 * width] = other.rgb[src:src + 3 * width]
        return Image(self.width, self.height, out)

    def colours(self):
        return {self.rgb[k:k + 3] for k in range(0, len(self.rgb), 3)}

    def __eq__(self, other):
        return (isinstance(other, Image) and (self.width, self.height, self.rgb)
                == (other.width, other.height, other.rgb))

    def difference(self, expected):
        """A short description of how this image differs from `expected`."""
        if (self.width, self.height) != (expected.width, expected.height):
            return "size %dx%d, expected %dx%d" % (self.width, self.height,
                                                    expected.width, expected.height)
        wrong = [k // 3 for k in range(0, len(self.rgb), 3)
                 if self.rgb[k:k + 3] != expected.rgb[k:k + 3]]
        if not wrong:
            return "none"
        x, y = wrong[0] % self.width, wrong[0] // self.width
        return "%d pixels differ; first at (%d, %d): %s, expected %s" % (
            len(wrong), x, y, self.pixel(x, y), expected.pixel(x, y))

    def save_ppm(self, path):
        with open(path, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (self.width, self.height) + self.rgb)
