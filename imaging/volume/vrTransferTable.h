// vrTransferTable: the colour and opacity of each of the 256 grey levels of the volume
// renderer, and the pre-integrated table derived from it.
//
// Level i has opacity i on a 0..255 scale (a linear ramp) whatever the colours; its colour is
// grey (i, i, i) until a colour table is set. The pre-integrated entry (r, c) is the mean of
// the transfer function over the levels between r and c, so a ray segment that passes from
// level c to level r is composited with the average of everything in between.
#pragma once

#include <cstdint>
#include <vector>

namespace isImageSDK {

// Level (0..255) of a value in the window whose lower bound and level scale (255 / width) are
// given, without rounding, as the maximum, pre-integrated and shaded rays take it: truncated
// toward zero and saturated. It never falls as the value rises.
inline int vrLevel(float value, float lowerBound, float levelScale)
{
    const float l = (value - lowerBound) * levelScale;
    if (!(l > 0.0f))
        return 0;
    return l >= 255.0f ? 255 : static_cast<int>(l);
}

// Where each level begins in that window: ints[L] is the smallest 32-bit integer and floats[L]
// the smallest float whose vrLevel is at least L, for L = 1..255; entry 0 is the lowest value
// of each type and entry 256 (no such level) the largest.
void vrLevelStarts(float lowerBound, float levelScale, int32_t ints[257], float floats[257]);

class vrTransferTable {
public:
    // Entry i = (A, R, G, B) = (i, i, i, i); the pre-integrated table zero; dirty.
    vrTransferTable();

    // Entry i becomes (i, R, G, B) from 256 RGB triplets; marks the table dirty.
    void setColors(const unsigned char rgb[768]);

    // Rebuilds the pre-integrated table when dirty.
    void buildPreIntegrated();

    bool isDirty() const { return m_dirty; }
    // 256 entries of A, R, G, B (0..255 each).
    const float* transfer() const { return m_transfer; }
    // 256 x 256 entries of A, R, G, B, row-major: entry (r, c) at (r * 256 + c) * 4.
    const float* preIntegrated() const { return m_preIntegrated.data(); }

private:
    bool m_dirty = true;
    float m_transfer[256 * 4];
    std::vector<float> m_preIntegrated;
};

} // namespace isImageSDK
