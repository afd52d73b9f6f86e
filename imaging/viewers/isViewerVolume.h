// isViewerVolume: what the viewers of this layer need of the volume viewer (volume rendering and
// maximum-intensity views), which lives in the volume layer above. The multi-view container makes
// one through the factory that the volume layer registers at start-up, so nothing here links
// upward; without a registered factory no volume view can be made and the container shows 2D
// views only.
//
// A volume viewer is a render window (commands reach it through its onNotification, with the
// container as sender) and a viewer (kind 5 or 6, its image, its linked flag). Main thread only.
#pragma once

#include "isRenderWindow.h"
#include "isViewer.h"

#include <functional>
#include <string>

namespace isImageSDK {

class isViewerVolume : public isRenderWindow, public isViewer {
public:
    using Factory = std::function<isViewerVolume*()>;

    // Installs (or, with an empty function, removes) the maker of volume viewers. The factory
    // returns an autoreleased, initialised viewer, or null.
    static void setFactory(Factory factory);
    static bool hasFactory();
    // A new autoreleased volume viewer from the registered factory; null without one.
    static isViewerVolume* create();

    // The window in stored values, applied to the renderer and drawn at the next frame.
    virtual void setWindowLevel(float width, float centre) = 0;
    // The window the renderer uses; false without an image.
    virtual bool getWindowLevel(float& width, float& centre) = 0;
    // 256 RGB byte triples (index 0 first) as the renderer's colour table.
    virtual void setColourTable(const unsigned char rgb[768]) = 0;
    // Kind 5 (composite rendering) or 6 (maximum intensity), with the track-ball interactor.
    virtual void showVolumeRendering() = 0;
    virtual void showMIP() = 0;
    // The file of the volume's first slice, "" without a volume.
    virtual std::string getFilePath() = 0;
    // The camera counts as changed, so the next frame renders again.
    virtual void markCameraChanged() {}
    // Maximised or parked off screen because another window is maximised.
    virtual bool isMaximised() { return isMaximized(); }

    // isViewer (and the render window's image): a new volume for the renderer.
    void setImageData(isImageData* image) override = 0;
    void retain() override { cocos2d::Ref::retain(); }
    void release() override { cocos2d::Ref::release(); }
    isImageData* getImageData() override { return m_image; }
    void setVisible(bool shown) override { isRenderWindow::setVisible(shown); }

protected:
    isViewerVolume() = default;
};

} // namespace isImageSDK
