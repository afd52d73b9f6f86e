#include "ui/UIText.h"

#include "2d/CCLabel.h"
#include "ui/UILabelFont.h"

namespace cocos2d {
namespace ui {

namespace {
constexpr int kLabelRendererZ = -1;
// How much larger a pressed text is drawn when touch scaling is on.
constexpr float kPressedScaleOffset = 0.5f;
} // namespace

Text* Text::create(const std::string& textContent, const std::string& fontName, float fontSize)
{
    auto* text = new Text();
    if (text->init(textContent, fontName, fontSize)) {
        text->autorelease();
        return text;
    }
    delete text;
    return nullptr;
}

bool Text::init() { return Widget::init(); }

bool Text::init(const std::string& text, const std::string& fontName, float fontSize)
{
    if (!Widget::init())
        return false;
    _fontName = fontName;
    _fontSize = fontSize;
    applyFont();
    setString(text);
    return true;
}

void Text::initRenderer()
{
    _labelRenderer = Label::create();
    _labelRenderer->setSystemFontSize(_fontSize);
    addProtectedChild(_labelRenderer, kLabelRendererZ, -1);
}

void Text::applyFont() { detail::applyLabelFont(_labelRenderer, _fontName, _fontSize); }

void Text::setString(const std::string& text)
{
    if (text == _labelRenderer->getString())
        return;
    _labelRenderer->setString(text);
    textChanged();
}

void Text::setString(const std::string& text, bool /*flag*/) { setString(text); }

const std::string& Text::getString() const { return _labelRenderer->getString(); }

ssize_t Text::getStringLength() const { return _labelRenderer->getStringLength(); }

void Text::setFontSize(float size)
{
    _fontSize = size;
    applyFont();
    textChanged();
}

void Text::setFontName(const std::string& name)
{
    _fontName = name;
    applyFont();
    textChanged();
}

void Text::setTextColor(const Color4B& color)
{
    _textColor = color;
    _labelRenderer->setTextColor(color);
}

void Text::enableShadow(const Color4B& shadowColor, const Size& offset, int blurRadius)
{
    _labelRenderer->enableShadow(shadowColor, offset, blurRadius);
}

void Text::setTextHorizontalAlignment(TextHAlignment alignment)
{
    _labelRenderer->setHorizontalAlignment(alignment);
    layoutLabel();
}

TextHAlignment Text::getTextHorizontalAlignment() const { return _labelRenderer->getHorizontalAlignment(); }

void Text::setTextVerticalAlignment(TextVAlignment alignment)
{
    _labelRenderer->setVerticalAlignment(alignment);
    layoutLabel();
}

TextVAlignment Text::getTextVerticalAlignment() const { return _labelRenderer->getVerticalAlignment(); }

void Text::setTextAreaSize(const Size& size)
{
    _labelRenderer->setDimensions(size.width, size.height);
    if (!_ignoreSize)
        _customSize = size;
    textChanged();
}

const Size& Text::getTextAreaSize() const { return _labelRenderer->getDimensions(); }

void Text::textChanged()
{
    updateContentSizeWithTextureSize(_labelRenderer->getContentSize());
    layoutLabel();
}

void Text::ignoreContentAdaptWithSize(bool ignore)
{
    // An adapting text has no fixed area; a fixed one wraps inside the widget.
    if (ignore && !_ignoreSize)
        _labelRenderer->setDimensions(0.0f, 0.0f);
    Widget::ignoreContentAdaptWithSize(ignore);
    layoutLabel();
}

void Text::onSizeChanged()
{
    Widget::onSizeChanged();
    layoutLabel();
}

void Text::layoutLabel()
{
    if (_labelRenderer == nullptr)
        return;
    if (!_ignoreSize && (_contentSize.width > 0.0f || _contentSize.height > 0.0f)) {
        const Size& area = _labelRenderer->getDimensions();
        if (!area.equals(_contentSize))
            _labelRenderer->setDimensions(_contentSize.width, _contentSize.height);
    }
    _labelRenderer->setAnchorPoint(Vec2(0.5f, 0.5f));
    _labelRenderer->setPosition(Vec2(_contentSize.width * 0.5f, _contentSize.height * 0.5f));
}

Node* Text::getVirtualRenderer() { return _labelRenderer; }

Size Text::getVirtualRendererSize() const { return _labelRenderer->getContentSize(); }

void Text::onPressStateChangedToNormal() { _labelRenderer->setScale(1.0f); }

void Text::onPressStateChangedToPressed()
{
    if (_touchScaleChangeEnabled)
        _labelRenderer->setScale(1.0f + kPressedScaleOffset);
}

void Text::onPressStateChangedToDisabled() { _labelRenderer->setScale(1.0f); }

Widget* Text::createCloneInstance() { return Text::create(); }

void Text::copySpecialProperties(Widget* model)
{
    auto* text = dynamic_cast<Text*>(model);
    if (text == nullptr)
        return;
    _fontName = text->_fontName;
    _fontSize = text->_fontSize;
    applyFont();
    setTextColor(text->_textColor);
    _labelRenderer->setAlignment(text->getTextHorizontalAlignment(), text->getTextVerticalAlignment());
    setString(text->getString());
    setTouchScaleChangeEnabled(text->_touchScaleChangeEnabled);
}

} // namespace ui
} // namespace cocos2d
