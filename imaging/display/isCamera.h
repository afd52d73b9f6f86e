// isCamera: the camera of a render window (one for its scene, one for its overlay) and of
// the volume viewer.
//
// A look-at model: the camera stands at its position (world space: patient coordinates in
// millimetres), looks at its target and keeps its up vector; its node transform is the
// look-at matrix (columns right, true up, backward, eye). The normal projection is
// orthographic, viewWidth x viewHeight window units scaled by the zoom and centred on the
// target; the volume renderer switches on perspective. The render window passes its
// viewport matrix as the additional projection (it squeezes the full-window projection into
// the window's rectangle).
//
// Window coordinates have their origin at the bottom-left corner of the window, in window
// units; depth 0 is the near plane and 1 the far plane.
//
// After `init` the camera stands at (0, 0, -1) looking at the origin with up (0, -1, 0): the
// view normal is +z, and world y grows downward on screen while window y grows upward.
//
// CPU maths only until the camera enters a scene, so a render thread may use a camera of its
// own; a camera in a scene is used on the main thread only.
#pragma once

#include "isNodeObject.h"

#include "cocos2d.h"

namespace isImageSDK {

class isCamera : public cocos2d::Camera, public isNodeObject {
public:
    // Allocated, init()ed and autoreleased; null when init fails.
    CREATE_FUNC(isCamera);

    // Pose (0, 0, -1) -> origin, up (0, -1, 0); zoom 1; view 1 x 1; field of view 60, near 1,
    // far 1000; orthographic; no additional projection; framework view.
    bool init() override;

    // Moves the camera and turns it to keep facing its target.
    void setPosition3D(const cocos2d::Vec3& position) override;
    // Looks at the target with the up vector; records the pose and the derived view axes.
    void lookAt(const cocos2d::Vec3& target, const cocos2d::Vec3& up) override;
    const cocos2d::Mat4& getNodeToParentTransform() const override;
    // With useLookAtView, the inverse of the look-at matrix (rebuilt only after a pose
    // change); otherwise the framework's view.
    const cocos2d::Mat4& getViewMatrix() const override;
    // The render windows clear nothing per pass of these cameras.
    void clearBackground() override {}
    void applyViewport() override;
    // Marks the view changed, then moves the camera.
    void setCameraPosition(const cocos2d::Vec3& position) override;

    // Orthographic (zoom-scaled, centred) or perspective projection of a width x height view,
    // then the additional projection `extra`. Returns true.
    bool setupProjection(float fieldOfView, float width, float height, float nearPlane, float farPlane,
                         const cocos2d::Mat4& extra);
    void setZoom(float zoom);

    // Window point (x, y, depth) to world.
    void screenToWorld(const cocos2d::Vec3& window, cocos2d::Vec3* world) const;
    // World point to window point (x, y, depth).
    void worldToScreen(const cocos2d::Vec3& world, cocos2d::Vec3* window) const;
    // The ray through a window point, from the near plane, direction normalised.
    void getPickRay(const cocos2d::Vec2& window, cocos2d::Vec3* origin, cocos2d::Vec3* direction) const;
    // A world point in the camera's own frame (written back).
    void worldToCameraLocal(cocos2d::Vec3* point) const;
    // The foot of a world point on the plane through the target perpendicular to the view.
    void projectOntoViewPlane(const cocos2d::Vec3& point, cocos2d::Vec3* out) const;

    // The zoom that makes the plane with these four corners (x, y, z each, world) fill the
    // view along its limiting direction; 1 for a degenerate plane or in perspective.
    double computeFitZoom(const float corners[12]) const;
    // The eye distance that fits the plane in perspective (kept inside (near, far)); the
    // middle of near and far when orthographic.
    double computeFitDistance(const float corners[12]) const;

    cocos2d::Mat4 getAdditionalProjection() const { return m_extraProjection; }
    cocos2d::Vec3 getLookAtTarget() const { return m_target; }
    cocos2d::Vec3 getUpVector() const { return m_up; }
    cocos2d::Vec3 getViewNormal() const { return m_viewNormal; }
    cocos2d::Vec3 getViewRight() const { return m_viewRight; }
    cocos2d::Vec3 getEye() const { return getPosition3D(); }
    // The view state handed between linked views: target, eye, up, view normal, right axis
    // (three floats each), eye distance, zoom.
    void getViewState(float out[17]) const;

    bool isPerspective() const { return m_perspective; }
    void setPerspective(bool perspective) { m_perspective = perspective; }
    bool isUseLookAtView() const { return m_useLookAtView; }
    void setUseLookAtView(bool use);
    float getZoom() const { return m_zoom; }
    float getDistance() const { return m_distance; }
    float getViewWidth() const { return m_viewWidth; }
    float getViewHeight() const { return m_viewHeight; }
    // Set by every projection or pose change; viewers and the volume actor read and clear it.
    bool isChanged() const { return m_changed; }
    void setChanged(bool changed) { m_changed = changed; }
    // Marks the look-at view for recomputation.
    void markViewDirty() { m_viewDirty = true; }

protected:
    isCamera() = default;
    ~isCamera() override = default;

    // View-projection of the conversions: the projection without the additional projection
    // (rebuilt from the view size and zoom, or the perspective) times the inverse pose.
    cocos2d::Mat4 conversionMatrix() const;
    cocos2d::Mat4 orthographicProjection() const;

    cocos2d::Vec3 m_target;
    cocos2d::Vec3 m_up;
    float m_viewWidth = 1.0f;
    float m_viewHeight = 1.0f;
    cocos2d::Mat4 m_extraProjection;
    bool m_useLookAtView = false;
    mutable bool m_viewDirty = true;
    cocos2d::Vec3 m_savedTarget{0.0f, 0.0f, 0.0f};
    cocos2d::Vec3 m_savedPosition{0.0f, 0.0f, -1.0f};
    cocos2d::Vec3 m_savedUp{0.0f, -1.0f, 0.0f};
    cocos2d::Vec3 m_viewNormal{0.0f, 0.0f, 1.0f};
    cocos2d::Vec3 m_viewRight{1.0f, 0.0f, 0.0f};
    float m_distance = 1.0f;
    float m_zoom = 1.0f;
    float m_lastZoom = 1.0f;
    bool m_perspective = false;
    bool m_changed = false;
};

// out = a x b.
void crossVec3(cocos2d::Vec3* out, const cocos2d::Vec3& a, const cocos2d::Vec3& b);

} // namespace isImageSDK
