// What the program costs while nothing on its window changes: the CPU time of the whole process
// (every thread, from /proc/<pid>/stat) over 20 s, after 10 s of settling, on two still screens:
//
//   patient list   the first screen, with the example study in the library
//   viewer (MPR)   the example's first series opened in the viewer (its reformatted planes)
//
// The program runs on a private Xvfb screen of 1600 x 1100 (a window of 1600 x 1000), with its
// own writable folder and loopback-only networking, and the GL driver left to its defaults, as a
// user's remote or virtual desktop runs it. It is driven from outside as the end-to-end tests
// drive it. Each case starts its own display and program, so cases run alone, in any order, and
// repeated (the Google Benchmark options). Reported: cpu_percent, and frames_per_second, the
// director's frames while idle (the loop keeps ticking); the time is the sampling time.
//
//   bench_idle [program] [benchmark options]   program: another build to measure (default:
//                                               this tree's)
//
// Aim: at most 5 % of one core on each screen.
#include "support/App.h"
#include "support/Screens.h"
#include "support/XServer.h"

#include <benchmark/benchmark.h>
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

std::string g_program;  // empty: this tree's

// CPU seconds the process has used so far (user + system, all its threads).
double cpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Fields after the command name (which may hold spaces) start behind its ')'.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 > stat.size())
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

// Settles, then samples the process's CPU time and the director's frames over the sampling time.
void measure(benchmark::State& state, App& app)
{
    std::this_thread::sleep_for(std::chrono::seconds(kSettleSeconds));
    const View before = app.probe();
    const double cpu0 = cpuSeconds(app.pid());
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(kSampleSeconds));
    const double cpu1 = cpuSeconds(app.pid());
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const View after = app.probe();
    if (cpu0 < 0 || cpu1 < 0 || !before.valid() || !after.valid()) {
        state.SkipWithError("the program's CPU time or frames could not be read");
        return;
    }
    state.SetIterationTime(wall);
    state.counters["cpu_percent"] = 100.0 * (cpu1 - cpu0) / wall;
    state.counters["frames_per_second"] = double(after.frames - before.frames) / wall;
}

// One case: a display and a program of its own, on the patient list once the example study is
// in it, then (viewer) with the first patient's first series open in its reformatted planes.
void idle(benchmark::State& state, bool viewer)
{
    for (auto _ : state) {
        XServer x(1600, 1100);
        if (!x.ok()) {
            state.SkipWithError("Xvfb did not start");
            return;
        }
        const std::string folder = freshFolder("bench-idle");
        App app(x, folder + "xdg", folder + "run/");
        app.keepDriverDefaults();
        if (!g_program.empty())
            app.setProgram(g_program);
        if (!app.start()) {
            std::fprintf(stderr, "%s\n", app.logTail().c_str());
            state.SkipWithError("the program's window did not show");
            return;
        }
        View view;
        if (!app.waitFor([](const View& v) { return v.named("patientRecord") && v.named("name"); }, 120, &view)) {
            state.SkipWithError("no patient in the list");
            return;
        }
        if (viewer) {
            const Node* name = view.named("name");
            if (!name || !openPatient(app, name->text) ||
                !app.waitFor([](const View& v) { return v.named("seriesDesc") != nullptr; }, 30, &view) ||
                !openSeries(app, view.named("seriesDesc")->text, &view)) {
                state.SkipWithError("the viewer did not open");
                return;
            }
            state.counters["image_windows"] = double(imageWindows(view).size());
        }
        measure(state, app);
        app.quit();
    }
}

void BM_PatientList(benchmark::State& state) { idle(state, false); }
void BM_ViewerMPR(benchmark::State& state) { idle(state, true); }

BENCHMARK(BM_PatientList)->Name("Idle/PatientList")->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_ViewerMPR)->Name("Idle/ViewerMPR")->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    // What is left: the program to measure, if named first, and nothing else.
    if (argc > 1 && argv[1][0] != '-') {
        g_program = argv[1];
        for (int i = 1; i + 1 < argc; ++i)
            argv[i] = argv[i + 1];
        --argc;
    }
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::printf("Idle CPU of the program (all threads; %d s after %d s of settling; 1600 x 1000; aim: at most 5 %% "
                "of one core)\n",
                kSampleSeconds, kSettleSeconds);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
