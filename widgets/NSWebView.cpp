#include "NSWebView.h"

namespace NSUI
{

const char* const kWebLocalHost = "http://127.0.0.1";

namespace
{
const char* const kRetryPath = "/retry.html";
const char* const kBackToMainPath = "/backToMain.html";
const char* const kRemovePath = "/remove.html";
const char* const kUpdateApkPath = "/updateapk.html";
const char* const kOpenUrlPath = "/openurl.html";
} // namespace

NSWebView* NSWebView::create()
{
    auto* view = new (std::nothrow) NSWebView();
    if (view != nullptr && view->init())
    {
        view->autorelease();
        return view;
    }
    delete view;
    return nullptr;
}

bool NSWebView::init()
{
    if (!cocos2d::Node::init())
        return false;
    setPosition(cocos2d::Vec2::ZERO);
    setAnchorPoint(cocos2d::Vec2::ZERO);
    setContentSize(cocos2d::Director::getInstance()->getWinSize());
    setLocalZOrder(kZOrder);
    firstEntry = true;
    currentURL.clear();
    const std::string host = kWebLocalHost;
    retryURL = host + kRetryPath;
    backToMainURL = host + kBackToMainPath;
    removeURL = host + kRemovePath;
    updateApkURL = host + kUpdateApkPath;
    openURLURL = host + kOpenUrlPath;
    return true;
}

void NSWebView::cleanup()
{
    removeAllChildren();
    cocos2d::Node::cleanup();
}

void NSWebView::onEnterTransitionDidFinish()
{
    cocos2d::Node::onEnterTransitionDidFinish();
    firstEntry = false;
}

void NSWebView::onExitTransitionDidStart() {}

void NSWebView::loadURL(std::string) {}

bool NSWebView::isWebVisible()
{
    return isVisible();
}

bool NSWebView::onURLIntercepted(std::string)
{
    return false;
}

} // namespace NSUI
