// Node: an element of the scene graph.
//
// A node has children kept in drawing order (local z-order, then order of arrival), a name and a
// tag, a 2D/3D placement relative to its parent, a colour and opacity, a set of camera flags,
// timers, actions and event listeners that run only while the node is running (between onEnter
// and onExit), and the virtual visit/draw pair through which a camera pass draws it.
//
// Coordinate spaces:
//   node space   - the node's own content, origin at its bottom-left corner, content size units;
//   parent space - where the node's position lies;
//   world space  - the scene root's space (design units, origin bottom-left of the window).
// The node-to-parent transform is
//   translate(position, positionZ) * rotate * skew * scale * translate(-anchor in points).
// With the anchor ignored for position (Layer, Scene) the position names the bottom-left corner
// instead of the anchor, while rotation and scale still happen about the anchor.
//
// Camera flags are identities, not bits: a camera draws a node exactly when the camera's flag is
// in the node's flag set. The default set is {1}, the default camera's flag.
//
// Everything here is main-thread-only, except constructing a node and its maths on a worker for
// a node that never enters a scene.
#pragma once

#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "base/CCRef.h"
#include "base/CCScheduler.h"
#include "base/CCVector.h"
#include "base/ccTypes.h"
#include "math/CCMath.h"
#include "platform/CCPlatformMacros.h"

namespace cocos2d {

class Action;
class ActionManager;
class EventDispatcher;
class EventListener;
class GLProgram;
class GLProgramState;
class Renderer;
class Scene;
class Touch;

class Node : public Ref {
public:
    static constexpr int INVALID_TAG = -1;

    // Flags passed down a visit: the node's model matrix or content size changed since the
    // previous visit (drawn nodes rebuild their vertices only then).
    enum : uint32_t {
        FLAGS_TRANSFORM_DIRTY = 1u << 0,
        FLAGS_CONTENT_SIZE_DIRTY = 1u << 1,
        FLAGS_DIRTY_MASK = FLAGS_TRANSFORM_DIRTY | FLAGS_CONTENT_SIZE_DIRTY,
    };

    // The camera flag of the default camera, and the global z-order that
    // updateChildrenToHighZOrder gives (above the tool disk's 1000).
    static constexpr unsigned short DEFAULT_CAMERA_FLAG = 1;
    static constexpr float HIGH_GLOBAL_Z_ORDER = 10000.0f;

    CREATE_FUNC(Node)
    virtual bool init();

    // ----- tree
    // A null child is ignored; a child that already has a parent is refused (logged). A child
    // added to a running parent enters at once (onEnter, then onEnterTransitionDidFinish).
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
    // Virtual so that a container widget can present the children of its inner node as its own
    // (the scroll view does); Node::getChildren() names the node's own list.
    virtual Vector<Node*>& getChildren() { return _children; }
    virtual const Vector<Node*>& getChildren() const { return _children; }
    virtual ssize_t getChildrenCount() const { return _children.size(); }
    // The scene this node is in, or null.
    Scene* getScene() const;

    // Direct children, first match in children order.
    virtual Node* getChildByTag(int tag) const;
    virtual Node* getChildByName(const std::string& name) const;
    // Any descendant, depth-first pre-order; a node's normal children are searched before its
    // protected children, and the node itself is excluded. Names are compared whole.
    Node* getChildByNameDeep(const std::string& name) const;
    Node* getChildByTagDeep(int tag) const;

    void setTag(int tag) { _tag = tag; }
    int getTag() const { return _tag; }
    void setName(const std::string& name) { _name = name; }
    const std::string& getName() const { return _name; }

    // ----- z-order
    // Changing the local z-order re-sorts the parent's children at once; the node then comes
    // last among the siblings of equal z.
    virtual void setLocalZOrder(int localZOrder);
    int getLocalZOrder() const { return _localZOrder; }
    // An overridable alias of the local z-order.
    virtual void setZOrder(int z) { setLocalZOrder(z); }
    virtual int getZOrder() const { return getLocalZOrder(); }
    // Orders render commands and scene-graph event priority across the whole scene.
    virtual void setGlobalZOrder(float globalZOrder);
    float getGlobalZOrder() const { return _globalZOrder; }
    // Gives every descendant the global z-order HIGH_GLOBAL_Z_ORDER, so that a modal layer's
    // content draws above and receives touches before everything else. Descendants added later
    // (a field's texts, a nine-piece image's pieces, a cursor) are raised as they join.
    void updateChildrenToHighZOrder();
    unsigned int getOrderOfArrival() const { return _orderOfArrival; }

    // ----- geometry (parent space)
    virtual void setPosition(const Vec2& position);
    virtual void setPosition(float x, float y);
    const Vec2& getPosition() const { return _position; }
    void getPosition(float* x, float* y) const;
    void setPositionX(float x) { setPosition(x, _position.y); }
    void setPositionY(float y) { setPosition(_position.x, y); }
    float getPositionX() const { return _position.x; }
    float getPositionY() const { return _position.y; }
    virtual void setPositionZ(float z);
    float getPositionZ() const { return _positionZ; }
    virtual void setPosition3D(const Vec3& position);
    Vec3 getPosition3D() const { return Vec3(_position.x, _position.y, _positionZ); }

    // The anchor as a fraction of the content size.
    virtual void setAnchorPoint(const Vec2& anchorPoint);
    const Vec2& getAnchorPoint() const { return _anchorPoint; }
    const Vec2& getAnchorPointInPoints() const { return _anchorPointInPoints; }
    virtual void setIgnoreAnchorPointForPosition(bool ignore);
    bool isIgnoreAnchorPointForPosition() const { return _ignoreAnchorPointForPosition; }

    virtual void setContentSize(const Size& contentSize);
    virtual const Size& getContentSize() const { return _contentSize; }

    virtual void setScale(float scale);
    virtual void setScale(float scaleX, float scaleY);
    virtual void setScaleX(float scaleX);
    virtual void setScaleY(float scaleY);
    virtual void setScaleZ(float scaleZ);
    // The common scale; when x and y differ, x.
    float getScale() const { return _scaleX; }
    float getScaleX() const { return _scaleX; }
    float getScaleY() const { return _scaleY; }
    float getScaleZ() const { return _scaleZ; }

    // Degrees, clockwise on the screen.
    virtual void setRotation(float degrees);
    float getRotation() const { return _rotationZ; }
    // Degrees about the node's X, Y and Z axes; X is applied first, then Y, then Z. Z turns
    // clockwise as setRotation does.
    virtual void setRotation3D(const Vec3& degrees);
    Vec3 getRotation3D() const { return Vec3(_rotationX, _rotationY, _rotationZ); }

    // Degrees; x shears along X in proportion to y, y shears along Y in proportion to x.
    virtual void setSkewX(float degrees);
    virtual void setSkewY(float degrees);
    float getSkewX() const { return _skewX; }
    float getSkewY() const { return _skewY; }

    // ----- transforms
    // Node space to parent space. Subclasses may override it entirely; visit and every
    // conversion below go through this virtual.
    virtual const Mat4& getNodeToParentTransform() const;
    virtual Mat4 getParentToNodeTransform() const;
    // Multiplied after the computed node-to-parent transform; null removes it.
    void setAdditionalTransform(const Mat4* additionalTransform);
    Mat4 getNodeToWorldTransform() const;
    Mat4 getWorldToNodeTransform() const;
    // World space (z = 0 plane) to node space, through the full inverse of node-to-world.
    Vec2 convertToNodeSpace(const Vec2& worldPoint) const;
    Vec2 convertToWorldSpace(const Vec2& nodePoint) const;
    // Relative to the anchor point instead of the bottom-left corner.
    Vec2 convertToNodeSpaceAR(const Vec2& worldPoint) const;
    Vec2 convertToWorldSpaceAR(const Vec2& nodePoint) const;
    // The touch's location (world space) in node space.
    Vec2 convertTouchToNodeSpace(Touch* touch) const;
    // The axis-aligned box of the transformed content rectangle, in parent space.
    virtual Rect getBoundingBox() const;
    // The model matrix of the node's last visit (node to world).
    const Mat4& getModelViewTransform() const { return _modelViewTransform; }

    // ----- visibility, colour and opacity
    // An invisible node is neither visited nor drawn, and neither are its children. Its event
    // listeners still receive events.
    virtual void setVisible(bool visible);
    virtual bool isVisible() const { return _visible; }

    virtual void setOpacity(GLubyte opacity);
    virtual GLubyte getOpacity() const { return _realOpacity; }
    GLubyte getDisplayedOpacity() const { return _displayedOpacity; }
    virtual void setColor(const Color3B& color);
    virtual const Color3B& getColor() const { return _realColor; }
    const Color3B& getDisplayedColor() const { return _displayedColor; }
    // With cascading on, children display their own value multiplied by the node's displayed
    // value (opacity) or channel by channel (colour). Off by default.
    virtual void setCascadeOpacityEnabled(bool enabled);
    bool isCascadeOpacityEnabled() const { return _cascadeOpacityEnabled; }
    virtual void setCascadeColorEnabled(bool enabled);
    bool isCascadeColorEnabled() const { return _cascadeColorEnabled; }
    // Recomputes the displayed values from the parent's displayed values.
    virtual void updateDisplayedOpacity(GLubyte parentOpacity);
    virtual void updateDisplayedColor(const Color3B& parentColor);

    // ----- cameras
    // The set becomes {flag}, on the node and, when asked, on every descendant.
    virtual void setCameraMask(unsigned short flag, bool applyChildren = true);
    // The smallest flag of the set; 0 for the empty set.
    unsigned short getCameraMask() const;
    // Takes the flag out of the set, on the node and, when asked, on every descendant.
    void removeCameraMask(unsigned short flag, bool applyChildren);
    bool hasCameraFlag(unsigned short flag) const;
    // The set, ascending.
    const std::vector<unsigned short>& getCameraFlags() const { return _cameraFlags; }
    // True when no camera is visiting, or the visiting camera's flag is in the set.
    virtual bool isVisitableByVisitingCamera() const;
    // Marks the node as holding nested cameras. Every camera pass already descends into every
    // visible node, so this changes nothing in drawing; it is kept for diagnostics.
    void enableCameraVisitThroughtChild() { _cameraVisitThroughChild = true; }
    bool isCameraVisitThroughtChild() const { return _cameraVisitThroughChild; }

    // ----- lifecycle
    // Children first, then the node's timers, actions and listeners resume and it is marked
    // running.
    virtual void onEnter();
    virtual void onEnterTransitionDidFinish();
    virtual void onExitTransitionDidStart();
    // The node's timers, actions and listeners pause and it is marked not running, then the
    // children exit.
    virtual void onExit();
    // Stops the node's actions and unschedules its timers, then the children's. Event listeners
    // stay registered (paused while not running) until the node is freed.
    virtual void cleanup();
    bool isRunning() const { return _running; }

    // ----- drawing
    // Draws the children with local z < 0, then the node (when the visiting camera may draw
    // it), then the other children. parentTransform is the parent's model matrix.
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
    // Pauses / resumes the node's timers, actions and event listeners.
    virtual void pause();
    virtual void resume();

    // ----- actions (paused while the node is not running)
    ActionManager* getActionManager() const { return _actionManager; }
    Action* runAction(Action* action);
    void stopAllActions();
    void stopAction(Action* action);
    void stopActionByTag(int tag);
    void stopAllActionsByTag(int tag);
    Action* getActionByTag(int tag) const;
    ssize_t getNumberOfRunningActions() const;

    // ----- events
    EventDispatcher* getEventDispatcher() const { return _eventDispatcher; }
    // Escape (the return key) released while the node is running calls onResponseReturn; when it
    // answers true the key event stops there. The listener has scene-graph priority, so the
    // top-most node answers first.
    void enableAndroidReturnKey(bool enable = true);
    // Scenes pop themselves and answer true; other nodes answer false so the key travels on.
    virtual bool onResponseReturn();

    // ----- program state (the program the node's draw uses; retained)
    GLProgram* getGLProgram() const;
    virtual void setGLProgram(GLProgram* glProgram);
    GLProgramState* getGLProgramState() const { return _glProgramState; }
    virtual void setGLProgramState(GLProgramState* glProgramState);

    // ----- user data
    void setUserData(void* userData) { _userData = userData; }
    void* getUserData() const { return _userData; }
    // Retains the new object and releases the old one.
    void setUserObject(Ref* userObject);
    Ref* getUserObject() const { return _userObject; }
    void setUserString(const std::string& text) { _userString = text; }
    const std::string& getUserString() const { return _userString; }

    // [hook] The nodes a visit reaches directly (children, and protected children of subclasses
    // that have them), in drawing order. Used by the event dispatcher's scene-graph ordering and
    // by the tree-wide setters.
    virtual void getVisitChildren(std::vector<Node*>& out) const;

protected:
    Node();
    ~Node() override;

    // Logs and refuses a child that already has a parent.
    static bool refuseAdoptedChild(Node* child);
    // Adds to / removes from one of the node's child lists (ProtectedNode has two), with the
    // lifecycle calls a running parent makes.
    void insertChild(Vector<Node*>& list, Node* child, int localZOrder);
    void detachChild(Vector<Node*>& list, Node* child, bool doCleanup);
    // Stable re-sort of a children vector by (local z, order of arrival).
    static void sortNodes(Vector<Node*>& nodes);
    void updateOrderOfArrival();
    // Re-sorts after a child's local z-order changed (subclasses also sort their own lists).
    virtual void reorderAfterZChange(Node* child);
    // Tells the event dispatcher that the drawing order of running nodes changed.
    void markSceneGraphDirty() const;

    // Scenes and layers: the window's size, placed by the bottom-left corner, scaled and rotated
    // about the centre.
    void coverWindow();
    // For create functions with arguments: autoreleases the node when its init succeeded,
    // otherwise frees it and gives null.
    template <class T>
    static T* autoreleaseIfInitialised(T* node, bool initialised)
    {
        if (node && initialised) {
            node->autorelease();
            return node;
        }
        delete static_cast<Ref*>(node);
        return nullptr;
    }
    // Calls f for each node a visit reaches directly (a snapshot: f may change the tree).
    template <class F>
    void forEachVisitChild(F f) const
    {
        std::vector<Node*> children;
        getVisitChildren(children);
        for (Node* child : children) {
            f(child);
        }
    }

    // Pre-order search through normal, then protected, children.
    Node* findDeep(const std::function<bool(const Node*)>& match) const;
    // Protected children of subclasses that have them; searched after the normal children.
    virtual const Vector<Node*>* getProtectedChildrenForSearch() const { return nullptr; }

    // The model matrix for a visit under the given parent model matrix; also the flags for the
    // children.
    uint32_t processParentFlags(const Mat4& parentTransform, uint32_t parentFlags);
    // Called when the displayed colour or opacity changed; drawn nodes refresh their vertices.
    virtual void updateColor() {}
    void updateCascadeOpacity();
    void updateCascadeColor();
    void markTransformDirty();

    Node* _parent = nullptr;
    Vector<Node*> _children;
    int _localZOrder = 0;
    float _globalZOrder = 0.0f;
    // Set by updateChildrenToHighZOrder on the node and its descendants: children added later
    // are raised too.
    bool _raisesNewChildren = false;
    unsigned int _orderOfArrival = 0;
    int _tag = INVALID_TAG;
    std::string _name;
    bool _running = false;
    bool _visible = true;

    // geometry
    Vec2 _position;
    float _positionZ = 0.0f;
    Vec2 _anchorPoint;
    Vec2 _anchorPointInPoints;
    Size _contentSize;
    bool _ignoreAnchorPointForPosition = false;
    float _scaleX = 1.0f;
    float _scaleY = 1.0f;
    float _scaleZ = 1.0f;
    float _rotationX = 0.0f;
    float _rotationY = 0.0f;
    float _rotationZ = 0.0f;
    float _skewX = 0.0f;
    float _skewY = 0.0f;

    // Cached node-to-parent transform; recomputed when _transformDirty.
    mutable Mat4 _transform;
    mutable bool _transformDirty = true;
    bool _useAdditionalTransform = false;
    Mat4 _additionalTransform;
    // Set by every change of placement or size, cleared by the next visit.
    bool _transformUpdated = true;
    bool _contentSizeDirty = true;
    Mat4 _modelViewTransform;

    // colour
    GLubyte _realOpacity = 255;
    GLubyte _displayedOpacity = 255;
    Color3B _realColor = Color3B::WHITE;
    Color3B _displayedColor = Color3B::WHITE;
    bool _cascadeOpacityEnabled = false;
    bool _cascadeColorEnabled = false;

    // cameras
    std::vector<unsigned short> _cameraFlags{DEFAULT_CAMERA_FLAG};
    bool _cameraVisitThroughChild = false;

    // services (retained)
    Scheduler* _scheduler;
    ActionManager* _actionManager;
    EventDispatcher* _eventDispatcher;
    EventListener* _returnKeyListener = nullptr;

    GLProgramState* _glProgramState = nullptr; // retained
    void* _userData = nullptr;
    Ref* _userObject = nullptr;
    std::string _userString;
};

} // namespace cocos2d
