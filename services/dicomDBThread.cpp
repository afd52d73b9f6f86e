#include "dicomDBThread.h"

#include "dicomDB.h"

dicomDBRequest::dicomDBRequest(std::shared_ptr<dicomDBRequestRegistry> registry) : registry_(std::move(registry))
{
    std::lock_guard<std::mutex> lock(registry_->mutex);
    registry_->live.insert(this);
}

dicomDBRequest::~dicomDBRequest()
{
    if (stored) stored(false);
    std::lock_guard<std::mutex> lock(registry_->mutex);
    registry_->live.erase(this);
}

void dicomDBThread::process(NSUI::NSThreadRequest* request)
{
    owner_->processRequest(static_cast<dicomDBRequest*>(request));
}
