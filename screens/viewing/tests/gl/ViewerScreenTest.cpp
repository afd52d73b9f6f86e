// The viewer screen on the real scene: a generated CT series opened and drawn, the tool panel's
// buttons clicked through the input simulator, the panel exchanged with the view kind, the
// screen left while its worker scans, and series of one slice, of RGB pictures and of one
// multi-frame file.
#include "support/ViewingFixture.h"

#include "../../../../imaging/viewers/tests/support/StandInVolume.h"

#include "GLTestProgram.h"
#include "NSActivity.h"
#include "ShapingReference.h"
#include "UILocalConfig.h"
#include "UIScrollViewBase.h"
#include "appManager.h"
#include "diskWrite.h"
#include "imageViewerPC.h"
#include "isBinReader.h"
#include "isDcmScan.h"
#include "isSeriesCache.h"
#include "isRenderWindow.h"
#include "isActorOverlay.h"
#include "isNodeOverlaySprite.h"
#include "isNodeOverlayText.h"
#include "isSharedObjects.h"
#include "isViewerBrowser.h"
#include "isViewerImage.h"
#include "isViewerMulti.h"
#include "isViewerVolume.h"
#include "quickTool.h"
#include "editWW.h"
#include "favoriteList.h"
#include "NSTextField.h"
#include "toolDisk.h"
#include "NSDBDataModel.h"
#include "NSDBUtil.h"
#include "statApplication.h"
#include "viewerSeriesLoader.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <array>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include "renderer/ccUtils.h"

USING_NS_CC;
using namespace isImageSDK;
using viewingtest::Recorder;

namespace {

using qvtest::pixelAt;

qvgen::PhantomSpec ctSpec(int slices, int size = 64)
{
    qvgen::PhantomSpec spec;
    spec.columns = size;
    spec.rows = size;
    spec.slices = slices;
    return spec;
}

using qvtest::savePicture;

Node* panelOf(imageViewerPC* screen)
{
    return screen->getToolScrollView() ? screen->getToolScrollView()->getChildByName("toolPanel") : nullptr;
}

int countNamed(Node* node, const std::string& name)
{
    // (A scroll view presents its container's children as its own.)
    int n = node->getName() == name ? 1 : 0;
    for (Node* child : node->getChildren())
        n += countNamed(child, name);
    return n;
}

class ViewerScreenTest : public ViewingTest {
protected:
    void clickButton(imageViewerPC* screen, const char* name)
    {
        Node* panel = panelOf(screen);
        ASSERT_NE(panel, nullptr);
        Node* button = panel->getChildByName(name);
        ASSERT_NE(button, nullptr) << name;
        clickNode(button);
        step(2);
    }
    // Clicks row i (from the top) of a menu.
    void clickMenuRow(NSUI::NSMenu* menu, int i)
    {
        ASSERT_NE(menu, nullptr);
        auto* list = menu->getList();
        const float h = list->getContentSize().height;
        const Vec2 p = list->convertToWorldSpace(Vec2(30, h - (float(i) + 0.5f) * menu->getRowHeight()));
        InputSimulator::click(p.x, p.y);
        step(2);
    }
};

} // namespace

TEST_F(ViewerScreenTest, OpensAGeneratedCTSeriesAndDrawsItsFirstSlice)
{
    const std::string folder = writeSeries("PHANTOM_PH-0001/study/ct", ctSpec(12));
    FileUtils::getInstance()->createDirectory(scratch + "data/qv/stat/");
    ASSERT_TRUE(statApplication::getInstance()->openDB());
    imageViewerPC* screen = openViewer(folder);
    ASSERT_NE(screen, nullptr);
    ASSERT_NE(screen->getViewer(), nullptr);
    EXPECT_EQ(screen->getChildByName("imageViewerMsg"), nullptr);
    EXPECT_EQ(NSUI::NSActivity::current(), nullptr);
    EXPECT_EQ(screen->getTotalSlices(), 12u);
    EXPECT_TRUE(screen->getChildByName("root")->getChildByName("btnCmdFavorite")->isVisible());
    ASSERT_NE(panelOf(screen), nullptr);
    ASSERT_TRUE(stepUntil([&] { return seriesLoaded(screen); }));
    step(20);

    savePicture("viewer");
    const Rect area = screen->getViewingArea();
    Rect view;
    ASSERT_TRUE(screen->getViewer()->getActiveViewRect(view));
    EXPECT_TRUE(area.containsPoint(Vec2(view.getMidX(), view.getMidY())));
    const auto middle = pixelAt(view.getMidX(), view.getMidY());
    // A row of the picture, across the phantom.
    const auto pictureRow = [&view] {
        std::vector<std::array<int, 3>> row;
        for (int i = 0; i < 24; ++i) {
            const auto p = pixelAt(view.getMinX() + view.size.width * (i + 0.5f) / 24, view.getMidY());
            row.push_back({int(p[0]), int(p[1]), int(p[2])});
        }
        return row;
    };
    const auto drawn = pictureRow();
    // The phantom's soft tissue fills the middle of the first slice: a grey pixel.
    EXPECT_NEAR(middle[0], middle[1], 2);
    EXPECT_NEAR(middle[1], middle[2], 2);
    EXPECT_GT(middle[0], 20);
    EXPECT_LT(middle[0], 250);
    // The tool column is drawn in the panel colour.
    const auto panel = pixelAt(150, 40);
    EXPECT_LT(panel[0], 70);
    EXPECT_NEAR(panel[0], panel[2], 20);

    // The screen's use is recorded: shown, then left.
    director->popScene();
    step(3);
    NSUI::NSDBUtil db;
    NSUI::NSDBDataModel model;
    ASSERT_TRUE(db.open(statApplication::databasePath()));
    ASSERT_TRUE(db.query("select type from stat order by ID", model));
    std::vector<std::string> types;
    for (int i = 0; i < model.getRowCount(); ++i)
        types.push_back(model.getValue(i, 0));
    statApplication::destroyInstance();
    ASSERT_GE(types.size(), 2u);
    EXPECT_EQ(types.front(), "7");
    EXPECT_EQ(types[1], "8");
    EXPECT_EQ(std::count(types.begin(), types.end(), "7"), 1);

    // The series' pixels cache, changed on disk at its own size (a white picture if it were
    // drawn), or changed in one bit of every 64th byte: the next opening draws the picture of
    // before, decoded again from the files.
    const std::string raw = rawPathOf(isDcmScan::getBufferPathOfFolder(libraryRoot() + folder));
    std::string bytes;
    {
        std::ifstream in(raw, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_EQ(bytes.size(), 12u * 64 * 64 * 2);
    for (const bool overwrite : {true, false}) {
        SCOPED_TRACE(overwrite ? "overwritten" : "bit flips");
        std::string damaged = overwrite ? std::string(bytes.size(), '\x7f') : bytes;
        for (size_t i = 0; !overwrite && i < damaged.size(); i += 64)
            damaged[i] = static_cast<char>(damaged[i] ^ 0x20);
        {
            std::fstream out(raw, std::ios::binary | std::ios::in | std::ios::out);
            out.write(damaged.data(), static_cast<std::streamsize>(damaged.size()));
        }
        screen = openViewer(folder);
        ASSERT_NE(screen, nullptr);
        ASSERT_TRUE(stepUntil([&] { return seriesLoaded(screen); }));
        step(20);
        ASSERT_TRUE(screen->getViewer()->getActiveViewRect(view));
        EXPECT_EQ(pictureRow(), drawn);
        ASSERT_TRUE(stepUntil([&] { return FileUtils::getInstance()->getFileSize(raw) == long(bytes.size()); }));
        director->popScene();
        step(3);
    }
}

TEST_F(ViewerScreenTest, ToolButtonsPostTheirCommands)
{
    const std::string folder = writeSeries("PHANTOM_PH-0001/study/ct", ctSpec(12));
    imageViewerPC* screen = openViewer(folder);
    ASSERT_NE(screen, nullptr);
    isViewerMulti* container = screen->getViewer();
    ASSERT_NE(container, nullptr);
    ASSERT_TRUE(stepUntil([&] { return seriesLoaded(screen); }));
    Recorder* recorder = new Recorder();
    const std::vector<std::pair<const char*, unsigned int>> posted = {
        {"btnTile1x2", NOTIFY_LAYOUT_1X2}, {"btnTile2x2", NOTIFY_LAYOUT_2X2}, {"btnTile2x1", NOTIFY_LAYOUT_2X1},
        {"btnTile1x1", NOTIFY_LAYOUT_1X1}, {"btnCmdLine", NOTIFY_TOOL_ROI_LINE}, {"btnCmdPoint", NOTIFY_TOOL_ROI_POINT},
        {"btnCmdAngle", NOTIFY_TOOL_ROI_ANGLE}, {"btnCmdCircle", NOTIFY_TOOL_ROI_CIRCLE},
        {"btnCmdPolygon", NOTIFY_TOOL_ROI_POLYGON}};
    for (const auto& [name, id] : posted)
        recorder->listen(id, container);
    recorder->listen(NOTIFY_CLUT_SET, container);
    recorder->listen(NOTIFY_WL_SET, container);
    recorder->listen(NOTIFY_CAPTURE_SAVED, nullptr);
    for (const auto& [name, id] : posted) {
        clickButton(screen, name);
        const unsigned int number = id;
        // A generous wait: with the whole suite running, a frame of the new tiles can take seconds.
        EXPECT_TRUE(stepUntil([&] { return recorder->count(number) >= 1; }, 30)) << name;
        EXPECT_EQ(recorder->count(number), 1) << name;
    }
    for (const auto& item : recorder->items)
        EXPECT_EQ(item.sender, screen);
    // Commands handed to the container directly: they must not disturb the screen.
    for (const char* name : {"btnCmdSelection", "btnCmdMove", "btnCmdZoom", "btnCmdRotate", "btnCmdNext",
                             "btnCmdPrior", "btnCmdRemoveROI"})
        clickButton(screen, name);
    EXPECT_NE(screen->getViewer(), nullptr);

    // The cine: the container reports it running, the tiles are refused meanwhile.
    Node* play = panelOf(screen)->getChildByName("btnCmdPlay");
    EXPECT_EQ(play->getTag(), imageViewerPC::kStopped);
    clickButton(screen, "btnCmdPlay");
    ASSERT_TRUE(stepUntil([&] { return play->getTag() == imageViewerPC::kPlaying; }, 5));
    clickButton(screen, "btnTile2x2");
    EXPECT_EQ(recorder->count(NOTIFY_LAYOUT_2X2), 1);
    clickButton(screen, "btnCmdPlay");
    ASSERT_TRUE(stepUntil([&] { return play->getTag() == imageViewerPC::kStopped; }, 5));

    // Window presets: the menu's first preset sets the container's window.
    clickButton(screen, "btnCmdWL");
    auto* levels = dynamic_cast<NSUI::NSMenu*>(screen->getToolScrollView()->getChildByName("windowLevelMenu"));
    ASSERT_NE(levels, nullptr);
    EXPECT_TRUE(levels->isVisible());
    {
        // The whole menu lies in the panel's view, below the top bar.
        Node* view = screen->getToolScrollView();
        const Rect shown(view->convertToWorldSpace(Vec2::ZERO), view->getContentSize());
        const Rect menu(levels->convertToWorldSpace(Vec2::ZERO), levels->getList()->getContentSize());
        EXPECT_LE(menu.getMaxY(), shown.getMaxY() + 0.5f);
        EXPECT_GE(menu.getMinY(), shown.getMinY() - 0.5f);
    }
    ASSERT_FALSE(screen->getWindowPresets().empty());
    ASSERT_GE(levels->getList()->getRowCount(), 4);
    const auto* row = static_cast<NSUI::NSMenu::menuObject*>(levels->getList()->getRowData()[3]);
    const WindowPreset preset = screen->getWindowPresets()[0];
    EXPECT_EQ(row->text, preset.name);
    clickMenuRow(levels, 3);
    ASSERT_TRUE(stepUntil([&] { return recorder->count(NOTIFY_WL_SET) == 1; }, 5));
    EXPECT_EQ(recorder->items.back().text, "{\"ww\":\"400.000000\",\"wl\":\"60.000000\"}");
    step(3);
    float width = 0, level = 0;
    ASSERT_TRUE(container->getWindowLevel(width, level));
    EXPECT_FLOAT_EQ(width, preset.width);
    EXPECT_FLOAT_EQ(level, preset.centre);

    // Colour tables.
    clickButton(screen, "btnCmdClut");
    clickMenuRow(dynamic_cast<NSUI::NSMenu*>(screen->getToolScrollView()->getChildByName("clutMenu")), 1);
    ASSERT_EQ(recorder->count(NOTIFY_CLUT_SET), 1);
    EXPECT_EQ(recorder->items.back().text, "HotMetal.plist");

    // A capture of the whole screen is written, announced and counted on the favourites badge.
    Node* favorite = screen->getChildByName("root")->getChildByName("btnCmdFavorite");
    const std::string before = favorite->getUserString();
    clickButton(screen, "btnCmdCapture");
    clickMenuRow(dynamic_cast<NSUI::NSMenu*>(screen->getToolScrollView()->getChildByName("captureMenu")), 0);
    ASSERT_TRUE(stepUntil([&] { return recorder->count(NOTIFY_CAPTURE_SAVED) == 1; }, 10));
    EXPECT_TRUE(FileUtils::getInstance()->isFileExist(recorder->items.back().text));
    ASSERT_TRUE(stepUntil([&] { return favorite->getUserString() != before; }, 5));
    EXPECT_EQ(favorite->getUserString(), std::to_string(std::atoi(before.c_str()) + 1));
    {
        // The badge is drawn inside the window.
        Node* badge = favorite->getParent()->getChildByName("favoriteNodesBK");
        ASSERT_NE(badge, nullptr);
        const Rect local = badge->getBoundingBox();
        const Vec2 low = badge->getParent()->convertToWorldSpace(local.origin);
        const Vec2 high = badge->getParent()->convertToWorldSpace(local.origin + Vec2(local.size.width, local.size.height));
        const Rect box(low.x, low.y, high.x - low.x, high.y - low.y);
        const Size win = Director::getInstance()->getVisibleSize();
        EXPECT_GE(box.getMinY(), 0.0f);
        EXPECT_LE(box.getMaxY(), win.height);
        EXPECT_GE(box.getMinX(), 0.0f);
        EXPECT_LE(box.getMaxX(), win.width);
    }

    // A capture on a full disk says so on screen, and is neither announced nor counted.
    disk::setRoomForTest(0);
    clickButton(screen, "btnCmdCapture");
    clickMenuRow(dynamic_cast<NSUI::NSMenu*>(screen->getToolScrollView()->getChildByName("captureMenu")), 0);
    auto shownToast = [] {
        Scene* scene = Director::getInstance()->getRunningScene();
        auto* text = dynamic_cast<ui::Text*>(scene ? scene->getChildByNameDeep("messageBox.text") : nullptr);
        return text && text->isVisible() ? text->getString() : std::string();
    };
    EXPECT_TRUE(stepUntil([&] { return shownToast() == "The capture was not saved: the disk is full"; }, 10))
        << shownToast();
    disk::setRoomForTest(-1);
    EXPECT_EQ(recorder->count(NOTIFY_CAPTURE_SAVED), 1);
    EXPECT_EQ(favorite->getUserString(), std::to_string(std::atoi(before.c_str()) + 1));

    // The level dialog the container asks for: the values typed into it are applied to the view.
    favoriteList::registerWithViewer();  // as the program does at start
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_WL_INPUT, nullptr, container);
    ASSERT_TRUE(stepUntil([&] { return screen->getChildByName("editWW") != nullptr; }, 5));
    Node* dialogWindow = screen->getChildByName("editWW");
    editWW* dialog = editWW::fromPanel(dialogWindow);
    ASSERT_NE(dialog, nullptr);
    for (const auto& [field, typed] : {std::pair<const char*, const char*>{"editWW", "1234"}, {"editWL", "-56"},
                                       {"editMin", "-673"}, {"editMax", "561"}})
        dialog->getField(field)->setString(typed);
    clickNode(dialogWindow->getChildByNameDeep("btn_back"));
    step(3);
    EXPECT_EQ(screen->getChildByName("editWW"), nullptr);
    ASSERT_TRUE(container->getWindowLevel(width, level));
    EXPECT_FLOAT_EQ(width, 1234);
    EXPECT_FLOAT_EQ(level, -56);

    // A click while a menu is open only closes the menu.
    clickButton(screen, "btnCmdCapture");
    Node* capture = screen->getToolScrollView()->getChildByName("captureMenu");
    ASSERT_TRUE(capture && capture->isVisible());
    clickButton(screen, "btnTile1x2");
    EXPECT_FALSE(capture->isVisible());
    step(3);
    EXPECT_EQ(recorder->count(NOTIFY_LAYOUT_1X2), 1);

    // The slice slider: a click at its middle shows the middle slice.
    auto* slider = dynamic_cast<ui::Slider*>(panelOf(screen)->getChildByName("sliderSlice"));
    ASSERT_NE(slider, nullptr);
    isViewerMulti::SliceInfo slices;
    ASSERT_TRUE(container->getSliceIndexAndCount(slices));
    ASSERT_EQ(slices.count, 12);
    const int first = slices.index;
    clickNode(slider);
    EXPECT_TRUE(stepUntil([&] { return container->getSliceIndexAndCount(slices) && std::abs(slices.index - 6) <= 1; }, 5))
        << "from slice " << first << " to " << slices.index;

    // The toolbox opens the tool disk over the active view; a choice on it reaches the container
    // and closes it, and the toolbox closes it too.
    Node* toolbox = screen->getChildByName("root")->getChildByName("btnCmdToolbox");
    ASSERT_TRUE(toolbox && toolbox->isVisible());
    recorder->listen(NOTIFY_WL_DEFAULT, container);
    clickNode(toolbox);
    step(30);
    auto* disk = dynamic_cast<toolDisk*>(screen->getChildByName("toolDisk"));
    ASSERT_NE(disk, nullptr);
    ASSERT_TRUE(disk->isVisible());
    Rect active;
    ASSERT_TRUE(container->getActiveViewRect(active));
    Node* detail = disk->getDetail();
    const Size page = detail->getContentSize();
    EXPECT_TRUE(active.containsPoint(detail->convertToWorldSpace(Vec2(page.width / 2, page.height / 2))));
    Node* item = detail->getChildByName("Default");
    ASSERT_NE(item, nullptr);
    clickNode(item);
    step(2);
    EXPECT_EQ(recorder->count(NOTIFY_WL_DEFAULT), 1);
    step(60);
    EXPECT_FALSE(disk->isVisible());
    clickNode(toolbox);
    step(30);
    EXPECT_TRUE(disk->isVisible());
    clickNode(toolbox);
    step(60);
    EXPECT_FALSE(disk->isVisible());
    recorder->release();
}

TEST_F(ViewerScreenTest, VolumeRenderingAndBackLeaveOnePanel)
{
    qvtest::StandInVolume::install();
    const std::string folder = writeSeries("PHANTOM_PH-0001/study/ct", ctSpec(16));
    imageViewerPC* screen = openViewer(folder, "mpr");
    ASSERT_NE(screen, nullptr);
    ASSERT_NE(screen->getViewer(), nullptr);
    ASSERT_TRUE(stepUntil([&] { return seriesLoaded(screen); }));
    step(10);
    const int first = screen->getPanelCode();
    EXPECT_NE(first, imageViewerPC::PANEL_VR);
    clickButton(screen, "btnViewVR");
    ASSERT_TRUE(stepUntil([&] { return screen->getPanelCode() == imageViewerPC::PANEL_VR; }, 5));
    EXPECT_NE(panelOf(screen)->getChildByName("btnCmdOriS"), nullptr);
    clickButton(screen, "btnViewAxial");
    ASSERT_TRUE(stepUntil([&] { return screen->getPanelCode() != imageViewerPC::PANEL_VR; }, 5));
    EXPECT_EQ(countNamed(screen, "imageTool"), 1);
    EXPECT_EQ(countNamed(screen, "btnViewAxial"), 1);
    EXPECT_EQ(countNamed(screen, "sliderSlice"), 1);
}

TEST_F(ViewerScreenTest, LeavingWhileTheFolderIsScannedDeliversNothing)
{
    // A first screen, opened and left, so that the big one's first frame draws quickly (its
    // pictures and fonts are loaded already) and the screen leaves while its worker scans.
    openViewer(writeSeries("PHANTOM_PH-0001/study/small", ctSpec(2, 16)));
    director->popScene();
    step(3);
    const std::string folder = writeSeries("PHANTOM_PH-0001/study/big", ctSpec(200, 256));
    Scene* scene = imageViewerPC::createScene(folder);
    imageViewerPC* screen = imageViewerPC::getScreen(scene);
    ASSERT_NE(screen, nullptr);
    Recorder* recorder = new Recorder();
    recorder->listen(NOTIFY_SERIES_LOADED, screen);
    director->pushScene(scene);
    step();  // entered: the worker starts scanning
    std::shared_ptr<viewerSeriesLoader> loader = screen->getLoader();
    ASSERT_NE(loader, nullptr);
    ASSERT_FALSE(loader->isFinished());
    director->popScene();
    step();
    EXPECT_TRUE(loader->isCancelled());
    ASSERT_TRUE(stepUntil([&] { return loader->isFinished(); }, 60));
    step(10);
    EXPECT_EQ(recorder->count(NOTIFY_SERIES_LOADED), 0);
    EXPECT_EQ(isSharedObjects::getInstance()->getObject(folder), nullptr);
    EXPECT_EQ(NSUI::NSActivity::current(), nullptr);
    recorder->release();
}

TEST_F(ViewerScreenTest, OneSliceRgbAndMultiFrameSeriesOpen)
{
    qvgen::PhantomSpec one = ctSpec(1);
    qvgen::PhantomSpec rgb = ctSpec(4);
    rgb.rgb = true;
    qvgen::PhantomSpec frames = ctSpec(6);
    frames.multiFrame = true;
    // The panel's cine and slider step through slices: with one slice they show they cannot act
    // (the frames of one file play from the picture's own buttons).
    struct Case {
        std::string folder;
        qvgen::PhantomSpec spec;
        bool slicesToStep;
    };
    for (const auto& [folder, spec, slicesToStep] :
         std::vector<Case>{{"P/S/one", one, false}, {"P/S/rgb", rgb, true}, {"P/S/frames", frames, false}}) {
        writeSeries(folder, spec);
        imageViewerPC* screen = openViewer(folder);
        ASSERT_NE(screen, nullptr) << folder;
        EXPECT_NE(screen->getViewer(), nullptr) << folder;
        EXPECT_EQ(screen->getChildByName("imageViewerMsg"), nullptr) << folder;
        ASSERT_NE(panelOf(screen), nullptr) << folder;
        step(10);
        for (const char* name : {"btnCmdPlay", "btnCmdPrior", "btnCmdNext", "sliderSlice"}) {
            auto* control = dynamic_cast<ui::Widget*>(panelOf(screen)->getChildByName(name));
            ASSERT_NE(control, nullptr) << name;
            EXPECT_EQ(control->isEnabled(), slicesToStep) << folder << " " << name;
            EXPECT_EQ(control->getOpacity() == 255, slicesToStep) << folder << " " << name;
        }
        director->popScene();
        step(3);
        EXPECT_EQ(isSharedObjects::getInstance()->getObject(folder), nullptr) << folder;
    }
}

// A series with nothing to show (a structured report: no pixels) leads back to where the viewer was
// opened from, with the toast shown there, rather than to an empty viewer full of tools.
TEST_F(ViewerScreenTest, ASeriesThatCannotBeShownLeadsBackWithTheToast)
{
    const std::string folder = "PHANTOM_PH-0001/study/report";
    const std::string path = libraryRoot() + folder;
    FileUtils::getInstance()->createDirectory(path);
    {
        DcmFileFormat file;
        DcmDataset* data = file.getDataset();
        char uid[100];
        data->putAndInsertString(DCM_SOPClassUID, UID_BasicTextSRStorage);
        data->putAndInsertString(DCM_SOPInstanceUID, dcmGenerateUniqueIdentifier(uid));
        data->putAndInsertString(DCM_StudyInstanceUID, dcmGenerateUniqueIdentifier(uid));
        data->putAndInsertString(DCM_SeriesInstanceUID, dcmGenerateUniqueIdentifier(uid));
        data->putAndInsertString(DCM_Modality, "SR");
        data->putAndInsertString(DCM_PatientName, "PHANTOM^REPORT");
        data->putAndInsertString(DCM_PatientID, "PH-0001");
        ASSERT_TRUE(file.saveFile((path + "/report.dcm").c_str(), EXS_LittleEndianExplicit).good());
    }
    ASSERT_EQ(director->getRunningScene(), home);
    imageViewerPC* screen = pushViewer(folder);
    ASSERT_NE(screen, nullptr);
    ASSERT_NE(director->getRunningScene(), home);
    ASSERT_TRUE(stepUntil([&] { return director->getRunningScene() == home; }, 30));
    step(3);
    Node* toast = home->getChildByName("messageBox");
    ASSERT_NE(toast, nullptr);
    EXPECT_TRUE(toast->isVisible());
    auto* text = dynamic_cast<ui::Text*>(toast->getChildByNameDeep("messageBox.text"));
    ASSERT_NE(text, nullptr);
    EXPECT_FALSE(text->getString().empty());
    EXPECT_EQ(isSharedObjects::getInstance()->getObject(folder), nullptr);
}

TEST_F(ViewerScreenTest, TheOverlayDrawsArabicAndHebrewNamesShapedAndRightToLeft)
{
    NSUI::UILocalConfig::setLocalString("sdk_show_dcmFullInfo", "1"); // the overlay names the patient
    const std::string names[] = {u8"قباني^لنزار", u8"שרון^דבורה"};
    int k = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        qvgen::PhantomSpec spec = ctSpec(2);
        spec.characterSet = "ISO_IR 192";
        spec.patientName = name;
        imageViewerPC* screen = openViewer(writeSeries("RTL_" + std::to_string(k++) + "/study/ct", spec));
        ASSERT_NE(screen, nullptr);
        ASSERT_NE(screen->getViewer(), nullptr);
        ASSERT_TRUE(stepUntil([&] { return seriesLoaded(screen); }));
        // The patient's text of the active window's overlay, once its information is read. The
        // overlay may make its texts again in any frame: the text is used before the next one.
        isNodeOverlayText* shown = nullptr;
        auto find = [&] {
            shown = nullptr;
            KeyViewProperty* cell = screen->getViewer()->getActiveCell();
            isViewerBrowser* browser = cell ? cell->getBrowser() : nullptr;
            isViewerImage* window = browser ? browser->getActiveWindow() : nullptr;
            isActorOverlay* overlay = window ? window->getActorManager()->getOverlayActor() : nullptr;
            if (!overlay)
                return false;
            for (NSUI::NSLayout* row : overlay->getCornerRows(OVERLAY_TOP_RIGHT))
                for (Node* child : row->getChildren()) {
                    auto* text = dynamic_cast<isNodeOverlayText*>(child);
                    if (text && text->getString() == name)
                        shown = text;
                }
            return shown != nullptr;
        };
        ASSERT_TRUE(stepUntil(find, 30));
        EXPECT_TRUE(qvtest::drawsAsHarfBuzz(shown->getLabelRenderer()));
        const auto glyphs = shown->getLabelRenderer()->getGlyphsForTest();
        ASSERT_FALSE(glyphs.empty());
        EXPECT_EQ(glyphs.back().codePoint, 0u); // the first letter drawn rightmost
        director->popScene();
        step(2);
    }
}

// A view maximised from the quick tool bar covers the image area below the top bar: its top-left
// overlay texts stay in sight and draw there; restoring puts it back in its cell.
TEST_F(ViewerScreenTest, QuickToolMaximisesAViewInsideTheImageArea)
{
    imageViewerPC* screen = openViewer(writeSeries("PHANTOM_PH-0001/study/ct", ctSpec(16)));
    ASSERT_NE(screen, nullptr);
    ASSERT_NE(screen->getViewer(), nullptr);
    ASSERT_TRUE(stepUntil([&] { return seriesLoaded(screen); }));
    step(10);
    isViewerBrowser* browser = screen->getViewer()->getActiveCell()->getBrowser();
    ASSERT_NE(browser, nullptr);
    isViewerImage* window = browser->getActiveWindow();
    ASSERT_NE(window, nullptr);
    const Rect cell(window->convertToWorldSpace(Vec2::ZERO), window->getContentSize());
    // A touch on the view brings the quick tool bar along its bottom edge.
    InputSimulator::click(cell.getMidX(), cell.getMidY());
    ASSERT_TRUE(stepUntil([&] { return screen->getQuickTool() && screen->getQuickTool()->isVisible(); }, 5));
    auto clickMax = [&] {
        const bool was = window->isMaximized();
        pauseBetweenGestures();
        clickNode(screen->getQuickTool()->getChildByName("max"));
        ASSERT_TRUE(stepUntil([&] { return window->isMaximized() != was; }, 5));
        step(5);
    };
    clickMax();
    const Rect area = screen->getViewingArea();
    EXPECT_EQ(window->convertToWorldSpace(Vec2::ZERO), area.origin);
    EXPECT_EQ(window->getContentSize(), area.size);
    savePicture("maximised");

    // The top-left texts (the plane's name first) lie below the top bar and are drawn: bright
    // pixels inside their boxes.
    isActorOverlay* overlay = window->getActorManager()->getOverlayActor();
    ASSERT_NE(overlay, nullptr);
    int texts = 0;
    for (NSUI::NSLayout* row : overlay->getCornerRows(OVERLAY_TOP_LEFT))
        for (Node* child : row->getChildren()) {
            auto* text = dynamic_cast<isNodeOverlayText*>(child);
            if (!text || text->getString().empty() || !text->isVisible())
                continue;
            ++texts;
            const Vec2 low = text->convertToWorldSpace(Vec2::ZERO);
            const Rect box(low, Size(text->convertToWorldSpace(Vec2(text->getContentSize())) - low));
            EXPECT_LE(box.getMaxY(), area.getMaxY() + 0.5f) << text->getString();
            int lit = 0;
            for (float y = box.getMinY() + 1; y < box.getMaxY() - 1; y += 1)
                for (float x = box.getMinX() + 1; x < box.getMaxX() - 1; x += 1) {
                    const auto p = pixelAt(x, y);
                    lit += p[0] + p[1] > 300;
                }
            EXPECT_GT(lit, 5) << "\"" << text->getString() << "\" is not drawn";
        }
    EXPECT_GT(texts, 0);

    clickMax();
    EXPECT_EQ(Rect(window->convertToWorldSpace(Vec2::ZERO), window->getContentSize()), cell);
}

// The controls show what the views show: the slice slider follows the active view's slice when
// the wheel or the cine moves it, and a layout chosen from the view-mode menu brings its own tool
// panel and protocol picture (no turn and orientation tools left over plain 2D views).
TEST_F(ViewerScreenTest, SliderAndPanelFollowTheViews)
{
    qvtest::StandInVolume::install();
    imageViewerPC* screen = openViewer(writeSeries("PHANTOM_PH-0001/study/ct", ctSpec(16)), "mpr");
    ASSERT_NE(screen, nullptr);
    ASSERT_NE(screen->getViewer(), nullptr);
    ASSERT_TRUE(stepUntil([&] { return seriesLoaded(screen); }));
    step(10);
    isViewerMulti* container = screen->getViewer();
    auto slider = [&] { return dynamic_cast<ui::Slider*>(panelOf(screen)->getChildByName("sliderSlice")); };
    auto expectSliderAtSlice = [&](const char* after) {
        isViewerMulti::SliceInfo info;
        ASSERT_TRUE(container->getSliceIndexAndCount(info));
        ASSERT_NE(slider(), nullptr);
        EXPECT_EQ(slider()->getPercent(), int(float(info.index) / float(info.count - 1) * 100.0f)) << after;
    };
    expectSliderAtSlice("opening");

    // Three wheel steps over the active (axial) view.
    Rect view;
    ASSERT_TRUE(container->getActiveViewRect(view));
    isViewerMulti::SliceInfo start;
    ASSERT_TRUE(container->getSliceIndexAndCount(start));
    for (int i = 0; i < 3; ++i) {
        InputSimulator::scroll(view.getMidX(), view.getMidY(), -1);
        step(3);
    }
    isViewerMulti::SliceInfo moved;
    ASSERT_TRUE(container->getSliceIndexAndCount(moved));
    ASSERT_EQ(std::abs(moved.index - start.index), 3);
    expectSliderAtSlice("the wheel");

    // The cine plays a while, then stops.
    clickButton(screen, "btnCmdPlay");
    for (int i = 0; i < 20; ++i) {
        step(1, 0.05f);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    clickButton(screen, "btnCmdPlay");
    step(2);
    isViewerMulti::SliceInfo played;
    ASSERT_TRUE(container->getSliceIndexAndCount(played));
    EXPECT_NE(played.index, moved.index);
    expectSliderAtSlice("the cine");

    // "MPR and 3D" from the view-mode menu, the volume view touched (its panel: turn and
    // orientation), then "2D View": the plain view's panel, with the slice, cine and measuring
    // tools, and the picture of its protocol.
    auto chooseMode = [&](int row) {
        pauseBetweenGestures();
        clickNode(screen->getChildByName("btnCmdProtocal"));
        step(2);
        auto* menu = dynamic_cast<NSUI::NSMenu*>(screen->getChildByName("protocalMenu"));
        ASSERT_NE(menu, nullptr);
        ASSERT_TRUE(menu->isVisible());
        clickMenuRow(menu, row);
        step(4);
    };
    Node* picture = screen->getChildByName("btnCmdProtocal")->getChildByName("picture");
    ASSERT_NE(picture, nullptr);
    Texture2D* mprPicture = static_cast<Sprite*>(picture)->getTexture();
    chooseMode(2);  // 2D View, 2D Browser, MPR and 3D, MPR, MPR Columns
    EXPECT_EQ(screen->getViewMode(), VIEWMODE_MPR3D);
    picture = screen->getChildByName("btnCmdProtocal")->getChildByName("picture");
    ASSERT_NE(picture, nullptr);
    EXPECT_NE(static_cast<Sprite*>(picture)->getTexture(), mprPicture) << "the picture stayed the previous mode's";
    const auto volume = container->cellsOfKind(VIEW_VR);
    ASSERT_EQ(volume.size(), 1u);
    // (The stand-in volume view draws nothing: it is activated as its touch would.)
    auto* volumeView = dynamic_cast<Ref*>(volume.front()->getViewer());
    ASSERT_NE(volumeView, nullptr);
    NSUI::NSNotificationCenter::getInstance()->postNotification(volumeView, NOTIFY_VIEW_ACTIVATE, nullptr, container);
    ASSERT_TRUE(stepUntil([&] { return screen->getPanelCode() == imageViewerPC::PANEL_VR; }, 5));

    chooseMode(0);
    EXPECT_EQ(screen->getViewMode(), VIEWMODE_2DVIEW);
    EXPECT_EQ(screen->getPanelCode(), imageViewerPC::PANEL_3D);
    for (const char* name : {"sliderSlice", "btnCmdPlay", "btnCmdLine"})
        EXPECT_NE(panelOf(screen)->getChildByName(name), nullptr) << name;
    EXPECT_EQ(panelOf(screen)->getChildByName("btnCmdOriS"), nullptr);
    expectSliderAtSlice("the new layout");
}

// The view-mode selector is there from the first frame that shows a series whose voxel file is not
// yet written (here it never is: a folder stands in its place), a volume or a one-file loop.
TEST_F(ViewerScreenTest, TheViewModeSelectorShowsBeforeTheVoxelFileIsWritten)
{
    qvgen::PhantomSpec loop = ctSpec(3);
    loop.multiFrame = true;
    for (const auto& [folder, spec] : std::vector<std::pair<std::string, qvgen::PhantomSpec>>{
             {"P/S/volume", ctSpec(20)}, {"P/S/frames", loop}}) {
        writeSeries(folder, spec);
        const std::string key = isDcmScan::getCacheKey(libraryRoot() + folder);
        ASSERT_TRUE(FileUtils::getInstance()->createDirectory(
            rawPathOf(isDcmScan::getCacheFolder() + key + kPrebinExtension) + "/kept"));
        imageViewerPC* screen = pushViewer(folder);
        ASSERT_TRUE(stepUntil([&] { return screen->getViewer() != nullptr; }));
        Node* button = screen->getChildByName("btnCmdProtocal");
        ASSERT_NE(button, nullptr) << folder;
        EXPECT_NE(button->getChildByName("picture"), nullptr) << folder;
        EXPECT_FALSE(dynamic_cast<isBinReader*>(isSharedObjects::getInstance()->getObject(folder))->hasRawFile());
        director->popScene();
        step(3);
    }
}

// A volume opens as one plain view until its voxel file is written, then in the layout chosen
// for it, with the protocol button showing that layout's picture; the protocol menu offers the
// protocols that fit one volume. With a protocol file that gives nothing the series still opens,
// the button stays without a picture and no menu opens.
TEST_F(ViewerScreenTest, ChosenLayoutFollowsTheVoxelFileAndTheProtocolButtonItsProtocols)
{
    isImageSDK::appManager::releaseProtocols();
    const std::string folder = writeSeries("PHANTOM_PH-0001/study/ct", ctSpec(60, 128));
    imageViewerPC* screen = pushViewer(folder, "mpr2");
    ASSERT_NE(screen, nullptr);
    // The layout of the first frame that shows the series.
    size_t firstCells = 0;
    bool firstWithButton = false, firstWithRawFile = false;
    ASSERT_TRUE(stepUntil([&] {
        if (!screen->getViewer())
            return false;
        firstCells = screen->getViewer()->getGroups().empty() ? 0 : screen->getViewer()->getGroups().begin()->second.size();
        firstWithButton = screen->getChildByName("btnCmdProtocal") != nullptr;
        auto* reader = dynamic_cast<isBinReader*>(isSharedObjects::getInstance()->getObject(folder));
        firstWithRawFile = reader && reader->hasRawFile();
        return true;
    }));
    EXPECT_TRUE(firstWithButton) << "no view-mode selector on the first frame";
    if (!firstWithRawFile) {
        EXPECT_EQ(firstCells, 1u) << "one plain view while the voxel file is written";
        EXPECT_EQ(screen->getViewer()->getActiveViewKind(), unsigned(VIEW_AXIAL));
    }
    ASSERT_TRUE(stepUntil([&] { return seriesLoaded(screen); }));
    ASSERT_TRUE(stepUntil([&] { return screen->getViewer()->cellsOfKind(VIEW_CORONAL).size() == 1; }, 10));
    step(3);
    EXPECT_EQ(screen->getViewMode(), VIEWMODE_MPR2);
    for (int kind : {VIEW_AXIAL, VIEW_SAGITTAL, VIEW_CORONAL})
        EXPECT_EQ(screen->getViewer()->cellsOfKind(kind).size(), 1u) << kind;
    Node* button = screen->getChildByName("btnCmdProtocal");
    ASSERT_NE(button, nullptr);
    EXPECT_NE(button->getChildByName("picture"), nullptr);

    // (The loader may write a small series' voxel file before the screen shows it.) Shown as
    // while the file was written, the notice of the written file lays the chosen layout out again.
    screen->getAppManager()->layoutViews(VIEWMODE_2DVIEW);
    ASSERT_EQ(screen->getViewer()->cellsOfKind(VIEW_CORONAL).size(), 0u);
    NSUI::NSNotificationCenter::getInstance()->postNotification(
        isSharedObjects::getInstance()->getObject(folder), NOTIFY_VOLUME_LOADED, nullptr, nullptr);
    stepUntil([&] { return screen->getViewer()->cellsOfKind(VIEW_CORONAL).size() == 1; }, 5);
    for (int kind : {VIEW_AXIAL, VIEW_SAGITTAL, VIEW_CORONAL})
        EXPECT_EQ(screen->getViewer()->cellsOfKind(kind).size(), 1u) << kind;
    EXPECT_EQ(screen->getAppManager()->getViewMode(), VIEWMODE_MPR2);
    clickNode(button);
    step(2);
    auto* menu = dynamic_cast<NSUI::NSMenu*>(screen->getChildByName("protocalMenu"));
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->isVisible());
    // One volume of 60 slices: every protocol but the comparison and the single slice.
    EXPECT_EQ(menu->getList()->getRowCount(), 5);
    director->popScene();
    step(3);

    // A protocol file that gives nothing.
    const std::string override = scratch + "override/";
    FileUtils::getInstance()->createDirectory(override + "protocal/");
    FileUtils::getInstance()->writeStringToFile("<plist><dict></dict></plist>", override + "protocal/protocal.xml");
    FileUtils::getInstance()->addSearchPath(override, true);
    isImageSDK::appManager::releaseProtocols();
    struct Restore {
        ~Restore()
        {
            FileUtils::getInstance()->setSearchPaths({"res/pad", "imageSDK", "dcmtk", "UIRes", "test"});
            isImageSDK::appManager::releaseProtocols();
        }
    } restore;
    imageViewerPC* again = openViewer(folder, "mpr2");
    ASSERT_NE(again, nullptr);
    ASSERT_NE(again->getViewer(), nullptr);
    ASSERT_TRUE(stepUntil([&] { return again->getChildByName("btnCmdProtocal") != nullptr; }, 10));
    EXPECT_EQ(again->getChildByName("btnCmdProtocal")->getChildByName("picture"), nullptr);
    EXPECT_EQ(again->getViewer()->cellsOfKind(VIEW_CORONAL).size(), 1u);
    clickNode(again->getChildByName("btnCmdProtocal"));
    step(2);
    EXPECT_EQ(again->getChildByName("protocalMenu"), nullptr);
}

// A cine loop of one multi-frame image, played from its overlay buttons as a user plays it: the
// buttons are drawn large enough to hit, play runs at the default rate until paused (the picture
// changes frame after frame, and stands still once paused) and the button shows pause meanwhile.
TEST_F(ViewerScreenTest, MultiFrameCineLoopPlaysFromItsOverlayButtonsUntilPaused)
{
    qvgen::PhantomSpec spec = ctSpec(24, 128);
    spec.modality = "US";
    spec.rgb = true;
    spec.multiFrame = true;
    // Slices 1 mm apart and pixels of 2 mm: the spheres grow and shrink from frame to frame.
    spec.sliceSpacing = 1.0;
    spec.columnSpacing = spec.rowSpacing = 2.0;
    imageViewerPC* screen = openViewer(writeSeries("P/S/cine", spec));
    ASSERT_NE(screen, nullptr);
    ASSERT_TRUE(stepUntil([&] { return seriesLoaded(screen); }));
    Scene* scene = director->getRunningScene();
    auto* play = dynamic_cast<isNodeOverlaySprite*>(scene->getChildByNameDeep("multi_status"));
    ASSERT_NE(play, nullptr);
    ASSERT_TRUE(stepUntil([&] { return play->isVisible(); }, 10));
    step(3);
    for (const char* name : {"multi_prior", "multi_status", "multi_next"}) {
        Node* button = scene->getChildByNameDeep(name);
        ASSERT_NE(button, nullptr) << name;
        bool shown = button->isVisible();
        for (Node* n = button->getParent(); n && shown; n = n->getParent())
            shown = n->isVisible();
        EXPECT_TRUE(shown) << name;
        // Drawn size: the button's box in window units.
        const Vec2 a = button->convertToWorldSpace(Vec2::ZERO);
        const Vec2 b = button->convertToWorldSpace(Vec2(button->getContentSize()));
        EXPECT_GE(std::fabs(b.x - a.x), 32.0f) << name;
        EXPECT_GE(std::fabs(b.y - a.y), 32.0f) << name;
    }
    savePicture("cine-buttons");
    Rect view;
    ASSERT_TRUE(screen->getViewer()->getActiveViewRect(view));
    // The picture as a column of pixels down the middle of the view, through a sphere.
    auto picture = [&] {
        std::vector<int> column;
        for (int i = 0; i < 200; ++i) {
            const auto p = pixelAt(view.getMidX(), view.getMinY() + view.size.height * (i + 0.5f) / 200);
            column.insert(column.end(), p.begin(), p.end());
        }
        return column;
    };
    clickNode(play);
    std::set<std::vector<int>> seen;
    for (int i = 0; i < 30; ++i) {  // 3 s of frames, looked at every 0.1 s
        step(6);
        seen.insert(picture());
    }
    EXPECT_GE(seen.size(), 6u) << "the loop did not play";
    EXPECT_EQ(play->getPicture(), "imageSDK/pause.png");
    clickNode(play);
    step(2);
    const auto paused = picture();
    step(60);
    EXPECT_EQ(picture(), paused) << "the loop went on once paused";
    EXPECT_EQ(play->getPicture(), "imageSDK/play.png");
}

// Escape with a pop-up open closes that pop-up, as a touch beside it does, and leaves the viewer
// open; with nothing open it goes back to where the viewer was opened from.
TEST_F(ViewerScreenTest, EscapeClosesTheOpenMenuBeforeItLeaves)
{
    imageViewerPC* screen = openViewer(writeSeries("PHANTOM_PH-0001/study/ct", ctSpec(12)));
    ASSERT_NE(screen, nullptr);
    ASSERT_TRUE(stepUntil([&] { return seriesLoaded(screen); }));
    Scene* viewer = director->getRunningScene();
    const struct {
        const char* button;
        const char* popUp;
    } rows[] = {
        {"btnCmdProtocal", "protocalMenu"},   // the layout menu of the top bar
        {"btnCmdCapture", "captureMenu"},     {"btnCmdWL", "windowLevelMenu"},
        {"btnCmdClut", "clutMenu"},           {"btnCmdWLOpaticy", "opacityMenu"},
        {"btnCmdToolbox", "toolDisk"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.popUp);
        Node* button = screen->getChildByNameDeep(row.button);
        ASSERT_NE(button, nullptr);
        clickNode(button);
        step(2);
        Node* popUp = screen->getChildByNameDeep(row.popUp);
        ASSERT_NE(popUp, nullptr);
        ASSERT_TRUE(popUp->isVisible());
        InputSimulator::tap(EventKeyboard::KeyCode::KEY_ESCAPE);
        // (Once the viewer has gone, its pop-ups have gone with it. The tool disk leaves in half
        // a second of frames, which a loaded machine may take long to draw.)
        ASSERT_TRUE(stepUntil([&] { return director->getRunningScene() != viewer || !popUp->isVisible(); }, 30));
        ASSERT_EQ(director->getRunningScene(), viewer) << "Escape left the viewer with a pop-up open";
    }
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_ESCAPE);
    EXPECT_TRUE(stepUntil([&] { return director->getRunningScene() == home; }, 30));
}
