// The program's main loop while the library is busy: the real program (its application delegate,
// the patient list in a GL window, the network service with its storage server on a free port of
// 127.0.0.1) runs frame by frame at a steady rate while DCMTK's storescu sends 1,000 small images
// in one association (TCP_NODELAY=1). Halfway through and right after the last image, a query's
// answer is handed to the network service as the DICOM library hands it over (a find answer,
// which the service turns into a study record for the query screen: two normal notices in a row).
// Measured:
//
//   query answer    from handing the answer over until the study record reaches its screen (the
//                   slower of the two)
//   share done      from a share's archive being finished on its worker (at the same moments) until
//                   the panel hears it (one notice; shown per run only)
//   patient list    from the storage server's message of the last image until the patient list's
//                   rows count all 1,000 images
//
// and printed as one line after the runs (the slowest run):
//
//   busy library: query answer after <N> ms, patient list current <M> ms after the last image
//
// Aim: N at most 500 and M at most 1,000 at 60 frames a second. Run it under a display with
// software GL (xvfb-run); QV_BENCH_FPS sets another frame rate (18 is a volume view turning).
// Everything stays on 127.0.0.1 (QV_NETWORK_SCOPE=loopback is set here); the generated images are
// kept between runs in $QV_BENCH_DIR (default /tmp/qv-bench-library).
#include "AppConfig.h"
#include "AppDelegate.h"
#include "BenchTools.h"
#include "DicomSeriesWriter.h"
#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "UILocalConfig.h"
#include "cocos2d.h"
#include "dataService.h"
#include "dcmLib.h"
#include "dicomDB.h"
#include "patientList.h"
#include "../../platform/dicom/tests/support/LoopbackPorts.h"

#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using qvbench::benchRoot;
using qvbench::spawnTool;

constexpr int kImages = 1000;
constexpr int kSeries = 4;  // two patients of two series each
constexpr double kGiveUpSeconds = 180.0;


double framesPerSecond()
{
    const char* fps = std::getenv("QV_BENCH_FPS");
    const double value = fps ? std::atof(fps) : 0.0;
    return value > 0 ? value : 60.0;
}

// 1,000 images of 64 x 64 in one folder, written once.
std::string sourceFolder()
{
    const std::string dir = benchRoot() + "busy-source/";
    const std::string marker = benchRoot() + "busy-source.complete";
    if (fs::exists(marker)) return dir;
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (int s = 0; s < kSeries; ++s) {
        qvgen::ImageSpec spec;
        spec.columns = 64;
        spec.rows = 64;
        spec.patientName = "BUSY^" + std::to_string(s / 2);
        spec.patientID = "BUSY" + std::to_string(s / 2);
        spec.studyUID = "2.25.9073." + std::to_string(s / 2);
        spec.seriesUID = "2.25.9073." + std::to_string(s / 2) + "." + std::to_string(s);
        if (!qvgen::writeStack(dir, spec, kImages / kSeries, 1.0, 1, "s" + std::to_string(s) + "-")) {
            std::fprintf(stderr, "cannot write the images into %s\n", dir.c_str());
            std::exit(1);
        }
    }
    std::FILE* f = std::fopen(marker.c_str(), "w");
    if (f) std::fclose(f);
    return dir;
}


// The storage server's messages of stored images, counted on the DICOM library's threads before
// the network service turns them into notices.
std::atomic<int> g_storedMessages{0};
std::atomic<Clock::rep> g_lastStoredAt{0};

void countingMessageCallback(int code, const char* text)
{
    if (code == 3) {
        g_lastStoredAt = Clock::now().time_since_epoch().count();
        ++g_storedMessages;
    }
    dataService::onSdkMessage(code, text);
}

// Receives what the query screen and the share panel wait for: the study records of find answers,
// and the "done" of a share's archive (posted to the panel as its context).
class AnswerWatch : public cocos2d::Ref {
public:
    AnswerWatch()
    {
        NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
        centre->addObserver(
            this, nullptr,
            [this](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData*) { answeredAt.push_back(Clock::now()); },
            NSUI::NOTIFY_NET_FIND_STUDY);
        centre->addObserver(
            this, this,
            [this](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData*) { sharedAt.push_back(Clock::now()); },
            NSUI::NOTIFY_SHARE_ZIP_DONE);
    }
    ~AnswerWatch() override
    {
        if (auto* centre = NSUI::NSNotificationCenter::peekInstance()) centre->removeObserver(this);
    }
    std::vector<Clock::time_point> answeredAt;
    std::vector<Clock::time_point> sharedAt;
};

// What a find answer of one study looks like when the DICOM library hands it over.
const char* const kFindAnswer =
    "(0008,0020) DA [20260101] (0008,0030) TM [120000] (0008,0080) LO [Busy Hospital] (0010,0010) PN [BUSY^ANSWER] "
    "(0010,0020) LO [Q1] (0020,000d) UI [2.25.9073.99] (0020,0010) SH [1]";

patientList* home()
{
    cocos2d::Scene* scene = cocos2d::Director::getInstance()->getRunningScene();
    if (!scene) return nullptr;
    for (cocos2d::Node* child : scene->getChildren())
        if (auto* screen = dynamic_cast<patientList*>(child)) return screen;
    return nullptr;
}

int listedImages()
{
    patientList* screen = home();
    if (!screen || !screen->getTable()) return -1;
    int images = 0;
    for (cocos2d::Ref* data : screen->getTable()->getRowData())
        images += static_cast<patientList::listObject*>(data)->imageCount;
    return images;
}

cocos2d::GLView* window()
{
    static cocos2d::GLViewImpl* view = [] {
        cocos2d::GLViewImpl* v =
            cocos2d::GLViewImpl::createWithRect("busy library", cocos2d::Rect(0, 0, 1920, 980), 1.0f);
        if (v) v->retain();  // one window for every run
        return v;
    }();
    return view;
}

// The main loop at a steady rate: one frame, then a wait for the next frame's time.
class FrameClock {
public:
    explicit FrameClock(double fps)
        : period_(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / fps))),
          dt_(static_cast<float>(1.0 / fps)), next_(Clock::now())
    {
    }
    // One frame of the main loop (scheduler ticks, notices, drawing); then wait().
    void step() { cocos2d::Director::getInstance()->stepFrame(dt_); }
    void frame()
    {
        step();
        wait();
    }
    void wait()
    {
        next_ += period_;
        const Clock::time_point now = Clock::now();
        if (now < next_)
            std::this_thread::sleep_until(next_);
        else
            next_ = now;  // a late frame does not make the next ones hurry
    }

private:
    Clock::duration period_;
    float dt_;
    Clock::time_point next_;
};

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

struct Result {
    double answerMs = -1;
    double listMs = -1;
};
Result g_worst;

void quit(AppDelegate* app)
{
    cocos2d::Director* director = cocos2d::Director::getInstance();
    if (cocos2d::Scene* scene = director->getRunningScene()) {
        scene->retain();
        scene->onExit();
        scene->cleanup();
        scene->removeAllChildren();
        scene->release();
    }
    app->shutdown();
    delete app;
    cocos2d::Director::destroyInstance();
    cocos2d::UserDefault::destroyInstance();
}

void BM_BusyLibrary(benchmark::State& state)
{
    const std::string source = sourceFolder();
    if (!window()) {
        state.SkipWithError("no window (run under xvfb-run)");
        return;
    }
    for (auto _ : state) {
        const std::string data = benchRoot() + "busy-data/";
        fs::remove_all(data);
        fs::create_directories(data);
        cocos2d::FileUtils::getInstance()->setWritablePath(data);
        const int port = qvtest::freePort();
        dataService::setDatabaseSetupForTest([port](dicomDB* db) { db->setServerPortForTest(std::to_string(port)); });
        AppDelegate::setEndsDicomLibrary(false);
        cocos2d::UserDefault::destroyInstance();
        AppConfig::getInstance();  // its first-run bookkeeping asks for the example study; undo that
        NSUI::UILocalConfig::setLocalString("app_init_db", "0");

        cocos2d::Director::getInstance()->setOpenGLView(window());
        auto* app = new AppDelegate();
        if (!app->applicationDidFinishLaunching()) {
            state.SkipWithError("the program did not start");
            delete app;
            break;
        }
        redIRI::setMsgCallback(countingMessageCallback);
        g_storedMessages = 0;
        FrameClock clock(framesPerSecond());
        const Clock::time_point launched = Clock::now();
        while (Clock::now() - launched < std::chrono::seconds(1)) clock.frame();  // settled, list loaded
        auto* watch = new AnswerWatch();

        const pid_t sender =
            spawnTool({"storescu", "-aec", "tolvrane", "+sd", "127.0.0.1", std::to_string(port), source});
        std::vector<Clock::time_point> handedOver;
        Clock::time_point current{};
        const Clock::time_point start = Clock::now();
        bool senderDone = false, ok = true;
        while (current == Clock::time_point{} || watch->answeredAt.size() < 2 || watch->sharedAt.size() < 2) {
            if (Clock::now() - start > std::chrono::duration<double>(kGiveUpSeconds)) {
                ok = false;
                break;
            }
            const int stored = g_storedMessages.load();
            if ((handedOver.size() == 0 && stored >= kImages / 2) || (handedOver.size() == 1 && stored >= kImages)) {
                handedOver.push_back(Clock::now());
                dataService::onSdkMessage(5, kFindAnswer);
                // A share's archive finished on its worker at the same moment.
                std::thread([watch] {
                    NSUI::NSNotificationCenter::getInstance()->postIntNotification(
                        nullptr, NSUI::NOTIFY_SHARE_ZIP_DONE, 0, watch, false);
                }).join();
            }
            clock.step();
            if (current == Clock::time_point{} && listedImages() >= kImages) current = Clock::now();
            clock.wait();
            if (!senderDone) {
                int status = 0;
                if (::waitpid(sender, &status, WNOHANG) == sender) {
                    senderDone = true;
                    ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
                }
            }
        }
        double answerMs = 0;
        double shareMs = 0;
        for (size_t i = 0; i < handedOver.size() && i < watch->answeredAt.size() && i < watch->sharedAt.size(); ++i) {
            answerMs = std::max(answerMs, msBetween(handedOver[i], watch->answeredAt[i]));
            shareMs = std::max(shareMs, msBetween(handedOver[i], watch->sharedAt[i]));
        }
        if (!senderDone) {
            ::kill(sender, SIGTERM);
            ::waitpid(sender, nullptr, 0);
        }
        const Clock::time_point lastStored{Clock::duration(g_lastStoredAt.load())};
        const double listMs = msBetween(lastStored, current);
        watch->release();
        quit(app);
        if (!ok) {
            state.SkipWithError("the images or the answers did not all arrive");
            break;
        }
        std::fprintf(stderr,
                     "run: query answer after %.0f ms, share done after %.0f ms, patient list current %.0f ms after "
                     "the last image\n",
                     answerMs, shareMs, listMs);
        g_worst.answerMs = std::max(g_worst.answerMs, answerMs);
        g_worst.listMs = std::max(g_worst.listMs, listMs);
        state.SetIterationTime(listMs / 1000.0);
    }
}

}  // namespace

BENCHMARK(BM_BusyLibrary)->Name("busy_library")->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

int main(int argc, char** argv)
{
    setenv("TCP_NODELAY", "1", 1);
    // Sweeps and discovery reach this machine only.
    setenv("QV_NETWORK_SCOPE", "loopback", 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_worst.answerMs >= 0 && g_worst.listMs >= 0)
        std::printf("busy library: query answer after %.0f ms, patient list current %.0f ms after the last image\n",
                    g_worst.answerMs, g_worst.listMs);
    return 0;
}
