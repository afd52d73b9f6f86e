// Nine-slice images: the pieces for insets inside, on and beyond the image, shrinking borders,
// and the node's handling of missing images and frame switches.
#include <gtest/gtest.h>

#include <vector>

#include "cocos2d.h"
#include "support/WidgetTest.h"
#include "ui/CocosGUI.h"

USING_NS_CC;
using Slice = ui::Scale9Sprite::Slice;

namespace {

void expectSlice(const Slice& s, const Rect& source, const Rect& target)
{
    EXPECT_TRUE(s.source.equals(source)) << s.source.origin.x << "," << s.source.origin.y << " " << s.source.size.width
                                         << "x" << s.source.size.height;
    EXPECT_TRUE(s.target.equals(target)) << s.target.origin.x << "," << s.target.origin.y << " " << s.target.size.width
                                         << "x" << s.target.size.height;
}

class Scale9SpriteTest : public qvtest::WidgetTest {};

} // namespace

TEST(Scale9Slices, CornersKeepTheirSizeAndTheCentreStretches)
{
    // The text-field background: a 50 x 50 image with the centre (20, 20, 10, 10).
    const auto slices = ui::Scale9Sprite::computeSlices(Rect(0, 0, 50, 50), Rect(20, 20, 10, 10), Size(200, 60), true);
    ASSERT_EQ(slices.size(), 9u);
    expectSlice(slices[0], Rect(0, 0, 20, 20), Rect(0, 40, 20, 20));      // image top-left = node top-left
    expectSlice(slices[4], Rect(20, 20, 10, 10), Rect(20, 20, 160, 20));  // centre
    expectSlice(slices[8], Rect(30, 30, 20, 20), Rect(180, 0, 20, 20));   // bottom-right

    // Without insets the middle third stretches; an image rectangle offsets every source.
    const auto third = ui::Scale9Sprite::computeSlices(Rect(10, 5, 60, 30), Rect::ZERO, Size(60, 30), true);
    ASSERT_EQ(third.size(), 9u);
    expectSlice(third[4], Rect(30, 15, 20, 10), Rect(20, 10, 20, 10));

    // Nine-slice off: one piece, the whole image stretched.
    const auto whole = ui::Scale9Sprite::computeSlices(Rect(0, 0, 50, 50), Rect(20, 20, 10, 10), Size(200, 60), false);
    ASSERT_EQ(whole.size(), 1u);
    expectSlice(whole[0], Rect(0, 0, 50, 50), Rect(0, 0, 200, 60));
}

TEST(Scale9Slices, InsetsBeyondTheImageAreClampedAndNarrowTargetsShrinkTheBorders)
{
    const Rect image(0, 0, 50, 50);
    EXPECT_TRUE(ui::Scale9Sprite::restrictCapInsets(Rect(40, -5, 30, 80), image.size).equals(Rect(40, 0, 10, 50)));
    for (const Rect& insets : {Rect(40, 40, 30, 30), Rect(60, 60, 5, 5), Rect(-10, -10, 200, 200)}) {
        for (const Slice& s : ui::Scale9Sprite::computeSlices(image, insets, Size(100, 100), true)) {
            EXPECT_GE(s.source.getMinX(), 0.0f);
            EXPECT_GE(s.source.getMinY(), 0.0f);
            EXPECT_LE(s.source.getMaxX(), 50.0f);
            EXPECT_LE(s.source.getMaxY(), 50.0f);
            EXPECT_GT(s.source.size.width, 0.0f);
            EXPECT_GE(s.target.getMinX(), 0.0f);
            EXPECT_LE(s.target.getMaxX(), 100.0f);
        }
    }

    // 30 wide against 40 of fixed borders: both borders shrink to 15, the centre vanishes.
    const auto narrow = ui::Scale9Sprite::computeSlices(image, Rect(20, 20, 10, 10), Size(30, 60), true);
    ASSERT_EQ(narrow.size(), 6u);
    expectSlice(narrow[0], Rect(0, 0, 20, 20), Rect(0, 40, 15, 20));
    expectSlice(narrow[1], Rect(30, 0, 20, 20), Rect(15, 40, 15, 20));

    EXPECT_TRUE(ui::Scale9Sprite::computeSlices(image, Rect::ZERO, Size(0, 10), true).empty());
    EXPECT_TRUE(ui::Scale9Sprite::computeSlices(Rect::ZERO, Rect::ZERO, Size(10, 10), true).empty());
}

TEST_F(Scale9SpriteTest, PiecesFollowTheContentSizeAndMissingImagesLeaveAnEmptyNode)
{
    qvtest::LogCapture log;
    auto* missing = ui::Scale9Sprite::create(Rect(20, 20, 10, 10), "editnormal.png");
    ASSERT_NE(missing, nullptr) << "a missing background must not crash its caller";
    EXPECT_EQ(missing->getTexture(), nullptr);
    EXPECT_EQ(missing->getContentSize(), Size::ZERO);
    EXPECT_EQ(log.count("Scale9Sprite: cannot load image editnormal.png"), 1u);
    missing->updateSlices();
    EXPECT_TRUE(missing->getProtectedChildren().empty());

    auto* sprite = ui::Scale9Sprite::create(Rect(20, 20, 10, 10), image("edit.png", 50, 50));
    ASSERT_NE(sprite->getTexture(), nullptr);
    EXPECT_EQ(sprite->getContentSize(), Size(50, 50));
    sprite->setPreferredSize(Size(200, 60));
    sprite->updateSlices();
    ASSERT_EQ(sprite->getProtectedChildren().size(), 9u);
    auto* centre = dynamic_cast<Sprite*>(sprite->getProtectedChildren().at(4));
    ASSERT_NE(centre, nullptr);
    EXPECT_EQ(centre->getPosition(), Vec2(20, 20));
    EXPECT_FLOAT_EQ(centre->getScaleX(), 16.0f);
    EXPECT_FLOAT_EQ(centre->getScaleY(), 2.0f);

    // Switching the image keeps the size and takes the new insets.
    auto* frame = SpriteFrame::create(image("focus.png", 60, 60), Rect(0, 0, 60, 60));
    sprite->setSpriteFrame(frame, Rect(25, 25, 10, 10));
    EXPECT_EQ(sprite->getContentSize(), Size(200, 60));
    EXPECT_TRUE(sprite->getCapInsets().equals(Rect(25, 25, 10, 10)));
    sprite->setScale9Enabled(false);
    sprite->updateSlices();
    EXPECT_EQ(sprite->getProtectedChildren().size(), 1u);
}
