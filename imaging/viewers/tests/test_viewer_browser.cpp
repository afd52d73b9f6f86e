// The grid browser on the headless view: grids and their geometry, the slices its windows show
// (middle page, first slice, new windows continuing the first one), cine on the stepped
// scheduler, and the relay of its windows' commands.
#include "support/MultiViewRig.h"

#include "isActorImage.h"
#include "isViewerBrowser.h"

#include "messageView.h"

#include <gtest/gtest.h>

using namespace isImageSDK;
using cocos2d::Size;
using cocos2d::Vec2;
using cocos2d::Vec3;

namespace {

class ViewerBrowser : public ::testing::Test {
protected:
    void SetUp() override
    {
        cocos2d::Director::getInstance()->setOpenGLView(cocos2d::GLViewHeadless::create(Size(960, 640)));
        rig.start();
        browser = isViewerBrowser::create();
        browser->setContentSize(Size(602, 402));
        rig.scene->addChild(browser);
    }
    void TearDown() override { rig.stop(); }

    std::vector<int> slices() const
    {
        std::vector<int> out;
        for (isViewerImage* w : browser->getWindows())
            out.push_back(w->getImageActor() ? w->getImageActor()->getSliceIndex() : -1);
        return out;
    }
    void command(unsigned int id, cocos2d::Ref* sender = nullptr, const std::string& text = "", float f = 0.0f)
    {
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        data->text = text;
        data->floatValue = f;
        browser->onNotification(id, data, sender);
    }

    qvtest::ViewerRig rig;
    isViewerBrowser* browser = nullptr;
};

TEST_F(ViewerBrowser, GridsAndTheirGeometry)
{
    browser->setImageData(qvtest::phantomCT());
    ASSERT_EQ(browser->getWindows().size(), 1u);
    EXPECT_EQ(browser->getActiveWindow(), browser->getFirstWindow());

    // Values below 1 become 1.
    browser->setLayout(0, 3);
    EXPECT_EQ(browser->getRows(), 1);
    EXPECT_EQ(browser->getColumns(), 3);
    ASSERT_EQ(browser->getWindows().size(), 3u);

    // Windows row by row from the top, 2 units apart, the last row and column flush with the
    // edges.
    browser->setLayout(2, 2);
    const auto& w = browser->getWindows();
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[0]->getPosition(), Vec2(0, 202));
    EXPECT_EQ(w[1]->getPosition(), Vec2(302, 202));
    EXPECT_EQ(w[2]->getPosition(), Vec2(0, 0));
    EXPECT_EQ(w[3]->getPosition(), Vec2(302, 0));
    for (isViewerImage* window : w)
        EXPECT_EQ(window->getContentSize(), Size(300, 200));

    // Shrinking while the fourth window is active leaves the first one active.
    isViewerImage* fourth = w[3];
    browser->setOwner(rig.scene);
    command(NOTIFY_VIEW_ACTIVATE, fourth);
    EXPECT_EQ(browser->getActiveWindow(), fourth);
    EXPECT_TRUE(fourth->isActive());
    browser->setLayout(1, 1);
    EXPECT_EQ(browser->getWindows().size(), 1u);
    EXPECT_EQ(browser->getActiveWindow(), browser->getFirstWindow());
    browser->setOwner(nullptr);

    // A layout command is refused while a window is maximised.
    isViewerImage* first = browser->getFirstWindow();
    NSUI::NSNotificationData* max = NSUI::NSNotificationData::create();
    max->uintValue = first->getRefID();
    max->text = "{\"w\":\"960\",\"h\":\"640\"}";
    first->onNotification(NOTIFY_WINDOW_MAXIMIZE, max, nullptr);
    ASSERT_TRUE(browser->isMaximised());
    command(NOTIFY_LAYOUT_2X2);
    EXPECT_EQ(browser->getWindows().size(), 1u);
    cocos2d::Node* toast = rig.scene->getChildByNameDeep(NSUI::kMessageHolderName);
    EXPECT_NE(toast, nullptr);
}

TEST_F(ViewerBrowser, WindowsShowConsecutiveSlices)
{
    browser->setLayout(1, 3);
    browser->setImageData(qvtest::phantomCT(16, 16, 100));
    browser->showMiddle();
    EXPECT_EQ(slices(), (std::vector<int>{48, 49, 50}));
    EXPECT_EQ(browser->getCineFrame(), 48);

    isViewerBrowser* small = isViewerBrowser::create();
    small->setContentSize(Size(300, 100));
    rig.scene->addChild(small);
    small->setLayout(1, 3);
    small->setImageData(qvtest::phantomCT(16, 16, 5));
    small->showMiddle();
    std::vector<int> got;
    for (isViewerImage* w : small->getWindows())
        got.push_back(w->getImageActor()->getSliceIndex());
    EXPECT_EQ(got, (std::vector<int>{0, 1, 2}));

    // New windows continue from the first window's slice with its window and colour table.
    browser->setLayout(1, 1);
    browser->setFirstSlice(10, false);
    browser->setWindowLevel(1234.0f, 56.0f);
    NSUI::NSNotificationData* clut = NSUI::NSNotificationData::create();
    clut->text = "bwInverse.plist";
    browser->getFirstWindow()->onNotification(NOTIFY_CLUT_SET, clut, browser->asRef());
    browser->setLayout(2, 2);
    EXPECT_EQ(slices(), (std::vector<int>{10, 11, 12, 13}));
    for (isViewerImage* w : browser->getWindows()) {
        EXPECT_FLOAT_EQ(w->getImageActor()->getClut()->getWidth(), 1234.0f);
        EXPECT_EQ(w->getPalette()[0], 255);
    }
}

TEST_F(ViewerBrowser, CineAdvancesByTicksAndWraps)
{
    rig.recorder->watch(NOTIFY_CINE_STATE, nullptr);
    browser->setImageData(qvtest::phantomCT(16, 16, 4));
    browser->setFirstSlice(2, false);

    // Stopped: stepping wraps at both ends.
    command(NOTIFY_CINE_NEXT);
    EXPECT_EQ(slices(), std::vector<int>{3});
    command(NOTIFY_CINE_NEXT);
    EXPECT_EQ(slices(), std::vector<int>{0});
    command(NOTIFY_CINE_PRIOR);
    EXPECT_EQ(slices(), std::vector<int>{3});

    // Playing: the first tick comes after 0.1 s and advances at once, then every 60 ticks of
    // 0.005 s.
    command(NOTIFY_CINE_PLAY_TOGGLE);
    ASSERT_TRUE(browser->isPlaying());
    EXPECT_TRUE(cocos2d::Director::getInstance()->getScheduler()->isScheduled(browser->cineKey(), static_cast<cocos2d::Node*>(browser)));
    rig.director->stepFrame(0.099f);
    EXPECT_EQ(slices(), std::vector<int>{3});
    rig.director->stepFrame(0.002f);
    EXPECT_EQ(slices(), std::vector<int>{0});
    for (int i = 0; i < 59; ++i)
        rig.director->stepFrame(0.005f);
    EXPECT_EQ(slices(), std::vector<int>{0});
    rig.director->stepFrame(0.005f);
    EXPECT_EQ(slices(), std::vector<int>{1});

    // Faster and slower within 5 to 120 ticks a frame.
    for (int i = 0; i < 5; ++i)
        command(NOTIFY_CINE_NEXT);
    EXPECT_EQ(browser->getCineInterval(), 5);
    for (int i = 0; i < 8; ++i)
        command(NOTIFY_CINE_PRIOR);
    EXPECT_EQ(browser->getCineInterval(), 120);
    EXPECT_EQ(slices(), std::vector<int>{1});

    // Deactivation by the owner stops the cine and says so.
    browser->setOwner(rig.scene);
    command(NOTIFY_VIEW_ACTIVATE, rig.scene);
    EXPECT_FALSE(browser->isPlaying());
    EXPECT_EQ(browser->getCineFrame(), 0);
    EXPECT_FALSE(cocos2d::Director::getInstance()->getScheduler()->isScheduled(browser->cineKey(), static_cast<cocos2d::Node*>(browser)));
    browser->setOwner(nullptr);
    rig.frame(2);
    std::vector<int> states;
    for (const qvtest::Delivery& d : rig.recorder->of(NOTIFY_CINE_STATE))
        states.push_back(d.intValue);
    EXPECT_EQ(states, (std::vector<int>{1}));
}

TEST_F(ViewerBrowser, CineNeedsTwoSlices)
{
    rig.recorder->watch(NOTIFY_CINE_STATE, nullptr);
    browser->setImageData(qvtest::loosePictures());
    // Loose pictures do have two slices.
    command(NOTIFY_CINE_PLAY_TOGGLE);
    EXPECT_TRUE(browser->isPlaying());
    command(NOTIFY_CINE_PLAY_TOGGLE);
    EXPECT_FALSE(browser->isPlaying());

    isViewerBrowser* single = isViewerBrowser::create();
    rig.scene->addChild(single);
    single->setImageData(qvtest::phantomCT(16, 16, 1));
    single->onNotification(NOTIFY_CINE_PLAY_TOGGLE, nullptr, nullptr);
    EXPECT_FALSE(single->isPlaying());
    rig.frame(2);
    std::vector<int> states;
    for (const qvtest::Delivery& d : rig.recorder->of(NOTIFY_CINE_STATE))
        states.push_back(d.intValue);
    EXPECT_EQ(states, (std::vector<int>{1, 0, 0}));
}

TEST_F(ViewerBrowser, WindowCommandsAreRelayed)
{
    isImageData* image = qvtest::phantomCT();
    browser->setImageData(image);
    browser->setLayout(1, 3);
    const auto& w = browser->getWindows();
    // The second window shows the acquired slices (kind 0), the others the axial plane.
    w[1]->setKind(VIEW_SLICE);
    ASSERT_EQ(w[0]->getKind(), VIEW_AXIAL);
    cocos2d::Ref* owner = rig.scene;
    rig.recorder->watch({NOTIFY_VIEW_PAN_END, NOTIFY_SLICE_NEXT, NOTIFY_VIEW_ZOOM_END}, owner);
    browser->setOwner(owner);

    // A pan end from a window reaches the windows of kinds 1-4 but the sender, and stays here.
    const Vec3 before0 = w[0]->getLookAtTarget();
    const Vec3 before1 = w[1]->getLookAtTarget();
    const Vec3 before2 = w[2]->getLookAtTarget();
    command(NOTIFY_VIEW_PAN_END, w[0], "{\"x\":\"10\",\"y\":\"0\"}");
    EXPECT_EQ(w[0]->getLookAtTarget(), before0);
    EXPECT_EQ(w[1]->getLookAtTarget(), before1);
    EXPECT_NE(w[2]->getLookAtTarget(), before2);

    // A slice step from a window goes to the owner (urgent), and comes back from it to every
    // window.
    const int first = w[0]->getImageActor()->getSliceIndex();
    command(NOTIFY_SLICE_NEXT, w[0]);
    EXPECT_EQ(w[0]->getImageActor()->getSliceIndex(), first);
    rig.frame();
    ASSERT_EQ(rig.recorder->count(NOTIFY_SLICE_NEXT), 1u);
    EXPECT_EQ(rig.recorder->of(NOTIFY_SLICE_NEXT)[0].sender, browser->asRef());
    command(NOTIFY_SLICE_NEXT, owner);
    EXPECT_EQ(w[0]->getImageActor()->getSliceIndex(), first + 1);
    EXPECT_EQ(w[2]->getImageActor()->getSliceIndex(), first + 3);

    // A zoom end goes on to the owner without the sender's focal point.
    command(NOTIFY_VIEW_ZOOM_END, w[0], "{\"validFocal\":\"1\"}", 1.1f);
    // Normal posts arrive one a frame, behind the windows' own.
    for (int i = 0; i < 200 && rig.recorder->count(NOTIFY_VIEW_ZOOM_END) == 0; ++i)
        rig.frame();
    ASSERT_EQ(rig.recorder->count(NOTIFY_VIEW_ZOOM_END), 1u);
    EXPECT_EQ(rig.recorder->of(NOTIFY_VIEW_ZOOM_END)[0].string("validFocal"), "0");
    EXPECT_EQ(rig.recorder->count(NOTIFY_VIEW_PAN_END), 0u);

    // Activation moves between windows only when a window asks; the cross point of a locate
    // sent by the owner puts the active window on the point's slice.
    command(NOTIFY_VIEW_ACTIVATE, w[2]);
    EXPECT_EQ(browser->getActiveWindow(), w[2]);
    EXPECT_TRUE(w[2]->isActive());
    EXPECT_FALSE(w[0]->isActive());
    double p[3];
    qvgen::Phantom(qvtest::axialPhantom()).voxelToPatient(5, 6, 12, p);
    command(NOTIFY_LOCATE_POINT, owner,
            "{\"x\":\"" + std::to_string(p[0]) + "\",\"y\":\"" + std::to_string(p[1]) + "\",\"z\":\"" +
                std::to_string(p[2]) + "\"}");
    EXPECT_EQ(w[2]->getImageActor()->getSliceIndex(), 12);
    EXPECT_EQ(w[0]->getImageActor()->getSliceIndex(), 10);
    EXPECT_EQ(browser->getCineFrame(), 10);
    browser->setOwner(nullptr);
}

} // namespace
