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

namespace {

// A scene that journals its exit and cleanup into the application's call list.
class JournalScene : public Scene {
public:
    JournalScene(std::vector<std::string>* calls, std::string name) : _calls(calls), _name(std::move(name)) {}
    void onExit() override
    {
        _calls->push_back(_name + " exit");
        Scene::onExit();
    }
    void cleanup() override
    {
        _calls->push_back(_name + " cleanup");
        Scene::cleanup();
    }

private:
    std::vector<std::string>* _calls;
    std::string _name;
};

// Quit by closing the window, with one scene covered by another.
class ClosingApp : public TestApp {
public:
    bool applicationDidFinishLaunching() override
    {
        calls.push_back("launch");
        Director* director = Director::getInstance();
        director->setOpenGLView(GLViewHeadless::create(Size(320, 200)));
        director->setAnimationInterval(1.0 / 1000);
        auto* below = new JournalScene(&calls, "below");
        below->autorelease();
        director->runWithScene(below);
        below->schedule(
            [this](float) {
                if (++frames == 2) {
                    auto* top = new JournalScene(&calls, "top");
                    top->autorelease();
                    Director::getInstance()->pushScene(top);
                }
            },
            "push");
        director->getScheduler()->schedule(
            [below](float) {
                Scene* running = Director::getInstance()->getRunningScene();
                if (running && running != below) {
                    // What the window manager's close button does.
                    Director::getInstance()->getOpenGLView()->end();
                }
            },
            this, 0.0f, false, "close");
        return true;
    }
    void shutdown() override
    {
        Director::getInstance()->getScheduler()->unschedule("close", this);
        TestApp::shutdown();
    }
};

} // namespace

// Closing the window ends the scenes (the running one first, then the covered one) before the
// delegate's shutdown releases the services their onExit and cleanup use.
TEST(ApplicationTest, ClosingTheWindowEndsTheScenesBeforeTheShutdown)
{
    ClosingApp app;
    EXPECT_EQ(app.run(), 0);
    EXPECT_EQ(app.calls, (std::vector<std::string>{"attrs", "launch", "below exit", "top exit", "top cleanup",
                                                   "below cleanup", "shutdown"}));
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
    // Units per inch: the dots over the framebuffer pixels of a design unit.
    EXPECT_FLOAT_EQ(Device::getUnitsPerInch(), 96.0f);
    Device::setDPIForTest(192);
    Director::getInstance()->getOpenGLView()->setDesignResolutionSize(5, 5, ResolutionPolicy::SHOW_ALL);
    EXPECT_FLOAT_EQ(Device::getUnitsPerInch(), 96.0f);
    Device::setDPIForTest(0);

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

// The window's size changes: a design resolution set up as the frame's follows it, any other
// keeps its policy over the new frame; the change is announced once.
TEST(GLViewTest, ResizedFrameKeepsOnePointPerUnitOrThePolicy)
{
    Director* director = Director::getInstance();
    GLView* view = GLViewHeadless::create(Size(1600, 900));
    director->setOpenGLView(view);
    int events = 0;
    director->getEventDispatcher()->addCustomEventListener(GLView::EVENT_WINDOW_RESIZED, [&](EventCustom*) { ++events; });
    view->setDesignResolutionSize(1600, 900, ResolutionPolicy::FIXED_HEIGHT);
    Scene* scene = Scene::create();
    director->runWithScene(scene);
    director->stepFrame(0.0f);
    view->resizeFrame(Size(1920, 1040));
    EXPECT_EQ(view->getFrameSize(), Size(1920, 1040));
    EXPECT_EQ(director->getWinSize(), Size(1920, 1040));
    // The scene covers the new window and its camera looks at the new centre.
    EXPECT_EQ(scene->getContentSize(), Size(1920, 1040));
    EXPECT_FLOAT_EQ(scene->getDefaultCamera()->getPositionX(), 960.0f);
    EXPECT_FLOAT_EQ(scene->getDefaultCamera()->getPositionY(), 520.0f);
    EXPECT_FLOAT_EQ(view->getScaleY(), 1.0f);
    EXPECT_EQ(view->getViewPortRect(), Rect(0, 0, 1920, 1040));
    EXPECT_EQ(events, 1);
    view->resizeFrame(Size(1920, 1040)); // no change, no event
    EXPECT_EQ(events, 1);

    view->setDesignResolutionSize(960, 640, ResolutionPolicy::SHOW_ALL);
    view->resizeFrame(Size(1000, 1000));
    EXPECT_EQ(director->getWinSize(), Size(960, 640));
    EXPECT_FLOAT_EQ(view->getScaleX(), 1000.0f / 960);
    EXPECT_EQ(events, 2);
    // Input follows the new mapping: the window's top-left corner of the letterboxed area.
    const Rect vp = view->getViewPortRect();
    EXPECT_EQ(InputTranslator::windowToDesign(vp.origin.x, vp.origin.y), Vec2(0, 640));
    Director::destroyInstance();
}

// Screen coordinates per point: the content scale where the window system leaves it to the
// program (framebuffer as large as the window), nothing where it scales itself.
TEST(GLViewTest, ScreenCoordinateScaleFromTheContentScale)
{
    EXPECT_FLOAT_EQ(GLViewImpl::screenCoordinateScale(1.0f, 1280, 1280), 1.0f);
    EXPECT_FLOAT_EQ(GLViewImpl::screenCoordinateScale(2.0f, 2560, 2560), 2.0f); // X11 on a HiDPI screen
    EXPECT_FLOAT_EQ(GLViewImpl::screenCoordinateScale(1.5f, 1920, 1920), 1.5f);
    EXPECT_FLOAT_EQ(GLViewImpl::screenCoordinateScale(2.0f, 2560, 1280), 1.0f); // the system scales
    EXPECT_FLOAT_EQ(GLViewImpl::screenCoordinateScale(0.0f, 0, 0), 1.0f);
}
