#!/usr/bin/env python3
"""Draws the pictures of the viewer screen: its tool panel buttons, the quick tool bar over the
active view, the tool disk, the menu icons (window curves and colour tables) and the top bar.

Flat line icons in the text colour (2-unit strokes on a 40-unit grid). Panel buttons are 40 x 40
pictures with their raised background drawn in (normal) or the accent background (pressed); the
tool disk uses the same glyphs without background at 48 x 48. The colour-table icons are read from
the colour tables in Resources/imageSDK, so they always show what the viewer will apply.

Run from anywhere: tools/icons/make-viewer-icons.py. The PNG files themselves are committed.
Only the standard library is used.
"""
import math
import os
import plistlib

from iconkit import (ACCENT, PANEL, RAISED, RESOURCES, SEPARATOR, TEXT, arc, box, button_face, disc, minus,
                     ring, rect, render, rounded, union, write_png)
from iconkit import polygon_fill as fill
from iconkit import polyline as lines

BACKDROP = (20, 22, 26, 200)


# ---- glyphs ----------------------------------------------------------------------------------------

def arrowhead(tip, direction_deg, size=5.0):
    a = math.radians(direction_deg)
    dx, dy = math.cos(a), -math.sin(a)
    bx, by = tip[0] - dx * size, tip[1] - dy * size
    nx, ny = -dy * size * 0.7, dx * size * 0.7
    return fill([tip, (bx + nx, by + ny), (bx - nx, by - ny)])


def cube(face=None):
    """An isometric cube; face 'top', 'side' or 'front' filled, or 'all' shaded."""
    front = [(9, 15), (25, 15), (25, 31), (9, 31)]
    top = [(9, 15), (16, 8), (32, 8), (25, 15)]
    side = [(25, 15), (32, 8), (32, 24), (25, 31)]
    edges = union(lines(front, closed=True), lines(top, closed=True), lines(side, closed=True))
    layers = []
    half = (TEXT[0], TEXT[1], TEXT[2], 110)
    if face == "top":
        layers.append((fill(top), ACCENT))
    elif face == "side":
        layers.append((fill(side), ACCENT))
    elif face == "front":
        layers.append((fill(front), ACCENT))
    elif face == "all":
        layers += [(fill(front), half), (fill(top), TEXT), (fill(side), (TEXT[0], TEXT[1], TEXT[2], 60))]
    layers.append((edges, TEXT))
    return layers


def tiles(rows, cols):
    shapes = [rect(8, 8, 32, 32)]
    for c in range(1, cols):
        x = 8 + 24 * c / cols
        shapes.append(lines([(x, 8), (x, 32)]))
    for r in range(1, rows):
        y = 8 + 24 * r / rows
        shapes.append(lines([(8, y), (32, y)]))
    return [(union(*shapes), TEXT)]


def camera(colour):
    body = minus(rounded(6, 13, 34, 31, 3), rounded(8, 15, 32, 29, 1.5))
    bump = fill([(14, 13), (17, 9), (23, 9), (26, 13)])
    return [(union(body, bump, ring(20, 22, 5)), colour)]


def star(colour):
    return [(fill(_star_points()), colour)]


def chain(broken):
    left = minus(rounded(5, 15, 21, 25, 5), rounded(7, 17, 19, 23, 3))
    right = minus(rounded(19, 15, 35, 25, 5), rounded(21, 17, 33, 23, 3))
    if broken:
        left = minus(rounded(3, 15, 18, 25, 5), rounded(5, 17, 16, 23, 3))
        right = minus(rounded(22, 15, 37, 25, 5), rounded(24, 17, 35, 23, 3))
        sparks = union(lines([(20, 8), (20, 12)]), lines([(20, 28), (20, 32)]))
        return [(union(left, right, sparks), TEXT)]
    return [(union(left, right, lines([(14, 20), (26, 20)], 2.0)), TEXT)]


def curve(fn):
    pts = [(8 + 24 * t / 20, 32 - 24 * fn(t / 20)) for t in range(21)]
    return [(union(lines([(8, 8), (8, 32), (32, 32)], 1.4), lines(pts, 2.2)), TEXT)]


GLYPHS = {
    "tile1x1": tiles(1, 1),
    "tile1x2": tiles(1, 2),
    "tile2x1": tiles(2, 1),
    "tile2x2": tiles(2, 2),
    "viewAxial": cube("top"),
    "viewSagittal": cube("side"),
    "viewCoronal": cube("front"),
    "viewVR": cube("all"),
    "selection": [(union(fill([(13, 7), (13, 30), (18, 25), (22, 33), (25, 31.5), (21, 24), (28, 24)])), TEXT)],
    "move": [(union(lines([(20, 7), (20, 33)]), lines([(7, 20), (33, 20)]),
                    arrowhead((20, 6), 90), arrowhead((20, 34), 270), arrowhead((6, 20), 180),
                    arrowhead((34, 20), 0)), TEXT)],
    "zoom": [(union(ring(17, 17, 9), lines([(24, 24), (33, 33)], 3.0), lines([(13, 17), (21, 17)]),
                    lines([(17, 13), (17, 21)])), TEXT)],
    "rotate": [(union(arc(20, 21, 11, 120, 420), arrowhead((14.5, 11.5), 200, 6)), TEXT)],
    "prior": [(union(fill([(29, 10), (29, 30), (13, 20)]), box(10, 10, 12.5, 30)), TEXT)],
    "next": [(union(fill([(11, 10), (11, 30), (27, 20)]), box(27.5, 10, 30, 30)), TEXT)],
    "play": [(fill([(13, 9), (13, 31), (31, 20)]), TEXT)],
    "pause": [(union(box(12, 10, 17, 30), box(23, 10, 28, 30)), TEXT)],
    "windowLevel": [(union(ring(20, 20, 12), minus(disc(20, 20, 12), box(20, 0, 40, 40))), TEXT)],
    "clut": [(box(8 + 3 * i, 10, 8 + 3 * i + 3, 30), (TEXT[0], TEXT[1], TEXT[2], 30 + 28 * i))
             for i in range(8)] + [(rect(8, 10, 32, 30, 1.4), TEXT)],
    "opacity": curve(lambda t: math.log10(1 + 9 * t)),
    "point": [(union(disc(20, 20, 3), lines([(20, 6), (20, 14)]), lines([(20, 26), (20, 34)]),
                     lines([(6, 20), (14, 20)]), lines([(26, 20), (34, 20)])), TEXT)],
    "line": [(union(lines([(9, 31), (31, 9)]), lines([(6, 28), (12, 34)]), lines([(28, 6), (34, 12)])), TEXT)],
    "angle": [(union(lines([(32, 10), (9, 31), (33, 31)]), arc(9, 31, 10, 0, 42)), TEXT)],
    "polygon": [(union(lines([(20, 7), (33, 16), (28, 32), (12, 32), (7, 16)], closed=True),
                       disc(20, 7, 2.5), disc(33, 16, 2.5), disc(28, 32, 2.5), disc(12, 32, 2.5),
                       disc(7, 16, 2.5)), TEXT)],
    "circle": [(union(ring(20, 20, 12), disc(20, 20, 1.8)), TEXT)],
    "removeROI": [(union(lines([(9, 12), (31, 12)]), lines([(16, 12), (16, 8), (24, 8), (24, 12)]),
                         lines([(11, 12), (13, 33), (27, 33), (29, 12)]), lines([(17, 17), (17, 28)]),
                         lines([(23, 17), (23, 28)])), TEXT)],
    "capture": camera(TEXT),
}


def panel_buttons():
    for name, glyph in GLYPHS.items():
        if name in ("play", "pause"):
            continue
        render("imgs/tools/%s.png" % name, 40, 40, button_face(glyph, RAISED))
        render("imgs/tools/%sDown.png" % name, 40, 40, button_face(glyph, ACCENT))
    # The cine button's two faces, swapped by the screen as the cine starts and stops.
    render("imgs/play.png", 40, 40, button_face(GLYPHS["play"], RAISED))
    render("imgs/pause.png", 40, 40, button_face(GLYPHS["pause"], ACCENT))
    # Plain faces for the buttons that carry a title (orientation letters).
    render("imgs/tools/button.png", 40, 40, [(rounded(0, 0, 40, 40, 6), RAISED)])
    render("imgs/tools/buttonDown.png", 40, 40, [(rounded(0, 0, 40, 40, 6), ACCENT)])


def disk_items():
    for name in ("tile1x1", "tile1x2", "tile2x1", "tile2x2", "viewAxial", "viewSagittal", "viewCoronal",
                 "viewVR", "point", "line", "angle", "polygon", "circle"):
        render("imgs/disk/%s.png" % name, 48, 48, [(disc(20, 20, 19.5), (47, 51, 59, 230))] + GLYPHS[name])
    # The disk behind every page: a translucent dark plate with a lighter rim.
    render("imgs/disk/plate.png", 360, 360, [(disc(20, 20, 19.8), (27, 29, 34, 235)),
                                             (ring(20, 20, 19.2, 0.5), SEPARATOR),
                                             (ring(20, 20, 4.6, 0.3), SEPARATOR)])
    # The return mark (shown flipped by the disk).
    render("imgs/return.png", 48, 48, [(union(arc(20, 22, 10, 270, 450 + 90), arrowhead((9, 22), 270, 6)), TEXT)])


def quick_tool():
    def on_plate(glyph):
        return [(disc(20, 20, 19.5), BACKDROP)] + glyph

    corner = 7
    out = union(*[lines(p) for p in (
        [(8, 8 + corner), (8, 8), (8 + corner, 8)], [(32 - corner, 8), (32, 8), (32, 8 + corner)],
        [(8, 32 - corner), (8, 32), (8 + corner, 32)], [(32 - corner, 32), (32, 32), (32, 32 - corner)])])
    inward = union(*[lines(p) for p in (
        [(9, 15), (15, 15), (15, 9)], [(25, 9), (25, 15), (31, 15)],
        [(9, 25), (15, 25), (15, 31)], [(25, 31), (25, 25), (31, 25)])])
    render("res/fullscreen.png", 56, 56, on_plate([(out, TEXT)]))
    render("res/fullscreen_exit.png", 56, 56, on_plate([(inward, TEXT)]))
    render("res/cameraBlue.png", 56, 56, on_plate(camera(ACCENT)))
    render("res/favoriteBlue.png", 56, 56, on_plate(star(ACCENT)))
    info = union(ring(20, 20, 12), disc(20, 13.5, 1.8), box(18.8, 17, 21.2, 27))
    render("res/dcmInfoBlue.png", 56, 56, on_plate([(info, ACCENT)]))
    render("res/link.png", 56, 56, on_plate(chain(False)))
    render("res/unlink.png", 56, 56, on_plate(chain(True)))
    render("res/arrowDown.png", 32, 32, [(lines([(11, 16), (20, 25), (29, 16)], 3.0), TEXT)])


def top_bar():
    render("imgs/tools/back.png", 40, 40, [(lines([(24, 10), (14, 20), (24, 30)], 2.6), TEXT)])
    render("imgs/tools/backDown.png", 40, 40, [(lines([(24, 10), (14, 20), (24, 30)], 2.6), ACCENT)])
    outline = [(union(*[lines(pts, 2.0, closed=True) for pts in [_star_points()]]), TEXT)]
    render("imgs/tools/favorite.png", 40, 40, outline)
    render("imgs/tools/favoriteDown.png", 40, 40, [(fill(_star_points()), ACCENT)])
    boxes = union(rect(9, 9, 18, 18), rect(22, 9, 31, 18), rect(9, 22, 18, 31), rect(22, 22, 31, 31))
    render("imgs/tools/toolbox.png", 40, 40, [(boxes, TEXT)])
    render("imgs/tools/toolboxDown.png", 40, 40, [(boxes, ACCENT)])
    render("imgs/tools/bar.png", 8, 8, [(box(0, 0, 40, 40), PANEL)])
    render("imgs/tools/accentLine.png", 8, 8, [(box(0, 0, 40, 40), ACCENT)])
    render("imgs/tools/separator.png", 8, 8, [(box(0, 0, 40, 40), SEPARATOR)])
    # Slider of the slice panel: a thin track, its filled part and a round knob.
    # (268 x 8 pixels, drawn in pixel units: the slider keeps its bar's size.)
    render("imgs/tools/sliderTrack.png", 268, 8, [(rounded(0, 1, 268, 7, 3), RAISED)], grid=8.0)
    render("imgs/tools/sliderFill.png", 268, 8, [(rounded(0, 1, 268, 7, 3), ACCENT)], grid=8.0)
    render("imgs/tools/sliderKnob.png", 20, 20, [(disc(20, 20, 19), TEXT), (ring(20, 20, 18, 2), ACCENT)])
    # The message panel of a series that cannot be shown.
    render("imgs/tools/messagePanel.png", 40, 40, [(rounded(0, 0, 40, 40, 6), RAISED)])


def _star_points(cx=20, cy=21, outer=13, inner=5.5):
    pts = []
    for i in range(10):
        r = outer if i % 2 == 0 else inner
        a = math.radians(90 + 36 * i)
        pts.append((cx + r * math.cos(a), cy - r * math.sin(a)))
    return pts


def menu_icons():
    render("imgs/Linear.png", 40, 40, curve(lambda t: t))
    render("imgs/Log10.png", 40, 40, curve(lambda t: math.log10(1 + 9 * t)))
    render("imgs/Log10Inv.png", 40, 40, curve(lambda t: (10 ** t - 1) / 9))

    def ramp(path, colour_of):
        def pixel(x, y):
            edge = y < 1 or y >= 23 or x < 1 or x >= 127
            if edge:
                return SEPARATOR
            return colour_of(int((x - 1) * 255 / 125)) + (255,)

        write_png(path, 128, 24, pixel)

    def table(name, swap=False):
        with open(os.path.join(RESOURCES, "imageSDK", name), "rb") as f:
            d = plistlib.load(f)
        r, g, b = d["Red"], d["Green"], d["Blue"]
        if swap:
            r, b = b, r
        return lambda i: (r[i], g[i], b[i])

    ramp("imgs/noClut.png", lambda i: (i, i, i))
    ramp("imgs/bwInverse.png", lambda i: (255 - i, 255 - i, 255 - i))
    ramp("imgs/hotMetal.png", table("HotMetal.plist"))
    ramp("imgs/geColor.png", table("GEcolor.plist"))
    ramp("imgs/perfusion.png", table("Perfusion.plist", swap=True))


panel_buttons()
disk_items()
quick_tool()
top_bar()
menu_icons()
