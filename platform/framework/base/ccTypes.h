// Colours, vertex layouts and small GL-facing value types.
#pragma once

#include <cstddef>
#include <cstdint>

#include "math/CCMath.h"
#include "platform/CCGL.h"

namespace cocos2d {

struct Color4B;
struct Color4F;

// An RGB colour with 8-bit channels.
struct Color3B {
    GLubyte r = 0;
    GLubyte g = 0;
    GLubyte b = 0;

    Color3B() = default;
    Color3B(GLubyte rr, GLubyte gg, GLubyte bb) : r(rr), g(gg), b(bb) {}
    explicit Color3B(const Color4B& color);
    explicit Color3B(const Color4F& color);

    bool operator==(const Color3B& o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Color3B& o) const { return !(*this == o); }
    bool equals(const Color3B& o) const { return *this == o; }

    static const Color3B WHITE;
    static const Color3B YELLOW;
    static const Color3B BLUE;
    static const Color3B GREEN;
    static const Color3B RED;
    static const Color3B MAGENTA;
    static const Color3B BLACK;
    static const Color3B ORANGE;
    static const Color3B GRAY;
};

// An RGBA colour with 8-bit channels.
struct Color4B {
    GLubyte r = 0;
    GLubyte g = 0;
    GLubyte b = 0;
    GLubyte a = 0;

    Color4B() = default;
    Color4B(GLubyte rr, GLubyte gg, GLubyte bb, GLubyte aa) : r(rr), g(gg), b(bb), a(aa) {}
    Color4B(const Color3B& color, GLubyte alpha) : r(color.r), g(color.g), b(color.b), a(alpha) {}
    explicit Color4B(const Color3B& color) : Color4B(color, 255) {}
    // Channels scaled by 255 and truncated.
    explicit Color4B(const Color4F& color);

    void set(GLubyte rr, GLubyte gg, GLubyte bb, GLubyte aa) { r = rr; g = gg; b = bb; a = aa; }
    bool operator==(const Color4B& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
    bool operator!=(const Color4B& o) const { return !(*this == o); }

    static const Color4B WHITE;
    static const Color4B YELLOW;
    static const Color4B BLUE;
    static const Color4B GREEN;
    static const Color4B RED;
    static const Color4B MAGENTA;
    static const Color4B BLACK;
    static const Color4B ORANGE;
    static const Color4B GRAY;
};

// An RGBA colour with float channels in 0..1.
struct Color4F {
    GLfloat r = 0.0f;
    GLfloat g = 0.0f;
    GLfloat b = 0.0f;
    GLfloat a = 0.0f;

    Color4F() = default;
    Color4F(float rr, float gg, float bb, float aa) : r(rr), g(gg), b(bb), a(aa) {}
    explicit Color4F(const Color3B& color, float alpha = 1.0f)
        : r(color.r / 255.0f), g(color.g / 255.0f), b(color.b / 255.0f), a(alpha) {}
    explicit Color4F(const Color4B& color)
        : r(color.r / 255.0f), g(color.g / 255.0f), b(color.b / 255.0f), a(color.a / 255.0f) {}

    bool operator==(const Color4F& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
    bool operator!=(const Color4F& o) const { return !(*this == o); }
    bool equals(const Color4F& o) const { return *this == o; }

    static const Color4F WHITE;
    static const Color4F YELLOW;
    static const Color4F BLUE;
    static const Color4F GREEN;
    static const Color4F RED;
    static const Color4F MAGENTA;
    static const Color4F BLACK;
    static const Color4F ORANGE;
    static const Color4F GRAY;
};

struct Vertex2F {
    GLfloat x = 0.0f;
    GLfloat y = 0.0f;
};

struct Tex2F {
    GLfloat u = 0.0f;
    GLfloat v = 0.0f;
    Tex2F() = default;
    Tex2F(float uu, float vv) : u(uu), v(vv) {}
};

// A 2D vertex with colour and texture coordinates (20 bytes).
struct V2F_C4B_T2F {
    Vec2 vertices;
    Color4B colors;
    Tex2F texCoords;
};

// A 3D vertex with colour and texture coordinates: vertices at 0-11, colours at 12-15,
// texture coordinates at 16-23. Shaders and raw GL attribute pointers depend on this layout.
struct V3F_C4B_T2F {
    Vec3 vertices;
    Color4B colors;
    Tex2F texCoords;
};
static_assert(sizeof(V3F_C4B_T2F) == 24, "V3F_C4B_T2F must be 24 bytes");
static_assert(offsetof(V3F_C4B_T2F, colors) == 12, "colours at byte 12");
static_assert(offsetof(V3F_C4B_T2F, texCoords) == 16, "texture coordinates at byte 16");
static_assert(sizeof(V2F_C4B_T2F) == 20, "V2F_C4B_T2F must be 20 bytes");

// The four corners of a textured quad.
struct V3F_C4B_T2F_Quad {
    V3F_C4B_T2F tl;
    V3F_C4B_T2F bl;
    V3F_C4B_T2F tr;
    V3F_C4B_T2F br;
};

struct V2F_C4B_T2F_Triangle {
    V2F_C4B_T2F a;
    V2F_C4B_T2F b;
    V2F_C4B_T2F c;
};

struct BlendFunc {
    GLenum src;
    GLenum dst;

    static const BlendFunc DISABLE;                 // {GL_ONE, GL_ZERO}
    static const BlendFunc ALPHA_PREMULTIPLIED;     // {GL_ONE, GL_ONE_MINUS_SRC_ALPHA}
    static const BlendFunc ALPHA_NON_PREMULTIPLIED; // {GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA}
    static const BlendFunc ADDITIVE;                // {GL_SRC_ALPHA, GL_ONE}

    bool operator==(const BlendFunc& a) const { return src == a.src && dst == a.dst; }
    bool operator!=(const BlendFunc& a) const { return !(*this == a); }
};

// Texture sampling parameters: min filter, mag filter, wrap s, wrap t.
struct TexParams {
    GLuint minFilter;
    GLuint magFilter;
    GLuint wrapS;
    GLuint wrapT;
};

enum class TextVAlignment { TOP, CENTER, BOTTOM };
enum class TextHAlignment { LEFT, CENTER, RIGHT };

} // namespace cocos2d
