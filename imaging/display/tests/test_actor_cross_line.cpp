// The cross-line actor in headless windows: reference lines placed where the other planes cut
// this one, following only their own window's notices and recomputed once per window update,
// the gap around the centre, the hide timer, the border and corner marker, and the manager's
// getters for it.
#include "isActorCrossLine.h"
#include "isActorManager.h"
#include "support/DisplayScene.h"
#include "support/FakeRenderWindow.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

using namespace isImageSDK;
using cocos2d::Color4B;
using cocos2d::Color4F;
using cocos2d::Vec3;
using NSUI::NSNotificationCenter;
using NSUI::NSNotificationData;

namespace {

class CrossLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig.startHeadless();
        rig.lookAt(0, 0);
        for (auto*& window : windows) {
            window = qvtest::FakeRenderWindow::create();
            window->setContentSize(cocos2d::Size(300, 200));
            window->sceneCamera = rig.camera;
            rig.scene->addChild(window);
        }
        actor = isActorCrossLine::create();
        actor->retain();
        actor->attachRenderWindow(windows[0]);
    }
    void TearDown() override
    {
        if (actor)
            actor->release();
        rig.stop();
    }

    // The oblique-plane notice: axes a and b in the plane, normal n, centre c.
    static std::string plane(const Vec3& a, const Vec3& b, const Vec3& n, const Vec3& c)
    {
        char text[512];
        std::snprintf(text, sizeof text,
                      "{\"nx1\":\"%g\",\"nx2\":\"%g\",\"nx3\":\"%g\",\"ny1\":\"%g\",\"ny2\":\"%g\",\"ny3\":\"%g\","
                      "\"nz1\":\"%g\",\"nz2\":\"%g\",\"nz3\":\"%g\",\"x\":\"%g\",\"y\":\"%g\",\"z\":\"%g\"}",
                      a.x, a.y, a.z, b.x, b.y, b.z, n.x, n.y, n.z, c.x, c.y, c.z);
        return text;
    }

    const std::vector<isNodeLine::Vertex>& lines() { return actor->getReferenceLines()->getVertices(); }

    // The segment's ends and colour as drawn.
    static void expectSegment(const isNodeLine::Vertex* v, const Vec3& from, const Vec3& to, const Color4F& colour)
    {
        EXPECT_NEAR(v[0].position.distance(from), 0.0f, 1e-2f) << v[0].position.x << "," << v[0].position.y
                                                                 << "," << v[0].position.z;
        EXPECT_NEAR(v[1].position.distance(to), 0.0f, 1e-1f);
        EXPECT_EQ(v[0].color, Color4B(colour));
        EXPECT_EQ(v[1].color, Color4B(colour));
    }

    qvtest::DisplayScene rig;
    qvtest::FakeRenderWindow* windows[2] = {};
    isActorCrossLine* actor = nullptr;
};

} // namespace

TEST_F(CrossLine, LinesRunThroughTheCentreAlongTheOtherPlanesOncePerUpdate)
{
    actor->setCrossLinesVisible(true);
    ASSERT_NE(actor->getReferenceLines(), nullptr);
    ASSERT_EQ(windows[0]->sceneNodes.size(), 1u);
    EXPECT_EQ(windows[0]->sceneNodes[0], actor->getReferenceLines());
    EXPECT_EQ(actor->getReferenceLines()->getLineWidth(), 4);

    // Nothing is drawn before the window's update, and the other window's notices are not ours.
    const Vec3 c(10, 20, 30);
    rig.post(windows[0], NOTIFY_OBLIQUE_PLANE, plane(Vec3(0, 1, 0), Vec3(0, 0, 1), Vec3(1, 0, 0), c));
    rig.post(windows[1], NOTIFY_OBLIQUE_PLANE, plane(Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1), Vec3(-5, -5, -5)));
    rig.post(windows[1], NOTIFY_RENDER_WINDOW_UPDATED);
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(actor->getPlaneFrame().m[12], 10.0f);

    rig.post(windows[0], NOTIFY_RENDER_WINDOW_UPDATED);
    ASSERT_EQ(lines().size(), 8u);
    EXPECT_TRUE(actor->getReferenceLines()->isVisible());
    EXPECT_FALSE(actor->isLinesDirty());
    // One world millimetre per window unit: the gap is 30 mm on either side of the centre. The
    // acquired plane's window shows the two reformats' colours.
    const Color4F a = actor->getBorderColor(2), b = actor->getBorderColor(1);
    expectSegment(&lines()[0], c + Vec3(0, 30, 0), c + Vec3(0, 10000, 0), a);
    expectSegment(&lines()[2], c - Vec3(0, 30, 0), c - Vec3(0, 10000, 0), a);
    expectSegment(&lines()[4], c + Vec3(0, 0, 30), c + Vec3(0, 0, 10000), b);
    expectSegment(&lines()[6], c - Vec3(0, 0, 30), c - Vec3(0, 0, 10000), b);

    // An update without a new notice recomputes nothing, even when the view zoomed meanwhile.
    rig.camera->setZoom(2.0f);
    rig.lookAt(0, 0);
    rig.post(windows[0], NOTIFY_RENDER_WINDOW_UPDATED);
    expectSegment(&lines()[0], c + Vec3(0, 30, 0), c + Vec3(0, 10000, 0), a);

    // After a view change the gap keeps 30 window units; zoomed far in it stays at 2 mm.
    rig.post(windows[0], NOTIFY_VIEW_CHANGED);
    rig.post(windows[0], NOTIFY_RENDER_WINDOW_UPDATED);
    ASSERT_EQ(lines().size(), 8u);
    const float zoomedGap = lines()[0].position.distance(c);
    EXPECT_TRUE(std::abs(zoomedGap - 15.0f) < 0.1f || std::abs(zoomedGap - 60.0f) < 0.1f) << zoomedGap;
    rig.camera->setZoom(zoomedGap < 30 ? 1000.0f : 0.001f);
    rig.lookAt(0, 0);
    rig.post(windows[0], NOTIFY_VIEW_CHANGED);
    rig.post(windows[0], NOTIFY_RENDER_WINDOW_UPDATED);
    EXPECT_NEAR(lines()[0].position.distance(c), 2.0f, 1e-3f);

    // The reformat windows draw the two planes other than their own.
    actor->setBorderColorIndex(1);
    rig.post(windows[0], NOTIFY_VIEW_CHANGED);
    rig.post(windows[0], NOTIFY_RENDER_WINDOW_UPDATED);
    EXPECT_EQ(lines()[0].color, Color4B(actor->getBorderColor(2)));
    EXPECT_EQ(lines()[4].color, Color4B(actor->getBorderColor(0)));
    actor->setBorderColorIndex(2);
    rig.post(windows[0], NOTIFY_VIEW_CHANGED);
    rig.post(windows[0], NOTIFY_RENDER_WINDOW_UPDATED);
    EXPECT_EQ(lines()[0].color, Color4B(actor->getBorderColor(1)));
    EXPECT_EQ(lines()[4].color, Color4B(actor->getBorderColor(0)));
}

TEST_F(CrossLine, HiddenLinesDrawNothingButTheUpdateStillConsumesTheNotice)
{
    // No line node yet: the notice is consumed all the same.
    rig.post(windows[0], NOTIFY_OBLIQUE_PLANE, plane(Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1), Vec3()));
    EXPECT_TRUE(actor->isLinesDirty());
    rig.post(windows[0], NOTIFY_RENDER_WINDOW_UPDATED);
    EXPECT_FALSE(actor->isLinesDirty());

    actor->setCrossLinesVisible(true);
    actor->setCrossLinesVisible(false);
    EXPECT_FALSE(actor->getReferenceLines()->isVisible());
    rig.post(windows[0], NOTIFY_OBLIQUE_PLANE, plane(Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1), Vec3()));
    rig.post(windows[0], NOTIFY_RENDER_WINDOW_UPDATED);
    EXPECT_FALSE(actor->isLinesDirty());
    EXPECT_TRUE(lines().empty());
    EXPECT_FALSE(actor->getReferenceLines()->isVisible());

    // A detached actor keeps the notice pending (it has no window to measure the gap in).
    isActorCrossLine* loose = isActorCrossLine::create();
    loose->setCrossLinesVisible(true);
    loose->onNotification(nullptr, NOTIFY_VIEW_CHANGED, nullptr);
    loose->onNotification(nullptr, NOTIFY_RENDER_WINDOW_UPDATED, nullptr);
    EXPECT_TRUE(loose->isLinesDirty());
    EXPECT_TRUE(loose->getReferenceLines()->getVertices().empty());
}

TEST_F(CrossLine, LinesHideFiveSecondsAfterTheirLatestRedraw)
{
    actor->setCrossLinesVisible(true);
    auto redraw = [&] {
        rig.post(windows[0], NOTIFY_VIEW_CHANGED);
        rig.post(windows[0], NOTIFY_RENDER_WINDOW_UPDATED);
    };
    auto seconds = [&](float s) {
        for (int i = 0; i < int(s * 10 + 0.5f); ++i)
            rig.frame(0.1f);
    };
    redraw();
    EXPECT_TRUE(actor->getReferenceLines()->isVisible());
    seconds(3.0f);
    redraw();  // shown again before the first timer ran out
    seconds(4.0f);
    EXPECT_TRUE(actor->getReferenceLines()->isVisible());
    seconds(1.5f);
    EXPECT_FALSE(actor->getReferenceLines()->isVisible());
    redraw();
    EXPECT_TRUE(actor->getReferenceLines()->isVisible());

    // Releasing the actor with the timer running stops it.
    actor->release();
    actor = nullptr;
    seconds(7.0f);
}

TEST_F(CrossLine, BorderAndMarkerTakeThePlaneColour)
{
    actor->setBorderColorIndex(3);  // no such plane: ignored
    actor->setBorderColorIndex(-1);
    EXPECT_EQ(actor->getBorderColorIndex(), 0);
    actor->setBorderColorIndex(2);  // hidden border: only the index is kept
    EXPECT_EQ(actor->getBorderColorIndex(), 2);
    actor->setBorderVisible(true);
    cocos2d::DrawNode* border = actor->getBorderNode();
    ASSERT_NE(border, nullptr);
    EXPECT_EQ(border->getParent(), windows[0]);
    EXPECT_EQ(border->getLineWidth(), 4.0f);
    EXPECT_TRUE(border->isVisible());
    const size_t outline = border->getLineVertexCount();
    EXPECT_EQ(outline, 8u);
    actor->setBorderVisible(true);  // unchanged: not drawn again
    EXPECT_EQ(border->getLineVertexCount(), outline);
    actor->setBorderColorIndex(1);  // redrawn, not added to
    EXPECT_EQ(border->getLineVertexCount(), outline);
    actor->setBorderVisible(false);
    EXPECT_FALSE(border->isVisible());

    actor->showCornerMarker();
    actor->showCornerMarker();
    ASSERT_NE(actor->getMarkerNode(), nullptr);
    EXPECT_TRUE(actor->isMarkerShown());
    EXPECT_EQ(actor->getMarkerNode()->getTriangleVertexCount(), 6u);  // one square
    EXPECT_EQ(actor->getMarkerNode()->getParent(), windows[0]);
}
