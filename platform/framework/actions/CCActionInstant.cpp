#include "actions/CCActionInstant.h"

#include <new>

#include "node/CCNode.h"

namespace cocos2d {

void ActionInstant::startWithTarget(Node* target)
{
    FiniteTimeAction::startWithTarget(target);
    _done = false;
}

void ActionInstant::step(float)
{
    if (_done) {
        return;
    }
    _done = true;
    update(1.0f);
}

CallFunc* CallFunc::create(const std::function<void()>& function)
{
    return autoreleased(new (std::nothrow) CallFunc(function));
}

void CallFunc::update(float)
{
    if (_function) {
        // A copy: the function may stop (and so release) the action that holds it.
        const std::function<void()> function = _function;
        function();
    }
}

Show* Show::create()
{
    return autoreleased(new (std::nothrow) Show());
}

void Show::update(float)
{
    if (_target) {
        _target->setVisible(true);
    }
}

Hide* Hide::create()
{
    return autoreleased(new (std::nothrow) Hide());
}

void Hide::update(float)
{
    if (_target) {
        _target->setVisible(false);
    }
}

RemoveSelf* RemoveSelf::create(bool isNeedCleanUp)
{
    return autoreleased(new (std::nothrow) RemoveSelf(isNeedCleanUp));
}

void RemoveSelf::update(float)
{
    if (_target) {
        _target->removeFromParentAndCleanup(_isNeedCleanUp);
    }
}

} // namespace cocos2d
