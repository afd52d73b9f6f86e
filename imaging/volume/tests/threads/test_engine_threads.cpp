// The ray caster's workers and its cancel flag under concurrent use (run under ThreadSanitizer).
#include "support/volumeFixtures.h"

#include "isImageTypes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace isImageSDK;
using qvtest::TestVolume;

TEST(VolumeEngineThreads, TwoEnginesRenderWhileAnotherThreadCancels)
{
    TestVolume<int16_t> v(40, 40, 40, PIXEL_I16, 0);
    for (int z = 10; z < 30; ++z)
        for (int y = 10; y < 30; ++y)
            for (int x = 10; x < 30; ++x)
                v.at(x, y, z) = static_cast<int16_t>(x * 20 + y + z);
    vrRayCaster interactive, best;
    for (vrRayCaster* e : {&interactive, &best}) {
        e->setVolume(&v.descriptor);
        e->setPendingWindow(400.0f, 300.0f);
    }
    best.setRenderMode(RenderShaded);
    std::atomic<bool> done{false};
    std::thread canceller([&] {
        while (!done.load()) {
            best.cancel();
            std::this_thread::yield();
        }
    });
    // A cancelled frame leaves the render scale where it was.
    int cancelled = 0;
    std::thread other([&] {
        best.setRenderScale(0.5f);
        for (int i = 0; i < 200 && (i < 6 || cancelled == 0); ++i) {
            best.setCamera(qvtest::perspectiveCamera(20, 20, 20, 60.0f + i % 6, 48.0f), false);
            const float scale = best.getRenderScale();
            if (!best.render()) {
                ++cancelled;
                EXPECT_EQ(best.getRenderScale(), scale);
            }
        }
    });
    int frames = 0;
    for (int i = 0; i < 6; ++i) {
        interactive.setCamera(qvtest::perspectiveCamera(20, 20, 20, 60.0f + i, 48.0f), false);
        interactive.setRenderScale(1.0f);
        frames += interactive.render() ? 1 : 0;
    }
    other.join();
    done = true;
    canceller.join();
    EXPECT_EQ(frames, 6);
    EXPECT_GT(cancelled, 0);
}
