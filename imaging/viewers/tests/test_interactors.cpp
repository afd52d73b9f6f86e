// The interactors on the headless view, driven through the input simulator with a clock moved by
// hand: the gesture thresholds (double tap, swipe, tap), the process-wide capture, two-finger
// pinch and pan, and every tool mode's notifications with their payloads.
#include "support/TestWindow.h"
#include "support/ViewerRig.h"

#include "isInteractorTrackVR.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace isImageSDK;
using cocos2d::InputSimulator;
using cocos2d::Size;
using cocos2d::Vec2;
using cocos2d::Vec3;
using qvtest::TestWindow;

namespace {

// Records the gestures the base recognises.
class GestureProbe : public isInteractorBase {
public:
    static GestureProbe* create() { return createAutoreleased<GestureProbe>(); }
    void onTouchBegan(cocos2d::Touch*) override { gestures.push_back("began"); }
    void onDoubleTap(const Vec2&) override { gestures.push_back("double"); }
    void onTap(const Vec2&) override { gestures.push_back("tap"); }
    void onSwipe(const Vec2&, const Vec2&) override { gestures.push_back("swipe"); }
    std::vector<std::string> gestures;
};

class Interactors : public ::testing::Test {
protected:
    void SetUp() override
    {
        cocos2d::Director::getInstance()->setOpenGLView(cocos2d::GLViewHeadless::create(Size(960, 640)));
        rig.start();
        a = TestWindow::create(Size(480, 640), Vec2(0, 0));
        b = TestWindow::create(Size(480, 640), Vec2(480, 0));
        rig.scene->addChild(a);
        rig.scene->addChild(b);
        rig.frame(4);
        for (TestWindow* w : {a, b})
            rig.recorder->watch({NOTIFY_VIEW_ACTIVATE, NOTIFY_VIEW_PAN, NOTIFY_VIEW_ZOOM, NOTIFY_VIEW_ZOOM_WHEEL,
                                 NOTIFY_VIEW_WINDOW_LEVEL, NOTIFY_VIEW_PAN_END, NOTIFY_VIEW_ZOOM_END,
                                 NOTIFY_VIEW_WINDOW_LEVEL_END, NOTIFY_VIEW_INTERACTION_END, NOTIFY_SLICE_NEXT,
                                 NOTIFY_SLICE_PRIOR, NOTIFY_LOCATE_POINT, NOTIFY_OVERLAY_POSITION},
                                w->getNotificationContext());
    }
    void TearDown() override { rig.stop(); }

    std::vector<qvtest::Delivery> to(TestWindow* w, unsigned int id) const
    {
        std::vector<qvtest::Delivery> out;
        for (const qvtest::Delivery& d : rig.recorder->of(id))
            if (d.context == w->getNotificationContext())
                out.push_back(d);
        return out;
    }
    GestureProbe* probe(TestWindow* w)
    {
        GestureProbe* p = GestureProbe::create();
        w->setInteractor(p);
        return p;
    }
    // A left-button gesture from one point to another taking ms milliseconds.
    void swipe(Vec2 from, Vec2 to, long long ms)
    {
        InputSimulator::mouseDown(0, from.x, from.y);
        rig.clock.advanceMs(ms);
        InputSimulator::mouseMove(to.x, to.y);
        InputSimulator::mouseUp(0, to.x, to.y);
    }

    qvtest::ViewerRig rig;
    TestWindow* a = nullptr;
    TestWindow* b = nullptr;
};

TEST_F(Interactors, DoubleTapTapAndSwipeThresholds)
{
    GestureProbe* p = probe(a);
    InputSimulator::click(200, 300);
    rig.clock.advanceMs(180);
    InputSimulator::click(200, 300);
    EXPECT_EQ(p->gestures, (std::vector<std::string>{"began", "tap", "double", "tap"}));

    p->gestures.clear();
    rig.clock.advanceMs(1000);
    InputSimulator::mouseDown(0, 200, 300);
    rig.clock.advanceMs(181);
    InputSimulator::mouseUp(0, 200, 300);
    InputSimulator::mouseDown(0, 200, 300);
    InputSimulator::mouseUp(0, 200, 300);
    // The second press came 181 ms after the first: no double tap; the first lasted too long
    // for a tap.
    EXPECT_EQ(p->gestures, (std::vector<std::string>{"began", "began", "tap"}));

    // 300 units in 100 ms is a swipe; in 25 ms it is neither a swipe nor a tap; 140 units is
    // too short, 420 too long.
    for (auto [distance, ms, expected] : {std::tuple<float, long long, const char*>{300, 100, "swipe"},
                                          {300, 25, ""},
                                          {300, 129, "swipe"},
                                          {300, 130, ""},
                                          {140, 100, ""},
                                          {420, 60, ""}}) {
        p->gestures.clear();
        rig.clock.advanceMs(1000);
        swipe(Vec2(20, 300), Vec2(20 + distance, 300), ms);
        const std::vector<std::string> want = *expected ? std::vector<std::string>{"began", expected}
                                                        : std::vector<std::string>{"began"};
        EXPECT_EQ(p->gestures, want) << distance << " units in " << ms << " ms";
    }
}

TEST_F(Interactors, SwipesStepSlices)
{
    swipe(Vec2(20, 300), Vec2(320, 300), 100);
    rig.clock.advanceMs(1000);
    swipe(Vec2(400, 300), Vec2(100, 310), 100);
    rig.clock.advanceMs(1000);
    swipe(Vec2(200, 100), Vec2(200, 400), 100);  // vertical: no slice step
    rig.frame();
    EXPECT_EQ(to(a, NOTIFY_SLICE_NEXT).size(), 1u);
    EXPECT_EQ(to(a, NOTIFY_SLICE_PRIOR).size(), 1u);
}

TEST_F(Interactors, OneWindowHoldsTheGesture)
{
    InputSimulator::touchesBegan({0}, {Vec2(700, 300)});
    InputSimulator::touchesBegan({1}, {Vec2(200, 300)});
    InputSimulator::touchesMoved({1}, {Vec2(220, 300)});
    rig.frame();
    EXPECT_EQ(to(b, NOTIFY_VIEW_ACTIVATE).size(), 1u);
    EXPECT_TRUE(to(a, NOTIFY_VIEW_ACTIVATE).empty());
    EXPECT_TRUE(to(a, NOTIFY_VIEW_PAN).empty());
    EXPECT_TRUE(b->getInteractor()->isCapturing());
    EXPECT_FALSE(b->getInteractor()->isSingleTouch());
    InputSimulator::touchesEnded({0, 1}, {Vec2(700, 300), Vec2(220, 300)});
    EXPECT_FALSE(isInteractorBase::isCaptureActive());
    EXPECT_TRUE(b->getInteractor()->isSingleTouch());

    // Free again: the next touch in a belongs to a.
    InputSimulator::click(200, 300);
    rig.frame();
    EXPECT_EQ(to(a, NOTIFY_VIEW_ACTIVATE).size(), 1u);
}

TEST_F(Interactors, CaptureEndsWithItsWindow)
{
    InputSimulator::mouseDown(0, 200, 300);
    InputSimulator::mouseMove(210, 300);
    EXPECT_TRUE(isInteractorBase::isCaptureActive());
    rig.remove(a);
    a = nullptr;
    EXPECT_FALSE(isInteractorBase::isCaptureActive());
    InputSimulator::mouseUp(0, 210, 300);
    InputSimulator::mouseDown(0, 700, 300);
    InputSimulator::mouseMove(720, 300);
    InputSimulator::mouseUp(0, 720, 300);
    rig.frame(3);
    EXPECT_EQ(to(b, NOTIFY_VIEW_ACTIVATE).size(), 1u);
    EXPECT_EQ(to(b, NOTIFY_VIEW_PAN).size(), 1u);
}

TEST_F(Interactors, PanDragAndItsTotal)
{
    const Vec3 target = a->getLookAtTarget();
    InputSimulator::mouseDown(0, 200, 300);
    InputSimulator::mouseMove(210, 305);
    InputSimulator::mouseMove(230, 300);
    InputSimulator::mouseUp(0, 230, 300);
    rig.frame(3);
    const auto pans = to(a, NOTIFY_VIEW_PAN);
    ASSERT_EQ(pans.size(), 2u);
    EXPECT_EQ(pans[0].text, "{\"x\":\"-10.0000\",\"y\":\"5.0000\"}");
    EXPECT_EQ(pans[1].text, "{\"x\":\"-20.0000\",\"y\":\"-5.0000\"}");
    const auto end = to(a, NOTIFY_VIEW_PAN_END);
    ASSERT_EQ(end.size(), 1u);
    EXPECT_EQ(end[0].text, "{\"x\":\"-30.0000\",\"y\":\"0.0000\"}");
    // The window applied the drag: the picture moved 30 to the right.
    EXPECT_NEAR(a->getLookAtTarget().x, target.x - 30.0f, 1e-3);

    // A pan of (0.0005, 0.0008) announces no end.
    rig.recorder->got.clear();
    rig.clock.advanceMs(1000);
    InputSimulator::mouseDown(0, 200, 300);
    InputSimulator::mouseMove(200.0005f, 300.0008f);
    InputSimulator::mouseUp(0, 200.0005f, 300.0008f);
    rig.frame(3);
    EXPECT_EQ(to(a, NOTIFY_VIEW_PAN).size(), 1u);
    EXPECT_TRUE(to(a, NOTIFY_VIEW_PAN_END).empty());
}

TEST_F(Interactors, ZoomDragStaysWithinTheLimits)
{
    a->imageInteractor()->setMode(MODE_ZOOM);
    a->setZoomRatio(0.09f);
    InputSimulator::mouseDown(0, 200, 300);
    InputSimulator::mouseMove(200, 280);  // down: would shrink further
    InputSimulator::mouseMove(230, 281);  // mostly horizontal
    InputSimulator::mouseMove(231, 300);  // up: enlarges
    InputSimulator::mouseUp(0, 231, 300);
    rig.frame(3);
    const auto zooms = to(a, NOTIFY_VIEW_ZOOM);
    ASSERT_EQ(zooms.size(), 1u);
    EXPECT_FLOAT_EQ(zooms[0].floatValue, 1.05f);
    EXPECT_NEAR(a->getZoomRatio(), 0.09f * 1.05f, 1e-5);
    const auto end = to(a, NOTIFY_VIEW_ZOOM_END);
    ASSERT_EQ(end.size(), 1u);
    EXPECT_FLOAT_EQ(end[0].floatValue, 1.05f);
}

TEST_F(Interactors, WindowLevelDragCarriesRawDeltas)
{
    a->imageInteractor()->setMode(MODE_WINDOW_LEVEL);
    InputSimulator::mouseDown(0, 200, 300);
    InputSimulator::mouseUp(0, 200, 300);
    rig.frame(3);
    EXPECT_TRUE(to(a, NOTIFY_VIEW_WINDOW_LEVEL_END).empty());
    rig.clock.advanceMs(1000);
    InputSimulator::mouseDown(0, 200, 300);
    InputSimulator::mouseMove(212, 297);
    InputSimulator::mouseUp(0, 212, 297);
    rig.frame(3);
    const auto drags = to(a, NOTIFY_VIEW_WINDOW_LEVEL);
    ASSERT_EQ(drags.size(), 1u);
    EXPECT_EQ(drags[0].text, "{\"ww\":\"12.00\",\"wl\":\"-3.00\"}");
    EXPECT_EQ(to(a, NOTIFY_VIEW_WINDOW_LEVEL_END).size(), 1u);
    EXPECT_FALSE(to(a, NOTIFY_VIEW_WINDOW_LEVEL_END)[0].hasData);
}

TEST_F(Interactors, PointsUnderTheTouchPerMode)
{
    // The window's centre (240, 320) shows world (0, 0, 0); world +y is down on the screen.
    a->imageInteractor()->setMode(MODE_SELECT);
    InputSimulator::mouseDown(0, 250, 300);
    rig.frame();
    ASSERT_EQ(to(a, NOTIFY_LOCATE_POINT).size(), 1u);
    EXPECT_EQ(to(a, NOTIFY_LOCATE_POINT)[0].text, "{\"x\":\"10.00\",\"y\":\"20.00\",\"z\":\"0.00\"}");
    EXPECT_EQ(to(a, NOTIFY_OVERLAY_POSITION).size(), 1u);
    // Two moves in one frame: only the latest point is delivered.
    InputSimulator::mouseMove(260, 300);
    InputSimulator::mouseMove(270, 330);
    rig.frame();
    ASSERT_EQ(to(a, NOTIFY_LOCATE_POINT).size(), 2u);
    EXPECT_EQ(to(a, NOTIFY_LOCATE_POINT)[1].text, "{\"x\":\"30.00\",\"y\":\"-10.00\",\"z\":\"0.00\"}");
    EXPECT_EQ(to(a, NOTIFY_OVERLAY_POSITION).size(), 2u);
    InputSimulator::mouseUp(0, 270, 330);
    rig.frame(3);
    EXPECT_EQ(to(a, NOTIFY_VIEW_INTERACTION_END).size(), 1u);

    // Locate: began and moves post the point, no position text on moves.
    rig.recorder->got.clear();
    rig.clock.advanceMs(1000);
    a->imageInteractor()->setMode(MODE_LOCATE);
    InputSimulator::mouseDown(0, 250, 300);
    rig.frame();
    InputSimulator::mouseMove(260, 300);
    rig.frame();
    InputSimulator::mouseUp(0, 260, 300);
    rig.frame(3);
    EXPECT_EQ(to(a, NOTIFY_LOCATE_POINT).size(), 2u);
    EXPECT_EQ(to(a, NOTIFY_OVERLAY_POSITION).size(), 1u);
    EXPECT_EQ(to(a, NOTIFY_VIEW_INTERACTION_END).size(), 1u);

    // Probe: moves show the position only.
    rig.recorder->got.clear();
    rig.clock.advanceMs(1000);
    a->imageInteractor()->setMode(MODE_PROBE);
    InputSimulator::mouseDown(0, 250, 300);
    InputSimulator::mouseMove(260, 300);
    InputSimulator::mouseUp(0, 260, 300);
    rig.frame(3);
    EXPECT_TRUE(to(a, NOTIFY_LOCATE_POINT).empty());
    EXPECT_EQ(to(a, NOTIFY_OVERLAY_POSITION).size(), 1u);
    EXPECT_TRUE(to(a, NOTIFY_VIEW_INTERACTION_END).empty());

    // Nothing under the touch: nothing posted.
    rig.recorder->got.clear();
    rig.clock.advanceMs(1000);
    a->pickable = false;
    a->imageInteractor()->setMode(MODE_SELECT);
    InputSimulator::mouseDown(0, 250, 300);
    InputSimulator::mouseMove(260, 300);
    rig.frame();
    EXPECT_TRUE(to(a, NOTIFY_LOCATE_POINT).empty());
    InputSimulator::mouseUp(0, 260, 300);
}

TEST_F(Interactors, TwoFingersPinchAndPan)
{
    InputSimulator::touchesBegan({0, 1}, {Vec2(200, 300), Vec2(300, 300)});
    InputSimulator::touchesMoved({0, 1}, {Vec2(180, 300), Vec2(320, 300)});
    rig.frame();
    auto pinches = to(a, NOTIFY_VIEW_ZOOM_WHEEL);
    ASSERT_EQ(pinches.size(), 1u);
    EXPECT_NEAR(pinches[0].floatValue, 1.4f, 1e-5);
    EXPECT_NEAR(a->getZoomRatio(), 1.4f, 1e-4);
    InputSimulator::touchesMoved({0, 1}, {Vec2(190, 310), Vec2(330, 310)});
    rig.frame();
    pinches = to(a, NOTIFY_VIEW_ZOOM_WHEEL);
    ASSERT_EQ(pinches.size(), 2u);
    EXPECT_NEAR(pinches[1].floatValue, 1.0f, 1e-5);
    const auto pans = to(a, NOTIFY_VIEW_PAN);
    ASSERT_EQ(pans.size(), 2u);
    EXPECT_EQ(pans[1].text, "{\"x\":\"-10.0000\",\"y\":\"10.0000\"}");
    InputSimulator::touchesEnded({0, 1}, {Vec2(190, 310), Vec2(330, 310)});
    rig.frame(3);
    const auto end = to(a, NOTIFY_VIEW_PAN_END);
    ASSERT_EQ(end.size(), 1u);
    EXPECT_EQ(end[0].text, "{\"x\":\"-10.0000\",\"y\":\"10.0000\"}");
    EXPECT_FALSE(isInteractorBase::isCaptureActive());
}

TEST_F(Interactors, TrackBallTurnsAQuarterPer122Units)
{
    isInteractorTrackVR* ball = isInteractorTrackVR::create();
    a->setInteractor(ball);
    EXPECT_EQ(ball->getMode(), MODE_ROTATE);
    InputSimulator::mouseDown(0, 200, 300);
    InputSimulator::mouseMove(322, 300);
    InputSimulator::mouseUp(0, 322, 300);
    // The eye went a quarter turn about the up axis, around the target, at the same distance.
    const Vec3 eye = a->getSceneCamera()->getEye();
    EXPECT_NEAR(eye.x, -1000.0f, 0.5f);
    EXPECT_NEAR(eye.y, 0.0f, 0.5f);
    EXPECT_NEAR(eye.z, 0.0f, 0.5f);
    EXPECT_NEAR(a->getLookAtTarget().length(), 0.0f, 1e-3);
    rig.frame(3);
    EXPECT_TRUE(to(a, NOTIFY_VIEW_PAN).empty());
}

} // namespace

namespace {

class Measuring : public Interactors {
protected:
    void SetUp() override
    {
        Interactors::SetUp();
        isImageData* image = isImageData::create();
        const int dims[3] = {8, 8, 4};
        const float spacing[3] = {1, 1, 1};
        image->allocateVolume(dims, spacing, PIXEL_I16, 0, 0, cocos2d::Mat4::IDENTITY);
        image->setFileNames("measured");
        a->setImageData(image);
    }
    void click(float x, float y)
    {
        rig.clock.advanceMs(500);
        InputSimulator::click(x, y);
    }
    isActorROI* container() { return a->getROIActor(); }
};

TEST_F(Measuring, LinesAreDrawnByDraggingAndTapsLeaveNothing)
{
    a->imageInteractor()->setMode(MODE_ROI_LINE);
    InputSimulator::mouseDown(0, 250, 300);
    InputSimulator::mouseMove(270, 300);
    InputSimulator::mouseMove(290, 300);
    InputSimulator::mouseUp(0, 290, 300);
    ASSERT_EQ(container()->getROIActors().size(), 1u);
    ROIData* line = container()->getROIActors()[0]->getROIData();
    EXPECT_NEAR(line->getPoint(0).distance(Vec3(10, 20, 0)), 0.0f, 1e-3);
    EXPECT_NEAR(line->getPoint(1).distance(Vec3(50, 20, 0)), 0.0f, 1e-3);
    EXPECT_EQ(line->getImageKeyHash(), container()->getImageKeyHash());
    // A tap on empty space makes a line of no length, which goes again.
    click(100, 100);
    EXPECT_EQ(container()->getROIActors().size(), 1u);
    // Dragging the line's end moves that end.
    rig.clock.advanceMs(500);
    InputSimulator::mouseDown(0, 290, 300);
    InputSimulator::mouseMove(290, 280);
    InputSimulator::mouseUp(0, 290, 280);
    ASSERT_EQ(container()->getROIActors().size(), 1u);
    EXPECT_NEAR(line->getPoint(1).distance(Vec3(50, 40, 0)), 0.0f, 1e-3);
    // Its length in millimetres; in pixels, said so, when the image's files gave no pixel spacing.
    isActorROIBase* actor = container()->getROIActors()[0];
    rig.frame(3);
    ASSERT_NE(actor->getLabel(), nullptr);
    EXPECT_EQ(actor->getLabel()->getString(), "44.7mm");
    for (isSliceInfo* slice : a->getImage()->getSlices())
        slice->pixelSpacingPresent = 0;
    actor->setDirty(true);
    rig.frame(3);
    EXPECT_EQ(actor->getLabel()->getString(), "44.7px");
}

TEST_F(Measuring, PolygonsTakeAVertexPerTapAndCloseOnADoubleTap)
{
    a->imageInteractor()->setMode(MODE_ROI_POLYGON);
    auto doubleClick = [&](float x, float y) {
        rig.clock.advanceMs(500);
        InputSimulator::click(x, y);
        rig.clock.advanceMs(100);
        InputSimulator::click(x, y);
    };
    // Corners (x, y), (x + 60, y), (x + 60, y + 60) clicked, then a double click at (dx, dy): the
    // polygon made, which must be that right triangle (one world unit per window unit).
    auto triangle = [&](float x, float y, float dx, float dy) -> isActorROIPolygon* {
        const size_t before = container()->getROIActors().size();
        click(x, y);
        click(x + 60, y);
        click(x + 60, y + 60);
        doubleClick(dx, dy);
        EXPECT_EQ(container()->getROIActors().size(), before + 1);
        if (container()->getROIActors().size() != before + 1)
            return nullptr;
        auto* polygon = dynamic_cast<isActorROIPolygon*>(container()->getROIActors().back());
        EXPECT_NE(polygon, nullptr);
        if (!polygon)
            return nullptr;
        EXPECT_TRUE(polygon->isFinished());
        EXPECT_EQ(polygon->getROIData()->getPointCount(), 3);
        const Vec3 first = polygon->getROIData()->getPoint(0), last = polygon->getROIData()->getPoint(2);
        EXPECT_NEAR(std::fabs(last.x - first.x), 60.0f, 1e-3);
        EXPECT_NEAR(last.distance(first), 60.0f * std::sqrt(2.0f), 1e-3);
        EXPECT_EQ(a->imageInteractor()->getCurrentROI(), nullptr);
        return polygon;
    };
    // A double click elsewhere: the point double-clicked is no corner.
    ASSERT_NE(triangle(200, 300, 200, 360), nullptr);
    // A double click on the last corner, the usual way to finish: that corner stays (the double
    // click's clicks placed no vertex there).
    isActorROIPolygon* onCorner = triangle(80, 420, 140, 480);
    ASSERT_NE(onCorner, nullptr);
    container()->removeROIActor(onCorner);

    // Two clicks and a double click leave two corners: no region, and nothing is kept.
    click(300, 100);
    click(360, 100);
    doubleClick(360, 160);
    EXPECT_EQ(container()->getROIActors().size(), 1u);
    EXPECT_EQ(a->imageInteractor()->getCurrentROI(), nullptr);
    // The next click starts a new polygon.
    click(300, 500);
    EXPECT_EQ(container()->getROIActors().size(), 2u);
    a->imageInteractor()->setMode(MODE_PAN);
    EXPECT_EQ(container()->getROIActors().size(), 1u);
    a->imageInteractor()->setMode(MODE_ROI_POLYGON);

    // A polygon left half drawn by a change of tool is kept when it is valid.
    click(100, 100);
    click(150, 100);
    click(150, 150);
    a->imageInteractor()->setMode(MODE_PAN);
    ASSERT_EQ(container()->getROIActors().size(), 2u);
    EXPECT_TRUE(dynamic_cast<isActorROIPolygon*>(container()->getROIActors()[1])->isFinished());
    // An angle with only its first point goes.
    a->imageInteractor()->setMode(MODE_ROI_ANGLE);
    click(400, 500);
    a->imageInteractor()->setMode(MODE_PAN);
    EXPECT_EQ(container()->getROIActors().size(), 2u);
}

} // namespace
