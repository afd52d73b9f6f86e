// The CPU image node on a headless director (textures keep their pixels): the picture and
// its placement, the source filter and stale records, frames of multi-frame records and
// their playback through the frame buttons' notifications; the shader node's fallbacks
// where no program can be built.
#include "NSNotificationCenter.h"
#include "NSNotificationData.h"
#include "NSNotificationNumbers.h"
#include "isClut.h"
#include "isFramePainter.h"
#include "isImageData.h"
#include "isImageSlice.h"
#include "isNodeImage.h"
#include "isNodeImageByShader.h"
#include "support/DisplayScene.h"
#include "support/SliceRecords.h"

#include <gtest/gtest.h>

#include <list>
#include <map>
#include <vector>

using namespace isImageSDK;
using qvtest::OwnedRecord;

namespace {

// Stands for a render window: only its address is used, as the notification context.
int g_window;

struct Listener : cocos2d::Ref {
    std::map<unsigned int, std::vector<int>> values;  // number -> intValues in arrival order
    void listen(std::initializer_list<unsigned int> ids, void* context)
    {
        for (unsigned int id : ids)
            NSUI::NSNotificationCenter::getInstance()->addObserver(
                this, context,
                [this](cocos2d::Ref*, unsigned int number, NSUI::NSNotificationData* data) {
                    values[number].push_back(data ? data->intValue : -1);
                },
                id);
    }
};

class NodeImage : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig.startHeadless();
    }
    void TearDown() override
    {
        NSUI::NSNotificationCenter::getInstance()->removeObserver(&listener);
        rig.stop();
    }

    // A CPU node with a grey table, in the scene, following the test window.
    isNodeImage* makeNode()
    {
        isNodeImage* node = isNodeImage::create();
        clut = isClut::create();
        node->setClut(clut);
        node->setRenderWindow(&g_window);
        rig.add(node);
        return node;
    }
    static const std::vector<unsigned char>& shown(isNodeImage* node)
    {
        return node->getTexture()->getPixelDataForTest();
    }
    void post(unsigned int id)
    {
        NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, id, nullptr, &g_window, true);
        rig.frame();
    }

    // A record that lives as long as the fixture (nodes keep record pointers until they are
    // cleaned up in TearDown).
    OwnedRecord& keep(OwnedRecord record)
    {
        records.push_back(std::move(record));
        return records.back();
    }

    qvtest::DisplayScene rig;
    Listener listener;
    isClut* clut = nullptr;
    std::list<OwnedRecord> records;
};

// A record of `frames` frames of 3 x 2 8-bit pixels, frame f filled with 10 * (f + 1).
OwnedRecord framesRecord(int frames)
{
    OwnedRecord record(3, 2, PIXEL_U8, frames);
    for (int f = 0; f < frames; ++f)
        std::fill_n(record.samples<uint8_t>(f), 6, static_cast<uint8_t>(10 * (f + 1)));
    return record;
}

} // namespace

TEST_F(NodeImage, ShowsThePaintedFrameWhereTheMatrixPlacesIt)
{
    isNodeImage* node = makeNode();
    EXPECT_FALSE(node->hasCameraFlag(1));
    EXPECT_TRUE(node->isDepthTestEnabled());
    EXPECT_TRUE(node->isFlippedY());

    OwnedRecord& record = keep(OwnedRecord(5, 3, PIXEL_I16));
    for (int i = 0; i < 15; ++i)
        record.samples<int16_t>()[i] = static_cast<int16_t>(-200 + 40 * i);
    record.info.spacingX = 0.5f;
    record.info.spacingY = 0.75f;
    // Rows run along -z and columns along +x, first pixel at (10, 20, 30): a coronal slice.
    const float c0[3] = {1, 0, 0}, c1[3] = {0, 0, -1}, c2[3] = {0, 1, 0}, c3[3] = {10, 20, 30};
    for (int r = 0; r < 3; ++r) {
        record.info.matrix.m[r] = c0[r];
        record.info.matrix.m[4 + r] = c1[r];
        record.info.matrix.m[8 + r] = c2[r];
        record.info.matrix.m[12 + r] = c3[r];
    }
    clut->setWindowInt(400, 40);
    node->setImage(&record.info);

    isFramePainter reference;
    const unsigned char* rgb = reference.paintRGB(&record.info, 0, clut);
    ASSERT_NE(rgb, nullptr);
    ASSERT_EQ(shown(node).size(), 5u * 3 * 3);
    EXPECT_TRUE(std::equal(shown(node).begin(), shown(node).end(), rgb));
    EXPECT_EQ(node->getTextureRect().size.width, 5);
    EXPECT_EQ(node->getTextureRect().size.height, 3);

    // The centre of texel (column, row), node point (column + 0.5, row + 0.5), lands where the
    // matrix puts pixel (column, row): matrix x (column x spacingX, row x spacingY).
    const cocos2d::Mat4& transform = node->getNodeToParentTransform();
    for (const auto& point : {cocos2d::Vec2(0, 0), cocos2d::Vec2(4, 0), cocos2d::Vec2(2, 1), cocos2d::Vec2(4, 2)}) {
        cocos2d::Vec3 placed(point.x + 0.5f, point.y + 0.5f, 0);
        transform.transformPoint(&placed);
        cocos2d::Vec3 expected(point.x * 0.5f, point.y * 0.75f, 0);
        record.info.matrix.transformPoint(&expected);
        EXPECT_NEAR(placed.x, expected.x, 1e-4) << point.x << "," << point.y;
        EXPECT_NEAR(placed.y, expected.y, 1e-4) << point.x << "," << point.y;
        EXPECT_NEAR(placed.z, expected.z, 1e-4) << point.x << "," << point.y;
    }

    // A window change shows at the next visit, not before.
    clut->setWindowInt(100, 0);
    node->markTextureDirty();
    EXPECT_TRUE(std::equal(shown(node).begin(), shown(node).end(), rgb));
    rig.frame();
    rgb = reference.paintRGB(&record.info, 0, clut);
    EXPECT_TRUE(std::equal(shown(node).begin(), shown(node).end(), rgb));

    // Pixels not loaded yet: the node all but vanishes and keeps its picture.
    record.info.pixelsLoaded = 0;
    node->setImage(&record.info);
    EXPECT_FLOAT_EQ(node->getScaleX(), 0.0001f);
    EXPECT_TRUE(std::equal(shown(node).begin(), shown(node).end(), rgb));
}

TEST_F(NodeImage, FollowsItsSourceAndNeverReadsARecordFreedUnderIt)
{
    isNodeImage* node = makeNode();
    // image -> slice pass-through -> node, as the image actor connects them.
    isImageData* image = isImageData::create();
    const int size[2] = {4, 4};
    const float spacing[2] = {1, 1};
    auto fill = [&](int value) {
        image->releaseData();
        isSliceInfo* slice = image->addSlice(size, 1, spacing, PIXEL_U8, 0, 0, cocos2d::Mat4::IDENTITY);
        std::fill_n(slice->pixels, 16, static_cast<unsigned char>(value));
        image->setModified();
    };
    fill(40);
    isImageSlice* pass = isImageSlice::create();
    pass->setInput(image);
    node->setSourceFilter(pass);
    rig.frame();
    ASSERT_NE(node->getTexture(), nullptr);
    EXPECT_EQ(shown(node)[0], 40);

    // The source changes: the next visit shows the new slice.
    fill(90);
    rig.frame();
    EXPECT_EQ(shown(node)[0], 90);

    // The image actor brings the pass-through up to date itself (a slice arrives in the frame
    // of a slice change): its output's records are rebuilt and nothing reports a change any
    // more. A window drag then must show the current slice, without touching the freed record.
    fill(150);
    pass->update();
    ASSERT_FALSE(pass->isInformationModified());
    node->markTextureDirty();
    rig.frame();
    EXPECT_EQ(shown(node)[0], 150);
    EXPECT_EQ(node->getFrameRecord(), static_cast<isImageData*>(pass->getOutput())->getSlices().front());

    // The same when the frame buttons are the first to touch the record afterwards.
    fill(200);
    pass->update();
    post(NOTIFY_FRAME_NEXT);
    EXPECT_EQ(node->getFrameRecord(), static_cast<isImageData*>(pass->getOutput())->getSlices().front());
    rig.frame();
    EXPECT_EQ(shown(node)[0], 200);
}

TEST_F(NodeImage, FrameButtonsStepFramesAndANewRecordStartsAtFrameZero)
{
    isNodeImage* node = makeNode();
    listener.listen({NOTIFY_FRAME_PLAY_STATE, NOTIFY_FRAME_PLAY_BUTTON_VISIBLE, NOTIFY_FRAME_PRIOR_BUTTON_VISIBLE,
                     NOTIFY_FRAME_NEXT_BUTTON_VISIBLE},
                    &g_window);
    // Buttons of another window reach nothing here.
    OwnedRecord& ten = keep(framesRecord(10));
    node->setImage(&ten.info);
    rig.frame();
    EXPECT_EQ(listener.values[NOTIFY_FRAME_PLAY_BUTTON_VISIBLE], std::vector<int>{1});
    EXPECT_EQ(listener.values[NOTIFY_FRAME_NEXT_BUTTON_VISIBLE], std::vector<int>{1});
    int elsewhere;
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_FRAME_NEXT, nullptr, &elsewhere, true);
    rig.frame();
    EXPECT_EQ(node->getFrameIndex(), 0);

    // Prior from frame 0 wraps to the last frame, next from the last wraps to 0.
    post(NOTIFY_FRAME_PRIOR);
    EXPECT_EQ(node->getFrameIndex(), 9);
    EXPECT_EQ(shown(node)[0], 100);
    post(NOTIFY_FRAME_NEXT);
    EXPECT_EQ(node->getFrameIndex(), 0);
    EXPECT_EQ(shown(node)[0], 10);
    for (int i = 0; i < 5; ++i)
        post(NOTIFY_FRAME_NEXT);
    EXPECT_EQ(node->getFrameIndex(), 5);
    EXPECT_EQ(shown(node)[0], 60);

    // A two-frame record replaces the ten-frame one at frame 5: it is shown from frame 0, and
    // nothing past its two frames is read (AddressSanitizer).
    OwnedRecord& two = keep(framesRecord(2));
    node->setImage(&two.info);
    EXPECT_EQ(node->getFrameIndex(), 0);
    EXPECT_EQ(shown(node)[0], 10);

    // A single frame: every button hidden, play does nothing.
    OwnedRecord& one = keep(framesRecord(1));
    rig.frame();
    listener.values.clear();
    node->setImage(&one.info);
    rig.frame();
    EXPECT_EQ(listener.values[NOTIFY_FRAME_PLAY_BUTTON_VISIBLE], std::vector<int>{0});
    EXPECT_EQ(listener.values[NOTIFY_FRAME_PRIOR_BUTTON_VISIBLE], std::vector<int>{0});
    post(NOTIFY_FRAME_PLAY_TOGGLE);
    EXPECT_FALSE(node->isPlaying());

    // Without a loaded record the buttons change nothing.
    one.info.pixelsLoaded = 0;
    node->setImage(&one.info);
    rig.frame();
    listener.values.clear();
    for (unsigned int id : {NOTIFY_FRAME_PLAY_TOGGLE, NOTIFY_FRAME_PRIOR, NOTIFY_FRAME_NEXT})
        post(id);
    EXPECT_EQ(node->getFrameIndex(), 0);
    EXPECT_FALSE(node->isPlaying());
    EXPECT_TRUE(listener.values[NOTIFY_FRAME_PLAY_STATE].empty());
}

TEST_F(NodeImage, PlaybackShowsAFrameForItsTicksAndBoundsItsSpeed)
{
    isNodeImage* node = makeNode();
    listener.listen({NOTIFY_FRAME_PLAY_STATE}, &g_window);
    OwnedRecord& four = keep(framesRecord(4));
    node->setImage(&four.info);
    rig.frame();

    post(NOTIFY_FRAME_PLAY_TOGGLE);
    ASSERT_TRUE(node->isPlaying());
    rig.frame();
    EXPECT_EQ(listener.values[NOTIFY_FRAME_PLAY_STATE], std::vector<int>{1});
    // 0.005 s ticks after a 0.1 s delay, 60 ticks a frame: frames change at about 0.1, 0.4,
    // 0.7 and 1.0 s, at most one per rendered frame.
    std::vector<float> changes;
    float t = 0;
    int last = node->getFrameIndex();
    for (int i = 0; i < 66; ++i) {
        rig.frame();
        t += 1.0f / 60;
        if (node->getFrameIndex() != last) {
            changes.push_back(t);
            last = node->getFrameIndex();
        }
    }
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_NEAR(changes[0], 0.1, 0.04);
    EXPECT_NEAR(changes[1] - changes[0], 0.3, 0.04);
    EXPECT_NEAR(changes[3] - changes[2], 0.3, 0.04);
    EXPECT_EQ(last, 0);  // wrapped after frame 3
    EXPECT_EQ(shown(node)[0], 10);

    // Prior slows down by 20 ticks up to 120, next speeds up down to 5.
    for (int i = 0; i < 4; ++i)
        post(NOTIFY_FRAME_PRIOR);
    EXPECT_EQ(node->getTicksPerFrame(), 120);
    for (int i = 0; i < 8; ++i)
        post(NOTIFY_FRAME_NEXT);
    EXPECT_EQ(node->getTicksPerFrame(), 5);
    EXPECT_TRUE(node->isPlaying());

    // A new picture (a window change) stops playback at frame 0.
    node->markTextureDirty();
    rig.frame();
    rig.frame();
    EXPECT_FALSE(node->isPlaying());
    EXPECT_EQ(node->getFrameIndex(), 0);
    EXPECT_EQ(listener.values[NOTIFY_FRAME_PLAY_STATE].back(), 0);
}

TEST_F(NodeImage, CleanupStopsPlaybackAndLetsGoOfEverything)
{
    isNodeImage* node = makeNode();
    node->retain();
    clut->retain();
    OwnedRecord& three = keep(framesRecord(3));
    node->setImage(&three.info);
    post(NOTIFY_FRAME_PLAY_TOGGLE);
    ASSERT_TRUE(node->isPlaying());
    const unsigned int clutCount = clut->getReferenceCount();
    node->removeFromParent();
    EXPECT_FALSE(node->isPlaying());
    EXPECT_EQ(node->getClut(), nullptr);
    EXPECT_EQ(clut->getReferenceCount(), clutCount - 1);
    EXPECT_FALSE(NSUI::NSNotificationCenter::getInstance()->hasObserver(NOTIFY_FRAME_NEXT, &g_window, node));
    for (int i = 0; i < 30; ++i)
        rig.frame();
    EXPECT_EQ(node->getFrameIndex(), 0);
    node->release();
    clut->release();
}

TEST_F(NodeImage, ShaderNodesFallBackWhenNoProgramCanBeBuilt)
{
    // Headless, programs cannot be compiled: the shader node is refused, and the image actor
    // takes a CPU node.
    cocos2d::FileUtils::getInstance()->addSearchPath("imageSDK");
    EXPECT_EQ(isNodeImageByShader::create(), nullptr);
    EXPECT_FALSE(isNodeImageByShader::isShaderAvailable());

    // Once the shader has been switched off, shader nodes are CPU nodes in all but name.
    isNodeImageByShader::shaderEnabled = 0;
    isNodeImageByShader* node = isNodeImageByShader::create();
    isNodeImageByShader::shaderEnabled = 1;
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(node->isCpuPath());
    EXPECT_EQ(node->getClutTexture(), 0u);
    clut = isClut::create();
    node->setClut(clut);
    rig.add(node);
    OwnedRecord& record = keep(OwnedRecord(2, 2, PIXEL_U16));
    record.samples<uint16_t>()[3] = 255;
    node->setImage(&record.info);
    ASSERT_NE(node->getTexture(), nullptr);
    EXPECT_EQ(node->getTexture()->getPixelFormat(), cocos2d::Texture2D::PixelFormat::RGB888);
    EXPECT_EQ(node->getTexture()->getPixelDataForTest()[9], 255);
    node->markTextureDirty();
    EXPECT_TRUE(node->isTextureDirty());
}
