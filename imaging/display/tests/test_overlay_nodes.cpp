// The line node's vertices and command, and the corner overlay's texts and frame buttons: each
// follows only its own window's notifications and formats their payloads.
#include "isNodeLine.h"
#include "isNodeOverlaySprite.h"
#include "isNodeOverlayText.h"
#include "support/DisplayScene.h"
#include "support/FakeRenderWindow.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"

#include <gtest/gtest.h>

using namespace isImageSDK;
using cocos2d::Vec2;
using cocos2d::Vec3;
using NSUI::NSNotificationCenter;
using NSUI::NSNotificationData;

namespace {

class OverlayNodes : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig.startHeadless();
        rig.lookAt(0, 0);
        for (auto*& window : windows) {
            window = qvtest::FakeRenderWindow::create();
            window->setLocalZOrder(7);
            rig.scene->addChild(window);
        }
    }
    void TearDown() override
    {
        NSNotificationCenter::getInstance()->removeObserver(rig.scene);
        rig.stop();
    }

    isNodeOverlayText* boundText(unsigned int id, bool touchable = false, int window = 0)
    {
        isNodeOverlayText* text = isNodeOverlayText::create();
        text->setRenderWindow(windows[window]);
        windows[window]->addChild(text);
        text->bindNotification("", "W:", "!", id, touchable);
        return text;
    }

    // Counts the posts of `id` to window 0.
    int* countPosts(unsigned int id)
    {
        counts.push_back(std::make_unique<int>(0));
        int* counter = counts.back().get();
        NSNotificationCenter::getInstance()->addObserver(
            rig.scene, windows[0], [counter](cocos2d::Ref*, unsigned, NSNotificationData*) { ++*counter; }, id);
        return counter;
    }

    qvtest::DisplayScene rig;
    qvtest::FakeRenderWindow* windows[2] = {};
    std::vector<std::unique_ptr<int>> counts;
};

} // namespace

TEST_F(OverlayNodes, LineNodeKeepsSixteenByteVerticesAndDrawsOnlyWithThem)
{
    isNodeLine* line = isNodeLine::create();
    rig.add(line);
    EXPECT_FALSE(line->hasCameraFlag(1));
    EXPECT_EQ(line->getLineWidth(), 4);
    auto mine = [&] {
        int n = 0;
        for (const auto& record : rig.director->getRenderer()->getCommandRecords())
            n += record.owner == line;
        return n;
    };
    rig.frame();
    EXPECT_EQ(mine(), 0);

    line->addLine(Vec3(1, 2, 3), Vec3(4, 5, 6), cocos2d::Color4F(1, 0.5f, 0, 1));
    ASSERT_EQ(line->getVertices().size(), 2u);
    EXPECT_EQ(line->getVertices()[1].position, Vec3(4, 5, 6));
    EXPECT_EQ(line->getVertices()[0].color.r, 255);
    EXPECT_EQ(line->getVertices()[0].color.b, 0);
    EXPECT_EQ(line->getVertices()[0].color.a, 255);
    rig.frame();
    EXPECT_EQ(mine(), 1);

    line->clearLines();
    rig.frame();
    EXPECT_EQ(mine(), 0);
}

TEST_F(OverlayNodes, TextsFormatTheirOwnWindowsPayloads)
{
    isNodeOverlayText* position = boundText(NOTIFY_OVERLAY_POSITION);
    isNodeOverlayText* window = boundText(NOTIFY_OVERLAY_WINDOW);
    isNodeOverlayText* thickness = boundText(NOTIFY_OVERLAY_THICKNESS);
    isNodeOverlayText* slicePosition = boundText(NOTIFY_OVERLAY_SLICE_POSITION);
    isNodeOverlayText* other = boundText(NOTIFY_OVERLAY_WINDOW, false, 1);
    EXPECT_EQ(position->getKind(), 1u);
    EXPECT_EQ(position->getString(), "W:!");

    rig.post(windows[0], NOTIFY_OVERLAY_POSITION, "{\"x\":\"1.25\",\"y\":\"-3\"}");
    EXPECT_EQ(position->getString(), "W:x:1.2,y:-3.0,z:0.0 !");  // no "z": 0
    rig.post(windows[0], NOTIFY_OVERLAY_WINDOW, "{\"ww\":\"400\",\"wl\":\"40\"}");
    EXPECT_EQ(window->getString(), "W:400 40 !");
    EXPECT_EQ(other->getString(), "W:!");  // the other window's text does not follow
    rig.post(windows[1], NOTIFY_OVERLAY_WINDOW, "{\"ww\":\"10.5\"}");
    EXPECT_EQ(other->getString(), "W:10.5  !");
    EXPECT_EQ(window->getString(), "W:400 40 !");
    rig.post(windows[0], NOTIFY_OVERLAY_THICKNESS, "", 2.5f);
    EXPECT_EQ(thickness->getString(), "W:2.50");
    rig.post(windows[0], NOTIFY_OVERLAY_SLICE_POSITION, "S:12.3mm");
    EXPECT_EQ(slicePosition->getString(), "W:S:12.3mm");

    // Rebinding replaces the old subscription; a number outside the formatted set is static.
    window->bindNotification("Study 7", "<", ">", NOTIFY_OVERLAY_STUDY_ID, false);
    EXPECT_EQ(window->getString(), "<Study 7>");
    rig.post(windows[0], NOTIFY_OVERLAY_WINDOW, "{\"ww\":\"1\",\"wl\":\"2\"}");
    rig.post(windows[0], NOTIFY_OVERLAY_STUDY_ID, "changed");
    EXPECT_EQ(window->getString(), "<Study 7>");
    window->setValue("Study 8");
    EXPECT_EQ(window->getString(), "<Study 8>");
}

TEST_F(OverlayNodes, SliceIndexAndProgressHideAndShow)
{
    isNodeOverlayText* index = boundText(NOTIFY_OVERLAY_SLICE_INDEX);
    rig.post(windows[0], NOTIFY_OVERLAY_SLICE_INDEX, "{\"index\":\"3\",\"count\":\"20\"}");
    EXPECT_EQ(index->getString(), "W:3/20 !");
    rig.post(windows[0], NOTIFY_OVERLAY_SLICE_INDEX, "{\"index\":\"-1\",\"count\":\"0\"}");
    EXPECT_FALSE(index->isVisible());
    EXPECT_EQ(index->getString(), "W:3/20 !");
    rig.post(windows[0], NOTIFY_OVERLAY_SLICE_INDEX, "{\"index\":\"4\",\"count\":\"20\"}");
    EXPECT_TRUE(index->isVisible());
    EXPECT_EQ(index->getString(), "W:4/20 !");

    isNodeOverlayText* progress = boundText(NOTIFY_OVERLAY_PROGRESS);
    rig.post(windows[0], NOTIFY_OVERLAY_PROGRESS, "", 0.5f);
    EXPECT_EQ(progress->getString(), "(50%) ");
    EXPECT_TRUE(progress->isVisible());
    rig.post(windows[0], NOTIFY_OVERLAY_PROGRESS, "", 1.0f);
    EXPECT_FALSE(progress->isVisible());
    EXPECT_EQ(progress->getString(), "");
    rig.post(windows[0], NOTIFY_OVERLAY_PROGRESS, "", 0.25f);
    EXPECT_EQ(progress->getString(), "(25%) ");
    EXPECT_FALSE(progress->isVisible());  // hidden for good
}

TEST_F(OverlayNodes, OnlyTheTouchableWindowTextOpensTheEditor)
{
    int* editorRequests = countPosts(NOTIFY_WL_INPUT);
    isNodeOverlayText* window = boundText(NOTIFY_OVERLAY_WINDOW, true);
    window->setString("400 40");
    window->setPosition(Vec2(200, 200));
    EXPECT_TRUE(window->isTouchEnabled());
    EXPECT_EQ(window->getGlobalZOrder(), 8.0f);  // above its window
    cocos2d::Touch touch;
    touch.setTouchInfo(0, 200, rig.win.height - 200);
    ASSERT_TRUE(window->onTouchBegan(&touch, nullptr));
    window->onTouchEnded(&touch, nullptr);
    rig.frame();
    rig.frame();
    EXPECT_EQ(*editorRequests, 1);

    // The same text bound to another number, touchable or not, requests nothing.
    window->bindNotification("", "", "", NOTIFY_OVERLAY_THICKNESS, true);
    window->setString("1.00");
    if (window->onTouchBegan(&touch, nullptr))
        window->onTouchEnded(&touch, nullptr);
    window->bindNotification("", "", "", NOTIFY_OVERLAY_WINDOW, false);
    EXPECT_FALSE(window->isTouchEnabled());
    rig.frame();
    rig.frame();
    EXPECT_EQ(*editorRequests, 1);
}

TEST_F(OverlayNodes, FrameButtonsFollowTheirWindowAndPostTheirCommand)
{
    int* toggles = countPosts(NOTIFY_FRAME_PLAY_TOGGLE);
    int* nexts = countPosts(NOTIFY_FRAME_NEXT);
    isNodeOverlaySprite* play = isNodeOverlaySprite::create();
    play->setRenderWindow(windows[0]);
    windows[0]->addChild(play);
    play->setup("UIRes/editnormal.png", "UIRes/editnormal.png", NOTIFY_FRAME_PLAY_STATE, "");  // 64 high
    EXPECT_EQ(play->getKind(), 2u);
    EXPECT_EQ(play->getNotificationId(), NOTIFY_FRAME_PLAY_STATE);
    EXPECT_EQ(play->getAnchorPoint(), Vec2::ANCHOR_BOTTOM_RIGHT);
    EXPECT_EQ(play->getGlobalZOrder(), 8.0f);
    ASSERT_EQ(play->getNativeHeight(), 64);

    // 0.8 of its row, but never smaller than a control one hits easily: in a 20-unit row of
    // text the picture is drawn 32 high and asks for a row of 40; the box is the drawn picture,
    // the touch area the row's square around it.
    play->setButtonHeight(60.0f);
    EXPECT_FLOAT_EQ(play->getScale(), 0.75f);
    EXPECT_EQ(play->getButtonHeight(), 60);
    play->setButtonHeight(20.0f);
    EXPECT_EQ(play->getContentSize(), cocos2d::Size(64, 64));
    EXPECT_FLOAT_EQ(play->getScale(), 0.5f);
    EXPECT_EQ(play->getButtonHeight(), 40);
    EXPECT_FLOAT_EQ(play->getTouchScaled(), 1.25f);

    // A missing picture has height 0: the button stays unscaled instead of dividing by it.
    isNodeOverlaySprite* broken = isNodeOverlaySprite::create();
    broken->setup("no/such.png", "", 12345, "");
    broken->setButtonHeight(20.0f);
    EXPECT_FLOAT_EQ(broken->getScale(), 1.0f);
    EXPECT_EQ(broken->getNotificationId(), NOTIFY_NONE);

    rig.post(windows[1], NOTIFY_FRAME_PLAY_BUTTON_VISIBLE, "", 0, 0);
    EXPECT_TRUE(play->isVisible());  // another window's notice
    rig.post(windows[0], NOTIFY_FRAME_PLAY_BUTTON_VISIBLE, "", 0, 0);
    EXPECT_FALSE(play->isVisible());
    rig.post(windows[0], NOTIFY_FRAME_PLAY_BUTTON_VISIBLE, "", 0, 1);
    EXPECT_TRUE(play->isVisible());
    rig.post(windows[0], NOTIFY_FRAME_NEXT_BUTTON_VISIBLE, "", 0, 0);
    EXPECT_TRUE(play->isVisible());  // not its button

    play->setPosition(Vec2(300, 100));
    cocos2d::Touch touch;
    touch.setTouchInfo(0, 300 + 3, rig.win.height - (100 + 5));  // just right of the drawn picture
    ASSERT_TRUE(play->onTouchBegan(&touch, nullptr));
    play->onTouchEnded(&touch, nullptr);

    isNodeOverlaySprite* next = isNodeOverlaySprite::create();
    next->setRenderWindow(windows[0]);
    windows[0]->addChild(next);
    next->setup("UIRes/editnormal.png", "", NOTIFY_FRAME_NEXT, "");
    next->setButtonHeight(20.0f);
    next->setPosition(Vec2(400, 100));
    touch.setTouchInfo(0, 400 - 5, rig.win.height - (100 + 5));
    ASSERT_TRUE(next->onTouchBegan(&touch, nullptr));
    next->onTouchEnded(&touch, nullptr);
    rig.post(windows[0], NOTIFY_FRAME_NEXT_BUTTON_VISIBLE, "", 0, 0);
    EXPECT_FALSE(next->isVisible());
    rig.frame();
    rig.frame();
    EXPECT_EQ(*toggles, 1);
    EXPECT_EQ(*nexts, 1);
}
