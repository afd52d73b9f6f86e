// Widgets drawn under a real GL context: layout backgrounds, nested clipping layouts and
// nine-slice images, read back pixel by pixel.
#include <gtest/gtest.h>

#include <vector>

#include "GLTestSupport.h"
#include "ui/CocosGUI.h"

USING_NS_CC;
using qvgl::pixelAt;

namespace {

class GLWidgetTest : public qvgl::GLTest {};

ui::Layout* solid(const Rect& rect, const Color3B& color, float opacity, bool clipping)
{
    auto* layout = ui::Layout::create();
    layout->setPosition(rect.origin);
    layout->setContentSize(rect.size);
    layout->enableBKColor(true, color, opacity);
    layout->setClippingEnabled(clipping);
    return layout;
}

// 30 x 30: a 10-texel red border around a green centre.
Texture2D* borderedTexture()
{
    std::vector<unsigned char> rgba(30 * 30 * 4);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 30; ++x) {
            const bool border = x < 10 || x >= 20 || y < 10 || y >= 20;
            unsigned char* p = &rgba[(size_t(y) * 30 + x) * 4];
            p[0] = border ? 255 : 0;
            p[1] = border ? 0 : 255;
            p[2] = 0;
            p[3] = 255;
        }
    }
    auto* texture = new Texture2D();
    texture->autorelease();
    if (!texture->initWithData(rgba.data(), ssize_t(rgba.size()), Texture2D::PixelFormat::RGBA8888, 30, 30,
                               Size(30, 30)))
        return nullptr;
    texture->setAliasTexParameters();
    return texture;
}

} // namespace

TEST_F(GLWidgetTest, BackgroundsFillTheirLayoutsAndNestedClippingIntersects)
{
    // The test window is 320 x 240.
    auto* outer = solid(Rect(20, 20, 120, 60), Color3B::RED, 1.0f, true);
    // In the outer layout's space (world 110, 50); reaches past its right and top edges.
    auto* inner = solid(Rect(90, 30, 120, 60), Color3B::GREEN, 1.0f, true);
    outer->addChild(inner);
    scene->addChild(outer);
    scene->addChild(solid(Rect(200, 150, 40, 40), Color3B::WHITE, 0.5f, false));
    frame();

    EXPECT_TRUE(pixelAt(40, 40).near(255, 0, 0)) << pixelAt(40, 40);
    EXPECT_TRUE(pixelAt(120, 60).near(0, 255, 0)) << pixelAt(120, 60);
    EXPECT_TRUE(pixelAt(150, 60).near(0, 0, 0)) << "clipped by the outer layout: " << pixelAt(150, 60);
    EXPECT_TRUE(pixelAt(120, 90).near(0, 0, 0)) << "clipped by the outer layout: " << pixelAt(120, 90);
    EXPECT_TRUE(pixelAt(5, 5).near(0, 0, 0)) << pixelAt(5, 5);
    EXPECT_TRUE(pixelAt(220, 170).near(128, 128, 128, 4)) << "half-opaque white: " << pixelAt(220, 170);
}

TEST_F(GLWidgetTest, NineSliceImagesKeepTheirBorders)
{
    Texture2D* texture = borderedTexture();
    ASSERT_NE(texture, nullptr);

    auto* sliced = ui::Scale9Sprite::create();
    sliced->setTexture(texture);
    sliced->setCapInsets(Rect(10, 10, 10, 10));
    sliced->setContentSize(Size(120, 120));
    sliced->setAnchorPoint(Vec2::ZERO);
    sliced->setPosition(Vec2(10, 100));
    scene->addChild(sliced);

    auto* stretched = ui::Scale9Sprite::create();
    stretched->setTexture(texture);
    stretched->setScale9Enabled(false);
    stretched->setContentSize(Size(120, 120));
    stretched->setAnchorPoint(Vec2::ZERO);
    stretched->setPosition(Vec2(160, 100));
    scene->addChild(stretched);
    frame();

    EXPECT_TRUE(pixelAt(15, 160).near(255, 0, 0)) << pixelAt(15, 160);
    EXPECT_TRUE(pixelAt(25, 160).near(0, 255, 0)) << "the border stays 10 wide: " << pixelAt(25, 160);
    EXPECT_TRUE(pixelAt(70, 160).near(0, 255, 0)) << pixelAt(70, 160);
    EXPECT_TRUE(pixelAt(125, 160).near(255, 0, 0)) << pixelAt(125, 160);
    EXPECT_TRUE(pixelAt(70, 215).near(255, 0, 0)) << pixelAt(70, 215);
    // Stretched whole, the border grows to 40.
    EXPECT_TRUE(pixelAt(195, 160).near(255, 0, 0)) << pixelAt(195, 160);
}

TEST_F(GLWidgetTest, ARaisedLayerDrawsItsImagesAndLaterChildrenAboveTheRest)
{
    // A modal layer raised before its first frame: a nine-piece image (whose pieces are made at
    // its first visit) and a sprite added afterwards must still draw above a full-window layer
    // that comes later in the tree at the normal global z-order.
    Texture2D* texture = borderedTexture();
    ASSERT_NE(texture, nullptr);
    auto* modal = Node::create();
    auto* sliced = ui::Scale9Sprite::create();
    sliced->setTexture(texture);
    sliced->setCapInsets(Rect(10, 10, 10, 10));
    sliced->setContentSize(Size(100, 60));
    sliced->setAnchorPoint(Vec2::ZERO);
    sliced->setPosition(Vec2(20, 20));
    modal->addChild(sliced);
    scene->addChild(modal);
    modal->updateChildrenToHighZOrder();
    auto* later = Sprite::createWithTexture(texture);
    later->setAnchorPoint(Vec2::ZERO);
    later->setPosition(Vec2(200, 150));
    modal->addChild(later);
    scene->addChild(solid(Rect(0, 0, win.width, win.height), Color3B::BLUE, 1.0f, false));
    frame();

    EXPECT_TRUE(pixelAt(70, 50).near(0, 255, 0)) << "the image's centre piece: " << pixelAt(70, 50);
    EXPECT_TRUE(pixelAt(25, 25).near(255, 0, 0)) << "its corner piece: " << pixelAt(25, 25);
    EXPECT_TRUE(pixelAt(215, 165).near(0, 255, 0)) << "the sprite added after the raise: " << pixelAt(215, 165);
    EXPECT_TRUE(pixelAt(160, 120).near(0, 0, 255)) << "the layer elsewhere: " << pixelAt(160, 120);
}
