// sniffer: peer discovery. Workstations running the viewer find each other on the local subnets by
// UDP datagrams on port 12389: the sniffer answers pings, sweeps the local subnets with pings,
// remembers the address of a peer logged in with the same account ("remoteSameUserDevice"), and
// announces the peers it hears, pings and responses alike, as notification 2020 with the JSON
// text {"ip","name","device","appid"}, which the network service turns into peer rows (one
// announcement per appid and address a second, at most 32 a second in all).
//
// The datagram (before its Base64 form) is a flat JSON object of texts:
//   "ip"      the sender's local IPv4 address ("" lets the receiver use the source address)
//   "name"    the sender's host name
//   "command" "ping" or "response"
//   "device"  the device kind as decimal text; this program always sends "2" (a PC)
//   "appid"   the sender's application identifier
//   "msg"     always "dicom_node_recognize"; anything else is ignored
//   "userid"  only when the sender is logged in: its user identifier
//
// Threads: the receive loop (answers and announcements) and each sweep run on threads the sniffer
// owns and joins when it stops (shutdown, the destructor); getInstance, start and shutdown are
// called on the main thread. The process-wide service is also stopped by NSRunableThread's exit
// handler in a process that exits without the shell's shutdown. The identity the threads send (host
// name, application identifier, login) is a snapshot taken on the main thread at creation and at
// each start; the setting is written on the main thread.
#pragma once

#include "UIJson.h"
#include "udpComm.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace NSUI {

class sniffer : public udpComm, public UIJson {
public:
    // Where the sniffer takes its facts from. An empty member uses the system: the first local
    // address and the host name of getLocalNetworkInfo, the sweep list of getSubnetHostAddresses,
    // the application identifier of AppConfig and the login settings. Tests give their own, so two
    // sniffers in one process can talk over loopback.
    struct Environment {
        std::function<std::string()> localAddress;
        std::function<std::string()> hostName;
        std::function<void(std::vector<std::string>&)> sweepAddresses;
        std::function<std::string()> appid;
        // The logged-in user's identifier, "" when nobody is logged in.
        std::function<std::string()> userid;
        // Whether discovery may run (the network check); true when empty.
        std::function<bool()> allowed;
    };

    // The process-wide service, made on first use; its receive loop starts when discovery may run.
    static sniffer* getInstance();
    // Stops the process-wide service: raises the stop flags, joins the receive loop and a running
    // sweep (each tests the flag at least every 20 ms), then deletes it.
    static void shutdown();

    explicit sniffer(Environment environment = {});
    ~sniffer() override;

    // One sweep on a thread of its own, unless discovery may not run or a sweep is running.
    void start();
    bool isSweeping() const { return sweeping_; }
    // Raises the stop flag and joins the receive loop and the sweep.
    void stopAndWait();

    void onReceive(const std::string& text, const std::string& senderAddress) override;

    // The datagram text of a ping or response from this workstation.
    std::string makeDatagram(const std::string& command) const;

    static const char* const kMessageTag;       // "dicom_node_recognize"
    static const char* const kSameUserSetting;  // "remoteSameUserDevice"

private:
    struct Identity {
        std::string name;
        std::string appid;
        std::string userid;
    };
    void refreshIdentity();
    // Whether an announcement of this "appid|address" may be posted now (see onReceive).
    bool admitAnnouncement(const std::string& key);
    static constexpr int kAnnouncementsPerSecond = 32;
    std::string localAddress() const;
    bool allowed() const;

    Environment env_;
    mutable std::mutex identityMutex_;
    Identity identity_;
    std::atomic<bool> sweeping_{false};
    std::thread sweeper_;  // the last sweep, joined by the next start and by stopAndWait
    // Announcements of the current second, by "appid|address" (receive loop only, under the mutex).
    std::mutex announceMutex_;
    std::map<std::string, std::chrono::steady_clock::time_point> lastAnnounced_;
    std::chrono::steady_clock::time_point windowStart_;
    int announcedInWindow_ = 0;
};

} // namespace NSUI
