#include "ui/UIWidget.h"

#include <cmath>

#include "base/CCDirector.h"
#include "event/CCEventDispatcher.h"
#include "event/CCEventListenerKeyboard.h"
#include "event/CCEventListenerTouch.h"
#include "event/CCTouch.h"
#include "renderer/CCCamera.h"
#include "ui/UILayout.h"

namespace cocos2d {
namespace ui {

Widget* Widget::_focusedWidget = nullptr;

Widget::Widget() = default;

Widget::~Widget()
{
    if (_focusedWidget == this)
        _focusedWidget = nullptr;
    setTouchEnabled(false);
    setKeyboardEnabled(false);
    CC_SAFE_RELEASE(_layoutParameter);
}

bool Widget::init()
{
    if (!ProtectedNode::init())
        return false;
    initRenderer();
    setBright(true);
    ignoreContentAdaptWithSize(true);
    setAnchorPoint(Vec2(0.5f, 0.5f));
    setCascadeColorEnabled(true);
    setCascadeOpacityEnabled(true);
    return true;
}

void Widget::onEnter()
{
    updateSizeAndPosition();
    ProtectedNode::onEnter();
}

// ----- state

void Widget::setEnabled(bool enabled)
{
    _enabled = enabled;
    setBright(enabled);
}

void Widget::setBright(bool bright)
{
    _bright = bright;
    if (_bright) {
        _brightStyle = BrightStyle::NONE;
        setBrightStyle(_highlight ? BrightStyle::HIGHLIGHT : BrightStyle::NORMAL);
    } else {
        onPressStateChangedToDisabled();
    }
}

void Widget::setBrightStyle(BrightStyle style)
{
    if (_brightStyle == style)
        return;
    _brightStyle = style;
    switch (_brightStyle) {
    case BrightStyle::NORMAL: onPressStateChangedToNormal(); break;
    case BrightStyle::HIGHLIGHT: onPressStateChangedToPressed(); break;
    default: break;
    }
}

void Widget::setHighlighted(bool highlight)
{
    if (highlight == _highlight)
        return;
    _highlight = highlight;
    if (_bright)
        setBrightStyle(_highlight ? BrightStyle::HIGHLIGHT : BrightStyle::NORMAL);
    else
        onPressStateChangedToDisabled();
}

// ----- touch

void Widget::setTouchEnabled(bool enabled)
{
    if (enabled == _touchEnabled)
        return;
    _touchEnabled = enabled;
    if (_touchEnabled) {
        _touchListener = EventListenerTouchOneByOne::create();
        _touchListener->retain();
        _touchListener->setSwallowTouches(_swallowTouches);
        _touchListener->onTouchBegan = [this](Touch* t, Event* e) { return onTouchBegan(t, e); };
        _touchListener->onTouchMoved = [this](Touch* t, Event* e) { onTouchMoved(t, e); };
        _touchListener->onTouchEnded = [this](Touch* t, Event* e) { onTouchEnded(t, e); };
        _touchListener->onTouchCancelled = [this](Touch* t, Event* e) { onTouchCancelled(t, e); };
        getEventDispatcher()->addEventListenerWithSceneGraphPriority(_touchListener, this);
    } else {
        getEventDispatcher()->removeEventListener(_touchListener);
        CC_SAFE_RELEASE_NULL(_touchListener);
    }
}

void Widget::setSwallowTouches(bool swallow)
{
    _swallowTouches = swallow;
    if (_touchListener)
        _touchListener->setSwallowTouches(swallow);
}

namespace {

// Visible up to the root.
bool isVisibleWithAncestors(const Node* node)
{
    for (; node != nullptr; node = node->getParent()) {
        if (!node->isVisible())
            return false;
    }
    return true;
}

} // namespace

bool Widget::onTouchBegan(Touch* touch, Event* /*event*/)
{
    _hitted = false;
    if (!isVisibleWithAncestors(this) || !isEnabled())
        return false;
    for (Widget* w = getWidgetParent(); w != nullptr; w = w->getWidgetParent()) {
        if (!w->isEnabled())
            return false;
    }
    _touchBeganPosition = touch->getLocation();
    const Camera* camera = Camera::getVisitingCamera();
    if (hitTest(_touchBeganPosition, camera, nullptr)) {
        _hittedByCamera = camera;
        _hitted = isClippingParentContainsPoint(_touchBeganPosition);
    }
    if (!_hitted)
        return false;
    setHighlighted(true);
    guarded([&] {
        if (_propagateTouchEvents)
            propagateTouchEvent(TouchEventType::BEGAN, this, touch);
        pushDownEvent();
    });
    return true;
}

void Widget::onTouchMoved(Touch* touch, Event* /*event*/)
{
    _touchMovePosition = touch->getLocation();
    setHighlighted(hitTest(_touchMovePosition, _hittedByCamera, nullptr));
    guarded([&] {
        if (_propagateTouchEvents)
            propagateTouchEvent(TouchEventType::MOVED, this, touch);
        moveEvent();
    });
}

void Widget::onTouchEnded(Touch* touch, Event* /*event*/)
{
    _touchEndPosition = touch->getLocation();
    guarded([&] {
        if (_propagateTouchEvents)
            propagateTouchEvent(TouchEventType::ENDED, this, touch);
        const bool highlight = _highlight;
        setHighlighted(false);
        if (highlight)
            releaseUpEvent();
        else
            cancelUpEvent();
    });
}

void Widget::onTouchCancelled(Touch* /*touch*/, Event* /*event*/)
{
    setHighlighted(false);
    cancelUpEvent();
}

bool Widget::interceptTouchEvent(TouchEventType event, Widget* sender, Touch* touch)
{
    propagateTouchEvent(event, sender, touch);
    return false;
}

void Widget::propagateTouchEvent(TouchEventType event, Widget* sender, Touch* touch)
{
    Widget* parent = getWidgetParent();
    if (parent != nullptr) {
        parent->_hittedByCamera = _hittedByCamera;
        parent->interceptTouchEvent(event, sender, touch);
    }
}

void Widget::pushDownEvent()
{
    if (_touchEventCallback)
        _touchEventCallback(this, TouchEventType::BEGAN);
}

void Widget::moveEvent()
{
    if (_touchEventCallback)
        _touchEventCallback(this, TouchEventType::MOVED);
}

void Widget::releaseUpEvent()
{
    guarded([this] {
        if (_focusEnabled)
            requestFocus();
        if (_touchEventCallback)
            _touchEventCallback(this, TouchEventType::ENDED);
        if (_clickEventListener)
            _clickEventListener(this);
    });
}

void Widget::cancelUpEvent()
{
    guarded([this] {
        if (_touchEventCallback)
            _touchEventCallback(this, TouchEventType::CANCELED);
    });
}

bool Widget::isPointInNodeRect(const Node* node, const Rect& rect, const Vec2& pt, const Camera* camera, Vec3* p)
{
    Vec2 local;
    if (camera == nullptr || camera->isDefaultCamera()) {
        local = node->convertToNodeSpace(pt);
    } else {
        // Cast the window point through the camera and meet the node's z = 0 plane.
        Vec3 nearPoint = camera->unproject(Vec3(pt.x, pt.y, 0.0f));
        Vec3 farPoint = camera->unproject(Vec3(pt.x, pt.y, 1.0f));
        const Mat4 worldToNode = node->getWorldToNodeTransform();
        worldToNode.transformPoint(&nearPoint);
        worldToNode.transformPoint(&farPoint);
        const float dz = farPoint.z - nearPoint.z;
        if (std::fabs(dz) < 1e-12f)
            return false;
        const float t = -nearPoint.z / dz;
        local.set(nearPoint.x + (farPoint.x - nearPoint.x) * t, nearPoint.y + (farPoint.y - nearPoint.y) * t);
    }
    if (p != nullptr)
        p->set(local.x, local.y, 0.0f);
    return rect.containsPoint(local);
}

bool Widget::hitTest(const Vec2& pt, const Camera* camera, Vec3* p) const
{
    const float w = _contentSize.width * _touchScaled;
    const float h = _contentSize.height * _touchScaled;
    const Rect rect((_contentSize.width - w) * 0.5f, (_contentSize.height - h) * 0.5f, w, h);
    return isPointInNodeRect(this, rect, pt, camera, p);
}

bool Widget::isClippingParentContainsPoint(const Vec2& pt)
{
    for (Node* node = getParent(); node != nullptr; node = node->getParent()) {
        auto* layout = dynamic_cast<Layout*>(node);
        if (layout == nullptr || !layout->isClippingEnabled())
            continue;
        const Size& size = layout->getContentSize();
        if (!isPointInNodeRect(layout, Rect(0.0f, 0.0f, size.width, size.height), pt, _hittedByCamera, nullptr))
            return false;
    }
    return true;
}

// ----- keyboard

void Widget::setKeyboardEnabled(bool enabled)
{
    if (enabled == (_keyboardListener != nullptr))
        return;
    if (enabled) {
        _keyboardListener = EventListenerKeyboard::create();
        _keyboardListener->retain();
        _keyboardListener->onKeyPressed = [this](EventKeyboard::KeyCode code, Event* e) { onKeyPressed(code, e); };
        _keyboardListener->onKeyReleased = [this](EventKeyboard::KeyCode code, Event* e) { onKeyReleased(code, e); };
        getEventDispatcher()->addEventListenerWithSceneGraphPriority(_keyboardListener, this);
    } else {
        getEventDispatcher()->removeEventListener(_keyboardListener);
        CC_SAFE_RELEASE_NULL(_keyboardListener);
    }
}

void Widget::onKeyPressed(EventKeyboard::KeyCode, Event*) {}

void Widget::onKeyReleased(EventKeyboard::KeyCode, Event*) {}

// ----- focus

void Widget::setFocused(bool focused)
{
    _focused = focused;
    if (focused) {
        if (_focusedWidget != nullptr && _focusedWidget != this)
            _focusedWidget->_focused = false;
        _focusedWidget = this;
    } else if (_focusedWidget == this) {
        _focusedWidget = nullptr;
    }
}

void Widget::requestFocus()
{
    if (_focusedWidget != this)
        setFocused(true);
}

// ----- geometry

Widget* Widget::getWidgetParent() const
{
    for (Node* node = getParent(); node != nullptr; node = node->getParent()) {
        if (auto* widget = dynamic_cast<Widget*>(node))
            return widget;
    }
    return nullptr;
}

void Widget::setPosition(float x, float y)
{
    if (_running && _parent != nullptr) {
        const Size& parentSize = _parent->getContentSize();
        if (parentSize.width > 0.0f && parentSize.height > 0.0f)
            _positionPercent.set(x / parentSize.width, y / parentSize.height);
        else
            _positionPercent.setZero();
    }
    ProtectedNode::setPosition(x, y);
}

void Widget::setPositionPercent(const Vec2& percent)
{
    _positionPercent = percent;
    if (_running && _parent != nullptr) {
        const Size& parentSize = _parent->getContentSize();
        ProtectedNode::setPosition(parentSize.width * percent.x, parentSize.height * percent.y);
    }
}

void Widget::setPositionType(PositionType type)
{
    _positionType = type;
}

void Widget::setContentSize(const Size& contentSize)
{
    _customSize = contentSize;
    const Size size = _ignoreSize ? getVirtualRendererSize() : contentSize;
    if (_running && _parent != nullptr) {
        const Size& parentSize = _parent->getContentSize();
        _sizePercent.set(parentSize.width > 0.0f ? _customSize.width / parentSize.width : 0.0f,
                         parentSize.height > 0.0f ? _customSize.height / parentSize.height : 0.0f);
    }
    if (size.equals(_contentSize))
        return;
    ProtectedNode::setContentSize(size);
    onSizeChanged();
    requestParentLayout();
}

void Widget::setSizePercent(const Vec2& percent)
{
    _sizePercent = percent;
    if (_running && _parent != nullptr)
        updateSizeAndPosition(_parent->getContentSize());
}

void Widget::setSizeType(SizeType type)
{
    _sizeType = type;
}

void Widget::ignoreContentAdaptWithSize(bool ignore)
{
    _ignoreSize = ignore;
    // Renderers are laid out again even when the size stays: adapting and fixed widgets size
    // their images differently.
    ProtectedNode::setContentSize(_ignoreSize ? getVirtualRendererSize() : _customSize);
    onSizeChanged();
    requestParentLayout();
}

void Widget::updateContentSizeWithTextureSize(const Size& size)
{
    if (_ignoreSize)
        setContentSize(size);
    else
        setContentSize(_customSize);
}

void Widget::updateSizeAndPosition()
{
    if (_parent != nullptr)
        updateSizeAndPosition(_parent->getContentSize());
}

void Widget::updateSizeAndPosition(const Size& parentSize)
{
    if (_sizeType == SizeType::PERCENT) {
        const Size size(parentSize.width * _sizePercent.x, parentSize.height * _sizePercent.y);
        const Size keep = _customSize;
        setContentSize(size);
        if (_ignoreSize)
            _customSize = keep;
    }
    if (_positionType == PositionType::PERCENT) {
        ProtectedNode::setPosition(parentSize.width * _positionPercent.x, parentSize.height * _positionPercent.y);
    } else if (parentSize.width > 0.0f && parentSize.height > 0.0f) {
        _positionPercent.set(_position.x / parentSize.width, _position.y / parentSize.height);
    }
}

float Widget::getLeftBoundary() const
{
    return _position.x - _anchorPoint.x * _contentSize.width * _scaleX;
}

float Widget::getBottomBoundary() const
{
    return _position.y - _anchorPoint.y * _contentSize.height * _scaleY;
}

float Widget::getRightBoundary() const { return getLeftBoundary() + _contentSize.width * _scaleX; }

float Widget::getTopBoundary() const { return getBottomBoundary() + _contentSize.height * _scaleY; }

// ----- layout

void Widget::setLayoutParameter(LayoutParameter* parameter)
{
    if (parameter == _layoutParameter)
        return;
    CC_SAFE_RETAIN(parameter);
    CC_SAFE_RELEASE(_layoutParameter);
    _layoutParameter = parameter;
    requestParentLayout();
}

void Widget::requestParentLayout()
{
    // A layout places its children by their sizes: a text given a longer string moves its
    // neighbours, and a right-aligned or centred one itself.
    if (auto* layout = dynamic_cast<Layout*>(_parent))
        layout->requestDoLayout();
}

void Widget::onSizeChanged()
{
    for (Node* child : Node::getChildren()) {
        if (auto* widget = dynamic_cast<Widget*>(child))
            widget->updateSizeAndPosition(_contentSize);
    }
}

// ----- cloning

std::string Widget::getDescription() const { return "Widget"; }

Widget* Widget::createCloneInstance() { return Widget::create(); }

void Widget::copySpecialProperties(Widget* /*model*/) {}

void Widget::copyClonedWidgetChildren(Widget* model)
{
    for (Node* child : model->getChildren()) {
        if (auto* widget = dynamic_cast<Widget*>(child)) {
            if (Widget* copy = widget->clone())
                addChild(copy);
        }
    }
}

void Widget::copyProperties(Widget* model)
{
    setEnabled(model->isEnabled());
    setVisible(model->isVisible());
    setBright(model->isBright());
    setTouchEnabled(model->isTouchEnabled());
    setSwallowTouches(model->isSwallowTouches());
    setPropagateTouchEvents(model->isPropagateTouchEvents());
    setTouchScaled(model->getTouchScaled());
    setName(model->getName());
    setTag(model->getTag());
    setUserString(model->getUserString());
    setLocalZOrder(model->getLocalZOrder());
    setAnchorPoint(model->getAnchorPoint());
    setScale(model->getScaleX(), model->getScaleY());
    setRotation(model->getRotation());
    setColor(model->getColor());
    setOpacity(model->getOpacity());
    setCascadeColorEnabled(model->isCascadeColorEnabled());
    setCascadeOpacityEnabled(model->isCascadeOpacityEnabled());
    _sizeType = model->_sizeType;
    _sizePercent = model->_sizePercent;
    _positionType = model->_positionType;
    _positionPercent = model->_positionPercent;
    ProtectedNode::setPosition(model->getPosition().x, model->getPosition().y);
    _touchEventCallback = model->_touchEventCallback;
    _clickEventListener = model->_clickEventListener;
    _focusEnabled = model->_focusEnabled;
    copySpecialProperties(model);
    // Sizes last: the special properties may have loaded textures that content adaptation reads.
    _customSize = model->_customSize;
    ignoreContentAdaptWithSize(model->isIgnoreContentAdaptWithSize());
    setContentSize(model->_customSize);
    if (LayoutParameter* parameter = model->getLayoutParameter())
        setLayoutParameter(parameter->clone());
}

Widget* Widget::clone()
{
    Widget* copy = createCloneInstance();
    if (copy == nullptr)
        return nullptr;
    copy->copyProperties(this);
    copy->copyClonedWidgetChildren(this);
    return copy;
}

} // namespace ui
} // namespace cocos2d
