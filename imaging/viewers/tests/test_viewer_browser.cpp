// The grid browser on the headless view: grids and their geometry, the slices its windows show
// (middle page, first slice, new windows continuing the first one), cine on the stepped
// scheduler, and the relay of its windows' commands.
#include "support/MultiViewRig.h"

#include "isActorImage.h"
#include "isActorManager.h"
#include "isActorOverlay.h"
#include "isActorROI.h"
#include "isNodeOverlayText.h"
#include "isViewerBrowser.h"

#include "messageView.h"

#include "ui/UISlider.h"

#include <gtest/gtest.h>

#include <set>

using namespace isImageSDK;
using cocos2d::Size;
using cocos2d::Vec2;
using cocos2d::Vec3;

namespace {

class ViewerBrowser : public ::testing::Test {
protected:
    void SetUp() override
    {
        cocos2d::Director::getInstance()->setOpenGLView(cocos2d::GLViewHeadless::create(Size(960, 640)));
        rig.start();
        browser = isViewerBrowser::create();
        browser->setContentSize(Size(602, 402));
        rig.scene->addChild(browser);
    }
    void TearDown() override { rig.stop(); }

    std::vector<int> slices() const
    {
        std::vector<int> out;
        for (isViewerImage* w : browser->getWindows())
            out.push_back(w->getImageActor() ? w->getImageActor()->getSliceIndex() : -1);
        return out;
    }
    void command(unsigned int id, cocos2d::Ref* sender = nullptr, const std::string& text = "", float f = 0.0f)
    {
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        data->text = text;
        data->floatValue = f;
        browser->onNotification(id, data, sender);
    }

    qvtest::ViewerRig rig;
    isViewerBrowser* browser = nullptr;
};

TEST_F(ViewerBrowser, GridsAndTheirGeometry)
{
    browser->setImageData(qvtest::phantomCT());
    ASSERT_EQ(browser->getWindows().size(), 1u);
    EXPECT_EQ(browser->getActiveWindow(), browser->getFirstWindow());

    // Values below 1 become 1.
    browser->setLayout(0, 3);
    EXPECT_EQ(browser->getRows(), 1);
    EXPECT_EQ(browser->getColumns(), 3);
    ASSERT_EQ(browser->getWindows().size(), 3u);

    // Windows row by row from the top, 2 units apart, the last row and column flush with the
    // edges.
    browser->setLayout(2, 2);
    const auto& w = browser->getWindows();
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[0]->getPosition(), Vec2(0, 202));
    EXPECT_EQ(w[1]->getPosition(), Vec2(302, 202));
    EXPECT_EQ(w[2]->getPosition(), Vec2(0, 0));
    EXPECT_EQ(w[3]->getPosition(), Vec2(302, 0));
    for (isViewerImage* window : w)
        EXPECT_EQ(window->getContentSize(), Size(300, 200));

    // Shrinking while the fourth window is active leaves the first one active.
    isViewerImage* fourth = w[3];
    browser->setOwner(rig.scene);
    command(NOTIFY_VIEW_ACTIVATE, fourth);
    EXPECT_EQ(browser->getActiveWindow(), fourth);
    EXPECT_TRUE(fourth->isActive());
    browser->setLayout(1, 1);
    EXPECT_EQ(browser->getWindows().size(), 1u);
    EXPECT_EQ(browser->getActiveWindow(), browser->getFirstWindow());
    browser->setOwner(nullptr);

    // A layout command is refused while a window is maximised.
    isViewerImage* first = browser->getFirstWindow();
    NSUI::NSNotificationData* max = NSUI::NSNotificationData::create();
    max->uintValue = first->getRefID();
    max->text = "{\"w\":\"960\",\"h\":\"640\"}";
    first->onNotification(NOTIFY_WINDOW_MAXIMIZE, max, nullptr);
    ASSERT_TRUE(browser->isMaximised());
    command(NOTIFY_LAYOUT_2X2);
    EXPECT_EQ(browser->getWindows().size(), 1u);
    cocos2d::Node* toast = rig.scene->getChildByNameDeep(NSUI::kMessageHolderName);
    EXPECT_NE(toast, nullptr);
}

TEST_F(ViewerBrowser, WindowsShowConsecutiveSlices)
{
    browser->setLayout(1, 3);
    browser->setImageData(qvtest::phantomCT(16, 16, 100));
    browser->showMiddle();
    EXPECT_EQ(slices(), (std::vector<int>{48, 49, 50}));
    EXPECT_EQ(browser->getCineFrame(), 48);

    isViewerBrowser* small = isViewerBrowser::create();
    small->setContentSize(Size(300, 100));
    rig.scene->addChild(small);
    small->setLayout(1, 3);
    small->setImageData(qvtest::phantomCT(16, 16, 5));
    small->showMiddle();
    std::vector<int> got;
    for (isViewerImage* w : small->getWindows())
        got.push_back(w->getImageActor()->getSliceIndex());
    EXPECT_EQ(got, (std::vector<int>{0, 1, 2}));

    // New windows continue from the first window's slice with its window and colour table.
    browser->setLayout(1, 1);
    browser->setFirstSlice(10, false);
    browser->setWindowLevel(1234.0f, 56.0f);
    NSUI::NSNotificationData* clut = NSUI::NSNotificationData::create();
    clut->text = "bwInverse.plist";
    browser->getFirstWindow()->onNotification(NOTIFY_CLUT_SET, clut, browser->asRef());
    browser->setLayout(2, 2);
    EXPECT_EQ(slices(), (std::vector<int>{10, 11, 12, 13}));
    for (isViewerImage* w : browser->getWindows()) {
        EXPECT_FLOAT_EQ(w->getImageActor()->getClut()->getWidth(), 1234.0f);
        EXPECT_EQ(w->getPalette()[0], 255);
    }
    // And the first window's plane.
    browser->setLayout(1, 1);
    browser->setKind(VIEW_CORONAL);
    browser->setFirstSlice(5, false);
    browser->setLayout(1, 2);
    EXPECT_EQ(slices(), (std::vector<int>{5, 6}));
    for (isViewerImage* w : browser->getWindows())
        EXPECT_EQ(w->getKind(), VIEW_CORONAL);

    // Camera operations reach every window; reads come from the first.
    browser->setZoomRatio(2.5f);
    const Vec3 target = browser->getFirstWindow()->getCrossPoint() + Vec3(3.0f, 0.0f, 0.0f);
    browser->centerOn(target);
    for (isViewerImage* w : browser->getWindows()) {
        EXPECT_FLOAT_EQ(w->getZoomRatio(), 2.5f);
        const Size size = w->getContentSize();
        EXPECT_LT(w->worldToScreen(target).distance(Vec2(size.width / 2, size.height / 2)), 1e-2f);
    }
    EXPECT_FLOAT_EQ(browser->getZoomRatio(), 2.5f);
    EXPECT_EQ(browser->getLookAtTarget(), browser->getFirstWindow()->getLookAtTarget());
}

TEST_F(ViewerBrowser, CineAdvancesByTicksAndWraps)
{
    rig.recorder->watch(NOTIFY_CINE_STATE, nullptr);
    browser->setImageData(qvtest::phantomCT(16, 16, 4));
    browser->setFirstSlice(2, false);

    // Stopped: stepping wraps at both ends.
    command(NOTIFY_CINE_NEXT);
    EXPECT_EQ(slices(), std::vector<int>{3});
    command(NOTIFY_CINE_NEXT);
    EXPECT_EQ(slices(), std::vector<int>{0});
    command(NOTIFY_CINE_PRIOR);
    EXPECT_EQ(slices(), std::vector<int>{3});

    // Playing: the first tick comes after 0.1 s and advances at once, then every 60 ticks of
    // 0.005 s.
    command(NOTIFY_CINE_PLAY_TOGGLE);
    ASSERT_TRUE(browser->isPlaying());
    EXPECT_TRUE(cocos2d::Director::getInstance()->getScheduler()->isScheduled(browser->cineKey(), static_cast<cocos2d::Node*>(browser)));
    rig.director->stepFrame(0.099f);
    EXPECT_EQ(slices(), std::vector<int>{3});
    rig.director->stepFrame(0.002f);
    EXPECT_EQ(slices(), std::vector<int>{0});
    for (int i = 0; i < 59; ++i)
        rig.director->stepFrame(0.005f);
    EXPECT_EQ(slices(), std::vector<int>{0});
    rig.director->stepFrame(0.005f);
    EXPECT_EQ(slices(), std::vector<int>{1});

    // A change of speed starts the count again: the next tick advances.
    for (int i = 0; i < 30; ++i)
        rig.director->stepFrame(0.005f);
    EXPECT_EQ(slices(), std::vector<int>{1});
    command(NOTIFY_CINE_NEXT);
    EXPECT_EQ(browser->getCineInterval(), 40);
    rig.director->stepFrame(0.005f);
    EXPECT_EQ(slices(), std::vector<int>{2});
    for (int i = 0; i < 39; ++i)
        rig.director->stepFrame(0.005f);
    EXPECT_EQ(slices(), std::vector<int>{2});
    rig.director->stepFrame(0.005f);
    EXPECT_EQ(slices(), std::vector<int>{3});

    // Faster and slower within 5 to 120 ticks a frame.
    for (int i = 0; i < 5; ++i)
        command(NOTIFY_CINE_NEXT);
    EXPECT_EQ(browser->getCineInterval(), 5);
    for (int i = 0; i < 8; ++i)
        command(NOTIFY_CINE_PRIOR);
    EXPECT_EQ(browser->getCineInterval(), 120);
    EXPECT_EQ(slices(), std::vector<int>{3});

    // Deactivation by the owner stops the cine and says so.
    browser->setOwner(rig.scene);
    command(NOTIFY_VIEW_ACTIVATE, rig.scene);
    EXPECT_FALSE(browser->isPlaying());
    EXPECT_EQ(browser->getCineFrame(), 0);
    EXPECT_FALSE(cocos2d::Director::getInstance()->getScheduler()->isScheduled(browser->cineKey(), static_cast<cocos2d::Node*>(browser)));
    browser->setOwner(nullptr);
    rig.frame(2);
    std::vector<int> states;
    for (const qvtest::Delivery& d : rig.recorder->of(NOTIFY_CINE_STATE))
        states.push_back(d.intValue);
    EXPECT_EQ(states, (std::vector<int>{1}));
}

TEST_F(ViewerBrowser, CineNeedsTwoSlices)
{
    rig.recorder->watch(NOTIFY_CINE_STATE, nullptr);
    browser->setImageData(qvtest::loosePictures());
    // Loose pictures do have two slices.
    command(NOTIFY_CINE_PLAY_TOGGLE);
    EXPECT_TRUE(browser->isPlaying());
    command(NOTIFY_CINE_PLAY_TOGGLE);
    EXPECT_FALSE(browser->isPlaying());

    isViewerBrowser* single = isViewerBrowser::create();
    rig.scene->addChild(single);
    single->setImageData(qvtest::phantomCT(16, 16, 1));
    single->onNotification(NOTIFY_CINE_PLAY_TOGGLE, nullptr, nullptr);
    EXPECT_FALSE(single->isPlaying());
    rig.frame(2);
    std::vector<int> states;
    for (const qvtest::Delivery& d : rig.recorder->of(NOTIFY_CINE_STATE))
        states.push_back(d.intValue);
    EXPECT_EQ(states, (std::vector<int>{1, 0, 0}));
}

TEST_F(ViewerBrowser, WindowCommandsAreRelayed)
{
    isImageData* image = qvtest::phantomCT();
    browser->setImageData(image);
    browser->setLayout(1, 3);
    const auto& w = browser->getWindows();
    // The second window shows the acquired slices (kind 0), the others the axial plane.
    w[1]->setKind(VIEW_SLICE);
    ASSERT_EQ(w[0]->getKind(), VIEW_AXIAL);
    cocos2d::Ref* owner = rig.scene;
    rig.recorder->watch({NOTIFY_VIEW_PAN_END, NOTIFY_SLICE_NEXT, NOTIFY_VIEW_ZOOM_END}, owner);
    browser->setOwner(owner);

    // A pan end from a window reaches the windows of kinds 1-4 but the sender, and stays here.
    const Vec3 before0 = w[0]->getLookAtTarget();
    const Vec3 before1 = w[1]->getLookAtTarget();
    const Vec3 before2 = w[2]->getLookAtTarget();
    command(NOTIFY_VIEW_PAN_END, w[0], "{\"x\":\"10\",\"y\":\"0\"}");
    EXPECT_EQ(w[0]->getLookAtTarget(), before0);
    EXPECT_EQ(w[1]->getLookAtTarget(), before1);
    EXPECT_NE(w[2]->getLookAtTarget(), before2);

    // A slice step from a window goes to the owner (urgent), and comes back from it to every
    // window.
    const int first = w[0]->getImageActor()->getSliceIndex();
    command(NOTIFY_SLICE_NEXT, w[0]);
    EXPECT_EQ(w[0]->getImageActor()->getSliceIndex(), first);
    rig.frame();
    ASSERT_EQ(rig.recorder->count(NOTIFY_SLICE_NEXT), 1u);
    EXPECT_EQ(rig.recorder->of(NOTIFY_SLICE_NEXT)[0].sender, browser->asRef());
    command(NOTIFY_SLICE_NEXT, owner);
    EXPECT_EQ(w[0]->getImageActor()->getSliceIndex(), first + 1);
    EXPECT_EQ(w[2]->getImageActor()->getSliceIndex(), first + 3);

    // A zoom end goes on to the owner without the sender's focal point.
    command(NOTIFY_VIEW_ZOOM_END, w[0], "{\"validFocal\":\"1\"}", 1.1f);
    // Normal posts arrive one a frame, behind the windows' own.
    for (int i = 0; i < 200 && rig.recorder->count(NOTIFY_VIEW_ZOOM_END) == 0; ++i)
        rig.frame();
    ASSERT_EQ(rig.recorder->count(NOTIFY_VIEW_ZOOM_END), 1u);
    EXPECT_EQ(rig.recorder->of(NOTIFY_VIEW_ZOOM_END)[0].string("validFocal"), "0");
    EXPECT_EQ(rig.recorder->count(NOTIFY_VIEW_PAN_END), 0u);

    // Activation moves between windows only when a window asks; the cross point of a locate
    // sent by the owner puts the active window on the point's slice.
    command(NOTIFY_VIEW_ACTIVATE, w[2]);
    EXPECT_EQ(browser->getActiveWindow(), w[2]);
    EXPECT_TRUE(w[2]->isActive());
    EXPECT_FALSE(w[0]->isActive());
    double p[3];
    qvgen::Phantom(qvtest::axialPhantom()).voxelToPatient(5, 6, 12, p);
    command(NOTIFY_LOCATE_POINT, owner,
            "{\"x\":\"" + std::to_string(p[0]) + "\",\"y\":\"" + std::to_string(p[1]) + "\",\"z\":\"" +
                std::to_string(p[2]) + "\"}");
    EXPECT_EQ(w[2]->getImageActor()->getSliceIndex(), 12);
    EXPECT_EQ(w[0]->getImageActor()->getSliceIndex(), 10);
    EXPECT_EQ(browser->getCineFrame(), 10);
    browser->setOwner(nullptr);
}


// Where each command from a window goes: up to the owner, or only into this browser's windows.
TEST_F(ViewerBrowser, RelayTableBetweenWindowsAndOwner)
{
    browser->setImageData(qvtest::phantomCT());
    browser->setLayout(1, 3);
    const std::vector<isViewerImage*> w = browser->getWindows();
    cocos2d::Ref* owner = rig.scene;
    browser->setOwner(owner);
    const std::vector<unsigned int> commands = {
        NOTIFY_SLICE_NEXT,        NOTIFY_SLICE_PRIOR,           NOTIFY_VIEW_AXIAL,       NOTIFY_VIEW_SAGITTAL,
        NOTIFY_VIEW_CORONAL,      NOTIFY_VIEW_REFRESH,          NOTIFY_WL_DEFAULT,       NOTIFY_WL_SET,
        NOTIFY_TOOL_SELECT,       NOTIFY_TOOL_WINDOW_LEVEL,     NOTIFY_TOOL_ZOOM,        NOTIFY_TOOL_PAN,
        NOTIFY_TOOL_ROI_LINE,     NOTIFY_TOOL_ROI_POINT,        NOTIFY_TOOL_ROI_ANGLE,   NOTIFY_TOOL_ROI_CIRCLE,
        NOTIFY_TOOL_ROI_POLYGON,  NOTIFY_WL_INPUT,              NOTIFY_WL_FUNC_LINEAR,   NOTIFY_WL_FUNC_LOG10,
        NOTIFY_WL_FUNC_LOG10_INVERSE, NOTIFY_CLUT_SET,          NOTIFY_ROI_REMOVE,       NOTIFY_VIEW_INTERACTION_END,
        NOTIFY_TOOL_LOCATE,       NOTIFY_VIEW_PAN,              NOTIFY_VIEW_ZOOM,        NOTIFY_VIEW_ZOOM_WHEEL,
        NOTIFY_VIEW_WINDOW_LEVEL, NOTIFY_VIEW_PAN_END,          NOTIFY_VIEW_ZOOM_END,    NOTIFY_VIEW_WINDOW_LEVEL_END,
        NOTIFY_LOCATE_POINT,      NOTIFY_VIEW_ACTIVATE,         NOTIFY_WINDOW_LINK,      NOTIFY_VIEW_ANGLE,
    };
    const std::set<unsigned int> up = {
        NOTIFY_SLICE_NEXT,       NOTIFY_SLICE_PRIOR,     NOTIFY_VIEW_AXIAL,        NOTIFY_VIEW_SAGITTAL,
        NOTIFY_VIEW_CORONAL,     NOTIFY_VIEW_REFRESH,    NOTIFY_WL_DEFAULT,        NOTIFY_WL_SET,
        NOTIFY_TOOL_SELECT,      NOTIFY_TOOL_WINDOW_LEVEL, NOTIFY_TOOL_ZOOM,       NOTIFY_TOOL_PAN,
        NOTIFY_TOOL_ROI_LINE,    NOTIFY_TOOL_ROI_POINT,  NOTIFY_TOOL_ROI_ANGLE,    NOTIFY_TOOL_ROI_CIRCLE,
        NOTIFY_TOOL_ROI_POLYGON, NOTIFY_WL_INPUT,        NOTIFY_TOOL_LOCATE,       NOTIFY_VIEW_ZOOM_END,
        NOTIFY_VIEW_WINDOW_LEVEL_END, NOTIFY_LOCATE_POINT, NOTIFY_VIEW_ACTIVATE,
    };
    for (unsigned int id : commands)
        rig.recorder->watch(id, owner);
    rig.recorder->watch(NOTIFY_CINE_STATE, owner);

    // From a window: a command either goes up (from the browser) or stays below; the layouts,
    // cine and window-level functions are the browser's own.
    const std::string there = isViewerBrowser::pointText(w[0]->getCrossPoint());
    for (unsigned int id : commands)
        command(id, w[0], there, 1.0f);
    for (int i = 0; i < 300; ++i)
        rig.frame();
    for (unsigned int id : commands) {
        const std::vector<qvtest::Delivery> heard = rig.recorder->of(id);
        EXPECT_EQ(heard.size(), up.count(id)) << id;
        for (const qvtest::Delivery& d : heard)
            EXPECT_EQ(d.sender, browser->asRef()) << id;
    }
    // The activation made the sender the active window.
    EXPECT_EQ(browser->getActiveWindow(), w[0]);
    rig.recorder->got.clear();

    // Typed window input goes up even when the owner sent it.
    command(NOTIFY_WL_INPUT, owner);
    // A tool from the owner reaches every window; the locate tool leaves the active one showing
    // its lines.
    command(NOTIFY_TOOL_WINDOW_LEVEL, owner);
    for (isViewerImage* window : w)
        EXPECT_EQ(window->getImageInteractor()->getMode(), MODE_WINDOW_LEVEL);
    command(NOTIFY_TOOL_LOCATE, owner);
    for (isViewerImage* window : w)
        EXPECT_EQ(window->getImageInteractor()->getMode(), MODE_LOCATE);

    // A zoom gesture acts only on its own window, and never from the owner.
    const float z0 = w[0]->getZoomRatio(), z1 = w[1]->getZoomRatio(), z2 = w[2]->getZoomRatio();
    command(NOTIFY_VIEW_ZOOM, w[1], "", 1.5f);
    command(NOTIFY_VIEW_ZOOM, owner, "", 1.5f);
    EXPECT_FLOAT_EQ(w[0]->getZoomRatio(), z0);
    EXPECT_FLOAT_EQ(w[1]->getZoomRatio(), z1 * 1.5f);
    EXPECT_FLOAT_EQ(w[2]->getZoomRatio(), z2);

    // A point located in the second window: the others but the active one take it in their
    // plane, and it goes up.
    const Vec3 c0 = w[0]->getCrossPoint();
    const Vec3 c2 = w[2]->getCrossPoint();
    const Vec3 moved = c2 + Vec3(3.0f, 0.0f, -2.0f);
    command(NOTIFY_LOCATE_POINT, w[1], isViewerBrowser::pointText(moved));
    EXPECT_EQ(w[0]->getCrossPoint(), c0);
    EXPECT_NE(w[2]->getCrossPoint(), c2);

    // The link flag follows the payload.
    NSUI::NSNotificationData* link = NSUI::NSNotificationData::create();
    link->intValue = 0;
    browser->onNotification(NOTIFY_WINDOW_LINK, link, w[0]);
    EXPECT_FALSE(browser->isLinked());
    link->intValue = 2;
    browser->onNotification(NOTIFY_WINDOW_LINK, link, owner);
    EXPECT_TRUE(browser->isLinked());

    // Cine state goes to the owner.
    command(NOTIFY_CINE_PLAY_TOGGLE, owner);
    command(NOTIFY_CINE_PLAY_TOGGLE, owner);
    for (int i = 0; i < 300; ++i)
        rig.frame();
    EXPECT_EQ(rig.recorder->count(NOTIFY_WL_INPUT), 1u);
    EXPECT_EQ(rig.recorder->count(NOTIFY_LOCATE_POINT), 1u);
    EXPECT_EQ(rig.recorder->count(NOTIFY_CINE_STATE), 2u);
    EXPECT_EQ(rig.recorder->count(NOTIFY_TOOL_WINDOW_LEVEL), 0u);

    // Without an owner, typed input goes nowhere; an activation from a window changes nothing,
    // one without a sender leaves the browser without an active-looking window.
    browser->setOwner(nullptr);
    rig.recorder->got.clear();
    command(NOTIFY_WL_INPUT, w[0]);
    command(NOTIFY_VIEW_ACTIVATE, w[2]);
    EXPECT_EQ(browser->getActiveWindow(), w[0]);
    EXPECT_TRUE(w[0]->isActive());
    EXPECT_FALSE(w[2]->isActive());
    command(NOTIFY_VIEW_ACTIVATE, nullptr);
    EXPECT_FALSE(w[0]->isActive());
    rig.frame(10);
    EXPECT_EQ(rig.recorder->count(NOTIFY_WL_INPUT), 0u);
}

// The controls of a "root" layout that a screen attaches: the slider follows the first window,
// the add and remove buttons change the number of columns, and a one-slice image hides them.
TEST_F(ViewerBrowser, AttachedControls)
{
    auto* root = cocos2d::Node::create();
    root->setName("root");
    auto* slider = cocos2d::ui::Slider::create();
    slider->setName("slider");
    root->addChild(slider);
    std::vector<cocos2d::Node*> buttons;
    for (const char* name : {"addImage", "delImage", "btnNext", "btnPrior"}) {
        auto* button = cocos2d::Node::create();
        button->setName(name);
        button->setContentSize(Size(40, 40));
        button->setPosition(Vec2(50.0f * static_cast<float>(buttons.size()), 0.0f));
        root->addChild(button);
        buttons.push_back(button);
    }
    browser->addChild(root, 10);
    browser->setImageData(qvtest::phantomCT(16, 16, 21));
    browser->setFirstSlice(5, true);
    EXPECT_EQ(slider->getPercent(), 25);
    browser->setFirstSlice(7, false);
    EXPECT_EQ(slider->getPercent(), 25);
    browser->showMiddle();
    EXPECT_EQ(slider->getPercent(), 50);

    auto touchAt = [this](cocos2d::Node* button) {
        const Vec2 at = button->convertToWorldSpace(Vec2(20, 20));
        cocos2d::Touch touch;
        touch.setLocation(at);
        const bool taken = browser->onTouchBegan(&touch, nullptr);
        if (taken)
            browser->onTouchEnded(&touch, nullptr);
        return taken;
    };
    EXPECT_TRUE(touchAt(buttons[0]));
    EXPECT_EQ(browser->getColumns(), 2);
    EXPECT_TRUE(touchAt(buttons[1]));
    EXPECT_EQ(browser->getColumns(), 1);
    EXPECT_FALSE(touchAt(buttons[2]));

    browser->setImageData(qvtest::phantomCT(16, 16, 1));
    EXPECT_FALSE(slider->isVisible());
    for (cocos2d::Node* button : buttons)
        EXPECT_FALSE(button->isVisible());
}

} // namespace

TEST_F(ViewerBrowser, WindowsPastTheLastSliceKeepNothingOfAnotherSlice)
{
    // Three slices in a 2 x 2 grid: paging moves windows past the end and back. A window
    // without a slice shows no measurement and no edge letter or corner text.
    isImageData* image = qvtest::phantomCT(16, 16, 3);
    browser->setImageData(image);
    browser->setFirstSlice(1, false);
    rig.frame(2);
    isViewerImage* first = browser->getFirstWindow();
    ASSERT_TRUE(first->getROIActor()->addPointROI(Vec3(4, 4, 0)));
    browser->setLayout(2, 2);
    const int count = 3, marked = 1;

    auto check = [&](const char* when) {
        rig.frame(3);
        SCOPED_TRACE(when);
        const std::vector<int> shown = slices();
        for (size_t i = 0; i < shown.size(); ++i) {
            SCOPED_TRACE("window " + std::to_string(i) + " at slice " + std::to_string(shown[i]));
            isViewerImage* w = browser->getWindows()[i];
            const bool inside = shown[i] >= 0 && shown[i] < count;
            EXPECT_EQ(w->getROIActor()->getROIActors().size(), shown[i] == marked ? 1u : 0u);
            isActorOverlay* overlay = w->getActorManager()->getOverlayActor();
            ASSERT_NE(overlay, nullptr);
            for (int edge = 0; edge < 4; ++edge) {
                if (isNodeOverlayText* letter = overlay->getEdgeLabel(edge)) {
                    EXPECT_EQ(letter->isVisible(), inside) << "edge " << edge;
                }
            }
        }
    };
    check("grid made from slice 1");
    browser->setFirstSlice(0, false);
    check("paged back to slice 0");
    browser->setFirstSlice(2, false);
    check("paged to the last slice");
    browser->relayout();
    check("laid out again");
}
