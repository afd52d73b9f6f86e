// The shell's shutdown against the screens' workers, headless: a capture list still making its
// thumbnails when the program quits, and a favourite kept right before quitting. Shutdown waits for
// every worker before the DICOM library, the notification centre and the library database go (the
// sanitizers see nothing run against ended services), and after a new start the favourite's file
// and row are whole. And a process that exits without the shell's shutdown while a worker of each
// kind is busy: every worker has ended before exit destroys the static objects it could use.
#include "AppConfig.h"
#include "AppDelegate.h"
#include "DicomSeriesWriter.h"
#include "NSHttpClient.h"
#include "NSHttpRequest.h"
#include "NSRunableThread.h"
#include "NSThread.h"
#include "UILocalConfig.h"
#include "captureList.h"
#include "cocos2d.h"
#include "dataService.h"
#include "dcmLib.h"
#include "dicomDB.h"
#include "favoriteList.h"
#include "imageViewerPC.h"
#include "isSliceInfo.h"
#include "isViewerImage.h"
#include "libraryWorkers.h"
#include "sniffer.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

USING_NS_CC;

namespace {

// Holds the thumbnail workers inside the DICOM library (in its PNG writer) until opened.
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool open = false;
    int waiting = 0;
};
Gate g_gate;

void holdAtGate()
{
    std::unique_lock<std::mutex> hold(g_gate.lock);
    ++g_gate.waiting;
    g_gate.changed.notify_all();
    g_gate.changed.wait(hold, [] { return g_gate.open; });
}

bool heldSavePng(int width, int height, unsigned char* rgb, const char* path)
{
    holdAtGate();
    return dataService::onSdkSavePng(width, height, rgb, path);
}

// ---- A process that ends without the shell's shutdown while workers run ----

// A DICOM file the held workers read once let go, as the real ones do (DCMTK's dictionary and all).
char g_workFile[1024];

void readWorkFile()
{
    for (int i = 0; i < 20; ++i) {
        redIRI::dcmReader reader;
        reader.setFile(g_workFile);
    }
}

void waitForArrival()
{
    std::unique_lock<std::mutex> hold(g_gate.lock);
    g_gate.changed.wait(hold, [] { return g_gate.waiting > 0; });
}

void openGateAtExit()
{
    std::lock_guard<std::mutex> hold(g_gate.lock);
    g_gate.open = true;
    g_gate.changed.notify_all();
}

// Holds the information builder where the DICOM library tells that its file is not DICOM.
void heldNotDicomLog(const char* text)
{
    if (std::strstr(text, "is not a DICOM file"))
        holdAtGate();
}

std::atomic<bool> g_requestEnded{false};

class HeldRequests : public NSUI::NSThread {
protected:
    void process(NSUI::NSThreadRequest*) override
    {
        holdAtGate();
        readWorkFile();
        g_requestEnded = true;
    }
};

// Counts the threads that reach it and the ones of those that have ended.
std::atomic<int> g_threadsMarked{0};
std::atomic<int> g_threadsEnded{0};
struct ThreadMark {
    ThreadMark() { ++g_threadsMarked; }
    ~ThreadMark() { ++g_threadsEnded; }
};

struct ExitRow {
    const char* kind;
    std::function<void()> start;  // returns once the worker is held mid-work
    std::function<bool()> ended;
};

// Made first in the child, before any worker, exit destroys it after the exit handler and before
// every static object made earlier (DCMTK's dictionary among them): a worker still busy then is one
// that exit destroys things under.
struct ExitWitness {
    std::function<bool()> ended;
    ~ExitWitness()
    {
        if (!ended())
            _exit(3);
    }
};

// Runs in the child: the worker is held, exit's first handler lets it go on, and the process ends.
[[noreturn]] void exitWhileBusy(const ExitRow& row)
{
    static ExitWitness witness;
    witness.ended = row.ended;
    row.start();
    std::atexit(openGateAtExit);
    std::exit(0);
}

class ShellShutdownThreads : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        scratch = std::string(std::getenv("XDG_DATA_HOME")) + "/shell-shutdown/" + info->name() + "/";
        FileUtils* files = FileUtils::getInstance();
        files->removeDirectory(scratch);
        files->createDirectory(scratch);
        files->setWritablePath(scratch);
        dataService::setDatabaseSetupForTest([](dicomDB* db) { db->setStartServerForTest(false); });
        AppDelegate::setEndsDicomLibrary(false);  // one DICOM library for both starts
    }

    void TearDown() override
    {
        if (app)
            quit();
        dataService::setDatabaseSetupForTest(nullptr);
        FileUtils::getInstance()->setWritablePath("");
    }

    // Starts the program headless on the test's folder, without the example study.
    void launch()
    {
        UserDefault::destroyInstance();
        AppConfig::getInstance();
        NSUI::UILocalConfig::setLocalString("app_init_db", "0");
        // Tall, so that the capture list draws many rows at once.
        Director::getInstance()->setOpenGLView(GLViewHeadless::create(Size(1280, 4000)));
        app = new AppDelegate();
        ASSERT_TRUE(app->applicationDidFinishLaunching());
        step();
        step(0.5f);  // the notification centre's first delay
    }

    // Quits as the framework's loop does: the scenes end, then the shell's shutdown.
    void quit()
    {
        Director::getInstance()->endScenes();
        app->shutdown();
        delete app;
        app = nullptr;
        Director::destroyInstance();
        UserDefault::destroyInstance();
    }

    void step(float dt = 1.0f / 60) { Director::getInstance()->stepFrame(dt); }
    bool stepUntil(const std::function<bool()>& pred, int seconds = 30)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            step();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    static dicomDB* database() { return dataService::getInstance()->getDatabase(); }

    captureList* openFavorites()
    {
        Scene* scene = favoriteList::createScene();
        favoriteList* screen = favoriteList::getScreen(scene);
        Director::getInstance()->pushScene(scene);
        step();
        // An empty favourite table never loads: the list stays empty.
        EXPECT_TRUE(stepUntil([screen] { return screen->getCaptureList()->isLoaded(); }, 10));
        return screen->getCaptureList();
    }

    std::string scratch;
    AppDelegate* app = nullptr;
};

TEST_F(ShellShutdownThreads, QuitWhileTheCaptureListMakesThumbnailsWaitsForEveryOne)
{
    launch();
    const std::string folder = scratch + "qv/favorite/";
    FileUtils::getInstance()->createDirectory(folder);
    qvgen::ImageSpec spec;
    spec.columns = 64;
    spec.rows = 64;
    std::vector<std::string> files;
    for (int i = 0; i < 40; ++i) {
        files.push_back(folder + std::to_string(i) + ".dcm");
        ASSERT_TRUE(qvgen::writeDicomFile(files.back(), spec));
        ASSERT_GE(database()->addDicomFavorite(files.back(), 1.0f), 0);
    }
    redIRI::setSavePngCallback(heldSavePng);

    captureList* list = openFavorites();
    // Every drawn row started its worker, and each of them is inside the DICOM library.
    ASSERT_TRUE(stepUntil([&] {
        std::lock_guard<std::mutex> hold(g_gate.lock);
        return list->getThumbnailJobsStarted() >= 10 && g_gate.waiting == list->getThumbnailJobsStarted();
    }));
    const int started = list->getThumbnailJobsStarted();
    // Opened while the shell shuts down: a shutdown that did not wait is over by then.
    std::thread opener([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        std::lock_guard<std::mutex> hold(g_gate.lock);
        g_gate.open = true;
        g_gate.changed.notify_all();
    });
    quit();
    int written = 0;
    for (const std::string& file : files)
        written += FileUtils::getInstance()->isFileExist(captureList::thumbnailPath(file)) ? 1 : 0;
    EXPECT_EQ(written, started) << "thumbnail workers still ran after shutdown";
    EXPECT_EQ(NSUI::NSRunableThread::getRunningCount(), 0);
    opener.join();
    redIRI::setSavePngCallback(nullptr);
}

TEST_F(ShellShutdownThreads, FavouriteKeptRightBeforeQuitIsWholeAfterARestart)
{
    launch();
    // A 256 x 256 signed 16-bit slice, as the viewer hands over a copy of the one on view.
    auto* slice = new isImageSDK::isSliceInfo();
    slice->columns = 256;
    slice->rows = 256;
    slice->pixelType = isImageSDK::PIXEL_I16;
    slice->windowWidth = 400;
    slice->windowCenter = 40;
    auto* pixels = new unsigned char[256 * 256 * 2];
    auto* values = reinterpret_cast<short*>(pixels);
    for (int i = 0; i < 256 * 256; ++i)
        values[i] = static_cast<short>(i % 1000 - 200);
    slice->pixels = pixels;
    imageViewerPC::startFavoriteSave(slice, imageViewerPC::getLibraryRoot());
    quit();  // at once: not one frame for the favourite's notice
    EXPECT_EQ(NSUI::NSRunableThread::getRunningCount(), 0);

    launch();
    captureList* list = openFavorites();
    ASSERT_EQ(list->getTable()->getRowCount(), 2) << "a time mark and the favourite";
    const captureList::listObject* row = list->rowAt(1);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->type, int(captureList::kDicomFile));
    redIRI::dcmReader reader;
    ASSERT_TRUE(reader.setFile(row->image.c_str())) << row->image;
    unsigned short rows = 0, columns = 0;
    EXPECT_TRUE(reader.readDicomTagUint16(0x0028, 0x0010, rows));
    EXPECT_TRUE(reader.readDicomTagUint16(0x0028, 0x0011, columns));
    EXPECT_EQ(rows, 256);
    EXPECT_EQ(columns, 256);
    quit();
}

TEST_F(ShellShutdownThreads, AProcessEndingWithoutShutdownWaitsForAWorkerOfEachKind)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::snprintf(g_workFile, sizeof g_workFile, "%s", (scratch + "work.dcm").c_str());
    ASSERT_TRUE(qvgen::writeDicomFile(g_workFile, qvgen::ImageSpec()));
    const std::string notDicom = scratch + "not-dicom.dcm";
    ASSERT_TRUE(FileUtils::getInstance()->writeStringToFile("plain text", notDicom));
    // A peer that takes the HTTP connection and never answers.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";

    const std::vector<ExitRow> rows = {
        {"viewer information builder",
         [&] {
             launch();
             redIRI::setLogCallback(heldNotDicomLog);
             isImageSDK::isImageData* image = isImageSDK::isImageData::create();
             const int dims[3] = {8, 8, 1};
             const float spacing[3] = {1, 1, 1};
             image->allocateVolume(dims, spacing, isImageSDK::PIXEL_I16, 0, 0, Mat4::IDENTITY);
             image->getSlices()[0]->filePath = notDicom;
             auto* viewer = isImageSDK::isViewerImage::create();
             viewer->setContentSize(Size(200, 200));
             Director::getInstance()->getRunningScene()->addChild(viewer);
             viewer->setImageData(image);
             stepUntil([] {
                 std::lock_guard<std::mutex> hold(g_gate.lock);
                 return g_gate.waiting > 0;
             });
         },
         [] { return NSUI::NSRunableThread::getRunningCount() == 0; }},
        {"library worker",
         [] {
             startLibraryWorker([] {
                 holdAtGate();
                 readWorkFile();
             });
             waitForArrival();
         },
         [] { return runningLibraryWorkers() == 0; }},
        {"request thread",
         [] {
             auto* request = new NSUI::NSThreadRequest();
             (new HeldRequests())->addRequest(request);
             request->release();
             waitForArrival();
         },
         [] { return g_requestEnded.load(); }},
        {"peer discovery sweep",
         [] {
             NSUI::sniffer* discovery = NSUI::sniffer::getInstance();
             discovery->sendObserver = [](const std::string&, int) {
                 thread_local ThreadMark mark;
                 holdAtGate();
             };
             discovery->start();
             waitForArrival();
         },
         [] { return g_threadsMarked > 0 && g_threadsEnded == g_threadsMarked; }},
        {"HTTP transfer",
         [&] {
             NSUI::NSHttpClient* client = NSUI::NSHttpClient::getInstance();
             client->setTimeouts({2000, 60000, 100});
             auto* request = new NSUI::NSHttpRequest();
             request->kind = NSUI::NSHttpRequest::GET;
             request->url = url;
             client->send(request);
             request->release();
             // Connected: the transfer now waits for an answer that never comes.
             ASSERT_GE(::accept(listener, nullptr, nullptr), 0);
         },
         [] { return !NSUI::NSHttpClient::hasInstance(); }},
    };
    for (const ExitRow& row : rows)
        EXPECT_EXIT(exitWhileBusy(row), ::testing::ExitedWithCode(0), "") << row.kind;
    ::close(listener);
}

} // namespace
