// isRenderWindowBase: one rectangular viewport inside a screen. A layout that clips its children
// with the scissor test and draws its 3D content through two cameras of its own (the scene
// camera for world-space nodes, the overlay camera for overlay nodes), so that several viewports
// can live side by side on one screen, each with its own projection, zoom, pan and orientation.
//
// Spaces:
// - world: patient millimetres, the space of the scene nodes and of the cameras' poses;
// - window: the window's node space, window units with the origin at its bottom-left corner;
//   the cameras' window points (x, y, depth 0 near to 1 far) are in this space;
// - screen: the director's design space (origin bottom-left), where touches and the mouse live.
//
// Each camera's full-window projection is squeezed into the window's rectangle by the viewport
// matrix, its additional projection. The cameras get camera flags of their own when the window
// enters a scene (the smallest integers from 2 that no camera of the scene uses), and the window's
// scene and overlay nodes are masked to them, so a window's content is never drawn in a
// neighbour's viewport. Plain children keep the default mask and are drawn by the scene's default
// camera in window units (texts, borders).
//
// Notifications, all with the window as context: 9098 when its rectangle changed, 9089 when its
// view moved (at most one pending), 9091 once per director frame in which it is drawn.
//
// Not a render window by itself: the image and volume viewers derive from the render window
// (isRenderWindow), which adds the actors, the interactor and the command handling.
// Main thread only.
#pragma once

#include "NSLayout.h"
#include "isCamera.h"
#include "isNodeObject.h"
#include "isNodeSprite.h"
#include "isRenderWindowHost.h"

#include "cocos2d.h"

#include <vector>

namespace isImageSDK {

// A matrix whose columns are the three axes and the origin (world space).
cocos2d::Mat4 frameFromColumns(const cocos2d::Vec3& x, const cocos2d::Vec3& y, const cocos2d::Vec3& z,
                               const cocos2d::Vec3& origin);

class isRenderWindowBase : public NSUI::NSLayout, public isNodeObject, public isRenderWindowHost {
public:
    // Interactive zoom: one step in or out, and the zoom ratios beyond which a step that would
    // go further is refused.
    static constexpr float kZoomInStep = 1.05f;
    static constexpr float kZoomOutStep = 0.95f;
    static constexpr float kMinZoomRatio = 0.1f;
    static constexpr float kMaxZoomRatio = 10.0f;
    // Gesture totals below this are no gesture at all.
    static constexpr float kGestureEpsilon = 0.001f;
    // Camera set-up of every window: vertical field of view (perspective only) and the near and
    // far planes, world units from the eye.
    static constexpr float kFieldOfView = 60.0f;
    static constexpr float kNearPlane = 100.0f;
    static constexpr float kFarPlane = 5000.0f;
    // Tile textures (22 x 22 texels) of the background behind the scene.
    static const char* const kBlackTile;
    static const char* const kWhiteTile;

    ~isRenderWindowBase() override;

    // Reference zoom 1, both cameras (the overlay camera with its own look-at view), the layout,
    // scissor clipping, and the black background tile as the first scene node.
    bool init() override;

    // Framework node operations.
    using NSUI::NSLayout::setPosition;
    // Moves the window, re-projects both cameras and posts 9098.
    void setPosition(float x, float y) override;
    // Resizes; when both sides exceed 1 the cameras are re-projected onto the new rectangle.
    // Posts 9098.
    void setContentSize(const cocos2d::Size& size) override;
    // Does not hide the node: a hidden window draws its background tile in front of its scene.
    void setVisible(bool shown) override;
    // The parent visits this window's cameras through its children.
    void setParent(cocos2d::Node* parent) override;
    // Camera flags (once per window) and the camera masks of the listed nodes.
    void onEnter() override;
    // The layout's cleanup, then every observer whose target is this window removed.
    void cleanup() override;
    // Draws only for the cameras that may see it; posts 9091 the first time in a frame.
    void visit(cocos2d::Renderer* renderer, const cocos2d::Mat4& parentTransform, uint32_t parentFlags) override;
    // The node's own rule, or the visiting camera is one of this window's.
    bool isVisitableByVisitingCamera() const override;

    // Overlay nodes become children (attach) or stop being children, with cleanup (detach); the
    // list stays either way.
    virtual void attachOverlayNodes();
    virtual void detachOverlayNodes();

    // isRenderWindowHost.
    cocos2d::Node* getHostNode() override { return this; }
    isCamera* getSceneCamera() override { return m_sceneCamera; }
    isCamera* getOverlayCamera() override { return m_overlayCamera; }
    void addSceneNode(cocos2d::Node* node) override;
    void removeSceneNode(cocos2d::Node* node) override;
    void addOverlayNode(cocos2d::Node* node) override;
    virtual void clearOverlayNodes();
    void removeOverlayNode(cocos2d::Node* node) override;

    // Camera operations. Points and vectors are world space unless said otherwise.
    // Both cameras move to the eye (keeping their target), then the edge letters and the tile
    // follow.
    virtual void setCameraPosition(const cocos2d::Vec3& eye);
    // Both cameras look at the target with that up vector, then the edge letters and the tile.
    virtual void lookAt(const cocos2d::Vec3& target, const cocos2d::Vec3& up);
    // The scene camera's view state: target, eye, up axis, view normal, right axis (three floats
    // each), eye distance, zoom.
    virtual void getCameraState(float out[17]);
    // The world point under a window point; false here (no surface to pick).
    virtual bool screenToWorld(const cocos2d::Vec2& window, cocos2d::Vec3& world);
    // The pick ray through a screen point (design space), direction normalised.
    virtual void screenToRay(const cocos2d::Vec2& screen, cocos2d::Vec3& origin, cocos2d::Vec3& direction);
    // Whether the shared cross point shows inside the window; always here.
    virtual bool isCrossPointVisible() { return true; }
    // Posts the edge letters of the current view; nothing here.
    virtual void updateOrientationLabels() {}

    // Both cameras store the target and look at it with their current up vector.
    void setLookAt(const cocos2d::Vec3& target);
    cocos2d::Vec3 getLookAtTarget() const;
    void getTargetAndUp(cocos2d::Vec3& target, cocos2d::Vec3& up) const;
    // A world point to window units through the scene camera.
    cocos2d::Vec2 worldToScreen(const cocos2d::Vec3& world) const;

    // Orthographic cameras only: both take the zoom (world units per window unit).
    void setZoom(float zoom);
    // A factor above 1 enlarges the picture. Posts the view change.
    void zoomBy(float factor);
    // The part of a zoom factor that keeps the zoom ratio within [kMinZoomRatio, kMaxZoomRatio]:
    // the factor itself inside, the factor that lands on the limit when it would pass it, and 1
    // when the ratio already lies at or beyond the limit it heads for.
    float limitZoomFactor(float factor) const;
    // Moves the view by a step in window units: the picture follows (dx, dy) reversed, as the
    // callers pass the negated drag. Nothing moves and nothing is posted when the surface under
    // the window cannot be picked.
    void panBy(float dx, float dy);
    // Centres the view on the point's foot on the view plane (written back). Posts the view change.
    void centerOn(cocos2d::Vec3& point);
    // Turns the eye about the target around the up axis, keeping its distance. Posts the view
    // change.
    void orbitY(float radians);
    // The zoom ratio is the reference zoom over the camera's zoom (orthographic) or over its eye
    // distance (perspective): 2 shows the picture twice as large as at the reference.
    void setZoomRatio(float ratio);
    float getZoomRatio() const;
    float getReferenceZoom() const { return m_referenceZoom; }
    void setReferenceZoom(float zoom) { m_referenceZoom = zoom; }

    // The background tile shows white (an inverted grey scale) or black around the picture.
    void setBackgroundWhite(bool white);
    bool isBackgroundWhite() const { return m_tileWhite; }
    bool isShown() const { return m_shown; }
    isNodeSprite* getBackgroundTile() const { return m_tile; }
    const std::vector<cocos2d::Node*>& getSceneNodes() const { return m_sceneNodes; }
    const std::vector<cocos2d::Node*>& getOverlayNodes() const { return m_overlayNodes; }
    // The viewport matrix the cameras use as their additional projection.
    const cocos2d::Mat4& getViewportMatrix() const { return m_viewportMatrix; }

protected:
    isRenderWindowBase() = default;

    // The context of this window's notifications (the window as a framework node).
    void* context() { return getNotificationContext(); }
    // Cancels this window's pending 9089 and posts a fresh one.
    void postViewChanged();
    void postResized();
    // Rebuilds the viewport matrix for the current world position and size and re-projects both
    // cameras with it.
    void reproject();
    // Lays the background tile parallel to the view plane, at the back when shown, just behind
    // the near plane (covering the scene) when not.
    void placeTile();
    cocos2d::Vec3 windowWorldPosition() const;

    std::vector<cocos2d::Node*> m_sceneNodes;
    std::vector<cocos2d::Node*> m_overlayNodes;
    float m_referenceZoom = 1.0f;
    isCamera* m_sceneCamera = nullptr;
    isCamera* m_overlayCamera = nullptr;
    unsigned int m_lastDrawnFrame = 0;
    bool m_drawnOnce = false;
    isNodeSprite* m_tile = nullptr;
    bool m_tileWhite = false;
    bool m_shown = true;

private:
    void assignCameraFlag(isCamera* camera);

    cocos2d::Mat4 m_viewportMatrix;
    // The world position and size the viewport matrix was built for.
    cocos2d::Vec3 m_projectedPosition;
    cocos2d::Size m_projectedSize;
    bool m_projected = false;
};

} // namespace isImageSDK
