// Node: an element of the scene graph.
//
// This is the core the director needs: the tree (children kept by local z-order, then arrival),
// names and tags, the enter/exit lifecycle, timers that run only while the node is running, and
// the virtual visit/draw pair. Geometry, transforms, cameras, actions and events are added by the
// scene-graph module on top of this class.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/CCRef.h"
#include "base/CCScheduler.h"
#include "base/CCVector.h"
#include "math/CCMath.h"

namespace cocos2d {

class Renderer;
class Scene;

class Node : public Ref {
public:
    static const int INVALID_TAG = -1;

    static Node* create();
    virtual bool init();

    // ----- tree
    // A null child is ignored; a child that already has a parent is refused (logged).
    virtual void addChild(Node* child);
    virtual void addChild(Node* child, int localZOrder);
    virtual void addChild(Node* child, int localZOrder, int tag);
    virtual void addChild(Node* child, int localZOrder, const std::string& name);
    virtual void removeChild(Node* child, bool cleanup = true);
    virtual void removeChildByTag(int tag, bool cleanup = true);
    virtual void removeChildByName(const std::string& name, bool cleanup = true);
    virtual void removeAllChildren();
    virtual void removeAllChildrenWithCleanup(bool cleanup);
    virtual void removeFromParent();
    virtual void removeFromParentAndCleanup(bool cleanup);

    Node* getParent() const { return _parent; }
    virtual void setParent(Node* parent) { _parent = parent; }
    Vector<Node*>& getChildren() { return _children; }
    const Vector<Node*>& getChildren() const { return _children; }
    ssize_t getChildrenCount() const { return _children.size(); }
    // The scene this node is in, or null.
    Scene* getScene() const;

    virtual Node* getChildByTag(int tag) const;
    virtual Node* getChildByName(const std::string& name) const;

    void setTag(int tag) { _tag = tag; }
    int getTag() const { return _tag; }
    void setName(const std::string& name) { _name = name; }
    const std::string& getName() const { return _name; }

    virtual void setLocalZOrder(int localZOrder);
    int getLocalZOrder() const { return _localZOrder; }

    // ----- lifecycle
    // Children first, then the node's own timers resume and it is marked running.
    virtual void onEnter();
    virtual void onEnterTransitionDidFinish();
    virtual void onExitTransitionDidStart();
    // The node's timers pause and it is marked not running, then the children exit.
    virtual void onExit();
    // Unschedules the node's timers, then the children's.
    virtual void cleanup();
    bool isRunning() const { return _running; }

    // ----- drawing
    virtual void visit(Renderer* renderer, const Mat4& parentTransform, uint32_t parentFlags);
    virtual void draw(Renderer* renderer, const Mat4& transform, uint32_t flags);

    // ----- timers (target = this node; paused while the node is not running)
    Scheduler* getScheduler() const { return _scheduler; }
    void schedule(SEL_SCHEDULE selector);
    void schedule(SEL_SCHEDULE selector, float interval);
    void schedule(SEL_SCHEDULE selector, float interval, unsigned int repeat, float delay);
    void scheduleOnce(SEL_SCHEDULE selector, float delay);
    void schedule(const std::function<void(float)>& callback, const std::string& key);
    void schedule(const std::function<void(float)>& callback, float interval, const std::string& key);
    void schedule(const std::function<void(float)>& callback, float interval, unsigned int repeat, float delay,
                  const std::string& key);
    void scheduleOnce(const std::function<void(float)>& callback, float delay, const std::string& key);
    void unschedule(SEL_SCHEDULE selector);
    void unschedule(const std::string& key);
    bool isScheduled(SEL_SCHEDULE selector) const;
    bool isScheduled(const std::string& key) const;
    void scheduleUpdate();
    void scheduleUpdateWithPriority(int priority);
    void unscheduleUpdate();
    void unscheduleAllCallbacks();
    virtual void update(float delta);
    // Pauses / resumes the node's timers.
    virtual void pause();
    virtual void resume();

    // ----- user data
    void setUserData(void* userData) { _userData = userData; }
    void* getUserData() const { return _userData; }
    // Retains the new object and releases the old one.
    void setUserObject(Ref* userObject);
    Ref* getUserObject() const { return _userObject; }

protected:
    Node();
    ~Node() override;

    // Logs and refuses a child that already has a parent.
    static bool refuseAdoptedChild(Node* child);
    void insertChild(Node* child, int localZOrder);
    void detachChild(Node* child, ssize_t index, bool doCleanup);

    Node* _parent = nullptr;
    Vector<Node*> _children;
    int _localZOrder = 0;
    unsigned int _orderOfArrival = 0;
    int _tag = INVALID_TAG;
    std::string _name;
    bool _running = false;
    Scheduler* _scheduler;
    void* _userData = nullptr;
    Ref* _userObject = nullptr;
};

} // namespace cocos2d
