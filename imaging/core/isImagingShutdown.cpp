#include "isImagingShutdown.h"

#include "isSharedObjects.h"

namespace isImageSDK {

namespace {
std::function<void()> g_steps[2];
} // namespace

void setImagingShutdownStep(ImagingShutdownStep step, std::function<void()> body)
{
    g_steps[step] = std::move(body);
}

void shutdownImageSDK()
{
    isSharedObjects::destroyInstance();
    for (std::function<void()>& step : g_steps) {
        std::function<void()> body;
        body.swap(step);
        if (body)
            body();
    }
}

} // namespace isImageSDK
