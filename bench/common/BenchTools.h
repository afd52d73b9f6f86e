// Small helpers of the library benchmarks: their folder, and DCMTK's command-line tools as child
// processes.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace qvbench {

// Where a benchmark keeps what it generates between runs: $QV_BENCH_DIR, default /tmp/qv-bench-library.
inline std::string benchRoot()
{
    const char* dir = std::getenv("QV_BENCH_DIR");
    return std::string(dir && *dir ? dir : "/tmp/qv-bench-library") + "/";
}

// A DCMTK tool started from PATH, its output discarded; the program ends when it cannot start.
inline pid_t spawnTool(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pid <= 0) {
        std::fprintf(stderr, "cannot start %s (scripts/install-deps installs dcmtk)\n", argv[0].c_str());
        std::exit(1);
    }
    return pid;
}

}  // namespace qvbench
