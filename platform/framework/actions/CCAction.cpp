#include "actions/CCAction.h"

namespace cocos2d {

void Action::startWithTarget(Node* target)
{
    _target = target;
    _originalTarget = target;
}

void Action::stop()
{
    _target = nullptr;
}

void Action::step(float) {}

void Action::update(float) {}

} // namespace cocos2d
