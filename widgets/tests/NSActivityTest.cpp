// The busy overlay: one at a time, progress and text by notification, cancel by urgent post, and
// every touch beneath it blocked, also where a resized window grew.
#include "NSActivity.h"
#include "support/WidgetsFixture.h"

#include <chrono>

using namespace cocos2d;

namespace
{

class NSActivityTest : public WidgetsTest
{
protected:
    void SetUp() override
    {
        WidgetsTest::SetUp();
        centre = NSUI::NSNotificationCenter::getInstance();
        passStartDelay();
    }
    // A button in the scene at the point, counting its clicks.
    void buttonBeneath(Vec2 at)
    {
        auto* button = ui::Button::create();
        button->setTouchEnabled(true);
        button->setTitleText("beneath");
        button->setTitleFontSize(40);
        button->setPosition(at);
        button->addClickEventListener([this](Ref*) { ++clicks; });
        scene->addChild(button);
    }
    NSUI::NSNotificationCenter* centre = nullptr;
    int clicks = 0;
};

TEST_F(NSActivityTest, OneOverlayDrivenByNotifications)
{
    auto* first = NSUI::NSActivity::show(scene);
    auto* again = NSUI::NSActivity::show(Node::create());
    EXPECT_EQ(first, again);
    EXPECT_EQ(first->getParent(), scene);
    EXPECT_EQ(scene->getChildrenCount(), 1u);
    EXPECT_EQ(first->getLocalZOrder(), NSUI::NSActivity::kZOrder);
    EXPECT_EQ(first->getContentSize(), Size(960, 640));
    ASSERT_NE(first->getChildByTag(NSUI::NSActivity::kSpinnerTag), nullptr);
    step(30); // half a turn in 1 s... a quarter in 0.5 s
    EXPECT_NEAR(first->getChildByTag(NSUI::NSActivity::kSpinnerTag)->getRotation(), 90.0f, 1.0f);

    centre->postIntNotification(nullptr, NOTIFY_UI_PROGRESS, 42);
    step();
    auto* progress = dynamic_cast<Label*>(first->getChildByTag(NSUI::NSActivity::kProgressTag));
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(progress->getString(), "42");
    EXPECT_EQ(progress->getPosition(), Vec2(480, 320));
    centre->postIntNotification(nullptr, NOTIFY_UI_PROGRESS, 43);
    centre->postStringNotification(nullptr, NOTIFY_UI_ACTIVITY_TEXT, "Loading dicoms");
    step(2);
    EXPECT_EQ(first->getChildByTag(NSUI::NSActivity::kProgressTag), progress);
    EXPECT_EQ(progress->getString(), "43");
    auto* message = dynamic_cast<Label*>(first->getChildByTag(NSUI::NSActivity::kMessageTag));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->getString(), "Loading dicoms");
    EXPECT_EQ(message->getPosition(), Vec2(480, 420));

    // Dismissed: no observer is left, and later progress reaches nobody.
    NSUI::NSActivity::hide();
    EXPECT_EQ(NSUI::NSActivity::current(), nullptr);
    EXPECT_EQ(scene->getChildrenCount(), 0u);
    EXPECT_FALSE(centre->hasObserver(NOTIFY_UI_PROGRESS, nullptr, first));
    centre->postIntNotification(nullptr, NOTIFY_UI_PROGRESS, 44);
    step(2);
    NSUI::NSActivity::hide();
    NSUI::NSActivity::dismiss();

    // A new overlay may be shown afterwards.
    EXPECT_NE(NSUI::NSActivity::show(scene), nullptr);
}

TEST_F(NSActivityTest, OverlayBlocksTouchesBeneathAndCancelPostsUrgently)
{
    buttonBeneath(Vec2(100, 100));
    click(100, 100);
    EXPECT_EQ(clicks, 1);

    auto* overlay = NSUI::NSActivity::show(scene);
    click(100, 100);
    EXPECT_EQ(clicks, 1);

    overlay->addCancelButton("Cancel", Color3B::BLACK);
    struct Listener : Ref
    {
    } listener;
    int cancels = 0;
    int normals = 0;
    centre->addObserver(&listener, nullptr, [&](Ref*, unsigned int, NSUI::NSNotificationData*) { ++cancels; },
                        NOTIFY_UI_ACTIVITY_CANCEL);
    centre->addObserver(&listener, nullptr, [&](Ref*, unsigned int, NSUI::NSNotificationData*) { ++normals; },
                        NOTIFY_CAPTURE_SAVED);
    // A queue of normal ones, left over by a tick that spent its time (one of them a frame).
    centre->setDeliveryBudget(std::chrono::microseconds(0));
    for (int i = 0; i < 3; ++i)
        centre->postNotification(nullptr, NOTIFY_CAPTURE_SAVED, nullptr);
    click(480, 320 - 150);
    EXPECT_EQ(cancels, 0); // posted, not called
    step();
    EXPECT_EQ(cancels, 1); // the next frame, ahead of the queued normal ones
    EXPECT_EQ(normals, 1);
    EXPECT_EQ(NSUI::NSActivity::current(), overlay); // cancel does not dismiss
    centre->removeObserver(&listener);
}

TEST_F(NSActivityTest, OverlayCoversAndCentresOnAResizedWindow)
{
    // One point per unit, as the program sets the window up: the design follows the frame.
    GLView* view = director->getOpenGLView();
    view->setDesignResolutionSize(960, 640, ResolutionPolicy::SHOW_ALL);
    buttonBeneath(Vec2(1100, 700));

    auto* overlay = NSUI::NSActivity::show(scene);
    overlay->setMessage("Loading dicoms");
    overlay->addCancelButton("Cancel", Color3B::BLACK);
    centre->postIntNotification(nullptr, NOTIFY_UI_PROGRESS, 42);
    step();
    ASSERT_NE(overlay->getChildByTag(NSUI::NSActivity::kProgressTag), nullptr);

    view->resizeFrame(Size(1200, 800));
    ASSERT_EQ(director->getVisibleSize(), Size(1200, 800));
    EXPECT_EQ(overlay->getContentSize(), Size(1200, 800));
    EXPECT_EQ(overlay->getChildByTag(NSUI::NSActivity::kSpinnerTag)->getPosition(), Vec2(600, 400));
    EXPECT_EQ(overlay->getChildByTag(NSUI::NSActivity::kProgressTag)->getPosition(), Vec2(600, 400));
    EXPECT_EQ(overlay->getChildByTag(NSUI::NSActivity::kMessageTag)->getPosition(), Vec2(600, 500));
    EXPECT_EQ(overlay->getChildByTag(NSUI::NSActivity::kCancelTag)->getPosition(), Vec2(600, 250));
    // The part of the window that was not there before is covered too.
    click(1100, 700);
    EXPECT_EQ(clicks, 0);
    NSUI::NSActivity::dismiss();
    click(1100, 700);
    EXPECT_EQ(clicks, 1);
}

} // namespace
