#include "NSNotificationCenter.h"
#include "support/HeadlessFrames.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using NSUI::NSNotificationCenter;
using NSUI::NSNotificationData;

namespace
{

// A stand-in for a screen, actor or service: a Ref that records what it receives.
class Listener : public cocos2d::Ref
{
public:
    explicit Listener(std::string name_, std::vector<std::string>* log_ = nullptr)
        : name(std::move(name_)), log(log_)
    {
    }

    NSUI::NSNotificationCallback callback()
    {
        return [this](cocos2d::Ref* sender, unsigned int id, NSNotificationData* data)
        {
            received.push_back({sender, id, data ? data->text : std::string("-")});
            if (log)
                log->push_back(name + ":" + std::to_string(id) + (data ? ":" + data->text : ""));
        };
    }

    struct Received
    {
        cocos2d::Ref* sender;
        unsigned int id;
        std::string text;
    };
    std::string name;
    std::vector<std::string>* log;
    std::vector<Received> received;
};

NSNotificationData* textData(const std::string& text)
{
    auto* data = NSNotificationData::create();
    data->text = text;
    return data;
}

} // namespace

class NotificationCenter : public HeadlessFrames
{
protected:
    void SetUp() override
    {
        HeadlessFrames::SetUp();
        center = NSNotificationCenter::getInstance();
        passStartDelay();
    }
    void TearDown() override
    {
        for (Listener* l : {&a, &b, &c})
            center->removeObserver(l);
        HeadlessFrames::TearDown();
    }

    NSNotificationCenter* center = nullptr;
    std::vector<std::string> log;
    Listener a{"a", &log};
    Listener b{"b", &log};
    Listener c{"c", &log};
};

TEST_F(NotificationCenter, NothingIsDeliveredInTheFirstHalfSecond)
{
    NSNotificationCenter::destroyInstance();
    center = NSNotificationCenter::getInstance();
    center->addObserver(&a, nullptr, a.callback(), 9001);
    center->postNotification(nullptr, 9001, nullptr, nullptr, true);
    step(29, 1.0f / 60.0f);
    EXPECT_TRUE(a.received.empty());
    step(2, 1.0f / 60.0f);
    EXPECT_EQ(a.received.size(), 1u);
}

TEST_F(NotificationCenter, SenderContextAndSelfDeliveryRules)
{
    int ctxX = 0, ctxY = 0;
    center->addObserver(&a, nullptr, a.callback(), 9001);
    center->addObserver(&b, nullptr, b.callback(), 9001);
    center->addObserver(&c, &ctxX, c.callback(), 9001);

    // A target never receives its own post; another target with the same context does.
    center->postNotification(&a, 9001, nullptr, nullptr, true);
    // Contexts match exactly: only c gets the post made with context X, nobody gets Y.
    center->postNotification(&a, 9001, nullptr, &ctxX, true);
    center->postNotification(&a, 9001, nullptr, &ctxY, true);
    // Another number reaches nobody.
    center->postNotification(&a, 9002, nullptr, nullptr, true);
    step();
    EXPECT_TRUE(a.received.empty());
    ASSERT_EQ(b.received.size(), 1u);
    EXPECT_EQ(b.received[0].sender, &a);
    EXPECT_EQ(b.received[0].id, 9001u);
    ASSERT_EQ(c.received.size(), 1u);

    // The unsigned post goes out with no sender and context 0, whatever the caller passes, so it
    // reaches the target that posted it and never an observer with another context.
    a.received.clear();
    b.received.clear();
    c.received.clear();
    center->addObserver(
        &a, nullptr,
        [&](cocos2d::Ref* sender, unsigned int, NSNotificationData* data)
        {
            EXPECT_EQ(sender, nullptr);
            EXPECT_EQ(data->uintValue, 77u);
            a.received.push_back({sender, NOTIFY_NET_SEND_DONE, ""});
        },
        NOTIFY_NET_SEND_DONE);
    center->addObserver(&c, &ctxX, c.callback(), NOTIFY_NET_SEND_DONE);
    center->postUIntNotification(&a, NOTIFY_NET_SEND_DONE, 77u, &ctxX, false);
    step();
    EXPECT_EQ(a.received.size(), 1u);
    EXPECT_TRUE(c.received.empty());
}

// A tick delivers everything queued before it in posting order, normal and urgent alike, as long
// as its time budget lasts; with the budget spent, one normal delivery a tick goes on while the
// urgent ones never wait behind the normal backlog.
TEST_F(NotificationCenter, BacklogDrainsInPostingOrderAndUrgentNeverWaits)
{
    // A budget no tick of this test can spend, however busy the machine.
    center->setDeliveryBudget(std::chrono::seconds(10));
    center->addObserver(&a, nullptr, a.callback(), 9001);
    auto postAll = [&] {
        center->postNotification(nullptr, 9001, textData("U0"), nullptr, true);
        center->postNotification(nullptr, 9001, textData("P"), nullptr, false);
        center->postNotification(nullptr, 9001, textData("Q"), nullptr, false);
        center->postNotification(nullptr, 9001, textData("U1"), nullptr, true);
        center->postNotification(nullptr, 9001, textData("R"), nullptr, false);
    };
    postAll();
    step();
    EXPECT_EQ(log, (std::vector<std::string>{"a:9001:U0", "a:9001:P", "a:9001:Q", "a:9001:U1", "a:9001:R"}));
    step(2);
    EXPECT_EQ(log.size(), 5u);

    // No budget left: one normal delivery a tick, every urgent one in the first tick, in order.
    log.clear();
    center->setDeliveryBudget(std::chrono::microseconds(0));
    postAll();
    step();
    EXPECT_EQ(log, (std::vector<std::string>{"a:9001:U0", "a:9001:P", "a:9001:U1"}));
    step();
    EXPECT_EQ(log.back(), "a:9001:Q");
    step();
    EXPECT_EQ(log.back(), "a:9001:R");

    // An urgent post behind a long normal backlog goes out in the very next tick, after the one
    // normal delivery of that tick that was posted before it.
    log.clear();
    for (int i = 0; i < 100; ++i)
        center->postNotification(nullptr, 9001, textData("n" + std::to_string(i)), nullptr, false);
    step();
    center->postNotification(nullptr, 9001, textData("urgent"), nullptr, true);
    step(2);
    EXPECT_EQ(log, (std::vector<std::string>{"a:9001:n0", "a:9001:n1", "a:9001:urgent", "a:9001:n2"}));
}

// What callbacks post during a tick waits for the next tick; what they cancel or remove is not
// delivered in the rest of the tick, queued normal deliveries included.
TEST_F(NotificationCenter, CallbacksOfATickReachTheRestOfItsBacklog)
{
    center->setDeliveryBudget(std::chrono::seconds(10));
    int ctx = 0;
    center->addObserver(
        &a, nullptr,
        [&](cocos2d::Ref*, unsigned int, NSNotificationData* data)
        {
            log.push_back("a:" + data->text);
            if (data->text != "P")
                return;
            center->postNotification(&a, 9001, textData("later"), nullptr, false);
            center->postNotification(&a, 9001, textData("later-urgent"), nullptr, true);
            center->cancelNotification(&c, 9001, nullptr); // Q
            center->removeObserver(&b);                    // R
        },
        9001);
    center->addObserver(&b, &ctx, b.callback(), 9002);
    center->addObserver(&c, nullptr, c.callback(), 9001);
    center->postNotification(nullptr, 9001, textData("P"), nullptr, false);
    center->postNotification(&c, 9001, textData("Q"), nullptr, false);
    center->postNotification(nullptr, 9002, textData("R"), &ctx, false);
    center->postNotification(&b, 9001, textData("S"), nullptr, false);
    step();
    // Q was c's own post, so it was addressed to a only.
    EXPECT_EQ(log, (std::vector<std::string>{"a:P", "c:9001:P", "a:S", "c:9001:S"}));
    EXPECT_TRUE(b.received.empty());
    step();
    EXPECT_EQ(log, (std::vector<std::string>{"a:P", "c:9001:P", "a:S", "c:9001:S", "c:9001:later",
                                             "c:9001:later-urgent"}));
}

// A thousand stored images post two thousand normal notices; a notice posted behind them (a
// query's answer) must reach its screen within a second of frames, not after two thousand. (With
// the default budget this takes a frame or two; the bound leaves room for a busy machine.)
TEST_F(NotificationCenter, ABacklogOfTwoThousandIsGoneWithinASecondOfFrames)
{
    int stored = 0, storedBeforeAnswer = -1;
    using Data = NSNotificationData;
    center->addObserver(&a, nullptr, [&](cocos2d::Ref*, unsigned int, Data*) { ++stored; }, NOTIFY_DB_PATIENT_STORED);
    center->addObserver(&b, nullptr, [&](cocos2d::Ref*, unsigned int, Data*) { storedBeforeAnswer = stored; },
                        NOTIFY_NET_FIND_STUDY);
    for (int i = 0; i < 2000; ++i)
        center->postStringNotification(&c, NOTIFY_DB_PATIENT_STORED, "{}", nullptr, false);
    center->postNotification(nullptr, NOTIFY_NET_FIND_STUDY, nullptr, nullptr, false);
    int frames = 0;
    for (; storedBeforeAnswer < 0 && frames < 2100; ++frames)
        step();
    EXPECT_LE(frames, 60);
    EXPECT_EQ(storedBeforeAnswer, 2000);
}

TEST_F(NotificationCenter, RegisteringTwiceAndRemoving)
{
    center->addObserver(&a, nullptr, a.callback(), 9001);
    int secondCalls = 0;
    center->addObserver(
        &a, nullptr, [&](cocos2d::Ref*, unsigned int, NSNotificationData*) { ++secondCalls; }, 9001);
    center->addObserver(&a, nullptr, a.callback(), 9002);
    EXPECT_TRUE(center->hasObserver(9001, nullptr, &a));
    center->postNotification(nullptr, 9001, nullptr, nullptr, true);
    step();
    EXPECT_EQ(a.received.size(), 1u); // once, through the first callback
    EXPECT_EQ(secondCalls, 0);

    // Removal by number keeps the other registration and drops the pending deliveries.
    center->postNotification(nullptr, 9001, nullptr, nullptr, true);
    center->postNotification(nullptr, 9002, nullptr, nullptr, true);
    center->removeObserverForId(9001, &a);
    EXPECT_FALSE(center->hasObserver(9001, nullptr, &a));
    step();
    ASSERT_EQ(a.received.size(), 2u);
    EXPECT_EQ(a.received[1].id, 9002u);

    center->removeObserver(&a);
    center->postNotification(nullptr, 9002, nullptr, nullptr, true);
    step();
    EXPECT_EQ(a.received.size(), 2u);
}

// Removing an observer from inside a callback suppresses its deliveries still to come in the same
// tick, and a later cancel in the same tick must not read the removed observer.
TEST_F(NotificationCenter, ObserverRemovedMidTickIsSkippedSafely)
{
    center->addObserver(
        &a, nullptr,
        [&](cocos2d::Ref*, unsigned int, NSNotificationData*)
        {
            log.push_back("a");
            center->removeObserver(&b);
        },
        9001);
    center->addObserver(&b, nullptr, b.callback(), 9002);
    center->addObserver(
        &c, nullptr,
        [&](cocos2d::Ref*, unsigned int, NSNotificationData*)
        {
            log.push_back("c");
            center->cancelNotification(nullptr, 9002, nullptr);
            center->cancelNotificationsForTarget(&b);
            center->cancelNotificationInFrame(nullptr, 9002, nullptr);
        },
        9003);
    center->postNotification(nullptr, 9001, nullptr, nullptr, true);
    center->postNotification(nullptr, 9003, nullptr, nullptr, true);
    center->postNotification(nullptr, 9002, nullptr, nullptr, true);
    step();
    EXPECT_EQ(log, (std::vector<std::string>{"a", "c"}));
    EXPECT_TRUE(b.received.empty());
}

TEST_F(NotificationCenter, CallbackMayRemoveItsOwnRegistrationAndPost)
{
    center->addObserver(
        &a, nullptr,
        [&, captured = std::string(64, 'x')](cocos2d::Ref*, unsigned int, NSNotificationData*)
        {
            center->removeObserver(&a);
            // The callable is still alive here although its registration is gone.
            log.push_back("a" + std::to_string(captured.size()));
            center->addObserver(&c, nullptr, c.callback(), 9002);
            center->postNotification(&a, 9002, nullptr, nullptr, true);
        },
        9001);
    center->postNotification(nullptr, 9001, nullptr, nullptr, true);
    center->postNotification(nullptr, 9001, nullptr, nullptr, true);
    step();
    EXPECT_EQ(log, (std::vector<std::string>{"a64"}));
    step();
    EXPECT_EQ(log, (std::vector<std::string>{"a64", "c:9002"}));
}

TEST_F(NotificationCenter, CancelOnlyInTheCurrentFrameOrAlways)
{
    int ctx = 0;
    center->setDeliveryBudget(std::chrono::microseconds(0)); // one normal delivery a frame
    center->addObserver(&a, &ctx, a.callback(), 9001);
    center->postNotification(&b, 9001, textData("old"), &ctx, false);
    center->postNotification(&b, 9001, textData("old2"), &ctx, false);
    center->postNotification(&b, 9001, textData("old3"), &ctx, false);
    step(); // delivers "old"; "old2" and "old3" were posted in an earlier frame from now on
    center->postNotification(&b, 9001, textData("new"), &ctx, false);
    center->cancelNotificationInFrame(&b, 9001, &ctx);
    // Another sender or another context is not affected.
    center->cancelNotificationInFrame(&c, 9001, &ctx);
    step(4);
    EXPECT_EQ(log, (std::vector<std::string>{"a:9001:old", "a:9001:old2", "a:9001:old3"}));

    log.clear();
    center->postNotification(&b, 9001, textData("x"), &ctx, false);
    step();
    center->postNotification(&b, 9001, textData("y"), &ctx, false);
    center->cancelNotification(&b, 9001, nullptr); // wrong context: nothing
    center->cancelNotification(&b, 9001, &ctx);
    step(3);
    EXPECT_EQ(log, (std::vector<std::string>{"a:9001:x"}));
}

// Coalescing: an actor cancels its still-pending post before posting the new state, so a burst
// within one frame delivers only the last one.
TEST_F(NotificationCenter, CancelBeforePostCoalescesABurst)
{
    int window = 0;
    center->addObserver(&a, &window, a.callback(), NOTIFY_OVERLAY_SLICE_INDEX);
    for (int i = 1; i <= 5; ++i)
    {
        center->cancelNotification(&b, NOTIFY_OVERLAY_SLICE_INDEX, &window);
        center->postStringNotification(&b, NOTIFY_OVERLAY_SLICE_INDEX, std::to_string(i), &window, false);
    }
    step(6);
    EXPECT_EQ(log, (std::vector<std::string>{"a:9073:5"}));
}

TEST_F(NotificationCenter, PayloadLivesExactlyAsLongAsItsDeliveries)
{
    center->addObserver(
        &a, nullptr,
        [&](cocos2d::Ref*, unsigned int, NSNotificationData* data)
        { log.push_back("a" + std::to_string(data->getReferenceCount())); },
        9001);
    center->addObserver(
        &b, nullptr,
        [&](cocos2d::Ref*, unsigned int, NSNotificationData* data)
        { log.push_back("b" + std::to_string(data->getReferenceCount())); },
        9001);
    auto* data = new NSNotificationData();
    data->retain(); // the test's own extra reference, to watch the count
    center->postNotification(nullptr, 9001, data, nullptr, true);
    EXPECT_EQ(data->getReferenceCount(), 4u); // two of the test, one per delivery
    data->release();
    step();
    // Both deliveries hold it until every callback of the tick has run.
    EXPECT_EQ(log, (std::vector<std::string>{"a3", "b3"}));
    EXPECT_EQ(data->getReferenceCount(), 1u);

    // A post that matches nobody leaves the count where it was.
    center->postNotification(nullptr, 4242, data, nullptr, false);
    EXPECT_EQ(data->getReferenceCount(), 1u);
    // Pending deliveries dropped by a removal release their payload.
    center->postNotification(nullptr, 9001, data, nullptr, false);
    EXPECT_EQ(data->getReferenceCount(), 3u);
    center->removeObserver(&a);
    center->removeObserver(&b);
    EXPECT_EQ(data->getReferenceCount(), 1u);
    data->release();
}

TEST_F(NotificationCenter, SliceLoadedReachesOnlyTheWaitingActor)
{
    Listener actor1("actor1", &log), actor2("actor2", &log);
    std::vector<int> hashes;
    auto record = [&](cocos2d::Ref*, unsigned int, NSNotificationData* d) { hashes.push_back(d->intValue2); };
    center->addObserver(&actor1, &actor1, record, NOTIFY_SLICE_LOADED);
    center->addObserver(&actor2, &actor2, record, NOTIFY_SLICE_LOADED);
    center->postSliceLoadedNotification(&a, 0xE25EF552u, &actor1);
    center->postSliceLoadedNotification(&a, 0xE25EF552u, &actor2);
    step();
    EXPECT_EQ(hashes, (std::vector<int>{static_cast<int>(0xE25EF552u), static_cast<int>(0xE25EF552u)}));
    center->removeObserver(&actor1);
    center->removeObserver(&actor2);
}

TEST(NotificationData, ObjectAndOwnedUserData)
{
    static int freed = 0;
    freed = 0;
    auto own = [](NSNotificationData* d, int v) {
        d->setUserData(new int(v), [](void* p) { delete static_cast<int*>(p); ++freed; });
    };
    auto* data = new NSNotificationData();
    auto* obj = new NSNotificationData(); // any Ref will do
    data->setObject(obj);
    data->setObject(obj); // the held object again: kept, not retained twice
    EXPECT_EQ(obj->getReferenceCount(), 2u);
    data->setObject(nullptr);
    EXPECT_EQ(data->object, obj);

    // Owned user data is freed with the payload or when replaced; taken-over data is not.
    own(data, 5);
    own(data, 6);
    EXPECT_EQ(freed, 1); // the replaced one
    int* kept = static_cast<int*>(data->takeUserData());
    EXPECT_EQ(*kept, 6);
    own(data, 7);
    data->text = "t";
    data->intValue = data->intValue2 = 3;
    data->uintValue = 4;
    EXPECT_TRUE(data->reset());
    EXPECT_EQ(freed, 2);
    EXPECT_EQ(obj->getReferenceCount(), 1u);
    EXPECT_EQ(data->object, nullptr);
    EXPECT_EQ(data->userData, nullptr);
    EXPECT_TRUE(data->text.empty());
    EXPECT_EQ(data->intValue + data->intValue2 + static_cast<int>(data->uintValue), 0);

    data->setObject(obj);
    own(data, 8);
    data->release();
    EXPECT_EQ(freed, 3);
    EXPECT_EQ(obj->getReferenceCount(), 1u);
    obj->release();
    delete kept;
}
