// CustomCommand: a command whose drawing is a callback, run on the main thread at execution with
// the pass's viewport, projection (Camera::getVisitingCamera) and scissor in force.
//
// The callback may change any GL state; the renderer forgets its state cache after it, and the
// callback restores what it changed beyond the cache (blending equation, line stipple, texture
// units other than through GL::bindTexture2DN) in the same or a following command. Headless the
// callback is never run.
//
// Inputs, for the renderer's still-frame check (a frame that would draw what the window already
// shows is not drawn): the renderer cannot look into a callback, so a command counts as changed
// in every frame unless its issuer declares what the callback draws from. declareInputs() says
// that the callback reads nothing but the inputs added after it, besides the command's own
// z-order, 3D flag and transform and the pass's viewport, projection and scissor, which the
// renderer compares itself. Inputs are byte ranges (read, and compared by content, when the frame
// is put together after every pass's visit: they must stay valid until the frame is drawn, as
// anything the callback reads must), values, and textures (their content version, taken now).
// init() forgets the declaration, so an issuer declares again with every draw.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "renderer/CCRenderCommand.h"

namespace cocos2d {

class Texture2D;

class CustomCommand : public RenderCommand {
public:
    CustomCommand() { _type = Type::CUSTOM_COMMAND; }

    void init(float globalZOrder, const Mat4& transform, uint32_t flags)
    {
        RenderCommand::init(globalZOrder, transform, flags);
        _inputsDeclared = false;
        _inputs.clear();
    }
    void init(float globalZOrder) { init(globalZOrder, Mat4::IDENTITY, 0); }

    void execute() const
    {
        if (func) {
            func();
        }
    }

    // ----- inputs (see the header comment)
    void declareInputs()
    {
        _inputsDeclared = true;
        _inputs.clear();
    }
    void addInput(const void* data, size_t bytes) { _inputs.push_back(Input{data, bytes, 0}); }
    void addInputValue(uint64_t value) { _inputs.push_back(Input{nullptr, 0, value}); }
    void addInputTexture(const Texture2D* texture);

    struct Input {
        const void* data; // null: a value
        size_t bytes;
        uint64_t value;
    };
    bool hasDeclaredInputs() const { return _inputsDeclared; }
    const std::vector<Input>& getInputs() const { return _inputs; }

    std::function<void()> func;

private:
    bool _inputsDeclared = false;
    std::vector<Input> _inputs; // keeps its capacity: a steady frame allocates nothing
};

} // namespace cocos2d
