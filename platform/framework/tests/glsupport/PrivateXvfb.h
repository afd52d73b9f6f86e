// An X server of a test's own, for tests that need a display whether or not the run has one.
#pragma once

#include <sys/types.h>

#include <string>

namespace qvtest {

// Starts Xvfb with one screen of width x height (24-bit) at `dpi`. The server picks its own
// display number, so servers started side by side never race for one, and it is ended when the
// thread that started it ends. Returns the display (":N") once it takes clients, its process in
// *pid; empty when it did not start within 20 s.
std::string startXvfb(int width, int height, int dpi, pid_t* pid);

} // namespace qvtest
