// The volume viewer lives in the volume-rendering layer above this one, which this layer does
// not link. That layer installs a factory for it at start-up; code here (the multi-view
// container) makes volume viewers only through it.
#pragma once

#include "isRenderWindow.h"

#include <functional>

namespace isImageSDK {

// Makes a new, initialised and autoreleased volume viewer (null when none can be made).
using VolumeViewerFactory = std::function<isRenderWindow*()>;

// Installs (or, with an empty function, removes) the factory.
void setVolumeViewerFactory(VolumeViewerFactory factory);

// A new volume viewer from the factory; null without a factory.
isRenderWindow* createVolumeViewer();

} // namespace isImageSDK
