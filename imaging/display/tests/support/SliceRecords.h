// Slice records for the display tests: an isSliceInfo whose pixels live in a buffer the
// helper owns, and colour tables of known shapes.
#pragma once

#include "isClut.h"
#include "isImageTypes.h"
#include "isSliceInfo.h"

#include "cocos2d.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace qvtest {

struct PoolScope {
    cocos2d::AutoreleasePool pool;
};

// A record of columns x rows x frames samples of the pixel type; every sample is zero until
// set. The record points into `bytes`, so the helper must outlive every use of `info`.
struct OwnedRecord {
    isImageSDK::isSliceInfo info;
    std::vector<unsigned char> bytes;

    OwnedRecord(int columns, int rows, int pixelType, int frames = 1)
    {
        info.columns = columns;
        info.rows = rows;
        info.frames = static_cast<unsigned short>(frames);
        info.pixelType = pixelType;
        bytes.assign(static_cast<size_t>(columns) * rows * frames * isImageSDK::bytesPerPixel(pixelType), 0);
        info.pixels = bytes.data();
    }
    // Moving keeps the buffer (and so info.pixels) where it is; a copy would not.
    OwnedRecord(OwnedRecord&&) = default;
    OwnedRecord(const OwnedRecord&) = delete;
    OwnedRecord& operator=(const OwnedRecord&) = delete;
    size_t pixelsPerFrame() const { return static_cast<size_t>(info.columns) * info.rows; }
    template <class T>
    T* samples(int frame = 0)
    {
        return reinterpret_cast<T*>(bytes.data()) + pixelsPerFrame() * frame * (info.pixelType == isImageSDK::PIXEL_RGB ? 3 : 1);
    }
};

// A colour table whose 256 entries are distinct random colours, so that a wrong index shows
// as a wrong colour.
inline void randomColours(isImageSDK::isClut* clut, unsigned seed)
{
    std::mt19937 rng(seed);
    for (int i = 0; i < 256; ++i)
        clut->setColor(i, (static_cast<uint32_t>(rng()) & 0xFFFFFF00u) | 0xFFu);
}

// Entry i of the table as the three bytes R, G, B.
inline void colourBytes(const isImageSDK::isClut* clut, int index, unsigned char out[3])
{
    const uint32_t c = clut->getColor(index);
    out[0] = static_cast<unsigned char>(c >> 24);
    out[1] = static_cast<unsigned char>(c >> 16);
    out[2] = static_cast<unsigned char>(c >> 8);
}

// Count, extremes, mean, sample deviation and total of the grey samples of a slice whose
// (column, row) passes `inside`, in double precision: the reference the statistics are checked
// against.
struct RegionReference {
    int count = 0;
    double minimum = 0, maximum = 0, mean = 0, deviation = 0, total = 0;
};

template <class Inside>
RegionReference bruteForceRegion(const isImageSDK::isSliceInfo& s, const Inside& inside)
{
    std::vector<double> values;
    for (int j = 0; j < s.rows; ++j)
        for (int i = 0; i < s.columns; ++i) {
            if (!inside(i, j))
                continue;
            const size_t p = static_cast<size_t>(j) * s.columns + i;
            switch (s.pixelType) {
            case isImageSDK::PIXEL_U8: values.push_back(s.pixels[p]); break;
            case isImageSDK::PIXEL_I16: values.push_back(reinterpret_cast<const int16_t*>(s.pixels)[p]); break;
            case isImageSDK::PIXEL_U16: values.push_back(reinterpret_cast<const uint16_t*>(s.pixels)[p]); break;
            default: values.push_back(reinterpret_cast<const float*>(s.pixels)[p]); break;
            }
        }
    RegionReference r;
    r.count = static_cast<int>(values.size());
    if (values.empty())
        return r;
    r.minimum = r.maximum = values[0];
    for (double v : values) {
        r.total += v;
        r.minimum = std::min(r.minimum, v);
        r.maximum = std::max(r.maximum, v);
    }
    r.mean = r.total / r.count;
    double squares = 0;
    for (double v : values)
        squares += (v - r.mean) * (v - r.mean);
    r.deviation = std::sqrt(squares / (r.count > 1 ? r.count - 1 : 1));
    return r;
}

} // namespace qvtest
