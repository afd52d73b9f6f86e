#include "base/ccUTF8.h"

namespace cocos2d {

void decodeUtf8(const std::string& text, std::vector<char32_t>& out)
{
    out.clear();
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        int length = 0;
        char32_t cp = 0;
        if (c < 0x80) {
            length = 1;
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            cp = c & 0x07;
        }
        bool ok = length > 0 && end - p >= length;
        for (int i = 1; ok && i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80) {
                ok = false;
            } else {
                cp = (cp << 6) | (p[i] & 0x3F);
            }
        }
        if (!ok) {
            out.push_back(0xFFFD);
            ++p;
            continue;
        }
        out.push_back(cp);
        p += length;
    }
}

} // namespace cocos2d
