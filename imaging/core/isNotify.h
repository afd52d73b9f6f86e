// The notifications the imaging data classes post (kept in one place).
#pragma once

#include <string>

namespace cocos2d {
class Ref;
}

namespace isImageSDK {
namespace notify {

// An image buffer was not made: no sender, no payload, context 0.
void memoryLow();

// Window width and level for the overlay, as the JSON text {"ww": ..., "wl": ...}; not
// urgent. With cancelPending, still-queued posts of the same sender and context are dropped
// first.
void windowChanged(cocos2d::Ref* sender, void* context, const std::string& width, const std::string& level,
                   bool cancelPending);

} // namespace notify
} // namespace isImageSDK
