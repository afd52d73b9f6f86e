#include "isViewerVolume.h"

namespace isImageSDK {

namespace {
isViewerVolume::Factory& factory()
{
    static isViewerVolume::Factory f;
    return f;
}
} // namespace

void isViewerVolume::setFactory(Factory f)
{
    factory() = std::move(f);
}

bool isViewerVolume::hasFactory()
{
    return static_cast<bool>(factory());
}

isViewerVolume* isViewerVolume::create()
{
    return factory() ? factory()() : nullptr;
}

} // namespace isImageSDK
