// isViewerImage: one 2D viewport. It shows one slice (or one cut plane) of an image through an
// image actor, carries the image interactor that turns mouse and touch into commands, draws the
// corner texts and frame buttons, and has the DICOM information of the corners built on a worker
// thread.
//
// Geometry: world points are patient millimetres. The plane matrix holds the cut plane of the
// view: columns 0 and 1 its in-plane axes, column 2 its normal, column 3 the cross point shared
// with the locate tool and the linked views.
//
// Commands arrive through onNotification (the ids of collectNotificationIds with this window as
// context, 9100/9102/9103 from anyone, 9058/9059 for every viewer) or straight from the owner
// (the browser holding it). A command from anyone but the owner is handed up to the owner (posted
// with the owner as context) when the viewer has one, so that the owner can replay it in every
// linked window; otherwise it is executed here.
//
// Main thread only, except the information builder (a worker per image that reads the first
// slice's file and hands the result back to the main thread).
#pragma once

#include "isInteractorImage.h"
#include "isRenderWindow.h"
#include "isViewer.h"

#include <string>

namespace isImageSDK {

class isViewerImage : public isRenderWindow, public isViewer {
public:
    // Share of the window's width and height a located point keeps from the edges.
    static constexpr float kEdgeMargin = 0.15f;
    static constexpr float kMaxEdgeMargin = 0.4999f;
    // The setting that shows the full DICOM information in the corners ("0" off).
    static const char* const kFullInfoKey;

    static isViewerImage* create();
    ~isViewerImage() override;

    // The render window's init, the image interactor, identity plane, full-info flag, and the
    // full-info commands (9058, 9059) from anyone.
    bool init() override;
    // The render window's clean-up, the image actor released, then 9099 with this viewer's id.
    void cleanup() override;
    // Draws as the render window; rebuilds the corner texts first when the full-info flag
    // changed.
    void visit(cocos2d::Renderer* renderer, const cocos2d::Mat4& parentTransform, uint32_t parentFlags) override;

    // isViewer.
    void setKind(int kind) override;
    void retain() override { cocos2d::Ref::retain(); }
    void release() override { cocos2d::Ref::release(); }
    void setImageData(isImageData* image) override;
    isImageData* getImageData() override { return m_image; }
    void setVisible(bool shown) override { isRenderWindow::setVisible(shown); }

    // Render window.
    bool screenToWorld(const cocos2d::Vec2& window, cocos2d::Vec3& world) override;
    bool isCrossPointVisible() override;
    void onNotification(unsigned int id, NSUI::NSNotificationData* data, cocos2d::Ref* sender) override;
    // The view-changed notice, after refitting the camera to the current plane.
    void notifyViewChanged() override;
    void buildOverlays() override;
    void collectNotificationIds(std::vector<unsigned int>& ids) override;

    // The slices along the shown plane; -1 for an oblique cut, 0 without an image actor.
    int getSliceCount();
    // The slice normal times the spacing along the plane's axis (volume images only).
    bool getSliceSpacingVector(float out[3]);
    std::string getCurrentFilePath();
    // 256 RGB triples; a table whose first entry is white shows a white surround.
    void setPalette(const unsigned char rgb[768]);
    // Built-in "noClut.plist" and "bwInverse.plist", or a property list with "Red", "Green" and
    // "Blue" arrays of 256 values ("Perfusion.plist" with red and blue exchanged). A table that
    // cannot be read leaves the current one.
    void setClutByName(const std::string& name);
    // Shows slice `index` of the current plane (hiding the window outside the plane's range);
    // refit: the camera is fitted to the new slice whatever its orientation.
    void showSlice(int index, bool refit = false);
    // Plane switch: 0 the acquired slices, 1 and 2 the reformatted planes.
    void setPlane(int axis);
    void setLocateDisplay(bool on);
    // The reference lines are switched on (they may be hidden for the moment by their timer).
    bool showsReferenceLines();
    // The active window shows its border while its reference lines are shown.
    void setActive(bool active);

    isActorImage* getImageActor() const { return m_imageActor; }
    isInteractorImage* getImageInteractor() const { return dynamic_cast<isInteractorImage*>(m_interactor); }
    const cocos2d::Mat4& getPlaneMatrix() const { return m_planeMatrix; }
    cocos2d::Vec3 getCrossPoint() const;
    void setCrossPoint(const cocos2d::Vec3& p);
    // Whether a world point lies on the image: in the volume's box (voxel centres, half a voxel
    // more on each side), or for an image that is no volume on the shown slice's rectangle.
    // nearest, when given, receives the point of that box nearest to it.
    bool holdsPoint(const cocos2d::Vec3& world, cocos2d::Vec3* nearest = nullptr);
    float getEdgeMargin() const { return m_edgeMargin; }
    bool isActive() const { return m_active; }
    bool isFullInfo() const { return m_fullInfo; }
    const unsigned char* getPalette() const { return m_palette; }

    // The "seriesTime" text of the information builder: date "YYYYMMDD" as YYYY.MM.DD and time
    // "HHMMSS" as HH:MM:SS, only from the characters present.
    static std::string formatSeriesTime(const std::string& date, const std::string& time);
    // The information JSON of one DICOM file (the builder's work), "" when it cannot be read.
    static std::string readOverlayInfo(const std::string& path);
    // Number of information builders running (tests).
    static int getRunningBuilderCount();
    // The world directions of the screen's right and up in which a slice is shown: anterior up
    // for axial slices, superior up for the others, the patient's left on the right (anterior
    // on the left for sagittal slices); unit vectors in the slice's plane.
    static void screenAxes(const isSliceInfo* slice, cocos2d::Vec3& right, cocos2d::Vec3& up);

protected:
    isViewerImage() = default;

    // Fits the camera on the slice: looking at its centre along its normal, anterior or superior
    // up, the slice filling the window.
    void fitCamera(const isSliceInfo* slice);
    void centrePlaneOn(const isSliceInfo* slice);
    // Two slices of one plane that cover the same place (same size in millimetres, same origin
    // apart from the step along the normal).
    static bool samePicture(const isSliceInfo* a, const isSliceInfo* b);
    // Fits the camera on `slice` and puts back the zoom ratio and the pan (relative to the fit)
    // that the view had on `before`.
    void refitKeepingView(const isSliceInfo* before, const isSliceInfo* slice);
    // Posts the cut plane to the cross lines (while they are shown).
    void updateObliquePlane();
    // Where the reference lines cross: the cross point, or in linked planes of a volume the
    // centre of the voxel the slices shown pass through.
    cocos2d::Vec3 referenceLineCentre() const;
    // Pans so that the world point keeps the edge margin from the window's edges.
    void keepInside(const cocos2d::Vec3& world);
    int planeKindOf(const isSliceInfo* slice) const;
    void postPlaneName(const char* name);
    void startInfoBuilder();
    void rotateCutPlane(float degrees);
    void zoomSynchronise(NSUI::NSNotificationData* data);
    void maximise(NSUI::NSNotificationData* data);
    // The saved view back; the saved state is kept when `keep`.
    void restoreCamera(bool keep);
    void favouriteCopy(NSUI::NSNotificationData* data);
    void locate(const cocos2d::Vec3& p);
    void forwardLocate(const cocos2d::Vec3& p);
    void recentre();
    // Hands the command up to the owner; true when it did.
    bool handUp(unsigned int id, NSUI::NSNotificationData* data, cocos2d::Ref* sender, bool urgent);
    void setFullInfo(bool on);

    isActorImage* m_imageActor = nullptr;
    cocos2d::Mat4 m_planeMatrix;
    float m_edgeMargin = kEdgeMargin;
    bool m_active = false;
    bool m_fullInfo = false;
    bool m_overlaysDirty = false;
    float m_savedCamera[17] = {};
    bool m_cameraSaved = false;
    unsigned char m_palette[768] = {};
};

} // namespace isImageSDK
