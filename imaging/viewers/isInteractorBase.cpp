#include "isInteractorBase.h"

#include "isRenderWindowBase.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"

#include <chrono>
#include <cmath>

namespace isImageSDK {

namespace {

bool g_captureActive = false;
isInteractorBase* g_capturing = nullptr;

isInteractorBase::Clock& clockSlot()
{
    static isInteractorBase::Clock clock;
    return clock;
}

long long wholeMilliseconds(int64_t fromMicroseconds, int64_t toMicroseconds)
{
    return static_cast<long long>((toMicroseconds - fromMicroseconds) / 1000);
}

} // namespace

void isInteractorBase::setClock(Clock clock)
{
    clockSlot() = std::move(clock);
}

int64_t isInteractorBase::now()
{
    if (clockSlot())
        return clockSlot()();
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

bool isInteractorBase::isCaptureActive()
{
    return g_captureActive;
}

isInteractorBase* isInteractorBase::getCapturingInteractor()
{
    return g_captureActive ? g_capturing : nullptr;
}

isInteractorBase::~isInteractorBase()
{
    isInteractorBase::clear();
}

void isInteractorBase::clear()
{
    // A window removed in the middle of a gesture must not leave every other window deaf.
    if (m_capturing || g_capturing == this)
        endCapture();
    releaseTracked();
    m_singleTouch = true;
    if (m_renderWindow) {
        isRenderWindowBase* window = m_renderWindow;
        m_renderWindow = nullptr;
        window->release();
    }
}

bool isInteractorBase::init()
{
    if (!isObject::init())
        return false;
    m_singleTouch = true;
    m_pinchEnabled = true;
    m_panEnabled = true;
    m_capturing = false;
    g_captureActive = false;
    g_capturing = nullptr;
    return true;
}

void isInteractorBase::setRenderWindow(isRenderWindowBase* window)
{
    if (window == m_renderWindow)
        return;
    if (window)
        window->retain();
    if (m_renderWindow)
        m_renderWindow->release();
    m_renderWindow = window;
}

cocos2d::Vec2 isInteractorBase::toNode(const cocos2d::Vec2& screen) const
{
    return m_renderWindow ? m_renderWindow->convertToNodeSpace(screen) : screen;
}

void* isInteractorBase::windowContext() const
{
    return m_renderWindow ? m_renderWindow->getNotificationContext() : nullptr;
}

cocos2d::Touch* isInteractorBase::trackedWithId(int id) const
{
    for (cocos2d::Touch* touch : m_tracked)
        if (touch->getID() == id)
            return touch;
    return nullptr;
}

void isInteractorBase::track(const std::vector<cocos2d::Touch*>& touches)
{
    for (cocos2d::Touch* touch : touches) {
        const cocos2d::Vec2 view = touch->getLocationInView();
        cocos2d::Touch* copy = trackedWithId(touch->getID());
        if (!copy) {
            copy = new cocos2d::Touch();
            m_tracked.push_back(copy);
        }
        copy->setTouchInfo(touch->getID(), view.x, view.y);
    }
}

void isInteractorBase::releaseTracked()
{
    for (cocos2d::Touch* touch : m_tracked)
        touch->release();
    m_tracked.clear();
}

void isInteractorBase::endCapture()
{
    if (g_capturing == this || g_capturing == nullptr) {
        g_captureActive = false;
        g_capturing = nullptr;
    }
    m_capturing = false;
}

void isInteractorBase::touchesBegan(const std::vector<cocos2d::Touch*>& touches)
{
    if (g_captureActive && g_capturing != this)
        return;
    if (!m_renderWindow || !m_renderWindow->getScene() ||
        m_renderWindow->getScene() != cocos2d::Director::getInstance()->getRunningScene())
        return;
    if (g_captureActive) {
        track(touches);
    } else {
        const cocos2d::Size size = m_renderWindow->getContentSize();
        bool inside = false;
        for (cocos2d::Touch* touch : touches) {
            const cocos2d::Vec2 p = toNode(touch->getLocation());
            inside = inside || (p.x > 0.0f && p.x < size.width && p.y > 0.0f && p.y < size.height);
        }
        track(touches);
        if (!inside) {
            m_capturing = false;
            return;
        }
        g_captureActive = true;
        g_capturing = this;
        m_capturing = true;
        // The window becomes the active one.
        NSUI::NSNotificationCenter::getInstance()->postNotification(this, NOTIFY_VIEW_ACTIVATE, nullptr,
                                                                    windowContext(), true);
    }
    if (m_tracked.empty())
        return;
    if (m_singleTouch && m_tracked.size() > 1) {
        m_singleTouch = false;
        onTouchEnded(m_tracked.front());
    }
    m_stillTap = true;
    if (!m_singleTouch)
        onMultiTouchBegan(touches);
    else
        singleTouchBegan(m_tracked.front());
}

void isInteractorBase::singleTouchBegan(cocos2d::Touch* touch)
{
    m_dragTotal = cocos2d::Vec2::ZERO;
    m_beganLocation = touch->getLocation();
    // The speed of this gesture's first move is measured from the touch-began before it.
    m_lastMoveTime = m_lastTapTime;
    m_previousTapTime = m_lastTapTime;
    m_lastTapTime = now();
    if (wholeMilliseconds(m_previousTapTime, m_lastTapTime) < kDoubleTapMs)
        onDoubleTap(toNode(m_beganLocation));
    else
        onTouchBegan(touch);
}

void isInteractorBase::onTouchBegan(cocos2d::Touch*) {}

void isInteractorBase::onTouchMoved(cocos2d::Touch* touch)
{
    const cocos2d::Vec2 location = touch->getLocation();
    if (m_panEnabled) {
        const cocos2d::Vec2 step = (location - m_beganLocation) - m_dragTotal;
        m_dragTotal += step;
        const int64_t t = now();
        const long long ms = wholeMilliseconds(m_lastMoveTime, t);
        m_lastMoveTime = t;
        onDrag(step, ms > 0 ? step.length() / static_cast<float>(ms) : 0.0f);
    }
    if (location.distance(m_beganLocation) > kStillTapDistance)
        m_stillTap = false;
}

void isInteractorBase::onTouchEnded(cocos2d::Touch* touch)
{
    const long long elapsed = wholeMilliseconds(m_lastTapTime, now());
    const cocos2d::Vec2 end = touch->getLocation();
    const float distance = m_beganLocation.distance(end);
    if (elapsed >= kSwipeMinMs && elapsed <= kSwipeMaxMs && distance > kSwipeMinDistance &&
        distance < kSwipeMaxDistance)
        onSwipe(toNode(end), end - m_beganLocation);
    else if (elapsed < kTapMaxMs && distance < kTapMaxDistance)
        onTap(toNode(end));
}

void isInteractorBase::onTouchCancelled(cocos2d::Touch*) {}

void isInteractorBase::startTwoTouches()
{
    if (m_tracked.size() != 2)
        return;
    if (m_panEnabled)
        m_dragTotal = cocos2d::Vec2::ZERO;
    if (m_pinchEnabled) {
        m_pinchStartDistance = m_tracked[0]->getLocation().distance(m_tracked[1]->getLocation());
        m_pinchScale = 1.0f;
    }
}

void isInteractorBase::onMultiTouchBegan(const std::vector<cocos2d::Touch*>&)
{
    startTwoTouches();
}

void isInteractorBase::onMultiTouchMoved(const std::vector<cocos2d::Touch*>& touches)
{
    if (touches.size() != 2 || m_tracked.size() != 2)
        return;
    if (m_pinchEnabled && m_pinchStartDistance > 0.0f && m_pinchScale > 0.0f) {
        const float distance = touches[0]->getLocation().distance(touches[1]->getLocation());
        const float scale = distance / m_pinchStartDistance;
        const float factor = distance / (m_pinchStartDistance * m_pinchScale);
        m_pinchScale = scale;
        if (scale > 0.0f)
            onPinch(scale, factor);
    }
    if (m_panEnabled) {
        cocos2d::Vec2 sum;
        for (cocos2d::Touch* touch : touches) {
            const cocos2d::Touch* start = trackedWithId(touch->getID());
            if (!start)
                return;
            sum += touch->getLocation() - start->getLocation();
        }
        const cocos2d::Vec2 mean = sum * 0.5f;
        const cocos2d::Vec2 step = mean - m_dragTotal;
        m_dragTotal = mean;
        onTwoFingerPan(step);
    }
}

void isInteractorBase::onMultiTouchEnded(const std::vector<cocos2d::Touch*>& touches)
{
    for (cocos2d::Touch* touch : touches) {
        for (auto it = m_tracked.begin(); it != m_tracked.end(); ++it)
            if ((*it)->getID() == touch->getID()) {
                (*it)->release();
                m_tracked.erase(it);
                break;
            }
    }
    startTwoTouches();
}

void isInteractorBase::onMultiTouchCancelled(const std::vector<cocos2d::Touch*>& touches)
{
    isInteractorBase::onMultiTouchEnded(touches);
}

void isInteractorBase::touchesEnded(const std::vector<cocos2d::Touch*>& touches)
{
    touchesFinished(touches, false);
}

void isInteractorBase::touchesCancelled(const std::vector<cocos2d::Touch*>& touches)
{
    touchesFinished(touches, true);
}

void isInteractorBase::touchesFinished(const std::vector<cocos2d::Touch*>& touches, bool cancelled)
{
    if (m_capturing) {
        // Keep this interactor alive while its handlers run (a handler may close the window).
        retain();
        if (!m_singleTouch) {
            if (cancelled)
                onMultiTouchCancelled(touches);
            else
                onMultiTouchEnded(touches);
            if (m_tracked.empty()) {
                endCapture();
                m_singleTouch = true;
            }
        } else {
            if (!m_tracked.empty()) {
                const int id = m_tracked.front()->getID();
                for (cocos2d::Touch* touch : touches)
                    if (touch->getID() == id) {
                        if (cancelled)
                            onTouchCancelled(touch);
                        else
                            onTouchEnded(touch);
                        break;
                    }
            }
            releaseTracked();
            endCapture();
        }
        release();
    } else if (!g_captureActive) {
        releaseTracked();
    }
}

void isInteractorBase::onDoubleTap(const cocos2d::Vec2&) {}
void isInteractorBase::onTwoFingerPan(const cocos2d::Vec2&) {}
void isInteractorBase::onPinch(float, float) {}
void isInteractorBase::onSwipe(const cocos2d::Vec2&, const cocos2d::Vec2&) {}
void isInteractorBase::onTap(const cocos2d::Vec2&) {}
void isInteractorBase::onDrag(const cocos2d::Vec2&, float) {}

} // namespace isImageSDK
