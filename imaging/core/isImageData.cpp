#include "isImageData.h"

#include "isNotify.h"

#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

namespace isImageSDK {

namespace {

// Large voxel blocks are walked across slices by the reformatting filters; asking for huge
// pages keeps those walks from missing the TLB on every row. Only a hint.
void adviseHugePages(void* block, size_t bytes)
{
    constexpr uintptr_t kHuge = uintptr_t(1) << 21;
    if (bytes < 4 * kHuge)
        return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(kHuge - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

void setSliceGeometry(isSliceInfo* slice, int columns, int rows, unsigned short frames, const float spacing[2],
                      int pixelType, int posture, int headFeet, const cocos2d::Mat4& matrix)
{
    slice->columns = columns;
    slice->rows = rows;
    slice->frames = frames;
    slice->spacingX = spacing[0];
    slice->spacingY = spacing[1];
    slice->pixelType = pixelType;
    slice->posture = posture;
    slice->headFeet = headFeet;
    slice->matrix = matrix;
}

} // namespace

isImageData* isImageData::create()
{
    return createAutoreleased<isImageData>();
}

isImageData::~isImageData()
{
    isFilterObject::clear();
    releaseData();
}

void isImageData::clear()
{
    isFilterObject::clear();
    releaseData();
}

bool isImageData::init()
{
    isObject::init();
    m_producer = nullptr;
    m_output = nullptr;
    m_informationModified = false;
    m_dataModified = false;
    resetGeometry();
    return true;
}

void isImageData::setSeries(int pixelType, int posture, int headFeet, const cocos2d::Mat4& matrix)
{
    m_hasSlices = true;
    m_posture = posture;
    m_headFeet = headFeet;
    m_pixelType = pixelType;
    m_imageMatrix = matrix;
    m_volumeMatrix = matrix;
}

void isImageData::freeVoxels()
{
    std::free(m_voxels);
    m_voxels = nullptr;
}

void isImageData::releaseData()
{
    if (m_volume && m_slicesShareVoxels) {
        freeVoxels();
        for (isSliceInfo* slice : m_slices)
            delete slice;
    } else {
        for (isSliceInfo* slice : m_slices) {
            std::free(slice->pixels);
            delete slice;
        }
    }
    m_slices.clear();
    ++m_generation;
}

void isImageData::resetGeometry()
{
    m_infoJson.clear();
    m_fileNames.clear();
    m_imageMatrix.setIdentity();
    m_auxMatrix.setIdentity();
    m_volumeMatrix.setIdentity();
    m_voxels = nullptr;
    m_spacing[0] = m_spacing[1] = m_spacing[2] = 1.0f;
    m_dimensions[0] = m_dimensions[1] = m_dimensions[2] = 0;
    m_volume = m_slicesShareVoxels = m_hasSlices = false;
    m_posture = m_headFeet = 0;
    m_pixelType = PIXEL_I16;
    m_slices.clear();
}

isSliceInfo* isImageData::addSlice(const int size[2], short frames, const float spacing[2], int pixelType,
                                   int posture, int headFeet, const cocos2d::Mat4& matrix)
{
    m_dimensions[0] = size[0];
    m_dimensions[1] = size[1];
    m_dimensions[2] += 1;
    m_spacing[0] = spacing[0];
    m_spacing[1] = spacing[1];
    m_spacing[2] = 1.0f;
    m_volume = false;
    setSeries(pixelType, posture, headFeet, matrix);

    auto* slice = new (std::nothrow) isSliceInfo();
    // Sizes that are not positive come only from damaged input: refused like a failed block.
    const bool sane = size[0] > 0 && size[1] > 0 && frames > 0;
    long long bytes = 0;
    const bool fits = sane && !__builtin_mul_overflow(static_cast<long long>(size[0]), size[1], &bytes) &&
                      !__builtin_mul_overflow(bytes, static_cast<long long>(frames), &bytes) &&
                      !__builtin_mul_overflow(bytes, static_cast<long long>(bytesPerPixel(pixelType, 3)), &bytes) &&
                      bytes < kMaxBlockBytes;
    unsigned char* pixels = nullptr;
    // Cleared: a slice shows black until its pixels arrive (fresh pages cost nothing to clear).
    if (slice && fits)
        pixels = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(bytes), 1));
    if (!pixels) {
        delete slice;
        m_dimensions[2] -= 1;
        if (m_dimensions[2] < 1)
            m_hasSlices = false;
        if (sane)
            notify::memoryLow();
        return nullptr;
    }
    slice->pixels = pixels;
    setSliceGeometry(slice, size[0], size[1], static_cast<unsigned short>(frames), spacing, pixelType, posture,
                     headFeet, matrix);
    m_slicesShareVoxels = false;
    m_slices.push_back(slice);
    ++m_generation;
    return slice;
}

isSliceInfo* isImageData::addSliceCopy(const isSliceInfo* source)
{
    if (!source)
        return nullptr;
    const int size[2] = {source->columns, source->rows};
    const float spacing[2] = {source->spacingX, source->spacingY};
    isSliceInfo* slice = addSlice(size, static_cast<short>(source->frames), spacing, source->pixelType,
                                  source->posture, source->headFeet, source->matrix);
    if (!slice)
        return nullptr;
    slice->copyInfo(*source);
    const size_t bytes = static_cast<size_t>(source->columns) * source->rows * source->frames
                         * bytesPerPixel(source->pixelType, 3);
    // Pixels the series loader has not published yet are not read (it may be writing them);
    // the copy stays clear and not loaded.
    const bool loaded = source->isLoaded();
    if (source->pixels && loaded)
        std::memcpy(slice->pixels, source->pixels, bytes);
    else
        std::memset(slice->pixels, 0, bytes);
    slice->pixelsLoaded = loaded ? 1 : 0;
    return slice;
}

bool isImageData::allocateVolume(const int dims[3], const float spacing[3], int pixelType, int posture,
                                 int headFeet, const cocos2d::Mat4& matrix)
{
    releaseData();
    resetGeometry();
    if (dims[2] < 1 || dims[0] < 1 || dims[1] < 1)
        return false;
    for (int a = 0; a < 3; ++a) {
        m_dimensions[a] = dims[a];
        m_spacing[a] = spacing[a];
    }
    m_volume = dims[2] >= 2;
    setSeries(pixelType, posture, headFeet, matrix);
    ++m_generation;

    // Products checked for overflow: a wrapped size would allocate a tiny block for a huge stack.
    long long sliceBytes = 0;
    const bool sliceFits = !__builtin_mul_overflow(static_cast<long long>(dims[0]), dims[1], &sliceBytes) &&
                           !__builtin_mul_overflow(sliceBytes, bytesPerPixel(pixelType, 4), &sliceBytes) &&
                           sliceBytes < kMaxBlockBytes;
    if (!sliceFits) {
        // Only damaged input describes such a slice.
        resetGeometry();
        return false;
    }
    m_slices.reserve(dims[2]);
    for (int k = 0; k < dims[2]; ++k) {
        auto* slice = new isSliceInfo();
        setSliceGeometry(slice, dims[0], dims[1], 1, spacing, pixelType, posture, headFeet, matrix);
        slice->matrix.translate(0.0f, 0.0f, static_cast<float>(k) * spacing[2]);  // matrix * translation
        m_slices.push_back(slice);
    }

    long long sliceBytesKnown = 0, stackBytes = 0;
    const bool countable = !__builtin_mul_overflow(static_cast<long long>(dims[0]), dims[1], &sliceBytesKnown) &&
                           !__builtin_mul_overflow(sliceBytesKnown, bytesPerPixel(pixelType, 0), &sliceBytesKnown) &&
                           !__builtin_mul_overflow(sliceBytesKnown, static_cast<long long>(dims[2]), &stackBytes);
    if (m_volume && countable && pixelType >= PIXEL_U8 && pixelType <= PIXEL_RGB && stackBytes < kMaxBlockBytes) {
        const size_t total = static_cast<size_t>(sliceBytesKnown) * dims[2];
        m_voxels = static_cast<unsigned char*>(std::calloc(total, 1));
        if (m_voxels) {
            adviseHugePages(m_voxels, total);
            for (int k = 0; k < dims[2]; ++k)
                m_slices[k]->pixels = m_voxels + static_cast<size_t>(sliceBytesKnown) * k;
            m_slicesShareVoxels = true;
            return true;
        }
    }

    // One buffer per slice: a single slice, an unknown pixel type, a stack over the block
    // limit or a failed block. A stack stays a volume, without a voxel block.
    m_slicesShareVoxels = false;
    for (isSliceInfo* slice : m_slices) {
        slice->pixels = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(sliceBytes), 1));
        if (!slice->pixels) {
            releaseData();
            resetGeometry();
            notify::memoryLow();
            return false;
        }
    }
    return true;
}

isSliceInfo* isImageData::getSlice(int index)
{
    update();
    if (index < 0 || index >= static_cast<int>(m_slices.size()))
        return nullptr;
    return m_slices[index];
}

void* isImageData::getVoxelPointer()
{
    update();
    if (!m_volume)
        return nullptr;
    return m_voxels;
}

void isImageData::getVoxelSpacing(float out[3])
{
    updateInformation();
    for (int a = 0; a < 3; ++a)
        out[a] = m_spacing[a];
}

void isImageData::getDimensions(int out[3])
{
    updateInformation();
    for (int a = 0; a < 3; ++a)
        out[a] = m_dimensions[a];
}

bool isImageData::isVolume()
{
    updateInformation();
    return m_volume;
}

bool isImageData::isMonochrome1()
{
    update();
    return !m_slices.empty() && m_slices[0]->representation >= 2;
}

void isImageData::getDefaultWindow(float* width, float* center)
{
    update();
    if (m_slices.empty())
        return;
    if (width)
        *width = m_slices[0]->windowWidth;
    if (center)
        *center = m_slices[0]->windowCenter;
}

} // namespace isImageSDK
