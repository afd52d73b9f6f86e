// The director's frame, its counters and the scene stack, stepped by hand.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cocos2d.h"
#include "support/HeadlessDirector.h"

USING_NS_CC;

namespace {

using Journal = std::vector<std::string>;

// A scene that writes its lifecycle calls to a journal.
class JournalScene : public Scene {
public:
    static JournalScene* create(const std::string& name, std::shared_ptr<Journal> journal)
    {
        auto* s = new JournalScene();
        s->_label = name;
        s->_journal = std::move(journal);
        s->init();
        s->autorelease();
        return s;
    }
    void onEnter() override
    {
        Scene::onEnter();
        _journal->push_back(_label + ":enter");
    }
    void onEnterTransitionDidFinish() override
    {
        Scene::onEnterTransitionDidFinish();
        _journal->push_back(_label + ":entered");
    }
    void onExitTransitionDidStart() override
    {
        _journal->push_back(_label + ":exitStart");
        Scene::onExitTransitionDidStart();
    }
    void onExit() override
    {
        _journal->push_back(_label + ":exit");
        Scene::onExit();
    }
    void cleanup() override
    {
        _journal->push_back(_label + ":cleanup");
        Scene::cleanup();
    }
    void visit(Renderer* r, const Mat4& t, uint32_t f) override
    {
        ++visits;
        Scene::visit(r, t, f);
    }
    ~JournalScene() override { _journal->push_back(_label + ":deleted"); }

    int visits = 0;

private:
    std::string _label;
    std::shared_ptr<Journal> _journal;
};

class DirectorTest : public qvtest::HeadlessDirectorTest {
protected:
    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    JournalScene* scene(const std::string& name) { return JournalScene::create(name, journal); }
    Journal take()
    {
        Journal j = *journal;
        journal->clear();
        return j;
    }
};

} // namespace
TEST_F(DirectorTest, FramesCountAndSecondsPerFrameFollowTheStep)
{
    EXPECT_EQ(director->getWinSize(), Size(960, 640));
    EXPECT_TRUE(director->isHeadless());
    const unsigned int start = director->getTotalFrames();

    std::atomic<bool> stop{false};
    std::atomic<bool> monotonic{true};
    std::thread reader([&] {
        unsigned int last = director->getTotalFrames();
        while (!stop.load()) {
            const unsigned int now = director->getTotalFrames();
            if (now < last) {
                monotonic.store(false);
            }
            last = now;
        }
    });
    for (int i = 0; i < 100; ++i) {
        director->stepFrame(0.31f);
    }
    stop.store(true);
    reader.join();
    EXPECT_TRUE(monotonic.load());
    EXPECT_EQ(director->getTotalFrames(), start + 100);
    EXPECT_FLOAT_EQ(director->getSecondsPerFrame(), 0.31f);
    director->stepFrame(1.0f / 60);
    EXPECT_FLOAT_EQ(director->getSecondsPerFrame(), 1.0f / 60);

    // Measured frames read 0 during the first second after the view is set.
    director->setOpenGLView(GLViewHeadless::create(Size(100, 100)));
    director->mainLoop();
    director->mainLoop();
    EXPECT_EQ(director->getSecondsPerFrame(), 0.0f);
}

TEST_F(DirectorTest, SceneChangesApplyAtTheNextFrame)
{
    JournalScene* a = scene("A");
    director->runWithScene(a);
    EXPECT_EQ(director->getRunningScene(), nullptr);
    EXPECT_TRUE(journal->empty());
    director->stepFrame(0.1f);
    EXPECT_EQ(director->getRunningScene(), a);
    EXPECT_EQ(take(), (Journal{"A:enter", "A:entered"}));
    EXPECT_EQ(a->visits, 1);

    // Push: the covered scene exits without cleanup.
    JournalScene* b = scene("B");
    director->pushScene(b);
    EXPECT_EQ(director->getRunningScene(), a);
    director->stepFrame(0.1f);
    EXPECT_EQ(take(), (Journal{"A:exitStart", "A:exit", "B:enter", "B:entered"}));

    // Pop: the popped scene exits, is cleaned up and freed; the revealed one enters again.
    director->popScene();
    director->stepFrame(0.1f);
    EXPECT_EQ(take(), (Journal{"B:exitStart", "B:exit", "B:cleanup", "B:deleted", "A:enter", "A:entered"}));
    EXPECT_EQ(director->getRunningScene(), a);

    // Replace: the replaced scene is cleaned up.
    director->replaceScene(scene("C"));
    director->stepFrame(0.1f);
    EXPECT_EQ(take(), (Journal{"A:exitStart", "A:exit", "A:cleanup", "A:deleted", "C:enter", "C:entered"}));
}

TEST_F(DirectorTest, PopSeveralScenesAndPopTheLast)
{
    director->runWithScene(scene("A"));
    director->stepFrame(0.1f);
    director->pushScene(scene("B"));
    director->stepFrame(0.1f);
    director->pushScene(scene("C"));
    director->stepFrame(0.1f);
    take();

    // Only the finally revealed scene is entered; the covered B is cleaned up and freed.
    director->popScene(2);
    director->stepFrame(0.1f);
    EXPECT_EQ(take(), (Journal{"B:cleanup", "B:deleted", "C:exitStart", "C:exit", "C:cleanup", "C:deleted",
                               "A:enter", "A:entered"}));
    EXPECT_EQ(director->getSceneCount(), 1);

    // Popping the last scene ends the loop at the next frame.
    director->popScene();
    EXPECT_FALSE(director->isEnded());
    director->stepFrame(0.1f);
    EXPECT_TRUE(director->isEnded());
    EXPECT_EQ(take(), (Journal{"A:exitStart", "A:exit", "A:cleanup", "A:deleted"}));
    EXPECT_EQ(director->getRunningScene(), nullptr);
}

TEST_F(DirectorTest, StoppedAnimationStillRunsTimersAndQueue)
{
    JournalScene* a = scene("A");
    director->runWithScene(a);
    director->stepFrame(0.1f);
    const unsigned int frames = director->getTotalFrames();

    int ticks = 0, queued = 0;
    a->schedule([&](float) { ++ticks; }, "tick");
    director->stopAnimation();
    director->getScheduler()->performFunctionInCocosThread([&] { ++queued; });
    director->stepFrame(0.1f);
    director->stepFrame(0.1f);
    EXPECT_EQ(a->visits, 1);
    EXPECT_EQ(director->getTotalFrames(), frames);
    EXPECT_EQ(ticks, 2);
    EXPECT_EQ(queued, 1);

    director->startAnimation();
    director->stepFrame(0.1f);
    EXPECT_EQ(a->visits, 2);
    EXPECT_EQ(director->getTotalFrames(), frames + 1);
}

TEST_F(DirectorTest, DestroyInstanceEndsTheRunningScene)
{
    director->runWithScene(scene("A"));
    director->stepFrame(0.1f);
    take();
    Director::destroyInstance();
    EXPECT_EQ(take(), (Journal{"A:exitStart", "A:exit", "A:cleanup", "A:deleted"}));
    // A fresh director for the fixture's teardown.
    director = Director::getInstance();
    EXPECT_EQ(director->getRunningScene(), nullptr);
}
