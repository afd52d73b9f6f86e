#include "renderer/CCRenderCommand.h"

#include "renderer/CCCustomCommand.h"
#include "renderer/CCTexture2D.h"

#include <atomic>

namespace cocos2d {

uint64_t nextContentVersion()
{
    static std::atomic<uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

void RenderCommand::init(float globalZOrder, const Mat4& transform, uint32_t flags)
{
    (void)flags;
    _globalOrder = globalZOrder;
    _transform = transform;
    _is3D = false;
    _depth = 0.0f;
}

void CustomCommand::addInputTexture(const Texture2D* texture)
{
    addInputValue(texture ? texture->getContentVersion() : 0);
}

} // namespace cocos2d
