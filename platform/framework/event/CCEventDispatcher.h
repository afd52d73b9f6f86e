// EventDispatcher: delivers touch, mouse, keyboard and custom events to registered listeners.
//
// Order of the listeners for one event:
//   1. fixed priority < 0, ascending;
//   2. scene-graph listeners, top-most node first: higher global z-order first, then the node
//      drawn later first. Touch and mouse events try them camera by camera, from the camera
//      drawn last to the one drawn first, each listener at most once per event, only where the
//      node holds the camera's flag; Camera::getVisitingCamera() is that camera meanwhile;
//   3. fixed priority > 0, ascending (equal priorities in registration order).
// A listener is eligible when enabled, registered and not paused; a scene-graph listener is
// paused while its node is not running. Visibility is not checked.
//
// Touches: one-by-one listeners first, then all-at-once listeners (see EventListenerTouch.h).
//
// Changes during a dispatch: a listener added takes part from the next event; a listener removed
// is not called again and is released after the dispatch. The node of a listener being called
// and the listener itself stay alive until the callback returns, so a node may remove (and free)
// itself from inside its own callback.
//
// Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/CCRef.h"
#include "event/CCEventListener.h"

namespace cocos2d {

class Event;
class EventCustom;
class EventListenerCustom;
class EventTouch;
class Node;

class EventDispatcher : public Ref {
public:
    EventDispatcher();
    ~EventDispatcher() override;

    // The listener must not be registered yet (a second registration is refused and logged).
    void addEventListenerWithSceneGraphPriority(EventListener* listener, Node* node);
    // fixedPriority must not be 0 (0 is the scene graph's place).
    void addEventListenerWithFixedPriority(EventListener* listener, int fixedPriority);
    // A custom listener at fixed priority 1; returned (not retained for the caller) so that it can
    // be removed.
    EventListenerCustom* addCustomEventListener(const std::string& eventName,
                                                const std::function<void(EventCustom*)>& callback);

    void removeEventListener(EventListener* listener);
    void removeEventListenersForType(EventListener::Type type);
    // The listeners of the node and, when asked, of every descendant.
    void removeEventListenersForTarget(Node* target, bool recursive = false);
    void removeCustomEventListeners(const std::string& customEventName);
    void removeAllEventListeners();

    void pauseEventListenersForTarget(Node* target, bool recursive = false);
    void resumeEventListenersForTarget(Node* target, bool recursive = false);

    // Changes the priority of a fixed-priority listener.
    void setPriority(EventListener* listener, int fixedPriority);

    // A disabled dispatcher drops every event.
    void setEnabled(bool enabled) { _isEnabled = enabled; }
    bool isEnabled() const { return _isEnabled; }

    void dispatchEvent(Event* event);
    void dispatchCustomEvent(const std::string& eventName, void* optionalUserData = nullptr);
    bool hasEventListener(const EventListener::ListenerID& listenerID) const;

    // [hook] The drawing order of running nodes changed (tree, local or global z-order, a scene
    // entered or left); the scene-graph order is rebuilt before the next dispatch that needs it.
    void markSceneGraphDirty() { _sceneGraphDirty = true; }
    // [hook] Listeners registered for the node (scene-graph priority), in registration order.
    std::vector<EventListener*> getListenersForTarget(Node* target) const;

private:
    struct ListenerVector {
        std::vector<EventListener*> fixed;      // sorted by priority when !fixedDirty
        std::vector<EventListener*> sceneGraph; // top-most first when sorted for sortedVersion
        bool fixedDirty = false;
        bool sceneGraphDirty = false;
        uint64_t sortedVersion = 0;
    };
    using Call = std::function<bool(EventListener*)>; // returns true to stop the dispatch

    class DispatchGuard;

    bool registerListener(EventListener* listener);
    void addToVectors(EventListener* listener);
    void dissociate(EventListener* listener);
    void setPausedForTarget(Node* target, bool recursive, bool paused);
    ListenerVector* findListeners(const EventListener::ListenerID& id);
    void sortListeners(const EventListener::ListenerID& id);
    void rebuildNodePriorities();
    void visitForPriority(Node* node, std::map<float, std::vector<Node*>>& byGlobalZ);
    // After the outermost dispatch: drops removed listeners and adds those registered meanwhile.
    void updateListeners();

    static bool isEligible(const EventListener* listener);
    // Calls one listener with it and its node kept alive.
    static bool callListener(EventListener* listener, Event* event, const Call& call);
    // The scene-graph part: in order, or camera by camera (see the top of this file). True when
    // the dispatch was stopped.
    bool dispatchInOrder(const std::vector<EventListener*>& listeners, Event* event, const Call& call);
    bool dispatchByCamera(const std::vector<EventListener*>& listeners, Event* event, const Call& call);
    // Walks the listeners in dispatch order; cameras apply to the scene-graph part when asked.
    void dispatchToListeners(ListenerVector& listeners, Event* event, const Call& call, bool byCamera);
    void dispatchTouchEvent(EventTouch* event);

    std::unordered_map<EventListener::ListenerID, ListenerVector> _listenerMap;
    // Scene-graph listeners by node, in registration order (also those waiting to be added).
    std::unordered_map<Node*, std::vector<EventListener*>> _nodeListeners;
    std::vector<EventListener*> _toAdd;           // registered during a dispatch (retained)
    std::vector<EventListener*> _removedInDispatch; // unregistered during a dispatch (retained)
    std::unordered_map<const Node*, uint32_t> _nodePriority;
    uint64_t _sceneGraphVersion = 1;
    bool _sceneGraphDirty = true;
    int _inDispatch = 0;
    bool _isEnabled = true;
};

} // namespace cocos2d
