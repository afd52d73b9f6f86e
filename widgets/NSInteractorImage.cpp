#include "NSInteractorImage.h"

#include "NSSpriteView.h"

#include <algorithm>

namespace NSUI
{

namespace
{
bool g_captured = false;
NSInteractorImage* g_capturer = nullptr;

constexpr long kDoubleTapMs = 181;
constexpr float kTapMoveLimit = 2.0f;

timeval now()
{
    timeval t{};
    gettimeofday(&t, nullptr);
    return t;
}

long millisBetween(const timeval& from, const timeval& to)
{
    return (to.tv_sec - from.tv_sec) * 1000L + (to.tv_usec - from.tv_usec) / 1000L;
}
} // namespace

NSInteractorImage* NSInteractorImage::create()
{
    auto* interactor = new (std::nothrow) NSInteractorImage();
    if (interactor == nullptr)
        return nullptr;
    interactor->reset();
    interactor->autorelease();
    return interactor;
}

NSInteractorImage::~NSInteractorImage()
{
    releaseCapture();
    clearTracked();
}

bool NSInteractorImage::isGestureCaptured()
{
    return g_captured;
}

void NSInteractorImage::releaseCapture()
{
    if (g_capturer == this)
    {
        g_captured = false;
        g_capturer = nullptr;
    }
}

bool NSInteractorImage::reset()
{
    singleMode = true;
    active = false;
    pinchEnabled = true;
    panEnabled = true;
    dragMode = 0;
    releaseTarget();
    gestureStart = timeval{};
    g_captured = false;
    g_capturer = nullptr;
    return true;
}

void NSInteractorImage::setTarget(NSSpriteView* view)
{
    target = view;
}

void NSInteractorImage::releaseTarget()
{
    target = nullptr;
}

void NSInteractorImage::clearTracked()
{
    for (auto* t : tracked)
        t->release();
    tracked.clear();
}

void NSInteractorImage::track(const std::vector<cocos2d::Touch*>& touches)
{
    for (auto* touch : touches)
    {
        auto it = std::find_if(tracked.begin(), tracked.end(),
                               [touch](const cocos2d::Touch* t) { return t->getID() == touch->getID(); });
        if (it != tracked.end())
        {
            (*it)->setLocation(touch->getLocation());
            continue;
        }
        auto* copy = new cocos2d::Touch();
        copy->setTouchInfo(touch->getID(), touch->getLocationInView().x, touch->getLocationInView().y);
        copy->setLocation(touch->getLocation());
        tracked.push_back(copy);
    }
}

cocos2d::Touch* NSInteractorImage::eventTouchWithId(const std::vector<cocos2d::Touch*>& touches, int id) const
{
    for (auto* t : touches)
    {
        if (t->getID() == id)
            return t;
    }
    return nullptr;
}

void NSInteractorImage::touchesBegan(const std::vector<cocos2d::Touch*>& touches)
{
    if (g_captured && !active)
        return;
    if (target != nullptr && target->getScene() != cocos2d::Director::getInstance()->getRunningScene())
        return;
    if (!g_captured)
    {
        bool hit = false;
        for (auto* touch : touches)
        {
            if (target == nullptr)
                break;
            const cocos2d::Vec2 p = target->convertToNodeSpace(touch->getLocation());
            const cocos2d::Size& size = target->getContentSize();
            hit = hit || (p.x > 0 && p.y > 0 && p.x < size.width && p.y < size.height);
        }
        track(touches);
        if (!hit)
        {
            active = false;
            return;
        }
        g_captured = true;
        g_capturer = this;
        active = true;
    }
    else if (g_capturer == this)
    {
        track(touches);
    }
    else
    {
        active = false;
        return;
    }
    if (singleMode && tracked.size() > 1)
    {
        singleMode = false;
        onGestureEnded(tracked.front());
    }
    tapCandidate = true;
    if (singleMode && !tracked.empty())
        onSingleTouchBegan(tracked.front());
    else
        onTouchesBegan(touches);
}

void NSInteractorImage::touchesMoved(const std::vector<cocos2d::Touch*>& touches)
{
    if (!active || !g_captured)
        return;
    if (!singleMode)
    {
        onTouchesMoved(touches);
        return;
    }
    // A move without the tracked finger changes nothing.
    if (tracked.empty())
        return;
    if (cocos2d::Touch* touch = eventTouchWithId(touches, tracked.front()->getID()))
        onSingleTouchMoved(touch);
}

void NSInteractorImage::touchesEnded(const std::vector<cocos2d::Touch*>& touches)
{
    if (!active)
    {
        if (g_capturer == nullptr || g_capturer == this)
            clearTracked();
        return;
    }
    if (!singleMode)
    {
        onTouchesEnded(touches);
    }
    else
    {
        if (!tracked.empty())
        {
            if (cocos2d::Touch* touch = eventTouchWithId(touches, tracked.front()->getID()))
                onGestureEnded(touch);
        }
        clearTracked();
    }
    if (tracked.empty())
    {
        releaseCapture();
        singleMode = true;
    }
}

void NSInteractorImage::onSingleTouchBegan(cocos2d::Touch* touch)
{
    accumulatedPan = cocos2d::Vec2::ZERO;
    startLocation = touch->getLocation();
    previousTime = gestureStart;
    gestureStart = now();
    if (millisBetween(previousTime, gestureStart) < kDoubleTapMs && target != nullptr)
        onDoubleTap(target->convertToNodeSpace(startLocation));
}

void NSInteractorImage::onSingleTouchMoved(cocos2d::Touch* touch)
{
    if (panEnabled)
    {
        const timeval t = now();
        const long dt = millisBetween(previousTime, t);
        previousTime = t;
        const cocos2d::Vec2 step = (touch->getLocation() - startLocation) - accumulatedPan;
        accumulatedPan += step;
        const float speed = dt > 0 ? step.length() / static_cast<float>(dt) : 0.0f;
        onDrag(step, speed);
    }
    if (touch->getLocation().distance(touch->getPreviousLocation()) > kTapMoveLimit)
        tapCandidate = false;
}

void NSInteractorImage::onDrag(const cocos2d::Vec2& step, float)
{
    if (target == nullptr)
        return;
    auto* image = target->getImageView();
    if (dragMode == 0)
        image->setPosition(image->getPosition() + step);
    else if (std::fabs(step.x) < std::fabs(step.y))
        target->zoomBy(step.y > 0.0f ? 1.05f : 0.95f);
}

void NSInteractorImage::onGestureEnded(cocos2d::Touch* touch)
{
    const long t = millisBetween(gestureStart, now());
    const cocos2d::Vec2 moved = touch->getLocation() - startLocation;
    const float d = moved.length();
    const cocos2d::Vec2 location = target != nullptr ? target->convertToNodeSpace(touch->getLocation()) : touch->getLocation();
    if (t >= 26 && t <= 129 && d > 150.0f && d < 400.0f)
        onSwipe(location, moved);
    else if (t < 100 && d < 50.0f)
        onTap(location);
}

void NSInteractorImage::startTwoFingerGesture()
{
    if (tracked.size() != 2)
        return;
    if (panEnabled)
        accumulatedPan = cocos2d::Vec2::ZERO;
    if (pinchEnabled)
    {
        pinchStartDistance = tracked[0]->getLocation().distance(tracked[1]->getLocation());
        pinchScale = 1.0f;
    }
}

void NSInteractorImage::onTouchesBegan(const std::vector<cocos2d::Touch*>&)
{
    startTwoFingerGesture();
}

void NSInteractorImage::onTouchesEnded(const std::vector<cocos2d::Touch*>& touches)
{
    for (auto* touch : touches)
    {
        auto it = std::find_if(tracked.begin(), tracked.end(),
                               [touch](const cocos2d::Touch* t) { return t->getID() == touch->getID(); });
        if (it != tracked.end())
        {
            (*it)->release();
            tracked.erase(it);
        }
    }
    startTwoFingerGesture();
}

void NSInteractorImage::onTouchesMoved(const std::vector<cocos2d::Touch*>& touches)
{
    if (touches.size() != 2 || tracked.size() != 2)
        return;
    if (pinchEnabled)
    {
        const float d = touches[0]->getLocation().distance(touches[1]->getLocation());
        const float previous = pinchScale;
        // Two fingers that started at one point give no ratio to scale by.
        if (pinchStartDistance > 0.0f && previous > 0.0f)
        {
            pinchScale = d / pinchStartDistance;
            pinchBy(d / (pinchStartDistance * previous));
        }
    }
    if (panEnabled)
    {
        cocos2d::Vec2 average;
        for (auto* touch : touches)
        {
            cocos2d::Touch* mine = eventTouchWithId(tracked, touch->getID());
            if (mine != nullptr)
                average += touch->getLocation() - mine->getLocation();
        }
        average = average / 2.0f;
        const cocos2d::Vec2 step = average - accumulatedPan;
        accumulatedPan += step;
        panBy(step);
    }
}

void NSInteractorImage::panBy(const cocos2d::Vec2& delta)
{
    if (target != nullptr)
        target->getImageView()->setPosition(target->getImageView()->getPosition() + delta);
}

void NSInteractorImage::pinchBy(float factor)
{
    if (target != nullptr)
        target->zoomBy(factor);
}

} // namespace NSUI
