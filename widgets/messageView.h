// messageView: the scene-level toast holder for code that has no UIControlBase of its own
// (viewers, services, screens on other bases). An invisible node named "ns_fun_messageBox" on
// the running scene lends its UIControlBase part; one holder per scene, created by the first toast
// shown there and destroyed with the scene.
//
// The same unit holds the toolkit's free functions: the once-per-run background check of the local
// network addresses, and the e-mail and account-name validators.
#pragma once

#include "UIControlBase.h"
#include "cocos2d.h"

#include <string>

namespace NSUI
{

extern const char* const kMessageHolderName; // "ns_fun_messageBox"

class messageView : public cocos2d::Node, public UIControlBase
{
public:
    static messageView* create();
    // Shows the text in the running scene's toast for that many seconds; nothing without a scene.
    static void showMessage(std::string text, float seconds);
};

// The last result of the network check, at once; starts a new check on a worker (a counted
// NSRunableThread run) when none ran in this process yet (the next one would be due after
// 60,000,000 seconds).
bool isNetworkAvailable();
// The check itself: true when the adapters' address list holds a ":" (an IPv6 address). The
// address query is IPv4-only, so this answers false and peer discovery always runs.
bool hasLocalIPAddress();
// The check thread's body.
void checkNetworkThread();
// Whole-text validators. A name: one or more of [0-9A-Za-z-_.]. An address: such a name, "@",
// a host of letters and digits, and one or two dotted labels of 2 to 5 letters or digits.
bool isValidEmail(std::string text);
bool isValidName(std::string text);

} // namespace NSUI
