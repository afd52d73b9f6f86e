// GL: a small cache of the GL state that the renderer changes on every draw, so that repeated
// settings cost nothing.
//
// Covered: the current program, the blend function (and whether blending is on), the texture
// bound on each of the first units and the active unit, the enabled vertex attributes 0..2 and
// the bound vertex-array object. Raw GL calls that change any of these must go through these
// helpers or call invalidateStateCache() afterwards.
//
// Every helper is main-thread-only and makes no GL call unless a GL context is in use
// (isEnabled()); headless they only update the cache.
#pragma once

#include <cstdint>

#include "platform/CCGL.h"

namespace cocos2d {
namespace GL {

// Bits of enableVertexAttribs: attribute slots 0 (position), 1 (colour), 2 (texture coordinate).
enum : uint32_t {
    VERTEX_ATTRIB_FLAG_NONE = 0,
    VERTEX_ATTRIB_FLAG_POSITION = 1 << 0,
    VERTEX_ATTRIB_FLAG_COLOR = 1 << 1,
    VERTEX_ATTRIB_FLAG_TEX_COORD = 1 << 2,
    VERTEX_ATTRIB_FLAG_POS_COLOR_TEX = VERTEX_ATTRIB_FLAG_POSITION | VERTEX_ATTRIB_FLAG_COLOR | VERTEX_ATTRIB_FLAG_TEX_COORD,
};

// Texture units whose bindings are cached.
constexpr int MAX_CACHED_TEXTURE_UNITS = 4;

// True while a GL context made by the window back-end is current and the director does not run
// headless: GL calls may be made.
bool isEnabled();
// True while the window back-end's GL context exists (set by the back-end). GL objects are
// deleted only while it is alive.
bool isContextAlive();
void setContextAlive(bool alive);
// Raised each time a context becomes alive. GL names made in an earlier context are stale: their
// owners neither use nor delete them.
unsigned int getContextGeneration();

void invalidateStateCache();

void useProgram(GLuint program);
void deleteProgram(GLuint program);
// GL_ONE/GL_ZERO switches blending off.
void blendFunc(GLenum sfactor, GLenum dfactor);
void blendResetToCache();
void bindTexture2D(GLuint textureId);
void bindTexture2DN(GLuint textureUnit, GLuint textureId);
void deleteTexture(GLuint textureId);
void activeTexture(GLenum texture);
void enableVertexAttribs(uint32_t flags);
void bindVAO(GLuint vaoId);

// Deletes a texture or program name made in context generation `generation`, on the main
// thread while that context lives; from another thread the deletion is queued for the main
// thread. Stale names are dropped.
void deleteTextureSafely(GLuint textureId, unsigned int generation);
void deleteProgramSafely(GLuint program, unsigned int generation);

} // namespace GL
} // namespace cocos2d
