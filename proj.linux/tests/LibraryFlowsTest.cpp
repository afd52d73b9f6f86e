// The program used as a clinician uses it, through its window only: the first start with the
// example patient, opening a series, quitting and starting again on the same data, importing,
// deleting, and an import cut short by a crash; series the viewer cannot show.
#include "support/AppTest.h"
#include "support/Screens.h"

#include "DicomSeriesWriter.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace e2e {

class LibraryFlows : public AppTest {};

// A first start shows the example patient and opens its series in the viewer; after a quit the
// next start finds the library, the settings and the series cache, and the cached series opens
// without its files' pixels being decoded again (they are overwritten with zeros in between).
TEST_F(LibraryFlows, FirstStartOpensTheExampleAndARestartKeepsLibraryAndCache)
{
    launch();
    View view;
    ASSERT_TRUE(app->waitFor(showsExample, 90, &view))
        << view.dump();
    pause(300);
    Screenshot home = keep("patient-list");
    // The name is drawn: light text on the dark list.
    const Node* name = view.withText(kExampleName);
    EXPECT_GT(home.count(name->box, {230, 232, 235}, 40), 30) << "the patient's name is not drawn";

    app->click(*name);
    View viewer;
    ASSERT_TRUE(openExample(*app, &viewer)) << viewer.dump();
    // The loader has finished once the slice slider's series is drawn: the axial window shows the
    // phantom's body (soft tissue, mid grey at the file's window) around its centre.
    const Node* window = firstImageWindow(viewer);
    ASSERT_NE(window, nullptr);
    const Box centre{window->box.cx() - 10, window->box.cy() - 10, 20, 20};
    Screenshot first;
    bool drawn = false;
    for (int i = 0; i < 200 && !drawn; ++i) {  // up to 20 s on a slow machine
        first = x->shot();
        drawn = first.meanGrey(centre) > 60 && first.varied(window->box, 20) > 1000;
        if (!drawn)
            pause(100);
    }
    keep("viewer-first-start");
    ASSERT_TRUE(drawn) << "the series is not drawn";
    EXPECT_TRUE(viewer.withText("Axial")) << viewer.dump();

    quitCleanly();
    const std::vector<std::string> files = imageFiles();
    ASSERT_EQ(files.size(), kExampleImages);
    for (const std::string& f : files)
        EXPECT_TRUE(fs::exists(f)) << f;
    std::vector<std::string> cache = filesBelow(writable() + "qv/tmp/dcmbuf/");
    ASSERT_EQ(cache.size(), 2u) << "a description and the pixels of the opened series";
    EXPECT_TRUE(fs::exists(writable() + "UserDefault.txt"));
    const auto cacheTime = fs::last_write_time(cache[0]);

    // The compressed pixels of the series' files (the second half of each file, up to the 8 bytes
    // that close the pixel data) become zeros: decoded again they would not draw the body; the cache
    // draws them as they were.
    const auto rawTime = fs::last_write_time(cache[1]);
    for (const std::string& f : files) {
        const auto half = static_cast<std::streamoff>(fs::file_size(f) / 2);
        std::fstream file(f, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(-half, std::ios::end);
        file << std::string(static_cast<size_t>(half - 8), '\0');
        ASSERT_TRUE(file.good()) << f;
    }

    launch();
    ASSERT_TRUE(app->waitFor(showsExample, 60, &view))
        << view.dump();
    EXPECT_EQ(query("select name from patient"), std::vector<std::string>{kExampleName});
    // A wide window opens the first patient in the side panel at once.
    ASSERT_TRUE(openExample(*app, &viewer)) << viewer.dump();
    // A loaded machine may make either start give up the cubic shader for the linear one, which
    // moves the body's edges by a level or two; decoded again, the zeroed files would not draw the
    // body, a large part of the window. A hundredth of the window tells the two apart.
    const int allowed = std::max(50, int(window->box.w * window->box.h / 100));
    Screenshot second;
    drawn = false;
    for (int i = 0; i < 200 && !drawn; ++i) {  // up to 20 s on a slow machine
        second = x->shot();
        drawn = second.differing(first, window->box, 2) < allowed;
        if (!drawn)
            pause(100);
    }
    keep("viewer-from-cache");
    EXPECT_TRUE(drawn) << "the cached series does not look as it did: "
                       << second.differing(first, window->box, 2) << " pixels differ";
    EXPECT_EQ(fs::last_write_time(cache[0]), cacheTime) << "the cache was written again";
    EXPECT_EQ(fs::last_write_time(cache[1]), rawTime) << "the cached pixels were written again";
    quitCleanly();
}

// A patient whose study holds an MR stack of 8 slices, an RT dose of 32-bit values and a report without pixels.
// Opening either of the last two, from its row's right end or from a protocol's picture, comes
// back to the patient list with a toast saying the series cannot be shown. A sideways drag on the
// protocols opens nothing; a touch on one opens the viewer.
TEST_F(LibraryFlows, SeriesThatCannotBeShownSaySoAndTheProtocolsTakeOnlyTaps)
{
    qvgen::PhantomSpec spec = mrSpec(8, 32, "ODD^SERIES", "ODD-1");
    spec.studyUID = "1.2.826.0.1.3680043.10.1455.31";
    const std::string source = writeStudy("odd", spec);
    for (const auto& [description, bits, number] :
         {std::tuple<const char*, int, const char*>{"dose grid", 32, "11"}, {"dose report", 0, "12"}}) {
        qvgen::ImageSpec odd;
        odd.columns = odd.rows = 16;
        odd.modality = bits ? "RTDOSE" : "SR";
        odd.patientName = spec.patientName;
        odd.patientID = spec.patientID;
        odd.studyUID = spec.studyUID;
        odd.seriesUID = qvgen::newUID();
        odd.seriesDescription = description;
        odd.seriesNumber = number;
        odd.bitsAllocated = bits ? bits : 16;
        odd.pixels.assign(size_t(16 * 16) * odd.bitsAllocated / 8, 0x5a);
        if (!bits)
            odd.omit.push_back({0x7fe0, 0x0010});
        std::string error;
        ASSERT_TRUE(qvgen::writeDicomFile(source + number + ".dcm", odd, &error)) << error;
    }
    launch();
    View view;
    ASSERT_TRUE(app->waitFor(showsExample, 90, &view)) << view.dump();
    importFolder(source);
    ASSERT_TRUE(app->waitFor([](const View& v) { return showsPatient(v, "ODD^SERIES", "1-3-10"); }, 60, &view))
        << view.dump();
    ASSERT_TRUE(openPatient(*app, "ODD^SERIES"));
    ASSERT_TRUE(app->waitForText("dose report", 20, &view)) << view.dump();

    const auto toastSays = [](const View& v) {
        const Node* toast = v.named("messageBox.text");
        return v.hasScreen("patientList") && !v.hasScreen("imageViewerPC") && toast &&
               toast->text.find("cannot be shown") != std::string::npos;
    };
    // A series row's middle selects it and offers its protocols; its right end opens it.
    const auto rowPoint = [&](const std::string& description, double fx) {
        const View shown = app->probe();
        const Node* row = seriesRow(shown, description);
        return row ? std::make_pair(row->box.x + int(row->box.w * fx), row->box.cy()) : std::make_pair(-1, -1);
    };
    auto end = rowPoint("dose grid", 1.0);
    ASSERT_GE(end.first, 0);
    x->click(end.first - int(20 * view.pixelsPerUnit), end.second);
    EXPECT_TRUE(app->waitFor(toastSays, 30, &view)) << "the row's right end\n" << view.dump();
    keep("cannot-be-shown");
    pause(2000);  // the toast goes

    auto middle = rowPoint("dose report", 0.5);
    x->click(middle.first, middle.second);
    ASSERT_TRUE(app->waitForText("Single Slice", 10, &view)) << view.dump();
    app->click(*view.withText("Single Slice"), 0.5, -1.0);  // its picture, above the title
    EXPECT_TRUE(app->waitFor(toastSays, 30, &view)) << "a protocol's picture\n" << view.dump();
    pause(2000);

    // The MR stack's protocols: dragged sideways they stay put; touched, the viewer opens.
    middle = rowPoint("axial MR phantom", 0.5);
    x->click(middle.first, middle.second);
    ASSERT_TRUE(app->waitForText("2D View", 10, &view)) << view.dump();
    const Node* title = view.withText("2D View");
    const int y = title->box.cy() - int(30 * view.pixelsPerUnit);
    x->drag(title->box.cx(), y, title->box.cx() + int(90 * view.pixelsPerUnit), y);
    for (int i = 0; i < 10; ++i) {
        pause(300);
        view = app->probe();
        ASSERT_FALSE(view.hasScreen("imageViewerPC")) << "a sideways drag on the protocols opened the viewer";
    }
    title = view.withText("2D View");
    ASSERT_NE(title, nullptr) << view.dump();
    app->click(*title, 0.5, -1.0);
    EXPECT_TRUE(app->waitForScreen("imageViewerPC", 30, &view)) << view.dump();
}

}  // namespace e2e
