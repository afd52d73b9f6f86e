// CustomCommand: a command whose drawing is a callback, run on the main thread at execution with
// the pass's viewport, projection (Camera::getVisitingCamera) and scissor in force.
//
// The callback may change any GL state; the renderer forgets its state cache after it, and the
// callback restores what it changed beyond the cache (blending equation, line stipple, texture
// units other than through GL::bindTexture2DN) in the same or a following command. Headless the
// callback is never run.
#pragma once

#include <functional>

#include "renderer/CCRenderCommand.h"

namespace cocos2d {

class CustomCommand : public RenderCommand {
public:
    CustomCommand() { _type = Type::CUSTOM_COMMAND; }

    void init(float globalZOrder, const Mat4& transform, uint32_t flags)
    {
        RenderCommand::init(globalZOrder, transform, flags);
    }
    void init(float globalZOrder) { RenderCommand::init(globalZOrder, Mat4::IDENTITY, 0); }

    void execute() const
    {
        if (func) {
            func();
        }
    }

    std::function<void()> func;
};

} // namespace cocos2d
