#include "isFramePainter.h"

#include "isClut.h"
#include "isSliceInfo.h"
#include "isWorkerPool.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace isImageSDK {

namespace {

// Frames at least this large (in pixels) are split over the worker pool. Table lookups run
// near memory speed, so only large frames gain; float windowing (a log10 per pixel for the
// log curves) gains much earlier.
constexpr size_t kParallelLookupPixels = size_t(1) << 20;
constexpr size_t kParallelFloatPixels = size_t(1) << 15;
// Pixels per chunk handed to one worker.
constexpr int kChunkPixels = 1 << 16;

// A colour entry (bits 24-31 red, 16-23 green, 8-15 blue) as the four bytes R, G, B, 0 in
// memory order, so that a 4-byte store writes one RGB888 pixel plus one byte the next pixel
// overwrites.
inline uint32_t packRGB(uint32_t rgba)
{
    const unsigned char bytes[4] = {static_cast<unsigned char>(rgba >> 24), static_cast<unsigned char>(rgba >> 16),
                                    static_cast<unsigned char>(rgba >> 8), 0};
    uint32_t packed;
    std::memcpy(&packed, bytes, 4);
    return packed;
}

// Runs body(begin, end) over [0, count) pixels, on the worker pool when count reaches the
// threshold. Chunk borders fall on whole pixels, so the chunks write disjoint bytes.
template <class Body>
void forPixels(size_t count, size_t parallelFrom, const Body& body)
{
    if (count < parallelFrom || count > static_cast<size_t>(INT32_MAX)) {
        body(size_t(0), count);
        return;
    }
    const int chunks = static_cast<int>((count + kChunkPixels - 1) / kChunkPixels);
    isWorkerPool::shared().parallelFor(chunks, 1, [&](int first, int last) {
        const size_t begin = static_cast<size_t>(first) * kChunkPixels;
        const size_t end = std::min(count, static_cast<size_t>(last) * kChunkPixels);
        body(begin, end);
    });
}

// out[3 i .. 3 i + 2] = the colour of src[i], for i in [begin, end). `bias` moves a stored
// value to its lookup index (32768 for signed 16-bit).
template <class T>
void lookupRGB(const T* src, const uint32_t* lookup, int bias, unsigned char* out, size_t begin, size_t end)
{
    if (begin >= end)
        return;
    size_t i = begin;
    // All but the last pixel of the range: one unaligned 4-byte store each.
    for (; i + 1 < end; ++i) {
        const uint32_t c = lookup[static_cast<int>(src[i]) + bias];
        std::memcpy(out + 3 * i, &c, 4);
    }
    const uint32_t c = lookup[static_cast<int>(src[i]) + bias];
    std::memcpy(out + 3 * i, &c, 3);
}

// The window of a float frame, computed once per frame.
struct FloatWindow {
    float lo, hi, inverseWidth, logRatio;
    int curve;
    FloatWindow(float level, float width, int windowCurve)
    {
        // lo and hi are computed in double and stored as float.
        lo = static_cast<float>(static_cast<double>(level) - static_cast<double>(width) * 0.5);
        hi = static_cast<float>(static_cast<double>(level) + static_cast<double>(width) * 0.5);
        inverseWidth = 1.0f / width;
        logRatio = 9.0f / (hi - lo);
        curve = windowCurve;
    }
    // A float index into 0..255; NaN and everything below 0 give 0 (the conversion to int of a
    // NaN or out-of-range value would be undefined).
    static int clampIndex(float t)
    {
        if (!(t > 0.0f))
            return 0;
        if (t >= 255.0f)
            return 255;
        return static_cast<int>(t);
    }
    int index(float v) const
    {
        if (curve == WINDOW_LOG || curve == WINDOW_INVERSE_LOG) {
            if (v >= hi)
                return 255;
            if (v <= lo)
                return 0;
            if (curve == WINDOW_LOG)
                return clampIndex(std::log10((v - lo) * logRatio + 1.0f) * 255.0f);
            return clampIndex((1.0f - std::log10((hi - v) * logRatio + 1.0f)) * 255.0f);
        }
        return clampIndex((v - lo) * inverseWidth * 255.0f);
    }
};

// Bytes per pixel for the pixel types the painter knows; 0 for the others.
int knownBytesPerPixel(int pixelType)
{
    return pixelType >= PIXEL_U8 && pixelType <= PIXEL_RGB ? bytesPerPixel(pixelType) : 0;
}

// Pixels in one frame of the record, or 0 when the record cannot be painted at `frame`.
size_t framePixels(const isSliceInfo* record, int frame)
{
    if (!record || record->columns < 1 || record->rows < 1 || frame < 0 || frame >= record->frames)
        return 0;
    if (knownBytesPerPixel(record->pixelType) == 0)
        return 0;
    if (record->pixelsLoaded && !record->pixels)
        return 0;
    return static_cast<size_t>(record->columns) * static_cast<size_t>(record->rows);
}

} // namespace

void fitClutToPixelType(isClut* clut, int pixelType)
{
    if (!clut)
        return;
    if (clut->getPixelType() != pixelType)
        clut->setPixelType(pixelType);
    clut->updateTable();
}

// The composite table stored value -> packed colour, and what it was built from.
struct isFramePainter::Lookup {
    bool valid = false;
    int pixelType = -1;
    int inputMin = 0;
    int tableSize = 0;
    float width = 0;
    float level = 0;
    int curve = -1;
    uint32_t colors[256] = {};
    std::vector<uint32_t> table;

    bool matches(const isClut& clut, int type) const
    {
        return valid && pixelType == type && inputMin == clut.getInputMin() && tableSize == clut.getTableSize() &&
               width == clut.getWidth() && level == clut.getLevel() && curve == clut.getCurve() &&
               std::memcmp(colors, clut.getColors(), sizeof colors) == 0;
    }

    // Rebuilds for an 8- or 16-bit pixel type; false when the table has no window table or
    // colours.
    bool refresh(const isClut& clut, int type)
    {
        const unsigned char* window = clut.getWindowTable();
        if (!window || !clut.getColors() || clut.getTableSize() < 1) {
            valid = false;
            return false;
        }
        if (matches(clut, type))
            return true;
        pixelType = type;
        inputMin = clut.getInputMin();
        tableSize = clut.getTableSize();
        width = clut.getWidth();
        level = clut.getLevel();
        curve = clut.getCurve();
        std::memcpy(colors, clut.getColors(), sizeof colors);

        uint32_t packed[256];
        for (int i = 0; i < 256; ++i)
            packed[i] = packRGB(colors[i]);
        // The whole input domain of the type, each value looked up as the colour table does
        // (index value - inputMin, kept inside the window table).
        const int domainMin = type == PIXEL_I16 ? -32768 : 0;
        const int domainSize = type == PIXEL_U8 ? 256 : 65536;
        table.resize(static_cast<size_t>(domainSize));
        const long long lastIndex = tableSize - 1;
        for (int k = 0; k < domainSize; ++k) {
            const long long at = std::min(std::max(static_cast<long long>(domainMin + k) - inputMin, 0LL), lastIndex);
            table[static_cast<size_t>(k)] = packed[window[at]];
        }
        valid = true;
        return true;
    }
};

isFramePainter::isFramePainter() : m_lookup(new Lookup) {}

isFramePainter::~isFramePainter() = default;

void isFramePainter::releaseBuffers()
{
    m_buffer.reset();
    m_bufferSize = 0;
    m_lookup.reset(new Lookup);
}

unsigned char* isFramePainter::buffer(size_t bytes)
{
    if (bytes > m_bufferSize || !m_buffer) {
        m_buffer.reset(new (std::nothrow) unsigned char[bytes]);
        m_bufferSize = m_buffer ? bytes : 0;
    }
    return m_buffer.get();
}

int isFramePainter::floatIndex(float value, float level, float width, int curve)
{
    return FloatWindow(level, width, curve).index(value);
}

const unsigned char* isFramePainter::paintRGB(const isSliceInfo* record, int frame, isClut* clut)
{
    const size_t n = framePixels(record, frame);
    if (!clut || n == 0)
        return nullptr;
    const int type = record->pixelType;
    const size_t frameBytes = n * static_cast<size_t>(bytesPerPixel(type));
    const unsigned char* src = record->pixels ? record->pixels + frameBytes * static_cast<size_t>(frame) : nullptr;

    if (type == PIXEL_RGB && record->pixelsLoaded)
        return src;

    fitClutToPixelType(clut, type);

    if (!record->pixelsLoaded) {
        unsigned char* out = buffer(n * 3);
        if (!out)
            return nullptr;
        const bool white = record->modality == MODALITY_PT || record->modality == MODALITY_NM;
        std::memset(out, white ? 255 : 0, n * 3);
        return out;
    }

    if (type == PIXEL_FLOAT) {
        if (!clut->getColors())
            return nullptr;
        unsigned char* out = buffer(n * 3);
        if (!out)
            return nullptr;
        uint32_t packed[256];
        for (int i = 0; i < 256; ++i)
            packed[i] = packRGB(clut->getColors()[i]);
        const FloatWindow window(clut->getLevel(), clut->getWidth(), clut->getCurve());
        const float* values = reinterpret_cast<const float*>(src);
        forPixels(n, kParallelFloatPixels, [&](size_t begin, size_t end) {
            for (size_t i = begin; i < end; ++i) {
                const uint32_t c = packed[window.index(values[i])];
                std::memcpy(out + 3 * i, &c, 3);
            }
        });
        return out;
    }

    if (!m_lookup->refresh(*clut, type))
        return nullptr;
    unsigned char* out = buffer(n * 3);
    if (!out)
        return nullptr;
    const uint32_t* lookup = m_lookup->table.data();
    forPixels(n, kParallelLookupPixels, [&](size_t begin, size_t end) {
        switch (type) {
        case PIXEL_U8:
            lookupRGB(src, lookup, 0, out, begin, end);
            break;
        case PIXEL_I16:
            lookupRGB(reinterpret_cast<const int16_t*>(src), lookup, 32768, out, begin, end);
            break;
        default:
            lookupRGB(reinterpret_cast<const uint16_t*>(src), lookup, 0, out, begin, end);
            break;
        }
    });
    return out;
}

const uint16_t* isFramePainter::packWords(const isSliceInfo* record, int frame, float* valueScale, float* valueOffset)
{
    const size_t n = framePixels(record, frame);
    if (n == 0 || record->pixelType == PIXEL_RGB)
        return nullptr;
    const int type = record->pixelType;
    float scale = 1.0f, offset = 0.0f;
    const size_t frameBytes = n * static_cast<size_t>(bytesPerPixel(type));
    const unsigned char* src = record->pixels ? record->pixels + frameBytes * static_cast<size_t>(frame) : nullptr;

    if (type == PIXEL_U16 && record->pixelsLoaded) {
        if (valueScale)
            *valueScale = scale;
        if (valueOffset)
            *valueOffset = offset;
        return reinterpret_cast<const uint16_t*>(src);
    }

    uint16_t* out = reinterpret_cast<uint16_t*>(buffer(n * sizeof(uint16_t)));
    if (!out)
        return nullptr;
    if (!record->pixelsLoaded) {
        std::memset(out, 0, n * sizeof(uint16_t));
    } else if (type == PIXEL_I16) {
        const int16_t* values = reinterpret_cast<const int16_t*>(src);
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<uint16_t>(static_cast<int>(values[i]) + 32768);
    } else if (type == PIXEL_U8) {
        for (size_t i = 0; i < n; ++i)
            out[i] = src[i];
    } else {
        const float* values = reinterpret_cast<const float*>(src);
        float minimum = 1e8f, maximum = -1e8f;
        for (size_t i = 0; i < n; ++i) {
            const float v = values[i];
            if (!std::isfinite(v))
                continue;
            minimum = std::min(minimum, v);
            maximum = std::max(maximum, v);
        }
        if (minimum >= maximum)
            maximum = minimum + 1.0f;
        scale = 65535.0f / (maximum - minimum);
        offset = -minimum * 65535.0f / (maximum - minimum);
        for (size_t i = 0; i < n; ++i) {
            const float t = values[i] * scale + offset;
            out[i] = !(t > 0.0f) ? 0 : t >= 65535.0f ? 65535 : static_cast<uint16_t>(t);
        }
    }
    if (valueScale)
        *valueScale = scale;
    if (valueOffset)
        *valueOffset = offset;
    return out;
}

} // namespace isImageSDK
