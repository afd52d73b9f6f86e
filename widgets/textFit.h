// Cutting texts that do not fit: whatever is cut ends with an ellipsis ("…", U+2026), so a cut
// text never passes for a whole one, and a UTF-8 character is never split.
//
// Main thread only (fitTextToWidth measures with a label).
#pragma once

#include "ui/UIText.h"

#include <string>

namespace NSUI
{

// The text whole when it has at most `count` characters, otherwise its first count - 1
// characters and the ellipsis: the result is never longer than `count` characters.
std::string cutToCharacters(const std::string& text, size_t count);

// Sets the label's text, cut with the ellipsis to as many leading characters as keep the label's
// width (its bounding box, scale included, in its parent's space) within `width`. A text that
// fits is set whole; when even the ellipsis alone is too wide the label shows just that.
void fitTextToWidth(cocos2d::ui::Text* label, const std::string& text, float width);

// fitTextToWidth with the room a text has where its column starts: up to the next text or control
// drawn on its line among its siblings, less `gap`, or to its parent's right edge less `margin`
// when nothing follows it. The label keeps its left edge where it stands; siblings are measured as
// they stand.
void fitTextBeforeNext(cocos2d::ui::Text* label, const std::string& text, float gap, float margin);

} // namespace NSUI
