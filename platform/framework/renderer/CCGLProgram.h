// GLProgram: a linked GLSL 1.20 vertex + fragment program.
//
// Sources that do not begin with "#version" get "#version 120" and the built-in uniform
// declarations (CC_PMatrix, CC_MVMatrix, CC_MVPMatrix, CC_Texture0..3, CC_Time) prepended, so
// shaders must not declare those themselves. The attributes a_position, a_color and a_texCoord
// are bound to slots 0, 1 and 2 before linking.
//
// Headless (no GL context in use) createWithByteArrays returns null, so callers take their CPU
// path. The built-in programs of GLProgramCache exist headless as inert objects that keep their
// sources; they are compiled the first time they are used with a context.
//
// Main thread only. A program whose last release happens on a worker deletes its GL name on the
// main thread.
#pragma once

#include <string>
#include <vector>

#include "base/CCRef.h"
#include "math/CCMath.h"
#include "platform/CCGL.h"
#include "renderer/CCRenderCommand.h"

namespace cocos2d {

class GLProgram : public Ref {
public:
    enum {
        VERTEX_ATTRIB_POSITION = 0,
        VERTEX_ATTRIB_COLOR = 1,
        VERTEX_ATTRIB_TEX_COORD = 2,
        VERTEX_ATTRIB_MAX
    };

    // Names of the built-in programs (GLProgramCache).
    static const char* SHADER_NAME_POSITION_TEXTURE_COLOR;
    static const char* SHADER_NAME_POSITION_TEXTURE_COLOR_NO_MVP;
    static const char* SHADER_NAME_POSITION_COLOR;
    static const char* SHADER_NAME_POSITION_COLOR_NO_MVP;
    static const char* SHADER_NAME_POSITION_LENGTH_TEXTURE_COLOR;
    static const char* SHADER_NAME_POSITION_COLOR_TEXASPOINTSIZE;
    static const char* SHADER_NAME_LABEL_NORMAL;

    static const char* ATTRIBUTE_NAME_POSITION;
    static const char* ATTRIBUTE_NAME_COLOR;
    static const char* ATTRIBUTE_NAME_TEX_COORD;

    static const char* UNIFORM_NAME_P_MATRIX;
    static const char* UNIFORM_NAME_MV_MATRIX;
    static const char* UNIFORM_NAME_MVP_MATRIX;
    static const char* UNIFORM_NAME_TIME;
    static const char* UNIFORM_NAME_SAMPLER0;

    // Compiles and links; null (and the info log in the log) on failure, and always headless.
    static GLProgram* createWithByteArrays(const char* vShaderByteArray, const char* fShaderByteArray);
    bool initWithByteArrays(const char* vShaderByteArray, const char* fShaderByteArray);

    // Makes the program current (compiling a built-in program first when needed).
    void use();
    // CC_PMatrix = the visiting camera's view-projection (additional projection included),
    // CC_MVMatrix = modelView, CC_MVPMatrix = their product, CC_Time = seconds since start.
    void setUniformsForBuiltins();
    void setUniformsForBuiltins(const Mat4& modelView);

    // -1 when the program has no such active uniform (or has no GL program).
    GLint getUniformLocation(const std::string& name) const;
    GLint getUniformLocationForName(const char* name) const { return getUniformLocation(name); }
    GLint getAttribLocation(const std::string& name) const;

    // The uniform setters skip the GL call when the location is -1 or no context is in use.
    void setUniformLocationWith1i(GLint location, GLint i1);
    void setUniformLocationWith1f(GLint location, GLfloat f1);
    void setUniformLocationWith2f(GLint location, GLfloat f1, GLfloat f2);
    void setUniformLocationWith3f(GLint location, GLfloat f1, GLfloat f2, GLfloat f3);
    void setUniformLocationWith4f(GLint location, GLfloat f1, GLfloat f2, GLfloat f3, GLfloat f4);
    void setUniformLocationWithMatrix4fv(GLint location, const GLfloat* matrixArray, unsigned int numberOfMatrices);

    // The GL program name; 0 headless or before a built-in program's first use.
    GLuint getProgram() const { return _program; }
    bool isLinked() const { return _program != 0; }
    // For the renderer's still-frame check: a number no other program has, and whether what the
    // program draws depends on the time (it reads CC_Time), so that no two frames are alike.
    uint64_t getIdentity() const { return _identity; }
    bool readsTime() const { return _locTime >= 0; }

    // [hook] The sources the program was made from (built-in uniforms not included).
    const std::string& getVertexSource() const { return _vertexSource; }
    const std::string& getFragmentSource() const { return _fragmentSource; }

    // [hook] Used by GLProgramCache: a program that keeps its sources and links on first use.
    static GLProgram* createDeferred(const std::string& vShader, const std::string& fShader);

protected:
    GLProgram() = default;
    ~GLProgram() override;

    bool compileAndLink();
    bool ensureLinked();
    void fetchBuiltinLocations();

    GLuint _program = 0;
    unsigned int _generation = 0; // context generation of _program
    uint64_t _identity = nextContentVersion();
    std::string _vertexSource;
    std::string _fragmentSource;
    bool _linkFailed = false;

    struct UniformInfo {
        std::string name;
        GLint location;
    };
    std::vector<UniformInfo> _uniforms; // active uniforms after linking

    GLint _locPMatrix = -1;
    GLint _locMVMatrix = -1;
    GLint _locMVPMatrix = -1;
    GLint _locTime = -1;
    GLint _locSampler[4] = {-1, -1, -1, -1};
};

} // namespace cocos2d
