#include "vrSpaceLeaping.h"

#include "isImageTypes.h"
#include "isWorkerPool.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace isImageSDK {

void vrSpaceLeapingBase::copyBounds(float out[6]) const
{
    std::copy(m_box, m_box + 6, out);
}

bool vrSpaceLeapingBase::sizeFor(const vrVolumeDescriptor* volume)
{
    m_volume = volume;
    m_built = false;
    m_bx = m_by = m_bz = m_bxy = 0;
    if (!volume || volume->dimensions[0] < 1 || volume->dimensions[1] < 1 || volume->dimensions[2] < 1) {
        std::fill(m_box, m_box + 6, 0.0f);
        return false;
    }
    m_bx = (volume->dimensions[0] - 1) / m_blockSize + 1;
    m_by = (volume->dimensions[1] - 1) / m_blockSize + 1;
    m_bz = (volume->dimensions[2] - 1) / m_blockSize + 1;
    m_bxy = m_bx * m_by;
    for (int a = 0; a < 3; ++a) {
        m_box[2 * a] = 0.0f;
        m_box[2 * a + 1] = static_cast<float>(volume->dimensions[a] - 1);
    }
    return true;
}

template <class Occupied>
void vrSpaceLeapingBase::computeBox(Occupied occupied)
{
    int lo[3] = {9999, 9999, 9999}, hi[3] = {-9999, -9999, -9999};
    int index = 0;
    for (int k = 0; k < m_bz; ++k)
        for (int j = 0; j < m_by; ++j)
            for (int i = 0; i < m_bx; ++i, ++index) {
                if (!occupied(index))
                    continue;
                const int b[3] = {i, j, k};
                for (int a = 0; a < 3; ++a) {
                    lo[a] = std::min(lo[a], b[a]);
                    hi[a] = std::max(hi[a], b[a]);
                }
            }
    for (int a = 0; a < 3; ++a) {
        float minimum = static_cast<float>(lo[a] * m_blockSize);
        float maximum = static_cast<float>(hi[a] * m_blockSize + m_blockSize - 1);
        const float last = static_cast<float>(m_volume->dimensions[a] - 1);
        // Keeps the trilinear neighbour (one voxel up) of every position in the box inside.
        if (maximum >= last)
            maximum = last - 1.0f;
        m_box[2 * a] = minimum;
        m_box[2 * a + 1] = maximum;
    }
}

namespace {

// Block maxima of one slab of block rows (block slice k) from the voxels.
template <class T, class V>
void slabMaxima(const T* voxels, const int dims[3], int bx, int by, int k, V* maxima)
{
    const int64_t nx = dims[0], nxy = static_cast<int64_t>(dims[0]) * dims[1];
    V* slab = maxima + static_cast<int64_t>(k) * bx * by;
    const int zEnd = std::min(dims[2], 4 * k + 4);
    for (int z = 4 * k; z < zEnd; ++z)
        for (int y = 0; y < dims[1]; ++y) {
            const T* row = voxels + z * nxy + y * nx;
            V* blocks = slab + static_cast<int64_t>(y >> 2) * bx;
            int x = 0;
            for (int b = 0; b < bx; ++b) {
                const int xEnd = std::min(dims[0], x + 4);
                V m = blocks[b];
                for (; x < xEnd; ++x)
                    m = std::max(m, static_cast<V>(row[x]));
                blocks[b] = m;
            }
        }
}

// reach[b] = largest maximum among the blocks b + {0, 1}^3 that exist.
template <class V>
void reachMaxima(const std::vector<V>& maxima, int bx, int by, int bz, std::vector<V>& reach)
{
    reach.assign(maxima.size(), V());
    const int64_t bxy = static_cast<int64_t>(bx) * by;
    for (int k = 0; k < bz; ++k)
        for (int j = 0; j < by; ++j)
            for (int i = 0; i < bx; ++i) {
                V m = maxima[k * bxy + j * bx + i];
                for (int dk = 0; dk <= 1 && k + dk < bz; ++dk)
                    for (int dj = 0; dj <= 1 && j + dj < by; ++dj)
                        for (int di = 0; di <= 1 && i + di < bx; ++di)
                            m = std::max(m, maxima[(k + dk) * bxy + (j + dj) * bx + i + di]);
                reach[k * bxy + j * bx + i] = m;
            }
}

} // namespace

template <class V>
void vrSpaceLeapingGrid<V>::setVolume(const vrVolumeDescriptor* volume)
{
    m_maxima.clear();
    m_reach.clear();
    if (!sizeFor(volume))
        return;
    m_maxima.assign(static_cast<size_t>(m_bxy) * m_bz, m_unset);
}

template <class V>
template <class T>
void vrSpaceLeapingGrid<V>::buildFrom(const T* voxels)
{
    const int* dims = m_volume->dimensions;
    // Every block starts from the lowest value of the type, so that a block whose every voxel
    // lies below the unset marker still gets its true maximum.
    std::fill(m_maxima.begin(), m_maxima.end(), static_cast<V>(std::numeric_limits<T>::lowest()));
    V* maxima = m_maxima.data();
    const int bx = m_bx, by = m_by;
    isWorkerPool::shared().parallelFor(m_bz, 1, [&](int begin, int end) {
        for (int k = begin; k < end; ++k)
            slabMaxima<T, V>(voxels, dims, bx, by, k, maxima);
    });
    reachMaxima(m_maxima, m_bx, m_by, m_bz, m_reach);
    m_built = true;
    recomputeBox();
}

template <class V>
void vrSpaceLeapingGrid<V>::recomputeBox()
{
    computeBox([this](int i) { return m_maxima[i] >= m_threshold; });
}

template <class V>
void vrSpaceLeapingGrid<V>::changeThreshold(V threshold)
{
    if (threshold == m_threshold)
        return;
    m_threshold = threshold;
    if (m_built)
        recomputeBox();
}

template <class V>
bool vrSpaceLeapingGrid<V>::isEmpty(const float point[3]) const
{
    if (!m_volume || m_maxima.empty())
        return true;
    int b[3];
    for (int a = 0; a < 3; ++a) {
        const float c = point[a] + 0.5f;
        if (!(c >= 0.0f) || c >= static_cast<float>(m_volume->dimensions[a]))
            return true;
        b[a] = static_cast<int>(c * m_inverseBlock);
    }
    return m_maxima[(static_cast<int64_t>(b[2]) * m_by + b[1]) * m_bx + b[0]] < m_threshold;
}

template class vrSpaceLeapingGrid<int32_t>;
template class vrSpaceLeapingGrid<float>;

void vrSpaceLeaping::build()
{
    if (m_built || !m_volume || m_maxima.empty() || !m_volume->voxels)
        return;
    switch (m_volume->pixelType) {
    case PIXEL_U8: buildFrom(static_cast<const uint8_t*>(m_volume->voxels)); break;
    case PIXEL_I16: buildFrom(static_cast<const int16_t*>(m_volume->voxels)); break;
    case PIXEL_U16: buildFrom(static_cast<const uint16_t*>(m_volume->voxels)); break;
    default: break;  // not an integer volume this grid can read
    }
}

void vrSpaceLeapingFloat::build()
{
    if (m_built || !m_volume || m_maxima.empty() || !m_volume->voxels || m_volume->pixelType != PIXEL_FLOAT)
        return;
    buildFrom(static_cast<const float*>(m_volume->voxels));
}

} // namespace isImageSDK
