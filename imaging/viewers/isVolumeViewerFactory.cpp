#include "isVolumeViewerFactory.h"

namespace isImageSDK {

namespace {

VolumeViewerFactory& factory()
{
    static VolumeViewerFactory f;
    return f;
}

} // namespace

void setVolumeViewerFactory(VolumeViewerFactory f)
{
    factory() = std::move(f);
}

isRenderWindow* createVolumeViewer()
{
    return factory() ? factory()() : nullptr;
}

} // namespace isImageSDK
