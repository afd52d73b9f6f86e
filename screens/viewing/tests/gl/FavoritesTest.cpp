// The favourites screens on the real scene, with the library database in the test's folder:
// captures and DICOM favourites appear in the capture list with thumbnails that decode, a DICOM
// favourite shows its pixels in the favourite viewer, a level typed there changes only that view,
// and removing a favourite removes its row, its files and its database row.
#include "support/ViewingFixture.h"

#include "DicomSeriesWriter.h"
#include "GLTestProgram.h"
#include "NSDBDataModel.h"
#include "NSNotificationData.h"
#include "NSSpriteView.h"
#include "NSTextField.h"
#include "captureList.h"
#include "captureScreenToFile.h"
#include "dcmInfoList.h"
#include "dataService.h"
#include "dcmLib.h"
#include "dicomDB.h"
#include "editWW.h"
#include "favoriteList.h"
#include "favoriteView.h"
#include "imageViewerPC.h"
#include "UILocalConfig.h"
#include "isActorOverlay.h"
#include "isActorROI.h"
#include "isNodeOverlayText.h"
#include "isViewerBrowser.h"
#include "isViewerImage.h"
#include "isViewerMulti.h"
#include "renderer/ccUtils.h"

#include <array>
#include <chrono>
#include <cstdlib>
#include <thread>

USING_NS_CC;

namespace {

using qvtest::pixelAt;
using qvtest::savePicture;

// A 64 x 64 8-bit image of four quadrants (grey 40, 100, 160, 220 from the bottom left,
// clockwise), shown through the window 128 / 256 as the same greys.
qvgen::ImageSpec quadrants()
{
    qvgen::ImageSpec spec;
    spec.columns = 64;
    spec.rows = 64;
    spec.bitsAllocated = 8;
    spec.modality = "OT";
    spec.windowCenter = "128";
    spec.windowWidth = "256";
    spec.pixels.resize(64 * 64);
    for (int r = 0; r < 64; ++r)
        for (int c = 0; c < 64; ++c) {
            const bool top = r < 32, left = c < 32;  // rows run from the top
            spec.pixels[r * 64 + c] = top ? (left ? 100 : 160) : (left ? 40 : 220);
        }
    return spec;
}

bool lit(const std::array<int, 3>& c)
{
    return c[0] + c[1] + c[2] > 60;
}

// The first and last lit pixel along the row y between x0 and x1 (design units, 2-unit steps);
// (-1, -1) when the row is dark.
std::pair<int, int> litSpan(float y, float x0, float x1)
{
    int first = -1, last = -1;
    for (float x = x0; x < x1; x += 2.0f)
        if (lit(pixelAt(x, y))) {
            if (first < 0)
                first = int(x);
            last = int(x);
        }
    return {first, last};
}

} // namespace

class FavoritesTest : public ViewingTest {
protected:
    void SetUp() override
    {
        ViewingTest::SetUp();
        redIRI::setSavePngCallback(dataService::onSdkSavePng);
        db = new dicomDB();
        db->setLibraryFolderForTest(libraryRoot());
        db->setStartServerForTest(false);
        db->init();
        captureList::setDatabaseForTest(db);
        favoriteFolder = scratch + "data/qv/favorite/";
        FileUtils::getInstance()->createDirectory(favoriteFolder);
    }
    void TearDown() override
    {
        // The library's workers post to the director, so they end before ViewingTest::TearDown
        // destroys it: a worker's post afterwards made a director of its own, whose thread then
        // counted as the main one.
        db->stop();
        ViewingTest::TearDown();
        captureList::setDatabaseForTest(nullptr);
        db->release();
        redIRI::setSavePngCallback(nullptr);
    }

    // Stores a DICOM favourite as the viewer screen does (9105, flag 100).
    std::string addDicomFavorite(const std::string& name, const qvgen::ImageSpec& spec)
    {
        const std::string path = favoriteFolder + name;
        std::string error;
        EXPECT_TRUE(qvgen::writeDicomFile(path, spec, &error)) << error;
        auto* data = NSUI::NSNotificationData::create();
        data->text = path;
        data->intValue = 100;
        data->floatValue = 1.0f;
        const int before = db->newFavoriteCount;
        NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_FAVORITE_ADD_FILE, data);
        EXPECT_TRUE(stepUntil([&] { return db->newFavoriteCount > before; }));
        return path;
    }

    favoriteList* openFavorites()
    {
        Scene* scene = favoriteList::createScene();
        favoriteList* screen = favoriteList::getScreen(scene);
        director->pushScene(scene);
        step(2);
        EXPECT_TRUE(stepUntil([screen] { return screen->getCaptureList()->isLoaded(); }));
        return screen;
    }

    // The index of the first row of the type, or -1.
    static ssize_t rowOfType(captureList* list, int type)
    {
        for (ssize_t i = 0; i < list->getTable()->getRowCount(); ++i)
            if (list->rowAt(i)->type == type)
                return i;
        return -1;
    }

    dicomDB* db = nullptr;
    std::string favoriteFolder;
};

TEST_F(FavoritesTest, CapturesAndFavouritesAppearWithThumbnailsThatDecode)
{
    ASSERT_TRUE(captureScreenToFile(0, 0, 0, 0));
    ASSERT_TRUE(stepUntil([&] { return db->newFavoriteCount == 1; }));
    qvgen::ImageSpec tall = quadrants();
    tall.pixelSpacing = "1\\0.5";  // pixels twice as tall as wide
    const std::string dicom = addDicomFavorite("a.dcm", tall);

    favoriteList* screen = openFavorites();
    captureList* list = screen->getCaptureList();
    EXPECT_EQ(db->newFavoriteCount, 0);  // the badge counts from here
    const ssize_t imageRow = rowOfType(list, captureList::kImageFile);
    const ssize_t dicomRow = rowOfType(list, captureList::kDicomFile);
    ASSERT_GE(imageRow, 0);
    ASSERT_GE(dicomRow, 0);
    EXPECT_EQ(list->rowAt(dicomRow)->image, dicom);
    // The last row is an item: the time mark after it would have been dropped.
    EXPECT_NE(list->rowAt(list->getTable()->getRowCount() - 1)->type, int(captureList::kTimeMark));

    // Drawn again and again before its thumbnail exists, the row still has one job.
    for (int i = 0; i < 3; ++i)
        list->getTable()->updateCellAtIndex(dicomRow);
    const std::string png = captureList::thumbnailPath(dicom);
    ASSERT_TRUE(stepUntil([&] { return list->getThumbnailJobs().empty() && FileUtils::getInstance()->isFileExist(png); }));
    EXPECT_EQ(list->getThumbnailJobsStarted(), 1);
    step(10);
    for (const std::string& file : {png, list->rowAt(imageRow)->image}) {
        Image decoded;
        ASSERT_TRUE(decoded.initWithImageFile(file)) << file;
        EXPECT_GT(decoded.getWidth(), 0) << file;
        if (file == png) {  // the pixels' true shape: 64 columns of 0.5 mm by 64 rows of 1 mm
            EXPECT_EQ(decoded.getHeight(), 128);
        }
    }
    // The row's thumbnail now shows the PNG, not the placeholder.
    NSUI::NSTableViewCell* cell = list->getTable()->cellAtIndex(dicomRow);
    ASSERT_NE(cell, nullptr);
    ASSERT_TRUE(stepUntil([&] {
        auto* sprite = static_cast<Sprite*>(cell->getChildByTag(captureList::kThumbnailTag));
        return sprite->getTexture() && sprite->getTexture()->getPixelsWide() == 64;
    }));

    // Touching the DICOM thumbnail shows it in the viewer; the image thumbnail shows the picture.
    auto touchThumbnail = [&](ssize_t row) {
        NSUI::NSTableViewCell* c = list->getTable()->cellAtIndex(row);
        Node* thumb = c->getChildByTag(captureList::kThumbnailTag);
        const Vec2 at = c->convertToWorldSpace(thumb->getPosition() - Vec2(20, 20));
        InputSimulator::click(at.x, at.y);
        step(2);
    };
    touchThumbnail(dicomRow);
    EXPECT_TRUE(screen->getViewer()->isVisible());
    EXPECT_FALSE(screen->getPictureView()->isVisible());
    EXPECT_EQ(screen->getViewer()->getFilePath(), dicom);
    step(20);
    savePicture("favorites");
    touchThumbnail(imageRow);
    EXPECT_FALSE(screen->getViewer()->isVisible());
    EXPECT_TRUE(screen->getPictureView()->isVisible());
}

TEST_F(FavoritesTest, FavouriteViewerShowsTheSavedPixelsAndAppliesOnlyItsOwnLevel)
{
    // A viewer screen under the favourites screen, as when the favourites are opened from it.
    NSUI::UILocalConfig::setLocalString(isImageSDK::isViewerImage::kFullInfoKey, "1");  // "Ex:" shown
    qvgen::PhantomSpec series;
    series.columns = 64;
    series.rows = 64;
    series.slices = 16;
    imageViewerPC* viewerScreen = openViewer(writeSeries("p/s/1", series));
    ASSERT_NE(viewerScreen, nullptr);
    ASSERT_NE(viewerScreen->getViewer(), nullptr);
    ASSERT_TRUE(stepUntil([&] { return seriesLoaded(viewerScreen); }));
    // Its sagittal view kept as a favourite, as the quick tool bar asks for it.
    viewerScreen->getViewer()->sendCommand(NOTIFY_VIEW_SAGITTAL, nullptr);
    step(3);
    auto* keep = NSUI::NSNotificationData::create();
    keep->uintValue = viewerScreen->getViewer()->getActiveCell()->getBrowser()->getActiveWindow()->getRefID();
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_FAVORITE_ADD_VIEW, keep, nullptr);
    ASSERT_TRUE(stepUntil([&] { return db->newFavoriteCount == 1; }));
    float underWidth = 0, underLevel = 0;
    ASSERT_TRUE(viewerScreen->getViewer()->getWindowLevel(underWidth, underLevel));

    const std::string dicom = addDicomFavorite("q.dcm", quadrants());
    favoriteList* screen = openFavorites();
    // Its thumbnail stands as the view did, drawn at its own shape: 64 columns front to back, 16
    // slices of 2 mm from the head down (turned, 32 wide and 64 tall); the favourite names the
    // view's study.
    captureList* list = screen->getCaptureList();
    ssize_t row = 0;
    while (list->rowAt(row)->type != captureList::kDicomFile || list->rowAt(row)->image == dicom)
        ++row;
    auto* drawn = static_cast<Sprite*>(list->getTable()->cellAtIndex(row)->getChildByTag(captureList::kThumbnailTag));
    ASSERT_TRUE(stepUntil([&] { return drawn->getTexture() && drawn->getTexture()->getPath().find("/favorite/") != std::string::npos; }));
    EXPECT_EQ(drawn->getTexture()->getContentSizeInPixels(), Size(64, 32));
    EXPECT_FLOAT_EQ(drawn->getScaleX(), drawn->getScaleY());
    screen->onSelect(list->rowAt(row)->image, captureList::kDicomFile);
    auto studyText = [&] {
        auto* shown = screen->getViewer()->getViewer()->getActiveCell()->getBrowser()->getActiveWindow();
        for (NSUI::NSLayout* r : shown->getActorManager()->getOverlayActor()->getCornerRows(isImageSDK::OVERLAY_TOP_LEFT))
            for (Node* child : r->getChildren())
                if (auto* text = dynamic_cast<isImageSDK::isNodeOverlayText*>(child))
                    if (text->getPrefix() == " Ex:" && text->getString() != " Ex:")
                        return text->getString();
        return std::string();
    };
    ASSERT_TRUE(stepUntil([&] { return !studyText().empty(); }));
    EXPECT_EQ(studyText(), " Ex:1");
    screen->onSelect(dicom, captureList::kDicomFile);
    favoriteView* view = screen->getViewer();
    isImageSDK::isViewerMulti* container = view->getViewer();
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(view->getMessage(), "");
    step(10);

    // Around the view's centre, each quadrant shows its grey.
    Rect rect;
    ASSERT_TRUE(container->getActiveViewRect(rect));
    const Vec2 centre = view->convertToWorldSpace(Vec2(rect.getMidX(), rect.getMidY()));
    const struct {
        float dx, dy;
        int grey;
    } samples[] = {{-80, 80, 100}, {80, 80, 160}, {-80, -80, 40}, {80, -80, 220}};
    for (const auto& s : samples) {
        const auto p = pixelAt(centre.x + s.dx, centre.y + s.dy);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(p[k], s.grey, 3) << s.dx << "," << s.dy << " channel " << k;
    }

    // "Enter Values" on the favourite's container opens the dialog with its window.
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_WL_INPUT, nullptr, container);
    step(2);
    editWW* dialog = editWW::fromPanel(view->getChildByName("editWW"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->getField("editWW")->getString(), "256");
    EXPECT_EQ(dialog->getField("editWL")->getString(), "128");
    step(3);
    savePicture("levelDialog");
    // Inside the modal window the fields' backgrounds and the Apply button's image draw over the
    // view (their pieces are made at the first frame, after the window was raised), and the
    // field's dark text stands on its light background.
    NSUI::NSTextField* widthField = dialog->getField("editWW");
    const Vec2 fieldBlank = widthField->convertToWorldSpace(Vec2(270, widthField->getContentSize().height / 2));
    const auto blank = pixelAt(fieldBlank.x, fieldBlank.y);
    for (int k = 0; k < 3; ++k)
        EXPECT_GT(blank[k], 200) << "field background, channel " << k;
    int darkText = 0;
    for (int x = 0; x < 60; ++x) {
        const Vec2 at = widthField->convertToWorldSpace(Vec2(float(x), widthField->getContentSize().height / 2));
        const auto p = pixelAt(at.x, at.y);
        darkText += p[0] < 100 && p[1] < 100 && p[2] < 100;
    }
    EXPECT_GT(darkText, 3) << "the width's digits on the field";
    auto* apply = dialog->getChildByNameDeep("btn_back");
    ASSERT_NE(apply, nullptr);
    const Vec2 applyEdge = apply->convertToWorldSpace(Vec2(10, apply->getContentSize().height / 2));
    const auto accent = pixelAt(applyEdge.x, applyEdge.y);
    EXPECT_NEAR(accent[0], 21, 25);
    EXPECT_NEAR(accent[1], 170, 25);
    EXPECT_NEAR(accent[2], 254, 25);
    dialog->getField("editWW")->setString("100");
    dialog->getField("editWL")->setString("50");
    dialog->getField("editMin")->setString("0");
    dialog->getField("editMax")->setString("100");
    ASSERT_TRUE(dialog->onResponseReturn());
    step(4);
    EXPECT_EQ(view->getChildByName("editWW"), nullptr);
    float width = 0, level = 0;
    ASSERT_TRUE(container->getWindowLevel(width, level));
    EXPECT_FLOAT_EQ(width, 100);
    EXPECT_FLOAT_EQ(level, 50);
    float afterWidth = 0, afterLevel = 0;
    ASSERT_TRUE(viewerScreen->getViewer()->getWindowLevel(afterWidth, afterLevel));
    EXPECT_FLOAT_EQ(afterWidth, underWidth);
    EXPECT_FLOAT_EQ(afterLevel, underLevel);

    // The tag list of the shown file, over the pane.
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_DCMINFO_LIST, nullptr, view);
    step(2);
    auto* tags = dcmInfoList::fromWindow(view->getChildren().back());
    ASSERT_NE(tags, nullptr);
    ASSERT_TRUE(stepUntil([tags] { return tags->isLoaded(); }));
    step(3);
    savePicture("tagList");
    EXPECT_GT(tags->getList()->getRowCount(), 10);
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_ESCAPE);
    step(2);
    EXPECT_EQ(dcmInfoList::fromWindow(view->getChildren().back()), nullptr);

    // A file that is not DICOM is refused with the view hidden; a valid one shows it again.
    const std::string text = favoriteFolder + "note.dcm";
    FileUtils::getInstance()->writeStringToFile("not an image", text);
    view->setFile(text);
    EXPECT_EQ(view->getMessage(), "Not Valid File");
    EXPECT_FALSE(container->isVisible());
    view->setFile(dicom);
    EXPECT_EQ(view->getMessage(), "");
    EXPECT_TRUE(container->isVisible());
}

TEST_F(FavoritesTest, RemovingAFavouriteRemovesItsRowItsFilesAndItsRecord)
{
    const std::string kept = addDicomFavorite("k.dcm", quadrants());
    const std::string gone = addDicomFavorite("g.dcm", quadrants());
    favoriteList* screen = openFavorites();
    captureList* list = screen->getCaptureList();
    const std::string png = captureList::thumbnailPath(gone);
    ASSERT_TRUE(stepUntil([&] { return list->getThumbnailJobs().empty() && FileUtils::getInstance()->isFileExist(png); }));

    ssize_t row = -1;
    for (ssize_t i = 0; i < list->getTable()->getRowCount(); ++i)
        if (list->rowAt(i)->image == gone)
            row = i;
    ASSERT_GE(row, 0);
    // Tick it with its check box, then press "Remove".
    NSUI::NSTableViewCell* cell = list->getTable()->cellAtIndex(row);
    ASSERT_NE(cell, nullptr);
    auto* check = static_cast<ui::CheckBox*>(cell->getChildByTag(captureList::kCheckTag));
    clickNode(check);
    step(2);
    ASSERT_TRUE(list->rowAt(row)->selected);
    EXPECT_EQ(screen->getViewer()->getFilePath(), "");  // ticking selects nothing
    clickNode(screen->getLayout()->getChildByNameDeep("btnRemove"));
    step(2);

    for (ssize_t i = 0; i < list->getTable()->getRowCount(); ++i)
        EXPECT_NE(list->rowAt(i)->image, gone);
    EXPECT_FALSE(FileUtils::getInstance()->isFileExist(gone));
    EXPECT_FALSE(FileUtils::getInstance()->isFileExist(png));
    EXPECT_TRUE(FileUtils::getInstance()->isFileExist(kept));
    // The pane shows the favourite that is left, not the removed file.
    EXPECT_EQ(screen->getViewer()->getFilePath(), kept);

    // The database no longer lists it: a new list reads only the kept one.
    director->popScene();
    step(3);
    favoriteList* again = openFavorites();
    int items = 0;
    for (ssize_t i = 0; i < again->getCaptureList()->getTable()->getRowCount(); ++i) {
        captureList::listObject* r = again->getCaptureList()->rowAt(i);
        if (r->type == captureList::kDicomFile) {
            ++items;
            EXPECT_EQ(r->image, kept);
        }
    }
    EXPECT_EQ(items, 1);
}

// Every tool of the favourite viewer acts on its picture through the mouse: pan moves the picture,
// zoom enlarges it, window level by mouse changes its greys, and the line and point tools draw
// measurements over it. The pane itself must let those touches through to the view beneath it.
TEST_F(FavoritesTest, EveryToolOfTheFavouriteViewerWorksOnItsPicture)
{
    const std::string dicom = addDicomFavorite("tools.dcm", quadrants());
    favoriteList* screen = openFavorites();
    screen->onSelect(dicom, captureList::kDicomFile);
    favoriteView* view = screen->getViewer();
    isImageSDK::isViewerMulti* container = view->getViewer();
    ASSERT_NE(container, nullptr);
    step(10);
    isImageSDK::isViewerImage* window = container->getActiveCell()->getBrowser()->getActiveWindow();
    ASSERT_NE(window, nullptr);
    Rect rect;
    ASSERT_TRUE(container->getActiveViewRect(rect));
    const Vec2 origin = view->convertToWorldSpace(rect.origin);
    const Vec2 centre = origin + Vec2(rect.size.width / 2, rect.size.height / 2);
    const float left = origin.x + 4, right = origin.x + rect.size.width - 4;
    auto tool = [&](const char* name) {
        Node* button = view->getToolbar()->getChildByNameDeep(name);
        ASSERT_NE(button, nullptr) << name;
        pauseBetweenGestures();
        clickNode(button);
        step(3);
    };

    // Pan: the picture follows a drag to the right.
    const float row = centre.y + 80;
    const auto before = litSpan(row, left, right);
    ASSERT_GT(before.first, 0) << "the picture is not drawn";
    tool("btnCmdMove");
    drag(centre, centre + Vec2(150, 0));
    const auto panned = litSpan(row, left, right);
    EXPECT_NEAR(panned.first - before.first, 150, 8) << "pan did not move the picture";

    // Zoom: an upward drag enlarges it.
    const float zoom = window->getZoomRatio();
    tool("btnCmdZoom");
    drag(centre, centre + Vec2(0, 120));
    EXPECT_GT(window->getZoomRatio(), zoom * 1.1f);
    const auto zoomed = litSpan(row, left, right);
    EXPECT_GT(zoomed.second - zoomed.first, (panned.second - panned.first) + 40) << "zoom left the picture's size";

    // Window level by mouse: the grey of the top-right quadrant changes.
    const Vec2 spot = centre + Vec2(60, 60);
    const int grey = pixelAt(spot.x, spot.y)[1];
    float width = 0, level = 0;
    ASSERT_TRUE(container->getWindowLevel(width, level));
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_TOOL_WINDOW_LEVEL, nullptr, container);
    step(2);
    drag(centre + Vec2(-200, -200), centre + Vec2(-100, -120));
    float newWidth = 0, newLevel = 0;
    ASSERT_TRUE(container->getWindowLevel(newWidth, newLevel));
    EXPECT_TRUE(newWidth != width || newLevel != level) << "the window did not change";
    EXPECT_GT(std::abs(pixelAt(spot.x, spot.y)[1] - grey), 8) << "the picture's grey did not follow the window";

    // Line and point: each draws a measurement on the picture.
    const auto& measurements = window->getROIActor()->getROIActors();
    tool("btnCmdLine");
    drag(centre + Vec2(-150, 150), centre + Vec2(150, 150));
    EXPECT_EQ(measurements.size(), 1u) << "no line drawn";
    tool("btnCmdPoint");
    pauseBetweenGestures();
    InputSimulator::click(centre.x - 100, centre.y - 150);
    step(3);
    EXPECT_EQ(measurements.size(), 2u) << "no point drawn";
    savePicture("favouriteTools");
}
