"""What the layout scripts (make-*.py beside this file) share: the screens' colours, the common
sizes and the writer of the project's JSON layout files under Resources/res/pad/.
Only the standard library is used.
"""
import json
import os

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "Resources", "res", "pad")

TEXT = [230, 232, 235, 255]
SECONDARY = [154, 160, 166, 255]
BACKGROUND = [27, 29, 34]
PANEL = [36, 39, 46]
RAISED = [47, 51, 59]
SEPARATOR = [58, 63, 72]
ACCENT = [21, 170, 254]
MARGIN = 16
BUTTON = 40


def write(name, root):
    os.makedirs(ROOT, exist_ok=True)
    with open(os.path.join(ROOT, name), "w") as f:
        json.dump({"format": "quorvane-layout", "version": 1, "root": root}, f, indent=1)
        f.write("\n")


def top_left(x, y):
    """Relative placement from the parent's top-left corner."""
    return {"align": 1, "margin": [x, y, 0, 0]}
