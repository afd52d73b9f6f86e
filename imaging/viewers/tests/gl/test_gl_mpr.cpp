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
    // mr: unsigned MR signal whose files carry no window, so that each view takes its window from
    // the range of the first slice it draws.
    appManager* openMpr(std::map<int, isViewerImage*>& windows, bool mr = false, int mode = VIEWMODE_MPR)
    {
        const qvgen::Phantom phantom(qvtest::axialPhantom(64, 64, 40));
        isImageData* image = qvtest::phantomVolume(phantom, mr ? PIXEL_U16 : PIXEL_I16);
        if (mr)
            for (isSliceInfo* s : image->getSlices()) {
                s->modality = MODALITY_MR;
                s->windowPresent = 0;
            }
        appManager* manager = appManager::create();
        manager->retain();
        manager->openImage(image, Rect(0, 0, qvgl::kWindowWidth, qvgl::kWindowHeight), mode);
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
    isViewerImage* axial = windows[VIEW_AXIAL];
    Vec3 point;
    ASSERT_TRUE(axial->screenToWorld(Vec2(110, 150), point));
    const auto locate = [&] {
        manager->getViewer()->sendCommand(NOTIFY_TOOL_LOCATE, nullptr);
        NSUI::NSNotificationData* located = NSUI::NSNotificationData::create();
        located->text = isViewerBrowser::pointText(point);
        axial->onNotification(NOTIFY_LOCATE_POINT, located, nullptr);
        rig.frame(6);
    };
    locate();

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

    // Magnified, each line lies on the slice that the other plane shows: through the centre of
    // the voxel the three slices share, not through the point between voxels that was clicked.
    Vec3 shared;
    for (const auto& entry : windows) {
        const float* m = entry.second->getImageActor()->getCurrentSliceInfo()->matrix.m;
        const Vec3 normal = Vec3(m[8], m[9], m[10]).getNormalized();
        shared += normal * normal.dot(Vec3(m[12], m[13], m[14]));
    }
    for (const auto& entry : windows)
        entry.second->zoomBy(2.0f);
    rig.frame(2);
    locate();
    for (const auto& entry : windows) {
        SCOPED_TRACE(entry.first);
        isViewerImage* window = entry.second;
        const Vec2 screen = window->convertToWorldSpace(window->worldToScreen(shared));
        // The middle of the coloured run across each line, past the gap around the crossing,
        // where that lies inside the window.
        const Vec2 corner = window->convertToWorldSpace(Vec2::ZERO);
        const cocos2d::Size size = window->getContentSize();
        int measured[2] = {0, 0};
        for (const Vec2& along : {Vec2(1, 0), Vec2(-1, 0), Vec2(0, 1), Vec2(0, -1)}) {
            const Vec2 probe = screen + along * 45.0f;
            if (probe.x < corner.x + 15 || probe.y < corner.y + 15 || probe.x > corner.x + size.width - 15 ||
                probe.y > corner.y + size.height - 15)
                continue;
            const Vec2 across(std::fabs(along.y), std::fabs(along.x));
            float sum = 0;
            int count = 0;
            for (int d = -10; d <= 10; ++d) {
                const Vec2 p = probe + across * float(d);
                const auto c = qvgl::readPixel(static_cast<int>(p.x), static_cast<int>(p.y));
                if (std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]}) > 100) {
                    sum += float(d);
                    ++count;
                }
            }
            ASSERT_GT(count, 0) << along.x << "," << along.y;
            EXPECT_NEAR(sum / float(count), 0.0f, 1.0f) << along.x << "," << along.y;
            ++measured[along.x != 0 ? 0 : 1];
        }
        EXPECT_GT(measured[0], 0);
        EXPECT_GT(measured[1], 0);
    }
    manager->clear();
    manager->release();
}

// The colours of the reference lines and borders (magenta, orange, blue), told apart from the
// grey picture and the white and yellow texts.
bool lineColoured(const std::array<unsigned char, 3>& p)
{
    return (p[2] > 150 && p[1] < 100) || (p[0] > 200 && p[1] > 80 && p[1] < 180 && p[2] < 80);
}

// Whether the window shows its border: a coloured pixel just inside its left edge, a third of
// the way up (clear of the reference lines through the middle).
bool borderShown(isViewerImage* window)
{
    const Vec2 corner = window->convertToWorldSpace(Vec2::ZERO);
    const auto p = qvgl::readPixel(static_cast<int>(corner.x) + 1,
                                   static_cast<int>(corner.y + window->getContentSize().height / 3));
    return std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > 100;
}

TEST_F(MprGL, ReferenceLinesAndTheBorderFollowTheActiveViewFromTheFirstFrame)
{
    std::map<int, isViewerImage*> windows;
    appManager* manager = openMpr(windows);
    ASSERT_EQ(windows.size(), 3u);
    rig.frame(3);
    isViewerMulti* multi = manager->getViewer();
    ASSERT_NE(multi->getActiveCell(), nullptr);
    isViewerImage* first = multi->getActiveCell()->getBrowser()->getActiveWindow();

    // Every plane shows its reference lines through the cross point, untouched; only the active
    // view has the border.
    for (const auto& entry : windows) {
        SCOPED_TRACE(entry.first);
        isViewerImage* window = entry.second;
        const Vec2 screen = window->convertToWorldSpace(window->worldToScreen(window->getCrossPoint()));
        EXPECT_TRUE(colouredNear(screen + Vec2(45, 0)) || colouredNear(screen + Vec2(-45, 0)));
        EXPECT_TRUE(colouredNear(screen + Vec2(0, 45)) || colouredNear(screen + Vec2(0, -45)));
        EXPECT_EQ(borderShown(window), window == first);
    }

    // Clicked in turn, each view takes the border from the one before.
    for (const auto& clicked : windows) {
        SCOPED_TRACE(clicked.first);
        const Vec2 corner = clicked.second->convertToWorldSpace(Vec2::ZERO);
        rig.clock.advanceMs(500);
        cocos2d::InputSimulator::click(corner.x + 20, corner.y + 20);
        rig.frame(4);
        EXPECT_EQ(multi->getActiveCell()->getBrowser()->getActiveWindow(), clicked.second);
        for (const auto& entry : windows)
            EXPECT_EQ(borderShown(entry.second), entry.second == clicked.second) << entry.first;
    }
    manager->clear();
    manager->release();
}

// The orientation letters stay readable: no reference line crosses them, and the letters of two
// windows side by side keep apart.
TEST_F(MprGL, OrientationLettersStayClearOfLinesAndOfTheNextWindow)
{
    // The reformatted layout (three views, the lines through each) and the one of three columns
    // side by side (the first holding two windows).
    for (int mode : {VIEWMODE_MPR, VIEWMODE_MPR2}) {
        SCOPED_TRACE(mode);
        std::map<int, isViewerImage*> windows;
        appManager* manager = openMpr(windows, false, mode);
        ASSERT_EQ(windows.size(), 3u);
        // A date in the top-right corners, reaching the middle of these narrow windows.
        for (const auto& entry : windows)
            for (NSUI::NSLayout* row : entry.second->getActorManager()->getOverlayActor()->getCornerRows(OVERLAY_TOP_RIGHT))
                for (cocos2d::Node* child : row->getChildren())
                    if (auto* text = dynamic_cast<isNodeOverlayText*>(child))
                        text->setValue("2026.12.06 10:15:00");
        rig.frame(4);
        struct Letter {
            isViewerImage* window;
            int edge;
            Rect box;  // GL window units
        };
        std::vector<Letter> letters;
        for (const auto& group : manager->getViewer()->getGroups())
            for (KeyViewProperty* cell : group.second)
                for (isViewerImage* window : cell->getBrowser()->getWindows())
                    for (int edge = 0; edge < 4; ++edge) {
                        isNodeOverlayText* label = window->getActorManager()->getOverlayActor()->getEdgeLabel(edge);
                        if (!label || !label->isVisible() || label->getString().empty())
                            continue;
                        const Rect box = label->getBoundingBox();
                        const Vec2 low = label->getParent()->convertToWorldSpace(box.origin);
                        const Vec2 high = label->getParent()->convertToWorldSpace(Vec2(box.getMaxX(), box.getMaxY()));
                        letters.push_back({window, edge, Rect(low.x, low.y, high.x - low.x, high.y - low.y)});
                    }
        ASSERT_GE(letters.size(), 12u);
        for (const Letter& letter : letters) {
            SCOPED_TRACE(letter.window->getKind() * 10 + letter.edge);
            // Inside the letter's box no pixel is in a line's colour (the border, 4 units along
            // the window's edges, left out; the corner texts are yellow).
            const Vec2 corner = letter.window->convertToWorldSpace(Vec2::ZERO);
            const cocos2d::Size size = letter.window->getContentSize();
            int coloured = 0, looked = 0;
            for (int y = int(letter.box.getMinY()); y <= int(letter.box.getMaxY()); ++y)
                for (int x = int(letter.box.getMinX()); x <= int(letter.box.getMaxX()); ++x) {
                    if (x < corner.x + 4 || y < corner.y + 4 || x > corner.x + size.width - 5 ||
                        y > corner.y + size.height - 5)
                        continue;
                    const auto p = qvgl::readPixel(x, y);
                    ++looked;
                    if (lineColoured(p))
                        ++coloured;
                }
            EXPECT_GT(looked, 30);
            EXPECT_EQ(coloured, 0);
            // Inside its window, over no corner text.
            EXPECT_TRUE(Rect(corner.x, corner.y, size.width, size.height).containsPoint(letter.box.origin));
            EXPECT_LE(letter.box.getMaxX(), corner.x + size.width);
            const Vec2 origin = letter.window->convertToWorldSpace(Vec2::ZERO);
            isActorOverlay* overlay = letter.window->getActorManager()->getOverlayActor();
            const std::vector<Rect> texts = overlay->getTextBoxes(letter.window, false);
            for (size_t i = overlay->getTextBoxes(letter.window, true).size(); i < texts.size(); ++i)
                EXPECT_FALSE(letter.box.intersectsRect(Rect(texts[i].origin + origin, texts[i].size)))
                    << texts[i].origin.x << "," << texts[i].origin.y;
        }
        // A right letter and the left letter of the window beside it keep apart.
        int pairs = 0;
        for (const Letter& right : letters)
            for (const Letter& left : letters)
                if (right.window != left.window && right.edge == OVERLAY_EDGE_RIGHT &&
                    left.edge == OVERLAY_EDGE_LEFT && left.box.getMinX() >= right.box.getMaxX() - 1 &&
                    left.box.getMinX() - right.box.getMaxX() < 40 &&
                    std::fabs(left.box.getMidY() - right.box.getMidY()) < left.box.size.height) {
                    EXPECT_GE(left.box.getMinX() - right.box.getMaxX(), 10.0f);
                    ++pairs;
                }
        if (mode == VIEWMODE_MPR2) {
            EXPECT_GE(pairs, 1);
        }
        manager->clear();
        manager->release();
        rig.frame(2);
    }
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
    // An MR series without a window: each plane shows the window it took from its first slice.
    {
        std::map<int, isViewerImage*> windows;
        appManager* manager = openMpr(windows, true);
        ASSERT_EQ(windows.size(), 3u);
        rig.frame(3);
        for (const auto& entry : windows) {
            SCOPED_TRACE(entry.first);
            const isClut* clut = entry.second->getImageActor()->getClut();
            EXPECT_NE(int(clut->getWidth()), 255) << "no window from the range";
            EXPECT_EQ(bottomLeftValue(entry.second, NOTIFY_OVERLAY_WINDOW),
                      std::to_string(int(clut->getWidth())) + " " + std::to_string(int(clut->getLevel())) + " ");
        }
        manager->clear();
        manager->release();
        rig.frame(2);
    }
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
        // The left-aligned texts begin clear of the left edge and the active window's border.
        for (int corner : {OVERLAY_TOP_LEFT, OVERLAY_BOTTOM_LEFT})
            for (NSUI::NSLayout* row : window->getActorManager()->getOverlayActor()->getCornerRows(corner))
                for (cocos2d::Node* child : row->getChildren())
                    EXPECT_GE(row->convertToWorldSpace(child->getBoundingBox().origin).x, left + 6.0f)
                        << static_cast<isNodeOverlayText*>(child)->getString();
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

// Grey pixels inside a window, away from its edges: its picture (lines and borders are coloured).
static int picturePixels(isViewerImage* window)
{
    const Vec2 corner = window->convertToWorldSpace(Vec2::ZERO);
    const cocos2d::Size size = window->getContentSize();
    int grey = 0;
    for (int y = int(corner.y) + 8; y < int(corner.y + size.height) - 8; y += 3)
        for (int x = int(corner.x) + 8; x < int(corner.x + size.width) - 8; x += 3) {
            const auto p = qvgl::readPixel(x, y);
            grey += p[0] > 30 && std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) < 20;
        }
    return grey;
}

TEST_F(MprGL, AClickBesideAPannedPictureLeavesEveryPlaneItsPicture)
{
    std::map<int, isViewerImage*> windows;
    appManager* manager = openMpr(windows);
    isViewerMulti* multi = manager->getViewer();
    rig.frame(3);
    const Vec2 corner = windows[VIEW_AXIAL]->convertToWorldSpace(Vec2::ZERO);
    const cocos2d::Size size = windows[VIEW_AXIAL]->getContentSize();
    const float y = corner.y + size.height / 2, from = corner.x + size.width * 0.3f;
    // The pan tool drags the axial picture most of the way out to the right.
    multi->sendCommand(NOTIFY_TOOL_PAN, nullptr);
    cocos2d::InputSimulator::mouseDown(0, from, y);
    for (int step = 1; step <= 10; ++step, rig.frame()) {
        rig.clock.advanceMs(40);
        cocos2d::InputSimulator::mouseMove(from + size.width * 0.06f * step, y);
    }
    cocos2d::InputSimulator::mouseUp(0, from + size.width * 0.6f, y);
    rig.frame(4);
    std::map<int, int> before;
    for (const auto& entry : windows)
        ASSERT_GT(before[entry.first] = picturePixels(entry.second), 50) << entry.first;
    // The selection tool clicks the empty part on the left of the axial view.
    multi->sendCommand(NOTIFY_TOOL_SELECT, nullptr);
    rig.clock.advanceMs(500);
    cocos2d::InputSimulator::click(corner.x + 12, y);
    rig.frame(6);
    for (const auto& entry : windows)
        EXPECT_GT(picturePixels(entry.second), before[entry.first] / 2) << entry.first;
    manager->clear();
    manager->release();
}
