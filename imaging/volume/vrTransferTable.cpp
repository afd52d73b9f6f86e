#include "vrTransferTable.h"

#include <algorithm>

namespace isImageSDK {

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
