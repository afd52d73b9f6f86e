#!/usr/bin/env python3
"""Draws the icons of the send, account and query/retrieve screens under Resources/.

Same family as the library icons (make-library-icons.py): flat line icons in the text colour on a
40-unit grid, drawn with the shapes and colours of iconkit.py. The PNG files themselves are committed.
"""
import iconkit as lib


def desktop():
    screen = lib.polyline([(6, 9), (34, 9), (34, 27), (6, 27)], 2.0, closed=True)
    return lib.union(screen, lib.polyline([(20, 27), (20, 32)], 2.0), lib.polyline([(13, 33), (27, 33)], 2.0))


def laptop():
    screen = lib.polyline([(9, 10), (31, 10), (31, 26), (9, 26)], 2.0, closed=True)
    return lib.union(screen, lib.polyline([(4, 31), (36, 31)], 2.6))


def phone():
    body = lib.polyline([(13, 5), (27, 5), (27, 35), (13, 35)], 2.0, closed=True)
    return lib.union(body, lib.disc(20, 31, 1.6))


def tablet():
    body = lib.polyline([(9, 6), (31, 6), (31, 34), (9, 34)], 2.0, closed=True)
    return lib.union(body, lib.disc(20, 30.5, 1.6))


def download():
    arrow = lib.union(lib.polyline([(20, 7), (20, 25)], 2.6), lib.polyline([(12, 18), (20, 26), (28, 18)], 2.6))
    return lib.union(arrow, lib.polyline([(8, 32), (32, 32)], 2.6))


def nodes_help():
    """The empty task list: a workstation sending to a DICOM node."""
    left = lib.polyline([(3, 12), (15, 12), (15, 22), (3, 22)], 1.2, closed=True)
    right = lib.union(lib.ring(31, 17, 6, 1.2), lib.disc(31, 17, 2))
    arrow = lib.union(lib.polyline([(17, 17), (23, 17)], 1.2), lib.polyline([(20.5, 14.5), (23, 17), (20.5, 19.5)], 1.2))
    stand = lib.polyline([(6, 26), (12, 26)], 1.2)
    return lib.union(left, right, arrow, stand)


def main():
    lib.draw("imgs/device_PC.png", 40, [(desktop(), lib.TEXT)])
    lib.draw("imgs/device_Mac.png", 40, [(laptop(), lib.TEXT)])
    lib.draw("imgs/device_Android.png", 40, [(phone(), lib.TEXT)])
    lib.draw("imgs/device_iOS.png", 40, [(tablet(), lib.TEXT)])
    lib.draw("imgs/favierate.png", 32, [(lib.star(True), lib.ACCENT)])
    lib.draw("imgs/favierateNone.png", 32, [(lib.star(False), lib.SECONDARY)])
    lib.draw("imgs/download.png", 40, [(download(), lib.TEXT)])
    lib.draw("imgs/drNodeHelp.png", 400, [(nodes_help(), lib.SECONDARY)])


if __name__ == "__main__":
    main()
