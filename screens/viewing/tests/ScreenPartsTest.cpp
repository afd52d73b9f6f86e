// Parts of the viewer screen that need no drawing: the series argument, the quick tool bar's
// row and link button, and the favourite files written from a slice copy.
#include "support/ViewingFixture.h"

#include "imageViewerPC.h"
#include "isImageTypes.h"
#include "quickTool.h"

#include <dcmtk/dcmdata/dctk.h>

#include <algorithm>
#include <cstring>

USING_NS_CC;
using viewingtest::Recorder;

using ScreenPartsTest = ViewingTest;

TEST_F(ScreenPartsTest, SeriesArgumentListsItsFolders)
{
    imageViewerPC* screen = imageViewerPC::create();
    ASSERT_NE(screen, nullptr);
    screen->retain();
    screen->setSeries("{\"num\":\"2\",\"series1\":\"p/s/a\",\"series2\":\"p/s/b\"}");
    EXPECT_EQ(screen->getSeriesFolders(), (std::vector<std::string>{"p/s/a", "p/s/b"}));
    screen->setSeries("{\"num\":\"0\",\"series1\":\"p/s/a\"}");
    EXPECT_TRUE(screen->getSeriesFolders().empty());
    screen->setSeries("{\"series1\":\"p/s/a\"}");
    EXPECT_TRUE(screen->getSeriesFolders().empty());
    screen->setSeries("p/s/c");
    EXPECT_EQ(screen->getSeriesFolders(), (std::vector<std::string>{"p/s/c"}));
    // The tool column's width comes from the layout's placeholder.
    EXPECT_EQ(screen->getToolWidth(), 300);
    screen->cleanup();
    screen->release();
}

TEST_F(ScreenPartsTest, QuickToolFollowsItsViewerAndTogglesTheLink)
{
    auto* viewer = Node::create();
    viewer->setContentSize(Size(400, 300));
    viewer->setPosition(Vec2(300, 100));
    home->addChild(viewer);
    quickTool* bar = quickTool::create();
    bar->buildButtons();
    home->addChild(bar);
    bar->showForViewer(viewer, true);
    EXPECT_EQ(bar->getPosition(), Vec2(300, 105));
    ASSERT_EQ(bar->getButtons().size(), 5u);
    EXPECT_FLOAT_EQ(bar->getChildByName("max")->getPositionX(), 245);
    EXPECT_FLOAT_EQ(bar->getChildByName("link")->getPositionX(), 365);
    EXPECT_EQ(bar->getChildByName("link")->getUserString(), "1");
    EXPECT_EQ(bar->getViewerId(), viewer->getRefID());

    Recorder* recorder = new Recorder();
    recorder->listen(NOTIFY_WINDOW_LINK, nullptr);
    recorder->listen(NOTIFY_WINDOW_MAXIMIZE, nullptr);
    step();
    clickNode(bar->getChildByName("link"));
    step(2);
    clickNode(bar->getChildByName("link"));
    step(2);
    ASSERT_EQ(recorder->count(NOTIFY_WINDOW_LINK), 2);
    EXPECT_EQ(recorder->items[0].value, 0);
    EXPECT_EQ(recorder->items[1].value, 1);
    clickNode(bar->getChildByName("max"));
    step(2);
    ASSERT_EQ(recorder->count(NOTIFY_WINDOW_MAXIMIZE), 1);
    EXPECT_EQ(recorder->items.back().text, "{\"x\":\"0.000000\",\"y\":\"0.000000\",\"w\":\"0.000000\",\"h\":\"0.000000\"}");
    recorder->release();
}

namespace {

isImageSDK::isSliceInfo* floatSlice(float low, float high)
{
    auto* slice = new isImageSDK::isSliceInfo();
    slice->columns = 4;
    slice->rows = 2;
    slice->pixelType = isImageSDK::PIXEL_FLOAT;
    slice->spacingX = 0.5f;
    slice->spacingY = 0.25f;
    auto* values = new float[8];
    for (int i = 0; i < 8; ++i)
        values[i] = low + (high - low) * float(i) / 7.0f;
    slice->pixels = reinterpret_cast<unsigned char*>(values);
    return slice;
}

double slopeOf(const std::string& path)
{
    DcmFileFormat file;
    if (file.loadFile(path.c_str()).bad())
        return -1;
    Float64 slope = -1;
    OFString text;
    if (file.getDataset()->findAndGetOFString(DCM_RescaleSlope, text).good())
        slope = std::atof(text.c_str());
    return slope;
}

} // namespace

TEST_F(ScreenPartsTest, FavouritesInOneSecondKeepTheirOwnFilesAndFloatsAreScaled)
{
    Recorder* recorder = new Recorder();
    recorder->listen(NOTIFY_FAVORITE_ADD_FILE, nullptr);
    // Values from -2 to 500: scale 32000 / 500 = 64, slope 1 / 64.
    imageViewerPC::saveFavorite(floatSlice(-2, 500), libraryRoot());
    // Values within +-0.01: scale 1.
    imageViewerPC::saveFavorite(floatSlice(-0.005f, 0.005f), libraryRoot());
    step(3);
    ASSERT_EQ(recorder->count(NOTIFY_FAVORITE_ADD_FILE), 2);
    const std::string first = recorder->items[0].text;
    const std::string second = recorder->items[1].text;
    EXPECT_NE(first, second);
    EXPECT_NE(first.find("/qv/dicom/../favorite/"), std::string::npos) << first;
    EXPECT_TRUE(FileUtils::getInstance()->isFileExist(first));
    EXPECT_TRUE(FileUtils::getInstance()->isFileExist(second));
    EXPECT_NEAR(slopeOf(first), 0.015625, 1e-6);
    EXPECT_NEAR(slopeOf(second), 1.0, 1e-6);
    recorder->release();
}
