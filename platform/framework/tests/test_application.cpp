// The application loop, the language from the locale, the numeric locale, and the device facts.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cocos2d.h"
#include "support/HeadlessDirector.h"

USING_NS_CC;

namespace {

class TestApp : public Application {
public:
    bool launchResult = true;
    int frames = 0;
    bool shutdownSawDirector = false;
    std::vector<std::string> calls;

    bool applicationDidFinishLaunching() override
    {
        calls.push_back("launch");
        if (!launchResult) {
            return false;
        }
        Director* director = Director::getInstance();
        director->setOpenGLView(GLViewHeadless::create(Size(320, 200)));
        director->setAnimationInterval(1.0 / 1000);
        Scene* scene = Scene::create();
        scene->schedule(
            [this](float) {
                if (++frames == 3) {
                    Director::getInstance()->end();
                }
            },
            "count");
        director->runWithScene(scene);
        return true;
    }
    void applicationDidEnterBackground() override {}
    void applicationWillEnterForeground() override {}
    void initGLContextAttrs() override { calls.push_back("attrs"); }
    void shutdown() override
    {
        calls.push_back("shutdown");
        shutdownSawDirector = Director::getInstance()->getOpenGLView() != nullptr;
    }
};

// Sets the three locale variables for one test and restores them.
class LocaleEnv {
public:
    LocaleEnv()
    {
        for (const char* v : kVars) {
            const char* value = std::getenv(v);
            _saved.emplace_back(value ? value : "", value != nullptr);
        }
    }
    ~LocaleEnv()
    {
        for (size_t i = 0; i < 3; ++i) {
            if (_saved[i].second) {
                setenv(kVars[i], _saved[i].first.c_str(), 1);
            } else {
                unsetenv(kVars[i]);
            }
        }
    }
    void set(const char* all, const char* messages, const char* lang)
    {
        const char* values[] = {all, messages, lang};
        for (size_t i = 0; i < 3; ++i) {
            if (values[i]) {
                setenv(kVars[i], values[i], 1);
            } else {
                unsetenv(kVars[i]);
            }
        }
    }

private:
    static constexpr const char* kVars[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::vector<std::pair<std::string, bool>> _saved;
};

} // namespace

TEST(ApplicationTest, RunLaunchesLoopsAndShutsDownBeforeThePurge)
{
    TestApp app;
    EXPECT_EQ(Application::getInstance(), &app);
    EXPECT_EQ(app.run(), 0);
    EXPECT_EQ(app.frames, 3);
    EXPECT_EQ(app.calls, (std::vector<std::string>{"attrs", "launch", "shutdown"}));
    EXPECT_TRUE(app.shutdownSawDirector);
    EXPECT_EQ(Director::getInstance()->getOpenGLView(), nullptr); // purged afterwards
    Director::destroyInstance();

    TestApp failing;
    failing.launchResult = false;
    EXPECT_EQ(failing.run(), 1);
    Director::destroyInstance();
}

TEST(ApplicationTest, LanguageFromTheLocale)
{
    TestApp app;
    LocaleEnv env;
    struct Case {
        const char* all;
        const char* messages;
        const char* lang;
        LanguageType expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, "ja_JP.UTF-8", LanguageType::JAPANESE},
        {"", "", "de_DE@euro", LanguageType::GERMAN},
        {nullptr, "fr_FR.UTF-8", "de_DE.UTF-8", LanguageType::FRENCH},
        {"nb_NO.UTF-8", "fr_FR", "de_DE", LanguageType::NORWEGIAN},
        {"nn", nullptr, nullptr, LanguageType::NORWEGIAN},
        {"pt_BR.UTF-8", nullptr, nullptr, LanguageType::PORTUGUESE},
        {"zh_CN.GB2312", nullptr, nullptr, LanguageType::CHINESE},
        {"bg_BG", nullptr, nullptr, LanguageType::BULGARIAN},
        {"C", nullptr, "ru_RU", LanguageType::ENGLISH},
        {"POSIX", nullptr, nullptr, LanguageType::ENGLISH},
        {"xx_YY", nullptr, nullptr, LanguageType::ENGLISH},
        {nullptr, nullptr, nullptr, LanguageType::ENGLISH},
    };
    for (const Case& c : cases) {
        env.set(c.all, c.messages, c.lang);
        EXPECT_EQ(app.getCurrentLanguage(), c.expected) << (c.all ? c.all : "-") << " " << (c.lang ? c.lang : "-");
    }
    env.set(nullptr, nullptr, "uk_UA.UTF-8");
    EXPECT_EQ(static_cast<int>(app.getCurrentLanguage()), 16);
    EXPECT_STREQ(app.getCurrentLanguageCode(), "uk");
    env.set(nullptr, nullptr, "xx");
    EXPECT_STREQ(app.getCurrentLanguageCode(), "en");
}

TEST(ApplicationTest, NumbersKeepTheCLocale)
{
    LocaleEnv env;
    env.set("de_DE.UTF-8", nullptr, nullptr);
    TestApp app;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.1f", 1.5);
    EXPECT_STREQ(buf, "1.5");
    EXPECT_DOUBLE_EQ(std::atof("1.5"), 1.5);
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    EXPECT_EQ(Value(0.5).asString(), "0.5000000");
}

TEST(ApplicationTest, OpenUrlHeadlessIsRecorded)
{
    TestApp app;
    Director::getInstance()->setOpenGLView(GLViewHeadless::create(Size(10, 10)));
    EXPECT_TRUE(app.openURL("https://example.invalid/page?a=1"));
    EXPECT_FALSE(app.openURL("--help")); // never handed to xdg-open as an option
    EXPECT_FALSE(app.openURL(""));
    EXPECT_EQ(app.getOpenedURLsForTest(), (std::vector<std::string>{"https://example.invalid/page?a=1"}));
    Director::destroyInstance();
}

TEST(DeviceTest, HeadlessFacts)
{
    Director::getInstance()->setOpenGLView(GLViewHeadless::create(Size(10, 10)));
    EXPECT_EQ(Device::getDPI(), 96);
    Device::setDPIForTest(300);
    EXPECT_EQ(Device::getDPI(), 300);
    Device::setDPIForTest(0);
    EXPECT_EQ(Device::getDPI(), 96);

    const std::string info = Device::getDeviceInfo();
    EXPECT_EQ(info.rfind("Linux ", 0), 0u);
    EXPECT_EQ(Device::getDeviceInfo(), info);

    EXPECT_EQ(Configuration::getInstance()->getMaxTextureSize(), 8192);
    EXPECT_FALSE(Configuration::getInstance()->supportsShareableVAO());
    Configuration::getInstance()->setMaxTextureSizeForTest(4096);
    EXPECT_EQ(Configuration::getInstance()->getMaxTextureSize(), 4096);
    Configuration::destroyInstance();
    Director::destroyInstance();
}

TEST(GLViewTest, FixedHeightDesignResolution)
{
    GLView* view = GLViewHeadless::create(Size(1600, 900));
    view->setDesignResolutionSize(1600, 900, ResolutionPolicy::FIXED_HEIGHT);
    EXPECT_EQ(view->getDesignResolutionSize(), Size(1600, 900));
    EXPECT_FLOAT_EQ(view->getScaleX(), 1.0f);
    view->setDesignResolutionSize(960, 640, ResolutionPolicy::FIXED_HEIGHT);
    EXPECT_EQ(view->getDesignResolutionSize(), Size(std::ceil(1600 / (900.0f / 640)), 640));
    EXPECT_EQ(view->getVisibleSize(), view->getDesignResolutionSize());
    EXPECT_EQ(view->getVisibleOrigin(), Vec2::ZERO);
    PoolManager::getInstance()->drainCurrentThread();
}
