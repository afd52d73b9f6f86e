// The font rule the text widgets share: a font name that resolves to an existing file is opened
// as a TrueType file; any other name (the empty one included) is a system font name.
#pragma once

#include <string>

namespace cocos2d {

class Label;

namespace ui {
namespace detail {

void applyLabelFont(Label* label, const std::string& fontName, float fontSize);

} // namespace detail
} // namespace ui
} // namespace cocos2d
