// Series that are listed but hold nothing the viewer can show: an RT dose of 32-bit values, a
// segmentation of 1-bit frames, a report without pixels and a frame larger than any shown (its
// size known from the header alone: nothing of it is decoded or cached). Every way of opening one from the
// library screens ends on the screen it was opened from, with a toast saying so.
#include "LibraryAppFixture.h"

#include "DicomSeriesWriter.h"
#include "NSSpriteView.h"
#include "NSNotificationData.h"
#include "NSNotificationNumbers.h"
#include "UIJson.h"
#include "importDcm.h"

#include <functional>
#include <string>
#include <vector>

USING_NS_CC;
using namespace libraryapp;

namespace {

struct Odd {
    const char* description;
    const char* modality;
    int bits;      // 0: no pixel data at all
    const char* number;
    int side = 16;  // columns and rows
};

const Odd kOdd[] = {{"dose grid", "RTDOSE", 32, "11"},
                    {"liver mask", "SEG", 1, "12"},
                    {"dose report", "SR", 0, "13"},
                    {"huge frame", "OT", 16, "14", 8200}};

void writeOdd(const std::string& folder, const Odd& odd, const std::string& studyUID)
{
    qvgen::ImageSpec spec;
    spec.columns = 16;
    spec.rows = 16;
    spec.frames = 2;
    spec.modality = odd.modality;
    spec.patientName = "ODD^SERIES";
    spec.patientID = "ODD-1";
    spec.seriesDescription = odd.description;
    spec.seriesNumber = odd.number;
    spec.studyUID = studyUID;
    spec.seriesUID = qvgen::newUID();
    spec.bitsAllocated = odd.bits > 0 ? odd.bits : 16;
    spec.pixels.assign(size_t(16 * 16 * 2) * spec.bitsAllocated / 8, 0x5a);
    if (odd.bits == 0)
        spec.omit.push_back({0x7fe0, 0x0010});
    FileUtils::getInstance()->createDirectory(folder);
    std::string error;
    if (odd.side != 16) {
        spec.columns = spec.rows = odd.side;
        spec.frames = 1;
        ASSERT_TRUE(qvgen::writeSparseDicomFile(folder + "odd.dcm", spec, &error)) << error;
        return;
    }
    ASSERT_TRUE(qvgen::writeDicomFile(folder + "odd.dcm", spec, &error)) << error;
}

} // namespace

TEST_F(LibraryAppTest, SeriesThatCannotBeShownSayTheyCannotFromEveryRoute)
{
    qvgen::PhantomSpec good = studySpec("ODD^SERIES", "ODD-1", 3);
    good.studyUID = "1.2.826.0.1.3680043.10.1455.21";
    writeSeries(scratch + "source/ct/", good);
    for (const Odd& odd : kOdd)
        writeOdd(scratch + "source/" + odd.modality + "/", odd, good.studyUID);
    launch(false);
    home()->openPath(scratch + "source");
    ASSERT_TRUE(frameUntil([&] { return rowCount(home()) == 1 && importIdle(home()); }));
    clickNode(home()->getTable()->cellAtIndex(0));
    ASSERT_TRUE(frameUntil([&] { return panel() && panel()->isLoaded() && panel()->getRowsTable()->getRowCount() == 6; }));
    // A touch that opens the viewer; the toast's text once the screen that was running is running
    // again ("" when it never came back, or came back saying nothing).
    const auto openAndComeBack = [this](const Vec2& at) {
        Scene* origin = Director::getInstance()->getRunningScene();
        takeToast();
        InputSimulator::click(at.x, at.y);
        bool left = false;
        const auto back = [&] { return left && Director::getInstance()->getRunningScene() == origin; };
        frameUntil([&] {
            left = left || Director::getInstance()->getRunningScene() != origin;
            return back() && !toastShown().empty();
        }, 30);
        return back() ? toastShown() : std::string();
    };

    // The routes of a study list: a series row's right end, and a protocol's picture once the row
    // is selected.
    const auto everyRoute = [&](studyList* list) {
        NSUI::NSListView* rows = list->getRowsTable();
        for (const Odd& odd : kOdd) {
            SCOPED_TRACE(odd.description);
            ssize_t index = -1;
            for (ssize_t i = 0; i < rows->getRowCount(); ++i)
                if (static_cast<studyList::listObject*>(rows->getRowData()[i])->seriesDescription == odd.description)
                    index = i;
            ASSERT_GE(index, 0);
            const auto rowPoint = [rows, index](float x) {
                return rows->cellAtIndexOrCreate(index)->convertToWorldSpace(Vec2(x, 50));
            };
            std::string toast = openAndComeBack(rowPoint(rows->getContentSize().width - 20));
            EXPECT_NE(toast.find("cannot be shown"), std::string::npos) << "the row's right end: \"" << toast << "\"";
            frame();
            const Vec2 middle = rowPoint(rows->getContentSize().width / 2);
            InputSimulator::click(middle.x, middle.y);
            frame();
            NSUI::NSListView* strip = list->getProtocolStrip();
            ASSERT_GT(strip->getRowCount(), 0);
            toast = openAndComeBack(strip->cellAtIndex(0)->convertToWorldSpace(Vec2(50, 60)));
            EXPECT_NE(toast.find("cannot be shown"), std::string::npos) << "a protocol's picture: \"" << toast << "\"";
            frame();
        }
    };
    // The side panel of a wide window, then the study list as a screen of its own.
    everyRoute(panel());
    Scene* scene = studyList::createScene();
    auto* screen = dynamic_cast<studyList*>(scene->getChildByTag(studyList::kSceneLayerTag));
    ASSERT_NE(screen, nullptr);
    screen->setPatient(panel()->getPatient());
    Director::getInstance()->pushScene(scene);
    ASSERT_TRUE(frameUntil([&] { return screen->isLoaded() && screen->getRowsTable()->getRowCount() == 6; }));
    everyRoute(screen);
}

// A series announced without its values (the library's notice carried no rows for it) is listed
// without a folder. Opening it says it cannot be shown and opens nothing: the viewer would scan the
// whole library for a series folder of "".
TEST_F(LibraryAppTest, ASeriesRowWithoutItsFolderOpensNothingAndSaysSo)
{
    writeStudy(scratch + "source/", "EMPTY^ROW", "E-1", 2);
    launch(false);
    home()->openPath(scratch + "source");
    ASSERT_TRUE(frameUntil([&] { return rowCount(home()) == 1 && importIdle(home()); }));
    clickNode(home()->getTable()->cellAtIndex(0));
    ASSERT_TRUE(frameUntil([&] { return panel() && panel()->isLoaded() && panel()->getRowsTable()->getRowCount() == 2; }));
    std::string notice;
    NSUI::UIJson::setString(notice, "patientID", panel()->getPatient());
    NSUI::UIJson::setString(notice, "studyID", "999");
    NSUI::UIJson::setString(notice, "studyIDHospital", "S-999");
    NSUI::UIJson::setString(notice, "seriesID", "999");
    auto* data = NSUI::NSNotificationData::create();
    data->text = notice;
    panel()->onNotification(nullptr, NSUI::NOTIFY_DB_STUDY_STORED, data);
    NSUI::NSListView* rows = panel()->getRowsTable();
    ASSERT_EQ(rows->getRowCount(), 4);
    auto* row = static_cast<studyList::listObject*>(rows->getRowData()[1]);
    ASSERT_EQ(row->seriesID, "999");
    ASSERT_TRUE(row->folder.empty());
    frame();

    Scene* origin = Director::getInstance()->getRunningScene();
    takeToast();
    const Vec2 end = rows->cellAtIndex(1)->convertToWorldSpace(Vec2(rows->getContentSize().width - 20, 50));
    InputSimulator::click(end.x, end.y);
    for (int i = 0; i < 5; ++i)
        frame();
    EXPECT_EQ(Director::getInstance()->getRunningScene(), origin) << "a viewer was opened for no folder";
    EXPECT_NE(toastShown().find("cannot be shown"), std::string::npos) << toastShown();
}
