#include "shareTo.h"

#include "AppConfig.h"
#include "NSActivity.h"
#include "NSFileUtil.h"
#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "NSStringUtil.h"
#include "NSTimeUtil.h"
#include "NSZip.h"
#include "UIControlBase.h"
#include "base/base64.h"
#include "libraryWorkers.h"
#include "messageView.h"
#include "platformMail.h"
#include "screenHelpers.h"

USING_NS_CC;

shareTo* shareTo::create()
{
    auto* panel = new shareTo();
    if (panel->init()) {
        panel->autorelease();
        return panel;
    }
    delete panel;
    return nullptr;
}

shareTo::~shareTo()
{
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
}

bool shareTo::init()
{
    if (!Node::init())
        return false;
    sourcePath.clear();
    zipPath.clear();
    auto* centre = NSUI::NSNotificationCenter::getInstance();
    auto callback = [this](Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
        onNotification(sender, id, data);
    };
    centre->addObserver(this, this, callback, NSUI::NOTIFY_SHARE_ZIP_DONE);
    centre->addObserver(this, nullptr, callback, NSUI::NOTIFY_UI_ACTIVITY_CANCEL);
    return true;
}

int shareTo::zipJob(const std::string& archive, const std::string& source)
{
    const bool packed = zipFiles(archive, source, "");
    return packed && FileUtils::getInstance()->getFileSize(archive) >= 1 ? 0 : -1;
}

void shareTo::start(std::string path, std::string shareName)
{
    sourcePath = path;
    if (path.empty())
        return;
    name = shareName;
    if (zipPath.empty()) {
        FileUtils* files = FileUtils::getInstance();
        const std::string folder = files->getWritablePath() + "qv/tmp/zip/";
        files->removeDirectory(folder);
        files->createDirectory(folder);
        zipPath = folder + getTimestampString() + ".zip";
    }
    showBusyOverlay(this, "compressData");

    const std::string archive = zipPath;
    void* context = this;  // only compared by the centre, never followed
    startLibraryWorker([archive, path, context] {
        const int result = zipJob(archive, path);
        NSUI::NSNotificationCenter::getInstance()->postIntNotification(nullptr, NSUI::NOTIFY_SHARE_ZIP_DONE, result,
                                                                       context, false);
    });
}

void shareTo::showToast(const std::string& text, float seconds)
{
    if (auto* screen = dynamic_cast<NSUI::UIControlBase*>(getParent()))
        screen->showMessage(text, seconds);
    else
        NSUI::messageView::showMessage(text, seconds);
}

void shareTo::onNotification(Ref*, unsigned int id, NSUI::NSNotificationData* data)
{
    if (id == NSUI::NOTIFY_UI_ACTIVITY_CANCEL) {
        zipCancelFlag = 1;
        return;
    }
    if (id != NSUI::NOTIFY_SHARE_ZIP_DONE)
        return;
    NSUI::NSActivity::hide();
    AppConfig* config = AppConfig::getInstance();
    if (!data || data->intValue >= 0) {
        const std::string subject = config->getText("shareToSubject") + name;
        const std::string body = safeBase64DecodeString(config->getText("shareToBody"));
        if (sendPlatformMail(subject, body, "") == kNoMailAccount)
            showToast(config->getText("configMail"), 1.5f);
        else
            showToast("The archive was saved: " + zipPath, 3.0f);
    } else {
        showToast(config->getText("compressFail"), 1.5f);
    }
    retain();  // the screen may hold the last reference
    removeFromParent();
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    release();
}
