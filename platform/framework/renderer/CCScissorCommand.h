// ScissorCommand: begins or ends scissor clipping for the commands between the pair.
//
// A begin command carries its clip rectangle in world (design) units, computed at visit time as
// the intersection of every clipping ancestor's rectangle; the renderer converts it to
// framebuffer pixels at execution and saves the scissor state it replaces. The matching end
// command restores that state. A pair must travel in one render group (the issuing node's), so
// both commands carry the same global z-order and 3D flag.
#pragma once

#include "math/CCGeometry.h"
#include "renderer/CCRenderCommand.h"

namespace cocos2d {

class ScissorCommand : public RenderCommand {
public:
    explicit ScissorCommand(bool begin)
    {
        _type = begin ? Type::SCISSOR_BEGIN_COMMAND : Type::SCISSOR_END_COMMAND;
    }

    void init(float globalZOrder, bool is3D, const Rect& clipRect)
    {
        RenderCommand::init(globalZOrder, Mat4::IDENTITY, 0);
        _is3D = is3D;
        _clipRect = clipRect;
    }

    bool isBegin() const { return _type == Type::SCISSOR_BEGIN_COMMAND; }
    // World (design) units, origin bottom-left.
    const Rect& getClipRect() const { return _clipRect; }

private:
    Rect _clipRect;
};

} // namespace cocos2d
