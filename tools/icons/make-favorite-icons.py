#!/usr/bin/env python3
"""Draws the pictures of the favourites screens under Resources/: the capture list's check box,
thumbnail placeholder, DICOM badge and time bubble, and the favourite viewer's send and
remove-file buttons (in the face of the viewer's tool buttons).

Run from anywhere: tools/icons/make-favorite-icons.py. The PNG files themselves are committed.
Only the standard library is used.
"""
from iconkit import (ACCENT, RAISED, SECONDARY, TEXT, button_face, rect, render, rounded, union)
from iconkit import polyline as lines

BUBBLE = (47, 51, 59, 235)
PLACEHOLDER = (27, 29, 34, 255)

# Send: a paper plane.  Remove file: a document with a cross.
SEND = [(union(lines([(8, 19), (32, 9), (24, 32), (19, 22), (8, 19)]), lines([(19, 22), (32, 9)])), TEXT)]
REMOVE_FILE = [(union(lines([(11, 7), (24, 7), (30, 13), (30, 33), (11, 33)], closed=True),
                      lines([(24, 7), (24, 13), (30, 13)]), lines([(16, 19), (25, 28)]),
                      lines([(25, 19), (16, 28)])), TEXT)]


def main():
    render("imgs/tools/send.png", 40, 40, button_face(SEND, RAISED))
    render("imgs/tools/sendDown.png", 40, 40, button_face(SEND, ACCENT))
    render("imgs/tools/removeDicom.png", 40, 40, button_face(REMOVE_FILE, RAISED))
    render("imgs/tools/removeDicomDown.png", 40, 40, button_face(REMOVE_FILE, ACCENT))
    # Check box: an outlined square, and the accent square with a tick.
    render("imgs/chkNone.png", 28, 28, [(rect(7, 7, 33, 33, 2.5), TEXT)])
    render("imgs/chkDone.png", 28, 28, [(rounded(6, 6, 34, 34, 4), ACCENT),
                                         (lines([(12, 20), (18, 26), (29, 13)], 3.0), TEXT)])
    # Thumbnail placeholder: a dark frame with a picture glyph, shown until the picture arrives.
    render("res/sprite.png", 80, 80, [(rounded(0, 0, 40, 40, 3), PLACEHOLDER),
                                       (rect(10, 12, 30, 28, 1.2), SECONDARY),
                                       (lines([(11, 27), (17, 20), (22, 25), (25, 22), (29, 27)], 1.2), SECONDARY)])
    # DICOM badge: a small accent tag with "DCM"-like bars.
    render("res/chat_dicom.png", 36, 18, [(rounded(0, 0, 40, 20, 5), ACCENT),
                                           (lines([(8, 10), (32, 10)], 2.0), TEXT),
                                           (lines([(8, 5), (8, 15)], 2.0), TEXT),
                                           (lines([(20, 5), (20, 15)], 2.0), TEXT),
                                           (lines([(32, 5), (32, 15)], 2.0), TEXT)], grid=20.0)
    # Time bubble: rounded, nine-slice with 12-pixel caps.
    render("res/chat_txtbk.png", 40, 40, [(rounded(0, 0, 40, 40, 10), BUBBLE)])


main()
