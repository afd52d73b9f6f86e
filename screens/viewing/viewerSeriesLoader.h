// viewerSeriesLoader: the viewer screen's loading of its series on a worker thread.
//
// The worker has its own copies of the library root and the series folders. For each folder it
// makes sure the series cache exists (scanning the folder when the cache is missing or stale),
// then opens one series loader (isBinReader) per cache and reads the cache header into its image.
// It shows its progress by posting the busy texts with 1002 (urgent, no sender, context 0) and
// touches nothing of the screen, the widgets or the shared-object registry: it hands the readers,
// or the failure, to a function that runs on the main thread with the screen as its target.
//
// cancel() (main thread, from the screen's clean-up) guarantees that the delivery function never
// runs afterwards: the worker queues it only under the lock, and only when not cancelled; a
// delivery already queued is dropped with the screen's run-on-main functions. A cancelled worker
// releases its readers and posts nothing more; it may go on scanning until the folder is done.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace isImageSDK {
class isBinReader;
}

class viewerSeriesLoader : public std::enable_shared_from_this<viewerSeriesLoader> {
public:
    // The busy texts, shown as they are.
    static const char* const kScanText;     // "Scan Dicoms"
    static const char* const kLoadingText;  // "Loading dicoms"

    // The readers of a load, one reference each, in folder order; released when the batch goes
    // unless taken.
    struct Batch {
        std::vector<isImageSDK::isBinReader*> readers;
        ~Batch();
        // Hands the readers over to the caller (who then owns one reference each).
        std::vector<isImageSDK::isBinReader*> take();
    };
    // Runs on the main thread: ok false on any failure (batch empty then).
    using Delivery = std::function<void(bool ok, Batch& batch)>;

    // Starts the worker. root ends in "/"; folders are relative to it. target identifies the
    // delivery among the run-on-main functions (the screen). afresh: every folder is scanned
    // again, whatever cache it has (a folder that may have changed since).
    static std::shared_ptr<viewerSeriesLoader> start(const std::string& root, const std::vector<std::string>& folders,
                                                     void* target, Delivery delivery, bool afresh = false);

    // Main thread. No delivery runs after this returns.
    void cancel();
    bool isCancelled();
    // The worker has returned.
    bool isFinished() const { return m_finished.load(); }

    // The worker's body; public for tests that run it on their own thread.
    void run();

private:
    viewerSeriesLoader() = default;

    void deliver(bool ok, std::shared_ptr<Batch> batch);
    void postBusyText(const char* text);

    std::string m_root;
    std::vector<std::string> m_folders;
    void* m_target = nullptr;
    bool m_afresh = false;
    Delivery m_delivery;
    std::mutex m_lock;
    bool m_cancelled = false;
    std::atomic<bool> m_finished{false};
};
