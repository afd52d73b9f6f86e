// Captures and favourites used through the window: the view captured from the viewer's capture
// menu and the slice kept as a favourite from the quick tools, both shown in the favourites screen's
// list with their thumbnails and opened beside it; then a quit and a new start that find the
// library, the favourites, a changed setting and the series cache as they were left.
#include "support/AppTest.h"
#include "support/Screens.h"

#include "diskWrite.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace fs = std::filesystem;

namespace e2e {
namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The size a JPEG file declares in its frame header; false when it has none.
bool jpegSize(const std::string& path, int* width, int* height)
{
    const std::string data = readFile(path);
    if (data.size() < 4 || uint8_t(data[0]) != 0xFF || uint8_t(data[1]) != 0xD8)
        return false;
    size_t at = 2;
    while (at + 9 < data.size()) {
        if (uint8_t(data[at]) != 0xFF)
            return false;
        const int marker = uint8_t(data[at + 1]);
        const size_t length = size_t(uint8_t(data[at + 2])) << 8 | uint8_t(data[at + 3]);
        if (marker >= 0xC0 && marker <= 0xC3) {
            *height = uint8_t(data[at + 5]) << 8 | uint8_t(data[at + 6]);
            *width = uint8_t(data[at + 7]) << 8 | uint8_t(data[at + 8]);
            return true;
        }
        at += 2 + length;
    }
    return false;
}

// The image drawn in a box: the example's body, mid grey, around its centre, and more than a flat
// colour across it.
bool showsBody(const Screenshot& s, const Box& box)
{
    const Box centre{box.cx() - 8, box.cy() - 8, 16, 16};
    return s.meanGrey(centre) > 50 && s.varied(box, 20) > box.w * box.h / 20;
}

}  // namespace

class CaptureFlows : public AppTest {
protected:
    // The favourite table's rows, oldest first: "type|message|icon|image|valid|scale".
    std::vector<std::string> favourites() const
    {
        return query("select type,message,icon,image,valid,scale from favorite order by ID");
    }

    // Waits until the favourite table holds `count` rows.
    bool waitForFavourites(size_t count)
    {
        for (int i = 0; i < 150; ++i) {
            if (favourites().size() >= count)
                return favourites().size() == count;
            pause(100);
        }
        return false;
    }

    // The files below `folder` whose names end in `suffix`. The favourites' folder holds more than
    // the favourites: the viewer's list makes a thumbnail beside each (".png", first as ".png.part<id>")
    // whenever it draws its row.
    static std::vector<std::string> filesEnding(const std::string& folder, const std::string& suffix)
    {
        std::vector<std::string> out;
        for (const std::string& f : filesBelow(folder))
            if (f.size() >= suffix.size() && f.compare(f.size() - suffix.size(), suffix.size(), suffix) == 0)
                out.push_back(f);
        return out;
    }

    // Waits up to `seconds` for a file below `folder` whose name ends in `suffix`; its path, or ""
    // when none came. Polls often: the caller acts at once on the file's first appearance.
    std::string waitForFileEnding(const std::string& folder, const std::string& suffix, double seconds)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        do {
            const std::vector<std::string> found = filesEnding(folder, suffix);
            if (!found.empty())
                return found[0];
            pause(20);
        } while (std::chrono::steady_clock::now() < end);
        return "";
    }

    // Waits up to `seconds` until the screen passes the test; false when it never did.
    bool shows(const std::function<bool(const Screenshot&)>& test, double seconds)
    {
        for (int i = 0; i < int(seconds * 10); ++i) {
            if (test(x->shot()))
                return true;
            pause(100);
        }
        return false;
    }
    bool bodyIn(const Box& box, double seconds = 20)
    {
        return shows([&](const Screenshot& s) { return showsBody(s, box); }, seconds);
    }

    // The example series open in the viewer, its axial window chosen and drawn; the window's box.
    Box openExampleSeries()
    {
        View view;
        EXPECT_TRUE(app->waitFor(showsExample, 90, &view)) << view.dump();
        EXPECT_TRUE(openPatient(*app, kExampleName));
        EXPECT_TRUE(openExample(*app, &view)) << view.dump();
        const Node* window = firstImageWindow(view);
        if (!window)
            return {};
        const Box box = window->box;
        EXPECT_TRUE(bodyIn(box)) << "the series is not drawn";
        // A touch chooses the window: the quick tools come to its bottom edge.
        app->click(*window, 0.5, 0.2);
        EXPECT_TRUE(app->waitFor([](const View& v) { return v.named("favorite") && v.named("info"); }, 10, &view))
            << view.dump();
        return box;
    }

    // The thumbnails of the capture list, top to bottom.
    static std::vector<const Node*> thumbnails(const View& v)
    {
        std::vector<const Node*> out = v.allNamed("thumbnail");
        std::sort(out.begin(), out.end(), [](const Node* a, const Node* b) { return a->box.y < b->box.y; });
        return out;
    }

    // Waits until the box shows more than the list's grey behind it and more than the placeholder:
    // a picture with the body's greys in it.
    bool thumbnailDrawn(const Box& box)
    {
        return shows(
            [&](const Screenshot& s) {
                return s.varied(box, 30) > box.w * box.h / 10 && s.meanGrey({box.cx() - 4, box.cy() - 4, 8, 8}) > 30;
            },
            10);
    }
};

// The axial view captured with "Current View", its slice kept as a favourite and captured again
// from the quick tools: one time mark for the run, two capture rows and one DICOM row with their
// files; the viewer's badge counts three; the favourites screen lists them with thumbnails, shows
// the DICOM favourite in its viewer and a capture as a picture.
TEST_F(CaptureFlows, CurrentViewAndFavouriteShowInTheListAndOpenBesideIt)
{
    launch();
    const Box axial = openExampleSeries();
    ASSERT_GT(axial.w, 0);
    EXPECT_TRUE(favourites().empty());

    // Capture menu, "Current View".
    ASSERT_TRUE(app->clickNamed("btnCmdCapture"));
    View view;
    ASSERT_TRUE(app->waitForText("Current View", 10, &view)) << view.dump();
    keep("capture-menu");
    app->click(*view.withText("Current View"));
    ASSERT_TRUE(waitForFavourites(2)) << "rows: " << favourites().size();
    pause(500);  // a second row would come with the first
    std::vector<std::string> rows = favourites();
    ASSERT_EQ(rows.size(), 2u) << "the first favourite of a run has its time mark, and nothing else";
    EXPECT_EQ(rows[0], "3||||1|1.0") << "the time mark";
    const std::string capture = rows[1].substr(0, rows[1].find('|'));
    EXPECT_EQ(capture, "1");
    const std::vector<std::string> captures = filesBelow(writable() + "qv/tmp/capture/");
    ASSERT_EQ(captures.size(), 1u);
    const std::string captureFile = captures[0];
    EXPECT_EQ(rows[1], "1|||" + captureFile.substr(writable().size()) + "|1|" +
                           query("select scale from favorite where type=1")[0]);
    // The capture is the axial window, not the screen: its size in pixels, and its shape as the scale.
    int width = 0, height = 0;
    ASSERT_TRUE(jpegSize(captureFile, &width, &height)) << captureFile;
    EXPECT_NEAR(width, axial.w, 2);
    EXPECT_NEAR(height, axial.h, 2);
    EXPECT_NEAR(std::atof(query("select scale from favorite where type=1")[0].c_str()), double(width) / height, 0.01);

    // The quick tools' favourite: the slice on view written as a DICOM file beside the library.
    ASSERT_TRUE(app->clickNamed("favorite"));
    ASSERT_TRUE(waitForFavourites(3)) << "rows: " << favourites().size();
    pause(500);
    rows = favourites();
    ASSERT_EQ(rows.size(), 3u) << "no second time mark in one run";
    const std::vector<std::string> saved = filesEnding(writable() + "qv/favorite/", ".dcm");
    ASSERT_EQ(saved.size(), 1u);
    const std::string dicomFile = saved[0];
    EXPECT_EQ(readFile(dicomFile).substr(128, 4), "DICM");
    EXPECT_EQ(rows[2].substr(0, 4), "2|||");
    const std::string image = query("select image from favorite where type=2")[0];
    EXPECT_TRUE(fs::equivalent(writable() + image, dicomFile)) << image;
    EXPECT_EQ(query("select scale from favorite where type=2"), std::vector<std::string>{"1.0"});

    // The quick tools' capture takes the chosen window again: one more capture row and file.
    ASSERT_TRUE(app->clickNamed("capture"));
    ASSERT_TRUE(waitForFavourites(4)) << "rows: " << favourites().size();
    pause(500);
    rows = favourites();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[3].substr(0, 4), "1|||");
    const std::vector<std::string> allCaptures = filesBelow(writable() + "qv/tmp/capture/");
    ASSERT_EQ(allCaptures.size(), 2u);
    for (const std::string& f : allCaptures) {
        ASSERT_TRUE(jpegSize(f, &width, &height)) << f;
        EXPECT_NEAR(width, axial.w, 2) << f;
    }

    // The badge on the favourites button counts the three.
    ASSERT_TRUE(app->waitFor(
        [](const View& v) { return v.named("favoriteNodes") && v.named("favoriteNodes")->text == "3"; }, 10, &view))
        << view.dump();
    keep("badge");

    // The favourites screen: a time mark, then the capture, the DICOM favourite and the second
    // capture.
    ASSERT_TRUE(app->clickNamed("btnCmdFavorite"));
    ASSERT_TRUE(app->waitFor([](const View& v) { return v.hasScreen("favoriteList") && thumbnails(v).size() == 3; },
                             20, &view))
        << view.dump();
    const std::string markTime = query("select updateTime from favorite where type=3")[0];
    EXPECT_TRUE(view.withText(markTime)) << markTime << "\n" << view.dump();
    std::vector<const Node*> thumbs = thumbnails(view);
    const Node* markText = view.withText(markTime);
    if (markText) {
        EXPECT_LT(markText->box.y, thumbs[0]->box.y) << "the time mark heads its items";
    }
    EXPECT_TRUE(view.withText(" Select a file from the list.")) << view.dump();
    // The DICOM favourite's thumbnail is made on a worker and drawn when it is written.
    const std::string png = dicomFile.substr(0, dicomFile.size() - 3) + "png";
    for (int i = 0; i < 100 && !fs::exists(png); ++i)
        pause(100);
    EXPECT_TRUE(fs::exists(png));
    pause(300);
    view = app->probe();
    thumbs = thumbnails(view);
    ASSERT_EQ(thumbs.size(), 3u) << view.dump();
    EXPECT_TRUE(thumbnailDrawn(thumbs[0]->box)) << "the capture's thumbnail is not drawn";
    EXPECT_TRUE(thumbnailDrawn(thumbs[1]->box)) << "the favourite's thumbnail is not drawn";
    EXPECT_TRUE(thumbnailDrawn(thumbs[2]->box)) << "the second capture's thumbnail is not drawn";
    keep("favourites-list");

    // The DICOM favourite opens in the favourite viewer: the slice drawn right of the list.
    app->click(*thumbs[1]);
    ASSERT_TRUE(app->waitFor(
        [](const View& v) {
            const Node* w = firstImageWindow(v);
            return w && !v.withText(" Select a file from the list.");
        },
        20, &view))
        << view.dump();
    const Box favourite = firstImageWindow(view)->box;
    EXPECT_GE(favourite.x, view.window.x + int(300 * view.pixelsPerUnit) - 1);
    EXPECT_TRUE(bodyIn(favourite, 10)) << "the favourite's slice is not drawn";
    // The favourite keeps the window it was seen with.
    EXPECT_TRUE(app->waitFor([&](const View& v) { return windowLevelText(v, favourite).rfind("400 40", 0) == 0; },
                             10, &view))
        << view.dump();
    keep("favourite-viewer");

    // The capture opens as a picture in the same place, the viewer hidden.
    app->click(*thumbs[0]);
    ASSERT_TRUE(app->waitFor([](const View& v) { return firstImageWindow(v) == nullptr; }, 10, &view))
        << view.dump();
    const Box right{view.window.x + int(300 * view.pixelsPerUnit), view.window.y,
                    view.window.w - int(300 * view.pixelsPerUnit), view.window.h};
    EXPECT_TRUE(shows([&](const Screenshot& s) { return s.varied(right, 20) > right.w * right.h / 50; }, 5))
        << "the capture is not shown";
    keep("capture-picture");

    // Back in the viewer the badge is gone: the list has shown what was new.
    ASSERT_TRUE(app->clickNamed("goBack"));
    ASSERT_TRUE(app->waitFor([](const View& v) { return v.hasScreen("imageViewerPC") && v.named("btnCmdFavorite"); },
                             10, &view))
        << view.dump();
    EXPECT_TRUE(app->waitFor([](const View& v) { return !v.named("favoriteNodes"); }, 5, &view)) << view.dump();
    quitCleanly();
    EXPECT_EQ(favourites().size(), 4u);
}

// "Show Full Info" chosen from the quick tools' information menu, the view captured and a favourite
// kept, the program closed the moment the favourite's file is begun; the next start shows the
// library, lists the capture and the whole favourite and opens the favourite, draws the series from
// its cache without writing it again, and shows the full information without being asked.
// A capture whose folder lies on a full disk (a real small file system where the test can make one)
// says so on screen and keeps no row and no file.
TEST_F(CaptureFlows, ACaptureOnAFullDiskSaysSoOnScreen)
{
    const std::string captures = writable() + "qv/tmp/capture";
    fs::create_directories(captures);
    std::string why;
    if (!disk::useSmallDiskForTest(captures, 16 << 10, why))
        GTEST_SKIP() << "no small file system for the captures: " << why;
    launch();
    ASSERT_GT(openExampleSeries().w, 0);
    ASSERT_TRUE(app->clickNamed("btnCmdCapture"));
    View view;
    ASSERT_TRUE(app->waitForText("Current View", 10, &view)) << view.dump();
    app->click(*view.withText("Current View"));
    ASSERT_TRUE(app->waitForText("The capture was not saved: the disk is full", 20, &view)) << view.dump();
    pause(500);
    keep("capture-refused");
    EXPECT_TRUE(favourites().empty());
    EXPECT_TRUE(filesBelow(captures + "/").empty());
    quitCleanly();
    disk::endSmallDiskForTest(captures);
}

TEST_F(CaptureFlows, QuitAndRestartKeepLibraryFavouritesSettingAndCache)
{
    launch();
    Box axial = openExampleSeries();
    ASSERT_GT(axial.w, 0);
    View view = app->probe();
    EXPECT_FALSE(textIn(view, axial, "PHANTOM")) << "the patient's name is private until asked for\n" << view.dump();

    ASSERT_TRUE(app->clickNamed("info"));
    ASSERT_TRUE(app->waitForText("Show Full Info", 10, &view)) << view.dump();
    app->click(*view.withText("Show Full Info"));
    ASSERT_TRUE(app->waitFor([&](const View& v) { return textIn(v, axial, "PHANTOM") != nullptr; }, 10, &view))
        << view.dump();
    keep("full-info");

    ASSERT_TRUE(app->clickNamed("capture"));
    ASSERT_TRUE(waitForFavourites(2)) << "rows: " << favourites().size();
    const std::string captureFile = writable() + query("select image from favorite where type=1")[0];
    ASSERT_TRUE(fs::exists(captureFile)) << captureFile;
    pause(500);
    // The favourite: the window is closed as soon as its file is begun, while it is still being
    // written and before its row is.
    ASSERT_TRUE(app->clickNamed("favorite"));
    // The favourite's own file ("<time>.dcm"): whatever else the folder comes to hold beside it (a
    // picture made from it, say) is not what this step waits for.
    const std::string dicomFile = waitForFileEnding(writable() + "qv/favorite/", ".dcm", 20);
    ASSERT_FALSE(dicomFile.empty()) << "the favourite was not begun";
    quitCleanly();

    // On disk: the setting, the favourite, the library and the series cache.
    const std::string settings = readFile(writable() + "UserDefault.txt");
    // The line of "sdk_show_dcmFullInfo" = "1": the setting's Base64 key and value, each written in
    // Base64 again by the store.
    EXPECT_NE(settings.find("YzJSclgzTm9iM2RmWkdOdFJuVnNiRWx1Wm04PQ==\tTVE9PQ==\n"), std::string::npos) << settings;
    // The favourite is listed after the capture, its row naming the file begun before the quit
    // (the file's contents are checked by the shell's shutdown tests).
    const std::vector<std::string> rows = favourites();
    ASSERT_EQ(rows.size(), 3u) << "a time mark, the capture and the favourite";
    EXPECT_EQ(rows[1].substr(0, 4), "1|||");
    EXPECT_EQ(rows[2].substr(0, 4), "2|||");
    EXPECT_TRUE(fs::equivalent(writable() + query("select image from favorite where type=2")[0], dicomFile));
    const std::vector<std::string> cache = checkedFilesBelow(writable() + "qv/tmp/dcmbuf/");
    ASSERT_EQ(cache.size(), 2u) << "a description and the pixels of the opened series";
    const auto cacheTime = fs::last_write_time(cache[0]);
    const auto rawTime = fs::last_write_time(cache[1]);

    launch();
    ASSERT_TRUE(app->waitFor(showsExample, 60, &view)) << view.dump();
    EXPECT_EQ(query("select name from patient"), std::vector<std::string>{kExampleName});
    EXPECT_EQ(favourites(), rows);

    EXPECT_TRUE(fs::exists(dicomFile));
    EXPECT_TRUE(fs::exists(captureFile));

    // The favourites from the patient list: the favourite and the capture are listed, and the
    // favourite opens.
    ASSERT_TRUE(app->clickNamed("btnFavorite"));
    ASSERT_TRUE(app->waitFor([](const View& v) { return v.hasScreen("favoriteList") && thumbnails(v).size() == 2; },
                             20, &view))
        << view.dump();
    EXPECT_TRUE(thumbnailDrawn(thumbnails(view)[0]->box)) << "the capture's thumbnail is not drawn";
    EXPECT_TRUE(thumbnailDrawn(thumbnails(view)[1]->box)) << "the favourite's thumbnail is not drawn";
    app->click(*thumbnails(view)[1]);
    ASSERT_TRUE(app->waitFor([](const View& v) { return firstImageWindow(v) != nullptr; }, 20, &view))
        << view.dump();
    const Box favourite = firstImageWindow(view)->box;
    EXPECT_TRUE(bodyIn(favourite, 10)) << "the favourite's slice is not drawn";
    keep("favourite-after-restart");
    ASSERT_TRUE(app->clickNamed("goBack"));

    // The series again, from its cache, with the full information shown at once.
    ASSERT_TRUE(app->waitFor(showsExample, 20, &view)) << view.dump();
    ASSERT_TRUE(openExample(*app, &view)) << view.dump();
    axial = firstImageWindow(view)->box;
    ASSERT_TRUE(app->waitFor([&](const View& v) { return textIn(v, axial, "PHANTOM") != nullptr; }, 10, &view))
        << "the full information is not kept\n" << view.dump();
    EXPECT_TRUE(bodyIn(axial)) << "the series is not drawn";
    keep("series-after-restart");
    EXPECT_EQ(fs::last_write_time(cache[0]), cacheTime) << "the cache was written again";
    EXPECT_EQ(fs::last_write_time(cache[1]), rawTime) << "the cached pixels were written again";
    quitCleanly();
}

}  // namespace e2e
