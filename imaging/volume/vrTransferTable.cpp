#include "vrTransferTable.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace isImageSDK {

namespace {

// Floats in the order of their values as unsigned integers (-inf first, +inf last), so that a
// binary search over the keys walks the floats in order.
uint32_t orderKey(float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return (bits & 0x80000000u) ? ~bits : bits | 0x80000000u;
}

float fromOrderKey(uint32_t key)
{
    const uint32_t bits = (key & 0x80000000u) ? key & 0x7fffffffu : ~key;
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

} // namespace

void vrLevelStarts(float lowerBound, float levelScale, int32_t ints[257], float floats[257])
{
    ints[0] = std::numeric_limits<int32_t>::lowest();
    ints[256] = std::numeric_limits<int32_t>::max();
    floats[0] = -std::numeric_limits<float>::infinity();
    floats[256] = std::numeric_limits<float>::infinity();
    for (int level = 1; level < 256; ++level) {
        // The level of a value never falls as the value rises: the first value that reaches
        // it is found by bisection (the last one, when none does, stands for "never").
        int64_t lo = std::numeric_limits<int32_t>::lowest(), hi = std::numeric_limits<int32_t>::max();
        while (lo < hi) {
            const int64_t mid = lo + (hi - lo) / 2;
            if (vrLevel(static_cast<float>(mid), lowerBound, levelScale) >= level)
                hi = mid;
            else
                lo = mid + 1;
        }
        ints[level] = static_cast<int32_t>(lo);
        uint32_t klo = orderKey(-std::numeric_limits<float>::infinity());
        uint32_t khi = orderKey(std::numeric_limits<float>::infinity());
        while (klo < khi) {
            const uint32_t mid = klo + (khi - klo) / 2;
            if (vrLevel(fromOrderKey(mid), lowerBound, levelScale) >= level)
                khi = mid;
            else
                klo = mid + 1;
        }
        floats[level] = fromOrderKey(klo);
    }
}

vrTransferTable::vrTransferTable() : m_preIntegrated(256 * 256 * 4, 0.0f)
{
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 4; ++c)
            m_transfer[i * 4 + c] = static_cast<float>(i);
}

void vrTransferTable::setColors(const unsigned char rgb[768])
{
    for (int i = 0; i < 256; ++i) {
        m_transfer[i * 4] = static_cast<float>(i);
        m_transfer[i * 4 + 1] = rgb[i * 3];
        m_transfer[i * 4 + 2] = rgb[i * 3 + 1];
        m_transfer[i * 4 + 3] = rgb[i * 3 + 2];
    }
    m_dirty = true;
}

void vrTransferTable::buildPreIntegrated()
{
    if (!m_dirty)
        return;
    // Running trapezoid integrals of each channel over the levels.
    double integral[256][4];
    for (int c = 0; c < 4; ++c)
        integral[0][c] = m_transfer[c];
    for (int k = 1; k < 256; ++k)
        for (int c = 0; c < 4; ++c)
            integral[k][c] = integral[k - 1][c] + (m_transfer[k * 4 + c] + m_transfer[(k - 1) * 4 + c]) * 0.5;

    float* out = m_preIntegrated.data();
    for (int r = 0; r < 256; ++r) {
        for (int col = 0; col < 256; ++col, out += 4) {
            if (r == col) {
                for (int c = 0; c < 4; ++c)
                    out[c] = std::clamp(m_transfer[r * 4 + c], 0.0f, 255.0f);
                continue;
            }
            const int hi = std::max(r, col), lo = std::min(r, col);
            for (int c = 0; c < 4; ++c) {
                const double mean = (integral[hi][c] - integral[lo][c]) / (hi - lo);
                out[c] = static_cast<float>(std::clamp(mean, 0.0, 255.0));
            }
        }
    }
    m_dirty = false;
}

} // namespace isImageSDK
