// ActionManager: runs the actions of every node, once per frame.
//
// The director registers it with the scheduler as an update callback of system priority, so it
// steps first in every frame with the frame's dt. Actions of a paused target (a node that is not
// running) wait. An action added during an update steps from the next update. Finished actions
// are stopped and released.
//
// Targets are not retained: a node removes its actions when it is cleaned up or freed. While a
// target's actions are stepped, the target and the action being stepped are kept alive, so an
// action may remove its own node.
//
// Main thread only.
#pragma once

#include <memory>
#include <unordered_map>
#include <vector>

#include "base/CCRef.h"
#include "base/ccMacros.h"

namespace cocos2d {

class Action;
class Node;

class ActionManager : public Ref {
public:
    ActionManager() = default;
    ~ActionManager() override;

    // Starts the action on the target. An action that is already running is refused (logged).
    void addAction(Action* action, Node* target, bool paused);
    void removeAllActions();
    void removeAllActionsFromTarget(Node* target);
    void removeAction(Action* action);
    // The first action with the tag.
    void removeActionByTag(int tag, Node* target);
    void removeAllActionsByTag(int tag, Node* target);
    Action* getActionByTag(int tag, const Node* target) const;
    ssize_t getNumberOfRunningActionsInTarget(const Node* target) const;

    void pauseTarget(Node* target);
    void resumeTarget(Node* target);
    bool isTargetPaused(Node* target) const;

    void update(float dt);

private:
    struct Slot {
        Action* action; // retained
        bool fresh;     // added during the running update
    };
    struct Entry {
        Node* target = nullptr;
        bool paused = false;
        std::vector<Slot> actions;
    };

    Entry* find(const Node* target) const;
    // Stops and releases the action at the index; drops the entry when it becomes empty.
    void removeAt(const std::shared_ptr<Entry>& entry, size_t index);
    void dropEntryIfEmpty(const std::shared_ptr<Entry>& entry);
    void removeByTag(int tag, Node* target, bool all);

    std::vector<std::shared_ptr<Entry>> _targets; // in order of first action
    std::unordered_map<const Node*, std::shared_ptr<Entry>> _index;
    bool _updating = false;
};

} // namespace cocos2d
