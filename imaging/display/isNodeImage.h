// isNodeImage: the CPU image node. It shows one frame of a slice record as an RGB888 texture
// built by applying the colour table's window and colours to every pixel (isFramePainter),
// rebuilt whenever the picture must change, and plays the frames of multi-frame records.
//
// The record is not owned: it belongs to an isImageData, normally the output of the node's
// source filter. Records are freed and rebuilt whenever that image is (its generation
// changes), so the node remembers the image and generation its record came from and, before
// any use, takes the image's first record afresh when the generation moved on; a stale
// record is never read.
//
// Frame playback is driven by the frame buttons of the node's render window through
// notifications (context: the window): play/stop (9046), prior (9048), next (9049); the node
// answers with the play state (9047) and the buttons' visibility (9050 to 9052). Playback
// ticks every 0.005 s and shows a frame for ticksPerFrame ticks (60 by default, 5 to 120).
//
// Main thread only: construction, notification callbacks, the playback tick and visit.
#pragma once

#include "isFramePainter.h"
#include "isNodeSprite.h"

#include <functional>

namespace NSUI {
class NSNotificationData;
}

namespace isImageSDK {

class isClut;
class isFilterObject;
class isImageData;

class isNodeImage : public isNodeSprite {
public:
    // Allocated, init()ed and autoreleased; null when init fails.
    CREATE_FUNC(isNodeImage);

    // isNodeSprite::init, flags cleared, frame 0, 60 ticks per frame, texture rows flipped so
    // that row 0 of a record lies at node y = 0, and the centre of texel (0, 0) at the origin
    // of the record's matrix. That origin is the centre of pixel (0, 0) (the file's image
    // position), so texel (i, j) is drawn centred on the patient point M x (i sx, j sy, 0), the
    // point where the point readout, the region statistics and the reference lines put pixel
    // (i, j); the picture reaches half a pixel beyond the outer pixels' centres on every side.
    bool init() override;

    // Follows the window's frame buttons (re-subscribes when the window changes).
    void setRenderWindow(void* window) override;
    // Shows the record (see the source for the steps); null shows nothing new.
    void setImage(isSliceInfo* record) override;
    // Keeps (retains) the table and switches its automatic rebuilds off: the node rebuilds the
    // window table itself before it paints.
    void setClut(isClut* clut) override;
    void markTextureDirty() override { m_textureDirty = true; }
    void markClutDirty() override { m_textureDirty = true; }
    // Rebuilds the texture of the current frame and shows it.
    void refreshTexture() override;

    // Keeps (retains) the filter whose output's first record the node shows.
    void setSourceFilter(isFilterObject* source);
    // Re-read the source at the next visit even when it reports no change.
    void markSourceDirty() { m_sourceDirty = true; }
    // Called at a visit with the record about to be painted, before its texture is built (the
    // owner may still change the window then).
    void setPaintHook(std::function<void(const isSliceInfo&)> hook) { m_paintHook = std::move(hook); }

    void visit(cocos2d::Renderer* renderer, const cocos2d::Mat4& parentTransform, uint32_t parentFlags) override;
    // Stops playback, drops the node's notifications, releases the table, the source and
    // the record.
    void cleanup() override;

    // The record shown, checked against its image's generation first.
    isSliceInfo* getFrameRecord();
    isClut* getClut() const { return m_clut; }
    isFilterObject* getSourceFilter() const { return m_sourceFilter; }
    int getFrameIndex() const { return m_frameIndex; }
    bool isPlaying() const { return m_playing; }
    int getTicksPerFrame() const { return m_ticksPerFrame; }
    bool isTextureDirty() const { return m_textureDirty; }

    // The frame buttons (9046, 9048, 9049).
    void onFrameNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);
    // One 0.005 s playback tick.
    void framePlaybackTick(float dt);
    // Frame 0; ends playback (posting the stopped state) when it runs.
    void stopFramePlayback();

protected:
    isNodeImage() = default;
    ~isNodeImage() override;

    // The RGB888 texture of frameRecord at frameIndex (autoreleased); null when none.
    cocos2d::Texture2D* updateTexture();
    // Shows a built texture at the record's spacing and matrix.
    void showTexture(cocos2d::Texture2D* texture, const isSliceInfo* record);
    // Takes a record to show: frame 0 for a new record or a frame index past its frames,
    // and the record's origin for the generation check.
    void adoptRecord(isSliceInfo* record);
    // The output of the source filter as an image (null when it has none).
    isImageData* sourceOutput() const;
    // Posts 9050 to 9052 for the record.
    void postFrameButtons(const isSliceInfo* record);
    void postPlayState(bool playing);
    void dropRecord();

    isSliceInfo* m_frameRecord = nullptr;
    isClut* m_clut = nullptr;
    isFilterObject* m_sourceFilter = nullptr;
    // The image whose first record m_frameRecord is (retained), and its generation then.
    isImageData* m_recordImage = nullptr;
    unsigned int m_recordGeneration = 0;
    bool m_textureDirty = false;
    bool m_sourceDirty = false;
    bool m_frameAdvanced = false;
    int m_frameIndex = 0;
    bool m_playing = false;
    int m_tickCount = 0;
    int m_ticksPerFrame = 60;
    isFramePainter m_painter;
    std::function<void(const isSliceInfo&)> m_paintHook;
};

} // namespace isImageSDK
