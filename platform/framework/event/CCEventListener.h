// EventListener: the base of the callbacks registered with the event dispatcher.
//
// A listener is registered once, either with scene-graph priority for a node (called while the
// node is running, top-most node first) or with a fixed priority (negative before the scene
// graph, positive after it). The dispatcher holds a reference while it is registered.
#pragma once

#include <string>

#include <new>

#include "base/CCRef.h"
#include "platform/CCPlatformMacros.h"

namespace cocos2d {

class Event;
class EventDispatcher;
class Node;

class EventListener : public Ref {
public:
    enum class Type {
        UNKNOWN,
        TOUCH_ONE_BY_ONE,
        TOUCH_ALL_AT_ONCE,
        KEYBOARD,
        MOUSE,
        ACCELERATION,
        FOCUS,
        GAME_CONTROLLER,
        CUSTOM,
    };
    // Listeners with one id receive the same events (a custom listener's id is its event name).
    typedef std::string ListenerID;

    // False while a callback the listener cannot work without is missing.
    virtual bool checkAvailable() = 0;

    // A disabled listener stays registered but is skipped.
    void setEnabled(bool enabled) { _isEnabled = enabled; }
    bool isEnabled() const { return _isEnabled; }
    Type getType() const { return _type; }
    const ListenerID& getListenerID() const { return _listenerID; }
    bool isRegistered() const { return _isRegistered; }
    // Paused while the node of a scene-graph listener is not running (or is paused).
    bool isPaused() const { return _paused; }
    // The node of a scene-graph listener; null for fixed-priority listeners.
    Node* getAssociatedNode() const { return _node; }
    // 0 for scene-graph listeners.
    int getFixedPriority() const { return _fixedPriority; }

protected:
    EventListener(Type type, const ListenerID& listenerID) : _type(type), _listenerID(listenerID) {}
    // For CREATE_FUNC.
    virtual bool init() { return true; }

    // Delivers a non-touch event (touches are delivered by the dispatcher itself).
    virtual void invoke(Event* event) = 0;

    friend class EventDispatcher;

    Type _type;
    ListenerID _listenerID;
    bool _isEnabled = true;
    bool _isRegistered = false;
    // Registered during a dispatch: takes part from the next event.
    bool _pendingAdd = false;
    bool _paused = false;
    Node* _node = nullptr;
    int _fixedPriority = 0;
};

} // namespace cocos2d
