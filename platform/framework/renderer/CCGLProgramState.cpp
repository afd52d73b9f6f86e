#include "renderer/CCGLProgramState.h"

#include <cstring>
#include <new>
#include <unordered_map>

#include "base/ccMacros.h"
#include "renderer/CCGLProgram.h"
#include "renderer/CCGLProgramCache.h"
#include "renderer/CCTexture2D.h"
#include "renderer/ccGLStateCache.h"

namespace cocos2d {

namespace {
// Shared states of the built-in programs, by program.
// Never destroyed (see GLProgramCache): the states are process-wide like their programs.
std::unordered_map<GLProgram*, GLProgramState*>& sharedStates()
{
    static auto* states = new std::unordered_map<GLProgram*, GLProgramState*>();
    return *states;
}

bool isBuiltin(GLProgram* program)
{
    static const char* const names[] = {
        GLProgram::SHADER_NAME_POSITION_TEXTURE_COLOR,       GLProgram::SHADER_NAME_POSITION_TEXTURE_COLOR_NO_MVP,
        GLProgram::SHADER_NAME_POSITION_COLOR,               GLProgram::SHADER_NAME_POSITION_COLOR_NO_MVP,
        GLProgram::SHADER_NAME_POSITION_LENGTH_TEXTURE_COLOR, GLProgram::SHADER_NAME_POSITION_COLOR_TEXASPOINTSIZE,
        GLProgram::SHADER_NAME_LABEL_NORMAL,
    };
    GLProgramCache* cache = GLProgramCache::getInstance();
    for (const char* name : names) {
        if (cache->getGLProgram(name) == program) {
            return true;
        }
    }
    return false;
}
} // namespace

GLProgramState::GLProgramState(GLProgram* program) : _program(program)
{
    _program->retain();
}

GLProgramState::~GLProgramState()
{
    for (Uniform& u : _uniforms) {
        CC_SAFE_RELEASE(u.texture);
    }
    _program->release();
}

GLProgramState* GLProgramState::create(GLProgram* program)
{
    if (!program) {
        return nullptr;
    }
    GLProgramState* state = new (std::nothrow) GLProgramState(program);
    if (state) {
        state->autorelease();
    }
    return state;
}

GLProgramState* GLProgramState::getOrCreateWithGLProgramName(const std::string& programName)
{
    GLProgram* program = GLProgramCache::getInstance()->getGLProgram(programName);
    if (!program) {
        log("GLProgramState: no program named %s", programName.c_str());
        return nullptr;
    }
    return getOrCreateWithGLProgram(program);
}

GLProgramState* GLProgramState::getOrCreateWithGLProgram(GLProgram* program)
{
    if (!program) {
        return nullptr;
    }
    if (!isBuiltin(program)) {
        return create(program);
    }
    auto& states = sharedStates();
    auto it = states.find(program);
    if (it != states.end()) {
        return it->second;
    }
    GLProgramState* state = new (std::nothrow) GLProgramState(program);
    if (state) {
        states.emplace(program, state); // the map holds the creation reference
    }
    return state;
}

void GLProgramState::purgeSharedStates()
{
    auto& states = sharedStates();
    for (auto& entry : states) {
        entry.second->release();
    }
    states.clear();
}

GLProgramState::Uniform& GLProgramState::uniformFor(const std::string& name, Kind kind)
{
    for (Uniform& u : _uniforms) {
        if (u.name == name) {
            u.kind = kind;
            return u;
        }
    }
    _uniforms.emplace_back();
    _uniforms.back().name = name;
    _uniforms.back().kind = kind;
    return _uniforms.back();
}

void GLProgramState::setUniformInt(const std::string& name, int value)
{
    uniformFor(name, Kind::INT).intValue = value;
}

void GLProgramState::setUniformFloat(const std::string& name, float value)
{
    uniformFor(name, Kind::FLOAT).floats[0] = value;
}

void GLProgramState::setUniformVec2(const std::string& name, const Vec2& value)
{
    Uniform& u = uniformFor(name, Kind::VEC2);
    u.floats[0] = value.x;
    u.floats[1] = value.y;
}

void GLProgramState::setUniformVec3(const std::string& name, const Vec3& value)
{
    Uniform& u = uniformFor(name, Kind::VEC3);
    u.floats[0] = value.x;
    u.floats[1] = value.y;
    u.floats[2] = value.z;
}

void GLProgramState::setUniformVec4(const std::string& name, const Vec4& value)
{
    Uniform& u = uniformFor(name, Kind::VEC4);
    u.floats[0] = value.x;
    u.floats[1] = value.y;
    u.floats[2] = value.z;
    u.floats[3] = value.w;
}

void GLProgramState::setUniformMat4(const std::string& name, const Mat4& value)
{
    std::memcpy(uniformFor(name, Kind::MAT4).floats, value.m, sizeof(value.m));
}

void GLProgramState::setUniformTexture(const std::string& name, GLuint textureUnit, Texture2D* texture)
{
    Uniform& u = uniformFor(name, Kind::TEXTURE);
    CC_SAFE_RETAIN(texture);
    CC_SAFE_RELEASE(u.texture);
    u.texture = texture;
    u.rawTexture = 0;
    u.unit = textureUnit;
}

void GLProgramState::setUniformTexture(const std::string& name, GLuint textureUnit, GLuint textureName)
{
    Uniform& u = uniformFor(name, Kind::TEXTURE);
    CC_SAFE_RELEASE_NULL(u.texture);
    u.rawTexture = textureName;
    u.unit = textureUnit;
}

const float* GLProgramState::getUniformFloatsForTest(const std::string& name) const
{
    for (const Uniform& u : _uniforms) {
        if (u.name == name) {
            return u.floats;
        }
    }
    return nullptr;
}

int GLProgramState::getUniformIntForTest(const std::string& name, int fallback) const
{
    for (const Uniform& u : _uniforms) {
        if (u.name == name) {
            return u.intValue;
        }
    }
    return fallback;
}

bool GLProgramState::appendFrameKey(std::vector<unsigned char>& key) const
{
    if (_program->readsTime()) {
        return false;
    }
    auto put = [&key](const void* data, size_t bytes) {
        const auto* b = static_cast<const unsigned char*>(data);
        key.insert(key.end(), b, b + bytes);
    };
    const uint64_t identity = _program->getIdentity();
    const GLuint name = _program->getProgram();
    const uint64_t count = _uniforms.size();
    put(&identity, sizeof identity);
    put(&name, sizeof name);
    put(&count, sizeof count);
    for (const Uniform& u : _uniforms) {
        const uint64_t nameLength = u.name.size();
        put(&nameLength, sizeof nameLength);
        put(u.name.data(), u.name.size());
        put(&u.kind, sizeof u.kind);
        switch (u.kind) {
        case Kind::INT: put(&u.intValue, sizeof u.intValue); break;
        case Kind::FLOAT: put(u.floats, sizeof(float)); break;
        case Kind::VEC2: put(u.floats, 2 * sizeof(float)); break;
        case Kind::VEC3: put(u.floats, 3 * sizeof(float)); break;
        case Kind::VEC4: put(u.floats, 4 * sizeof(float)); break;
        case Kind::MAT4: put(u.floats, 16 * sizeof(float)); break;
        case Kind::TEXTURE: {
            if (!u.texture && u.rawTexture != 0) {
                return false;
            }
            const uint64_t version = u.texture ? u.texture->getContentVersion() : 0;
            put(&u.unit, sizeof u.unit);
            put(&version, sizeof version);
            break;
        }
        }
    }
    return true;
}

void GLProgramState::apply(const Mat4& modelView)
{
    applyGLProgram(modelView);
    applyUniforms();
}

void GLProgramState::applyGLProgram(const Mat4& modelView)
{
    _program->use();
    _program->setUniformsForBuiltins(modelView);
}

void GLProgramState::applyUniforms()
{
    const GLuint programName = _program->getProgram();
    if (programName == 0 || !GL::isEnabled()) {
        return;
    }
    for (Uniform& u : _uniforms) {
        if (u.locationProgram != programName) {
            u.location = _program->getUniformLocation(u.name);
            u.locationProgram = programName;
        }
        if (u.location < 0) {
            if (!u.reportedMissing) {
                u.reportedMissing = true;
                CCLOG("GLProgramState: the program has no uniform %s", u.name.c_str());
            }
            continue;
        }
        switch (u.kind) {
        case Kind::INT: glUniform1i(u.location, u.intValue); break;
        case Kind::FLOAT: glUniform1f(u.location, u.floats[0]); break;
        case Kind::VEC2: glUniform2fv(u.location, 1, u.floats); break;
        case Kind::VEC3: glUniform3fv(u.location, 1, u.floats); break;
        case Kind::VEC4: glUniform4fv(u.location, 1, u.floats); break;
        case Kind::MAT4: glUniformMatrix4fv(u.location, 1, GL_FALSE, u.floats); break;
        case Kind::TEXTURE:
            GL::bindTexture2DN(u.unit, u.texture ? u.texture->getName() : u.rawTexture);
            glUniform1i(u.location, static_cast<GLint>(u.unit));
            break;
        }
    }
    // Later draws expect unit 0 to be the active one.
    GL::activeTexture(GL_TEXTURE0);
}

} // namespace cocos2d
