#include "node/CCNode.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "base/CCAutoreleasePool.h"
#include "base/CCDirector.h"
#include "node/CCScene.h"

namespace cocos2d {

namespace {
std::atomic<unsigned int> g_globalOrderOfArrival{1};
}

Node::Node() : _scheduler(Director::getInstance()->getScheduler())
{
    _scheduler->retain();
}

Node::~Node()
{
    // A node may die without cleanup; its timers must not outlive it. Nodes made and freed on a
    // worker (cameras of the volume renderer) never schedule anything.
    if (PoolManager::isMainThread()) {
        _scheduler->unscheduleAllForTarget(this);
    }
    for (Node* child : _children) {
        child->_parent = nullptr;
    }
    _children.clear();
    CC_SAFE_RELEASE(_userObject);
    _scheduler->release();
}

Node* Node::create()
{
    Node* n = new (std::nothrow) Node();
    if (n && n->init()) {
        n->autorelease();
        return n;
    }
    delete n;
    return nullptr;
}

bool Node::init()
{
    return true;
}

// ---------------------------------------------------------------------------------------------
// tree

void Node::addChild(Node* child)
{
    if (child) {
        addChild(child, child->_localZOrder, child->_name);
    }
}

void Node::addChild(Node* child, int localZOrder)
{
    if (child) {
        addChild(child, localZOrder, child->_name);
    }
}

void Node::addChild(Node* child, int localZOrder, int tag)
{
    if (child && !refuseAdoptedChild(child)) {
        child->setTag(tag);
        insertChild(child, localZOrder);
    }
}

void Node::addChild(Node* child, int localZOrder, const std::string& name)
{
    if (child && !refuseAdoptedChild(child)) {
        child->setName(name);
        insertChild(child, localZOrder);
    }
}

bool Node::refuseAdoptedChild(Node* child)
{
    if (child->_parent) {
        log("Node::addChild: child already added to another node");
        return true;
    }
    return false;
}

void Node::insertChild(Node* child, int localZOrder)
{
    child->_localZOrder = localZOrder;
    child->_orderOfArrival = g_globalOrderOfArrival.fetch_add(1, std::memory_order_relaxed);
    // After every child with a lower or equal local z.
    auto& data = _children.data();
    auto pos = std::upper_bound(data.begin(), data.end(), localZOrder,
                                [](int z, const Node* n) { return z < n->_localZOrder; });
    _children.insert(pos - data.begin(), child);
    child->setParent(this);
    if (_running) {
        child->onEnter();
        child->onEnterTransitionDidFinish();
    }
}

void Node::setLocalZOrder(int localZOrder)
{
    if (_localZOrder == localZOrder) {
        return;
    }
    _localZOrder = localZOrder;
    if (_parent) {
        auto& data = _parent->_children.data();
        std::stable_sort(data.begin(), data.end(), [](const Node* a, const Node* b) {
            return a->_localZOrder != b->_localZOrder ? a->_localZOrder < b->_localZOrder
                                                      : a->_orderOfArrival < b->_orderOfArrival;
        });
    }
}

void Node::detachChild(Node* child, ssize_t index, bool doCleanup)
{
    child->retain(); // alive until the end of the removal
    if (_running) {
        child->onExitTransitionDidStart();
        child->onExit();
    }
    if (doCleanup) {
        child->cleanup();
    }
    child->setParent(nullptr);
    _children.erase(index);
    child->release();
}

void Node::removeChild(Node* child, bool cleanup)
{
    if (!child) {
        return;
    }
    const ssize_t index = _children.getIndex(child);
    if (index != CC_INVALID_INDEX) {
        detachChild(child, index, cleanup);
    }
}

void Node::removeChildByTag(int tag, bool cleanup)
{
    if (Node* child = getChildByTag(tag)) {
        removeChild(child, cleanup);
    }
}

void Node::removeChildByName(const std::string& name, bool cleanup)
{
    if (Node* child = getChildByName(name)) {
        removeChild(child, cleanup);
    }
}

void Node::removeAllChildren()
{
    removeAllChildrenWithCleanup(true);
}

void Node::removeAllChildrenWithCleanup(bool cleanup)
{
    while (!_children.empty()) {
        detachChild(_children.back(), _children.size() - 1, cleanup);
    }
}

void Node::removeFromParent()
{
    removeFromParentAndCleanup(true);
}

void Node::removeFromParentAndCleanup(bool cleanup)
{
    if (_parent) {
        _parent->removeChild(this, cleanup);
    }
}

Scene* Node::getScene() const
{
    const Node* n = this;
    while (n->_parent) {
        n = n->_parent;
    }
    return dynamic_cast<Scene*>(const_cast<Node*>(n));
}

Node* Node::getChildByTag(int tag) const
{
    for (Node* child : _children) {
        if (child->_tag == tag) {
            return child;
        }
    }
    return nullptr;
}

Node* Node::getChildByName(const std::string& name) const
{
    for (Node* child : _children) {
        if (child->_name == name) {
            return child;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// lifecycle

void Node::onEnter()
{
    const Vector<Node*> children = _children; // children may change the tree while entering
    for (Node* child : children) {
        child->onEnter();
    }
    resume();
    _running = true;
}

void Node::onEnterTransitionDidFinish()
{
    const Vector<Node*> children = _children;
    for (Node* child : children) {
        child->onEnterTransitionDidFinish();
    }
}

void Node::onExitTransitionDidStart()
{
    const Vector<Node*> children = _children;
    for (Node* child : children) {
        child->onExitTransitionDidStart();
    }
}

void Node::onExit()
{
    pause();
    _running = false;
    const Vector<Node*> children = _children;
    for (Node* child : children) {
        child->onExit();
    }
}

void Node::cleanup()
{
    unscheduleAllCallbacks();
    const Vector<Node*> children = _children;
    for (Node* child : children) {
        child->cleanup();
    }
}

// ---------------------------------------------------------------------------------------------
// drawing

void Node::visit(Renderer* renderer, const Mat4& parentTransform, uint32_t parentFlags)
{
    // Children below zero first, then the node, then the rest.
    size_t i = 0;
    const auto& data = _children.data();
    for (; i < data.size() && data[i]->_localZOrder < 0; ++i) {
        data[i]->visit(renderer, parentTransform, parentFlags);
    }
    draw(renderer, parentTransform, parentFlags);
    for (; i < data.size(); ++i) {
        data[i]->visit(renderer, parentTransform, parentFlags);
    }
}

void Node::draw(Renderer*, const Mat4&, uint32_t) {}

// ---------------------------------------------------------------------------------------------
// timers

void Node::schedule(SEL_SCHEDULE selector)
{
    schedule(selector, 0.0f, CC_REPEAT_FOREVER, 0.0f);
}

void Node::schedule(SEL_SCHEDULE selector, float interval)
{
    schedule(selector, interval, CC_REPEAT_FOREVER, 0.0f);
}

void Node::schedule(SEL_SCHEDULE selector, float interval, unsigned int repeat, float delay)
{
    _scheduler->schedule(selector, this, interval, repeat, delay, !_running);
}

void Node::scheduleOnce(SEL_SCHEDULE selector, float delay)
{
    schedule(selector, 0.0f, 0, delay);
}

void Node::schedule(const std::function<void(float)>& callback, const std::string& key)
{
    _scheduler->schedule(callback, this, 0.0f, !_running, key);
}

void Node::schedule(const std::function<void(float)>& callback, float interval, const std::string& key)
{
    _scheduler->schedule(callback, this, interval, !_running, key);
}

void Node::schedule(const std::function<void(float)>& callback, float interval, unsigned int repeat, float delay,
                    const std::string& key)
{
    _scheduler->schedule(callback, this, interval, repeat, delay, !_running, key);
}

void Node::scheduleOnce(const std::function<void(float)>& callback, float delay, const std::string& key)
{
    _scheduler->schedule(callback, this, 0.0f, 0, delay, !_running, key);
}

void Node::unschedule(SEL_SCHEDULE selector)
{
    _scheduler->unschedule(selector, this);
}

void Node::unschedule(const std::string& key)
{
    _scheduler->unschedule(key, this);
}

bool Node::isScheduled(SEL_SCHEDULE selector) const
{
    return _scheduler->isScheduled(selector, this);
}

bool Node::isScheduled(const std::string& key) const
{
    return _scheduler->isScheduled(key, this);
}

void Node::scheduleUpdate()
{
    scheduleUpdateWithPriority(0);
}

void Node::scheduleUpdateWithPriority(int priority)
{
    _scheduler->scheduleUpdate(this, priority, !_running);
}

void Node::unscheduleUpdate()
{
    _scheduler->unscheduleUpdate(this);
}

void Node::unscheduleAllCallbacks()
{
    _scheduler->unscheduleAllForTarget(this);
}

void Node::update(float) {}

void Node::pause()
{
    _scheduler->pauseTarget(this);
}

void Node::resume()
{
    _scheduler->resumeTarget(this);
}

void Node::setUserObject(Ref* userObject)
{
    CC_SAFE_RETAIN(userObject);
    CC_SAFE_RELEASE(_userObject);
    _userObject = userObject;
}

} // namespace cocos2d
