// The image viewer on the headless view: what an image opens with (kind, plane name, colour
// table and surround), plane switches and slice steps, the colour tables, the corner rows with
// and without full information, the hand-up rule, zoom with edge keeping, maximise and park,
// locate, and the information builder (one per image, its JSON, its reference counts).
#include "support/MultiViewRig.h"

#include "DicomSeriesWriter.h"
#include "isActorCrossLine.h"
#include "isActorImage.h"
#include "isImagePlane.h"
#include "isNodeImage.h"
#include "isNodeOverlayText.h"
#include "isActorOverlay.h"
#include "isViewerImage.h"

#include "NSStringUtil.h"
#include "UILocalConfig.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <fstream>
#include <thread>

using namespace isImageSDK;
using cocos2d::Size;
using cocos2d::Vec2;
using cocos2d::Vec3;

namespace {

// A volume of columns x rows x slices signed 16-bit voxels (value = slice * 100 + column),
// axes along the world axes, 1 mm spacing in-plane and 2 mm between slices.
isImageData* makeVolume(int columns = 16, int rows = 12, int slices = 10, int modality = MODALITY_CT)
{
    isImageData* image = isImageData::create();
    const int dims[3] = {columns, rows, slices};
    const float spacing[3] = {1, 1, 2};
    image->allocateVolume(dims, spacing, PIXEL_I16, 0, 0, cocos2d::Mat4::IDENTITY);
    for (int k = 0; k < slices; ++k) {
        isSliceInfo* s = image->getSlices()[k];
        s->modality = modality;
        s->windowWidth = 400;
        s->windowCenter = 40;
        auto* p = reinterpret_cast<int16_t*>(s->pixels);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c)
                p[r * columns + c] = static_cast<int16_t>(k * 100 + c);
    }
    image->setFileNames("volume");
    return image;
}

class ViewerImage : public ::testing::Test {
protected:
    void SetUp() override
    {
        cocos2d::Director::getInstance()->setOpenGLView(cocos2d::GLViewHeadless::create(Size(960, 640)));
        rig.start();
        viewer = add(Vec2(0, 0));
    }
    void TearDown() override
    {
        if (owner)
            owner->release();
        rig.stop();
    }
    isViewerImage* add(const Vec2& position, const Size& size = Size(400, 300))
    {
        isViewerImage* v = isViewerImage::create();
        v->setContentSize(size);
        v->setPosition(position);
        rig.scene->addChild(v);
        return v;
    }
    void command(isViewerImage* v, unsigned int id, const std::string& text = "", float f = 0, cocos2d::Ref* sender = nullptr,
                 uint32_t u = 0, int i = 0)
    {
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        data->text = text;
        data->floatValue = f;
        data->uintValue = u;
        data->intValue = i;
        v->onNotification(id, data, sender);
    }
    std::string lastPlaneName(isViewerImage* v)
    {
        std::string name;
        for (const qvtest::Delivery& d : rig.recorder->of(NOTIFY_OVERLAY_PLANE_NAME))
            if (d.context == v->getNotificationContext())
                name = d.text;
        return name;
    }

    qvtest::ViewerRig rig;
    isViewerImage* viewer = nullptr;
    cocos2d::Ref* owner = nullptr;
};

TEST_F(ViewerImage, PicturesOpenAsSlicesWithTheirColourTable)
{
    rig.recorder->watch(NOTIFY_OVERLAY_PLANE_NAME, viewer->getNotificationContext());
    isImageData* pictures = qvtest::loosePictures(MODALITY_US);
    viewer->setImageData(pictures);
    rig.frame(2);
    EXPECT_EQ(viewer->getKind(), VIEW_SLICE);
    EXPECT_EQ(lastPlaneName(viewer), "Slice");
    EXPECT_EQ(viewer->getPalette()[3 * 10], 10);
    EXPECT_FALSE(viewer->isBackgroundWhite());
    // The camera shows the whole first slice: its centre in the window's centre.
    const Vec2 centre = viewer->worldToScreen(Vec3(9.5f, 9.5f, 0));
    EXPECT_NEAR(centre.x, 200.0f, 0.5f);
    EXPECT_NEAR(centre.y, 150.0f, 0.5f);

    // Inverse grey for PET and NM, and for MONOCHROME1 (which keeps its black surround).
    isViewerImage* pet = add(Vec2(400, 0));
    pet->setImageData(qvtest::loosePictures(MODALITY_PT));
    EXPECT_EQ(pet->getPalette()[0], 255);
    EXPECT_TRUE(pet->isBackgroundWhite());
    isViewerImage* mono1 = add(Vec2(0, 300));
    mono1->setImageData(qvtest::loosePictures(MODALITY_DX, 2));
    EXPECT_EQ(mono1->getPalette()[0], 255);
    EXPECT_FALSE(mono1->isBackgroundWhite());
    // Back to the plain table: the surround goes back to black.
    command(pet, NOTIFY_CLUT_SET, "noClut.plist");
    EXPECT_EQ(pet->getPalette()[0], 0);
    EXPECT_FALSE(pet->isBackgroundWhite());
}

TEST_F(ViewerImage, ColourTableFiles)
{
    const std::string folder = cocos2d::FileUtils::getInstance()->getWritablePath() + "cluts/";
    cocos2d::FileUtils::getInstance()->createDirectory(folder);
    auto write = [&](const std::string& name, int red, int green, int blue, int count = 256) {
        std::ofstream out(folder + name);
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>";
        for (auto [key, value] : {std::pair<const char*, int>{"Red", red}, {"Green", green}, {"Blue", blue}}) {
            out << "<key>" << key << "</key><array>";
            for (int i = 0; i < count; ++i)
                out << "<integer>" << (value == -1 ? i : value) << "</integer>";
            out << "</array>";
        }
        out << "</dict></plist>";
    };
    write("Perfusion.plist", 255, -1, 0);
    write("HotMetal.plist", 300, -1, -5);
    write("Short.plist", 1, 2, 3, 255);
    cocos2d::FileUtils::getInstance()->addSearchPath(folder);
    viewer->setImageData(makeVolume());

    // Red and blue exchanged for the perfusion table.
    command(viewer, NOTIFY_CLUT_SET, "Perfusion.plist");
    EXPECT_EQ(viewer->getPalette()[3 * 7], 0);
    EXPECT_EQ(viewer->getPalette()[3 * 7 + 1], 7);
    EXPECT_EQ(viewer->getPalette()[3 * 7 + 2], 255);
    // Values outside 0-255 are clamped.
    command(viewer, NOTIFY_CLUT_SET, "HotMetal.plist");
    EXPECT_EQ(viewer->getPalette()[3 * 7], 255);
    EXPECT_EQ(viewer->getPalette()[3 * 7 + 2], 0);
    // A table of the wrong length, a missing file, a name too short: the table stays.
    command(viewer, NOTIFY_CLUT_SET, "Short.plist");
    command(viewer, NOTIFY_CLUT_SET, "Missing.plist");
    command(viewer, NOTIFY_CLUT_SET, "x");
    EXPECT_EQ(viewer->getPalette()[3 * 7], 255);
    // The image actor draws with it.
    unsigned char actorTable[768];
    viewer->getImageActor()->getClut()->getRGBTable(actorTable);
    EXPECT_EQ(actorTable[3 * 7], 255);
    EXPECT_EQ(actorTable[3 * 7 + 1], 7);
}

// The tables shipped in imageSDK/ (made by tools/cluts): each loads as a whole table; hot metal
// runs black, red, yellow, white; perfusion ends in red once its red and blue are exchanged.
TEST_F(ViewerImage, ShippedColourTablesLoad)
{
    cocos2d::FileUtils::getInstance()->addSearchPath("imageSDK");
    viewer->setImageData(makeVolume());
    auto colour = [&](int i) {
        const unsigned char* p = viewer->getPalette() + 3 * i;
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    for (const char* name : {"HotMetal.plist", "GEcolor.plist", "Perfusion.plist"}) {
        SCOPED_TRACE(name);
        command(viewer, NOTIFY_CLUT_SET, "noClut.plist");
        command(viewer, NOTIFY_CLUT_SET, name);
        bool coloured = false;
        for (int i = 0; i < 256; ++i)
            coloured = coloured || colour(i)[0] != colour(i)[1] || colour(i)[1] != colour(i)[2];
        EXPECT_TRUE(coloured) << "the grey table stayed";
        EXPECT_EQ(colour(0), (std::array<int, 3>{0, 0, 0}));
        EXPECT_FALSE(viewer->isBackgroundWhite());
        unsigned char actorTable[768];
        viewer->getImageActor()->getClut()->getRGBTable(actorTable);
        EXPECT_TRUE(std::equal(actorTable, actorTable + 768, viewer->getPalette()));
    }
    command(viewer, NOTIFY_CLUT_SET, "HotMetal.plist");
    for (int i = 1; i < 256; ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_GE(colour(i)[c], colour(i - 1)[c]) << "entry " << i;
    EXPECT_EQ(colour(85), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(colour(170), (std::array<int, 3>{255, 255, 0}));
    EXPECT_EQ(colour(255), (std::array<int, 3>{255, 255, 255}));
    command(viewer, NOTIFY_CLUT_SET, "Perfusion.plist");
    EXPECT_EQ(colour(255), (std::array<int, 3>{255, 0, 0}));
    EXPECT_GT(colour(100)[2], colour(100)[0]) << "the cold end is blue";
}

TEST_F(ViewerImage, PlaneSwitchesAndSliceSteps)
{
    rig.recorder->watch(NOTIFY_OVERLAY_PLANE_NAME, viewer->getNotificationContext());
    viewer->setImageData(makeVolume());
    rig.frame(2);
    // In the world frame the acquired x-y slices are coronal.
    EXPECT_EQ(viewer->getKind(), VIEW_CORONAL);
    EXPECT_EQ(lastPlaneName(viewer), "Coronal");
    EXPECT_EQ(viewer->getSliceCount(), 10);

    command(viewer, NOTIFY_VIEW_AXIAL);
    rig.frame(2);
    EXPECT_EQ(viewer->getKind(), VIEW_AXIAL);
    EXPECT_EQ(viewer->getImageActor()->getPlaneAxis(), PLANE_REFORMAT2);
    EXPECT_EQ(lastPlaneName(viewer), "Axial");
    EXPECT_EQ(viewer->getSliceCount(), 12);
    rig.recorder->got.clear();
    command(viewer, NOTIFY_VIEW_AXIAL);  // already axial: nothing
    rig.frame(2);
    EXPECT_TRUE(rig.recorder->of(NOTIFY_OVERLAY_PLANE_NAME).empty());

    command(viewer, NOTIFY_VIEW_SAGITTAL);
    EXPECT_EQ(viewer->getKind(), VIEW_SAGITTAL);
    EXPECT_EQ(viewer->getSliceCount(), 16);
    // The sagittal slice's normal faces the camera.
    const isSliceInfo* slice = viewer->getImageActor()->getCurrentSliceInfo();
    const Vec3 normal(slice->matrix.m[8], slice->matrix.m[9], slice->matrix.m[10]);
    EXPECT_NEAR(std::fabs(normal.getNormalized().dot(viewer->getSceneCamera()->getViewNormal())), 1.0f, 1e-4);

    // Past the last slice the window hides, and comes back a step later.
    viewer->showSlice(15);
    EXPECT_TRUE(viewer->isShown());
    command(viewer, NOTIFY_SLICE_NEXT);
    EXPECT_FALSE(viewer->isShown());
    command(viewer, NOTIFY_SLICE_PRIOR);
    EXPECT_TRUE(viewer->isShown());
    EXPECT_EQ(viewer->getImageActor()->getSliceIndex(), 15);
    // The cross point followed the slice.
    const isSliceInfo* now = viewer->getImageActor()->getCurrentSliceInfo();
    const Vec3 origin(now->matrix.m[12], now->matrix.m[13], now->matrix.m[14]);
    EXPECT_NEAR((viewer->getCrossPoint() - origin).dot(normal.getNormalized()), 0.0f, 1e-3);

    command(viewer, NOTIFY_VIEW_ORIGINAL);
    EXPECT_EQ(viewer->getImageActor()->getPlaneAxis(), PLANE_ACQUIRED);
    EXPECT_EQ(viewer->getKind(), VIEW_CORONAL);
}

TEST_F(ViewerImage, CornerRowsFollowTheFullInformationSetting)
{
    NSUI::UILocalConfig::setLocalString(isViewerImage::kFullInfoKey, "0");
    isViewerImage* brief = add(Vec2(0, 300));
    brief->setImageData(makeVolume());
    const size_t briefItems = brief->getActorManager()->getOverlayActor()->getItemCount();

    NSUI::UILocalConfig::setLocalString(isViewerImage::kFullInfoKey, "1");
    isViewerImage* full = add(Vec2(400, 300));
    full->setImageData(makeVolume());
    EXPECT_EQ(full->getActorManager()->getOverlayActor()->getItemCount(), briefItems + 5);

    // Turning it off rebuilds the corners at the next draw; a second "off" writes nothing.
    command(full, NOTIFY_DCMINFO_HIDE);
    EXPECT_EQ(NSUI::UILocalConfig::getLocalString(isViewerImage::kFullInfoKey, ""), "0");
    rig.frame();
    EXPECT_EQ(full->getActorManager()->getOverlayActor()->getItemCount(), briefItems);
    NSUI::UILocalConfig::setLocalString(isViewerImage::kFullInfoKey, "sentinel");
    command(full, NOTIFY_DCMINFO_HIDE);
    EXPECT_EQ(NSUI::UILocalConfig::getLocalString(isViewerImage::kFullInfoKey, ""), "sentinel");
    // The rebuilt overlay keeps its four edge letters (they went with the old corners).
    rig.frame(2);
    isActorOverlay* rebuilt = full->getActorManager()->getOverlayActor();
    for (int edge = 0; edge < 4; ++edge) {
        isNodeOverlayText* letter = rebuilt->getEdgeLabel(edge);
        ASSERT_NE(letter, nullptr) << "edge " << edge;
        EXPECT_TRUE(letter->isVisible()) << "edge " << edge;
        EXPECT_FALSE(letter->getString().empty()) << "edge " << edge;
    }

    // Pictures of an ultrasound have no slice-position row, nor a thickness.
    NSUI::UILocalConfig::setLocalString(isViewerImage::kFullInfoKey, "0");
    isViewerImage* us = add(Vec2(400, 0));
    us->setImageData(qvtest::loosePictures(MODALITY_US));
    const size_t greyItems = us->getActorManager()->getOverlayActor()->getItemCount();
    EXPECT_LT(greyItems, briefItems);
    // Colour pictures have no window row: no window applies to them.
    isImageData* colour = isImageData::create();
    const int dims[2] = {20, 20};
    const float spacing[2] = {1, 1};
    isSliceInfo* rgb = colour->addSlice(dims, 2, spacing, PIXEL_RGB, 0, 0, cocos2d::Mat4::IDENTITY);
    rgb->modality = MODALITY_US;
    colour->setFileNames("colour");
    isViewerImage* echo = add(Vec2(0, 0));
    echo->setImageData(colour);
    EXPECT_EQ(echo->getActorManager()->getOverlayActor()->getItemCount(), greyItems - 2);
    NSUI::UILocalConfig::setLocalString(isViewerImage::kFullInfoKey, "0");
}

TEST_F(ViewerImage, CommandsGoUpToTheOwnerUnlessItSentThem)
{
    viewer->setImageData(makeVolume());
    owner = new qvtest::Recorder();
    viewer->setOwner(owner);
    rig.recorder->watch({NOTIFY_SLICE_NEXT, NOTIFY_VIEW_WINDOW_LEVEL_END, NOTIFY_WL_INPUT, NOTIFY_TOOL_ZOOM}, owner);
    const int slice = viewer->getImageActor()->getSliceIndex();
    command(viewer, NOTIFY_SLICE_NEXT);
    EXPECT_EQ(viewer->getImageActor()->getSliceIndex(), slice);
    command(viewer, NOTIFY_SLICE_NEXT, "", 0, owner);
    EXPECT_EQ(viewer->getImageActor()->getSliceIndex(), slice + 1);
    command(viewer, NOTIFY_TOOL_ZOOM);
    EXPECT_EQ(viewer->getImageInteractor()->getMode(), MODE_PAN);
    command(viewer, NOTIFY_TOOL_ZOOM, "", 0, owner);
    EXPECT_EQ(viewer->getImageInteractor()->getMode(), MODE_ZOOM);
    // The window editor request always goes up.
    command(viewer, NOTIFY_WL_INPUT, "", 0, owner);
    // The end of a window drag goes up with the window as whole numbers.
    viewer->getImageActor()->setWindow(400.7f, 40.6f);
    command(viewer, NOTIFY_VIEW_WINDOW_LEVEL_END);
    rig.frame(6);
    EXPECT_EQ(rig.recorder->count(NOTIFY_SLICE_NEXT), 1u);
    EXPECT_EQ(rig.recorder->count(NOTIFY_TOOL_ZOOM), 1u);
    EXPECT_EQ(rig.recorder->count(NOTIFY_WL_INPUT), 1u);
    ASSERT_EQ(rig.recorder->count(NOTIFY_VIEW_WINDOW_LEVEL_END), 1u);
    EXPECT_EQ(rig.recorder->of(NOTIFY_VIEW_WINDOW_LEVEL_END)[0].text, "{\"ww\":\"400\",\"wl\":\"40\"}");
    EXPECT_EQ(rig.recorder->of(NOTIFY_SLICE_NEXT)[0].sender, viewer);
    // From the owner it sets the window.
    command(viewer, NOTIFY_VIEW_WINDOW_LEVEL_END, "{\"ww\":\"100\",\"wl\":\"20\"}", 0, owner);
    EXPECT_FLOAT_EQ(viewer->getImageActor()->getClut()->getWidth(), 100.0f);
    viewer->setOwner(nullptr);
}

// A touched window tells its owner, and tells the screen (which listens with context 0) that it is
// the active one, so that the screen's quick tools come to it.
TEST_F(ViewerImage, ATouchedWindowIsAnnouncedAsActiveToEveryone)
{
    viewer->setImageData(makeVolume());
    owner = new qvtest::Recorder();
    viewer->setOwner(owner);
    rig.recorder->watch(NOTIFY_VIEW_ACTIVATE, owner);
    rig.recorder->watch(NOTIFY_VIEW_ACTIVATED, nullptr);
    command(viewer, NOTIFY_VIEW_ACTIVATE, "", 0, viewer->getImageInteractor());
    rig.frame(6);
    EXPECT_EQ(rig.recorder->count(NOTIFY_VIEW_ACTIVATE), 1u);
    ASSERT_EQ(rig.recorder->count(NOTIFY_VIEW_ACTIVATED), 1u);
    EXPECT_EQ(rig.recorder->of(NOTIFY_VIEW_ACTIVATED)[0].object, viewer);
    viewer->setOwner(nullptr);
}

TEST_F(ViewerImage, ZoomKeepsTheCrossPointAwayFromTheEdges)
{
    viewer->setImageData(makeVolume());
    // Each step in multiplies the margin by its factor, up to just below half the window.
    command(viewer, NOTIFY_VIEW_ZOOM, "", 1.05f);
    EXPECT_FLOAT_EQ(viewer->getEdgeMargin(), 0.15f * 1.05f);
    for (int i = 0; i < 29; ++i)
        command(viewer, NOTIFY_VIEW_ZOOM, "", 1.05f);
    EXPECT_FLOAT_EQ(viewer->getEdgeMargin(), 0.4999f);
    // The cross point stays inside the margin however far the view was zoomed.
    const Vec2 p = viewer->worldToScreen(viewer->getCrossPoint());
    EXPECT_GE(p.x, 400 * 0.4999f - 0.5f);
    EXPECT_LE(p.x, 400 * 0.5001f + 0.5f);
    command(viewer, NOTIFY_VIEW_ZOOM, "", 0.95f);
    EXPECT_FLOAT_EQ(viewer->getEdgeMargin(), 0.15f);
}

// The limits hold where the zoom is applied, however the steps arrive: a burst of drag steps
// checked against a ratio a frame old, wheel steps, and a linked view's zoom end.
TEST_F(ViewerImage, ZoomStaysWithinItsLimitsOnEveryRoute)
{
    viewer->setImageData(makeVolume());
    for (unsigned int id : {NOTIFY_VIEW_ZOOM, NOTIFY_VIEW_ZOOM_WHEEL}) {
        SCOPED_TRACE(id);
        for (int i = 0; i < 80; ++i)
            command(viewer, id, "", 1.05f);
        EXPECT_NEAR(viewer->getZoomRatio(), 10.0f, 1e-3);
        for (int i = 0; i < 160; ++i)
            command(viewer, id, "", 0.95f);
        EXPECT_NEAR(viewer->getZoomRatio(), 0.1f, 1e-4);
        // From the limit the way back is open.
        command(viewer, id, "", 1.05f);
        EXPECT_NEAR(viewer->getZoomRatio(), 0.105f, 1e-4);
        viewer->setZoomRatio(1.0f);
    }
    // A linked view's zoom end, from the owner.
    owner = new qvtest::Recorder();
    viewer->setOwner(owner);
    command(viewer, NOTIFY_VIEW_ZOOM_END, "{\"zoomRatio\":\"30\",\"validFocal\":\"0\"}", 25.0f, owner);
    EXPECT_NEAR(viewer->getZoomRatio(), 10.0f, 1e-3);
    command(viewer, NOTIFY_VIEW_ZOOM_END, "{\"zoomRatio\":\"0.01\",\"validFocal\":\"0\"}", 0.001f, owner);
    EXPECT_NEAR(viewer->getZoomRatio(), 0.1f, 1e-4);
    viewer->setOwner(nullptr);
}

// Commands no screen sends, reached by direct calls: the middle slice, the display mode, the slab
// thickness and the corner marker.
TEST_F(ViewerImage, MiddleSliceModeSlabAndMarkerByDirectCalls)
{
    // Pictures: the middle one, fitted (the second picture is 30 x 30 with its centre at 14.5).
    viewer->setImageData(qvtest::loosePictures());
    command(viewer, NOTIFY_SLICE_MIDDLE);
    EXPECT_EQ(viewer->getImageActor()->getSliceIndex(), 1);
    const Vec2 centre = viewer->worldToScreen(Vec3(14.5f, 14.5f, 0));
    EXPECT_NEAR(centre.x, 200.0f, 0.5f);
    EXPECT_NEAR(centre.y, 150.0f, 0.5f);

    // A volume: the slice stays, the cross point drops onto it along the normal.
    isViewerImage* v = add(Vec2(400, 0));
    v->setImageData(makeVolume());
    rig.recorder->watch(NOTIFY_OVERLAY_THICKNESS, v->getNotificationContext());
    const int slice = v->getImageActor()->getSliceIndex();
    v->setCrossPoint(Vec3(3, 4, 7.5f));
    command(v, NOTIFY_SLICE_MIDDLE);
    EXPECT_EQ(v->getImageActor()->getSliceIndex(), slice);
    const float z = v->getImageActor()->getCurrentSliceInfo()->matrix.m[14];
    EXPECT_NEAR(v->getCrossPoint().distance(Vec3(3, 4, z)), 0.0f, 1e-4);

    // The display mode is the actor's slab mode; the thickness grows by the payload and is shown.
    command(v, NOTIFY_IMAGE_SET_MODE, "", 0, nullptr, 0, 2);
    EXPECT_EQ(v->getImageActor()->getSlabMode(), 2);
    const float thickness = v->getImageActor()->getSlabThickness();
    command(v, NOTIFY_SLAB_THICKNESS_ADD, "", 4.0f);
    EXPECT_FLOAT_EQ(v->getImageActor()->getSlabThickness(), thickness + 4.0f);
    rig.frame(3);
    ASSERT_GE(rig.recorder->count(NOTIFY_OVERLAY_THICKNESS), 1u);
    EXPECT_FLOAT_EQ(rig.recorder->of(NOTIFY_OVERLAY_THICKNESS).back().floatValue, thickness + 4.0f);

    isActorCrossLine* lines = v->getActorManager()->getCrossLineActor();
    ASSERT_NE(lines, nullptr);
    EXPECT_FALSE(lines->isMarkerShown());
    command(v, NOTIFY_CROSSLINE_SHOW);
    EXPECT_TRUE(lines->isMarkerShown());

    // With an owner that did not send them, all four go up instead, queued.
    owner = new qvtest::Recorder();
    v->setOwner(owner);
    rig.recorder->watch({NOTIFY_SLICE_MIDDLE, NOTIFY_IMAGE_SET_MODE, NOTIFY_SLAB_THICKNESS_ADD, NOTIFY_CROSSLINE_SHOW},
                        owner);
    for (unsigned int id : {NOTIFY_SLICE_MIDDLE, NOTIFY_IMAGE_SET_MODE, NOTIFY_SLAB_THICKNESS_ADD, NOTIFY_CROSSLINE_SHOW})
        command(v, id, "", 1.0f, nullptr, 0, 1);
    EXPECT_EQ(v->getImageActor()->getSlabMode(), 2);
    EXPECT_FLOAT_EQ(v->getImageActor()->getSlabThickness(), thickness + 4.0f);
    rig.frame(8);
    for (unsigned int id : {NOTIFY_SLICE_MIDDLE, NOTIFY_IMAGE_SET_MODE, NOTIFY_SLAB_THICKNESS_ADD, NOTIFY_CROSSLINE_SHOW})
        EXPECT_EQ(rig.recorder->count(id), 1u) << id;
    v->setOwner(nullptr);
}

TEST_F(ViewerImage, MaximiseRestoresAndParksOthers)
{
    viewer->setImageData(makeVolume());
    isViewerImage* other = add(Vec2(400, 0));
    other->setImageData(makeVolume());
    rig.recorder->watch(NOTIFY_WINDOW_MAXIMIZED, nullptr);
    const Vec3 target = viewer->getLookAtTarget();
    const float ratio = viewer->getZoomRatio();

    for (isViewerImage* v : {viewer, other})
        command(v, NOTIFY_WINDOW_MAXIMIZE, "{\"w\":\"960\",\"h\":\"640\"}", 0, nullptr, viewer->getRefID());
    EXPECT_TRUE(viewer->isMaximized());
    EXPECT_EQ(viewer->getContentSize(), Size(960, 640));
    EXPECT_EQ(other->getPosition(), Vec2(10000, 10000));
    EXPECT_EQ(other->getContentSize(), Size(128, 128));
    for (isViewerImage* v : {viewer, other})
        command(v, NOTIFY_WINDOW_MAXIMIZE, "", 0, nullptr, viewer->getRefID());
    EXPECT_FALSE(viewer->isMaximized());
    EXPECT_EQ(viewer->getPosition(), Vec2(0, 0));
    EXPECT_EQ(viewer->getContentSize(), Size(400, 300));
    EXPECT_EQ(other->getPosition(), Vec2(400, 0));
    EXPECT_EQ(other->getContentSize(), Size(400, 300));
    EXPECT_NEAR(viewer->getLookAtTarget().distance(target), 0.0f, 1e-3);
    EXPECT_NEAR(viewer->getZoomRatio(), ratio, 1e-4);
    rig.frame(30);
    ASSERT_EQ(rig.recorder->count(NOTIFY_WINDOW_MAXIMIZED), 2u);
    EXPECT_EQ(rig.recorder->got[0].intValue, 1);
    EXPECT_EQ(rig.recorder->got[1].intValue, 0);
}

TEST_F(ViewerImage, LocateMovesTheCrossPointAndTheSlice)
{
    viewer->setImageData(makeVolume());
    command(viewer, NOTIFY_VIEW_AXIAL);
    // World (5, 7, 9): the axial plane of row 7.
    command(viewer, NOTIFY_LOCATE_POINT, "{\"x\":\"5.00\",\"y\":\"7.00\",\"z\":\"9.00\"}");
    EXPECT_NEAR(viewer->getCrossPoint().distance(Vec3(5, 7, 9)), 0.0f, 1e-4);
    const isSliceInfo* slice = viewer->getImageActor()->getCurrentSliceInfo();
    EXPECT_NEAR(slice->matrix.m[13], 7.0f, 1e-4);
    // The point under the cross point on the screen is the point itself.
    Vec3 back;
    ASSERT_TRUE(viewer->screenToWorld(viewer->worldToScreen(Vec3(5, 7, 9)), back));
    EXPECT_NEAR(back.distance(Vec3(5, 7, 9)), 0.0f, 1e-2);
}

TEST_F(ViewerImage, SeriesTimeUsesOnlyTheCharactersPresent)
{
    EXPECT_EQ(isViewerImage::formatSeriesTime("20190304", "101520"), "2019.03.04 10:15:20");
    EXPECT_EQ(isViewerImage::formatSeriesTime("20190304", "1015"), "2019.03.04 10:15");
    EXPECT_EQ(isViewerImage::formatSeriesTime("20190304", "10"), "2019.03.04 10");
    EXPECT_EQ(isViewerImage::formatSeriesTime("2019", "101520"), "2019 10:15:20");
    EXPECT_EQ(isViewerImage::formatSeriesTime("", "101520.123"), " 10:15:20");
}

// The weight corner text: a weight of zero, however the file writes it, is an unknown weight and
// is left out; a real weight is shown as the file writes it.
TEST_F(ViewerImage, AZeroWeightIsLeftOutOfThePatientInformation)
{
    const std::string path = cocos2d::FileUtils::getInstance()->getWritablePath() + "weight.dcm";
    const std::pair<const char*, const char*> cases[] = {
        {"0", "O 000Y"},          {"0.000000", "O 000Y"}, {"0.0", "O 000Y"}, {"00", "O 000Y"},
        {"81.632700", "O 000Y W=81.632700"}, {"61", "O 000Y W=61"}, {"0.5", "O 000Y W=0.5"},
    };
    for (const auto& c : cases) {
        qvgen::ImageSpec spec;
        spec.extra.push_back({{0x0010, 0x0040}, "O"});
        spec.extra.push_back({{0x0010, 0x1010}, "000Y"});
        spec.extra.push_back({{0x0010, 0x1030}, c.first});
        ASSERT_TRUE(qvgen::writeDicomFile(path, spec));
        EXPECT_EQ(NSUI::UIJson::getString(isViewerImage::readOverlayInfo(path), "patientInfo"), c.second) << c.first;
    }
}

TEST_F(ViewerImage, OneInformationBuilderPerImage)
{
    const std::string path = cocos2d::FileUtils::getInstance()->getWritablePath() + "info.dcm";
    qvgen::ImageSpec spec;
    spec.institution = "A,B";
    spec.extra.push_back({{0x0008, 0x0021}, "20190304"});
    spec.extra.push_back({{0x0008, 0x0031}, "101520"});
    spec.extra.push_back({{0x0010, 0x0040}, "F"});
    spec.extra.push_back({{0x0010, 0x1010}, "042Y"});
    spec.extra.push_back({{0x0010, 0x1030}, "61"});
    ASSERT_TRUE(qvgen::writeDicomFile(path, spec));
    isImageData* image = makeVolume(8, 8, 4);
    image->getSlices()[0]->filePath = path;
    image->retain();
    rig.frame();
    const unsigned int references = image->getReferenceCount();

    std::vector<isViewerImage*> grid{viewer, add(Vec2(400, 0)), add(Vec2(0, 300)), add(Vec2(400, 300))};
    for (isViewerImage* v : grid)
        rig.recorder->watch(NOTIFY_OVERLAY_INFO_READY, v->getNotificationContext());
    for (isViewerImage* v : grid)
        v->setImageData(image);
    EXPECT_EQ(isViewerImage::getRunningBuilderCount(), 1);
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         rig.recorder->count(NOTIFY_OVERLAY_INFO_READY) < 4 && std::chrono::steady_clock::now() < until;) {
        rig.frame();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(rig.recorder->count(NOTIFY_OVERLAY_INFO_READY), 4u);
    const std::string json = rig.recorder->got[0].text;
    EXPECT_EQ(NSUI::UIJson::getString(json, "hospital"), "A_B");
    EXPECT_EQ(NSUI::UIJson::getString(json, "seriesTime"), "2019.03.04 10:15:20");
    EXPECT_EQ(NSUI::UIJson::getString(json, "patientInfo"), "F 042Y W=61");
    EXPECT_EQ(NSUI::UIJson::getString(json, "patient"), "TEST^PATIENT");
    EXPECT_EQ(*image->getInfoJson(), json);
    EXPECT_EQ(isViewerImage::getRunningBuilderCount(), 0);

    // A file that cannot be read: nothing posted, and the image's references as they were.
    isImageData* broken = makeVolume(8, 8, 4);
    broken->getSlices()[0]->filePath = "/nonexistent/file.dcm";
    broken->retain();
    rig.frame();
    const unsigned int brokenReferences = broken->getReferenceCount();
    rig.recorder->got.clear();
    isViewerImage* lone = add(Vec2(800, 0), Size(150, 150));
    rig.recorder->watch(NOTIFY_OVERLAY_INFO_READY, lone->getNotificationContext());
    lone->setImageData(broken);
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         isViewerImage::getRunningBuilderCount() > 0 && std::chrono::steady_clock::now() < until;) {
        rig.frame();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    rig.frame(3);
    EXPECT_EQ(rig.recorder->count(NOTIFY_OVERLAY_INFO_READY), 0u);
    rig.scene->removeAllChildrenWithCleanup(true);
    rig.frame();
    EXPECT_EQ(broken->getReferenceCount(), brokenReferences);
    EXPECT_EQ(image->getReferenceCount(), references);
    image->release();
    broken->release();
}

} // namespace

// A favourite asked from the quick tool bar (9103): the window it names, or without a name the
// first window that hears it, posts one 9104 whose payload owns a copy of the shown picture, the
// frame on screen at the front of the copied pixels; the other windows stay silent. The copy is
// the receiver's once taken, and the payload's (freed with it) when nobody takes it.
TEST_F(ViewerImage, FavouriteCopyOfTheShownFrame)
{
    // A window of three frames of 8 x 8 (frame f all 10 (f + 1)) beside the volume window.
    isImageData* movie = isImageData::create();
    const int size[2] = {8, 8};
    const float spacing[2] = {1, 1};
    isSliceInfo* record = movie->addSlice(size, 3, spacing, PIXEL_U8, 0, 0, cocos2d::Mat4::IDENTITY);
    ASSERT_NE(record, nullptr);
    for (int f = 0; f < 3; ++f)
        std::fill(record->pixels + 64 * f, record->pixels + 64 * (f + 1), static_cast<unsigned char>(10 * (f + 1)));
    movie->setFileNames("movie");
    viewer->setImageData(makeVolume());
    isViewerImage* other = add(Vec2(400, 0));
    other->setImageData(movie);
    rig.frame(2);

    struct Copy {
        int columns, rows;
        std::vector<unsigned char> front;
        const unsigned char* pixels;
    };
    std::vector<Copy> taken;
    cocos2d::Node* taker = cocos2d::Node::create();
    taker->retain();
    auto* centre = NSUI::NSNotificationCenter::getInstance();
    centre->addObserver(
        taker, nullptr,
        [&taken](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData* data) {
            auto* copy = data ? static_cast<isSliceInfo*>(data->takeUserData()) : nullptr;
            if (!copy)
                return;
            taken.push_back({copy->columns, copy->rows,
                             std::vector<unsigned char>(copy->pixels, copy->pixels + copy->columns * copy->rows),
                             copy->pixels});
            delete[] copy->pixels;
            delete copy;
        },
        NOTIFY_FAVORITE_SAVE_IMAGE);
    auto ask = [&](uint32_t id) {
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        data->uintValue = id;
        centre->postNotification(nullptr, NOTIFY_FAVORITE_ADD_VIEW, data, nullptr);
        rig.frame(4);
    };

    ask(other->getRefID());
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].columns, 8);
    EXPECT_EQ(taken[0].rows, 8);
    EXPECT_EQ(taken[0].front, std::vector<unsigned char>(64, 10));
    EXPECT_NE(taken[0].pixels, record->pixels);  // a copy, not the image's own pixels

    // The third frame on screen: its pixels come first.
    isNodeImage* node = other->getImageActor()->getImageNode();
    ASSERT_NE(node, nullptr);
    node->onFrameNotification(nullptr, NOTIFY_FRAME_NEXT, nullptr);
    node->onFrameNotification(nullptr, NOTIFY_FRAME_NEXT, nullptr);
    ASSERT_EQ(node->getFrameIndex(), 2);
    ask(other->getRefID());
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[1].front, std::vector<unsigned char>(64, 30));

    // Unnamed: one window answers, not both.
    ask(0);
    EXPECT_EQ(taken.size(), 3u);
    // Named for a window that does not exist: nobody.
    ask(other->getRefID() + 100000);
    EXPECT_EQ(taken.size(), 3u);

    // A picture whose pixels the loader has not read yet (it may be writing them now) is not
    // copied: the favourite would hold whatever the buffer held.
    isImageData* pending = isImageData::create();
    pending->addSlice(size, 1, spacing, PIXEL_U8, 0, 0, cocos2d::Mat4::IDENTITY)->pixelsLoaded = 0;
    pending->setFileNames("pending");
    isViewerImage* third = add(Vec2(0, 300));
    third->setImageData(pending);
    rig.frame(2);
    ask(third->getRefID());
    EXPECT_EQ(taken.size(), 3u);

    // Nobody takes the copy: the payload frees it (the leak check of the sanitiser build).
    centre->removeObserver(taker);
    ask(viewer->getRefID());
    EXPECT_EQ(taken.size(), 3u);
    taker->release();
}

// A slice shown before the loader has read it: the window shows it empty, a 9109 for another file
// or another actor changes nothing, and the 9109 for its own file and actor brings its pixels.
TEST_F(ViewerImage, ASliceArrivingAfterItWasShownIsDrawnWithItsPixels)
{
    isImageData* pending = isImageData::create();
    const int size[2] = {8, 8};
    const float spacing[2] = {1, 1};
    isSliceInfo* source = pending->addSlice(size, 1, spacing, PIXEL_U8, 0, 0, cocos2d::Mat4::IDENTITY);
    source->pixelsLoaded = 0;
    source->filePath = "study/1.dcm";
    pending->setFileNames("study");
    viewer->setImageData(pending);
    isViewerImage* other = add(Vec2(400, 0));
    other->setImageData(makeVolume());
    rig.frame(2);
    isActorImage* actor = viewer->getImageActor();
    ASSERT_NE(actor, nullptr);
    ASSERT_NE(actor->getCurrentSlice(), nullptr);
    EXPECT_EQ(actor->getCurrentSlice()->pixelsLoaded, 0);

    // The loader fills the pixels on its thread and publishes them; then it tells the asker.
    std::fill(source->pixels, source->pixels + 64, static_cast<unsigned char>(77));
    source->markLoaded();
    auto* centre = NSUI::NSNotificationCenter::getInstance();
    auto shown = [&] {
        const isSliceInfo* record = actor->getCurrentSlice();
        return record && record->pixelsLoaded && record->pixels[0] == 77 && record->pixels[63] == 77;
    };
    centre->postSliceLoadedNotification(nullptr, foldedHash32("study/2.dcm"), actor);
    centre->postSliceLoadedNotification(nullptr, foldedHash32("study/1.dcm"), other->getImageActor());
    rig.frame(3);
    EXPECT_FALSE(shown()) << "a notice for another file or another actor redrew the slice";
    centre->postSliceLoadedNotification(nullptr, foldedHash32("study/1.dcm"), actor);
    rig.frame(3);
    EXPECT_TRUE(shown());
}
