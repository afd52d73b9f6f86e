// The colour table's window function: documented values, the curves, and windows far
// outside the stored range, which must never write outside the table.
#include "isClut.h"
#include "support/ImageFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace isImageSDK;

namespace {
int entry(const isClut* clut, int value)
{
    return clut->getWindowTable()[value - clut->getInputMin()];
}
} // namespace

TEST(Clut, LinearWindowsMapAsDocumented)
{
    qvtest::PoolScope scope;
    isClut* clut = isClut::create();
    ASSERT_NE(clut, nullptr);
    // Defaults: identity on 8-bit values.
    for (int v : {0, 1, 128, 254, 255})
        EXPECT_EQ(entry(clut, v), v);
    EXPECT_EQ(clut->getColor(77), (77u << 24) | (77u << 16) | (77u << 8) | 255u);
    unsigned char rgb[768];
    clut->getRGBTable(rgb);
    EXPECT_EQ(rgb[3 * 200 + 1], 200);

    // A window wider than the 8-bit range greys the picture down as the window says: the ramp
    // runs between the window's own ends, not between ends clipped to 0..255.
    clut->setWindowInt(356, 178);
    EXPECT_EQ(entry(clut, 0), 0);
    EXPECT_EQ(entry(clut, 180), 128);
    EXPECT_EQ(entry(clut, 255), 182);
    clut->setWindowInt(556, 278);
    EXPECT_EQ(entry(clut, 180), 82);
    clut->setWindowInt(400, 100);  // from -100 to 300
    EXPECT_EQ(entry(clut, 0), 63);
    EXPECT_EQ(entry(clut, 255), 226);

    clut->setWindowInt(1, 100);
    EXPECT_EQ(entry(clut, 98), 0);
    EXPECT_EQ(entry(clut, 99), 0);
    EXPECT_EQ(entry(clut, 100), 255);
    EXPECT_EQ(entry(clut, 101), 255);

    clut->setPixelType(PIXEL_I16);
    EXPECT_EQ(clut->getTableSize(), 65536);
    clut->setWindowInt(400, 40);
    EXPECT_EQ(entry(clut, -32768), 0);
    EXPECT_EQ(entry(clut, -160), 0);
    EXPECT_EQ(entry(clut, 40), 127);
    EXPECT_EQ(entry(clut, 240), 255);
    EXPECT_EQ(entry(clut, 32767), 255);

    // setWindow truncates for integer images and keeps the values for float images.
    clut->setWindow(40.7f, 40.2f);
    EXPECT_FLOAT_EQ(clut->getWidth(), 40);
    EXPECT_FLOAT_EQ(clut->getLevel(), 40);
    clut->setPixelType(PIXEL_FLOAT);
    clut->setWindow(40.7f, 40.2f);
    EXPECT_FLOAT_EQ(clut->getWidth(), 40.7f);
    EXPECT_FLOAT_EQ(clut->getLevel(), 40.2f);
}

TEST(Clut, LogarithmicCurvesAndRebuildsOnlyWhenChanged)
{
    qvtest::PoolScope scope;
    isClut* clut = isClut::create();
    clut->setWindowInt(9, 4);  // lo = -0.5 -> 0, hi = 8.5 -> 8: make lo = 0, hi = 9 instead
    clut->setWindowInt(9, 5);  // lo = 0, hi = 9
    clut->setCurve(WINDOW_LOG);
    const int log[] = {0, 76, 121, 153, 178, 198, 215, 230, 243, 255};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(entry(clut, i), log[i]) << i;
    clut->setCurve(WINDOW_INVERSE_LOG);
    const int inverse[] = {0, 11, 24, 39, 56, 76, 101, 133, 178, 255};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(entry(clut, i), inverse[i]) << i;

    clut->setAutoUpdate(false);
    clut->setWindowInt(100, 50);
    EXPECT_TRUE(clut->isDirty());
    clut->updateTable();
    EXPECT_FALSE(clut->isDirty());
    clut->setWindowInt(100, 50);  // unchanged: no rebuild needed
    EXPECT_FALSE(clut->isDirty());
}

TEST(Clut, WindowTableIsRefilledInPlaceAndFloatImagesLeaveNothingPending)
{
    qvtest::PoolScope scope;
    isClut* clut = isClut::create();
    clut->setPixelType(PIXEL_I16);
    const unsigned char* table = clut->getWindowTable();
    ASSERT_NE(table, nullptr);
    // A window drag refills the same table.
    for (int step = 0; step < 8; ++step) {
        clut->setWindowInt(400 + step, 40 - step);
        EXPECT_EQ(clut->getWindowTable(), table);
        EXPECT_EQ(entry(clut, -1000), 0);
        EXPECT_NEAR(entry(clut, 40 - step), 127, 2);
        EXPECT_EQ(entry(clut, 1000), 255);
    }
    // Unsigned 16-bit values use a table of the same size.
    clut->setPixelType(PIXEL_U16);
    EXPECT_EQ(clut->getWindowTable(), table);
    // Float images are windowed by their nodes: an update has nothing to build, so nothing stays
    // pending and the table is not made again on every frame.
    clut->setPixelType(PIXEL_FLOAT);
    EXPECT_FALSE(clut->isDirty());
    clut->setWindow(1.5f, 0.25f);
    clut->updateTable();
    EXPECT_FALSE(clut->isDirty());
    EXPECT_EQ(clut->getWindowTable(), table);
    // Back to 8 bits: the table of that type, filled for the current window.
    clut->setPixelType(PIXEL_U8);
    clut->setWindowInt(255, 128);
    for (int v : {0, 1, 128, 254, 255})
        EXPECT_EQ(entry(clut, v), v);
}

TEST(Clut, ExtremeWindowsStayInsideTheTable)
{
    qvtest::PoolScope scope;
    isClut* clut = isClut::create();
    // A window wholly above the 8-bit range, and a zero width at the top value: both used to
    // write past the 256-entry table.
    clut->setWindowInt(10, 1000);
    for (int v = 0; v <= 255; ++v)
        ASSERT_EQ(entry(clut, v), 0) << v;
    clut->setWindowInt(0, 255);
    for (int v = 0; v <= 254; ++v)
        ASSERT_EQ(entry(clut, v), 0) << v;
    EXPECT_EQ(entry(clut, 255), 0);
    for (int curve : {WINDOW_LOG, WINDOW_INVERSE_LOG, WINDOW_LINEAR}) {
        clut->setCurve(curve);
        clut->setWindowInt(std::numeric_limits<int>::max(), std::numeric_limits<int>::min());
        clut->setWindowInt(std::numeric_limits<int>::max(), std::numeric_limits<int>::max());
        clut->setWindowInt(std::numeric_limits<int>::min(), 0);
        clut->setWindow(NAN, INFINITY);
        clut->setWindow(1e30f, -1e30f);
    }
    // A window wholly below the signed range maps everything above its top to white.
    clut->setCurve(WINDOW_LINEAR);
    clut->setPixelType(PIXEL_I16);
    clut->setWindowInt(10, -40000);
    EXPECT_EQ(entry(clut, 32767), 255);
    EXPECT_EQ(entry(clut, 0), 255);
    // And a huge window draws the whole range in its middle grey.
    clut->setWindowInt(std::numeric_limits<int>::max(), 0);
    EXPECT_EQ(entry(clut, -32768), 127);
    EXPECT_EQ(entry(clut, 32767), 127);
    EXPECT_EQ(clut->indexOf(1 << 20), 127);
}
