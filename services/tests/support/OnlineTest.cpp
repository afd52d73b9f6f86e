#include "support/OnlineTest.h"

#include "AppConfig.h"
#include "NSDataManager.h"
#include "UIHttpPhisical.h"
#include "UIHttpResponse.h"
#include "qvBuildPaths.h"
#include "NSHttpClient.h"
#include "NSNotificationCenter.h"
#include "adsApplication.h"
#include "statApplication.h"
#include "ui/CocosGUI.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using namespace cocos2d;

namespace {

// Sends the request that marks the end of the queue.
class Sentinel : public Ref, public NSUI::UIHttpPhisical {
public:
    Sentinel() { setRequestTarget(this); }
    void onHttpResponse(NSUI::UIHttpResponse*) override { answered = true; }
    bool answered = false;
};

class RecordingApplication : public Application {
public:
    bool applicationDidFinishLaunching() override { return true; }
    void applicationDidEnterBackground() override {}
    void applicationWillEnterForeground() override {}
};

} // namespace

void OnlineTest::SetUp()
{
    HeadlessFrames::SetUp();
    application = std::make_unique<RecordingApplication>();
    const char* xdg = std::getenv("XDG_DATA_HOME");
    ASSERT_NE(xdg, nullptr);
    const fs::path base =
        fs::path(xdg) / "online" / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(base);
    fs::create_directories(base);
    writablePath = base.string() + "/";
    FileUtils* files = FileUtils::getInstance();
    files->setWritablePath(writablePath);
    files->setDefaultResourceRootPath(QV_RESOURCE_DIR);
    files->setSearchPaths({"res/pad", "imageSDK", "dcmtk", "UIRes", "test"});
    UserDefault::destroyInstance();  // the settings of this test's tree
    // The configuration exists from the start of the program, and sets the configured server base
    // when it is made: the test's base comes after it.
    config = AppConfig::getInstance();
    config->retain();
    config->loadLanguage();
    NSUI::NSDataManager::setServerBase(server.url(""));
    NSUI::NSHttpClient::Timeouts limits;
    limits.connectMs = 2000;
    limits.transferMs = 2000;
    NSUI::NSHttpClient::getInstance()->setTimeouts(limits);
    setLogSink([this](const std::string& line) {
        std::lock_guard<std::mutex> guard(logLock);
        logLines.push_back(line);
    });
    Director::getInstance()->runWithScene(Scene::create());
    NSUI::NSNotificationCenter::getInstance();  // its first delivery is half a second after it is made
    passStartDelay();
}

void OnlineTest::TearDown()
{
    ADS::adsApplication::destroyInstance();
    statApplication::destroyInstance();
    CC_SAFE_RELEASE_NULL(config);
    HeadlessFrames::TearDown();
    setLogSink(nullptr);
    UserDefault::destroyInstance();
    FileUtils::destroyInstance();
    application.reset();
}

std::string OnlineTest::b64(const std::string& text)
{
    return safeBase64EncodeString(text);
}

std::string OnlineTest::decoded(const std::string& body)
{
    return safeBase64DecodeString(body);
}

bool OnlineTest::flushHttp()
{
    server.put("/sentinel", "done");
    auto* sentinel = new Sentinel();
    sentinel->httpGet(server.url("/sentinel"), "", "sentinel", "", "");
    const bool answered = stepUntil([sentinel] { return sentinel->answered; }, 50000);
    sentinel->release();
    return answered;
}

void OnlineTest::settle(int milliseconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
        step();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

const std::vector<std::string>& OnlineTest::openedUrls() const
{
    return application->getOpenedURLsForTest();
}

std::string OnlineTest::toastText() const
{
    Scene* scene = Director::getInstance()->getRunningScene();
    Node* box = scene ? scene->getChildByName("messageBox") : nullptr;
    auto* label = box ? dynamic_cast<ui::Text*>(box->getChildByNameDeep("messageBox.text")) : nullptr;
    return label ? label->getString() : std::string();
}

bool OnlineTest::logged(const std::string& line)
{
    std::lock_guard<std::mutex> guard(logLock);
    for (const std::string& l : logLines) {
        if (l == line)
            return true;
    }
    return false;
}

bool OnlineTest::loggedStartingWith(const std::string& prefix)
{
    std::lock_guard<std::mutex> guard(logLock);
    for (const std::string& l : logLines) {
        if (l.compare(0, prefix.size(), prefix) == 0)
            return true;
    }
    return false;
}

bool OnlineTest::waitForLog(const std::string& line)
{
    return stepUntil([&] { return logged(line); }, 50000);
}

void OnlineTest::clearLog()
{
    std::lock_guard<std::mutex> guard(logLock);
    logLines.clear();
}

std::string OnlineTest::writable(const std::string& relative) const
{
    return writablePath + relative;
}
