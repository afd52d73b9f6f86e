#include "event/CCInputSimulator.h"

namespace cocos2d {

namespace {
// Decodes UTF-8; a malformed byte becomes U+FFFD so that the caller sees something was typed.
std::vector<unsigned int> codepoints(const std::string& utf8)
{
    std::vector<unsigned int> out;
    const size_t n = utf8.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        size_t extra = 0;
        unsigned int cp = c;
        if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else if (c >= 0x80) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        bool ok = i + extra < n;
        for (size_t k = 1; ok && k <= extra; ++k) {
            const unsigned char cc = static_cast<unsigned char>(utf8[i + k]);
            ok = (cc & 0xC0) == 0x80;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += extra + 1;
    }
    return out;
}
} // namespace

void InputSimulator::text(const std::string& utf8)
{
    for (unsigned int cp : codepoints(utf8)) {
        InputTranslator::character(cp);
    }
}

void InputSimulator::paste(const std::string& text)
{
    InputTranslator::setClipboardText(text);
    key(EventKeyboard::KeyCode::KEY_LEFT_CTRL, true);
    key(EventKeyboard::KeyCode::KEY_V, true);
    key(EventKeyboard::KeyCode::KEY_V, false);
    key(EventKeyboard::KeyCode::KEY_LEFT_CTRL, false);
}

} // namespace cocos2d
