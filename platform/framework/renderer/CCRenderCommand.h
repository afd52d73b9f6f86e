// RenderCommand: one unit of drawing handed to the Renderer during a camera pass's visit and
// executed at the end of that pass.
//
// A command carries its global z-order (which group and order it is drawn in) and whether it is
// 3D (drawn in the depth-tested group). init() resets the 3D flag to false; callers that want a
// 3D command call set3D(true) after init.
#pragma once

#include <cstdint>

#include "math/CCMath.h"

namespace cocos2d {

// A number never handed out before in this process (the first is 1). Texture contents, programs,
// program states and custom commands' inputs are told apart by these in the renderer's
// still-frame check: unlike addresses and GL names, they are never reused. Any thread.
uint64_t nextContentVersion();

class RenderCommand {
public:
    enum class Type {
        UNKNOWN_COMMAND,
        CUSTOM_COMMAND,
        TRIANGLES_COMMAND,
        SCISSOR_BEGIN_COMMAND,
        SCISSOR_END_COMMAND,
    };

    // transform: the model (node-to-world) matrix of the node that issues the command.
    void init(float globalZOrder, const Mat4& transform, uint32_t flags);

    float getGlobalOrder() const { return _globalOrder; }
    Type getType() const { return _type; }
    bool is3D() const { return _is3D; }
    void set3D(bool value) { _is3D = value; }
    float getDepth() const { return _depth; }
    void setDepth(float depth) { _depth = depth; }
    const Mat4& getTransform() const { return _transform; }

    // [hook] The object that issued the command, kept in the renderer's records (may be null).
    const void* getOwner() const { return _owner; }
    void setOwner(const void* owner) { _owner = owner; }

protected:
    RenderCommand() = default;
    virtual ~RenderCommand() = default;

    Type _type = Type::UNKNOWN_COMMAND;
    float _globalOrder = 0.0f;
    bool _is3D = false;
    float _depth = 0.0f;
    Mat4 _transform;
    const void* _owner = nullptr;
};

} // namespace cocos2d
