// Fixture of the online services' tests: a headless director with a running scene, a fresh
// writable tree and settings store per test, the server base pointed at a loopback server, short
// HTTP limits, and an application object whose openURL records the addresses.
#pragma once

#include "../../../foundation/tests/support/HeadlessFrames.h"
#include "support/LoopbackServer.h"

#include "cocos2d.h"

class AppConfig;
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class OnlineTest : public HeadlessFrames {
protected:
    void SetUp() override;
    void TearDown() override;

    // Base64 of a text, as the server sends its JSON replies.
    static std::string b64(const std::string& text);
    // The JSON object a request body carried (Base64-decoded).
    static std::string decoded(const std::string& body);
    // Steps frames until every HTTP answer asked for so far has been delivered: the client answers
    // in order, so a request sent now comes back after all of them.
    bool flushHttp();
    // Steps frames for about the given milliseconds.
    void settle(int milliseconds);

    const std::vector<std::string>& openedUrls() const;
    // The text of the running scene's toast, "" when none was shown.
    std::string toastText() const;
    // Whether the framework log received the line (exactly), and steps frames until it has.
    bool logged(const std::string& line);
    bool waitForLog(const std::string& line);
    bool loggedStartingWith(const std::string& prefix);
    void clearLog();

    // Absolute path below the writable tree.
    std::string writable(const std::string& relative) const;

    qvtest::LoopbackServer server;
    std::string writablePath;
    std::unique_ptr<cocos2d::Application> application;
    AppConfig* config = nullptr;
    std::mutex logLock;
    std::vector<std::string> logLines;
};
