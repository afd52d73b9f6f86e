#include "platform/CCApplication.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>

#include "base/CCAutoreleasePool.h"
#include "base/CCDirector.h"
#include "base/ccMacros.h"
#include "platform/CCFileUtils.h"
#include "platform/CCGLView.h"

extern char** environ;

namespace cocos2d {

namespace {

Application* g_application = nullptr;

struct LanguageCode {
    const char* code;
    LanguageType type;
};

const LanguageCode kLanguages[] = {
    {"en", LanguageType::ENGLISH},    {"zh", LanguageType::CHINESE},    {"fr", LanguageType::FRENCH},
    {"it", LanguageType::ITALIAN},    {"de", LanguageType::GERMAN},     {"es", LanguageType::SPANISH},
    {"nl", LanguageType::DUTCH},      {"ru", LanguageType::RUSSIAN},    {"ko", LanguageType::KOREAN},
    {"ja", LanguageType::JAPANESE},   {"hu", LanguageType::HUNGARIAN},  {"pt", LanguageType::PORTUGUESE},
    {"ar", LanguageType::ARABIC},     {"nb", LanguageType::NORWEGIAN},  {"nn", LanguageType::NORWEGIAN},
    {"no", LanguageType::NORWEGIAN},  {"pl", LanguageType::POLISH},     {"tr", LanguageType::TURKISH},
    {"uk", LanguageType::UKRAINIAN},  {"ro", LanguageType::ROMANIAN},   {"bg", LanguageType::BULGARIAN},
};

// The language part of a locale name such as "de_DE.UTF-8@euro", lower-cased.
std::string localeLanguage()
{
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(var);
        if (value && value[0]) {
            std::string code;
            for (const char* p = value; *p && *p != '_' && *p != '.' && *p != '@' && *p != '-'; ++p) {
                code += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
            }
            return code;
        }
    }
    return std::string();
}

} // namespace

Application::Application()
{
    // Character classification follows the user's locale; numbers keep the C locale for good,
    // because every text format of the program ("%.6f", atof) uses '.' as decimal point.
    std::setlocale(LC_CTYPE, "");
    std::setlocale(LC_NUMERIC, "C");
    g_application = this;
}

Application::~Application()
{
    reapChildren();
    if (g_application == this) {
        g_application = nullptr;
    }
}

Application* Application::getInstance()
{
    return g_application;
}

int Application::run()
{
    initGLContextAttrs();
    if (!applicationDidFinishLaunching()) {
        return 1;
    }
    Director* director = Director::getInstance();
    GLView* view = director->getOpenGLView();
    if (view) {
        view->retain();
        using Clock = std::chrono::steady_clock;
        while (!director->isEnded() && !view->windowShouldClose()) {
            const auto frameStart = Clock::now();
            director->mainLoop();
            // In the background the loop keeps timers, queued functions and pools going at 10 Hz.
            const double interval = director->isAnimationStopped() ? 0.1 : director->getAnimationInterval();
            const auto nextTick =
                frameStart + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(interval));
            // Until the next tick the loop sleeps in the window system's wait: input is dispatched
            // the moment it arrives, and a still window costs nothing in between.
            view->pollEvents();
            for (auto now = Clock::now(); now < nextTick && !view->windowShouldClose(); now = Clock::now()) {
                view->waitEvents(std::chrono::duration<double>(nextTick - now).count());
            }
        }
    } else {
        log("Application::run: no GL view was created");
    }
    // The scenes end (onExit, cleanup) while the services they use are still there; only then
    // does the delegate release those services.
    director->endScenes();
    shutdown();
    Director::destroyInstance();
    if (view) {
        view->release();
    }
    PoolManager::getInstance()->drainCurrentThread();
    return 0;
}

LanguageType Application::getCurrentLanguage()
{
    const std::string code = localeLanguage();
    for (const LanguageCode& l : kLanguages) {
        if (code == l.code) {
            return l.type;
        }
    }
    return LanguageType::ENGLISH;
}

const char* Application::getCurrentLanguageCode()
{
    const std::string code = localeLanguage();
    _languageCode = "en";
    for (const LanguageCode& l : kLanguages) {
        if (code == l.code) {
            _languageCode = code;
        }
    }
    return _languageCode.c_str();
}

bool Application::openURL(const std::string& url)
{
    // A leading '-' would reach xdg-open as an option.
    if (url.empty() || url[0] == '-') {
        return false;
    }
    if (Director::getInstance()->isHeadless()) {
        _openedURLs.push_back(url);
        return true;
    }
    reapChildren();
    pid_t pid = 0;
    std::string program = "xdg-open";
    char* argv[] = {program.data(), const_cast<char*>(url.c_str()), nullptr};
    if (::posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0) {
        log("openURL: cannot start xdg-open");
        return false;
    }
    _children.push_back(pid);
    return true;
}

void Application::reapChildren()
{
    _children.erase(std::remove_if(_children.begin(), _children.end(),
                                   [](pid_t pid) {
                                       int status = 0;
                                       return ::waitpid(pid, &status, WNOHANG) != 0;
                                   }),
                    _children.end());
}

void Application::setAnimationInterval(float interval)
{
    Director::getInstance()->setAnimationInterval(interval);
}

} // namespace cocos2d
