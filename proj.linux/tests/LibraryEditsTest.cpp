// Changing the library through the window: deleting a patient, and an import cut short by a crash
// and done again.
#include "support/AppTest.h"
#include "support/Screens.h"

#include <sys/signal.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <set>

#include "Phantom.h"

namespace fs = std::filesystem;

namespace e2e {

class LibraryEdits : public AppTest {};

// Deleting the MR patient from its row's menu removes its rows and files and nothing else.
TEST_F(LibraryEdits, DeletingAPatientRemovesItsRowsAndFilesOnly)
{
    const std::string source = writeStudy("mr-source", mrSpec(12, 64, "MR^DELETE", "MR-DEL"));
    launch();
    View view;
    ASSERT_TRUE(app->waitFor(showsExample, 90, &view))
        << view.dump();
    importFolder(source);
    ASSERT_TRUE(app->waitFor([](const View& v) { return showsPatient(v, "MR^DELETE", "1-1-12"); }, 120, &view))
        << view.dump();
    const std::vector<std::string> all = imageFiles();
    ASSERT_EQ(all.size(), kExampleImages + 12);
    std::vector<std::string> example, mr;
    for (const std::string& f : all)
        (f.find("MR^DELETE") != std::string::npos ? mr : example).push_back(f);
    ASSERT_EQ(mr.size(), 12u);
    const std::string mrFolder = fs::path(mr[0]).parent_path().parent_path().parent_path().string();
    ASSERT_TRUE(fs::is_directory(mrFolder));

    ASSERT_TRUE(rowMenu(*app, *x, "MR^DELETE", "del"));
    ASSERT_TRUE(app->waitFor([](const View& v) { return !v.withText("MR^DELETE") && showsExample(v); },
                             30, &view))
        << view.dump();
    keep("deleted");
    // The rows and the files go on the library's worker: wait for the disk to follow.
    for (int i = 0; i < 100 && fs::exists(mrFolder); ++i)
        pause(100);
    EXPECT_FALSE(fs::exists(mrFolder));
    EXPECT_EQ(query("select name from patient"), std::vector<std::string>{kExampleName});
    EXPECT_EQ(query("select count(*) from study"), std::vector<std::string>{"1"});
    EXPECT_EQ(query("select count(*) from series"), std::vector<std::string>{"2"});
    EXPECT_EQ(imageFiles(), example);
    for (const std::string& f : example)
        EXPECT_TRUE(fs::exists(f)) << f;
    EXPECT_EQ(filesBelow(source).size(), 12u) << "the imported folder itself is the user's";
    quitCleanly();
}

// A crash (SIGKILL) in the middle of importing 500 files: the next start opens the database,
// every row names a file that exists, and importing the folder again completes the patient.
TEST_F(LibraryEdits, ImportKilledHalfwayIsCompletedByImportingAgain)
{
    const std::string source = writeStudy("big-source", mrSpec(500, 64, "MR^FIVEHUNDRED", "MR-500"));
    launch();
    View view;
    ASSERT_TRUE(app->waitFor(showsExample, 90, &view))
        << view.dump();
    importFolder(source);
    // Killed once a tenth of the images are in the library.
    bool some = false;
    for (int i = 0; i < 1200 && !some; ++i) {
        const std::vector<std::string> count =
            query("select count(*) from image where seriesID in (select ID from series where path like "
                  "'MR^FIVEHUNDRED%')");
        some = !count.empty() && std::atoi(count[0].c_str()) >= 50;
        if (!some)
            pause(10);
    }
    ASSERT_TRUE(some) << "the import did not start";
    app->kill();
    const size_t stored = imageFiles().size();
    std::cout << "killed with " << stored - kExampleImages << " of 500 images in the library\n";

    launch();
    ASSERT_TRUE(app->waitFor(showsExample, 90, &view))
        << view.dump();
    for (const std::string& f : imageFiles())
        EXPECT_TRUE(fs::exists(f)) << "a row without its file: " << f;

    importFolder(source);
    ASSERT_TRUE(app->waitFor([](const View& v) { return showsPatient(v, "MR^FIVEHUNDRED", "1-1-500"); }, 240, &view))
        << view.dump();
    keep("completed");
    const std::vector<std::string> files = imageFiles();
    EXPECT_EQ(files.size(), 500 + kExampleImages);
    EXPECT_EQ(std::set<std::string>(files.begin(), files.end()).size(), files.size()) << "an image stored twice";
    for (const std::string& f : files)
        EXPECT_TRUE(fs::exists(f)) << f;
    EXPECT_EQ(query("select count(distinct imageUID) from image"),
              std::vector<std::string>{std::to_string(500 + kExampleImages)});
    quitCleanly();
}

namespace {

// A zip of one empty stored entry named `name`, written byte by byte (no archiver writes a name
// that is not text).
void writeOneEntryZip(const std::string& path, const std::string& name)
{
    std::string out;
    auto u16 = [&out](uint32_t v) { out += char(v & 0xff), out += char(v >> 8 & 0xff); };
    auto u32 = [&](uint32_t v) { u16(v & 0xffff), u16(v >> 16); };
    u32(0x04034b50), u16(10), u16(0), u16(0), u16(0), u16(0), u32(0), u32(0), u32(0), u16(uint32_t(name.size())), u16(0);
    out += name;
    const uint32_t central = uint32_t(out.size());
    u32(0x02014b50), u16(20), u16(10), u16(0), u16(0), u16(0), u16(0), u32(0), u32(0), u32(0);
    u16(uint32_t(name.size())), u16(0), u16(0), u16(0), u16(0), u32(0), u32(0);
    out += name;
    const uint32_t size = uint32_t(out.size()) - central;
    u32(0x06054b50), u16(0), u16(0), u16(1), u16(1), u32(size), u32(central), u16(0);
    std::ofstream(path, std::ios::binary) << out;
}

}  // namespace

// An archive refused for an entry whose name is not text: the toast names it with U+FFFD in place
// of its bytes, and the scene is still reported (the program stays up).
TEST_F(LibraryEdits, AnArchiveRefusedForAnEntryNamedInBytesThatAreNotTextLeavesTheProgramUp)
{
    const std::string archive = folder + "not-text.zip";
    writeOneEntryZip(archive, "../\xff\xfe.dcm");
    launch();
    View view;
    ASSERT_TRUE(app->waitFor(showsExample, 90, &view)) << view.dump();
    importFolder(archive);
    ASSERT_TRUE(app->waitFor([](const View& v) { return v.containing("would be written outside") != nullptr; }, 30, &view))
        << view.dump() << app->logTail();
    EXPECT_NE(view.containing("\"../\xEF\xBF\xBD\xEF\xBF\xBD.dcm\""), nullptr) << view.dump();
    EXPECT_TRUE(app->probe().valid());
    EXPECT_TRUE(app->running());
    quitCleanly();
}

}  // namespace e2e
