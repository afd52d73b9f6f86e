// The overlay actor in headless windows: corners and rows as the viewer builds them, the DICOM
// texts and orientation letters filled from their own window's notices into the texts bound to
// the matching numbers, the metrics from the window size and the display's resolution, and
// rebuilding from nothing.
#include "isActorManager.h"
#include "isActorOverlay.h"
#include "support/DisplayScene.h"
#include "support/FakeRenderWindow.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"

#include <gtest/gtest.h>

#include <string>

using namespace isImageSDK;
using cocos2d::Size;
using NSUI::NSNotificationCenter;
using NSUI::NSNotificationData;

namespace {

class Overlay : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig.startHeadless();
        for (auto*& window : windows) {
            window = qvtest::FakeRenderWindow::create();
            window->setContentSize(Size(301, 200));
            rig.scene->addChild(window);
        }
        for (int i = 0; i < 2; ++i) {
            actors[i] = isActorOverlay::create();
            actors[i]->retain();
            actors[i]->attachRenderWindow(windows[i]);
        }
    }
    void TearDown() override
    {
        cocos2d::Device::setDPIForTest(0);
        for (isActorOverlay* actor : actors)
            if (actor)
                actor->release();
        rig.stop();
    }

    qvtest::DisplayScene rig;
    qvtest::FakeRenderWindow* windows[2] = {};
    isActorOverlay* actors[2] = {};
};

} // namespace

TEST_F(Overlay, CornersGrowRowByRowAsTheViewerBuildsThem)
{
    isActorOverlay* overlay = actors[0];
    EXPECT_EQ(overlay->getRowWidth(), 150);  // half the window, truncated
    EXPECT_EQ(overlay->getFontSize(), 30);
    EXPECT_EQ(overlay->getRowHeight(), 34);

    isNodeOverlayText* first = overlay->addTopLeftText("Patient");
    isNodeOverlayText* second = overlay->addTopLeftText("ID");
    NSUI::NSLayout* corner = overlay->getCornerLayout(OVERLAY_TOP_LEFT);
    ASSERT_NE(corner, nullptr);
    EXPECT_EQ(corner->getParent(), windows[0]);
    EXPECT_EQ(corner->getLocalZOrder(), 100);
    EXPECT_EQ(corner->getLayoutType(), cocos2d::ui::Layout::Type::VERTICAL);
    ASSERT_EQ(overlay->getCornerRows(OVERLAY_TOP_LEFT).size(), 1u);
    NSUI::NSLayout* row = overlay->getCornerRows(OVERLAY_TOP_LEFT)[0];
    EXPECT_EQ(first->getParent(), row);
    EXPECT_EQ(second->getParent(), row);
    EXPECT_EQ(overlay->getCornerItemCount(OVERLAY_TOP_LEFT), 2);
    EXPECT_EQ(first->getString(), "Patient");
    EXPECT_EQ(first->getNotificationId(), NOTIFY_NONE);
    EXPECT_EQ(first->getRenderWindow(), windows[0]);
    EXPECT_EQ(first->getFontSize(), 30.0f);
    EXPECT_EQ(corner->getContentSize(), Size(150, 34));

    overlay->addCornerRow(OVERLAY_TOP_LEFT);
    isNodeOverlayText* third = overlay->addTopLeftText("Study");
    overlay->addCornerRow(OVERLAY_TOP_LEFT);
    ASSERT_EQ(overlay->getCornerRows(OVERLAY_TOP_LEFT).size(), 3u);
    EXPECT_EQ(third->getParent(), overlay->getCornerRows(OVERLAY_TOP_LEFT)[1]);
    EXPECT_EQ(corner->getContentSize(), Size(150, 3 * 34));
    EXPECT_EQ(overlay->getCornerItemCount(OVERLAY_TOP_LEFT), 0);  // the new row is empty

    // Right corners fill from the right; buttons take the row height; the bottom-right corner
    // takes no further rows; a number naming no corner makes nothing.
    overlay->addTopRightText("Series");
    isNodeOverlaySprite* button = overlay->addTopRightButton();
    ASSERT_EQ(overlay->getCornerRows(OVERLAY_TOP_RIGHT).size(), 1u);
    EXPECT_EQ(overlay->getCornerRows(OVERLAY_TOP_RIGHT)[0]->getLayoutType(), cocos2d::ui::Layout::Type::RIGHT_ROW);
    EXPECT_EQ(overlay->getCornerRows(OVERLAY_TOP_LEFT)[0]->getLayoutType(), cocos2d::ui::Layout::Type::RELATIVE);
    EXPECT_EQ(button->getParent(), overlay->getCornerRows(OVERLAY_TOP_RIGHT)[0]);
    EXPECT_EQ(button->getButtonHeight(), 40);  // its picture drawn 32 high
    EXPECT_EQ(overlay->getCornerRows(OVERLAY_TOP_RIGHT)[0]->getContentSize().height, 40.0f);
    overlay->addCornerText(OVERLAY_BOTTOM_RIGHT, "x");
    overlay->addCornerRow(OVERLAY_BOTTOM_RIGHT);
    EXPECT_EQ(overlay->getCornerRows(OVERLAY_BOTTOM_RIGHT).size(), 1u);
    EXPECT_EQ(overlay->addCornerText(5, "nowhere"), nullptr);
    overlay->addCornerRow(2);
    EXPECT_EQ(overlay->getItemCount(), 6u);

    // A row asked for before any text keeps the corner's first row above it.
    overlay->addBottomLeftRow();
    EXPECT_EQ(overlay->getCornerRows(OVERLAY_BOTTOM_LEFT).size(), 2u);
    EXPECT_EQ(overlay->getCornerLayout(OVERLAY_BOTTOM_LEFT)->getContentSize(), Size(150, 2 * 34));

    // Items are found by name in every corner, top-left first.
    third->setName("study");
    button->setName("play");
    EXPECT_EQ(overlay->findItem("play"), button);
    EXPECT_EQ(overlay->findItem("missing"), nullptr);
    overlay->setItemVisible("play", false);
    EXPECT_FALSE(button->isVisible());
    overlay->setAllVisible(false);
    EXPECT_FALSE(corner->isVisible());
    EXPECT_FALSE(overlay->getCornerLayout(OVERLAY_TOP_RIGHT)->isVisible());
}

TEST_F(Overlay, DicomTextsAndLettersComeFromTheirOwnWindow)
{
    isNodeOverlayText* texts[2][4];
    for (int w = 0; w < 2; ++w) {
        texts[w][0] = actors[w]->addTopLeftText("");
        texts[w][0]->bindNotification("", "Hosp: ", ";", NOTIFY_OVERLAY_HOSPITAL, false);
        texts[w][1] = actors[w]->addTopLeftText("");
        texts[w][1]->bindNotification("", "", "", NOTIFY_OVERLAY_PATIENT, false);
        actors[w]->addCornerRow(OVERLAY_TOP_LEFT);
        texts[w][2] = actors[w]->addTopRightText("");
        texts[w][2]->bindNotification("", "Ser ", "", NOTIFY_OVERLAY_SERIES_ID, false);
        texts[w][3] = actors[w]->addBottomLeftText("");
        texts[w][3]->bindNotification("", "T:", "", NOTIFY_OVERLAY_THICKNESS, false);
    }

    rig.post(windows[0], NOTIFY_OVERLAY_INFO_READY,
         "{\"hospital\":\"General\",\"patient\":\"DOE^JANE\",\"seriesID\":\"4\",\"studyID\":\"9\"}");
    EXPECT_EQ(texts[0][0]->getString(), "Hosp: General;");
    EXPECT_EQ(texts[0][1]->getString(), "DOE^JANE");
    EXPECT_EQ(texts[0][2]->getString(), "Ser 4");
    EXPECT_EQ(texts[0][3]->getString(), "T:");  // follows its own notice only
    for (isNodeOverlayText* other : texts[1])
        EXPECT_EQ(other->getString(), other->getPrefix() + other->getSuffix());

    // A key missing from the next payload empties the text down to prefix and suffix.
    rig.post(windows[0], NOTIFY_OVERLAY_INFO_READY, "{\"patient\":\"ROE^RICHARD\"}");
    EXPECT_EQ(texts[0][0]->getString(), "Hosp: ;");
    EXPECT_EQ(texts[0][1]->getString(), "ROE^RICHARD");
    // Names are shown without the empty groups and components a writer left at their end.
    rig.post(windows[0], NOTIFY_OVERLAY_INFO_READY, "{\"patient\":\"Wang^XiaoDong=王^小東=\"}");
    EXPECT_EQ(texts[0][1]->getString(), "Wang^XiaoDong=王^小東");
    rig.post(windows[0], NOTIFY_OVERLAY_INFO_READY, "{\"patient\":\"DOE^JOHN^^^\",\"hospital\":\"A^B=\"}");
    EXPECT_EQ(texts[0][1]->getString(), "DOE^JOHN");
    EXPECT_EQ(texts[0][0]->getString(), "Hosp: A^B=;");  // not a name
    // A name and an institution as a file may hold them are drawn as stored: not reversed, not hidden.
    rig.post(windows[0], NOTIFY_OVERLAY_INFO_READY,
             "{\"patient\":\"EVIL\u202E^NAME\",\"hospital\":\"\u2067General\u200B\u2069\"}");
    EXPECT_EQ(texts[0][1]->getString(), "EVIL^NAME");
    EXPECT_EQ(texts[0][0]->getString(), "Hosp: General;");
    rig.post(windows[1], NOTIFY_OVERLAY_THICKNESS, "", 2.5f);
    EXPECT_EQ(texts[1][3]->getString(), "T:2.50");
    EXPECT_EQ(texts[0][3]->getString(), "T:");

    // Orientation letters at the edges' middles; a missing letter is empty.
    rig.post(windows[1], NOTIFY_OVERLAY_ORIENTATION, "{\"t\":\"A\",\"r\":\"L\",\"b\":\"P\"}");
    EXPECT_EQ(actors[0]->getEdgeLabel(OVERLAY_EDGE_TOP), nullptr);
    const char* expected[4] = {"A", "P", "", "L"};
    const int aligns[4] = {2, 8, 4, 6};
    for (int edge = 0; edge < 4; ++edge) {
        isNodeOverlayText* label = actors[1]->getEdgeLabel(edge);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->getString(), expected[edge]);
        EXPECT_EQ(label->getParent(), windows[1]);
        EXPECT_EQ(label->getLocalZOrder(), 100);
        auto* param = dynamic_cast<cocos2d::ui::RelativeLayoutParameter*>(label->getLayoutParameter());
        ASSERT_NE(param, nullptr);
        EXPECT_EQ(int(param->getAlign()), aligns[edge]);
    }
    rig.post(windows[1], NOTIFY_OVERLAY_ORIENTATION, "{\"t\":\"H\",\"r\":\"R\",\"b\":\"F\",\"l\":\"L\"}");
    EXPECT_EQ(actors[1]->getEdgeLabel(OVERLAY_EDGE_LEFT)->getString(), "L");
    EXPECT_EQ(windows[1]->getChildrenCount(), 3u + 4u);  // three corners, four letters made once
}

TEST_F(Overlay, MetricsFollowTheWindowAndTheDisplayResolution)
{
    isActorOverlay* overlay = actors[0];
    isNodeOverlayText* text = overlay->addTopLeftText("a");
    overlay->addCornerRow(OVERLAY_TOP_LEFT);
    isNodeOverlaySprite* button = overlay->addTopRightButton();
    overlay->setEdgeLabels("A", "P", "R", "L");

    cocos2d::Device::setDPIForTest(96);  // 15.1 px for 4 mm: raised to 20
    windows[0]->setContentSize(Size(500, 300));
    overlay->updateLayout();
    EXPECT_EQ(overlay->getFontSize(), 20);
    EXPECT_EQ(overlay->getRowHeight(), 24);
    EXPECT_EQ(overlay->getRowWidth(), 250);
    EXPECT_EQ(text->getFontSize(), 20.0f);
    EXPECT_EQ(button->getButtonHeight(), 40);  // the row of a button is as tall as it needs
    EXPECT_EQ(overlay->getEdgeLabel(OVERLAY_EDGE_RIGHT)->getFontSize(), 20.0f);
    EXPECT_EQ(overlay->getCornerLayout(OVERLAY_TOP_LEFT)->getContentSize(), Size(250, 48));
    EXPECT_EQ(overlay->getCornerRows(OVERLAY_TOP_LEFT)[1]->getContentSize(), Size(250, 24));
    EXPECT_EQ(overlay->getCornerLayout(OVERLAY_TOP_RIGHT)->getContentSize(), Size(250, 40));

    cocos2d::Device::setDPIForTest(300);  // 47.2 px: lowered to 30
    windows[0]->setContentSize(Size(1.5f, 300));
    overlay->updateLayout();
    EXPECT_EQ(overlay->getFontSize(), 30);
    EXPECT_EQ(overlay->getRowHeight(), 34);
    EXPECT_EQ(overlay->getRowWidth(), 100);

    // On a HiDPI screen two framebuffer pixels make one design unit: 300 dots per inch are 150
    // units, and 4 mm of them 23.6.
    cocos2d::Director::getInstance()->getOpenGLView()->setDesignResolutionSize(320, 240,
                                                                              cocos2d::ResolutionPolicy::SHOW_ALL);
    overlay->updateLayout();
    EXPECT_EQ(overlay->getFontSize(), 23);
    EXPECT_EQ(overlay->getRowHeight(), 27);

    // A window too narrow for half a unit gives rows of 100 from the start.
    isActorOverlay* narrow = isActorOverlay::create();
    narrow->attachRenderWindow(windows[0]);
    EXPECT_EQ(narrow->getRowWidth(), 100);
    narrow->clear();
}

TEST_F(Overlay, RebuildStartsFromNothingAndOldTextsGoQuiet)
{
    isActorOverlay* overlay = actors[0];
    isNodeOverlayText* old = overlay->addTopLeftText("");
    old->retain();
    old->bindNotification("", "", "", NOTIFY_OVERLAY_PATIENT, false);
    overlay->setEdgeLabels("A", "P", "R", "L");
    EXPECT_EQ(windows[0]->getChildrenCount(), 5u);

    overlay->removeAll();
    EXPECT_EQ(windows[0]->getChildrenCount(), 0u);
    EXPECT_EQ(overlay->getCornerLayout(OVERLAY_BOTTOM_RIGHT) != nullptr, true);  // made anew
    EXPECT_EQ(overlay->getEdgeLabel(OVERLAY_EDGE_TOP), nullptr);
    EXPECT_EQ(overlay->getItemCount(), 0u);
    EXPECT_TRUE(overlay->getCornerRows(OVERLAY_TOP_LEFT).empty());

    isNodeOverlayText* fresh = overlay->addTopLeftText("");
    fresh->bindNotification("", "", "", NOTIFY_OVERLAY_PATIENT, false);
    EXPECT_EQ(fresh->getParent()->getParent()->getParent(), windows[0]);  // row, corner, window
    EXPECT_EQ(windows[0]->getChildrenCount(), 2u);
    rig.post(windows[0], NOTIFY_OVERLAY_INFO_READY, "{\"patient\":\"DOE\"}");
    EXPECT_EQ(fresh->getString(), "DOE");
    EXPECT_EQ(old->getString(), "");
    old->release();
}
