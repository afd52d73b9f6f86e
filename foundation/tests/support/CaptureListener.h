// Test helper: records the texts of the capture-saved notifications (1004, context 0) while it is
// registered with the notification centre.
#pragma once

#include "NSNotificationCenter.h"

#include <string>
#include <vector>

class CaptureListener : public cocos2d::Ref
{
public:
    void listen()
    {
        NSUI::NSNotificationCenter::getInstance()->addObserver(
            this, nullptr,
            [this](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData* data) {
                saved.push_back(data ? data->text : "");
            },
            NSUI::NOTIFY_CAPTURE_SAVED);
    }
    void stop() { NSUI::NSNotificationCenter::getInstance()->removeObserver(this); }

    std::vector<std::string> saved;
};
