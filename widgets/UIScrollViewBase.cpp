#include "UIScrollViewBase.h"

#include "WidgetUtil.h"

#include <algorithm>
#include <cmath>

namespace NSUI
{

namespace
{
const char* const kIndicatorImage = "UIRes/white.png";
constexpr float kIndicatorWidth = 5.0f;
constexpr float kIndicatorFadeTime = 2.0f;
constexpr int kIndicatorZOffset = 100;
constexpr int kInnerContainerTag = 1;
} // namespace

UIScrollViewBase* UIScrollViewBase::create()
{
    auto* view = new (std::nothrow) UIScrollViewBase();
    if (view != nullptr && view->init())
    {
        view->autorelease();
        return view;
    }
    delete view;
    return nullptr;
}

UIScrollViewBase::~UIScrollViewBase()
{
    CC_SAFE_RELEASE_NULL(scrollIndicator);
    if (mouseListener != nullptr)
    {
        _eventDispatcher->removeEventListener(mouseListener);
        CC_SAFE_RELEASE_NULL(mouseListener);
    }
}

bool UIScrollViewBase::init()
{
    if (!cocos2d::ui::Layout::init())
        return false;
    setClippingEnabled(true);
    innerContainer->setTouchEnabled(false);
    setTouchEnabled(true);
    setOwnerNode(this);
    return true;
}

void UIScrollViewBase::initRenderer()
{
    cocos2d::ui::Layout::initRenderer();
    innerContainer = cocos2d::ui::Layout::create();
    innerContainer->setAnchorPoint(cocos2d::Vec2::ZERO);
    addProtectedChild(innerContainer, 1, kInnerContainerTag);
}

void UIScrollViewBase::onEnter()
{
    cocos2d::ui::Layout::onEnter();
    scheduleUpdate();
}

std::string UIScrollViewBase::getDescription() const
{
    return "ScrollView";
}

void UIScrollViewBase::setDirection(ScrollDirection dir)
{
    direction = dir;
}

void UIScrollViewBase::addEventListener(const ccScrollViewCallback& callback)
{
    eventCallback = callback;
}

void UIScrollViewBase::fireEvent(ScrollEventType type)
{
    retain();
    if (eventCallback)
        eventCallback(this, type);
    release();
}

// ----- geometry of the container in the view's node space

float UIScrollViewBase::containerLeft() const
{
    return innerContainer->getPositionX() - innerContainer->getAnchorPoint().x * innerContainer->getContentSize().width;
}
float UIScrollViewBase::containerRight() const
{
    return containerLeft() + innerContainer->getContentSize().width;
}
float UIScrollViewBase::containerBottom() const
{
    return innerContainer->getPositionY() - innerContainer->getAnchorPoint().y * innerContainer->getContentSize().height;
}
float UIScrollViewBase::containerTop() const
{
    return containerBottom() + innerContainer->getContentSize().height;
}

const cocos2d::Size& UIScrollViewBase::getInnerContainerSize() const
{
    return innerContainer->getContentSize();
}

void UIScrollViewBase::updateBoundaries()
{
    const cocos2d::Size& size = getContentSize();
    topBoundary = size.height;
    rightBoundary = size.width;
    bottomBoundary = 0.0f;
    leftBoundary = 0.0f;
    bounceTopBoundary = size.height - size.height / 3.0f;
    bounceBottomBoundary = size.height / 3.0f;
    bounceLeftBoundary = size.width / 3.0f;
    bounceRightBoundary = size.width - size.width / 3.0f;
}

void UIScrollViewBase::showTopLeftOfContent()
{
    const cocos2d::Size& size = getContentSize();
    const cocos2d::Size inner = innerContainer->getContentSize();
    innerContainer->setContentSize(cocos2d::Size(std::max(inner.width, size.width), std::max(inner.height, size.height)));
    innerContainer->setPosition(cocos2d::Vec2(0.0f, size.height - innerContainer->getContentSize().height));
}

void UIScrollViewBase::onSizeChanged()
{
    cocos2d::ui::Layout::onSizeChanged();
    if (innerContainer == nullptr)
        return;
    updateBoundaries();
    showTopLeftOfContent();
    scrollViewDidScroll();
}

void UIScrollViewBase::setContentSize(const cocos2d::Size& size)
{
    cocos2d::ui::Layout::setContentSize(size);
    if (innerContainer == nullptr)
        return;
    updateBoundaries();
    showTopLeftOfContent();
}

void UIScrollViewBase::setInnerContainerSize(const cocos2d::Size& requested)
{
    const cocos2d::Size& view = getContentSize();
    const cocos2d::Size old = innerContainer->getContentSize();
    const cocos2d::Size size(std::max(requested.width, view.width), std::max(requested.height, view.height));
    innerContainer->setContentSize(size);

    switch (direction)
    {
    case ScrollDirection::VERTICAL:
        scrollChildren(0.0f, old.height - size.height);
        break;
    case ScrollDirection::HORIZONTAL:
        if (containerRight() <= view.width)
            scrollChildren(old.width - size.width, 0.0f);
        break;
    case ScrollDirection::BOTH: {
        const float dx = containerRight() <= view.width ? old.width - size.width : 0.0f;
        scrollChildren(dx, old.height - size.height);
        break;
    }
    default:
        break;
    }

    // Pull the content back into range.
    const cocos2d::Vec2 anchor = innerContainer->getAnchorPoint();
    if (containerLeft() > 0.0f)
    {
        innerContainer->setPositionX(anchor.x * size.width);
        scrollViewDidScroll();
    }
    if (containerRight() < view.width)
    {
        innerContainer->setPositionX(view.width - (1.0f - anchor.x) * size.width);
        scrollViewDidScroll();
    }
    if (innerContainer->getPositionY() > 0.0f)
    {
        innerContainer->setPositionY(anchor.y * size.height);
        scrollViewDidScroll();
    }
    if (containerTop() < view.height)
    {
        innerContainer->setPositionY(view.height - (1.0f - anchor.y) * size.height);
        scrollViewDidScroll();
    }
}

void UIScrollViewBase::jumpToDestination(const cocos2d::Vec2& position)
{
    const cocos2d::Size& view = getContentSize();
    const cocos2d::Size& inner = innerContainer->getContentSize();
    float x = position.x;
    float y = position.y;
    const bool vertical = direction == ScrollDirection::VERTICAL || direction == ScrollDirection::BOTH;
    const bool horizontal = direction == ScrollDirection::HORIZONTAL || direction == ScrollDirection::BOTH;
    if (vertical && y <= 0.0f)
        y = std::max(y, view.height - inner.height);
    if (horizontal && x <= 0.0f)
        x = std::max(x, view.width - inner.width);
    const cocos2d::Vec2 target(x, y);
    if (!innerContainer->getPosition().equals(target))
        innerContainer->setPosition(target);
    scrollViewDidScroll();
}

void UIScrollViewBase::moveChildren(float dx, float dy)
{
    innerContainer->setPosition(innerContainer->getPosition() + cocos2d::Vec2(dx, dy));
    scrollViewDidScroll();
}

bool UIScrollViewBase::scrollChildren(float dx, float dy)
{
    fireEvent(ScrollEventType::SCROLLING);
    const float top = bounceEnabled ? bounceTopBoundary : topBoundary;
    const float bottom = bounceEnabled ? bounceBottomBoundary : bottomBoundary;
    const float left = bounceEnabled ? bounceLeftBoundary : leftBoundary;
    const float right = bounceEnabled ? bounceRightBoundary : rightBoundary;
    bool result = true;

    auto limitY = [&](bool testBottom, bool testTop) {
        if (testBottom && containerBottom() + dy >= bottom)
        {
            dy = bottom - containerBottom();
            fireEvent(ScrollEventType::SCROLL_TO_BOTTOM);
            result = false;
        }
        if (testTop && containerTop() + dy <= top)
        {
            dy = top - containerTop();
            fireEvent(ScrollEventType::SCROLL_TO_TOP);
            result = false;
        }
    };
    auto limitX = [&](bool testRight, bool testLeft) {
        if (testRight && containerRight() + dx <= right)
        {
            dx = right - containerRight();
            fireEvent(ScrollEventType::SCROLL_TO_RIGHT);
            result = false;
        }
        if (testLeft && containerLeft() + dx >= left)
        {
            dx = left - containerLeft();
            fireEvent(ScrollEventType::SCROLL_TO_LEFT);
            result = false;
        }
    };

    switch (direction)
    {
    case ScrollDirection::VERTICAL:
        limitY(true, true);
        moveChildren(0.0f, dy);
        break;
    case ScrollDirection::HORIZONTAL:
        limitX(true, true);
        moveChildren(dx, 0.0f);
        break;
    case ScrollDirection::BOTH:
        // Only the edge the motion approaches: upward motion the bottom edge, downward the top,
        // rightward the left edge, leftward the right.
        limitY(dy > 0.0f, dy < 0.0f);
        limitX(dx < 0.0f, dx > 0.0f);
        moveChildren(dx, dy);
        break;
    default:
        break;
    }
    return result;
}

// ----- inertia and bounce

void UIScrollViewBase::stopAutoScroll()
{
    autoScroll = false;
    autoScrollAddUpTime = 0.0f;
    autoScrollOriginalSpeed = 0.0f;
}

void UIScrollViewBase::stopBounce()
{
    bouncing = false;
    bounceOriginalSpeed = 0.0f;
    leftBounceNeeded = rightBounceNeeded = topBounceNeeded = bottomBounceNeeded = false;
}

void UIScrollViewBase::startRecordSlidAction()
{
    if (autoScroll)
        stopAutoScroll();
    if (bouncing)
        stopBounce();
    slidTime = 0.0f;
    pressed = true;
}

bool UIScrollViewBase::checkNeedBounce()
{
    if (!bounceEnabled)
        return false;
    const cocos2d::Size& view = getContentSize();
    const float W = view.width;
    const float H = view.height;
    bottomBounceNeeded = containerBottom() > 0.0f;
    if (bottomBounceNeeded)
        fireEvent(ScrollEventType::SCROLL_TO_BOTTOM);
    topBounceNeeded = containerTop() < H;
    if (topBounceNeeded)
        fireEvent(ScrollEventType::SCROLL_TO_TOP);
    rightBounceNeeded = containerRight() < W;
    if (rightBounceNeeded)
        fireEvent(ScrollEventType::SCROLL_TO_RIGHT);
    leftBounceNeeded = containerLeft() > 0.0f;
    if (leftBounceNeeded)
        fireEvent(ScrollEventType::SCROLL_TO_LEFT);

    const float l = containerLeft(), r = containerRight(), t = containerTop(), b = containerBottom();
    cocos2d::Vec2 vector;
    if (topBounceNeeded && leftBounceNeeded)
        vector = cocos2d::Vec2(0.0f, H) - cocos2d::Vec2(l, t);
    else if (topBounceNeeded && rightBounceNeeded)
        vector = cocos2d::Vec2(W, H) - cocos2d::Vec2(r, t);
    else if (bottomBounceNeeded && leftBounceNeeded)
        vector = cocos2d::Vec2(0.0f, 0.0f) - cocos2d::Vec2(l, b);
    else if (bottomBounceNeeded && rightBounceNeeded)
        vector = cocos2d::Vec2(W, 0.0f) - cocos2d::Vec2(r, b);
    else if (topBounceNeeded)
        vector = cocos2d::Vec2(0.0f, H - t);
    else if (bottomBounceNeeded)
        vector = cocos2d::Vec2(0.0f, -b);
    else if (leftBounceNeeded)
        vector = cocos2d::Vec2(-l, 0.0f);
    else if (rightBounceNeeded)
        vector = cocos2d::Vec2(W - r, 0.0f);
    else
        return false;

    const float length = vector.length();
    if (!(length > 0.0f))
        return false;
    bounceOriginalSpeed = length / kBounceTime;
    bounceDir = vector / length;
    bouncing = true;
    return true;
}

bool UIScrollViewBase::bounceScrollChildren(float dx, float dy)
{
    const cocos2d::Size& view = getContentSize();
    bool reached = false;
    if (dy > 0.0f && containerTop() + dy >= view.height)
    {
        dy = view.height - containerTop();
        fireEvent(ScrollEventType::BOUNCE_TOP);
        reached = true;
    }
    if (dy < 0.0f && containerBottom() + dy <= 0.0f)
    {
        dy = -containerBottom();
        fireEvent(ScrollEventType::BOUNCE_BOTTOM);
        reached = true;
    }
    if (dx < 0.0f && containerLeft() + dx <= 0.0f)
    {
        dx = -containerLeft();
        fireEvent(ScrollEventType::BOUNCE_LEFT);
        reached = true;
    }
    if (dx > 0.0f && containerRight() + dx >= view.width)
    {
        dx = view.width - containerRight();
        fireEvent(ScrollEventType::BOUNCE_RIGHT);
        reached = true;
    }
    moveChildren(dx, dy);
    return reached;
}

void UIScrollViewBase::endRecordSlidAction()
{
    if (checkNeedBounce() || !inertiaScrollEnabled || slidTime <= kMinFlickTime)
    {
        slidTime = 0.0f;
        return;
    }
    const cocos2d::Vec2 moved = _touchEndPosition - _touchBeganPosition;
    float distance = 0.0f;
    switch (direction)
    {
    case ScrollDirection::VERTICAL:
        distance = moved.y;
        autoScrollDir = distance >= 0.0f ? cocos2d::Vec2(0.0f, 1.0f) : cocos2d::Vec2(0.0f, -1.0f);
        break;
    case ScrollDirection::HORIZONTAL:
        distance = moved.x;
        autoScrollDir = distance >= 0.0f ? cocos2d::Vec2(1.0f, 0.0f) : cocos2d::Vec2(-1.0f, 0.0f);
        break;
    case ScrollDirection::BOTH:
        distance = moved.length();
        autoScrollDir = distance > 0.0f ? moved / distance : cocos2d::Vec2::ZERO;
        break;
    default:
        slidTime = 0.0f;
        return;
    }
    autoScrollOriginalSpeed = std::min(std::fabs(distance) / slidTime, kAutoScrollMaxSpeed);
    autoScrollAddUpTime = 0.0f;
    autoScrollAcceleration = kAutoScrollAcceleration;
    autoScroll = true;
    slidTime = 0.0f;
}

void UIScrollViewBase::update(float dt)
{
    if (autoScroll)
    {
        const float previous = autoScrollAddUpTime;
        autoScrollAddUpTime += dt;
        const float speed = autoScrollOriginalSpeed + autoScrollAcceleration * autoScrollAddUpTime;
        if (speed <= 0.0f)
        {
            stopAutoScroll();
            checkNeedBounce();
        }
        else
        {
            // Distance covered between the two instants under constant deceleration.
            const float offset =
                (autoScrollOriginalSpeed + autoScrollAcceleration * (previous * 2.0f + dt) * 0.5f) * dt;
            if (!scrollChildren(autoScrollDir.x * offset, autoScrollDir.y * offset))
            {
                stopAutoScroll();
                checkNeedBounce();
            }
        }
    }
    if (bouncing)
    {
        if (bounceOriginalSpeed <= 0.0f)
        {
            stopBounce();
        }
        else
        {
            const cocos2d::Vec2 step = bounceDir * (dt * bounceOriginalSpeed);
            if (bounceScrollChildren(step.x, step.y))
                stopBounce();
        }
    }
    if (pressed)
        slidTime += dt;
}

// ----- touch

void UIScrollViewBase::handleMoveLogic(cocos2d::Touch* touch)
{
    // Screen (design) coordinates, not converted into the view's space.
    const cocos2d::Vec2 delta = touch->getLocation() - touch->getPreviousLocation();
    switch (direction)
    {
    case ScrollDirection::VERTICAL:
        scrollChildren(0.0f, delta.y);
        break;
    case ScrollDirection::HORIZONTAL:
        scrollChildren(delta.x, 0.0f);
        break;
    case ScrollDirection::BOTH:
        scrollChildren(delta.x, delta.y);
        break;
    default:
        break;
    }
}

void UIScrollViewBase::handleReleaseLogic(cocos2d::Touch*)
{
    endRecordSlidAction();
    pressed = false;
}

bool UIScrollViewBase::onTouchBegan(cocos2d::Touch* touch, cocos2d::Event* event)
{
    const bool hit = cocos2d::ui::Layout::onTouchBegan(touch, event);
    if (_hitted && !intercepting)
    {
        startRecordSlidAction();
        axisUndecided = true;
        axisWeightX = 1.0f;
        axisWeightY = 1.0f;
    }
    return hit;
}

void UIScrollViewBase::onTouchMoved(cocos2d::Touch* touch, cocos2d::Event* event)
{
    if (direction == ScrollDirection::VERTICAL || direction == ScrollDirection::HORIZONTAL)
    {
        const cocos2d::Vec2 location = touch->getLocation();
        if (axisUndecided && location.distance(_touchBeganPosition) > kAxisLockDistance)
        {
            const cocos2d::Vec2 d = location - _touchBeganPosition;
            if (std::fabs(d.x) > std::fabs(d.y))
                axisWeightY = 0.0f;
            else
                axisWeightX = 0.0f; // a tie locks to vertical
            axisUndecided = false;
        }
        if (!axisUndecided)
        {
            if (axisWeightX > axisWeightY)
                touch->setLocation(cocos2d::Vec2(location.x, _touchBeganPosition.y));
            else
                touch->setLocation(cocos2d::Vec2(_touchBeganPosition.x, location.y));
        }
    }
    cocos2d::ui::Layout::onTouchMoved(touch, event);
    if (!intercepting)
        handleMoveLogic(touch);
}

void UIScrollViewBase::onTouchEnded(cocos2d::Touch* touch, cocos2d::Event* event)
{
    cocos2d::ui::Layout::onTouchEnded(touch, event);
    if (!intercepting)
        handleReleaseLogic(touch);
    intercepting = false;
    axisUndecided = false;
}

void UIScrollViewBase::onTouchCancelled(cocos2d::Touch* touch, cocos2d::Event* event)
{
    cocos2d::ui::Layout::onTouchCancelled(touch, event);
    if (!intercepting)
        handleReleaseLogic(touch);
    intercepting = false;
    axisUndecided = false;
}

bool UIScrollViewBase::interceptTouchEvent(TouchEventType event, cocos2d::ui::Widget* sender, cocos2d::Touch* touch)
{
    switch (event)
    {
    case TouchEventType::BEGAN:
        intercepting = true;
        _touchBeganPosition = touch->getLocation();
        startRecordSlidAction();
        break;
    case TouchEventType::MOVED:
        _touchMovePosition = touch->getLocation();
        if (sender->getTouchBeganPosition().distance(_touchMovePosition) > childFocusCancelOffset)
        {
            sender->setHighlighted(false);
            handleMoveLogic(touch);
        }
        break;
    case TouchEventType::ENDED:
    case TouchEventType::CANCELED:
        _touchEndPosition = touch->getLocation();
        handleReleaseLogic(touch);
        if (sender->isSwallowTouches())
            intercepting = false;
        break;
    }
    return false;
}

// ----- mouse wheel

void UIScrollViewBase::setTouchEnabled(bool enabled)
{
    if (enabled == isTouchEnabled())
        return;
    cocos2d::ui::Layout::setTouchEnabled(enabled);
    if (enabled)
    {
        mouseListener = cocos2d::EventListenerMouse::create();
        mouseListener->retain();
        mouseListener->onMouseScroll = [this](cocos2d::EventMouse* e) { onMouseWheel(e); };
        _eventDispatcher->addEventListenerWithSceneGraphPriority(mouseListener, this);
    }
    else if (mouseListener != nullptr)
    {
        _eventDispatcher->removeEventListener(mouseListener);
        CC_SAFE_RELEASE_NULL(mouseListener);
    }
}

void UIScrollViewBase::onMouseWheel(cocos2d::EventMouse* event)
{
    if (!isVisibleInTree(this) || !isVisitedByCurrentCamera(this))
        return;
    if (!strictlyInside(this, event->getLocationInView()))
        return;
    const float step = event->getScrollY() * kWheelStep;
    switch (direction)
    {
    case ScrollDirection::VERTICAL:
    case ScrollDirection::BOTH:
        scrollChildren(0.0f, step);
        break;
    case ScrollDirection::HORIZONTAL:
        scrollChildren(step, 0.0f);
        break;
    default:
        break;
    }
    event->stopPropagation();
}

// ----- indicator

void UIScrollViewBase::scrollViewDidScroll()
{
    const cocos2d::Size& view = getContentSize();
    if (scrollIndicator == nullptr)
    {
        scrollIndicator = cocos2d::Sprite::create(kIndicatorImage);
        if (scrollIndicator == nullptr)
            return;
        scrollIndicator->retain();
        scrollIndicator->setAnchorPoint(cocos2d::Vec2(1.0f, 0.0f));
        const float w = scrollIndicator->getContentSize().width;
        if (w > 0.0f)
            scrollIndicator->setScaleX(kIndicatorWidth / w);
        addProtectedChild(scrollIndicator);
    }
    const float innerHeight = innerContainer->getContentSize().height;
    const float overflow = view.height - innerHeight;
    if (overflow >= 0.0f)
    {
        scrollIndicator->setVisible(false);
        return;
    }
    scrollIndicator->stopAllActions();
    const float barLength = view.height * view.height / innerHeight;
    const float ratio = std::clamp(innerContainer->getPositionY() / overflow, 0.0f, 1.0f);
    scrollIndicator->setPosition(cocos2d::Vec2(view.width, (view.height - barLength) * ratio));
    const float h = scrollIndicator->getContentSize().height;
    if (h > 0.0f)
        scrollIndicator->setScaleY(barLength / h);
    scrollIndicator->setLocalZOrder(getLocalZOrder() + kIndicatorZOffset);
    scrollIndicator->setVisible(true);
    scrollIndicator->setOpacity(255);
    scrollIndicator->runAction(cocos2d::FadeTo::create(kIndicatorFadeTime, 0));
}

// ----- children, layout and cloning

void UIScrollViewBase::addChild(cocos2d::Node* child)
{
    if (child != nullptr)
        innerContainer->addChild(child, child->getLocalZOrder(), child->getTag());
}
void UIScrollViewBase::addChild(cocos2d::Node* child, int localZOrder)
{
    innerContainer->addChild(child, localZOrder);
}
void UIScrollViewBase::addChild(cocos2d::Node* child, int localZOrder, int tag)
{
    innerContainer->addChild(child, localZOrder, tag);
}
void UIScrollViewBase::addChild(cocos2d::Node* child, int localZOrder, const std::string& name)
{
    innerContainer->addChild(child, localZOrder, name);
}
cocos2d::Node* UIScrollViewBase::getChildByTag(int tag) const
{
    return innerContainer->getChildByTag(tag);
}
cocos2d::Node* UIScrollViewBase::getChildByName(const std::string& name) const
{
    return innerContainer->getChildByName(name);
}
void UIScrollViewBase::removeChild(cocos2d::Node* child, bool cleanup)
{
    innerContainer->removeChild(child, cleanup);
}
void UIScrollViewBase::removeAllChildren()
{
    innerContainer->removeAllChildren();
}
cocos2d::Vector<cocos2d::Node*>& UIScrollViewBase::getChildren()
{
    return innerContainer ? innerContainer->getChildren() : cocos2d::ui::Layout::getChildren();
}

const cocos2d::Vector<cocos2d::Node*>& UIScrollViewBase::getChildren() const
{
    return innerContainer ? innerContainer->getChildren() : cocos2d::ui::Layout::getChildren();
}

ssize_t UIScrollViewBase::getChildrenCount() const
{
    return innerContainer ? innerContainer->getChildrenCount() : cocos2d::ui::Layout::getChildrenCount();
}

void UIScrollViewBase::removeAllChildrenWithCleanup(bool cleanup)
{
    innerContainer->removeAllChildrenWithCleanup(cleanup);
}

void UIScrollViewBase::setLayoutType(Type type)
{
    innerContainer->setLayoutType(type);
}
cocos2d::ui::Layout::Type UIScrollViewBase::getLayoutType() const
{
    return innerContainer->getLayoutType();
}
void UIScrollViewBase::doLayout()
{
    // The inner container lays out its own children; the view has nothing to place.
    _doLayoutDirty = false;
}

cocos2d::ui::Widget* UIScrollViewBase::createCloneInstance()
{
    return UIScrollViewBase::create();
}

void UIScrollViewBase::copySpecialProperties(cocos2d::ui::Widget* model)
{
    auto* source = dynamic_cast<UIScrollViewBase*>(model);
    if (source == nullptr)
        return;
    cocos2d::ui::Layout::copySpecialProperties(model);
    setInnerContainerSize(source->getInnerContainerSize());
    setDirection(source->direction);
    bounceEnabled = source->bounceEnabled;
    inertiaScrollEnabled = source->inertiaScrollEnabled;
    eventCallback = source->eventCallback;
}

} // namespace NSUI
