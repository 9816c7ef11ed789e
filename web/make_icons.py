"""The page's icons: one character of the game's title, white on black, as square PNG files.

Usage: make_icons.py FONT CHARACTER SIZE:OUT.png...

The character's outline comes from FONT (the page's font); it is filled with four by four
samples a pixel, by the non-zero rule, and takes the middle three fifths of the square, inside
the part a launcher may cut out of it.
"""

import struct
import sys
import zlib

from fontTools.pens.basePen import BasePen
from fontTools.ttLib import TTFont

SAMPLES = 4  # a pixel's samples in each direction
CURVE_STEPS = 16
GLYPH_SHARE = 0.6
BACKGROUND = (0, 0, 0)
FOREGROUND = (255, 255, 255)


class EdgePen(BasePen):
    """The outline as straight edges, curves cut into short lines."""

    def __init__(self, glyph_set):
        super().__init__(glyph_set)
        self.edges = []
        self.start = self.point = (0, 0)

    def _moveTo(self, point):
        self.start = self.point = point

    def _lineTo(self, point):
        self.edges.append((self.point, point))
        self.point = point

    def _curveToOne(self, control1, control2, end):
        (x0, y0), (x1, y1), (x2, y2), (x3, y3) = self.point, control1, control2, end
        for step in range(1, CURVE_STEPS + 1):
            t = step / CURVE_STEPS
            s = 1 - t
            self._lineTo((s**3 * x0 + 3 * s * s * t * x1 + 3 * s * t * t * x2 + t**3 * x3,
                          s**3 * y0 + 3 * s * s * t * y1 + 3 * s * t * t * y2 + t**3 * y3))

    def _closePath(self):
        if self.point != self.start:
            self._lineTo(self.start)

    _endPath = _closePath


# How much of each pixel the edges cover, row by row from the top, for a square of `size`.
def coverage(edges, size):
    xs = [x for edge in edges for x, _ in edge]
    ys = [y for edge in edges for _, y in edge]
    scale = GLYPH_SHARE * size / max(max(xs) - min(xs), max(ys) - min(ys))
    left = (size - (max(xs) - min(xs)) * scale) / 2 - min(xs) * scale
    top = (size - (max(ys) - min(ys)) * scale) / 2 + max(ys) * scale
    # In samples, y growing downwards.
    lines = [((left + x0 * scale) * SAMPLES, (top - y0 * scale) * SAMPLES,
              (left + x1 * scale) * SAMPLES, (top - y1 * scale) * SAMPLES)
             for (x0, y0), (x1, y1) in edges if y0 != y1]
    covered = [[0] * size for _ in range(size)]
    for row in range(size * SAMPLES):
        y = row + 0.5
        crossings = sorted((x0 + (y - y0) * (x1 - x0) / (y1 - y0), 1 if y1 > y0 else -1)
                           for x0, y0, x1, y1 in lines if min(y0, y1) <= y < max(y0, y1))
        winding = 0
        for (x, direction), (next_x, _) in zip(crossings, crossings[1:] + [(0, 0)]):
            winding += direction
            if winding == 0:
                continue
            for column in range(max(0, round(x)), min(size * SAMPLES, round(next_x))):
                covered[row // SAMPLES][column // SAMPLES] += 1
    return covered


def png(size, covered):
    full = SAMPLES * SAMPLES
    rows = b"".join(
        b"\0" + bytes(round(b + (f - b) * min(c, full) / full)
                      for c in line for b, f in zip(BACKGROUND, FOREGROUND))
        for line in covered)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data)))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def main():
    font_file, character, *outputs = sys.argv[1:]
    font = TTFont(font_file)
    glyph_set = font.getGlyphSet()
    pen = EdgePen(glyph_set)
    glyph_set[font.getBestCmap()[ord(character)]].draw(pen)
    for output in outputs:
        size, path = output.split(":", 1)
        with open(path, "wb") as icon:
            icon.write(png(int(size), coverage(pen.edges, int(size))))


if __name__ == "__main__":
    main()
