// The CPU conversion of slice frames: every stored value of every integer pixel type against
// the colour table's own two-step mapping, float samples against the window formulas in
// double precision, in-place RGB frames, frames of multi-frame records, records not loaded
// yet, and the 16-bit words of the shader node's texture.
#include "isClut.h"
#include "isFramePainter.h"
#include "support/SliceRecords.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

using namespace isImageSDK;
using qvtest::OwnedRecord;

namespace {

// The colour of stored value v straight from the table: colors[windowTable[v - inputMin]].
void referenceColour(const isClut* clut, int v, unsigned char out[3])
{
    qvtest::colourBytes(clut, clut->getWindowTable()[v - clut->getInputMin()], out);
}

// Index of a float sample under the window, from the formulas, in double precision.
double referenceFloatIndex(double v, double level, double width, int curve)
{
    const double lo = level - width * 0.5, hi = level + width * 0.5;
    double t;
    if (curve == WINDOW_LINEAR) {
        t = (v - lo) / width * 255.0;
    } else {
        if (v >= hi)
            return 255;
        if (v <= lo)
            return 0;
        const double r = 9.0 / (hi - lo);
        t = curve == WINDOW_LOG ? std::log10((v - lo) * r + 1.0) * 255.0 : (1.0 - std::log10((hi - v) * r + 1.0)) * 255.0;
    }
    return std::min(255.0, std::max(0.0, t));
}

// Checks every pixel of an integer frame painted through `clut` against the reference.
template <class T>
::testing::AssertionResult matchesReference(const T* samples, size_t n, const unsigned char* rgb, const isClut* clut)
{
    for (size_t i = 0; i < n; ++i) {
        unsigned char want[3];
        referenceColour(clut, static_cast<int>(samples[i]), want);
        if (std::memcmp(want, rgb + 3 * i, 3) != 0)
            return ::testing::AssertionFailure() << "pixel " << i << " value " << static_cast<int>(samples[i]);
    }
    return ::testing::AssertionSuccess();
}

struct Window {
    int width, level;
};

} // namespace

TEST(FramePainter, EveryIntegerValueOfEveryTypeAndCurveMatchesTheColourTable)
{
    qvtest::PoolScope scope;
    struct Case {
        int pixelType;
        int domainMin, domainSize;
        std::vector<Window> windows;
    };
    const Case cases[] = {
        {PIXEL_U8, 0, 256, {{255, 128}, {1, 100}, {10, 1000}, {0, 255}, {50, 20}, {300, -10}}},
        {PIXEL_I16, -32768, 65536, {{400, 40}, {2000, -1000}, {1, 0}, {0, 32767}, {65536, 0}, {10, 40000}}},
        {PIXEL_U16, 0, 65536, {{4096, 2048}, {1, 65535}, {100, 70000}, {0, 0}, {3, 1}}},
    };
    isFramePainter painter;
    for (const Case& c : cases) {
        // One frame holding every value of the type's domain once, in scrambled order.
        const int side = c.domainSize == 256 ? 16 : 256;
        OwnedRecord record(side, side, c.pixelType);
        std::vector<int> values(static_cast<size_t>(c.domainSize));
        for (int k = 0; k < c.domainSize; ++k)
            values[static_cast<size_t>(k)] = c.domainMin + k;
        std::shuffle(values.begin(), values.end(), std::mt19937(7));
        for (int k = 0; k < c.domainSize; ++k) {
            if (c.pixelType == PIXEL_U8)
                record.samples<uint8_t>()[k] = static_cast<uint8_t>(values[k]);
            else if (c.pixelType == PIXEL_I16)
                record.samples<int16_t>()[k] = static_cast<int16_t>(values[k]);
            else
                record.samples<uint16_t>()[k] = static_cast<uint16_t>(values[k]);
        }
        for (bool randomTable : {false, true}) {
            isClut* clut = isClut::create();
            clut->setAutoUpdate(false);  // as the image nodes hold their tables
            if (randomTable)
                qvtest::randomColours(clut, 11);
            for (int curve : {WINDOW_LINEAR, WINDOW_LOG, WINDOW_INVERSE_LOG}) {
                clut->setCurve(curve);
                for (const Window& w : c.windows) {
                    clut->setWindowInt(w.width, w.level);
                    const unsigned char* rgb = painter.paintRGB(&record.info, 0, clut);
                    ASSERT_NE(rgb, nullptr);
                    ASSERT_EQ(clut->getPixelType(), c.pixelType);
                    ASSERT_FALSE(clut->isDirty());
                    const std::string where = "type " + std::to_string(c.pixelType) + " curve " +
                                              std::to_string(curve) + " window " + std::to_string(w.width) + "/" +
                                              std::to_string(w.level) + (randomTable ? " random table" : "");
                    if (c.pixelType == PIXEL_U8)
                        EXPECT_TRUE(matchesReference(record.samples<uint8_t>(), record.pixelsPerFrame(), rgb, clut)) << where;
                    else if (c.pixelType == PIXEL_I16)
                        EXPECT_TRUE(matchesReference(record.samples<int16_t>(), record.pixelsPerFrame(), rgb, clut)) << where;
                    else
                        EXPECT_TRUE(matchesReference(record.samples<uint16_t>(), record.pixelsPerFrame(), rgb, clut)) << where;
                }
            }
        }
    }
}

TEST(FramePainter, TableChangesAreNeverServedFromAStaleLookup)
{
    qvtest::PoolScope scope;
    OwnedRecord record(4, 1, PIXEL_I16);
    record.samples<int16_t>()[0] = -1000;
    record.samples<int16_t>()[1] = 0;
    record.samples<int16_t>()[2] = 40;
    record.samples<int16_t>()[3] = 1000;
    isClut* clut = isClut::create();
    clut->setAutoUpdate(false);
    clut->setWindowInt(400, 40);
    isFramePainter painter;
    const unsigned char* rgb = painter.paintRGB(&record.info, 0, clut);
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(rgb[0], 0);
    EXPECT_EQ(rgb[3 * 2], 127);
    EXPECT_EQ(rgb[3 * 3], 255);

    // A new window, a new curve and a recoloured entry each show at the next paint.
    clut->setWindowInt(2000, 0);
    rgb = painter.paintRGB(&record.info, 0, clut);
    EXPECT_EQ(rgb[3 * 1], 127);
    clut->setCurve(WINDOW_LOG);
    rgb = painter.paintRGB(&record.info, 0, clut);
    unsigned char want[3];
    referenceColour(clut, 0, want);
    EXPECT_EQ(std::memcmp(rgb + 3, want, 3), 0);
    clut->setColor(clut->indexOf(0), 0x11223300u);
    rgb = painter.paintRGB(&record.info, 0, clut);
    EXPECT_EQ(rgb[3], 0x11);
    EXPECT_EQ(rgb[4], 0x22);
    EXPECT_EQ(rgb[5], 0x33);

    // The same table used for an 8-bit record follows its pixel type, and back again.
    OwnedRecord bytes(2, 1, PIXEL_U8);
    bytes.samples<uint8_t>()[0] = 0;
    bytes.samples<uint8_t>()[1] = 255;
    clut->setCurve(WINDOW_LINEAR);
    clut->setWindowInt(255, 128);
    rgb = painter.paintRGB(&bytes.info, 0, clut);
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(clut->getPixelType(), PIXEL_U8);
    EXPECT_EQ(rgb[0], 0);
    EXPECT_EQ(rgb[3], 255);
    rgb = painter.paintRGB(&record.info, 0, clut);
    EXPECT_EQ(clut->getPixelType(), PIXEL_I16);
    EXPECT_TRUE(matchesReference(record.samples<int16_t>(), 4, rgb, clut));
}

TEST(FramePainter, LargeFramesSplitOverWorkersGiveTheSamePicture)
{
    qvtest::PoolScope scope;
    // Large enough for the worker pool on both the lookup and the float path; odd sizes so
    // that chunk borders fall inside rows.
    OwnedRecord ints(1031, 1029, PIXEL_I16);
    OwnedRecord floats(301, 299, PIXEL_FLOAT);
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> intValues(-32768, 32767);
    std::uniform_real_distribution<float> floatValues(-2000.0f, 4000.0f);
    for (size_t i = 0; i < ints.pixelsPerFrame(); ++i)
        ints.samples<int16_t>()[i] = static_cast<int16_t>(intValues(rng));
    for (size_t i = 0; i < floats.pixelsPerFrame(); ++i)
        floats.samples<float>()[i] = floatValues(rng);

    isClut* clut = isClut::create();
    qvtest::randomColours(clut, 5);
    clut->setWindowInt(3000, 500);
    isFramePainter painter;
    const unsigned char* rgb = painter.paintRGB(&ints.info, 0, clut);
    ASSERT_NE(rgb, nullptr);
    EXPECT_TRUE(matchesReference(ints.samples<int16_t>(), ints.pixelsPerFrame(), rgb, clut));

    clut->setPixelType(PIXEL_FLOAT);
    clut->setWindow(3000.0f, 500.0f);
    clut->setCurve(WINDOW_INVERSE_LOG);
    rgb = painter.paintRGB(&floats.info, 0, clut);
    ASSERT_NE(rgb, nullptr);
    for (size_t i = 0; i < floats.pixelsPerFrame(); ++i) {
        const int index = isFramePainter::floatIndex(floats.samples<float>()[i], 500.0f, 3000.0f, WINDOW_INVERSE_LOG);
        unsigned char want[3];
        qvtest::colourBytes(clut, index, want);
        ASSERT_EQ(std::memcmp(rgb + 3 * i, want, 3), 0) << i;
    }
}

TEST(FramePainter, FloatSamplesFollowTheWindowFormulas)
{
    qvtest::PoolScope scope;
    const float windows[][2] = {{200, 100}, {1, 0}, {3000, -500}, {0.01f, 7.5f}, {1e6f, 0}};
    std::mt19937 rng(9);
    for (const auto& w : windows) {
        const float width = w[0], level = w[1];
        for (int curve : {WINDOW_LINEAR, WINDOW_LOG, WINDOW_INVERSE_LOG}) {
            std::uniform_real_distribution<float> around(level - width, level + width);
            for (int k = 0; k < 2000; ++k) {
                const float v = around(rng);
                const int got = isFramePainter::floatIndex(v, level, width, curve);
                const double want = referenceFloatIndex(v, level, width, curve);
                // Float against double arithmetic: the truncation may land one index apart.
                ASSERT_LE(std::fabs(got - std::floor(want)), 1.0) << v << " " << width << "/" << level << " " << curve;
            }
        }
    }
    // Documented edges: the linear curve clamps, the log curves saturate at the window's ends.
    EXPECT_EQ(isFramePainter::floatIndex(-50, 100, 200, WINDOW_LINEAR), 0);
    EXPECT_EQ(isFramePainter::floatIndex(500, 100, 200, WINDOW_LINEAR), 255);
    EXPECT_EQ(isFramePainter::floatIndex(50, 100, 200, WINDOW_LINEAR), 63);  // 50 / 200 * 255 = 63.75
    EXPECT_EQ(isFramePainter::floatIndex(200, 100, 200, WINDOW_LOG), 255);
    EXPECT_EQ(isFramePainter::floatIndex(0, 100, 200, WINDOW_LOG), 0);
    EXPECT_EQ(isFramePainter::floatIndex(200, 100, 200, WINDOW_INVERSE_LOG), 255);
    EXPECT_EQ(isFramePainter::floatIndex(0, 100, 200, WINDOW_INVERSE_LOG), 0);
    // Samples and windows that would make the index undefined give 0 or saturate.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (int curve : {WINDOW_LINEAR, WINDOW_LOG, WINDOW_INVERSE_LOG}) {
        EXPECT_EQ(isFramePainter::floatIndex(nan, 100, 200, curve), 0);
        EXPECT_EQ(isFramePainter::floatIndex(inf, 100, 200, curve), 255);
        EXPECT_EQ(isFramePainter::floatIndex(-inf, 100, 200, curve), 0);
        EXPECT_EQ(isFramePainter::floatIndex(100, 100, 0, curve) >= 0, true);
        EXPECT_EQ(isFramePainter::floatIndex(3e38f, -3e38f, 1, curve), 255);
    }
    EXPECT_EQ(isFramePainter::floatIndex(100, 100, 0, WINDOW_LINEAR), 0);
    EXPECT_EQ(isFramePainter::floatIndex(101, 100, 0, WINDOW_LINEAR), 255);

    // A painted float frame uses the table's level, width and curve.
    OwnedRecord record(3, 1, PIXEL_FLOAT);
    record.samples<float>()[0] = -10;
    record.samples<float>()[1] = 50;
    record.samples<float>()[2] = nan;
    isClut* clut = isClut::create();
    clut->setAutoUpdate(false);
    clut->setPixelType(PIXEL_FLOAT);
    clut->setWindow(200, 100);
    isFramePainter painter;
    const unsigned char* rgb = painter.paintRGB(&record.info, 0, clut);
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(rgb[0], 0);
    EXPECT_EQ(rgb[3], 63);
    EXPECT_EQ(rgb[6], 0);
}

TEST(FramePainter, FramesRgbAndRecordsNotLoaded)
{
    qvtest::PoolScope scope;
    isClut* clut = isClut::create();
    isFramePainter painter;

    // Frame f of a multi-frame grey record starts at pixel n x f.
    OwnedRecord grey(3, 2, PIXEL_U16, 4);
    for (int f = 0; f < 4; ++f)
        for (int i = 0; i < 6; ++i)
            grey.samples<uint16_t>(f)[i] = static_cast<uint16_t>(f * 50);
    clut->setWindowInt(255, 128);
    for (int f = 0; f < 4; ++f) {
        const unsigned char* rgb = painter.paintRGB(&grey.info, f, clut);
        ASSERT_NE(rgb, nullptr);
        EXPECT_EQ(rgb[0], f * 50);
        EXPECT_EQ(rgb[3 * 5 + 2], f * 50);
    }

    // RGB frames are used in place from byte n x 3 x f, without any window.
    OwnedRecord colour(5, 3, PIXEL_RGB, 3);
    EXPECT_EQ(painter.paintRGB(&colour.info, 2, clut), colour.bytes.data() + 5 * 3 * 3 * 2);
    EXPECT_EQ(painter.paintRGB(&colour.info, 0, clut), colour.bytes.data());

    // Not loaded yet: white for PET and NM, black for the others, whatever the buffer holds.
    OwnedRecord waiting(4, 4, PIXEL_I16);
    std::fill(waiting.bytes.begin(), waiting.bytes.end(), 0x7F);
    waiting.info.pixelsLoaded = 0;
    for (int modality : {MODALITY_CT, MODALITY_PT, MODALITY_MR, MODALITY_NM, MODALITY_OTHER}) {
        waiting.info.modality = modality;
        const unsigned char* rgb = painter.paintRGB(&waiting.info, 0, clut);
        ASSERT_NE(rgb, nullptr);
        const int expected = modality == MODALITY_PT || modality == MODALITY_NM ? 255 : 0;
        for (int i = 0; i < 4 * 4 * 3; ++i)
            ASSERT_EQ(rgb[i], expected) << modality;
    }
    waiting.info.pixels = nullptr;  // a record still waiting for its buffer
    EXPECT_NE(painter.paintRGB(&waiting.info, 0, clut), nullptr);
    colour.info.pixelsLoaded = 0;
    EXPECT_NE(painter.paintRGB(&colour.info, 0, clut), colour.bytes.data());
}

TEST(FramePainter, NothingIsBuiltFromWhatCannotBePainted)
{
    qvtest::PoolScope scope;
    isClut* clut = isClut::create();
    isFramePainter painter;
    OwnedRecord record(4, 4, PIXEL_I16, 2);
    EXPECT_EQ(painter.paintRGB(nullptr, 0, clut), nullptr);
    EXPECT_EQ(painter.paintRGB(&record.info, 0, nullptr), nullptr);
    EXPECT_EQ(painter.paintRGB(&record.info, 2, clut), nullptr);   // past the last frame
    EXPECT_EQ(painter.paintRGB(&record.info, -1, clut), nullptr);
    EXPECT_EQ(painter.packWords(&record.info, 2, nullptr, nullptr), nullptr);

    OwnedRecord empty(0, 4, PIXEL_I16);
    EXPECT_EQ(painter.paintRGB(&empty.info, 0, clut), nullptr);
    OwnedRecord unknown(4, 4, PIXEL_U8);
    unknown.info.pixelType = 7;
    EXPECT_EQ(painter.paintRGB(&unknown.info, 0, clut), nullptr);
    EXPECT_EQ(painter.packWords(&unknown.info, 0, nullptr, nullptr), nullptr);
    record.info.pixels = nullptr;  // loaded but without a buffer
    EXPECT_EQ(painter.paintRGB(&record.info, 0, clut), nullptr);
    EXPECT_EQ(painter.packWords(&record.info, 0, nullptr, nullptr), nullptr);
}

TEST(FramePainter, ShaderWordsOfEveryType)
{
    qvtest::PoolScope scope;
    isFramePainter painter;
    float scale = -1, offset = -1;

    OwnedRecord i16(3, 1, PIXEL_I16, 2);
    i16.samples<int16_t>(1)[0] = -32768;
    i16.samples<int16_t>(1)[1] = 0;
    i16.samples<int16_t>(1)[2] = 32767;
    const uint16_t* words = painter.packWords(&i16.info, 1, &scale, &offset);
    ASSERT_NE(words, nullptr);
    EXPECT_EQ(words[0], 0);
    EXPECT_EQ(words[1], 32768);
    EXPECT_EQ(words[2], 65535);
    EXPECT_EQ(scale, 1.0f);
    EXPECT_EQ(offset, 0.0f);

    OwnedRecord u16(2, 2, PIXEL_U16, 3);
    EXPECT_EQ(painter.packWords(&u16.info, 2, &scale, &offset), u16.samples<uint16_t>(2));

    OwnedRecord u8(2, 1, PIXEL_U8);
    u8.samples<uint8_t>()[0] = 7;
    u8.samples<uint8_t>()[1] = 255;
    words = painter.packWords(&u8.info, 0, &scale, &offset);
    EXPECT_EQ(words[0], 7);
    EXPECT_EQ(words[1], 255);

    OwnedRecord f(4, 1, PIXEL_FLOAT);
    f.samples<float>()[0] = -100;
    f.samples<float>()[1] = 0;
    f.samples<float>()[2] = 100;
    f.samples<float>()[3] = std::numeric_limits<float>::quiet_NaN();
    words = painter.packWords(&f.info, 0, &scale, &offset);
    ASSERT_NE(words, nullptr);
    EXPECT_FLOAT_EQ(scale, 65535.0f / 200.0f);
    EXPECT_FLOAT_EQ(offset, 100.0f * 65535.0f / 200.0f);
    EXPECT_EQ(words[0], 0);
    EXPECT_NEAR(words[1], 32767, 1);
    EXPECT_EQ(words[2], 65535);
    EXPECT_EQ(words[3], 0);
    // Equal samples: maximum = minimum + 1 and a texture of zeros.
    for (int i = 0; i < 4; ++i)
        f.samples<float>()[i] = 42.5f;
    words = painter.packWords(&f.info, 0, &scale, &offset);
    EXPECT_FLOAT_EQ(scale, 65535.0f);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(words[i], 0);

    // Not loaded: zeros, never the uncleared buffer; RGB is not packed.
    std::fill(i16.bytes.begin(), i16.bytes.end(), 0x55);
    i16.info.pixelsLoaded = 0;
    words = painter.packWords(&i16.info, 0, &scale, &offset);
    ASSERT_NE(words, nullptr);
    EXPECT_EQ(words[0], 0);
    EXPECT_EQ(words[2], 0);
    OwnedRecord rgb(2, 2, PIXEL_RGB);
    EXPECT_EQ(painter.packWords(&rgb.info, 0, &scale, &offset), nullptr);
}
