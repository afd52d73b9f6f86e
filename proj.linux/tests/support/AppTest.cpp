#include "support/AppTest.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>


namespace fs = std::filesystem;

namespace e2e {

std::vector<std::string> filesBelow(const std::string& folder)
{
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_regular_file())
            out.push_back(it->path().string());
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> checkedFilesBelow(const std::string& folder)
{
    const std::string check = ".check";
    std::vector<std::string> out;
    for (const std::string& f : filesBelow(folder)) {
        if (f.size() > check.size() && f.compare(f.size() - check.size(), check.size(), check) == 0)
            continue;
        EXPECT_TRUE(fs::exists(f + check)) << "without its check: " << f;
        out.push_back(f);
    }
    return out;
}

void AppTest::SetUp()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    testName = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(testName.begin(), testName.end(), '/', '_');
    folder = freshFolder(testName);
    useScreen(1920, 1080);
}

void AppTest::TearDown()
{
    if (app && app->running()) {
        keep("at-end");
        app->kill();
    }
    if (HasFailure() && app)
        std::cerr << "---- the program's log (end) ----\n" << app->logTail(60) << "\n";
    app.reset();
    x.reset();
}

void AppTest::useScreen(int width, int height, int dpi)
{
    app.reset();
    x.reset();
    x = std::make_unique<XServer>(width, height, dpi);
    ASSERT_TRUE(x->ok()) << "Xvfb did not start";
}

App& AppTest::launch()
{
    app = std::make_unique<App>(*x, folder + "xdg", folder + "run/");
    EXPECT_TRUE(app->start()) << "the program's window did not show\n" << app->logTail();
    return *app;
}

void AppTest::quitCleanly()
{
    ASSERT_TRUE(app);
    const int status = app->quit();
    EXPECT_EQ(status, 0) << "the program did not end cleanly\n" << app->logTail(80);
}

Screenshot AppTest::keep(const std::string& label)
{
    Screenshot s = x->shot();
    s.savePng(shotFolder() + testName + "-" + label + ".png");
    return s;
}

std::vector<std::string> AppTest::query(const std::string& sql) const
{
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    const std::string path = library() + "dicomDB";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << path;
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
    } else {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            std::string row;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                const unsigned char* text = sqlite3_column_text(stmt, i);
                row += (i ? "|" : "") + std::string(text ? reinterpret_cast<const char*>(text) : "");
            }
            rows.push_back(row);
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

std::vector<std::string> AppTest::imageFiles() const
{
    std::vector<std::string> files;
    for (const std::string& row : query("select series.path || image.file from image join series on "
                                        "image.seriesID = series.ID order by image.ID"))
        files.push_back(library() + row);
    return files;
}

qvgen::PhantomSpec AppTest::mrSpec(int slices, int size, const std::string& patientName,
                                   const std::string& patientID)
{
    qvgen::PhantomSpec spec;
    spec.modality = "MR";
    spec.columns = size;
    spec.rows = size;
    spec.slices = slices;
    spec.columnSpacing = 1.5;
    spec.rowSpacing = 1.5;
    spec.sliceSpacing = 3.0;
    spec.patientName = patientName;
    spec.patientID = patientID;
    spec.studyDescription = "Head MR";
    spec.seriesDescription = "axial MR phantom";
    spec.accessionNumber = "MR0001";
    return spec;
}

std::string AppTest::writeStudy(const std::string& name, const qvgen::PhantomSpec& spec)
{
    const std::string dir = folder + name + "/";
    fs::create_directories(dir);
    std::string error;
    EXPECT_TRUE(qvgen::Phantom(spec).write(dir, &error)) << error;
    return dir;
}

void AppTest::importFolder(const std::string& path)
{
    View view;
    ASSERT_TRUE(app->waitFor([](const View& v) { return v.named("importImage") != nullptr; }, 30, &view))
        << view.dump();
    app->click(*view.named("importImage"));
    // The prompt is modal: it shows its accent OK button in the middle of the window (sampled left
    // of its caption).
    const Box window = view.window;
    const double unit = view.pixelsPerUnit;
    const int okX = window.x + window.w / 2 + int((360 - 16 - 120 + 20) * unit);
    const int okY = window.y + window.h / 2 + int((95 - 20 - 20) * unit);
    bool shown = false;
    for (int i = 0; i < 100 && !shown; ++i) {
        const Screenshot s = x->shot();
        shown = s.count({okX - 4, okY - 4, 8, 8}, {21, 170, 254}, 6) == 64;
        if (!shown)
            pause(100);
    }
    ASSERT_TRUE(shown) << "the path prompt did not show";
    keep("path-prompt");
    x->move(window.cx(), window.cy());
    x->type(path);
    x->key("Return");
}

const Node* AppTest::seriesRow(const View& view, const std::string& description) const
{
    const Node* desc = view.withText(description);
    if (!desc || desc->name != "seriesDesc")
        return nullptr;
    for (const Node* row : view.allNamed("studyRecord"))
        if (row->box.contains(desc->box))
            return row;
    return nullptr;
}

}  // namespace e2e
