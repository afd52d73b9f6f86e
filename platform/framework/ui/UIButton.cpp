#include "ui/UIButton.h"

#include "2d/CCLabel.h"
#include "ui/UILabelFont.h"
#include "ui/UIScale9Sprite.h"

namespace cocos2d {
namespace ui {

namespace {
constexpr int kNormalZ = -2;
constexpr int kPressedZ = -2;
constexpr int kDisabledZ = -2;
constexpr int kTitleZ = -1;
// The size the pressed action draws the images and the title at.
constexpr float kPressedActionScale = 1.1f;
} // namespace

Button* Button::create(const std::string& normalImage, const std::string& selectedImage,
                       const std::string& disableImage, TextureResType texType)
{
    auto* button = new Button();
    if (button->init(normalImage, selectedImage, disableImage, texType)) {
        button->autorelease();
        return button;
    }
    delete button;
    return nullptr;
}

// An image-less button (a title only) takes touches like any other.
bool Button::init() { return init("", "", "", TextureResType::LOCAL); }

bool Button::init(const std::string& normalImage, const std::string& selectedImage,
                  const std::string& disableImage, TextureResType texType)
{
    if (!Widget::init())
        return false;
    setTouchEnabled(true);
    loadTextures(normalImage, selectedImage, disableImage, texType);
    return true;
}

void Button::initRenderer()
{
    _buttonNormalRenderer = Scale9Sprite::create();
    _buttonClickedRenderer = Scale9Sprite::create();
    _buttonDisabledRenderer = Scale9Sprite::create();
    for (Scale9Sprite* renderer : {_buttonNormalRenderer, _buttonClickedRenderer, _buttonDisabledRenderer})
        renderer->setScale9Enabled(false);
    addProtectedChild(_buttonNormalRenderer, kNormalZ, -1);
    addProtectedChild(_buttonClickedRenderer, kPressedZ, -1);
    addProtectedChild(_buttonDisabledRenderer, kDisabledZ, -1);
}

bool Button::loadInto(Scale9Sprite* renderer, const std::string& file)
{
    const Size keep = renderer->getContentSize();
    const bool loaded = renderer->loadImage(file);
    renderer->setContentSize(keep);
    return loaded;
}

void Button::loadTextures(const std::string& normal, const std::string& selected, const std::string& disabled,
                          TextureResType texType)
{
    loadTextureNormal(normal, texType);
    loadTexturePressed(selected, texType);
    loadTextureDisabled(disabled, texType);
}

void Button::loadTextureNormal(const std::string& normal, TextureResType /*texType*/)
{
    _normalFileName = normal;
    _normalTextureLoaded = loadInto(_buttonNormalRenderer, normal);
    _normalTextureSize = _normalTextureLoaded ? _buttonNormalRenderer->getOriginalSize() : Size::ZERO;
    updateContentSizeWithTextureSize(_normalTextureSize);
    layoutRenderers();
}

void Button::loadTexturePressed(const std::string& selected, TextureResType /*texType*/)
{
    _clickedFileName = selected;
    _pressedTextureLoaded = loadInto(_buttonClickedRenderer, selected);
    layoutRenderers();
}

void Button::loadTextureDisabled(const std::string& disabled, TextureResType /*texType*/)
{
    _disabledFileName = disabled;
    _disabledTextureLoaded = loadInto(_buttonDisabledRenderer, disabled);
    layoutRenderers();
}

void Button::setScale9Enabled(bool enabled)
{
    _scale9Enabled = enabled;
    for (Scale9Sprite* renderer : {_buttonNormalRenderer, _buttonClickedRenderer, _buttonDisabledRenderer})
        renderer->setScale9Enabled(enabled);
    // A nine-slice button is as large as it is told to be.
    if (enabled && _ignoreSize)
        ignoreContentAdaptWithSize(false);
    layoutRenderers();
}

void Button::setCapInsets(const Rect& capInsets)
{
    _capInsets = capInsets;
    for (Scale9Sprite* renderer : {_buttonNormalRenderer, _buttonClickedRenderer, _buttonDisabledRenderer})
        renderer->setCapInsets(capInsets);
}

void Button::onSizeChanged()
{
    Widget::onSizeChanged();
    layoutRenderers();
}

void Button::layoutRenderers()
{
    if (_buttonNormalRenderer == nullptr)
        return;
    const Vec2 centre(_contentSize.width * 0.5f, _contentSize.height * 0.5f);
    for (Scale9Sprite* renderer : {_buttonNormalRenderer, _buttonClickedRenderer, _buttonDisabledRenderer}) {
        // Adapting buttons draw each image at its own size; fixed ones stretch them to the button.
        renderer->setContentSize(_ignoreSize ? renderer->getOriginalSize() : _contentSize);
        renderer->setAnchorPoint(Vec2(0.5f, 0.5f));
        renderer->setPosition(centre);
    }
    if (_titleRenderer != nullptr) {
        _titleRenderer->setAnchorPoint(Vec2(0.5f, 0.5f));
        _titleRenderer->setPosition(centre);
    }
    // Re-apply the state so the visible renderer matches.
    if (!_bright)
        onPressStateChangedToDisabled();
    else if (_highlight)
        onPressStateChangedToPressed();
    else
        onPressStateChangedToNormal();
}

void Button::showRenderer(Scale9Sprite* renderer, bool loaded, float scale)
{
    Scale9Sprite* shown = loaded ? renderer : _buttonNormalRenderer;
    for (Scale9Sprite* r : {_buttonNormalRenderer, _buttonClickedRenderer, _buttonDisabledRenderer}) {
        r->setVisible(r == shown);
        r->setScale(r == shown ? scale : 1.0f);
    }
    if (_titleRenderer != nullptr)
        _titleRenderer->setScale(scale);
}

void Button::onPressStateChangedToNormal() { showRenderer(_buttonNormalRenderer, true, 1.0f); }

void Button::onPressStateChangedToPressed()
{
    showRenderer(_buttonClickedRenderer, _pressedTextureLoaded, _pressedActionEnabled ? kPressedActionScale : 1.0f);
}

void Button::onPressStateChangedToDisabled() { showRenderer(_buttonDisabledRenderer, _disabledTextureLoaded, 1.0f); }

// ----- title

void Button::ensureTitle()
{
    if (_titleRenderer != nullptr)
        return;
    _titleRenderer = Label::create();
    _titleRenderer->setTextColor(Color4B(_titleColor.r, _titleColor.g, _titleColor.b, 255));
    applyTitleFont();
    addProtectedChild(_titleRenderer, kTitleZ, -1);
    layoutRenderers();
}

void Button::applyTitleFont() { detail::applyLabelFont(_titleRenderer, _titleFontName, _titleFontSize); }

void Button::setTitleText(const std::string& text)
{
    ensureTitle();
    _titleRenderer->setString(text);
    titleChanged();
}

void Button::titleChanged()
{
    // Without a normal image an adapting button is as large as its title.
    if (!_normalTextureLoaded)
        updateContentSizeWithTextureSize(getVirtualRendererSize());
}

std::string Button::getTitleText() const { return _titleRenderer ? _titleRenderer->getString() : std::string(); }

void Button::setTitleColor(const Color3B& color)
{
    _titleColor = color;
    if (_titleRenderer != nullptr)
        _titleRenderer->setTextColor(Color4B(color.r, color.g, color.b, 255));
}

void Button::setTitleFontSize(float size)
{
    _titleFontSize = size;
    if (_titleRenderer != nullptr) {
        applyTitleFont();
        titleChanged();
    }
}

void Button::setTitleFontName(const std::string& fontName)
{
    _titleFontName = fontName;
    if (_titleRenderer != nullptr) {
        applyTitleFont();
        titleChanged();
    }
}

Node* Button::getVirtualRenderer()
{
    if (!_bright)
        return _disabledTextureLoaded ? _buttonDisabledRenderer : _buttonNormalRenderer;
    if (_highlight && _pressedTextureLoaded)
        return _buttonClickedRenderer;
    return _buttonNormalRenderer;
}

Size Button::getVirtualRendererSize() const
{
    if (_normalTextureLoaded)
        return _normalTextureSize;
    // Without an image the title decides.
    return _titleRenderer ? _titleRenderer->getContentSize() : Size::ZERO;
}

Widget* Button::createCloneInstance() { return Button::create(); }

void Button::copySpecialProperties(Widget* model)
{
    auto* button = dynamic_cast<Button*>(model);
    if (button == nullptr)
        return;
    _capInsets = button->_capInsets;
    setScale9Enabled(button->_scale9Enabled);
    setCapInsets(button->_capInsets);
    loadTextures(button->_normalFileName, button->_clickedFileName, button->_disabledFileName);
    setPressedActionEnabled(button->_pressedActionEnabled);
    if (button->_titleRenderer != nullptr) {
        setTitleFontName(button->_titleFontName);
        setTitleFontSize(button->_titleFontSize);
        setTitleColor(button->_titleColor);
        setTitleText(button->getTitleText());
    }
}

} // namespace ui
} // namespace cocos2d
