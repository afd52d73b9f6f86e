// The two render threads of a volume actor and the request they carry.
//
// A request carries everything its engine needs for one frame, taken on the main thread when it
// is queued (camera, window, colour table, render mode and volume), so that nothing the main
// thread does later touches an engine while it renders. The thread applies the snapshot to its
// engine, renders, and stores a copy of the frame in the request for the main thread.
//
//   isVRThreadRT    renders the interactive engine; adding a request drops every queued one, so
//                   at most one frame waits, always the newest.
//   isVRThreadBest  renders the best-quality engine; queued requests are dropped the same way,
//                   and a frame whose engine was cancelled by the end of its render gives no
//                   result.
//
// Life: created by the actor, stopped and destroyed through its NSThreadSafeDestroy; the thread
// objects release nothing of the UI (the frame copy is plain memory).
#pragma once

#include "NSThread.h"
#include "NSThreadRequest.h"
#include "vrRayCaster.h"
#include "vrTypes.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace isImageSDK {

// A finished frame handed to the main thread.
struct vrFrameResult {
    int width = 0;
    int height = 0;
    float displayScaleX = 1.0f;
    float displayScaleY = 1.0f;
    std::vector<unsigned char> pixels;  // width x height x 3, rows from the top
};

class isVRRequest : public NSUI::NSThreadRequest {
public:
    vrRayCaster* engine = nullptr;
    // Set when queued: the engine's cancel flag is cleared before this frame.
    bool freshFrame = true;
    // Camera snapshot in patient space; carried into volume space by the engine.
    vrCameraState camera;
    float windowWidth = 255.0f;
    float windowCentre = 128.0f;
    unsigned windowVersion = 0;
    unsigned char colours[768] = {};
    unsigned colourVersion = 0;
    int renderMode = RenderComposite;
    const vrVolumeDescriptor* volume = nullptr;
    unsigned volumeVersion = 0;
    // The actor's count of camera moves when queued (best-quality frames from before a move
    // are discarded).
    unsigned generation = 0;
    std::unique_ptr<vrFrameResult> result;
};

// Shared processing of both threads.
class isVRThreadBase : public NSUI::NSThread {
protected:
    ~isVRThreadBase() override = default;
    // Applies the snapshot, renders, and stores the frame (unless `dropCancelled` and the engine
    // was cancelled).
    void renderRequest(isVRRequest* request, bool dropCancelled);

private:
    // What this thread's engine was last given (worker only).
    unsigned m_windowVersion = 0;
    unsigned m_colourVersion = 0;
    unsigned m_volumeVersion = 0;
};

class isVRThreadRT : public isVRThreadBase {
public:
    bool addRequest(NSUI::NSThreadRequest* request) override;

protected:
    ~isVRThreadRT() override = default;
    void process(NSUI::NSThreadRequest* request) override;
};

class isVRThreadBest : public isVRThreadBase {
public:
    bool addRequest(NSUI::NSThreadRequest* request) override;

protected:
    ~isVRThreadBest() override = default;
    void process(NSUI::NSThreadRequest* request) override;
};

} // namespace isImageSDK
