#include "actions/CCActionEase.h"

#include <new>

namespace cocos2d {

ActionEase::ActionEase(ActionInterval* action) : ActionInterval(action->getDuration()), _inner(action)
{
    _inner->retain();
}

ActionEase::~ActionEase()
{
    _inner->release();
}

void ActionEase::startWithTarget(Node* target)
{
    ActionInterval::startWithTarget(target);
    _inner->startWithTarget(target);
}

void ActionEase::stop()
{
    _inner->stop();
    ActionInterval::stop();
}

void ActionEase::update(float t)
{
    _inner->update(t >= 1.0f ? 1.0f : ease(t));
}

EaseCubicActionIn* EaseCubicActionIn::create(ActionInterval* action)
{
    return action ? autoreleased(new (std::nothrow) EaseCubicActionIn(action)) : nullptr;
}

EaseCubicActionOut* EaseCubicActionOut::create(ActionInterval* action)
{
    return action ? autoreleased(new (std::nothrow) EaseCubicActionOut(action)) : nullptr;
}

} // namespace cocos2d
