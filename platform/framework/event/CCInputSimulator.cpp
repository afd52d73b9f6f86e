#include "event/CCInputSimulator.h"

#include "base/ccUTF8.h"

namespace cocos2d {

void InputSimulator::text(const std::string& utf8)
{
    std::vector<char32_t> codePoints;
    decodeUtf8(utf8, codePoints);
    for (char32_t cp : codePoints) {
        InputTranslator::character(static_cast<unsigned int>(cp));
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
