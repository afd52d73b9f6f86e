// The small answer the REST layer (NSUI::UIHttpPhisical) hands to its owner's onHttpResponse: the tag of
// the request, whether it succeeded, the HTTP status and the body as text.
//
// Made on the main thread and autoreleased there; a handler that keeps one retains it.
#pragma once

#include "cocos2d.h"

#include <string>

namespace NSUI {

class UIHttpResponse : public cocos2d::Ref {
public:
    static UIHttpResponse* create();
    virtual bool init();

    std::string tag;         // the request's tag; "-1" after init
    bool succeeded = false;  // the transfer completed with a status from 200 to 299
    int responseCode = -1;   // the HTTP status; -1 when none was received
    std::string body;        // the answer body, the transfer's error text, or a download's summary
};

}  // namespace NSUI
