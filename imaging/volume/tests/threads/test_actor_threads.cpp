// The volume actor's render threads while the main thread keeps moving the camera and dragging
// the window (run under ThreadSanitizer).
#include "support/ActorRig.h"

#include <gtest/gtest.h>

using namespace isImageSDK;

TEST(VolumeActorThreads, CameraAndWindowChangesDuringRendering)
{
    qvtest::ActorRig rig;
    rig.start(96.0f);
    isActorVR* actor = isActorVR::create();
    actor->retain();
    actor->attachRenderWindow(rig.window);
    isImageData* volume = qvtest::cubeVolume();
    volume->retain();
    actor->setVolume(volume);
    unsigned char colours[768];
    for (int step = 0; step < 40; ++step) {
        rig.look(0.03f * step);
        actor->adjustWindowLevel(step % 2 ? 10.0f : -10.0f, 1.0f);
        if (step % 7 == 0) {
            for (int i = 0; i < 768; ++i)
                colours[i] = static_cast<unsigned char>((i + step) & 255);
            actor->setColorTable(colours);
        }
        actor->refresh();
        rig.rig.frame();
    }
    EXPECT_TRUE(rig.stepUntil([&] { return actor->getShownBestFrames() > 0; }));
    EXPECT_GE(actor->getShownInteractiveFrames(), 1);
    actor->clear();
    actor->release();
    volume->release();
    rig.stop();
}
