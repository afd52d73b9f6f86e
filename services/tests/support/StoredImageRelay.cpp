#include "StoredImageRelay.h"

#include "NSNotificationCenter.h"
#include "dcmLib.h"

#include <chrono>
#include <thread>

std::atomic<int> StoredImageRelay::relayed{0};
std::atomic<int> StoredImageRelay::holdAt{0};

namespace {

void onMessage(int code, const char* text)
{
    if (code != 3 || !text) return;
    auto* record = reinterpret_cast<redIRI::DCM_MESSAGE*>(const_cast<char*>(text));
    NSUI::NSNotificationData* data = new NSUI::NSNotificationData();
    data->setUserData(record, [](void* p) { delete static_cast<redIRI::DCM_MESSAGE*>(p); });
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NSUI::NOTIFY_DB_ADD_IMAGE, data, nullptr,
                                                                true);
    data->release();
    const int count = ++StoredImageRelay::relayed;
    if (StoredImageRelay::holdAt > 0 && count >= StoredImageRelay::holdAt)
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

} // namespace

StoredImageRelay::StoredImageRelay()
{
    relayed = 0;
    holdAt = 0;
    NSUI::NSNotificationCenter::getInstance();  // created on the main thread
    redIRI::setMsgCallback(&onMessage);
}

StoredImageRelay::~StoredImageRelay() { redIRI::setMsgCallback(nullptr); }
