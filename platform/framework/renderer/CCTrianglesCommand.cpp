#include "renderer/CCTrianglesCommand.h"

#include "renderer/CCTexture2D.h"

namespace cocos2d {

void TrianglesCommand::init(float globalOrder, Texture2D* texture, GLProgramState* glProgramState,
                            BlendFunc blendType, const Triangles& triangles, const Mat4& mv, uint32_t flags)
{
    init(globalOrder, texture ? texture->getName() : 0, glProgramState, blendType, triangles, mv, flags);
    _textureVersion = texture ? texture->getContentVersion() : 0;
    _textureVersionKnown = true;
}

void TrianglesCommand::init(float globalOrder, GLuint textureID, GLProgramState* glProgramState,
                            BlendFunc blendType, const Triangles& triangles, const Mat4& mv, uint32_t flags)
{
    RenderCommand::init(globalOrder, mv, flags);
    _textureID = textureID;
    _textureVersion = 0;
    _textureVersionKnown = textureID == 0;
    _glProgramState = glProgramState;
    _blendType = blendType;
    _triangles = triangles;
    // Index counts must describe whole triangles.
    _triangles.indexCount -= _triangles.indexCount % 3;
    // Texture name, program state and blend function decide whether two commands can batch.
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](uint64_t v) {
        h ^= v;
        h *= 1099511628211ull;
    };
    mix(textureID);
    mix(reinterpret_cast<uintptr_t>(glProgramState));
    mix(blendType.src);
    mix(blendType.dst);
    _materialID = h;
}

} // namespace cocos2d
