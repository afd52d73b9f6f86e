// The application configuration: first-run bookkeeping, the installation identifier and the
// shared instance.
#include <gtest/gtest.h>

#include "AppConfig.h"
#include "NSFileTestSupport.h"
#include "NSTimeUtil.h"
#include "UILocalConfig.h"
#include "qvBuildPaths.h"

USING_NS_CC;
using NSUI::UILocalConfig;

namespace {

class AppConfigTest : public qvtest::SettingsStoreTest {
protected:
    // One run of the program's start: a configuration made and dropped again.
    static std::string start()
    {
        auto* config = new AppConfig();
        config->init();
        const std::string identifier = config->getAppIdentifier();
        config->release();
        return identifier;
    }
};

} // namespace

TEST_F(AppConfigTest, FirstStartAndLaterStarts)
{
    const std::string identifier = start();
    EXPECT_EQ(UILocalConfig::getLocalString("app_current_version", ""), "1.4");
    EXPECT_EQ(UILocalConfig::getLocalString("app_init_db", ""), "1");
    int fields[6] = {};
    const std::string installed = UILocalConfig::getLocalString("app_install_time", "");
    EXPECT_TRUE(parseDateTime(installed, fields));
    EXPECT_EQ(formatDateTime(fields), installed);
    ASSERT_FALSE(identifier.empty());
    EXPECT_EQ(identifier.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_LT(std::stoull(identifier), 4294967296ull);
    EXPECT_EQ(UILocalConfig::getLocalString("app_identifier", ""), identifier);

    // The first start's record is on disk even though nothing else flushed the store.
    restart();
    EXPECT_EQ(UILocalConfig::getLocalString("app_identifier", ""), identifier);
    EXPECT_EQ(UILocalConfig::getLocalString("app_install_time", ""), installed);
    UILocalConfig::setLocalString("app_init_db", "0");   // the home screen installed the example
    EXPECT_EQ(start(), identifier);
    EXPECT_EQ(UILocalConfig::getLocalString("app_install_time", ""), installed);
    EXPECT_EQ(UILocalConfig::getLocalString("app_init_db", ""), "0");

    // An older version is brought up to date; the install time stays.
    UILocalConfig::setLocalString("app_current_version", "1.3");
    restart();
    EXPECT_EQ(start(), identifier);
    EXPECT_EQ(UILocalConfig::getLocalString("app_current_version", ""), "1.4");
    EXPECT_EQ(UILocalConfig::getLocalString("app_install_time", ""), installed);
    restart();
    EXPECT_EQ(UILocalConfig::getLocalString("app_current_version", ""), "1.4");
}

TEST_F(AppConfigTest, SharedInstanceAndLanguage)
{
    AppConfig* config = AppConfig::getInstance();
    config->retain();   // as the application delegate does
    PoolManager::getInstance()->drainCurrentThread();
    EXPECT_EQ(AppConfig::getInstance(), config);
    EXPECT_EQ(AppConfig::getVersion(), "1.4");
    EXPECT_FALSE(config->largeLayout);

    const std::vector<std::string> savedPaths = FileUtils::getInstance()->getSearchPaths();
    FileUtils::getInstance()->addSearchPath(QV_RESOURCE_DIR, true);
    config->loadLanguage();
    FileUtils::getInstance()->setSearchPaths(savedPaths);
    EXPECT_FALSE(config->getText("appName").empty());
    EXPECT_EQ(UILocalConfig::getText("appName"), config->getText("appName"));
    EXPECT_EQ(config->getText("no such key"), "");

    // Released at shutdown: nothing keeps pointing at it.
    config->release();
    EXPECT_EQ(UILocalConfig::getText("appName"), "");
    AppConfig* fresh = AppConfig::getInstance();
    EXPECT_NE(fresh, nullptr);
}
