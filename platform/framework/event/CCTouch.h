// Touch: one finger (or the left mouse button, which is touch 0 on the desktop).
//
// Locations are kept in view coordinates: design units with the origin at the top-left corner.
// getLocation and friends give design coordinates with the origin at the bottom-left, the space
// of the scene (world space).
#pragma once

#include "base/CCRef.h"
#include "math/CCMath.h"

namespace cocos2d {

class Touch : public Ref {
public:
    // How a layer receives touches.
    enum class DispatchMode {
        ALL_AT_ONCE,
        ONE_BY_ONE,
    };

    Touch() = default;

    int getID() const { return _id; }

    // Design coordinates, origin bottom-left.
    Vec2 getLocation() const;
    Vec2 getPreviousLocation() const;
    Vec2 getStartLocation() const;
    // getLocation() - getPreviousLocation().
    Vec2 getDelta() const;
    // View coordinates, origin top-left.
    Vec2 getLocationInView() const { return _point; }
    Vec2 getPreviousLocationInView() const { return _prevPoint; }
    Vec2 getStartLocationInView() const { return _startPoint; }

    // The first call sets start = previous = current; later calls move current to previous.
    void setTouchInfo(int id, float viewX, float viewY);
    // Overwrites the current location (design coordinates) only; the next setTouchInfo then takes
    // it as the previous location.
    void setLocation(const Vec2& location);

    // Microseconds since 1970 of the most recent user input (touch, mouse button, wheel or key);
    // the application's start time before any input.
    static long long getTimeStamp();
    // [hook] Records that user input arrived now.
    static void updateTimeStamp();

private:
    int _id = 0;
    bool _startPointCaptured = false;
    Vec2 _startPoint;
    Vec2 _point;
    Vec2 _prevPoint;
};

} // namespace cocos2d
