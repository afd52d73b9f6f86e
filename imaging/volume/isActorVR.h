// isActorVR: a ray-cast volume inside a render window, shown as a sprite whose texture is the
// latest rendered frame.
//
// It owns two engines and their threads: the interactive engine (nearest sampling, resolution
// adapted to a 30 ms budget) renders every camera change on the real-time thread, keeping only
// the newest request; when that thread falls idle, the best-quality engine (trilinear, full
// size) renders the same view on the best-quality thread, and any later camera change discards
// that frame.
//
// Threads: everything here runs on the main thread except the two render threads, which only
// see the snapshot each request carries (camera, window, colours, mode, volume). The sprite's
// texture is replaced under the actor's mutex. The window's camera is read (and its changed flag
// cleared) on the main thread when the window reports a redraw (9091).
//
// Camera: the window's camera is in patient space; the engines carry it into the volume's own
// frame through the inverse of the volume matrix. The sprite sits at the window's bottom-left
// corner, scaled so that the frame covers the window's viewport.
#pragma once

#include "NSThreadSafeDestroy.h"
#include "isActorObject.h"
#include "isImageData.h"
#include "isVRThread.h"
#include "vrRayCaster.h"

#include "cocos2d.h"

#include <memory>
#include <mutex>

namespace isImageSDK {

class isActorVR : public isActorObject, public NSUI::NSThreadSafeDestroy {
public:
    static isActorVR* create();
    isActorVR();
    ~isActorVR() override;

    // Sprite (hidden), engine settings, both threads; true.
    bool init() override;
    // Stops the real-time and then the best-quality thread, then the base clear; releases the
    // sprite and the volume.
    void clear() override;
    // The base behaviour, then follows the window's redraws (9091).
    void attachRenderWindow(isRenderWindowHost* window) override;

    // Takes a volume that has slices and a voxel block (anything else is ignored), with the
    // window of its first slice; a PET float volume switches to maximum intensity.
    void setVolume(isImageData* volume);
    isImageData* getVolume() const { return m_volume; }
    // 256 RGB triplets.
    void setColorTable(const unsigned char rgb[768]);
    // The window of both engines from the next frame on.
    void setWindow(float width, float centre);
    // Adds the deltas to the window (the width kept at 2 or more).
    void adjustWindowLevel(float deltaWidth, float deltaCentre);
    void getWindow(float* width, float* centre) const;
    void setRenderMode(int mode);
    int getRenderMode() const { return m_renderMode; }
    // The colour table handed to the engines (256 RGB triplets).
    const unsigned char* getColorTable() const { return m_colours; }

    // On a redraw of the window: when the window's camera changed, cancels the best-quality
    // frame and queues an interactive one.
    void refresh();

    cocos2d::Sprite* getSprite() const { return m_sprite; }
    // What the render threads did (for tests): frames queued on the real-time thread, and
    // frames shown from each engine.
    int getQueuedInteractiveFrames() const { return m_queuedInteractive; }
    int getShownInteractiveFrames() const { return m_shownInteractive; }
    int getShownBestFrames() const { return m_shownBest; }
    // The engines, for settings (their owner's thread only while no frame is queued).
    vrRayCaster* getInteractiveEngine() { return m_interactive.get(); }
    vrRayCaster* getBestEngine() { return m_best.get(); }

private:
    isVRRequest* makeRequest(vrRayCaster* engine) const;
    void queueBestFrame();
    void onInteractiveDone(NSUI::NSThreadRequest* request);
    void onBestDone(NSUI::NSThreadRequest* request);
    // Main thread, under the mutex: the frame becomes the sprite's texture.
    void showFrame(const vrFrameResult& frame);
    void stopThreads();

    cocos2d::Sprite* m_sprite = nullptr;
    isImageData* m_volume = nullptr;
    vrVolumeDescriptor m_descriptor;
    std::mutex m_textureLock;
    std::unique_ptr<vrRayCaster> m_interactive;
    std::unique_ptr<vrRayCaster> m_best;
    isVRThreadRT* m_realTimeThread = nullptr;
    isVRThreadBest* m_bestThread = nullptr;

    // The state handed to the engines with each request (main thread).
    vrCameraState m_camera;
    float m_windowWidth = 255.0f;
    float m_windowCentre = 128.0f;
    unsigned m_windowVersion = 0;
    unsigned char m_colours[768];
    unsigned m_colourVersion = 0;
    int m_renderMode = RenderComposite;
    unsigned m_volumeVersion = 0;
    unsigned m_generation = 0;

    int m_queuedInteractive = 0;
    int m_shownInteractive = 0;
    int m_shownBest = 0;
};

// Installs the volume actor's factory in the actor manager (call once at start-up).
void registerVolumeActorFactory();

} // namespace isImageSDK
