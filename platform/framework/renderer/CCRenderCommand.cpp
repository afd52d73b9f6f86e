#include "renderer/CCRenderCommand.h"

namespace cocos2d {

void RenderCommand::init(float globalZOrder, const Mat4& transform, uint32_t flags)
{
    (void)flags;
    _globalOrder = globalZOrder;
    _transform = transform;
    _is3D = false;
    _depth = 0.0f;
}

} // namespace cocos2d
