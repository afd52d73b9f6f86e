// Actions stepped by a hand-stepped director: end frames, exact end states, composition, pausing
// and changes made from inside actions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cocos2d.h"
#include "support/SceneGraphTest.h"

USING_NS_CC;

namespace {

class ActionsTest : public qvtest::SceneGraphTest {
protected:
    Node* onStage()
    {
        Node* n = Node::create();
        scene->addChild(n);
        return n;
    }
    // Steps frames of dt until the node has no action left; returns the number of frames.
    int framesUntilIdle(Node* n, float dt, int limit = 1000)
    {
        int frames = 0;
        while (n->getNumberOfRunningActions() > 0 && frames < limit) {
            director->stepFrame(dt);
            ++frames;
        }
        return frames;
    }
};

} // namespace

TEST_F(ActionsTest, IntervalsEndAtTheFirstFrameReachingTheirDurationWithExactEndStates)
{
    Node* n = onStage();
    n->setPosition(10, 10);
    n->runAction(MoveTo::create(1.0f, Vec2(20.3f, -7.1f)));
    director->stepFrame(0.25f);
    EXPECT_FLOAT_EQ(n->getPositionX(), 10 + 0.25f * 10.3f) << "the first frame after runAction counts";
    director->stepFrame(0.25f);
    director->stepFrame(0.25f);
    EXPECT_EQ(n->getNumberOfRunningActions(), 1);
    director->stepFrame(0.25f);
    EXPECT_EQ(n->getNumberOfRunningActions(), 0);
    EXPECT_EQ(n->getPosition(), Vec2(20.3f, -7.1f)) << "exact, not accumulated";

    // Float frame times that add up to the duration only approximately still end on time.
    n->setOpacity(255);
    n->runAction(FadeTo::create(0.3f, 17));
    EXPECT_EQ(framesUntilIdle(n, 0.1f), 3);
    EXPECT_EQ(n->getOpacity(), 17);
    n->runAction(FadeIn::create(1.0f / 6));
    EXPECT_EQ(framesUntilIdle(n, 1.0f / 60), 10);
    EXPECT_EQ(n->getOpacity(), 255);

    n->setScale(1.0f);
    n->runAction(ScaleTo::create(0.5f, 3.0f, 0.25f));
    n->runAction(RotateBy::create(0.5f, -45.0f));
    EXPECT_EQ(framesUntilIdle(n, 0.2f), 3);
    EXPECT_EQ(n->getScaleX(), 3.0f);
    EXPECT_EQ(n->getScaleY(), 0.25f);
    EXPECT_FLOAT_EQ(n->getRotation(), -45.0f);

    // A zero-length action ends at its first frame.
    n->runAction(MoveBy::create(0.0f, Vec2(1, 1)));
    EXPECT_EQ(framesUntilIdle(n, 0.1f), 1);
    EXPECT_FLOAT_EQ(n->getPositionX(), 21.3f);
    EXPECT_FLOAT_EQ(n->getPositionY(), -6.1f);
}

TEST_F(ActionsTest, SequenceRunsInOrderWithoutCarryingTheRestOfAFrame)
{
    Node* n = onStage();
    std::vector<std::string> log;
    auto mark = [&log, n](const std::string& what) {
        return CallFunc::create([&log, n, what] { log.push_back(what + "@" + std::to_string(n->getPositionX())); });
    };
    n->runAction(Sequence::create(mark("start"), DelayTime::create(0.3f), mark("delayed"), MoveTo::create(0.2f, Vec2(8, 0)),
                                  mark("moved"), Hide::create(), nullptr));
    director->stepFrame(0.25f);
    EXPECT_EQ(log, (std::vector<std::string>{"start@0.000000"}));
    director->stepFrame(0.25f);
    // The delay ends with 0.2 s of the frame left; the move starts from zero at the next frame.
    EXPECT_EQ(log, (std::vector<std::string>{"start@0.000000", "delayed@0.000000"}));
    EXPECT_EQ(n->getPositionX(), 0.0f);
    EXPECT_TRUE(n->isVisible());
    director->stepFrame(0.25f);
    EXPECT_EQ(log.back(), "moved@8.000000");
    EXPECT_FALSE(n->isVisible());
    EXPECT_EQ(n->getNumberOfRunningActions(), 0);
}

TEST_F(ActionsTest, RepeatAndRepeatForeverRestartTheirInnerAction)
{
    Node* n = onStage();
    int calls = 0;
    n->runAction(Repeat::create(Sequence::create(DelayTime::create(0.1f), CallFunc::create([&calls] { ++calls; }), nullptr),
                                3));
    EXPECT_EQ(framesUntilIdle(n, 0.1f), 3);
    EXPECT_EQ(calls, 3);

    // The spinner: a full turn every 2 s, forever.
    auto* spin = RepeatForever::create(RotateBy::create(2.0f, 360.0f));
    spin->setTag(5);
    n->runAction(spin);
    for (int i = 0; i < 8; ++i) {
        director->stepFrame(0.25f);
    }
    EXPECT_FLOAT_EQ(n->getRotation(), 360.0f);
    director->stepFrame(0.5f);
    EXPECT_FLOAT_EQ(n->getRotation(), 360.0f + 90.0f);
    EXPECT_EQ(n->getActionByTag(5), spin);
    n->stopActionByTag(5);
    EXPECT_EQ(n->getNumberOfRunningActions(), 0);
    director->stepFrame(0.5f);
    EXPECT_FLOAT_EQ(n->getRotation(), 450.0f);
}

TEST_F(ActionsTest, ActionsPauseWithTheNodeAndCleanupRemovesThem)
{
    Node* parent = onStage();
    Node* n = Node::create();
    parent->addChild(n);
    n->runAction(MoveBy::create(1.0f, Vec2(100, 0)));
    director->stepFrame(0.5f);
    EXPECT_FLOAT_EQ(n->getPositionX(), 50.0f);

    n->retain();
    parent->removeChild(n, false);
    director->stepFrame(0.5f);
    EXPECT_FLOAT_EQ(n->getPositionX(), 50.0f) << "paused while off stage";
    parent->addChild(n);
    director->stepFrame(0.5f);
    EXPECT_FLOAT_EQ(n->getPositionX(), 100.0f);

    n->runAction(MoveBy::create(1.0f, Vec2(100, 0)));
    parent->removeChild(n, true);
    EXPECT_EQ(n->getNumberOfRunningActions(), 0) << "cleanup stops the actions";
    parent->addChild(n);
    director->stepFrame(0.5f);
    EXPECT_FLOAT_EQ(n->getPositionX(), 100.0f);
    n->release();

    // An action runs on one node at a time.
    auto* move = MoveBy::create(1.0f, Vec2(1, 0));
    Node* a = onStage();
    Node* b = onStage();
    qvtest::LogCapture logs;
    a->runAction(move);
    b->runAction(move);
    EXPECT_EQ(b->getNumberOfRunningActions(), 0);
    EXPECT_EQ(logs.count("ActionManager: the action is already running"), 1u);
}

TEST_F(ActionsTest, ChangesFromInsideACallFuncAreSafe)
{
    Node* n = onStage();
    int later = 0;
    int restarted = 0;
    // Stopping every action of the node from inside one of them ends the sequence there.
    n->runAction(Sequence::create(CallFunc::create([n, &restarted] {
                                      n->stopAllActions();
                                      n->runAction(CallFunc::create([&restarted] { ++restarted; }));
                                  }),
                                  CallFunc::create([&later] { ++later; }), nullptr));
    director->stepFrame(0.1f);
    EXPECT_EQ(later, 0);
    EXPECT_EQ(restarted, 0) << "an action started during the update steps from the next one";
    director->stepFrame(0.1f);
    EXPECT_EQ(restarted, 1);

    // A node removing itself (and being freed) in the middle of its own sequence.
    auto journal = std::make_shared<qvtest::Journal>();
    auto* doomed = qvtest::JNode::make("doomed", journal);
    scene->addChild(doomed);
    doomed->runAction(Sequence::create(DelayTime::create(0.1f), RemoveSelf::create(),
                                       CallFunc::create([&later] { ++later; }), nullptr));
    doomed->runAction(MoveBy::create(1.0f, Vec2(5, 5)));
    director->stepFrame(0.1f);
    EXPECT_EQ(later, 0) << "the cleanup of RemoveSelf stops the rest";
    EXPECT_EQ(journal->back(), "doomed:deleted");
    director->stepFrame(0.1f);
}

TEST_F(ActionsTest, EasingBendsProgressAndKeepsTheEnd)
{
    Node* n = onStage();
    n->setScale(1.0f);
    n->runAction(EaseCubicActionOut::create(ScaleTo::create(1.0f, 2.0f)));
    director->stepFrame(0.5f);
    EXPECT_FLOAT_EQ(n->getScale(), 1.0f + 0.875f);
    director->stepFrame(0.5f);
    EXPECT_EQ(n->getScale(), 2.0f);

    // The tool disk's hide: an eased spawn, then hidden.
    n->setPosition(100, 100);
    n->runAction(Sequence::create(
        EaseCubicActionIn::create(Spawn::create(ScaleTo::create(0.3f, 0.1f), RotateBy::create(0.3f, 90.0f),
                                                MoveTo::create(0.2f, Vec2(0, 0)), nullptr)),
        Hide::create(), nullptr));
    director->stepFrame(0.15f);
    // Eased progress 0.125 of 0.3 s = 0.0375 s: the 0.2 s move is at 0.1875 of its way.
    EXPECT_NEAR(n->getPositionX(), 100 - 100 * 0.1875f, 1e-3);
    EXPECT_NEAR(n->getRotation(), 90 * 0.125f, 1e-3);
    EXPECT_TRUE(n->isVisible());
    director->stepFrame(0.15f);
    EXPECT_EQ(n->getPosition(), Vec2::ZERO);
    EXPECT_FLOAT_EQ(n->getRotation(), 90.0f);
    EXPECT_EQ(n->getScale(), 0.1f);
    EXPECT_FALSE(n->isVisible());
}
