// The reformatted layout on the phantom, drawn: a point located in the axial view becomes the
// cross point of all three planes, each plane's slice passes through it, and each view draws its
// reference lines through it.
#include "GLViewers.h"

#include "support/MultiViewRig.h"

#include "appManager.h"
#include "isActorImage.h"
#include "isActorManager.h"
#include "isActorOverlay.h"
#include "isNodeOverlayText.h"
#include "isViewerBrowser.h"

using namespace isImageSDK;
using cocos2d::Rect;
using cocos2d::Vec2;
using cocos2d::Vec3;

namespace {

class MprGL : public qvgl::GLViewersTest {
protected:
    // The phantom opened in the reformatted layout on the scene; windows by view kind.
    appManager* openMpr(std::map<int, isViewerImage*>& windows)
    {
        const qvgen::Phantom phantom(qvtest::axialPhantom(64, 64, 40));
        isImageData* image = qvtest::phantomVolume(phantom, PIXEL_I16);
        appManager* manager = appManager::create();
        manager->retain();
        manager->openImage(image, Rect(0, 0, qvgl::kWindowWidth, qvgl::kWindowHeight), VIEWMODE_MPR);
        isViewerMulti* multi = manager->getViewer();
        rig.scene->addChild(multi);
        for (const auto& group : multi->getGroups())
            for (KeyViewProperty* cell : group.second)
                windows[cell->getViewKind()] = cell->getBrowser()->getFirstWindow();
        return manager;
    }
};

// A reference line is drawn in a plane's colour; the phantom's pixels are grey.
bool colouredNear(const Vec2& screen)
{
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
            const auto p = qvgl::readPixel(static_cast<int>(screen.x) + dx, static_cast<int>(screen.y) + dy);
            const int high = std::max({p[0], p[1], p[2]});
            const int low = std::min({p[0], p[1], p[2]});
            if (high - low > 100)
                return true;
        }
    return false;
}

TEST_F(MprGL, LocatedPointLiesOnTheCrossLinesOfAllThreePlanes)
{
    std::map<int, isViewerImage*> windows;
    appManager* manager = openMpr(windows);
    ASSERT_EQ(windows.size(), 3u);
    rig.frame(3);

    // The screen's locate tool, then a click in the axial view away from its centre.
    manager->getViewer()->sendCommand(NOTIFY_TOOL_LOCATE, nullptr);
    isViewerImage* axial = windows[VIEW_AXIAL];
    Vec3 point;
    ASSERT_TRUE(axial->screenToWorld(Vec2(110, 150), point));
    NSUI::NSNotificationData* located = NSUI::NSNotificationData::create();
    located->text = isViewerBrowser::pointText(point);
    axial->onNotification(NOTIFY_LOCATE_POINT, located, nullptr);
    rig.frame(6);

    for (const auto& entry : windows) {
        SCOPED_TRACE(entry.first);
        isViewerImage* window = entry.second;
        EXPECT_LT(window->getCrossPoint().distance(point), 1e-3f);
        // The slice shown passes through the point (within half a voxel).
        const isSliceInfo* slice = window->getImageActor()->getCurrentSliceInfo();
        ASSERT_NE(slice, nullptr);
        const float* m = slice->matrix.m;
        const Vec3 normal = Vec3(m[8], m[9], m[10]).getNormalized();
        const Vec3 origin(m[12], m[13], m[14]);
        EXPECT_LT(std::fabs((point - origin).dot(normal)), 1.01f);
        // Reference lines run through the point along the view's axes (gap of 30 around it).
        ASSERT_TRUE(window->isShown());
        const Vec2 screen = window->convertToWorldSpace(window->worldToScreen(point));
        const Vec2 corner = window->convertToWorldSpace(Vec2::ZERO);
        const cocos2d::Size size = window->getContentSize();
        int checked = 0;
        for (const Vec2& step : {Vec2(45, 0), Vec2(-45, 0), Vec2(0, 45), Vec2(0, -45)}) {
            const Vec2 probe = screen + step;
            if (probe.x < corner.x + 5 || probe.y < corner.y + 5 || probe.x > corner.x + size.width - 5 ||
                probe.y > corner.y + size.height - 5)
                continue;
            EXPECT_TRUE(colouredNear(probe)) << probe.x << "," << probe.y;
            ++checked;
        }
        EXPECT_GE(checked, 2);
        // And nothing coloured where no line runs.
        EXPECT_FALSE(colouredNear(screen + Vec2(45, 45)));
    }
    manager->clear();
    manager->release();
}

} // namespace

namespace {

// The text of the window's bottom-left item bound to the given notice ("" when none is bound).
std::string bottomLeftValue(isViewerImage* window, unsigned int id)
{
    isActorOverlay* overlay = window->getActorManager()->getOverlayActor();
    for (NSUI::NSLayout* row : overlay->getCornerRows(OVERLAY_BOTTOM_LEFT))
        for (cocos2d::Node* child : row->getChildren())
            if (auto* text = dynamic_cast<isNodeOverlayText*>(child))
                if (text->getNotificationId() == id)
                    return text->getString();
    return "?";
}

} // namespace

TEST_F(MprGL, EveryPlaneShowsItsThicknessAndWindowFromTheStart)
{
    std::map<int, isViewerImage*> windows;
    appManager* manager = openMpr(windows);
    ASSERT_EQ(windows.size(), 3u);
    rig.frame(3);
    // A text in each top-right corner (the phantom carries none of its own).
    for (const auto& entry : windows)
        for (NSUI::NSLayout* row : entry.second->getActorManager()->getOverlayActor()->getCornerRows(OVERLAY_TOP_RIGHT))
            for (cocos2d::Node* child : row->getChildren())
                if (auto* text = dynamic_cast<isNodeOverlayText*>(child))
                    text->setValue("2026.12.06 10:00");
    rig.frame(3);
    for (const auto& entry : windows) {
        SCOPED_TRACE(entry.first);
        EXPECT_FALSE(bottomLeftValue(entry.second, NOTIFY_OVERLAY_WINDOW).empty());
        EXPECT_NE(bottomLeftValue(entry.second, NOTIFY_OVERLAY_WINDOW), "?");
        EXPECT_FALSE(bottomLeftValue(entry.second, NOTIFY_OVERLAY_THICKNESS).empty());
        // The right-aligned texts end inside their window, clear of its edge.
        isViewerImage* window = entry.second;
        const float right = window->convertToWorldSpace(Vec2(window->getContentSize().width, 0)).x;
        const float left = window->convertToWorldSpace(Vec2::ZERO).x;
        int texts = 0;
        for (NSUI::NSLayout* row : window->getActorManager()->getOverlayActor()->getCornerRows(OVERLAY_TOP_RIGHT))
            for (cocos2d::Node* child : row->getChildren()) {
                auto* text = dynamic_cast<isNodeOverlayText*>(child);
                if (!text || !text->isVisible() || text->getString().empty())
                    continue;
                const Rect box = text->getBoundingBox();
                const float end = row->convertToWorldSpace(Vec2(box.getMaxX(), 0)).x;
                const float start = row->convertToWorldSpace(Vec2(box.getMinX(), 0)).x;
                EXPECT_LE(end, right - 4.0f) << text->getString();
                EXPECT_GE(start, left) << text->getString();
                ++texts;
            }
        EXPECT_GT(texts, 0);
    }
    manager->clear();
    manager->release();
}
