// Test helpers for peer discovery: free UDP ports, raw datagrams on loopback, sniffers bound to
// their own loopback address with a fixed environment, and a recorder of notification 2020.
#pragma once

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "UIJson.h"
#include "sniffer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace snifferkit {

// A UDP port that was free on 127.0.0.1 a moment ago.
inline int freeUdpPort()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}

// Sends raw bytes once to a loopback address and port.
inline void sendRaw(const std::string& ip, int port, const std::string& bytes)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
    sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    close(fd);
}

// A discovery datagram text as another workstation would write it.
inline std::string datagram(const std::string& ip, const std::string& command, const std::string& userid = "",
                            const std::string& msg = "dicom_node_recognize")
{
    std::string t;
    NSUI::UIJson::setString(t, "ip", ip);
    NSUI::UIJson::setString(t, "name", "peer-" + ip);
    NSUI::UIJson::setString(t, "command", command);
    NSUI::UIJson::setString(t, "device", "2");
    NSUI::UIJson::setString(t, "appid", "app-" + ip);
    NSUI::UIJson::setString(t, "msg", msg);
    if (!userid.empty()) NSUI::UIJson::setString(t, "userid", userid);
    return t;
}

// A sniffer that listens on address:port only, believes address is its own, and sweeps `sweep`.
inline std::unique_ptr<NSUI::sniffer> makeSniffer(const std::string& address, int port,
                                                  std::vector<std::string> sweep, std::string userid = "")
{
    NSUI::sniffer::Environment env;
    env.localAddress = [address] { return address; };
    env.hostName = [address] { return "host-" + address; };
    env.sweepAddresses = [sweep](std::vector<std::string>& out) { out = sweep; };
    env.appid = [address] { return "app-" + address; };
    env.userid = [userid] { return userid; };
    env.allowed = [] { return true; };
    auto s = std::make_unique<NSUI::sniffer>(env);
    s->port = port;
    s->bindAddress = address;
    return s;
}

// Records the texts of notification 2020 (delivered on the main thread).
class PeerListener : public cocos2d::Ref {
public:
    void listen()
    {
        NSUI::NSNotificationCenter::getInstance()->addObserver(
            this, nullptr,
            [this](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData* d) { texts.push_back(d ? d->text : ""); },
            NSUI::NOTIFY_NET_PEER_FOUND);
    }
    ~PeerListener() override
    {
        if (auto* c = NSUI::NSNotificationCenter::peekInstance()) c->removeObserver(this);
    }
    int countFrom(const std::string& ip) const
    {
        int n = 0;
        for (const std::string& t : texts)
            if (NSUI::UIJson::getString(t, "ip") == ip) ++n;
        return n;
    }
    std::vector<std::string> texts;
};

// Records the destinations of a udpComm's datagrams (any thread).
struct SendLog {
    void attach(NSUI::udpComm& comm)
    {
        comm.sendObserver = [this](const std::string& ip, int) {
            std::lock_guard<std::mutex> lock(mutex);
            addresses.push_back(ip);
        };
    }
    std::vector<std::string> snapshot()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return addresses;
    }
    std::mutex mutex;
    std::vector<std::string> addresses;
};

}  // namespace snifferkit
