// Easing: runs an inner action with its progress bent by a curve.
#pragma once

#include "actions/CCActionInterval.h"

namespace cocos2d {

class ActionEase : public ActionInterval {
public:
    void startWithTarget(Node* target) override;
    void stop() override;
    void update(float t) override;
    ActionInterval* getInnerAction() const { return _inner; }

protected:
    explicit ActionEase(ActionInterval* action);
    ~ActionEase() override;
    // The curve: progress 0..1 to inner progress, with ease(0) = 0 and ease(1) = 1.
    virtual float ease(float t) const = 0;

    ActionInterval* _inner;
};

// t^3: starts slowly.
class EaseCubicActionIn : public ActionEase {
public:
    static EaseCubicActionIn* create(ActionInterval* action);

protected:
    using ActionEase::ActionEase;
    float ease(float t) const override { return t * t * t; }
};

// 1 - (1 - t)^3: ends slowly.
class EaseCubicActionOut : public ActionEase {
public:
    static EaseCubicActionOut* create(ActionInterval* action);

protected:
    using ActionEase::ActionEase;
    float ease(float t) const override
    {
        const float u = t - 1.0f;
        return u * u * u + 1.0f;
    }
};

} // namespace cocos2d
