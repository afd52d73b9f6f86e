#include "isViewerVR.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "UIJson.h"
#include "isActorImage.h"
#include "isActorManager.h"
#include "isColourTable.h"
#include "isImageTypes.h"
#include "isInteractorTrackVR.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace isImageSDK {

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kCineInterval = 0.005f;
constexpr float kCineDelay = 0.1f;

bool isPetFloat(isImageData* image)
{
    return image && image->getPixelType() == PIXEL_FLOAT && image->getSliceCount() > 0 &&
           image->getSlices().front()->modality == MODALITY_PT;
}

// The orientation letter of a world direction for the patient position (its strongest one).
char letterOf(const cocos2d::Vec3& v, int headFeet, int posture)
{
    // Any direction across v serves as the column direction.
    cocos2d::Vec3 across = std::fabs(v.x) < 0.9f ? cocos2d::Vec3(1, 0, 0) : cocos2d::Vec3(0, 1, 0);
    across = across - v * v.dot(across);
    across.normalize();
    const float row[3] = {v.x, v.y, v.z}, column[3] = {across.x, across.y, across.z};
    char labels[4][3];
    getOrientationLabels(row, column, labels, headFeet, posture);
    return labels[1][0];
}

// World directions toward the patient's left, anterior and superior, taken from the volume's
// axes (the matrix columns) signed by their letters; an axis no column claims comes from the
// other two.
void patientAxes(const isImageData& image, cocos2d::Vec3* left, cocos2d::Vec3* anterior, cocos2d::Vec3* superior)
{
    const cocos2d::Mat4& m = image.getVolumeMatrix();
    bool found[3] = {false, false, false};
    cocos2d::Vec3 axes[3];
    for (int c = 0; c < 3; ++c) {
        cocos2d::Vec3 column(m.m[4 * c], m.m[4 * c + 1], m.m[4 * c + 2]);
        column.normalize();
        const char letter = letterOf(column, image.getHeadFeet(), image.getPosture());
        const char* positive = "LAS";
        const char* negative = "RPI";
        for (int a = 0; a < 3; ++a)
            if (!found[a] && (letter == positive[a] || letter == negative[a])) {
                axes[a] = letter == positive[a] ? column : -column;
                found[a] = true;
                break;
            }
    }
    // Left = anterior x superior for the patient's own right-handed frame.
    if (!found[0] && found[1] && found[2])
        cocos2d::Vec3::cross(axes[1], axes[2], &axes[0]);
    if (!found[1] && found[0] && found[2])
        cocos2d::Vec3::cross(axes[2], axes[0], &axes[1]);
    if (!found[2] && found[0] && found[1])
        cocos2d::Vec3::cross(axes[0], axes[1], &axes[2]);
    *left = axes[0];
    *anterior = axes[1];
    *superior = axes[2];
}

} // namespace

isViewerVR* isViewerVR::create()
{
    auto* viewer = new isViewerVR();
    if (!viewer->init()) {
        delete viewer;
        return nullptr;
    }
    viewer->autorelease();
    return viewer;
}

isViewerVR::~isViewerVR()
{
    CC_SAFE_RELEASE_NULL(m_actor);
}

bool isViewerVR::init()
{
    if (!isViewerVolume::init())
        return false;
    m_kind = VIEW_NONE;
    m_linked = true;
    m_cineFrames = kCineFrames;
    m_ticksPerFrame = kTicksPerFrame;
    m_cineRunning = 0;
    m_tickCounter = 0;
    // The volume is seen in perspective.
    m_sceneCamera->setPerspective(true);
    reproject();
    return true;
}

void isViewerVR::cleanup()
{
    stopCine();
    isRenderWindow::cleanup();
    CC_SAFE_RELEASE_NULL(m_actor);
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->postUIntNotification(NOTIFY_VIEWER_CLOSED, getRefID());
}

void isViewerVR::collectNotificationIds(std::vector<unsigned int>& ids)
{
    isRenderWindow::collectNotificationIds(ids);
    for (unsigned int id : {NOTIFY_VIEW_WINDOW_LEVEL, NOTIFY_VIEW_WINDOW_LEVEL_END, NOTIFY_TOOL_ROTATE,
                            NOTIFY_TOOL_WINDOW_LEVEL, NOTIFY_VIEW_PAN, NOTIFY_VIEW_ZOOM, NOTIFY_VIEW_ACTIVATE})
        ids.push_back(id);
}

std::string isViewerVR::getFilePath()
{
    if (!m_image || m_image->getSliceCount() < 1)
        return std::string();
    return m_image->getSlices().front()->filePath;
}

void isViewerVR::markChanged()
{
    if (m_sceneCamera)
        m_sceneCamera->setChanged(true);
}

void isViewerVR::setImageData(isImageData* volume)
{
    if (volume == m_image)
        return;
    CC_SAFE_RELEASE_NULL(m_actor);
    isRenderWindow::setImageData(volume);
    if (!m_image || !m_actorManager)
        return;
    m_actor = dynamic_cast<isActorVR*>(m_actorManager->getVRActor());
    if (!m_actor)
        return;
    m_actor->retain();
    m_actor->setVolume(m_image);
    if (isPetFloat(m_image)) {
        unsigned char table[768];
        greyRamp(table, true);
        m_actor->setColorTable(table);
    }
    setViewDirection(3);
    if (!m_actor->isVisible())
        m_actor->setVisible(true);
}

void isViewerVR::setWindowLevel(float width, float centre)
{
    if (!m_actor)
        return;
    m_actor->setWindow(width, centre);
    markChanged();
}

bool isViewerVR::getWindowLevel(float& width, float& centre)
{
    if (!m_image || !m_actor)
        return false;
    m_actor->getWindow(&width, &centre);
    return true;
}

void isViewerVR::setColourTable(const unsigned char rgb[768])
{
    if (!m_actor)
        return;
    m_actor->setColorTable(rgb);
    markChanged();
}

bool isViewerVR::setInteractorMode(int mode)
{
    auto* trackBall = dynamic_cast<isInteractorTrackVR*>(m_interactor);
    if (!trackBall)
        return false;
    trackBall->setMode(mode);
    return true;
}

void isViewerVR::showVolumeRendering()
{
    if (m_kind != VIEW_VR)
        setKind(VIEW_VR);
    if (!dynamic_cast<isInteractorTrackVR*>(m_interactor))
        setInteractor(isInteractorTrackVR::create());
    // A PET volume stays in maximum intensity.
    if (m_actor && !isPetFloat(m_image))
        m_actor->setRenderMode(RenderComposite);
    markChanged();
}

void isViewerVR::showMIP()
{
    if (m_kind != VIEW_MIP)
        setKind(VIEW_MIP);
    if (!dynamic_cast<isInteractorTrackVR*>(m_interactor))
        setInteractor(isInteractorTrackVR::create());
    if (m_actor)
        m_actor->setRenderMode(RenderMIP);
    markChanged();
}

void isViewerVR::setViewDirection(int direction)
{
    if (!m_image || m_image->getSliceCount() < 1)
        return;
    if (direction < 1 || direction > 6)
        direction = 3;
    int dims[3];
    float spacing[3];
    m_image->getDimensions(dims);
    m_image->getVoxelSpacing(spacing);
    const cocos2d::Mat4& m = m_image->getVolumeMatrix();
    cocos2d::Vec3 centre((dims[0] - 1) * 0.5f * spacing[0], (dims[1] - 1) * 0.5f * spacing[1],
                         (dims[2] - 1) * 0.5f * spacing[2]);
    m.transformPoint(&centre);
    cocos2d::Vec3 left, anterior, superior;
    patientAxes(*m_image, &left, &anterior, &superior);

    // Far enough for the sphere around the volume to fit the narrower field of view, and in
    // front of the near plane.
    double extent = 0.0;
    for (int a = 0; a < 3; ++a)
        extent += std::pow((dims[a] - 1) * static_cast<double>(spacing[a]), 2.0);
    const double radius = 0.5 * std::sqrt(extent);
    const cocos2d::Size size = getContentSize();
    const double aspect = size.height > 0.0f ? size.width / size.height : 1.0;
    const double halfVertical = kFieldOfView * 0.5 * kPi / 180.0;
    const double halfAngle = std::min(halfVertical, std::atan(std::tan(halfVertical) * aspect));
    double distance = radius / std::sin(std::max(halfAngle, 0.05));
    distance = std::clamp(distance, radius + kNearPlane + 1.0, std::max(radius + kNearPlane + 1.0, kFarPlane - radius - 1.0));

    cocos2d::Vec3 eye, up;
    if (direction <= 2) {  // axial: from the feet, anterior up
        eye = centre - superior * static_cast<float>(distance);
        up = anterior;
    } else if (direction <= 4) {  // coronal: from the front, head up
        eye = centre + anterior * static_cast<float>(distance);
        up = superior;
    } else {  // sagittal: from the left, head up
        eye = centre + left * static_cast<float>(distance);
        up = superior;
    }
    setCameraPosition(eye);
    lookAt(centre, up);
    setReferenceZoom(static_cast<float>(distance));
    if (direction == 1 || direction == 4 || direction == 5)
        orbitY(kPi);
    markChanged();
}

void isViewerVR::applyClut(const std::string& name)
{
    unsigned char table[768];
    if (readColourTable(name, table))
        setColourTable(table);
}

bool isViewerVR::screenToWorld(const cocos2d::Vec2& window, cocos2d::Vec3& world)
{
    cocos2d::Vec3 target;
    m_sceneCamera->worldToScreen(m_sceneCamera->getLookAtTarget(), &target);
    m_sceneCamera->screenToWorld(cocos2d::Vec3(window.x, window.y, target.z), &world);
    return true;
}

std::string isViewerVR::cineKey() const
{
    char key[32];
    std::snprintf(key, sizeof key, "vrmip:%u", getRefID());
    return key;
}

void isViewerVR::stopCine()
{
    m_cineRunning = 0;
    cocos2d::Director::getInstance()->getScheduler()->unschedule(cineKey(), this);
}

void isViewerVR::toggleCine()
{
    if (m_cineRunning) {
        stopCine();
    } else if (m_image && m_image->getSliceCount() >= 2) {
        m_cineRunning = 1;
        m_cineFrame = 0;
        m_tickCounter = 0;
        cocos2d::Director::getInstance()->getScheduler()->schedule([this](float) { cineTick(); }, this, kCineInterval,
                                                                    CC_REPEAT_FOREVER, kCineDelay, false, cineKey());
    }
    NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
    data->intValue = m_cineRunning;
    NSUI::NSNotificationCenter::getInstance()->postNotification(this, NOTIFY_CINE_STATE, data,
                                                                m_ownerContext ? m_ownerContext : m_owner, true);
}

void isViewerVR::cineTick()
{
    if (!m_cineRunning || !m_image || m_cineFrames < 2)
        return;
    if (m_tickCounter % m_ticksPerFrame == 0) {
        m_cineFrame = m_cineFrame + 1 >= m_cineFrames ? 0 : m_cineFrame + 1;
        orbitY(-kCineStep);
        markChanged();
    }
    ++m_tickCounter;
}

void isViewerVR::maximise(NSUI::NSNotificationData* data)
{
    if (!data)
        return;
    // Leaves the saved rectangle for `position` and `size`, or comes back to it.
    auto toggle = [this](const cocos2d::Vec2& position, const cocos2d::Size& size) {
        if (m_hidden) {
            m_hidden = 0;
            setPosition(m_savedPosition);
            setContentSize(m_savedSize);
        } else {
            m_savedPosition = getPosition();
            m_savedSize = getContentSize();
            m_hidden = 1;
            setPosition(position);
            setContentSize(size);
        }
    };
    if (data->uintValue != getRefID()) {
        // Another window is maximised: park off screen, or come back; no frame while parked.
        toggle(cocos2d::Vec2(kParkedPosition, kParkedPosition), cocos2d::Size(kParkedSize, kParkedSize));
        if (m_sceneCamera)
            m_sceneCamera->setChanged(false);
        return;
    }
    const cocos2d::Vec2 parent = getParent() ? getParent()->getPosition() : cocos2d::Vec2::ZERO;
    toggle(-parent, cocos2d::Size(NSUI::UIJson::getFloat(data->text, "w", getContentSize().width),
                                  NSUI::UIJson::getFloat(data->text, "h", getContentSize().height)));
    // The same view on the new rectangle.
    float state[17];
    getCameraState(state);
    setCameraPosition(cocos2d::Vec3(state[3], state[4], state[5]));
    lookAt(cocos2d::Vec3(state[0], state[1], state[2]), cocos2d::Vec3(state[6], state[7], state[8]));
    reproject();
    markChanged();
    NSUI::NSNotificationData* answer = NSUI::NSNotificationData::create();
    answer->intValue = m_hidden;
    answer->setObject(this);
    NSUI::NSNotificationCenter::getInstance()->postNotification(this, NOTIFY_WINDOW_MAXIMIZED, answer, nullptr, false);
}

void isViewerVR::onNotification(unsigned int id, NSUI::NSNotificationData* data, cocos2d::Ref* sender)
{
    if (id < NOTIFY_VIEW_ANGLE || id > NOTIFY_FAVORITE_ADD_VIEW) {
        isRenderWindow::onNotification(id, data, sender);
        return;
    }
    switch (id) {
    case NOTIFY_VIEW_ANGLE:
        if (!m_cineRunning && data) {
            orbitY(data->floatValue);
            markChanged();
        }
        return;
    case NOTIFY_WL_DEFAULT:
        if (m_image && m_image->getSliceCount() > 0)
            setWindowLevel(m_image->getSlices().front()->windowWidth, m_image->getSlices().front()->windowCenter);
        return;
    case NOTIFY_WL_SET:
        if (data)
            setWindowLevel(NSUI::UIJson::getFloat(data->text, "ww", 0.0f), NSUI::UIJson::getFloat(data->text, "wl", 0.0f));
        return;
    case NOTIFY_CLUT_SET:
        if (data)
            applyClut(data->text);
        return;
    case NOTIFY_TOOL_WINDOW_LEVEL:
        setInteractorMode(MODE_WINDOW_LEVEL);
        return;
    case NOTIFY_TOOL_ZOOM:
        setInteractorMode(MODE_ZOOM);
        return;
    case NOTIFY_TOOL_PAN:
        setInteractorMode(MODE_PAN);
        return;
    case NOTIFY_TOOL_ROTATE:
        setInteractorMode(MODE_ROTATE);
        return;
    case NOTIFY_CINE_PLAY_TOGGLE:
        toggleCine();
        return;
    case NOTIFY_CINE_PRIOR:
        if (!m_cineRunning) {
            m_cineFrame = m_cineFrame == 0 ? m_cineFrames - 1 : m_cineFrame - 1;
            orbitY(kCineStep);
            markChanged();
        } else {
            m_ticksPerFrame = std::min(m_ticksPerFrame + 20, 120);
            m_tickCounter = 0;
        }
        return;
    case NOTIFY_CINE_NEXT:
        if (!m_cineRunning) {
            m_cineFrame = m_cineFrame + 1 >= m_cineFrames ? 0 : m_cineFrame + 1;
            orbitY(-kCineStep);
            markChanged();
        } else {
            m_ticksPerFrame = std::max(m_ticksPerFrame - 20, 5);
            m_tickCounter = 0;
        }
        return;
    case NOTIFY_VR_ORIENT:
        if (data)
            setViewDirection(data->intValue);
        return;
    case NOTIFY_VIEW_PAN: {
        const cocos2d::Vec2 d = payloadXY(data);
        panBy(d.x, d.y);
        markChanged();
        return;
    }
    case NOTIFY_VIEW_ZOOM:
        if (data) {
            zoomBy(data->floatValue);
            markChanged();
        }
        return;
    case NOTIFY_VIEW_WINDOW_LEVEL:
        if (m_actor && data) {
            m_actor->adjustWindowLevel(NSUI::UIJson::getFloat(data->text, "ww", 0.0f),
                                       NSUI::UIJson::getFloat(data->text, "wl", 0.0f));
            // A drag changes the picture, not the view: render anyway.
            markChanged();
        }
        return;
    case NOTIFY_VIEW_ACTIVATE:
        if (m_owner && sender != m_owner) {
            m_active = true;
            postToOwner(id, data, true);
            // The screen that lays its quick tools along the active window listens with context 0.
            NSUI::NSNotificationData* activated = NSUI::NSNotificationData::create();
            activated->setObject(this);
            NSUI::NSNotificationCenter::getInstance()->postNotification(this, NOTIFY_VIEW_ACTIVATED, activated,
                                                                        nullptr, false);
        } else {
            m_active = false;
        }
        return;
    case NOTIFY_WINDOW_MAXIMIZE:
        maximise(data);
        return;
    case NOTIFY_FAVORITE_ADD_VIEW:
        return;
    default:
        isRenderWindow::onNotification(id, data, sender);
        return;
    }
}

void registerVolumeRendering()
{
    registerVolumeActorFactory();
    isViewerVolume::setFactory([]() -> isViewerVolume* { return isViewerVR::create(); });
}

} // namespace isImageSDK
