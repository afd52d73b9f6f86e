// The online services' threads under the thread sanitizer: the update service's folder copy
// against its own release, and a hot update whose download worker reports to the main thread
// while the HTTP client's worker answers the service.
#include "updateService.h"

#include "UILocalConfig.h"
#include "extensions/CCMD5.h"
#include "support/OnlineTest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using NSUI::UILocalConfig;

namespace {

class OnlineThreads : public OnlineTest {};

TEST_F(OnlineThreads, FolderCopyAndHotUpdateReportToTheMainThread)
{
    const std::string folder1 = writable("qv/update/temp1/"), folder2 = writable("qv/update/temp2/");
    for (int i = 0; i < 100; ++i) {
        fs::create_directories(folder2 + "d" + std::to_string(i % 7));
        std::ofstream(folder2 + "d" + std::to_string(i % 7) + "/f" + std::to_string(i)) << std::string(i * 10, 'x');
    }
    const std::string content = "payload";
    server.put("/files/a.txt", content);
    server.put("/project.manifest", "{\"version\":\"2\",\"packageUrl\":\"" + server.url("/files") +
                                        "\",\"remoteManifestUrl\":\"" + server.url("/project.manifest") +
                                        "\",\"assets\":{\"a.txt\":{\"md5\":\"" +
                                        cocos2d::extension::MD5::ofBuffer(content.data(), content.size()) + "\"}}}");
    server.put("/ud/u.php", "{\"version\":\"0\",\"packageUrl\":\"" + server.url("/files") +
                                "\",\"remoteManifestUrl\":\"" + server.url("/project.manifest") + "\"}");
    server.put("/ud/cv2.php", b64("{\"app_latest_version\":\"1.6\"}"));

    // Released while its copy runs: the release waits for the worker, nothing is called back.
    UILocalConfig::setLocalInt("update_hasValidUpdate", 2);
    updateService* service = updateService::create();
    service->retain();
    service->release();
    step(2);
    EXPECT_EQ(server.count("/ud/u.php"), 0);

    // Let the copy finish: the check follows and the update is staged in folder 1.
    UILocalConfig::setLocalInt("update_hasValidUpdate", 2);
    service = updateService::create();
    service->retain();
    ASSERT_TRUE(waitForLog("update over. restart."));
    EXPECT_EQ(UILocalConfig::getLocalInt("update_hasValidUpdate", 0), 1);
    EXPECT_TRUE(fs::exists(folder1 + "d3/f10"));
    EXPECT_TRUE(fs::exists(folder1 + "a.txt"));
    service->release();
}

} // namespace
