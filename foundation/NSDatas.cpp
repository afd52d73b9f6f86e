#include "NSDatas.h"

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
    return true;
}

void NSDatas::cancelRequests()
{
    // No HTTP client is part of this library yet, so no request of this source can be pending.
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
