// The draw node's lines and points on screen: width, stipple, point size, and the GL state it
// leaves behind.
#include "GLDisplay.h"

#include "isDrawNode.h"

#include <gtest/gtest.h>

using namespace isImageSDK;
using cocos2d::Vec3;

namespace {

class DrawNodeGL : public qvgl::GLDisplayTest {
protected:
    void SetUp() override
    {
        GLDisplayTest::SetUp();
        rig.lookAt(0, 0);  // world (0, 0) at the window's centre, world y down
        solid = isDrawNode::create();
        dashed = isDrawNode::create();
        dashed->setStipple(true);
        rig.add(solid);
        rig.add(dashed);
    }
    // Red of the window pixel at (x, y), origin bottom-left.
    static int red(int x, int y)
    {
        unsigned char rgba[4];
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        return rgba[0];
    }

    isDrawNode* solid = nullptr;
    isDrawNode* dashed = nullptr;
};

} // namespace

TEST_F(DrawNodeGL, LinesHaveTheirWidthAndOnlyStippledLinesAreDashed)
{
    // Window centre (200, 150). A solid line 40 units above the centre (world y = -40), a
    // dashed one 40 below.
    solid->drawLine(Vec3(-100, -40.5f, 0), Vec3(100, -40.5f, 0), cocos2d::Color4F::RED);
    dashed->drawLine(Vec3(-100, 40.5f, 0), Vec3(100, 40.5f, 0), cocos2d::Color4F::RED);
    rig.frame();

    int solidOn = 0, dashedOn = 0, runs = 0;
    bool previous = false;
    for (int x = 110; x < 290; ++x) {
        solidOn += red(x, 190) > 128;
        const bool on = red(x, 110) > 128;
        dashedOn += on;
        runs += on && !previous;
        previous = on;
    }
    EXPECT_EQ(solidOn, 180);
    // Pattern 0x5555 with factor 2: two pixels on, two off.
    EXPECT_NEAR(dashedOn, 90, 2);
    EXPECT_NEAR(runs, 45, 2);

    // Width 4: four rows lit across the solid line.
    int rows = 0;
    for (int y = 180; y < 200; ++y)
        rows += red(200, y) > 128;
    EXPECT_EQ(rows, 4);

    // Stipple is off again for whatever draws next.
    EXPECT_FALSE(glIsEnabled(GL_LINE_STIPPLE));
}

TEST_F(DrawNodeGL, PointsHaveTheirSize)
{
    solid->drawPoint(Vec3(0.5f, 0.5f, 0), 9.0f, cocos2d::Color4F::RED);
    rig.frame();
    int lit = 0;
    for (int y = 140; y < 160; ++y)
        for (int x = 190; x < 210; ++x)
            lit += red(x, y) > 128;
    EXPECT_EQ(lit, 81);
}
