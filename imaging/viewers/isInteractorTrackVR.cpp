#include "isInteractorTrackVR.h"

namespace isImageSDK {

bool isInteractorTrackVR::init()
{
    if (!isInteractorImage::init())
        return false;
    setMode(MODE_ROTATE);
    return true;
}

} // namespace isImageSDK
