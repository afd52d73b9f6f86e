// The draggable label of the measurements: its background follows its size, a drag moves it by
// exactly the touch's movement in its parent's space and posts one 9092 per move.
#include "isNodeText.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "purgeServices.h"

#include "cocos2d.h"

#include <gtest/gtest.h>

using namespace isImageSDK;
using cocos2d::Vec2;

namespace {

class NodeText : public ::testing::Test {
protected:
    void SetUp() override
    {
        director = cocos2d::Director::getInstance();
        director->setOpenGLView(cocos2d::GLViewHeadless::create(cocos2d::Size(640, 480)));
        scene = cocos2d::Scene::create();
        director->runWithScene(scene);
        NSUI::NSNotificationCenter::getInstance();
        director->stepFrame(0.5f);
    }
    void TearDown() override
    {
        purgeServices();
        director->stepFrame(1.0f / 60);
        cocos2d::Director::destroyInstance();
    }
    cocos2d::Director* director = nullptr;
    cocos2d::Scene* scene = nullptr;
};

TEST_F(NodeText, BackgroundCoversTheText)
{
    isNodeText* label = isNodeText::create();
    ASSERT_NE(label, nullptr);
    EXPECT_FALSE(label->isTouchEnabled());
    EXPECT_FALSE(label->isMoved());
    label->setFontSize(15);
    label->setString("Area:3.14,W:2 H:2 Unit:cm");
    EXPECT_GT(label->getContentSize().width, 0.0f);
    EXPECT_EQ(label->getBackground()->getContentSize(), label->getContentSize());
    EXPECT_EQ(label->getBackground()->getLocalZOrder(), -100);
}

TEST_F(NodeText, DragMovesByTheTouchDeltaAndPostsEachMove)
{
    cocos2d::Node* parent = cocos2d::Node::create();
    parent->setPosition(Vec2(100, 50));
    parent->setScale(2.0f);
    scene->addChild(parent);
    isNodeText* label = isNodeText::create();
    label->setString("50.0mm");
    label->setAnchorPoint(Vec2::ANCHOR_BOTTOM_LEFT);
    label->setPosition(Vec2(10, 10));
    label->setTouchEnabled(true);
    parent->addChild(label);

    int moves = 0;
    cocos2d::Ref* sender = nullptr;
    scene->retain();
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        scene, parent,
        [&](cocos2d::Ref* s, unsigned, NSUI::NSNotificationData*) {
            ++moves;
            sender = s;
        },
        NOTIFY_TEXT_NODE_MOVED);

    // A move without a touch that began on the label does nothing.
    cocos2d::Touch stray;
    stray.setTouchInfo(0, 0, 0);
    label->onTouchMoved(&stray, nullptr);
    EXPECT_FALSE(label->isMoved());

    // Inside the label: world (100 + 2 * 12, 50 + 2 * 12).
    cocos2d::Touch touch;
    const Vec2 start(124.0f, 74.0f);
    touch.setTouchInfo(0, start.x, director->getWinSize().height - start.y);
    ASSERT_TRUE(label->onTouchBegan(&touch, nullptr));
    touch.setTouchInfo(0, start.x + 8.0f, director->getWinSize().height - (start.y + 6.0f));
    label->onTouchMoved(&touch, nullptr);
    touch.setTouchInfo(0, start.x + 10.0f, director->getWinSize().height - (start.y + 2.0f));
    label->onTouchMoved(&touch, nullptr);
    label->onTouchEnded(&touch, nullptr);
    // 10 and 2 window units are 5 and 1 units of the parent scaled by 2.
    EXPECT_FLOAT_EQ(label->getPosition().x, 15.0f);
    EXPECT_FLOAT_EQ(label->getPosition().y, 11.0f);
    EXPECT_TRUE(label->isMoved());

    director->stepFrame(1.0f / 60);
    director->stepFrame(1.0f / 60);
    director->stepFrame(1.0f / 60);
    EXPECT_EQ(moves, 2);
    EXPECT_EQ(sender, label);
    NSUI::NSNotificationCenter::getInstance()->removeObserver(scene);
    scene->release();
}

} // namespace
