// httpCenter: the process-wide online service on the data manager's one-second tick.
//
// - Every 20 ticks, while somebody is logged in, it asks the server whether the account was taken
//   over by another device (the re-login check) and logs the account out when so; a login that
//   has expired (two days since the login and seven hours since the last user input) is logged
//   out without asking.
// - 1006 (text: an address) opens the address in the system browser.
// - 2028 and 1005 (text: a package address) download the package into qv/tmp/updateapp/ behind
//   the busy overlay; a failed download says so in a toast.
// - 2032 (text: an address) fetches the new-version page there and shows it, filled into the
//   local template "res/newversion.html", in the web-page view (at most one at a time).
//
// Created by the first getInstance, which registers it with the data manager (which owns it from
// then on and releases it at the exit purge). Main thread only.
#pragma once

#include "NSDatas.h"

#include <functional>
#include <string>

namespace NSUI {
class NSNotificationData;
class UIHttpResponse;
}

class httpCenter : public NSUI::NSDatas {
public:
    // The tag of the web-page view that shows the new-version page.
    static constexpr int kNewVersionViewTag = 4881;
    // Ticks (seconds) between two re-login checks.
    static constexpr int kTickPeriod = 20;
    // Login expiry: seconds since the login, and since the last user input.
    static constexpr long long kLoginLifetime = 172800;
    static constexpr long long kIdleLifetime = 25200;

    static httpCenter* getInstance();
    // The instance if it exists; never creates it.
    static httpCenter* peekInstance();

    ~httpCenter() override;

    bool init() override;
    void enable() { enabled = true; }
    bool isEnabled() const { return enabled; }
    void cancelRequests() override;
    // The re-login check, every kTickPeriod calls.
    void update(float dt) override;
    void onHttpResponse(NSUI::UIHttpResponse* response) override;
    void onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);

    // Whether a login made at loginSeconds has expired at nowSeconds with the last user input at
    // inputSeconds (all seconds since 1970).
    static bool isLoginExpired(long long nowSeconds, long long loginSeconds, long long inputSeconds);
    // Ends the login: "app_logined" := "0" and 2034 with -1.
    static void logout();

    // The current time in seconds since 1970 (replaceable by tests).
    void setClock(std::function<long long()> clock) { now = std::move(clock); }
    // The page text last shown in the web-page view, and the file it was written to.
    const std::string& getShownPage() const { return shownPage; }
    static std::string pageFilePath();
    static std::string downloadFolder();

private:
    httpCenter() = default;

    void checkLogin();
    void downloadPackage(const std::string& address);
    void showNewVersionPage(const std::string& reply);

    int tickPeriod = kTickPeriod;
    int tickCounter = 0;
    bool enabled = false;
    std::function<long long()> now;
    std::string shownPage;
};
