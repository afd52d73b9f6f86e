#include "UIHttpResponse.h"

namespace NSUI {

namespace {
const char* const kNoTag = "-1";
}

UIHttpResponse* UIHttpResponse::create() {
    auto* response = new UIHttpResponse();
    if (!response->init()) {
        delete response;
        return nullptr;
    }
    response->autorelease();
    return response;
}

bool UIHttpResponse::init() {
    tag = kNoTag;
    succeeded = false;
    responseCode = -1;
    body.clear();
    return true;
}

}  // namespace NSUI
