#!/usr/bin/env python3
"""Writes the layouts of the viewer screen into Resources/res/pad/ (the project's JSON layout
format, platform/framework/cocostudio/LAYOUT-FORMAT.md):

  singleViewPC.csb   the screen: top bar, back, favourites and toolbox buttons, the tool column
  2DTool.csb         tool panel of plain images
  3DTool.csb         tool panel of volumes shown in planes (adds the view buttons)
  3DVRTool.csb       tool panel of volume rendering (orientation and curve buttons)
  noSupport.csb      message panel of a series that cannot be shown
  toolDisk.csb, toolImage.csb, toolImageClut.csb, tooLayout.csb, toolROI.csb, toolViewType.csb
                     the tool disk and its pages (the disk places the items around its centre)

Node names are what the code looks up; the drawing is ours. Run from anywhere; the files are
committed. Only the standard library is used.
"""
from layoutkit import BUTTON, MARGIN, PANEL, SECONDARY, SEPARATOR, TEXT, top_left, write

PANEL_WIDTH = 300
PITCH = 54  # 40-unit buttons on a 54-unit pitch: five fit in the 268 units inside the margins


def tool_button(name, icon, x, y):
    return {"type": "Button", "name": name, "size": [BUTTON, BUTTON], "anchor": [0, 1],
            "normal": "imgs/tools/%s.png" % icon, "pressed": "imgs/tools/%sDown.png" % icon,
            "layoutParameter": top_left(x, y)}


def letter_button(name, letter, x, y):
    return {"type": "Button", "name": name, "size": [BUTTON, BUTTON], "anchor": [0, 1],
            "normal": "imgs/tools/button.png", "pressed": "imgs/tools/buttonDown.png",
            "title": letter, "titleFontSize": 16, "titleColor": TEXT[:3],
            "layoutParameter": top_left(x, y)}


def heading(name, text, y):
    return {"type": "Text", "name": name, "text": text, "fontSize": 15, "textColor": SECONDARY,
            "anchor": [0, 1], "layoutParameter": top_left(MARGIN, y)}


class Panel:
    """A tool panel built top-down: headed rows of buttons."""

    def __init__(self, name):
        self.name = name
        self.children = []
        self.y = MARGIN

    def section(self, key, title):
        self.children.append(heading("lbl" + key, title, self.y))
        self.y += 24

    def row(self, buttons):
        for i, (name, icon) in enumerate(buttons):
            x = MARGIN + i * PITCH
            if icon.startswith("="):
                self.children.append(letter_button(name, icon[1:], x, self.y))
            else:
                self.children.append(tool_button(name, icon, x, self.y))
        self.y += BUTTON + 16

    def slider(self):
        self.children.append({"type": "Slider", "name": "sliderSlice", "anchor": [0, 1],
                              "bar": "imgs/tools/sliderTrack.png", "progress": "imgs/tools/sliderFill.png",
                              "ball": ["imgs/tools/sliderKnob.png"], "percent": 0,
                              "layoutParameter": top_left(MARGIN, self.y + 6)})
        self.y += 20 + 16

    def finish(self):
        self.children.append({"type": "Node", "name": "roiList", "visible": False,
                              "size": [PANEL_WIDTH - 2 * MARGIN, 120], "anchor": [0, 1],
                              "position": [MARGIN, 0]})
        height = self.y + MARGIN
        write(self.name, {"type": "Layout", "name": self.name.split(".")[0], "size": [PANEL_WIDTH, height],
                          "layoutType": 3, "bgColorType": "solid", "bgColor": PANEL, "bgOpacity": 255,
                          "children": self.children})


TILES = [("btnTile1x1", "tile1x1"), ("btnTile1x2", "tile1x2"), ("btnTile2x1", "tile2x1"),
         ("btnTile2x2", "tile2x2")]
VIEWS = [("btnViewAxial", "viewAxial"), ("btnViewSagittal", "viewSagittal"), ("btnViewCoronal", "viewCoronal"),
         ("btnViewVR", "viewVR")]
TOOLS = [("btnCmdSelection", "selection"), ("btnCmdMove", "move"), ("btnCmdZoom", "zoom"),
         ("btnCmdRotate", "rotate")]
CINE = [("btnCmdPrior", "prior"), ("btnCmdPlay", "play"), ("btnCmdNext", "next")]
IMAGE = [("btnCmdWL", "windowLevel"), ("btnCmdClut", "clut"), ("btnCmdWLOpaticy", "opacity")]
MEASURE = [("btnCmdPoint", "point"), ("btnCmdLine", "line"), ("btnCmdAngle", "angle"),
           ("btnCmdPolygon", "polygon"), ("btnCmdCircle", "circle")]


def plane_panel(name, with_views):
    p = Panel(name)
    p.section("Layout", "Layout")
    p.row(TILES)
    if with_views:
        p.section("Views", "Views")
        p.row(VIEWS)
    p.section("Tools", "Tools")
    p.row(TOOLS)
    p.section("Slice", "Slice")
    p.slider()
    p.section("Cine", "Cine")
    p.row(CINE)
    p.section("Image", "Window and colour")
    p.row(IMAGE)
    p.section("Measure", "Measurements")
    p.row(MEASURE)
    p.row([("btnCmdRemoveROI", "removeROI"), ("btnCmdCapture", "capture")])
    # The cine button starts with the picture of the stopped state (the screen swaps it).
    for child in p.children:
        if child.get("name") == "btnCmdPlay":
            child["normal"] = child["pressed"] = child["disabled"] = "imgs/play.png"
    p.finish()


def volume_panel():
    p = Panel("3DVRTool.csb")
    p.section("Layout", "Layout")
    p.row(TILES)
    p.section("Views", "Views")
    p.row(VIEWS)
    p.section("Tools", "Tools")
    p.row(TOOLS[1:])
    p.section("Rotate", "Turn")
    p.slider()
    p.section("Orientation", "Orientation")
    p.row([("btnCmdOriS", "=S"), ("btnCmdOriI", "=I"), ("btnCmdOriA", "=A")])
    p.row([("btnCmdOriP", "=P"), ("btnCmdOriR", "=R"), ("btnCmdOriL", "=L")])
    p.section("Image", "Window and colour")
    p.row(IMAGE)
    p.section("Capture", "Capture")
    p.row([("btnCmdCapture", "capture")])
    p.finish()


def screen():
    def top_button(name, icon, right):
        return {"type": "Button", "name": name, "size": [BUTTON, BUTTON], "anchor": [1, 1],
                "normal": "imgs/tools/%s.png" % icon, "pressed": "imgs/tools/%sDown.png" % icon,
                "layoutParameter": {"align": 3, "margin": [0, 10, right, 0]}}

    # No background of its own: the multi-view container lies below the layout (z-order -100) and
    # shows through the viewing area.
    write("singleViewPC.csb", {
        "type": "Layout", "name": "singleViewPC", "size": [1920, 1080], "layoutType": 3,
        "children": [
            {"type": "Layout", "name": "topBar", "size": [7680, 60], "anchor": [0, 1],
             "bgColorType": "solid", "bgColor": PANEL, "bgOpacity": 255, "layoutParameter": top_left(0, 0)},
            {"type": "Layout", "name": "topBarLine", "size": [7680, 1], "anchor": [0, 1],
             "bgColorType": "solid", "bgColor": SEPARATOR, "bgOpacity": 255, "layoutParameter": top_left(0, 60)},
            # The tool column behind the panel, shown with the panel.
            {"type": "ImageView", "name": "Image_5", "texture": "imgs/tools/bar.png", "scale9": True,
             "size": [PANEL_WIDTH, 7680], "anchor": [0, 0], "layoutParameter": {"align": 7}},
            {"type": "ImageView", "name": "selectLine", "texture": "imgs/tools/accentLine.png", "scale9": True,
             "size": [PANEL_WIDTH, 2], "anchor": [0, 1], "layoutParameter": top_left(0, 59)},
            {"type": "Button", "name": "goBack", "size": [BUTTON, BUTTON], "anchor": [0, 1],
             "normal": "imgs/tools/back.png", "pressed": "imgs/tools/backDown.png",
             "layoutParameter": top_left(12, 10)},
            {"type": "Text", "name": "viewerTitle", "text": "Viewer", "fontSize": 20, "textColor": TEXT,
             "anchor": [0, 1], "layoutParameter": top_left(64, 18)},
            top_button("btnCmdToolbox", "toolbox", 212),
            top_button("btnCmdFavorite", "favorite", 160),
            # Placeholder of the tool panel: its width is the panel's width.
            {"type": "Layout", "name": "tool", "size": [PANEL_WIDTH, 1020], "anchor": [0, 0],
             "layoutParameter": {"align": 7}},
        ]})


def message_panel():
    write("noSupport.csb", {
        "type": "Layout", "name": "noSupport", "size": [560, 160], "bgColorType": "solid", "bgColor": PANEL,
        "bgOpacity": 255, "children": [
            {"type": "Layout", "name": "edge", "size": [560, 3], "position": [0, 157], "bgColorType": "solid",
             "bgColor": [229, 72, 77], "bgOpacity": 255},
            {"type": "Text", "name": "intro", "text": "", "fontSize": 18, "textColor": TEXT, "anchor": [0.5, 0.5],
             "position": [280, 80], "hAlign": "center", "vAlign": "center", "areaSize": [500, 120]},
        ]})


DETAIL = 310


def disk_page(name, items):
    children = []
    for item, texture, scale in items:
        node = {"type": "ImageView", "name": item, "texture": texture, "anchor": [0.5, 0.5],
                "position": [DETAIL / 2, DETAIL / 2]}
        if scale:
            node["scale"] = scale
        children.append(node)
    write(name, {"type": "Layout", "name": name.split(".")[0], "size": [DETAIL, DETAIL], "children": children})


def disk():
    write("toolDisk.csb", {"type": "Layout", "name": "toolDisk", "size": [360, 360], "children": [
        {"type": "ImageView", "name": "plate", "texture": "imgs/disk/plate.png", "position": [180, 180],
         "anchor": [0.5, 0.5]}]})
    disk_page("toolImage.csb", [])
    disk_page("toolImageClut.csb", [(n, "imgs/%s.png" % n, [0.62, 1.0])
                                    for n in ("bwInverse", "hotMetal", "geColor", "perfusion", "noClut")])
    disk_page("tooLayout.csb", [("win1x1", "imgs/disk/tile1x1.png", None), ("win1x2", "imgs/disk/tile1x2.png", None),
                                ("win2x1", "imgs/disk/tile2x1.png", None), ("win2x2", "imgs/disk/tile2x2.png", None)])
    disk_page("toolROI.csb", [("angle", "imgs/disk/angle.png", None), ("cross", "imgs/disk/point.png", None),
                              ("polygon", "imgs/disk/polygon.png", None), ("circle", "imgs/disk/circle.png", None),
                              ("line", "imgs/disk/line.png", None)])
    disk_page("toolViewType.csb", [("axial", "imgs/disk/viewAxial.png", None),
                                   ("cor", "imgs/disk/viewCoronal.png", None),
                                   ("sag", "imgs/disk/viewSagittal.png", None),
                                   ("vr", "imgs/disk/viewVR.png", None)])


screen()
plane_panel("2DTool.csb", False)
plane_panel("3DTool.csb", True)
volume_panel()
message_panel()
disk()
