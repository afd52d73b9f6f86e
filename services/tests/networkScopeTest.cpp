// With QV_NETWORK_SCOPE=loopback, as every test runs, nothing the services send is addressed
// outside 127.0.0.0/8: neither the echo sweeps, nor a send task, nor the discovery sweep, nor the
// answer to a ping that names an outside address.
#include "support/ServiceFixture.h"
#include "support/SnifferTestKit.h"

#include "NetworkUtils.h"
#include "base/base64.h"

#include <gtest/gtest.h>

namespace {

bool onLoopback(const std::string& address) { return address.compare(0, 4, "127.") == 0; }

// The address field of an echo entry: "address,port" in a sweep, "name,address,port" otherwise.
std::string echoAddress(const std::string& entry, bool sweep)
{
    std::vector<std::string> f;
    size_t start = 0;
    for (size_t at; (at = entry.find(',', start)) != std::string::npos; start = at + 1) f.push_back(entry.substr(start, at - start));
    f.push_back(entry.substr(start));
    return sweep ? f.front() : f[f.size() - 2];
}

class NetworkScopeTest : public ServiceFixture {};

}  // namespace

TEST_F(NetworkScopeTest, NothingIsAddressedOutsideLoopback)
{
    ASSERT_EQ(getNetworkScope(), NetworkScope::Loopback) << "the test environment sets QV_NETWORK_SCOPE=loopback";
    setLocalNetworkQuery({});

    // Echo: the subnet sweep and the known nodes, with peers stored on outside addresses.
    dicomDB* db = service->getDatabase();
    db->saveNeighbor(5, "outside", "192.168.1.20", "104", "o1");
    db->saveNeighbor(5, "inside", "127.0.0.20", "104", "i1");
    service->echoNodes(1);
    service->echoNodes(2);
    ASSERT_EQ(echoes.size(), 2u);
    EXPECT_EQ(echoes[0].entries.size(), 253u);
    EXPECT_EQ(echoes[1].entries, std::vector<std::string>{"inside,127.0.0.20,104"});
    for (const Echo& e : echoes)
        for (const std::string& entry : e.entries) EXPECT_TRUE(onLoopback(echoAddress(entry, e.sweep))) << entry;

    // A send task to an outside address fails without a connection.
    dcmSendingObject* task = dcmSendingObject::create("192.168.1.20", "104", "outside", base_.string());
    service->addSendTask(task);
    EXPECT_EQ(task->state, DCM_TASK_FAILED);
    EXPECT_FALSE(service->sender.isSending());
    EXPECT_EQ(toasts, std::vector<std::string>{"Please check the status of DICOM node|2"});

    // Discovery with the system's addresses: its sweep, and its answers to pings.
    NSUI::sniffer::Environment env;
    env.appid = [] { return std::string("scope-test"); };
    env.allowed = [] { return true; };
    NSUI::sniffer s(env);
    s.port = snifferkit::freeUdpPort();
    s.bindAddress = "127.0.0.1";
    snifferkit::SendLog sent;
    sent.attach(s);
    s.startReceive();
    ASSERT_TRUE(waitFor([&] { return s.isListening(); }, 2000));
    s.start();
    ASSERT_TRUE(waitFor([&] { return !s.isSweeping(); }, 5000));
    snifferkit::sendRaw("127.0.0.1", s.port, cocos2d::safeBase64EncodeString(snifferkit::datagram("192.168.7.7", "ping")));
    snifferkit::sendRaw("127.0.0.1", s.port, cocos2d::safeBase64EncodeString(snifferkit::datagram("127.0.0.44", "ping")));
    ASSERT_TRUE(waitFor([&] {
        const std::vector<std::string> a = sent.snapshot();
        return std::count(a.begin(), a.end(), "127.0.0.44") == 4;  // swept, then answered
    }, 3000));
    const std::vector<std::string> addresses = sent.snapshot();
    EXPECT_EQ(addresses.size(), 2u * 253u + 2u);  // each datagram twice; 127.0.0.1 is our own
    for (const std::string& a : addresses) EXPECT_TRUE(onLoopback(a)) << a;
}
