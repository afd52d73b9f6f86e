// Slices drawn by the CPU image node and by the shader image node, read back from the
// framebuffer: both agree with the CPU conversion within one colour index, for every pixel
// type, every curve, windows inside and past the type's range, grey and colour tables; a
// real DICOM slice; frames of multi-frame images; the slow-frame fallback; the shader node's
// commands and the GL state it leaves.
#include "GLDisplay.h"

#include "DicomSeriesWriter.h"
#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "isClut.h"
#include "isDcmReader.h"
#include "isFramePainter.h"
#include "isImageData.h"
#include "isNodeImage.h"
#include "isNodeImageByShader.h"
#include "support/SliceRecords.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <list>
#include <string>
#include <unistd.h>

using namespace isImageSDK;
using qvtest::OwnedRecord;

namespace {

int g_window;  // the render window, as a notification context

// A columns x rows record of the pixel type whose samples run from `low` to `high` in raster
// order (frame f shifted by f x step).
OwnedRecord rampRecord(int pixelType, int columns, int rows, double low, double high, int frames = 1,
                       double step = 0)
{
    OwnedRecord record(columns, rows, pixelType, frames);
    const size_t n = record.pixelsPerFrame();
    for (int f = 0; f < frames; ++f)
        for (size_t i = 0; i < n; ++i) {
            const double v = low + (high - low) * static_cast<double>(i) / static_cast<double>(n - 1) + f * step;
            switch (pixelType) {
            case PIXEL_U8: record.samples<uint8_t>(f)[i] = static_cast<uint8_t>(v); break;
            case PIXEL_I16: record.samples<int16_t>(f)[i] = static_cast<int16_t>(v); break;
            case PIXEL_U16: record.samples<uint16_t>(f)[i] = static_cast<uint16_t>(v); break;
            default: record.samples<float>(f)[i] = static_cast<float>(v); break;
            }
        }
    return record;
}

// The CPU path's colour index of every pixel of frame 0 (the table fitted to the type).
std::vector<int> cpuIndices(const isSliceInfo& record, isClut* clut)
{
    fitClutToPixelType(clut, record.pixelType);
    const size_t n = static_cast<size_t>(record.columns) * record.rows;
    std::vector<int> index(n);
    for (size_t i = 0; i < n; ++i) {
        switch (record.pixelType) {
        case PIXEL_U8: index[i] = clut->indexOf(record.pixels[i]); break;
        case PIXEL_I16: index[i] = clut->indexOf(reinterpret_cast<const int16_t*>(record.pixels)[i]); break;
        case PIXEL_U16: index[i] = clut->indexOf(reinterpret_cast<const uint16_t*>(record.pixels)[i]); break;
        default:
            index[i] = isFramePainter::floatIndex(reinterpret_cast<const float*>(record.pixels)[i], clut->getLevel(),
                                                  clut->getWidth(), clut->getCurve());
            break;
        }
    }
    return index;
}

bool nearColour(const unsigned char* rgb, const unsigned char want[3], int tolerance)
{
    for (int k = 0; k < 3; ++k)
        if (std::abs(rgb[k] - want[k]) > tolerance)
            return false;
    return true;
}

// Every pixel shows the colour of its CPU index, or (within one colour index) of a neighbour
// index; each channel within one grey level of the table's colour.
::testing::AssertionResult showsIndices(const std::vector<unsigned char>& picture, const std::vector<int>& index,
                                        const isClut* clut, int spread)
{
    int worst = 0;
    for (size_t i = 0; i < index.size(); ++i) {
        bool found = false;
        for (int d = -spread; d <= spread && !found; ++d) {
            const int j = index[i] + d;
            if (j < 0 || j > 255)
                continue;
            unsigned char want[3];
            qvtest::colourBytes(clut, j, want);
            found = nearColour(&picture[3 * i], want, 1);
            if (found)
                worst = std::max(worst, std::abs(d));
        }
        if (!found) {
            unsigned char want[3];
            qvtest::colourBytes(clut, index[i], want);
            return ::testing::AssertionFailure()
                   << "pixel " << i << " shows (" << int(picture[3 * i]) << ", " << int(picture[3 * i + 1]) << ", "
                   << int(picture[3 * i + 2]) << "), index " << index[i] << " is (" << int(want[0]) << ", "
                   << int(want[1]) << ", " << int(want[2]) << ")";
        }
    }
    return ::testing::AssertionSuccess() << "largest index difference " << worst;
}

class ImageNodesGL : public qvgl::GLDisplayTest {
protected:
    void SetUp() override
    {
        GLDisplayTest::SetUp();
        ASSERT_TRUE(isNodeImageByShader::isShaderAvailable());
        clut = isClut::create();
        cpu = isNodeImage::create();
        gpu = isNodeImageByShader::create();
        ASSERT_NE(gpu, nullptr);
        ASSERT_FALSE(gpu->isCpuPath());
        for (isNodeImage* node : {cpu, static_cast<isNodeImage*>(gpu)}) {
            node->setClut(clut);
            node->setRenderWindow(&g_window);
            rig.add(node);
        }
    }
    void TearDown() override
    {
        isNodeImageByShader::shaderEnabled = 1;
        GLDisplayTest::TearDown();
    }

    void show(isSliceInfo& record)
    {
        cpu->setImage(&record);
        gpu->setImage(&record);
        viewSlice(record);
    }
    // The picture of one node, the other hidden.
    std::vector<unsigned char> draw(isNodeImage* node, const isSliceInfo& record)
    {
        cpu->setVisible(node == cpu);
        gpu->setVisible(node == gpu);
        node->markTextureDirty();
        node->markClutDirty();
        rig.frame();
        return readSlice(record.columns, record.rows);
    }

    // A 64 x 48 signed 16-bit ramp under window 400 / 40, drawn by the shader node alone.
    OwnedRecord& showRampOnGpu()
    {
        OwnedRecord& record = keep(rampRecord(PIXEL_I16, 64, 48, -1000, 1000));
        fitClutToPixelType(clut, PIXEL_I16);
        clut->setWindow(400, 40);
        show(record.info);
        cpu->setVisible(false);
        rig.frame();
        return record;
    }
    // Records live as long as the fixture: the nodes hold them until TearDown cleans them up.
    OwnedRecord& keep(OwnedRecord record)
    {
        records.push_back(std::move(record));
        return records.back();
    }

    isClut* clut = nullptr;
    isNodeImage* cpu = nullptr;
    isNodeImageByShader* gpu = nullptr;
    std::list<OwnedRecord> records;
};

} // namespace

TEST_F(ImageNodesGL, BothPathsShowTheCpuColourOfEveryPixel)
{
    struct Case {
        int pixelType;
        double low, high;
        std::vector<std::pair<float, float>> windows;  // width, level
    };
    const Case cases[] = {
        {PIXEL_U8, 0, 255, {{255, 128}, {400, 128}, {60, 90}, {356, 178}, {556, 278}}},
        {PIXEL_I16, -1500, 3000, {{400, 40}, {2000, 500}, {1, 100}}},
        {PIXEL_U16, 0, 4095, {{4096, 2048}, {800, 1000}, {100000, 0}}},
        {PIXEL_FLOAT, -500, 1500, {{2000, 500}, {300, 0}, {50.5f, 10.25f}}},
    };
    for (const Case& c : cases) {
        OwnedRecord& record = keep(rampRecord(c.pixelType, 128, 96, c.low, c.high));
        fitClutToPixelType(clut, c.pixelType);
        show(record.info);
        for (bool colours : {false, true}) {
            if (colours)
                qvtest::randomColours(clut, 17);
            else
                for (uint32_t i = 0; i < 256; ++i)
                    clut->setColor(static_cast<int>(i), (i << 24) | (i << 16) | (i << 8) | 255u);
            for (int curve : {WINDOW_LINEAR, WINDOW_LOG, WINDOW_INVERSE_LOG}) {
                clut->setCurve(curve);
                for (const auto& [width, level] : c.windows) {
                    clut->setWindow(width, level);
                    const std::string where = "type " + std::to_string(c.pixelType) + " curve " + std::to_string(curve) +
                                              " window " + std::to_string(width) + "/" + std::to_string(level) +
                                              (colours ? " colours" : " grey");
                    const std::vector<int> index = cpuIndices(record.info, clut);
                    const std::vector<unsigned char> onCpu = draw(cpu, record.info);
                    const std::vector<unsigned char> onGpu = draw(gpu, record.info);
                    // The CPU picture is the painted texture, texel for pixel.
                    EXPECT_TRUE(showsIndices(onCpu, index, clut, 0)) << where;
                    EXPECT_TRUE(showsIndices(onGpu, index, clut, 1)) << where;
                    if (c.pixelType == PIXEL_U8 && curve == WINDOW_LINEAR && !colours) {
                        // The darkest (0) and brightest (255) pixels are drawn as the window's own
                        // ramp says, also where it reaches past 0..255: a wider window is greyer.
                        const double lo = std::trunc(level - width * 0.5), hi = std::trunc(level + width * 0.5);
                        const size_t last = index.size() - 1;
                        for (const auto& [at, value] : {std::pair<size_t, double>{0, 0.0}, {last, 255.0}}) {
                            const int grey = std::clamp(int((value - lo) * 255.0 / (hi - lo)), 0, 255);
                            EXPECT_NEAR(onCpu[3 * at], grey, 1) << where << " value " << value;
                            EXPECT_NEAR(onGpu[3 * at], grey, 1) << where << " value " << value;
                        }
                    }
                }
            }
        }
    }
}

TEST_F(ImageNodesGL, ColourFramesPassThroughUnchanged)
{
    OwnedRecord& record = keep(OwnedRecord(64, 32, PIXEL_RGB, 2));
    for (size_t i = 0; i < record.bytes.size(); ++i)
        record.bytes[i] = static_cast<unsigned char>(i * 7 + i / 97);
    show(record.info);
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_FRAME_NEXT, nullptr, &g_window, true);
    rig.frame();
    ASSERT_EQ(cpu->getFrameIndex(), 1);
    ASSERT_EQ(gpu->getFrameIndex(), 1);
    const unsigned char* frame1 = record.bytes.data() + 64 * 32 * 3;
    for (isNodeImage* node : {cpu, static_cast<isNodeImage*>(gpu)}) {
        cpu->setVisible(node == cpu);
        gpu->setVisible(node == gpu);
        rig.frame();
        const std::vector<unsigned char> picture = readSlice(64, 32);
        EXPECT_TRUE(std::equal(picture.begin(), picture.end(), frame1)) << (node == cpu ? "cpu" : "gpu");
    }
}

TEST_F(ImageNodesGL, ARealDicomSliceLooksTheSameOnBothPaths)
{
    // A CT slice as a scanner writes it: signed stored values with a rescale, a default window.
    char folder[] = "/tmp/qv-display-gl-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/ct.dcm";
    qvgen::ImageSpec spec;
    spec.columns = 160;
    spec.rows = 120;
    spec.bitsAllocated = 16;
    spec.pixelRepresentation = 1;
    spec.modality = "CT";
    spec.pixelSpacing = "1\\1";
    spec.rescaleSlope = "1";
    spec.rescaleIntercept = "-1024";
    spec.windowCenter = "40";
    spec.windowWidth = "400";
    spec.pixels.resize(static_cast<size_t>(spec.columns) * spec.rows * 2);
    for (int r = 0; r < spec.rows; ++r)
        for (int c = 0; c < spec.columns; ++c) {
            // Air around a disc of soft tissue with a bright ring: stored values 0 to 2000.
            const double d = std::hypot(c - 80.0, r - 60.0);
            const int stored = d > 55 ? 24 : d > 50 ? 2000 : 1024 + 40 + static_cast<int>(30 * std::sin(c * 0.2));
            const auto v = static_cast<uint16_t>(static_cast<int16_t>(stored));
            spec.pixels[2 * (static_cast<size_t>(r) * spec.columns + c)] = static_cast<uint8_t>(v & 0xFF);
            spec.pixels[2 * (static_cast<size_t>(r) * spec.columns + c) + 1] = static_cast<uint8_t>(v >> 8);
        }
    std::string error;
    ASSERT_TRUE(qvgen::writeDicomFile(path, spec, &error)) << error;

    isDcmReader* reader = isDcmReader::create();
    reader->setFileName(path);
    reader->update();
    auto* output = static_cast<isImageData*>(reader->getOutput());
    ASSERT_NE(output, nullptr);
    ASSERT_EQ(output->getSliceCount(), 1);
    isSliceInfo* slice = output->getSlices().front();
    ASSERT_EQ(slice->columns, 160);
    float width = 0, centre = 0;
    output->getDefaultWindow(&width, &centre);
    EXPECT_FLOAT_EQ(width, 400.0f);
    EXPECT_FLOAT_EQ(centre, 40.0f);

    // As the image actor connects them: the reader is the nodes' source.
    for (isNodeImage* node : {cpu, static_cast<isNodeImage*>(gpu)}) {
        node->setSourceFilter(reader);
        node->markSourceDirty();
    }
    fitClutToPixelType(clut, slice->pixelType);
    viewSlice(*slice);
    for (const auto& [w, l] : {std::pair<float, float>{width, centre}, {2000.0f, 500.0f}, {80.0f, 60.0f}}) {
        clut->setWindow(w, l);
        const std::vector<int> index = cpuIndices(*slice, clut);
        const std::vector<unsigned char> onCpu = draw(cpu, *slice);
        const std::vector<unsigned char> onGpu = draw(gpu, *slice);
        EXPECT_TRUE(showsIndices(onCpu, index, clut, 0)) << w << "/" << l;
        EXPECT_TRUE(showsIndices(onGpu, index, clut, 1)) << w << "/" << l;
        for (size_t i = 0; i < onCpu.size(); ++i)
            ASSERT_LE(std::abs(onCpu[i] - onGpu[i]), 1) << "byte " << i << " window " << w << "/" << l;
    }
    // Under the default window: air black, the ring white, tissue mid-grey.
    const std::vector<unsigned char> picture = draw(cpu, *slice);
    clut->setWindow(width, centre);
    const std::vector<unsigned char> atDefault = draw(gpu, *slice);
    EXPECT_EQ(atDefault[0], 0);
    EXPECT_EQ(atDefault[3 * (60 * 160 + 80 + 52)], 255);
    EXPECT_NEAR(atDefault[3 * (60 * 160 + 80)], 127, 20);
    std::remove(path.c_str());
    rmdir(folder);
}

TEST_F(ImageNodesGL, MultiFrameImagesStepAndPlayTheirFrames)
{
    // Three frames, 1000 apart, under a window that shows them as dark, mid and light grey.
    OwnedRecord& record = keep(rampRecord(PIXEL_U16, 32, 16, 0, 10, 3, 1000));
    fitClutToPixelType(clut, PIXEL_U16);
    clut->setWindow(3000, 1500);
    show(record.info);
    auto centreGrey = [&](isNodeImage* node) {
        cpu->setVisible(node == cpu);
        gpu->setVisible(node == gpu);
        rig.frame();
        return static_cast<int>(readSlice(32, 16)[3 * (8 * 32 + 16)]);
    };
    const int greys[3] = {0, 85, 170};
    for (isNodeImage* node : {cpu, static_cast<isNodeImage*>(gpu)})
        EXPECT_NEAR(centreGrey(node), greys[0], 2);
    for (int step = 1; step <= 3; ++step) {
        NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_FRAME_NEXT, nullptr, &g_window,
                                                                    true);
        rig.frame();
        for (isNodeImage* node : {cpu, static_cast<isNodeImage*>(gpu)}) {
            EXPECT_EQ(node->getFrameIndex(), step % 3);
            EXPECT_NEAR(centreGrey(node), greys[step % 3], 2) << step;
        }
    }

    // Playback: the first frame change after 0.1 s, then one every 0.3 s.
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_FRAME_PLAY_TOGGLE, nullptr, &g_window,
                                                                true);
    rig.frame();
    ASSERT_TRUE(gpu->isPlaying());
    for (int i = 0; i < 30; ++i)
        rig.frame();
    EXPECT_EQ(gpu->getFrameIndex(), 2);
    EXPECT_NEAR(centreGrey(gpu), greys[2], 2);
}

TEST_F(ImageNodesGL, ASlowFrameMovesEveryShaderNodeToTheCpuPathForGood)
{
    showRampOnGpu();
    const std::vector<unsigned char> before = readSlice(64, 48);

    std::vector<std::string> lines;
    cocos2d::setLogSink([&lines](const std::string& line) { lines.push_back(line); });
    rig.frame(0.29f);
    rig.frame();
    EXPECT_FALSE(gpu->isCpuPath());
    rig.frame(0.31f);  // measured at the end of this frame, acted on in the next
    rig.frame();
    rig.frame();
    cocos2d::setLogSink(nullptr);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Rendering is too slow. Disable cubic shader program."), 1);
    EXPECT_TRUE(gpu->isCpuPath());
    EXPECT_EQ(isNodeImageByShader::shaderEnabled, 0);
    EXPECT_EQ(gpu->getClutTexture(), 0u);
    EXPECT_EQ(gpu->getTexture()->getPixelFormat(), cocos2d::Texture2D::PixelFormat::RGB888);
    const std::vector<unsigned char> after = readSlice(64, 48);
    for (size_t i = 0; i < before.size(); ++i)
        ASSERT_LE(std::abs(before[i] - after[i]), 1) << i;

    // Shader nodes made afterwards start on the CPU path; a window change now rebuilds.
    isNodeImageByShader* later = isNodeImageByShader::create();
    ASSERT_NE(later, nullptr);
    EXPECT_TRUE(later->isCpuPath());
    clut->setWindow(100, 0);
    gpu->markTextureDirty();
    EXPECT_TRUE(gpu->isTextureDirty());
}

TEST_F(ImageNodesGL, ShaderNodeWrapsItsDrawAndLeavesUnitOneEmpty)
{
    OwnedRecord& record = showRampOnGpu();
    std::vector<cocos2d::RenderCommand::Type> mine;
    for (const auto& c : rig.director->getRenderer()->getCommandRecords())
        if (c.owner == gpu) {
            mine.push_back(c.type);
            EXPECT_TRUE(c.is3D);
        }
    using Type = cocos2d::RenderCommand::Type;
    EXPECT_EQ(mine, (std::vector<Type>{Type::CUSTOM_COMMAND, Type::TRIANGLES_COMMAND, Type::CUSTOM_COMMAND}));

    GLint active = 0, unit1 = -1;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glActiveTexture(GL_TEXTURE1);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &unit1);
    glActiveTexture(static_cast<GLenum>(active));
    EXPECT_EQ(active, GL_TEXTURE0);
    EXPECT_EQ(unit1, 0);

    // A window change rebuilds no texture; neither does a new colour table.
    cocos2d::Texture2D* texture = gpu->getTexture();
    clut->setWindow(800, 100);
    gpu->markTextureDirty();
    rig.frame();
    EXPECT_EQ(gpu->getTexture(), texture);
    qvtest::randomColours(clut, 3);
    gpu->markClutDirty();
    rig.frame();
    EXPECT_EQ(gpu->getTexture(), texture);
    EXPECT_TRUE(showsIndices(readSlice(64, 48), cpuIndices(record.info, clut), clut, 1));
}

// A still slice is not drawn again; a window change (the program's uniforms), a new slice (its
// texture) and a colour table change (uploaded by the node's own command) are each drawn in the
// frame they are made.
TEST_F(ImageNodesGL, ShaderNodeChangesAreDrawnInTheirFrameAndStillFramesAreNot)
{
    showRampOnGpu();
    cocos2d::Renderer* renderer = rig.director->getRenderer();
    rig.frame();
    rig.frame();
    EXPECT_FALSE(renderer->isFrameDrawn());
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"window", [&] { clut->setWindow(200, 40); }},
        {"slice", [&] { gpu->setImage(&keep(rampRecord(PIXEL_I16, 64, 48, 1000, -1000)).info); }},
        {"colour table",
         [&] {
             for (int i = 0; i < 256; ++i)
                 clut->setColor(i, 0xff0000ffu);
             gpu->markClutDirty();
         }},
    };
    std::vector<unsigned char> previous = readSlice(64, 48);
    for (const auto& [what, apply] : changes) {
        apply();
        rig.frame();
        EXPECT_TRUE(renderer->isFrameDrawn()) << what;
        const std::vector<unsigned char> shown = readSlice(64, 48);
        EXPECT_NE(shown, previous) << what;
        rig.frame();
        EXPECT_FALSE(renderer->isFrameDrawn()) << what;
        EXPECT_EQ(readSlice(64, 48), shown) << what;
        previous = shown;
    }
}

// Magnified, the picture between pixel centres is what the CPU path's filtered colour texture
// shows: neighbouring 16-bit values on either side of a multiple of 256 (where the high byte
// changes) blend as values, never as separate bytes, so a ramp stays a ramp without false
// contour lines, on grey and colour tables and under a window narrow enough to saturate.
TEST_F(ImageNodesGL, MagnifiedSixteenBitSlicesBlendWholeValuesAsTheCpuPathDoes)
{
    constexpr int kZoom = 8;  // window pixels per image pixel
    struct Case {
        int pixelType;
        std::vector<int> row;  // row 0; row 1 is row 0 + 3
        float width, level;
    };
    const Case cases[] = {
        {PIXEL_I16, {-700, -520, -300, -260, -250, -5, 5, 250, 262, 300, 511, 700}, 1400, 0},
        {PIXEL_U16, {100, 250, 262, 500, 511, 513, 760, 770, 1020, 1030, 1500, 1800}, 1800, 900},
        // Narrow: most neighbours lie on either side of the window's ends.
        {PIXEL_I16, {-260, -250, -5, 5, 250, 262, -300, 300, 0, 256, -256, 30}, 60, 0},
    };
    for (const Case& c : cases) {
        const int columns = static_cast<int>(c.row.size()), rows = 2;
        OwnedRecord& record = keep(OwnedRecord(columns, rows, c.pixelType));
        record.info.spacingX = record.info.spacingY = static_cast<float>(kZoom);
        for (int r = 0; r < rows; ++r)
            for (int i = 0; i < columns; ++i) {
                const int v = c.row[i] + 3 * r;
                if (c.pixelType == PIXEL_I16)
                    record.samples<int16_t>()[r * columns + i] = static_cast<int16_t>(v);
                else
                    record.samples<uint16_t>()[r * columns + i] = static_cast<uint16_t>(v);
            }
        fitClutToPixelType(clut, c.pixelType);
        show(record.info);
        clut->setWindow(c.width, c.level);
        for (bool colours : {false, true}) {
            if (colours)
                qvtest::randomColours(clut, 5);
            else
                for (uint32_t i = 0; i < 256; ++i)
                    clut->setColor(static_cast<int>(i), (i << 24) | (i << 16) | (i << 8) | 255u);
            const std::string where = "type " + std::to_string(c.pixelType) + " window " +
                                      std::to_string(c.width) + (colours ? " colours" : " grey");
            const int wide = columns * kZoom, high = rows * kZoom;
            cpu->setVisible(true);
            gpu->setVisible(false);
            cpu->markTextureDirty();
            rig.frame();
            const std::vector<unsigned char> onCpu = readSlice(wide, high);
            cpu->setVisible(false);
            gpu->setVisible(true);
            gpu->markClutDirty();
            rig.frame();
            const std::vector<unsigned char> onGpu = readSlice(wide, high);
            int worst = 0;
            size_t worstAt = 0;
            for (size_t i = 0; i < onCpu.size(); ++i)
                if (std::abs(onCpu[i] - onGpu[i]) > worst) {
                    worst = std::abs(onCpu[i] - onGpu[i]);
                    worstAt = i;
                }
            EXPECT_LE(worst, 1) << where << ": window pixel (" << (worstAt / 3) % wide << ", "
                                << (worstAt / 3) / wide << ") channel " << worstAt % 3 << " cpu "
                                << int(onCpu[worstAt]) << " gpu " << int(onGpu[worstAt]);
            if (&c == &cases[0] && !colours) {
                // Across the first row's centre line the grey rises with the values, pixel by pixel.
                const int y = kZoom / 2;
                for (int x = kZoom / 2 + 1; x < wide - kZoom / 2; ++x)
                    EXPECT_GE(onGpu[3 * (y * wide + x)] + 1, onGpu[3 * (y * wide + x - 1)]) << "x " << x;
            }
        }
    }
}
