#include "sniffer.h"

#include "flatJsonText.h"
#include "AppConfig.h"
#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "NSRunableThread.h"
#include "NSStringUtil.h"
#include "NetworkUtils.h"
#include "UILocalConfig.h"
#include "cocos2d.h"
#include "messageView.h"

#include <chrono>
#include <thread>

namespace NSUI {

const char* const sniffer::kMessageTag = "dicom_node_recognize";
const char* const sniffer::kSameUserSetting = "remoteSameUserDevice";

namespace {

const char* const kPing = "ping";
const char* const kResponse = "response";
const char* const kOwnDevice = "2";
constexpr int kSweepPauseMs = 1000;

sniffer* gInstance = nullptr;

void sleepUnlessStopped(const std::atomic<bool>& stop, int ms)
{
    for (int slept = 0; slept < ms && !stop; slept += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace

sniffer* sniffer::getInstance()
{
    if (!gInstance) {
        gInstance = new sniffer();
        static std::once_flag exitStop;
        std::call_once(exitStop, [] { NSRunableThread::addExitStop(&sniffer::shutdown); });
        if (gInstance->allowed()) gInstance->startReceive();
    }
    return gInstance;
}

void sniffer::shutdown()
{
    if (!gInstance) return;
    sniffer* instance = gInstance;
    gInstance = nullptr;
    delete instance;  // the destructor joins both threads
}

sniffer::sniffer(Environment environment) : env_(std::move(environment))
{
    refreshIdentity();
}

sniffer::~sniffer()
{
    // onReceive and the sweep use this object's members: both threads end before they go.
    stopAndWait();
}

bool sniffer::allowed() const { return env_.allowed ? env_.allowed() : !isNetworkAvailable(); }

std::string sniffer::localAddress() const
{
    if (env_.localAddress) return env_.localAddress();
    std::string host, addresses, masks;
    getLocalNetworkInfo(host, addresses, masks);
    return addresses.substr(0, addresses.find(','));
}

void sniffer::refreshIdentity()
{
    Identity id;
    if (env_.hostName) {
        id.name = env_.hostName();
    } else {
        std::string addresses, masks;
        getLocalNetworkInfo(id.name, addresses, masks);
    }
    id.appid = env_.appid ? env_.appid() : AppConfig::getInstance()->getAppIdentifier();
    if (env_.userid)
        id.userid = env_.userid();
    else if (UILocalConfig::getLocalInt("app_logined", 0) != 0)
        id.userid = UILocalConfig::getLocalString("app_login_id", "0");
    std::lock_guard<std::mutex> lock(identityMutex_);
    identity_ = id;
}

std::string sniffer::makeDatagram(const std::string& command) const
{
    Identity id;
    {
        std::lock_guard<std::mutex> lock(identityMutex_);
        id = identity_;
    }
    std::string text;
    setString(text, "ip", localAddress());
    setString(text, "name", id.name);
    setString(text, "command", command);
    setString(text, "device", kOwnDevice);
    setString(text, "appid", id.appid);
    setString(text, "msg", kMessageTag);
    if (!id.userid.empty()) setString(text, "userid", id.userid);
    return text;
}

void sniffer::start()
{
    if (stop_ || !allowed()) return;
    bool expected = false;
    if (!sweeping_.compare_exchange_strong(expected, true)) return;
    refreshIdentity();
    // The previous sweep has cleared its flag, so it is at its end: the join is immediate.
    if (sweeper_.joinable()) sweeper_.join();
    // Ended by its stop flag and joined by stopAndWait (shutdown, the destructor) or the next start.
    sweeper_ = std::thread([this] {
        const std::string ping = makeDatagram(kPing);
        const std::string own = localAddress();
        std::vector<std::string> addresses;
        if (env_.sweepAddresses)
            env_.sweepAddresses(addresses);
        else
            getSubnetHostAddresses(addresses);
        for (const std::string& address : addresses) {
            if (stop_) break;
            if (address != own) send(address, ping);
        }
        sleepUnlessStopped(stop_, kSweepPauseMs);
        sweeping_ = false;
    });
}

bool sniffer::admitAnnouncement(const std::string& key)
{
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(announceMutex_);
    if (now - windowStart_ >= std::chrono::seconds(1)) {
        windowStart_ = now;
        announcedInWindow_ = 0;
        // Forget the peers not heard for a while, so the table stays small.
        for (auto it = lastAnnounced_.begin(); it != lastAnnounced_.end();)
            it = now - it->second >= std::chrono::seconds(1) ? lastAnnounced_.erase(it) : std::next(it);
    }
    auto it = lastAnnounced_.find(key);
    if (it != lastAnnounced_.end() && now - it->second < std::chrono::seconds(1)) return false;
    if (announcedInWindow_ >= kAnnouncementsPerSecond) return false;
    ++announcedInWindow_;
    lastAnnounced_[key] = now;
    return true;
}

void sniffer::stopAndWait()
{
    stop_ = true;
    stopReceiveAndWait();
    if (sweeper_.joinable()) sweeper_.join();
}

void sniffer::onReceive(const std::string& text, const std::string& senderAddress)
{
    if (getString(text, "msg") != kMessageTag) return;
    std::string ip = getString(text, "ip");
    if (ip.empty()) ip = senderAddress;
    if (ip == localAddress()) return;  // our own sweep, heard back

    const std::string userid = getString(text, "userid");
    if (getString(text, "command") == kPing) send(ip, makeDatagram(kResponse));

    std::string ownUser;
    {
        std::lock_guard<std::mutex> lock(identityMutex_);
        ownUser = identity_.userid;
    }
    if (!userid.empty() && !ownUser.empty() && userid == ownUser) {
        // Settings are written on the main thread only; the function holds nothing of this object.
        cocos2d::Director::getInstance()->getScheduler()->performFunctionInCocosThread(
            [ip] { UILocalConfig::setLocalString(kSameUserSetting, ip); });
    }

    // A peer announces itself with every ping and answer; a burst of them (a sweep answered by
    // many, a flood from one address) must not fill the notification queue that everything else
    // waits in: the same appid and address count once a second, and at most a few peers a second
    // are announced (the others are heard again at the next sweep).
    if (!admitAnnouncement(getString(text, "appid") + "|" + ip)) return;

    std::string peer;
    setString(peer, "ip", flatJsonSafe(ip));
    setString(peer, "name", flatJsonSafe(getString(text, "name")));
    setString(peer, "device", flatJsonSafe(getString(text, "device")));
    setString(peer, "appid", flatJsonSafe(getString(text, "appid")));
    NSNotificationCenter::getInstance()->postStringNotification(nullptr, NOTIFY_NET_PEER_FOUND, peer, nullptr, false);
}

} // namespace NSUI
