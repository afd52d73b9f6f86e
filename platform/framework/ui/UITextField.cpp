#include "ui/UITextField.h"

#include <algorithm>

#include "2d/CCLabel.h"
#include "ui/UILabelFont.h"
#include "base/CCDirector.h"
#include "platform/CCGLView.h"
#include "ui/UIHelper.h"

namespace cocos2d {
namespace ui {

namespace {
constexpr int kTextRendererZ = -1;
} // namespace

TextField* TextField::create(const std::string& placeholder, const std::string& fontName, float fontSize)
{
    TextField* field = create();
    if (field != nullptr) {
        field->_fontName = fontName;
        field->_fontSize = fontSize;
        field->applyFont();
        field->setPlaceHolder(placeholder);
    }
    return field;
}

bool TextField::init()
{
    if (!Widget::init())
        return false;
    setTouchEnabled(true);
    updateDisplay();
    return true;
}

void TextField::initRenderer()
{
    _textRenderer = Label::create();
    _textRenderer->setSystemFontSize(_fontSize);
    addProtectedChild(_textRenderer, kTextRendererZ, -1);
}

void TextField::applyFont() { detail::applyLabelFont(_textRenderer, _fontName, _fontSize); }

// ----- text

std::string TextField::acceptable(const std::string& input) const
{
    std::string clean = Helper::sanitizeUTF8Line(input);
    if (_maxLengthEnabled) {
        const long room = static_cast<long>(_maxLength) - static_cast<long>(Helper::getUTF8Length(_text));
        if (room <= 0)
            return std::string();
        clean = Helper::getSubStringOfUTF8String(clean, 0, static_cast<std::string::size_type>(room));
    }
    return clean;
}

void TextField::setString(const std::string& text)
{
    const bool limited = _maxLengthEnabled;
    std::string clean = Helper::sanitizeUTF8Line(text);
    if (limited)
        clean = Helper::getSubStringOfUTF8String(clean, 0, static_cast<std::string::size_type>(std::max(0, _maxLength)));
    _text = clean;
    updateDisplay();
}

int TextField::getStringLength() const { return static_cast<int>(Helper::getUTF8Length(_text)); }

void TextField::insertText(const char* text, size_t len)
{
    if (text == nullptr || len == 0)
        return;
    std::string input(text, len);
    const size_t lineBreak = input.find_first_of("\r\n");
    const bool finish = lineBreak != std::string::npos;
    if (finish)
        input.resize(lineBreak);
    const std::string added = acceptable(input);
    retain();
    if (!added.empty()) {
        _text += added;
        updateDisplay();
        fire(EventType::INSERT_TEXT);
    }
    if (finish)
        detachWithIME();
    release();
}

void TextField::deleteBackward()
{
    if (_text.empty())
        return;
    // Back over continuation bytes to the start of the last character.
    size_t cut = _text.size() - 1;
    while (cut > 0 && (static_cast<unsigned char>(_text[cut]) & 0xC0) == 0x80)
        --cut;
    _text.resize(cut);
    updateDisplay();
    fire(EventType::DELETE_BACKWARD);
}

void TextField::setMaxLengthEnabled(bool enabled)
{
    _maxLengthEnabled = enabled;
    if (enabled)
        setString(_text);
}

void TextField::setMaxLength(int length)
{
    _maxLength = std::max(0, length);
    if (_maxLengthEnabled)
        setString(_text);
}

void TextField::setPasswordEnabled(bool enabled)
{
    _passwordEnabled = enabled;
    updateDisplay();
}

void TextField::setPasswordStyleText(const char* styleText)
{
    if (styleText == nullptr || *styleText == '\0')
        return;
    _passwordStyleText = Helper::sanitizeUTF8Line(styleText);
    if (_passwordStyleText.empty())
        _passwordStyleText = "*";
    updateDisplay();
}

// ----- look

void TextField::setPlaceHolder(const std::string& text)
{
    _placeHolder = text;
    updateDisplay();
}

void TextField::setPlaceHolderColor(const Color3B& color) { setPlaceHolderColor(Color4B(color.r, color.g, color.b, 255)); }

void TextField::setPlaceHolderColor(const Color4B& color)
{
    _placeHolderColor = color;
    updateDisplay();
}

void TextField::setTextColor(const Color4B& color)
{
    _textColor = color;
    updateDisplay();
}

void TextField::setFontSize(float size)
{
    _fontSize = size;
    applyFont();
    updateDisplay();
}

void TextField::setFontName(const std::string& name)
{
    _fontName = name;
    applyFont();
    updateDisplay();
}

const std::string& TextField::getRenderedText() const { return _textRenderer->getString(); }

void TextField::updateDisplay()
{
    if (_textRenderer == nullptr)
        return;
    if (_text.empty()) {
        _textRenderer->setString(_placeHolder);
        _textRenderer->setTextColor(_placeHolderColor);
    } else if (_passwordEnabled) {
        std::string mask;
        const size_t count = Helper::getUTF8Length(_text);
        mask.reserve(count * _passwordStyleText.size());
        for (size_t i = 0; i < count; ++i)
            mask += _passwordStyleText;
        _textRenderer->setString(mask);
        _textRenderer->setTextColor(_textColor);
    } else {
        _textRenderer->setString(_text);
        _textRenderer->setTextColor(_textColor);
    }
    updateContentSizeWithTextureSize(_textRenderer->getContentSize());
    onSizeChanged();
}

void TextField::onSizeChanged()
{
    Widget::onSizeChanged();
    if (_textRenderer == nullptr)
        return;
    _textRenderer->setAnchorPoint(Vec2(0.5f, 0.5f));
    _textRenderer->setPosition(Vec2(_contentSize.width * 0.5f, _contentSize.height * 0.5f));
}

Node* TextField::getVirtualRenderer() { return _textRenderer; }

Size TextField::getVirtualRendererSize() const { return _textRenderer->getContentSize(); }

// ----- input method

bool TextField::canAttachWithIME() { return _enabled; }

bool TextField::attachWithIME()
{
    if (!IMEDelegate::attachWithIME())
        return false;
    if (GLView* view = Director::getInstance()->getOpenGLView())
        view->setIMEKeyboardState(true);
    return true;
}

bool TextField::detachWithIME()
{
    if (!IMEDelegate::detachWithIME())
        return false;
    if (GLView* view = Director::getInstance()->getOpenGLView())
        view->setIMEKeyboardState(false);
    return true;
}

void TextField::didAttachWithIME()
{
    _attached = true;
    fire(EventType::ATTACH_WITH_IME);
}

void TextField::didDetachWithIME()
{
    _attached = false;
    fire(EventType::DETACH_WITH_IME);
}

bool TextField::onTouchBegan(Touch* touch, Event* event)
{
    const bool hit = Widget::onTouchBegan(touch, event);
    if (_hitted)
        attachWithIME();
    else if (_attached)
        detachWithIME();
    return hit;
}

void TextField::onExit()
{
    // A field that leaves the screen takes no more keys.
    if (_attached)
        detachWithIME();
    Widget::onExit();
}

void TextField::fire(EventType type)
{
    if (_eventCallback)
        guarded([&] { _eventCallback(this, type); });
}

// ----- cloning

Widget* TextField::createCloneInstance() { return TextField::create(); }

void TextField::copySpecialProperties(Widget* model)
{
    auto* field = dynamic_cast<TextField*>(model);
    if (field == nullptr)
        return;
    _fontName = field->_fontName;
    _fontSize = field->_fontSize;
    applyFont();
    _placeHolder = field->_placeHolder;
    _placeHolderColor = field->_placeHolderColor;
    _textColor = field->_textColor;
    _maxLengthEnabled = field->_maxLengthEnabled;
    _maxLength = field->_maxLength;
    _passwordEnabled = field->_passwordEnabled;
    _passwordStyleText = field->_passwordStyleText;
    _eventCallback = field->_eventCallback;
    setString(field->_text);
}

} // namespace ui
} // namespace cocos2d
