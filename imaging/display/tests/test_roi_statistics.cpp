// Region and point statistics of measurements against brute-force references computed over the
// whole slice in double precision: polygons and circles of every grey pixel type, on a tilted
// slice, at the edges and partly or wholly off the slice; the texts the image actor answers.
#include "isROIStatistics.h"

#include "DicomSeriesWriter.h"
#include "isDcmReader.h"
#include "isImageData.h"
#include "support/SliceRecords.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <unistd.h>

using namespace isImageSDK;
using cocos2d::Mat4;
using cocos2d::Vec3;
using qvtest::OwnedRecord;

namespace {

using Reference = qvtest::RegionReference;

// Independent even-odd test in double precision.
bool insidePolygon(const std::vector<double>& xy, double x, double y)
{
    bool inside = false;
    const size_t n = xy.size() / 2;
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
        const double xi = xy[2 * i], yi = xy[2 * i + 1], xj = xy[2 * j], yj = xy[2 * j + 1];
        if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi)
            inside = !inside;
    }
    return inside;
}

void expectMatches(const ROIRegionStats& s, const Reference& ref)
{
    if (ref.count == 0) {
        EXPECT_EQ(s.minimum, 0.0f);
        EXPECT_EQ(s.maximum, 0.0f);
        EXPECT_EQ(s.total, 0.0f);
        EXPECT_EQ(s.mean, 0.0f);
        EXPECT_EQ(s.deviation, 0.0f);
        return;
    }
    EXPECT_EQ(s.minimum, static_cast<float>(ref.minimum));
    EXPECT_EQ(s.maximum, static_cast<float>(ref.maximum));
    const double scale = std::max(1.0, std::fabs(ref.total));
    EXPECT_NEAR(s.total, ref.total, scale * 1e-6);
    EXPECT_NEAR(s.mean, ref.mean, std::max(1.0, std::fabs(ref.mean)) * 1e-5);
    EXPECT_NEAR(s.deviation, ref.deviation, std::max(1.0, ref.deviation) * 1e-4);
}

template <class T>
OwnedRecord randomSlice(int pixelType, int columns, int rows, unsigned seed)
{
    OwnedRecord r(columns, rows, pixelType);
    std::mt19937 rng(seed);
    T* p = r.samples<T>();
    for (size_t k = 0; k < r.pixelsPerFrame(); ++k) {
        if constexpr (std::is_same_v<T, float>)
            p[k] = std::uniform_real_distribution<float>(-2000.0f, 3000.0f)(rng);
        else
            p[k] = static_cast<T>(rng());
    }
    r.info.spacingX = 0.7f;
    r.info.spacingY = 0.45f;
    return r;
}

template <class T>
struct PixelTypeOf;
template <> struct PixelTypeOf<uint8_t> { static constexpr int value = PIXEL_U8; };
template <> struct PixelTypeOf<uint16_t> { static constexpr int value = PIXEL_U16; };
template <> struct PixelTypeOf<int16_t> { static constexpr int value = PIXEL_I16; };
template <> struct PixelTypeOf<float> { static constexpr int value = PIXEL_FLOAT; };

template <class T>
class RegionSampler : public ::testing::Test {};
using GreyTypes = ::testing::Types<uint8_t, uint16_t, int16_t, float>;
TYPED_TEST_SUITE(RegionSampler, GreyTypes);

// Random polygons in pixel units, many reaching over the edges or lying wholly off the slice.
TYPED_TEST(RegionSampler, PolygonsMatchWholeSliceScan)
{
    const int type = PixelTypeOf<TypeParam>::value;
    OwnedRecord r = randomSlice<TypeParam>(type, 23, 17, 7u + type);
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> coord(-12.0f, 35.0f);
    for (int trial = 0; trial < 60; ++trial) {
        const int n = 3 + trial % 6;
        std::vector<float> xy(2 * n);
        std::vector<double> xyd(2 * n);
        float x0 = 1e9f, y0 = 1e9f, x1 = -1e9f, y1 = -1e9f;
        for (int k = 0; k < n; ++k) {
            xy[2 * k] = coord(rng);
            xy[2 * k + 1] = coord(rng);
            xyd[2 * k] = xy[2 * k];
            xyd[2 * k + 1] = xy[2 * k + 1];
            x0 = std::min(x0, xy[2 * k]);
            x1 = std::max(x1, xy[2 * k]);
            y0 = std::min(y0, xy[2 * k + 1]);
            y1 = std::max(y1, xy[2 * k + 1]);
        }
        ROIRegionStats s;
        ASSERT_TRUE(initialROIExtremes(type, &s.minimum, &s.maximum));
        ASSERT_TRUE(samplePolygonRegion(r.info, xy.data(), n, x0, y0, x1, y1, s));
        const Reference ref = qvtest::bruteForceRegion(r.info, [&](int i, int j) { return insidePolygon(xyd, i, j); });
        SCOPED_TRACE(trial);
        expectMatches(s, ref);
    }
}

TYPED_TEST(RegionSampler, CirclesMatchWholeSliceScan)
{
    const int type = PixelTypeOf<TypeParam>::value;
    OwnedRecord r = randomSlice<TypeParam>(type, 19, 26, 31u + type);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> centre(-8.0f, 22.0f);
    std::uniform_real_distribution<float> radius(0.2f, 9.0f);
    const float sx = r.info.spacingX, sy = r.info.spacingY;
    for (int trial = 0; trial < 60; ++trial) {
        const float cx = centre(rng), cy = centre(rng), rad = radius(rng);
        ROIRegionStats s;
        ASSERT_TRUE(initialROIExtremes(type, &s.minimum, &s.maximum));
        const float x0 = (cx - rad) / sx + 0.5f, x1 = (cx + rad) / sx + 0.5f;
        const float y0 = (cy - rad) / sy + 0.5f, y1 = (cy + rad) / sy + 0.5f;
        ASSERT_TRUE(sampleCircleRegion(r.info, cx, cy, rad * rad, x0, y0, x1, y1, s));
        const Reference ref = qvtest::bruteForceRegion(r.info, [&](int i, int j) {
            const double dx = i * static_cast<double>(sx) - cx, dy = j * static_cast<double>(sy) - cy;
            return dx * dx + dy * dy <= static_cast<double>(rad) * rad;
        });
        SCOPED_TRACE(trial);
        expectMatches(s, ref);
    }
}

TEST(RegionSamplerLimits, RgbAndMissingPixelsGiveNoAnswer)
{
    OwnedRecord rgb(4, 4, PIXEL_RGB);
    const float square[] = {0, 0, 4, 0, 4, 4, 0, 4};
    ROIRegionStats s;
    s.minimum = 42.0f;
    EXPECT_FALSE(samplePolygonRegion(rgb.info, square, 4, 0, 0, 4, 4, s));
    EXPECT_FALSE(sampleCircleRegion(rgb.info, 1, 1, 4, 0, 0, 4, 4, s));
    EXPECT_EQ(s.minimum, 42.0f);
    float mn, mx;
    EXPECT_FALSE(initialROIExtremes(PIXEL_RGB, &mn, &mx));
    OwnedRecord grey(4, 4, PIXEL_U8);
    grey.info.pixels = nullptr;
    EXPECT_FALSE(samplePolygonRegion(grey.info, square, 4, 0, 0, 4, 4, s));
}

// A bound far outside the slice (a rim dragged away while zoomed out) must neither allocate nor
// walk the whole box: the scan is limited to the slice, and NaN or infinite bounds scan nothing
// or the whole slice without overflowing.
TEST(RegionSamplerLimits, HugeAndNonFiniteBoxesStayOnTheSlice)
{
    OwnedRecord r(512, 512, PIXEL_I16);
    int16_t* p = r.samples<int16_t>();
    for (size_t k = 0; k < r.pixelsPerFrame(); ++k)
        p[k] = static_cast<int16_t>(k % 1000 - 300);
    ROIRegionStats s;
    initialROIExtremes(PIXEL_I16, &s.minimum, &s.maximum);
    const float big = 1e12f;
    ASSERT_TRUE(sampleCircleRegion(r.info, 0, 0, big * big, -big, -big, big, big, s));
    EXPECT_EQ(s.minimum, -300.0f);
    EXPECT_EQ(s.maximum, 699.0f);

    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    ROIRegionStats t;
    initialROIExtremes(PIXEL_I16, &t.minimum, &t.maximum);
    ASSERT_TRUE(sampleCircleRegion(r.info, nan, 0, 4, nan, nan, nan, nan, t));
    EXPECT_EQ(t.total, 0.0f);
    EXPECT_EQ(t.maximum, 0.0f);
    ROIRegionStats u;
    initialROIExtremes(PIXEL_I16, &u.minimum, &u.maximum);
    ASSERT_TRUE(sampleCircleRegion(r.info, 0, 0, inf, -inf, -inf, inf, inf, u));
    EXPECT_EQ(u.minimum, -300.0f);
}

TEST(PolygonGeometry, CrossingTestAndArea)
{
    const float square[] = {0, 0, 4, 0, 4, 4, 0, 4};
    EXPECT_EQ(pointInPolygon(square, 4, 2, 2), 1);
    EXPECT_EQ(pointInPolygon(square, 4, 5, 2), 0);
    // The lower and left edges belong to the square, the upper and right do not.
    EXPECT_EQ(pointInPolygon(square, 4, 0, 0), 1);
    EXPECT_EQ(pointInPolygon(square, 4, 4, 2), 0);
    EXPECT_EQ(pointInPolygon(square, 4, 2, 4), 0);
    EXPECT_FLOAT_EQ(polygonArea(square, 4), 16.0f);
    // Clockwise gives the same area; a bow tie's halves cancel.
    const float clockwise[] = {0, 0, 0, 4, 4, 4, 4, 0};
    EXPECT_FLOAT_EQ(polygonArea(clockwise, 4), 16.0f);
    const float bowTie[] = {0, 0, 4, 4, 4, 0, 0, 4};
    EXPECT_FLOAT_EQ(polygonArea(bowTie, 4), 0.0f);
    EXPECT_EQ(polygonArea(square, 2), 0.0f);
}

// ---- the answer texts ----

// A slice tilted in the world: rows along (0, 1, 0), columns along (0, 0, -1), first pixel at
// (10, -20, 30). Shapes are given in slice millimetres and placed into the world through it.
struct TiltedSlice {
    OwnedRecord r;
    explicit TiltedSlice(int pixelType, int columns = 40, int rows = 30, float spacing = 0.5f)
        : r(columns, rows, pixelType)
    {
        r.info.spacingX = spacing;
        r.info.spacingY = spacing;
        Mat4 m;
        m.m[0] = 0; m.m[1] = 1; m.m[2] = 0;
        m.m[4] = 0; m.m[5] = 0; m.m[6] = -1;
        m.m[8] = 1; m.m[9] = 0; m.m[10] = 0;
        m.m[12] = 10; m.m[13] = -20; m.m[14] = 30;
        r.info.matrix = m;
    }
    Vec3 world(float x, float y) const
    {
        Vec3 out;
        r.info.matrix.transformPoint(Vec3(x, y, 0), &out);
        return out;
    }
};

// In centimetres where the file gave the pixel spacing; in pixels, and said so, where it did not
// (the world unit of such a slice is its 1-mm stand-in spacing, one pixel).
TEST(StatisticsText, CircleAreaAndBoxInCentimetresOrPixels)
{
    for (const bool spaced : {true, false}) {
        TiltedSlice t(PIXEL_U8, 100, 100, spaced ? 0.5f : 1.0f);
        t.r.info.pixelSpacingPresent = spaced ? 1 : 0;
        ROICircle* c = ROICircle::create();
        c->retain();
        c->center = t.world(25, 25);
        c->rim = t.world(35, 25);
        std::string text;
        ASSERT_TRUE(computeROIStatisticsText(t.r.info, *c, text));
        EXPECT_EQ(text.substr(0, text.find('\n')),
                  spaced ? "Area:3.14,W:2 H:2 Unit:cm" : "Area:314.16px\u00b2,W:20 H:20 Unit:px");
        c->release();
    }
}

TEST(StatisticsText, ThreePixelsOfKnownValues)
{
    TiltedSlice t(PIXEL_U8);
    uint8_t* p = t.r.samples<uint8_t>();
    const int cols = t.r.info.columns;
    p[5 * cols + 4] = 10;
    p[5 * cols + 5] = 20;
    p[5 * cols + 6] = 30;
    // A thin triangle around pixels (4..6, 5) in slice millimetres (pixel i at i * 0.5 mm).
    ROIPolygon* poly = ROIPolygon::create();
    poly->retain();
    poly->vertices = {t.world(1.6f, 2.1f), t.world(3.1f, 2.1f), t.world(3.1f, 2.4f), t.world(1.6f, 2.4f)};
    std::string text;
    ASSERT_TRUE(computeROIStatisticsText(t.r.info, *poly, text));
    EXPECT_EQ(text, "Area:0,W:0.15 H:0.03 Unit:cm\nAvg:20,StdDev:10,Total:60\nMin:10,Max:30");
    poly->release();
}

TEST(StatisticsText, OnePixelAndOffSliceRegions)
{
    TiltedSlice t(PIXEL_I16);
    int16_t* p = t.r.samples<int16_t>();
    p[3 * t.r.info.columns + 3] = -7;
    ROICircle* one = ROICircle::create();
    one->retain();
    one->center = t.world(1.5f, 1.5f);
    one->rim = t.world(1.7f, 1.5f);
    std::string text;
    ASSERT_TRUE(computeROIStatisticsText(t.r.info, *one, text));
    EXPECT_NE(text.find("Avg:-7,StdDev:0,Total:-7\nMin:-7,Max:-7"), std::string::npos) << text;

    ROIPolygon* away = ROIPolygon::create();
    away->retain();
    away->vertices = {t.world(-50, -50), t.world(-40, -50), t.world(-40, -40)};
    ASSERT_TRUE(computeROIStatisticsText(t.r.info, *away, text));
    EXPECT_NE(text.find("Avg:0,StdDev:0,Total:0\nMin:0,Max:0"), std::string::npos) << text;
    one->release();
    away->release();
}

TEST(StatisticsText, HugeCircleAnswersWithTheWholeSlice)
{
    TiltedSlice t(PIXEL_U16, 512, 512, 0.5f);
    uint16_t* p = t.r.samples<uint16_t>();
    for (size_t k = 0; k < t.r.pixelsPerFrame(); ++k)
        p[k] = static_cast<uint16_t>(k & 1 ? 4 : 2);
    ROICircle* c = ROICircle::create();
    c->retain();
    c->center = t.world(100, 100);
    c->rim = t.world(100 + 1e6f, 100);
    std::string text;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(computeROIStatisticsText(t.r.info, *c, text));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_NE(text.find("Avg:3,StdDev:1,Total:786432\nMin:2,Max:4"), std::string::npos) << text;
    EXPECT_NE(text.find("W:200000 H:200000"), std::string::npos) << text;
    c->release();
}

TEST(StatisticsText, PointsLinesAndRgb)
{
    TiltedSlice t(PIXEL_FLOAT);
    t.r.samples<float>()[4 * t.r.info.columns + 6] = 12.3f;
    ROIPoint* pt = ROIPoint::create();
    pt->retain();
    // Pixel (6, 4) lies at slice (3, 2) mm; a quarter pixel off still reads it.
    pt->point = t.world(3.1f, 1.9f);
    std::string text;
    ASSERT_TRUE(computeROIStatisticsText(t.r.info, *pt, text));
    EXPECT_EQ(text.substr(0, text.find('\n')), "Value:12.3");
    // World (10, -16.9, 28.1) read as patient coordinates of a head-first supine slice.
    EXPECT_EQ(text.substr(text.find('\n') + 1), "x=10,y=-28.1,z=-16.9");

    // Without a pixel spacing no patient position is known: the pixel's column and row.
    t.r.info.pixelSpacingPresent = 0;
    ASSERT_TRUE(computeROIStatisticsText(t.r.info, *pt, text));
    EXPECT_EQ(text, "Value:12.3\nx=6,y=4 px");
    t.r.info.pixelSpacingPresent = 1;

    pt->point = t.world(-5, 2);
    ASSERT_TRUE(computeROIStatisticsText(t.r.info, *pt, text));
    EXPECT_EQ(text, "Unknown");
    float value = -1.0f;
    EXPECT_FALSE(sampleSliceAt(t.r.info, t.world(1e20f, 2), value));
    EXPECT_EQ(value, -1.0f);

    ROILine* line = ROILine::create();
    line->retain();
    line->p1 = t.world(5, 5);
    text = "kept";
    EXPECT_FALSE(computeROIStatisticsText(t.r.info, *line, text));
    EXPECT_EQ(text, "kept");

    TiltedSlice rgb(PIXEL_RGB);
    pt->point = rgb.world(1, 1);
    EXPECT_FALSE(computeROIStatisticsText(rgb.r.info, *pt, text));
    EXPECT_EQ(text, "kept");
    pt->release();
    line->release();
}

} // namespace

// A point reads the patient coordinates of the pixel under it, as the file's image position and
// orientation give them (position + column x column spacing x row direction + row x row spacing
// x column direction), whatever the plane and the patient's position on the table; the world
// point the slice is drawn in (the display frame) differs from them in all of these cases.
TEST(StatisticsText, PointsReadPatientCoordinates)
{
    struct Case {
        const char* what;
        const char* patientPosition;
        double orientation[6];
        double position[3];
    };
    const double a = 25.0 * M_PI / 180.0;
    const Case cases[] = {
        {"axial HFS", "HFS", {1, 0, 0, 0, 1, 0}, {-40, -60, -25}},
        {"sagittal HFS", "HFS", {0, 1, 0, 0, 0, -1}, {12, -80, 90}},
        {"coronal FFP", "FFP", {1, 0, 0, 0, 0, -1}, {-70, 33, 15}},
        {"oblique HFDL", "HFDL", {std::cos(a), std::sin(a), 0, 0, 0, -1}, {5, -7, 40}},
        {"axial, no position on the table", "", {1, 0, 0, 0, 1, 0}, {10, 20, -30}},
    };
    char folder[] = "/tmp/qv-point-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/p.dcm";
    constexpr int kColumn = 5, kRow = 7;
    for (const Case& c : cases) {
        qvgen::ImageSpec spec;
        spec.patientPosition = c.patientPosition;
        std::copy(c.orientation, c.orientation + 6, spec.orientation);
        std::copy(c.position, c.position + 3, spec.position);
        spec.pixelSpacing = "0.8\\0.5";  // row spacing 0.8, column spacing 0.5
        spec.pixels.assign(static_cast<size_t>(spec.columns) * spec.rows * 2, 0);
        spec.pixels[2 * (kRow * spec.columns + kColumn)] = 77;
        std::string error;
        ASSERT_TRUE(qvgen::writeDicomFile(path, spec, &error)) << error;
        isDcmReader* reader = isDcmReader::create();
        reader->retain();
        reader->setFileName(path);
        reader->update();
        const isSliceInfo* slice = reader->getOutputData()->getSlice(0);
        ASSERT_NE(slice, nullptr) << c.what;

        double expected[3];
        for (int k = 0; k < 3; ++k)
            expected[k] = c.position[k] + kColumn * 0.5 * c.orientation[k] + kRow * 0.8 * c.orientation[3 + k];
        Vec3 world(kColumn * slice->spacingX, kRow * slice->spacingY, 0.0f);
        slice->matrix.transformPoint(&world);
        ROIPoint* point = ROIPoint::create();
        point->retain();
        point->point = world;
        std::string text;
        ASSERT_TRUE(computeROIStatisticsText(*slice, *point, text)) << c.what;
        float x = 0, y = 0, z = 0;
        ASSERT_EQ(std::sscanf(text.c_str(), "Value:77\nx=%f,y=%f,z=%f", &x, &y, &z), 3) << c.what << ": " << text;
        EXPECT_NEAR(x, expected[0], 0.011) << c.what << ": " << text;
        EXPECT_NEAR(y, expected[1], 0.011) << c.what << ": " << text;
        EXPECT_NEAR(z, expected[2], 0.011) << c.what << ": " << text;
        point->release();
        reader->release();
    }
    std::remove(path.c_str());
    rmdir(folder);
}
