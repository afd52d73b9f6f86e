// Two render windows side by side on one screen: each draws its own scene, and only inside its
// own rectangle; the screen's clear colour shows around them.
#include "GLViewers.h"

#include "support/TestWindow.h"

#include "isNodeSprite.h"

using cocos2d::Size;
using cocos2d::Vec2;
using qvtest::TestWindow;

namespace {

using Pixel = std::array<unsigned char, 3>;
const Pixel kRed{255, 0, 0};
const Pixel kWhite{255, 255, 255};
const Pixel kBlack{0, 0, 0};
const Pixel kGreen{0, 255, 0};

class RenderWindowsGL : public qvgl::GLViewersTest {};

TEST_F(RenderWindowsGL, EachWindowDrawsOnlyItsSceneInItsRectangle)
{
    rig.director->setClearColor(cocos2d::Color4F(1, 0, 0, 1));
    TestWindow* a = TestWindow::create(Size(240, 200), Vec2(40, 40), false);
    TestWindow* b = TestWindow::create(Size(240, 200), Vec2(320, 40), false);
    rig.scene->addChild(a);
    rig.scene->addChild(b);
    a->setBackgroundWhite(true);
    // A green sheet in b's world, far larger than either window: only b may show it, and only
    // inside its rectangle.
    isImageSDK::isNodeSprite* sheet = isImageSDK::isNodeSprite::create();
    sheet->setTexture(isImageSDK::isRenderWindowBase::kWhiteTile);
    sheet->setColor(cocos2d::Color3B::GREEN);
    cocos2d::Mat4 place;
    place.m[12] = -2000.0f;
    place.m[13] = -2000.0f;
    sheet->setNodeMatrix(place);
    sheet->setScale(200.0f);
    b->addSceneNode(sheet);
    rig.frame(2);

    EXPECT_EQ(qvgl::readPixel(160, 140), kWhite);
    EXPECT_EQ(qvgl::readPixel(42, 42), kWhite);
    EXPECT_EQ(qvgl::readPixel(277, 237), kWhite);
    EXPECT_EQ(qvgl::readPixel(440, 140), kGreen);
    EXPECT_EQ(qvgl::readPixel(322, 42), kGreen);
    EXPECT_EQ(qvgl::readPixel(557, 237), kGreen);
    // Around and between the windows: the clear colour.
    EXPECT_EQ(qvgl::readPixel(300, 140), kRed);
    EXPECT_EQ(qvgl::readPixel(160, 300), kRed);
    EXPECT_EQ(qvgl::readPixel(440, 20), kRed);
    EXPECT_EQ(qvgl::readPixel(620, 140), kRed);

    // A hidden window covers its scene with its tile.
    b->setVisible(false);
    rig.frame();
    EXPECT_EQ(qvgl::readPixel(440, 140), kBlack);
    b->setVisible(true);
    rig.frame();
    EXPECT_EQ(qvgl::readPixel(440, 140), kGreen);

    // Moved, the window draws at its new place.
    b->setPosition(Vec2(320, 260));
    rig.frame();
    EXPECT_EQ(qvgl::readPixel(440, 360), kGreen);
    EXPECT_EQ(qvgl::readPixel(440, 140), kRed);
}

} // namespace
