"""What the icon scripts (make-*.py beside this file) share: the PNG writer, the screens' colours,
the shapes and the supersampling rasteriser.

Shapes are described in icon units (0..40 over the picture's shorter side, y down); each answers
"does the point (x, y) lie on me?". Only the standard library is used.
"""
import math
import os
import struct
import zlib

RESOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "Resources")

# The screens' colours (RGBA).
TEXT = (230, 232, 235, 255)
SECONDARY = (154, 160, 166, 255)
ACCENT = (21, 170, 254, 255)
ACCENT_DOWN = (14, 128, 196, 255)
RED = (229, 72, 77, 255)
GREEN = (48, 164, 108, 255)
RAISED = (47, 51, 59, 255)
RAISED_DOWN = (58, 63, 72, 255)
PANEL = (36, 39, 46, 255)
SEPARATOR = (58, 63, 72, 255)


def write_png(path, width, height, pixel):
    """Writes Resources/<path>; pixel(x, y) -> (r, g, b, a), y = 0 is the top row."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)  # filter: none
        for x in range(width):
            rows.extend(pixel(x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows), 9))
    png += chunk(b"IEND", b"")
    full = os.path.join(RESOURCES, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(png)


# ---- shapes -------------------------------------------------------------------------------------

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


def rect(x0, y0, x1, y1, width=2.0):
    return polyline([(x0, y0), (x1, y0), (x1, y1), (x0, y1)], width, closed=True)


def box(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def rounded(x0, y0, x1, y1, r):
    def hit(x, y):
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return x0 <= x <= x1 and y0 <= y <= y1 and math.hypot(x - cx, y - cy) <= r

    return hit


def star(filled):
    """A five-pointed star, filled or outlined."""
    pts = []
    for i in range(10):
        r = 15 if i % 2 == 0 else 6.5
        a = math.radians(90 + i * 36)
        pts.append((20 + r * math.cos(a), 21 - r * math.sin(a)))
    return polygon_fill(pts) if filled else polyline(pts, 2.0, closed=True)


# ---- rasterising ----------------------------------------------------------------------------------

def render(path, width, height, layers, grid=40.0):
    """layers: (shape, colour) pairs, later ones on top; shapes in grid units over the shorter side,
    antialiased by 4x4 supersampling."""
    k = grid / min(width, height)

    def pixel(px, py):
        acc = [0.0, 0.0, 0.0, 0.0]
        for i in range(4):
            for j in range(4):
                x, y = (px + (i + 0.5) / 4) * k, (py + (j + 0.5) / 4) * k
                for shape, colour in reversed(layers):
                    if shape(x, y):
                        a = colour[3]
                        acc[0] += colour[0] * a
                        acc[1] += colour[1] * a
                        acc[2] += colour[2] * a
                        acc[3] += a
                        break
        if acc[3] == 0:
            return (0, 0, 0, 0)
        return (int(acc[0] / acc[3]), int(acc[1] / acc[3]), int(acc[2] / acc[3]), int(acc[3] / 16))

    write_png(path, width, height, pixel)


def draw(path, size, layers, grid=40.0):
    """A square picture of size x size pixels (see render)."""
    render(path, size, size, layers, grid)


def button_face(glyph, background):
    """A 40-unit tool button: the glyph's layers on a rounded background."""
    return [(rounded(0, 0, 40, 40, 6), background)] + glyph
