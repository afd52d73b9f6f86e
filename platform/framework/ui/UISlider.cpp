#include "ui/UISlider.h"

#include <algorithm>
#include <cmath>

#include "event/CCTouch.h"
#include "ui/UIScale9Sprite.h"

namespace cocos2d {
namespace ui {

namespace {
constexpr int kBarZ = -3;
constexpr int kProgressZ = -2;
constexpr int kBallZ = -1;
} // namespace

Slider* Slider::create(const std::string& barTextureName, const std::string& normalBallTextureName,
                       TextureResType resType)
{
    Slider* slider = create();
    if (slider != nullptr) {
        slider->loadBarTexture(barTextureName, resType);
        slider->loadSlidBallTextureNormal(normalBallTextureName, resType);
    }
    return slider;
}

bool Slider::init()
{
    if (!Widget::init())
        return false;
    setTouchEnabled(true);
    return true;
}

void Slider::initRenderer()
{
    _barRenderer = Scale9Sprite::create();
    _progressBarRenderer = Scale9Sprite::create();
    _barRenderer->setScale9Enabled(false);
    _progressBarRenderer->setScale9Enabled(false);
    _progressBarRenderer->setAnchorPoint(Vec2(0.0f, 0.5f));
    addProtectedChild(_barRenderer, kBarZ, -1);
    addProtectedChild(_progressBarRenderer, kProgressZ, -1);

    _slidBallRenderer = Node::create();
    _slidBallNormalRenderer = Scale9Sprite::create();
    _slidBallPressedRenderer = Scale9Sprite::create();
    _slidBallDisabledRenderer = Scale9Sprite::create();
    for (Scale9Sprite* ball : {_slidBallNormalRenderer, _slidBallPressedRenderer, _slidBallDisabledRenderer}) {
        ball->setScale9Enabled(false);
        _slidBallRenderer->addChild(ball);
    }
    _slidBallRenderer->setCascadeColorEnabled(true);
    _slidBallRenderer->setCascadeOpacityEnabled(true);
    addProtectedChild(_slidBallRenderer, kBallZ, -1);
    showBall(0);
}

void Slider::loadBarTexture(const std::string& fileName, TextureResType /*resType*/)
{
    _barFile = fileName;
    _barRenderer->loadImage(fileName);
    _barTextureSize = _barRenderer->getOriginalSize();
    updateContentSizeWithTextureSize(_barTextureSize);
    layoutRenderers();
}

void Slider::loadProgressBarTexture(const std::string& fileName, TextureResType /*resType*/)
{
    _progressFile = fileName;
    _progressBarRenderer->loadImage(fileName);
    _progressTextureSize = _progressBarRenderer->getOriginalSize();
    layoutRenderers();
}

void Slider::loadSlidBallTextures(const std::string& normal, const std::string& pressed,
                                  const std::string& disabled, TextureResType texType)
{
    loadSlidBallTextureNormal(normal, texType);
    loadSlidBallTexturePressed(pressed, texType);
    loadSlidBallTextureDisabled(disabled, texType);
}

void Slider::loadSlidBallTextureNormal(const std::string& normal, TextureResType /*resType*/)
{
    _ballNormalFile = normal;
    _slidBallNormalRenderer->loadImage(normal);
    _slidBallNormalRenderer->setContentSize(_slidBallNormalRenderer->getOriginalSize());
}

void Slider::loadSlidBallTexturePressed(const std::string& pressed, TextureResType /*resType*/)
{
    _ballPressedFile = pressed;
    _ballPressedLoaded = _slidBallPressedRenderer->loadImage(pressed);
    _slidBallPressedRenderer->setContentSize(_slidBallPressedRenderer->getOriginalSize());
}

void Slider::loadSlidBallTextureDisabled(const std::string& disabled, TextureResType /*resType*/)
{
    _ballDisabledFile = disabled;
    _ballDisabledLoaded = _slidBallDisabledRenderer->loadImage(disabled);
    _slidBallDisabledRenderer->setContentSize(_slidBallDisabledRenderer->getOriginalSize());
}

void Slider::setScale9Enabled(bool enabled)
{
    _scale9Enabled = enabled;
    _barRenderer->setScale9Enabled(enabled);
    _progressBarRenderer->setScale9Enabled(enabled);
    if (enabled && _ignoreSize)
        ignoreContentAdaptWithSize(false);
    layoutRenderers();
}

void Slider::setCapInsets(const Rect& capInsets)
{
    _capInsets = capInsets;
    _barRenderer->setCapInsets(capInsets);
    _progressBarRenderer->setCapInsets(capInsets);
}

void Slider::setPercent(int percent)
{
    _percent = std::clamp(percent, 0, 100);
    layoutRenderers();
}

int Slider::percentForPosition(float x) const
{
    const float length = _contentSize.width;
    if (length <= 0.0f || !std::isfinite(x))
        return 0;
    return std::clamp(static_cast<int>(x / length * 100.0f), 0, 100);
}

void Slider::layoutRenderers()
{
    if (_barRenderer == nullptr)
        return;
    const float length = _contentSize.width;
    const float midY = _contentSize.height * 0.5f;
    _barRenderer->setContentSize(_contentSize);
    _barRenderer->setAnchorPoint(Vec2(0.5f, 0.5f));
    _barRenderer->setPosition(Vec2(length * 0.5f, midY));

    // The progress bar shows the left part of its image, as wide as the percent of the bar.
    const float fraction = _percent / 100.0f;
    if (_progressTextureSize.width > 0.0f) {
        if (!_scale9Enabled)
            _progressBarRenderer->setTextureRect(
                Rect(0.0f, 0.0f, _progressTextureSize.width * fraction, _progressTextureSize.height));
        _progressBarRenderer->setContentSize(Size(length * fraction, _contentSize.height));
        _progressBarRenderer->setVisible(_percent > 0);
    }
    _progressBarRenderer->setPosition(Vec2(0.0f, midY));
    _slidBallRenderer->setPosition(Vec2(length * fraction, midY));
}

void Slider::showBall(int which)
{
    // 0 normal, 1 pressed, 2 disabled; a missing image falls back to the normal one.
    if (which == 1 && !_ballPressedLoaded)
        which = 0;
    if (which == 2 && !_ballDisabledLoaded)
        which = 0;
    _slidBallNormalRenderer->setVisible(which == 0);
    _slidBallPressedRenderer->setVisible(which == 1);
    _slidBallDisabledRenderer->setVisible(which == 2);
}

void Slider::onPressStateChangedToNormal() { showBall(0); }

void Slider::onPressStateChangedToPressed() { showBall(1); }

void Slider::onPressStateChangedToDisabled() { showBall(2); }

void Slider::onSizeChanged()
{
    Widget::onSizeChanged();
    layoutRenderers();
}

bool Slider::hitTest(const Vec2& pt, const Camera* camera, Vec3* p) const
{
    if (Widget::hitTest(pt, camera, p))
        return true;
    const Size ball = _slidBallNormalRenderer->getContentSize();
    const Vec2& centre = _slidBallRenderer->getPosition();
    const Rect ballRect(centre.x - ball.width * 0.5f, centre.y - ball.height * 0.5f, ball.width, ball.height);
    return isPointInNodeRect(this, ballRect, pt, camera, p);
}

void Slider::fire(EventType type)
{
    if (_eventCallback)
        guarded([&] { _eventCallback(this, type); });
}

bool Slider::onTouchBegan(Touch* touch, Event* event)
{
    const bool hit = Widget::onTouchBegan(touch, event);
    if (_hitted) {
        setPercent(percentForPosition(convertToNodeSpace(_touchBeganPosition).x));
        fire(EventType::ON_SLIDEBALL_DOWN);
        fire(EventType::ON_PERCENTAGE_CHANGED);
    }
    return hit;
}

void Slider::onTouchMoved(Touch* touch, Event* event)
{
    const int before = _percent;
    setPercent(percentForPosition(convertToNodeSpace(touch->getLocation()).x));
    Widget::onTouchMoved(touch, event);
    if (_percent != before)
        fire(EventType::ON_PERCENTAGE_CHANGED);
}

void Slider::onTouchEnded(Touch* touch, Event* event)
{
    retain();
    Widget::onTouchEnded(touch, event);
    fire(EventType::ON_PERCENTAGE_CHANGED);
    fire(EventType::ON_SLIDEBALL_UP);
    release();
}

void Slider::onTouchCancelled(Touch* touch, Event* event)
{
    retain();
    Widget::onTouchCancelled(touch, event);
    fire(EventType::ON_SLIDEBALL_CANCEL);
    release();
}

Node* Slider::getVirtualRenderer() { return _barRenderer; }

Widget* Slider::createCloneInstance() { return Slider::create(); }

void Slider::copySpecialProperties(Widget* model)
{
    auto* slider = dynamic_cast<Slider*>(model);
    if (slider == nullptr)
        return;
    setScale9Enabled(slider->_scale9Enabled);
    setCapInsets(slider->_capInsets);
    loadBarTexture(slider->_barFile);
    loadProgressBarTexture(slider->_progressFile);
    loadSlidBallTextures(slider->_ballNormalFile, slider->_ballPressedFile, slider->_ballDisabledFile);
    setPercent(slider->_percent);
    _eventCallback = slider->_eventCallback;
}

} // namespace ui
} // namespace cocos2d
