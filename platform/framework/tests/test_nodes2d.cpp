// Sprites, labels and draw nodes, headless: sizes, metrics and the commands they issue.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <png.h>

#include "cocos2d.h"
#include "base/ccUTF8.h"
#include "ShapingReference.h"
#include "support/HeadlessDirector.h"
#include "support/TempDir.h"

USING_NS_CC;

namespace {

class Nodes2DTest : public qvtest::HeadlessDirectorTest {
protected:
    void SetUp() override
    {
        HeadlessDirectorTest::SetUp();
        scene = Scene::create();
        director->runWithScene(scene);
        director->stepFrame(1.0f / 60);
    }

    std::vector<Renderer::CommandRecord> recordsOf(const void* owner)
    {
        std::vector<Renderer::CommandRecord> out;
        for (const auto& r : director->getRenderer()->getCommandRecords()) {
            if (r.owner == owner) {
                out.push_back(r);
            }
        }
        return out;
    }

    std::string writeRgbaPng(int w, int h)
    {
        const std::string path = dir / ("s" + std::to_string(w) + "x" + std::to_string(h) + ".png");
        std::vector<unsigned char> pixels(size_t(w) * h * 4, 200);
        png_image image;
        std::memset(&image, 0, sizeof(image));
        image.version = PNG_IMAGE_VERSION;
        image.width = png_uint_32(w);
        image.height = png_uint_32(h);
        image.format = PNG_FORMAT_RGBA;
        EXPECT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr));
        return path;
    }

    Scene* scene = nullptr;
    qvtest::TempDir dir;
};

TEST_F(Nodes2DTest, SpriteSizesFollowTheTextureAndTheRect)
{
    const std::string file = writeRgbaPng(37, 21);
    Sprite* sprite = Sprite::create(file);
    ASSERT_NE(sprite, nullptr);
    EXPECT_EQ(sprite->getContentSize(), Size(37, 21));
    EXPECT_EQ(sprite->getTextureRect(), Rect(0, 0, 37, 21));
    EXPECT_EQ(sprite->getBlendFunc(), BlendFunc::ALPHA_PREMULTIPLIED);
    sprite->setTextureRect(Rect(5, 5, 10, 4));
    EXPECT_EQ(sprite->getContentSize(), Size(10, 4));
    // Texture coordinates of the rectangle (v = 0 is the image's top row), and a flip swaps them.
    EXPECT_FLOAT_EQ(sprite->getQuad().tl.texCoords.u, 5.0f / 37);
    EXPECT_FLOAT_EQ(sprite->getQuad().tl.texCoords.v, 5.0f / 21);
    EXPECT_FLOAT_EQ(sprite->getQuad().bl.texCoords.v, 9.0f / 21);
    sprite->setFlipY(true);
    EXPECT_FLOAT_EQ(sprite->getQuad().tl.texCoords.v, 9.0f / 21);

    EXPECT_EQ(Sprite::create(dir / "missing.png"), nullptr);
    Sprite* empty = Sprite::create();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->getContentSize(), Size::ZERO);
}

TEST_F(Nodes2DTest, SpritesIssueOneTrianglesCommandAnd3DSpritesClipThemselves)
{
    Sprite* sprite = Sprite::create(writeRgbaPng(8, 8));
    sprite->setPosition(100, 100);
    Sprite* empty = Sprite::create();
    Sprite* offscreen = Sprite::create(writeRgbaPng(8, 8));
    offscreen->setPosition(-500, -500);
    scene->addChild(sprite);
    scene->addChild(empty);
    scene->addChild(offscreen);
    director->stepFrame(1.0f / 60);
    const auto rec = recordsOf(sprite);
    ASSERT_EQ(rec.size(), 1u);
    EXPECT_EQ(rec[0].type, RenderCommand::Type::TRIANGLES_COMMAND);
    EXPECT_FALSE(rec[0].is3D);
    EXPECT_TRUE(recordsOf(empty).empty());
    EXPECT_TRUE(recordsOf(offscreen).empty()); // culled by the default camera

    // Depth test on: a 3D command, wrapped in the scissor of the clip in force.
    sprite->setDepthTestEnabled(true);
    director->getRenderer()->pushClipRect(Rect(0, 0, 50, 50));
    sprite->draw(director->getRenderer(), sprite->getNodeToWorldTransform(), 0);
    director->getRenderer()->popClipRect();
    director->getRenderer()->render();
    const auto rec3d = recordsOf(sprite);
    ASSERT_EQ(rec3d.size(), 4u); // the frame's command, then begin, triangles, end
    EXPECT_EQ(rec3d[1].type, RenderCommand::Type::SCISSOR_BEGIN_COMMAND);
    EXPECT_TRUE(rec3d[2].is3D);
    EXPECT_EQ(rec3d[3].type, RenderCommand::Type::SCISSOR_END_COMMAND);
}

TEST_F(Nodes2DTest, DrawNodeBuffersAndCommands)
{
    DrawNode* node = DrawNode::create();
    scene->addChild(node);
    director->stepFrame(1.0f / 60);
    EXPECT_TRUE(recordsOf(node).empty()); // empty: no command

    const Vec2 square[4] = {Vec2(0, 0), Vec2(10, 0), Vec2(10, 10), Vec2(0, 10)};
    node->drawPoly(square, 4, true, Color4F::RED);
    EXPECT_EQ(node->getLineVertexCount(), 8u);
    node->drawPoly(square, 4, false, Color4F::RED);
    EXPECT_EQ(node->getLineVertexCount(), 14u);
    node->drawRect(Vec2(1, 1), Vec2(5, 5), Color4F::GREEN);
    EXPECT_EQ(node->getLineVertexCount(), 22u);
    node->drawSolidRect(Vec2(1, 1), Vec2(5, 5), Color4F::GREEN);
    EXPECT_EQ(node->getTriangleVertexCount(), 6u);
    node->drawDot(Vec2(3, 3), 2, Color4F::BLUE);
    EXPECT_EQ(node->getTriangleVertexCount(), 12u);
    node->drawCircle(Vec2(0, 0), 5, 0, 12, true, Color4F::BLUE);
    EXPECT_EQ(node->getLineVertexCount(), 22u + 24u + 2u);

    director->stepFrame(1.0f / 60);
    const auto rec = recordsOf(node);
    ASSERT_EQ(rec.size(), 2u); // triangles, then lines
    EXPECT_EQ(rec[0].type, RenderCommand::Type::CUSTOM_COMMAND);

    node->clear();
    node->drawLine(Vec2(0, 0), Vec2(1, 1), Color4F::WHITE);
    director->stepFrame(1.0f / 60);
    EXPECT_EQ(recordsOf(node).size(), 1u);
}

TEST_F(Nodes2DTest, DashedLinesAlternateDashAndGap)
{
    DrawNode* node = DrawNode::create();
    // 100 units in dashes of 10 and gaps of 5: dashes start at 0, 15, ..., 90 (7 dashes), the last
    // one cut at 100.
    node->drawDashedLine(Vec2(0, 0), Vec2(100, 0), 10, 5, Color4F::WHITE);
    EXPECT_EQ(node->getLineVertexCount(), 14u);
    node->clear();
    // Shorter than one dash, or a zero gap: one solid segment.
    node->drawDashedLine(Vec2(0, 0), Vec2(3, 4), 10, 5, Color4F::WHITE);
    node->drawDashedLine(Vec2(0, 0), Vec2(30, 40), 10, 0, Color4F::WHITE);
    EXPECT_EQ(node->getLineVertexCount(), 4u);
}

TEST_F(Nodes2DTest, LabelMetricsAreAdditiveAndLineBased)
{
    Label* word = Label::createWithSystemFont("Hello", "", 20);
    ASSERT_NE(word, nullptr);
    const float lineHeight = word->getLineHeight();
    // DejaVu Sans at 20 px: ascender 19, descender -5 (FreeType's rounded metrics), no gap.
    EXPECT_GE(lineHeight, 22.0f);
    EXPECT_LE(lineHeight, 25.0f);
    EXPECT_EQ(word->getContentSize().height, lineHeight);

    // Per-character labels laid out by width add up to the word (no kerning, no ligatures).
    auto width = [](const char* text) {
        return Label::createWithSystemFont(text, "", 20)->getContentSize().width;
    };
    float sum = 0;
    for (const char* c : {"H", "e", "l", "l", "o"}) {
        sum += width(c);
    }
    EXPECT_FLOAT_EQ(word->getContentSize().width, sum);
    EXPECT_FLOAT_EQ(width("AVTo fi"), width("A") + width("V") + width("T") + width("o") + width(" ") + width("f") +
                                          width("i"));
    EXPECT_GT(sum, 40.0f);
    EXPECT_LT(sum, 70.0f);

    // Spaces take their advance, alone, inside and at the end of a line.
    const float space = Label::createWithSystemFont(" ", "", 20)->getContentSize().width;
    EXPECT_GT(space, 3.0f);
    EXPECT_FLOAT_EQ(Label::createWithSystemFont("He llo ", "", 20)->getContentSize().width, sum + 2 * space);

    Label* two = Label::createWithSystemFont("Hello\nHe", "", 20);
    EXPECT_EQ(two->getStringNumLines(), 2);
    EXPECT_FLOAT_EQ(two->getContentSize().width, word->getContentSize().width);
    EXPECT_FLOAT_EQ(two->getContentSize().height, 2 * lineHeight);

    // Fixed dimensions are the content size; a narrow width wraps at spaces.
    Label* boxed = Label::createWithSystemFont("aaa bbb ccc", "", 20, Size(300, 100));
    EXPECT_EQ(boxed->getContentSize(), Size(300, 100));
    EXPECT_EQ(boxed->getStringNumLines(), 1);
    const float aaa = Label::createWithSystemFont("aaa bbb", "", 20)->getContentSize().width;
    boxed->setDimensions(aaa + 1, 0);
    EXPECT_EQ(boxed->getStringNumLines(), 2);
    EXPECT_FLOAT_EQ(boxed->getContentSize().height, 2 * lineHeight);
    EXPECT_FLOAT_EQ(boxed->getLineWidths()[0], aaa);

    // An explicit content size sticks until the text changes.
    word->setContentSize(Size(7, 9));
    word->setTextColor(Color4B::RED);
    EXPECT_EQ(word->getContentSize(), Size(7, 9));
    word->setString("Hello!");
    EXPECT_GT(word->getContentSize().width, sum);
}

TEST_F(Nodes2DTest, LabelFallsBackPerGlyphAndDrawsOneCommandPerPage)
{
    Label* cjk = Label::createWithSystemFont(u8"中文 ok", "", 24);
    ASSERT_NE(cjk, nullptr);
    EXPECT_EQ(cjk->getStringLength(), 5);
    EXPECT_GT(cjk->getContentSize().width, 24.0f * 2);
    EXPECT_EQ(cjk->buildQuadsForTest(), 4); // the space has no pixels

    cjk->enableShadow(Color4B::BLACK, Size(2, -2), 0);
    scene->addChild(cjk);
    director->stepFrame(1.0f / 60);
    const auto rec = recordsOf(cjk);
    ASSERT_EQ(rec.size(), 2u); // shadow first, then the text
    EXPECT_EQ(rec[0].type, RenderCommand::Type::TRIANGLES_COMMAND);

    EXPECT_EQ(Label::createWithTTF("x", dir / "no-font.ttf", 12), nullptr);
    Label* ttf = Label::create("x", "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 20);
    ASSERT_NE(ttf, nullptr);
    EXPECT_FALSE(ttf->isSystemFont());
}

TEST_F(Nodes2DTest, LabelsShapeAndOrderRightToLeftTextAsHarfBuzzAndFriBidiDo)
{
    const std::string sans = FontAtlas::resolveSystemFont("");
    const std::string serif = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf"; // no Arabic, no Hebrew
    ASSERT_NE(sans.find("DejaVuSans.ttf"), std::string::npos) << sans;
    struct Case {
        const char* text;
        const std::string& font; // the label's font ("" for the system font)
    };
    const std::string system;
    const Case cases[] = {
        {u8"قباني^لنزار", system},      // Arabic: letters join
        {u8"שרון^דבורה", system},       // Hebrew
        {u8"Sharon^שרון 12 (דבורה)", system}, // Latin, Hebrew, digits and mirrored brackets
        {u8"قباني", serif},             // fallback faces are shaped too
        {u8"דבורה", serif},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Label* label = c.font.empty() ? Label::createWithSystemFont(c.text, "", 20)
                                      : Label::createWithTTF(c.text, c.font, 20);
        ASSERT_NE(label, nullptr);
        EXPECT_TRUE(qvtest::drawsAsHarfBuzz(label, sans));
        EXPECT_FLOAT_EQ(label->getContentSize().width, label->getLineWidths()[0]);
    }

    // Arabic letters take their joining forms, not the glyphs their characters map to alone.
    Label* arabic = Label::createWithSystemFont(u8"قباني", "", 20);
    FontAtlas* atlas = FontAtlas::getOrCreate(sans, 20);
    std::vector<char32_t> letters;
    decodeUtf8(arabic->getString(), letters);
    int joined = 0;
    for (const Label::GlyphForTest& g : arabic->getGlyphsForTest()) {
        joined += g.glyphIndex != FontAtlas::glyphIndexOf(atlas->getGlyphKey(letters[g.codePoint])) ? 1 : 0;
    }
    EXPECT_EQ(joined, 5);

    // Hebrew reads right to left: the first letter is drawn rightmost, inside left-to-right text.
    Label* mixed = Label::createWithSystemFont(u8"Sharon^שרון", "", 20);
    const auto glyphs = mixed->getGlyphsForTest();
    ASSERT_EQ(glyphs.size(), 11u);
    EXPECT_EQ(glyphs.front().codePoint, 0u); // "S" leftmost
    EXPECT_EQ(glyphs.back().codePoint, 7u);  // "ש", the name's first letter, rightmost
    for (size_t i = 1; i < glyphs.size(); ++i) {
        EXPECT_GT(glyphs[i].x, glyphs[i - 1].x);
    }

    // Wrapped right-to-left text: the first word on the first line, each line as wide as the
    // advances of what it draws, right-aligned lines ending at the right edge.
    const float first = Label::createWithSystemFont(u8"שרון", "", 20)->getContentSize().width;
    const float second = Label::createWithSystemFont(u8"דבורה", "", 20)->getContentSize().width;
    ASSERT_GT(second, first);
    Label* wrapped =
        Label::createWithSystemFont(u8"שרון דבורה", "", 20, Size(second + 1, 0), TextHAlignment::RIGHT);
    ASSERT_EQ(wrapped->getStringNumLines(), 2);
    EXPECT_FLOAT_EQ(wrapped->getLineWidths()[0], first);
    EXPECT_FLOAT_EQ(wrapped->getLineWidths()[1], second);
    const auto lines = wrapped->getGlyphsForTest();
    ASSERT_EQ(lines.size(), 9u); // the space at the wrap is not drawn
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_LT(lines[i].codePoint, 4u);
    }
    EXPECT_EQ(lines[3].codePoint, 0u);
    EXPECT_FLOAT_EQ(lines[0].x, second + 1 - first);
    EXPECT_FLOAT_EQ(lines[4].x, 1.0f);
}

} // namespace
