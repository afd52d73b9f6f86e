// The transfer tables and the empty-space grid of the volume renderer.
#include "support/volumeFixtures.h"
#include "vrSpaceLeaping.h"
#include "vrTransferTable.h"

#include "isImageTypes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace isImageSDK;
using qvtest::TestVolume;

TEST(VolumeTransferTable, PreIntegratedTableIsTheSymmetricMeanOfTheTransferFunction)
{
    vrTransferTable table;
    unsigned char rgb[768];
    for (int i = 0; i < 256; ++i) {
        rgb[i * 3] = static_cast<unsigned char>(255 - i);
        rgb[i * 3 + 1] = static_cast<unsigned char>((i * 7) & 255);
        rgb[i * 3 + 2] = static_cast<unsigned char>(i / 2);
    }
    table.setColors(rgb);
    ASSERT_TRUE(table.isDirty());
    table.buildPreIntegrated();
    EXPECT_FALSE(table.isDirty());
    const float* t = table.transfer();
    const float* pre = table.preIntegrated();
    for (int r = 0; r < 256; r += 5)
        for (int c = 0; c < 256; c += 3)
            for (int ch = 0; ch < 4; ++ch) {
                const float e = pre[(r * 256 + c) * 4 + ch];
                EXPECT_EQ(e, pre[(c * 256 + r) * 4 + ch]);
                EXPECT_GE(e, 0.0f);
                EXPECT_LE(e, 255.0f);
                if (r == c) {
                    EXPECT_EQ(e, t[r * 4 + ch]);
                }
            }
    // The opacity is the level itself, so its mean between two levels is their midpoint.
    EXPECT_FLOAT_EQ(pre[(200 * 256 + 100) * 4], 150.0f);
    // A colour ramp falling by one per level has the same mean.
    EXPECT_FLOAT_EQ(pre[(200 * 256 + 100) * 4 + 1], 255.0f - 150.0f);
}

TEST(VolumeSpaceLeaping, GridSizesBoxAndThresholds)
{
    // A one-voxel-thick axis gives one block on it.
    TestVolume<int16_t> thin(9, 1, 5, PIXEL_I16, 0);
    vrSpaceLeaping g1;
    g1.setVolume(&thin.descriptor);
    EXPECT_EQ(g1.blocksX(), 3);
    EXPECT_EQ(g1.blocksY(), 1);
    EXPECT_EQ(g1.blocksZ(), 2);

    TestVolume<int16_t> v(32, 32, 32, PIXEL_I16, -1000);
    // One bright voxel in block (2, 3, 4) and one equal to the threshold in block (5, 1, 6).
    v.at(9, 13, 17) = 500;
    v.at(21, 5, 26) = 200;
    vrSpaceLeaping grid;
    grid.setVolume(&v.descriptor);
    grid.build();
    ASSERT_TRUE(grid.isBuilt());
    const float* b = grid.bounds();
    // Threshold 200: both blocks count for the box.
    EXPECT_EQ(b[0], 8);
    EXPECT_EQ(b[1], 23);
    EXPECT_EQ(b[2], 4);
    EXPECT_EQ(b[3], 15);
    EXPECT_EQ(b[4], 16);
    EXPECT_EQ(b[5], 27);
    // A maximum equal to the threshold is occupied for the box but not empty.
    const float atThreshold[3] = {21, 5, 26};
    EXPECT_FALSE(grid.isEmpty(atThreshold));
    const float inAir[3] = {1, 1, 1};
    EXPECT_TRUE(grid.isEmpty(inAir));

    // Everything below the threshold: an inverted box.
    grid.setThreshold(1000);
    b = grid.bounds();
    EXPECT_GT(b[0], b[1]);
    EXPECT_GT(b[4], b[5]);

    // Everything above: the box covers the volume but never reaches its last voxel.
    grid.setThreshold(-32768);
    b = grid.bounds();
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(b[2 * a], 0);
        EXPECT_EQ(b[2 * a + 1], 30);
    }
}

TEST(VolumeSpaceLeaping, ReadsEveryIntegerTypeAsItself)
{
    // Unsigned 16-bit values above 32767 stay large; unsigned 8-bit volumes are read byte by
    // byte (AddressSanitizer catches a read as 16-bit).
    TestVolume<uint16_t> wide(8, 8, 8, PIXEL_U16, 0);
    wide.at(6, 6, 6) = 40000;
    vrSpaceLeaping g16;
    g16.setVolume(&wide.descriptor);
    g16.setThreshold(39000);
    g16.build();
    EXPECT_EQ(g16.bounds()[0], 4);
    EXPECT_EQ(g16.bounds()[1], 6);  // 7 clamped to n - 2

    TestVolume<uint8_t> bytes(5, 6, 7, PIXEL_U8, 10);
    bytes.at(4, 5, 6) = 250;
    vrSpaceLeaping g8;
    g8.setVolume(&bytes.descriptor);
    g8.build();
    EXPECT_EQ(g8.maxima()[g8.blocksPerSlice() * g8.blocksZ() - 1], 250);

    TestVolume<float> floats(8, 8, 8, PIXEL_FLOAT, -5.5f);
    floats.at(1, 1, 1) = 3.25f;
    vrSpaceLeapingFloat gf;
    gf.setVolume(&floats.descriptor);
    gf.setThreshold(-5.0f);
    gf.build();
    EXPECT_EQ(gf.maxima()[0], 3.25f);
    EXPECT_EQ(gf.bounds()[1], 3);
    // A float threshold below the data takes in every block.
    gf.setThreshold(-6.0f);
    EXPECT_EQ(gf.bounds()[1], 6);
}

TEST(VolumeTransferTable, LevelStartsAreTheFirstValuesOfEachLevel)
{
    // Soft tissue, a narrow window with a fractional lower bound, a window far below zero, and
    // one so narrow that several levels begin between two integers.
    const float windows[][2] = {{400.0f, 40.0f}, {7.5f, -160.3f}, {3000.0f, -20000.0f}, {0.3f, 10.0f}};
    for (const auto& w : windows) {
        const float lower = w[1] - w[0] * 0.5f, scale = 255.0f / std::max(w[0], 1.0f);
        int32_t ints[257];
        float floats[257];
        vrLevelStarts(lower, scale, ints, floats);
        EXPECT_EQ(ints[0], std::numeric_limits<int32_t>::lowest());
        EXPECT_EQ(ints[256], std::numeric_limits<int32_t>::max());
        for (int level = 1; level < 256; ++level) {
            const int32_t v = ints[level];
            EXPECT_GE(vrLevel(static_cast<float>(v), lower, scale), level) << w[0] << "/" << w[1] << " " << level;
            EXPECT_LT(vrLevel(static_cast<float>(v - 1), lower, scale), level) << w[0] << "/" << w[1] << " " << level;
            EXPECT_LE(ints[level - 1], v);
            const float f = floats[level];
            EXPECT_GE(vrLevel(f, lower, scale), level);
            EXPECT_LT(vrLevel(std::nextafter(f, -1e30f), lower, scale), level);
        }
    }
}
