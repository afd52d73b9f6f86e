// Measurements drawn over a real slice of the phantom, read back from the framebuffer: a line
// and a circle light exactly the slice pixels under their world points, and leave the rest of
// the slice as the image actor drew it.
#include "GLDisplay.h"

#include "isActorManager.h"
#include "isActorROI.h"
#include "isROIManager.h"
#include "support/FakeRenderWindow.h"
#include "support/PhantomVolume.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

using namespace isImageSDK;
using cocos2d::Vec3;

namespace {

class MeasurementsGL : public qvgl::GLDisplayTest {
protected:
    void SetUp() override
    {
        GLDisplayTest::SetUp();
        window = qvtest::FakeRenderWindow::create();
        window->sceneCamera = rig.camera;
        rig.scene->addChild(window);
        manager = isActorManager::create();
        manager->retain();
        manager->setRenderWindow(window);
    }
    void TearDown() override
    {
        manager->release();
        isROIManager::destroyInstance();
        GLDisplayTest::TearDown();
    }
    // The window's nodes are drawn by the scene camera; one announced frame, then one drawn.
    void draw()
    {
        NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_RENDER_WINDOW_UPDATED, nullptr,
                                                                    window, true);
        rig.frame();
        window->setCameraMask(qvtest::kSceneFlag, true);
        rig.frame();
        rig.frame();
    }
    static bool green(const unsigned char* rgb) { return rgb[0] < 40 && rgb[1] > 215 && rgb[2] < 40; }

    qvtest::FakeRenderWindow* window = nullptr;
    isActorManager* manager = nullptr;
};

} // namespace

TEST_F(MeasurementsGL, ShapesLightThePixelsUnderTheirPoints)
{
    qvgen::PhantomSpec spec;
    spec.slices = 8;
    const qvgen::Phantom phantom(spec);
    isImageData* image = qvtest::phantomVolume(phantom, PIXEL_I16);
    ASSERT_NE(image, nullptr);
    isActorImage* actor = manager->getImageActor();
    isActorROI* rois = manager->getROIActor();
    rois->setImageKey("phantom");
    actor->setImageData(image);
    rig.frame();
    const isSliceInfo* slice = actor->getCurrentSlice();
    ASSERT_NE(slice, nullptr);
    viewSlice(*slice);
    draw();
    const std::vector<unsigned char> before = readSlice(128, 128);
    // The slice is on screen: the bone is white, the air outside the body black.
    double boneVoxel[3], bonePatient[3];
    phantom.localToPatient(phantom.shape("bone")->center, bonePatient);
    phantom.patientToVoxel(bonePatient, boneVoxel);
    const unsigned char* bone = &before[(std::lround(boneVoxel[1]) * 128 + std::lround(boneVoxel[0])) * 3];
    EXPECT_GT(bone[0], 200);
    EXPECT_LT(before[0], 20);

    // A line along row 100 from column 20 to column 100, a circle of radius 12 around (64, 40).
    auto world = [&](float column, float row) {
        Vec3 p(column, row, 0);
        slice->matrix.transformPoint(&p);
        return p;
    };
    ROILine* line = ROILine::create();
    line->setPoint(0, world(20, 100));
    line->setPoint(1, world(100, 100));
    rois->adoptROI(isActorROILine::create(), line, -1);
    ROICircle* circle = ROICircle::create();
    circle->setPoint(0, world(64, 40));
    circle->setPoint(1, world(76, 40));
    rois->adoptROI(isActorROICircle::create(), circle, -1);
    draw();
    const std::vector<unsigned char> after = readSlice(128, 128);

    auto at = [&](const std::vector<unsigned char>& picture, int column, int row) {
        return &picture[(static_cast<size_t>(row) * 128 + column) * 3];
    };
    // Every column inside the line's ends: four green rows around row 100, nothing else changed.
    for (int column = 24; column <= 96; ++column) {
        int lit = 0;
        for (int row = 96; row <= 104; ++row)
            lit += green(at(after, column, row));
        EXPECT_EQ(lit, 4) << "column " << column;
        EXPECT_TRUE(green(at(after, column, 99)) || green(at(after, column, 100))) << column;
    }
    EXPECT_FALSE(green(at(after, 12, 100)));
    EXPECT_FALSE(green(at(after, 108, 100)));
    // The circle's rim crosses the axes through its centre 12 pixels away, and not its inside.
    for (auto [dc, dr] : {std::pair{12, 0}, std::pair{-12, 0}, std::pair{0, 12}, std::pair{0, -12}}) {
        bool rim = false;
        for (int k = -2; k <= 2 && !rim; ++k)
            rim = green(at(after, 64 + dc + (dr ? k : 0), 40 + dr + (dc ? k : 0))) ||
                  green(at(after, 64 + dc + (dc ? k : 0), 40 + dr + (dr ? k : 0)));
        EXPECT_TRUE(rim) << dc << "," << dr;
    }
    EXPECT_FALSE(green(at(after, 64, 40)));
    // Away from both shapes the slice is as drawn before.
    int changed = 0;
    for (int row = 0; row < 128; ++row)
        for (int column = 0; column < 128; ++column) {
            const bool nearLine = row >= 96 && row <= 104 && column >= 14 && column <= 106;
            const bool nearCircle = std::hypot(column - 64.0, row - 40.0) > 8 && std::hypot(column - 64.0, row - 40.0) < 16;
            if (!nearLine && !nearCircle)
                changed += std::abs(at(after, column, row)[0] - at(before, column, row)[0]) > 2;
        }
    EXPECT_EQ(changed, 0);
}
