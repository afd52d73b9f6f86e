// Action: a change applied to a node over time, stepped by the action manager once per frame.
//
// Stepping model: the action manager calls step(dt) with each frame's dt, starting with the
// frame after runAction. An action of duration d finishes at the first step where the elapsed
// time reaches d, and then applies its exact end state (update(1)). Containers (Sequence,
// Repeat, RepeatForever) start their next part without carrying the rest of a frame's dt into it
// (parts without duration take no time: a Sequence steps past them in the same frame).
// update(t) applies the state at progress t in [0, 1]; easing drives its inner action through it.
//
// stop() detaches the action from its node (getTarget() becomes null). Containers check for that
// after every call into their parts, so a part may stop every action of the node (for example
// from a CallFunc) while it is being stepped.
#pragma once

#include "base/CCRef.h"

namespace cocos2d {

class Node;

class Action : public Ref {
public:
    static constexpr int INVALID_TAG = -1;

    virtual bool isDone() const { return true; }
    virtual void startWithTarget(Node* target);
    virtual void stop();
    virtual void step(float dt);
    virtual void update(float time);

    Node* getTarget() const { return _target; }
    // The node the action was run on (kept after stop).
    Node* getOriginalTarget() const { return _originalTarget; }
    int getTag() const { return _tag; }
    void setTag(int tag) { _tag = tag; }

protected:
    Action() = default;

    // For the create() functions: autoreleases a new action (null stays null).
    template <class T>
    static T* autoreleased(T* action)
    {
        if (action) {
            action->autorelease();
        }
        return action;
    }

    Node* _target = nullptr;
    Node* _originalTarget = nullptr;
    int _tag = INVALID_TAG;
};

// An action with a duration in seconds.
class FiniteTimeAction : public Action {
public:
    float getDuration() const { return _duration; }
    void setDuration(float duration) { _duration = duration; }

protected:
    FiniteTimeAction() = default;

    float _duration = 0.0f;
};

} // namespace cocos2d
