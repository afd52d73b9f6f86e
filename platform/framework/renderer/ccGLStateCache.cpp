#include "renderer/ccGLStateCache.h"

#include <atomic>

#include "base/CCAutoreleasePool.h"
#include "base/CCDirector.h"
#include "base/CCScheduler.h"

namespace cocos2d {
namespace GL {

namespace {

std::atomic<bool> g_contextAlive{false};
std::atomic<unsigned int> g_contextGeneration{0};

// Main-thread state; "unknown" values force the next call through.
constexpr GLuint kUnknown = ~0u;
GLuint g_program = kUnknown;
GLenum g_blendSrc = kUnknown;
GLenum g_blendDst = kUnknown;
bool g_blendKnown = false;
GLuint g_boundTextures[MAX_CACHED_TEXTURE_UNITS] = {kUnknown, kUnknown, kUnknown, kUnknown};
GLenum g_activeTexture = kUnknown;
uint32_t g_attribFlags = 0;
bool g_attribsKnown = false;
GLuint g_vao = kUnknown;

} // namespace

bool isContextAlive()
{
    return g_contextAlive.load(std::memory_order_acquire);
}

void setContextAlive(bool alive)
{
    if (alive) {
        g_contextGeneration.fetch_add(1, std::memory_order_acq_rel);
    }
    g_contextAlive.store(alive, std::memory_order_release);
    invalidateStateCache();
}

unsigned int getContextGeneration()
{
    return g_contextGeneration.load(std::memory_order_acquire);
}

bool isEnabled()
{
    return isContextAlive() && !Director::getInstance()->isHeadless();
}

void invalidateStateCache()
{
    g_program = kUnknown;
    g_blendSrc = g_blendDst = kUnknown;
    g_blendKnown = false;
    for (GLuint& t : g_boundTextures) {
        t = kUnknown;
    }
    g_activeTexture = kUnknown;
    g_attribFlags = 0;
    g_attribsKnown = false;
    g_vao = kUnknown;
}

void useProgram(GLuint program)
{
    if (program != g_program) {
        g_program = program;
        if (isEnabled()) {
            glUseProgram(program);
        }
    }
}

void deleteProgram(GLuint program)
{
    if (program == g_program) {
        g_program = kUnknown;
    }
    if (isContextAlive() && program != 0) {
        glDeleteProgram(program);
    }
}

void blendFunc(GLenum sfactor, GLenum dfactor)
{
    if (g_blendKnown && sfactor == g_blendSrc && dfactor == g_blendDst) {
        return;
    }
    g_blendKnown = true;
    g_blendSrc = sfactor;
    g_blendDst = dfactor;
    if (!isEnabled()) {
        return;
    }
    if (sfactor == GL_ONE && dfactor == GL_ZERO) {
        glDisable(GL_BLEND);
    } else {
        glEnable(GL_BLEND);
        glBlendFunc(sfactor, dfactor);
    }
}

void blendResetToCache()
{
    if (!g_blendKnown || !isEnabled()) {
        return;
    }
    glBlendEquation(GL_FUNC_ADD);
    if (g_blendSrc == GL_ONE && g_blendDst == GL_ZERO) {
        glDisable(GL_BLEND);
    } else {
        glEnable(GL_BLEND);
        glBlendFunc(g_blendSrc, g_blendDst);
    }
}

void activeTexture(GLenum texture)
{
    if (texture != g_activeTexture) {
        g_activeTexture = texture;
        if (isEnabled()) {
            glActiveTexture(texture);
        }
    }
}

void bindTexture2D(GLuint textureId)
{
    bindTexture2DN(0, textureId);
}

void bindTexture2DN(GLuint textureUnit, GLuint textureId)
{
    if (textureUnit < MAX_CACHED_TEXTURE_UNITS) {
        if (g_boundTextures[textureUnit] == textureId) {
            return;
        }
        g_boundTextures[textureUnit] = textureId;
    }
    activeTexture(GL_TEXTURE0 + textureUnit);
    if (isEnabled()) {
        glBindTexture(GL_TEXTURE_2D, textureId);
    }
}

void deleteTexture(GLuint textureId)
{
    for (GLuint& t : g_boundTextures) {
        if (t == textureId) {
            t = kUnknown;
        }
    }
    if (isContextAlive() && textureId != 0) {
        glDeleteTextures(1, &textureId);
    }
}

void enableVertexAttribs(uint32_t flags)
{
    if (g_attribsKnown && flags == g_attribFlags) {
        return;
    }
    const bool gl = isEnabled();
    for (GLuint i = 0; i < 3; ++i) {
        const uint32_t bit = 1u << i;
        const bool want = (flags & bit) != 0;
        const bool have = (g_attribFlags & bit) != 0;
        if (gl && (!g_attribsKnown || want != have)) {
            if (want) {
                glEnableVertexAttribArray(i);
            } else {
                glDisableVertexAttribArray(i);
            }
        }
    }
    g_attribFlags = flags;
    g_attribsKnown = true;
}

void bindVAO(GLuint vaoId)
{
    if (vaoId != g_vao) {
        g_vao = vaoId;
        // Which attribute arrays are enabled is state of the bound vertex array: what the cache
        // knew belongs to the one bound before (a new array starts with none enabled).
        g_attribsKnown = false;
        if (isEnabled() && glBindVertexArray) {
            glBindVertexArray(vaoId);
        }
    }
}

namespace {
template <class F>
void onMainThread(F&& f)
{
    if (PoolManager::isMainThread()) {
        f();
    } else {
        Director::getInstance()->getScheduler()->performFunctionInCocosThread(std::forward<F>(f));
    }
}
} // namespace

void deleteTextureSafely(GLuint textureId, unsigned int generation)
{
    if (textureId != 0 && isContextAlive() && generation == getContextGeneration()) {
        onMainThread([textureId, generation] {
            if (generation == getContextGeneration()) {
                deleteTexture(textureId);
            }
        });
    }
}

void deleteProgramSafely(GLuint program, unsigned int generation)
{
    if (program != 0 && isContextAlive() && generation == getContextGeneration()) {
        onMainThread([program, generation] {
            if (generation == getContextGeneration()) {
                deleteProgram(program);
            }
        });
    }
}

} // namespace GL
} // namespace cocos2d
