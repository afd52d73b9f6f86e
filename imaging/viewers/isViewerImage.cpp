#include "isViewerImage.h"

#include "isColourTable.h"
#include "isImagePlane.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "NSRunableThread.h"
#include "UIJson.h"
#include "UILocalConfig.h"
#include "dcmLib.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

namespace isImageSDK {

const char* const isViewerImage::kFullInfoKey = "sdk_show_dcmFullInfo";

namespace {

const cocos2d::Color4B kYellow(255, 255, 0, 255);
const cocos2d::Color4B kOrange(255, 165, 0, 255);
// Distance of the camera from the plane it looks at: the middle of the near and far planes.
constexpr float kFitDistance = 0.5f * (isRenderWindowBase::kNearPlane + isRenderWindowBase::kFarPlane);
constexpr float kMinFitDistance = 10.0f;
// A slice whose normal turned by less than this (radians) is the same plane moved.
constexpr float kSameNormal = 0.0001f;
constexpr float kDegreesToRadians = 3.1415927f / 180.0f;

const char* kindName(int kind)
{
    static const char* const names[] = {"Slice", "Axial", "Sagittal", "Coronal", "Oblique", "VR", "MIP"};
    return kind >= 0 && kind < 7 ? names[kind] : "";
}

cocos2d::Vec3 column(const cocos2d::Mat4& m, int c)
{
    return cocos2d::Vec3(m.m[4 * c], m.m[4 * c + 1], m.m[4 * c + 2]);
}

void setColumn(cocos2d::Mat4& m, int c, const cocos2d::Vec3& v)
{
    m.m[4 * c] = v.x;
    m.m[4 * c + 1] = v.y;
    m.m[4 * c + 2] = v.z;
}

std::string number(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The world direction whose letter (for this patient position) is `letter`.
cocos2d::Vec3 directionOfLetter(char letter, int headFeet, int posture)
{
    const cocos2d::Vec3 axes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int k = 0; k < 3; ++k) {
        const float v[3] = {axes[k].x, axes[k].y, axes[k].z};
        char labels[4][3];
        // The letter of +axis k is the right edge's letter of a view whose rows run along it.
        const float other[3] = {axes[(k + 1) % 3].x, axes[(k + 1) % 3].y, axes[(k + 1) % 3].z};
        getOrientationLabels(v, other, labels, headFeet, posture);
        if (labels[1][0] == letter)
            return axes[k];
        if (labels[3][0] == letter)
            return -axes[k];
    }
    return axes[1];
}

// Running information builders, by image; each with the viewers waiting for its result.
std::map<isImageData*, std::vector<isViewerImage*>>& builders()
{
    static std::map<isImageData*, std::vector<isViewerImage*>> running;
    return running;
}

void forgetWaiter(isViewerImage* viewer)
{
    for (auto& entry : builders()) {
        auto& waiting = entry.second;
        waiting.erase(std::remove(waiting.begin(), waiting.end(), viewer), waiting.end());
    }
}

} // namespace

isViewerImage* isViewerImage::create()
{
    auto* viewer = new (std::nothrow) isViewerImage();
    if (!viewer)
        return nullptr;
    if (!viewer->init()) {
        delete viewer;
        return nullptr;
    }
    viewer->autorelease();
    return viewer;
}

isViewerImage::~isViewerImage()
{
    forgetWaiter(this);
    CC_SAFE_RELEASE_NULL(m_imageActor);
}

bool isViewerImage::init()
{
    if (!isRenderWindow::init())
        return false;
    m_edgeMargin = kEdgeMargin;
    isInteractorImage* interactor = isInteractorImage::create();
    if (!interactor)
        return false;
    setInteractor(interactor);
    m_imageActor = nullptr;
    m_planeMatrix = cocos2d::Mat4::IDENTITY;
    m_fullInfo = NSUI::UILocalConfig::isShowDcmFullInfo();
    for (int i = 0; i < 256; ++i)
        m_palette[3 * i] = m_palette[3 * i + 1] = m_palette[3 * i + 2] = static_cast<unsigned char>(i);
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    auto callback = [this](cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
        onNotification(id, data, sender);
    };
    centre->addObserver(this, nullptr, callback, NOTIFY_DCMINFO_HIDE);
    centre->addObserver(this, nullptr, callback, NOTIFY_DCMINFO_SHOW);
    return true;
}

void isViewerImage::cleanup()
{
    retain();
    forgetWaiter(this);
    isRenderWindow::cleanup();
    CC_SAFE_RELEASE_NULL(m_imageActor);
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->postUIntNotification(NOTIFY_VIEWER_CLOSED, getRefID());
    autorelease();
}

void isViewerImage::visit(cocos2d::Renderer* renderer, const cocos2d::Mat4& parentTransform, uint32_t parentFlags)
{
    if (!isVisible() || !isVisitableByVisitingCamera())
        return;
    if (m_overlaysDirty) {
        m_overlaysDirty = false;
        buildOverlays();
        if (m_imageActor)
            m_imageActor->postWindowInfo();
    }
    if (m_actorManager) {
        if (isActorOverlay* overlay = m_actorManager->peekOverlayActor()) {
            // The white surround of an inverted grey table would swallow the white texts.
            overlay->setBacked(isBackgroundWhite());
            overlay->arrangeTexts();
        }
        if (isActorROI* measurements = m_actorManager->peekROIActor())
            measurements->arrangeLabels();
    }
    isRenderWindow::visit(renderer, parentTransform, parentFlags);
}

void isViewerImage::collectNotificationIds(std::vector<unsigned int>& ids)
{
    for (unsigned int id :
         {NOTIFY_VIEW_WINDOW_LEVEL, NOTIFY_VIEW_WINDOW_LEVEL_END, NOTIFY_LOCATE_POINT, NOTIFY_VIEW_INTERACTION_END,
          NOTIFY_VIEW_PAN, NOTIFY_VIEW_PAN_END, NOTIFY_VIEW_ZOOM, NOTIFY_VIEW_ZOOM_WHEEL, NOTIFY_VIEW_ZOOM_END,
          NOTIFY_SLICE_NEXT, NOTIFY_SLICE_PRIOR, NOTIFY_TOOL_WINDOW_LEVEL, NOTIFY_TOOL_PAN, NOTIFY_TOOL_ZOOM,
          NOTIFY_WL_DEFAULT, NOTIFY_WL_FUNC_LINEAR, NOTIFY_WL_FUNC_LOG10, NOTIFY_WL_FUNC_LOG10_INVERSE, NOTIFY_WL_SET,
          NOTIFY_VIEW_ACTIVATE, NOTIFY_VIEW_ANGLE, NOTIFY_VIEW_REFRESH, NOTIFY_TOOL_ROI_LINE, NOTIFY_TOOL_ROI_POINT,
          NOTIFY_TOOL_ROI_ANGLE, NOTIFY_TOOL_ROI_CIRCLE, NOTIFY_TOOL_ROI_POLYGON, NOTIFY_WL_INPUT})
        ids.push_back(id);
}

// ---------------------------------------------------------------------------------------------
// image, planes and camera

void isViewerImage::setImageData(isImageData* image)
{
    if (image == m_image)
        return;
    isRenderWindow::setImageData(image);
    CC_SAFE_RELEASE_NULL(m_imageActor);
    if (!image || !m_actorManager)
        return;
    m_imageActor = m_actorManager->getImageActor();
    if (!m_imageActor)
        return;
    m_imageActor->retain();
    m_imageActor->setImageData(image);
    image->updateInformation();
    if (image->isVolume()) {
        // The acquired plane, fitted and named as a plane switch does it.
        m_kind = VIEW_NONE;
        setPlane(PLANE_ACQUIRED);
        if (m_kind == VIEW_NONE) {
            if (isSliceInfo* slice = m_imageActor->getCurrentSliceInfo()) {
                fitCamera(slice);
                m_kind = planeKindOf(slice);
                centrePlaneOn(slice);
                postPlaneName(kindName(m_kind));
            }
        }
        updateObliquePlane();
    } else {
        m_kind = VIEW_SLICE;
        m_imageActor->setSliceIndex(0);
        if (isSliceInfo* slice = m_imageActor->getCurrentSliceInfo()) {
            fitCamera(slice);
            centrePlaneOn(slice);
        }
        updateObliquePlane();
        postPlaneName(kindName(VIEW_SLICE));
    }
    const std::vector<isSliceInfo*>& slices = image->getSlices();
    const isSliceInfo* first = slices.empty() ? nullptr : slices[0];
    const bool inverse = first && (first->modality == MODALITY_PT || first->modality == MODALITY_NM ||
                                   image->isMonochrome1());
    setClutByName(inverse ? kInverseClutName : kNoClutName);
    buildOverlays();
    m_imageActor->postWindowInfo();
}

void isViewerImage::postPlaneName(const char* name)
{
    NSUI::NSNotificationCenter::getInstance()->postStringNotification(nullptr, NOTIFY_OVERLAY_PLANE_NAME, name,
                                                                      context(), true);
}

int isViewerImage::planeKindOf(const isSliceInfo* slice) const
{
    if (!slice)
        return VIEW_NONE;
    const int sum = planeLetterSum(column(slice->matrix, 0), column(slice->matrix, 1), slice->headFeet, slice->posture);
    if (!m_image || !m_image->isVolume())
        return VIEW_SLICE;
    switch (sum) {
    case kAxialLetterSum: return VIEW_AXIAL;
    case kSagittalLetterSum: return VIEW_SAGITTAL;
    case kCoronalLetterSum: return VIEW_CORONAL;
    default: return VIEW_OBLIQUE;
    }
}

void isViewerImage::screenAxes(const isSliceInfo* slice, cocos2d::Vec3& right, cocos2d::Vec3& up)
{
    const cocos2d::Mat4& m = slice->matrix;
    cocos2d::Vec3 normal = column(m, 2);
    normal.normalize();
    const cocos2d::Vec3 superior = directionOfLetter('S', slice->headFeet, slice->posture);
    const cocos2d::Vec3 anterior = directionOfLetter('A', slice->headFeet, slice->posture);
    const cocos2d::Vec3 left = directionOfLetter('L', slice->headFeet, slice->posture);
    // Axial slices show anterior up, the others superior up; the patient's left is on the
    // right of the screen (anterior on the left for sagittal slices).
    const float ns = std::fabs(normal.dot(superior)), na = std::fabs(normal.dot(anterior)),
                nl = std::fabs(normal.dot(left));
    up = ns >= na && ns >= nl ? anterior : superior;
    right = nl >= ns && nl >= na ? -anterior : left;
    up = up - normal * up.dot(normal);
    if (up.lengthSquared() < 1e-8f)
        up = column(m, 1) * -1.0f;
    up.normalize();
    right = right - normal * right.dot(normal) - up * right.dot(up);
    if (right.lengthSquared() < 1e-8f)
        crossVec3(&right, normal, up);
    right.normalize();
}

void isViewerImage::fitCamera(const isSliceInfo* slice)
{
    if (!slice || !m_sceneCamera)
        return;
    const cocos2d::Mat4& m = slice->matrix;
    cocos2d::Vec3 right, up;
    screenAxes(slice, right, up);
    // The view normal makes (right, up) the screen's axes: right = normal x up.
    cocos2d::Vec3 viewNormal;
    crossVec3(&viewNormal, up, right);

    cocos2d::Vec3 centre((slice->columns - 1) * slice->spacingX * 0.5f, (slice->rows - 1) * slice->spacingY * 0.5f,
                         0.0f);
    m.transformPoint(&centre);
    const float distance = std::max(kMinFitDistance, kFitDistance);
    setCameraPosition(centre - viewNormal * distance);
    lookAt(centre, up);
    // The whole slice (its pixels' outer edges) fills the window.
    const float w = slice->columns * slice->spacingX, h = slice->rows * slice->spacingY;
    cocos2d::Vec3 corners[4] = {{-0.5f * slice->spacingX, -0.5f * slice->spacingY, 0},
                                {w - 0.5f * slice->spacingX, -0.5f * slice->spacingY, 0},
                                {w - 0.5f * slice->spacingX, h - 0.5f * slice->spacingY, 0},
                                {-0.5f * slice->spacingX, h - 0.5f * slice->spacingY, 0}};
    float flat[12];
    for (int i = 0; i < 4; ++i) {
        m.transformPoint(&corners[i]);
        flat[3 * i] = corners[i].x;
        flat[3 * i + 1] = corners[i].y;
        flat[3 * i + 2] = corners[i].z;
    }
    const float zoom = static_cast<float>(m_sceneCamera->computeFitZoom(flat));
    if (zoom > 0.0f && std::isfinite(zoom)) {
        setReferenceZoom(zoom);
        setZoom(zoom);
    }
    m_edgeMargin = kEdgeMargin;
}

namespace {

// The world point at the middle of a slice's pixels.
cocos2d::Vec3 sliceCentre(const isSliceInfo* slice)
{
    cocos2d::Vec3 centre((slice->columns - 1) * slice->spacingX * 0.5f, (slice->rows - 1) * slice->spacingY * 0.5f,
                         0.0f);
    slice->matrix.transformPoint(&centre);
    return centre;
}

} // namespace

bool isViewerImage::samePicture(const isSliceInfo* a, const isSliceInfo* b)
{
    // Same extent in millimetres, and the same place once the step along the normal is taken out.
    constexpr float kTolerance = 1e-3f;
    if (std::fabs(a->columns * a->spacingX - b->columns * b->spacingX) > kTolerance ||
        std::fabs(a->rows * a->spacingY - b->rows * b->spacingY) > kTolerance)
        return false;
    const cocos2d::Vec3 normal = column(b->matrix, 2).getNormalized();
    const cocos2d::Vec3 moved = column(b->matrix, 3) - column(a->matrix, 3);
    return (moved - normal * moved.dot(normal)).length() <= kTolerance;
}

void isViewerImage::refitKeepingView(const isSliceInfo* before, const isSliceInfo* slice)
{
    const float ratio = getZoomRatio();
    // The look-at target's offset from the old picture's centre, in window units along the
    // camera's right and up axes (zoom: world units per window unit).
    const cocos2d::Vec3 offset = getLookAtTarget() - sliceCentre(before);
    const float oldZoom = m_sceneCamera->getZoom();
    const float ox = oldZoom > 0.0f ? offset.dot(m_sceneCamera->getViewRight()) / oldZoom : 0.0f;
    const float oy = oldZoom > 0.0f ? offset.dot(m_sceneCamera->getUpVector()) / oldZoom : 0.0f;
    fitCamera(slice);
    setZoomRatio(std::max(kMinZoomRatio, std::min(kMaxZoomRatio, ratio)));
    const float zoom = m_sceneCamera->getZoom();
    const cocos2d::Vec3 up = m_sceneCamera->getUpVector();
    const cocos2d::Vec3 target = getLookAtTarget() + m_sceneCamera->getViewRight() * (ox * zoom) + up * (oy * zoom);
    setCameraPosition(target - m_sceneCamera->getViewNormal() * m_sceneCamera->getDistance());
    lookAt(target, up);
}

void isViewerImage::centrePlaneOn(const isSliceInfo* slice)
{
    if (!slice)
        return;
    cocos2d::Mat4 shift;
    cocos2d::Mat4::createTranslation((slice->columns - 1) * slice->spacingX * 0.5f,
                                     (slice->rows - 1) * slice->spacingY * 0.5f, 0.0f, &shift);
    m_planeMatrix = slice->matrix * shift;
}

cocos2d::Vec3 isViewerImage::getCrossPoint() const
{
    return column(m_planeMatrix, 3);
}

void isViewerImage::setCrossPoint(const cocos2d::Vec3& p)
{
    setColumn(m_planeMatrix, 3, p);
}

void isViewerImage::setPlane(int axis)
{
    if (!m_imageActor || !m_image)
        return;
    const int before = m_imageActor->getPlaneAxis();
    const bool wasPlaneMode = m_imageActor->isPlaneMode();
    if (!m_image->isVolume()) {
        postPlaneName(kindName(VIEW_SLICE));
        if (axis != PLANE_ACQUIRED)
            return;
    }
    if (axis == PLANE_REFORMAT1)
        m_imageActor->setOrientationReformat1();
    else if (axis == PLANE_REFORMAT2)
        m_imageActor->setOrientationReformat2();
    else
        m_imageActor->setOrientationAcquired();
    if (before == axis && wasPlaneMode && m_kind != VIEW_NONE)
        return;
    if (m_interactor)
        m_interactor->reset();
    isSliceInfo* slice = m_imageActor->getCurrentSliceInfo();
    if (!slice)
        return;
    fitCamera(slice);
    m_kind = planeKindOf(slice);
    centrePlaneOn(slice);
    if (isActorCrossLine* lines = m_actorManager->getCrossLineActor())
        lines->setBorderColorIndex(axis);
    updateObliquePlane();
    if (m_kind >= VIEW_AXIAL && m_kind <= VIEW_CORONAL)
        postPlaneName(kindName(m_kind));
    buildOverlays();
    // The rebuilt texts start empty: they are given this window's values again.
    m_imageActor->postWindowInfo();
}

void isViewerImage::setKind(int kind)
{
    if (kind == m_kind)
        return;
    static const unsigned int commands[] = {NOTIFY_VIEW_ORIGINAL, NOTIFY_VIEW_AXIAL, NOTIFY_VIEW_SAGITTAL,
                                            NOTIFY_VIEW_CORONAL, NOTIFY_VIEW_OBLIQUE};
    // Sent as if from the owner, so that it is executed here.
    if (kind >= VIEW_SLICE && kind <= VIEW_CORONAL)
        onNotification(commands[kind], nullptr, m_owner);
    m_kind = kind;
}

void isViewerImage::showSlice(int index, bool refit)
{
    if (!m_imageActor || !m_image)
        return;
    // The geometry of the slice shown so far (the actor's record may be refilled in place).
    isSliceInfo shown;
    const isSliceInfo* before = nullptr;
    if (const isSliceInfo* current = m_imageActor->getCurrentSliceInfo()) {
        shown.columns = current->columns;
        shown.rows = current->rows;
        shown.spacingX = current->spacingX;
        shown.spacingY = current->spacingY;
        shown.matrix = current->matrix;
        before = &shown;
    }
    const cocos2d::Vec3 oldNormal = before ? column(before->matrix, 2).getNormalized() : cocos2d::Vec3::ZERO;
    m_imageActor->setSliceIndex(index);
    if (m_imageActor->isPlaneMode()) {
        const int count = m_imageActor->getPlane()->getSliceCount();
        const bool inside = index >= 0 && index < count;
        setVisible(inside);
        if (!inside)
            return;
    }
    isSliceInfo* slice = m_imageActor->getCurrentSliceInfo();
    if (!slice)
        return;
    const cocos2d::Vec3 normal = column(slice->matrix, 2).getNormalized();
    const float turned = std::acos(std::max(-1.0f, std::min(1.0f, normal.dot(oldNormal))));
    const bool samePlane = before && turned < kSameNormal;
    if (!refit && (m_image->isVolume() || (samePlane && samePicture(before, slice)))) {
        // The cross point slides along the normal onto the new slice.
        const cocos2d::Vec3 origin = column(slice->matrix, 3);
        const cocos2d::Vec3 cross = getCrossPoint();
        setCrossPoint(cross - normal * (cross - origin).dot(normal));
        updateObliquePlane();
    } else if (!refit && samePlane) {
        // A picture of another size or place in the same plane (the views of a radiograph
        // study, say): fitted anew, with the user's zoom and pan kept relative to the fit.
        refitKeepingView(before, slice);
        centrePlaneOn(slice);
        updateObliquePlane();
    } else {
        fitCamera(slice);
        centrePlaneOn(slice);
    }
    if (m_kind == VIEW_SLICE)
        setLocateDisplay(false);
}

void isViewerImage::notifyViewChanged()
{
    if (m_imageActor && m_image)
        if (isSliceInfo* slice = m_imageActor->getCurrentSliceInfo())
            fitCamera(slice);
    isRenderWindow::notifyViewChanged();
}

bool isViewerImage::screenToWorld(const cocos2d::Vec2& window, cocos2d::Vec3& world)
{
    if (!m_imageActor || !m_sceneCamera)
        return false;
    isSliceInfo* slice = m_imageActor->getCurrentSliceInfo();
    if (!slice)
        return false;
    cocos2d::Vec3 a, b;
    m_sceneCamera->screenToWorld(cocos2d::Vec3(window.x, window.y, 0.0f), &a);
    m_sceneCamera->screenToWorld(cocos2d::Vec3(window.x, window.y, 1.0f), &b);
    const cocos2d::Vec3 normal = column(slice->matrix, 2);
    const cocos2d::Vec3 origin = column(slice->matrix, 3);
    const float denominator = normal.dot(b - a);
    if (std::fabs(denominator) < 1e-12f)
        return false;
    const float t = normal.dot(origin - a) / denominator;
    world = a + (b - a) * t;
    return true;
}

bool isViewerImage::isCrossPointVisible()
{
    const cocos2d::Vec2 p = worldToScreen(getCrossPoint());
    const cocos2d::Size size = getContentSize();
    return p.x >= 0.0f && p.x <= size.width && p.y >= 0.0f && p.y <= size.height;
}

void isViewerImage::keepInside(const cocos2d::Vec3& world)
{
    const cocos2d::Vec2 p = worldToScreen(world);
    const cocos2d::Size size = getContentSize();
    const float mx = size.width * m_edgeMargin, my = size.height * m_edgeMargin;
    float dx = 0.0f, dy = 0.0f;
    if (p.x < mx)
        dx = p.x - mx;
    else if (p.x > size.width - mx)
        dx = p.x - (size.width - mx);
    if (p.y < my)
        dy = my - p.y;
    else if (p.y > size.height - my)
        dy = (size.height - my) - p.y;
    if (dx != 0.0f || dy != 0.0f)
        panBy(dx, dy);
}

cocos2d::Vec3 isViewerImage::referenceLineCentre() const
{
    const cocos2d::Vec3 cross = getCrossPoint();
    if (!m_image || !m_imageActor || !m_imageActor->isPlaneMode() || !m_image->isVolume())
        return cross;
    // The linked planes each show the slice nearest the cross point, picked as the plane filter
    // picks it, so the lines go through the voxel centre those slices share, not through the
    // point between them.
    int dims[3];
    float spacing[3];
    m_image->getDimensions(dims);
    m_image->getVoxelSpacing(spacing);
    if (!(spacing[0] > 0.0f && spacing[1] > 0.0f && spacing[2] > 0.0f))
        return cross;
    auto plane = [&](int axis, int count) {
        const int index = isImagePlane::sliceIndexOfPoint(m_image, axis, cross.x, cross.y, cross.z);
        return static_cast<float>(std::max(0, std::min(count - 1, index)));
    };
    // Volume frame: millimetres from voxel (0, 0, 0); plane k of axis 1 is column columns - 1 - k.
    cocos2d::Vec3 snapped((static_cast<float>(dims[0] - 1) - plane(PLANE_REFORMAT1, dims[0])) * spacing[0],
                          plane(PLANE_REFORMAT2, dims[1]) * spacing[1], plane(PLANE_ACQUIRED, dims[2]) * spacing[2]);
    const cocos2d::Mat4& volume = m_image->getVolumeMatrix();
    volume.transformPoint(&snapped);
    return snapped;
}

void isViewerImage::updateObliquePlane()
{
    if (!m_actorManager)
        return;
    isActorCrossLine* lines = m_actorManager->getCrossLineActor();
    if (!lines || !lines->isCrossLinesVisible())
        return;
    NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
    static const char* const keys[3][3] = {{"nx1", "nx2", "nx3"}, {"ny1", "ny2", "ny3"}, {"nz1", "nz2", "nz3"}};
    for (int axis = 0; axis < 3; ++axis) {
        const cocos2d::Vec3 v = column(m_planeMatrix, axis);
        const float values[3] = {v.x, v.y, v.z};
        for (int k = 0; k < 3; ++k)
            NSUI::UIJson::setString(data->text, keys[axis][k], number("%.6f", values[k]));
    }
    const cocos2d::Vec3 p = referenceLineCentre();
    NSUI::UIJson::setString(data->text, "x", number("%.6f", p.x));
    NSUI::UIJson::setString(data->text, "y", number("%.6f", p.y));
    NSUI::UIJson::setString(data->text, "z", number("%.6f", p.z));
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    centre->cancelNotificationInFrame(this, NOTIFY_OBLIQUE_PLANE, context());
    centre->postNotification(this, NOTIFY_OBLIQUE_PLANE, data, context(), true);
    if (m_interactor)
        centre->cancelNotificationInFrame(m_interactor, NOTIFY_OVERLAY_POSITION, context());
}

void isViewerImage::setLocateDisplay(bool on)
{
    if (!m_actorManager)
        return;
    if (m_image)
        if (isActorOverlay* overlay = m_actorManager->getOverlayActor())
            overlay->setItemVisible("mousePos", on);
    isInteractorImage* interactor = getImageInteractor();
    const bool measuring = interactor && isInteractorImage::isMeasurementMode(interactor->getMode());
    isActorCrossLine* lines = m_actorManager->getCrossLineActor();
    if (!lines)
        return;
    if (on && !measuring) {
        if (m_imageActor && m_kind >= VIEW_AXIAL && m_kind <= VIEW_CORONAL) {
            if (!lines->isCrossLinesVisible()) {
                lines->setCrossLinesVisible(true);
                lines->setBorderColorIndex(m_imageActor->getPlaneAxis());
            }
            // Lines still switched on may have been hidden by their timer a few seconds after
            // they were drawn: the plane sent again draws them anew.
            updateObliquePlane();
        }
        lines->setBorderVisible(m_active && lines->isCrossLinesVisible());
    } else {
        lines->setCrossLinesVisible(false);
        lines->setBorderVisible(false);
    }
}

bool isViewerImage::showsReferenceLines()
{
    isActorCrossLine* lines = m_actorManager ? m_actorManager->getCrossLineActor() : nullptr;
    return lines && lines->isCrossLinesVisible();
}

void isViewerImage::setActive(bool active)
{
    m_active = active;
    if (!m_actorManager)
        return;
    if (isActorCrossLine* lines = m_actorManager->getCrossLineActor())
        lines->setBorderVisible(active && lines->isCrossLinesVisible());
}

void isViewerImage::rotateCutPlane(float degrees)
{
    if (!m_imageActor || !m_image || !m_image->isVolume())
        return;
    cocos2d::Vec3 axis = m_sceneCamera->getViewNormal();
    axis.normalize();
    cocos2d::Mat4 turn;
    cocos2d::Mat4::createRotation(axis, degrees * kDegreesToRadians, &turn);
    const cocos2d::Vec3 cross = getCrossPoint();
    for (int c = 0; c < 3; ++c) {
        cocos2d::Vec3 v = column(m_planeMatrix, c);
        turn.transformVector(&v);
        setColumn(m_planeMatrix, c, v);
    }
    setCrossPoint(cross);
    m_imageActor->setObliqueAxes(m_planeMatrix);
    // The camera turns with the plane.
    cocos2d::Vec3 up = m_sceneCamera->getUpVector();
    turn.transformVector(&up);
    lookAt(getLookAtTarget(), up);
    updateObliquePlane();
}

// ---------------------------------------------------------------------------------------------
// colour tables

void isViewerImage::setPalette(const unsigned char rgb[768])
{
    std::copy(rgb, rgb + 768, m_palette);
    if (m_imageActor)
        m_imageActor->setPalette(m_palette);
    setBackgroundWhite(rgb[0] >= 255 && rgb[1] >= 255 && rgb[2] >= 255);
}

void isViewerImage::setClutByName(const std::string& name)
{
    if (name.size() < 2)
        return;
    if (isBackgroundWhite())
        setBackgroundWhite(false);
    unsigned char table[768];
    if (!readColourTable(name, table))
        return;
    std::copy(table, table + 768, m_palette);
    if (m_imageActor)
        m_imageActor->setPalette(m_palette);
    if (name == kInverseClutName && !(m_image && m_image->isMonochrome1()))
        setBackgroundWhite(true);
}

// ---------------------------------------------------------------------------------------------
// corner texts and the information builder

void isViewerImage::buildOverlays()
{
    if (!m_actorManager || !m_image)
        return;
    isActorOverlay* overlay = m_actorManager->getOverlayActor();
    if (!overlay)
        return;
    overlay->removeAll();
    m_image->updateInformation();
    const std::vector<isSliceInfo*>& slices = m_image->getSlices();
    const isSliceInfo* first = slices.empty() ? nullptr : slices[0];
    auto bound = [overlay](int corner, unsigned int id, const std::string& initial, const std::string& prefix,
                           bool touchable = false) {
        isNodeOverlayText* text = overlay->addCornerText(corner, "");
        if (text)
            text->bindNotification(initial, prefix, "", id, touchable);
        return text;
    };
    auto newRow = [overlay](int corner) { overlay->addCornerRow(corner); };

    // Top left: plane, loading progress, study and series numbers, slice position.
    if (isNodeOverlayText* t = bound(OVERLAY_TOP_LEFT, NOTIFY_OVERLAY_PLANE_NAME, kindName(m_kind), ""))
        t->setTextColor(kYellow);
    newRow(OVERLAY_TOP_LEFT);
    bound(OVERLAY_TOP_LEFT, NOTIFY_OVERLAY_ZOOM, "", "");
    if (m_fullInfo) {
        newRow(OVERLAY_TOP_LEFT);
        bound(OVERLAY_TOP_LEFT, NOTIFY_OVERLAY_STUDY_ID, "", " Ex:");
        newRow(OVERLAY_TOP_LEFT);
        bound(OVERLAY_TOP_LEFT, NOTIFY_OVERLAY_SERIES_ID, "", " Se:");
    }
    if (first && first->modality < MODALITY_DX && first->modality != MODALITY_US) {
        newRow(OVERLAY_TOP_LEFT);
        if (isNodeOverlayText* t = bound(OVERLAY_TOP_LEFT, NOTIFY_OVERLAY_SLICE_POSITION, "", ""))
            t->setTextColor(kOrange);
    }

    // Bottom left: thickness of a volume, then the window (a tap opens the window editor).
    if (m_image->isVolume()) {
        overlay->addBottomLeftText(" Thk:");
        if (isNodeOverlayText* t = bound(OVERLAY_BOTTOM_LEFT, NOTIFY_OVERLAY_THICKNESS, "", ""))
            t->setTextColor(kYellow);
        overlay->addBottomLeftRow();
        overlay->addBottomLeftRow();
    }
    // Colour samples are drawn as they are: no window applies to them, and none is shown.
    if (!first || first->pixelType != PIXEL_RGB) {
        overlay->addBottomLeftText(" ww/wl:");
        if (isNodeOverlayText* t = bound(OVERLAY_BOTTOM_LEFT, NOTIFY_OVERLAY_WINDOW, "", "", true))
            t->setTextColor(kYellow);
    }

    // Top right: institution, series time, patient, description, frame buttons.
    bool rowUsed = false;
    auto nextRow = [&](void) {
        if (rowUsed)
            newRow(OVERLAY_TOP_RIGHT);
        rowUsed = true;
    };
    if (m_fullInfo) {
        nextRow();
        bound(OVERLAY_TOP_RIGHT, NOTIFY_OVERLAY_HOSPITAL, "", "");
    }
    nextRow();
    bound(OVERLAY_TOP_RIGHT, NOTIFY_OVERLAY_SERIES_TIME, "", "");
    if (m_fullInfo) {
        nextRow();
        bound(OVERLAY_TOP_RIGHT, NOTIFY_OVERLAY_PATIENT, "", "");
    }
    nextRow();
    bound(OVERLAY_TOP_RIGHT, NOTIFY_OVERLAY_PATIENT_INFO, "", "");
    if (m_fullInfo) {
        nextRow();
        bound(OVERLAY_TOP_RIGHT, NOTIFY_OVERLAY_IMAGE_DESC, "", "");
    }
    const isSliceInfo* current = m_imageActor ? m_imageActor->getCurrentSliceInfo() : nullptr;
    const bool frames = current && current->frames > 1;
    struct Button {
        const char* name;
        const char* image;
        unsigned int role;
    };
    for (const Button& b : {Button{"multi_prior", "imageSDK/leftArrow.png", NOTIFY_FRAME_PRIOR},
                            Button{"multi_status", "imageSDK/play.png", NOTIFY_FRAME_PLAY_STATE},
                            Button{"multi_next", "imageSDK/rightArrow.png", NOTIFY_FRAME_NEXT}}) {
        nextRow();
        if (isNodeOverlaySprite* button = overlay->addTopRightButton()) {
            button->setup(b.image, b.image, b.role, "");
            button->setName(b.name);
            button->setVisible(frames);
        }
    }
    overlay->updateLayout();

    const std::string* json = m_image->getInfoJson();
    if (json && !json->empty())
        overlay->applyDicomInfo(*json);
    else
        startInfoBuilder();
    // The edge letters went with the old overlay: they are posted again.
    if (m_sceneCamera)
        updateOrientationLabels();
}

std::string isViewerImage::formatSeriesTime(const std::string& date, const std::string& time)
{
    // Only the characters present: a missing group is left out with its separator.
    std::string out = date.substr(0, 4);
    if (date.size() >= 6)
        out += "." + date.substr(4, 2);
    if (date.size() >= 8)
        out += "." + date.substr(6, 2);
    std::string t = time.substr(0, 2);
    if (time.size() >= 4)
        t += ":" + time.substr(2, 2);
    if (time.size() >= 6)
        t += ":" + time.substr(4, 2);
    return out + " " + t;
}

namespace {

// Whether a decimal string (DICOM DS) reads as the number zero.
bool isZeroDecimal(const std::string& text)
{
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0' && number == 0.0;
}

} // namespace

std::string isViewerImage::readOverlayInfo(const std::string& path)
{
    redIRI::dcmReader reader;
    if (!reader.setFile(path.c_str()))
        return std::string();
    auto tag = [&reader](unsigned short group, unsigned short element, std::string& out) {
        char buffer[256] = "";
        if (!reader.readDicomTagString(group, element, buffer, sizeof buffer))
            return false;
        out = buffer;
        return true;
    };
    auto firstOf = [&tag](std::initializer_list<std::pair<unsigned short, unsigned short>> tags, std::string& out) {
        for (const auto& t : tags)
            if (tag(t.first, t.second, out) && !out.empty())
                return true;
        out.clear();
        return false;
    };
    std::string json, value;
    if (tag(0x0020, 0x0010, value))
        NSUI::UIJson::setString(json, "studyID", value);
    if (tag(0x0020, 0x0011, value))
        NSUI::UIJson::setString(json, "seriesID", value);
    if (tag(0x0008, 0x0080, value)) {
        std::replace(value.begin(), value.end(), ',', '_');
        NSUI::UIJson::setString(json, "hospital", value);
    }
    std::string date, time;
    firstOf({{0x0008, 0x0021}, {0x0008, 0x0020}, {0x0008, 0x0022}}, date);
    if (firstOf({{0x0008, 0x0031}, {0x0008, 0x0030}, {0x0008, 0x0032}}, time))
        NSUI::UIJson::setString(json, "seriesTime", formatSeriesTime(date, time));
    if (tag(0x0010, 0x0010, value))
        NSUI::UIJson::setString(json, "patient", value);
    std::string sex, info;
    if (tag(0x0010, 0x0040, sex) && sex != "0000")
        info = sex;
    if (tag(0x0010, 0x1010, value) && !value.empty())
        info += " " + value;
    else if (tag(0x0010, 0x0030, value))
        info += " " + value;
    // Scanners write an unknown weight as zero in any notation ("0", "0.000000"): no weight.
    if (tag(0x0010, 0x1030, value) && !value.empty() && !isZeroDecimal(value))
        info += " W=" + value;
    NSUI::UIJson::setString(json, "patientInfo", info);
    if (firstOf({{0x0018, 0x1030}, {0x0008, 0x103E}, {0x0008, 0x1030}}, value))
        NSUI::UIJson::setString(json, "imageDesc", value);
    return json;
}

int isViewerImage::getRunningBuilderCount()
{
    return static_cast<int>(builders().size());
}

void isViewerImage::startInfoBuilder()
{
    if (!m_image)
        return;
    auto found = builders().find(m_image);
    if (found != builders().end()) {
        // One builder per image: wait for the one that runs.
        if (std::find(found->second.begin(), found->second.end(), this) == found->second.end())
            found->second.push_back(this);
        return;
    }
    const std::vector<isSliceInfo*>& slices = m_image->getSlices();
    if (slices.empty() || !slices[0]->pixels)
        return;
    isImageData* image = m_image;
    image->retain();
    builders()[image].push_back(this);
    auto result = std::make_shared<std::string>();
    const std::string path = slices[0]->filePath;
    // A counted run that deletes itself when the file is read. Nobody cancels it: the shell's
    // shutdown (NSRunableThread::waitForAll) or, in a process that exits without it, the exit
    // handler waits for it, so it never reads DCMTK's dictionary while exit destroys it.
    NSUI::NSRunableThread::create(
        [result, path](void*) { *result = readOverlayInfo(path); }, nullptr, nullptr,
        [image, result]() {
            // On the main thread: the JSON is stored on the image and every waiting viewer told.
            std::vector<isViewerImage*> waiting;
            auto it = builders().find(image);
            if (it != builders().end()) {
                waiting = it->second;
                builders().erase(it);
            }
            if (!result->empty()) {
                image->setInfoJson(*result);
                for (isViewerImage* viewer : waiting)
                    NSUI::NSNotificationCenter::getInstance()->postStringNotification(
                        nullptr, NOTIFY_OVERLAY_INFO_READY, *result, viewer->context(), false);
            }
            image->release();
        });
}

void isViewerImage::setFullInfo(bool on)
{
    if (on == m_fullInfo)
        return;
    NSUI::UILocalConfig::setLocalString(kFullInfoKey, on ? "1" : "0");
    m_fullInfo = on;
    if (m_actorManager && m_image)
        if (isActorOverlay* overlay = m_actorManager->getOverlayActor())
            overlay->removeAll();
    m_overlaysDirty = true;
}

// ---------------------------------------------------------------------------------------------
// commands

bool isViewerImage::handUp(unsigned int id, NSUI::NSNotificationData* data, cocos2d::Ref* sender, bool urgent)
{
    if (!m_owner || sender == m_owner)
        return false;
    postToOwner(id, data, urgent);
    return true;
}

void isViewerImage::locate(const cocos2d::Vec3& p)
{
    setCrossPoint(p);
    if (m_imageActor && m_imageActor->isPlaneMode()) {
        m_imageActor->setSliceAtPoint(p.x, p.y, p.z);
        setVisible(m_imageActor->isSliceIndexValid());
    }
    updateObliquePlane();
    if (isShown())
        keepInside(p);
}

bool isViewerImage::holdsPoint(const cocos2d::Vec3& world, cocos2d::Vec3* nearest)
{
    cocos2d::Mat4 frame;   // image frame (millimetres from the first voxel's centre) to world
    cocos2d::Vec3 extent;  // the last voxel's centre in the image frame
    cocos2d::Vec3 half;    // half a voxel
    if (m_image && m_image->isVolume()) {
        int dims[3];
        float spacing[3];
        m_image->getDimensions(dims);
        m_image->getVoxelSpacing(spacing);
        frame = m_image->getVolumeMatrix();
        extent.set((dims[0] - 1) * spacing[0], (dims[1] - 1) * spacing[1], (dims[2] - 1) * spacing[2]);
        half.set(spacing[0] / 2, spacing[1] / 2, spacing[2] / 2);
    } else if (const isSliceInfo* slice = m_imageActor ? m_imageActor->getCurrentSliceInfo() : nullptr) {
        frame = slice->matrix;
        extent.set((slice->columns - 1) * slice->spacingX, (slice->rows - 1) * slice->spacingY, 0.0f);
        half.set(slice->spacingX / 2, slice->spacingY / 2, std::max(slice->spacingX, slice->spacingY) / 2);
    } else {
        if (nearest)
            *nearest = world;
        return false;
    }
    cocos2d::Vec3 local = world;
    frame.getInversed().transformPoint(&local);
    const bool inside = local.x >= -half.x && local.x <= extent.x + half.x && local.y >= -half.y &&
                        local.y <= extent.y + half.y && local.z >= -half.z && local.z <= extent.z + half.z;
    if (nearest) {
        local.set(std::clamp(local.x, 0.0f, std::max(extent.x, 0.0f)),
                  std::clamp(local.y, 0.0f, std::max(extent.y, 0.0f)),
                  std::clamp(local.z, 0.0f, std::max(extent.z, 0.0f)));
        frame.transformPoint(&local);
        *nearest = local;
    }
    return inside;
}

void isViewerImage::forwardLocate(const cocos2d::Vec3& p)
{
    // The view keeps its slice: the point moves along this view's normal to the cross point's
    // depth.
    const cocos2d::Vec3 normal = column(m_planeMatrix, 2).getNormalized();
    const cocos2d::Vec3 cross = getCrossPoint();
    setCrossPoint(p - normal * (p - cross).dot(normal));
    updateObliquePlane();
}

void isViewerImage::recentre()
{
    m_edgeMargin = kEdgeMargin;
    const cocos2d::Size size = getContentSize();
    const float k = std::min(size.width, size.height) * kEdgeMargin;
    const cocos2d::Vec2 p = worldToScreen(getCrossPoint());
    if (p.x < k || p.y < k || p.x > size.width - k || p.y > size.height - k) {
        cocos2d::Vec3 focus = getCrossPoint();
        centerOn(focus);
    }
}

void isViewerImage::zoomSynchronise(NSUI::NSNotificationData* data)
{
    const std::string& text = data->text;
    const float f = data->floatValue;
    const float target = NSUI::UIJson::getFloat(text, "zoomRatio", 0.0f);
    const float own = getZoomRatio();
    if (!((f > 1.0f && own > target + 0.01f) || (f < 1.0f && own < target - 0.01f)))
        zoomBy(limitZoomFactor(f));
    m_edgeMargin = kEdgeMargin;
    if (NSUI::UIJson::getInt(text, "validFocal", 0) == 1) {
        cocos2d::Vec3 focus(NSUI::UIJson::getFloat(text, "focal_x", 0.0f), NSUI::UIJson::getFloat(text, "focal_y", 0.0f),
                            NSUI::UIJson::getFloat(text, "focal_z", 0.0f));
        centerOn(focus);
        return;
    }
    const float focal = NSUI::UIJson::getFloat(text, "focal2center", 0.0f);
    const cocos2d::Vec2 centre = worldToScreen(getLookAtTarget());
    const cocos2d::Vec2 cross = worldToScreen(getCrossPoint());
    const float d = centre.distance(cross);
    if (d > 0.1f && std::fabs(d - focal) > 0.1f && focal < d) {
        const cocos2d::Vec2 step = (cross - centre) * ((d - focal) / d);
        panBy(step.x, -step.y);
    }
}

void isViewerImage::restoreCamera(bool keep)
{
    // Only a window that saved its view gets it back (a parked one saved position and size only).
    if (!m_cameraSaved)
        return;
    const float* s = m_savedCamera;
    setCameraPosition(cocos2d::Vec3(s[3], s[4], s[5]));
    lookAt(cocos2d::Vec3(s[0], s[1], s[2]), cocos2d::Vec3(s[6], s[7], s[8]));
    setZoom(s[16]);
    m_cameraSaved = keep;
}

void isViewerImage::maximise(NSUI::NSNotificationData* data)
{
    if (!data)
        return;
    if (data->uintValue == getRefID()) {
        if (!m_maximized) {
            m_savedPosition = getPosition();
            m_savedSize = getContentSize();
            getCameraState(m_savedCamera);
            m_cameraSaved = true;
            m_maximized = true;
            const cocos2d::Vec2 parent = getParent() ? getParent()->getPosition() : cocos2d::Vec2::ZERO;
            setPosition(-parent);
            setContentSize(cocos2d::Size(NSUI::UIJson::getFloat(data->text, "w", getContentSize().width),
                                         NSUI::UIJson::getFloat(data->text, "h", getContentSize().height)));
            if (m_actorManager)
                m_actorManager->setBorderVisible(false);
        } else {
            m_maximized = false;
            setPosition(m_savedPosition);
            setContentSize(m_savedSize);
        }
        // The same view on the new size.
        restoreCamera(m_maximized);
        if (m_actorManager && m_image)
            if (isActorOverlay* overlay = m_actorManager->getOverlayActor())
                overlay->updateLayout();
        NSUI::NSNotificationData* answer = NSUI::NSNotificationData::create();
        answer->intValue = m_maximized ? 1 : 0;
        answer->setObject(this);
        NSUI::NSNotificationCenter::getInstance()->postNotification(this, NOTIFY_WINDOW_MAXIMIZED, answer, nullptr,
                                                                    false);
        return;
    }
    // Another window is maximised: park off screen, or come back.
    if (!m_maximized) {
        m_savedPosition = getPosition();
        m_savedSize = getContentSize();
        m_cameraSaved = false;
        m_maximized = true;
        setPosition(cocos2d::Vec2(kParkedPosition, kParkedPosition));
        setContentSize(cocos2d::Size(kParkedSize, kParkedSize));
    } else {
        m_maximized = false;
        setPosition(m_savedPosition);
        setContentSize(m_savedSize);
        restoreCamera(false);
    }
}

void isViewerImage::favouriteCopy(NSUI::NSNotificationData* data)
{
    if (!data || !m_imageActor)
        return;
    if (data->uintValue != 0 && data->uintValue != getRefID())
        return;
    // Only the first receiver acts.
    data->uintValue = getRefID();
    isSliceInfo* slice = m_imageActor->getCurrentSlice();
    // Pixels the loader has not read yet may be being written on its thread right now.
    if (!slice || !slice->pixels || !slice->isLoaded())
        return;
    auto* copy = new isSliceInfo(*slice);
    const size_t frameBytes =
        static_cast<size_t>(slice->rows) * slice->columns * static_cast<size_t>(bytesPerPixel(slice->pixelType));
    const size_t bytes = frameBytes * std::max<int>(1, slice->frames);
    copy->pixels = new unsigned char[bytes];
    std::copy(slice->pixels, slice->pixels + bytes, copy->pixels);
    isNodeImage* node = m_imageActor->getImageNode();
    const int frame = node ? node->getFrameIndex() : 0;
    if (frame > 0 && frame < slice->frames)
        std::copy(slice->pixels + frameBytes * frame, slice->pixels + frameBytes * (frame + 1), copy->pixels);
    NSUI::NSNotificationData* out = NSUI::NSNotificationData::create();
    out->setUserData(copy, [](void* p) {
        auto* record = static_cast<isSliceInfo*>(p);
        delete[] record->pixels;
        delete record;
    });
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_FAVORITE_SAVE_IMAGE, out, nullptr,
                                                                false);
}

void isViewerImage::onNotification(unsigned int id, NSUI::NSNotificationData* data, cocos2d::Ref* sender)
{
    const bool volume = m_image && m_image->isVolume();
    isInteractorImage* interactor = getImageInteractor();
    auto text = [data]() -> const std::string& {
        static const std::string none;
        return data ? data->text : none;
    };
    auto point = [&]() {
        return cocos2d::Vec3(NSUI::UIJson::getFloat(text(), "x", 0.0f), NSUI::UIJson::getFloat(text(), "y", 0.0f),
                             NSUI::UIJson::getFloat(text(), "z", 0.0f));
    };
    switch (id) {
    case NOTIFY_SLICE_NEXT:
    case NOTIFY_SLICE_PRIOR:
        if (handUp(id, data, sender, true) || !m_imageActor)
            return;
        showSlice(m_imageActor->getSliceIndex() + (id == NOTIFY_SLICE_NEXT ? 1 : -1));
        return;
    case NOTIFY_SLICE_MIDDLE:
        if (handUp(id, data, sender, false) || !m_imageActor || !m_image)
            return;
        if (!volume) {
            showSlice(std::max(0, m_image->getSliceCount() / 2), true);
        } else if (isSliceInfo* slice = m_imageActor->getCurrentSliceInfo()) {
            const cocos2d::Vec3 normal = column(slice->matrix, 2).getNormalized();
            const cocos2d::Vec3 cross = getCrossPoint();
            setCrossPoint(cross - normal * (cross - column(slice->matrix, 3)).dot(normal));
            updateObliquePlane();
        }
        return;
    case NOTIFY_IMAGE_SET_MODE:
        if (handUp(id, data, sender, false) || !m_imageActor || !data)
            return;
        m_imageActor->setSlabMode(data->intValue);
        return;
    case NOTIFY_SLAB_THICKNESS_ADD:
        if (handUp(id, data, sender, false) || !m_imageActor || !data)
            return;
        m_imageActor->setSlabThickness(m_imageActor->getSlabThickness() + data->floatValue);
        return;
    case NOTIFY_VIEW_ANGLE: {
        if (handUp(id, data, sender, false) || !data || !m_actorManager)
            return;
        isActorCrossLine* lines = m_actorManager->getCrossLineActor();
        const bool shown = lines && lines->isCrossLinesVisible();
        if (shown || (m_kind >= VIEW_AXIAL && m_kind <= VIEW_CORONAL))
            rotateCutPlane(data->floatValue);
        return;
    }
    case NOTIFY_VIEW_AXIAL:
    case NOTIFY_VIEW_SAGITTAL:
    case NOTIFY_VIEW_CORONAL:
    case NOTIFY_VIEW_ORIGINAL: {
        if (handUp(id, data, sender, false))
            return;
        const int kind = id == NOTIFY_VIEW_AXIAL      ? VIEW_AXIAL
                         : id == NOTIFY_VIEW_SAGITTAL ? VIEW_SAGITTAL
                         : id == NOTIFY_VIEW_CORONAL  ? VIEW_CORONAL
                                                      : VIEW_SLICE;
        if (m_kind == kind)
            return;
        if (id == NOTIFY_VIEW_ORIGINAL)
            setPlane(PLANE_ACQUIRED);
        else
            setPlane(getAxisOfPlane(kind == VIEW_AXIAL      ? PLANE_AXIAL
                                    : kind == VIEW_SAGITTAL ? PLANE_SAGITTAL
                                                            : PLANE_CORONAL));
        return;
    }
    case NOTIFY_VIEW_REFRESH:
        if (handUp(id, data, sender, false))
            return;
        notifyViewChanged();
        return;
    case NOTIFY_WL_DEFAULT:
        if (handUp(id, data, sender, false) || !m_imageActor || !m_image)
            return;
        m_imageActor->setDefaultWindow();
        return;
    case NOTIFY_WL_INPUT:
        if (m_owner)
            postToOwner(id, data, false);
        return;
    case NOTIFY_WL_FUNC_LINEAR:
    case NOTIFY_WL_FUNC_LOG10:
    case NOTIFY_WL_FUNC_LOG10_INVERSE:
        if (handUp(id, data, sender, false) || !m_imageActor)
            return;
        m_imageActor->setWindowFunction(static_cast<int>(id - NOTIFY_WL_FUNC_LINEAR));
        return;
    case NOTIFY_WL_SET:
        if (handUp(id, data, sender, false) || !m_imageActor)
            return;
        m_imageActor->setWindow(NSUI::UIJson::getFloat(text(), "ww", 0.0f), NSUI::UIJson::getFloat(text(), "wl", 0.0f));
        return;
    case NOTIFY_CLUT_SET:
        if (data)
            setClutByName(data->text);
        return;
    case NOTIFY_TOOL_SELECT:
    case NOTIFY_TOOL_WINDOW_LEVEL:
    case NOTIFY_TOOL_ZOOM:
    case NOTIFY_TOOL_PAN:
    case NOTIFY_TOOL_LOCATE: {
        if (handUp(id, data, sender, false) || !interactor)
            return;
        const int mode = id == NOTIFY_TOOL_SELECT         ? MODE_SELECT
                         : id == NOTIFY_TOOL_WINDOW_LEVEL ? MODE_WINDOW_LEVEL
                         : id == NOTIFY_TOOL_ZOOM         ? MODE_ZOOM
                         : id == NOTIFY_TOOL_PAN          ? MODE_PAN
                                                          : MODE_LOCATE;
        interactor->setMode(mode);
        return;
    }
    case NOTIFY_TOOL_ROI_LINE:
    case NOTIFY_TOOL_ROI_POINT:
    case NOTIFY_TOOL_ROI_ANGLE:
    case NOTIFY_TOOL_ROI_CIRCLE:
    case NOTIFY_TOOL_ROI_POLYGON:
        if (handUp(id, data, sender, false) || !interactor)
            return;
        setLocateDisplay(false);
        interactor->setMode(MODE_ROI_LINE + static_cast<int>(id - NOTIFY_TOOL_ROI_LINE));
        return;
    case NOTIFY_ROI_REMOVE:
        if (interactor)
            interactor->reset();
        if (data)
            if (isActorROI* measurements = getROIActor())
                measurements->removeROIById(data->uintValue);
        return;
    case NOTIFY_DCMINFO_HIDE:
    case NOTIFY_DCMINFO_SHOW:
        setFullInfo(id == NOTIFY_DCMINFO_SHOW);
        return;
    case NOTIFY_VIEW_PAN:
        if (volume && handUp(id, data, sender, true))
            return;
        panBy(NSUI::UIJson::getFloat(text(), "x", 0.0f), NSUI::UIJson::getFloat(text(), "y", 0.0f));
        return;
    case NOTIFY_VIEW_ZOOM: {
        if (m_image && handUp(id, data, sender, true))
            return;
        if (!data)
            return;
        // The limits hold here, where the zoom is applied: steps checked by the interactor a
        // frame or two earlier arrive through the browser in bursts.
        const float f = data->floatValue;
        zoomBy(limitZoomFactor(f));
        if (f > 0.0f && m_imageActor && data->intValue != 1 && isCrossPointVisible())
            keepInside(getCrossPoint());
        m_edgeMargin = f <= 1.0f ? kEdgeMargin : std::min(m_edgeMargin * f, kMaxEdgeMargin);
        return;
    }
    case NOTIFY_VIEW_ZOOM_WHEEL:
        if (volume && handUp(id, data, sender, true))
            return;
        if (data)
            zoomBy(limitZoomFactor(data->floatValue));
        return;
    case NOTIFY_VIEW_WINDOW_LEVEL:
        if (handUp(id, data, sender, true) || !m_imageActor)
            return;
        m_imageActor->adjustWindow(NSUI::UIJson::getFloat(text(), "ww", 0.0f),
                                   NSUI::UIJson::getFloat(text(), "wl", 0.0f));
        m_imageActor->postWindowInfo();
        return;
    case NOTIFY_VIEW_PAN_END:
        if (!m_owner)
            return;
        if (sender == m_owner)
            panBy(NSUI::UIJson::getFloat(text(), "x", 0.0f), NSUI::UIJson::getFloat(text(), "y", 0.0f));
        else if (volume)
            postToOwner(id, data, false);
        return;
    case NOTIFY_VIEW_ZOOM_END: {
        if (!m_owner || !volume || !data)
            return;
        if (sender == m_owner) {
            zoomSynchronise(data);
            return;
        }
        NSUI::NSNotificationData* up = NSUI::NSNotificationData::create();
        up->floatValue = data->floatValue;
        up->intValue = data->intValue;
        up->text = data->text;
        const cocos2d::Vec2 centre = worldToScreen(getLookAtTarget());
        const cocos2d::Vec2 cross = worldToScreen(getCrossPoint());
        cocos2d::Vec3 focal;
        m_sceneCamera->projectOntoViewPlane(getCrossPoint(), &focal);
        NSUI::UIJson::setString(up->text, "focal2center", number("%.6f", centre.distance(cross)));
        NSUI::UIJson::setString(up->text, "focal_x", number("%.6f", focal.x));
        NSUI::UIJson::setString(up->text, "focal_y", number("%.6f", focal.y));
        NSUI::UIJson::setString(up->text, "focal_z", number("%.6f", focal.z));
        NSUI::UIJson::setString(up->text, "validFocal", "1");
        NSUI::UIJson::setString(up->text, "zoomRatio", number("%.6f", getZoomRatio()));
        postToOwner(id, up, false);
        return;
    }
    case NOTIFY_VIEW_WINDOW_LEVEL_END:
        if (!m_owner || !m_imageActor)
            return;
        if (sender == m_owner) {
            m_imageActor->setWindow(NSUI::UIJson::getFloat(text(), "ww", 0.0f),
                                    NSUI::UIJson::getFloat(text(), "wl", 0.0f));
        } else {
            NSUI::NSNotificationData* up = NSUI::NSNotificationData::create();
            NSUI::UIJson::setString(up->text, "ww", std::to_string(static_cast<int>(m_imageActor->getClut()->getWidth())));
            NSUI::UIJson::setString(up->text, "wl", std::to_string(static_cast<int>(m_imageActor->getClut()->getLevel())));
            postToOwner(id, up, false);
        }
        return;
    case NOTIFY_VIEW_INTERACTION_END:
        if (volume && handUp(id, data, sender, true))
            return;
        recentre();
        return;
    case NOTIFY_LOCATE_POINT: {
        const cocos2d::Vec3 p = point();
        // A point picked beside the picture (a panned view's empty part) is no point of the
        // image: as the cross point it would take the linked planes out of the volume.
        if (sender != m_owner && !holdsPoint(p))
            return;
        if (m_owner && sender != m_owner) {
            // The point lies on this view's slice: its reference lines move there at once.
            setCrossPoint(p);
            updateObliquePlane();
            if (volume)
                postToOwner(id, data, true);
            return;
        }
        locate(p);
        return;
    }
    case NOTIFY_LOCATE_POINT_FORWARD:
        forwardLocate(point());
        return;
    case NOTIFY_CROSSLINE_SHOW:
        if (handUp(id, data, sender, false) || !m_actorManager)
            return;
        m_actorManager->showCornerMarker();
        return;
    case NOTIFY_VIEW_ACTIVATE: {
        if (!m_owner)
            return;
        postToOwner(id, data, true);
        // The screen that lays its quick tools along the active window listens with context 0.
        NSUI::NSNotificationData* activated = NSUI::NSNotificationData::create();
        activated->setObject(this);
        NSUI::NSNotificationCenter::getInstance()->postNotification(this, NOTIFY_VIEW_ACTIVATED, activated, nullptr,
                                                                    false);
        return;
    }
    case NOTIFY_WINDOW_MAXIMIZE:
        maximise(data);
        return;
    case NOTIFY_WINDOW_LINK:
        if (data && data->uintValue == getRefID())
            postToOwner(id, data, false);
        return;
    case NOTIFY_FAVORITE_ADD_VIEW:
        favouriteCopy(data);
        return;
    default:
        isRenderWindow::onNotification(id, data, sender);
        return;
    }
}

int isViewerImage::getSliceCount()
{
    if (!m_imageActor)
        return 0;
    if (!m_imageActor->isPlaneMode())
        return -1;
    return m_imageActor->getPlane()->getSliceCount();
}

bool isViewerImage::getSliceSpacingVector(float out[3])
{
    if (!m_imageActor || !m_image || !m_image->isVolume())
        return false;
    isSliceInfo* slice = m_imageActor->getCurrentSliceInfo();
    if (!slice)
        return false;
    float spacing[3];
    m_image->getVoxelSpacing(spacing);
    const int axis = m_imageActor->getPlaneAxis();
    const float s = axis == PLANE_REFORMAT1 ? spacing[0] : axis == PLANE_REFORMAT2 ? spacing[1] : spacing[2];
    const cocos2d::Vec3 normal = column(slice->matrix, 2).getNormalized() * s;
    out[0] = normal.x;
    out[1] = normal.y;
    out[2] = normal.z;
    return true;
}

std::string isViewerImage::getCurrentFilePath()
{
    if (!m_imageActor)
        return std::string();
    isSliceInfo* slice = m_imageActor->getCurrentSliceInfo();
    return slice ? slice->filePath : std::string();
}

} // namespace isImageSDK
