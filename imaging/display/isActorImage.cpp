#include "isActorImage.h"

#include "isNodeImageByShader.h"
#include "isROIStatistics.h"
#include "isWorkerPool.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "NSStringUtil.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

namespace isImageSDK {

namespace {

const char* const kPlaceholderTexture = "imageSDK/spriteExample.png";

// Letters of the positive and negative direction of each world axis (2k and 2k + 1), by
// head-first (0), feet-first (any other) or unrecognised (2) position and posture 0 to 3.
const char* letterTable(int headFeet, int posture)
{
    static const char* const kHeadFirst[4] = {"LRSIAP", "RLSIPA", "PASILR", "APSIRL"};
    static const char* const kFeetFirst[4] = {"RLISAP", "LRISPA", "APISLR", "PAISRL"};
    if (headFeet == 2)
        return "LRSIAP";
    const int p = posture >= 0 && posture <= 3 ? posture : 0;
    return headFeet == 0 ? kHeadFirst[p] : kFeetFirst[p];
}

// The letters of one direction: its own edge gets the letter of the direction, the opposite
// edge the other one; the largest component first, the second as a second letter.
void describe(const float v[3], const char* letters, char* own, char* opposite, float* magnitudes)
{
    float c[3];
    int order[3] = {0, 1, 2};
    for (int k = 0; k < 3; ++k) {
        c[k] = std::fabs(v[k]) < 1e-5f ? 0.0f : v[k];
        magnitudes[k] = std::fabs(c[k]);
    }
    std::stable_sort(order, order + 3, [&](int a, int b) { return std::fabs(c[a]) > std::fabs(c[b]); });
    for (int rank = 0; rank < 2; ++rank) {
        const int k = order[rank];
        if (c[k] == 0.0f)
            break;
        own[rank] = letters[c[k] > 0 ? 2 * k : 2 * k + 1];
        opposite[rank] = letters[c[k] > 0 ? 2 * k + 1 : 2 * k];
    }
    std::sort(magnitudes, magnitudes + 3, [](float a, float b) { return a > b; });
}

void releaseField(cocos2d::Ref* field)
{
    if (field)
        field->release();
}

} // namespace

void getOrientationLabels(const float rowDir[3], const float colDir[3], char out[4][3], int headFeet, int posture)
{
    std::memset(out, 0, 4 * 3);
    const char* letters = letterTable(headFeet, posture);
    const float up[3] = {-colDir[0], -colDir[1], -colDir[2]};
    float magnitudes[3];
    describe(up, letters, out[0], out[2], magnitudes);
    describe(rowDir, letters, out[1], out[3], magnitudes);
    // A row direction halfway between two axes could repeat the top or bottom letter first.
    if (magnitudes[0] - magnitudes[1] < 1e-5f && (out[1][0] == out[0][0] || out[1][0] == out[2][0])) {
        std::swap(out[1][0], out[1][1]);
        std::swap(out[3][0], out[3][1]);
    }
}

void reorientForPatientPosition(const isSliceInfo* record, float v[3])
{
    const float x = v[0], y = v[1], z = v[2];
    // An unrecognised position (2) is shown as head first supine, so its positions read so too.
    const int headFeet = record->headFeet == 2 ? 0 : record->headFeet;
    const int posture = record->headFeet == 2 ? 0 : record->posture;
    float r[3];
    if (headFeet == 0) {
        switch (posture) {
        case 1: r[0] = -x; r[1] = z; r[2] = y; break;
        case 2: r[0] = z; r[1] = x; r[2] = y; break;
        case 3: r[0] = -z; r[1] = -x; r[2] = y; break;
        default: r[0] = x; r[1] = -z; r[2] = y; break;
        }
    } else {
        switch (posture) {
        case 1: r[0] = x; r[1] = z; r[2] = -y; break;
        case 2: r[0] = z; r[1] = -x; r[2] = -y; break;
        case 3: r[0] = -z; r[1] = x; r[2] = -y; break;
        default: r[0] = -x; r[1] = -z; r[2] = -y; break;
        }
    }
    v[0] = r[0];
    v[1] = r[1];
    v[2] = r[2];
}

isActorImage* isActorImage::create()
{
    return createAutoreleased<isActorImage>();
}

isActorImage::~isActorImage()
{
    isActorImage::clear();
}

bool isActorImage::init()
{
    if (!isActorObject::init())
        return false;
    setTag(-1);
    setName("");
    isNodeImage* node = nullptr;
    if (isNodeImageByShader::isShaderAvailable())
        node = isNodeImageByShader::create();
    if (!node)
        node = isNodeImage::create();
    if (!node)
        return false;
    m_imageNode = node;
    m_imageNode->retain();
    m_imageNode->setTexture(kPlaceholderTexture);
    m_imageNode->setAnchorPoint(cocos2d::Vec2::ANCHOR_BOTTOM_LEFT);
    addSceneNode(m_imageNode);

    m_sliceIndex = 0;
    m_image = nullptr;
    m_clut = isClut::create();
    m_sliceFilter = isImageSlice::create();
    m_reslice = isImageReslice2D::create();
    m_plane = isImagePlane::create();
    if (!m_clut || !m_sliceFilter || !m_reslice || !m_plane)
        return false;
    for (cocos2d::Ref* object : {static_cast<cocos2d::Ref*>(m_clut), static_cast<cocos2d::Ref*>(m_sliceFilter),
                                 static_cast<cocos2d::Ref*>(m_reslice), static_cast<cocos2d::Ref*>(m_plane)})
        object->retain();
    m_imageNode->setClut(m_clut);
    m_slabThickness = 1.0f;
    m_slabMode = SLAB_MAX;
    m_sliceFilter->setInput(m_plane->getOutput());
    m_planeMode = true;
    m_imageNode->setSourceFilter(m_sliceFilter);
    m_imageNode->setPaintHook([this](const isSliceInfo& record) {
        if (m_windowFromRange)
            applyWindowFromRange(&record);
    });
    m_postingEnabled = true;
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        this, this,
        [this](cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
            onNotification(sender, id, data);
        },
        NOTIFY_SLICE_LOADED);
    return true;
}

void isActorImage::clear()
{
    isActorObject::clear();
    if (NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    releaseField(m_sliceFilter);
    m_sliceFilter = nullptr;
    if (m_imageNode)
        m_imageNode->setPaintHook(nullptr);
    releaseField(m_imageNode);
    m_imageNode = nullptr;
    releaseField(m_image);
    m_image = nullptr;
    releaseField(m_reslice);
    m_reslice = nullptr;
    releaseField(m_plane);
    m_plane = nullptr;
    releaseField(m_clut);
    m_clut = nullptr;
}

void isActorImage::attachRenderWindow(isRenderWindowHost* window)
{
    isActorObject::attachRenderWindow(window);
    void* context = window ? window->getNotificationContext() : nullptr;
    if (m_clut)
        m_clut->setContext(context);
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    centre->removeObserverForId(NOTIFY_ROI_CHANGED, this);
    auto callback = [this](cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
        onNotification(sender, id, data);
    };
    if (window) {
        centre->addObserver(this, context, callback, NOTIFY_ROI_CHANGED);
        centre->addObserver(this, nullptr, callback, NOTIFY_LOAD_PROGRESS);
    }
    if (m_imageNode)
        m_imageNode->setRenderWindow(context);
}

void isActorImage::setVisible(bool visible)
{
    isActorObject::setVisible(visible);
    if (m_imageNode)
        m_imageNode->setVisible(visible);
}

void isActorImage::setImageData(isImageData* image)
{
    if (image == m_image || !m_plane)
        return;
    if (image)
        image->retain();
    releaseField(m_image);
    m_image = image;
    m_plane->setInput(nullptr);
    m_reslice->setInput(nullptr);
    // Back to the plane filter whatever was shown before (an oblique plane included).
    m_planeMode = true;
    m_plane->setInput(m_image);
    m_sliceFilter->setInput(m_plane->getOutput());
    m_windowFromRange = false;
    m_rangeTaken = false;
    if (m_image) {
        if (const isSliceInfo* first = m_image->getSlice(0)) {
            // The table takes the image's type first: a float window keeps its fractions, and a
            // colour image's corner claims no window.
            fitClutToPixelType(m_clut, first->pixelType);
            m_clut->setWindow(first->windowWidth, first->windowCenter);
            // The 8-bit default window is of no use to deeper samples: such an image starts from
            // the range of the first slice shown, all its frames. PET keeps its own default. A window without
            // width (kept so by older series caches) is no window either.
            const bool fileWindow = first->windowPresent && first->windowWidth > 0.0f;
            m_windowFromRange = !fileWindow && first->modality != MODALITY_PT &&
                                (first->pixelType == PIXEL_I16 || first->pixelType == PIXEL_U16 ||
                                 first->pixelType == PIXEL_FLOAT);
        }
    }
    m_rangeDefault = m_windowFromRange;
    m_sliceIndex = 0;
    if (m_image) {
        setOrientationAcquired();
        setSliceIndex(std::max(0, m_plane->getSliceCount() / 2));
    }
    std::string json;
    setInt(json, "orient", 1);
    postJson(NOTIFY_IMAGE_ORIENT_CHANGED, json, true);
}

void isActorImage::setSliceIndex(int index)
{
    if (!m_image) {
        setVisible(false);
        return;
    }
    if (!m_planeMode)
        return;
    m_sliceIndex = index;
    const int count = m_plane->getSliceCount();
    if (index < 0 || index >= count) {
        setVisible(false);
        // The window's measurements and the measurement being drawn follow it to no slice.
        std::string json;
        setInt(json, "index", m_sliceIndex + 1);
        postJson(NOTIFY_IMAGE_SLICE_CHANGED, json, true);
        return;
    }
    if (m_plane->getIndex() != index) {
        m_plane->setIndex(index);
        m_plane->setModified();
    }
    setVisible(true);

    isImageData* output = m_plane->getOutputData();
    output->update();
    if (isSliceInfo* record = output->getSlice(0)) {
        if (record->pixelsLoaded == 0) {
            // Ask the reader at the head of the pipeline for this slice first; it answers 9109.
            isFilterObject* head = m_plane->getInputData();
            while (head && head->getProducer())
                head = head->getProducer();
            if (head && head->isReader())
                if (auto* reader = dynamic_cast<isImageFilter*>(head))
                    reader->prioritizeFile(this, record->filePath);
        }
        const float rowDir[3] = {record->matrix.m[0], record->matrix.m[1], record->matrix.m[2]};
        const float colDir[3] = {record->matrix.m[4], record->matrix.m[5], record->matrix.m[6]};
        char labels[4][3];
        getOrientationLabels(rowDir, colDir, labels, record->headFeet, record->posture);
        const int kind = labels[0][0] + labels[1][0] + labels[2][0] + labels[3][0];
        float p[3] = {record->matrix.m[12], record->matrix.m[13], record->matrix.m[14]};
        reorientForPatientPosition(record, p);
        char text[64] = "";
        if (kind == 303)
            std::snprintf(text, sizeof text, p[2] > 0 ? "S:%.1fmm" : "I:%.1fmm", double(std::fabs(p[2])));
        else if (kind == 301)
            std::snprintf(text, sizeof text, p[0] > 0 ? "L:%.1fmm" : "R:%.1fmm", double(std::fabs(p[0])));
        else if (kind == 314)
            std::snprintf(text, sizeof text, p[1] > 0 ? "P:%.1fmm" : "A:%.1fmm", double(std::fabs(p[1])));
        m_sliceLabel = text;
        NSUI::NSNotificationCenter::getInstance()->postStringNotification(this, NOTIFY_OVERLAY_SLICE_POSITION,
                                                                          m_sliceLabel, getWindowContext(), true);
    }
    std::string json;
    setInt(json, "index", m_sliceIndex + 1);
    setInt(json, "count", count);
    postJson(NOTIFY_OVERLAY_SLICE_INDEX, json, false);
    json.clear();
    setInt(json, "index", m_sliceIndex + 1);
    postJson(NOTIFY_IMAGE_SLICE_CHANGED, json, true);
}

isSliceInfo* isActorImage::getCurrentSlice()
{
    if (!m_image || !m_sliceFilter)
        return nullptr;
    const bool pending = m_sliceFilter->isInformationModified() || m_sliceFilter->isDataModified();
    isImageData* output = m_sliceFilter->getOutputData();
    output->updateInformation();
    if (output->getSliceCount() >= 1)
        output->update();
    noticeSliceTaken(pending);
    return output->getSliceCount() < 1 ? nullptr : output->getSlices()[0];
}

namespace {

// Samples per chunk of the range scan: a record of several frames is scanned by the worker
// pool in pieces of this size.
constexpr size_t kRangeChunk = size_t(1) << 18;

// The lowest and highest finite sample of [samples, samples + count); false when none is finite.
template <typename T>
bool sampleRange(const T* samples, size_t count, double& low, double& high)
{
    if constexpr (std::is_floating_point<T>::value) {
        bool any = false;
        T lo = T(), hi = T();
        for (size_t i = 0; i < count; ++i) {
            const T v = samples[i];
            if (!std::isfinite(v))
                continue;
            lo = any ? std::min(lo, v) : v;
            hi = any ? std::max(hi, v) : v;
            any = true;
        }
        low = static_cast<double>(lo);
        high = static_cast<double>(hi);
        return any;
    } else {
        if (count == 0)
            return false;
        T lo = samples[0], hi = samples[0];
        for (size_t i = 1; i < count; ++i) {
            lo = std::min(lo, samples[i]);
            hi = std::max(hi, samples[i]);
        }
        low = static_cast<double>(lo);
        high = static_cast<double>(hi);
        return true;
    }
}

// The range of every sample of a record: all its frames, in chunks side by side.
template <typename T>
bool recordRange(const unsigned char* bytes, size_t count, float& low, float& high)
{
    const T* samples = reinterpret_cast<const T*>(bytes);
    const size_t chunks = (count + kRangeChunk - 1) / kRangeChunk;
    struct Part {
        bool any = false;
        double low = 0.0, high = 0.0;
    };
    std::vector<Part> parts(chunks);
    auto scan = [&](int begin, int end) {
        for (int c = begin; c < end; ++c) {
            const size_t from = size_t(c) * kRangeChunk;
            Part& part = parts[size_t(c)];
            part.any = sampleRange(samples + from, std::min(kRangeChunk, count - from), part.low, part.high);
        }
    };
    if (chunks > 1 && chunks <= size_t(std::numeric_limits<int>::max()))
        isWorkerPool::shared().parallelFor(static_cast<int>(chunks), 1, scan);
    else
        scan(0, static_cast<int>(std::min<size_t>(chunks, 1)));
    bool any = false;
    double lo = 0.0, hi = 0.0;
    for (const Part& part : parts) {
        if (!part.any)
            continue;
        lo = any ? std::min(lo, part.low) : part.low;
        hi = any ? std::max(hi, part.high) : part.high;
        any = true;
    }
    low = static_cast<float>(lo);
    high = static_cast<float>(hi);
    return any;
}

} // namespace

void isActorImage::applyWindowFromRange(const isSliceInfo* slice)
{
    if (!slice->pixels || !slice->isLoaded() || slice->columns < 1 || slice->rows < 1)
        return;
    // Samples already hold modality values: the reader applied the rescale. A record of several
    // frames (a dynamic, a cine loop) takes the range of all of them: its first frame alone may
    // be empty or faint and would saturate the others.
    const size_t count = size_t(slice->columns) * size_t(slice->rows) * std::max<size_t>(1, slice->frames);
    float low = 0.0f, high = 0.0f;
    bool any = false;
    switch (slice->pixelType) {
    case PIXEL_I16: any = recordRange<int16_t>(slice->pixels, count, low, high); break;
    case PIXEL_U16: any = recordRange<uint16_t>(slice->pixels, count, low, high); break;
    case PIXEL_FLOAT: any = recordRange<float>(slice->pixels, count, low, high); break;
    default: break;
    }
    m_windowFromRange = false;
    if (!any)
        return;
    m_rangeTaken = true;
    m_rangeWidth = std::max(1.0f, high - low);
    m_rangeLevel = 0.5f * (high + low);
    // The table takes the slice's type first, so that a float range keeps its fractions.
    fitClutToPixelType(m_clut, slice->pixelType);
    m_clut->setWindow(m_rangeWidth, m_rangeLevel);
    // The corner text shows the window in use, not the one the file lacked.
    postWindowInfo();
}

isSliceInfo* isActorImage::getCurrentSliceInfo()
{
    if (!m_image || !m_sliceFilter)
        return nullptr;
    const bool pending = m_sliceFilter->isInformationModified() || m_sliceFilter->isDataModified();
    isImageData* output = m_sliceFilter->getOutputData();
    output->updateInformation();
    noticeSliceTaken(pending);
    return output->getSliceCount() < 1 ? nullptr : output->getSlices()[0];
}

void isActorImage::noticeSliceTaken(bool pending)
{
    // Updating here clears the slice filter's modified flags, by which the image node notices a
    // new slice: without this the node would keep showing the previous one (or the placeholder).
    if (pending && m_imageNode)
        m_imageNode->markSourceDirty();
}

bool isActorImage::isSliceIndexValid()
{
    if (!m_planeMode)
        return true;
    return m_sliceIndex >= 0 && m_plane && m_sliceIndex < m_plane->getSliceCount();
}

void isActorImage::setSliceAtPoint(float x, float y, float z)
{
    if (m_planeMode && m_plane)
        setSliceIndex(m_plane->getSliceIndexOfPoint(x, y, z));
}

void isActorImage::getSliceCenter(cocos2d::Vec3& out)
{
    out = cocos2d::Vec3::ZERO;
    if (!m_image || !m_sliceFilter || !m_sliceFilter->getInputData())
        return;
    isImageData* input = m_sliceFilter->getInputData();
    input->updateInformation();
    if (input->getSliceCount() < 1)
        return;
    const isSliceInfo* record = input->getSlices()[0];
    out = cocos2d::Vec3((record->columns - 1) * record->spacingX / 2, (record->rows - 1) * record->spacingY / 2, 0);
    record->matrix.transformPoint(&out);
}

bool isActorImage::getSliceCorners(float out[12])
{
    if (!m_sliceFilter || !m_sliceFilter->getInputData())
        return false;
    isImageData* input = m_sliceFilter->getInputData();
    input->updateInformation();
    if (input->getSliceCount() < 1)
        return false;
    const isSliceInfo* record = input->getSlices()[0];
    const float w = (record->columns - 1) * record->spacingX;
    const float h = (record->rows - 1) * record->spacingY;
    const cocos2d::Vec3 local[4] = {{0, 0, 0}, {w, 0, 0}, {w, h, 0}, {0, h, 0}};
    for (int i = 0; i < 4; ++i) {
        cocos2d::Vec3 p = local[i];
        record->matrix.transformPoint(&p);
        out[3 * i] = p.x;
        out[3 * i + 1] = p.y;
        out[3 * i + 2] = p.z;
    }
    return true;
}

float isActorImage::spacingAlong(int axis)
{
    if (!m_image->isVolume())
        return 1.0f;
    float spacing[3];
    m_image->getVoxelSpacing(spacing);
    return axis == PLANE_ACQUIRED ? spacing[2] : axis == PLANE_REFORMAT1 ? spacing[0] : spacing[1];
}

void isActorImage::returnToPlaneMode()
{
    m_plane->setInput(m_image);
    m_reslice->setInput(nullptr);
    m_sliceFilter->setInput(m_plane->getOutput());
    if (m_plane->getSlabMode() != m_slabMode) {
        m_plane->setSlabMode(m_slabMode);
        m_plane->setDataModified(true);
    }
    m_plane->setSlabThickness(m_slabThickness);
    m_planeMode = true;
}

void isActorImage::setOrientation(int axis)
{
    if (!m_image)
        return;
    if (!m_planeMode)
        returnToPlaneMode();
    if (m_planeAxis != axis) {
        if (m_plane->getAxis() != axis) {
            m_plane->setAxis(axis);
            m_plane->setModified();
        }
        m_planeAxis = axis;
        std::string json;
        setInt(json, "orient", axis + 1);
        postJson(NOTIFY_IMAGE_ORIENT_CHANGED, json, true);
        const int count = m_plane->getSliceCount();
        m_sliceIndex = std::max(0, std::min(count / 2, count - 1));
        setSliceIndex(m_sliceIndex);
        setSlabThickness(spacingAlong(axis));
    } else if (axis == PLANE_ACQUIRED) {
        setSlabThickness(spacingAlong(axis));
    }
}

void isActorImage::resetOrientation()
{
    if (!m_image)
        return;
    setOrientationAcquired();
    setSliceIndex(std::max(0, m_plane->getSliceCount() / 2));
}

void isActorImage::setObliqueAxes(const cocos2d::Mat4& axes)
{
    if (!m_image)
        return;
    setVisible(true);
    if (m_planeMode) {
        m_plane->setInput(nullptr);
        m_reslice->setInput(m_image);
        m_sliceFilter->setInput(m_reslice->getOutput());
        if (m_reslice->getSlabMode() != m_slabMode) {
            m_reslice->setSlabMode(m_slabMode);
            m_reslice->setDataModified(true);
        }
        m_reslice->setSlabThickness(m_slabThickness);
        m_planeMode = false;
        std::string json;
        setString(json, "index", "-1");
        setString(json, "count", "0");
        postJson(NOTIFY_OVERLAY_SLICE_INDEX, json, false);
    }
    m_image->updateInformation();
    m_reslice->setResliceAxes(m_image->getVolumeMatrix().getInversed() * axes);
}

void isActorImage::setWindow(float width, float level)
{
    if (!m_image)
        return;
    m_windowFromRange = false;
    m_clut->setWindow(width, level);
    m_imageNode->markTextureDirty();
}

void isActorImage::setDefaultWindow()
{
    if (!m_image)
        return;
    if (m_rangeDefault && m_rangeTaken) {
        setWindow(m_rangeWidth, m_rangeLevel);
    } else if (m_rangeDefault) {
        m_windowFromRange = true;
        m_imageNode->markTextureDirty();
    } else if (const isSliceInfo* first = m_image->getSlice(0)) {
        setWindow(first->windowWidth, first->windowCenter);
    }
}

void isActorImage::adjustWindow(float dWidth, float dLevel)
{
    if (!m_image)
        return;
    const isSliceInfo* first = m_image->getSlice(0);
    if (!first)
        return;
    m_windowFromRange = false;
    float factor = 1.0f;
    if (first->pixelType == PIXEL_I16 || first->pixelType == PIXEL_U16)
        factor = 10.0f;
    else if (first->pixelType == PIXEL_FLOAT)
        factor = 200.0f;
    dWidth *= factor;
    dLevel *= factor;
    const float w0 = std::trunc(m_clut->getWidth());
    const float l0 = std::trunc(m_clut->getLevel());
    if (first->modality == MODALITY_PT && l0 - w0 * 0.5f <= 1.0f) {
        // A PET window keeps its lower end at 0 while dragged.
        const float level = std::max(2.0f, l0 + dLevel);
        m_clut->setWindow(2.0f * level, level);
    } else {
        m_clut->setWindow(std::max(2.0f, w0 + dWidth), l0 + dLevel);
    }
    m_imageNode->markTextureDirty();
}

void isActorImage::setPalette(const unsigned char rgb[768])
{
    if (!m_clut)
        return;
    for (int i = 0; i < 256; ++i)
        m_clut->setColor(i, (uint32_t(rgb[3 * i]) << 24) | (uint32_t(rgb[3 * i + 1]) << 16) |
                                (uint32_t(rgb[3 * i + 2]) << 8) | 255u);
    m_imageNode->markClutDirty();
}

void isActorImage::setWindowFunction(int curve)
{
    if (!m_clut || m_clut->getCurve() == curve)
        return;
    m_clut->setCurve(curve);
    m_clut->setDirty();
    if (m_clut->getAutoUpdate())
        m_clut->updateTable();
    m_imageNode->markClutDirty();
}

void isActorImage::setSlabMode(int mode)
{
    if (!m_image || mode == m_slabMode)
        return;
    m_slabMode = mode;
    if (m_planeMode) {
        if (m_plane->getSlabMode() != mode) {
            m_plane->setSlabMode(mode);
            m_plane->setDataModified(true);
        }
    } else if (m_reslice->getSlabMode() != mode) {
        m_reslice->setSlabMode(mode);
        m_reslice->setDataModified(true);
    }
}

void isActorImage::setSlabThickness(float millimetres)
{
    m_slabThickness = millimetres;
    if (m_planeMode)
        m_plane->setSlabThickness(millimetres);
    else
        m_reslice->setSlabThickness(millimetres);
    NSUI::NSNotificationCenter::getInstance()->postFloatNotification(this, NOTIFY_OVERLAY_THICKNESS, millimetres,
                                                                     getWindowContext(), true);
}

void isActorImage::postJson(unsigned int id, const std::string& json, bool urgent)
{
    if (!m_postingEnabled)
        return;
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    centre->cancelNotification(this, id, getWindowContext());
    centre->postStringNotification(this, id, json, getWindowContext(), urgent);
}

void isActorImage::postWindowInfo()
{
    if (!m_image)
        return;
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    void* context = getWindowContext();
    centre->postFloatNotification(this, NOTIFY_OVERLAY_THICKNESS, m_slabThickness, context, true);
    centre->postStringNotification(this, NOTIFY_OVERLAY_SLICE_POSITION, m_sliceLabel, context, true);
    const isSliceInfo* first = m_image->getSlice(0);
    char ww[32];
    char wl[32];
    if (first && first->pixelType == PIXEL_RGB) {
        // Colour samples are drawn as they are: no window applies.
        ww[0] = wl[0] = '\0';
    } else if (first && first->pixelType == PIXEL_FLOAT) {
        std::snprintf(ww, sizeof ww, "%.1f", double(m_clut->getWidth()));
        std::snprintf(wl, sizeof wl, "%.1f", double(m_clut->getLevel()));
    } else {
        std::snprintf(ww, sizeof ww, "%i", int(m_clut->getWidth()));
        std::snprintf(wl, sizeof wl, "%i", int(m_clut->getLevel()));
    }
    NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
    setString(data->text, "ww", ww);
    setString(data->text, "wl", wl);
    // Only the latest window of this actor is worth delivering, and at once: behind the other
    // queued notices of a new layout the corner would show no window for many frames.
    centre->cancelNotification(this, NOTIFY_OVERLAY_WINDOW, context);
    centre->postNotification(this, NOTIFY_OVERLAY_WINDOW, data, context, true);
}

void isActorImage::onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data)
{
    switch (id) {
    case NOTIFY_SLICE_LOADED: {
        if (!m_planeMode || !data)
            return;
        isSliceInfo* record = getCurrentSlice();
        if (record && record->pixelsLoaded == 0 &&
            foldedHash32(record->filePath) == static_cast<uint32_t>(data->intValue2)) {
            m_plane->setModified();
            m_imageNode->markSourceDirty();
        }
        break;
    }
    case NOTIFY_LOAD_PROGRESS:
        if (m_image && data && foldedHash32(m_image->getFileNames()) == static_cast<uint32_t>(data->intValue2)) {
            NSUI::NSNotificationCenter::getInstance()->postNotification(this, NOTIFY_OVERLAY_PROGRESS, data,
                                                                        getWindowContext(), true);
            // A cut made before every slice it reads had arrived is made again with the new one.
            isImageFilter* cutter = m_planeMode ? static_cast<isImageFilter*>(m_plane) : m_reslice;
            const bool incomplete = m_planeMode ? m_plane && !m_plane->isCutComplete()
                                                : m_reslice && !m_reslice->isCutComplete();
            if (cutter && incomplete) {
                cutter->setDataModified(true);
                if (m_imageNode)
                    m_imageNode->markSourceDirty();
            }
        }
        break;
    case NOTIFY_ROI_CHANGED:
        // Our own answers come back on the same number: they carry no record.
        if (sender != this)
            answerStatistics(data);
        break;
    default:
        break;
    }
}

isSliceInfo* isActorImage::currentInputSlice()
{
    isImageData* input = (m_image && m_sliceFilter) ? m_sliceFilter->getInputData() : nullptr;
    if (!input)
        return nullptr;
    input->update();
    if (input->getSliceCount() < 1)
        return nullptr;
    return input->getSlices()[0];
}

bool isActorImage::shownFrame(isSliceInfo& frame)
{
    const isSliceInfo* slice = currentInputSlice();
    if (!slice)
        return false;
    frame = *slice;
    if (slice->frames > 1 && slice->pixels && m_imageNode) {
        // The frame the node shows: a record of several frames (a cine loop, a dynamic) is
        // sampled in the picture on the screen, not in its first frame.
        const int index = std::clamp(m_imageNode->getFrameIndex(), 0, slice->frames - 1);
        const size_t frameBytes = size_t(slice->columns) * size_t(slice->rows) * size_t(bytesPerPixel(slice->pixelType));
        frame.pixels = slice->pixels + frameBytes * size_t(index);
        frame.frames = 1;
    }
    return true;
}

bool isActorImage::samplePixelAt(const cocos2d::Vec3& point, float& value)
{
    isSliceInfo frame;
    return shownFrame(frame) && sampleSliceAt(frame, point, value);
}

void isActorImage::answerStatistics(NSUI::NSNotificationData* request)
{
    if (!m_image || !request || !m_sliceFilter)
        return;
    const auto* record = dynamic_cast<const ROIData*>(request->object);
    isSliceInfo frame;
    if (!record || !shownFrame(frame))
        return;
    std::string text;
    if (!computeROIStatisticsText(frame, *record, text))
        return;
    NSUI::NSNotificationData* answer = NSUI::NSNotificationData::create();
    answer->text = text;
    answer->intValue = request->intValue;
    answer->intValue2 = request->intValue2;
    NSUI::NSNotificationCenter::getInstance()->postNotification(this, NOTIFY_ROI_CHANGED, answer,
                                                                getWindowContext(), true);
}

} // namespace isImageSDK
