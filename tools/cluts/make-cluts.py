#!/usr/bin/env python3
"""Writes the colour tables of the image viewers: Resources/imageSDK/HotMetal.plist,
GEcolor.plist and Perfusion.plist.

Each file is an XML property list holding a dictionary with the arrays "Red", "Green" and "Blue"
of exactly 256 integers 0-255; entry i is the colour of display index i (after the window).
The viewers read "Perfusion.plist" with red and blue exchanged, so that file stores the blue
values under "Red" and the red values under "Blue".

Run from anywhere: tools/cluts/make-cluts.py. Only the standard library is used; the plist files
themselves are committed.
"""
import os

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "Resources", "imageSDK")


def clamp(v):
    return max(0, min(255, int(round(v))))


def hot_metal(i):
    """Black -> red -> yellow -> white: red rises first, then green, then blue."""
    return clamp(3 * i), clamp(3 * i - 255), clamp(3 * i - 510)


def ramp(stops):
    """A piecewise linear scale through (index, (r, g, b)) stops, first at 0 and last at 255."""
    def colour(i):
        for (i0, c0), (i1, c1) in zip(stops, stops[1:]):
            if i0 <= i <= i1:
                t = (i - i0) / (i1 - i0)
                return tuple(clamp(a + (b - a) * t) for a, b in zip(c0, c1))
        raise ValueError(i)
    return colour


# A multi-hue scale: black, deep blue, sky blue, green, yellow, orange, red, white.
COLOUR_SCALE = ramp([
    (0, (0, 0, 0)),
    (40, (0, 0, 190)),
    (85, (0, 150, 255)),
    (128, (0, 200, 70)),
    (170, (250, 230, 0)),
    (210, (255, 120, 0)),
    (240, (215, 0, 0)),
    (255, (255, 255, 255)),
])

# Perfusion: black, violet, blue, green, yellow, red (low flow cold, high flow hot).
PERFUSION = ramp([
    (0, (0, 0, 0)),
    (50, (90, 0, 170)),
    (100, (0, 60, 255)),
    (150, (0, 210, 60)),
    (200, (255, 230, 0)),
    (255, (255, 0, 0)),
])


def write_table(name, colour, swap_red_blue=False):
    table = [colour(i) for i in range(256)]
    channels = {"Red": [c[0] for c in table], "Green": [c[1] for c in table], "Blue": [c[2] for c in table]}
    if swap_red_blue:
        channels["Red"], channels["Blue"] = channels["Blue"], channels["Red"]
    lines = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        '<plist version="1.0">',
        "<dict>",
    ]
    for key in ("Blue", "Green", "Red"):
        lines.append("\t<key>%s</key>" % key)
        lines.append("\t<array>")
        lines.extend("\t\t<integer>%d</integer>" % v for v in channels[key])
        lines.append("\t</array>")
    lines += ["</dict>", "</plist>", ""]
    os.makedirs(ROOT, exist_ok=True)
    with open(os.path.join(ROOT, name), "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines))


def main():
    write_table("HotMetal.plist", hot_metal)
    write_table("GEcolor.plist", COLOUR_SCALE)
    write_table("Perfusion.plist", PERFUSION, swap_red_blue=True)


if __name__ == "__main__":
    main()
