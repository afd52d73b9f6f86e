// The HTTP centre against a loopback server: the re-login check and login expiry, package
// downloads behind the busy overlay, the new-version page, and hostile replies.
#include "httpCenter.h"

#include "AppConfig.h"
#include "NSActivity.h"
#include "NSDataManager.h"
#include "NSNotificationCenter.h"
#include "NSNotificationData.h"
#include "NSNotificationNumbers.h"
#include "NSWebView.h"
#include "UIJson.h"
#include "UILocalConfig.h"
#include "support/OnlineTest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <vector>

using namespace cocos2d;
using NSUI::UILocalConfig;

namespace {

class HttpCenterTest : public OnlineTest {
protected:
    void SetUp() override
    {
        OnlineTest::SetUp();
        center = httpCenter::getInstance();
        observer = Node::create();
        observer->retain();
        // Within the login lifetime, with recent input: the server is asked.
        center->setClock([this] { return nowSeconds; });
        nowSeconds = Touch::getTimeStamp() / 1000000 + 60;
        NSUI::NSNotificationCenter::getInstance()->addObserver(
            observer, nullptr, [this](Ref*, unsigned int, NSUI::NSNotificationData* data) {
                loginChanges.push_back(data ? data->intValue : 0);
            },
            NSUI::NOTIFY_ACCOUNT_LOGIN_CHANGED);
    }
    void TearDown() override
    {
        if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
            centre->removeObserver(observer);
        observer->release();
        OnlineTest::TearDown();
    }
    void logIn()
    {
        UILocalConfig::setLocalString("app_logined", "1");
        UILocalConfig::setLocalString("app_login_id", "u42");
        UILocalConfig::setLocalString("app_login_time", "2024-03-01 10:00:00");
        UILocalConfig::setLocalString("app_login_timestamp", std::to_string(nowSeconds - 100));
    }
    // Twenty one-second ticks: one re-login check when somebody is logged in.
    void tickCheck()
    {
        for (int i = 0; i < httpCenter::kTickPeriod; ++i)
            center->update(1.0f);
    }
    void post(unsigned int id, const std::string& text)
    {
        NSUI::NSNotificationCenter::getInstance()->postStringNotification(nullptr, id, text);
    }

    httpCenter* center = nullptr;
    Node* observer = nullptr;
    long long nowSeconds = 0;
    std::vector<int> loginChanges;
};

TEST_F(HttpCenterTest, ReLoginCheckLogsOutWhenTheAccountIsInUseElsewhere)
{
    server.put("/lg/rlc.php", b64("{\"Status\":\"0\"}"));

    // Nobody logged in: never a request.
    for (int i = 0; i < 3; ++i)
        tickCheck();
    ASSERT_TRUE(flushHttp());
    EXPECT_EQ(server.count("/lg/rlc.php"), 0);

    logIn();
    for (int i = 0; i < httpCenter::kTickPeriod - 1; ++i)
        center->update(1.0f);
    ASSERT_TRUE(flushHttp());
    EXPECT_EQ(server.count("/lg/rlc.php"), 0);  // one check every twenty seconds
    center->update(1.0f);
    ASSERT_TRUE(flushHttp());
    ASSERT_EQ(server.count("/lg/rlc.php"), 1);
    const std::string sent = decoded(server.lastBody("/lg/rlc.php"));
    EXPECT_EQ(sent, "{\"userid\":\"u42\",\"loginTime\":\"2024-03-01 10:00:00\",\"isMobile\":\"0\"}");
    EXPECT_EQ(UILocalConfig::getLocalString("app_logined", "0"), "1");

    server.put("/lg/rlc.php", b64("{\"Status\":\"1\"}"));
    tickCheck();
    ASSERT_TRUE(flushHttp());
    step(3);
    EXPECT_EQ(UILocalConfig::getLocalString("app_logined", "0"), "0");
    EXPECT_EQ(loginChanges, std::vector<int>{-1});
    EXPECT_EQ(toastText(), UILocalConfig::getText("login_second_device_info"));
    EXPECT_FALSE(toastText().empty());

    // Logged out: no more checks.
    tickCheck();
    ASSERT_TRUE(flushHttp());
    EXPECT_EQ(server.count("/lg/rlc.php"), 2);
}

TEST_F(HttpCenterTest, HostileReLoginRepliesLeaveTheLoginAlone)
{
    logIn();
    struct Case {
        const char* name;
        std::function<void()> arrange;
    };
    const std::vector<Case> cases = {
        {"not Base64", [this] { server.put("/lg/rlc.php", "{\"Status\":\"1\"}"); }},
        {"not JSON", [this] { server.put("/lg/rlc.php", b64("Status=1")); }},
        {"HTTP 500", [this] { server.put("/lg/rlc.php", b64("{\"Status\":\"1\"}"), 500); }},
        {"oversized", [this] { server.put("/lg/rlc.php", b64("{\"Status\":\"1\"," + std::string(5 << 20, ' ') + "}")); }},
        {"never answers", [this] { server.hang("/lg/rlc.php"); }},
        {"no server", [this] { NSUI::NSDataManager::setServerBase("http://127.0.0.1:1"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        tickCheck();
        ASSERT_TRUE(flushHttp());
        step(3);
        EXPECT_EQ(UILocalConfig::getLocalString("app_logined", "0"), "1");
        EXPECT_TRUE(loginChanges.empty());
    }
    EXPECT_EQ(server.count("/lg/rlc.php"), int(cases.size()) - 1);
}

TEST_F(HttpCenterTest, AnExpiredLoginEndsWithoutAsking)
{
    logIn();
    const long long input = Touch::getTimeStamp() / 1000000;
    UILocalConfig::setLocalString("app_login_timestamp", std::to_string(input - 3 * 86400));
    // Old login but recent input: still asked.
    nowSeconds = input + 60;
    tickCheck();
    ASSERT_TRUE(flushHttp());
    EXPECT_EQ(server.count("/lg/rlc.php"), 1);
    EXPECT_EQ(UILocalConfig::getLocalString("app_logined", "0"), "1");

    // Old login and no input for more than seven hours: logged out, nothing sent, no toast.
    nowSeconds = input + httpCenter::kIdleLifetime + 1;
    tickCheck();
    ASSERT_TRUE(flushHttp());
    step(3);
    EXPECT_EQ(server.count("/lg/rlc.php"), 1);
    EXPECT_EQ(UILocalConfig::getLocalString("app_logined", "0"), "0");
    EXPECT_EQ(loginChanges, std::vector<int>{-1});
    EXPECT_EQ(toastText(), "");

    EXPECT_FALSE(httpCenter::isLoginExpired(1000000, 1000000 - 172800, 0));
    EXPECT_FALSE(httpCenter::isLoginExpired(1000000, 0, 1000000 - 25200));
    EXPECT_TRUE(httpCenter::isLoginExpired(1000000, 1000000 - 172801, 1000000 - 25201));
}

TEST_F(HttpCenterTest, PackagesDownloadBehindTheOverlayAndFailuresSaySo)
{
    server.put("/pkg/app.apk", std::string(100000, 'p'));
    post(NSUI::NOTIFY_UI_DOWNLOAD_UPDATE, server.url("/pkg/app.apk"));
    ASSERT_TRUE(stepUntil([] { return NSUI::NSActivity::current() != nullptr; }));
    ASSERT_TRUE(stepUntil([] { return NSUI::NSActivity::current() == nullptr; }, 50000));
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(httpCenter::downloadFolder()))
        files.push_back(entry.path().string());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].substr(files[0].size() - 4), ".apk");
    EXPECT_EQ(std::filesystem::file_size(files[0]), 100000u);
    EXPECT_EQ(toastText(), "");

    // A second request makes the folder afresh; a failed download leaves a toast.
    post(NSUI::NOTIFY_ADVICE_UPDATE_APK, server.url("/pkg/missing.apk"));
    ASSERT_TRUE(stepUntil([] { return NSUI::NSActivity::current() != nullptr; }));
    ASSERT_TRUE(stepUntil([] { return NSUI::NSActivity::current() == nullptr; }, 50000));
    EXPECT_EQ(toastText(), "Failed to download the APK file.\nCheck your network.");

    // 1006 opens the address in the browser.
    post(NSUI::NOTIFY_UI_OPEN_URL, "http://127.0.0.1/page.html");
    step(3);
    ASSERT_FALSE(openedUrls().empty());
    EXPECT_EQ(openedUrls().back(), "http://127.0.0.1/page.html");
}

TEST_F(HttpCenterTest, NewVersionPageIsFilledAndShownOnce)
{
    Scene* scene = Director::getInstance()->getRunningScene();
    server.put("/nv/none.html", "<html><h2>no address here</h2></html>");
    post(NSUI::NOTIFY_UPDATE_NEW_VERSION, server.url("/nv/none.html"));
    step(2);
    ASSERT_TRUE(flushHttp());
    EXPECT_EQ(scene->getChildByTag(httpCenter::kNewVersionViewTag), nullptr);

    server.put("/nv/page.html", "<html><body><h2 class=\"t\"><a>v2</a></h2><div id=\"d\">Faster <b>and</b> safer</div>"
                                "</body></html>");
    server.put("/nv/bad.html", "<h2 \"x\"><div>", 500);
    post(NSUI::NOTIFY_UPDATE_NEW_VERSION, server.url("/nv/bad.html"));
    step(2);
    ASSERT_TRUE(flushHttp());
    EXPECT_EQ(scene->getChildByTag(httpCenter::kNewVersionViewTag), nullptr);

    post(NSUI::NOTIFY_UPDATE_NEW_VERSION, server.url("/nv/page.html"));
    ASSERT_TRUE(stepUntil([scene] { return scene->getChildByTag(httpCenter::kNewVersionViewTag) != nullptr; }, 50000));
    auto* view = dynamic_cast<NSUI::NSWebView*>(scene->getChildByTag(httpCenter::kNewVersionViewTag));
    ASSERT_NE(view, nullptr);
    const std::string page = center->getShownPage();
    EXPECT_NE(page.find("href=\"t\""), std::string::npos) << page;
    EXPECT_NE(page.find("Faster <b>and</b> safer"), std::string::npos);
    EXPECT_NE(page.find(writable("qv/tmp/res/js")), std::string::npos);
    for (const char* placeholder : {"JS_URL", "UPDATE_URL", "NEWVERSION_DESC"})
        EXPECT_EQ(page.find(placeholder), std::string::npos) << placeholder;

    // A second page while the first is open: not shown.
    post(NSUI::NOTIFY_UPDATE_NEW_VERSION, server.url("/nv/page.html"));
    step(2);
    ASSERT_TRUE(flushHttp());
    int views = 0;
    for (Node* child : scene->getChildren())
        views += child->getTag() == httpCenter::kNewVersionViewTag ? 1 : 0;
    EXPECT_EQ(views, 1);
}

} // namespace
