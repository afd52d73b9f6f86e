// Support of the tests of the grid browser, the multi-view container and the application
// manager: phantom volumes and loose pictures as images, and a stand-in volume viewer (registered
// as the volume layer would register its own) that records the commands it receives.
#pragma once

#include "../../../display/tests/support/PhantomVolume.h"
#include "support/ViewerRig.h"

#include "isViewerVolume.h"

#include <string>
#include <vector>

namespace qvtest {

// The geometry of an axial CT phantom of columns x rows x slices voxels (1 mm in-plane, 2 mm
// between slices). Images hold their slices in the display frame (x towards the patient's left,
// y superior, z anterior), where the generator's coronal orientation (rows along x, columns
// along -z) lays the slices in the axial plane.
inline qvgen::PhantomSpec axialPhantom(int columns = 32, int rows = 32, int slices = 20)
{
    qvgen::PhantomSpec spec;
    spec.columns = columns;
    spec.rows = rows;
    spec.slices = slices;
    qvgen::orientationOf(qvgen::PhantomOrientation::Coronal, spec.orientation);
    return spec;
}

inline isImageSDK::isImageData* phantomCT(int columns = 32, int rows = 32, int slices = 20)
{
    const qvgen::Phantom phantom(axialPhantom(columns, rows, slices));
    isImageSDK::isImageData* image = phantomVolume(phantom, isImageSDK::PIXEL_I16);
    for (isImageSDK::isSliceInfo* s : image->getSlices())
        s->modality = isImageSDK::MODALITY_CT;
    image->setFileNames("phantom");
    return image;
}

// Two single pictures of different sizes: not a volume.
inline isImageSDK::isImageData* loosePictures()
{
    using namespace isImageSDK;
    isImageData* image = isImageData::create();
    const float spacing[2] = {1, 1};
    for (int size : {20, 30}) {
        const int dims[2] = {size, size};
        isSliceInfo* s = image->addSlice(dims, 1, spacing, PIXEL_U8, 0, 0, cocos2d::Mat4::IDENTITY);
        std::fill(s->pixels, s->pixels + size * size, 0);
        s->modality = MODALITY_DX;
        s->representation = 1;
    }
    image->setFileNames("pictures");
    return image;
}

// The volume viewer as the container sees it; renders nothing.
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
