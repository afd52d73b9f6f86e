#include "ui/UICheckBox.h"

#include "ui/UIScale9Sprite.h"

namespace cocos2d {
namespace ui {

namespace {
constexpr int kBackgroundZ = -2;
constexpr int kCrossZ = -1;
} // namespace

CheckBox* CheckBox::create(const std::string& backGround, const std::string& cross, TextureResType texType)
{
    return create(backGround, "", cross, "", "", texType);
}

CheckBox* CheckBox::create(const std::string& backGround, const std::string& backGroundSelected,
                           const std::string& cross, const std::string& backGroundDisabled,
                           const std::string& frontCrossDisabled, TextureResType texType)
{
    CheckBox* box = create();
    if (box != nullptr)
        box->loadTextures(backGround, backGroundSelected, cross, backGroundDisabled, frontCrossDisabled, texType);
    return box;
}

bool CheckBox::init()
{
    if (!Widget::init())
        return false;
    setTouchEnabled(true);
    setSelected(false);
    return true;
}

void CheckBox::initRenderer()
{
    _backGroundBoxRenderer = Scale9Sprite::create();
    _backGroundSelectedBoxRenderer = Scale9Sprite::create();
    _frontCrossRenderer = Scale9Sprite::create();
    _backGroundBoxDisabledRenderer = Scale9Sprite::create();
    _frontCrossDisabledRenderer = Scale9Sprite::create();
    for (Scale9Sprite* r : {_backGroundBoxRenderer, _backGroundSelectedBoxRenderer, _backGroundBoxDisabledRenderer}) {
        r->setScale9Enabled(false);
        addProtectedChild(r, kBackgroundZ, -1);
    }
    for (Scale9Sprite* r : {_frontCrossRenderer, _frontCrossDisabledRenderer}) {
        r->setScale9Enabled(false);
        addProtectedChild(r, kCrossZ, -1);
    }
}

void CheckBox::loadTextures(const std::string& backGround, const std::string& backGroundSelected,
                            const std::string& cross, const std::string& backGroundDisabled,
                            const std::string& frontCrossDisabled, TextureResType texType)
{
    loadTextureBackGround(backGround, texType);
    _backGroundSelectedFile = backGroundSelected;
    _backGroundSelectedLoaded = _backGroundSelectedBoxRenderer->loadImage(backGroundSelected);
    loadTextureFrontCross(cross, texType);
    _backGroundDisabledFile = backGroundDisabled;
    _backGroundDisabledLoaded = _backGroundBoxDisabledRenderer->loadImage(backGroundDisabled);
    _crossDisabledFile = frontCrossDisabled;
    _frontCrossDisabledLoaded = _frontCrossDisabledRenderer->loadImage(frontCrossDisabled);
    layoutRenderers();
}

void CheckBox::loadTextureBackGround(const std::string& backGround, TextureResType /*texType*/)
{
    _backGroundFile = backGround;
    _backGroundBoxRenderer->loadImage(backGround);
    _backGroundTextureSize = _backGroundBoxRenderer->getOriginalSize();
    updateContentSizeWithTextureSize(_backGroundTextureSize);
    layoutRenderers();
}

void CheckBox::loadTextureFrontCross(const std::string& cross, TextureResType /*texType*/)
{
    _crossFile = cross;
    _frontCrossRenderer->loadImage(cross);
    layoutRenderers();
}

void CheckBox::setSelected(bool selected)
{
    _isSelected = selected;
    showState();
}

void CheckBox::showState()
{
    if (_backGroundBoxRenderer == nullptr)
        return;
    const bool disabled = !_bright;
    const bool pressed = _bright && _highlight && _backGroundSelectedLoaded;
    const bool disabledBackground = disabled && _backGroundDisabledLoaded;
    _backGroundBoxRenderer->setVisible(!pressed && !disabledBackground);
    _backGroundSelectedBoxRenderer->setVisible(pressed);
    _backGroundBoxDisabledRenderer->setVisible(disabledBackground);
    const bool disabledCross = disabled && _frontCrossDisabledLoaded;
    _frontCrossRenderer->setVisible(_isSelected && !disabledCross);
    _frontCrossDisabledRenderer->setVisible(_isSelected && disabledCross);
}

void CheckBox::releaseUpEvent()
{
    guarded([this] {
        Widget::releaseUpEvent();
        setSelected(!_isSelected);
        if (_checkBoxEventCallback)
            _checkBoxEventCallback(this, _isSelected ? EventType::SELECTED : EventType::UNSELECTED);
    });
}

void CheckBox::onPressStateChangedToNormal() { showState(); }

void CheckBox::onPressStateChangedToPressed() { showState(); }

void CheckBox::onPressStateChangedToDisabled() { showState(); }

void CheckBox::onSizeChanged()
{
    Widget::onSizeChanged();
    layoutRenderers();
}

void CheckBox::layoutRenderers()
{
    if (_backGroundBoxRenderer == nullptr)
        return;
    const Vec2 centre(_contentSize.width * 0.5f, _contentSize.height * 0.5f);
    for (Scale9Sprite* r : {_backGroundBoxRenderer, _backGroundSelectedBoxRenderer, _frontCrossRenderer,
                            _backGroundBoxDisabledRenderer, _frontCrossDisabledRenderer}) {
        // Adapting boxes draw each image at its own size; fixed ones stretch them to the box.
        r->setContentSize(_ignoreSize ? r->getOriginalSize() : _contentSize);
        r->setAnchorPoint(Vec2(0.5f, 0.5f));
        r->setPosition(centre);
    }
    showState();
}

Node* CheckBox::getVirtualRenderer() { return _backGroundBoxRenderer; }

Widget* CheckBox::createCloneInstance() { return CheckBox::create(); }

void CheckBox::copySpecialProperties(Widget* model)
{
    auto* box = dynamic_cast<CheckBox*>(model);
    if (box == nullptr)
        return;
    loadTextures(box->_backGroundFile, box->_backGroundSelectedFile, box->_crossFile, box->_backGroundDisabledFile,
                 box->_crossDisabledFile);
    setSelected(box->_isSelected);
    _checkBoxEventCallback = box->_checkBoxEventCallback;
}

} // namespace ui
} // namespace cocos2d
