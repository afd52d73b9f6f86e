// The application manager on the headless view: the cells each view mode lays out for a viewing
// area, view-mode names, view-mode changes by notification, and the hanging protocols read from
// the project's file, from a missing one and from damaged ones.
#include "support/MultiViewRig.h"
#include "../../../foundation/tests/NSFileTestSupport.h"

#include "appManager.h"
#include "isViewerBrowser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

using namespace isImageSDK;
using cocos2d::Rect;
using cocos2d::Size;

namespace {

struct Cell {
    int kind;
    Rect rect;
    bool linked;
    int windows;
    bool operator==(const Cell& o) const
    {
        return kind == o.kind && rect.equals(o.rect) && linked == o.linked && windows == o.windows;
    }
};

std::ostream& operator<<(std::ostream& os, const Cell& c)
{
    return os << "{kind " << c.kind << " at " << c.rect.origin.x << "," << c.rect.origin.y << " " << c.rect.size.width
              << "x" << c.rect.size.height << (c.linked ? " linked" : "") << " windows " << c.windows << "}";
}

class AppManager : public ::testing::Test {
protected:
    void SetUp() override
    {
        cocos2d::Director::getInstance()->setOpenGLView(cocos2d::GLViewHeadless::create(Size(1200, 900)));
        rig.start();
        qvtest::StandInVolume::install();
        appManager::releaseProtocols();
        manager = appManager::create();
        manager->retain();
    }
    void TearDown() override
    {
        manager->release();
        appManager::releaseProtocols();
        cocos2d::setLogSink(nullptr);
        qvtest::StandInVolume::uninstall();
        rig.stop();
    }

    // The cells in the order they were added.
    std::vector<Cell> cells()
    {
        std::vector<std::pair<KeyViewProperty*, cocos2d::Node*>> found;
        std::vector<Cell> out;
        for (const auto& group : manager->getViewer()->getGroups())
            for (KeyViewProperty* c : group.second) {
                auto* node = dynamic_cast<cocos2d::Node*>(c->getViewer());
                isViewerBrowser* browser = c->getBrowser();
                out.push_back(Cell{c->getViewKind(), Rect(node->getPosition(), node->getContentSize()),
                                   c->getViewer()->isLinked(),
                                   browser ? static_cast<int>(browser->getWindows().size()) : 0});
            }
        return out;
    }

    qvtest::ViewerRig rig;
    appManager* manager = nullptr;
};

const Rect kArea(100, 50, 1000, 800);

TEST_F(AppManager, EachViewModeLaysOutItsCells)
{
    isImageData* ct = qvtest::phantomCT();
    manager->openImage(ct, kArea, VIEWMODE_2DVIEW);
    isViewerMulti* multi = manager->getViewer();
    ASSERT_NE(multi, nullptr);
    EXPECT_EQ(multi->getPosition(), cocos2d::Vec2(100, 50));
    EXPECT_EQ(multi->getContentSize(), Size(1000, 800));
    EXPECT_EQ(multi->getLocalZOrder(), -100);
    EXPECT_EQ(cells(), (std::vector<Cell>{{VIEW_AXIAL, Rect(0, 0, 1000, 800), true, 1}}));

    manager->layoutViews(VIEWMODE_BROWSER2D);
    EXPECT_EQ(cells(), (std::vector<Cell>{{VIEW_AXIAL, Rect(0, 0, 1000, 800), true, 4}}));

    // Half cells less the gap: 498 x 398.
    manager->layoutViews(VIEWMODE_MPR3D);
    EXPECT_EQ(cells(), (std::vector<Cell>{{VIEW_AXIAL, Rect(0, 402, 498, 398), true, 1},
                                          {VIEW_CORONAL, Rect(502, 402, 498, 398), true, 1},
                                          {VIEW_VR, Rect(502, 0, 498, 398), true, 0},
                                          {VIEW_SAGITTAL, Rect(0, 0, 498, 398), true, 1}}));

    manager->layoutViews(VIEWMODE_MPR);
    EXPECT_EQ(cells(), (std::vector<Cell>{{VIEW_AXIAL, Rect(0, 402, 498, 398), true, 1},
                                          {VIEW_SAGITTAL, Rect(0, 0, 498, 398), true, 1},
                                          {VIEW_CORONAL, Rect(502, 0, 498, 800), true, 1}}));

    // Columns of (1000 - 8) / 3; the first one as two rows.
    manager->layoutViews(VIEWMODE_MPR2);
    const float cw = 992.0f / 3.0f;
    EXPECT_EQ(cells(), (std::vector<Cell>{{VIEW_AXIAL, Rect(0, 0, cw, 800), true, 2},
                                          {VIEW_SAGITTAL, Rect(cw + 2, 0, cw, 800), true, 1},
                                          {VIEW_CORONAL, Rect(1000 - cw, 0, cw, 800), true, 1}}));
    EXPECT_EQ(manager->getViewMode(), VIEWMODE_MPR2);

    manager->layoutViews(VIEWMODE_2DSLICE);
    EXPECT_EQ(cells(), (std::vector<Cell>{{VIEW_SLICE, Rect(0, 0, 1000, 800), true, 1}}));
    // Every layout replaced the one before: the container holds only the current viewers.
    EXPECT_EQ(multi->getChildrenCount(), 1);

    // Comparing three images: cells of 332 at 0, 334 and 668.
    manager->openImages({ct, qvtest::loosePictures(), qvtest::phantomCT()}, kArea);
    EXPECT_EQ(cells().size(), 3u);
    std::vector<Cell> compared = cells();
    std::sort(compared.begin(), compared.end(),
              [](const Cell& a, const Cell& b) { return a.rect.origin.x < b.rect.origin.x; });
    EXPECT_EQ(compared, (std::vector<Cell>{{VIEW_AXIAL, Rect(0, 0, 332, 800), true, 1},
                                           {VIEW_SLICE, Rect(334, 0, 332, 800), true, 1},
                                           {VIEW_AXIAL, Rect(668, 0, 332, 800), true, 1}}));
    EXPECT_EQ(manager->getViewMode(), VIEWMODE_COMPARE2D);

    // One image compared with itself: twice, not linked.
    manager->openImages({ct}, kArea);
    EXPECT_EQ(cells(), (std::vector<Cell>{{VIEW_AXIAL, Rect(0, 0, 499, 800), false, 1},
                                          {VIEW_AXIAL, Rect(501, 0, 499, 800), false, 1}}));
}

TEST_F(AppManager, PicturesOpenAsOnePlainViewAndModesChangeByName)
{
    manager->openImage(qvtest::loosePictures(), kArea, VIEWMODE_MPR3D);
    EXPECT_EQ(cells(), (std::vector<Cell>{{VIEW_SLICE, Rect(0, 0, 1000, 800), true, 1}}));
    EXPECT_EQ(manager->getViewMode(), VIEWMODE_2DSLICE);
    // A second image replaces the first view instead of stacking on it.
    manager->openImage(qvtest::loosePictures(), kArea, VIEWMODE_2DSLICE);
    EXPECT_EQ(manager->getViewer()->getChildrenCount(), 1);

    manager->openImage(qvtest::phantomCT(), kArea, VIEWMODE_2DVIEW);
    auto post = [this](const char* name) {
        NSUI::NSNotificationCenter::getInstance()->postStringNotification(nullptr, NOTIFY_VIEW_MODE, name, manager);
        rig.frame(400);
    };
    post("mpr");
    EXPECT_EQ(manager->getViewMode(), VIEWMODE_MPR);
    EXPECT_EQ(cells().size(), 3u);
    post("MPR");
    post("mpr ");
    EXPECT_EQ(manager->getViewMode(), VIEWMODE_MPR);
    post("mpr2");
    EXPECT_EQ(manager->getViewMode(), VIEWMODE_MPR2);

    EXPECT_EQ(appManager::viewModeFromName("compare2d"), VIEWMODE_COMPARE2D);
    EXPECT_EQ(appManager::viewModeFromName("MPR"), VIEWMODE_NONE);
    EXPECT_EQ(appManager::viewModeFromName("mpr "), VIEWMODE_NONE);
    EXPECT_EQ(appManager::viewModeFromName(""), VIEWMODE_NONE);

    // The mode already shown is not laid out again.
    const std::vector<Cell> before = cells();
    KeyViewProperty* first = manager->getViewer()->getActiveCell();
    post("mpr2");
    EXPECT_EQ(manager->getViewer()->getActiveCell(), first);
    EXPECT_EQ(cells(), before);

    // A volume opened as one plain slice view stays plain; a replaced image shows as one.
    isImageData* ct = qvtest::phantomCT();
    manager->openImage(ct, kArea, VIEWMODE_2DSLICE);
    EXPECT_EQ(cells(), (std::vector<Cell>{{VIEW_SLICE, Rect(0, 0, 1000, 800), true, 1}}));
    EXPECT_EQ(manager->getViewMode(), VIEWMODE_2DSLICE);
    manager->layoutViews(VIEWMODE_MPR);
    isImageData* other = qvtest::phantomCT();
    manager->replaceImage(other);
    EXPECT_EQ(cells(), (std::vector<Cell>{{VIEW_SLICE, Rect(0, 0, 1000, 800), true, 1}}));
    EXPECT_EQ(manager->getViewer()->getActiveCell()->getImage(), other);
    EXPECT_EQ(manager->getImages(), std::list<isImageData*>{other});

    manager->clear();
    EXPECT_EQ(manager->getViewer(), nullptr);
    EXPECT_TRUE(manager->getImages().empty());
    // Without a viewer there is nothing to replace.
    manager->replaceImage(ct);
    EXPECT_EQ(manager->getViewer(), nullptr);
    EXPECT_TRUE(manager->getImages().empty());
}

// A viewer opened and closed twice in one process, the manager going with the autorelease pool
// after the exit purge as a screen does: the clearing of its container leaves no notification
// centre behind, so the second run's view-mode changes arrive.
TEST(AppManagerLifetime, OpenedAndClosedTwiceInOneProcess)
{
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        cocos2d::Director::getInstance()->setOpenGLView(cocos2d::GLViewHeadless::create(Size(1200, 900)));
        qvtest::ViewerRig rig;
        rig.start();
        qvtest::StandInVolume::install();
        appManager* manager = appManager::create();
        manager->retain();
        manager->openImage(qvtest::phantomCT(), kArea, VIEWMODE_2DVIEW);
        NSUI::NSNotificationCenter::getInstance()->postStringNotification(nullptr, NOTIFY_VIEW_MODE, "mpr", manager);
        for (int i = 0; i < 10 && manager->getViewMode() != VIEWMODE_MPR; ++i)
            rig.frame();
        EXPECT_EQ(manager->getViewMode(), VIEWMODE_MPR);
        // Handed to the pool: it goes with the frames after the purge.
        manager->autorelease();
        qvtest::StandInVolume::uninstall();
        // The rig's stop checks that no centre was made again.
        rig.stop();
    }
}

// The acquisition plane from a slice's row and column directions (x towards the patient's left,
// y superior, z anterior).
TEST(AppManagerPlane, PlaneKindOfASlice)
{
    auto kindOf = [](cocos2d::Vec3 row, cocos2d::Vec3 column) {
        isSliceInfo slice;
        cocos2d::Mat4 m;
        m.m[0] = row.x, m.m[1] = row.y, m.m[2] = row.z;
        m.m[4] = column.x, m.m[5] = column.y, m.m[6] = column.z;
        cocos2d::Vec3 normal;
        cocos2d::Vec3::cross(row, column, &normal);
        m.m[8] = normal.x, m.m[9] = normal.y, m.m[10] = normal.z;
        slice.matrix = m;
        return getImagePlaneKind(&slice);
    };
    EXPECT_EQ(kindOf({1, 0, 0}, {0, 0, -1}), VIEW_AXIAL);
    EXPECT_EQ(kindOf({0, 0, -1}, {0, -1, 0}), VIEW_SAGITTAL);
    EXPECT_EQ(kindOf({1, 0, 0}, {0, -1, 0}), VIEW_CORONAL);
    EXPECT_EQ(getImagePlaneKind(nullptr), VIEW_SLICE);
}

std::vector<std::string> typesOf(const ProtocolQuery& q)
{
    std::list<ProtocolEntry*> found;
    appManager::findProtocols(found, q);
    std::vector<std::string> out;
    for (ProtocolEntry* e : found)
        out.push_back(e->type);
    return out;
}

TEST_F(AppManager, ProtocolsOfferedBySelection)
{
    const std::list<ProtocolEntry*>& list = appManager::loadProtocols();
    ASSERT_EQ(list.size(), 7u);
    EXPECT_EQ(list.front()->title, "2D View");
    EXPECT_EQ(list.front()->file, "protocal/2dview.png");
    for (ProtocolEntry* e : list)
        EXPECT_NE(appManager::viewModeFromName(e->type), VIEWMODE_NONE) << e->type;

    // Two series: compare; a volume of 4 slices: the browser only; of 5: every mode but the
    // plain ones; loose pictures: the plain ones.
    EXPECT_EQ(typesOf({2, 40, true}), std::vector<std::string>{"compare2d"});
    EXPECT_EQ(typesOf({1, 4, true}), std::vector<std::string>{"browser2d"});
    EXPECT_EQ(typesOf({1, 5, true}), (std::vector<std::string>{"2dview", "browser2d", "mpr3d", "mpr", "mpr2"}));
    EXPECT_EQ(typesOf({1, 3, false}), (std::vector<std::string>{"2dslice", "compare2d"}));
}

TEST_F(AppManager, MissingOrDamagedProtocolFileGivesNoProtocolsAndALogLine)
{
    // The lines come under a lock from whichever thread logs; a fresh capture per case, and none
    // left once the test body ends.
    std::optional<qvtest::LogCapture> log(std::in_place);
    auto logged = [&log](const char* part) {
        const std::vector<std::string> lines = log->lines();
        return std::any_of(lines.begin(), lines.end(),
                           [part](const std::string& l) { return l.find(part) != std::string::npos; });
    };
    // A new folder of its own: one named after the process id is not (ids come round again, and a
    // run that stopped early leaves its folder behind).
    const qvtest::TempDir scratch;
    ASSERT_FALSE(scratch.path().empty());
    const std::filesystem::path root = scratch.path();
    std::filesystem::create_directories(root / "protocal");
    cocos2d::FileUtils* files = cocos2d::FileUtils::getInstance();
    files->setDefaultResourceRootPath(root.string() + "/");
    files->setSearchPaths({""});

    // Missing.
    EXPECT_TRUE(appManager::loadProtocols().empty());
    EXPECT_TRUE(logged("protocal/protocal.xml"));
    EXPECT_TRUE(typesOf({1, 40, true}).empty());
    // The viewer still opens in the mode the screen asks for.
    manager->openImage(qvtest::phantomCT(), kArea, VIEWMODE_2DVIEW);
    EXPECT_EQ(cells(), (std::vector<Cell>{{VIEW_AXIAL, Rect(0, 0, 1000, 800), true, 1}}));

    auto write = [&root, files](const std::string& text) {
        std::ofstream(root / "protocal" / "protocal.xml") << text;
        files->purgeCachedEntries();
    };
    const std::string head = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>";
    // Not XML; no number; an absurd number; one entry without its title next to a whole one.
    for (const std::string& text :
         {std::string("protocal.number = 3"), head + "<key>protocal.1.type</key><string>mpr</string></dict></plist>",
          head + "<key>protocal.number</key><string>99999999</string></dict></plist>"}) {
        log.emplace();
        write(text);
        EXPECT_TRUE(appManager::loadProtocols().empty()) << text;
        EXPECT_FALSE(log->lines().empty()) << text;
    }
    log.emplace();
    write(head +
          "<key>protocal.number</key><string>2</string>"
          "<key>protocal.1.type</key><string>mpr</string><key>protocal.1.file</key><string>a.png</string>"
          "<key>protocal.2.type</key><string>2dview</string><key>protocal.2.title</key><string>2D</string>"
          "<key>protocal.2.file</key><string>b.png</string></dict></plist>");
    ASSERT_EQ(appManager::loadProtocols().size(), 1u);
    EXPECT_EQ(appManager::loadProtocols().front()->type, "2dview");
    EXPECT_TRUE(logged("protocol 1"));
}

} // namespace
