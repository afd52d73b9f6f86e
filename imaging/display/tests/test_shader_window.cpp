// The shader node's window, checked without a GL context: the fragment program's formula,
// evaluated in floats on the texture's 16-bit values, gives the CPU path's colour index
// within one for every stored value of every integer type, for every curve and for windows
// inside, across and outside the type's range; float frames agree through their rescaled
// texture. Also: the program resources decode to the sources they are made from.
#include "isClut.h"
#include "isFramePainter.h"
#include "isShaderWindow.h"
#include "support/SliceRecords.h"

#include "cocos2d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include "qvBuildPaths.h"

using namespace isImageSDK;

namespace {

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST(ShaderWindow, IntegerValuesGetTheCpuIndexWithinOne)
{
    qvtest::PoolScope scope;
    struct Case {
        int pixelType;
        int inputMin, inputMax, shift;
        std::vector<std::pair<int, int>> windows;  // width, level
    };
    const Case cases[] = {
        {PIXEL_U8, 0, 255, 0, {{255, 128}, {400, 128}, {300, -10}, {1, 100}, {10, 1000}, {0, 255}, {37, 61}, {2, -50}}},
        {PIXEL_I16, -32768, 32767, 32768,
         {{400, 40}, {2000, -1000}, {1501, 299}, {65536, 0}, {2000, 32000}, {10, 40000}, {0, 0}, {7, -32768}}},
        {PIXEL_U16, 0, 65535, 0, {{4096, 2048}, {1, 65535}, {100, 70000}, {999, 12345}, {70000, 10}}},
    };
    for (const Case& c : cases) {
        isClut* clut = isClut::create();
        clut->setAutoUpdate(false);
        clut->setPixelType(c.pixelType);
        for (int curve : {WINDOW_LINEAR, WINDOW_LOG, WINDOW_INVERSE_LOG}) {
            clut->setCurve(curve);
            for (const auto& [width, level] : c.windows) {
                clut->setWindowInt(width, level);
                clut->updateTable();
                const isShaderWindow w = computeShaderWindow(*clut, c.pixelType, 1.0f, 0.0f);
                int exact = 0, total = 0;
                for (int v = c.inputMin; v <= c.inputMax; ++v) {
                    const int cpu = clut->indexOf(v);
                    const int gpu = shaderIndex(w, static_cast<float>(v + c.shift));
                    ASSERT_LE(std::abs(cpu - gpu), 1) << "type " << c.pixelType << " curve " << curve << " window "
                                                      << width << "/" << level << " value " << v;
                    exact += cpu == gpu;
                    ++total;
                }
                // One index apart only where float and double arithmetic round differently.
                EXPECT_GT(exact, total * 99 / 100) << "type " << c.pixelType << " curve " << curve << " window "
                                                   << width << "/" << level;
            }
        }
    }
}

TEST(ShaderWindow, FloatFramesAgreeThroughTheirRescaledTexture)
{
    qvtest::PoolScope scope;
    qvtest::OwnedRecord record(64, 64, PIXEL_FLOAT);
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> values(-1000.0f, 3000.0f);
    float* samples = record.samples<float>();
    for (size_t i = 0; i < record.pixelsPerFrame(); ++i)
        samples[i] = values(rng);
    samples[0] = -1000.0f;  // the range ends, so the texture spans exactly [-1000, 3000]
    samples[1] = 3000.0f;
    isFramePainter painter;
    float scale = 0, offset = 0;
    const uint16_t* words = painter.packWords(&record.info, 0, &scale, &offset);
    ASSERT_NE(words, nullptr);

    isClut* clut = isClut::create();
    clut->setPixelType(PIXEL_FLOAT);
    const float windows[][2] = {{4000, 1000}, {400, 40}, {1500, -200}, {100, 2900}};
    for (int curve : {WINDOW_LINEAR, WINDOW_LOG, WINDOW_INVERSE_LOG}) {
        clut->setCurve(curve);
        for (const auto& win : windows) {
            clut->setWindow(win[0], win[1]);
            const isShaderWindow w = computeShaderWindow(*clut, PIXEL_FLOAT, scale, offset);
            for (size_t i = 0; i < record.pixelsPerFrame(); ++i) {
                const int cpu = isFramePainter::floatIndex(samples[i], win[1], win[0], curve);
                const int gpu = shaderIndex(w, static_cast<float>(words[i]));
                // The texture holds 65,536 levels over the frame's range: a window of width W
                // spans W * 65535 / 4000 of them, so an index step is at least 4 levels here.
                ASSERT_LE(std::abs(cpu - gpu), 1) << curve << " " << win[0] << "/" << win[1] << " " << samples[i];
            }
        }
    }
}

TEST(ShaderWindow, ProgramResourcesAreTheEncodedSources)
{
    struct Program {
        const char* resource;
        const char* source;
    };
    for (const Program& p : {Program{"imageSDK/i.v", "tools/shaders/image.vert"},
                             Program{"imageSDK/id.f", "tools/shaders/image.frag"}}) {
        const std::string encoded = readText(std::string(QV_RESOURCE_DIR) + "/" + p.resource);
        const std::string source = readText(std::string(QV_SOURCE_DIR) + "/" + p.source);
        ASSERT_FALSE(source.empty()) << p.source;
        EXPECT_EQ(cocos2d::safeBase64DecodeString(encoded), source)
            << p.resource << " is stale: run tools/shaders/encode.sh";
    }
    // The uniforms the node sets, and the sampler of the colour table.
    const std::string fragment = readText(std::string(QV_SOURCE_DIR) + "/tools/shaders/image.frag");
    for (const char* declaration :
         {"int u_opacity;", "float u_wwMin;", "float u_wwLinear;", "float u_wwMax;", "float u_wwLogRatio;",
          "int u_pt;", "int u_fs;", "float u_vw;", "float u_vh;", "sampler2D u_clutTexture;"})
        EXPECT_NE(fragment.find(std::string("uniform ") + declaration), std::string::npos) << declaration;
}
