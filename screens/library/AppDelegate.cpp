#include "AppDelegate.h"

#include "AppConfig.h"
#include "NSDataManager.h"
#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "NSRunableThread.h"
#include "audio/SimpleAudioEngine.h"
#include "cocostudio/CocoStudio.h"
#include "dcmLib.h"
#include "NSResponseWindow.h"
#include "dcmSend.h"
#include "favoriteList.h"
#include "favoriteView.h"
#include "isImagingShutdown.h"
#include "isViewerVR.h"
#include "adsApplication.h"
#include "dataService.h"
#include "httpCenter.h"
#include "patientList.h"
#include "purgeServices.h"
#include "sniffer.h"
#include "statApplication.h"

USING_NS_CC;

namespace {

// The configuration's one owning reference, taken at launch and dropped at shutdown.
AppConfig* g_config = nullptr;
bool g_endsDicomLibrary = true;
// Keeps the configuration's sizes in step with the window (removed at shutdown).
EventListenerCustom* g_resizeListener = nullptr;

const char* const kClickSound = "res/dingdong.wav";
const char* const kChimeSound = "res/waterfall.wav";

} // namespace

AppDelegate::AppDelegate() = default;

AppDelegate::~AppDelegate() = default;

void AppDelegate::setEndsDicomLibrary(bool end)
{
    g_endsDicomLibrary = end;
}

Rect AppDelegate::firstWindowRect(const Size& display, float border)
{
    return Rect(border, 40.0f, display.width - 2.0f * border, display.height - 100.0f);
}

const std::vector<std::string>& AppDelegate::searchPaths()
{
    static const std::vector<std::string> paths = {"res/pad", "imageSDK", "dcmtk", "UIRes", "test"};
    return paths;
}

void AppDelegate::initGLContextAttrs()
{
    GLContextAttrs attrs = {8, 8, 8, 8, 24, 8};
    GLView::setGLContextAttrs(attrs);
}

bool AppDelegate::applicationDidFinishLaunching()
{
    AppConfig* config = AppConfig::getInstance();
    if (g_config != config) {
        CC_SAFE_RELEASE(g_config);
        g_config = config;
        g_config->retain();
    }
    config->loadLanguage();

    Director* director = Director::getInstance();
    if (!director->getOpenGLView()) {
        Rect rect = firstWindowRect(GLViewImpl::getPrimaryMonitorSize(), float(GLViewImpl::getFrameBorderWidth()));
        if (rect.size.width < 320 || rect.size.height < 240)
            rect.size = Size(1280, 800);  // no usable video mode reported
        GLViewImpl* view = GLViewImpl::createWithRect(config->getText("appName"), rect, 1.0f);
        if (!view) {
            // Without a window there is nothing to run; the loop is not entered.
            log("AppDelegate: no window could be opened (no display?)");
            return false;
        }
        director->setOpenGLView(view);
    }
    GLView* view = director->getOpenGLView();

    const Size frame = view->getFrameSize();
    AppConfig::getFrameSize() = frame;
    FileUtils::getInstance()->setSearchPaths(searchPaths());

    view->setDesignResolutionSize(frame.width, frame.height, ResolutionPolicy::FIXED_HEIGHT);
    director->setContentScaleFactor(1.0f);
    AppConfig::setWinSize(director->getWinSize());
    // The window manager may resize the window; the sizes the screens read follow it before any
    // screen lays itself out again.
    if (!g_resizeListener) {
        g_resizeListener = EventListenerCustom::create(GLView::EVENT_WINDOW_RESIZED, [](EventCustom*) {
            Director* d = Director::getInstance();
            AppConfig::getFrameSize() = d->getOpenGLView()->getFrameSize();
            AppConfig::setWinSize(d->getWinSize());
        });
        director->getEventDispatcher()->addEventListenerWithFixedPriority(g_resizeListener, -1);
    }

    // The DICOM library's callbacks are the network service's, in the library's order.
    redIRI::setLogCallback(dataService::onSdkLog);
    redIRI::setMsgCallback(dataService::onSdkMessage);
    redIRI::setgb2utf8Callback(dataService::onSdkGb2Utf8);
    redIRI::setReadFileCallback(dataService::onSdkReadFile);
    redIRI::setSavePngCallback(dataService::onSdkSavePng);
    favoriteList::registerWithViewer();
    // Volume rendering views (the 3D cells of the view modes) are made through the viewers' factory.
    isImageSDK::registerVolumeRendering();
    // The favourite viewer sends its file through the send screen.
    favoriteView::setSendWindowFactory(
        [](const std::string& path, const std::string& kind) -> Node* { return dcmSend::makeWindow(path, kind); });

    NSUI::NSDataManager::getInstance()->setEnabled(true);
    httpCenter::getInstance()->enable();
    statApplication::getInstance()->start();

    director->setDisplayStats(false);
    director->setAnimationInterval(1.0f / 60);
    director->runWithScene(patientList::createScene());

    ADS::adsApplication* ads = ADS::adsApplication::getInstance();
    ads->reloadConfig();
    ads->checkNewVersion();
    NSUI::sniffer::getInstance()->start();
    // Made here at the latest (the patient list usually made it first): the library database
    // with its storage server comes with it.
    dataService::getInstance()->echoNodes(2);
    statApplication::getInstance()->addStat(0, "");

    CocosDenshion::SimpleAudioEngine::getInstance()->preloadEffect(kClickSound);
    CocosDenshion::SimpleAudioEngine::getInstance()->preloadEffect(kChimeSound);
    return true;
}

void AppDelegate::applicationDidEnterBackground()
{
    Director::getInstance()->stopAnimation();
    statApplication::getInstance()->addStat(2, "");
}

void AppDelegate::applicationWillEnterForeground()
{
    Director::getInstance()->startAnimation();
    NSUI::sniffer::getInstance()->start();
    ADS::adsApplication* ads = ADS::adsApplication::getInstance();
    ads->renewUpdateService();
    ads->reloadConfig();
    ads->checkNewVersion();
    dataService::getInstance()->echoNodes(1);
    statApplication::getInstance()->addStat(1, "");
}

void AppDelegate::openDocument(const char* path)
{
    const std::string text = path ? path : "";
    NSUI::NSNotificationCenter::getInstance()->postStringNotification(nullptr, NSUI::NOTIFY_OPEN_FILE, text, nullptr,
                                                                      false);
}

void AppDelegate::shutdown()
{
    if (g_resizeListener) {
        Director::getInstance()->getEventDispatcher()->removeEventListener(g_resizeListener);
        g_resizeListener = nullptr;
    }
    // Every thread the program started ends here, before main returns and the static objects go:
    // what is left for exit is only the exit handler of NSRunableThread, for processes that end
    // without this shutdown. Peer discovery first: its receive loop and a running sweep are joined
    // before it is deleted.
    NSUI::sniffer::shutdown();
    // The screens' workers (deletes, unpacking, thumbnails, favourites being written, series
    // loading, overlay texts) use the library, the DICOM library and the notification centre:
    // every one of them is a counted run and has ended before those go. A favourite's notice
    // posted meanwhile is still queued; the library database writes its row when it stops.
    NSUI::NSRunableThread::waitForAll();
    // The sound worker mixing the click and chime ends here (joined), not under exit.
    CocosDenshion::SimpleAudioEngine::end();
    isImageSDK::shutdownImageSDK();
    // The network service ends its transfers and stops the library database (images already
    // received are indexed first) with its storage server.
    dataService::destroyInstance();
    ADS::adsApplication::destroyInstance();
    if (g_endsDicomLibrary)
        redIRI::rediri_destroy();
    cocostudio::destroyCocosStudio();
    if (g_config) {
        g_config->release();
        g_config = nullptr;
    }
    statApplication::destroyInstance();
    purgeServices();
}
