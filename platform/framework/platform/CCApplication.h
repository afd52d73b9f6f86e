// Application: the program's delegate base and the application loop.
//
// The program derives its delegate from Application (one instance, reached through
// getInstance) and calls run(), which:
//   1. initGLContextAttrs();
//   2. applicationDidFinishLaunching() (creates the GL view and runs the first scene; false makes
//      run return 1);
//   3. loops (director frame, window input, pacing sleep) until the window closes or
//      Director::end;
//   4. ends the scene stack (Director::endScenes: every scene's onExit and cleanup), however the
//      loop stopped (window closed or Director::end);
//   5. shutdown(), while the framework is still alive;
//   6. purges the framework (director, pools, caches).
// The window back-end calls applicationDidEnterBackground / applicationWillEnterForeground on
// iconify and restore, and openDocument once per file dropped on the window.
#pragma once

#include <string>
#include <vector>

namespace cocos2d {

enum class LanguageType {
    ENGLISH = 0,
    CHINESE,
    FRENCH,
    ITALIAN,
    GERMAN,
    SPANISH,
    DUTCH,
    RUSSIAN,
    KOREAN,
    JAPANESE,
    HUNGARIAN,
    PORTUGUESE,
    ARABIC,
    NORWEGIAN,
    POLISH,
    TURKISH,
    UKRAINIAN,
    ROMANIAN,
    BULGARIAN,
};

class Application {
public:
    enum class Platform { OS_LINUX };

    Application();
    virtual ~Application();

    static Application* getInstance();

    int run();

    virtual void initGLContextAttrs() {}
    virtual bool applicationDidFinishLaunching() = 0;
    virtual void applicationDidEnterBackground() = 0;
    virtual void applicationWillEnterForeground() = 0;
    // Called by run() after the loop ends and the scenes have ended, before the framework is purged.
    virtual void shutdown() {}
    // A file dropped on the window.
    virtual void openDocument(const char* path) { (void)path; }

    // From the first non-empty of LC_ALL, LC_MESSAGES, LANG; anything unknown is English.
    // Any thread.
    LanguageType getCurrentLanguage();
    // The two-letter code of the current language ("en" when unknown).
    const char* getCurrentLanguageCode();
    Platform getTargetPlatform() const { return Platform::OS_LINUX; }

    // Opens the address in the user's browser with xdg-open (no shell). Headless: records the
    // address and returns true. No thread waits for xdg-open: the children that have ended are
    // reaped at the next call and when the application is destroyed.
    bool openURL(const std::string& url);
    // [hook] Addresses opened so far in headless mode.
    const std::vector<std::string>& getOpenedURLsForTest() const { return _openedURLs; }

    void setAnimationInterval(float interval);

private:
    // Reaps the xdg-open children that have ended, without waiting for the others.
    void reapChildren();

    std::vector<std::string> _openedURLs;
    std::vector<int> _children; // xdg-open processes not reaped yet
    std::string _languageCode;
};

} // namespace cocos2d
