// Programs under a real GL context: sources kept as Base64 text (as the image node's shader
// files are), the built-in declarations prepended, uniform values and a second texture unit set
// through a program state, and failures that return null.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GLTestSupport.h"
#include "support/HeadlessDirector.h"

USING_NS_CC;
using qvgl::pixelAt;

namespace {

// Sprite vertices already in world space, as the renderer hands them over; the built-in
// uniforms (CC_PMatrix, CC_Texture0) are not declared here.
const char* const kVertex = R"(
attribute vec4 a_position;
attribute vec2 a_texCoord;
attribute vec4 a_color;
varying vec2 v_texCoord;
void main()
{
    gl_Position = CC_PMatrix * a_position;
    v_texCoord = a_texCoord;
}
)";

// Red from a float uniform, green from an int, blue from a lookup texture on unit 1 indexed by
// the frame texture's luminance.
const char* const kFragment = R"(
uniform float u_red;
uniform int u_greenOn;
uniform sampler2D u_lut;
varying vec2 v_texCoord;
void main()
{
    float index = texture2D(CC_Texture0, v_texCoord).r;
    float blue = texture2D(u_lut, vec2((index * 255.0 + 0.5) / 256.0, 0.5)).b;
    gl_FragColor = vec4(u_red, u_greenOn == 1 ? 1.0 : 0.0, blue, 1.0);
}
)";

std::string decoded(const std::string& base64Text)
{
    unsigned char* out = nullptr;
    const int n = safeBase64Decode(reinterpret_cast<const unsigned char*>(base64Text.data()),
                                   static_cast<unsigned int>(base64Text.size()), &out);
    std::string text(reinterpret_cast<const char*>(out), n > 0 ? size_t(n) : 0);
    safeBase64Free(out);
    return text;
}

class GLProgramTest : public qvgl::GLTest {};

TEST_F(GLProgramTest, Base64SourcesLinkAndTheirUniformsAndSecondUnitApply)
{
    // Stored as the resource files are: Base64 text of the GLSL source.
    const std::string vsh = decoded(safeBase64EncodeString(kVertex));
    const std::string fsh = decoded(safeBase64EncodeString(kFragment));
    GLProgram* program = GLProgram::createWithByteArrays(vsh.c_str(), fsh.c_str());
    ASSERT_NE(program, nullptr);
    EXPECT_GE(program->getUniformLocation("u_red"), 0);
    EXPECT_EQ(program->getUniformLocation("u_missing"), -1);

    // Frame: 2 x 1 luminance 10 and 200. Lookup: 256 x 1 RGB with blue = 255 - index.
    const std::vector<unsigned char> pixelsOfFrame = {10, 200};
    auto* frameTexture = new Texture2D();
    frameTexture->autorelease();
    ASSERT_TRUE(frameTexture->initWithData(pixelsOfFrame.data(), 2, Texture2D::PixelFormat::I8, 2, 1, Size(2, 1)));
    frameTexture->setAliasTexParameters();
    std::vector<unsigned char> lut(256 * 3);
    for (int i = 0; i < 256; ++i) {
        lut[size_t(i) * 3 + 2] = static_cast<unsigned char>(255 - i);
    }
    auto* lutTexture = new Texture2D();
    lutTexture->autorelease();
    ASSERT_TRUE(lutTexture->initWithData(lut.data(), ssize_t(lut.size()), Texture2D::PixelFormat::RGB888, 256, 1,
                                         Size(256, 1)));
    lutTexture->setAliasTexParameters();

    Sprite* sprite = Sprite::createWithTexture(frameTexture);
    sprite->setAnchorPoint(Vec2::ZERO);
    sprite->setPosition(20, 20);
    sprite->setScale(40);
    sprite->setGLProgram(program);
    GLProgramState* state = sprite->getGLProgramState();
    ASSERT_NE(state, nullptr);
    state->setUniformFloat("u_red", 1.0f);
    state->setUniformInt("u_greenOn", 1);
    state->setUniformTexture("u_lut", 1, lutTexture);
    state->setUniformFloat("u_notInTheProgram", 3.0f); // ignored
    scene->addChild(sprite);
    frame();
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    EXPECT_TRUE(pixelAt(30, 30).near(255, 255, 245)) << pixelAt(30, 30);
    EXPECT_TRUE(pixelAt(70, 30).near(255, 255, 55)) << pixelAt(70, 30);

    // A changed value reaches the next frame; nothing else needs rebuilding.
    state->setUniformInt("u_greenOn", 0);
    frame();
    EXPECT_TRUE(pixelAt(30, 30).near(255, 0, 245)) << pixelAt(30, 30);
}

TEST_F(GLProgramTest, BrokenSourcesGiveNullAndTheInfoLog)
{
    qvtest::LogCapture logs;
    EXPECT_EQ(GLProgram::createWithByteArrays(kVertex, "void main() { gl_FragColor = undefined_thing; }"), nullptr);
    EXPECT_EQ(GLProgram::createWithByteArrays("not glsl at all", kFragment), nullptr);
    // Links fail when the stages disagree: a varying read but never written.
    EXPECT_EQ(GLProgram::createWithByteArrays("attribute vec4 a_position; void main() { gl_Position = a_position; }",
                                              "varying vec3 v_never; void main() { gl_FragColor = vec4(v_never, 1.0); }"),
              nullptr);
    int compileLines = 0;
    for (const std::string& line : logs.lines()) {
        compileLines += line.find("GLProgram: failed to") == 0 ? 1 : 0;
    }
    EXPECT_EQ(compileLines, 3);
    // A source with its own #version gets nothing prepended.
    GLProgram* own = GLProgram::createWithByteArrays(
        "#version 120\nattribute vec4 a_position; void main() { gl_Position = a_position; }",
        "#version 120\nvoid main() { gl_FragColor = vec4(1.0); }");
    EXPECT_NE(own, nullptr);
}

TEST_F(GLProgramTest, LayersAreFilledWithTheirColourAndOpacity)
{
    LayerColor* opaque = LayerColor::create(Color4B(200, 40, 10, 255), 100, 100);
    LayerColor* half = LayerColor::create(Color4B(0, 0, 255, 128), 100, 100);
    half->setPosition(50, 50);
    scene->addChild(opaque);
    scene->addChild(half);
    frame();
    EXPECT_TRUE(pixelAt(20, 20).near(200, 40, 10)) << pixelAt(20, 20);
    EXPECT_TRUE(pixelAt(75, 75).near(100, 20, 133)) << pixelAt(75, 75);
    EXPECT_TRUE(pixelAt(130, 130).near(0, 0, 128)) << pixelAt(130, 130);
    EXPECT_TRUE(pixelAt(170, 20).near(0, 0, 0));
}

} // namespace

namespace {

class GLRenderTextureTest : public qvgl::GLTest {};

TEST_F(GLRenderTextureTest, OffScreenDrawingReadsBackAndShowsAsASprite)
{
    RenderTexture* target = RenderTexture::create(64, 32);
    ASSERT_NE(target, nullptr);
    // Red on the left half, drawn into the target (its own bottom-left origin) and cleared blue.
    LayerColor* red = LayerColor::create(Color4B(255, 0, 0, 255), 32, 32);
    target->beginWithClear(0, 0, 1, 1);
    red->visit(director->getRenderer(), Mat4::IDENTITY, 0);
    target->end();
    EXPECT_EQ(Camera::getVisitingCamera(), nullptr);

    Image* image = target->newImage();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->getWidth(), 64);
    EXPECT_EQ(image->getHeight(), 32);
    const unsigned char* left = image->getData() + (16 * 64 + 8) * 4;
    const unsigned char* right = image->getData() + (16 * 64 + 56) * 4;
    EXPECT_EQ(left[0], 255);
    EXPECT_EQ(left[2], 0);
    EXPECT_EQ(right[0], 0);
    EXPECT_EQ(right[2], 255);
    image->release();

    // Shown in the window, the right way up and at its place.
    target->setPosition(100, 100);
    scene->addChild(target);
    frame();
    EXPECT_TRUE(qvgl::pixelAt(108, 116).near(255, 0, 0)) << qvgl::pixelAt(108, 116);
    EXPECT_TRUE(qvgl::pixelAt(156, 116).near(0, 0, 255)) << qvgl::pixelAt(156, 116);
    EXPECT_TRUE(qvgl::pixelAt(170, 116).near(0, 0, 0));
}

} // namespace
