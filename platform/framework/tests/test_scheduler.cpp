// Scheduler timing, ordering, changes made from callbacks, and the run-on-main-thread queue on the
// main thread (fed from other threads in threads/test_scheduler_threads.cpp).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cocos2d.h"
#include "support/HeadlessDirector.h"

USING_NS_CC;

namespace {

using SchedulerTest = qvtest::HeadlessDirectorTest;

// Steps the scheduler `n` times by dt and returns at which steps (1-based) `calls` grew.
std::vector<int> firingSteps(Scheduler* s, int n, float dt, const int& calls)
{
    std::vector<int> steps;
    for (int i = 1; i <= n; ++i) {
        const int before = calls;
        s->update(dt);
        for (int k = before; k < calls; ++k) {
            steps.push_back(i);
        }
    }
    return steps;
}

class Ticker : public Ref {
public:
    int ticks = 0;
    void tick(float) { ++ticks; }
};

} // namespace
TEST_F(SchedulerTest, DelayThenInterval)
{
    int target = 0;
    int zeroCalls = 0, secondCalls = 0;
    // The notification tick: every frame, first after 0.5 s.
    scheduler->schedule([&](float) { ++zeroCalls; }, &target, 0.0f, CC_REPEAT_FOREVER, 0.5f, false, "zero");
    // The data-manager tick: every second, first after 0.5 s.
    scheduler->schedule([&](float) { ++secondCalls; }, &target, 1.0f, CC_REPEAT_FOREVER, 0.5f, false, "second");

    int steps = 0;
    for (; steps < 4; ++steps) {
        scheduler->update(0.1f);
    }
    EXPECT_EQ(zeroCalls, 0);
    scheduler->update(0.1f); // 0.5 s
    EXPECT_EQ(zeroCalls, 1);
    EXPECT_EQ(secondCalls, 1);
    scheduler->update(0.1f);
    EXPECT_EQ(zeroCalls, 2); // then once per update

    int calls = 0;
    int other = 0;
    scheduler->schedule([&](float) { ++calls; }, &other, 1.0f, CC_REPEAT_FOREVER, 0.5f, false, "k");
    EXPECT_EQ(firingSteps(scheduler, 26, 0.1f, calls), (std::vector<int>{5, 15, 25})); // 0.5, 1.5, 2.5 s
}

TEST_F(SchedulerTest, RepeatCountsAndIntervalZeroDt)
{
    int target = 0;
    int calls = 0;
    scheduler->schedule([&](float) { ++calls; }, &target, 0.1f, 1, 0.0f, false, "twice");
    for (int i = 0; i < 20; ++i) {
        scheduler->update(0.1f);
    }
    EXPECT_EQ(calls, 2); // repeat 1 = two calls in all
    EXPECT_FALSE(scheduler->isScheduled("twice", &target));

    std::vector<float> dts;
    scheduler->schedule([&](float dt) { dts.push_back(dt); }, &target, 0.0f, false, "every");
    scheduler->update(0.25f);
    scheduler->update(0.5f);
    EXPECT_EQ(dts, (std::vector<float>{0.25f, 0.5f}));
}

TEST_F(SchedulerTest, ShortIntervalsFireSeveralTimesPerFrame)
{
    int target = 0;
    int calls = 0;
    std::vector<float> dts;
    scheduler->schedule(
        [&](float dt) {
            ++calls;
            dts.push_back(dt);
        },
        &target, 0.005f, false, "cine");
    int total = 0;
    for (int frame = 0; frame < 18; ++frame) { // 0.3 s at 60 Hz
        const int before = calls;
        scheduler->update(1.0f / 60);
        const int inFrame = calls - before;
        EXPECT_TRUE(inFrame == 3 || inFrame == 4) << "frame " << frame << ": " << inFrame;
        total = calls;
    }
    EXPECT_EQ(total, 60); // 60 ticks take 0.3 s
    for (float dt : dts) {
        EXPECT_FLOAT_EQ(dt, 0.005f);
    }

    // After a stall the calls of one update are capped and the backlog is dropped.
    calls = 0;
    scheduler->update(10.0f);
    EXPECT_EQ(calls, 200);
    calls = 0;
    scheduler->update(1.0f / 60);
    EXPECT_EQ(calls, 3);
}

TEST_F(SchedulerTest, ReschedulingAKeyOnlyChangesTheInterval)
{
    int target = 0;
    int calls = 0;
    auto cb = [&](float) { ++calls; };
    scheduler->schedule(cb, &target, 1.0f, CC_REPEAT_FOREVER, 0.5f, false, "auto-hide");
    scheduler->update(0.4f);
    // Scheduled again with another interval and a long delay: the delay is not restarted and no
    // second timer appears.
    scheduler->schedule(cb, &target, 0.2f, CC_REPEAT_FOREVER, 5.0f, false, "auto-hide");
    scheduler->update(0.1f); // 0.5 s: the original delay ends
    EXPECT_EQ(calls, 1);
    scheduler->update(0.2f);
    EXPECT_EQ(calls, 2); // the new interval
    scheduler->update(0.2f);
    EXPECT_EQ(calls, 3);
}

TEST_F(SchedulerTest, ChangesMadeFromCallbacks)
{
    int a = 0, b = 0, c = 0;
    std::vector<std::string> order;

    // A timer that removes itself is not called again, even with a backlog of ticks.
    int selfCalls = 0;
    scheduler->schedule(
        [&](float) {
            ++selfCalls;
            scheduler->unschedule("self", &a);
        },
        &a, 0.005f, false, "self");

    // A timer removing a later timer of its own target and a timer of a later target.
    scheduler->schedule(
        [&](float) {
            order.push_back("a.first");
            scheduler->unschedule("second", &a);
            scheduler->unscheduleAllForTarget(&b);
            // Scheduled from a callback: starts with the next update.
            scheduler->schedule([&](float) { order.push_back("c.new"); }, &c, 0.0f, false, "new");
        },
        &a, 0.0f, CC_REPEAT_FOREVER, 0.0f, false, "first");
    scheduler->schedule([&](float) { order.push_back("a.second"); }, &a, 0.0f, false, "second");
    scheduler->schedule([&](float) { order.push_back("b"); }, &b, 0.0f, false, "b");

    scheduler->update(1.0f / 60);
    EXPECT_EQ(selfCalls, 1);
    EXPECT_EQ(order, (std::vector<std::string>{"a.first"}));
    order.clear();
    scheduler->update(1.0f / 60);
    EXPECT_EQ(order, (std::vector<std::string>{"a.first", "c.new"}));
    EXPECT_EQ(selfCalls, 1);
}

TEST_F(SchedulerTest, OrderWithinOneUpdate)
{
    std::vector<std::string> order;
    int t1 = 0, t2 = 0;
    struct Updatable {
        std::vector<std::string>* order;
        std::string name;
        void update(float) { order->push_back(name); }
    };
    Updatable late{&order, "update+5"}, early{&order, "update-5"}, system{&order, "system"};
    scheduler->performFunctionInCocosThread([&] { order.push_back("queued"); });
    scheduler->schedule([&](float) { order.push_back("t2.x"); }, &t2, 0.0f, false, "x");
    scheduler->schedule([&](float) { order.push_back("t1.y"); }, &t1, 0.0f, false, "y");
    scheduler->schedule([&](float) { order.push_back("t2.z"); }, &t2, 0.0f, false, "z");
    scheduler->scheduleUpdate(&late, 5, false);
    scheduler->scheduleUpdate(&early, -5, false);
    scheduler->scheduleUpdate(&system, Scheduler::PRIORITY_SYSTEM, false);
    scheduler->update(0.1f);
    EXPECT_EQ(order, (std::vector<std::string>{"system", "update-5", "update+5", "t2.x", "t2.z", "t1.y", "queued"}));

    order.clear();
    scheduler->pauseTarget(&t2);
    scheduler->pauseTarget(&late);
    EXPECT_TRUE(scheduler->isTargetPaused(&t2));
    scheduler->update(0.1f);
    EXPECT_EQ(order, (std::vector<std::string>{"system", "update-5", "t1.y"}));
    scheduler->resumeTarget(&t2);
    scheduler->unscheduleUpdate(&system);
    scheduler->unscheduleUpdate(&early);
    scheduler->unschedule("y", &t1);
    order.clear();
    scheduler->update(0.1f);
    EXPECT_EQ(order, (std::vector<std::string>{"t2.x", "t2.z"}));
    scheduler->unscheduleAllForTarget(&t2);
    scheduler->unscheduleUpdate(&late);
}

TEST_F(SchedulerTest, SelectorTimersAndNodeTimers)
{
    auto* ticker = new Ticker();
    scheduler->schedule(CC_SCHEDULE_SELECTOR(Ticker::tick), ticker, 0.0f, false);
    EXPECT_TRUE(scheduler->isScheduled(CC_SCHEDULE_SELECTOR(Ticker::tick), ticker));
    scheduler->update(0.1f);
    scheduler->unschedule(CC_SCHEDULE_SELECTOR(Ticker::tick), ticker);
    scheduler->update(0.1f);
    EXPECT_EQ(ticker->ticks, 1);
    ticker->release();

    // A node's timers wait until the node runs.
    Node* node = Node::create();
    int calls = 0;
    node->schedule([&](float) { ++calls; }, "tick");
    scheduler->update(0.1f);
    EXPECT_EQ(calls, 0);
    node->onEnter();
    scheduler->update(0.1f);
    EXPECT_EQ(calls, 1);
    node->onExit();
    scheduler->update(0.1f);
    EXPECT_EQ(calls, 1);
    node->cleanup();
    EXPECT_FALSE(node->isScheduled("tick"));
}

TEST_F(SchedulerTest, QueuedDuringTheRunWaitsForTheNextFrame)
{
    std::vector<std::string> ran;
    int owner = 0;
    scheduler->performFunctionInCocosThread([&] {
        ran.push_back("first");
        scheduler->performFunctionInCocosThread([&] { ran.push_back("later"); });
        scheduler->removeFunctionInCocosThread(&owner); // drops a function of this very batch
    });
    scheduler->performFunctionInCocosThread([&] { ran.push_back("owned"); }, &owner);
    scheduler->performFunctionInCocosThread([&] { ran.push_back("second"); });
    scheduler->update(0.0f);
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "second"}));
    scheduler->update(0.0f);
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "second", "later"}));
    EXPECT_EQ(scheduler->getPendingFunctionCount(), 0u);
}
