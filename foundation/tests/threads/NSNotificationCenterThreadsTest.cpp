// The notification centre under concurrent use: these run under ThreadSanitizer too.
#include "NSNotificationCenter.h"
#include "support/HeadlessFrames.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <thread>
#include <vector>

using NSUI::NSNotificationCenter;
using NSUI::NSNotificationData;

namespace
{

class Listener : public cocos2d::Ref
{
public:
    std::vector<int> received;
    NSUI::NSNotificationCallback callback()
    {
        return [this](cocos2d::Ref*, unsigned int, NSNotificationData* d) { received.push_back(d ? d->intValue : -1); };
    }
};

} // namespace

class NotificationCenterThreads : public HeadlessFrames
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
        if (auto* live = NSNotificationCenter::peekInstance())
            for (Listener* l : {&a, &b, &c})
                live->removeObserver(l);
        HeadlessFrames::TearDown();
    }

    // Starts `threads` workers that each post `posts` notices, intValue = the worker's index and
    // intValue2 = the post's index; post(i) says the number and whether it is urgent. `running`
    // counts the workers that have not finished.
    std::vector<std::thread> postFromWorkers(int threads, int posts, std::atomic<int>& running,
                                             std::function<std::pair<unsigned int, bool>(int)> post)
    {
        running = threads;
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back(
                [&running, posts, post, t]
                {
                    for (int i = 0; i < posts; ++i)
                    {
                        auto* d = new NSNotificationData();
                        d->intValue = t;
                        d->intValue2 = i;
                        const auto [number, urgent] = post(i);
                        NSNotificationCenter::getInstance()->postNotification(nullptr, number, d, nullptr, urgent);
                        d->release();
                    }
                    --running;
                });
        return workers;
    }

    NSNotificationCenter* center = nullptr;
    Listener a;
    Listener b;
    Listener c;
};

// Workers that ask for the centre while there is none never make one: only the main thread does,
// once, however many threads ask at the same time.
TEST_F(NotificationCenterThreads, WorkersAskingWhileThereIsNoCentreNeverMakeOne)
{
    NSNotificationCenter::destroyInstance();
    constexpr int kThreads = 6;
    std::atomic<bool> go{false};
    std::atomic<bool> stop{false};
    std::atomic<int> reachedCentre{0};
    std::vector<std::set<NSNotificationCenter*>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(
            [&, t]
            {
                while (!go.load())
                    std::this_thread::yield();
                bool reached = false;
                while (!stop.load())
                {
                    NSNotificationCenter* c = NSNotificationCenter::getInstance();
                    seen[t].insert(c);
                    c->postIntNotification(nullptr, 9001, t, nullptr, true);
                    if (!reached && !c->isClosed())
                    {
                        reached = true;
                        ++reachedCentre;
                    }
                }
            });
    go = true;
    // The workers run a while with no centre, then the main thread makes it and keeps ticking.
    for (int i = 0; i < 20; ++i)
    {
        EXPECT_EQ(NSNotificationCenter::peekInstance(), nullptr);
        step();
    }
    NSNotificationCenter* made = NSNotificationCenter::getInstance();
    made->addObserver(&a, nullptr, a.callback(), 9001);
    step(1, 0.5f);
    EXPECT_TRUE(stepUntil([&] { return reachedCentre.load() == kThreads && !a.received.empty(); }));
    stop = true;
    for (auto& th : threads)
        th.join();

    for (const auto& s : seen)
        for (NSNotificationCenter* c : s)
            EXPECT_TRUE(c == made || c->isClosed());
    EXPECT_EQ(NSNotificationCenter::peekInstance(), made);
    EXPECT_FALSE(made->isClosed());
}

// A post from a worker after the exit purge is dropped: the centre stays gone, and nothing reaches
// an observer of the purged centre.
TEST_F(NotificationCenterThreads, APostAfterThePurgeIsDropped)
{
    center->addObserver(&a, nullptr, a.callback(), 9001);
    NSNotificationCenter::destroyInstance();
    NSNotificationCenter* got = nullptr;
    std::thread worker(
        [&]
        {
            got = NSNotificationCenter::getInstance();
            got->addObserver(&b, nullptr, b.callback(), 9001);
            got->postIntNotification(nullptr, 9001, 7, nullptr, true);
        });
    worker.join();
    ASSERT_NE(got, nullptr);
    EXPECT_TRUE(got->isClosed());
    EXPECT_EQ(NSNotificationCenter::peekInstance(), nullptr);
    step(40);
    EXPECT_TRUE(a.received.empty());
    EXPECT_TRUE(b.received.empty());
    EXPECT_FALSE(got->hasObserver(9001, nullptr, &b));
}

// Workers post while the main thread ticks: every post arrives exactly once, and posts of one thread
// arrive in the order that thread made them.
TEST_F(NotificationCenterThreads, PostingFromManyThreadsAtOnce)
{
    constexpr int kThreads = 8;
    constexpr int kPosts = 300;
    std::map<int, std::vector<int>> perThread;
    int total = 0;
    auto record = [&](cocos2d::Ref*, unsigned int, NSNotificationData* d)
    {
        perThread[d->intValue].push_back(d->intValue2);
        ++total;
    };
    center->addObserver(&a, nullptr, record, 9001);
    center->addObserver(&a, nullptr, record, 9002);

    std::atomic<int> running{0};
    // Mostly urgent so the test does not need thousands of frames; some normal.
    std::vector<std::thread> threads = postFromWorkers(
        kThreads, kPosts, running, [](int i) { return std::make_pair(i % 10 == 0 ? 9002u : 9001u, i % 10 != 0); });
    while (running.load() > 0)
        step();
    for (auto& th : threads)
        th.join();
    ASSERT_TRUE(stepUntil([&] { return total == kThreads * kPosts; }, kThreads * kPosts));
    for (int t = 0; t < kThreads; ++t)
    {
        const std::vector<int>& seen = perThread[t];
        ASSERT_EQ(seen.size(), static_cast<size_t>(kPosts));
        // Urgent posts overtake normal ones that are still waiting for their frame; each kind on
        // its own keeps the thread's order.
        std::vector<int> normal, urgent;
        for (int v : seen)
            (v % 10 == 0 ? normal : urgent).push_back(v);
        EXPECT_TRUE(std::is_sorted(normal.begin(), normal.end()));
        EXPECT_TRUE(std::is_sorted(urgent.begin(), urgent.end()));
    }
}

// Registrations and removals on a worker while the main thread delivers.
TEST_F(NotificationCenterThreads, RegisteringAndRemovingFromAWorkerDuringDelivery)
{
    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    std::thread worker(
        [&]
        {
            auto* nc = NSNotificationCenter::getInstance();
            while (!stop.load())
            {
                nc->addObserver(
                    &b, nullptr, [&](cocos2d::Ref*, unsigned int, NSNotificationData*) { ++calls; }, 9001);
                nc->postIntNotification(nullptr, 9001, 1, nullptr, true);
                nc->removeObserver(&b);
                nc->cancelNotificationsForTarget(&c);
            }
        });
    center->addObserver(&a, nullptr, a.callback(), 9001);
    for (int i = 0; i < 200; ++i)
    {
        center->postIntNotification(nullptr, 9001, 2, nullptr, true);
        step();
    }
    stop = true;
    worker.join();
    step();
    EXPECT_GE(a.received.size(), 200u);
}


// Workers post normal notices (a storage server's stored images) while the main thread drains the
// backlog and another worker cancels the deliveries to a second observer: each notice reaches the
// first observer once, every thread's in the order it posted them.
TEST_F(NotificationCenterThreads, WorkersPostNormalNoticesWhileTheBacklogDrains)
{
    constexpr int kThreads = 4;
    constexpr int kPosts = 1500;
    std::map<int, std::vector<int>> perThread;
    int total = 0;
    center->addObserver(
        &a, nullptr,
        [&](cocos2d::Ref*, unsigned int, NSNotificationData* d)
        {
            perThread[d->intValue].push_back(d->intValue2);
            ++total;
        },
        9001);
    center->addObserver(&c, nullptr, c.callback(), 9001);

    std::atomic<int> running{0};
    std::vector<std::thread> threads =
        postFromWorkers(kThreads, kPosts, running, [](int) { return std::make_pair(9001u, false); });
    std::thread canceller(
        [&]
        {
            while (running.load() > 0)
                NSNotificationCenter::getInstance()->cancelNotificationsForTarget(&c);
        });
    while (running.load() > 0)
        step();
    for (auto& th : threads)
        th.join();
    canceller.join();
    center->cancelNotificationsForTarget(&c);
    ASSERT_TRUE(stepUntil([&] { return total == kThreads * kPosts; }, kThreads * kPosts));
    for (int t = 0; t < kThreads; ++t)
    {
        const std::vector<int>& seen = perThread[t];
        ASSERT_EQ(seen.size(), static_cast<size_t>(kPosts));
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    }
    step(3);
    EXPECT_EQ(total, kThreads * kPosts);
}
