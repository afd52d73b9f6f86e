#include "event/CCEventDispatcher.h"

#include <algorithm>
#include <utility>

#include "base/CCDirector.h"
#include "base/ccMacros.h"
#include "event/CCEventCustom.h"
#include "event/CCEventKeyboard.h"
#include "event/CCEventListenerCustom.h"
#include "event/CCEventListenerKeyboard.h"
#include "event/CCEventListenerMouse.h"
#include "event/CCEventListenerTouch.h"
#include "event/CCEventMouse.h"
#include "event/CCEventTouch.h"
#include "node/CCNode.h"
#include "node/CCScene.h"
#include "renderer/CCCamera.h"

namespace cocos2d {

namespace {

const EventListener::ListenerID& listenerIdFor(const Event* event)
{
    static const EventListener::ListenerID none;
    switch (event->getType()) {
    case Event::Type::KEYBOARD: return EventListenerKeyboard::LISTENER_ID;
    case Event::Type::MOUSE: return EventListenerMouse::LISTENER_ID;
    case Event::Type::CUSTOM: return static_cast<const EventCustom*>(event)->getEventName();
    default: return none;
    }
}

template <class T>
void eraseValue(std::vector<T>& v, const T& value)
{
    auto it = std::find(v.begin(), v.end(), value);
    if (it != v.end()) {
        v.erase(it);
    }
}

} // namespace

// Counts nested dispatches; the outermost one applies the changes made meanwhile.
class EventDispatcher::DispatchGuard {
public:
    explicit DispatchGuard(EventDispatcher& dispatcher) : _dispatcher(dispatcher)
    {
        _dispatcher.retain();
        ++_dispatcher._inDispatch;
    }
    ~DispatchGuard()
    {
        if (--_dispatcher._inDispatch == 0) {
            _dispatcher.updateListeners();
        }
        _dispatcher.release();
    }
    DispatchGuard(const DispatchGuard&) = delete;
    DispatchGuard& operator=(const DispatchGuard&) = delete;

private:
    EventDispatcher& _dispatcher;
};

EventDispatcher::EventDispatcher() = default;

EventDispatcher::~EventDispatcher()
{
    removeAllEventListeners();
    updateListeners();
}

// ---------------------------------------------------------------------------------------------
// registration

bool EventDispatcher::registerListener(EventListener* listener)
{
    if (!listener) {
        return false;
    }
    if (listener->_isRegistered) {
        log("EventDispatcher: the listener is already registered");
        return false;
    }
    if (!listener->checkAvailable()) {
        log("EventDispatcher: the listener lacks a required callback");
        return false;
    }
    listener->retain();
    listener->_isRegistered = true;
    return true;
}

void EventDispatcher::addToVectors(EventListener* listener)
{
    ListenerVector& v = _listenerMap[listener->_listenerID];
    if (listener->_fixedPriority == 0) {
        v.sceneGraph.push_back(listener);
        v.sceneGraphDirty = true;
    } else {
        v.fixed.push_back(listener);
        v.fixedDirty = true;
    }
}

void EventDispatcher::addEventListenerWithSceneGraphPriority(EventListener* listener, Node* node)
{
    if (!node) {
        log("EventDispatcher: a scene-graph listener needs a node");
        return;
    }
    if (!registerListener(listener)) {
        return;
    }
    listener->_node = node;
    listener->_fixedPriority = 0;
    listener->_paused = !node->isRunning();
    _nodeListeners[node].push_back(listener);
    _sceneGraphDirty = true;
    if (_inDispatch > 0) {
        listener->_pendingAdd = true;
        _toAdd.push_back(listener);
    } else {
        addToVectors(listener);
    }
}

void EventDispatcher::addEventListenerWithFixedPriority(EventListener* listener, int fixedPriority)
{
    if (fixedPriority == 0) {
        log("EventDispatcher: fixed priority 0 is reserved for the scene graph");
        return;
    }
    if (!registerListener(listener)) {
        return;
    }
    listener->_node = nullptr;
    listener->_fixedPriority = fixedPriority;
    listener->_paused = false;
    if (_inDispatch > 0) {
        listener->_pendingAdd = true;
        _toAdd.push_back(listener);
    } else {
        addToVectors(listener);
    }
}

EventListenerCustom* EventDispatcher::addCustomEventListener(const std::string& eventName,
                                                             const std::function<void(EventCustom*)>& callback)
{
    EventListenerCustom* listener = EventListenerCustom::create(eventName, callback);
    addEventListenerWithFixedPriority(listener, 1);
    return listener;
}

void EventDispatcher::dissociate(EventListener* listener)
{
    Node* node = listener->_node;
    if (!node) {
        return;
    }
    auto it = _nodeListeners.find(node);
    if (it != _nodeListeners.end()) {
        eraseValue(it->second, listener);
        if (it->second.empty()) {
            _nodeListeners.erase(it);
        }
    }
    listener->_node = nullptr;
}

void EventDispatcher::removeEventListener(EventListener* listener)
{
    if (!listener || !listener->_isRegistered) {
        return;
    }
    listener->_isRegistered = false;
    dissociate(listener);
    if (listener->_pendingAdd) {
        listener->_pendingAdd = false;
        eraseValue(_toAdd, listener);
        listener->release();
        return;
    }
    if (ListenerVector* v = findListeners(listener->_listenerID)) {
        eraseValue(v->fixed, listener);
        eraseValue(v->sceneGraph, listener);
    }
    // A dispatch in progress may still hold it in its snapshot: keep it alive until the end.
    if (_inDispatch > 0) {
        _removedInDispatch.push_back(listener);
    } else {
        listener->release();
    }
}

void EventDispatcher::removeEventListenersForType(EventListener::Type type)
{
    std::vector<EventListener*> doomed;
    for (auto& entry : _listenerMap) {
        for (auto* list : {&entry.second.fixed, &entry.second.sceneGraph}) {
            for (EventListener* l : *list) {
                if (l->_type == type) {
                    doomed.push_back(l);
                }
            }
        }
    }
    for (EventListener* l : _toAdd) {
        if (l->_type == type) {
            doomed.push_back(l);
        }
    }
    for (EventListener* l : doomed) {
        removeEventListener(l);
    }
}

void EventDispatcher::removeEventListenersForTarget(Node* target, bool recursive)
{
    if (!target) {
        return;
    }
    auto it = _nodeListeners.find(target);
    if (it != _nodeListeners.end()) {
        const std::vector<EventListener*> doomed = it->second;
        for (EventListener* l : doomed) {
            removeEventListener(l);
        }
    }
    if (recursive) {
        std::vector<Node*> children;
        target->getVisitChildren(children);
        for (Node* child : children) {
            removeEventListenersForTarget(child, true);
        }
    }
}

void EventDispatcher::removeCustomEventListeners(const std::string& customEventName)
{
    std::vector<EventListener*> doomed;
    if (ListenerVector* v = findListeners(customEventName)) {
        doomed = v->fixed;
        doomed.insert(doomed.end(), v->sceneGraph.begin(), v->sceneGraph.end());
    }
    for (EventListener* l : _toAdd) {
        if (l->_type == EventListener::Type::CUSTOM && l->_listenerID == customEventName) {
            doomed.push_back(l);
        }
    }
    for (EventListener* l : doomed) {
        removeEventListener(l);
    }
}

void EventDispatcher::removeAllEventListeners()
{
    std::vector<EventListener*> doomed = _toAdd;
    for (auto& entry : _listenerMap) {
        doomed.insert(doomed.end(), entry.second.fixed.begin(), entry.second.fixed.end());
        doomed.insert(doomed.end(), entry.second.sceneGraph.begin(), entry.second.sceneGraph.end());
    }
    for (EventListener* l : doomed) {
        removeEventListener(l);
    }
}

void EventDispatcher::setPausedForTarget(Node* target, bool recursive, bool paused)
{
    if (!target) {
        return;
    }
    auto it = _nodeListeners.find(target);
    if (it != _nodeListeners.end()) {
        for (EventListener* l : it->second) {
            l->_paused = paused;
        }
    }
    if (recursive) {
        std::vector<Node*> children;
        target->getVisitChildren(children);
        for (Node* child : children) {
            setPausedForTarget(child, true, paused);
        }
    }
}

void EventDispatcher::pauseEventListenersForTarget(Node* target, bool recursive)
{
    setPausedForTarget(target, recursive, true);
}

void EventDispatcher::resumeEventListenersForTarget(Node* target, bool recursive)
{
    setPausedForTarget(target, recursive, false);
    _sceneGraphDirty = true;
}

void EventDispatcher::setPriority(EventListener* listener, int fixedPriority)
{
    if (!listener || !listener->_isRegistered || listener->_fixedPriority == 0 || fixedPriority == 0) {
        return;
    }
    if (listener->_fixedPriority != fixedPriority) {
        listener->_fixedPriority = fixedPriority;
        if (ListenerVector* v = findListeners(listener->_listenerID)) {
            v->fixedDirty = true;
        }
    }
}

bool EventDispatcher::hasEventListener(const EventListener::ListenerID& listenerID) const
{
    auto it = _listenerMap.find(listenerID);
    return it != _listenerMap.end() && (!it->second.fixed.empty() || !it->second.sceneGraph.empty());
}

std::vector<EventListener*> EventDispatcher::getListenersForTarget(Node* target) const
{
    auto it = _nodeListeners.find(target);
    return it == _nodeListeners.end() ? std::vector<EventListener*>() : it->second;
}

EventDispatcher::ListenerVector* EventDispatcher::findListeners(const EventListener::ListenerID& id)
{
    auto it = _listenerMap.find(id);
    return it == _listenerMap.end() ? nullptr : &it->second;
}

void EventDispatcher::updateListeners()
{
    std::vector<EventListener*> removed;
    removed.swap(_removedInDispatch);
    std::vector<EventListener*> added;
    added.swap(_toAdd);
    for (EventListener* l : added) {
        l->_pendingAdd = false;
        addToVectors(l);
    }
    // Last: releasing may free nodes, whose destructors remove listeners again.
    for (EventListener* l : removed) {
        l->release();
    }
}

// ---------------------------------------------------------------------------------------------
// scene-graph order

void EventDispatcher::visitForPriority(Node* node, std::map<float, std::vector<Node*>>& byGlobalZ)
{
    std::vector<Node*> children;
    node->getVisitChildren(children);
    size_t i = 0;
    for (; i < children.size() && children[i]->getLocalZOrder() < 0; ++i) {
        visitForPriority(children[i], byGlobalZ);
    }
    if (_nodeListeners.count(node)) {
        byGlobalZ[node->getGlobalZOrder()].push_back(node);
    }
    for (; i < children.size(); ++i) {
        visitForPriority(children[i], byGlobalZ);
    }
}

void EventDispatcher::rebuildNodePriorities()
{
    _nodePriority.clear();
    if (Scene* scene = Director::getInstance()->getRunningScene()) {
        // Drawing order: global z ascending, then visit order. The later, the higher.
        std::map<float, std::vector<Node*>> byGlobalZ;
        visitForPriority(scene, byGlobalZ);
        uint32_t index = 0;
        for (const auto& group : byGlobalZ) {
            for (Node* n : group.second) {
                _nodePriority[n] = ++index;
            }
        }
    }
    _sceneGraphDirty = false;
    ++_sceneGraphVersion;
}

void EventDispatcher::sortListeners(const EventListener::ListenerID& id)
{
    ListenerVector* v = findListeners(id);
    if (!v) {
        return;
    }
    if (v->fixedDirty) {
        std::stable_sort(v->fixed.begin(), v->fixed.end(), [](const EventListener* a, const EventListener* b) {
            return a->_fixedPriority < b->_fixedPriority;
        });
        v->fixedDirty = false;
    }
    if (v->sceneGraph.empty()) {
        return;
    }
    if (_sceneGraphDirty) {
        rebuildNodePriorities();
    }
    if (v->sceneGraphDirty || v->sortedVersion != _sceneGraphVersion) {
        auto priority = [this](const EventListener* l) -> uint32_t {
            auto it = _nodePriority.find(l->_node);
            return it == _nodePriority.end() ? 0 : it->second;
        };
        std::stable_sort(v->sceneGraph.begin(), v->sceneGraph.end(),
                         [&priority](const EventListener* a, const EventListener* b) {
                             return priority(a) > priority(b);
                         });
        v->sceneGraphDirty = false;
        v->sortedVersion = _sceneGraphVersion;
    }
}

// ---------------------------------------------------------------------------------------------
// dispatch

bool EventDispatcher::isEligible(const EventListener* listener)
{
    return listener->_isRegistered && !listener->_pendingAdd && listener->_isEnabled && !listener->_paused;
}

bool EventDispatcher::callListener(EventListener* listener, Event* event, const Call& call)
{
    listener->retain();
    Node* node = listener->_node;
    if (node) {
        node->retain();
    }
    event->setCurrentTarget(node);
    const bool stop = call(listener);
    if (node) {
        node->release();
    }
    listener->release();
    return stop;
}

bool EventDispatcher::dispatchInOrder(const std::vector<EventListener*>& listeners, Event* event, const Call& call)
{
    for (EventListener* l : listeners) {
        if (isEligible(l) && callListener(l, event, call)) {
            return true;
        }
    }
    return false;
}

bool EventDispatcher::dispatchByCamera(const std::vector<EventListener*>& listeners, Event* event, const Call& call)
{
    Scene* scene = Director::getInstance()->getRunningScene();
    if (listeners.empty() || !scene) {
        return false;
    }
    // From the camera drawn last (the default camera, with the user interface) to the first.
    std::vector<Camera*> cameras = scene->getCamerasInPassOrder();
    for (Camera* c : cameras) {
        c->retain(); // a callback may take a camera out of the scene
    }
    std::vector<char> called(listeners.size(), 0);
    bool stopped = false;
    for (auto it = cameras.rbegin(); it != cameras.rend() && !stopped; ++it) {
        Camera* camera = *it;
        if (!camera->isVisible()) {
            continue; // an invisible camera makes no pass
        }
        const unsigned short flag = camera->getCameraFlag();
        Camera::setVisitingCamera(camera);
        for (size_t i = 0; i < listeners.size() && !stopped; ++i) {
            EventListener* l = listeners[i];
            if (called[i] || !isEligible(l) || !l->_node->hasCameraFlag(flag)) {
                continue;
            }
            called[i] = 1;
            stopped = callListener(l, event, call);
        }
        Camera::setVisitingCamera(nullptr);
    }
    for (Camera* c : cameras) {
        c->release();
    }
    return stopped;
}

void EventDispatcher::dispatchToListeners(ListenerVector& listeners, Event* event, const Call& call, bool byCamera)
{
    // Touch and mouse listeners see a visiting camera only in their scene-graph pass.
    struct VisitingCameraScope {
        Camera* saved = Camera::getVisitingCamera();
        explicit VisitingCameraScope(bool clear)
        {
            if (clear) {
                Camera::setVisitingCamera(nullptr);
            }
        }
        ~VisitingCameraScope() { Camera::setVisitingCamera(saved); }
    } cameraScope(byCamera);

    // Snapshots: callbacks may add and remove listeners; removed ones stay alive (deferred
    // release) and fail isEligible.
    const std::vector<EventListener*> fixed = listeners.fixed;
    const std::vector<EventListener*> sceneGraph = listeners.sceneGraph;

    size_t i = 0;
    for (; i < fixed.size() && fixed[i]->_fixedPriority < 0; ++i) {
        if (isEligible(fixed[i]) && callListener(fixed[i], event, call)) {
            return;
        }
    }
    if (byCamera ? dispatchByCamera(sceneGraph, event, call) : dispatchInOrder(sceneGraph, event, call)) {
        return;
    }
    for (; i < fixed.size(); ++i) {
        if (isEligible(fixed[i]) && callListener(fixed[i], event, call)) {
            return;
        }
    }
}

void EventDispatcher::dispatchEvent(Event* event)
{
    if (!_isEnabled || !event) {
        return;
    }
    DispatchGuard guard(*this);
    if (event->getType() == Event::Type::TOUCH) {
        dispatchTouchEvent(static_cast<EventTouch*>(event));
        return;
    }
    const EventListener::ListenerID& id = listenerIdFor(event);
    sortListeners(id);
    ListenerVector* listeners = findListeners(id);
    if (!listeners) {
        return;
    }
    dispatchToListeners(
        *listeners, event,
        [event](EventListener* l) {
            l->invoke(event);
            return event->isStopped();
        },
        event->getType() == Event::Type::MOUSE);
}

void EventDispatcher::dispatchCustomEvent(const std::string& eventName, void* optionalUserData)
{
    EventCustom event(eventName);
    event.setUserData(optionalUserData);
    dispatchEvent(&event);
}

void EventDispatcher::dispatchTouchEvent(EventTouch* event)
{
    sortListeners(EventListenerTouchOneByOne::LISTENER_ID);
    sortListeners(EventListenerTouchAllAtOnce::LISTENER_ID);
    ListenerVector* oneByOne = findListeners(EventListenerTouchOneByOne::LISTENER_ID);
    ListenerVector* allAtOnce = findListeners(EventListenerTouchAllAtOnce::LISTENER_ID);

    const EventTouch::EventCode code = event->getEventCode();
    const std::vector<Touch*> original = event->getTouches();
    std::vector<Touch*> remaining = original;

    // An ended or cancelled touch is forgotten by every claimer, also by those that were not
    // called (paused, disabled): a later touch object at the same address is a new touch.
    struct ForgetEnded {
        EventDispatcher& d;
        EventTouch::EventCode code;
        const std::vector<Touch*>& touches;
        ~ForgetEnded()
        {
            if (code != EventTouch::EventCode::ENDED && code != EventTouch::EventCode::CANCELLED) {
                return;
            }
            auto forget = [this](EventListener* base) {
                auto* l = static_cast<EventListenerTouchOneByOne*>(base);
                for (Touch* t : touches) {
                    eraseValue(l->_claimedTouches, t);
                }
            };
            if (ListenerVector* v = d.findListeners(EventListenerTouchOneByOne::LISTENER_ID)) {
                std::for_each(v->fixed.begin(), v->fixed.end(), forget);
                std::for_each(v->sceneGraph.begin(), v->sceneGraph.end(), forget);
            }
            for (EventListener* l : d._toAdd) {
                if (l->_type == EventListener::Type::TOUCH_ONE_BY_ONE) {
                    forget(l);
                }
            }
        }
    } forgetEnded{*this, code, original};

    if (oneByOne) {
        for (Touch* touch : original) {
            auto onTouch = [&](EventListener* base) -> bool {
                auto* l = static_cast<EventListenerTouchOneByOne*>(base);
                bool claimed = false;
                if (code == EventTouch::EventCode::BEGAN) {
                    if (l->onTouchBegan) {
                        claimed = l->onTouchBegan(touch, event);
                        if (claimed && l->_isRegistered) {
                            l->_claimedTouches.push_back(touch);
                        }
                    }
                } else {
                    auto it = std::find(l->_claimedTouches.begin(), l->_claimedTouches.end(), touch);
                    if (it != l->_claimedTouches.end()) {
                        claimed = true;
                        if (code != EventTouch::EventCode::MOVED) {
                            l->_claimedTouches.erase(it); // ended or cancelled
                        }
                        using Handler = std::function<void(Touch*, Event*)> EventListenerTouchOneByOne::*;
                        static const Handler handlers[] = {nullptr, &EventListenerTouchOneByOne::onTouchMoved,
                                                           &EventListenerTouchOneByOne::onTouchEnded,
                                                           &EventListenerTouchOneByOne::onTouchCancelled};
                        const auto& handler = l->*handlers[static_cast<int>(code)];
                        if (handler) {
                            handler(touch, event);
                        }
                    }
                }
                if (event->isStopped()) {
                    return true;
                }
                // A swallowing claimer keeps the touch, even when it removed itself meanwhile.
                if (claimed && l->_needSwallow) {
                    eraseValue(remaining, touch);
                    return true;
                }
                return false;
            };
            dispatchToListeners(*oneByOne, event, onTouch, true);
            if (event->isStopped()) {
                return;
            }
        }
    }

    if (allAtOnce && !remaining.empty()) {
        auto onTouches = [&](EventListener* base) -> bool {
            using Handler = std::function<void(const std::vector<Touch*>&, Event*)> EventListenerTouchAllAtOnce::*;
            static const Handler handlers[] = {
                &EventListenerTouchAllAtOnce::onTouchesBegan, &EventListenerTouchAllAtOnce::onTouchesMoved,
                &EventListenerTouchAllAtOnce::onTouchesEnded, &EventListenerTouchAllAtOnce::onTouchesCancelled};
            const auto& handler = static_cast<EventListenerTouchAllAtOnce*>(base)->*handlers[static_cast<int>(code)];
            if (handler) {
                handler(remaining, event);
            }
            return event->isStopped();
        };
        dispatchToListeners(*allAtOnce, event, onTouches, true);
    }
}

} // namespace cocos2d
