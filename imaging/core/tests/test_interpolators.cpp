// The volume interpolators: exact on the fields they reproduce, and their borders.
#include "CTriCubic.h"
#include "CTriLinear.h"
#include "support/SliceReference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace isImageSDK;
using qvtest::Volume;

namespace {

template <class F>
Volume<float> field(int n, const float sp[3], F f)
{
    Volume<float> vol(n, n + 1, n + 2);
    for (int k = 0; k < vol.nz; ++k)
        for (int j = 0; j < vol.ny; ++j)
            for (int i = 0; i < vol.nx; ++i)
                vol.at(i, j, k) = static_cast<float>(f(i * sp[0], j * sp[1], k * sp[2]));
    return vol;
}

float cubicAt(const CTriCubic<float>& in, float x, float y, float z)
{
    const float fx = x / in.spacing[0];
    return in.interpolate(y, z, fx, static_cast<int>(fx));
}

} // namespace

TEST(Interpolators, TrilinearIsExactOnLinearAndTricubicOnQuadraticFields)
{
    const float sp[3] = {0.7f, 1.1f, 1.6f};
    auto linear = [](double x, double y, double z) { return 3.0 + 2.0 * x - 1.5 * y + 0.75 * z + 0.1 * x * y; };
    // Catmull-Rom reproduces polynomials up to degree two exactly along each axis.
    auto quadratic = [](double x, double y, double z) { return 1.0 + x * x - 0.5 * y * y + 0.3 * z * z + x * z - y; };
    const auto lin = field(12, sp, linear);
    const auto quad = field(12, sp, quadratic);
    const int dims[3] = {lin.nx, lin.ny, lin.nz};
    const CTriLinear<float> tl(lin.v.data(), dims, sp, -1.0f);
    const CTriCubic<float> tc(quad.v.data(), dims, sp, -1.0f);
    std::mt19937 rng(4);
    for (int n = 0; n < 2000; ++n) {
        // Anywhere inside for the trilinear; at least one voxel from the border for cubic.
        const float x = std::uniform_real_distribution<float>(0, 11 * sp[0])(rng);
        const float y = std::uniform_real_distribution<float>(0, 12 * sp[1])(rng);
        const float z = std::uniform_real_distribution<float>(0, 13 * sp[2])(rng);
        // x * y is bilinear, which trilinear weights reproduce too.
        ASSERT_NEAR(tl.interpolate(x, y, z), linear(x, y, z), 2e-3) << x << "," << y << "," << z;
        const float cx = sp[0] + x * 9 / 11, cy = sp[1] + y * 10 / 12, cz = sp[2] + z * 11 / 13;
        ASSERT_NEAR(cubicAt(tc, cx, cy, cz), quadratic(cx, cy, cz), 5e-3) << cx << "," << cy << "," << cz;
    }
}

TEST(Interpolators, GridPointsBordersAndBackground)
{
    Volume<int16_t> vol(4, 3, 2);
    for (size_t i = 0; i < vol.v.size(); ++i)
        vol.v[i] = static_cast<int16_t>(i * 37 - 200);
    vol.at(1, 1, 1) = 100;
    vol.at(0, 1, 1) = 0;
    const float sp[3] = {1, 1, 1};
    const int dims[3] = {4, 3, 2};
    const CTriLinear<int16_t> tl(vol.v.data(), dims, sp, -1024);
    const CTriCubic<int16_t> tc(vol.v.data(), dims, sp, -1024);
    for (int k = 0; k < 2; ++k)
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 4; ++i) {
                ASSERT_EQ(tl.interpolate(float(i), float(j), float(k)), vol.at(i, j, k));
                ASSERT_EQ(tc.interpolate(float(j), float(k), float(i), i), vol.at(i, j, k));
            }
    EXPECT_EQ(tl.interpolate(0.5f, 1, 1), 50);
    // The last voxel centre is inside; just past it is not.
    EXPECT_EQ(tl.interpolate(3, 2, 1), vol.at(3, 2, 1));
    EXPECT_EQ(tl.interpolate(3.001f, 2, 1), -1024);
    EXPECT_EQ(tl.interpolate(1, 2.001f, 1), -1024);
    EXPECT_EQ(tl.interpolate(1, 1, -0.001f), -1024);
    EXPECT_EQ(tl.interpolate(NAN, 1, 1), -1024);
    // The cubic one accepts a continuous index between -1 and 0 on y and z.
    EXPECT_NE(tc.interpolate(-0.5f, 0.5f, 1.0f, 1), -1024);
    EXPECT_EQ(tc.interpolate(-1.0f, 0.5f, 1.0f, 1), -1024);
    EXPECT_EQ(tc.interpolate(1.0f, 2.0f, 1.0f, 1), -1024);
    EXPECT_EQ(tc.interpolate(1.0f, 1.0f, 4.0f, 4), -1024);
}

TEST(Interpolators, CubicOvershootSaturatesIntegerSamples)
{
    // A sharp 0 / 255 edge: Catmull-Rom rings past both ends of the 8-bit range.
    Volume<uint8_t> vol(8, 4, 4);
    for (int k = 0; k < 4; ++k)
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 8; ++i)
                vol.at(i, j, k) = i < 4 ? 0 : 255;
    const float sp[3] = {1, 1, 1};
    const int dims[3] = {8, 4, 4};
    const CTriCubic<uint8_t> tc(vol.v.data(), dims, sp, 0);
    const float sp1[3] = {1, 1, 1};
    EXPECT_LT(qvtest::referenceTricubic(vol, sp1, 0, 4.5f, 1.5f, 1.5f), 300);  // sanity of the reference
    EXPECT_GT(qvtest::referenceTricubic(vol, sp1, 0, 4.3f, 1.5f, 1.5f), 255);
    EXPECT_LT(qvtest::referenceTricubic(vol, sp1, 0, 2.7f, 1.5f, 1.5f), 0);
    EXPECT_EQ(tc.interpolate(1.5f, 1.5f, 4.3f, 4), 255);
    EXPECT_EQ(tc.interpolate(1.5f, 1.5f, 2.7f, 2), 0);
}

#include "isSliceKernelsAvx2.h"

namespace {

template <class T>
void checkVectorRowsMatchScalar(double lo, double hi)
{
    const auto vol = qvtest::randomVolume<T>(21, 17, 13, 6, lo, hi);
    const float sp[3] = {0.6f, 0.9f, 1.7f};
    const int dims[3] = {vol.nx, vol.ny, vol.nz};
    const CTriLinear<T> tl(vol.v.data(), dims, sp, T(7));
    const CTriCubic<T> tc(vol.v.data(), dims, sp, T(7));
    // Rows that start outside, cross the volume and leave it, plus exact grid points.
    std::mt19937 rng(12);
    std::uniform_real_distribution<float> pos(-3, 25);
    const int width = 203;
    std::vector<float> xs(width), ys(width), zs(width);
    for (int row = 0; row < 40; ++row) {
        for (int c = 0; c < width; ++c) {
            if (row % 4 == 0) {
                xs[c] = (c % 21) * sp[0], ys[c] = (row % 17) * sp[1], zs[c] = (c % 13) * sp[2];
            } else {
                xs[c] = pos(rng), ys[c] = pos(rng) * 0.6f, zs[c] = pos(rng);
            }
        }
        std::vector<T> linear(width), cubic(width);
        avx2::linearRow<T>(tl, xs.data(), ys.data(), zs.data(), width, linear.data());
        avx2::cubicRow<T>(tc, xs.data(), ys.data(), zs.data(), width, cubic.data());
        for (int c = 0; c < width; ++c) {
            const T wantLinear = xs[c] >= 0.0f ? tl.interpolate(xs[c], ys[c], zs[c]) : tl.background;
            const float fx = xs[c] / sp[0];
            const T wantCubic = fx > -1.0f && fx < dims[0] ? tc.interpolate(ys[c], zs[c], fx, int(fx)) : tc.background;
            ASSERT_EQ(linear[c], wantLinear) << row << "," << c;
            ASSERT_EQ(cubic[c], wantCubic) << row << "," << c;
        }
    }
}

} // namespace

TEST(Interpolators, VectorRowsGiveTheScalarSamplesExactly)
{
    if (!avx2::available())
        GTEST_SKIP() << "no AVX2 on this processor";
    checkVectorRowsMatchScalar<int16_t>(-32768, 32768);
    checkVectorRowsMatchScalar<uint16_t>(0, 65536);
}
