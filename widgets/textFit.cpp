#include "textFit.h"

#include "NSRichText.h"

#include <algorithm>

namespace NSUI
{

namespace
{
const char* const kEllipsis = "\xE2\x80\xA6";

std::string headWithEllipsis(const std::vector<std::string>& chars, size_t keep)
{
    std::string out;
    for (size_t i = 0; i < keep && i < chars.size(); ++i)
        out += chars[i];
    return out + kEllipsis;
}
} // namespace

std::string cutToCharacters(const std::string& text, size_t count)
{
    const std::vector<std::string> chars = splitUtf8(text);
    if (chars.size() <= count)
        return text;
    return headWithEllipsis(chars, count == 0 ? 0 : count - 1);
}

void fitTextToWidth(cocos2d::ui::Text* label, const std::string& text, float width)
{
    if (label == nullptr)
        return;
    label->setString(text);
    if (label->getBoundingBox().size.width <= width)
        return;
    // The widest head that fits, by bisection over the number of kept characters: a label's
    // width grows with each character added to its end.
    const std::vector<std::string> chars = splitUtf8(text);
    size_t fits = 0, tooWide = chars.size();
    while (tooWide - fits > 1)
    {
        const size_t mid = (fits + tooWide) / 2;
        label->setString(headWithEllipsis(chars, mid));
        if (label->getBoundingBox().size.width <= width)
            fits = mid;
        else
            tooWide = mid;
    }
    label->setString(headWithEllipsis(chars, fits));
}

void fitTextBeforeNext(cocos2d::ui::Text* label, const std::string& text, float gap, float margin)
{
    cocos2d::Node* parent = label ? label->getParent() : nullptr;
    if (parent == nullptr)
        return;
    // Where its column starts, as laid out; then the whole text, whose box gives its line.
    const float left = label->getBoundingBox().getMinX();
    label->setString(text);
    cocos2d::Rect box = label->getBoundingBox();
    box.origin.x = left;
    float end = parent->getContentSize().width - margin;
    for (cocos2d::Node* other : parent->getChildren())
    {
        if (other == label || !other->isVisible())
            continue;
        const cocos2d::Rect o = other->getBoundingBox();
        const bool sameLine = o.getMinY() < box.getMaxY() && box.getMinY() < o.getMaxY();
        if (o.size.width > 0.0f && sameLine && o.getMinX() > box.getMinX())
            end = std::min(end, o.getMinX() - gap);
    }
    fitTextToWidth(label, text, end - left);
    // A label anchored anywhere but its left edge moves that edge as its text changes.
    label->setPositionX(label->getPositionX() + left - label->getBoundingBox().getMinX());
}

} // namespace NSUI
