// NSInteractorImage: the touch gestures of a picture view: one-finger drag (pan, or zoom in drag
// mode 1), two-finger pinch and pan, and tap, double-tap and swipe recognition. Only one
// interactor in the process handles a gesture at a time (the process-wide capture), so two picture
// views never act on one gesture together.
//
// Main thread only.
#pragma once

#include "cocos2d.h"

#include <sys/time.h>
#include <vector>

namespace NSUI
{

class NSSpriteView;

class NSInteractorBase : public cocos2d::Ref
{
};

class NSInteractorImage : public NSInteractorBase
{
public:
    static NSInteractorImage* create();
    ~NSInteractorImage() override;

    virtual void onTouchesBegan(const std::vector<cocos2d::Touch*>& touches);
    virtual void onTouchesMoved(const std::vector<cocos2d::Touch*>& touches);
    virtual void onTouchesEnded(const std::vector<cocos2d::Touch*>& touches);
    virtual void setTarget(NSSpriteView* view);
    virtual void releaseTarget();
    virtual bool reset();
    virtual void onSingleTouchBegan(cocos2d::Touch* touch);
    virtual void onSingleTouchMoved(cocos2d::Touch* touch);
    virtual void onGestureEnded(cocos2d::Touch* touch);
    virtual void onDoubleTap(const cocos2d::Vec2& /*location*/) {}
    virtual void panBy(const cocos2d::Vec2& delta);
    virtual void pinchBy(float factor);
    virtual void onSwipe(const cocos2d::Vec2& /*location*/, const cocos2d::Vec2& /*delta*/) {}
    virtual void onTap(const cocos2d::Vec2& /*location*/) {}
    virtual void onDrag(const cocos2d::Vec2& step, float speed);

    // The touch handling of the view, in the order the view calls them.
    void touchesBegan(const std::vector<cocos2d::Touch*>& touches);
    void touchesMoved(const std::vector<cocos2d::Touch*>& touches);
    void touchesEnded(const std::vector<cocos2d::Touch*>& touches);

    bool isActive() const { return active; }
    bool isSingleMode() const { return singleMode; }
    // Releases the process-wide capture when this interactor holds it.
    void releaseCapture();
    static bool isGestureCaptured();

    bool pinchEnabled = true;
    bool panEnabled = true;
    int dragMode = 0; // 0 pan, 1 zoom

protected:
    void track(const std::vector<cocos2d::Touch*>& touches);
    void clearTracked();
    cocos2d::Touch* eventTouchWithId(const std::vector<cocos2d::Touch*>& touches, int id) const;
    void startTwoFingerGesture();

    NSSpriteView* target = nullptr; // the view that owns this interactor; not retained, so no cycle
    timeval gestureStart{};
    timeval previousTime{};
    cocos2d::Vec2 startLocation;
    bool singleMode = true;
    std::vector<cocos2d::Touch*> tracked; // own copies, retained
    bool active = false;
    float pinchScale = 1.0f;
    float pinchStartDistance = 0.0f;
    cocos2d::Vec2 accumulatedPan;
    bool tapCandidate = false;
};

} // namespace NSUI
