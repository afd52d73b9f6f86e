// Captures of a drawn scene: the files announced by notification 1004 hold what was drawn, and a
// capture that cannot be taken announces nothing and leaves no file.
#include "captureScreenToFile.h"

#include "CaptureWindow.h"
#include "NSFileTestSupport.h"
#include "NSFileUtil.h"
#include "support/CaptureListener.h"
#include "purgeServices.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

class ScreenCaptureGL : public ::testing::Test
{
protected:
    void SetUp() override
    {
        director_ = cocos2d::Director::getInstance();
        director_->setOpenGLView(qvgl::captureWindow());
        director_->setClearColor(cocos2d::Color4F(0, 0, 0, 1));
        scene_ = cocos2d::Scene::create();
        director_->runWithScene(scene_);
        savedWritablePath_ = cocos2d::FileUtils::getInstance()->getWritablePath();
        cocos2d::FileUtils::getInstance()->setWritablePath(dir_.path() + "/");
        listener_.listen();
        frame(0.5f); // the centre's first delay
    }
    void TearDown() override
    {
        listener_.stop();
        purgeServices();
        cocos2d::Director::destroyInstance();
        cocos2d::FileUtils::getInstance()->setWritablePath(savedWritablePath_);
    }
    void frame(float dt = 1.0f / 60) { director_->stepFrame(dt); }

    cocos2d::Director* director_ = nullptr;
    cocos2d::Scene* scene_ = nullptr;
    qvtest::TempDir dir_;
    CaptureListener listener_;

private:
    std::string savedWritablePath_;
};

// RGB of the file's pixel (x, y), rows top-down as stored.
std::vector<int> rgbAt(const cocos2d::Image& image, int x, int y)
{
    const unsigned char* p = image.getData() + (static_cast<size_t>(y) * image.getWidth() + x) * 3;
    return {p[0], p[1], p[2]};
}

bool near(const std::vector<int>& rgb, int r, int g, int b)
{
    const int tolerance = 24; // JPEG at quality 90, away from colour edges
    return std::abs(rgb[0] - r) <= tolerance && std::abs(rgb[1] - g) <= tolerance &&
           std::abs(rgb[2] - b) <= tolerance;
}

TEST_F(ScreenCaptureGL, SavedCapturesHoldTheDrawnSceneAndFailedOnesAnnounceNothing)
{
    // Blue left half; yellow lower right quarter; black elsewhere.
    auto* quads = cocos2d::DrawNode::create();
    quads->drawSolidRect(cocos2d::Vec2(0, 0), cocos2d::Vec2(160, 240), cocos2d::Color4F(0, 0, 1, 1));
    quads->drawSolidRect(cocos2d::Vec2(160, 0), cocos2d::Vec2(320, 120), cocos2d::Color4F(1, 1, 0, 1));
    scene_->addChild(quads);

    ASSERT_TRUE(captureScreenToFile(0, 0, 0, 0));
    ASSERT_TRUE(captureScreenToFile(200, 20, 40, 30));
    ASSERT_TRUE(captureScreenToFile(1000, 1000, 10, 10)); // wholly outside the window: nothing to read
    for (int i = 0; i < 6; ++i)
        frame();

    // Normal posts arrive one per frame, in order; the failed capture adds none.
    ASSERT_EQ(listener_.saved.size(), 2u);
    EXPECT_NE(listener_.saved[0], listener_.saved[1]);
    std::vector<std::string> files;
    listFiles(dir_ / "qv/tmp/capture", files, false, true);
    EXPECT_EQ(files.size(), 2u) << "the failed capture's file must be gone";

    cocos2d::Image whole;
    ASSERT_TRUE(whole.initWithImageFile(listener_.saved[0]));
    EXPECT_EQ(whole.getFileType(), cocos2d::Image::Format::JPG);
    ASSERT_EQ(whole.getWidth(), 320);
    ASSERT_EQ(whole.getHeight(), 240);
    EXPECT_TRUE(near(rgbAt(whole, 80, 120), 0, 0, 255));
    EXPECT_TRUE(near(rgbAt(whole, 240, 60), 0, 0, 0));   // upper right
    EXPECT_TRUE(near(rgbAt(whole, 240, 180), 255, 255, 0)); // lower right

    cocos2d::Image part;
    ASSERT_TRUE(part.initWithImageFile(listener_.saved[1]));
    ASSERT_EQ(part.getWidth(), 40);
    ASSERT_EQ(part.getHeight(), 30);
    EXPECT_TRUE(near(rgbAt(part, 20, 15), 255, 255, 0));
}

} // namespace
