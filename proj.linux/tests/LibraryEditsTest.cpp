// Changing the library through the window: deleting a patient, and an import cut short by a crash
// and done again.
#include "support/AppTest.h"
#include "support/Screens.h"

#include <sys/signal.h>

#include <cstdlib>
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

}  // namespace e2e
