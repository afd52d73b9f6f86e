#include "isNodeImage.h"

#include "isClut.h"
#include "isFilterObject.h"
#include "isImageData.h"
#include "isSliceInfo.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"

#include <algorithm>

namespace isImageSDK {

namespace {

// Scheduler key of the playback tick.
const char* const kPlaybackKey = "isNodeImage.framePlayback";
constexpr float kPlaybackInterval = 0.005f;
constexpr float kPlaybackDelay = 0.1f;
constexpr int kDefaultTicksPerFrame = 60;
constexpr int kMinTicksPerFrame = 5;
constexpr int kMaxTicksPerFrame = 120;
constexpr int kTicksPerFrameStep = 20;
// The scale that hides a node whose record has no pixels yet.
constexpr float kHiddenScale = 0.0001f;

} // namespace

isNodeImage::~isNodeImage()
{
    // A node freed without cleanup (never added to a scene) must leave nothing behind.
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    dropRecord();
    CC_SAFE_RELEASE_NULL(m_clut);
    CC_SAFE_RELEASE_NULL(m_sourceFilter);
}

bool isNodeImage::init()
{
    if (!isNodeSprite::init())
        return false;
    m_textureDirty = m_sourceDirty = m_frameAdvanced = m_playing = false;
    m_frameIndex = 0;
    m_tickCount = 0;
    m_ticksPerFrame = kDefaultTicksPerFrame;
    setFlipY(true);
    setOriginTexel(cocos2d::Vec2(0.5f, 0.5f));
    return true;
}

void isNodeImage::setRenderWindow(void* window)
{
    if (window == m_renderWindow)
        return;
    auto* centre = NSUI::NSNotificationCenter::getInstance();
    centre->removeObserver(this);
    m_renderWindow = window;
    const auto callback = [this](cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
        onFrameNotification(sender, id, data);
    };
    for (unsigned int id : {NOTIFY_FRAME_PLAY_TOGGLE, NOTIFY_FRAME_PRIOR, NOTIFY_FRAME_NEXT})
        centre->addObserver(this, window, callback, id);
}

void isNodeImage::setClut(isClut* clut)
{
    if (clut)
        clut->retain();
    CC_SAFE_RELEASE(m_clut);
    m_clut = clut;
    if (m_clut)
        m_clut->setAutoUpdate(false);
}

void isNodeImage::setSourceFilter(isFilterObject* source)
{
    if (source)
        source->retain();
    CC_SAFE_RELEASE(m_sourceFilter);
    m_sourceFilter = source;
}

isImageData* isNodeImage::sourceOutput() const
{
    return m_sourceFilter ? dynamic_cast<isImageData*>(m_sourceFilter->getOutput()) : nullptr;
}

void isNodeImage::dropRecord()
{
    m_frameRecord = nullptr;
    CC_SAFE_RELEASE_NULL(m_recordImage);
    m_recordGeneration = 0;
}

void isNodeImage::adoptRecord(isSliceInfo* record)
{
    isImageData* image = nullptr;
    if (record) {
        // Where the record comes from, so that a rebuild of its image is noticed. A record the
        // caller holds from elsewhere cannot be checked.
        isImageData* output = sourceOutput();
        if (output && !output->getSlices().empty() && output->getSlices().front() == record)
            image = output;
        else if (m_recordImage && !m_recordImage->getSlices().empty() && m_recordImage->getSlices().front() == record)
            image = m_recordImage;
    }
    const bool sameRecord = record == m_frameRecord && image == m_recordImage &&
                            (!image || image->getGeneration() == m_recordGeneration);
    if (!sameRecord || !record || m_frameIndex >= record->frames)
        m_frameIndex = 0;
    if (image)
        image->retain();
    CC_SAFE_RELEASE(m_recordImage);
    m_recordImage = image;
    m_recordGeneration = image ? image->getGeneration() : 0;
    m_frameRecord = record;
}

isSliceInfo* isNodeImage::getFrameRecord()
{
    if (m_recordImage && m_recordImage->getGeneration() != m_recordGeneration) {
        // The records were freed or rebuilt since this one was taken: take the first record of
        // the source's output (or of the same image) as it stands now, and show it at the next
        // visit.
        isImageData* image = sourceOutput();
        if (!image)
            image = m_recordImage;
        isSliceInfo* fresh = image->getSlices().empty() ? nullptr : image->getSlices().front();
        m_frameRecord = nullptr;  // never compared with, nor read: it may be freed
        adoptRecord(fresh);
        m_textureDirty = true;
    }
    return m_frameRecord;
}

cocos2d::Texture2D* isNodeImage::updateTexture()
{
    isSliceInfo* record = getFrameRecord();
    const unsigned char* rgb = m_painter.paintRGB(record, m_frameIndex, m_clut);
    if (!rgb)
        return nullptr;
    auto* texture = new (std::nothrow) cocos2d::Texture2D();
    if (!texture)
        return nullptr;
    const int width = record->columns, height = record->rows;
    const ssize_t length = static_cast<ssize_t>(width) * height * 3;
    if (!texture->initWithData(rgb, length, cocos2d::Texture2D::PixelFormat::RGB888, width, height,
                               cocos2d::Size(static_cast<float>(width), static_cast<float>(height)))) {
        texture->release();
        return nullptr;
    }
    texture->autorelease();
    return texture;
}

void isNodeImage::showTexture(cocos2d::Texture2D* texture, const isSliceInfo* record)
{
    setTexture(texture);
    setTextureRect(cocos2d::Rect(0, 0, static_cast<float>(texture->getPixelsWide()),
                                 static_cast<float>(texture->getPixelsHigh())));
    if (record) {
        setScaleX(record->spacingX);
        setScaleY(record->spacingY);
        setNodeMatrix(record->matrix);
    }
}

void isNodeImage::refreshTexture()
{
    if (cocos2d::Texture2D* texture = updateTexture())
        showTexture(texture, nullptr);
}

void isNodeImage::setImage(isSliceInfo* record)
{
    adoptRecord(record);
    if (record) {
        if (record->pixelsLoaded) {
            cocos2d::Texture2D* texture = updateTexture();
            if (!texture)
                return;
            showTexture(texture, record);
        } else {
            setScale(kHiddenScale, kHiddenScale);
        }
    }
    stopFramePlayback();
    if (record)
        postFrameButtons(record);
}

void isNodeImage::postFrameButtons(const isSliceInfo* record)
{
    auto* centre = NSUI::NSNotificationCenter::getInstance();
    const int several = record->frames > 1 ? 1 : 0;
    for (unsigned int id :
         {NOTIFY_FRAME_PLAY_BUTTON_VISIBLE, NOTIFY_FRAME_PRIOR_BUTTON_VISIBLE, NOTIFY_FRAME_NEXT_BUTTON_VISIBLE})
        centre->postIntNotification(this, id, several, m_renderWindow, true);
}

void isNodeImage::postPlayState(bool playing)
{
    NSUI::NSNotificationCenter::getInstance()->postIntNotification(this, NOTIFY_FRAME_PLAY_STATE, playing ? 1 : 0,
                                                                   m_renderWindow, true);
}

void isNodeImage::visit(cocos2d::Renderer* renderer, const cocos2d::Mat4& parentTransform, uint32_t parentFlags)
{
    if (!isVisible() || !isVisitableByVisitingCamera())
        return;
    getFrameRecord();  // notices a rebuilt image before anything reads the record
    if (m_sourceFilter &&
        (m_sourceDirty || m_sourceFilter->isInformationModified() || m_sourceFilter->isDataModified())) {
        m_sourceFilter->update();
        isImageData* output = sourceOutput();
        isSliceInfo* record = nullptr;
        if (output) {
            output->update();
            record = output->getSlices().empty() ? nullptr : output->getSlices().front();
        }
        m_sourceDirty = false;
        m_textureDirty = false;
        if (record && m_paintHook)
            m_paintHook(*record);
        setImage(record);
    } else if (m_textureDirty) {
        m_textureDirty = false;
        isSliceInfo* record = getFrameRecord();
        if (record && m_paintHook)
            m_paintHook(*record);
        setImage(record);
    }
    m_frameAdvanced = false;
    isNodeSprite::visit(renderer, parentTransform, parentFlags);
}

void isNodeImage::cleanup()
{
    isNodeSprite::cleanup();
    unschedule(kPlaybackKey);
    m_playing = false;
    // peek: a node cleaned up while the program shuts down must not bring the centre back.
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    dropRecord();
    CC_SAFE_RELEASE_NULL(m_clut);
    CC_SAFE_RELEASE_NULL(m_sourceFilter);
    m_painter.releaseBuffers();
}

void isNodeImage::onFrameNotification(cocos2d::Ref*, unsigned int id, NSUI::NSNotificationData*)
{
    isSliceInfo* record = getFrameRecord();
    const bool loaded = record && record->pixelsLoaded;
    if (id == NOTIFY_FRAME_PLAY_TOGGLE) {
        if (m_playing) {
            m_playing = false;
            unschedule(kPlaybackKey);
        } else {
            // Without a loaded record there is nothing to play, and nothing to announce.
            if (!loaded)
                return;
            if (record->frames >= 2) {
                m_playing = true;
                m_tickCount = 0;
                schedule([this](float dt) { framePlaybackTick(dt); }, kPlaybackInterval, CC_REPEAT_FOREVER,
                         kPlaybackDelay, kPlaybackKey);
            }
        }
        postPlayState(m_playing);
        return;
    }
    if (!loaded || (id != NOTIFY_FRAME_PRIOR && id != NOTIFY_FRAME_NEXT))
        return;
    const bool prior = id == NOTIFY_FRAME_PRIOR;
    if (m_playing) {
        // Prior slows the playback down, next speeds it up.
        m_ticksPerFrame = prior ? std::min(kMaxTicksPerFrame, m_ticksPerFrame + kTicksPerFrameStep)
                                : std::max(kMinTicksPerFrame, m_ticksPerFrame - kTicksPerFrameStep);
        m_tickCount = 0;
        return;
    }
    const int frames = std::max<int>(record->frames, 1);
    m_frameIndex = prior ? (m_frameIndex <= 0 ? frames - 1 : m_frameIndex - 1)
                         : (m_frameIndex + 1 >= frames ? 0 : m_frameIndex + 1);
    refreshTexture();
    m_frameAdvanced = true;
}

void isNodeImage::framePlaybackTick(float)
{
    if (!m_playing)
        return;
    isSliceInfo* record = getFrameRecord();
    if (record && record->pixelsLoaded && record->frames > 1 && !m_frameAdvanced && m_tickCount % m_ticksPerFrame == 0) {
        m_frameIndex = m_frameIndex + 1 >= record->frames ? 0 : m_frameIndex + 1;
        refreshTexture();
        m_frameAdvanced = true;
    }
    // Counting modulo ticksPerFrame keeps "a multiple of ticksPerFrame" exact and never
    // overflows, however long a cine runs.
    m_tickCount = (m_tickCount + 1) % m_ticksPerFrame;
}

void isNodeImage::stopFramePlayback()
{
    m_frameIndex = 0;
    if (m_playing) {
        m_playing = false;
        unschedule(kPlaybackKey);
        postPlayState(false);
    }
}

} // namespace isImageSDK
