#include "messageView.h"

#include "NSRunableThread.h"
#include "NetworkUtils.h"

#include <atomic>
#include <ctime>
#include <regex>

namespace NSUI
{

const char* const kMessageHolderName = "ns_fun_messageBox";

namespace
{
// Seconds between two network checks; in practice one check per run.
constexpr uint32_t kNetworkCheckInterval = 60000000u;

// Shared between the main thread and the check thread.
std::atomic<bool> g_checkRunning{false};
std::atomic<bool> g_lastResult{false};
std::atomic<uint32_t> g_lastCheckTime{0};

uint32_t nowLow32()
{
    return static_cast<uint32_t>(static_cast<uint64_t>(std::time(nullptr)) & 0xffffffffu);
}

const char* const kEmailPattern =
    "([0-9A-Za-z\\-_\\.]+)@([0-9A-Za-z]+\\.[a-z0-9A-Z]{2,5}(\\.[a-z0-9A-Z]{2,5})?)";
const char* const kNamePattern = "[0-9A-Za-z\\-_\\.]+";
} // namespace

messageView* messageView::create()
{
    auto* view = new (std::nothrow) messageView();
    if (view != nullptr && view->cocos2d::Node::init())
    {
        view->autorelease();
        return view;
    }
    delete view;
    return nullptr;
}

void messageView::showMessage(std::string text, float seconds)
{
    cocos2d::Scene* scene = cocos2d::Director::getInstance()->getRunningScene();
    if (scene == nullptr)
        return;
    auto* holder = dynamic_cast<messageView*>(scene->getChildByName(kMessageHolderName));
    if (holder == nullptr)
    {
        holder = create();
        if (holder == nullptr)
            return;
        scene->addChild(holder);
        holder->setName(kMessageHolderName);
        holder->setOwnerNode(scene);
    }
    holder->UIControlBase::showMessage(std::move(text), seconds);
}

bool isNetworkAvailable()
{
    const uint32_t now = nowLow32();
    if (now - g_lastCheckTime.load() >= kNetworkCheckInterval && !g_checkRunning.load())
    {
        g_lastCheckTime = now;
        g_checkRunning = true; // set before the thread runs, so a second call cannot start another
        // A counted run that deletes itself; the shell's shutdown or the exit handler waits for it.
        new NSRunableThread([](void*) { checkNetworkThread(); }, nullptr);
    }
    return g_lastResult.load();
}

bool hasLocalIPAddress()
{
    std::string hostName;
    std::string addresses;
    std::string masks;
    getLocalNetworkInfo(hostName, addresses, masks);
    return addresses.find(':') != std::string::npos;
}

void checkNetworkThread()
{
    g_checkRunning = true;
    const uint32_t started = nowLow32();
    g_lastResult = hasLocalIPAddress();
    g_checkRunning = false;
    g_lastCheckTime = started;
}

bool isValidEmail(std::string text)
{
    static const std::regex pattern(kEmailPattern, std::regex::ECMAScript);
    return std::regex_match(text, pattern);
}

bool isValidName(std::string text)
{
    static const std::regex pattern(kNamePattern, std::regex::ECMAScript);
    return std::regex_match(text, pattern);
}

} // namespace NSUI
