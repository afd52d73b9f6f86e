// isActorImage: shows the current slice of one image in a render window. It owns the slicing
// pipeline (orthogonal plane or oblique reslice -> slice pass-through -> image node) and the
// node's colour table, announces slice index, slice position, orientation, window and slab
// thickness to its window's overlay, asks the series loader for slices not loaded yet, and
// answers the measurements' statistics requests (9095) over its current slice.
//
// Coordinates: world points are patient millimetres; the slice records' matrices map slice
// millimetres to them. Posts use the window's notification context; a burst of posts of one
// number within a frame reaches the overlay as its last state. Main thread only.
#pragma once

#include "isActorObject.h"
#include "isClut.h"
#include "isImageData.h"
#include "isImagePlane.h"
#include "isImageReslice2D.h"
#include "isImageSlice.h"
#include "isNodeImage.h"

#include "NSNotificationData.h"
#include "UIJson.h"

#include <string>

namespace isImageSDK {

class isActorImage : public isActorObject, public NSUI::UIJson {
public:
    static isActorImage* create();
    isActorImage() = default;
    ~isActorImage() override;

    // Image node (shader node when available, else CPU node), colour table and the three
    // filters; plane mode, maximum slab of 1 mm; listens for its slices being loaded (9109).
    bool init() override;
    // The base clear, then the filters, node and image released.
    void clear() override;
    // Follows the window's statistics requests (9095) and the series loading progress (9110).
    void attachRenderWindow(isRenderWindowHost* window) override;
    void setVisible(bool visible) override;

    // Shows the middle slice of the image as acquired (retained); the window from its first
    // record. The same image again does nothing.
    void setImageData(isImageData* image);
    isImageData* getImageData() const { return m_image; }

    // Plane mode only: shows slice `index` of the current axis, or hides the actor when it is
    // out of range (the index is kept).
    void setSliceIndex(int index);
    int getSliceIndex() const { return m_sliceIndex; }
    bool isSliceIndexValid();
    void setSliceAtPoint(float x, float y, float z);
    // The record shown, fully updated (null without one).
    isSliceInfo* getCurrentSlice();
    // The same with geometry only (pixels may be stale).
    isSliceInfo* getCurrentSliceInfo();
    // World centre and corners (origin, +row, +row +column, +column) of the current slice.
    void getSliceCenter(cocos2d::Vec3& out);
    bool getSliceCorners(float out[12]);

    void setOrientationAcquired() { setOrientation(PLANE_ACQUIRED); }
    void setOrientationReformat1() { setOrientation(PLANE_REFORMAT1); }
    void setOrientationReformat2() { setOrientation(PLANE_REFORMAT2); }
    void resetOrientation();
    // An oblique plane given by its world axes (columns 0 and 1 in-plane, 2 the normal, 3 a
    // point). Nothing without an image.
    void setObliqueAxes(const cocos2d::Mat4& axes);
    int getPlaneAxis() const { return m_planeAxis; }
    bool isPlaneMode() const { return m_planeMode; }

    // Window in stored values (nothing without an image).
    void setWindow(float width, float level);
    // Back to the image's default window: the file's own, or for an image without one the window
    // taken from the value range (taken again at the next paint when not yet taken).
    void setDefaultWindow();
    // The interactive drag: deltas scaled by the pixel type (10 for 16-bit, 200 for float).
    void adjustWindow(float dWidth, float dLevel);
    // 256 RGB byte triples.
    void setPalette(const unsigned char rgb[768]);
    void setWindowFunction(int curve);
    void setSlabMode(int mode);
    void setSlabThickness(float millimetres);
    int getSlabMode() const { return m_slabMode; }
    float getSlabThickness() const { return m_slabThickness; }

    // Re-announces thickness, slice position and window to the window's overlay.
    void postWindowInfo();
    void setPostingEnabled(bool enabled) { m_postingEnabled = enabled; }
    const std::string& getSliceLabel() const { return m_sliceLabel; }

    isClut* getClut() const { return m_clut; }
    isNodeImage* getImageNode() const { return m_imageNode; }
    isImagePlane* getPlane() const { return m_plane; }
    isImageSlice* getSliceFilter() const { return m_sliceFilter; }

    // The stored sample of the current slice under a world point (the pixel whose centre is
    // nearest). False, value untouched, without a slice or pixels, outside it, or on RGB.
    bool samplePixelAt(const cocos2d::Vec3& point, float& value);

    virtual void onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);

private:
    // After this actor brought the slice filter up to date itself: tells the node to take the
    // slice when the filter had changes the node had not seen yet.
    void noticeSliceTaken(bool pending);
    // Takes the window from the range of the slice about to be drawn (once; nothing while its
    // pixels are still to come).
    void applyWindowFromRange(const isSliceInfo* slice);
    // The first record of the slice filter's input after a full update (null when none).
    isSliceInfo* currentInputSlice();
    // A copy of currentInputSlice's description whose pixels are those of the frame the node
    // shows (the record itself when it has one frame); false without a slice. The copy points into
    // the record's pixels and owns nothing.
    bool shownFrame(isSliceInfo& frame);
    void setOrientation(int axis);
    // Back to the plane filter after an oblique plane.
    void returnToPlaneMode();
    // Cancels this actor's pending post of `id` to the window, then posts the text.
    void postJson(unsigned int id, const std::string& json, bool urgent);
    float spacingAlong(int axis);
    void answerStatistics(NSUI::NSNotificationData* request);

    float m_slabThickness = 1.0f;
    int m_slabMode = SLAB_MAX;
    int m_planeAxis = PLANE_ACQUIRED;
    bool m_planeMode = true;
    // Set while a 16-bit or float image without a window of its own waits for its first drawn
    // slice with pixels; cleared by that slice or by any window set meanwhile.
    bool m_windowFromRange = false;
    // The image has no window of its own; m_rangeWidth/m_rangeLevel hold the one taken from the
    // range once m_rangeTaken.
    bool m_rangeDefault = false;
    bool m_rangeTaken = false;
    float m_rangeWidth = 0.0f;
    float m_rangeLevel = 0.0f;
    int m_sliceIndex = 0;
    isImageData* m_image = nullptr;
    isClut* m_clut = nullptr;
    isNodeImage* m_imageNode = nullptr;
    isImageSlice* m_sliceFilter = nullptr;
    isImageReslice2D* m_reslice = nullptr;
    isImagePlane* m_plane = nullptr;
    bool m_postingEnabled = true;
    std::string m_sliceLabel;
};

// The letters of the top, right, bottom and left edges of an image whose rows run along rowDir
// and columns along colDir (at most two letters each), for the patient position.
void getOrientationLabels(const float rowDir[3], const float colDir[3], char out[4][3], int headFeet, int posture);
// Re-expresses a world vector in patient axes for the record's posture and headFeet.
void reorientForPatientPosition(const isSliceInfo* record, float v[3]);

} // namespace isImageSDK
