// GLProgramState: a program plus the values of its own uniforms, applied together at draw time.
//
// Values are kept by uniform name and bound to locations when applied, so a state can be filled
// headless and before its program has linked. A name the linked program does not have is
// ignored (logged once per state and name).
//
// getOrCreateWithGLProgramName / getOrCreateWithGLProgram return the one shared state of a
// built-in program; for any other program getOrCreateWithGLProgram makes a new state, so that
// per-node programs do not accumulate in a cache.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/CCRef.h"
#include "math/CCMath.h"
#include "platform/CCGL.h"

namespace cocos2d {

class GLProgram;
class Texture2D;

class GLProgramState : public Ref {
public:
    static GLProgramState* create(GLProgram* program);
    static GLProgramState* getOrCreateWithGLProgramName(const std::string& programName);
    static GLProgramState* getOrCreateWithGLProgram(GLProgram* program);
    // [hook] Drops the shared states of the built-in programs (between tests).
    static void purgeSharedStates();

    GLProgram* getGLProgram() const { return _program; }

    // use() + setUniformsForBuiltins(modelView) + the stored uniforms.
    void apply(const Mat4& modelView);
    void applyGLProgram(const Mat4& modelView);
    void applyUniforms();

    void setUniformInt(const std::string& name, int value);
    void setUniformFloat(const std::string& name, float value);
    void setUniformVec2(const std::string& name, const Vec2& value);
    void setUniformVec3(const std::string& name, const Vec3& value);
    void setUniformVec4(const std::string& name, const Vec4& value);
    void setUniformMat4(const std::string& name, const Mat4& value);
    // Binds the texture on the unit at apply time and sets the sampler to the unit. Retains it.
    void setUniformTexture(const std::string& name, GLuint textureUnit, Texture2D* texture);
    // Binds a raw GL texture name (not retained).
    void setUniformTexture(const std::string& name, GLuint textureUnit, GLuint textureName);

    // For the renderer's still-frame check: appends to `key` what apply() would set (the program
    // and every stored value, textures by their content version). False when that cannot be
    // told: a raw GL texture name, whose pixels may have changed, or a program that reads the time.
    bool appendFrameKey(std::vector<unsigned char>& key) const;

    // [hook] Number of stored uniform values, and one by name (nullptr when not stored).
    size_t getUniformCount() const { return _uniforms.size(); }
    const float* getUniformFloatsForTest(const std::string& name) const;
    int getUniformIntForTest(const std::string& name, int fallback) const;

protected:
    explicit GLProgramState(GLProgram* program);
    ~GLProgramState() override;

    enum class Kind { INT, FLOAT, VEC2, VEC3, VEC4, MAT4, TEXTURE };
    struct Uniform {
        std::string name;
        Kind kind = Kind::INT;
        int intValue = 0;
        float floats[16] = {};
        GLuint unit = 0;
        GLuint rawTexture = 0;
        Texture2D* texture = nullptr; // retained
        GLint location = -1;
        GLuint locationProgram = 0;   // the program name the location belongs to
        bool reportedMissing = false;
    };
    Uniform& uniformFor(const std::string& name, Kind kind);

    GLProgram* _program; // retained
    std::vector<Uniform> _uniforms;
};

} // namespace cocos2d
