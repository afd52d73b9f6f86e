// Base of the data sources that talk to the server (the HTTP hub is one): a reference-counted
// object with the flat-JSON mixin, a per-second update driven by NSUI::NSDataManager, two stored
// callables for its subclass, and the cancellation of its pending HTTP requests.
//
// Main thread only.
#pragma once

#include "UIHttpPhisical.h"
#include "UIJson.h"

#include "cocos2d.h"

#include <functional>
#include <string>

namespace NSUI
{

class NSDatas : public cocos2d::Ref, public UIJson, public UIHttpPhisical
{
public:
    using Callback = std::function<void()>;

    NSDatas() = default;
    // Cancels this source's pending HTTP requests, so no answer reaches a destroyed source.
    ~NSDatas() override;

    // Resets the text, interval 1 and both callables; this source becomes the target of its requests.
    virtual bool init();
    // Drops every queued HTTP request of this source.
    virtual void cancelRequests();
    // Called once per second by the data manager while it is enabled; does nothing here.
    virtual void update(float dt);
    virtual void setCallback(const Callback& callback);
    virtual void setSecondCallback(const Callback& callback);

protected:
    // Seconds between the subclass's own periodic actions, counted in its update.
    int _interval = 1;
    std::string _text;
    Callback _callback;
    Callback _secondCallback;
};

} // namespace NSUI
