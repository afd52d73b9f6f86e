// The program used as a clinician uses it, through its window only: the first start with the
// example patient, opening a series, quitting and starting again on the same data, importing,
// deleting, and an import cut short by a crash.
#include "support/AppTest.h"
#include "support/Screens.h"

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
    ASSERT_TRUE(waitForDrawn(*app, view));
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
    std::vector<std::string> cache = checkedFilesBelow(writable() + "qv/tmp/dcmbuf/");
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

}  // namespace e2e
