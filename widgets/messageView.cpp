#include "messageView.h"

#include "NSRunableThread.h"
#include "NetworkUtils.h"

#include <atomic>
#include <ctime>
#include <vector>

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

// The validators read the text a character at a time rather than through std::regex: the patterns
// are two character classes and a dotted domain, and GCC 12 warns about uninitialised members of
// std::function inside <regex>'s compiled automaton wherever one is built.
bool isAsciiAlnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// One or more of [0-9A-Za-z-_.].
bool isNameText(const std::string& text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (!isAsciiAlnum(c) && c != '-' && c != '_' && c != '.')
            return false;
    return true;
}

// One or more letters or digits; with a length bound, from 2 to 5 of them.
bool isLabel(const std::string& label, bool bounded)
{
    if (label.empty() || (bounded && (label.size() < 2 || label.size() > 5)))
        return false;
    for (char c : label)
        if (!isAsciiAlnum(c))
            return false;
    return true;
}
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
    const size_t at = text.find('@');
    if (at == std::string::npos || !isNameText(text.substr(0, at)))
        return false;
    // The domain: "<host>.<2-5>" or "<host>.<2-5>.<2-5>".
    std::vector<std::string> labels;
    size_t from = at + 1;
    for (;;) {
        const size_t dot = text.find('.', from);
        labels.push_back(text.substr(from, dot == std::string::npos ? std::string::npos : dot - from));
        if (dot == std::string::npos)
            break;
        from = dot + 1;
    }
    if (labels.size() < 2 || labels.size() > 3 || !isLabel(labels[0], false))
        return false;
    for (size_t i = 1; i < labels.size(); ++i)
        if (!isLabel(labels[i], true))
            return false;
    return true;
}

bool isValidName(std::string text)
{
    return isNameText(text);
}

} // namespace NSUI
