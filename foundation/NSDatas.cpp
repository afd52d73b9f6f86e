#include "NSDatas.h"

#include "NSHttpClient.h"

namespace NSUI
{

NSDatas::~NSDatas()
{
    NSDatas::cancelRequests();
}

bool NSDatas::init()
{
    _text.clear();
    _interval = 1;
    _callback = nullptr;
    _secondCallback = nullptr;
    setRequestTarget(this);
    return true;
}

void NSDatas::cancelRequests()
{
    // A source destroyed after the services were purged must not start a new client and worker.
    if (requestTarget != nullptr && NSHttpClient::hasInstance())
        NSHttpClient::getInstance()->cancelRequestsForTarget(requestTarget);
}

void NSDatas::update(float /*dt*/)
{
}

void NSDatas::setCallback(const Callback& callback)
{
    if (&callback != &_callback)
        _callback = callback;
}

void NSDatas::setSecondCallback(const Callback& callback)
{
    if (&callback != &_secondCallback)
        _secondCallback = callback;
}

} // namespace NSUI
