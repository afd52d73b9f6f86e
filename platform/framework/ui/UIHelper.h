// ui::Helper: tree-wide layout and lookups for widget trees, and the UTF-8 text helpers the
// widgets share.
#pragma once

#include <string>

#include "math/CCGeometry.h"

namespace cocos2d {

class Node;

namespace ui {

class Widget;

class Helper {
public:
    // Lays out the tree below root: every widget's percent size and position is applied against
    // its parent's content size, then every layout runs its pass, parents before children.
    // Screens call it after loading a layout and after every resize.
    static void doLayout(Node* root);

    // Depth-first search of root and its widget descendants; null when absent.
    static Widget* seekWidgetByName(Widget* root, const std::string& name);
    static Widget* seekWidgetByTag(Widget* root, int tag);

    // `length` characters of a UTF-8 text from character `start` (whole characters only).
    static std::string getSubStringOfUTF8String(const std::string& str, std::string::size_type start,
                                                std::string::size_type length);
    // The number of characters of a UTF-8 text (a stray byte counts as one).
    static size_t getUTF8Length(const std::string& str);
    // The text with invalid UTF-8 sequences, C0 control characters and DEL removed.
    static std::string sanitizeUTF8Line(const std::string& str);

    // Cap insets clamped to an image of the given size (see Scale9Sprite).
    static Rect restrictCapInsetRect(const Rect& capInsets, const Size& textureSize);
};

} // namespace ui
} // namespace cocos2d
