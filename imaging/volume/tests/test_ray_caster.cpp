// The ray-casting engine: what it draws, for every sample type and render mode.
#include "support/volumeFixtures.h"

#include "isImageTypes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using namespace isImageSDK;
using qvtest::TestVolume;
using qvtest::pixelAt;

namespace {

unsigned char whiteTable[768];

const unsigned char* whiteColours()
{
    // Entry 0 (the background) black, every other level white.
    for (int i = 0; i < 256; ++i)
        whiteTable[i * 3] = whiteTable[i * 3 + 1] = whiteTable[i * 3 + 2] = i == 0 ? 0 : 255;
    return whiteTable;
}

// Window whose lower bound is `lower` and whose level scale is 255 / width.
void setWindow(vrRayCaster& e, float lower, float width)
{
    e.setPendingWindow(width, lower + width * 0.5f);
}

} // namespace

TEST(VolumeRayCaster, MaximumIntensityEqualsTheBruteForceMaximumAlongEachRay)
{
    // Random values on a coarse lattice (steps of 100 = 25 grey levels); the last slices are
    // air so that every column's maximum lies where the rays sample.
    const int n = 24, depth = 30;
    TestVolume<int16_t> v(n, n, depth, PIXEL_I16, 0);
    std::mt19937 random(7);
    for (int z = 0; z < depth - 3; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                v.at(x, y, z) = static_cast<int16_t>(100 * (random() % 11));
    vrRayCaster engine;
    engine.setVolume(&v.descriptor);
    engine.setRenderMode(RenderMIP);
    setWindow(engine, 0.0f, 1020.0f);
    engine.setCamera(qvtest::axialOrthoCamera(n, n, depth), false);
    ASSERT_TRUE(engine.render());
    ASSERT_EQ(engine.getFrame().width, n);
    ASSERT_EQ(engine.getFrame().height, n);
    int checked = 0;
    for (int row = 0; row < n - 1; ++row)
        for (int x = 0; x < n - 1; ++x) {
            int m = 0;
            for (int z = 0; z < depth; ++z)
                m = std::max<int>(m, v.at(x, row, z));
            const int expected = static_cast<int>(m * 0.25f);
            const int got = pixelAt(engine, x, row)[0];
            // Trilinear weights quantised to cell centres mix in 1% of the neighbours on each
            // axis: a few levels, never a lattice step.
            EXPECT_NEAR(got, expected, 8) << "pixel " << x << ", " << row;
            ++checked;
        }
    EXPECT_EQ(checked, (n - 1) * (n - 1));
}

TEST(VolumeRayCaster, CompositeOfAUniformBlockMatchesTheAnalyticResult)
{
    // A 16-voxel cube of value 1000 in air; level 16 per sample, every level white.
    const int n = 32;
    TestVolume<int16_t> v(n, n, n, PIXEL_I16, 0);
    for (int z = 8; z < 24; ++z)
        for (int y = 8; y < 24; ++y)
            for (int x = 8; x < 24; ++x)
                v.at(x, y, z) = 1000;
    for (bool trilinear : {false, true}) {
        vrRayCaster engine;
        engine.setTrilinear(trilinear);
        engine.setVolume(&v.descriptor);
        engine.setColors(whiteColours());
        // Level of 1000: (1000 - 1) * 255 / 15300 + 0.5 -> 16.
        setWindow(engine, 1.0f, 15300.0f);
        engine.setCamera(qvtest::axialOrthoCamera(n, n, n), false);
        ASSERT_TRUE(engine.render());
        const double a = 16.0 / 255.0;
        const double expected = 255.0 * (1.0 - std::pow(1.0 - a, 16));
        // One sample more or less at the cube's faces.
        const double slack = 255.0 * a * std::pow(1.0 - a, 15) + 1.0;
        for (int row = 10; row < 22; row += 3)
            for (int x = 10; x < 22; x += 3) {
                const unsigned char* p = pixelAt(engine, x, row);
                EXPECT_NEAR(p[0], expected, slack) << x << ", " << row << " trilinear " << trilinear;
                EXPECT_EQ(p[0], p[1]);
                EXPECT_EQ(p[1], p[2]);
            }
        // Rays beside the cube see air: the background.
        EXPECT_EQ(pixelAt(engine, 2, 2)[0], 0);
        EXPECT_EQ(pixelAt(engine, 28, 16)[0], 0);
    }
}

TEST(VolumeRayCaster, RaysStopAtFullOpacityAndMissesShowTheBackground)
{
    const int n = 32;
    TestVolume<int16_t> v(n, n, n, PIXEL_I16, 0);
    // Front slab at level 255 (opaque), a slab behind it of another colour.
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            for (int z = 4; z < 8; ++z)
                v.at(x, y, z) = 2000;
            for (int z = 12; z < 20; ++z)
                v.at(x, y, z) = 500;
        }
    unsigned char colours[768];
    for (int i = 0; i < 256; ++i) {
        colours[i * 3] = static_cast<unsigned char>(i == 255 ? 200 : 0);
        colours[i * 3 + 1] = static_cast<unsigned char>(i == 255 ? 0 : 100);
        colours[i * 3 + 2] = 7;
    }
    // With the slab behind removed the picture stays the same: rays stopped in the first one.
    TestVolume<int16_t> front = v;
    front.descriptor.voxels = front.voxels.data();
    for (int z = 12; z < 20; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                front.at(x, y, z) = 0;
    for (int mode : {RenderComposite, RenderPreIntegrated, RenderShaded}) {
        std::vector<unsigned char> pictures[2];
        for (int i = 0; i < 2; ++i) {
            vrRayCaster engine;
            engine.setVolume(i == 0 ? &v.descriptor : &front.descriptor);
            engine.setColors(colours);
            engine.setRenderMode(mode);
            setWindow(engine, 1.0f, 1000.0f);
            engine.setCamera(qvtest::axialOrthoCamera(n, n, n), false);
            ASSERT_TRUE(engine.render());
            const auto& f = engine.getFrame();
            pictures[i].assign(f.pixels, f.pixels + f.width * f.height * 3);
            if (mode == RenderComposite) {
                // Compositing the opaque level alone gives exactly its colour.
                EXPECT_EQ(pixelAt(engine, 16, 16)[0], 200);
                EXPECT_EQ(pixelAt(engine, 16, 16)[1], 0);
            }
        }
        EXPECT_EQ(pictures[0], pictures[1]) << "mode " << mode;
    }

    // A camera looking away from the volume: every pixel is colour-table entry 0.
    vrRayCaster engine;
    engine.setVolume(&v.descriptor);
    engine.setColors(colours);
    setWindow(engine, 1.0f, 1000.0f);
    auto camera = qvtest::axialOrthoCamera(n, n, n);
    camera.eye[2] = -20, camera.target[2] = -40;
    camera.up[1] = 1;  // keep a right-handed view while turned around
    for (int mode : {RenderComposite, RenderPreIntegrated, RenderShaded, RenderMIP}) {
        engine.setRenderMode(mode);
        engine.setCamera(camera, false);
        ASSERT_TRUE(engine.render());
        for (int row = 0; row < n; row += 5)
            for (int x = 0; x < n; x += 5) {
                const unsigned char* p = pixelAt(engine, x, row);
                EXPECT_EQ(p[0], 0);
                EXPECT_EQ(p[1], 100);
                EXPECT_EQ(p[2], 7);
            }
    }
}

TEST(VolumeRayCaster, GreyRampBeforeAnyColourTableAndSaturatedLevels)
{
    const int n = 16;
    TestVolume<int16_t> v(n, n, n, PIXEL_I16, 0);
    // Columns far above and far below the window.
    for (int z = 0; z < n; ++z) {
        v.at(4, 4, z) = 30000;
        v.at(8, 8, z) = -30000;
    }
    vrRayCaster engine;
    engine.setVolume(&v.descriptor);
    engine.setRenderMode(RenderMIP);
    setWindow(engine, -100.0f, 200.0f);
    engine.setCamera(qvtest::axialOrthoCamera(n, n, n), false);
    ASSERT_TRUE(engine.render());
    const unsigned char* hi = pixelAt(engine, 4, 4);
    EXPECT_EQ(hi[0], 255);
    EXPECT_EQ(hi[1], 255);
    EXPECT_EQ(hi[2], 255);
    // Air (0) is level 127 of this window; the very low column is all level 0... and its
    // neighbours pull its maximum up, so look at the work table instead.
    const float* work = engine.getWorkTable();
    ASSERT_NE(work, nullptr);
    // Integer maximum images read the pre-integrated diagonal: grey (i, i, i).
    EXPECT_EQ(work[(0 * 257) * 4 + 1], 0.0f);
    EXPECT_EQ(work[(255 * 257) * 4 + 1], 255.0f);

    engine.setRenderMode(RenderComposite);
    engine.updateTables();
    work = engine.getWorkTable();
    // Signed 16-bit values index the composite table from -32768.
    EXPECT_EQ(work[(30000 + 32768) * 4 + 1], 255.0f);
    EXPECT_EQ(work[(-30000 + 32768) * 4 + 1], 0.0f);
    EXPECT_FLOAT_EQ(work[(30000 + 32768) * 4], 1.0f);
    EXPECT_EQ(work[(-30000 + 32768) * 4], 0.0f);
}

TEST(VolumeRayCaster, EverySampleTypeRendersAsItself)
{
    // An unsigned 16-bit cube of 40000 in a window centred there is opaque, not empty.
    const int n = 20;
    TestVolume<uint16_t> wide(n, n, n, PIXEL_U16, 0);
    for (int z = 6; z < 14; ++z)
        for (int y = 6; y < 14; ++y)
            for (int x = 6; x < 14; ++x)
                wide.at(x, y, z) = 40000;
    for (int mode : {RenderComposite, RenderPreIntegrated, RenderShaded, RenderMIP}) {
        vrRayCaster engine;
        engine.setVolume(&wide.descriptor);
        engine.setColors(whiteColours());
        engine.setRenderMode(mode);
        engine.setPendingWindow(100.0f, 39990.0f);
        engine.setCamera(qvtest::axialOrthoCamera(n, n, n), false);
        ASSERT_TRUE(engine.render());
        EXPECT_GT(pixelAt(engine, 10, 10)[0], 200) << "mode " << mode;
        EXPECT_EQ(pixelAt(engine, 2, 2)[0], 0) << "mode " << mode;
    }

    // A float CT volume renders like the same values stored as signed 16-bit.
    TestVolume<int16_t> ct(n, n, n, PIXEL_I16, -1000);
    TestVolume<float> ctFloat(n, n, n, PIXEL_FLOAT, -1000.0f);
    std::mt19937 random(3);
    for (int z = 3; z < 17; ++z)
        for (int y = 3; y < 17; ++y)
            for (int x = 3; x < 17; ++x) {
                const int value = static_cast<int>(random() % 1400) - 200;
                ct.at(x, y, z) = static_cast<int16_t>(value);
                ctFloat.at(x, y, z) = static_cast<float>(value);
            }
    for (int mode : {RenderComposite, RenderPreIntegrated, RenderMIP})
        for (bool trilinear : {false, true}) {
            vrRayCaster a, b;
            for (vrRayCaster* e : {&a, &b}) {
                e->setTrilinear(trilinear);
                e->setRenderMode(mode);
                e->setPendingWindow(400.0f, 40.0f);
                e->setCamera(qvtest::perspectiveCamera(9.5f, 9.5f, 9.5f, 40.0f, 32.0f), false);
            }
            a.setVolume(&ct.descriptor);
            b.setVolume(&ctFloat.descriptor);
            ASSERT_TRUE(a.render());
            ASSERT_TRUE(b.render());
            const auto& fa = a.getFrame();
            const auto& fb = b.getFrame();
            ASSERT_EQ(fa.width, fb.width);
            int worst = 0;
            for (int i = 0; i < fa.width * fa.height * 3; ++i)
                worst = std::max(worst, std::abs(fa.pixels[i] - fb.pixels[i]));
            // Trilinear integer samples are truncated, float ones are not: a level at most.
            // (maximum intensity always samples trilinearly).
            EXPECT_LE(worst, trilinear || mode == RenderMIP ? 3 : 0) << "mode " << mode;
        }

    // Unsigned 8-bit volumes, every mode and sampler, from outside and from inside the volume
    // (AddressSanitizer watches every read).
    TestVolume<uint8_t> bytes(17, 13, 11, PIXEL_U8, 0);
    for (int z = 0; z < 11; ++z)
        for (int y = 0; y < 13; ++y)
            for (int x = 0; x < 17; ++x)
                bytes.at(x, y, z) = static_cast<uint8_t>((x * 31 + y * 17 + z * 7) & 255);
    for (int mode : {RenderComposite, RenderPreIntegrated, RenderShaded, RenderMIP})
        for (bool trilinear : {false, true})
            for (float distance : {30.0f, 2.0f}) {
                vrRayCaster engine;
                engine.setTrilinear(trilinear);
                engine.setRenderMode(mode);
                engine.setVolume(&bytes.descriptor);
                engine.setPendingWindow(128.0f, 128.0f);
                engine.setCamera(qvtest::perspectiveCamera(8.0f, 6.0f, 5.0f, distance, 24.0f), false);
                EXPECT_TRUE(engine.render());
            }
}

TEST(VolumeRayCaster, TinyViewportsMakeNoFrameAndWorkersFollowTheRayCount)
{
    TestVolume<int16_t> v(8, 8, 8, PIXEL_I16, 500);
    vrRayCaster engine;
    engine.setVolume(&v.descriptor);
    auto camera = qvtest::perspectiveCamera(3.5f, 3.5f, 3.5f, 20.0f, 10.0f);
    engine.setCamera(camera, false);
    engine.setRenderScale(0.05f);
    EXPECT_FALSE(engine.render());
    EXPECT_EQ(engine.getFrame().width, 0);
    EXPECT_EQ(engine.getFrame().pixels, nullptr);
    EXPECT_FLOAT_EQ(engine.getRenderScale(), 0.05f);

    // 2 x 2 pixels is the smallest frame; fewer than 100 rays run on one worker.
    engine.setRenderScale(0.2f);
    EXPECT_TRUE(engine.render());
    EXPECT_EQ(engine.getFrame().width, 2);
    EXPECT_EQ(engine.getLastWorkerCount(), 1);
    for (int i = 0; i < 12; ++i)
        EXPECT_FALSE(std::isnan(static_cast<float>(engine.getFrame().pixels[i])));

    camera.viewWidth = camera.viewHeight = 64.0f;
    engine.setCamera(camera, false);
    engine.setRenderScale(1.0f);
    engine.setTargetFrameTime(30.0f);
    EXPECT_TRUE(engine.render());
    EXPECT_GE(engine.getLastRayCount(), 100);
    EXPECT_EQ(engine.getLastWorkerCount(), 4);

    // A zero width would divide by zero: the narrowest window is one unit wide.
    engine.setPendingWindow(0.0f, 500.0f);
    EXPECT_TRUE(engine.render());
    EXPECT_FLOAT_EQ(engine.getLevelScale(), 255.0f);
}

TEST(VolumeRayCaster, AWideWindowKeepsTheWholeVolumeInTheGrid)
{
    TestVolume<int16_t> v(16, 16, 16, PIXEL_I16, -2000);
    vrRayCaster engine;
    engine.setVolume(&v.descriptor);
    engine.setPendingWindow(70000.0f, 0.0f);
    engine.updateTables();
    engine.getGrid()->build();
    const float* b = engine.getGrid()->bounds();
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(b[2 * a], 0.0f);
        EXPECT_EQ(b[2 * a + 1], 14.0f);
    }
    EXPECT_EQ(static_cast<vrSpaceLeaping*>(engine.getGrid())->threshold(), -32768);
}

TEST(VolumeRayCaster, ShadingLightsSurfacesAndLeavesFlatRegionsUnlit)
{
    const int n = 24;
    // A uniform volume has no gradient anywhere: shaded equals pre-integrated.
    TestVolume<int16_t> flat(n, n, n, PIXEL_I16, 300);
    TestVolume<int16_t> ball(n, n, n, PIXEL_I16, 0);
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const float dx = x - 11.5f, dy = y - 11.5f, dz = z - 11.5f;
                if (dx * dx + dy * dy + dz * dz < 64.0f)
                    ball.at(x, y, z) = 300;
            }
    auto render = [&](TestVolume<int16_t>& v, int mode, std::vector<unsigned char>* out) {
        vrRayCaster e;
        e.setVolume(&v.descriptor);
        e.setRenderMode(mode);
        e.setPendingWindow(3000.0f, 1500.0f);
        e.setCamera(qvtest::perspectiveCamera(11.5f, 11.5f, 11.5f, 50.0f, 40.0f), false);
        ASSERT_TRUE(e.render());
        const auto& f = e.getFrame();
        out->assign(f.pixels, f.pixels + f.width * f.height * 3);
    };
    std::vector<unsigned char> a, b;
    render(flat, RenderShaded, &a);
    render(flat, RenderPreIntegrated, &b);
    EXPECT_EQ(a, b);
    render(ball, RenderShaded, &a);
    render(ball, RenderPreIntegrated, &b);
    EXPECT_NE(a, b);
}

TEST(VolumeRayCaster, CameraInPatientSpaceIsCarriedIntoTheVolume)
{
    // The same voxels placed in patient space by a rotation and a shift, seen by a camera
    // given in patient space, look exactly as the unplaced volume seen from volume space.
    const int n = 16;
    TestVolume<int16_t> v(n, n, n, PIXEL_I16, 0);
    for (int z = 4; z < 12; ++z)
        for (int y = 2; y < 9; ++y)
            for (int x = 5; x < 13; ++x)
                v.at(x, y, z) = static_cast<int16_t>(100 * (x + y));
    TestVolume<int16_t> placed = v;
    placed.descriptor.voxels = placed.voxels.data();
    // Columns: volume x -> patient y, volume y -> patient -x, volume z -> patient z; origin
    // at (50, -20, 7).
    const float m[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 50, -20, 7, 1};
    std::copy(m, m + 16, placed.descriptor.matrix);

    const auto inVolume = qvtest::perspectiveCamera(7.5f, 7.5f, 7.5f, 40.0f, 32.0f);
    auto toPatient = [&](const float p[3], float w, float out[3]) {
        for (int r = 0; r < 3; ++r)
            out[r] = m[r] * p[0] + m[4 + r] * p[1] + m[8 + r] * p[2] + m[12 + r] * w;
    };
    auto inPatient = inVolume;
    toPatient(inVolume.eye, 1, inPatient.eye);
    toPatient(inVolume.target, 1, inPatient.target);
    toPatient(inVolume.up, 0, inPatient.up);

    vrRayCaster a, b;
    a.setVolume(&v.descriptor);
    b.setVolume(&placed.descriptor);
    a.setCamera(inVolume, false);
    b.setCamera(inPatient, true);
    for (vrRayCaster* e : {&a, &b})
        e->setPendingWindow(2000.0f, 1000.0f);
    ASSERT_TRUE(a.render());
    ASSERT_TRUE(b.render());
    const auto& fa = a.getFrame();
    const auto& fb = b.getFrame();
    ASSERT_EQ(fa.width, fb.width);
    int differing = 0;
    for (int i = 0; i < fa.width * fa.height * 3; ++i)
        differing += std::abs(fa.pixels[i] - fb.pixels[i]) > 2;
    EXPECT_EQ(differing, 0);
}

TEST(VolumeRayCaster, CancelStopsWorkersBeforeTheirNextRay)
{
    TestVolume<int16_t> v(8, 8, 8, PIXEL_I16, 500);
    vrRayCaster engine;
    engine.setVolume(&v.descriptor);
    engine.setCamera(qvtest::axialOrthoCamera(8, 8, 8), false);
    engine.updateTables();
    engine.getGrid()->build();

    vrVolumeInfo info;
    info.nx = info.ny = info.nz = 8;
    info.nxy = 64;
    info.nxyz = 512;
    info.voxels = v.voxels.data();
    info.pixelType = PIXEL_I16;
    vrTableBlock tables;
    tables.work = engine.getWorkTable();
    std::atomic<uint8_t> cancel{1};
    unsigned char pixels[6];
    vrRayRecord rays[2] = {};
    for (int i = 0; i < 2; ++i) {
        rays[i].start[0] = 3, rays[i].start[1] = 3, rays[i].start[2] = -5;
        rays[i].block.step[2] = 1;
        rays[i].block.limit = 100;
        rays[i].block.stepLength = rays[i].block.invStepLength = 1;
        rays[i].block.direction[2] = 1;
        rays[i].block.farVector[2] = 100;
        rays[i].out = pixels + 3 * i;
    }
    // Composite and maximum rays, eight at a time and alone.
    unsigned char done[2][3] = {};
    for (int mode : {RenderComposite, RenderMIP})
        for (bool packets : {true, false}) {
            vrSetRayPackets(packets);
            std::fill(pixels, pixels + 6, 9);
            CRayCastingThread worker;
            worker.rays = rays;
            worker.first = 0;
            worker.end = 2;
            worker.renderMode = mode;
            worker.volume = &info;
            worker.tables = &tables;
            worker.grid = engine.getGrid();
            cancel = 1;
            worker.cancel = &cancel;
            worker.process();
            for (unsigned char p : pixels)
                EXPECT_EQ(p, 9) << "mode " << mode << ", packets " << packets;
            cancel = 0;
            worker.process();
            EXPECT_NE(pixels[0], 9) << "mode " << mode << ", packets " << packets;
            if (packets)
                std::copy(pixels, pixels + 3, done[mode == RenderMIP]);
            else
                EXPECT_TRUE(std::equal(pixels, pixels + 3, done[mode == RenderMIP])) << "mode " << mode;
        }
    vrSetRayPackets(true);
}

TEST(VolumeRayCaster, RenderScaleFollowsTheFrameTimeWithinItsBounds)
{
    struct Case {
        float scale;
        double elapsedMs, expected;
    } cases[] = {
        {0.8f, 30.0, 0.8},      // on target: unchanged
        {0.8f, 120.0, 0.4},     // four times too slow: half the scale (a quarter of the rays)
        {0.1f, 0.48, 0.790569}, // a fast frame, under a millisecond, grows the scale
        {0.3f, 0.0, 1.0},       // too fast to measure: room for the full size
        {0.9f, 2.0, 1.0},       // never above full resolution...
        {0.1f, 60000.0, 0.05},  // ...nor below a twentieth
    };
    for (const Case& c : cases)
        EXPECT_NEAR(vrRayCaster::nextRenderScale(c.scale, c.elapsedMs, 30.0), c.expected, 1e-5)
            << c.scale << " after " << c.elapsedMs << " ms";

    // A frame in which no ray meets the volume (turned 55 degrees away from it, so that it lies
    // in front of the eye but outside the 60 degree view) leaves the scale alone.
    TestVolume<int16_t> v(16, 16, 16, PIXEL_I16, 500);
    vrRayCaster engine;
    engine.setVolume(&v.descriptor);
    auto camera = qvtest::perspectiveCamera(7.5f, 7.5f, 7.5f, 40.0f, 64.0f);
    camera.target[0] = camera.eye[0] + 40.0f * std::sin(0.96f);
    camera.target[2] = camera.eye[2] + 40.0f * std::cos(0.96f);
    engine.setCamera(camera, false);
    engine.setRenderScale(0.3f);
    EXPECT_TRUE(engine.render());
    EXPECT_EQ(engine.getLastRayCount(), 0);
    EXPECT_FLOAT_EQ(engine.getRenderScale(), 0.3f);
    // Without adapting, the scale stays where it was set, whatever the frame cost.
    engine.setCamera(qvtest::perspectiveCamera(7.5f, 7.5f, 7.5f, 40.0f, 64.0f), false);
    engine.setAdaptiveScale(false);
    EXPECT_TRUE(engine.render());
    EXPECT_GT(engine.getLastRayCount(), 0);
    EXPECT_FLOAT_EQ(engine.getRenderScale(), 0.3f);
}

namespace {

// A noisy body with a dense core in air, of sample type T, in odd sizes.
template <class T>
TestVolume<T> noisyBody(int pixelType, int base)
{
    TestVolume<T> v(37, 29, 23, pixelType, static_cast<T>(base), 0.8f, 0.9f, 1.3f);
    std::mt19937 random(11);
    for (int z = 0; z < v.nz(); ++z)
        for (int y = 0; y < v.ny(); ++y)
            for (int x = 0; x < v.nx(); ++x) {
                const float dx = (x - 18) / 15.0f, dy = (y - 14) / 11.0f, dz = (z - 11) / 9.0f;
                const float r = dx * dx + dy * dy + dz * dz;
                if (r < 1.0f)
                    v.at(x, y, z) = static_cast<T>(base + (r < 0.2f ? 1200 : 1000) + static_cast<int>(random() % 81) - 40);
            }
    return v;
}

template <class T>
void expectPacketsMatchSingleRays(int pixelType, int base)
{
    TestVolume<T> v = noisyBody<T>(pixelType, base);
    unsigned char colours[768];
    for (int i = 0; i < 256; ++i) {
        colours[i * 3] = static_cast<unsigned char>(i);
        colours[i * 3 + 1] = static_cast<unsigned char>(255 - i);
        colours[i * 3 + 2] = static_cast<unsigned char>((i * 7) & 255);
    }
    colours[0] = 20, colours[1] = 40, colours[2] = 60;  // a background no ray composites to
    const float centre[3] = {18 * 0.8f, 14 * 0.9f, 11 * 1.3f};
    int drawn = 0;
    for (int mode : {RenderComposite, RenderMIP})
        for (float width : {40.0f, 300.0f, 3000.0f})
            for (int view = 0; view < 3; ++view) {
                vrCameraState c;
                c.perspective = view != 2;
                c.viewWidth = 45, c.viewHeight = 31;
                c.zoom = 0.9f;
                // Oblique from outside, from within the body, and orthographic.
                const float distance = view == 1 ? 3.0f : 70.0f;
                const float d[3] = {0.5f, -0.7f, 0.4f};
                for (int a = 0; a < 3; ++a)
                    c.target[a] = centre[a], c.eye[a] = centre[a] + distance * d[a];
                c.up[0] = 0.2f, c.up[1] = 0.1f, c.up[2] = 1.0f;
                c.valid = true;
                std::vector<unsigned char> frames[2];
                for (int packets = 0; packets < 2; ++packets) {
                    vrSetRayPackets(packets == 1);
                    vrRayCaster engine;
                    engine.setVolume(&v.descriptor);
                    engine.setRenderMode(mode);
                    engine.setColors(colours);
                    engine.setPendingWindow(width, base + 1000.0f);
                    engine.setCamera(c, false);
                    ASSERT_TRUE(engine.render());
                    const auto& f = engine.getFrame();
                    frames[packets].assign(f.pixels, f.pixels + f.width * f.height * 3);
                }
                vrSetRayPackets(true);
                EXPECT_TRUE(frames[0] == frames[1]) << "mode " << mode << ", width " << width << ", view " << view;
                for (size_t i = 0; i < frames[0].size(); i += 3)
                    drawn += frames[0][i] != 20 || frames[0][i + 1] != 40 || frames[0][i + 2] != 60;
            }
    EXPECT_GT(drawn, 1000);
}

} // namespace

TEST(VolumeRayCaster, RaysCastEightAtATimeDrawTheSamePixelsAsRaysCastAlone)
{
    expectPacketsMatchSingleRays<int16_t>(PIXEL_I16, -1000);
    expectPacketsMatchSingleRays<uint16_t>(PIXEL_U16, 100);
}

TEST(VolumeRayCaster, SkippingEmptySpaceChangesNoPixelBeyondTheRoundingOfAStep)
{
    // The noisy body fills an ellipsoid: the corners of its box are air below the window, and
    // behind the dense core maximum rays have nothing left to find. Rays drawn with the grid
    // leap over such blocks in one step where the plain walk takes them one by one; the two
    // land on the same positions up to the rounding of the additions, which can move a sample
    // across a voxel boundary now and then, never skip what shows.
    TestVolume<int16_t> v = noisyBody<int16_t>(PIXEL_I16, -1000);
    const float centre[3] = {18 * 0.8f, 14 * 0.9f, 11 * 1.3f};
    struct Case {
        int mode;
        bool trilinear;
        float width;
    } cases[] = {
        {RenderComposite, false, 400.0f},     {RenderComposite, true, 3000.0f},
        {RenderMIP, true, 400.0f},            {RenderMIP, true, 3000.0f},
        {RenderPreIntegrated, false, 400.0f}, {RenderPreIntegrated, true, 3000.0f},
    };
    for (const Case& c : cases)
        for (bool perspective : {true, false}) {
            vrCameraState camera;
            camera.perspective = perspective;
            camera.viewWidth = 48, camera.viewHeight = 40;
            camera.zoom = 0.55f;
            const float d[3] = {0.6f, -0.5f, 0.62f};
            for (int a = 0; a < 3; ++a)
                camera.target[a] = centre[a], camera.eye[a] = centre[a] + 25.0f * d[a];
            camera.up[2] = 1.0f;
            camera.valid = true;
            std::vector<unsigned char> frames[2];
            for (int leap = 0; leap < 2; ++leap) {
                vrSetSpaceLeaping(leap == 1);
                vrRayCaster engine;
                engine.setTrilinear(c.trilinear);
                engine.setVolume(&v.descriptor);
                engine.setRenderMode(c.mode);
                // Air (-1000) lies below the window, the body (0) and its core (200) inside it.
                engine.setPendingWindow(c.width, c.width * 0.5f - 100.0f);
                engine.setCamera(camera, false);
                EXPECT_TRUE(engine.render());
                const auto& f = engine.getFrame();
                frames[leap].assign(f.pixels, f.pixels + f.width * f.height * 3);
            }
            vrSetSpaceLeaping(true);
            ASSERT_EQ(frames[0].size(), frames[1].size());
            int differing = 0, drawn = 0;
            for (size_t i = 0; i < frames[0].size(); i += 3) {
                differing += !std::equal(&frames[0][i], &frames[0][i] + 3, &frames[1][i]);
                drawn += frames[0][i] != 0 || frames[0][i + 1] != 0 || frames[0][i + 2] != 0;
            }
            EXPECT_GT(drawn, 600);
            EXPECT_LE(differing, drawn / 100) << "mode " << c.mode << ", trilinear " << c.trilinear << ", width "
                                              << c.width << ", perspective " << perspective;
        }
}

namespace {

// A MIP test body of sample type T: a noisy ellipsoid of tissue in air, a dense core, a few
// single bright voxels, and a uniform slab below zero (`shift` moves every value, `scale`
// shrinks the range for 8-bit volumes). Air lies below every window used with it, the
// core's blocks stand above the tissue's.
template <class T>
TestVolume<T> mipBody(int pixelType, float shift, float scale)
{
    TestVolume<T> v(41, 33, 27, pixelType, static_cast<T>(shift - 1000 * scale), 0.8f, 0.9f, 1.1f);
    std::mt19937 random(23);
    auto set = [&](int x, int y, int z, float value) { v.at(x, y, z) = static_cast<T>(shift + value * scale); };
    for (int z = 0; z < v.nz(); ++z)
        for (int y = 0; y < v.ny(); ++y)
            for (int x = 0; x < v.nx(); ++x) {
                const float dx = (x - 20) / 17.0f, dy = (y - 16) / 13.0f, dz = (z - 13) / 11.0f;
                const float r = dx * dx + dy * dy + dz * dz;
                if (r < 0.15f)
                    set(x, y, z, 700.0f + static_cast<float>(random() % 41));
                else if (r < 1.0f)
                    set(x, y, z, 40.0f + static_cast<float>(random() % 33) - 16.0f);
            }
    for (int z = 3; z < 6; ++z)
        for (int y = 6; y < 27; ++y)
            for (int x = 6; x < 35; ++x)
                set(x, y, z, -500.0f);
    set(9, 16, 13, 1900.0f);
    set(30, 12, 18, 1500.0f);
    set(21, 25, 8, 1200.0f);
    return v;
}

std::vector<vrCameraState> mipViews(const float centre[3])
{
    std::vector<vrCameraState> views;
    const float directions[3][3] = {{0.55f, -0.62f, 0.45f}, {0.0f, -1.0f, 0.0f}, {-0.3f, 0.2f, -0.93f}};
    for (int i = 0; i < 4; ++i) {
        vrCameraState c;
        c.perspective = i != 3;
        c.viewWidth = 53, c.viewHeight = 37;
        c.zoom = 0.8f;
        // Oblique from outside, straight on, from within the body, and orthographic.
        const float* d = directions[i == 3 ? 0 : i];
        const float distance = i == 2 ? 4.0f : 60.0f;
        for (int a = 0; a < 3; ++a)
            c.target[a] = centre[a], c.eye[a] = centre[a] + distance * d[a];
        c.up[0] = 0.1f, c.up[1] = 0.0f, c.up[2] = 1.0f;
        if (i == 1)
            c.up[0] = 0.0f;
        c.valid = true;
        views.push_back(c);
    }
    return views;
}

std::vector<unsigned char> mipFrame(const vrVolumeDescriptor& volume, const vrCameraState& camera, float width,
                                    float centre, bool trilinear)
{
    unsigned char colours[768];
    for (int i = 0; i < 256; ++i) {
        colours[i * 3] = static_cast<unsigned char>(i);
        colours[i * 3 + 1] = static_cast<unsigned char>((i * 5) & 255);
        colours[i * 3 + 2] = static_cast<unsigned char>(255 - i);
    }
    vrRayCaster engine;
    engine.setTrilinear(trilinear);
    engine.setVolume(&volume);
    engine.setRenderMode(RenderMIP);
    engine.setColors(colours);
    engine.setPendingWindow(width, centre);
    engine.setCamera(camera, false);
    EXPECT_TRUE(engine.render());
    const auto& f = engine.getFrame();
    return std::vector<unsigned char>(f.pixels, f.pixels + f.width * f.height * 3);
}

// Frames with skipping against the plain walk, pixel for pixel, for each window (width,
// centre) and view: rays cast eight at a time by an engine that samples trilinearly, and alone
// by one that samples the nearest voxel (maximum rays sample trilinearly either way). Returns
// the count of plain pixels that differ from the frame's first one.
int expectMipFramesMatchThePlainWalk(const vrVolumeDescriptor& volume, const std::vector<vrCameraState>& views,
                                     const std::vector<std::pair<float, float>>& windows)
{
    int drawn = 0;
    for (const auto& w : windows)
        for (const vrCameraState& camera : views) {
            vrSetSpaceLeaping(false);
            vrSetRayPackets(false);
            const std::vector<unsigned char> plain = mipFrame(volume, camera, w.first, w.second, true);
            vrSetSpaceLeaping(true);
            for (bool packets : {true, false}) {
                vrSetRayPackets(packets);
                const std::vector<unsigned char> leaping = mipFrame(volume, camera, w.first, w.second, packets);
                EXPECT_EQ(leaping.size(), plain.size());
                size_t differing = 0;
                for (size_t i = 0; i < std::min(plain.size(), leaping.size()); ++i)
                    differing += leaping[i] != plain[i];
                EXPECT_EQ(differing, 0u) << "type " << volume.pixelType << ", window " << w.first << "/" << w.second
                                         << ", perspective " << camera.perspective << ", eye " << camera.eye[0]
                                         << ", packets " << packets;
            }
            vrSetRayPackets(true);
            for (size_t i = 0; i < plain.size(); i += 3)
                drawn += plain[i] != plain[0] || plain[i + 1] != plain[1] || plain[i + 2] != plain[2];
        }
    return drawn;
}

template <class T>
void expectMipBodyMatchesThePlainWalk(int pixelType, float shift, float scale)
{
    TestVolume<T> v = mipBody<T>(pixelType, shift, scale);
    const float centre[3] = {20 * 0.8f, 16 * 0.9f, 13 * 1.1f};
    // Soft tissue; narrow ones that the core, or only the bright voxels, saturate; one whose
    // lower bound lies below the slab; one only a fraction of a value wide.
    std::vector<std::pair<float, float>> windows;
    for (const auto& w : {std::make_pair(400.0f, 40.0f), {120.0f, 700.0f}, {60.0f, 1700.0f}, {1500.0f, -600.0f},
                          {3000.0f, 500.0f}, {0.4f, 40.3f}})
        windows.emplace_back(w.first * scale, shift + w.second * scale);
    EXPECT_GT(expectMipFramesMatchThePlainWalk(v.descriptor, mipViews(centre), windows), 5000) << pixelType;
}

} // namespace

TEST(VolumeRayCaster, MaximumIntensityWithSkippingDrawsThePlainWalkPixelForPixel)
{
    expectMipBodyMatchesThePlainWalk<int16_t>(PIXEL_I16, 0.0f, 1.0f);
    expectMipBodyMatchesThePlainWalk<uint16_t>(PIXEL_U16, 3000.0f, 1.0f);
    expectMipBodyMatchesThePlainWalk<float>(PIXEL_FLOAT, 0.0f, 1.0f);
    expectMipBodyMatchesThePlainWalk<uint8_t>(PIXEL_U8, 110.0f, 0.05f);

    // A uniform value below zero: a trilinear sample there reads one above it now and then
    // (weights summing to a hair under 1, truncated toward zero), and the window's level
    // changes right there. A block whose maximum equals the ray's maximum may still raise it.
    TestVolume<int16_t> uniform(24, 22, 20, PIXEL_I16, -500, 1.0f, 1.0f, 1.3f);
    const float centre[3] = {11.5f, 10.5f, 12.35f};
    EXPECT_GT(expectMipFramesMatchThePlainWalk(uniform.descriptor, mipViews(centre), {{255.0f, -472.5f}}), 0);
}
