#include "node/CCNode.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>

#include "actions/CCActionManager.h"
#include "base/CCAutoreleasePool.h"
#include "base/CCDirector.h"
#include "event/CCEventDispatcher.h"
#include "event/CCEventListenerKeyboard.h"
#include "event/CCTouch.h"
#include "node/CCScene.h"
#include "renderer/CCCamera.h"
#include "renderer/CCGLProgramState.h"

namespace cocos2d {

namespace {
std::atomic<unsigned int> g_globalOrderOfArrival{1};

// A retained copy of the nodes a visit reaches, so that a lifecycle call may change the tree.
Vector<Node*> visitChildrenSnapshot(const Node* node)
{
    std::vector<Node*> raw;
    node->getVisitChildren(raw);
    Vector<Node*> copy(static_cast<ssize_t>(raw.size()));
    for (Node* n : raw) {
        copy.pushBack(n);
    }
    return copy;
}
} // namespace

Node::Node()
{
    Director* director = Director::getInstance();
    _scheduler = director->getScheduler();
    _actionManager = director->getActionManager();
    _eventDispatcher = director->getEventDispatcher();
    _scheduler->retain();
    _actionManager->retain();
    _eventDispatcher->retain();
}

Node::~Node()
{
    // A node may die without cleanup; its timers, actions and listeners must not outlive it.
    // Nodes made and freed on a worker (cameras of the volume renderer) never registered any,
    // and the services are main-thread-only.
    if (PoolManager::isMainThread()) {
        _scheduler->unscheduleAllForTarget(this);
        _actionManager->removeAllActionsFromTarget(this);
        _eventDispatcher->removeEventListenersForTarget(this);
    }
    CC_SAFE_RELEASE(_returnKeyListener);
    for (Node* child : _children) {
        child->_parent = nullptr;
    }
    _children.clear();
    CC_SAFE_RELEASE(_userObject);
    CC_SAFE_RELEASE(_glProgramState);
    _eventDispatcher->release();
    _actionManager->release();
    _scheduler->release();
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
        insertChild(_children, child, localZOrder);
    }
}

void Node::addChild(Node* child, int localZOrder, const std::string& name)
{
    if (child && !refuseAdoptedChild(child)) {
        child->setName(name);
        insertChild(_children, child, localZOrder);
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

void Node::updateOrderOfArrival()
{
    _orderOfArrival = g_globalOrderOfArrival.fetch_add(1, std::memory_order_relaxed);
}

void Node::sortNodes(Vector<Node*>& nodes)
{
    auto& data = nodes.data();
    std::stable_sort(data.begin(), data.end(), [](const Node* a, const Node* b) {
        return a->_localZOrder != b->_localZOrder ? a->_localZOrder < b->_localZOrder
                                                  : a->_orderOfArrival < b->_orderOfArrival;
    });
}

void Node::insertChild(Vector<Node*>& list, Node* child, int localZOrder)
{
    child->_localZOrder = localZOrder;
    child->updateOrderOfArrival();
    // After every child with a lower or equal local z.
    auto& data = list.data();
    auto pos = std::upper_bound(data.begin(), data.end(), localZOrder,
                                [](int z, const Node* n) { return z < n->_localZOrder; });
    list.insert(pos - data.begin(), child);
    child->setParent(this);
    child->markTransformDirty();
    if (_raisesNewChildren) {
        child->setGlobalZOrder(HIGH_GLOBAL_Z_ORDER);
        child->updateChildrenToHighZOrder();
    }
    // Displayed colour and opacity follow the new parent (or the child's own values).
    child->updateDisplayedOpacity(_cascadeOpacityEnabled ? _displayedOpacity : 255);
    child->updateDisplayedColor(_cascadeColorEnabled ? _displayedColor : Color3B::WHITE);
    if (_running) {
        markSceneGraphDirty();
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
    updateOrderOfArrival();
    if (_parent) {
        _parent->reorderAfterZChange(this);
    }
    if (_running) {
        markSceneGraphDirty();
    }
}

void Node::reorderAfterZChange(Node* child)
{
    if (_children.contains(child)) {
        sortNodes(_children);
    }
}

void Node::setGlobalZOrder(float globalZOrder)
{
    if (_globalZOrder != globalZOrder) {
        _globalZOrder = globalZOrder;
        if (_running) {
            markSceneGraphDirty();
        }
    }
}

void Node::updateChildrenToHighZOrder()
{
    _raisesNewChildren = true;
    forEachVisitChild([](Node* child) {
        child->setGlobalZOrder(HIGH_GLOBAL_Z_ORDER);
        child->updateChildrenToHighZOrder();
    });
}

void Node::coverWindow()
{
    setIgnoreAnchorPointForPosition(true);
    setAnchorPoint(Vec2::ANCHOR_MIDDLE);
    setContentSize(Director::getInstance()->getWinSize());
}

void Node::markSceneGraphDirty() const
{
    _eventDispatcher->markSceneGraphDirty();
}

void Node::detachChild(Vector<Node*>& list, Node* child, bool doCleanup)
{
    child->retain(); // alive until the end of the removal
    if (_running) {
        child->onExitTransitionDidStart();
        child->onExit();
        markSceneGraphDirty();
    }
    if (doCleanup) {
        child->cleanup();
    }
    // The exit callbacks may have changed the children; find the child again.
    const ssize_t at = list.getIndex(child);
    if (at != CC_INVALID_INDEX) {
        child->setParent(nullptr);
        list.erase(at);
    }
    child->release();
}

void Node::removeChild(Node* child, bool cleanup)
{
    if (!child) {
        return;
    }
    if (_children.contains(child)) {
        detachChild(_children, child, cleanup);
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
        detachChild(_children, _children.back(), cleanup);
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

Node* Node::findDeep(const std::function<bool(const Node*)>& match) const
{
    auto searchIn = [&match](const Vector<Node*>& nodes) -> Node* {
        for (Node* child : nodes) {
            if (match(child)) {
                return child;
            }
            if (Node* found = child->findDeep(match)) {
                return found;
            }
        }
        return nullptr;
    };
    if (Node* found = searchIn(_children)) {
        return found;
    }
    if (const Vector<Node*>* protectedChildren = getProtectedChildrenForSearch()) {
        return searchIn(*protectedChildren);
    }
    return nullptr;
}

Node* Node::getChildByNameDeep(const std::string& name) const
{
    return findDeep([&name](const Node* n) { return n->_name == name; });
}

Node* Node::getChildByTagDeep(int tag) const
{
    return findDeep([tag](const Node* n) { return n->_tag == tag; });
}

void Node::getVisitChildren(std::vector<Node*>& out) const
{
    out.insert(out.end(), _children.begin(), _children.end());
}

// ---------------------------------------------------------------------------------------------
// geometry

void Node::markTransformDirty()
{
    _transformDirty = true;
    _transformUpdated = true;
}

void Node::setPosition(const Vec2& position)
{
    setPosition(position.x, position.y);
}

void Node::setPosition(float x, float y)
{
    if (_position.x != x || _position.y != y) {
        _position.set(x, y);
        markTransformDirty();
    }
}

void Node::getPosition(float* x, float* y) const
{
    *x = _position.x;
    *y = _position.y;
}

void Node::setPositionZ(float z)
{
    if (_positionZ != z) {
        _positionZ = z;
        markTransformDirty();
    }
}

void Node::setPosition3D(const Vec3& position)
{
    setPositionZ(position.z);
    setPosition(position.x, position.y);
}

void Node::setAnchorPoint(const Vec2& anchorPoint)
{
    if (_anchorPoint != anchorPoint) {
        _anchorPoint = anchorPoint;
        _anchorPointInPoints.set(_contentSize.width * anchorPoint.x, _contentSize.height * anchorPoint.y);
        markTransformDirty();
    }
}

void Node::setIgnoreAnchorPointForPosition(bool ignore)
{
    if (_ignoreAnchorPointForPosition != ignore) {
        _ignoreAnchorPointForPosition = ignore;
        markTransformDirty();
    }
}

void Node::setContentSize(const Size& contentSize)
{
    if (_contentSize != contentSize) {
        _contentSize = contentSize;
        _anchorPointInPoints.set(contentSize.width * _anchorPoint.x, contentSize.height * _anchorPoint.y);
        markTransformDirty();
        _contentSizeDirty = true;
    }
}

void Node::setScale(float scale)
{
    setScale(scale, scale);
    setScaleZ(scale);
}

void Node::setScale(float scaleX, float scaleY)
{
    if (_scaleX != scaleX || _scaleY != scaleY) {
        _scaleX = scaleX;
        _scaleY = scaleY;
        markTransformDirty();
    }
}

void Node::setScaleX(float scaleX)
{
    setScale(scaleX, _scaleY);
}

void Node::setScaleY(float scaleY)
{
    setScale(_scaleX, scaleY);
}

void Node::setScaleZ(float scaleZ)
{
    if (_scaleZ != scaleZ) {
        _scaleZ = scaleZ;
        markTransformDirty();
    }
}

void Node::setRotation(float degrees)
{
    if (_rotationZ != degrees) {
        _rotationZ = degrees;
        markTransformDirty();
    }
}

void Node::setRotation3D(const Vec3& degrees)
{
    if (_rotationX != degrees.x || _rotationY != degrees.y || _rotationZ != degrees.z) {
        _rotationX = degrees.x;
        _rotationY = degrees.y;
        _rotationZ = degrees.z;
        markTransformDirty();
    }
}

void Node::setSkewX(float degrees)
{
    if (_skewX != degrees) {
        _skewX = degrees;
        markTransformDirty();
    }
}

void Node::setSkewY(float degrees)
{
    if (_skewY != degrees) {
        _skewY = degrees;
        markTransformDirty();
    }
}

// ---------------------------------------------------------------------------------------------
// transforms

const Mat4& Node::getNodeToParentTransform() const
{
    if (!_transformDirty) {
        return _transform;
    }
    Vec3 translation(_position.x, _position.y, _positionZ);
    if (_ignoreAnchorPointForPosition) {
        // The position names the bottom-left corner: the anchor offset below cancels out.
        translation.x += _anchorPointInPoints.x;
        translation.y += _anchorPointInPoints.y;
    }
    Mat4 t;
    Mat4::createTranslation(translation, &t);
    if (_rotationX != 0.0f) {
        t.rotateX(CC_DEGREES_TO_RADIANS(_rotationX));
    }
    if (_rotationY != 0.0f) {
        t.rotateY(CC_DEGREES_TO_RADIANS(_rotationY));
    }
    if (_rotationZ != 0.0f) {
        // Clockwise on the screen: negative about +Z.
        t.rotateZ(-CC_DEGREES_TO_RADIANS(_rotationZ));
    }
    if (_scaleX != 1.0f || _scaleY != 1.0f || _scaleZ != 1.0f) {
        t.scale(_scaleX, _scaleY, _scaleZ);
    }
    if (_skewX != 0.0f || _skewY != 0.0f) {
        // x' = x + tan(skewX) * y, y' = tan(skewY) * x + y (arguments row by row).
        const Mat4 skew(1.0f, std::tan(CC_DEGREES_TO_RADIANS(_skewX)), 0.0f, 0.0f,
                        std::tan(CC_DEGREES_TO_RADIANS(_skewY)), 1.0f, 0.0f, 0.0f,
                        0.0f, 0.0f, 1.0f, 0.0f,
                        0.0f, 0.0f, 0.0f, 1.0f);
        t = t * skew;
    }
    if (!_anchorPointInPoints.isZero()) {
        t.translate(-_anchorPointInPoints.x, -_anchorPointInPoints.y, 0.0f);
    }
    if (_useAdditionalTransform) {
        t = t * _additionalTransform;
    }
    _transform = t;
    _transformDirty = false;
    return _transform;
}

Mat4 Node::getParentToNodeTransform() const
{
    return getNodeToParentTransform().getInversed();
}

void Node::setAdditionalTransform(const Mat4* additionalTransform)
{
    _useAdditionalTransform = additionalTransform != nullptr;
    if (additionalTransform) {
        _additionalTransform = *additionalTransform;
    }
    markTransformDirty();
}

Mat4 Node::getNodeToWorldTransform() const
{
    Mat4 t = getNodeToParentTransform();
    for (const Node* p = _parent; p; p = p->_parent) {
        t = p->getNodeToParentTransform() * t;
    }
    return t;
}

Mat4 Node::getWorldToNodeTransform() const
{
    return getNodeToWorldTransform().getInversed();
}

Vec2 Node::convertToNodeSpace(const Vec2& worldPoint) const
{
    Vec3 p(worldPoint.x, worldPoint.y, 0.0f);
    getWorldToNodeTransform().transformPoint(&p);
    return Vec2(p.x, p.y);
}

Vec2 Node::convertToWorldSpace(const Vec2& nodePoint) const
{
    Vec3 p(nodePoint.x, nodePoint.y, 0.0f);
    getNodeToWorldTransform().transformPoint(&p);
    return Vec2(p.x, p.y);
}

Vec2 Node::convertToNodeSpaceAR(const Vec2& worldPoint) const
{
    return convertToNodeSpace(worldPoint) - _anchorPointInPoints;
}

Vec2 Node::convertToWorldSpaceAR(const Vec2& nodePoint) const
{
    return convertToWorldSpace(nodePoint + _anchorPointInPoints);
}

Vec2 Node::convertTouchToNodeSpace(Touch* touch) const
{
    return convertToNodeSpace(touch->getLocation());
}

Rect Node::getBoundingBox() const
{
    const Mat4& t = getNodeToParentTransform();
    const Vec3 corners[4] = {Vec3(0, 0, 0), Vec3(_contentSize.width, 0, 0), Vec3(0, _contentSize.height, 0),
                             Vec3(_contentSize.width, _contentSize.height, 0)};
    float minX = 0, maxX = 0, minY = 0, maxY = 0;
    for (int i = 0; i < 4; ++i) {
        Vec3 p;
        t.transformPoint(corners[i], &p);
        if (i == 0) {
            minX = maxX = p.x;
            minY = maxY = p.y;
        } else {
            minX = std::min(minX, p.x);
            maxX = std::max(maxX, p.x);
            minY = std::min(minY, p.y);
            maxY = std::max(maxY, p.y);
        }
    }
    return Rect(minX, minY, maxX - minX, maxY - minY);
}

// ---------------------------------------------------------------------------------------------
// visibility, colour and opacity

void Node::setVisible(bool visible)
{
    if (_visible != visible) {
        _visible = visible;
        if (visible) {
            markTransformDirty();
        }
    }
}

void Node::setOpacity(GLubyte opacity)
{
    _realOpacity = opacity;
    updateCascadeOpacity();
}

void Node::setColor(const Color3B& color)
{
    _realColor = color;
    updateCascadeColor();
}

void Node::updateCascadeOpacity()
{
    GLubyte parentOpacity = 255;
    if (_parent && _parent->isCascadeOpacityEnabled()) {
        parentOpacity = _parent->getDisplayedOpacity();
    }
    updateDisplayedOpacity(parentOpacity);
}

void Node::updateCascadeColor()
{
    Color3B parentColor = Color3B::WHITE;
    if (_parent && _parent->isCascadeColorEnabled()) {
        parentColor = _parent->getDisplayedColor();
    }
    updateDisplayedColor(parentColor);
}

void Node::updateDisplayedOpacity(GLubyte parentOpacity)
{
    _displayedOpacity = static_cast<GLubyte>(_realOpacity * parentOpacity / 255);
    updateColor();
    if (_cascadeOpacityEnabled) {
        forEachVisitChild([this](Node* child) { child->updateDisplayedOpacity(_displayedOpacity); });
    }
}

void Node::updateDisplayedColor(const Color3B& parentColor)
{
    _displayedColor.r = static_cast<GLubyte>(_realColor.r * parentColor.r / 255);
    _displayedColor.g = static_cast<GLubyte>(_realColor.g * parentColor.g / 255);
    _displayedColor.b = static_cast<GLubyte>(_realColor.b * parentColor.b / 255);
    updateColor();
    if (_cascadeColorEnabled) {
        forEachVisitChild([this](Node* child) { child->updateDisplayedColor(_displayedColor); });
    }
}

void Node::setCascadeOpacityEnabled(bool enabled)
{
    if (_cascadeOpacityEnabled == enabled) {
        return;
    }
    _cascadeOpacityEnabled = enabled;
    if (enabled) {
        updateCascadeOpacity();
    } else {
        forEachVisitChild([](Node* child) { child->updateDisplayedOpacity(255); });
    }
}

void Node::setCascadeColorEnabled(bool enabled)
{
    if (_cascadeColorEnabled == enabled) {
        return;
    }
    _cascadeColorEnabled = enabled;
    if (enabled) {
        updateCascadeColor();
    } else {
        forEachVisitChild([](Node* child) { child->updateDisplayedColor(Color3B::WHITE); });
    }
}

// ---------------------------------------------------------------------------------------------
// cameras

void Node::setCameraMask(unsigned short flag, bool applyChildren)
{
    _cameraFlags.assign(1, flag);
    if (applyChildren) {
        forEachVisitChild([flag](Node* child) { child->setCameraMask(flag, true); });
    }
}

unsigned short Node::getCameraMask() const
{
    return _cameraFlags.empty() ? 0 : _cameraFlags.front();
}

void Node::removeCameraMask(unsigned short flag, bool applyChildren)
{
    _cameraFlags.erase(std::remove(_cameraFlags.begin(), _cameraFlags.end(), flag), _cameraFlags.end());
    if (applyChildren) {
        forEachVisitChild([flag](Node* child) { child->removeCameraMask(flag, true); });
    }
}

bool Node::hasCameraFlag(unsigned short flag) const
{
    return std::binary_search(_cameraFlags.begin(), _cameraFlags.end(), flag);
}

bool Node::isVisitableByVisitingCamera() const
{
    // Flags are identities: the visiting camera draws the node when its flag is in the set. No
    // camera is visiting outside camera passes.
    const Camera* camera = Camera::getVisitingCamera();
    return !camera || hasCameraFlag(camera->getCameraFlag());
}

// ---------------------------------------------------------------------------------------------
// lifecycle

void Node::onEnter()
{
    for (Node* child : visitChildrenSnapshot(this)) {
        child->onEnter();
    }
    // A child added by a sibling's onEnter was not entered by its insertion (this node was not
    // running yet) and is not in the snapshot.
    for (Node* child : visitChildrenSnapshot(this)) {
        if (!child->isRunning()) {
            child->onEnter();
        }
    }
    resume();
    _running = true;
    markSceneGraphDirty();
}

void Node::onEnterTransitionDidFinish()
{
    for (Node* child : visitChildrenSnapshot(this)) {
        child->onEnterTransitionDidFinish();
    }
}

void Node::onExitTransitionDidStart()
{
    for (Node* child : visitChildrenSnapshot(this)) {
        child->onExitTransitionDidStart();
    }
}

void Node::onExit()
{
    pause();
    _running = false;
    markSceneGraphDirty();
    for (Node* child : visitChildrenSnapshot(this)) {
        child->onExit();
    }
}

void Node::cleanup()
{
    stopAllActions();
    unscheduleAllCallbacks();
    for (Node* child : visitChildrenSnapshot(this)) {
        child->cleanup();
    }
}

// ---------------------------------------------------------------------------------------------
// drawing

uint32_t Node::processParentFlags(const Mat4& parentTransform, uint32_t parentFlags)
{
    uint32_t flags = parentFlags;
    if (_transformUpdated) {
        flags |= FLAGS_TRANSFORM_DIRTY;
    }
    if (_contentSizeDirty) {
        flags |= FLAGS_CONTENT_SIZE_DIRTY;
    }
    // Always recomputed: one product per node per pass, and overrides of visit may pass a
    // parent matrix of their own.
    _modelViewTransform = parentTransform * getNodeToParentTransform();
    _transformUpdated = false;
    _contentSizeDirty = false;
    return flags;
}

void Node::visit(Renderer* renderer, const Mat4& parentTransform, uint32_t parentFlags)
{
    if (!_visible) {
        return;
    }
    const uint32_t flags = processParentFlags(parentTransform, parentFlags);
    const Mat4 model = _modelViewTransform;
    // Children below zero first, then the node, then the rest. Indexes are re-checked on every
    // step because an overridden visit may change the tree.
    const auto& data = _children.data();
    size_t i = 0;
    for (; i < data.size() && data[i]->_localZOrder < 0; ++i) {
        data[i]->visit(renderer, model, flags);
    }
    if (isVisitableByVisitingCamera()) {
        draw(renderer, model, flags);
    }
    for (; i < data.size(); ++i) {
        data[i]->visit(renderer, model, flags);
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
    _actionManager->pauseTarget(this);
    _eventDispatcher->pauseEventListenersForTarget(this);
}

void Node::resume()
{
    _scheduler->resumeTarget(this);
    _actionManager->resumeTarget(this);
    _eventDispatcher->resumeEventListenersForTarget(this);
}

// ---------------------------------------------------------------------------------------------
// actions

Action* Node::runAction(Action* action)
{
    if (action) {
        _actionManager->addAction(action, this, !_running);
    }
    return action;
}

void Node::stopAllActions()
{
    _actionManager->removeAllActionsFromTarget(this);
}

void Node::stopAction(Action* action)
{
    _actionManager->removeAction(action);
}

void Node::stopActionByTag(int tag)
{
    _actionManager->removeActionByTag(tag, this);
}

void Node::stopAllActionsByTag(int tag)
{
    _actionManager->removeAllActionsByTag(tag, this);
}

Action* Node::getActionByTag(int tag) const
{
    return _actionManager->getActionByTag(tag, this);
}

ssize_t Node::getNumberOfRunningActions() const
{
    return _actionManager->getNumberOfRunningActionsInTarget(this);
}

// ---------------------------------------------------------------------------------------------
// events

void Node::enableAndroidReturnKey(bool enable)
{
    if (enable == (_returnKeyListener != nullptr)) {
        return;
    }
    if (!enable) {
        _eventDispatcher->removeEventListener(_returnKeyListener);
        CC_SAFE_RELEASE_NULL(_returnKeyListener);
        return;
    }
    auto* listener = EventListenerKeyboard::create();
    listener->onKeyReleased = [this](EventKeyboard::KeyCode key, Event* event) {
        if (key == EventKeyboard::KeyCode::KEY_ESCAPE && onResponseReturn()) {
            event->stopPropagation();
        }
    };
    listener->retain();
    _returnKeyListener = listener;
    _eventDispatcher->addEventListenerWithSceneGraphPriority(listener, this);
}

bool Node::onResponseReturn()
{
    return false;
}

// ---------------------------------------------------------------------------------------------
// user data

void Node::setUserObject(Ref* userObject)
{
    CC_SAFE_RETAIN(userObject);
    CC_SAFE_RELEASE(_userObject);
    _userObject = userObject;
}

// ---------------------------------------------------------------------------------------------
// program state

GLProgram* Node::getGLProgram() const
{
    return _glProgramState ? _glProgramState->getGLProgram() : nullptr;
}

void Node::setGLProgram(GLProgram* glProgram)
{
    if (!glProgram || getGLProgram() != glProgram) {
        setGLProgramState(GLProgramState::getOrCreateWithGLProgram(glProgram));
    }
}

void Node::setGLProgramState(GLProgramState* glProgramState)
{
    if (glProgramState != _glProgramState) {
        CC_SAFE_RETAIN(glProgramState);
        CC_SAFE_RELEASE(_glProgramState);
        _glProgramState = glProgramState;
    }
}

} // namespace cocos2d
