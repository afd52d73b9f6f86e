#include "renderer/CCGLProgram.h"

#include <chrono>
#include <cstring>
#include <new>

#include "base/ccMacros.h"
#include "renderer/CCCamera.h"
#include "renderer/ccGLStateCache.h"

namespace cocos2d {

const char* GLProgram::SHADER_NAME_POSITION_TEXTURE_COLOR = "ShaderPositionTextureColor";
const char* GLProgram::SHADER_NAME_POSITION_TEXTURE_COLOR_NO_MVP = "ShaderPositionTextureColor_noMVP";
const char* GLProgram::SHADER_NAME_POSITION_COLOR = "ShaderPositionColor";
const char* GLProgram::SHADER_NAME_POSITION_COLOR_NO_MVP = "ShaderPositionColor_noMVP";
const char* GLProgram::SHADER_NAME_POSITION_LENGTH_TEXTURE_COLOR = "ShaderPositionLengthTextureColor";
const char* GLProgram::SHADER_NAME_POSITION_COLOR_TEXASPOINTSIZE = "ShaderPositionColorTexAsPointsize";
const char* GLProgram::SHADER_NAME_LABEL_NORMAL = "ShaderLabelNormal";

const char* GLProgram::ATTRIBUTE_NAME_POSITION = "a_position";
const char* GLProgram::ATTRIBUTE_NAME_COLOR = "a_color";
const char* GLProgram::ATTRIBUTE_NAME_TEX_COORD = "a_texCoord";

const char* GLProgram::UNIFORM_NAME_P_MATRIX = "CC_PMatrix";
const char* GLProgram::UNIFORM_NAME_MV_MATRIX = "CC_MVMatrix";
const char* GLProgram::UNIFORM_NAME_MVP_MATRIX = "CC_MVPMatrix";
const char* GLProgram::UNIFORM_NAME_TIME = "CC_Time";
const char* GLProgram::UNIFORM_NAME_SAMPLER0 = "CC_Texture0";

namespace {

const char* const kBuiltinHeader = "#version 120\n"
                                   "uniform mat4 CC_PMatrix;\n"
                                   "uniform mat4 CC_MVMatrix;\n"
                                   "uniform mat4 CC_MVPMatrix;\n"
                                   "uniform vec4 CC_Time;\n"
                                   "uniform sampler2D CC_Texture0;\n"
                                   "uniform sampler2D CC_Texture1;\n"
                                   "uniform sampler2D CC_Texture2;\n"
                                   "uniform sampler2D CC_Texture3;\n"
                                   "#line 1\n";

const auto g_startTime = std::chrono::steady_clock::now();

bool beginsWithVersion(const std::string& source)
{
    const size_t first = source.find_first_not_of(" \t\r\n");
    return first != std::string::npos && source.compare(first, 8, "#version") == 0;
}

std::string infoLog(GLuint object, bool isProgram)
{
    GLint length = 0;
    if (isProgram) {
        glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    } else {
        glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    }
    if (length <= 1) {
        return std::string();
    }
    std::string text(static_cast<size_t>(length), '\0');
    if (isProgram) {
        glGetProgramInfoLog(object, length, nullptr, &text[0]);
    } else {
        glGetShaderInfoLog(object, length, nullptr, &text[0]);
    }
    text.resize(std::strlen(text.c_str()));
    return text;
}

GLuint compileShader(GLenum type, const std::string& source)
{
    std::string full = beginsWithVersion(source) ? source : std::string(kBuiltinHeader) + source;
    const GLchar* text = full.c_str();
    GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) {
        log("GLProgram: failed to compile the %s shader: %s", type == GL_VERTEX_SHADER ? "vertex" : "fragment",
            infoLog(shader, false).c_str());
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

} // namespace

GLProgram* GLProgram::createWithByteArrays(const char* vShaderByteArray, const char* fShaderByteArray)
{
    GLProgram* p = new (std::nothrow) GLProgram();
    if (p && p->initWithByteArrays(vShaderByteArray, fShaderByteArray)) {
        p->autorelease();
        return p;
    }
    delete p;
    return nullptr;
}

GLProgram* GLProgram::createDeferred(const std::string& vShader, const std::string& fShader)
{
    GLProgram* p = new (std::nothrow) GLProgram();
    if (!p) {
        return nullptr;
    }
    p->_vertexSource = vShader;
    p->_fragmentSource = fShader;
    p->autorelease();
    return p;
}

GLProgram::~GLProgram()
{
    GL::deleteProgramSafely(_program, _generation);
}

bool GLProgram::initWithByteArrays(const char* vShaderByteArray, const char* fShaderByteArray)
{
    if (!vShaderByteArray || !fShaderByteArray) {
        return false;
    }
    _vertexSource = vShaderByteArray;
    _fragmentSource = fShaderByteArray;
    if (!GL::isEnabled()) {
        return false;
    }
    return compileAndLink();
}

bool GLProgram::compileAndLink()
{
    GLuint vs = compileShader(GL_VERTEX_SHADER, _vertexSource);
    GLuint fs = vs ? compileShader(GL_FRAGMENT_SHADER, _fragmentSource) : 0;
    if (!vs || !fs) {
        if (vs) {
            glDeleteShader(vs);
        }
        _linkFailed = true;
        return false;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glBindAttribLocation(program, VERTEX_ATTRIB_POSITION, ATTRIBUTE_NAME_POSITION);
    glBindAttribLocation(program, VERTEX_ATTRIB_COLOR, ATTRIBUTE_NAME_COLOR);
    glBindAttribLocation(program, VERTEX_ATTRIB_TEX_COORD, ATTRIBUTE_NAME_TEX_COORD);
    glLinkProgram(program);
    glDetachShader(program, vs);
    glDetachShader(program, fs);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        log("GLProgram: failed to link: %s", infoLog(program, true).c_str());
        glDeleteProgram(program);
        _linkFailed = true;
        return false;
    }
    _program = program;
    _generation = GL::getContextGeneration();
    fetchBuiltinLocations();
    return true;
}

void GLProgram::fetchBuiltinLocations()
{
    _uniforms.clear();
    GLint count = 0;
    glGetProgramiv(_program, GL_ACTIVE_UNIFORMS, &count);
    GLint maxLength = 0;
    glGetProgramiv(_program, GL_ACTIVE_UNIFORM_MAX_LENGTH, &maxLength);
    std::string name(static_cast<size_t>(maxLength > 0 ? maxLength : 1), '\0');
    for (GLint i = 0; i < count; ++i) {
        GLint size = 0;
        GLenum type = 0;
        GLsizei length = 0;
        glGetActiveUniform(_program, static_cast<GLuint>(i), maxLength, &length, &size, &type, &name[0]);
        std::string uniformName(name.data(), static_cast<size_t>(length));
        // Arrays are reported as "name[0]".
        const size_t bracket = uniformName.find('[');
        if (bracket != std::string::npos) {
            uniformName.resize(bracket);
        }
        _uniforms.push_back({uniformName, glGetUniformLocation(_program, uniformName.c_str())});
    }
    _locPMatrix = getUniformLocation(UNIFORM_NAME_P_MATRIX);
    _locMVMatrix = getUniformLocation(UNIFORM_NAME_MV_MATRIX);
    _locMVPMatrix = getUniformLocation(UNIFORM_NAME_MVP_MATRIX);
    _locTime = getUniformLocation(UNIFORM_NAME_TIME);
    static const char* const samplers[4] = {"CC_Texture0", "CC_Texture1", "CC_Texture2", "CC_Texture3"};
    GL::useProgram(_program);
    for (int i = 0; i < 4; ++i) {
        _locSampler[i] = getUniformLocation(samplers[i]);
        if (_locSampler[i] >= 0) {
            glUniform1i(_locSampler[i], i);
        }
    }
}

bool GLProgram::ensureLinked()
{
    if (_program != 0 && _generation != GL::getContextGeneration()) {
        // Made in a context that is gone: link again in the current one.
        _program = 0;
        _linkFailed = false;
        _uniforms.clear();
    }
    if (_program != 0) {
        return true;
    }
    if (_linkFailed || _vertexSource.empty() || !GL::isEnabled()) {
        return false;
    }
    return compileAndLink();
}

void GLProgram::use()
{
    if (ensureLinked()) {
        GL::useProgram(_program);
    }
}

GLint GLProgram::getUniformLocation(const std::string& name) const
{
    for (const UniformInfo& u : _uniforms) {
        if (u.name == name) {
            return u.location;
        }
    }
    return -1;
}

GLint GLProgram::getAttribLocation(const std::string& name) const
{
    if (_program == 0 || !GL::isEnabled()) {
        return -1;
    }
    return glGetAttribLocation(_program, name.c_str());
}

void GLProgram::setUniformsForBuiltins()
{
    setUniformsForBuiltins(Mat4::IDENTITY);
}

void GLProgram::setUniformsForBuiltins(const Mat4& modelView)
{
    if (!ensureLinked() || !GL::isEnabled()) {
        return;
    }
    const Mat4& projection = Camera::getProjectionInForce();
    if (_locPMatrix >= 0) {
        glUniformMatrix4fv(_locPMatrix, 1, GL_FALSE, projection.m);
    }
    if (_locMVMatrix >= 0) {
        glUniformMatrix4fv(_locMVMatrix, 1, GL_FALSE, modelView.m);
    }
    if (_locMVPMatrix >= 0) {
        const Mat4 mvp = projection * modelView;
        glUniformMatrix4fv(_locMVPMatrix, 1, GL_FALSE, mvp.m);
    }
    if (_locTime >= 0) {
        const float t = std::chrono::duration<float>(std::chrono::steady_clock::now() - g_startTime).count();
        glUniform4f(_locTime, t / 10.0f, t, t * 2.0f, t * 4.0f);
    }
}

void GLProgram::setUniformLocationWith1i(GLint location, GLint i1)
{
    if (location >= 0 && GL::isEnabled()) {
        glUniform1i(location, i1);
    }
}

void GLProgram::setUniformLocationWith1f(GLint location, GLfloat f1)
{
    if (location >= 0 && GL::isEnabled()) {
        glUniform1f(location, f1);
    }
}

void GLProgram::setUniformLocationWith2f(GLint location, GLfloat f1, GLfloat f2)
{
    if (location >= 0 && GL::isEnabled()) {
        glUniform2f(location, f1, f2);
    }
}

void GLProgram::setUniformLocationWith3f(GLint location, GLfloat f1, GLfloat f2, GLfloat f3)
{
    if (location >= 0 && GL::isEnabled()) {
        glUniform3f(location, f1, f2, f3);
    }
}

void GLProgram::setUniformLocationWith4f(GLint location, GLfloat f1, GLfloat f2, GLfloat f3, GLfloat f4)
{
    if (location >= 0 && GL::isEnabled()) {
        glUniform4f(location, f1, f2, f3, f4);
    }
}

void GLProgram::setUniformLocationWithMatrix4fv(GLint location, const GLfloat* matrixArray,
                                                unsigned int numberOfMatrices)
{
    if (location >= 0 && GL::isEnabled()) {
        glUniformMatrix4fv(location, static_cast<GLsizei>(numberOfMatrices), GL_FALSE, matrixArray);
    }
}

} // namespace cocos2d
