// Workers of the library screens (file deletes, unpacking, thumbnails), counted so that the shell
// can wait for every one of them before it stops the services they use. Each is an
// NSUI::NSRunableThread run, so a process that exits without the shell's shutdown still waits for
// it in NSRunableThread's exit handler.
//
// A worker copies its inputs, touches no UI and no screen, and reports by notification. start
// may be called on any thread; wait on the main thread (the shell's shutdown).
#pragma once

#include <functional>

void startLibraryWorker(std::function<void()> task);
// Returns once no worker runs.
void waitForLibraryWorkers();
int runningLibraryWorkers();
