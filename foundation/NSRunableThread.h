// Runs one function with an untyped argument on a detached thread of its own, optionally runs a
// completion on the main thread afterwards, and deletes itself. Nobody else deletes it, and callers
// must not touch the object once it has started: it may already be gone when create returns.
//
// Everything the thread reads (function, argument, completion, the owner's done flag) is stored
// before the thread is launched. The thread registers with the framework's per-thread autorelease
// pools while the function runs.
//
// With an owner (an NSThreadSafeDestroy), the owner's threadGone flag is cleared when the thread
// starts and set once the function has returned and the completion was queued; the completion is
// queued with the owner as its run-on-main target, so the owner's clean-up can drop it with
// NSThreadSafeDestroy::removePendingCompletions.
//
// Every run is counted from its start until the thread has deleted itself, so that the shell's
// shutdown can wait for all of them before it ends the services they use (the DICOM library, the
// notification centre, the director).
//
// Process exit: a worker must not outlive the static objects it uses (DCMTK's data dictionary, the
// framework's pools, the program's own statics), which exit() destroys on the main thread. The
// shell's shutdown ends every worker before main returns; for a process that exits without it (a
// test program, a return from main while work runs), an exit handler does the same: it runs the
// exit stops registered here (newest first; they tell long-lived loops to stop and wait for them),
// waits for every run, and then holds every NSUI::NSThread after the request it is processing. The
// handler is registered when the first worker starts (or the first exit stop is added) and again by
// armExitGuard, so it runs before the destructors of every static made until then. Exit runs the
// destructor of a static made later (a table a worker builds on first use) before the handler:
// such a static is made with new and never destroyed.
#pragma once

#include <atomic>
#include <functional>

namespace NSUI
{

class NSThreadSafeDestroy;

class NSRunableThread
{
public:
    using Task = std::function<void(void*)>;
    using Completion = std::function<void()>;

    // Starts fn(arg) at once, without owner and without completion.
    NSRunableThread(Task fn, void* arg);
    NSRunableThread(const NSRunableThread&) = delete;
    NSRunableThread& operator=(const NSRunableThread&) = delete;

    // Starts fn(arg); when it has returned, completion runs on the main thread. owner may be null.
    static NSRunableThread* create(Task fn, void* arg, NSThreadSafeDestroy* owner, Completion completion);

    // Runs started and not yet ended (the object deleted, everything its callables held released).
    static int getRunningCount();
    // Returns once no run is left. Main thread, at shutdown: a run's completion is not awaited.
    static void waitForAll();

    // Exit: stop is called by the exit handler before it waits for the runs; it must tell its
    // worker to stop (close its socket, cancel) and return once the worker is gone. Main thread.
    static void addExitStop(std::function<void()> stop);
    // Registers the exit handler (again): call right after making a process-wide static object that
    // workers use, so that every worker ends before that object is destroyed. Any thread.
    static void armExitGuard();
    // What the exit handler runs (exit stops, runs, NSThreads). Main thread, as the process ends;
    // running it again only waits for what may have started since.
    static void endAllForExit();

protected:
    // For subclasses that set up their own fields first and then call start.
    NSRunableThread() = default;
    // Runs on the thread itself, after the function; sets the owner's done flag last.
    virtual ~NSRunableThread();

    // Launches the thread (once; a second call returns false).
    virtual bool start(Task fn, void* arg, NSThreadSafeDestroy* owner);

private:
    void run();

    Task _fn;
    void* _arg = nullptr;
    bool _started = false;
    std::atomic<bool>* _doneFlag = nullptr;
    Completion _completion;
    bool _hasCompletion = false;
    void* _completionTarget = nullptr;
};

} // namespace NSUI
