#include "ui/UIHelper.h"

#include <cstdint>

#include "ui/UILayout.h"
#include "ui/UIScale9Sprite.h"
#include "ui/UIWidget.h"

namespace cocos2d {
namespace ui {

namespace {

// The node's own children, then its protected ones (a scroll view's inner container, say).
template <class Visit>
void forEachOwnChild(Node* node, Visit visit)
{
    for (Node* child : node->Node::getChildren())
        visit(child);
    if (auto* protectedNode = dynamic_cast<ProtectedNode*>(node)) {
        for (Node* child : protectedNode->getProtectedChildren())
            visit(child);
    }
}

void layoutTree(Node* node)
{
    forEachOwnChild(node, [node](Node* child) {
        if (auto* widget = dynamic_cast<Widget*>(child))
            widget->updateSizeAndPosition(node->getContentSize());
    });
    if (auto* layout = dynamic_cast<Layout*>(node))
        layout->forceDoLayout();
    forEachOwnChild(node, [](Node* child) { layoutTree(child); });
}

// Length of the valid UTF-8 sequence starting at s[i] (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0 when the bytes there are not one.
size_t sequenceLength(const std::string& s, size_t i)
{
    const auto byte = [&s](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80)
        return 1;
    size_t n;
    uint32_t cp;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3;
        cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4;
        cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

} // namespace

void Helper::doLayout(Node* root)
{
    if (root != nullptr)
        layoutTree(root);
}

Widget* Helper::seekWidgetByName(Widget* root, const std::string& name)
{
    if (root == nullptr)
        return nullptr;
    if (root->getName() == name)
        return root;
    for (Node* child : root->getChildren()) {
        if (Widget* found = seekWidgetByName(dynamic_cast<Widget*>(child), name))
            return found;
    }
    return nullptr;
}

Widget* Helper::seekWidgetByTag(Widget* root, int tag)
{
    if (root == nullptr)
        return nullptr;
    if (root->getTag() == tag)
        return root;
    for (Node* child : root->getChildren()) {
        if (Widget* found = seekWidgetByTag(dynamic_cast<Widget*>(child), tag))
            return found;
    }
    return nullptr;
}

std::string Helper::getSubStringOfUTF8String(const std::string& str, std::string::size_type start,
                                             std::string::size_type length)
{
    size_t i = 0;
    std::string::size_type index = 0;
    size_t begin = std::string::npos;
    while (i < str.size()) {
        if (index == start)
            begin = i;
        if (begin != std::string::npos && index - start == length)
            return str.substr(begin, i - begin);
        const size_t n = sequenceLength(str, i);
        i += n == 0 ? 1 : n;
        ++index;
    }
    if (begin == std::string::npos)
        return std::string();
    return str.substr(begin);
}

size_t Helper::getUTF8Length(const std::string& str)
{
    size_t count = 0;
    for (size_t i = 0; i < str.size(); ++count) {
        const size_t n = sequenceLength(str, i);
        i += n == 0 ? 1 : n;
    }
    return count;
}

std::string Helper::sanitizeUTF8Line(const std::string& str)
{
    std::string out;
    out.reserve(str.size());
    for (size_t i = 0; i < str.size();) {
        const size_t n = sequenceLength(str, i);
        if (n == 0) {
            ++i;
            continue;
        }
        const unsigned char b0 = static_cast<unsigned char>(str[i]);
        if (n > 1 || (b0 >= 0x20 && b0 != 0x7F))
            out.append(str, i, n);
        i += n;
    }
    return out;
}

Rect Helper::restrictCapInsetRect(const Rect& capInsets, const Size& textureSize)
{
    return Scale9Sprite::restrictCapInsets(capInsets, textureSize);
}

} // namespace ui
} // namespace cocos2d
