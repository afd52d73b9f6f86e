#include "StoredImageRelay.h"

#include "NSNotificationCenter.h"
#include "dcmLib.h"

std::atomic<int> StoredImageRelay::relayed{0};

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
    ++StoredImageRelay::relayed;
}

} // namespace

StoredImageRelay::StoredImageRelay()
{
    relayed = 0;
    NSUI::NSNotificationCenter::getInstance();  // created on the main thread
    redIRI::setMsgCallback(&onMessage);
}

StoredImageRelay::~StoredImageRelay() { redIRI::setMsgCallback(nullptr); }
