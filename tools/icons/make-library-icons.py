#!/usr/bin/env python3
"""Draws the icons of the patient list, the study list and their menus under Resources/.

Flat line icons in the text colour (2-unit strokes on a 40-unit grid), the accent and state
colours of the screens, and the nine-slice button backgrounds. Shapes are described in icon units
(0..40, y down) and rasterised with 4x4 supersampling. Only the standard library is used.

Run from anywhere: tools/icons/make-library-icons.py. The PNG files themselves are committed.
"""
import math

from iconkit import (ACCENT, ACCENT_DOWN, GREEN, RAISED, RAISED_DOWN, RED, SECONDARY, TEXT, arc, disc, draw,
                     polygon_fill, polyline, ring, star, union, write_png)


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


def magnifier():
    return union(ring(17, 17, 9), polyline([(24, 24), (33, 33)], 3.0))


def chevron(right=True):
    return polyline([(15, 10), (25, 20), (15, 30)] if right else [(25, 10), (15, 20), (25, 30)], 2.6)


def monitor_with_arrow():
    screen = polyline([(6, 8), (34, 8), (34, 28), (6, 28)], 2.0, closed=True)
    stand = union(polyline([(20, 28), (20, 33)], 2.0), polyline([(13, 34), (27, 34)], 2.0))
    arrow = union(polyline([(20, 12), (20, 23)], 2.0), polyline([(15, 18), (20, 23), (25, 18)], 2.0))
    return union(screen, stand, arrow)


def speech_bubble():
    """A speech bubble with two lines of text: the advice page."""
    outline = polyline([(6, 8), (34, 8), (34, 27), (18, 27), (11, 33), (12, 27), (6, 27)], 2.0, closed=True)
    return union(outline, polyline([(12, 15), (28, 15)], 2.0), polyline([(12, 20), (24, 20)], 2.0))


def network_nodes():
    a, b, c = (10, 28), (30, 28), (20, 11)
    links = union(polyline([a, c], 2.0), polyline([b, c], 2.0), polyline([a, b], 2.0))
    return union(links, disc(*a, 4), disc(*b, 4), disc(*c, 4))


def main():
    draw("imgs/logo.png", 40, [(person(True), ACCENT)])
    draw("imgs/logout.png", 40, [(person(), TEXT)])
    draw("imgs/search.png", 40, [(magnifier(), TEXT)])
    draw("imgs/advice.png", 40, [(speech_bubble(), TEXT)])
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
