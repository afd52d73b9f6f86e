// TrianglesCommand: indexed triangles of V3F_C4B_T2F vertices in model space, drawn with one
// texture, program state and blend function.
//
// At execution the renderer transforms the vertices by the command's model matrix on the CPU and
// batches consecutive commands of the same material into one draw call; the program therefore
// gets an identity model-view, and CC_PMatrix (the visiting camera's view-projection) places the
// vertices. The vertex and index arrays are the caller's and must stay valid until the pass
// ends.
#pragma once

#include <cstdint>

#include "base/ccTypes.h"
#include "renderer/CCRenderCommand.h"

namespace cocos2d {

class GLProgramState;
class Texture2D;

class TrianglesCommand : public RenderCommand {
public:
    struct Triangles {
        V3F_C4B_T2F* verts = nullptr;
        unsigned short* indices = nullptr;
        int vertCount = 0;
        int indexCount = 0;
    };

    TrianglesCommand() { _type = Type::TRIANGLES_COMMAND; }

    // texture may be null (untextured; use a position-colour program). Its content version is
    // taken now, for the renderer's still-frame check.
    void init(float globalOrder, Texture2D* texture, GLProgramState* glProgramState, BlendFunc blendType,
              const Triangles& triangles, const Mat4& mv, uint32_t flags);
    // A raw GL texture name: the renderer cannot tell whether its pixels changed, so a frame with
    // such a command (a name other than 0) always counts as changed.
    void init(float globalOrder, GLuint textureID, GLProgramState* glProgramState, BlendFunc blendType,
              const Triangles& triangles, const Mat4& mv, uint32_t flags);

    GLuint getTextureID() const { return _textureID; }
    GLProgramState* getGLProgramState() const { return _glProgramState; }
    const BlendFunc& getBlendType() const { return _blendType; }
    const Triangles& getTriangles() const { return _triangles; }
    const V3F_C4B_T2F* getVertices() const { return _triangles.verts; }
    int getVertexCount() const { return _triangles.vertCount; }
    const unsigned short* getIndices() const { return _triangles.indices; }
    int getIndexCount() const { return _triangles.indexCount; }
    const Mat4& getModelView() const { return _transform; }
    // Commands with equal material ids can share a draw call.
    uint64_t getMaterialID() const { return _materialID; }
    // The content version of the texture as given to init (0 untextured); false when only a raw
    // GL name was given.
    uint64_t getTextureVersion() const { return _textureVersion; }
    bool isTextureVersionKnown() const { return _textureVersionKnown; }

private:
    GLuint _textureID = 0;
    uint64_t _textureVersion = 0;
    bool _textureVersionKnown = true;
    GLProgramState* _glProgramState = nullptr; // not retained: the issuing node holds it
    BlendFunc _blendType = BlendFunc::DISABLE;
    Triangles _triangles;
    uint64_t _materialID = 0;
};

} // namespace cocos2d
