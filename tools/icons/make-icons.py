#!/usr/bin/env python3
"""Draws the small plain icons under Resources/ (solid tiles, arrows, play and pause marks).

Run from the repository root: tools/icons/make-icons.py. Only the standard library is used, so the
pictures can be redrawn anywhere; the PNG files themselves are committed.
"""
from iconkit import write_png


def solid(rgba):
    return lambda x, y: rgba


def triangle(size, pointing_right, colour):
    """A filled triangle inside a square, pointing right or left, antialiased by 4x4 supersampling."""
    def inside(px, py):
        m = size * 0.2
        t = (py - m) / (size - 2 * m)  # 0 at the top edge of the mark, 1 at the bottom
        if t < 0 or t > 1:
            return False
        half = 0.5 - abs(t - 0.5)  # 0 at the tips, 0.5 in the middle row
        reach = m + half * 2 * (size - 2 * m)
        return m <= px <= reach if pointing_right else size - reach <= px <= size - m

    return supersampled(inside, colour)


def step_mark(size, pointing_right, colour):
    """A frame step: a triangle against a bar at its tip (next ▶|, previous |◀), so that it never
    passes for play."""
    def inside(px, py):
        m = size * 0.2
        bar = size * 0.12
        t = (py - m) / (size - 2 * m)
        if t < 0 or t > 1:
            return False
        x = px if pointing_right else size - px  # drawn pointing right, mirrored for left
        if size - m - bar <= x <= size - m:
            return True
        half = 0.5 - abs(t - 0.5)
        reach = m + half * 2 * (size - 2 * m - bar - size * 0.04)
        return m <= x <= reach

    return supersampled(inside, colour)


def pause_mark(size, colour):
    def inside(px, py):
        m = size * 0.22
        bar = size * 0.2
        if py < m or py > size - m:
            return False
        return (m <= px <= m + bar) or (size - m - bar <= px <= size - m)

    return supersampled(inside, colour)


def supersampled(inside, colour):
    def pixel(x, y):
        hits = sum(inside(x + (i + 0.5) / 4, y + (j + 0.5) / 4) for i in range(4) for j in range(4))
        return colour[:3] + (colour[3] * hits // 16,)

    return pixel


def nine_slice_button(width, height, fill, border):
    def pixel(x, y):
        edge = x < 2 or y < 2 or x >= width - 2 or y >= height - 2
        return border if edge else fill

    return pixel


WHITE = (255, 255, 255, 255)
ICON = 64

write_png("imageSDK/spriteExample.png", 8, 8, solid((128, 128, 128, 255)))
write_png("imageSDK/play.png", ICON, ICON, triangle(ICON, True, WHITE))
write_png("imageSDK/pause.png", ICON, ICON, pause_mark(ICON, WHITE))
write_png("imageSDK/rightArrow.png", ICON, ICON, step_mark(ICON, True, WHITE))
write_png("imageSDK/leftArrow.png", ICON, ICON, step_mark(ICON, False, WHITE))
write_png("UIRes/black22.png", 22, 22, solid((0, 0, 0, 255)))
write_png("UIRes/white22.png", 22, 22, solid((255, 255, 255, 255)))
write_png("UIRes/cursor.png", 2, 20, solid((235, 235, 235, 255)))
write_png("UIRes/blueBtn.png", 60, 60, nine_slice_button(60, 60, (38, 110, 214, 255), (24, 80, 170, 255)))
