// isInteractorBase: turns the touches of one render window into gestures. It tracks the live
// touches, decides which window owns a gesture (one capture for the whole process: the window
// that got the first touch inside it keeps every touch until all of them ended), separates
// one-finger from two-finger gestures and recognises double taps, taps, swipes, drags, pinches
// and two-finger pans. Subclasses turn the gestures into tool actions.
//
// Locations: touches carry screen (design) coordinates; "node points" are in the window's node
// space (window units, origin bottom-left). Gesture times come from a monotonic clock in
// microseconds, compared in whole milliseconds; tests replace the clock.
//
// Main thread only; the capture is process-wide and not locked.
#pragma once

#include "isObject.h"

#include "cocos2d.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace isImageSDK {

class isRenderWindowBase;

class isInteractorBase : public isObject {
public:
    // Gesture thresholds: milliseconds and screen units.
    static constexpr long long kDoubleTapMs = 181;      // touch-began events closer than this
    static constexpr long long kSwipeMinMs = 26;        // a swipe lasts 26..129 ms
    static constexpr long long kSwipeMaxMs = 129;
    static constexpr float kSwipeMinDistance = 150.0f;  // and travels (150, 400) units
    static constexpr float kSwipeMaxDistance = 400.0f;
    static constexpr long long kTapMaxMs = 100;         // a tap is shorter than 100 ms
    static constexpr float kTapMaxDistance = 50.0f;     // and travels less than 50 units
    static constexpr float kStillTapDistance = 2.0f;    // beyond this a touch stops being a tap

    // A monotonic clock in microseconds.
    using Clock = std::function<int64_t()>;
    // [hook] Replaces the gesture clock (an empty function restores the steady clock).
    static void setClock(Clock clock);
    static int64_t now();

    ~isInteractorBase() override;

    // Releases the window; an interactor holding the capture gives it up.
    void clear() override;
    // Single-touch state, pinch and pan enabled, no capture held by anybody.
    bool init() override;
    // Forgets the state of a tool action in progress; nothing here.
    virtual void reset() {}
    virtual void onMultiTouchBegan(const std::vector<cocos2d::Touch*>& touches);
    virtual void onMultiTouchMoved(const std::vector<cocos2d::Touch*>& touches);
    virtual void onMultiTouchEnded(const std::vector<cocos2d::Touch*>& touches);
    virtual void onMultiTouchCancelled(const std::vector<cocos2d::Touch*>& touches);
    // Releases the old window and retains the new one.
    virtual void setRenderWindow(isRenderWindowBase* window);
    // One-finger touch: began (not a double tap), moved (the drag), ended (tap or swipe), cancelled.
    virtual void onTouchBegan(cocos2d::Touch* touch);
    virtual void onTouchMoved(cocos2d::Touch* touch);
    virtual void onTouchEnded(cocos2d::Touch* touch);
    virtual void onTouchCancelled(cocos2d::Touch* touch);
    virtual void onDoubleTap(const cocos2d::Vec2& nodePoint);
    virtual void onTwoFingerPan(const cocos2d::Vec2& delta);
    // scale: the distance of the two fingers over their distance at the start; factor: the change
    // since the previous pinch step.
    virtual void onPinch(float scale, float factor);
    virtual void onSwipe(const cocos2d::Vec2& nodePoint, const cocos2d::Vec2& delta);
    virtual void onTap(const cocos2d::Vec2& nodePoint);
    // delta: the move since the previous step (screen units); speed: units per millisecond.
    virtual void onDrag(const cocos2d::Vec2& delta, float speed);

    // The touch entries the render window calls.
    void touchesBegan(const std::vector<cocos2d::Touch*>& touches);
    void touchesEnded(const std::vector<cocos2d::Touch*>& touches);
    void touchesCancelled(const std::vector<cocos2d::Touch*>& touches);

    isRenderWindowBase* getRenderWindow() const { return m_renderWindow; }
    bool isCapturing() const { return m_capturing; }
    bool isSingleTouch() const { return m_singleTouch; }
    const std::vector<cocos2d::Touch*>& getTrackedTouches() const { return m_tracked; }
    bool isStillTap() const { return m_stillTap; }
    void setPinchEnabled(bool enabled) { m_pinchEnabled = enabled; }
    void setPanEnabled(bool enabled) { m_panEnabled = enabled; }
    static bool isCaptureActive();
    static isInteractorBase* getCapturingInteractor();

protected:
    isInteractorBase() = default;

    // The window's node point of a screen location.
    cocos2d::Vec2 toNode(const cocos2d::Vec2& screen) const;
    // The context of the window's notifications.
    void* windowContext() const;

    isRenderWindowBase* m_renderWindow = nullptr;
    cocos2d::Vec2 m_beganLocation;
    cocos2d::Vec2 m_dragTotal;
    float m_pinchScale = 1.0f;
    float m_pinchStartDistance = 0.0f;
    bool m_singleTouch = true;
    bool m_capturing = false;
    bool m_pinchEnabled = true;
    bool m_panEnabled = true;
    bool m_stillTap = false;
    std::vector<cocos2d::Touch*> m_tracked;

private:
    void track(const std::vector<cocos2d::Touch*>& touches);
    void releaseTracked();
    void endCapture();
    void singleTouchBegan(cocos2d::Touch* touch);
    void startTwoTouches();
    void touchesFinished(const std::vector<cocos2d::Touch*>& touches, bool cancelled);
    cocos2d::Touch* trackedWithId(int id) const;

    // Microseconds; "none yet" far in the past so that the first touch is never a double tap.
    int64_t m_lastTapTime = INT64_MIN / 2;
    int64_t m_previousTapTime = INT64_MIN / 2;
    int64_t m_lastMoveTime = INT64_MIN / 2;
};

} // namespace isImageSDK
