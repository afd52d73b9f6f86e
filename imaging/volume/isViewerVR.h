// isViewerVR: the viewer of the volume-rendering and maximum-intensity views. A render window
// showing one volume actor through a perspective camera (60 degrees), turned with the track-ball
// interactor, answering the viewer commands of the containers and the viewer screen: window and
// level, colour tables, tools, standard directions, a rotating cine and maximise/park.
//
// Camera: patient space. setViewDirection puts the eye on the normal of an anatomical plane
// through the volume's centre, far enough for the whole volume to be in view; the zoom ratio is
// the reference eye distance over the current one. Every change that needs a new frame marks the
// scene camera changed, and the actor renders on the window's next redraw.
//
// Main thread only.
#pragma once

#include "isActorVR.h"
#include "isViewerVolume.h"

#include <string>

namespace isImageSDK {

class isViewerVR : public isViewerVolume {
public:
    static constexpr int kCineFrames = 36;
    static constexpr int kTicksPerFrame = 60;
    static constexpr float kCineStep = 0.08726646f;  // 5 degrees, radians

    static isViewerVR* create();

    // The render window's init, the cine at rest, kind 7 and linked.
    bool init() override;
    // The render window's clean-up (cine stopped), the actor released, then 9099 with this
    // viewer's id.
    void cleanup() override;

    // Makes the volume actor on first use and hands it the volume; a PET float volume gets the
    // inverted grey table; then the coronal view.
    void setImageData(isImageData* volume) override;
    // The file path of the volume's first slice; empty without one.
    std::string getFilePath() override;

    void setWindowLevel(float width, float centre) override;
    bool getWindowLevel(float& width, float& centre) override;
    void setColourTable(const unsigned char rgb[768]) override;
    void showVolumeRendering() override;
    void showMIP() override;
    void markCameraChanged() override { markChanged(); }
    bool isMaximised() override { return m_hidden != 0; }
    // 1, 2 axial (from the head, from the feet), 3, 4 coronal (front, back), 5, 6 sagittal
    // (right, left); anything else the coronal front view.
    void setViewDirection(int direction);
    // "noClut.plist", "bwInverse.plist" or a property list of 256-entry "Red", "Green", "Blue"
    // arrays; a table that cannot be read changes nothing.
    void applyClut(const std::string& name);

    // Projects the look-at point for its depth and unprojects the window point there.
    bool screenToWorld(const cocos2d::Vec2& window, cocos2d::Vec3& world) override;
    void onNotification(unsigned int id, NSUI::NSNotificationData* data, cocos2d::Ref* sender) override;
    void collectNotificationIds(std::vector<unsigned int>& ids) override;

    // The owner's notification context (the container's identifier).
    void setOwnerContext(void* context) { m_ownerContext = context; }
    isActorVR* getActor() const { return m_actor; }
    bool isCineRunning() const { return m_cineRunning != 0; }
    int getCineFrame() const { return m_cineFrame; }
    int getTicksPerFrame() const { return m_ticksPerFrame; }
    bool isActive() const { return m_active; }

    // One cine tick (the scheduler calls it every 5 ms while the cine runs).
    void cineTick();

protected:
    isViewerVR() = default;
    ~isViewerVR() override;

private:
    void markChanged();
    void toggleCine();
    void stopCine();
    std::string cineKey() const;
    void maximise(NSUI::NSNotificationData* data);
    // Installs the track-ball interactor unless one is there; sets the mode on it.
    bool setInteractorMode(int mode);

    isActorVR* m_actor = nullptr;
    void* m_ownerContext = nullptr;
    unsigned char m_hidden = 0;
    int m_cineFrames = kCineFrames;
    int m_cineFrame = 0;
    int m_cineRunning = 0;
    int m_tickCounter = 0;
    int m_ticksPerFrame = kTicksPerFrame;
    bool m_active = false;
};

// Installs the volume actor's and the volume viewer's factories (call once at start-up).
void registerVolumeRendering();

} // namespace isImageSDK
