// The rendered volume against the orientation letters of the view: a volume whose only bright
// voxels fill the corner of its first voxel must show that corner toward the edges whose
// letters are the corner's own, read back from the framebuffer.
#include "../../../viewers/tests/support/ViewerRig.h"
#include "support/ActorRig.h"

#include "GLTestProgram.h"

#include "isActorImage.h"
#include "isViewerVR.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace isImageSDK;

TEST(VolumeViewerGL, TheMarkedCornerShowsWhereTheLettersSay)
{
    cocos2d::Director::getInstance()->setOpenGLView(qvtest::testWindow());
    qvtest::ViewerRig rig;
    rig.start();
    registerVolumeRendering();

    // Voxel (0, 0, 0) lies toward world -x, -y, -z (identity matrix); its letters are those of
    // these three directions for the volume's patient position.
    isImageData* volume = qvtest::cubeVolume();
    volume->retain();
    for (int k = 0; k < 16; ++k) {
        auto* pixels = reinterpret_cast<int16_t*>(volume->getSlices()[k]->pixels);
        for (int j = 0; j < 16; ++j)
            for (int i = 0; i < 16; ++i)
                pixels[j * 16 + i] = static_cast<int16_t>(i < 5 && j < 5 && k < 5 ? 2000 : -1000);
    }

    std::string cornerLetters[3];
    for (int a = 0; a < 3; ++a) {
        float toward[3] = {0, 0, 0}, across[3] = {0, 0, 0};
        toward[a] = -1.0f;
        across[(a + 1) % 3] = 1.0f;
        char labels[4][3];
        getOrientationLabels(toward, across, labels, volume->getHeadFeet(), volume->getPosture());
        cornerLetters[a] = std::string(1, labels[1][0]);
    }

    auto* viewer = dynamic_cast<isViewerVR*>(isViewerVolume::create());
    ASSERT_NE(viewer, nullptr);
    const float w = 200, h = 160;
    viewer->setContentSize(cocos2d::Size(w, h));
    viewer->setPosition(cocos2d::Vec2(0, 0));
    rig.scene->addChild(viewer);
    rig.recorder->watch(NOTIFY_OVERLAY_ORIENTATION, viewer);
    viewer->setImageData(volume);
    viewer->showVolumeRendering();
    for (int direction : {3, 4, 2, 6}) {
        SCOPED_TRACE("direction " + std::to_string(direction));
        rig.recorder->got.clear();
        viewer->setViewDirection(direction);
        isActorVR* actor = viewer->getActor();
        ASSERT_NE(actor, nullptr);
        const int shown = actor->getShownBestFrames();
        // The best frame is rendered on a worker: wait for it by the clock, not by a count of
        // frames, which a loaded machine runs through before the worker is scheduled.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (actor->getShownBestFrames() == shown && std::chrono::steady_clock::now() < until)
            rig.frame();
        ASSERT_GT(actor->getShownBestFrames(), shown);
        rig.frame(2);
        ASSERT_GE(rig.recorder->count(NOTIFY_OVERLAY_ORIENTATION), 1u);
        const qvtest::Delivery letters = rig.recorder->of(NOTIFY_OVERLAY_ORIENTATION).back();

        std::vector<unsigned char> rgba(static_cast<size_t>(w) * h * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadBuffer(GL_BACK);
        glReadPixels(0, 0, static_cast<int>(w), static_cast<int>(h), GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        double sx = 0, sy = 0, count = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (rgba[(static_cast<size_t>(y) * w + x) * 4] > 128)
                    sx += x, sy += y, ++count;
        ASSERT_GT(count, 10) << "no bright corner drawn";
        const double cx = sx / count, cy = sy / count;  // window coordinates, origin bottom-left
        auto has = [](const std::string& letter, const char* any) {
            return letter.find_first_of(any) != std::string::npos;
        };
        const std::string l = letters.string("l"), r = letters.string("r"), t = letters.string("t"),
                          b = letters.string("b");
        // Each of the corner's three letters that marks an edge of this view puts the corner on
        // that edge's side of the centre.
        for (const std::string& letter : cornerLetters) {
            const char* side = letter.c_str();
            if (has(l, side)) {
                EXPECT_LT(cx, w / 2) << side << " on the left";
            }
            if (has(r, side)) {
                EXPECT_GT(cx, w / 2) << side << " on the right";
            }
            if (has(b, side)) {
                EXPECT_LT(cy, h / 2) << side << " at the bottom";
            }
            if (has(t, side)) {
                EXPECT_GT(cy, h / 2) << side << " at the top";
            }
        }
        const std::string all = cornerLetters[0] + cornerLetters[1] + cornerLetters[2];
        EXPECT_TRUE(has(l + r, all.c_str()) && has(t + b, all.c_str())) << "letters " << l << r << t << b;
    }

    rig.remove(viewer);
    volume->release();
    rig.stop();
    isActorManager::setVRActorFactory(nullptr);
    isViewerVolume::setFactory(nullptr);
}
