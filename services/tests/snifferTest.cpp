// Peer discovery between two sniffers on loopback (each bound to its own 127.0.0.x address on one
// free port), hostile datagrams, the size limit, and shutdown during a sweep.
#include "../../foundation/tests/support/HeadlessFrames.h"
#include "support/SnifferTestKit.h"

#include <algorithm>

#include "UILocalConfig.h"
#include "base/base64.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace snifferkit;

namespace {

class SnifferTest : public HeadlessFrames {
protected:
    void SetUp() override
    {
        HeadlessFrames::SetUp();
        port_ = freeUdpPort();
        listener_.listen();
    }
    void TearDown() override
    {
        listener_.texts.clear();
        HeadlessFrames::TearDown();
    }
    // Runs frames for about ms milliseconds of wall time.
    void runFor(int ms)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            step();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    // Runs frames until pred holds or ms milliseconds of wall time have passed.
    bool waitFor(const std::function<bool()>& pred, int ms)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!pred() && std::chrono::steady_clock::now() < end) {
            step();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return pred();
    }
    bool waitListening(NSUI::sniffer& s)
    {
        return waitFor([&] { return s.isListening(); }, 2000);
    }

    int port_ = 0;
    PeerListener listener_;
};

}  // namespace

TEST_F(SnifferTest, TwoWorkstationsFindEachOtherAndTheSameAccountIsRemembered)
{
    NSUI::UILocalConfig::setLocalString(NSUI::sniffer::kSameUserSetting, "");
    auto a = makeSniffer("127.0.0.2", port_, {"127.0.0.2", "127.0.0.3"}, "user-7");
    auto b = makeSniffer("127.0.0.3", port_, {}, "user-7");
    SendLog sentByA;
    sentByA.attach(*a);
    a->startReceive();
    b->startReceive();
    ASSERT_TRUE(waitListening(*a));
    ASSERT_TRUE(waitListening(*b));

    a->start();
    EXPECT_TRUE(a->isSweeping());
    a->start();  // a sweep is running: nothing more
    // B hears each of the two copies of A's ping and answers each with two copies of a response;
    // within one second each peer is announced once.
    ASSERT_TRUE(stepUntil([&] { return listener_.countFrom("127.0.0.2") >= 1 && listener_.countFrom("127.0.0.3") >= 1; }));
    runFor(100);
    EXPECT_EQ(listener_.countFrom("127.0.0.2"), 1);
    EXPECT_EQ(listener_.countFrom("127.0.0.3"), 1);
    // The sweep skipped A's own address.
    const std::vector<std::string> sent = sentByA.snapshot();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "127.0.0.2"), 0);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "127.0.0.3"), 2);

    for (const std::string& t : listener_.texts) {
        const std::string ip = NSUI::UIJson::getString(t, "ip");
        EXPECT_EQ(NSUI::UIJson::getString(t, "name"), "host-" + ip);
        EXPECT_EQ(NSUI::UIJson::getString(t, "device"), "2");
        EXPECT_EQ(NSUI::UIJson::getString(t, "appid"), "app-" + ip);
        EXPECT_EQ(NSUI::UIJson::getString(t, "userid"), "");  // the announcement carries no account
    }
    // Both are logged in with one account: each remembers the other, written on the main thread.
    ASSERT_TRUE(stepUntil([] { return !NSUI::UILocalConfig::getLocalString(NSUI::sniffer::kSameUserSetting, "").empty(); }));
    const std::string remembered = NSUI::UILocalConfig::getLocalString(NSUI::sniffer::kSameUserSetting, "");
    EXPECT_TRUE(remembered == "127.0.0.2" || remembered == "127.0.0.3") << remembered;

    // The sweep ends a second after its last ping.
    EXPECT_TRUE(waitFor([&] { return !a->isSweeping(); }, 3000));
}

TEST_F(SnifferTest, PeersOfAnotherAccountOrWithoutOneNeverBecomeTheSameUserDevice)
{
    NSUI::UILocalConfig::setLocalString(NSUI::sniffer::kSameUserSetting, "");
    auto a = makeSniffer("127.0.0.2", port_, {"127.0.0.3"}, "user-7");
    auto b = makeSniffer("127.0.0.3", port_, {}, "user-8");
    a->startReceive();
    b->startReceive();
    ASSERT_TRUE(waitListening(*a) && waitListening(*b));
    a->start();
    ASSERT_TRUE(stepUntil([&] { return listener_.countFrom("127.0.0.3") >= 1; }));
    sendRaw("127.0.0.2", port_, cocos2d::safeBase64EncodeString(datagram("127.0.0.9", "response")));
    ASSERT_TRUE(stepUntil([&] { return listener_.countFrom("127.0.0.9") == 1; }));
    runFor(50);
    EXPECT_EQ(NSUI::UILocalConfig::getLocalString(NSUI::sniffer::kSameUserSetting, ""), "");
}

TEST_F(SnifferTest, HostileDatagramsAreIgnoredAndTheLoopGoesOn)
{
    auto b = makeSniffer("127.0.0.3", port_, {});
    SendLog answers;
    answers.attach(*b);
    b->startReceive();
    ASSERT_TRUE(waitListening(*b));

    // 1024 bytes of valid Base64: it fills the whole buffer, so it is dropped unread.
    const std::string big = cocos2d::safeBase64EncodeString(datagram("127.0.0.4", "ping") + std::string(800, 'x'));
    ASSERT_GE(big.size(), 1024u);
    sendRaw("127.0.0.3", port_, big.substr(0, 1024));
    sendRaw("127.0.0.3", port_, "this is {not} Base64 at all!");
    sendRaw("127.0.0.3", port_, cocos2d::safeBase64EncodeString("plain words, no JSON"));
    sendRaw("127.0.0.3", port_, cocos2d::safeBase64EncodeString(datagram("127.0.0.3", "ping")));  // our own
    sendRaw("127.0.0.3", port_, cocos2d::safeBase64EncodeString(datagram("127.0.0.5", "ping", "", "other")));
    sendRaw("127.0.0.3", port_, std::string(1, '\0'));
    // The address of a datagram without "ip" is its source address.
    std::string noIp = datagram("", "response");
    sendRaw("127.0.0.3", port_, cocos2d::safeBase64EncodeString(noIp));
    // A name with the characters that would break the flat JSON of the announcement.
    std::string sly = datagram("127.0.0.6", "ping");
    NSUI::UIJson::setString(sly, "name", "a,b{c}[d]");
    sendRaw("127.0.0.3", port_, cocos2d::safeBase64EncodeString(sly));

    waitFor([&] { return listener_.texts.size() >= 2; }, 2000);
    runFor(100);
    ASSERT_EQ(listener_.texts.size(), 2u) << ::testing::PrintToString(listener_.texts);
    EXPECT_EQ(NSUI::UIJson::getString(listener_.texts[0], "ip"), "127.0.0.1");
    EXPECT_EQ(NSUI::UIJson::getString(listener_.texts[1], "ip"), "127.0.0.6");
    EXPECT_EQ(NSUI::UIJson::getString(listener_.texts[1], "name"), "a_b_c__d_");
    // Only the ping was answered, twice, at its "ip".
    EXPECT_EQ(answers.snapshot(), (std::vector<std::string>{"127.0.0.6", "127.0.0.6"}));
}

TEST_F(SnifferTest, ABurstOfAnnouncementsLeavesTheQueueToOtherNotices)
{
    auto b = makeSniffer("127.0.0.3", port_, {});
    b->startReceive();
    ASSERT_TRUE(waitListening(*b));
    // 1,000 answers of one peer and 1,000 of peers that each speak once.
    for (int i = 0; i < 2000; ++i) {
        std::string text = datagram("127.0.0.7", "response");
        if (i % 2) NSUI::UIJson::setString(text, "appid", "burst-" + std::to_string(i));
        sendRaw("127.0.0.3", port_, cocos2d::safeBase64EncodeString(text));
    }
    runFor(300);
    // A notice posted after the burst reaches its observer within a few frames.
    int delivered = -1;
    PeerListener probe;
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        &probe, nullptr, [&](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData*) { delivered = 0; },
        NSUI::NOTIFY_NET_FIND_FAILED);
    NSUI::NSNotificationCenter::getInstance()->postStringNotification(nullptr, NSUI::NOTIFY_NET_FIND_FAILED, "probe");
    int frames = 0;
    for (; delivered < 0 && frames < 3000; ++frames) step();
    EXPECT_LE(frames, 5);
    EXPECT_LE(listener_.texts.size(), 40u);
    EXPECT_GE(listener_.texts.size(), 1u);
}

TEST_F(SnifferTest, TextsTooLongForOneDatagramAreNotSent)
{
    NSUI::udpComm comm;
    comm.port = port_;
    SendLog log;
    log.attach(comm);
    EXPECT_EQ(comm.send("127.0.0.3", std::string(766, 'a')), NSUI::udpComm::SEND_TOO_LONG);  // 1024 encoded
    EXPECT_EQ(comm.send("127.0.0.3", std::string(765, 'a')), NSUI::udpComm::SEND_OK);        // 1020 encoded
    EXPECT_EQ(comm.send("not an address", "x"), NSUI::udpComm::SEND_FAILED);
    // The one text sent went out twice.
    EXPECT_EQ(log.snapshot(), (std::vector<std::string>{"127.0.0.3", "127.0.0.3"}));
}

TEST_F(SnifferTest, DeletingASnifferInTheMiddleOfASweepIsClean)
{
    std::vector<std::string> many;
    for (int i = 2; i < 255; ++i) many.push_back("127.0.1." + std::to_string(i));
    for (int round = 0; round < 3; ++round) {
        auto a = makeSniffer("127.0.0.2", port_, many);
        a->startReceive();
        a->start();
        EXPECT_TRUE(a->isSweeping());
        a.reset();  // waits for the receive loop and the sweep, which end at once
    }
}
