// Peer discovery's threads under ThreadSanitizer: two sniffers sweeping each other while answering
// each other's pings (one send socket shared by the sweep and the answers), and answers from a peer
// of the same account while the main thread writes settings.
#include "../../../foundation/tests/support/HeadlessFrames.h"
#include "../support/SnifferTestKit.h"

#include "UILocalConfig.h"
#include "dataService.h"
#include "dicomDB.h"

#include <cstdlib>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace snifferkit;

namespace {

class DiscoveryThreads : public HeadlessFrames {
protected:
    bool waitFor(const std::function<bool()>& pred, int ms)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!pred() && std::chrono::steady_clock::now() < end) {
            step();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return pred();
    }
};

}  // namespace

TEST_F(DiscoveryThreads, SweepsAndAnswersRunTogether)
{
    const int port = freeUdpPort();
    PeerListener heard;
    heard.listen();
    auto a = makeSniffer("127.0.0.2", port, {"127.0.0.3", "127.0.0.4"}, "same-user");
    auto b = makeSniffer("127.0.0.3", port, {"127.0.0.2", "127.0.0.5"}, "same-user");
    a->startReceive();
    b->startReceive();
    ASSERT_TRUE(waitFor([&] { return a->isListening() && b->isListening(); }, 3000));
    a->start();
    b->start();
    // The main thread keeps writing settings while the receive threads queue theirs.
    for (int i = 0; i < 50; ++i) {
        NSUI::UILocalConfig::setLocalString("discovery_threads_probe", std::to_string(i));
        step();
    }
    // Each is announced once a second however many copies of its datagrams arrive.
    ASSERT_TRUE(waitFor([&] { return heard.countFrom("127.0.0.2") >= 1 && heard.countFrom("127.0.0.3") >= 1; }, 5000));
    EXPECT_TRUE(waitFor([] { return !NSUI::UILocalConfig::getLocalString(NSUI::sniffer::kSameUserSetting, "").empty(); }, 2000));
    a.reset();
    b.reset();
}

TEST_F(DiscoveryThreads, LibraryMessagesFromManyThreadsReachTheMainThread)
{
    const std::string root = std::string(std::getenv("XDG_DATA_HOME")) + "/threads-service/qv/dicom/";
    dataService::setDatabaseSetupForTest([root](dicomDB* db) {
        db->setStartServerForTest(false);
        db->setLibraryFolderForTest(root);
    });
    dataService* service = dataService::getInstance();
    service->discoveryStarter = nullptr;
    passStartDelay();
    dcmSendingObject* task = dcmSendingObject::create("127.0.0.9", "104", "n", "");
    service->addSendTask(task);
    const unsigned int id = task->getRefID();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([id, t] {
            for (int i = 1; i <= 25; ++i) {
                const std::string text = "{\"taskID\":\"" + std::to_string(id) + "\",\"value\":\"" +
                                         std::to_string(t * 25 + i) + ".000000\"}";
                dataService::onSdkMessage(0, text.c_str());
                dataService::onSdkMessage(4, "{\"ok\":\"0\",\"appid\":\"x\"}");
            }
        });
    // The main thread ticks and handles what has arrived meanwhile.
    for (int i = 0; i < 20; ++i) {
        service->onTick(1.0f);
        step();
    }
    for (std::thread& t : threads) t.join();
    step(3);
    EXPECT_EQ(task->state, DCM_TASK_RUNNING);
    EXPECT_GT(task->progress, 0.0f);
    dataService::destroyInstance();
    dataService::setDatabaseSetupForTest(nullptr);
}
