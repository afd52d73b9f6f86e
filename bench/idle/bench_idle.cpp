// What the program costs while nothing on its window changes: the CPU time of the whole process
// (every thread, from /proc/<pid>/stat) over 20 s, after 10 s of settling, on two still screens:
//
//   patient list   the first screen, with the example study in the library
//   viewer (MPR)   the example's first series opened in the viewer (its reformatted planes)
//
// The program runs on a private Xvfb screen of 1600 x 1100 (a window of 1600 x 1000), with its
// own writable folder and loopback-only networking, and the GL driver left to its defaults, as a
// user's remote or virtual desktop runs it. It is driven from outside as the end-to-end tests
// drive it. Also printed: the director's frames per second while idle (the loop keeps ticking).
//
//   bench_idle [program]    another build of the program to measure (default: this tree's)
//
// Aim: at most 5 % of one core on each screen.
#include "support/App.h"
#include "support/Screens.h"
#include "support/XServer.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

using namespace e2e;

namespace {

constexpr int kSettleSeconds = 10;
constexpr int kSampleSeconds = 20;

// CPU seconds the process has used so far (user + system, all its threads).
double cpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Fields after the command name (which may hold spaces) start behind its ')'.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        else if (i == 15)
            stime = std::stoull(field);
    }
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

struct Sample {
    double cpuPercent = -1;
    double framesPerSecond = -1;
};

// Settles, then samples the process's CPU time and the director's frames over the sampling time.
Sample measure(App& app)
{
    std::this_thread::sleep_for(std::chrono::seconds(kSettleSeconds));
    const View before = app.probe();
    const double cpu0 = cpuSeconds(app.pid());
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(kSampleSeconds));
    const double cpu1 = cpuSeconds(app.pid());
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const View after = app.probe();
    Sample s;
    if (cpu0 >= 0 && cpu1 >= 0)
        s.cpuPercent = 100.0 * (cpu1 - cpu0) / wall;
    if (before.valid() && after.valid())
        s.framesPerSecond = double(after.frames - before.frames) / wall;
    return s;
}

void print(const char* screen, const Sample& s)
{
    std::printf("  %-16s %6.1f %% of one core   %5.1f frames/s\n", screen, s.cpuPercent, s.framesPerSecond);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    XServer x(1600, 1100);
    if (!x.ok()) {
        std::fprintf(stderr, "bench_idle: Xvfb did not start\n");
        return 1;
    }
    const std::string folder = freshFolder("bench-idle");
    App app(x, folder + "xdg", folder + "run/");
    app.keepDriverDefaults();
    if (argc > 1)
        app.setProgram(argv[1]);
    if (!app.start()) {
        std::fprintf(stderr, "bench_idle: the program's window did not show\n%s\n", app.logTail().c_str());
        return 1;
    }
    std::printf("Idle CPU of the program (all threads; %d s after %d s of settling; 1600 x 1000; aim: at most 5 %%)\n",
                kSampleSeconds, kSettleSeconds);

    // The patient list, once the example study is in it.
    View view;
    if (!app.waitFor([](const View& v) { return v.named("patientRecord") && v.named("name"); }, 120, &view)) {
        std::fprintf(stderr, "bench_idle: no patient in the list\n%s\n", view.dump().c_str());
        return 1;
    }
    print("patient list", measure(app));

    // The first patient's first series in the viewer, in its reformatted planes.
    view = app.probe();
    const Node* name = view.named("name");
    if (!name || !openPatient(app, name->text) ||
        !app.waitFor([](const View& v) { return v.named("seriesDesc") != nullptr; }, 30, &view) ||
        !openSeries(app, view.named("seriesDesc")->text, &view)) {
        std::fprintf(stderr, "bench_idle: the viewer did not open\n%s\n", view.dump().c_str());
        return 1;
    }
    std::printf("  (viewer with %zu image windows)\n", imageWindows(view).size());
    print("viewer (MPR)", measure(app));

    app.quit();
    return 0;
}
