// EventMouse: a button press or release, a cursor move or a wheel step.
//
// Locations are design coordinates with the origin at the bottom-left (the space of
// Touch::getLocation), for getLocation and getLocationInView alike. The previous location is the
// location of the previous mouse event.
#pragma once

#include "event/CCEvent.h"
#include "math/CCMath.h"

namespace cocos2d {

class EventMouse : public Event {
public:
    enum class MouseEventType {
        MOUSE_NONE,
        MOUSE_DOWN,
        MOUSE_UP,
        MOUSE_MOVE,
        MOUSE_SCROLL,
    };
    // Buttons as GLFW numbers them.
    static constexpr int BUTTON_UNSET = -1;
    static constexpr int BUTTON_LEFT = 0;
    static constexpr int BUTTON_RIGHT = 1;
    static constexpr int BUTTON_MIDDLE = 2;

    explicit EventMouse(MouseEventType type) : Event(Type::MOUSE), _mouseEventType(type) {}

    MouseEventType getMouseEventType() const { return _mouseEventType; }

    void setCursorPosition(float x, float y) { _location.set(x, y); }
    void setPreviousCursorPosition(float x, float y) { _previousLocation.set(x, y); }
    Vec2 getLocation() const { return _location; }
    Vec2 getLocationInView() const { return _location; }
    Vec2 getPreviousLocationInView() const { return _previousLocation; }
    Vec2 getPreviousLocation() const { return _previousLocation; }
    Vec2 getDelta() const { return _location - _previousLocation; }
    float getCursorX() const { return _location.x; }
    float getCursorY() const { return _location.y; }

    // 0 left, 1 right, 2 middle; -1 on moves and scrolls without a button held.
    void setMouseButton(int button) { _mouseButton = button; }
    int getMouseButton() const { return _mouseButton; }

    // scrollY is the negated wheel offset: wheel up (away from the user) gives scrollY < 0.
    void setScrollData(float scrollX, float scrollY)
    {
        _scrollX = scrollX;
        _scrollY = scrollY;
    }
    float getScrollX() const { return _scrollX; }
    float getScrollY() const { return _scrollY; }

private:
    MouseEventType _mouseEventType;
    int _mouseButton = BUTTON_UNSET;
    Vec2 _location;
    Vec2 _previousLocation;
    float _scrollX = 0.0f;
    float _scrollY = 0.0f;
};

} // namespace cocos2d
