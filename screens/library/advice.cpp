#include "advice.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "NSStringUtil.h"
#include "base/base64.h"
#include "cocostudio/CSLoader.h"
#include "ui/CocosGUI.h"

USING_NS_CC;

namespace {
const char* const kTitle = "Advice";
const char* const kScriptsFolder = "qv/tmp/res/js";
const char* const kPlaceholder = "JS_URL";
} // namespace

Scene* advice::createScene()
{
    auto* layout = dynamic_cast<ui::Widget*>(CSLoader::createNode("bkScene.csb"));
    if (!layout)
        return nullptr;
    Scene* scene = Scene::create();
    scene->enableAndroidReturnKey(true);
    const Size win = Director::getInstance()->getWinSize();
    layout->setContentSize(win);
    ui::Helper::doLayout(layout);
    if (auto* back = dynamic_cast<ui::Button*>(layout->getChildByNameDeep("goBack")))
        back->addClickEventListener([](Ref*) { Director::getInstance()->popScene(); });
    if (auto* title = dynamic_cast<ui::Text*>(layout->getChildByNameDeep("title")))
        title->setString(kTitle);
    scene->addChild(layout);
    if (advice* view = advice::create()) {
        view->setContentSize(Size(win.width, win.height - 60));
        view->setPosition(Vec2::ZERO);
        view->setAnchorPoint(Vec2::ZERO);
        layout->addChild(view);
    }
    return scene;
}

bool advice::init()
{
    if (!NSWebView::init())
        return false;
    updateApkURL = std::string(NSUI::kWebLocalHost) + "/updateapk.html";
    return true;
}

void advice::onEnterTransitionDidFinish()
{
    Node::onEnterTransitionDidFinish();
    firstEntry = false;
    const std::string folder = FileUtils::getInstance()->getWritablePath() + kScriptsFolder;
    std::string text = FileUtils::getInstance()->getStringFromFile(kPageFile);
    replaceAll(text, kPlaceholder, folder);
    pageText = text;
    setVisible(true);
}

bool advice::onURLIntercepted(std::string url)
{
    if (url.compare(0, updateApkURL.size(), updateApkURL) != 0)
        return false;
    // Past the action address and its separator comes the Base64 form of the package address.
    const size_t start = updateApkURL.size() + 1;
    const std::string address = url.size() > start ? safeBase64DecodeString(url.substr(start)) : std::string();
    NSUI::NSNotificationCenter::getInstance()->postStringNotification(this, NSUI::NOTIFY_ADVICE_UPDATE_APK, address,
                                                                      nullptr, false);
    retain();  // the parent may hold the last reference
    removeFromParent();
    autorelease();
    return false;
}
