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
    // 30 x 30: a 10-texel red border around a green centre.
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
    ASSERT_TRUE(texture->initWithData(rgba.data(), ssize_t(rgba.size()), Texture2D::PixelFormat::RGBA8888, 30, 30,
                                      Size(30, 30)));
    texture->setAliasTexParameters();

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
