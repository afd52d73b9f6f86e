#include "event/CCTouch.h"

#include <atomic>
#include <chrono>

#include "base/CCDirector.h"

namespace cocos2d {

namespace {
long long nowMicroseconds()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// Read from any thread; set at start-up and on every input.
std::atomic<long long> g_lastInput{nowMicroseconds()};

// View (origin top-left) <-> design (origin bottom-left) coordinates.
float designHeight()
{
    return Director::getInstance()->getWinSize().height;
}
Vec2 viewToDesign(const Vec2& p)
{
    return Vec2(p.x, designHeight() - p.y);
}
} // namespace

Vec2 Touch::getLocation() const
{
    return viewToDesign(_point);
}

Vec2 Touch::getPreviousLocation() const
{
    return viewToDesign(_prevPoint);
}

Vec2 Touch::getStartLocation() const
{
    return viewToDesign(_startPoint);
}

Vec2 Touch::getDelta() const
{
    return getLocation() - getPreviousLocation();
}

void Touch::setTouchInfo(int id, float viewX, float viewY)
{
    _id = id;
    _prevPoint = _point;
    _point.set(viewX, viewY);
    if (!_startPointCaptured) {
        _startPoint = _point;
        _prevPoint = _point;
        _startPointCaptured = true;
    }
}

void Touch::setLocation(const Vec2& location)
{
    _point.set(location.x, designHeight() - location.y);
}

long long Touch::getTimeStamp()
{
    return g_lastInput.load(std::memory_order_relaxed);
}

void Touch::updateTimeStamp()
{
    g_lastInput.store(nowMicroseconds(), std::memory_order_relaxed);
}

} // namespace cocos2d
