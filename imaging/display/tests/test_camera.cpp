// The camera's look-at model and its conversions between window points and world points,
// computed on the CPU (no GL needed): the pose after init, round trips at every depth, the
// zoom, picking rays, the view plane, and fitting a plane into the view.
#include "isCamera.h"

#include "cocos2d.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace isImageSDK;
using cocos2d::Vec3;

namespace {

class Camera : public ::testing::Test {
protected:
    void SetUp() override
    {
        cocos2d::Director::getInstance()->setOpenGLView(cocos2d::GLViewHeadless::create(cocos2d::Size(640, 480)));
        camera = isCamera::create();
        ASSERT_NE(camera, nullptr);
        camera->retain();
    }
    void TearDown() override
    {
        camera->release();
        cocos2d::Director::destroyInstance();
    }
    // A render window's scene camera: 400 x 300 units, eye 1000 mm in front of the target.
    void placeWindowCamera(const Vec3& target, const Vec3& normal, const Vec3& up)
    {
        camera->setPosition3D(target - normal * 1000.0f);
        camera->lookAt(target, up);
        camera->setupProjection(60.0f, 400.0f, 300.0f, 100.0f, 5000.0f, cocos2d::Mat4::IDENTITY);
    }

    isCamera* camera = nullptr;
};

void expectNear(const Vec3& a, const Vec3& b, float tolerance, const char* what)
{
    EXPECT_NEAR(a.x, b.x, tolerance) << what;
    EXPECT_NEAR(a.y, b.y, tolerance) << what;
    EXPECT_NEAR(a.z, b.z, tolerance) << what;
}

} // namespace

TEST_F(Camera, StartsBehindTheOriginWithWorldYDownOnScreen)
{
    expectNear(camera->getEye(), Vec3(0, 0, -1), 1e-6f, "eye");
    expectNear(camera->getLookAtTarget(), Vec3(0, 0, 0), 1e-6f, "target");
    expectNear(camera->getUpVector(), Vec3(0, -1, 0), 1e-6f, "up");
    expectNear(camera->getViewNormal(), Vec3(0, 0, 1), 1e-6f, "normal");
    expectNear(camera->getViewRight(), Vec3(1, 0, 0), 1e-6f, "right");
    EXPECT_FLOAT_EQ(camera->getDistance(), 1.0f);
    EXPECT_FLOAT_EQ(camera->getZoom(), 1.0f);
    EXPECT_FALSE(camera->isPerspective());
    EXPECT_FALSE(camera->isUseLookAtView());
    EXPECT_FLOAT_EQ(camera->getFOV(), 60.0f);
    EXPECT_FLOAT_EQ(camera->getNearPlane(), 1.0f);
    EXPECT_FLOAT_EQ(camera->getFarPlane(), 1000.0f);

    // Window y grows upward, world y downward: a point below the target in the world is
    // above the window's centre.
    placeWindowCamera(Vec3(0, 0, 0), Vec3(0, 0, 1), Vec3(0, -1, 0));
    Vec3 window;
    camera->worldToScreen(Vec3(10, 20, 0), &window);
    EXPECT_NEAR(window.x, 210.0f, 1e-3);
    EXPECT_NEAR(window.y, 130.0f, 1e-3);

    float state[17];
    camera->getViewState(state);
    EXPECT_FLOAT_EQ(state[5], -1000.0f);   // eye z
    EXPECT_FLOAT_EQ(state[15], 1000.0f);   // distance
    EXPECT_FLOAT_EQ(state[16], 1.0f);      // zoom
}

TEST_F(Camera, WindowAndWorldPointsRoundTripAtEveryDepthAndZoom)
{
    // An oblique view: looking along a tilted normal at a point off the origin.
    Vec3 normal(0.3f, -0.2f, 0.9f);
    normal.normalize();
    placeWindowCamera(Vec3(12, -40, 7), normal, Vec3(0, -1, 0));
    for (bool perspective : {false, true}) {
        camera->setPerspective(perspective);
        camera->setupProjection(60.0f, 400.0f, 300.0f, 100.0f, 5000.0f, cocos2d::Mat4::IDENTITY);
        for (float zoom : {1.0f, 0.5f, 3.0f}) {
            if (!perspective)
                camera->setZoom(zoom);
            for (float depth : {0.0f, 0.25f, 0.5f, 0.999f}) {
                for (const auto& w : {Vec3(0, 0, depth), Vec3(400, 300, depth), Vec3(123.5f, 77.25f, depth)}) {
                    Vec3 world, back;
                    camera->screenToWorld(w, &world);
                    camera->worldToScreen(world, &back);
                    EXPECT_NEAR(back.x, w.x, 0.05) << perspective << " " << zoom << " " << depth;
                    EXPECT_NEAR(back.y, w.y, 0.05) << perspective << " " << zoom << " " << depth;
                    EXPECT_NEAR(back.z, w.z, 1e-3) << perspective << " " << zoom << " " << depth;
                }
            }
        }
    }
}

TEST_F(Camera, ZoomScalesTheVisibleWorldAndRaysRunAlongTheView)
{
    placeWindowCamera(Vec3(0, 0, 0), Vec3(0, 0, 1), Vec3(0, -1, 0));
    auto visibleWidth = [&] {
        Vec3 left, right;
        camera->screenToWorld(Vec3(0, 150, 0.5f), &left);
        camera->screenToWorld(Vec3(400, 150, 0.5f), &right);
        return left.distance(right);
    };
    EXPECT_NEAR(visibleWidth(), 400.0f, 1e-2);
    camera->setZoom(2.0f);
    EXPECT_NEAR(visibleWidth(), 800.0f, 1e-2);
    EXPECT_TRUE(camera->isChanged());

    // An orthographic pick ray is the view normal, from the near plane.
    Vec3 origin, direction;
    camera->getPickRay(cocos2d::Vec2(100, 100), &origin, &direction);
    expectNear(direction, Vec3(0, 0, 1), 1e-5f, "direction");
    EXPECT_NEAR(origin.z, -900.0f, 1e-2);

    // The view plane passes through the target; a point on it stays put.
    Vec3 foot;
    camera->projectOntoViewPlane(Vec3(5, 6, 70), &foot);
    expectNear(foot, Vec3(5, 6, 0), 1e-5f, "foot");
    camera->projectOntoViewPlane(foot, &foot);
    expectNear(foot, Vec3(5, 6, 0), 1e-5f, "foot on the plane");

    Vec3 local(3, 4, 0);
    camera->worldToCameraLocal(&local);
    // Camera frame: right = +x, up = -y, backward = -z, eye at z = -1000.
    expectNear(local, Vec3(3, -4, -1000), 1e-3f, "local");

    Vec3 cross;
    crossVec3(&cross, Vec3(1, 0, 0), Vec3(0, 1, 0));
    expectNear(cross, Vec3(0, 0, 1), 0, "cross");
}

TEST_F(Camera, FitsAPlaneIntoTheView)
{
    placeWindowCamera(Vec3(0, 0, 0), Vec3(0, 0, 1), Vec3(0, -1, 0));
    // 800 x 300 mm in a 400 x 300 view: the width limits, zoom 2.
    const float wide[12] = {-400, -150, 0, 400, -150, 0, 400, 150, 0, -400, 150, 0};
    EXPECT_NEAR(camera->computeFitZoom(wide), 2.0, 1e-6);
    // 100 x 600 mm: the height limits, zoom 2.
    const float tall[12] = {-50, -300, 0, 50, -300, 0, 50, 300, 0, -50, 300, 0};
    EXPECT_NEAR(camera->computeFitZoom(tall), 2.0, 1e-6);
    // Thinner than half a millimetre, or in perspective: 1.
    const float thin[12] = {-400, 0, 0, 400, 0, 0, 400, 0.2f, 0, -400, 0.2f, 0};
    EXPECT_EQ(camera->computeFitZoom(thin), 1.0);
    EXPECT_NEAR(camera->computeFitDistance(wide), 100.0 + (5000.0 - 100.0) * 0.5, 1e-3);

    camera->setPerspective(true);
    camera->setupProjection(60.0f, 400.0f, 300.0f, 100.0f, 5000.0f, cocos2d::Mat4::IDENTITY);
    EXPECT_EQ(camera->computeFitZoom(wide), 1.0);
    // Half of the limiting extent over tan(30 degrees).
    EXPECT_NEAR(camera->computeFitDistance(tall), 300.0 / std::tan(30.0 / 180.0 * M_PI), 0.1);
    const float tiny[12] = {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0};
    const float huge[12] = {-1e5f, -1e5f, 0, 1e5f, -1e5f, 0, 1e5f, 1e5f, 0, -1e5f, 1e5f, 0};
    for (const float* corners : {tiny, huge, thin}) {
        const double d = camera->computeFitDistance(corners);
        EXPECT_GT(d, 100.0);
        EXPECT_LT(d, 5000.0);
    }
}

TEST_F(Camera, LookAtViewIsTheInverseOfThePose)
{
    placeWindowCamera(Vec3(1, 2, 3), Vec3(0, 0, 1), Vec3(0, -1, 0));
    camera->setUseLookAtView(true);
    const cocos2d::Mat4 view = camera->getViewMatrix();
    cocos2d::Vec3 eye = camera->getEye();
    view.transformPoint(&eye);
    expectNear(eye, Vec3(0, 0, 0), 1e-3f, "eye in view space");
    cocos2d::Vec3 target(1, 2, 3);
    view.transformPoint(&target);
    expectNear(target, Vec3(0, 0, -1000), 1e-3f, "target in view space");

    // A move through setCameraPosition is seen by the next view.
    camera->setCameraPosition(Vec3(1, 2, -97));
    cocos2d::Vec3 moved(1, 2, 3);
    camera->getViewMatrix().transformPoint(&moved);
    expectNear(moved, Vec3(0, 0, -100), 1e-3f, "target after the move");
}
