// Measurements drawn over a real slice of the phantom, read back from the framebuffer: a line,
// a circle and a point's cross light exactly the slice pixels under their world points, and
// leave the rest of the slice as the image actor drew it.
#include "GLDisplay.h"

#include "isActorManager.h"
#include "isActorROI.h"
#include "isNodeImageByShader.h"
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
        makeWindow();
    }
    void TearDown() override
    {
        dropWindow();
        isNodeImageByShader::shaderEnabled = 1;
        GLDisplayTest::TearDown();
    }
    // A window with a fresh manager: its image actor takes the image path chosen at its making.
    void makeWindow()
    {
        window = qvtest::FakeRenderWindow::create();
        window->sceneCamera = rig.camera;
        rig.scene->addChild(window);
        manager = isActorManager::create();
        manager->retain();
        manager->setRenderWindow(window);
    }
    void dropWindow()
    {
        manager->release();
        manager = nullptr;
        window->removeFromParent();
        isROIManager::destroyInstance();
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
    // The picture is a render callback on the shader path and a batch of triangles on the CPU
    // path (a machine too slow for the shader falls back to it); the shapes drawn right after
    // it show on both.
    for (int shader : {1, 0}) {
        SCOPED_TRACE(shader ? "shader path" : "CPU path");
        if (!shader) {
            dropWindow();
            isNodeImageByShader::shaderEnabled = 0;
            makeWindow();
        }
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
        const unsigned char* bone =
            &before[(std::lround(boneVoxel[1]) * 128 + std::lround(boneVoxel[0])) * 3];
        EXPECT_GT(bone[0], 200);
        EXPECT_LT(before[0], 20);

        // A point at (110, 60), a line along row 100 from column 20 to column 100, a circle of
        // radius 12 around (64, 40).
        auto world = [&](float column, float row) {
            Vec3 p(column, row, 0);
            slice->matrix.transformPoint(&p);
            return p;
        };
        // The point first: its shape is the first drawn after the picture.
        ROIPoint* point = ROIPoint::create();
        point->setPoint(0, world(110, 60));
        rois->adoptROI(isActorROIPoint::create(), point, -1);
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
        // The point's cross: four arms from 5 to 15 window pixels (here slice pixels) off its centre.
        for (auto [dc, dr] : {std::pair{1, 0}, std::pair{-1, 0}, std::pair{0, 1}, std::pair{0, -1}})
            for (int k = 6; k <= 14; k += 4)
                EXPECT_TRUE(green(at(after, 110 + dc * k, 60 + dr * k)) ||
                            green(at(after, 110 + dc * k - dr, 60 + dr * k - dc)))
                    << "arm " << dc << "," << dr << " at " << k;
        EXPECT_FALSE(green(at(after, 110, 60)));
        // Away from the shapes the slice is as drawn before.
        int changed = 0;
        for (int row = 0; row < 128; ++row)
            for (int column = 0; column < 128; ++column) {
                const bool nearLine = row >= 96 && row <= 104 && column >= 14 && column <= 106;
                const double fromCentre = std::hypot(column - 64.0, row - 40.0);
                const bool nearCircle = fromCentre > 8 && fromCentre < 16;
                const bool nearPoint = std::abs(column - 110) <= 16 && std::abs(row - 60) <= 16 &&
                                       (std::abs(column - 110) <= 2 || std::abs(row - 60) <= 2);
                if (!nearLine && !nearCircle && !nearPoint)
                    changed += std::abs(at(after, column, row)[0] - at(before, column, row)[0]) > 2;
            }
        EXPECT_EQ(changed, 0);
    }
}
