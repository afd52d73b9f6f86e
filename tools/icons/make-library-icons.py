#!/usr/bin/env python3
"""Draws the icons of the patient list, the study list and their menus under Resources/.

Flat line icons in the text colour (2-unit strokes on a 40-unit grid), the accent and state
colours of the screens, and the nine-slice button backgrounds. Shapes are described in icon units
(0..40, y down) and rasterised with 4x4 supersampling. Only the standard library is used.

Run from anywhere: tools/icons/make-library-icons.py. The PNG files themselves are committed.
"""
import importlib.util
import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))
_spec = importlib.util.spec_from_file_location("make_icons", os.path.join(HERE, "make-icons.py"))
_base = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(_base)  # also redraws the plain icons (same bytes)
write_png = _base.write_png

TEXT = (230, 232, 235, 255)
SECONDARY = (154, 160, 166, 255)
ACCENT = (21, 170, 254, 255)
ACCENT_DOWN = (14, 128, 196, 255)
RED = (229, 72, 77, 255)
GREEN = (48, 164, 108, 255)
RAISED = (47, 51, 59, 255)
RAISED_DOWN = (58, 63, 72, 255)


# ---- shapes: each answers "does the point (x, y) in icon units lie on me?" ----------------------

def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    cx, cy = ax + t * dx, ay + t * dy
    return math.hypot(px - cx, py - cy)


def polyline(points, width=2.0, closed=False):
    pts = list(points) + ([points[0]] if closed else [])

    def hit(x, y):
        return any(seg_dist(x, y, *pts[i], *pts[i + 1]) <= width / 2 for i in range(len(pts) - 1))

    return hit


def arc(cx, cy, r, start_deg, end_deg, width=2.0):
    """Angles in degrees, 0 to the right, counter-clockwise on screen (y down)."""
    def hit(x, y):
        d = math.hypot(x - cx, y - cy)
        if abs(d - r) > width / 2:
            return False
        a = math.degrees(math.atan2(cy - y, x - cx)) % 360
        s, e = start_deg % 360, end_deg % 360
        return s <= a <= e if s <= e else (a >= s or a <= e)

    return hit


def disc(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) <= r


def ring(cx, cy, r, width=2.0):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) <= width / 2


def polygon_fill(points):
    def hit(x, y):
        inside = False
        n = len(points)
        for i in range(n):
            (x1, y1), (x2, y2) = points[i], points[(i + 1) % n]
            if (y1 > y) != (y2 > y) and x < (x2 - x1) * (y - y1) / (y2 - y1) + x1:
                inside = not inside
        return inside

    return hit


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(shape, cut):
    return lambda x, y: shape(x, y) and not cut(x, y)


def draw(path, size, layers, grid=40.0):
    """layers: list of (shape, colour), later layers on top; size in pixels, shapes in grid units."""
    k = grid / size

    def pixel(px, py):
        acc = [0.0, 0.0, 0.0, 0.0]
        for i in range(4):
            for j in range(4):
                x, y = (px + (i + 0.5) / 4) * k, (py + (j + 0.5) / 4) * k
                for shape, colour in reversed(layers):
                    if shape(x, y):
                        acc[0] += colour[0] * colour[3]
                        acc[1] += colour[1] * colour[3]
                        acc[2] += colour[2] * colour[3]
                        acc[3] += colour[3]
                        break
        if acc[3] == 0:
            return (0, 0, 0, 0)
        return (int(acc[0] / acc[3]), int(acc[1] / acc[3]), int(acc[2] / acc[3]), int(acc[3] / 16))

    write_png(path, size, size, pixel)


def rounded_button(path, width, height, fill, radius=6):
    """A nine-slice background: rounded rectangle of one colour; cap insets (radius, radius, w - 2r, h - 2r)."""
    def pixel(px, py):
        hits = 0
        for i in range(4):
            for j in range(4):
                x, y = px + (i + 0.5) / 4, py + (j + 0.5) / 4
                cx = min(max(x, radius), width - radius)
                cy = min(max(y, radius), height - radius)
                if math.hypot(x - cx, y - cy) <= radius:
                    hits += 1
        return fill[:3] + (fill[3] * hits // 16,)

    write_png(path, width, height, pixel)


# ---- the icons ------------------------------------------------------------------------------------

def person(colour_fill=None):
    head = ring(20, 14, 6)
    body = arc(20, 36, 12, 0, 180)
    if colour_fill:
        return union(disc(20, 14, 7), polygon_fill([(8, 35), (10, 27), (16, 23), (24, 23), (30, 27), (32, 35)]))
    return union(head, body)


def wifi():
    return union(arc(20, 32, 22, 50, 130, 2.6), arc(20, 32, 15, 50, 130, 2.6), arc(20, 32, 8, 50, 130, 2.6),
                 disc(20, 31, 2.4))


def star(filled):
    pts = []
    for i in range(10):
        r = 15 if i % 2 == 0 else 6.5
        a = math.radians(90 + i * 36)
        pts.append((20 + r * math.cos(a), 21 - r * math.sin(a)))
    return polygon_fill(pts) if filled else polyline(pts, 2.0, closed=True)


def magnifier():
    return union(ring(17, 17, 9), polyline([(24, 24), (33, 33)], 3.0))


def chevron(right=True):
    return polyline([(15, 10), (25, 20), (15, 30)] if right else [(25, 10), (15, 20), (25, 30)], 2.6)


def monitor_with_arrow():
    screen = polyline([(6, 8), (34, 8), (34, 28), (6, 28)], 2.0, closed=True)
    stand = union(polyline([(20, 28), (20, 33)], 2.0), polyline([(13, 34), (27, 34)], 2.0))
    arrow = union(polyline([(20, 12), (20, 23)], 2.0), polyline([(15, 18), (20, 23), (25, 18)], 2.0))
    return union(screen, stand, arrow)


def network_nodes():
    a, b, c = (10, 28), (30, 28), (20, 11)
    links = union(polyline([a, c], 2.0), polyline([b, c], 2.0), polyline([a, b], 2.0))
    return union(links, disc(*a, 4), disc(*b, 4), disc(*c, 4))


def main():
    draw("imgs/logo.png", 40, [(person(True), ACCENT)])
    draw("imgs/logout.png", 40, [(person(), TEXT)])
    draw("imgs/search.png", 40, [(magnifier(), TEXT)])
    # Shown at scale 0.8 and 0.7 by the screens: drawn larger so they land near 40 units.
    draw("imgs/Wi-Fi-Green.png", 50, [(wifi(), GREEN)])
    draw("imgs/Wi-Fi-Red.png", 50, [(wifi(), RED)])
    draw("imgs/favorite.png", 56, [(star(False), TEXT)])
    draw("imgs/back.png", 40, [(chevron(False), TEXT)])
    draw("imgs/chevron.png", 24, [(chevron(True), SECONDARY)])
    # Badge background, shown at scale 2 under a white count.
    draw("imgs/newFiles.png", 14, [(disc(20, 20, 19), ACCENT)])
    rounded_button("imgs/btnAccent.png", 24, 24, ACCENT)
    rounded_button("imgs/btnAccentDown.png", 24, 24, ACCENT_DOWN)
    rounded_button("imgs/btnRed.png", 24, 24, RED, radius=0)
    rounded_button("imgs/btnRaised.png", 24, 24, RAISED, radius=0)
    rounded_button("imgs/btnRaisedDown.png", 24, 24, RAISED_DOWN, radius=0)
    draw("res/redCircle.png", 60, [(disc(20, 20, 19), RED)])
    draw("res/desktopPrompt.png", 160, [(monitor_with_arrow(), SECONDARY)])
    draw("res/dicomNodePrompt.png", 160, [(network_nodes(), SECONDARY)])


if __name__ == "__main__":
    main()
