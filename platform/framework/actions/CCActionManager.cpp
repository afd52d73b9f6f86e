#include "actions/CCActionManager.h"

#include <algorithm>

#include "actions/CCAction.h"
#include "node/CCNode.h"

namespace cocos2d {

ActionManager::~ActionManager()
{
    removeAllActions();
}

ActionManager::Entry* ActionManager::find(const Node* target) const
{
    auto it = _index.find(target);
    return it == _index.end() ? nullptr : it->second.get();
}

void ActionManager::addAction(Action* action, Node* target, bool paused)
{
    if (!action || !target) {
        return;
    }
    if (action->getTarget()) {
        log("ActionManager: the action is already running");
        return;
    }
    auto it = _index.find(target);
    std::shared_ptr<Entry> entry;
    if (it == _index.end()) {
        entry = std::make_shared<Entry>();
        entry->target = target;
        entry->paused = paused;
        _targets.push_back(entry);
        _index.emplace(target, entry);
    } else {
        entry = it->second;
    }
    action->retain();
    entry->actions.push_back(Slot{action, _updating});
    action->startWithTarget(target);
}

void ActionManager::dropEntryIfEmpty(const std::shared_ptr<Entry>& entry)
{
    if (!entry->actions.empty()) {
        return;
    }
    _index.erase(entry->target);
    _targets.erase(std::find(_targets.begin(), _targets.end(), entry));
    entry->target = nullptr;
}

void ActionManager::removeAt(const std::shared_ptr<Entry>& entry, size_t index)
{
    Action* action = entry->actions[index].action;
    entry->actions.erase(entry->actions.begin() + static_cast<std::ptrdiff_t>(index));
    dropEntryIfEmpty(entry);
    action->stop();
    action->release();
}

void ActionManager::removeAllActions()
{
    while (!_targets.empty()) {
        removeAllActionsFromTarget(_targets.back()->target);
    }
}

void ActionManager::removeAllActionsFromTarget(Node* target)
{
    auto it = _index.find(target);
    if (it == _index.end()) {
        return;
    }
    std::shared_ptr<Entry> entry = it->second;
    std::vector<Slot> slots;
    slots.swap(entry->actions);
    dropEntryIfEmpty(entry);
    for (const Slot& s : slots) {
        s.action->stop();
        s.action->release();
    }
}

void ActionManager::removeAction(Action* action)
{
    if (!action || !action->getOriginalTarget()) {
        return;
    }
    auto it = _index.find(action->getOriginalTarget());
    if (it == _index.end()) {
        return;
    }
    std::shared_ptr<Entry> entry = it->second;
    for (size_t i = 0; i < entry->actions.size(); ++i) {
        if (entry->actions[i].action == action) {
            removeAt(entry, i);
            return;
        }
    }
}

void ActionManager::removeByTag(int tag, Node* target, bool all)
{
    auto it = _index.find(target);
    if (it == _index.end()) {
        return;
    }
    std::shared_ptr<Entry> entry = it->second;
    for (size_t i = 0; i < entry->actions.size();) {
        if (entry->actions[i].action->getTag() != tag) {
            ++i;
            continue;
        }
        removeAt(entry, i);
        if (!all) {
            return;
        }
    }
}

void ActionManager::removeActionByTag(int tag, Node* target)
{
    removeByTag(tag, target, false);
}

void ActionManager::removeAllActionsByTag(int tag, Node* target)
{
    removeByTag(tag, target, true);
}

Action* ActionManager::getActionByTag(int tag, const Node* target) const
{
    if (const Entry* entry = find(target)) {
        for (const Slot& s : entry->actions) {
            if (s.action->getTag() == tag) {
                return s.action;
            }
        }
    }
    return nullptr;
}

ssize_t ActionManager::getNumberOfRunningActionsInTarget(const Node* target) const
{
    const Entry* entry = find(target);
    return entry ? static_cast<ssize_t>(entry->actions.size()) : 0;
}

void ActionManager::pauseTarget(Node* target)
{
    if (Entry* entry = find(target)) {
        entry->paused = true;
    }
}

void ActionManager::resumeTarget(Node* target)
{
    if (Entry* entry = find(target)) {
        entry->paused = false;
    }
}

bool ActionManager::isTargetPaused(Node* target) const
{
    const Entry* entry = find(target);
    return entry && entry->paused;
}

void ActionManager::update(float dt)
{
    _updating = true;
    // Snapshots: actions and targets may come and go from inside any step.
    const std::vector<std::shared_ptr<Entry>> targets = _targets;
    for (const auto& entry : targets) {
        if (entry->paused || entry->actions.empty() || !entry->target) {
            continue;
        }
        Node* target = entry->target;
        target->retain();
        const std::vector<Slot> slots = entry->actions;
        for (const Slot& slot : slots) {
            Action* action = slot.action;
            auto isCurrent = [&entry, action]() {
                return std::any_of(entry->actions.begin(), entry->actions.end(),
                                   [action](const Slot& s) { return s.action == action && !s.fresh; });
            };
            if (slot.fresh || entry->paused || !isCurrent()) {
                continue;
            }
            action->retain();
            action->step(dt);
            if (action->isDone() && isCurrent()) {
                auto it = std::find_if(entry->actions.begin(), entry->actions.end(),
                                       [action](const Slot& s) { return s.action == action; });
                removeAt(entry, static_cast<size_t>(it - entry->actions.begin()));
            }
            action->release();
        }
        target->release();
    }
    _updating = false;
    for (const auto& entry : _targets) {
        for (Slot& s : entry->actions) {
            s.fresh = false;
        }
    }
}

} // namespace cocos2d
