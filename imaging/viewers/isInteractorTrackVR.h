// isInteractorTrackVR: the interactor of the volume viewer, a track ball. The image interactor
// started in rotate mode: a drag turns the camera about its target (122 screen units make a
// quarter turn); the volume viewer also switches it to window level, pan and zoom.
// Main thread only.
#pragma once

#include "isInteractorImage.h"

namespace isImageSDK {

class isInteractorTrackVR : public isInteractorImage {
public:
    static isInteractorTrackVR* create() { return createAutoreleased<isInteractorTrackVR>(); }
    // The image interactor's init, then rotate mode.
    bool init() override;
};

} // namespace isImageSDK
