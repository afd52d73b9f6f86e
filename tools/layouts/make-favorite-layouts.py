#!/usr/bin/env python3
"""Writes the layouts of the favourites screens and the viewer's side windows into
Resources/res/pad/ (the project's JSON layout format, platform/framework/cocostudio/LAYOUT-FORMAT.md):

  favoriteView.csb     the favourites screen: a top bar over the capture list's column
  2DFavoriteTool.csb   the favourite viewer's tool bar, 80 units wide, as high as the pane
  dcmInfo.csb          the DICOM tag list window (its list view replaces "dcmList")
  tagInfo.csb          one row of the tag list, 35 units high
  editWW.csb           the window width/level dialog (its fields stand right of the four labels)

Node names are what the code looks up; the drawing is ours. Run from anywhere; the files are
committed. Only the standard library is used.
"""
from layoutkit import ACCENT, BUTTON, MARGIN, PANEL, SECONDARY, TEXT, top_left, write


def text_button(name, title, width, layout, accent=False, tag=None):
    node = {"type": "Button", "name": name, "size": [width, 32], "anchor": [0, 1], "scale9": True,
            "normal": "imgs/btnAccent.png" if accent else "imgs/btnRaised.png",
            "pressed": "imgs/btnAccentDown.png" if accent else "imgs/btnRaisedDown.png",
            "capInsets": [6, 6, 12, 12] if accent else [2, 2, 20, 20],
            "title": title, "titleFontSize": 15, "titleColor": TEXT[:3]}
    if layout is not None:
        node["layoutParameter"] = layout
    if tag is not None:
        node["tag"] = tag
    return node


def label(name, text, size, colour, **fields):
    node = {"type": "Text", "name": name, "text": text, "fontSize": size, "textColor": colour}
    node.update(fields)
    return node


def favourites_screen():
    # The capture list fills the left column below the 60-unit bar; the viewer pane takes the
    # rest of the window (and the bar's height on the right), so the bar spans the left column.
    # The root is absolute (the screen adds the list and the panes at their own places) and has no
    # background: the viewer's image area is the window's black clear colour.
    bar = {"type": "Layout", "name": "topBar", "size": [300, 60], "anchor": [0, 1], "positionPercent": [0, 1],
           "bgColorType": "solid", "bgColor": PANEL, "bgOpacity": 255, "layoutType": 3, "children": [
               {"type": "Button", "name": "goBack", "size": [BUTTON, BUTTON], "anchor": [0, 1],
                "normal": "imgs/tools/back.png", "pressed": "imgs/tools/backDown.png",
                "layoutParameter": top_left(8, 10)},
               {"type": "CheckBox", "name": "chkAll", "size": [28, 28], "anchor": [0, 1],
                "background": "imgs/chkNone.png", "cross": "imgs/chkDone.png",
                "layoutParameter": top_left(60, 16)},
               label("lblAll", "All", 15, SECONDARY, anchor=[0, 1], layoutParameter=top_left(92, 20)),
               text_button("btnShare", "Share", 76, top_left(126, 14)),
               text_button("btnRemove", "Remove", 82, top_left(210, 14)),
           ]}
    write("favoriteView.csb", {
        "type": "Layout", "name": "favoriteView", "size": [1920, 1080], "layoutType": 0, "children": [bar]})


TOOLS = [("btnCmdSelection", "selection"), ("btnCmdMove", "move"), ("btnCmdZoom", "zoom"),
         None,
         ("btnCmdWL", "windowLevel"), ("btnCmdClut", "clut"), ("btnCmdWLOpaticy", "opacity"),
         None,
         ("btnCmdPoint", "point"), ("btnCmdLine", "line"), ("btnCmdAngle", "angle"),
         ("btnCmdPolygon", "polygon"), ("btnCmdCircle", "circle"), ("btnCmdRemoveROI", "removeROI"),
         None,
         ("btnCmdCapture", "capture"), ("btnCmdSend", "send"), ("btnCmdRemoveDicom", "removeDicom")]


def favourite_tool_bar():
    # 15 buttons on a 42-unit pitch with three group gaps: 668 units, inside the 700 units of a
    # 1280x800 screen's window.
    children = []
    y = MARGIN
    for entry in TOOLS:
        if entry is None:
            children.append({"type": "ImageView", "name": "sep%d" % y, "texture": "imgs/tools/separator.png",
                             "scale9": True, "size": [48, 1], "anchor": [0, 1],
                             "layoutParameter": top_left(16, y + 1)})
            y += 8
            continue
        name, icon = entry
        children.append({"type": "Button", "name": name, "size": [BUTTON, BUTTON], "anchor": [0, 1],
                         "normal": "imgs/tools/%s.png" % icon, "pressed": "imgs/tools/%sDown.png" % icon,
                         "layoutParameter": top_left(20, y)})
        y += BUTTON + 2
    write("2DFavoriteTool.csb", {
        "type": "Layout", "name": "2DFavoriteTool", "size": [80, 1080], "layoutType": 3,
        "bgColorType": "solid", "bgColor": PANEL, "bgOpacity": 255, "children": children})


def tag_list():
    width, height = 1000, 760
    list_width = width - 2 * MARGIN
    header_y = height - 64
    # The close button sits at the top right (absolute: the window is not laid out relative).
    close = text_button("btn_back", "Close", 90, None)
    close["anchor"] = [1, 1]
    close["position"] = [width - MARGIN, height - 12]
    write("dcmInfo.csb", {
        "type": "Layout", "name": "dcmInfo", "size": [width, height], "bgColorType": "solid", "bgColor": PANEL,
        "bgOpacity": 255, "children": [
            label("title", "DICOM Tags", 20, TEXT, anchor=[0, 1], position=[MARGIN, height - 16]),
            close,
            label("hdrTag", "Tag", 15, SECONDARY, anchor=[0, 0.5], position=[MARGIN + 8, header_y]),
            label("hdrIntro", "Description", 15, SECONDARY, anchor=[0, 0.5], position=[MARGIN + 130, header_y]),
            label("hdrValue", "Value", 15, SECONDARY, anchor=[0, 0.5], position=[MARGIN + 330, header_y]),
            {"type": "ImageView", "name": "hdrLine", "texture": "imgs/tools/separator.png", "scale9": True,
             "size": [list_width, 1], "anchor": [0, 0], "position": [MARGIN, header_y - 18]},
            {"type": "Layout", "name": "dcmList", "size": [list_width, header_y - 18 - MARGIN], "anchor": [0, 0],
             "position": [MARGIN, MARGIN]},
        ]})
    row = [
        label("tag", "", 15, ACCENT + [255], anchor=[0, 0.5], position=[8, 17.5]),
        label("intro", "", 15, SECONDARY, anchor=[0, 0.5], position=[130, 17.5]),
        label("value", "", 15, TEXT, anchor=[0, 0.5], position=[330, 17.5]),
        {"type": "ImageView", "name": "rowLine", "texture": "imgs/tools/separator.png", "scale9": True,
         "size": [list_width, 1], "anchor": [0, 0], "position": [0, 0]},
    ]
    write("tagInfo.csb", {"type": "Layout", "name": "tagInfo", "size": [list_width, 35], "children": row})


def level_dialog():
    width, height = 560, 330
    rows = [("editWW_window", "Width", 232), ("editWW_level", "Level", 182), ("editWW_min", "Minimum", 118),
            ("editWW_max", "Maximum", 68)]
    children = [label("title", "Window Width / Level", 20, TEXT, anchor=[0, 1], position=[MARGIN + 8, height - 16]),
                label("hint", "Enter a width and level, or the range they show.", 15, SECONDARY, anchor=[0, 1],
                      position=[MARGIN + 8, height - 48])]
    for name, text, y in rows:
        # The field starts 22 units right of the label's anchor, so labels end there.
        children.append(label(name, text, 16, TEXT, anchor=[1, 0.5], position=[150, y]))
    children.append({"type": "ImageView", "name": "sepRange", "texture": "imgs/tools/separator.png",
                     "scale9": True, "size": [width - 2 * MARGIN, 1], "anchor": [0, 0.5],
                     "position": [MARGIN, 150]})
    button = text_button("btn_back", "Apply", 110, None, accent=True, tag=1001)
    button["anchor"] = [1, 0]
    button["position"] = [width - MARGIN, MARGIN]
    children.append(button)
    write("editWW.csb", {"type": "Layout", "name": "editWW", "size": [width, height], "bgColorType": "solid",
                         "bgColor": PANEL, "bgOpacity": 255, "children": children})


favourites_screen()
favourite_tool_bar()
tag_list()
level_dialog()
