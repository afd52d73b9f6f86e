// The multi-view container on the headless view: cells and their keys, the active view, which
// cells each command reaches, linked views following a slice step, zoom and pan, and the
// exchanges between 2D and volume viewers (through a stand-in volume viewer).
#include "support/MultiViewRig.h"

#include "isActorImage.h"
#include "isViewerBrowser.h"
#include "isViewerMulti.h"

#include "isActorROI.h"
#include "messageView.h"

#include <gtest/gtest.h>

using namespace isImageSDK;
using cocos2d::Rect;
using cocos2d::Size;
using cocos2d::Vec2;
using cocos2d::Vec3;

namespace {

class ViewerMulti : public ::testing::Test {
protected:
    void SetUp() override
    {
        cocos2d::Director::getInstance()->setOpenGLView(cocos2d::GLViewHeadless::create(Size(960, 640)));
        rig.start();
        qvtest::StandInVolume::install();
        multi = isViewerMulti::create();
        multi->setContentSize(Size(800, 600));
        rig.scene->addChild(multi);
        rig.recorder->watch(NOTIFY_ACTIVE_VIEW_CHANGED, nullptr);
    }
    void TearDown() override
    {
        qvtest::StandInVolume::uninstall();
        rig.stop();
    }

    isViewerBrowser* browserOf(KeyViewProperty* cell) { return cell->getBrowser(); }
    isViewerImage* firstOf(KeyViewProperty* cell) { return cell->getBrowser()->getFirstWindow(); }
    int sliceOf(KeyViewProperty* cell) { return firstOf(cell)->getImageActor()->getSliceIndex(); }
    int modeOf(KeyViewProperty* cell) { return firstOf(cell)->getImageInteractor()->getMode(); }
    qvtest::StandInVolume* volumeOf(KeyViewProperty* cell)
    {
        return dynamic_cast<qvtest::StandInVolume*>(cell->getVolumeViewer());
    }
    // The 9113 notices so far (normal posts arrive one a frame, behind the windows' own), then
    // forgotten.
    std::vector<int> activeKinds()
    {
        for (int i = 0; i < 300; ++i)
            rig.frame();
        std::vector<int> out;
        for (const qvtest::Delivery& d : rig.recorder->of(NOTIFY_ACTIVE_VIEW_CHANGED))
            out.push_back(d.intValue);
        rig.recorder->got.clear();
        return out;
    }
    void settle() { rig.frame(3); }

    qvtest::ViewerRig rig;
    isViewerMulti* multi = nullptr;
};

TEST_F(ViewerMulti, CellsKeysAndTheActiveView)
{
    EXPECT_EQ(multi->getActiveViewKind(), 0u);
    Rect rect;
    EXPECT_FALSE(multi->getActiveViewRect(rect));
    isImageData* a = qvtest::phantomCT();
    isImageData* b = qvtest::phantomCT();
    isImageData* pictures = qvtest::loosePictures();
    for (size_t i = 0; i < a->getSlices().size(); ++i)
        a->getSlices()[i]->filePath = "a" + std::to_string(i) + ".dcm";

    // Nothing without an image, and only plain views of an image that is not a volume.
    EXPECT_EQ(multi->addView(VIEW_AXIAL, true, Rect(0, 0, 100, 100), nullptr), nullptr);
    EXPECT_EQ(multi->addView(VIEW_AXIAL, true, Rect(0, 0, 100, 100), pictures), nullptr);
    EXPECT_EQ(multi->getGroupCount(), 0);
    EXPECT_EQ(multi->getBackGroundColorOpacity(), 255);

    KeyViewProperty* axial = multi->addView(VIEW_AXIAL, true, Rect(0, 300, 400, 300), a);
    KeyViewProperty* sagittal = multi->addView(VIEW_SAGITTAL, true, Rect(400, 300, 400, 300), a);
    KeyViewProperty* other = multi->addView(VIEW_OBLIQUE, true, Rect(0, 0, 400, 300), b);
    KeyViewProperty* volume = multi->addView(VIEW_VR, true, Rect(400, 0, 400, 300), a);
    ASSERT_TRUE(axial && sagittal && other && volume);
    EXPECT_EQ(multi->getBackGroundColorOpacity(), 0);

    // Cells of one image share a key and a list; another image opens a new one.
    EXPECT_EQ(axial->getKey(), static_cast<int>(a->getRefID()));
    EXPECT_EQ(multi->getGroupCount(), 2);
    EXPECT_EQ(multi->getGroups().at(axial->getKey()).size(), 3u);
    EXPECT_EQ(multi->cellOfViewer(volume->getViewer()), volume);

    // The first view is active; its rectangle is its active window's, offset by the container.
    EXPECT_EQ(multi->getActiveCell(), axial);
    EXPECT_EQ(multi->getActiveViewKind(), static_cast<unsigned>(VIEW_AXIAL));
    multi->setPosition(10, 20);
    ASSERT_TRUE(multi->getActiveViewRect(rect));
    EXPECT_EQ(rect, Rect(10, 320, 400, 300));
    isViewerMulti::SliceInfo info;
    ASSERT_TRUE(multi->getSliceIndexAndCount(info));
    EXPECT_EQ(info.count, 20);
    EXPECT_EQ(info.index, 9);
    // The file of the slice the active window shows.
    EXPECT_EQ(multi->getActiveFilePath(), "a9.dcm");

    // Slice index and count only for kinds 0-3.
    multi->onNotification(NOTIFY_VIEW_ACTIVATE, nullptr, other->getViewer() ? browserOf(other)->asRef() : nullptr);
    EXPECT_EQ(multi->getActiveCell(), other);
    EXPECT_FALSE(multi->getSliceIndexAndCount(info));
    multi->onNotification(NOTIFY_VIEW_ACTIVATE, nullptr, volumeOf(volume));
    EXPECT_EQ(multi->getActiveViewKind(), static_cast<unsigned>(VIEW_VR));
    EXPECT_FALSE(multi->getSliceIndexAndCount(info));
    EXPECT_EQ(multi->getActiveFilePath(), "a0.dcm");
    settle();
    EXPECT_EQ(activeKinds(), (std::vector<int>{0, 1}));

    // A linked axial view added beside the sagittal one takes its cross point at once.
    KeyViewProperty* second = multi->addView(VIEW_AXIAL, true, Rect(0, 0, 200, 200), a);
    EXPECT_LT(firstOf(second)->getCrossPoint().distance(browserOf(axial)->getCrossPoint()), 1e-3f);

    // Clearing removes every viewer and forgets the active view.
    multi->clearViews();
    EXPECT_EQ(multi->getGroupCount(), 0);
    EXPECT_EQ(multi->getActiveViewKind(), 0u);
    EXPECT_TRUE(multi->getChildren().empty());

    // The screen behind is light blue-grey while a container is shown, black after it.
    cocos2d::Director* director = cocos2d::Director::getInstance();
    multi->onEnterTransitionDidFinish();
    EXPECT_EQ(director->getClearColor(), isViewerMulti::kClearColour);
    multi->removeFromParentAndCleanup(true);
    EXPECT_EQ(director->getClearColor(), cocos2d::Color4F(0, 0, 0, 1));
}

// Which cells each command reaches: A (image 1, axial, active), B (image 1, sagittal), C (image
// 2, axial), D (image 1, coronal, not linked), V (image 1, volume rendering).
TEST_F(ViewerMulti, CommandsReachTheCellsTheRoutingNames)
{
    isImageData* one = qvtest::phantomCT();
    isImageData* two = qvtest::phantomCT();
    KeyViewProperty* A = multi->addView(VIEW_AXIAL, true, Rect(0, 300, 400, 300), one);
    KeyViewProperty* B = multi->addView(VIEW_SAGITTAL, true, Rect(400, 300, 400, 300), one);
    KeyViewProperty* C = multi->addView(VIEW_AXIAL, true, Rect(0, 0, 300, 300), two);
    KeyViewProperty* D = multi->addView(VIEW_CORONAL, false, Rect(300, 0, 250, 300), one);
    KeyViewProperty* V = multi->addView(VIEW_VR, true, Rect(550, 0, 250, 300), one);
    ASSERT_TRUE(A && B && C && D && V);
    qvtest::StandInVolume* vr = volumeOf(V);

    // Tools: window level to the linked 2D views; zoom and pan to every linked view.
    multi->sendCommand(NOTIFY_TOOL_WINDOW_LEVEL, nullptr);
    EXPECT_EQ(modeOf(A), MODE_WINDOW_LEVEL);
    EXPECT_EQ(modeOf(B), MODE_WINDOW_LEVEL);
    EXPECT_EQ(modeOf(C), MODE_WINDOW_LEVEL);
    EXPECT_NE(modeOf(D), MODE_WINDOW_LEVEL);
    EXPECT_EQ(vr->count(NOTIFY_TOOL_WINDOW_LEVEL), 0u);
    multi->sendCommand(NOTIFY_TOOL_ZOOM, nullptr);
    EXPECT_EQ(modeOf(C), MODE_ZOOM);
    EXPECT_NE(modeOf(D), MODE_ZOOM);
    EXPECT_EQ(vr->count(NOTIFY_TOOL_ZOOM), 1u);
    multi->sendCommand(NOTIFY_TOOL_LOCATE, nullptr);
    EXPECT_EQ(modeOf(A), MODE_LOCATE);
    EXPECT_EQ(modeOf(C), MODE_LOCATE);
    EXPECT_NE(modeOf(D), MODE_LOCATE);
    // Rotation is for volume views only.
    multi->sendCommand(NOTIFY_TOOL_ROTATE, nullptr);
    EXPECT_EQ(vr->count(NOTIFY_TOOL_ROTATE), 0u);

    // The window goes to the 2D views of the same image, linked.
    NSUI::NSNotificationData* wl = NSUI::NSNotificationData::create();
    wl->text = "{\"ww\":\"777\",\"wl\":\"11\"}";
    multi->sendCommand(NOTIFY_WL_SET, wl);
    auto width = [this](KeyViewProperty* c) { return firstOf(c)->getImageActor()->getClut()->getWidth(); };
    EXPECT_FLOAT_EQ(width(A), 777.0f);
    EXPECT_FLOAT_EQ(width(B), 777.0f);
    EXPECT_NE(width(C), 777.0f);
    EXPECT_NE(width(D), 777.0f);
    EXPECT_EQ(vr->count(NOTIFY_WL_SET), 0u);
    float w = 0, c = 0;
    multi->setWindowLevel(500.0f, 5.0f);
    ASSERT_TRUE(multi->getWindowLevel(w, c));
    EXPECT_FLOAT_EQ(w, 500.0f);
    EXPECT_FLOAT_EQ(width(B), 500.0f);
    EXPECT_NE(width(C), 500.0f);

    // Layouts go to the active browser alone.
    multi->sendCommand(NOTIFY_LAYOUT_1X2, nullptr);
    EXPECT_EQ(browserOf(A)->getWindows().size(), 2u);
    EXPECT_EQ(browserOf(B)->getWindows().size(), 1u);

    // The slice of the active browser's first window.
    multi->sendIntCommand(NOTIFY_SLICE_SET, 3);
    EXPECT_EQ(sliceOf(A), 3);
    EXPECT_EQ(browserOf(A)->getWindows()[1]->getImageActor()->getSliceIndex(), 4);

    // An unlinked view acts alone.
    multi->onNotification(NOTIFY_VIEW_ACTIVATE, nullptr, browserOf(D)->asRef());
    EXPECT_EQ(multi->getActiveCell(), D);
    multi->sendCommand(NOTIFY_TOOL_PAN, nullptr);
    EXPECT_EQ(modeOf(D), MODE_PAN);
    EXPECT_EQ(modeOf(A), MODE_LOCATE);
    multi->sendCommand(NOTIFY_WL_SET, wl);
    EXPECT_FLOAT_EQ(width(D), 777.0f);
    EXPECT_FLOAT_EQ(width(A), 500.0f);

    // Activating a linked view passes the activation to the others of its links (the volume
    // viewer through its command handler, without payload) and tells the screen its kind.
    multi->onNotification(NOTIFY_VIEW_ACTIVATE, nullptr, browserOf(B)->asRef());
    EXPECT_EQ(multi->getActiveCell(), B);
    ASSERT_EQ(vr->count(NOTIFY_VIEW_ACTIVATE), 1u);
    EXPECT_FALSE(vr->hadPayload.back());
    multi->onNotification(NOTIFY_VIEW_ACTIVATE, nullptr, vr);
    EXPECT_EQ(activeKinds(), (std::vector<int>{0, 0, 1}));

    // Commands from a window inside a browser are not the container's.
    multi->onNotification(NOTIFY_TOOL_PAN, nullptr, firstOf(A));
    EXPECT_EQ(modeOf(A), MODE_LOCATE);
}

TEST_F(ViewerMulti, LinkedViewsFollowSliceZoomAndPan)
{
    isImageData* image = qvtest::phantomCT();
    KeyViewProperty* A = multi->addView(VIEW_AXIAL, true, Rect(0, 300, 400, 300), image);
    KeyViewProperty* B = multi->addView(VIEW_AXIAL, true, Rect(400, 300, 400, 300), image);
    KeyViewProperty* S = multi->addView(VIEW_SAGITTAL, true, Rect(0, 0, 400, 300), image);
    KeyViewProperty* U = multi->addView(VIEW_AXIAL, false, Rect(400, 0, 400, 300), image);
    ASSERT_TRUE(A && B && S && U);
    settle();
    const int a0 = sliceOf(A), b0 = sliceOf(B), u0 = sliceOf(U);
    const Vec3 s0 = firstOf(S)->getCrossPoint();

    // A wheel step in A's window travels up through its browser to the container, which moves
    // the linked axial view by one slice and the sagittal view's cross point with it.
    firstOf(A)->onNotification(NOTIFY_SLICE_NEXT, nullptr, nullptr);
    settle();
    EXPECT_EQ(sliceOf(A), a0 + 1);
    EXPECT_EQ(sliceOf(B), b0 + 1);
    EXPECT_EQ(sliceOf(U), u0);
    const Vec3 s1 = firstOf(S)->getCrossPoint();
    EXPECT_NEAR((s1 - s0).length(), 2.0f, 1e-3f);
    EXPECT_LT(s1.distance(browserOf(A)->getCrossPoint()), 1e-3f);

    // The same step on the last slice changes nothing, but the screen still hears of it.
    rig.recorder->watch(NOTIFY_SLICE_NEXT, rig.scene);
    multi->sendIntCommand(NOTIFY_SLICE_SET, 19);
    multi->sendCommand(NOTIFY_SLICE_NEXT, nullptr);
    settle();
    EXPECT_EQ(sliceOf(A), 19);
    EXPECT_EQ(rig.recorder->count(NOTIFY_SLICE_NEXT), 1u);

    // A pan end of A reaches the other linked axial view, not the unlinked one.
    const Vec3 b1 = firstOf(B)->getLookAtTarget();
    const Vec3 u1 = firstOf(U)->getLookAtTarget();
    NSUI::NSNotificationData* pan = NSUI::NSNotificationData::create();
    pan->text = "{\"x\":\"12\",\"y\":\"-7\"}";
    multi->onNotification(NOTIFY_VIEW_PAN_END, pan, browserOf(A)->asRef());
    EXPECT_GT(firstOf(B)->getLookAtTarget().distance(b1), 1.0f);
    EXPECT_EQ(firstOf(U)->getLookAtTarget(), u1);

    // A zoom gesture in A's window ends in every linked plane, not in the unlinked one.
    const float bz = firstOf(B)->getZoomRatio(), sz = firstOf(S)->getZoomRatio(), uz = firstOf(U)->getZoomRatio();
    NSUI::NSNotificationData* zoom = NSUI::NSNotificationData::create();
    zoom->floatValue = 1.25f;
    firstOf(A)->zoomBy(1.25f);
    firstOf(A)->onNotification(NOTIFY_VIEW_ZOOM_END, zoom, nullptr);
    for (int i = 0; i < 200 && firstOf(S)->getZoomRatio() == sz; ++i)
        rig.frame();
    EXPECT_NEAR(firstOf(B)->getZoomRatio(), bz * 1.25f, 1e-3f);
    EXPECT_NEAR(firstOf(S)->getZoomRatio(), sz * 1.25f, 1e-3f);
    EXPECT_FLOAT_EQ(firstOf(U)->getZoomRatio(), uz);
}

TEST_F(ViewerMulti, PlaneAndRenderingSwitches)
{
    isImageData* image = qvtest::phantomCT();
    KeyViewProperty* A = multi->addView(VIEW_AXIAL, true, Rect(0, 0, 400, 300), image);
    KeyViewProperty* C = multi->addView(VIEW_CORONAL, true, Rect(400, 0, 400, 300), image);
    ASSERT_TRUE(A && C);
    settle();
    activeKinds();

    // Axial on an axial view: nothing, not even the notice.
    multi->sendCommand(NOTIFY_VIEW_AXIAL, nullptr);
    settle();
    EXPECT_TRUE(activeKinds().empty());

    // To sagittal: no sagittal view yet, so the view keeps its cross point and zoom.
    const Vec3 cross = browserOf(A)->getCrossPoint();
    multi->sendCommand(NOTIFY_VIEW_SAGITTAL, nullptr);
    EXPECT_EQ(A->getViewKind(), VIEW_SAGITTAL);
    EXPECT_LT(browserOf(A)->getCrossPoint().distance(cross), 1e-3f);
    // To coronal: it joins the linked coronal view.
    browserOf(C)->setZoomRatio(2.0f);
    multi->sendCommand(NOTIFY_VIEW_CORONAL, nullptr);
    EXPECT_EQ(A->getViewKind(), VIEW_CORONAL);
    EXPECT_NEAR(firstOf(A)->getZoomRatio(), 2.0f, 1e-4f);
    EXPECT_EQ(sliceOf(A), sliceOf(C));
    settle();
    EXPECT_EQ(activeKinds(), (std::vector<int>{0, 0}));

    // A maximised window keeps its 2D view, with the toast.
    isViewerImage* first = firstOf(A);
    NSUI::NSNotificationData* max = NSUI::NSNotificationData::create();
    max->uintValue = first->getRefID();
    max->text = "{\"w\":\"800\",\"h\":\"600\"}";
    first->onNotification(NOTIFY_WINDOW_MAXIMIZE, max, nullptr);
    multi->sendCommand(NOTIFY_VIEW_VR, nullptr);
    EXPECT_NE(A->getBrowser(), nullptr);
    EXPECT_NE(rig.scene->getChildByNameDeep(NSUI::kMessageHolderName), nullptr);
    first->onNotification(NOTIFY_WINDOW_MAXIMIZE, max, nullptr);

    // 2D to volume rendering: the cell keeps its place, the viewer takes the window and colours.
    multi->setWindowLevel(640.0f, 32.0f);
    const Vec2 position = A->getBrowser()->getPosition();
    multi->sendCommand(NOTIFY_VIEW_VR, nullptr);
    qvtest::StandInVolume* vr = volumeOf(A);
    ASSERT_NE(vr, nullptr);
    EXPECT_EQ(multi->getActiveCell(), A);
    EXPECT_EQ(A->getViewKind(), VIEW_VR);
    EXPECT_EQ(vr->getPosition(), position);
    EXPECT_EQ(vr->getContentSize(), Size(400, 300));
    EXPECT_FLOAT_EQ(vr->width, 640.0f);
    EXPECT_EQ(vr->palette[3 * 200], 200);
    EXPECT_TRUE(vr->cameraChanged);
    EXPECT_EQ(vr->getImageData(), image);
    multi->sendCommand(NOTIFY_VIEW_MIP, nullptr);
    EXPECT_EQ(A->getViewKind(), VIEW_MIP);
    settle();
    EXPECT_EQ(activeKinds(), (std::vector<int>{1, 1}));

    // Volume commands reach the volume viewer; 2D-only ones do not.
    multi->sendCommand(NOTIFY_TOOL_ROTATE, nullptr);
    multi->sendCommand(NOTIFY_LAYOUT_2X2, nullptr);
    EXPECT_EQ(vr->count(NOTIFY_TOOL_ROTATE), 1u);
    EXPECT_EQ(vr->count(NOTIFY_LAYOUT_2X2), 0u);

    // A maximised volume view refuses the way back; then it comes back to the coronal plane of
    // its linked neighbour.
    vr->setMaximised(true);
    multi->sendCommand(NOTIFY_VIEW_CORONAL, nullptr);
    EXPECT_EQ(volumeOf(A), vr);
    vr->setMaximised(false);
    multi->sendCommand(NOTIFY_VIEW_CORONAL, nullptr);
    ASSERT_NE(A->getBrowser(), nullptr);
    EXPECT_EQ(A->getViewKind(), VIEW_CORONAL);
    EXPECT_EQ(sliceOf(A), sliceOf(C));
    EXPECT_FLOAT_EQ(firstOf(A)->getImageActor()->getClut()->getWidth(), 640.0f);
    EXPECT_EQ(multi->getGroups().at(A->getKey()).size(), 2u);

    // Back to a plane that no linked view shows: the volume's point of view and zoom carry over.
    multi->sendCommand(NOTIFY_VIEW_VR, nullptr);
    qvtest::StandInVolume* again = volumeOf(A);
    ASSERT_NE(again, nullptr);
    again->setZoomRatio(1.5f);
    Vec3 target = browserOf(C)->getCrossPoint() + Vec3(4.0f, -6.0f, 2.0f);
    again->centerOn(target);
    target = again->getLookAtTarget();
    multi->sendCommand(NOTIFY_VIEW_SAGITTAL, nullptr);
    ASSERT_NE(A->getBrowser(), nullptr);
    EXPECT_EQ(A->getViewKind(), VIEW_SAGITTAL);
    EXPECT_NEAR(firstOf(A)->getZoomRatio(), 1.5f, 1e-4f);
    EXPECT_LT(browserOf(A)->getCrossPoint().distance(target), 1e-3f);
    // Drawn at the window's centre.
    const Size size = firstOf(A)->getContentSize();
    EXPECT_LT(firstOf(A)->worldToScreen(target).distance(Vec2(size.width / 2, size.height / 2)), 1e-2f);

    // A volume panned far beside the image looks at no point of it: the plane shows the slice
    // nearest to where it looked, not none.
    multi->sendCommand(NOTIFY_VIEW_VR, nullptr);
    qvtest::StandInVolume* beside = volumeOf(A);
    ASSERT_NE(beside, nullptr);
    Vec3 away = browserOf(C)->getCrossPoint() + Vec3(100.0f, 0.0f, 0.0f);
    beside->centerOn(away);
    ASSERT_FALSE(firstOf(C)->holdsPoint(beside->getLookAtTarget()));
    multi->sendCommand(NOTIFY_VIEW_SAGITTAL, nullptr);
    ASSERT_NE(A->getBrowser(), nullptr);
    EXPECT_TRUE(firstOf(A)->isVisible());
    EXPECT_TRUE(firstOf(A)->getImageActor()->isSliceIndexValid());
    EXPECT_TRUE(firstOf(A)->holdsPoint(browserOf(A)->getCrossPoint()));
}

TEST_F(ViewerMulti, WithoutAVolumeLayerOnly2DViews)
{
    qvtest::StandInVolume::uninstall();
    isImageData* image = qvtest::phantomCT();
    EXPECT_EQ(multi->addView(VIEW_VR, true, Rect(0, 0, 100, 100), image), nullptr);
    KeyViewProperty* A = multi->addView(VIEW_AXIAL, true, Rect(0, 0, 100, 100), image);
    multi->sendCommand(NOTIFY_VIEW_VR, nullptr);
    EXPECT_EQ(A->getViewKind(), VIEW_AXIAL);
    EXPECT_NE(A->getBrowser(), nullptr);
}

} // namespace

namespace {

// The routes of window ends, default windows, measurements, controls and cine: A (image 1, axial,
// active), B (image 1, coronal), C (image 2, axial), V (image 1, volume rendering).
TEST_F(ViewerMulti, GroupRoutesOfWindowsMeasurementsAndCine)
{
    isImageData* one = qvtest::phantomCT();
    isImageData* two = qvtest::phantomCT();
    KeyViewProperty* A = multi->addView(VIEW_AXIAL, true, Rect(0, 300, 400, 300), one);
    KeyViewProperty* B = multi->addView(VIEW_CORONAL, true, Rect(400, 300, 400, 300), one);
    KeyViewProperty* C = multi->addView(VIEW_AXIAL, true, Rect(0, 0, 400, 300), two);
    KeyViewProperty* V = multi->addView(VIEW_VR, true, Rect(400, 0, 400, 300), one);
    ASSERT_TRUE(A && B && C && V);
    qvtest::StandInVolume* vr = volumeOf(V);
    auto width = [this](KeyViewProperty* c) { return firstOf(c)->getImageActor()->getClut()->getWidth(); };

    // The end of a window drag in A: the other 2D views of its image take A's window.
    NSUI::NSNotificationData* end = NSUI::NSNotificationData::create();
    end->text = "{\"ww\":\"321\",\"wl\":\"12\"}";
    multi->onNotification(NOTIFY_VIEW_WINDOW_LEVEL_END, end, browserOf(A)->asRef());
    EXPECT_FLOAT_EQ(width(B), 321.0f);
    EXPECT_NE(width(A), 321.0f);
    EXPECT_NE(width(C), 321.0f);
    EXPECT_EQ(vr->count(NOTIFY_VIEW_WINDOW_LEVEL_END), 0u);

    // The default window goes to the 2D views of the image.
    multi->setWindowLevel(900.0f, 9.0f);
    browserOf(C)->setWindowLevel(900.0f, 9.0f);
    multi->sendCommand(NOTIFY_WL_DEFAULT, nullptr);
    EXPECT_FLOAT_EQ(width(A), 400.0f);
    EXPECT_FLOAT_EQ(width(B), 400.0f);
    EXPECT_FLOAT_EQ(width(C), 900.0f);

    // A measurement made in A's window is removed from the views of its image by the screen's
    // remove command; without a selected one the command removes nothing.
    multi->sendCommand(NOTIFY_TOOL_ROI_POINT, nullptr);
    isViewerImage* window = firstOf(A);
    const Vec2 inside = window->convertToWorldSpace(Vec2(150, 150));
    // A tap leaves the new point unselected: the command removes nothing.
    const Vec2 other = window->convertToWorldSpace(Vec2(250, 200));
    rig.clock.advanceMs(500);
    cocos2d::InputSimulator::click(other.x, other.y);
    isActorROI* measurements = window->getROIActor();
    ASSERT_EQ(measurements->getROIActors().size(), 1u);
    multi->sendCommand(NOTIFY_ROI_REMOVE, nullptr);
    EXPECT_EQ(measurements->getROIActors().size(), 1u);
    // One placed with a drag stays selected, and goes.
    rig.clock.advanceMs(500);
    cocos2d::InputSimulator::mouseDown(0, inside.x, inside.y);
    cocos2d::InputSimulator::mouseMove(inside.x + 20, inside.y + 10);
    cocos2d::InputSimulator::mouseUp(0, inside.x + 20, inside.y + 10);
    ASSERT_EQ(measurements->getROIActors().size(), 2u);
    isActorROIBase* selected = window->getImageInteractor()->getCurrentROI();
    ASSERT_NE(selected, nullptr);
    multi->sendCommand(NOTIFY_ROI_REMOVE, nullptr);
    ASSERT_EQ(measurements->getROIActors().size(), 1u);
    EXPECT_NE(measurements->getROIActors()[0], selected);

    // Controls of the active browser hide on request.
    auto* root = cocos2d::Node::create();
    root->setName("root");
    auto* slider = cocos2d::Node::create();
    slider->setName("slider");
    root->addChild(slider);
    browserOf(A)->addChild(root);
    multi->sendCommand(NOTIFY_BROWSER_HIDE_CONTROLS, nullptr);
    EXPECT_FALSE(slider->isVisible());

    // Cine goes to the active view, whatever its kind.
    multi->sendCommand(NOTIFY_CINE_PLAY_TOGGLE, nullptr);
    EXPECT_TRUE(browserOf(A)->isPlaying());
    EXPECT_FALSE(browserOf(B)->isPlaying());
    multi->onNotification(NOTIFY_VIEW_ACTIVATE, nullptr, vr);
    EXPECT_FALSE(browserOf(A)->isPlaying());
    multi->sendCommand(NOTIFY_CINE_PLAY_TOGGLE, nullptr);
    EXPECT_EQ(vr->count(NOTIFY_CINE_PLAY_TOGGLE), 1u);
}

} // namespace

namespace {

// A browser that notes the commands its container hands it.
class SpyBrowser : public isViewerBrowser {
public:
    static SpyBrowser* create(cocos2d::Ref* container)
    {
        auto* b = new SpyBrowser();
        if (!b->init()) {
            b->cocos2d::Ref::release();
            return nullptr;
        }
        b->autorelease();
        b->m_container = container;
        return b;
    }
    void onNotification(unsigned int id, NSUI::NSNotificationData* data, cocos2d::Ref* sender) override
    {
        if (sender == m_container)
            got.push_back(id);
        isViewerBrowser::onNotification(id, data, sender);
    }
    std::vector<unsigned int> got;

private:
    cocos2d::Ref* m_container = nullptr;
};

// A container that can also hold a cell with a second key (nothing in the program makes one).
class KeyedMulti : public isViewerMulti {
public:
    static KeyedMulti* create()
    {
        auto* m = new KeyedMulti();
        if (!m->init()) {
            delete m;
            return nullptr;
        }
        m->autorelease();
        return m;
    }
    KeyViewProperty* addKeyed(isViewerBrowser* browser, int kind, isImageData* image, cocos2d::Ref* key)
    {
        KeyViewProperty* cell = KeyViewProperty::create();
        cell->setViewer(browser);
        cell->setImage(image);
        browser->setImageData(image);
        cell->setSecondKey(key);
        browser->setKind(kind);
        insertCell(cell);
        return cell;
    }
};

// Every route of the container, from an axial, a volume, an unlinked and a plain cell. The cells:
// A, A2 (image 1, axial), S (image 1, sagittal), O (image 1, oblique), P (image 1, plain),
// U (image 1, coronal, not linked), C (image 2, axial), K (image 3, plain, second key image 1),
// V (image 1, volume rendering).
TEST_F(ViewerMulti, EveryRouteReachesTheCellsItNames)
{
    KeyedMulti* keyed = KeyedMulti::create();
    keyed->setContentSize(Size(900, 600));
    rig.scene->addChild(keyed);
    isImageData* one = qvtest::phantomCT();
    isImageData* two = qvtest::phantomCT();
    isImageData* three = qvtest::phantomCT();

    std::map<std::string, SpyBrowser*> spies;
    std::map<std::string, KeyViewProperty*> cells;
    int slot = 0;
    auto place = [&](const std::string& name) {
        SpyBrowser* b = SpyBrowser::create(keyed->asRef());
        b->setAnchorPoint(Vec2::ZERO);
        b->setPosition(Vec2(static_cast<float>(slot % 3) * 300, static_cast<float>(slot / 3) * 200));
        b->setContentSize(Size(298, 198));
        keyed->addChild(b);
        b->setOwner(keyed->asRef());
        ++slot;
        spies[name] = b;
        return b;
    };
    auto add = [&](const std::string& name, int kind, bool linked, isImageData* image) {
        cells[name] = keyed->addBrowserCell(place(name), kind, linked, image);
        ASSERT_NE(cells[name], nullptr) << name;
    };
    add("A", VIEW_AXIAL, true, one);
    add("A2", VIEW_AXIAL, true, one);
    add("S", VIEW_SAGITTAL, true, one);
    add("O", VIEW_OBLIQUE, true, one);
    add("P", VIEW_SLICE, true, one);
    add("U", VIEW_CORONAL, false, one);
    add("C", VIEW_AXIAL, true, two);
    cells["K"] = keyed->addKeyed(place("K"), VIEW_SLICE, three, one);
    KeyViewProperty* V = keyed->addView(VIEW_VR, true, Rect(600, 400, 298, 198), one);
    ASSERT_NE(V, nullptr);
    qvtest::StandInVolume* vr = volumeOf(V);
    ASSERT_EQ(keyed->getActiveCell(), cells["A"]);
    // A second key comes first in the cell key.
    EXPECT_EQ(cells["K"]->getKey(), static_cast<int>(one->getRefID() * 1000000u + three->getRefID()));
    EXPECT_EQ(keyed->getGroupCount(), 3);
    rig.recorder->watch({NOTIFY_SLICE_NEXT, NOTIFY_SLICE_PRIOR, NOTIFY_TOOL_ROI_LINE, NOTIFY_TOOL_ROI_POINT,
                         NOTIFY_TOOL_ROI_ANGLE, NOTIFY_TOOL_ROI_CIRCLE, NOTIFY_TOOL_ROI_POLYGON, NOTIFY_VIEW_ACTIVATE},
                        rig.scene);

    const std::string cross = isViewerBrowser::pointText(cells["A"]->getBrowser()->getCrossPoint());
    // What each viewer received from the container, as "cell:id", sorted.
    auto route = [&](const std::string& from, unsigned int id) {
        for (auto& s : spies)
            s.second->got.clear();
        vr->commands.clear();
        vr->senders.clear();
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        data->text = cross;
        NSUI::UIJson::setString(data->text, "ww", "400");
        NSUI::UIJson::setString(data->text, "wl", "40");
        data->floatValue = 1.0f;
        data->intValue = 1;
        cocos2d::Ref* sender = from == "V" ? static_cast<cocos2d::Ref*>(vr) : spies[from]->asRef();
        keyed->onNotification(id, data, sender);
        std::vector<std::string> out;
        for (auto& s : spies)
            for (unsigned int got : s.second->got)
                out.push_back(s.first + ":" + std::to_string(got));
        for (size_t i = 0; i < vr->commands.size(); ++i)
            if (vr->senders[i] == keyed->asRef())
                out.push_back("V:" + std::to_string(vr->commands[i]));
        std::sort(out.begin(), out.end());
        return out;
    };
    struct Row {
        const char* from;
        unsigned int id;
        std::vector<std::string> reached;  // "cell" for the same id, "cell:id" for another
    };
    const std::vector<Row> table = {
        // From the axial cell A.
        {"A", NOTIFY_SLICE_NEXT, {"A", "S:9085"}},
        {"A", NOTIFY_SLICE_PRIOR, {"A", "S:9085"}},
        {"A", NOTIFY_SLICE_SET, {}},
        {"A", NOTIFY_VIEW_ANGLE, {"A"}},
        {"A", NOTIFY_VIEW_AXIAL, {}},
        {"A", NOTIFY_VIEW_FORWARD_ACTIVE, {"A"}},
        {"A", NOTIFY_VIEW_REFRESH, {"A", "A2", "S", "O", "P", "C", "K"}},
        {"A", NOTIFY_LAYOUT_1X2, {"A"}},
        {"A", NOTIFY_LAYOUT_1X1, {"A"}},
        {"A", NOTIFY_WL_FUNC_LINEAR, {"A"}},
        {"A", NOTIFY_WL_FUNC_LOG10, {"A"}},
        {"A", NOTIFY_WL_FUNC_LOG10_INVERSE, {"A"}},
        {"A", NOTIFY_WL_DEFAULT, {"A", "A2", "S", "O", "P", "K:9025"}},
        {"A", NOTIFY_WL_SET, {"A", "A2", "S", "O", "P"}},
        {"A", NOTIFY_CLUT_SET, {"A", "A2", "S", "O", "P"}},
        {"A", NOTIFY_TOOL_SELECT, {"A", "A2", "S", "O", "P", "C", "K"}},
        {"A", NOTIFY_TOOL_WINDOW_LEVEL, {"A", "A2", "S", "O", "P", "C", "K"}},
        {"A", NOTIFY_TOOL_ZOOM, {"A", "A2", "S", "O", "P", "C", "K", "V"}},
        {"A", NOTIFY_TOOL_PAN, {"A", "A2", "S", "O", "P", "C", "K", "V"}},
        {"A", NOTIFY_TOOL_ROTATE, {}},
        {"A", NOTIFY_TOOL_LOCATE, {"A", "A2", "S", "O", "C"}},
        {"A", NOTIFY_TOOL_ROI_LINE, {"A"}},
        {"A", NOTIFY_TOOL_ROI_POINT, {"A"}},
        {"A", NOTIFY_TOOL_ROI_ANGLE, {"A"}},
        {"A", NOTIFY_TOOL_ROI_CIRCLE, {"A"}},
        {"A", NOTIFY_TOOL_ROI_POLYGON, {"A"}},
        {"A", NOTIFY_ROI_REMOVE, {}},
        {"A", NOTIFY_CINE_PLAY_TOGGLE, {"A"}},
        {"A", NOTIFY_CINE_NEXT, {"A"}},
        {"A", NOTIFY_CINE_PRIOR, {"A"}},
        {"A", NOTIFY_VR_ORIENT, {}},
        {"A", NOTIFY_VIEW_PAN_END, {"A2", "C"}},
        {"A", NOTIFY_VIEW_ZOOM_END, {"A2", "S", "C"}},
        {"A", NOTIFY_VIEW_WINDOW_LEVEL_END, {"A2", "S", "O", "P", "K"}},
        {"A", NOTIFY_LOCATE_POINT, {"A2", "S", "O", "P", "C", "K"}},
        {"A", NOTIFY_BROWSER_HIDE_CONTROLS, {}},
        {"A", NOTIFY_VIEW_ACTIVATE, {"A2", "S", "O", "P", "C", "K", "V"}},
        // From the volume cell V.
        {"V", NOTIFY_SLICE_NEXT, {}},
        {"V", NOTIFY_VIEW_ANGLE, {"V"}},
        {"V", NOTIFY_VIEW_FORWARD_ACTIVE, {"V"}},
        {"V", NOTIFY_VIEW_REFRESH, {"V"}},
        {"V", NOTIFY_LAYOUT_2X2, {}},
        {"V", NOTIFY_WL_DEFAULT, {"V"}},
        {"V", NOTIFY_WL_SET, {"V"}},
        {"V", NOTIFY_CLUT_SET, {"V"}},
        {"V", NOTIFY_TOOL_SELECT, {}},
        {"V", NOTIFY_TOOL_WINDOW_LEVEL, {"V"}},
        {"V", NOTIFY_TOOL_ZOOM, {"A", "A2", "S", "O", "P", "C", "K", "V"}},
        {"V", NOTIFY_TOOL_ROTATE, {"V"}},
        {"V", NOTIFY_TOOL_LOCATE, {}},
        {"V", NOTIFY_CINE_PLAY_TOGGLE, {"V"}},
        {"V", NOTIFY_VR_ORIENT, {"V"}},
        {"V", NOTIFY_VIEW_PAN_END, {}},
        {"V", NOTIFY_VIEW_ZOOM_END, {}},
        {"V", NOTIFY_VIEW_WINDOW_LEVEL_END, {"A", "A2", "S", "O", "P", "K"}},
        {"V", NOTIFY_LOCATE_POINT, {}},
        {"V", NOTIFY_VIEW_ACTIVATE, {"A", "A2", "S", "O", "P", "C", "K"}},
        // From the unlinked coronal cell U: it acts alone.
        {"U", NOTIFY_SLICE_NEXT, {"U"}},
        {"U", NOTIFY_VIEW_REFRESH, {"U"}},
        {"U", NOTIFY_TOOL_PAN, {"U"}},
        {"U", NOTIFY_WL_DEFAULT, {"U"}},
        {"U", NOTIFY_VIEW_WINDOW_LEVEL_END, {}},
        {"U", NOTIFY_LOCATE_POINT, {}},
        {"U", NOTIFY_VIEW_ACTIVATE, {}},
        // From the plain cell P: no plane routes.
        {"P", NOTIFY_SLICE_NEXT, {"P"}},
        {"P", NOTIFY_VIEW_ANGLE, {}},
        {"P", NOTIFY_TOOL_LOCATE, {}},
        {"P", NOTIFY_VIEW_PAN_END, {}},
        {"P", NOTIFY_VIEW_ZOOM_END, {}},
        {"P", NOTIFY_LOCATE_POINT, {}},
        {"P", NOTIFY_VIEW_WINDOW_LEVEL_END, {"A", "A2", "S", "O", "K"}},
        {"P", NOTIFY_WL_DEFAULT, {"A", "A2", "S", "O", "P", "K:9025"}},
        // From the cell with a second key: its own image group only.
        {"K", NOTIFY_WL_DEFAULT, {"K"}},
        {"K", NOTIFY_VIEW_WINDOW_LEVEL_END, {}},
    };
    for (const Row& row : table) {
        std::vector<std::string> expected;
        for (const std::string& r : row.reached)
            expected.push_back(r.find(':') == std::string::npos ? r + ":" + std::to_string(row.id) : r);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(route(row.from, row.id), expected) << row.id << " from " << row.from;
    }
    EXPECT_EQ(keyed->getActiveCell(), cells["U"]);
    // The screens' entries act on the active cell.
    spies["U"]->got.clear();
    keyed->sendFloatCommand(NOTIFY_VIEW_ANGLE, 15.0f);
    keyed->sendIntCommand(NOTIFY_CINE_PLAY_TOGGLE, 0);
    EXPECT_EQ(spies["U"]->got, (std::vector<unsigned int>{NOTIFY_VIEW_ANGLE, NOTIFY_CINE_PLAY_TOGGLE}));
    EXPECT_TRUE(spies["A"]->got.empty());

    // The screen hears of slice steps, measurement tools and activations (sender the container).
    rig.frame(300);
    for (unsigned int id : {NOTIFY_SLICE_NEXT, NOTIFY_SLICE_PRIOR, NOTIFY_TOOL_ROI_LINE, NOTIFY_TOOL_ROI_POINT,
                            NOTIFY_TOOL_ROI_ANGLE, NOTIFY_TOOL_ROI_CIRCLE, NOTIFY_TOOL_ROI_POLYGON,
                            NOTIFY_VIEW_ACTIVATE}) {
        const std::vector<qvtest::Delivery> heard = rig.recorder->of(id);
        ASSERT_FALSE(heard.empty()) << id;
        for (const qvtest::Delivery& d : heard)
            EXPECT_EQ(d.sender, keyed->asRef()) << id;
    }
}

} // namespace
