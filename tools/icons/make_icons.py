#!/usr/bin/env python3
"""Draws the program's icons as 16-colour XPM images (the classic VGA palette plus transparency),
and the main one again as a Windows .ico for the executable's resources.

    tools/icons/make_icons.py src/app/resources

The main window's icon: a database drum with a red removal badge. The wait window's icon: the
same drum with an hourglass. Re-run after changing a drawing; the output is committed.
"""
import math
import struct
import sys
from pathlib import Path

PALETTE = {  # key -> colour; "." is transparent
    "k": "#000000", "m": "#800000", "g": "#008000", "o": "#808000",
    "n": "#000080", "p": "#800080", "t": "#008080", "s": "#C0C0C0",
    "d": "#808080", "r": "#FF0000", "l": "#00FF00", "y": "#FFFF00",
    "b": "#0000FF", "f": "#FF00FF", "a": "#00FFFF", "w": "#FFFFFF",
}


class Canvas:
    def __init__(self, size):
        self.size = size
        self.px = [["."] * size for _ in range(size)]

    def put(self, x, y, c):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, c)

    def ellipse(self, cx, cy, rx, ry, c, outline=None):
        for y in range(self.size):
            for x in range(self.size):
                d = ((x + 0.5 - cx) / rx) ** 2 + ((y + 0.5 - cy) / ry) ** 2
                if d <= 1.0:
                    inner = ((x + 0.5 - cx) / max(rx - 1, 0.5)) ** 2 + ((y + 0.5 - cy) / max(ry - 1, 0.5)) ** 2
                    self.put(x, y, outline if outline and inner > 1.0 else c)

    def line(self, x0, y0, x1, y1, c):
        n = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(n + 1):
            self.put(round(x0 + (x1 - x0) * i / n), round(y0 + (y1 - y0) * i / n), c)

    def xpm(self, name):
        used = sorted({c for row in self.px for c in row})
        lines = [f'"{self.size} {self.size} {len(used)} 1"']
        for c in used:
            lines.append(f'"{c} c {"None" if c == "." else PALETTE[c]}"')
        rows = [f'"{"".join(row)}"' for row in self.px]
        body = ",\n".join(lines + rows)
        return f"/* XPM */\nstatic const char *{name}[] = {{\n{body}\n}};\n"

    def ico(self):
        """One 32-bit BGRA image in an ICONDIR: a bottom-up DIB of twice the height, then the AND mask."""
        n = self.size
        pixels = bytearray()
        mask = bytearray()
        stride = ((n + 31) // 32) * 4
        for row in reversed(self.px):
            bits = bytearray(stride)
            for x, c in enumerate(row):
                if c == ".":
                    pixels += bytes(4)
                    bits[x // 8] |= 0x80 >> (x % 8)
                else:
                    r, g, b = (int(PALETTE[c][i:i + 2], 16) for i in (1, 3, 5))
                    pixels += bytes((b, g, r, 255))
            mask += bits
        header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
        image = header + pixels + mask
        entry = struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(image), 6 + 16)
        return struct.pack("<HHH", 0, 1, 1) + entry + image


def drum(cv, x0, x1, top, bottom, ry):
    """A database drum: a teal body between two ellipses, the top one lit."""
    cx = (x0 + x1 + 1) / 2
    rx = (x1 - x0 + 1) / 2
    cv.ellipse(cx, bottom, rx, ry, "t", "k")
    cv.rect(x0, top, x1, bottom, "t")
    cv.line(x0, top, x0, bottom, "k")
    cv.line(x1, top, x1, bottom, "k")
    # bands between the stacked discs
    for band in range(top + (bottom - top) // 3, bottom, max((bottom - top) // 3, 2)):
        for x in range(x0 + 1, x1):
            dy = ry * math.sqrt(max(0.0, 1 - ((x + 0.5 - cx) / rx) ** 2))
            cv.put(x, round(band + dy), "a")
    cv.ellipse(cx, top, rx, ry, "a", "k")
    cv.ellipse(cx, top, rx - 2, max(ry - 1.5, 1), "w")


def main_icon():
    cv = Canvas(32)
    drum(cv, 3, 22, 7, 24, 4)
    # removal badge: a red disc with a white bar
    cv.ellipse(23.5, 23.5, 8, 8, "r", "m")
    cv.rect(19, 22, 28, 25, "w")
    cv.line(19, 26, 28, 26, "m")
    return cv


def wait_icon(size):
    cv = Canvas(size)
    if size == 32:
        drum(cv, 2, 19, 6, 22, 4)
        x0, x1, y0, y1 = 18, 30, 12, 31
    else:
        drum(cv, 1, 9, 3, 11, 2)
        x0, x1, y0, y1 = 8, 15, 5, 15
    # hourglass: navy frame, yellow sand falling into the lower bulb
    mid = (y0 + y1) // 2
    cv.rect(x0, y0, x1, y0, "n")
    cv.rect(x0, y1, x1, y1, "n")
    for y in range(y0 + 1, y1):
        t = abs(y - mid) / max(mid - y0, 1)
        half = max(1, round(t * (x1 - x0) / 2))
        cx = (x0 + x1) / 2
        left, right = math.floor(cx - half), math.ceil(cx + half) - 1
        cv.rect(left, y, right, y, "w")
        cv.put(left, y, "n")
        cv.put(right, y, "n")
        if y > mid + (y1 - mid) // 3:
            cv.rect(left + 1, y, right - 1, y, "y")
        elif y < mid and y > y0 + (mid - y0) // 2:
            cv.rect(left + 1, y, right - 1, y, "y")
    cv.line(round((x0 + x1) / 2), mid, round((x0 + x1) / 2), y1 - 1, "o")
    return cv


if __name__ == "__main__":
    out = Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    out.mkdir(parents=True, exist_ok=True)
    for name, cv in (("acctset_remover", main_icon()), ("wait_32", wait_icon(32)), ("wait_16", wait_icon(16))):
        (out / (name.replace("_", "-") + ".xpm")).write_text(cv.xpm(name))
    (out / "acctset-remover.ico").write_bytes(main_icon().ico())
