#include "renderer/CCGLProgramCache.h"

#include "base/ccMacros.h"
#include "renderer/CCGLProgram.h"
#include "renderer/ccShaders.h"

namespace cocos2d {

namespace {
GLProgramCache* g_programCache = nullptr;
}

GLProgramCache* GLProgramCache::getInstance()
{
    if (!g_programCache) {
        g_programCache = new GLProgramCache();
    }
    return g_programCache;
}

void GLProgramCache::destroyInstance()
{
    delete g_programCache;
    g_programCache = nullptr;
}

GLProgramCache::GLProgramCache()
{
    loadDefaultGLPrograms();
}

GLProgramCache::~GLProgramCache()
{
    for (auto& entry : _programs) {
        entry.second->release();
    }
}

void GLProgramCache::loadDefaultGLPrograms()
{
    using namespace shaders;
    const std::string positionTextureColorNoMVP = withoutModelView(positionTextureColor_vert);
    const struct {
        const char* name;
        std::string vert;
        const char* frag;
    } builtins[] = {
        {GLProgram::SHADER_NAME_POSITION_TEXTURE_COLOR, positionTextureColor_vert, positionTextureColor_frag},
        {GLProgram::SHADER_NAME_POSITION_TEXTURE_COLOR_NO_MVP, positionTextureColorNoMVP, positionTextureColor_frag},
        {GLProgram::SHADER_NAME_POSITION_COLOR, positionColor_vert, positionColor_frag},
        {GLProgram::SHADER_NAME_POSITION_COLOR_NO_MVP, withoutModelView(positionColor_vert), positionColor_frag},
        {GLProgram::SHADER_NAME_POSITION_LENGTH_TEXTURE_COLOR, positionLengthTextureColor_vert,
         positionLengthTextureColor_frag},
        {GLProgram::SHADER_NAME_POSITION_COLOR_TEXASPOINTSIZE, positionColorTexAsPointsize_vert,
         positionColor_frag},
        {GLProgram::SHADER_NAME_LABEL_NORMAL, positionTextureColorNoMVP, label_frag},
    };
    for (const auto& b : builtins) {
        addGLProgram(GLProgram::createDeferred(b.vert, b.frag), b.name);
    }
}

GLProgram* GLProgramCache::getGLProgram(const std::string& key) const
{
    auto it = _programs.find(key);
    return it == _programs.end() ? nullptr : it->second;
}

void GLProgramCache::addGLProgram(GLProgram* program, const std::string& key)
{
    if (!program) {
        return;
    }
    program->retain();
    auto it = _programs.find(key);
    if (it != _programs.end()) {
        it->second->release();
        it->second = program;
    } else {
        _programs.emplace(key, program);
    }
}

} // namespace cocos2d
