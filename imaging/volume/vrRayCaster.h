// vrRayCaster: the CPU volume renderer. It holds one volume, a camera in volume space, a window
// (centre and width), a 256-entry colour table and the tables derived from them, and turns the
// volume into an RGB image whose size is the camera's viewport times the render scale, casting
// one ray per output pixel on up to four workers (the calling thread and three helpers of its
// own). Empty space is skipped with a block grid.
//
// Each volume actor owns two engines: an interactive one (nearest sampling, render scale adapted
// to a 30 ms budget) and a best-quality one (trilinear, full size). An engine is used by one
// thread at a time: its owner hands it the camera, window and colours on the rendering thread,
// just before render(). Only the cancel flag may be written from another thread while a frame
// is being cast; the ray generator and every worker poll it between rays.
//
// Output rows run from the top of the view down; the frame block gives the size and the
// viewport units per output pixel.
#pragma once

#include "CRayCastingThread.h"
#include "cuLight.h"
#include "vrSpaceLeaping.h"
#include "vrTransferTable.h"
#include "vrTypes.h"
#include "vrWorkerCrew.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace isImageSDK {

class isCamera;

class vrRayCaster {
public:
    static constexpr int kMaxWorkers = 4;
    // Fewer rays than this are cast by the calling thread alone.
    static constexpr int kMinRaysForHelpers = 100;

    vrRayCaster();
    ~vrRayCaster();
    vrRayCaster(const vrRayCaster&) = delete;
    vrRayCaster& operator=(const vrRayCaster&) = delete;

    // Nothing when it is the same descriptor. Otherwise takes the geometry, replaces the grid
    // when its kind does not fit the pixel type, sets the step length to the smallest spacing,
    // and marks the tables for a rebuild. The descriptor must outlive its use by the engine.
    void setVolume(const vrVolumeDescriptor* volume);
    const vrVolumeDescriptor* getVolume() const { return m_volume; }

    // Takes the camera. With intoVolume the eye, target and up vector are patient-space and are
    // carried into volume space (the up vector as a direction); otherwise they are taken as
    // they are (already in volume space).
    void setCamera(const vrCameraState& camera, bool intoVolume);
    // Snapshot of a framework camera (main thread), then the above.
    void setCamera(const isCamera* camera, bool intoVolume);
    const vrCameraState& getCamera() const { return m_camera; }
    // The state of a framework camera as the engine takes it (patient space).
    static vrCameraState snapshot(const isCamera* camera);

    // The window applied at the next render.
    void setPendingWindow(float width, float centre);
    void getPendingWindow(float* width, float* centre) const;
    // The colour table (256 RGB triplets) applied at the next render.
    void setColors(const unsigned char rgb[768]);
    void setRenderMode(int mode);
    int getRenderMode() const { return m_renderMode; }
    void setTrilinear(bool trilinear) { m_info.trilinear = trilinear ? 1 : 0; }
    bool isTrilinear() const { return m_info.trilinear == 1; }
    void setRenderScale(float scale) { m_renderScale = scale; }
    float getRenderScale() const { return m_renderScale; }
    void setTargetFrameTime(float milliseconds) { m_targetFrameTime = milliseconds; }
    // Whether each frame moves the render scale toward the target frame time (the default);
    // off, the scale stays where it was set.
    void setAdaptiveScale(bool adaptive) { m_adaptiveScale = adaptive; }
    bool isAdaptiveScale() const { return m_adaptiveScale; }
    // The render scale after a frame of elapsedMs at the given scale, aiming at targetMs.
    static float nextRenderScale(float scale, double elapsedMs, double targetMs);
    float getTargetFrameTime() const { return m_targetFrameTime; }
    // Most steps per ray; -1 for no limit of its own (100,000).
    void setMaxSteps(int steps) { m_maxSteps = steps; }

    // Any thread: stops the frame being cast at its next ray.
    void cancel() { m_cancel.store(1, std::memory_order_relaxed); }
    void clearCancel() { m_cancel.store(0, std::memory_order_relaxed); }
    bool isCancelled() const { return m_cancel.load(std::memory_order_relaxed) != 0; }

    // Renders a frame; true when one was made (a camera, a volume of a renderable type and at
    // least 2 x 2 output pixels are needed, and the frame was not cancelled).
    bool render();
    const vrFrameBlock& getFrame() const { return m_frame; }

    // What the last frame did (for the owner's tests and benchmarks).
    int getLastRayCount() const { return m_lastRayCount; }
    int getLastWorkerCount() const { return m_lastWorkerCount; }
    const int* getBoundingBox() const { return m_box; }
    float getLowerBound() const { return m_lowerBound; }
    float getLevelScale() const { return m_levelScale; }
    const unsigned char* getBackground() const { return m_tables.background; }
    const vrTransferTable& getTransferTable() const { return m_transfer; }
    const float* getWorkTable() const { return m_work.empty() ? nullptr : m_work.data(); }
    vrSpaceLeapingBase* getGrid() const { return m_grid.get(); }
    // Runs the table update of a render on its own.
    void updateTables();

private:
    void castRays(int w, int h);
    void fillWorkTable();
    // Ray of output pixel (x, row) into the record; row 0 is the top of the view.
    void makeRay(int x, int row, vrRayRecord* ray, unsigned char* out) const;
    void prepareProjection(int w, int h);

    vrTransferTable m_transfer;
    cuLight m_light;
    const vrVolumeDescriptor* m_volume = nullptr;
    vrTableBlock m_tables;
    float m_lowerBound = 0.0f;
    float m_levelScale = 1.0f;
    float m_inverseMatrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::vector<float> m_work;
    float m_windowWidth = 255.0f;
    float m_windowCentre = 128.0f;
    int m_renderMode = RenderComposite;
    vrVolumeInfo m_info;
    std::unique_ptr<vrSpaceLeapingBase> m_grid;
    vrCameraState m_camera;
    int m_maxSteps = -1;
    float m_stepLength = 1.0f;
    std::vector<unsigned char> m_output;
    int m_width = -1;
    int m_height = -1;
    double m_ratio[2] = {1, 1};
    double m_unitsPerPixel[2] = {1, 1};
    int m_box[4] = {0, 0, 0, 0};  // min x, min row, max x, max row (inclusive)
    vrFrameBlock m_frame;
    float m_renderScale = 1.0f;
    std::atomic<uint8_t> m_cancel{0};
    float m_targetFrameTime = 30.0f;
    bool m_adaptiveScale = true;
    unsigned char m_colors[768];
    float m_pendingWidth = 255.0f;
    float m_pendingCentre = 128.0f;
    bool m_tablesValid = false;
    bool m_windowChanged = true;
    bool m_colorsChanged = false;

    // Frame set-up shared by the ray generator.
    double m_viewProjectionInverse[16];
    double m_pixelStep[2] = {1, 1};
    float m_orthoOrigin[3] = {0, 0, 0};
    float m_orthoRight[3] = {1, 0, 0};
    float m_orthoUp[3] = {0, 1, 0};
    float m_orthoDirection[3] = {0, 0, 1};

    std::vector<vrRayRecord> m_rays;
    CRayCastingThread m_workers[kMaxWorkers];
    vrWorkerCrew m_crew{kMaxWorkers - 1};
    int m_lastRayCount = 0;
    int m_lastWorkerCount = 0;
};

} // namespace isImageSDK
