// The render window base on the headless view: camera flags per window, the viewport matrix and
// the resize notice, the background tile of a hidden window, the camera moves and their
// view-changed notice, and the once-per-frame drawn notice.
#include "support/TestWindow.h"
#include "support/ViewerRig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace isImageSDK;
using cocos2d::Size;
using cocos2d::Vec2;
using cocos2d::Vec3;
using qvtest::TestWindow;

namespace {

class RenderWindowBase : public ::testing::Test {
protected:
    void SetUp() override
    {
        cocos2d::Director::getInstance()->setOpenGLView(cocos2d::GLViewHeadless::create(Size(960, 640)));
        rig.start();
    }
    void TearDown() override { rig.stop(); }

    TestWindow* add(const Size& size, const Vec2& position)
    {
        TestWindow* window = TestWindow::create(size, position, false);
        rig.scene->addChild(window);
        return window;
    }

    qvtest::ViewerRig rig;
};

void expectNear(const Vec3& a, const Vec3& b, float tolerance = 1e-3f)
{
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
}

TEST_F(RenderWindowBase, CameraFlagsStayUniqueAsWindowsComeAndGo)
{
    TestWindow* a = add(Size(400, 300), Vec2(0, 0));
    TestWindow* b = add(Size(400, 300), Vec2(500, 0));
    EXPECT_EQ(a->getSceneCamera()->getCameraFlag(), 2);
    EXPECT_EQ(a->getOverlayCamera()->getCameraFlag(), 3);
    EXPECT_EQ(b->getSceneCamera()->getCameraFlag(), 4);
    EXPECT_EQ(b->getOverlayCamera()->getCameraFlag(), 5);
    // The tile, a scene node, is drawn by its own window's scene camera only.
    EXPECT_TRUE(b->getBackgroundTile()->hasCameraFlag(4));
    EXPECT_FALSE(b->getBackgroundTile()->hasCameraFlag(1));
    EXPECT_FALSE(b->getBackgroundTile()->hasCameraFlag(2));

    rig.remove(a);
    TestWindow* c = add(Size(400, 300), Vec2(0, 320));
    EXPECT_EQ(c->getSceneCamera()->getCameraFlag(), 2);
    EXPECT_EQ(c->getOverlayCamera()->getCameraFlag(), 3);
    TestWindow* d = add(Size(100, 100), Vec2(800, 500));
    EXPECT_EQ(d->getSceneCamera()->getCameraFlag(), 6);
    EXPECT_EQ(d->getOverlayCamera()->getCameraFlag(), 7);
    // A node added after entering gets the flag at once.
    auto* node = cocos2d::Node::create();
    d->addSceneNode(node);
    EXPECT_TRUE(node->hasCameraFlag(6));
    d->removeSceneNode(node);
    EXPECT_EQ(d->getSceneNodes().size(), 1u);
}

TEST_F(RenderWindowBase, ViewportMatrixAndResizeNotice)
{
    rig.recorder->watch(NOTIFY_WINDOW_RESIZED, nullptr);
    TestWindow* w = add(Size(200, 100), Vec2(100, 50));
    // Normal notices arrive one per frame: let those of the set-up pass.
    rig.frame(4);
    rig.recorder->got.clear();

    // The full-window projection lands on the window's rectangle in device coordinates.
    cocos2d::Vec4 lowerLeft(-1, -1, 0, 1), upperRight(1, 1, 0, 1);
    w->getViewportMatrix().transformVector(&lowerLeft);
    w->getViewportMatrix().transformVector(&upperRight);
    EXPECT_NEAR(lowerLeft.x, 2.0f * 100 / 960 - 1, 1e-5);
    EXPECT_NEAR(lowerLeft.y, 2.0f * 50 / 640 - 1, 1e-5);
    EXPECT_NEAR(upperRight.x, 2.0f * 300 / 960 - 1, 1e-5);
    EXPECT_NEAR(upperRight.y, 2.0f * 150 / 640 - 1, 1e-5);

    w->setPosition(Vec2(120, 60));
    rig.frame(2);
    ASSERT_EQ(rig.recorder->count(NOTIFY_WINDOW_RESIZED), 1u);
    EXPECT_EQ(rig.recorder->got[0].object, w);
    EXPECT_EQ(rig.recorder->got[0].sender, w);

    // An empty window re-projects nothing, and a move still announces itself once.
    rig.recorder->got.clear();
    const cocos2d::Mat4 before = w->getViewportMatrix();
    w->setContentSize(Size(0, 0));
    rig.frame(2);
    EXPECT_EQ(rig.recorder->count(NOTIFY_WINDOW_RESIZED), 0u);
    w->setPosition(Vec2(10, 10));
    rig.frame(2);
    EXPECT_EQ(rig.recorder->count(NOTIFY_WINDOW_RESIZED), 1u);
    EXPECT_EQ(std::memcmp(before.m, w->getViewportMatrix().m, sizeof before.m), 0);

    // Moving the parent moves the window on the screen: the next draw re-projects.
    w->setContentSize(Size(200, 100));
    auto* holder = cocos2d::Node::create();
    rig.scene->addChild(holder);
    w->retain();
    w->removeFromParentAndCleanup(false);
    holder->addChild(w);
    w->release();
    holder->setPosition(Vec2(300, 0));
    rig.frame();
    lowerLeft.set(-1, -1, 0, 1);
    w->getViewportMatrix().transformVector(&lowerLeft);
    EXPECT_NEAR(lowerLeft.x, 2.0f * 310 / 960 - 1, 1e-5);
}

TEST_F(RenderWindowBase, HiddenWindowCoversItsSceneWithTheTile)
{
    TestWindow* w = add(Size(400, 300), Vec2(0, 0));
    auto tileDepth = [w] {
        const cocos2d::Mat4& m = w->getBackgroundTile()->getNodeMatrix();
        Vec3 screen;
        w->getSceneCamera()->worldToScreen(Vec3(m.m[12], m.m[13], m.m[14]), &screen);
        return screen;
    };
    EXPECT_NEAR(tileDepth().z, 0.999f, 1e-4);
    // At the window's top-left corner, large enough to cover the window.
    EXPECT_NEAR(tileDepth().x, 0.0f, 1e-2);
    EXPECT_NEAR(tileDepth().y, 300.0f, 1e-2);
    EXPECT_GT(w->getBackgroundTile()->getScale() * 22.0f, 500.0f);

    w->setVisible(false);
    EXPECT_TRUE(w->cocos2d::Node::isVisible());
    EXPECT_FALSE(w->isShown());
    EXPECT_NEAR(tileDepth().z, 0.001f, 1e-4);
    w->setVisible(true);
    EXPECT_NEAR(tileDepth().z, 0.999f, 1e-4);

    // The tile follows the view: after a zoom it still covers the window exactly.
    w->zoomBy(4.0f);
    EXPECT_NEAR(tileDepth().x, 0.0f, 1e-2);
    EXPECT_NEAR(tileDepth().y, 300.0f, 1e-2);
    w->setBackgroundWhite(true);
    EXPECT_TRUE(w->isBackgroundWhite());
    EXPECT_NEAR(tileDepth().x, 0.0f, 1e-2);
}

TEST_F(RenderWindowBase, ZoomKeepsOneViewChangePendingAndItsRatio)
{
    TestWindow* w = add(Size(400, 300), Vec2(0, 0));
    rig.recorder->watch(NOTIFY_VIEW_CHANGED, w);
    rig.frame();
    rig.recorder->got.clear();
    for (int i = 0; i < 10; ++i)
        w->zoomBy(1.1f);
    rig.frame(5);
    EXPECT_EQ(rig.recorder->count(NOTIFY_VIEW_CHANGED), 1u);
    EXPECT_NEAR(w->getZoomRatio(), std::pow(1.1f, 10.0f), 1e-3);
    w->setZoomRatio(0.5f);
    EXPECT_NEAR(w->getZoomRatio(), 0.5f, 1e-6);
    EXPECT_NEAR(w->getSceneCamera()->getZoom(), 2.0f, 1e-6);
    EXPECT_NEAR(w->getOverlayCamera()->getZoom(), 2.0f, 1e-6);
    // Factors that would put the camera at infinity are refused.
    w->zoomBy(0.0f);
    w->zoomBy(-2.0f);
    EXPECT_NEAR(w->getZoomRatio(), 0.5f, 1e-6);
}

TEST_F(RenderWindowBase, PanMovesTheViewByScreenUnitsOnlyWhereThereIsSurface)
{
    TestWindow* w = add(Size(400, 300), Vec2(0, 0));
    rig.recorder->watch(NOTIFY_VIEW_CHANGED, w);
    rig.frame();
    rig.recorder->got.clear();

    const Vec2 before = w->worldToScreen(Vec3::ZERO);
    // A drag of 30 to the right and 20 up arrives as (-30, 20): the picture follows the drag.
    w->panBy(-30.0f, 20.0f);
    const Vec2 after = w->worldToScreen(Vec3::ZERO);
    EXPECT_NEAR(after.x - before.x, 30.0f, 1e-2);
    EXPECT_NEAR(after.y - before.y, 20.0f, 1e-2);
    expectNear(w->getLookAtTarget(), Vec3(-30.0f, 20.0f, 0.0f));
    rig.frame(2);
    EXPECT_EQ(rig.recorder->count(NOTIFY_VIEW_CHANGED), 1u);

    // Zero moves nothing but still announces the view.
    rig.recorder->got.clear();
    w->panBy(0.0f, 0.0f);
    expectNear(w->getLookAtTarget(), Vec3(-30.0f, 20.0f, 0.0f));
    rig.frame(2);
    EXPECT_EQ(rig.recorder->count(NOTIFY_VIEW_CHANGED), 1u);

    // Without a surface to pick nothing moves and nothing is announced.
    rig.recorder->got.clear();
    w->pickable = false;
    w->panBy(50.0f, 50.0f);
    expectNear(w->getLookAtTarget(), Vec3(-30.0f, 20.0f, 0.0f));
    rig.frame(2);
    EXPECT_EQ(rig.recorder->count(NOTIFY_VIEW_CHANGED), 0u);
}

TEST_F(RenderWindowBase, CentreAndOrbitKeepTheDistance)
{
    TestWindow* w = add(Size(400, 300), Vec2(0, 0));
    Vec3 point(10.0f, 20.0f, 300.0f);
    w->centerOn(point);
    expectNear(point, Vec3(10.0f, 20.0f, 0.0f));
    expectNear(w->getLookAtTarget(), point);
    expectNear(w->getSceneCamera()->getEye(), Vec3(10.0f, 20.0f, -1000.0f));

    w->orbitY(static_cast<float>(M_PI / 2));
    expectNear(w->getLookAtTarget(), point);
    expectNear(w->getSceneCamera()->getEye(), Vec3(1010.0f, 20.0f, 0.0f), 1e-2f);
    float state[17];
    w->getCameraState(state);
    EXPECT_NEAR(state[15], 1000.0f, 1e-2);
    // The overlay camera follows the same pose.
    expectNear(w->getOverlayCamera()->getEye(), w->getSceneCamera()->getEye(), 1e-2f);
}

TEST_F(RenderWindowBase, DrawnOncePerFrameWhateverTheCameras)
{
    TestWindow* w = add(Size(400, 300), Vec2(0, 0));
    rig.recorder->watch(NOTIFY_RENDER_WINDOW_UPDATED, w);
    rig.frame(3);
    rig.recorder->got.clear();
    rig.frame(4);
    // Delivered in the frame after each drawn frame.
    EXPECT_EQ(rig.recorder->count(NOTIFY_RENDER_WINDOW_UPDATED), 4u);
}

} // namespace
