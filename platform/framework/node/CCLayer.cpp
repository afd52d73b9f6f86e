#include "node/CCLayer.h"

#include <new>

#include "base/CCDirector.h"
#include "event/CCEventDispatcher.h"
#include "event/CCEventListenerKeyboard.h"
#include "event/CCEventListenerTouch.h"

namespace cocos2d {

Layer::~Layer()
{
    // Before the layer's part is gone: the listeners call its virtuals.
    if (_touchListener) {
        _eventDispatcher->removeEventListener(_touchListener);
        _touchListener->release();
    }
    if (_keyboardListener) {
        _eventDispatcher->removeEventListener(_keyboardListener);
        _keyboardListener->release();
    }
}

bool Layer::init()
{
    if (!Node::init()) {
        return false;
    }
    coverWindow();
    return true;
}

void Layer::rebuildTouchListener()
{
    if (_touchListener) {
        _eventDispatcher->removeEventListener(_touchListener);
        CC_SAFE_RELEASE_NULL(_touchListener);
    }
    if (!_touchEnabled) {
        return;
    }
    if (_touchMode == Touch::DispatchMode::ONE_BY_ONE) {
        auto* l = EventListenerTouchOneByOne::create();
        l->setSwallowTouches(_swallowsTouches);
        l->onTouchBegan = [this](Touch* t, Event* e) { return onTouchBegan(t, e); };
        l->onTouchMoved = [this](Touch* t, Event* e) { onTouchMoved(t, e); };
        l->onTouchEnded = [this](Touch* t, Event* e) { onTouchEnded(t, e); };
        l->onTouchCancelled = [this](Touch* t, Event* e) { onTouchCancelled(t, e); };
        _touchListener = l;
    } else {
        auto* l = EventListenerTouchAllAtOnce::create();
        l->onTouchesBegan = [this](const std::vector<Touch*>& t, Event* e) { onTouchesBegan(t, e); };
        l->onTouchesMoved = [this](const std::vector<Touch*>& t, Event* e) { onTouchesMoved(t, e); };
        l->onTouchesEnded = [this](const std::vector<Touch*>& t, Event* e) { onTouchesEnded(t, e); };
        l->onTouchesCancelled = [this](const std::vector<Touch*>& t, Event* e) { onTouchesCancelled(t, e); };
        _touchListener = l;
    }
    _touchListener->retain();
    _eventDispatcher->addEventListenerWithSceneGraphPriority(_touchListener, this);
}

void Layer::setTouchEnabled(bool enabled)
{
    if (_touchEnabled != enabled) {
        _touchEnabled = enabled;
        rebuildTouchListener();
    }
}

void Layer::setTouchMode(Touch::DispatchMode mode)
{
    if (_touchMode != mode) {
        _touchMode = mode;
        rebuildTouchListener();
    }
}

void Layer::setSwallowsTouches(bool swallowsTouches)
{
    if (_swallowsTouches != swallowsTouches) {
        _swallowsTouches = swallowsTouches;
        if (_touchListener && _touchMode == Touch::DispatchMode::ONE_BY_ONE) {
            static_cast<EventListenerTouchOneByOne*>(_touchListener)->setSwallowTouches(swallowsTouches);
        }
    }
}

bool Layer::onTouchBegan(Touch*, Event*)
{
    return false;
}

void Layer::onTouchMoved(Touch*, Event*) {}
void Layer::onTouchEnded(Touch*, Event*) {}
void Layer::onTouchCancelled(Touch*, Event*) {}
void Layer::onTouchesBegan(const std::vector<Touch*>&, Event*) {}
void Layer::onTouchesMoved(const std::vector<Touch*>&, Event*) {}
void Layer::onTouchesEnded(const std::vector<Touch*>&, Event*) {}
void Layer::onTouchesCancelled(const std::vector<Touch*>&, Event*) {}

void Layer::setKeyboardEnabled(bool enabled)
{
    if (_keyboardEnabled == enabled) {
        return;
    }
    _keyboardEnabled = enabled;
    if (_keyboardListener) {
        _eventDispatcher->removeEventListener(_keyboardListener);
        CC_SAFE_RELEASE_NULL(_keyboardListener);
    }
    if (enabled) {
        auto* l = EventListenerKeyboard::create();
        l->onKeyPressed = [this](EventKeyboard::KeyCode k, Event* e) { onKeyPressed(k, e); };
        l->onKeyReleased = [this](EventKeyboard::KeyCode k, Event* e) { onKeyReleased(k, e); };
        l->retain();
        _keyboardListener = l;
        _eventDispatcher->addEventListenerWithSceneGraphPriority(l, this);
    }
}

void Layer::onKeyPressed(EventKeyboard::KeyCode, Event*) {}
void Layer::onKeyReleased(EventKeyboard::KeyCode, Event*) {}

} // namespace cocos2d
