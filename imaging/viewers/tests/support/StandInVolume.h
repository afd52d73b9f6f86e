// A stand-in for the volume viewer (registered as the volume layer would register its own), for
// the tests of the viewers and screens that hold one: it renders nothing and records the commands
// it receives.
#pragma once

#include "isViewerVolume.h"

#include "NSNotificationNumbers.h"

#include <algorithm>
#include <string>
#include <vector>

namespace qvtest {

// The volume viewer as the container sees it.
class StandInVolume : public isImageSDK::isViewerVolume {
public:
    static StandInVolume* create()
    {
        auto* v = new StandInVolume();
        if (!v->init()) {
            v->cocos2d::Ref::release();
            return nullptr;
        }
        v->autorelease();
        return v;
    }
    static void install()
    {
        isImageSDK::isViewerVolume::setFactory([]() -> isImageSDK::isViewerVolume* { return StandInVolume::create(); });
    }
    static void uninstall() { isImageSDK::isViewerVolume::setFactory(nullptr); }

    void onNotification(unsigned int id, NSUI::NSNotificationData* data, cocos2d::Ref* sender) override
    {
        commands.push_back(id);
        hadPayload.push_back(data != nullptr);
        senders.push_back(sender);
        // An activation from the owner only makes the viewer inactive; its own goes up.
        if (id == NOTIFY_VIEW_ACTIVATE && sender == m_owner)
            return;
        isImageSDK::isRenderWindow::onNotification(id, data, sender);
    }
    void setImageData(isImageSDK::isImageData* image) override { isImageSDK::isRenderWindow::setImageData(image); }
    void setWindowLevel(float w, float c) override
    {
        width = w;
        centre = c;
    }
    bool getWindowLevel(float& w, float& c) override
    {
        w = width;
        c = centre;
        return m_image != nullptr;
    }
    void setColourTable(const unsigned char rgb[768]) override { std::copy(rgb, rgb + 768, palette); }
    void showVolumeRendering() override { m_kind = isImageSDK::VIEW_VR; }
    void showMIP() override { m_kind = isImageSDK::VIEW_MIP; }
    std::string getFilePath() override
    {
        return m_image && !m_image->getSlices().empty() ? m_image->getSlices()[0]->filePath : std::string();
    }
    void markCameraChanged() override { cameraChanged = true; }
    void setMaximised(bool on) { m_maximized = on; }
    size_t count(unsigned int id) const { return std::count(commands.begin(), commands.end(), id); }

    std::vector<unsigned int> commands;
    std::vector<bool> hadPayload;
    std::vector<cocos2d::Ref*> senders;
    float width = 0.0f;
    float centre = 0.0f;
    unsigned char palette[768] = {};
    bool cameraChanged = false;
};

} // namespace qvtest
