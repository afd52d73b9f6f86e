#include "textFit.h"

#include "NSRichText.h"

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

} // namespace NSUI
