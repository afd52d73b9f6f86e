// The reformatted layout on the phantom, drawn: a point located in the axial view becomes the
// cross point of all three planes, each plane's slice passes through it, and each view draws its
// reference lines through it.
#include "GLViewers.h"

#include "support/MultiViewRig.h"

#include "appManager.h"
#include "isActorImage.h"
#include "isViewerBrowser.h"

using namespace isImageSDK;
using cocos2d::Rect;
using cocos2d::Vec2;
using cocos2d::Vec3;

namespace {

class MprGL : public qvgl::GLViewersTest {};

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
    const qvgen::Phantom phantom(qvtest::axialPhantom(64, 64, 40));
    isImageData* image = qvtest::phantomVolume(phantom, PIXEL_I16);
    appManager* manager = appManager::create();
    manager->retain();
    manager->openImage(image, Rect(0, 0, qvgl::kWindowWidth, qvgl::kWindowHeight), VIEWMODE_MPR);
    isViewerMulti* multi = manager->getViewer();
    rig.scene->addChild(multi);
    std::map<int, isViewerImage*> windows;
    for (const auto& group : multi->getGroups())
        for (KeyViewProperty* cell : group.second)
            windows[cell->getViewKind()] = cell->getBrowser()->getFirstWindow();
    ASSERT_EQ(windows.size(), 3u);
    rig.frame(3);

    // The screen's locate tool, then a click in the axial view away from its centre.
    multi->sendCommand(NOTIFY_TOOL_LOCATE, nullptr);
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
