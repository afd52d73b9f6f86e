// NSWebView: the holder of an embedded web page. This desktop build has no browser behind it: the
// view covers the window above ordinary screen content (z-order 100000), accepts page addresses
// and drops them, and shows nothing of its own. It keeps the five action addresses a page uses to
// signal commands, and the hook through which a browser would hand such a navigation to a
// subclass (nothing calls it here).
#pragma once

#include "cocos2d.h"

#include <string>

namespace NSUI
{

// The local host of the action addresses; each is this text followed by its path.
extern const char* const kWebLocalHost; // "http://127.0.0.1"

class NSWebView : public cocos2d::Node
{
public:
    static constexpr int kZOrder = 100000;

    static NSWebView* create();
    bool init() override;
    void cleanup() override;
    void onEnterTransitionDidFinish() override;
    // Deliberately not the node's: nothing happens when the exit transition starts.
    void onExitTransitionDidStart() override;

    // Accepted and dropped: nothing is loaded, the current address stays "".
    void loadURL(std::string url);
    const std::string& getCurrentURL() const { return currentURL; }

    virtual bool isWebVisible();
    // A subclass acts on a navigation that starts with one of the action addresses; see the
    // screens that use it for the meaning of the result.
    virtual bool onURLIntercepted(std::string url);

    bool isFirstEntry() const { return firstEntry; }

    std::string retryURL;
    std::string backToMainURL;
    std::string removeURL;
    std::string updateApkURL;
    std::string openURLURL;

protected:
    std::string currentURL;
    bool firstEntry = true;
};

} // namespace NSUI
