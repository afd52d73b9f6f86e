// The image actor on a small volume in a headless window: the slice it shows and what it tells
// its window's overlay, window drags, loading progress, statistics answered for the request that
// asked, and the orientation letters and slice-position texts.
#include "isActorImage.h"
#include "isActorManager.h"
#include "isROIData.h"
#include "isROIStatistics.h"
#include "support/DisplayScene.h"
#include "support/FakeRenderWindow.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "NSStringUtil.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace isImageSDK;
using NSUI::NSNotificationCenter;
using NSUI::NSNotificationData;

namespace {

struct Received {
    cocos2d::Ref* sender;
    std::string text;
    float floatValue;
    int intValue;
    int intValue2;
};

class ActorImage : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig.startHeadless();
        for (auto*& window : windows) {
            window = qvtest::FakeRenderWindow::create();
            rig.scene->addChild(window);
        }
        for (unsigned id : {NOTIFY_OVERLAY_SLICE_INDEX, NOTIFY_IMAGE_SLICE_CHANGED, NOTIFY_IMAGE_ORIENT_CHANGED,
                            NOTIFY_OVERLAY_SLICE_POSITION, NOTIFY_OVERLAY_THICKNESS, NOTIFY_OVERLAY_WINDOW,
                            NOTIFY_ROI_CHANGED, NOTIFY_OVERLAY_PROGRESS})
            NSNotificationCenter::getInstance()->addObserver(
                rig.scene, windows[0],
                [this](cocos2d::Ref* sender, unsigned id, NSNotificationData* data) {
                    got[id].push_back(Received{sender, data ? data->text : "", data ? data->floatValue : 0.0f,
                                               data ? data->intValue : 0, data ? data->intValue2 : 0});
                },
                id);
        actor = isActorImage::create();
        ASSERT_NE(actor, nullptr);
        actor->retain();
        actor->attachRenderWindow(windows[0]);
    }
    void TearDown() override
    {
        NSNotificationCenter::getInstance()->removeObserver(rig.scene);
        if (actor)
            actor->release();
        if (image)
            image->release();
        rig.stop();
    }

    // 4 x 4 x 5 unsigned 8-bit volume, head first supine, rows along +x, columns along -z of the
    // world, slices 2.5 mm apart along +y from y = -2.5: an axial stack whose reoriented
    // position is the world y. Sample (i, j) of slice k is 10 k + 4 j + i.
    void makeVolume(int pixelType = PIXEL_U8)
    {
        image = isImageData::create();
        image->retain();
        cocos2d::Mat4 m;
        m.m[0] = 1; m.m[1] = 0; m.m[2] = 0;
        m.m[4] = 0; m.m[5] = 0; m.m[6] = -1;
        m.m[8] = 0; m.m[9] = 1; m.m[10] = 0;
        m.m[12] = 0; m.m[13] = -2.5f; m.m[14] = 0;
        const int dims[3] = {4, 4, 5};
        const float spacing[3] = {1, 1, 2.5f};
        ASSERT_TRUE(image->allocateVolume(dims, spacing, pixelType, 0, 0, m));
        for (int k = 0; k < 5; ++k) {
            isSliceInfo* s = image->getSlices()[k];
            for (int p = 0; p < 16; ++p) {
                if (pixelType == PIXEL_U8)
                    s->pixels[p] = static_cast<unsigned char>(10 * k + p);
                else if (pixelType == PIXEL_FLOAT)
                    reinterpret_cast<float*>(s->pixels)[p] = float(10 * k + p);
            }
            s->pixelsLoaded = 1;
            s->windowWidth = 200;
            s->windowCenter = 60;
        }
    }

    void frames(int n = 3)
    {
        for (int i = 0; i < n; ++i)
            rig.frame();
    }

    void postRequest(cocos2d::Ref* record, int number, int key, void* context)
    {
        NSNotificationData* data = NSNotificationData::create();
        data->setObject(record);
        data->intValue = number;
        data->intValue2 = key;
        NSNotificationCenter::getInstance()->postNotification(rig.scene, NOTIFY_ROI_CHANGED, data, context, false);
    }

    std::vector<Received> answers()
    {
        std::vector<Received> mine;
        for (const Received& r : got[NOTIFY_ROI_CHANGED])
            if (r.sender == actor)
                mine.push_back(r);
        return mine;
    }

    qvtest::DisplayScene rig;
    qvtest::FakeRenderWindow* windows[2] = {};
    isActorImage* actor = nullptr;
    isImageData* image = nullptr;
    std::map<unsigned, std::vector<Received>> got;
};

} // namespace

TEST_F(ActorImage, NewImageShowsItsMiddleSliceAndTellsTheOverlay)
{
    ASSERT_EQ(windows[0]->sceneNodes.size(), 1u);
    EXPECT_EQ(windows[0]->sceneNodes[0], actor->getImageNode());
    makeVolume();
    actor->setImageData(image);
    frames();
    EXPECT_EQ(actor->getSliceIndex(), 2);
    EXPECT_TRUE(actor->isVisible());
    EXPECT_EQ(actor->getClut()->getWidth(), 200.0f);
    EXPECT_EQ(actor->getClut()->getLevel(), 60.0f);
    ASSERT_EQ(got[NOTIFY_OVERLAY_SLICE_INDEX].size(), 1u);
    EXPECT_EQ(got[NOTIFY_OVERLAY_SLICE_INDEX][0].text, "{\"index\":\"3\",\"count\":\"5\"}");
    ASSERT_EQ(got[NOTIFY_IMAGE_SLICE_CHANGED].size(), 1u);
    EXPECT_EQ(got[NOTIFY_IMAGE_SLICE_CHANGED][0].text, "{\"index\":\"3\"}");
    ASSERT_FALSE(got[NOTIFY_IMAGE_ORIENT_CHANGED].empty());
    EXPECT_EQ(got[NOTIFY_IMAGE_ORIENT_CHANGED].back().text, "{\"orient\":\"1\"}");
    ASSERT_FALSE(got[NOTIFY_OVERLAY_SLICE_POSITION].empty());
    EXPECT_EQ(got[NOTIFY_OVERLAY_SLICE_POSITION].back().text, "S:2.5mm");
    ASSERT_FALSE(got[NOTIFY_OVERLAY_THICKNESS].empty());
    EXPECT_FLOAT_EQ(got[NOTIFY_OVERLAY_THICKNESS].back().floatValue, 2.5f);
    // The slice shown is slice 2 of the volume.
    isSliceInfo* current = actor->getCurrentSlice();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->pixels[5], 25);
    EXPECT_FLOAT_EQ(current->matrix.m[13], 2.5f);
    // The actor's own posts (the colour table announces its window itself).
    for (unsigned id : {NOTIFY_OVERLAY_SLICE_INDEX, NOTIFY_IMAGE_SLICE_CHANGED, NOTIFY_IMAGE_ORIENT_CHANGED,
                        NOTIFY_OVERLAY_SLICE_POSITION, NOTIFY_OVERLAY_THICKNESS}) {
        for (const Received& r : got[id]) {
            EXPECT_EQ(r.sender, actor) << id;
        }
    }
}

TEST_F(ActorImage, SliceChangesCoalesceAndOutOfRangeHides)
{
    makeVolume();
    actor->setImageData(image);
    frames();
    got.clear();

    // Two changes within one frame: the overlay gets the last index once, but both positions.
    actor->setSliceIndex(0);
    actor->setSliceIndex(1);
    frames();
    ASSERT_EQ(got[NOTIFY_OVERLAY_SLICE_INDEX].size(), 1u);
    EXPECT_EQ(got[NOTIFY_OVERLAY_SLICE_INDEX][0].text, "{\"index\":\"2\",\"count\":\"5\"}");
    ASSERT_EQ(got[NOTIFY_IMAGE_SLICE_CHANGED].size(), 1u);
    ASSERT_EQ(got[NOTIFY_OVERLAY_SLICE_POSITION].size(), 2u);
    EXPECT_EQ(got[NOTIFY_OVERLAY_SLICE_POSITION][0].text, "I:2.5mm");
    EXPECT_EQ(got[NOTIFY_OVERLAY_SLICE_POSITION][1].text, "I:0.0mm");  // exactly 0 takes the second letter

    got.clear();
    actor->setSliceIndex(5);
    EXPECT_FALSE(actor->isVisible());
    EXPECT_FALSE(actor->getImageNode()->isVisible());
    EXPECT_FALSE(actor->isSliceIndexValid());
    actor->setSliceIndex(4);
    EXPECT_TRUE(actor->isVisible());
    frames();
    ASSERT_EQ(got[NOTIFY_OVERLAY_SLICE_INDEX].size(), 1u);
    EXPECT_EQ(got[NOTIFY_OVERLAY_SLICE_INDEX][0].text, "{\"index\":\"5\",\"count\":\"5\"}");
    EXPECT_EQ(actor->getSliceLabel(), "S:7.5mm");

    // An oblique plane has no slice index: the overlay hides it, slice commands do nothing.
    got.clear();
    cocos2d::Mat4 axes;
    actor->setObliqueAxes(axes);
    EXPECT_FALSE(actor->isPlaneMode());
    actor->setSliceIndex(1);
    EXPECT_EQ(actor->getSliceIndex(), 4);
    frames();
    ASSERT_EQ(got[NOTIFY_OVERLAY_SLICE_INDEX].size(), 1u);
    EXPECT_EQ(got[NOTIFY_OVERLAY_SLICE_INDEX][0].text, "{\"index\":\"-1\",\"count\":\"0\"}");
    // A new image returns to the acquired plane and reads through the plane filter again.
    isImageData* old = image;
    image = nullptr;
    makeVolume();
    actor->setImageData(image);
    old->release();
    EXPECT_TRUE(actor->isPlaneMode());
    ASSERT_NE(actor->getCurrentSlice(), nullptr);
    EXPECT_EQ(actor->getCurrentSlice()->pixels[0], 20);
}

TEST_F(ActorImage, StatisticsAnswerTheRequestOfItsOwnWindowOnce)
{
    makeVolume();
    actor->setImageData(image);
    frames();
    ROIPoint* point = ROIPoint::create();
    point->retain();
    // Pixel (1, 2) of slice 2: origin + 1 row + 2 columns.
    point->point = cocos2d::Vec3(1.0f, 2.5f, -2.0f);
    std::string expected;
    ASSERT_TRUE(computeROIStatisticsText(*actor->getCurrentSlice(), *point, expected));
    EXPECT_EQ(expected.substr(0, expected.find('\n')), "Value:29");

    postRequest(point, 7, 1234, windows[0]);
    postRequest(point, 8, 99, windows[1]);  // another window's measurement
    ROILine* line = ROILine::create();
    postRequest(line, 9, 5, windows[0]);    // lines have no statistics
    postRequest(nullptr, 10, 5, windows[0]);
    frames(6);
    auto mine = answers();
    ASSERT_EQ(mine.size(), 1u);
    EXPECT_EQ(mine[0].text, expected);
    EXPECT_EQ(mine[0].intValue, 7);
    EXPECT_EQ(mine[0].intValue2, 1234);

    // The answer follows the slice shown.
    got.clear();
    actor->setSliceIndex(3);
    postRequest(point, 7, 1234, windows[0]);
    frames(6);
    mine = answers();
    ASSERT_EQ(mine.size(), 1u);
    // Only the in-plane position counts: the same pixel (1, 2), now of slice 3.
    EXPECT_EQ(mine[0].text.substr(0, mine[0].text.find('\n')), "Value:39");
    EXPECT_EQ(mine[0].intValue, 7);
    point->release();
}

TEST_F(ActorImage, WindowDragsAndProgressOfItsOwnSeries)
{
    // Nothing without an image.
    actor->setWindow(10, 20);
    actor->adjustWindow(5, 5);
    EXPECT_EQ(actor->getClut()->getWidth(), 255.0f);

    makeVolume(PIXEL_FLOAT);
    for (isSliceInfo* s : image->getSlices()) {
        s->modality = MODALITY_PT;
        s->windowWidth = 10;
        s->windowCenter = 3;
    }
    image->setFileNames("/a/1.dcm;/a/2.dcm");
    actor->setImageData(image);
    // Float PET with its lower end at or below 1: the drag moves the level only and keeps 0.
    actor->adjustWindow(0.5f, 0.01f);
    EXPECT_FLOAT_EQ(actor->getClut()->getWidth(), 10.0f);
    EXPECT_FLOAT_EQ(actor->getClut()->getLevel(), 5.0f);
    actor->adjustWindow(0.0f, -1.0f);  // level 5 - 200 stops at 2
    EXPECT_FLOAT_EQ(actor->getClut()->getLevel(), 2.0f);
    EXPECT_FLOAT_EQ(actor->getClut()->getWidth(), 4.0f);

    frames();
    got.clear();
    actor->postWindowInfo();
    frames();
    std::vector<Received> windowTexts;
    for (const Received& r : got[NOTIFY_OVERLAY_WINDOW])
        if (r.sender == actor)
            windowTexts.push_back(r);
    ASSERT_EQ(windowTexts.size(), 1u);
    EXPECT_EQ(windowTexts[0].text, "{\"ww\":\"4.0\",\"wl\":\"2.0\"}");

    auto progress = [&](const std::string& key, float fraction) {
        NSNotificationData* data = NSNotificationData::create();
        data->floatValue = fraction;
        data->intValue2 = static_cast<int>(foldedHash32(key));
        NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_LOAD_PROGRESS, data, nullptr, true);
        frames();
    };
    got.clear();
    progress("/b/other.dcm", 0.25f);
    EXPECT_TRUE(got[NOTIFY_OVERLAY_PROGRESS].empty());
    progress("/a/1.dcm;/a/2.dcm", 0.5f);
    ASSERT_EQ(got[NOTIFY_OVERLAY_PROGRESS].size(), 1u);
    EXPECT_FLOAT_EQ(got[NOTIFY_OVERLAY_PROGRESS][0].floatValue, 0.5f);
}

TEST(OrientationLabels, EdgeLettersAndPositionAxes)
{
    char labels[4][3];
    const float row[3] = {0.7071068f, 0.7071068f, 0.0f};
    const float down[3] = {0.0f, 0.0f, -1.0f};
    getOrientationLabels(row, down, labels, 0, 0);
    EXPECT_STREQ(labels[0], "A");
    EXPECT_STREQ(labels[1], "LS");
    EXPECT_STREQ(labels[2], "P");
    EXPECT_STREQ(labels[3], "RI");
    const float across[3] = {1.0f, 0.0f, 0.0f};
    getOrientationLabels(row, across, labels, 0, 0);
    EXPECT_STREQ(labels[0], "R");
    EXPECT_STREQ(labels[2], "L");
    EXPECT_STREQ(labels[1], "SL");  // the tie rule keeps the right label from repeating the bottom
    EXPECT_STREQ(labels[3], "IR");
    // An unrecognised position reads as head first supine for letters and positions alike.
    getOrientationLabels(row, down, labels, 2, 3);
    EXPECT_STREQ(labels[0], "A");
    isSliceInfo record;
    record.headFeet = 2;
    record.posture = 1;
    float v[3] = {4.0f, 5.0f, 6.0f};
    reorientForPatientPosition(&record, v);
    EXPECT_EQ(v[0], 4.0f);
    EXPECT_EQ(v[1], -6.0f);
    EXPECT_EQ(v[2], 5.0f);
    record.headFeet = 1;
    record.posture = 0;
    float w[3] = {4.0f, 5.0f, 6.0f};
    reorientForPatientPosition(&record, w);
    EXPECT_EQ(w[0], -4.0f);
    EXPECT_EQ(w[2], -5.0f);
}

// A slice record whose window has no width (an older series cache keeps one as the file said)
// starts, like a file without a window, from the value range of the slice shown, and the corner
// text tells that window rather than "0".
TEST_F(ActorImage, AWindowWithoutWidthStartsFromTheSliceRange)
{
    makeVolume(PIXEL_FLOAT);
    for (isSliceInfo* s : image->getSlices()) {
        s->windowWidth = 0;
        s->windowCenter = 0;
        s->windowPresent = 1;
    }
    // Drawn by the scene camera: the window is taken when the node paints.
    actor->getImageNode()->setCameraMask(qvtest::kSceneFlag, true);
    actor->setImageData(image);
    frames();
    // Slice 2 holds 20 to 35.
    EXPECT_FLOAT_EQ(actor->getClut()->getWidth(), 15.0f);
    EXPECT_FLOAT_EQ(actor->getClut()->getLevel(), 27.5f);
    std::vector<std::string> windowTexts;
    for (const Received& r : got[NOTIFY_OVERLAY_WINDOW])
        windowTexts.push_back(r.text);
    ASSERT_FALSE(windowTexts.empty());
    EXPECT_EQ(windowTexts.back(), "{\"ww\":\"15.0\",\"wl\":\"27.5\"}");
    // "Default window" returns to it after a drag.
    actor->adjustWindow(0.5f, 0.0f);
    EXPECT_NE(actor->getClut()->getWidth(), 15.0f);
    actor->setDefaultWindow();
    frames();
    EXPECT_FLOAT_EQ(actor->getClut()->getWidth(), 15.0f);
}

// A record of several frames without a window (a renal dynamic whose first frame holds a few
// counts, an enhanced MR whose first frame is empty) starts from the range of all its frames,
// not of its first one, whose range would saturate every later frame. A colour record, which no
// window applies to, shows no window in the corner.
TEST_F(ActorImage, MultiFrameRecordsStartFromTheRangeOfAllTheirFrames)
{
    actor->getImageNode()->setCameraMask(qvtest::kSceneFlag, true);
    struct Case {
        int pixelType;
        int firstFrameMax;  // frame 0 runs from 0 to this
        float width, level;
    };
    // Frame f of 30 runs from 0 to firstFrameMax + 40 f: frame 29 reaches firstFrameMax + 1160.
    for (const Case& c : {Case{PIXEL_U16, 20, 1180.0f, 590.0f}, Case{PIXEL_I16, 0, 1160.0f, 580.0f}}) {
        SCOPED_TRACE(c.pixelType);
        isImageData* loop = isImageData::create();
        const int size[2] = {8, 8};
        const float spacing[2] = {1, 1};
        isSliceInfo* record = loop->addSlice(size, 30, spacing, c.pixelType, 0, 0, cocos2d::Mat4::IDENTITY);
        ASSERT_NE(record, nullptr);
        record->windowPresent = 0;
        record->modality = MODALITY_NM;
        for (int f = 0; f < 30; ++f)
            for (int p = 0; p < 64; ++p) {
                const int v = c.firstFrameMax * p / 63 + (p == 63 ? 40 * f : 0);
                if (c.pixelType == PIXEL_U16)
                    reinterpret_cast<uint16_t*>(record->pixels)[64 * f + p] = static_cast<uint16_t>(v);
                else
                    reinterpret_cast<int16_t*>(record->pixels)[64 * f + p] = static_cast<int16_t>(v);
            }
        record->pixelsLoaded = 1;
        actor->setImageData(loop);
        frames();
        EXPECT_FLOAT_EQ(actor->getClut()->getWidth(), c.width);
        EXPECT_FLOAT_EQ(actor->getClut()->getLevel(), c.level);
        actor->adjustWindow(3.0f, 1.0f);
        actor->setDefaultWindow();
        EXPECT_FLOAT_EQ(actor->getClut()->getWidth(), c.width);
    }

    isImageData* colour = isImageData::create();
    const int size[2] = {4, 4};
    const float spacing[2] = {1, 1};
    isSliceInfo* record = colour->addSlice(size, 2, spacing, PIXEL_RGB, 0, 0, cocos2d::Mat4::IDENTITY);
    ASSERT_NE(record, nullptr);
    record->pixelsLoaded = 1;
    actor->setImageData(colour);
    frames();
    got.clear();
    actor->postWindowInfo();
    actor->setWindow(400, 40);
    frames();
    ASSERT_FALSE(got[NOTIFY_OVERLAY_WINDOW].empty());
    for (const Received& r : got[NOTIFY_OVERLAY_WINDOW])
        EXPECT_EQ(r.text, "{\"ww\":\"\",\"wl\":\"\"}");
}
