// The end of the imaging layers at application shutdown.
//
// shutdownImageSDK releases, in this order, the shared-object registry, the measurement list of
// the display layer and the hanging-protocol list of the viewers. The last two live in layers
// above this one, which cannot be linked from here: each of those layers installs its step when
// it creates what the step releases, and the step is forgotten once it has run.
#pragma once

#include <functional>

namespace isImageSDK {

enum ImagingShutdownStep {
    SHUTDOWN_MEASUREMENTS = 0,  // clear and release the measurement list (isROIManager)
    SHUTDOWN_PROTOCOLS = 1,     // empty the application manager's hanging-protocol list
};

// Installs (or, with an empty function, removes) the body of one step. Main thread.
void setImagingShutdownStep(ImagingShutdownStep step, std::function<void()> body);

// Called by the application delegate's shutdown, on the main thread. Steps whose object was
// never created do nothing.
void shutdownImageSDK();

} // namespace isImageSDK
