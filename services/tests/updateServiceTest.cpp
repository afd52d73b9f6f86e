// The update service and the advertisement against a loopback server: a full hot update staged
// and activated on the next start, an interrupted one, hostile manifests and replies, the
// configuration text and the version advertisement.
#include "adsApplication.h"
#include "updateService.h"

#include "AppConfig.h"
#include "NSDataManager.h"
#include "UILocalConfig.h"
#include "extensions/cocos-ext.h"
#include "support/OnlineTest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;
using namespace cocos2d;
using NSUI::UILocalConfig;

namespace {

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "<missing>";
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeText(const std::string& path, const std::string& text)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// Every file below a folder with its content, by relative path.
std::map<std::string, std::string> snapshot(const std::string& folder)
{
    std::map<std::string, std::string> files;
    if (!fs::exists(folder))
        return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), folder).string()] = readText(entry.path().string());
    }
    return files;
}

class UpdateServiceTest : public OnlineTest {
protected:
    void SetUp() override
    {
        OnlineTest::SetUp();
        folder1 = writable("qv/update/temp1/");
        folder2 = writable("qv/update/temp2/");
        server.put("/ud/cv2.php", b64("{\"app_latest_version\":\"1.6\",\"expiredTime\":\"2030-01-01\"}"));
        server.put("/ud/u.php", bootstrap());
    }
    void TearDown() override
    {
        CC_SAFE_RELEASE_NULL(service);
        OnlineTest::TearDown();
    }

    // What the server answers on the manifest path: where the newest manifest and the files are.
    std::string bootstrap()
    {
        return "{\"version\":\"0\",\"packageUrl\":\"" + server.url("/files") + "\",\"remoteManifestUrl\":\"" +
               server.url("/project.manifest") + "\"}";
    }
    // Publishes a version: the files under /files/ and the manifest listing them.
    void publish(const std::string& version, const std::map<std::string, std::string>& files,
                 const std::string& extraAssets = "")
    {
        std::string assets;
        for (const auto& [path, content] : files) {
            server.put("/files/" + path, content);
            assets += (assets.empty() ? "" : ",") + std::string("\"") + path + "\":{\"md5\":\"" +
                      extension::MD5::ofBuffer(content.data(), content.size()) + "\"}";
        }
        if (!extraAssets.empty())
            assets += (assets.empty() ? "" : ",") + extraAssets;
        server.put("/project.manifest", "{\"version\":\"" + version + "\",\"packageUrl\":\"" + server.url("/files") +
                                            "\",\"remoteManifestUrl\":\"" + server.url("/project.manifest") +
                                            "\",\"assets\":{" + assets + "}}");
    }
    // A start of the program: the search paths of the launch, then a new service.
    void start()
    {
        CC_SAFE_RELEASE_NULL(service);
        FileUtils::getInstance()->setSearchPaths({"res/pad", "imageSDK", "dcmtk", "UIRes", "test"});
        clearLog();
        service = updateService::create();
        ASSERT_NE(service, nullptr);
        service->retain();
    }
    // Steps until the hot update of this start has come to an end (any end).
    bool waitForUpdateEnd()
    {
        if (!stepUntil([this] { return server.count("/ud/u.php") > manifestRequests; }, 50000) || !flushHttp())
            return false;
        const bool ended = stepUntil(
            [this] { return !service->isBusy() && !(service->getManager() && service->getManager()->isUpdating()); },
            50000);
        step(3);  // the manager's last event
        return ended;
    }
    int settingInt(const char* key) { return UILocalConfig::getLocalInt(key, -1); }

    std::string folder1, folder2;
    updateService* service = nullptr;
    int manifestRequests = 0;
};

TEST_F(UpdateServiceTest, HotUpdateIsStagedThenActivatedOnTheNextStart)
{
    writeText(folder1 + "img/a.png", "old picture");
    writeText(folder1 + "keep.txt", "kept");
    const std::string config = "{\"ads_enable_newVersion\":\"1\",\"adsNewVersionType\":\"1\"}";
    publish("1.5", {{"img/a.png", "new picture"}, {"data/b.txt", "bravo"}, {"c.i", b64(config)}});

    start();
    EXPECT_EQ(service->getActiveFolder(), folder1);
    EXPECT_EQ(service->getStagingFolder(), folder2);
    EXPECT_EQ(FileUtils::getInstance()->getSearchPaths().front(), folder1);
    ASSERT_TRUE(waitForLog("update over. restart."));
    ASSERT_TRUE(flushHttp());
    EXPECT_TRUE(logged("download project file."));
    EXPECT_TRUE(logged("Found the new verision,1.5,start to update."));
    EXPECT_TRUE(logged("c.i,data/b.txt,img/a.png"));
    EXPECT_TRUE(logged("update process= img/a.png 100"));

    // The version reply went to the settings; the update waits in folder 2.
    EXPECT_EQ(UILocalConfig::getLocalString("app_latest_version", ""), "1.6");
    EXPECT_EQ(UILocalConfig::getLocalString("app_ver_check_count", ""), "0");
    EXPECT_EQ(UILocalConfig::getLocalString("app_ver_expired_date", ""), "2030-01-01");
    EXPECT_EQ(settingInt("update_hasValidUpdate"), 2);
    EXPECT_FALSE(service->isRunning());
    EXPECT_EQ(service->getManager(), nullptr);
    EXPECT_EQ(readText(folder2 + "img/a.png"), "new picture");
    EXPECT_EQ(readText(folder2 + "data/b.txt"), "bravo");
    // Nothing of it is in use yet: the active folder holds what it held (and the server's answer).
    EXPECT_EQ(snapshot(folder1), (std::map<std::string, std::string>{
                                     {"img/a.png", "old picture"}, {"keep.txt", "kept"}, {"project.manifest", bootstrap()}}));
    EXPECT_EQ(FileUtils::getInstance()->fullPathForFilename("img/a.png"), folder1 + "img/a.png");
    EXPECT_EQ(UILocalConfig::getLocalString("app_config_ini", ""), "");

    // The next start activates folder 2, reads its configuration, refreshes folder 1 from it and
    // then checks again: nothing newer.
    manifestRequests = server.count("/ud/u.php");
    start();
    EXPECT_EQ(settingInt("update_now"), 2);
    EXPECT_EQ(service->getActiveFolder(), folder2);
    const std::vector<std::string> paths = FileUtils::getInstance()->getSearchPaths();
    ASSERT_EQ(paths.size(), 6u);
    EXPECT_EQ(paths[0], folder2);
    EXPECT_EQ(FileUtils::getInstance()->fullPathForFilename("img/a.png"), folder2 + "img/a.png");
    EXPECT_EQ(UILocalConfig::getLocalString("app_config_ini", ""), config);
    EXPECT_EQ(server.count("/ud/u.php"), manifestRequests);  // not before the copy is done
    ASSERT_TRUE(waitForLog("Already is the latest version"));
    EXPECT_EQ(settingInt("update_hasValidUpdate"), -1);
    // Folder 1 is a copy of folder 2, but for the server's newest answer in folder 2.
    std::map<std::string, std::string> copy = snapshot(folder1), active = snapshot(folder2);
    EXPECT_NE(copy["project.manifest"].find("\"version\":\"1.5\""), std::string::npos);
    EXPECT_EQ(active["project.manifest"], bootstrap());
    copy.erase("project.manifest");
    active.erase("project.manifest");
    EXPECT_EQ(copy, active);

    // 1.7 goes into folder 1 and becomes active at the start after.
    publish("1.7", {{"img/a.png", "newer picture"}, {"data/b.txt", "bravo"}, {"c.i", b64(config)}});
    manifestRequests = server.count("/ud/u.php");
    start();
    ASSERT_TRUE(waitForLog("update over. restart."));
    EXPECT_EQ(settingInt("update_hasValidUpdate"), 1);
    EXPECT_EQ(server.count("/files/data/b.txt"), 1);  // unchanged files are not fetched again
    start();
    EXPECT_EQ(service->getActiveFolder(), folder1);
    EXPECT_EQ(FileUtils::getInstance()->fullPathForFilename("img/a.png"), folder1 + "img/a.png");
    ASSERT_TRUE(waitForLog("Already is the latest version"));

    // Renewing the service in the same run does not list the folder twice.
    CC_SAFE_RELEASE_NULL(service);
    service = updateService::create();
    service->retain();
    int listed = 0;
    for (const std::string& path : FileUtils::getInstance()->getSearchPaths())
        listed += path == folder1 || path == folder2 ? 1 : 0;
    EXPECT_EQ(listed, 1);
}

TEST_F(UpdateServiceTest, InterruptedUpdateLeavesTheActiveFolderUntouched)
{
    writeText(folder1 + "img/a.png", "old picture");
    publish("1.5", {{"img/a.png", "new picture"}});
    const std::string big(200000, 'z');
    server.putTruncated("/files/big.bin", big);
    server.put("/project.manifest", "{\"version\":\"1.5\",\"packageUrl\":\"" + server.url("/files") +
                                        "\",\"remoteManifestUrl\":\"" + server.url("/project.manifest") +
                                        "\",\"assets\":{\"img/a.png\":{\"md5\":\"" +
                                        extension::MD5::ofBuffer("new picture", 11) + "\"},\"big.bin\":{\"md5\":\"" +
                                        extension::MD5::ofBuffer(big.data(), big.size()) + "\"}}}");
    start();
    ASSERT_TRUE(waitForUpdateEnd());
    EXPECT_TRUE(loggedStartingWith("Error: failed to complete the update.."));
    EXPECT_FALSE(logged("update over. restart."));
    EXPECT_EQ(settingInt("update_hasValidUpdate"), -1);
    EXPECT_EQ(readText(folder1 + "img/a.png"), "old picture");
    EXPECT_EQ(readText(folder2 + "big.bin"), "<missing>");
    EXPECT_EQ(readText(folder2 + "big.bin.tmp"), "<missing>");

    // The next start keeps folder 1 and finishes the update in folder 2.
    server.put("/files/big.bin", big);
    manifestRequests = server.count("/ud/u.php");
    start();
    EXPECT_EQ(service->getActiveFolder(), folder1);
    ASSERT_TRUE(waitForLog("update over. restart."));
    EXPECT_EQ(server.count("/files/img/a.png"), 1);
    EXPECT_EQ(readText(folder2 + "big.bin"), big);
    EXPECT_EQ(readText(folder1 + "img/a.png"), "old picture");
}

TEST_F(UpdateServiceTest, ManifestPathsOutsideTheUpdateFolderAreRefused)
{
    // The server's answer itself names a path that climbs out: it is not even written.
    server.put("/ud/u.php", "{\"version\":\"0\",\"packageUrl\":\"" + server.url("/files") +
                                "\",\"assets\":{\"../../../evil.txt\":{\"md5\":\"\"}}}");
    start();
    ASSERT_TRUE(stepUntil([this] { return server.count("/ud/u.php") == 1; }));
    ASSERT_TRUE(flushHttp());
    EXPECT_EQ(service->getManager(), nullptr);
    EXPECT_FALSE(service->isRunning());
    EXPECT_EQ(readText(folder1 + "project.manifest"), "<missing>");

    // The newest manifest names a path into the active folder: refused, nothing fetched.
    server.put("/ud/u.php", bootstrap());
    server.put("/files/evil.txt", "evil");
    publish("1.5", {{"ok.txt", "ok"}}, "\"../temp1/evil.txt\":{\"md5\":\"\"}");
    manifestRequests = server.count("/ud/u.php");
    start();
    ASSERT_TRUE(waitForLog("Error: failed to analysis the manifest"));
    EXPECT_EQ(readText(folder1 + "evil.txt"), "<missing>");
    EXPECT_EQ(readText(folder2 + "ok.txt"), "<missing>");
    EXPECT_EQ(server.count("/files/ok.txt") + server.count("/files/evil.txt"), 0);
    EXPECT_EQ(settingInt("update_hasValidUpdate"), -1);
}

TEST_F(UpdateServiceTest, HostileOrMissingServerChangesNothing)
{
    UILocalConfig::setLocalString("app_latest_version", "1.2");
    UILocalConfig::setLocalString("app_ver_check_count", "1");
    server.put("/ud/cv2.php", "", 404);
    server.put("/ud/u.php", "<html>Internal error</html>");  // 200, but no manifest
    start();
    ASSERT_TRUE(stepUntil([this] { return server.count("/ud/u.php") == 1; }));
    ASSERT_TRUE(flushHttp());
    EXPECT_EQ(readText(folder1 + "project.manifest"), "<missing>");
    EXPECT_FALSE(service->isRunning());

    struct Case {
        const char* name;
        std::function<void()> arrange;
    };
    const std::string reply = "{\"app_latest_version\":\"9.9\",\"expiredTime\":\"x\"}";
    const std::vector<Case> cases = {
        {"not Base64", [&] { server.put("/ud/cv2.php", reply); }},
        {"not JSON", [&] { server.put("/ud/cv2.php", b64("app_latest_version=9.9")); }},
        {"HTTP 500", [&] { server.put("/ud/cv2.php", b64(reply), 500); }},
        {"oversized", [&] { server.put("/ud/cv2.php", b64(reply.substr(0, reply.size() - 1) + std::string(5 << 20, ' ') + "}")); }},
        {"never answers", [&] { server.hang("/ud/cv2.php"); }},
        {"repeats the stored version", [&] { server.put("/ud/cv2.php", b64("{\"app_latest_version\":\"1.2\"}")); }},
        {"no server", [&] { NSUI::NSDataManager::setServerBase("http://127.0.0.1:1"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        service->requestVersionCheck();
        ASSERT_TRUE(flushHttp());
        EXPECT_EQ(UILocalConfig::getLocalString("app_latest_version", ""), "1.2");
        EXPECT_EQ(UILocalConfig::getLocalString("app_ver_check_count", ""), "1");
        EXPECT_EQ(UILocalConfig::getLocalString("app_ver_expired_date", "unset"), "unset");
        EXPECT_FALSE(service->isRunning());
    }
}

TEST_F(UpdateServiceTest, ConfigurationIsReadOnlyWhenAnUpdateIsActivated)
{
    writeText(folder1 + "c.i", b64("{\"ads_enable_newVersion\":\"1\"}"));
    start();
    EXPECT_EQ(UILocalConfig::getLocalString("app_config_ini", "unset"), "unset");
    ASSERT_TRUE(stepUntil([this] { return server.count("/ud/cv2.php") == 1 && server.count("/ud/u.php") == 1; }));

    // A pending update whose folder holds a damaged configuration: the stored text stays.
    UILocalConfig::setLocalString("app_config_ini", "{\"kept\":\"1\"}");
    writeText(folder2 + "c.i", "%%% not base64 %%%");
    UILocalConfig::setLocalInt("update_hasValidUpdate", 2);
    start();
    EXPECT_EQ(service->getActiveFolder(), folder2);
    EXPECT_EQ(UILocalConfig::getLocalString("app_config_ini", ""), "{\"kept\":\"1\"}");
    ASSERT_TRUE(stepUntil([this] { return settingInt("update_hasValidUpdate") == -1; }, 50000));
    EXPECT_EQ(readText(folder1 + "c.i"), "%%% not base64 %%%");
}

TEST_F(UpdateServiceTest, StoredFoldersStayInsideTheWorkingTree)
{
    UILocalConfig::setLocalString("update_nowPath1", "update/mine");
    UILocalConfig::setLocalString("update_nowPath2", "../../outside");
    server.put("/ud/u.php", "", 500);
    start();
    EXPECT_EQ(service->getActiveFolder(), writable("qv/update/mine/"));
    EXPECT_EQ(service->getStagingFolder(), folder2);
    UILocalConfig::setLocalString("update_nowPath1", "/tmp/abs");
    start();
    EXPECT_EQ(service->getActiveFolder(), folder1);
    EXPECT_FALSE(fs::exists(writable("../outside")));
}

class AdvertisementTest : public UpdateServiceTest {
protected:
    void configure(const std::string& json)
    {
        UILocalConfig::setLocalString("app_config_ini", json);
        ads->reloadConfig();
    }
    ADS::adsApplication* ads = nullptr;
};

TEST_F(AdvertisementTest, NewerVersionOpensThePageOncePerVersion)
{
    EXPECT_TRUE(ADS::adsApplication::isNewerVersion("1.10", "1.4"));
    EXPECT_TRUE(ADS::adsApplication::isNewerVersion("2", "1.9.9"));
    EXPECT_TRUE(ADS::adsApplication::isNewerVersion("1.4.1", "1.4"));
    EXPECT_FALSE(ADS::adsApplication::isNewerVersion("1.4", "1.4"));
    EXPECT_FALSE(ADS::adsApplication::isNewerVersion("1.4.0", "1.4"));
    EXPECT_FALSE(ADS::adsApplication::isNewerVersion("1.4.1000.9", "1.4.1000"));
    EXPECT_FALSE(ADS::adsApplication::isNewerVersion("1.3.99", "1.4"));

    ads = ADS::adsApplication::getInstance();
    ASSERT_NE(ads->getUpdateService(), nullptr);
    ASSERT_TRUE(stepUntil([this] { return server.count("/ud/cv2.php") == 1; }));
    ASSERT_TRUE(flushHttp());
    ASSERT_EQ(UILocalConfig::getLocalString("app_latest_version", ""), "1.6");
    ASSERT_TRUE(ADS::adsApplication::isNewerVersion("1.6", AppConfig::getVersion()));

    // Without a configuration nothing happens.
    ads->checkNewVersion();
    EXPECT_TRUE(openedUrls().empty());
    EXPECT_EQ(UILocalConfig::getLocalString("app_ver_check_count", ""), "0");

    configure("{\"ads_enable_newVersion\":\"1\",\"adsNewVersionType\":\"1\"}");
    ads->checkNewVersion();
    ASSERT_EQ(openedUrls().size(), 1u);
    EXPECT_EQ(openedUrls()[0], server.url("/ads/newversionPC.html"));
    ads->checkNewVersion();
    EXPECT_EQ(openedUrls().size(), 1u);

    // A newer version reported by the server opens the configured page once more.
    configure("{\"ads_enable_newVersion\":\"1\",\"adsNewVersionType\":\"2\",\"adsNewVersionUrl\":\"" +
              server.url("/p.html") + "\"}");
    server.put("/ud/cv2.php", b64("{\"app_latest_version\":\"1.10\"}"));
    ads->getUpdateService()->requestVersionCheck();
    ASSERT_TRUE(flushHttp());
    EXPECT_EQ(UILocalConfig::getLocalString("app_ver_check_count", ""), "0");
    ads->checkNewVersion();
    ads->checkNewVersion();
    ASSERT_EQ(openedUrls().size(), 2u);
    EXPECT_EQ(openedUrls()[1], server.url("/p.html"));

    // Counted but not opened: type 0, a disabled advertisement, a page that is no web page.
    for (const std::string& config :
         {std::string("{\"ads_enable_newVersion\":\"1\",\"adsNewVersionType\":\"0\"}"),
          std::string("{\"ads_enable_newVersion\":\"0\",\"adsNewVersionType\":\"1\"}"),
          std::string("{\"ads_enable_newVersion\":\"1\",\"adsNewVersionType\":\"1\",\"adsNewVersionUrl\":\"file:///etc\"}")}) {
        UILocalConfig::setLocalString("app_ver_check_count", "0");
        configure(config);
        ads->checkNewVersion();
    }
    EXPECT_EQ(openedUrls().size(), 2u);
}

TEST_F(AdvertisementTest, ForegroundKeepsABusyServiceAndRenewsAnIdleOne)
{
    server.hang("/files/slow.bin");
    publish("1.5", {}, "\"slow.bin\":{\"md5\":\"\"}");
    ads = ADS::adsApplication::getInstance();
    updateService* first = ads->getUpdateService();
    ASSERT_TRUE(stepUntil([this] { return server.count("/files/slow.bin") == 1; }, 50000));
    EXPECT_TRUE(first->isBusy());
    ads->renewUpdateService();
    EXPECT_EQ(ads->getUpdateService(), first);

    // Shutdown stops the stalled transfer; the next start fails the download at once and is idle.
    server.remove("/files/slow.bin");
    ADS::adsApplication::destroyInstance();
    ads = ADS::adsApplication::getInstance();
    ASSERT_TRUE(stepUntil([this] { return server.count("/ud/u.php") == 2; }, 50000));
    ASSERT_TRUE(flushHttp());
    ASSERT_TRUE(stepUntil([this] { return !ads->getUpdateService()->isBusy(); }, 50000));
    updateService* idle = ads->getUpdateService();
    idle->retain();
    ads->renewUpdateService();
    EXPECT_NE(ads->getUpdateService(), nullptr);
    EXPECT_EQ(idle->getReferenceCount(), 1u);  // the advertisement let go of it
    idle->release();
}

} // namespace
