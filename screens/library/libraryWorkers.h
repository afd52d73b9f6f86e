// Workers of the library screens (file deletes, unpacking, thumbnails). Each is an
// NSUI::NSRunableThread run, so the shell's shutdown waits for every one of them
// (NSRunableThread::waitForAll) before it stops the services they use, and a process that exits
// without the shell's shutdown still waits for it in NSRunableThread's exit handler.
//
// A worker copies its inputs, touches no UI and no screen, and reports by notification. start
// may be called on any thread.
#pragma once

#include <functional>

void startLibraryWorker(std::function<void()> task);
int runningLibraryWorkers();
