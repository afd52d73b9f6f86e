// Drawing under a real GL context: the context's capabilities, a known scene read back pixel by
// pixel, cameras with their own viewports and masks, scissor clipping and screen captures.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "GLTestSupport.h"
#include "support/ClipNode.h"
#include "support/TempDir.h"

USING_NS_CC;
using qvgl::pixelAt;
using qvgl::Pixel;

namespace {

// A node whose draw runs a GL callback as a custom command (2D, global z 0).
class GLCallbackNode : public Node {
public:
    static GLCallbackNode* create(std::function<void(const Mat4&)> callback)
    {
        auto* n = new GLCallbackNode();
        n->init();
        n->_callback = std::move(callback);
        n->autorelease();
        return n;
    }
    // The callback reads nothing but *input (for the still-frame check); by default it declares
    // nothing, so every frame with it is drawn.
    void declareInput(const int* input) { _input = input; }
    void draw(Renderer* renderer, const Mat4& transform, uint32_t flags) override
    {
        _command.init(_globalZOrder, transform, flags);
        _transform = transform;
        _command.func = [this] { _callback(_transform); };
        if (_input) {
            _command.declareInputs();
            _command.addInput(_input, sizeof *_input);
        }
        renderer->addCommand(&_command);
    }

private:
    std::function<void(const Mat4&)> _callback;
    const int* _input = nullptr;
    CustomCommand _command;
    Mat4 _transform;
};

// Draws the given vertices with a built-in program, client-side arrays.
void drawArrays(const char* programName, GLenum mode, const std::vector<V3F_C4B_T2F>& verts, const Mat4& transform)
{
    GLProgram* program = GLProgramCache::getInstance()->getGLProgram(programName);
    program->use();
    program->setUniformsForBuiltins(transform);
    GL::blendFunc(GL_ONE, GL_ZERO);
    GL::bindVAO(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    GL::enableVertexAttribs(GL::VERTEX_ATTRIB_FLAG_POS_COLOR_TEX);
    const auto* base = reinterpret_cast<const char*>(verts.data());
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(V3F_C4B_T2F), base);
    glVertexAttribPointer(1, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(V3F_C4B_T2F), base + 12);
    glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(V3F_C4B_T2F), base + 16);
    glDrawArrays(mode, 0, GLsizei(verts.size()));
}

Texture2D* makeTexture(Texture2D::PixelFormat format, int w, int h, const std::vector<unsigned char>& data)
{
    auto* texture = new Texture2D();
    texture->autorelease();
    EXPECT_TRUE(texture->initWithData(data.data(), ssize_t(data.size()), format, w, h, Size(float(w), float(h))));
    texture->setAliasTexParameters();
    return texture;
}

// A sprite scaled so that each texel covers `zoom` pixels, its bottom-left corner at (x, y).
Sprite* blownUp(Texture2D* texture, float x, float y, float zoom)
{
    Sprite* sprite = Sprite::createWithTexture(texture);
    sprite->setAnchorPoint(Vec2::ZERO);
    sprite->setPosition(x, y);
    sprite->setScale(zoom);
    sprite->setBlendFunc(BlendFunc::DISABLE);
    return sprite;
}

class GLDrawingTest : public qvgl::GLTest {};

TEST_F(GLDrawingTest, ContextIsOpenGL21CompatibilityWithWideStippledLinesAndPointSizes)
{
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    ASSERT_NE(version, nullptr);
    int major = 0;
    int minor = 0;
    ASSERT_EQ(std::sscanf(version, "%d.%d", &major, &minor), 2);
    EXPECT_TRUE(major > 2 || (major == 2 && minor >= 1)) << version;

    // A 4-pixel wide horizontal line at y = 50 with a stipple of 8 on, 8 off (factor 1, 0x00FF),
    // and a point of size 9 at (200, 150), drawn by the programs the draw nodes use.
    scene->addChild(GLCallbackNode::create([](const Mat4& transform) {
        glLineWidth(4.0f);
        glLineStipple(1, 0x00FF);
        glEnable(GL_LINE_STIPPLE);
        const Color4B white(255, 255, 255, 255);
        drawArrays(GLProgram::SHADER_NAME_POSITION_LENGTH_TEXTURE_COLOR, GL_LINES,
                   {{Vec3(0, 50, 0), white, Tex2F()}, {Vec3(320, 50, 0), white, Tex2F()}}, transform);
        glDisable(GL_LINE_STIPPLE);
        drawArrays(GLProgram::SHADER_NAME_POSITION_COLOR_TEXASPOINTSIZE, GL_POINTS,
                   {{Vec3(200.5f, 150.5f, 0), Color4B(255, 0, 0, 255), Tex2F(9, 0)}}, transform);
    }));
    frame();
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    // Rows 48..51 lit in the first dash, nothing in the gap, nothing above and below.
    for (int y = 48; y <= 51; ++y) {
        EXPECT_TRUE(pixelAt(3, y).near(255, 255, 255)) << "y " << y << pixelAt(3, y);
        EXPECT_TRUE(pixelAt(11, y).near(0, 0, 0)) << "gap y " << y;
    }
    EXPECT_TRUE(pixelAt(3, 46).near(0, 0, 0));
    EXPECT_TRUE(pixelAt(3, 53).near(0, 0, 0));
    EXPECT_TRUE(pixelAt(19, 50).near(255, 255, 255)); // the second dash
    // The point is 9 x 9 around its centre.
    EXPECT_TRUE(pixelAt(196, 146).near(255, 0, 0));
    EXPECT_TRUE(pixelAt(204, 154).near(255, 0, 0));
    EXPECT_TRUE(pixelAt(194, 150).near(0, 0, 0));
    EXPECT_TRUE(pixelAt(206, 150).near(0, 0, 0));
}

TEST_F(GLDrawingTest, OddWidthAndLuminanceAlphaTexturesUpload)
{
    // RGB888, 3 x 2: rows of 9 bytes, not padded to 4.
    const std::vector<unsigned char> rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255,   // first (top) row
                                            255, 255, 0, 0, 255, 255, 255, 0, 255};
    scene->addChild(blownUp(makeTexture(Texture2D::PixelFormat::RGB888, 3, 2, rgb), 10, 10, 20));
    // AI88, 5 x 1: each 16-bit value's low byte is the luminance, the high byte the alpha.
    const std::vector<unsigned char> ai = {0, 255, 64, 255, 128, 255, 192, 255, 255, 255};
    scene->addChild(blownUp(makeTexture(Texture2D::PixelFormat::AI88, 5, 1, ai), 10, 100, 20));
    frame();

    // Rows of the image run top-down: the first row is at the top of the sprite.
    EXPECT_TRUE(pixelAt(20, 40).near(255, 0, 0)) << pixelAt(20, 40);
    EXPECT_TRUE(pixelAt(40, 40).near(0, 255, 0)) << pixelAt(40, 40);
    EXPECT_TRUE(pixelAt(60, 40).near(0, 0, 255)) << pixelAt(60, 40);
    EXPECT_TRUE(pixelAt(20, 20).near(255, 255, 0)) << pixelAt(20, 20);
    EXPECT_TRUE(pixelAt(40, 20).near(0, 255, 255)) << pixelAt(40, 20);
    EXPECT_TRUE(pixelAt(60, 20).near(255, 0, 255)) << pixelAt(60, 20);
    for (int i = 0; i < 5; ++i) {
        const int l = ai[size_t(i) * 2];
        EXPECT_TRUE(pixelAt(20 + 20 * i, 110).near(l, l, l)) << i << pixelAt(20 + 20 * i, 110);
    }
}

TEST_F(GLDrawingTest, KnownSceneLandsWhereItWasPut)
{
    qvtest::TempDir dir;
    // A PNG, 16 x 8: left half blue, right half yellow.
    std::vector<unsigned char> rgba(16 * 8 * 4);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x) {
            unsigned char* p = &rgba[size_t(y * 16 + x) * 4];
            const bool left = x < 8;
            p[0] = left ? 0 : 255;
            p[1] = left ? 0 : 255;
            p[2] = left ? 255 : 0;
            p[3] = 255;
        }
    }
    Image image;
    ASSERT_TRUE(image.initWithRawData(rgba.data(), ssize_t(rgba.size()), 16, 8, 8, false));
    ASSERT_TRUE(image.saveToFile(dir / "sprite.png", false));

    auto* backdrop = DrawNode::create();
    backdrop->drawSolidRect(Vec2(0, 0), Vec2(160, 240), Color4F(0.5f, 0, 0, 1)); // left half dark red
    scene->addChild(backdrop, -1);

    Sprite* sprite = Sprite::create(dir / "sprite.png");
    ASSERT_NE(sprite, nullptr);
    sprite->setAnchorPoint(Vec2::ZERO);
    sprite->setPosition(200, 20);
    sprite->setScale(4);
    scene->addChild(sprite);

    auto* dashes = DrawNode::create();
    dashes->drawDashedLine(Vec2(10, 200.5f), Vec2(150, 200.5f), 10, 10, Color4F::WHITE);
    scene->addChild(dashes);

    Label* label = Label::createWithSystemFont("Quorvane", "", 24);
    label->setAnchorPoint(Vec2::ZERO);
    label->setPosition(180, 150);
    label->setTextColor(Color4B(0, 255, 0, 255));
    scene->addChild(label);
    frame();

    EXPECT_TRUE(pixelAt(80, 100).near(128, 0, 0)) << pixelAt(80, 100);
    EXPECT_TRUE(pixelAt(240, 100).near(0, 0, 0)) << pixelAt(240, 100);
    // Sprite: 64 x 32 at (200, 20).
    EXPECT_TRUE(pixelAt(210, 30).near(0, 0, 255)) << pixelAt(210, 30);
    EXPECT_TRUE(pixelAt(250, 45).near(255, 255, 0)) << pixelAt(250, 45);
    EXPECT_TRUE(pixelAt(198, 30).near(0, 0, 0));
    EXPECT_TRUE(pixelAt(266, 30).near(0, 0, 0));
    // Dashes of 10 with gaps of 10 from x = 10.
    EXPECT_TRUE(pixelAt(15, 200).near(255, 255, 255)) << pixelAt(15, 200);
    EXPECT_TRUE(pixelAt(25, 200).near(128, 0, 0)) << pixelAt(25, 200);
    EXPECT_TRUE(pixelAt(35, 200).near(255, 255, 255));
    // The label's glyphs are green, inside its box and nowhere else.
    const Size box = label->getContentSize();
    int green = 0;
    int outside = 0;
    const auto area = qvgl::pixels(170, 140, 150, 60);
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 150; ++x) {
            const Pixel& p = area[size_t(y) * 150 + size_t(x)];
            if (p.g > 100) {
                const float px = 170 + x + 0.5f;
                const float py = 140 + y + 0.5f;
                const bool inBox = px >= 180 && px <= 180 + box.width && py >= 150 && py <= 150 + box.height;
                (inBox ? green : outside) += 1;
            }
        }
    }
    EXPECT_GT(green, 100);
    EXPECT_EQ(outside, 0);
}

TEST_F(GLDrawingTest, WindowCamerasStayInsideTheirScissorAndTheDefaultCameraDrawsOnTop)
{
    const float W = win.width;
    const float H = win.height;
    // Two windows side by side: each camera squeezes the full design space into its half with
    // T x S, and each window clips its content by scissor.
    struct Window {
        unsigned short flag;
        Rect rect;
        Color4F color;
    };
    const Window windows[2] = {{2, Rect(0, 0, W / 2, H), Color4F::RED}, {3, Rect(W / 2, 0, W / 2, H), Color4F::GREEN}};
    for (const Window& w : windows) {
        Camera* camera = Camera::createOrthographic(W, H, 1, 1000);
        camera->setPosition3D(Vec3(0, 0, 100));
        Mat4 s;
        Mat4::createScale(w.rect.size.width / W, w.rect.size.height / H, 1, &s);
        Mat4 t;
        Mat4::createTranslation(2 * w.rect.origin.x / W - 1 + w.rect.size.width / W,
                                2 * w.rect.origin.y / H - 1 + w.rect.size.height / H, 0, &t);
        camera->setAdditionalProjection(t * s);
        camera->setCameraFlag(w.flag);
        scene->addChild(camera);

        auto* clip = qvtest::ClipNode::create(w.rect);
        auto* fill = DrawNode::create();
        // Far larger than the design space: without the scissor it would cover the other half.
        fill->drawSolidRect(Vec2(-W, -H), Vec2(2 * W, 2 * H), w.color);
        fill->setCameraMask(w.flag);
        clip->addChild(fill);
        scene->addChild(clip);
    }
    Label* label = Label::createWithSystemFont("WWWWWWWWWWWW", "", 30);
    label->setPosition(W / 2, H / 2);
    label->setTextColor(Color4B::WHITE);
    scene->addChild(label);
    frame();

    EXPECT_TRUE(pixelAt(5, 5).near(255, 0, 0)) << pixelAt(5, 5);
    EXPECT_TRUE(pixelAt(int(W / 2) - 1, int(H) - 1).near(255, 0, 0));
    EXPECT_TRUE(pixelAt(int(W / 2), 5).near(0, 255, 0)) << pixelAt(int(W / 2), 5);
    EXPECT_TRUE(pixelAt(int(W) - 1, int(H) - 1).near(0, 255, 0));
    // The label (default camera, drawn last) shows white over both halves.
    int whiteLeft = 0;
    int whiteRight = 0;
    const auto band = qvgl::pixels(0, int(H / 2) - 15, int(W), 30);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < int(W); ++x) {
            const Pixel& p = band[size_t(y) * size_t(W) + size_t(x)];
            if (p.near(255, 255, 255, 10)) {
                (x < W / 2 ? whiteLeft : whiteRight) += 1;
            }
        }
    }
    EXPECT_GT(whiteLeft, 20);
    EXPECT_GT(whiteRight, 20);
}

TEST_F(GLDrawingTest, A3DSpriteInsideAClippingNodeDoesNotSpill)
{
    // A white 3D sprite twice the clip's size, centred on it.
    const std::vector<unsigned char> white(4 * 4 * 3, 255);
    Sprite* sprite = blownUp(makeTexture(Texture2D::PixelFormat::RGB888, 4, 4, white), 40, 40, 30);
    sprite->setDepthTestEnabled(true);
    auto* clip = qvtest::ClipNode::create(Rect(70, 70, 60, 60));
    clip->addChild(sprite);
    scene->addChild(clip);
    frame();
    EXPECT_TRUE(pixelAt(100, 100).near(255, 255, 255));
    EXPECT_TRUE(pixelAt(70, 70).near(255, 255, 255));
    EXPECT_TRUE(pixelAt(129, 129).near(255, 255, 255));
    EXPECT_TRUE(pixelAt(69, 100).near(0, 0, 0)) << pixelAt(69, 100);
    EXPECT_TRUE(pixelAt(130, 100).near(0, 0, 0));
    EXPECT_TRUE(pixelAt(100, 140).near(0, 0, 0));
    EXPECT_TRUE(pixelAt(45, 45).near(0, 0, 0));
}

TEST_F(GLDrawingTest, CapturesHoldWhatWasDrawn)
{
    qvtest::TempDir dir;
    auto* quads = DrawNode::create();
    quads->drawSolidRect(Vec2(0, 0), Vec2(160, 240), Color4F(0, 0, 1, 1));
    quads->drawSolidRect(Vec2(160, 0), Vec2(320, 120), Color4F(1, 1, 0, 1));
    scene->addChild(quads);

    std::vector<std::pair<bool, std::string>> done;
    const auto mainThread = std::this_thread::get_id();
    bool offMain = false;
    auto record = [&](bool ok, const std::string& file) {
        offMain |= std::this_thread::get_id() != mainThread;
        done.emplace_back(ok, file);
    };
    utils::captureScreen(record, dir / "whole.png", 0, 0, 0, 0);
    utils::captureScreen(record, dir / "corner.jpg", 200, 20, 40, 30);
    utils::captureScreen(record, dir / "edge.png", 300, 200, 100, 100); // clipped to the window
    utils::captureScreen(record, dir / "bad.bmp", 0, 0, 10, 10);
    utils::captureScreen(record, dir / "none/x.png", 0, 0, 10, 10);
    frame();
    frame();
    ASSERT_EQ(done.size(), 5u);
    EXPECT_FALSE(offMain);
    EXPECT_TRUE(done[0].first);
    EXPECT_EQ(done[0].second, dir / "whole.png");
    EXPECT_TRUE(done[1].first);
    EXPECT_TRUE(done[2].first);
    EXPECT_FALSE(done[3].first);
    EXPECT_FALSE(done[4].first);

    Image whole;
    ASSERT_TRUE(whole.initWithImageFile(dir / "whole.png"));
    EXPECT_EQ(whole.getFileType(), Image::Format::PNG);
    EXPECT_EQ(whole.getWidth(), 320);
    EXPECT_EQ(whole.getHeight(), 240);
    // The file's first row is the window's top: blue on the left, black on the right.
    const unsigned char* top = whole.getData();
    EXPECT_EQ(top[2], 255);
    EXPECT_EQ(top[0], 0);
    const unsigned char* topRight = whole.getData() + (319) * 3;
    EXPECT_EQ(topRight[0], 0);
    const unsigned char* bottomRight = whole.getData() + (239 * 320 + 319) * 3;
    EXPECT_EQ(bottomRight[0], 255);
    EXPECT_EQ(bottomRight[1], 255);

    Image corner;
    ASSERT_TRUE(corner.initWithImageFile(dir / "corner.jpg"));
    EXPECT_EQ(corner.getFileType(), Image::Format::JPG);
    EXPECT_EQ(corner.getWidth(), 40);
    EXPECT_EQ(corner.getHeight(), 30);
    const unsigned char* c = corner.getData() + (15 * 40 + 20) * 3;
    EXPECT_GT(c[0], 240);
    EXPECT_GT(c[1], 240);
    EXPECT_LT(c[2], 20);

    Image edge;
    ASSERT_TRUE(edge.initWithImageFile(dir / "edge.png"));
    EXPECT_EQ(edge.getWidth(), 20);
    EXPECT_EQ(edge.getHeight(), 40);
}

// A frame that would draw what the window already shows is not drawn: no draw call, no swap, the
// picture stays. Every kind of change is drawn in the frame it happens.
TEST_F(GLDrawingTest, StillFramesAreNotDrawnAndEveryChangeShowsInItsFrame)
{
    Renderer* renderer = director->getRenderer();
    const auto swaps = [] { return qvgl::window()->swapRequests(); };
    const std::vector<unsigned char> red = {255, 0, 0, 255, 255, 0, 0, 255};
    const std::vector<unsigned char> green = {0, 255, 0, 255, 0, 255, 0, 255};
    Texture2D* texture = makeTexture(Texture2D::PixelFormat::RGBA8888, 2, 1, red);
    Sprite* sprite = blownUp(texture, 10, 10, 20); // (10, 10) to (50, 30)
    scene->addChild(sprite);
    auto* shapes = DrawNode::create();
    scene->addChild(shapes);
    auto* label = Label::createWithSystemFont("I", "", 40);
    label->setPosition(280, 200);
    scene->addChild(label);
    int lit = 0;
    auto* point = GLCallbackNode::create([&lit](const Mat4& transform) {
        if (lit) {
            drawArrays(GLProgram::SHADER_NAME_POSITION_COLOR_TEXASPOINTSIZE, GL_POINTS,
                       {{Vec3(160.5f, 20.5f, 0), Color4B(255, 255, 255, 255), Tex2F(9, 0)}}, transform);
        }
    });
    point->declareInput(&lit);
    scene->addChild(point);
    // The first frames upload glyphs and link programs: what they leave is drawn once more.
    frame();
    ASSERT_TRUE(renderer->isFrameDrawn());
    frame();
    frame();
    EXPECT_FALSE(renderer->isFrameDrawn());
    EXPECT_EQ(renderer->getDrawnBatches(), 0);

    struct Change {
        const char* what;
        std::function<void()> apply;
        int x, y;
        Pixel shown;
    };
    const Change changes[] = {
        {"sprite moved", [&] { sprite->setPosition(60, 10); }, 70, 20, {255, 0, 0}},
        {"texture pixels replaced in place", [&] { texture->updateWithData(green.data(), 0, 0, 2, 1); }, 70, 20,
         {0, 255, 0}},
        {"texture uploaded again", [&] {
             texture->initWithData(red.data(), ssize_t(red.size()), Texture2D::PixelFormat::RGBA8888, 2, 1,
                                   Size(2, 1));
         }, 70, 20, {255, 0, 0}},
        {"sprite tinted", [&] { sprite->setColor(Color3B(0, 0, 0)); }, 70, 20, {0, 0, 0}},
        {"shape drawn", [&] { shapes->drawSolidRect(Vec2(100, 100), Vec2(120, 120), Color4F(0, 0, 1, 1)); }, 110,
         110, {0, 0, 255}},
        {"shapes cleared", [&] { shapes->clear(); }, 110, 110, {0, 0, 0}},
        {"declared input", [&] { lit = 1; }, 160, 20, {255, 255, 255}},
        {"label hidden", [&] { label->setVisible(false); }, 0, 0, {0, 0, 0}},
        {"clear colour", [&] { director->setClearColor(Color4F(0, 0.5f, 0, 1)); }, 5, 5, {0, 128, 0}},
        {"window exposed", [&] { renderer->invalidateFrame(); }, 5, 5, {0, 128, 0}},
    };
    for (const Change& change : changes) {
        const int before = swaps();
        change.apply();
        frame();
        EXPECT_TRUE(renderer->isFrameDrawn()) << change.what;
        EXPECT_EQ(swaps(), before + 1) << change.what;
        EXPECT_TRUE(pixelAt(change.x, change.y).near(change.shown.r, change.shown.g, change.shown.b))
            << change.what << pixelAt(change.x, change.y);
        frame();
        EXPECT_FALSE(renderer->isFrameDrawn()) << change.what;
        EXPECT_EQ(swaps(), before + 1) << change.what;
        EXPECT_TRUE(pixelAt(change.x, change.y).near(change.shown.r, change.shown.g, change.shown.b))
            << "still, " << change.what;
    }

    // A capture is taken from a drawn frame.
    qvtest::TempDir dir;
    bool captured = false;
    utils::captureScreen([&](bool ok, const std::string&) { captured = ok; }, dir / "still.png", 0, 0, 0, 0);
    frame();
    EXPECT_TRUE(renderer->isFrameDrawn());
    ASSERT_TRUE(captured);
    Image still;
    ASSERT_TRUE(still.initWithImageFile(dir / "still.png"));
    const unsigned char* corner = still.getData() + (239 * 320 + 5) * 3;
    EXPECT_EQ(int(corner[1]), 128);

    // A custom command that declares nothing is drawn in every frame.
    scene->addChild(GLCallbackNode::create([](const Mat4&) {}));
    frame();
    frame();
    EXPECT_TRUE(renderer->isFrameDrawn());
    EXPECT_GT(renderer->getDrawnFrameCount(), 0u);
    EXPECT_GT(renderer->getSkippedFrameCount(), 0u);
}

} // namespace
