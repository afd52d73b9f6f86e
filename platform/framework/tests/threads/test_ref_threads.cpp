// Reference counts and autorelease pools across threads: counts stay exact under concurrent
// retains, a registered worker's pool drains on that worker, an unregistered worker's autoreleases
// are deferred to the main thread. These run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "cocos2d.h"
#include "support/HeadlessDirector.h"

USING_NS_CC;

namespace {

// Counts its own destruction.
class Probe : public Ref {
public:
    explicit Probe(std::atomic<int>* deaths) : _deaths(deaths) {}
    ~Probe() override { _deaths->fetch_add(1); }

private:
    std::atomic<int>* _deaths;
};

using RefThreads = qvtest::HeadlessDirectorTest;

} // namespace

TEST_F(RefThreads, CountsAreExactAndAtomicAcrossThreads)
{
    std::atomic<int> deaths{0};
    Probe* p = new Probe(&deaths);
    EXPECT_EQ(p->getReferenceCount(), 1u);

    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([p] {
            for (int i = 0; i < 20000; ++i) {
                p->retain();
                p->release();
            }
            p->retain(); // each thread leaves one reference
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(p->getReferenceCount(), 9u);
    for (int i = 0; i < 8; ++i) {
        p->release();
    }
    EXPECT_EQ(deaths.load(), 0);
    p->release();
    EXPECT_EQ(deaths.load(), 1); // deleted at once by the last release
}

TEST_F(RefThreads, RegisteredWorkerDrainsAtRemoveThread)
{
    std::atomic<int> deaths{0};
    std::promise<void> registered;
    std::promise<void> autoreleased;
    std::promise<void> checked;
    std::thread worker([&] {
        registered.get_future().wait();
        (new Probe(&deaths))->autorelease();
        (new Probe(&deaths))->autorelease();
        autoreleased.set_value();
        checked.get_future().wait();
        PoolManager::getInstance()->removeThread(std::this_thread::get_id()); // as a worker does at its end
    });
    PoolManager::getInstance()->addThread(worker.get_id());
    registered.set_value();
    autoreleased.get_future().wait();

    // The main thread's frames do not touch the worker's pool.
    director->stepFrame(1.0f / 60);
    EXPECT_EQ(deaths.load(), 0);
    checked.set_value();
    worker.join();
    EXPECT_EQ(deaths.load(), 2);
}

TEST_F(RefThreads, LongLivedWorkerDrainsAfterEachRequest)
{
    std::atomic<int> deaths{0};
    std::promise<void> registered;
    int afterFirstDrain = -1;
    std::thread worker([&] {
        registered.get_future().wait();
        (new Probe(&deaths))->autorelease();
        PoolManager::getInstance()->drainCurrentThread();
        afterFirstDrain = deaths.load();
        (new Probe(&deaths))->autorelease();
        PoolManager::getInstance()->removeThread(std::this_thread::get_id());
    });
    PoolManager::getInstance()->addThread(worker.get_id());
    registered.set_value();
    worker.join();
    EXPECT_EQ(afterFirstDrain, 1);
    EXPECT_EQ(deaths.load(), 2);
}

TEST_F(RefThreads, UnregisteredWorkerAutoreleaseIsDeferredToTheMainThread)
{
    qvtest::LogCapture log;
    std::atomic<int> deaths{0};
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) {
            (new Probe(&deaths))->autorelease();
        }
    });
    worker.join();
    EXPECT_EQ(deaths.load(), 0);
    EXPECT_EQ(log.lines().size(), 1u); // logged once for the thread, not per object
    director->stepFrame(1.0f / 60);
    EXPECT_EQ(deaths.load(), 3);
}

TEST_F(RefThreads, RemoveThreadOfAnUnknownIdDoesNothing)
{
    std::thread t([] {});
    const auto id = t.get_id();
    t.join();
    PoolManager::getInstance()->removeThread(id);
    PoolManager::getInstance()->removeThread(std::this_thread::get_id()); // the main thread is not "added"
    std::atomic<int> deaths{0};
    (new Probe(&deaths))->autorelease();
    director->stepFrame(0.0f);
    EXPECT_EQ(deaths.load(), 1);
}

TEST_F(RefThreads, LiveObjectRegistryAndWorkerMadeNodes)
{
    Ref::enableCheckMemory();
    const size_t before = Ref::getLiveObjectCount();
    __String* s = new __String("tracked");
    EXPECT_EQ(Ref::getLiveObjectCount(), before + 1);
    {
        qvtest::LogCapture log;
        Ref::setLeakID(s->getRefID() + 1);
        __String* next = new __String("watched");
        Ref::setLeakID(0);
        EXPECT_EQ(log.count("[memory] object with id " + std::to_string(next->getRefID()) + " created"), 1u);
        next->release();
    }
    s->release();
    EXPECT_EQ(Ref::getLiveObjectCount(), before);

    // A node made and freed on a worker (as the volume renderer does with its cameras).
    struct WorkerNode : Node {};
    std::thread worker([] {
        Node* n = new WorkerNode();
        n->release();
    });
    worker.join();
}
