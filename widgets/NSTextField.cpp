#include "NSTextField.h"

#include "NSLanguage.h"

#include <algorithm>
#include <mutex>

namespace NSUI
{

namespace
{
const char* const kCursorBlinkKey = "NSTextField.updateCursor";
constexpr float kCursorBlinkInterval = 0.5f;
const char* const kBackgroundNormal = "editnormal.png";
const char* const kBackgroundFocus = "editfocus.png";
const cocos2d::Rect kBackgroundInsets(20, 20, 10, 10);
constexpr int kBackgroundFieldZOrder = 10;

bool allDigits(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string joinChars(const std::vector<std::string>& chars, size_t from, size_t to)
{
    std::string out;
    for (size_t i = from; i < to && i < chars.size(); ++i)
        out += chars[i];
    return out;
}

// Layout texts are translated by the language table (AppConfig::setText), which knows labels and
// buttons; a text field named in the table takes the translation as its placeholder. Installed
// with the first field, since only a program that has fields needs it.
void installPlaceholderTranslator()
{
    static std::once_flag installed;
    std::call_once(installed,
                   []
                   {
                       NSLanguage::setNodeTranslator(
                           [](cocos2d::Node* node, const std::string& text)
                           {
                               auto* field = dynamic_cast<NSTextField*>(node);
                               if (!field)
                                   return false;
                               field->setPlaceHolder(text);
                               return true;
                           });
                   });
}
} // namespace

NSTextField* NSTextField::create(std::string placeholder, cocos2d::Size size)
{
    auto* field = new (std::nothrow) NSTextField();
    if (field != nullptr && field->init(placeholder, size))
    {
        field->autorelease();
        if (!placeholder.empty())
            field->setPlaceHolder(placeholder);
        return field;
    }
    delete field;
    return nullptr;
}

bool NSTextField::init(std::string placeholderText, cocos2d::Size size)
{
    if (!NSRichText::init())
        return false;
    installPlaceholderTranslator();
    placeholder = placeholderText.empty() ? " " : placeholderText;
    setContentSize(size);
    touchRect = cocos2d::Rect(cocos2d::Vec2::ZERO, size);
    setPlaceHolder(placeholder);
    placeholderShown = true;
    setTouchEnabled(true);
    return true;
}

int NSTextField::heldCharacters() const
{
    return placeholderShown ? 0 : static_cast<int>(elements.size());
}

void NSTextField::showPlaceHolder()
{
    NSRichText::setText(placeholder, placeholderFontName, placeholderFontSize, placeholderColor);
    placeholderShown = true;
}

void NSTextField::setPlaceHolder(std::string placeholderText)
{
    placeholder = placeholderText.empty() ? " " : placeholderText;
    if (!elements.empty() && !placeholderShown)
        return;
    showPlaceHolder();
}

void NSTextField::redisplay()
{
    if (placeholderShown)
        setPlaceHolder(placeholder);
    else
        setString(text);
}

void NSTextField::setFontSize(int size)
{
    fontSize = size;
    redisplay();
}

void NSTextField::setTextColor(cocos2d::Color3B color)
{
    textColor = color;
    redisplay();
}

void NSTextField::setLineHeight(int height)
{
    NSRichText::setLineHeight(height);
    redisplay();
}

void NSTextField::setPlaceHolderFontSize(int size)
{
    placeholderFontSize = size;
    setPlaceHolder(placeholder);
}

void NSTextField::setCursorIndex(int index)
{
    cursorIndex = std::clamp(index, 0, heldCharacters());
}

void NSTextField::setString(std::string value)
{
    text.clear();
    cursorIndex = 0;
    if (value.empty())
    {
        showPlaceHolder();
        return;
    }
    clearElements();
    insertString(std::move(value));
}

cocos2d::Sprite* NSTextField::getCursor() const
{
    return dynamic_cast<cocos2d::Sprite*>(container->getChildByTag(kCursorTag));
}

void NSTextField::hideCursor()
{
    if (auto* cursor = getCursor())
        cursor->setVisible(false);
}

bool NSTextField::filterInput(const std::string& s) const
{
    switch (inputMode)
    {
    case InputMode::SIGNED_INTEGER:
        if (s == "-")
            return text.empty();
        return allDigits(s);
    case InputMode::DIGITS:
        return allDigits(s);
    case InputMode::SIGNED_DECIMAL:
        if (s == "-")
            return text.empty();
        if (s == ".")
            return !text.empty() && text.find('.') == std::string::npos;
        return allDigits(s);
    case InputMode::IP_ADDRESS:
        if (s == ".")
            return !text.empty() && text.back() != '.';
        return allDigits(s);
    default:
        return true;
    }
}

void NSTextField::insertText(const char* bytes, size_t len)
{
    std::string s(bytes, len);
    const size_t newline = s.find('\n');
    if (newline != std::string::npos)
        s.erase(newline);
    if (s.empty())
        return;
    if (maxLengthEnabled && heldCharacters() >= maxLength)
        return;
    if (!filterInput(s))
        return;
    insertString(s);
    if (listener)
        listener(this, EventType::INSERT_TEXT);
}

void NSTextField::insertString(std::string s)
{
    const int n = heldCharacters();
    cursorIndex = std::clamp(cursorIndex, 0, n);
    const std::vector<std::string> chars = splitUtf8(text);
    const std::string head = joinChars(chars, 0, static_cast<size_t>(cursorIndex));
    const std::string tail = joinChars(chars, static_cast<size_t>(cursorIndex), chars.size());

    hideCursor();
    auto* inner = container->getInnerContainer();
    bool remembered = false;
    cocos2d::Vec2 p0;
    cocos2d::Size s0;
    if (placeholderShown)
    {
        clearElements();
        placeholderShown = false;
        cursorIndex = 0;
    }
    else
    {
        remembered = true;
        p0 = inner->getPosition();
        s0 = inner->getContentSize();
    }
    for (const std::string& c : splitUtf8(s))
    {
        insertElement(NSRichElementText::create(static_cast<int>(elements.size()) + 1, password ? mask : c, fontName,
                                                static_cast<float>(fontSize), textColor, 255),
                      cursorIndex, false);
        ++cursorIndex;
    }
    formatText();
    if (remembered)
    {
        const cocos2d::Size s1 = inner->getContentSize();
        if (static_cast<float>(viewHeight) < s1.height)
            inner->setPosition(cocos2d::Vec2(p0.x, p0.y - (s1.height - s0.height)));
    }
    cursorPosition = getCursorPosition(cursorIndex);
    if (cursorPosition.y + inner->getPositionY() < 0.0f)
        inner->setPositionY(-cursorPosition.y);
    text = head + s + tail;
}

void NSTextField::deleteBackward()
{
    const int n = static_cast<int>(elements.size());
    if (placeholderShown || n == 0 || cursorIndex == 0)
        return;
    cursorIndex = std::min(cursorIndex, n);
    hideCursor();
    auto* inner = container->getInnerContainer();
    const cocos2d::Vec2 p0 = inner->getPosition();
    const cocos2d::Size s0 = inner->getContentSize();

    removeElement(cursorIndex - 1);
    const std::vector<std::string> chars = splitUtf8(text);
    text = joinChars(chars, 0, static_cast<size_t>(cursorIndex - 1)) +
           joinChars(chars, static_cast<size_t>(cursorIndex), chars.size());
    --cursorIndex;

    const cocos2d::Size s1 = inner->getContentSize();
    if (static_cast<float>(viewHeight) < s1.height)
        inner->setPosition(cocos2d::Vec2(p0.x, p0.y - (s1.height - s0.height)));

    if (elements.empty())
    {
        showPlaceHolder();
        text.clear();
        cursorIndex = 0;
    }
    cursorPosition = getCursorPosition(cursorIndex);
    scrollToCursor();
    if (listener)
        listener(this, EventType::DELETE_BACKWARD);
}

void NSTextField::deleteForward()
{
    if (placeholderShown || cursorIndex >= static_cast<int>(elements.size()))
        return;
    // The character after the cursor is the one before the next position; the listener hears
    // DELETE_BACKWARD as for any deletion.
    ++cursorIndex;
    deleteBackward();
}

void NSTextField::controlKey(cocos2d::EventKeyboard::KeyCode keyCode)
{
    using Key = cocos2d::EventKeyboard::KeyCode;
    switch (keyCode)
    {
    case Key::KEY_HOME: moveCursor(0); break;
    case Key::KEY_END: moveCursor(heldCharacters()); break;
    case Key::KEY_LEFT_ARROW: moveCursor(cursorIndex - 1); break;
    case Key::KEY_RIGHT_ARROW: moveCursor(cursorIndex + 1); break;
    default: break;
    }
}

void NSTextField::moveCursor(int index)
{
    setCursorIndex(index);
    cursorPosition = getCursorPosition(cursorIndex);
    scrollToCursor();
    if (auto* cursor = getCursor())
    {
        cursor->setPosition(placeholderShown ? cocos2d::Vec2(2.0f, 0.0f) : cursorPosition);
        cursor->setVisible(true);
    }
}

void NSTextField::scrollToCursor()
{
    // Inner container space: with the inner container at y, the widget shows its rows from -y
    // up to -y + the widget's height; the cursor's row (the height of the character at the
    // cursor, or of the last one) must lie within that band.
    if (elements.empty())
        return;
    auto* inner = container->getInnerContainer();
    const auto at = static_cast<size_t>(std::clamp(cursorIndex, 0, static_cast<int>(elements.size()) - 1));
    const float row = elements[at]->renderer ? elements[at]->renderer->getContentSize().height : 0.0f;
    const float band = getContentSize().height;
    float y = inner->getPositionY();
    if (cursorPosition.y + y < 0.0f)
        y = -cursorPosition.y;
    else if (cursorPosition.y + row + y > band)
        y = band - cursorPosition.y - row;
    inner->setPositionY(std::clamp(y, std::min(0.0f, band - inner->getContentSize().height), 0.0f));
}

bool NSTextField::isTouchInside(const cocos2d::Vec2& worldPoint)
{
    const cocos2d::Vec2 p = convertToNodeSpace(worldPoint);
    return cocos2d::Rect(0.0f, 0.0f, getContentSize().width, static_cast<float>(viewHeight)).containsPoint(p);
}

bool NSTextField::onTouchBegan(cocos2d::Touch* touch, cocos2d::Event*)
{
    const cocos2d::Vec2 p = convertToNodeSpace(touch->getLocation());
    _hitted = p.x > touchRect.origin.x && p.y > touchRect.origin.y &&
              p.x < touchRect.origin.x + touchRect.size.width && p.y < touchRect.origin.y + touchRect.size.height;
    if (_hitted)
    {
        attachWithIME();
        cursorIndex = std::max(0, getIndexAtTouch(touch));
        cursorPosition = getCursorPosition(cursorIndex);
        hideCursor();
    }
    else
    {
        detachWithIME();
    }
    return false;
}

bool NSTextField::interceptTouchEvent(TouchEventType event, cocos2d::ui::Widget*, cocos2d::Touch* touch)
{
    if (event == TouchEventType::BEGAN)
        return onTouchBegan(touch, nullptr);
    return true;
}

void NSTextField::switchBackground(const char* image)
{
    if (background == nullptr)
        return;
    if (auto* texture = cocos2d::Director::getInstance()->getTextureCache()->addImage(image))
    {
        const cocos2d::Size keep = background->getContentSize();
        background->setSpriteFrame(
            cocos2d::SpriteFrame::createWithTexture(texture, cocos2d::Rect(cocos2d::Vec2::ZERO, texture->getContentSize())),
            kBackgroundInsets);
        background->setContentSize(keep);
    }
    placeBackground();
}

void NSTextField::placeBackground()
{
    if (background == nullptr)
        return;
    const cocos2d::Size& size = getContentSize();
    background->setPosition(cocos2d::Vec2(getPositionX() - 2.0f, getPositionY()));
    background->setContentSize(cocos2d::Size(size.width + 4.0f, size.height + 10.0f));
    background->setAnchorPoint(getAnchorPoint());
    background->setLocalZOrder(getLocalZOrder() - 1);
}

bool NSTextField::attachWithIME()
{
    switchBackground(kBackgroundFocus);
    const bool ok = cocos2d::IMEDelegate::attachWithIME();
    if (ok)
    {
        if (auto* view = cocos2d::Director::getInstance()->getOpenGLView())
        {
            view->setIMEKeyboardState(true);
            schedule([this](float dt) { updateCursor(dt); }, kCursorBlinkInterval, CC_REPEAT_FOREVER,
                     kCursorBlinkInterval, kCursorBlinkKey);
        }
    }
    return ok;
}

bool NSTextField::detachWithIME()
{
    switchBackground(kBackgroundNormal);
    const bool ok = cocos2d::IMEDelegate::detachWithIME();
    if (ok)
    {
        if (auto* view = cocos2d::Director::getInstance()->getOpenGLView())
            view->setIMEKeyboardState(false);
    }
    unschedule(kCursorBlinkKey);
    hideCursor();
    return ok;
}

void NSTextField::didDetachWithIME()
{
    // Another field took the keyboard: no focus frame or blinking cursor stays behind here.
    switchBackground(kBackgroundNormal);
    unschedule(kCursorBlinkKey);
    hideCursor();
}

void NSTextField::updateCursor(float)
{
    cocos2d::Sprite* cursor = getCursor();
    if (cursor == nullptr)
    {
        cursor = cursorImage.empty() ? nullptr : cocos2d::Sprite::create(cursorImage);
        if (cursor == nullptr)
            cursor = cocos2d::Sprite::create();
        cursor->setVisible(false);
        cursor->setAnchorPoint(cocos2d::Vec2::ZERO);
        cursor->setScaleX(1.0f);
        container->addChild(cursor, 120, kCursorTag);
    }
    cursor->setScaleY(static_cast<float>(fontSize) / 20.0f);
    if (!cursor->isVisible())
    {
        cursor->setPosition(placeholderShown ? cocos2d::Vec2(2.0f, 0.0f) : cursorPosition);
        cursor->setVisible(true);
    }
    else
    {
        cursor->setVisible(false);
    }
}

void NSTextField::enableBackground()
{
    cocos2d::Node* parent = getParent();
    if (parent == nullptr)
    {
        CCLOG("NSTextField::enableBackground: the field has no parent");
        return;
    }
    backgroundEnabled = true;
    background = cocos2d::ui::Scale9Sprite::create(kBackgroundInsets, kBackgroundNormal);
    if (background == nullptr)
        return;
    placeBackground();
    setZOrder(kBackgroundFieldZOrder);
    parent->addChild(background, kBackgroundFieldZOrder - 1);
}

void NSTextField::setZOrder(int z)
{
    setLocalZOrder(z);
    if (background != nullptr)
        background->setLocalZOrder(z - 1);
}

void NSTextField::onExit()
{
    detachWithIME();
    NSRichText::onExit();
}

} // namespace NSUI
