#include "viewerSeriesLoader.h"

#include "NSNotificationCenter.h"
#include "NSRunableThread.h"
#include "isBinReader.h"
#include "isDcmScan.h"

USING_NS_CC;
using isImageSDK::isBinReader;
using isImageSDK::isDcmScan;

const char* const viewerSeriesLoader::kScanText = "Scan Dicoms";
const char* const viewerSeriesLoader::kLoadingText = "Loading dicoms";

viewerSeriesLoader::Batch::~Batch()
{
    for (isBinReader* reader : readers)
        reader->release();
}

std::vector<isBinReader*> viewerSeriesLoader::Batch::take()
{
    std::vector<isBinReader*> out;
    out.swap(readers);
    return out;
}

std::shared_ptr<viewerSeriesLoader> viewerSeriesLoader::start(const std::string& root,
                                                              const std::vector<std::string>& folders, void* target,
                                                              Delivery delivery, bool afresh)
{
    std::shared_ptr<viewerSeriesLoader> loader(new viewerSeriesLoader());
    loader->m_root = root;
    loader->m_folders = folders;
    loader->m_target = target;
    loader->m_delivery = std::move(delivery);
    loader->m_afresh = afresh;
    // The thread holds its own reference: the screen may drop its one at once. A counted run that
    // ends by itself, soon once cancelled; the shell's shutdown or the exit handler waits for it.
    new NSUI::NSRunableThread([loader](void*) { loader->run(); }, nullptr);
    return loader;
}

void viewerSeriesLoader::cancel()
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_cancelled = true;
    }
    if (m_target)
        Director::getInstance()->getScheduler()->removeFunctionInCocosThread(m_target);
}

bool viewerSeriesLoader::isCancelled()
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_cancelled;
}

void viewerSeriesLoader::postBusyText(const char* text)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (!m_cancelled)
        NSUI::NSNotificationCenter::getInstance()->postStringNotification(nullptr, NOTIFY_UI_ACTIVITY_TEXT, text,
                                                                          nullptr, true);
}

void viewerSeriesLoader::deliver(bool ok, std::shared_ptr<Batch> batch)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_cancelled)
        return;  // the batch releases the readers as it goes
    std::shared_ptr<viewerSeriesLoader> self = shared_from_this();
    Director::getInstance()->getScheduler()->performFunctionInCocosThread(
        [self, ok, batch]() {
            if (!self->isCancelled())
                self->m_delivery(ok, *batch);
        },
        m_target);
}

void viewerSeriesLoader::run()
{
    auto batch = std::make_shared<Batch>();
    auto fail = [&]() {
        batch.reset();
        deliver(false, std::make_shared<Batch>());
        m_finished = true;
    };
    postBusyText(kScanText);
    std::vector<std::pair<std::string, std::string>> caches;  // (full path, cache path)
    for (const std::string& folder : m_folders) {
        if (isCancelled())
            break;
        const std::string full = m_root + folder;
        std::string cache = isDcmScan::getBufferPathOfFolder(full);
        if (m_afresh || !isDcmScan::isValidBuffer(cache))
            cache.clear();  // createBuffer removes what was there
        if (cache.empty()) {
            if (!isDcmScan::createBuffer(full)) {
                log("failed to scan dicom:%s", full.c_str());
                fail();
                return;
            }
            cache = isDcmScan::getBufferPathOfFolder(full);
            if (!isDcmScan::isValidBuffer(cache)) {
                fail();
                return;
            }
        }
        caches.emplace_back(full, cache);
    }
    if (isCancelled()) {
        m_finished = true;
        return;
    }
    postBusyText(kLoadingText);
    for (size_t i = 0; i < caches.size(); ++i) {
        if (isCancelled())
            break;
        auto* reader = new isBinReader();
        reader->init();
        reader->setFile(caches[i].first, caches[i].second);
        reader->setName(m_folders[i]);
        if (!reader->isValid()) {
            log("failed to read dicom in foloder:%s", caches[i].first.c_str());
            reader->release();
            fail();
            return;
        }
        reader->update();
        batch->readers.push_back(reader);
    }
    if (!isCancelled())
        deliver(true, batch);
    batch.reset();
    m_finished = true;
}
