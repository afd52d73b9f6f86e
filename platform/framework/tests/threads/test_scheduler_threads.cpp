// The run-on-main-thread queue fed and emptied from several threads, and the log written from
// several threads. These run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cocos2d.h"
#include "support/HeadlessDirector.h"

USING_NS_CC;

namespace {

using SchedulerThreads = qvtest::HeadlessDirectorTest;

} // namespace

TEST_F(SchedulerThreads, QueueIsFifoAcrossProducers)
{
    std::mutex pushMutex;
    int nextTicket = 0;
    std::vector<int> ran;
    std::vector<std::thread> producers;
    for (int p = 0; p < 4; ++p) {
        producers.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                std::lock_guard<std::mutex> lock(pushMutex); // ticket order = queue order
                const int ticket = nextTicket++;
                scheduler->performFunctionInCocosThread([&ran, ticket] { ran.push_back(ticket); });
            }
        });
    }
    for (auto& t : producers) {
        t.join();
    }
    scheduler->update(0.0f);
    ASSERT_EQ(ran.size(), 2000u);
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(ran[static_cast<size_t>(i)], i);
    }
}

TEST_F(SchedulerThreads, RemovalFromAWorkerWhileTheBatchRuns)
{
    for (int round = 0; round < 1000; ++round) {
        int owner = 0;
        std::atomic<int> ran{0};
        std::atomic<int> ranWhenRemoved{-1};
        std::promise<void> started;
        auto startedFuture = started.get_future();
        std::atomic<bool> signalled{false};
        for (int i = 0; i < 20; ++i) {
            scheduler->performFunctionInCocosThread(
                [&] {
                    if (!signalled.exchange(true)) {
                        started.set_value();
                    }
                    ran.fetch_add(1);
                },
                &owner);
        }
        std::thread worker([&] {
            startedFuture.wait();
            scheduler->removeFunctionInCocosThread(&owner);
            ranWhenRemoved.store(ran.load());
        });
        scheduler->update(0.0f);
        worker.join();
        // At most the one function already taken out when the removal happened runs after it.
        EXPECT_LE(ran.load(), ranWhenRemoved.load() + 1) << "round " << round;
        scheduler->update(0.0f);
        EXPECT_LE(ran.load(), ranWhenRemoved.load() + 1) << "round " << round;
    }
}

TEST(LogTest, LinesAreWholeAndExact)
{
    qvtest::LogCapture capture;
    log("unzip result:%i", -3);
    CCLOG("writeBufferToFile: faild, size=%i,writeSize=%i", 10, 4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 100; ++i) {
                log("thread %d line %d", t, i);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 402u);
    EXPECT_EQ(lines[0], "unzip result:-3");
    EXPECT_EQ(lines[1], "writeBufferToFile: faild, size=10,writeSize=4");
    EXPECT_EQ(capture.count("thread 3 line 99"), 1u);
    const std::string longText(5000, 'x');
    log("%s", longText.c_str());
    EXPECT_EQ(capture.lines().back(), longText);
}
