#!/usr/bin/env python3
"""Reads X window dumps (xwd, ZPixmap, 24/32 bits per pixel) and writes PNG.

Used by the whole-program tests to check screenshots pixel by pixel and by
tools/run.sh to save the newcomer's screenshot. Standard library only.

    python3 tools/xwdimage.py in.xwd out.png [WIDTHxHEIGHT]

With a size, only that top-left part is kept (the visible screen after a
video-mode switch, which leaves the framebuffer at its old size).
"""
import struct
import sys
import zlib


class Image:
    """RGB pixels of a screenshot, row-major, top row first."""

    def __init__(self, width, height, rgb):
        self.width = width
        self.height = height
        self.rgb = rgb  # bytes, 3 per pixel

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def crop(self, x0, y0, w, h):
        rows = []
        for y in range(y0, y0 + h):
            i = (y * self.width + x0) * 3
            rows.append(self.rgb[i:i + w * 3])
        return Image(w, h, b"".join(rows))


def _mask_shift(mask):
    shift = 0
    while mask and not mask & 1:
        mask >>= 1
        shift += 1
    return shift


def read_xwd(data):
    """Parses the bytes of an xwd file into an Image."""
    header_size = struct.unpack(">I", data[0:4])[0]
    fields = struct.unpack(">25I", data[0:100])
    (_, version, pixmap_format, depth, width, height, _, byte_order, _, _, _,
     bits_per_pixel, bytes_per_line, _, red_mask, green_mask, blue_mask, _, _,
     ncolors, _, _, _, _, _) = fields
    if version != 7 or pixmap_format != 2 or bits_per_pixel not in (24, 32):
        raise ValueError("unsupported xwd: version %d format %d bpp %d"
                         % (version, pixmap_format, bits_per_pixel))
    offset = header_size + ncolors * 12
    step = bits_per_pixel // 8
    order = "<" if byte_order == 0 else ">"
    shifts = [_mask_shift(m) for m in (red_mask, green_mask, blue_mask)]
    out = bytearray(width * height * 3)
    o = 0
    for y in range(height):
        row = data[offset + y * bytes_per_line: offset + y * bytes_per_line + width * step]
        if step == 4:
            values = struct.unpack(order + "%dI" % width, row)
        else:
            values = [int.from_bytes(row[i:i + 3], "little" if order == "<" else "big")
                      for i in range(0, width * 3, 3)]
        for v in values:
            out[o] = (v & red_mask) >> shifts[0]
            out[o + 1] = (v & green_mask) >> shifts[1]
            out[o + 2] = (v & blue_mask) >> shifts[2]
            o += 3
    return Image(width, height, bytes(out))


def write_png(image, path):
    def chunk(kind, payload):
        body = kind + payload
        return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body) & 0xffffffff)

    raw = b"".join(b"\x00" + image.rgb[y * image.width * 3:(y + 1) * image.width * 3]
                   for y in range(image.height))
    png = (b"\x89PNG\r\n\x1a\n"
           + chunk(b"IHDR", struct.pack(">IIBBBBB", image.width, image.height, 8, 2, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(raw, 9))
           + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)


def main(argv):
    if len(argv) not in (3, 4):
        print("usage: xwdimage.py IN.xwd OUT.png [WIDTHxHEIGHT]", file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        image = read_xwd(f.read())
    if len(argv) == 4:
        w, h = (int(v) for v in argv[3].split("x"))
        image = image.crop(0, 0, min(w, image.width), min(h, image.height))
    write_png(image, argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
