// Camera: a node that looks into the scene; each visible camera of a scene draws it once per
// frame (one camera pass).
//
// Flags are identities, not bits: a camera draws a node exactly when the camera's flag is in the
// node's camera-flag set (Node::hasCameraFlag). CameraFlag::DEFAULT (1) is the default camera's.
//
// Passes run in ascending depth, then in the order the cameras entered the scene. User cameras
// have depth 0 and the default camera depth 1, so every user camera draws before the default
// camera and the 2D user interface lands on top. Each pass uses the whole framebuffer as
// viewport, clears only the depth buffer, visits the scene from the root and executes the
// collected commands; a camera squeezed into part of the window does so with its additional
// projection (and is clipped by scissor).
//
// Matrices: view = inverse of the camera's node-to-world transform (virtual getViewMatrix);
// view-projection = projection x view, where the projection already includes the additional
// projection (projection := extra x projection). OpenGL clip space, right-handed.
//
// A camera is plain CPU maths until it enters a scene: construction, projections, lookAt,
// project and unproject touch no GL and no shared state, so a renderer thread may use its own.
#pragma once

#include <cstdint>

#include "math/CCMath.h"
#include "node/CCNode.h"

namespace cocos2d {

class Scene;

enum class CameraFlag : unsigned short {
    DEFAULT = 1,
    USER1 = 1 << 1,
    USER2 = 1 << 2,
    USER3 = 1 << 3,
    USER4 = 1 << 4,
    USER5 = 1 << 5,
    USER6 = 1 << 6,
    USER7 = 1 << 7,
    USER8 = 1 << 8,
};

class Camera : public Node {
public:
    enum class Type { PERSPECTIVE = 1, ORTHOGRAPHIC = 2 };

    // A perspective camera set up as the default camera for the window size.
    static Camera* create();
    // fieldOfView in degrees (vertical).
    static Camera* createPerspective(float fieldOfView, float aspectRatio, float nearPlane, float farPlane);
    // zoomX, zoomY: the visible width and height, with (0, 0) at the bottom-left corner.
    static Camera* createOrthographic(float zoomX, float zoomY, float nearPlane, float farPlane);
    // [hook] A camera placed as the default camera of a window of the given design size:
    // perspective with a 60 degree field of view, looking down -z at the window's centre from the
    // distance at which the z = 0 plane maps one design unit to one unit of the window.
    static Camera* createDefault(const Size& winSize);

    bool initDefault();
    bool initDefault(const Size& winSize);
    // Places the camera as createDefault does, for a window of the given design size.
    void setDefaultView(const Size& winSize);
    bool initPerspective(float fieldOfView, float aspectRatio, float nearPlane, float farPlane);
    bool initOrthographic(float zoomX, float zoomY, float nearPlane, float farPlane);

    Type getType() const { return _type; }

    unsigned short getCameraFlag() const { return _cameraFlag; }
    void setCameraFlag(CameraFlag flag) { _cameraFlag = static_cast<unsigned short>(flag); }
    void setCameraFlag(unsigned short flag) { _cameraFlag = flag; }

    int8_t getDepth() const { return _depth; }
    void setDepth(int8_t depth);

    // Turns the camera so that its -z axis points from its position toward the target (both in
    // the parent's space) with the given up vector. The rotation replaces the node's Euler
    // rotation until setRotation or setRotation3D is called.
    virtual void lookAt(const Vec3& target, const Vec3& up = Vec3::UNIT_Y);
    const Mat4& getNodeToParentTransform() const override;
    void setRotation(float degrees) override;
    void setRotation3D(const Vec3& degrees) override;
    virtual const Mat4& getViewMatrix() const;
    // Paints what the camera shows behind the scene, after the pass's depth clear; nothing by
    // default (the colour buffer is cleared once per frame).
    virtual void clearBackground();
    // Sets the GL viewport for the pass: the whole framebuffer.
    virtual void applyViewport();
    // Moves the camera (a virtual alias of setPosition3D for subclasses that track a target).
    virtual void setCameraPosition(const Vec3& position) { setPosition3D(position); }

    const Mat4& getProjectionMatrix() const { return _projection; }
    const Mat4& getViewProjectionMatrix() const;
    // projection := extra x projection (compounds; rebuild the projection first to replace it).
    void setAdditionalProjection(const Mat4& mat);
    // [hook] True when the view-projection was recomputed since the last call.
    bool isViewProjectionUpdated() const { return _viewProjectionUpdated; }

    // World point to window point (design units, origin bottom-left).
    Vec2 project(const Vec3& src) const;
    // Window point (design units, origin bottom-left; z = depth 0..1) to world.
    void unproject(const Size& viewport, const Vec3* src, Vec3* dst) const;
    Vec3 unproject(const Vec3& src) const;

    float getFOV() const { return _fieldOfView; }
    float getAspectRatio() const { return _aspectRatio; }
    float getNearPlane() const { return _nearPlane; }
    float getFarPlane() const { return _farPlane; }

    // The camera of the pass in progress (also set during scene-graph touch and mouse dispatch),
    // or nullptr.
    static Camera* getVisitingCamera() { return _visitingCamera; }
    // [hook] Used by the renderer's passes and the event dispatcher.
    static void setVisitingCamera(Camera* camera) { _visitingCamera = camera; }
    // The running scene's default camera, or nullptr.
    static Camera* getDefaultCamera();
    // [hook] The projection programs use now: the visiting camera's view-projection, else a
    // projection that maps the window's design space to clip space.
    static const Mat4& getProjectionInForce();

    // The pass order: ascending depth, then the order of entering the scene.
    static bool drawsBefore(const Camera* a, const Camera* b)
    {
        return a->_depth != b->_depth ? a->_depth < b->_depth : a->_enterOrder < b->_enterOrder;
    }

    bool isDefaultCamera() const { return _isDefault; }
    // [hook] Order in which the camera entered its scene (pass order within one depth).
    unsigned int getEnterOrder() const { return _enterOrder; }

    void onEnter() override;
    void onExit() override;

    static Camera* _visitingCamera;

protected:
    Camera();
    ~Camera() override;

    // new + init + autorelease (null when init fails).
    template <class Init>
    static Camera* make(Init&& init);

    void markViewProjectionDirty() { _viewProjectionDirty = true; }

    Scene* _scene = nullptr; // the scene the camera registered with (weak)
    Mat4 _lookAtRotation;
    bool _hasLookAtRotation = false;
    mutable Mat4 _lookAtTransform;
    mutable Mat4 _projection;
    mutable Mat4 _view;
    mutable Mat4 _viewInv;
    mutable Mat4 _viewProjection;
    mutable bool _viewProjectionDirty = true;
    mutable bool _viewProjectionUpdated = false;
    unsigned short _cameraFlag = 1;
    float _fieldOfView = 60.0f;
    float _zoom[2] = {0.0f, 0.0f};
    float _aspectRatio = 1.0f;
    float _nearPlane = 1.0f;
    float _farPlane = 1000.0f;
    Type _type = Type::PERSPECTIVE;
    int8_t _depth = 0;
    bool _isDefault = false;
    unsigned int _enterOrder = 0;

    friend class Scene;
};

} // namespace cocos2d
