// Sources of the built-in programs (GLSL 1.20; the built-in uniforms are prepended by GLProgram).
//
// Colour contract: vertex colours reach the fragment stage as premultiplied RGBA, which is what
// the default blend function ALPHA_PREMULTIPLIED expects. Sprites and labels premultiply on the
// CPU; the draw-node line program premultiplies in its vertex stage.
#pragma once

#include <string>

namespace cocos2d {
namespace shaders {

// Position in model space (times CC_MVPMatrix), texture times colour.
extern const char* const positionTextureColor_vert;
extern const char* const positionTextureColor_frag;
// Position and colour only.
extern const char* const positionColor_vert;
extern const char* const positionColor_frag;
// Draw-node lines: colour premultiplied in the vertex stage; a texture coordinate of length
// above 1 is cut away (0 keeps the fragment).
extern const char* const positionLengthTextureColor_vert;
extern const char* const positionLengthTextureColor_frag;
// Point handles: gl_PointSize = a_texCoord.x.
extern const char* const positionColorTexAsPointsize_vert;
// Labels: glyph coverage from the alpha of an A8 atlas times the (premultiplied) colour.
extern const char* const label_frag;

// The same vertex stage for vertices already in world space (the renderer's batches): the
// position is taken times CC_PMatrix instead of CC_MVPMatrix.
std::string withoutModelView(const char* vertexSource);

} // namespace shaders
} // namespace cocos2d
