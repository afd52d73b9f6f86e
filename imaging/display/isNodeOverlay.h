// isNodeOverlay: what the render window's overlay list knows of its screen-space nodes (corner
// texts and frame buttons): the notification the node follows (NOTIFY_NONE for a static node)
// and its kind, by which the overlay actor sizes its rows.
#pragma once

#include "UIJson.h"
#include "isNodeObject.h"

#include <cstdint>

namespace isImageSDK {

class isNodeOverlay : public isNodeObject, public NSUI::UIJson {
public:
    enum Kind : uint32_t { KindText = 1, KindButton = 2 };

    // Implemented by each overlay class with its framework cleanup and init.
    virtual void cleanup() = 0;
    virtual bool init() = 0;

    uint32_t getNotificationId() const { return m_notificationId; }
    uint32_t getKind() const { return m_kind; }

protected:
    uint32_t m_notificationId = 9115;  // NOTIFY_NONE
    uint32_t m_kind = 0;
};

} // namespace isImageSDK
