// Brute-force references for the slicing tests: every output pixel computed on its own,
// straight from the definitions, with no shared code with the kernels under test.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

namespace qvtest {

// A small volume of nx x ny x nz samples of type T, filled with random values.
template <class T>
struct Volume {
    int nx = 0, ny = 0, nz = 0;
    std::vector<T> v;
    Volume(int x, int y, int z) : nx(x), ny(y), nz(z), v(static_cast<size_t>(x) * y * z) {}
    T& at(int x, int y, int z) { return v[(static_cast<size_t>(z) * ny + y) * nx + x]; }
    T at(int x, int y, int z) const { return v[(static_cast<size_t>(z) * ny + y) * nx + x]; }
    const T* slice(int k) const { return v.data() + static_cast<size_t>(k) * nx * ny; }
};

template <class T>
Volume<T> randomVolume(int nx, int ny, int nz, unsigned seed, double lo, double hi)
{
    Volume<T> vol(nx, ny, nz);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> d(lo, hi);
    for (auto& s : vol.v)
        s = static_cast<T>(d(rng));
    return vol;
}

// Combines values the way a slab does: 0 min, 2 average, 3 sum, other max; integer sums
// saturate, averages truncate.
template <class T>
T combine(const std::vector<T>& values, int mode)
{
    if (mode != 2 && mode != 3) {
        T r = values[0];
        for (T x : values)
            r = mode == 0 ? std::min(r, x) : std::max(r, x);
        return r;
    }
    if constexpr (std::is_floating_point<T>::value) {
        float total = 0;
        for (T x : values)
            total += x;
        return mode == 3 ? total : static_cast<T>(static_cast<double>(total) / values.size());
    } else {
        long double total = 0;
        for (T x : values)
            total += x;
        if (mode == 2)
            total = total / values.size();
        total = std::max<long double>(total, std::numeric_limits<T>::lowest());
        total = std::min<long double>(total, std::numeric_limits<T>::max());
        return static_cast<T>(total);
    }
}

// The orthogonal cut as defined: output column/row layout per axis, planes first..last.
template <class T>
std::vector<T> referenceCut(const Volume<T>& vol, int axis, int first, int last, int mode, int& cols, int& rows)
{
    std::vector<T> out;
    std::vector<T> vals;
    if (axis == 0) {
        cols = vol.nx, rows = vol.ny;
        for (int y = 0; y < vol.ny; ++y)
            for (int x = 0; x < vol.nx; ++x) {
                vals.clear();
                for (int k = first; k <= last; ++k)
                    vals.push_back(vol.at(x, y, k));
                out.push_back(combine(vals, mode));
            }
    } else if (axis == 1) {
        cols = vol.nz, rows = vol.ny;
        for (int y = 0; y < vol.ny; ++y)
            for (int k = 0; k < vol.nz; ++k) {
                vals.clear();
                for (int j = first; j <= last; ++j)
                    vals.push_back(vol.at(vol.nx - 1 - j, y, k));
                out.push_back(combine(vals, mode));
            }
    } else {
        cols = vol.nz, rows = vol.nx;
        for (int x = 0; x < vol.nx; ++x)
            for (int k = 0; k < vol.nz; ++k) {
                vals.clear();
                for (int j = first; j <= last; ++j)
                    vals.push_back(vol.at(x, j, k));
                out.push_back(combine(vals, mode));
            }
    }
    return out;
}

// Trilinear sample by the definition: background outside [0, max] on any axis; indices
// truncated and clamped; eight corners weighted (1 - t, t), border taps repeated. Which side
// of a border a position falls on is decided in 32-bit floats, as the sampler does; the
// weighting is done in double.
template <class T>
double referenceTrilinear(const Volume<T>& vol, const float sp[3], double bg, float x, float y, float z)
{
    const int size[3] = {vol.nx, vol.ny, vol.nz};
    const float p[3] = {x, y, z};
    int i[3];
    double t[3];
    for (int a = 0; a < 3; ++a) {
        const float mx = static_cast<float>(size[a] - 1) * sp[a];
        if (!(p[a] >= 0 && p[a] <= mx))
            return bg;
        const float f = p[a] * (1.0f / sp[a]);
        i[a] = std::min(size[a] - 1, std::max(0, static_cast<int>(std::min<float>(f, size[a]))));
        t[a] = static_cast<double>(f) - i[a];
    }
    double sum = 0;
    for (int dz = 0; dz < 2; ++dz)
        for (int dy = 0; dy < 2; ++dy)
            for (int dx = 0; dx < 2; ++dx) {
                const double w = (dx ? t[0] : 1 - t[0]) * (dy ? t[1] : 1 - t[1]) * (dz ? t[2] : 1 - t[2]);
                sum += w * vol.at(std::min(i[0] + dx, vol.nx - 1), std::min(i[1] + dy, vol.ny - 1),
                                  std::min(i[2] + dz, vol.nz - 1));
            }
    return sum;
}

inline double catmullRom(int tap, double t)
{
    static const double rows[4][4] = {{0, -0.5, 1, -0.5}, {1, 0, -2.5, 1.5}, {0, 0.5, 2, -1.5}, {0, 0, -0.5, 0.5}};
    return rows[tap][0] + rows[tap][1] * t + rows[tap][2] * t * t + rows[tap][3] * t * t * t;
}

// Tricubic sample by the definition: background when a truncated index is negative or past
// the grid; 64 taps at offsets -1..+2, clamped into the grid. The column index is x / sx,
// the others use the reciprocal spacing, in 32-bit floats as the sampler computes them.
template <class T>
double referenceTricubic(const Volume<T>& vol, const float sp[3], double bg, float x, float y, float z)
{
    const int size[3] = {vol.nx, vol.ny, vol.nz};
    const float f[3] = {x / sp[0], y * (1.0f / sp[1]), z * (1.0f / sp[2])};
    int i[3];
    double t[3];
    for (int a = 0; a < 3; ++a) {
        if (!(f[a] > -1 && f[a] < size[a]))
            return bg;
        i[a] = static_cast<int>(f[a]);
        t[a] = static_cast<double>(f[a]) - i[a];
    }
    double sum = 0;
    for (int c = 0; c < 4; ++c)
        for (int b = 0; b < 4; ++b)
            for (int a = 0; a < 4; ++a) {
                const int xx = std::min(vol.nx - 1, std::max(0, i[0] - 1 + a));
                const int yy = std::min(vol.ny - 1, std::max(0, i[1] - 1 + b));
                const int zz = std::min(vol.nz - 1, std::max(0, i[2] - 1 + c));
                sum += catmullRom(a, t[0]) * catmullRom(b, t[1]) * catmullRom(c, t[2]) * vol.at(xx, yy, zz);
            }
    return sum;
}

} // namespace qvtest
