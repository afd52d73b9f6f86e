#include "support/WidgetsFixture.h"

#include "NSActivity.h"
#include "purgeServices.h"
#include "renderer/CCImage.h"

#include <chrono>
#include <fstream>
#include <thread>
#include <vector>
#include "qvBuildPaths.h"

void WidgetsTest::SetUp()
{
    director = cocos2d::Director::getInstance();
    director->setOpenGLView(cocos2d::GLViewHeadless::create(cocos2d::Size(960, 640)));
    auto* files = cocos2d::FileUtils::getInstance();
    files->setDefaultResourceRootPath(std::string(QV_RESOURCE_DIR) + "/");
    files->setSearchPaths({"UIRes"});
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    scratch = files->getWritablePath() + "widgets-tests/" + info->test_suite_name() + "." + info->name() + "/";
    files->removeDirectory(scratch);
    files->createDirectory(scratch);
    scene = cocos2d::Scene::create();
    director->runWithScene(scene);
    director->stepFrame(0.0f);
}

void WidgetsTest::TearDown()
{
    NSUI::NSActivity::dismiss();
    purgeServices();
    step(2);
    cocos2d::FileUtils::getInstance()->removeDirectory(scratch);
    cocos2d::Director::destroyInstance();
    cocos2d::FileUtils::destroyInstance();
}

void WidgetsTest::step(int n, float dt)
{
    for (int i = 0; i < n; ++i)
        director->stepFrame(dt);
}

bool WidgetsTest::stepUntil(const std::function<bool()>& pred, int maxFrames)
{
    for (int i = 0; i < maxFrames; ++i)
    {
        if (pred())
            return true;
        step();
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    return pred();
}

std::string WidgetsTest::writeImage(const std::string& name, int w, int h)
{
    std::vector<unsigned char> rgba(static_cast<size_t>(w) * h * 4, 200);
    auto* img = new cocos2d::Image();
    img->initWithRawData(rgba.data(), static_cast<ssize_t>(rgba.size()), w, h, 8);
    const std::string path = scratch + name;
    img->saveToFile(path, false);
    img->release();
    return path;
}

std::string WidgetsTest::writeJunk(const std::string& name)
{
    const std::string path = scratch + name;
    std::ofstream(path, std::ios::binary) << "\x89PNG\r\n\x1a\n this is not a picture";
    return path;
}
