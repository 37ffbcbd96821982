#!/usr/bin/env python3
"""Compares the main window drawn under wine with the same window drawn on Linux.

    compare-shots.py linux.png wine.png

Passes when the two windows are of about the same size and every band of rows that carries text in the
Linux window (a caption, a button's label, the menu) carries dark pixels in the wine window too, so that
no caption was left blank (a missing font draws nothing, or empty boxes the threshold still sees as light).
"""
import subprocess
import sys

INK = 96  # darker than this (0-255) is text or a line; the boxes' grey borders are lighter


def grey(path):
    pgm = subprocess.run(["convert", path, "-colorspace", "Gray", "-depth", "8", "pgm:-"],
                         check=True, capture_output=True).stdout
    fields = pgm.split(maxsplit=4)  # P5, width, height, maxval, pixels
    w, h = int(fields[1]), int(fields[2])
    data = fields[4]
    return w, h, [data[y * w:(y + 1) * w] for y in range(h)]


def bands(rows, width):
    """Runs of rows with ink, away from the frame's outermost 4 pixels."""
    out, start = [], None
    for y, row in enumerate(rows):
        inked = any(v < INK for v in row[4:width - 4])
        if inked and start is None:
            start = y
        elif not inked and start is not None:
            out.append((start, y))
            start = None
    if start is not None:
        out.append((start, len(rows)))
    return out


def main():
    lw, lh, lrows = grey(sys.argv[1])
    ww, wh, wrows = grey(sys.argv[2])
    print(f"Linux window {lw}x{lh}, wine window {ww}x{wh}")
    ok = True
    if abs(lw - ww) > lw * 0.1 or abs(lh - wh) > lh * 0.1:
        print("sizes differ by more than a tenth")
        ok = False
    linux_bands = bands(lrows[4:lh - 4], lw)
    for top, bottom in linux_bands:
        # The same rows in the wine window, scaled to its height and widened by a few pixels for the
        # fonts' different heights.
        t = max(0, int((top + 4) * wh / lh) - 4)
        b = min(wh, int((bottom + 4) * wh / lh) + 4)
        ink = sum(1 for row in wrows[t:b] for v in row[4:ww - 4] if v < INK)
        if ink == 0:
            print(f"rows {t}-{b} blank under wine (text at {top + 4}-{bottom + 4} on Linux)")
            ok = False
    print(f"{len(linux_bands)} bands of text compared")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
