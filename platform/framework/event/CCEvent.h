// Event: the base of everything the event dispatcher delivers.
//
// Events are plain values made by whoever dispatches them (usually on the stack); listeners read
// them during the call and must not keep them.
#pragma once

#include "base/CCRef.h"

namespace cocos2d {

class Node;

class Event : public Ref {
public:
    enum class Type {
        TOUCH,
        KEYBOARD,
        ACCELERATION,
        MOUSE,
        FOCUS,
        GAME_CONTROLLER,
        CUSTOM,
    };

    explicit Event(Type type) : _type(type) {}

    Type getType() const { return _type; }
    // Ends dispatch of this event: no later listener sees it.
    void stopPropagation() { _isStopped = true; }
    bool isStopped() const { return _isStopped; }
    // The node of the scene-graph listener being called; null for fixed-priority listeners.
    Node* getCurrentTarget() const { return _currentTarget; }
    void setCurrentTarget(Node* target) { _currentTarget = target; }

protected:
    Type _type;
    bool _isStopped = false;
    Node* _currentTarget = nullptr;
};

} // namespace cocos2d
