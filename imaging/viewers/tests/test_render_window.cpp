// The render window on the headless view: the mouse through the input simulator (wheel, right
// drag zoom with its limits, middle drag pan, release totals), the common command handler with
// its owner forwarding, the edge letters of the view and the axis that shows each anatomical
// plane.
#include "support/TestWindow.h"
#include "support/ViewerRig.h"

#include "isImageData.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace isImageSDK;
using cocos2d::InputSimulator;
using cocos2d::Size;
using cocos2d::Vec2;
using cocos2d::Vec3;
using qvtest::TestWindow;

namespace {

constexpr int kRight = 1;
constexpr int kMiddle = 2;

class RenderWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cocos2d::Director::getInstance()->setOpenGLView(cocos2d::GLViewHeadless::create(Size(960, 640)));
        rig.start();
        window = TestWindow::create(Size(400, 300), Vec2(100, 100), false);
        rig.scene->addChild(window);
        rig.frame(4);
    }
    void TearDown() override
    {
        if (owner)
            owner->release();
        rig.stop();
    }

    size_t commandCount(unsigned int id) const
    {
        const auto ids = window->commandIds();
        return static_cast<size_t>(std::count(ids.begin(), ids.end(), id));
    }

    qvtest::ViewerRig rig;
    TestWindow* window = nullptr;
    cocos2d::Ref* owner = nullptr;
};

TEST_F(RenderWindowTest, WheelStepsSlices)
{
    InputSimulator::scroll(300, 250, 1);  // wheel up: scrollY < 0
    InputSimulator::scroll(300, 250, -1);
    InputSimulator::scroll(50, 50, 1);  // outside the window
    EXPECT_EQ(window->commandIds(), (std::vector<unsigned int>{NOTIFY_SLICE_NEXT, NOTIFY_SLICE_PRIOR}));
}

TEST_F(RenderWindowTest, RightDragZoomsVerticallyWithinItsLimits)
{
    InputSimulator::mouseDown(kRight, 300, 250);
    InputSimulator::mouseMove(330, 255);  // mostly horizontal: nothing
    EXPECT_TRUE(window->commands.empty());
    InputSimulator::mouseMove(331, 275);  // upwards: in by 1.05
    ASSERT_EQ(window->commands.size(), 1u);
    EXPECT_EQ(window->commands[0].id, NOTIFY_VIEW_ZOOM);
    EXPECT_FLOAT_EQ(window->commands[0].floatValue, 1.05f);
    EXPECT_EQ(window->commands[0].intValue, 1);
    EXPECT_NEAR(window->getZoomRatio(), 1.05f, 1e-5);
    InputSimulator::mouseUp(kRight, 331, 275);
    ASSERT_EQ(window->commands.size(), 2u);
    EXPECT_EQ(window->commands[1].id, NOTIFY_VIEW_ZOOM_END);
    EXPECT_FLOAT_EQ(window->commands[1].floatValue, 1.05f);

    // Beyond ten times, enlarging is refused and shrinking still works.
    window->commands.clear();
    window->setZoomRatio(10.2f);
    InputSimulator::mouseDown(kRight, 300, 250);
    InputSimulator::mouseMove(300, 270);
    EXPECT_TRUE(window->commands.empty());
    InputSimulator::mouseMove(300, 250);
    ASSERT_EQ(window->commands.size(), 1u);
    EXPECT_FLOAT_EQ(window->commands[0].floatValue, 0.95f);
    EXPECT_NEAR(window->getZoomRatio(), 10.2f * 0.95f, 1e-4);
    InputSimulator::mouseUp(kRight, 300, 250);

    // Below a tenth, shrinking is refused.
    window->commands.clear();
    window->setZoomRatio(0.09f);
    InputSimulator::mouseDown(kRight, 300, 250);
    InputSimulator::mouseMove(300, 230);
    InputSimulator::mouseUp(kRight, 300, 230);
    EXPECT_TRUE(window->commands.empty());

    // A click without movement announces nothing on release.
    InputSimulator::mouseDown(kRight, 300, 250);
    InputSimulator::mouseUp(kRight, 300, 250);
    EXPECT_TRUE(window->commands.empty());
}

TEST_F(RenderWindowTest, MiddleDragPansAndAnnouncesItsTotal)
{
    const Vec3 target = window->getLookAtTarget();
    InputSimulator::mouseDown(kMiddle, 300, 250);
    InputSimulator::mouseMove(310, 245);
    InputSimulator::mouseMove(320, 250);
    ASSERT_EQ(commandCount(NOTIFY_VIEW_PAN), 2u);
    EXPECT_EQ(window->commands[0].text, "{\"x\":\"-10.0000\",\"y\":\"-5.0000\"}");
    // The picture follows the mouse: 20 to the right.
    EXPECT_NEAR(window->getLookAtTarget().x, target.x - 20.0f, 1e-3);
    EXPECT_NEAR(window->getLookAtTarget().y, target.y, 1e-3);
    InputSimulator::mouseUp(kMiddle, 320, 250);
    ASSERT_EQ(commandCount(NOTIFY_VIEW_PAN_END), 1u);
    EXPECT_EQ(window->commands.back().text, "{\"x\":\"-20.0000\",\"y\":\"0.0000\"}");

    // A drag of total (0.0005, 0) is no pan.
    window->commands.clear();
    InputSimulator::mouseDown(kMiddle, 300, 250);
    InputSimulator::mouseMove(300.0005f, 250);
    InputSimulator::mouseUp(kMiddle, 300.0005f, 250);
    EXPECT_EQ(commandCount(NOTIFY_VIEW_PAN_END), 0u);
}

TEST_F(RenderWindowTest, GestureEndsGoUpToTheOwnerAndComeBackFromIt)
{
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    auto post = [&](cocos2d::Ref* sender, unsigned int id, const std::string& text, float f) {
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        data->text = text;
        data->floatValue = f;
        centre->postNotification(sender, id, data, window->getNotificationContext(), true);
        rig.frame();
    };

    // Without an owner an end of gesture changes nothing and goes nowhere.
    const Vec3 start = window->getLookAtTarget();
    post(nullptr, NOTIFY_VIEW_PAN_END, "{\"x\":\"10\",\"y\":\"0\"}", 0);
    post(nullptr, NOTIFY_VIEW_ZOOM_END, "", 2.0f);
    EXPECT_EQ(window->getLookAtTarget(), start);
    EXPECT_FLOAT_EQ(window->getZoomRatio(), 1.0f);

    owner = new qvtest::Recorder();
    window->setOwner(owner);
    rig.recorder->watch({NOTIFY_VIEW_PAN_END, NOTIFY_VIEW_ZOOM_END, NOTIFY_VIEW_ACTIVATE, NOTIFY_VIEW_REFRESH}, owner);
    rig.recorder->watch(NOTIFY_VIEW_CHANGED, window->getNotificationContext());

    // The window's own end of gesture goes to the owner, urgent, and moves nothing here.
    InputSimulator::mouseDown(kMiddle, 300, 250);
    InputSimulator::mouseMove(310, 250);
    InputSimulator::mouseUp(kMiddle, 310, 250);
    const Vec3 panned = window->getLookAtTarget();
    rig.frame();
    ASSERT_EQ(rig.recorder->count(NOTIFY_VIEW_PAN_END), 1u);
    EXPECT_EQ(rig.recorder->of(NOTIFY_VIEW_PAN_END)[0].sender, window);
    EXPECT_EQ(rig.recorder->of(NOTIFY_VIEW_PAN_END)[0].text, "{\"x\":\"-10.0000\",\"y\":\"0.0000\"}");
    EXPECT_EQ(window->getLookAtTarget(), panned);

    // From the owner it is applied.
    post(owner, NOTIFY_VIEW_PAN_END, "{\"x\":\"-10\",\"y\":\"0\"}", 0);
    EXPECT_NEAR(window->getLookAtTarget().x, panned.x - 10.0f, 1e-3);
    post(owner, NOTIFY_VIEW_ZOOM_END, "", 2.0f);
    EXPECT_FLOAT_EQ(window->getZoomRatio(), 2.0f);
    post(nullptr, NOTIFY_VIEW_ZOOM_END, "", 3.0f);
    rig.frame();
    EXPECT_FLOAT_EQ(window->getZoomRatio(), 2.0f);
    EXPECT_EQ(rig.recorder->count(NOTIFY_VIEW_ZOOM_END), 1u);

    // Activation goes up whoever sent it; a refresh goes up unless the owner sent it.
    post(nullptr, NOTIFY_VIEW_ACTIVATE, "", 0);
    rig.frame();
    EXPECT_EQ(rig.recorder->count(NOTIFY_VIEW_ACTIVATE), 1u);
    rig.recorder->got.clear();
    post(nullptr, NOTIFY_VIEW_REFRESH, "", 0);
    rig.frame(3);
    EXPECT_EQ(rig.recorder->count(NOTIFY_VIEW_REFRESH), 1u);
    rig.recorder->got.clear();
    post(owner, NOTIFY_VIEW_REFRESH, "", 0);
    rig.frame(3);
    EXPECT_EQ(rig.recorder->count(NOTIFY_VIEW_REFRESH), 0u);
    EXPECT_EQ(rig.recorder->count(NOTIFY_VIEW_CHANGED), 1u);
    window->setOwner(nullptr);
}

// A 4 x 4 x 4 volume whose axes are the world axes.
isImageData* makeVolume(int headFeet = 0, int posture = 0)
{
    isImageData* image = isImageData::create();
    const int dims[3] = {4, 4, 4};
    const float spacing[3] = {1, 1, 1};
    image->allocateVolume(dims, spacing, PIXEL_I16, posture, headFeet, cocos2d::Mat4::IDENTITY);
    return image;
}

TEST_F(RenderWindowTest, EdgeLettersFollowTheCamera)
{
    rig.recorder->watch(NOTIFY_OVERLAY_ORIENTATION, window->getNotificationContext());
    window->setImageData(makeVolume());
    struct View {
        Vec3 normal, up;
        const char* expected;
    };
    const float c = std::cos(static_cast<float>(M_PI) / 6), s = std::sin(static_cast<float>(M_PI) / 6);
    // Head first supine: world +x is the patient's left, +y superior, +z anterior.
    const View views[] = {
        {{0, 0, 1}, {0, -1, 0}, "{\"t\":\"I\",\"r\":\"L\",\"b\":\"S\",\"l\":\"R\"}"},
        {{0, 0, -1}, {0, -1, 0}, "{\"t\":\"I\",\"r\":\"R\",\"b\":\"S\",\"l\":\"L\"}"},
        {{0, 1, 0}, {0, 0, 1}, "{\"t\":\"A\",\"r\":\"L\",\"b\":\"P\",\"l\":\"R\"}"},
        {{0, -1, 0}, {0, 0, 1}, "{\"t\":\"A\",\"r\":\"R\",\"b\":\"P\",\"l\":\"L\"}"},
        {{1, 0, 0}, {0, -1, 0}, "{\"t\":\"I\",\"r\":\"P\",\"b\":\"S\",\"l\":\"A\"}"},
        {{-1, 0, 0}, {0, -1, 0}, "{\"t\":\"I\",\"r\":\"A\",\"b\":\"S\",\"l\":\"P\"}"},
        // Turned by 30 degrees about the view direction.
        {{0, 0, 1}, {-s, -c, 0}, "{\"t\":\"IR\",\"r\":\"LI\",\"b\":\"SL\",\"l\":\"RS\"}"},
    };
    for (const View& v : views) {
        rig.recorder->got.clear();
        window->setCameraPosition(-v.normal * 1000.0f);
        window->lookAt(Vec3::ZERO, v.up);
        rig.frame();
        const auto letters = rig.recorder->of(NOTIFY_OVERLAY_ORIENTATION);
        ASSERT_FALSE(letters.empty());
        EXPECT_EQ(letters.back().text, v.expected) << "view normal " << v.normal.x << "," << v.normal.y << ","
                                                   << v.normal.z;
        EXPECT_EQ(letters.back().sender, window);
    }
    // A picture whose files gave no patient geometry (no orientation: a planar NM, a secondary
    // capture) gets no letters: its identity orientation would label the head end "A".
    isImageData* planar = isImageData::create();
    const int dims[2] = {4, 8};
    const float pixel[2] = {1, 1};
    planar->addSlice(dims, 1, pixel, PIXEL_U8, 0, 0, cocos2d::Mat4::IDENTITY)->geometryValid = 0;
    rig.recorder->got.clear();
    window->setImageData(planar);
    window->lookAt(Vec3::ZERO, Vec3(0, -1, 0));
    rig.frame();
    ASSERT_FALSE(rig.recorder->of(NOTIFY_OVERLAY_ORIENTATION).empty());
    EXPECT_EQ(rig.recorder->of(NOTIFY_OVERLAY_ORIENTATION).back().text, "{\"t\":\"\",\"r\":\"\",\"b\":\"\",\"l\":\"\"}");

    window->setImageData(nullptr);
    rig.recorder->got.clear();
    window->lookAt(Vec3::ZERO, Vec3(0, -1, 0));
    rig.frame();
    EXPECT_EQ(rig.recorder->count(NOTIFY_OVERLAY_ORIENTATION), 0u);
}

TEST_F(RenderWindowTest, AxisOfEachAnatomicalPlane)
{
    EXPECT_EQ(window->getAxisOfPlane(PLANE_AXIAL), 0);
    // In the world frame the acquired x-y planes are coronal, y-z sagittal and x-z axial.
    window->setImageData(makeVolume());
    EXPECT_EQ(window->getAxisOfPlane(PLANE_CORONAL), 0);
    EXPECT_EQ(window->getAxisOfPlane(PLANE_SAGITTAL), 1);
    EXPECT_EQ(window->getAxisOfPlane(PLANE_AXIAL), 2);
}

} // namespace
