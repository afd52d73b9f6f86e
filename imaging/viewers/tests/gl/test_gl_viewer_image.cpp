// The image viewer on the phantom, read back from the framebuffer: every plane (the acquired
// axial slices, the sagittal and coronal reformats, a turned cut plane) shows the pixels the
// slicing filters give for that plane at the world places of the window's pixels, on the shader
// path and on the CPU path; window/level and colour-table commands recolour the pixels as the
// window and the table say.
#include "GLViewers.h"

#include "DicomSeriesWriter.h"
#include "isActorImage.h"
#include "isActorManager.h"
#include "isActorROI.h"
#include "isDcmReader.h"
#include "isFramePainter.h"
#include "isImagePlane.h"
#include "isImageReslice2D.h"
#include "isNodeImageByShader.h"
#include "isViewerImage.h"

// The phantom as an image volume in memory, shared with the display layer's tests.
#include "../../../display/tests/support/PhantomVolume.h"

#include "NSNotificationNumbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <unistd.h>

using namespace isImageSDK;
using cocos2d::Rect;
using cocos2d::Size;
using cocos2d::Vec2;
using cocos2d::Vec3;

namespace {

constexpr int kGrid = 28;  // samples per side over the middle of the window

class ViewerImageGL : public qvgl::GLViewersTest {
protected:
    void SetUp() override
    {
        GLViewersTest::SetUp();
        qvgen::PhantomSpec spec;
        spec.slices = 40;
        phantom = std::make_unique<qvgen::Phantom>(spec);
    }
    void TearDown() override
    {
        isNodeImageByShader::shaderEnabled = 1;
        TearDownFilters();
        GLViewersTest::TearDown();
    }

    isViewerImage* open()
    {
        isViewerImage* v = isViewerImage::create();
        v->setContentSize(Size(480, 400));
        v->setPosition(Vec2(80, 40));
        rig.scene->addChild(v);
        isImageData* image = qvtest::phantomVolume(*phantom, PIXEL_I16);
        v->setImageData(image);
        rig.frame(3);
        return v;
    }

    void command(isViewerImage* v, unsigned int id, const std::string& text = "", float f = 0)
    {
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        data->text = text;
        data->floatValue = f;
        v->onNotification(id, data, nullptr);
        rig.frame(3);
    }

    // The slice the viewer's current plane should show, cut by a filter of its own from the
    // viewer's image: an orthogonal plane by axis and index, a cut plane from the viewer's plane
    // axes. The filter stays alive in `keep` (it owns the slice).
    const isSliceInfo* expectedSlice(isViewerImage* v)
    {
        isActorImage* actor = v->getImageActor();
        isImageData* image = v->getImageData();
        if (actor->isPlaneMode()) {
            isImagePlane* plane = isImagePlane::create();
            plane->setInput(image);
            plane->setAxis(actor->getPlaneAxis());
            plane->setIndex(actor->getSliceIndex());
            plane->setSlabMode(actor->getSlabMode());
            plane->setSlabThickness(actor->getSlabThickness());
            plane->setModified();
            keep = plane;
        } else {
            isImageReslice2D* reslice = isImageReslice2D::create();
            reslice->setInput(image);
            reslice->setSlabMode(actor->getSlabMode());
            reslice->setSlabThickness(actor->getSlabThickness());
            image->updateInformation();
            reslice->setResliceAxes(image->getVolumeMatrix().getInversed() * v->getPlaneMatrix());
            keep = reslice;
        }
        keep->retain();
        filters.push_back(keep);
        isImageData* out = keep->getOutputData();
        return out ? out->getSlice(0) : nullptr;
    }

    // The window's pixels over its middle against `expected` painted by `colour` (the colour of
    // a stored value): each window pixel whose world point falls inside a uniform 3 x 3 block of
    // the expected slice (so that texture filtering cannot matter) shows the block's colour
    // within 2 per channel. The world point must lie on the expected slice's plane.
    ::testing::AssertionResult showsSlice(isViewerImage* v, const isSliceInfo* expected,
                                          const std::function<std::array<int, 3>(int)>& colour, int* compared = nullptr,
                                          std::set<int>* values = nullptr)
    {
        if (!expected || !expected->pixels)
            return ::testing::AssertionFailure() << "no expected slice";
        const int columns = expected->columns, rows = expected->rows;
        const auto* samples = reinterpret_cast<const int16_t*>(expected->pixels);
        const cocos2d::Mat4 toSlice = expected->matrix.getInversed();
        const Size size = v->getContentSize();
        const Vec2 origin = v->getPosition();
        int count = 0;
        for (int gy = 0; gy < kGrid; ++gy)
            for (int gx = 0; gx < kGrid; ++gx) {
                const int px = static_cast<int>(size.width * (0.2f + 0.6f * gx / (kGrid - 1)));
                const int py = static_cast<int>(size.height * (0.2f + 0.6f * gy / (kGrid - 1)));
                Vec3 world;
                if (!v->screenToWorld(Vec2(px + 0.5f, py + 0.5f), world))
                    return ::testing::AssertionFailure() << "no world point under (" << px << ", " << py << ")";
                Vec3 local = world;
                toSlice.transformPoint(&local);
                if (std::fabs(local.z) > 1e-2f)
                    return ::testing::AssertionFailure()
                           << "the window's plane is " << local.z << " mm off the expected slice";
                const int c = static_cast<int>(std::lround(local.x / expected->spacingX));
                const int r = static_cast<int>(std::lround(local.y / expected->spacingY));
                if (c < 1 || r < 1 || c > columns - 2 || r > rows - 2)
                    continue;
                const int value = samples[r * columns + c];
                bool uniform = true;
                for (int dr = -1; dr <= 1; ++dr)
                    for (int dc = -1; dc <= 1; ++dc)
                        uniform = uniform && samples[(r + dr) * columns + c + dc] == value;
                if (!uniform)
                    continue;
                const std::array<int, 3> want = colour(value);
                const std::array<unsigned char, 3> got = qvgl::readPixel(static_cast<int>(origin.x) + px,
                                                                         static_cast<int>(origin.y) + py);
                for (int k = 0; k < 3; ++k)
                    if (std::abs(got[k] - want[k]) > 2)
                        return ::testing::AssertionFailure()
                               << "window pixel (" << px << ", " << py << ") over slice pixel (" << c << ", " << r
                               << ") of value " << value << " shows (" << int(got[0]) << ", " << int(got[1]) << ", "
                               << int(got[2]) << "), expected (" << want[0] << ", " << want[1] << ", " << want[2]
                               << ")";
                ++count;
                if (values)
                    values->insert(value);
            }
        if (compared)
            *compared = count;
        return ::testing::AssertionSuccess();
    }

    // The colour of a stored value through the viewer's window and palette.
    static std::function<std::array<int, 3>(int)> viewerColour(isViewerImage* v)
    {
        // (The window table is rebuilt lazily, by whoever paints next.)
        v->getImageActor()->getClut()->updateTable();
        return [v](int value) {
            const int index = v->getImageActor()->getClut()->indexOf(value);
            const unsigned char* p = v->getPalette() + 3 * index;
            return std::array<int, 3>{p[0], p[1], p[2]};
        };
    }

    // Checks the current plane against its own filter; enough samples over several solids.
    void expectPlaneShown(isViewerImage* v, const char* what)
    {
        SCOPED_TRACE(what);
        const isSliceInfo* expected = expectedSlice(v);
        ASSERT_NE(expected, nullptr);
        // The painter's picture of the same slice through the viewer's table (the CPU conversion)
        // agrees with the colour computed from the window and palette.
        isFramePainter painter;
        const unsigned char* picture = painter.paintRGB(expected, 0, v->getImageActor()->getClut());
        ASSERT_NE(picture, nullptr);
        const int middle = (expected->rows / 2) * expected->columns + expected->columns / 2;
        const std::array<int, 3> want = viewerColour(v)(reinterpret_cast<const int16_t*>(expected->pixels)[middle]);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(picture[3 * middle + k], want[k]);
        int compared = 0;
        std::set<int> values;
        EXPECT_TRUE(showsSlice(v, expected, viewerColour(v), &compared, &values));
        EXPECT_GT(compared, kGrid * kGrid / 3);
        EXPECT_GE(values.size(), 2u) << "the samples should cover more than one solid";
    }

    void TearDownFilters()
    {
        for (cocos2d::Ref* f : filters)
            f->release();
        filters.clear();
    }

    std::unique_ptr<qvgen::Phantom> phantom;
    isImageFilter* keep = nullptr;
    std::vector<cocos2d::Ref*> filters;
};

} // namespace

TEST_F(ViewerImageGL, EveryPlaneShowsThePixelsOfItsSlicingFilter)
{
    for (int shader : {1, 0}) {
        SCOPED_TRACE(shader ? "shader path" : "CPU path");
        isNodeImageByShader::shaderEnabled = shader;
        isViewerImage* v = open();
        ASSERT_NE(v->getImageActor(), nullptr);
        auto* gpu = dynamic_cast<isNodeImageByShader*>(v->getImageActor()->getImageNode());
        EXPECT_EQ(gpu && !gpu->isCpuPath(), shader == 1);
        // A window that separates every solid of the phantom.
        command(v, NOTIFY_WL_SET, "{\"ww\":\"2400\",\"wl\":\"200\"}");

        expectPlaneShown(v, "as acquired");
        command(v, NOTIFY_SLICE_PRIOR);
        command(v, NOTIFY_SLICE_PRIOR);
        command(v, NOTIFY_SLICE_PRIOR);
        expectPlaneShown(v, "as acquired, three slices back");
        const std::pair<unsigned int, int> planes[] = {
            {NOTIFY_VIEW_AXIAL, VIEW_AXIAL}, {NOTIFY_VIEW_SAGITTAL, VIEW_SAGITTAL}, {NOTIFY_VIEW_CORONAL, VIEW_CORONAL}};
        for (const auto& [id, kind] : planes) {
            command(v, id);
            ASSERT_EQ(v->getKind(), kind);
            expectPlaneShown(v, kind == VIEW_AXIAL ? "axial" : kind == VIEW_SAGITTAL ? "sagittal" : "coronal");
            command(v, NOTIFY_SLICE_NEXT);
            command(v, NOTIFY_SLICE_NEXT);
            expectPlaneShown(v, "two slices on");
        }
        command(v, NOTIFY_VIEW_AXIAL);
        command(v, NOTIFY_VIEW_ANGLE, "", 30.0f);
        ASSERT_FALSE(v->getImageActor()->isPlaneMode());
        expectPlaneShown(v, "cut plane turned by 30 degrees");
        command(v, NOTIFY_VIEW_ANGLE, "", -75.0f);
        expectPlaneShown(v, "cut plane turned back by 75 degrees");
        qvtest::ViewerRig::remove(v);
        rig.frame(2);
        TearDownFilters();
    }
}

TEST_F(ViewerImageGL, WindowAndColourTablesRecolourThePixels)
{
    isViewerImage* v = open();
    isClut* clut = v->getImageActor()->getClut();
    const isSliceInfo* expected = expectedSlice(v);
    ASSERT_NE(expected, nullptr);

    // The window set by value: a narrow soft-tissue window; every pixel shows the grey of its
    // value under the window's linear ramp (clamped at its ends).
    command(v, NOTIFY_WL_SET, "{\"ww\":\"400\",\"wl\":\"40\"}");
    EXPECT_FLOAT_EQ(clut->getWidth(), 400.0f);
    EXPECT_FLOAT_EQ(clut->getLevel(), 40.0f);
    auto ramp = [](float width, float level) {
        return [width, level](int value) {
            const float t = (value - (level - width / 2)) / width;
            const int g = static_cast<int>(std::lround(255.0f * std::max(0.0f, std::min(1.0f, t))));
            return std::array<int, 3>{g, g, g};
        };
    };
    std::set<int> values;
    EXPECT_TRUE(showsSlice(v, expected, ramp(400, 40), nullptr, &values));
    EXPECT_GE(values.size(), 3u);

    // A window/level drag step moves the window by ten stored values per unit of the 16-bit type.
    command(v, NOTIFY_VIEW_WINDOW_LEVEL, "{\"ww\":\"60\",\"wl\":\"-10\"}");
    const float width = clut->getWidth(), level = clut->getLevel();
    EXPECT_NE(width, 400.0f);
    EXPECT_TRUE(showsSlice(v, expected, ramp(width, level)));

    // Inverse grey: each grey becomes 255 minus itself.
    command(v, NOTIFY_CLUT_SET, "bwInverse.plist");
    EXPECT_TRUE(showsSlice(v, expected, [&](int value) {
        const std::array<int, 3> g = ramp(width, level)(value);
        return std::array<int, 3>{255 - g[0], 255 - g[1], 255 - g[2]};
    }));

    // The colour tables: each index shows the table's entry for it.
    for (const char* name : {"HotMetal.plist", "GEcolor.plist", "Perfusion.plist"}) {
        SCOPED_TRACE(name);
        command(v, NOTIFY_CLUT_SET, name);
        unsigned char table[768];
        clut->getRGBTable(table);
        EXPECT_TRUE(std::equal(table, table + 768, v->getPalette()));
        int compared = 0;
        clut->updateTable();
        EXPECT_TRUE(showsSlice(
            v, expected,
            [&](int value) {
                const int index = clut->indexOf(value);
                return std::array<int, 3>{table[3 * index], table[3 * index + 1], table[3 * index + 2]};
            },
            &compared));
        EXPECT_GT(compared, kGrid * kGrid / 3);
    }
    // The hot metal table turns a mid grey red: a different picture from the grey one.
    command(v, NOTIFY_CLUT_SET, "HotMetal.plist");
    const std::array<unsigned char, 3> hot = qvgl::readPixel(80 + 240, 40 + 200);
    command(v, NOTIFY_CLUT_SET, "noClut.plist");
    const std::array<unsigned char, 3> grey = qvgl::readPixel(80 + 240, 40 + 200);
    EXPECT_EQ(grey[0], grey[1]);
    EXPECT_NE(hot, grey);
}

// Pictures of different sizes in one series (the views of a radiograph study): each one fills
// the window when it comes, and the zoom the user chose stays.
TEST_F(ViewerImageGL, EachPictureOfASeriesIsFittedWhenItComes)
{
    isImageData* image = isImageData::create();
    const float spacing[2] = {1, 1};
    for (int size : {10, 30}) {
        const int dims[2] = {size, size};
        isSliceInfo* s = image->addSlice(dims, 1, spacing, PIXEL_U8, 0, 0, cocos2d::Mat4::IDENTITY);
        // Dark on the left half, bright on the right half.
        for (int r = 0; r < size; ++r)
            for (int c = 0; c < size; ++c)
                s->pixels[r * size + c] = c < size / 2 ? 0 : 255;
        s->modality = MODALITY_DX;
    }
    image->setFileNames("views");
    isViewerImage* v = isViewerImage::create();
    v->setContentSize(Size(480, 400));
    v->setPosition(Vec2(80, 40));
    rig.scene->addChild(v);
    v->setImageData(image);
    command(v, NOTIFY_WL_SET, "{\"ww\":\"256\",\"wl\":\"128\"}");
    command(v, NOTIFY_SLICE_NEXT);
    ASSERT_EQ(v->getImageActor()->getSliceIndex(), 1);

    // The 30 mm picture fills the 400 units of the window's height, its centre in the middle:
    // a quarter of its width left and right of the middle lie 100 units from it.
    const float unitsPerMm = 400.0f / 30.0f;
    auto grey = [](int x, int y) { return int(qvgl::readPixel(x, y)[0]); };
    EXPECT_LT(grey(80 + 240 - int(7.5f * unitsPerMm), 40 + 200), 40) << "left half of the picture";
    EXPECT_GT(grey(80 + 240 + int(7.5f * unitsPerMm), 40 + 200), 215) << "right half of the picture";
    // Beyond its right edge the surround shows.
    EXPECT_LT(grey(80 + 240 + int(16.5f * unitsPerMm), 40 + 200), 40);
    // The whole picture is inside the window, no row or column cut: its bright half reaches the
    // window's bottom and top rows, and its right edge lies 200 units right of the middle.
    EXPECT_GT(grey(80 + 340, 40), 215);
    EXPECT_GT(grey(80 + 340, 40 + 399), 215);
    EXPECT_GT(grey(80 + 240 + 197, 40 + 200), 215);
    EXPECT_LT(grey(80 + 240 + 203, 40 + 200), 40);

    // Zoomed in twice and back to the small picture: it is fitted, at twice the fit.
    command(v, NOTIFY_VIEW_ZOOM, "", 2.0f);
    command(v, NOTIFY_SLICE_PRIOR);
    EXPECT_NEAR(v->getZoomRatio(), 2.0f, 1e-3);
    const Vec2 middle = v->worldToScreen(Vec3(4.5f, 4.5f, 0));
    EXPECT_NEAR(middle.x, 240.0f, 0.5f);
    EXPECT_NEAR(middle.y, 200.0f, 0.5f);
    // Its bright right half covers the right of the window (10 mm at twice 40 units per mm).
    EXPECT_GT(grey(80 + 240 + 100, 40 + 200), 215);
    EXPECT_LT(grey(80 + 240 - 100, 40 + 200), 40);
}

// A dynamic without a window whose first frame holds a few counts (a renal study: both kidneys
// fill over the frames, the right one at half the rate of the left): played through its thirty
// frames, the last one still shows the kidneys apart and the background dark, under the window of
// the whole record's range, not one taken from the faint first frame that saturates the others.
TEST_F(ViewerImageGL, ADynamicWithAFaintFirstFramePlaysInGreys)
{
    isImageData* image = isImageData::create();
    const int dims[2] = {64, 64};
    const float spacing[2] = {1, 1};
    isSliceInfo* s = image->addSlice(dims, 30, spacing, PIXEL_U16, 0, 0, cocos2d::Mat4::IDENTITY);
    ASSERT_NE(s, nullptr);
    s->modality = MODALITY_NM;
    s->windowPresent = 0;
    auto* samples = reinterpret_cast<uint16_t*>(s->pixels);
    for (int f = 0; f < 30; ++f) {
        const int peak = 20 + 40 * f;  // 20 in frame 0, 1180 in frame 29
        for (int r = 0; r < 64; ++r)
            for (int c = 0; c < 64; ++c) {
                const bool kidney = r >= 16 && r < 48;
                const int value = kidney && c >= 8 && c < 24 ? peak : kidney && c >= 40 && c < 56 ? peak / 2 : peak / 20;
                samples[(f * 64 + r) * 64 + c] = static_cast<uint16_t>(value);
            }
    }
    image->setFileNames("dynamic");
    isViewerImage* v = isViewerImage::create();
    v->setContentSize(Size(480, 400));
    v->setPosition(Vec2(80, 40));
    rig.scene->addChild(v);
    v->setImageData(image);
    rig.frame(3);
    for (int f = 1; f < 30; ++f) {
        NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_FRAME_NEXT, nullptr,
                                                                    v->getNotificationContext(), true);
        rig.frame(1);
    }
    rig.frame(2);
    auto grey = [&](float x, float y) {
        const Vec2 p = v->worldToScreen(Vec3(x, y, 0));
        return int(qvgl::readPixel(80 + int(p.x), 40 + int(p.y))[0]);
    };
    // Range 1..1180, drawn inverted as nuclear medicine is (activity dark on white): the left
    // kidney black, the right one mid grey, the background near white.
    EXPECT_LT(grey(15.5f, 31.5f), 10);
    EXPECT_NEAR(grey(47.5f, 31.5f), 127, 6);
    EXPECT_GT(grey(31.5f, 5.5f), 230);
}

// Measurement labels stay readable: two regions drawn close together keep their statistics apart,
// and a line drawn across where a region's statistics would be does not run through them.
TEST_F(ViewerImageGL, MeasurementLabelsKeepClearOfEachOtherAndOfTheOutlines)
{
    isViewerImage* v = open();
    command(v, NOTIFY_WL_SET, "{\"ww\":\"2400\",\"wl\":\"200\"}");
    isActorROI* container = v->getROIActor();
    ASSERT_NE(container, nullptr);
    auto world = [v](float x, float y) {
        Vec3 p;
        EXPECT_TRUE(v->screenToWorld(Vec2(x, y), p));
        return p;
    };
    auto circle = [&](Vec2 centre, float radius) {
        ROICircle* record = ROICircle::create();
        record->setPoint(0, world(centre.x, centre.y));
        record->setPoint(1, world(centre.x + radius, centre.y));
        container->adoptROI(isActorROICircle::create(), record, -1);
    };
    circle(Vec2(200, 150), 30);
    circle(Vec2(215, 140), 30);
    // A line across the first region's label place, 2 mm and a little above its top.
    ROILine* line = ROILine::create();
    line->setPoint(0, world(100, 196));
    line->setPoint(1, world(420, 196));
    container->adoptROI(isActorROILine::create(), line, -1);
    rig.frame(12);

    std::vector<Rect> boxes;  // window units of the GL window
    for (isActorROIBase* actor : container->getROIActors()) {
        if (actor->getROIData()->getKind() != ROI_CIRCLE)
            continue;
        isNodeText* label = actor->getLabel();
        ASSERT_NE(label, nullptr);
        ASSERT_NE(label->getString().find('\n'), std::string::npos) << "statistics shown: " << label->getString();
        const Rect box = label->getBoundingBox();
        const Vec2 low = label->getParent()->convertToWorldSpace(box.origin);
        const Vec2 high = label->getParent()->convertToWorldSpace(Vec2(box.getMaxX(), box.getMaxY()));
        boxes.emplace_back(low.x, low.y, high.x - low.x, high.y - low.y);
    }
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_FALSE(boxes[0].intersectsRect(boxes[1]));
    // No pixel of the outlines' colour (the records' green) inside either label.
    for (const Rect& box : boxes) {
        int green = 0, looked = 0;
        for (int y = int(box.getMinY()) + 1; y < int(box.getMaxY()); ++y)
            for (int x = int(box.getMinX()) + 1; x < int(box.getMaxX()); ++x) {
                const auto p = qvgl::readPixel(x, y);
                ++looked;
                if (p[1] > 150 && p[0] < 100 && p[2] < 100)
                    ++green;
            }
        EXPECT_GT(looked, 200);
        EXPECT_EQ(green, 0) << box.origin.x << "," << box.origin.y << " " << box.size.width << "x" << box.size.height;
    }
}

namespace {

// A head-first supine axial CT stack of 16 slices, 1.5 mm apart, pixels 0.8 mm apart between
// rows and 0.7 mm between columns, the first at kOrigin: a border (stored -1000 left of column
// 20, 1000 from it on) or a ramp (10 per column, 7 per row) on every slice. Its geometry is the
// one the reader gives a file written with these tags.
constexpr int kColumns = 40, kRows = 32, kSlices = 16;
constexpr double kColumnSpacing = 0.7, kRowSpacing = 0.8, kSliceSpacing = 1.5;
const double kOrigin[3] = {-20.3, -15.2, 30.0};

isImageData* readStack(bool border, const std::string& name)
{
    const std::string path = "/tmp/qv-viewers-gl-" + std::to_string(getpid()) + ".dcm";
    qvgen::ImageSpec spec;
    spec.columns = kColumns;
    spec.rows = kRows;
    spec.pixelSpacing = "0.8\\0.7";
    std::copy(kOrigin, kOrigin + 3, spec.position);
    if (!qvgen::writeDicomFile(path, spec))
        return nullptr;
    isDcmReader* reader = isDcmReader::create();
    reader->setFileName(path);
    reader->update();
    std::remove(path.c_str());
    auto* read = static_cast<isImageData*>(reader->getOutput());
    const isSliceInfo* s = read && read->getSliceCount() == 1 ? read->getSlices().front() : nullptr;
    const int dims[3] = {kColumns, kRows, kSlices};
    const float spacing[3] = {s ? s->spacingX : 0, s ? s->spacingY : 0, float(kSliceSpacing)};
    isImageData* image = isImageData::create();
    if (!s || !image->allocateVolume(dims, spacing, PIXEL_I16, s->posture, s->headFeet, s->matrix))
        return nullptr;
    for (isSliceInfo* slice : image->getSlices()) {
        for (int r = 0; r < kRows; ++r)
            for (int c = 0; c < kColumns; ++c)
                reinterpret_cast<int16_t*>(slice->pixels)[r * kColumns + c] =
                    static_cast<int16_t>(border ? (c >= 20 ? 1000 : -1000) : 10 * c + 7 * r);
        slice->pixelsLoaded = 1;
        slice->modality = MODALITY_CT;
        slice->windowWidth = 2000;
        slice->windowCenter = 0;
    }
    image->setFileNames(name);  // the key of the image's measurements
    return image;
}

// The patient position of the voxel at (fractional) column, row and slice indices by the files'
// geometry: image position + column x column spacing x row direction + row x row spacing x
// column direction, plus the slice's step along the stack (head first supine axial: row
// direction +x, column direction +y, slices along +z).
Vec3 dicomPosition(double column, double row, double slice)
{
    return Vec3(float(kOrigin[0] + column * kColumnSpacing), float(kOrigin[1] + row * kRowSpacing),
                float(kOrigin[2] + slice * kSliceSpacing));
}

} // namespace

// The point readout of the pixel drawn under the cursor, as the user sees it magnified: on a
// black/white border and on a ramp, on the acquired plane, on reformats and on turned cut
// planes, the picture at the patient point of a slice pixel shows that pixel's own grey (not a
// blend with its neighbours half a pixel off), and a point placed there reads the pixel's value
// and the position the DICOM formula gives it.
TEST_F(ViewerImageGL, ThePointReadoutNamesThePixelDrawnUnderTheCursor)
{
    struct Row {
        bool border;
        unsigned int view;
        float angle;
        const char* what;
    };
    const Row rows[] = {
        {true, NOTIFY_VIEW_AXIAL, 0, "border, axial"},     {true, NOTIFY_VIEW_CORONAL, 0, "border, coronal"},
        {true, NOTIFY_VIEW_AXIAL, 30, "border, turned"},   {false, NOTIFY_VIEW_AXIAL, 0, "ramp, axial"},
        {false, NOTIFY_VIEW_SAGITTAL, 0, "ramp, sagittal"}, {false, NOTIFY_VIEW_AXIAL, -20, "ramp, turned"},
    };
    for (int shader : {1, 0})
        for (const Row& row : rows) {
            const std::string what = std::string(row.what) + (shader ? ", shader path" : ", CPU path");
            SCOPED_TRACE(what);
            isNodeImageByShader::shaderEnabled = shader;
            isImageData* image = readStack(row.border, what);
            ASSERT_NE(image, nullptr);
            isViewerImage* v = isViewerImage::create();
            v->setContentSize(Size(480, 400));
            v->setPosition(Vec2(80, 40));
            rig.scene->addChild(v);
            v->setImageData(image);
            rig.frame(3);
            command(v, row.view);
            if (row.angle != 0)
                command(v, NOTIFY_VIEW_ANGLE, "", row.angle);
            command(v, NOTIFY_VIEW_ZOOM, "", 2.0f);
            const isSliceInfo* slice = v->getImageActor()->getCurrentSlice();
            ASSERT_NE(slice, nullptr);
            const auto* samples = reinterpret_cast<const int16_t*>(slice->pixels);
            auto at = [&](int c, int r) { return float(samples[r * slice->columns + c]); };
            auto screenOf = [&](int c, int r) {
                Vec3 p(c * slice->spacingX, r * slice->spacingY, 0);
                slice->matrix.transformPoint(&p);
                return v->worldToScreen(p);
            };
            // The pixel in the middle of the window that differs most from the blend of it and
            // its three neighbours towards (-1, -1), which a picture half a pixel off shows there.
            int best = -1, bc = 0, br = 0;
            float bestBlend = 0;
            for (int r = 1; r < slice->rows; ++r)
                for (int c = 1; c < slice->columns; ++c) {
                    const Vec2 s = screenOf(c, r);
                    if (s.x < 150 || s.x > 330 || s.y < 130 || s.y > 270)
                        continue;
                    const float blend = (at(c, r) + at(c - 1, r) + at(c, r - 1) + at(c - 1, r - 1)) / 4;
                    const int d = int(std::lround(std::fabs(at(c, r) - blend)));
                    if (d > best) {
                        best = d;
                        bc = c;
                        br = r;
                        bestBlend = blend;
                    }
                }
            ASSERT_GT(best, 0);
            const float value = at(bc, br);
            // A window that puts the pixel at mid grey and its blend a quarter of the range away.
            const float width = 4.0f * best;
            command(v, NOTIFY_WL_SET,
                    "{\"ww\":\"" + std::to_string(int(width)) + "\",\"wl\":\"" + std::to_string(int(value)) + "\"}");
            const auto colour = viewerColour(v);
            const Vec2 s = screenOf(bc, br);
            const int px = int(std::floor(s.x)), py = int(std::floor(s.y));
            const int drawn = qvgl::readPixel(80 + px, 40 + py)[0];
            EXPECT_LE(std::abs(drawn - colour(int(value))[0]), 8)
                << "pixel (" << bc << ", " << br << ") of value " << value << " is drawn as grey " << drawn
                << "; its blend with the neighbours (" << bestBlend << ") is grey " << colour(int(bestBlend))[0];
            ASSERT_GE(std::abs(colour(int(value))[0] - colour(int(bestBlend))[0]), 40);

            // The point tool, and a click on that window pixel.
            command(v, NOTIFY_TOOL_ROI_POINT);
            rig.clock.advanceMs(500);
            cocos2d::InputSimulator::click(80 + px + 0.5f, 40 + py + 0.5f);
            rig.frame(6);
            ASSERT_EQ(v->getROIActor()->getROIActors().size(), 1u);
            const std::string text = v->getROIActor()->getROIActors().back()->getLabel()->getString();
            float got = 0, x = 0, y = 0, z = 0;
            ASSERT_EQ(std::sscanf(text.c_str(), "Value:%f\nx=%f,y=%f,z=%f", &got, &x, &y, &z), 4) << text;
            EXPECT_EQ(got, value) << text;
            // The pixel's place in the volume's voxel indices, then by the files' geometry.
            Vec3 voxel(bc * slice->spacingX, br * slice->spacingY, 0);
            slice->matrix.transformPoint(&voxel);
            image->getVolumeMatrix().getInversed().transformPoint(&voxel);
            float spacing[3];
            image->getVoxelSpacing(spacing);
            const Vec3 want = dicomPosition(voxel.x / spacing[0], voxel.y / spacing[1], voxel.z / spacing[2]);
            // Within the window pixel's own size (about 0.03 mm at this magnification).
            EXPECT_NEAR(x, want.x, 0.06) << text;
            EXPECT_NEAR(y, want.y, 0.06) << text;
            EXPECT_NEAR(z, want.z, 0.06) << text;
            qvtest::ViewerRig::remove(v);
            rig.frame(2);
        }
}
