// Actions without duration: they act once, at the first step after they start.
#pragma once

#include <functional>

#include "actions/CCAction.h"

namespace cocos2d {

class ActionInstant : public FiniteTimeAction {
public:
    bool isDone() const override { return _done; }
    void startWithTarget(Node* target) override;
    // Applies update(1) once.
    void step(float dt) override;

protected:
    ActionInstant() = default;

    bool _done = false;
};

// Calls a function. The function may run or stop actions of any node, including its own.
class CallFunc : public ActionInstant {
public:
    static CallFunc* create(const std::function<void()>& function);
    void update(float t) override;

protected:
    explicit CallFunc(const std::function<void()>& function) : _function(function) {}

    std::function<void()> _function;
};

class Show : public ActionInstant {
public:
    static Show* create();
    void update(float t) override;
};

class Hide : public ActionInstant {
public:
    static Hide* create();
    void update(float t) override;
};

// Removes the node from its parent (with cleanup unless asked otherwise).
class RemoveSelf : public ActionInstant {
public:
    static RemoveSelf* create(bool isNeedCleanUp = true);
    void update(float t) override;

protected:
    explicit RemoveSelf(bool isNeedCleanUp) : _isNeedCleanUp(isNeedCleanUp) {}

    bool _isNeedCleanUp;
};

} // namespace cocos2d
