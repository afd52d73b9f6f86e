#include "isActorVR.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "isActorManager.h"
#include "isCamera.h"
#include "isImageTypes.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace isImageSDK {

namespace {

constexpr const char* kPlaceholderImage = "imageSDK/spriteExample.png";
constexpr float kInteractiveScale = 0.1f;
constexpr float kInteractiveFrameMs = 30.0f;
constexpr float kBestFrameMs = 5000.0f;
constexpr float kMinimumWidth = 2.0f;

} // namespace

isActorVR* isActorVR::create()
{
    auto* actor = new isActorVR();
    if (!actor->init()) {
        delete actor;
        return nullptr;
    }
    actor->autorelease();
    return actor;
}

isActorVR::isActorVR() : m_interactive(std::make_unique<vrRayCaster>()), m_best(std::make_unique<vrRayCaster>())
{
    for (int i = 0; i < 256; ++i)
        m_colours[i * 3] = m_colours[i * 3 + 1] = m_colours[i * 3 + 2] = static_cast<unsigned char>(i);
}

isActorVR::~isActorVR()
{
    stopThreads();
    if (m_sprite)
        m_sprite->release();
    if (m_volume)
        m_volume->release();
}

bool isActorVR::init()
{
    if (!isActorObject::init())
        return false;
    m_sprite = cocos2d::Sprite::create(kPlaceholderImage);
    if (!m_sprite)
        m_sprite = cocos2d::Sprite::create();
    if (!m_sprite)
        return false;
    m_sprite->retain();
    m_sprite->setAnchorPoint(cocos2d::Vec2::ZERO);
    m_sprite->setPosition(cocos2d::Vec2::ZERO);
    m_sprite->setVisible(false);
    addChildNode(m_sprite);

    m_interactive->setRenderScale(kInteractiveScale);
    m_interactive->setTrilinear(false);
    m_interactive->setTargetFrameTime(kInteractiveFrameMs);
    m_best->setTrilinear(true);
    m_best->setTargetFrameTime(kBestFrameMs);
    // The best-quality frame is always full size, however long it takes.
    m_best->setRenderScale(1.0f);
    m_best->setAdaptiveScale(false);

    m_bestThread = new isVRThreadBest();
    m_bestThread->callback = [this](NSUI::NSThreadRequest* r) { onBestDone(r); };
    m_realTimeThread = new isVRThreadRT();
    m_realTimeThread->callback = [this](NSUI::NSThreadRequest* r) { onInteractiveDone(r); };
    return true;
}

void isActorVR::stopThreads()
{
    if (m_realTimeThread) {
        m_interactive->cancel();
        safeDestroy(m_realTimeThread);
        m_realTimeThread = nullptr;
    }
    if (m_bestThread) {
        m_best->cancel();
        safeDestroy(m_bestThread);
        m_bestThread = nullptr;
    }
}

void isActorVR::clear()
{
    stopThreads();
    isActorObject::clear();
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    if (m_sprite) {
        m_sprite->release();
        m_sprite = nullptr;
    }
    if (m_volume) {
        m_volume->release();
        m_volume = nullptr;
    }
}

void isActorVR::attachRenderWindow(isRenderWindowHost* window)
{
    isActorObject::attachRenderWindow(window);
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    centre->removeObserver(this);
    if (!m_renderWindow)
        return;
    centre->addObserver(
        this, getWindowContext(),
        [this](cocos2d::Ref*, unsigned int id, NSUI::NSNotificationData*) {
            if (id == NOTIFY_RENDER_WINDOW_UPDATED)
                refresh();
        },
        NOTIFY_RENDER_WINDOW_UPDATED);
}

void isActorVR::setVolume(isImageData* volume)
{
    if (volume == m_volume)
        return;
    if (!volume || volume->getSliceCount() < 1 || !volume->getVoxelPointer())
        return;
    const int type = volume->getPixelType();
    if (type != PIXEL_U8 && type != PIXEL_I16 && type != PIXEL_U16 && type != PIXEL_FLOAT)
        return;  // colour volumes are not volume-rendered
    // The descriptor is rewritten in place: no frame of the old volume may still be rendering.
    if (m_volume) {
        m_interactive->cancel();
        m_best->cancel();
        for (NSUI::NSThread* t : {static_cast<NSUI::NSThread*>(m_realTimeThread),
                                  static_cast<NSUI::NSThread*>(m_bestThread)}) {
            if (!t)
                continue;
            t->cancelQueuedRequests();
            while (!t->isIdle())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        m_volume->release();
    }
    volume->retain();
    m_volume = volume;
    m_descriptor.voxels = volume->getVoxelPointer();
    m_descriptor.pixelType = type;
    volume->getDimensions(m_descriptor.dimensions);
    volume->getVoxelSpacing(m_descriptor.spacing);
    std::memcpy(m_descriptor.matrix, volume->getVolumeMatrix().m, sizeof m_descriptor.matrix);
    m_descriptor.name = volume->getFileNames();
    m_descriptor.description = *volume->getInfoJson();
    ++m_volumeVersion;

    const isSliceInfo* first = volume->getSlices().front();
    setWindow(first->windowWidth, first->windowCenter);
    if (type == PIXEL_FLOAT && first->modality == MODALITY_PT)
        m_renderMode = RenderMIP;
}

void isActorVR::setColorTable(const unsigned char rgb[768])
{
    std::memcpy(m_colours, rgb, sizeof m_colours);
    ++m_colourVersion;
}

void isActorVR::setWindow(float width, float centre)
{
    m_windowWidth = width;
    m_windowCentre = centre;
    ++m_windowVersion;
}

void isActorVR::adjustWindowLevel(float deltaWidth, float deltaCentre)
{
    setWindow(std::max(m_windowWidth + deltaWidth, kMinimumWidth), m_windowCentre + deltaCentre);
}

void isActorVR::getWindow(float* width, float* centre) const
{
    if (width)
        *width = m_windowWidth;
    if (centre)
        *centre = m_windowCentre;
}

void isActorVR::setRenderMode(int mode)
{
    m_renderMode = mode;
}

isVRRequest* isActorVR::makeRequest(vrRayCaster* engine) const
{
    auto* r = new isVRRequest();
    r->autorelease();
    r->engine = engine;
    r->camera = m_camera;
    r->windowWidth = m_windowWidth;
    r->windowCentre = m_windowCentre;
    r->windowVersion = m_windowVersion;
    std::memcpy(r->colours, m_colours, sizeof r->colours);
    r->colourVersion = m_colourVersion;
    r->renderMode = m_renderMode;
    r->volume = m_volume ? &m_descriptor : nullptr;
    r->volumeVersion = m_volumeVersion;
    r->generation = m_generation;
    return r;
}

void isActorVR::refresh()
{
    if (!m_renderWindow || !isVisible() || !m_volume || !m_realTimeThread)
        return;
    isCamera* camera = m_renderWindow->getSceneCamera();
    if (!camera || !camera->isChanged())
        return;
    camera->setChanged(false);
    // The best-quality frame being made shows the old view: stop it and drop what waits.
    m_best->cancel();
    if (m_bestThread)
        m_bestThread->cancelQueuedRequests();
    ++m_generation;
    m_camera = vrRayCaster::snapshot(camera);
    if (m_realTimeThread->addRequest(makeRequest(m_interactive.get())))
        ++m_queuedInteractive;
}

void isActorVR::queueBestFrame()
{
    if (m_bestThread && m_volume && m_camera.valid)
        m_bestThread->addRequest(makeRequest(m_best.get()));
}

void isActorVR::showFrame(const vrFrameResult& frame)
{
    if (!m_sprite || frame.width < 1 || frame.height < 1)
        return;
    auto* texture = new cocos2d::Texture2D();
    if (!texture->initWithData(frame.pixels.data(), static_cast<ssize_t>(frame.pixels.size()),
                               cocos2d::Texture2D::PixelFormat::RGB888, frame.width, frame.height,
                               cocos2d::Size(static_cast<float>(frame.width), static_cast<float>(frame.height)))) {
        texture->release();
        return;
    }
    m_sprite->setTexture(texture);
    texture->release();
    m_sprite->setTextureRect(
        cocos2d::Rect(0, 0, static_cast<float>(frame.width), static_cast<float>(frame.height)));
    m_sprite->setScale(frame.displayScaleX, frame.displayScaleY);
}

void isActorVR::onInteractiveDone(NSUI::NSThreadRequest* request)
{
    auto* r = static_cast<isVRRequest*>(request);
    if (r->cancelled.load() || !r->result) {
        r->result.reset();
    } else {
        std::lock_guard<std::mutex> guard(m_textureLock);
        showFrame(*r->result);
        ++m_shownInteractive;
        if (isVisible() && m_sprite && !m_sprite->isVisible())
            m_sprite->setVisible(true);
        r->result.reset();
    }
    // The view has stopped moving: follow with a frame of the best quality.
    if (m_realTimeThread && m_realTimeThread->isIdle())
        queueBestFrame();
}

void isActorVR::onBestDone(NSUI::NSThreadRequest* request)
{
    auto* r = static_cast<isVRRequest*>(request);
    // A frame of a view that has moved on since it was queued is not shown.
    if (!r->cancelled.load() && r->result && r->result->width >= 1 && r->generation == m_generation) {
        std::lock_guard<std::mutex> guard(m_textureLock);
        showFrame(*r->result);
        ++m_shownBest;
    }
    r->result.reset();
}

void registerVolumeActorFactory()
{
    isActorManager::setVRActorFactory([]() -> isActorObject* { return new isActorVR(); });
}

} // namespace isImageSDK
