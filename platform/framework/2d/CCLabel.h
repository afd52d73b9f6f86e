// Label: a text node drawn from FreeType glyph atlases.
//
// Fonts: createWithSystemFont takes a family name resolved through fontconfig ("" is the default
// sans-serif face, DejaVu Sans); createWithTTF takes a font file. Glyphs the font lacks come from
// fontconfig's best face for them.
//
// Shaping: each paragraph is put in display order with FriBidi and shaped with HarfBuzz where it
// holds right-to-left or complex-script text (CCTextShaper.h): Arabic letters join, Hebrew and
// Arabic runs read right to left. Other text keeps one glyph per character at its advance, with
// no kerning, so per-character labels add up to the label of the whole text.
//
// Layout (node space, origin bottom-left, design units = pixels):
// - lines are split at '\n'; with a dimensions width above 0, lines are also wrapped at spaces
//   (between any two CJK characters, and inside a word longer than the width, never inside a
//   shaped cluster); a line's width is the advance of what it draws;
// - the line height is the font's ascender - descender + line gap at the size;
// - content size: the dimensions when both are set; else (largest line advance or the
//   dimensions width, number of lines x line height);
// - each line is aligned horizontally inside the content width, the block vertically inside the
//   dimensions height.
// Metrics need no GL, so layouts work headless. setContentSize sticks until the text, the font
// or the dimensions change.
//
// Colour: the text colour times the node's displayed colour and opacity multiplies the glyph
// coverage. The shadow is a second copy, offset, drawn first. Drawing: one triangles command per
// atlas page (shadow commands first); the vertices are rebuilt only after a change.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "2d/CCTextShaper.h"
#include "base/ccTypes.h"
#include "node/CCNode.h"
#include "renderer/CCTrianglesCommand.h"

namespace cocos2d {

class FontAtlas;

struct TTFConfig {
    std::string fontFilePath;
    float fontSize = 12.0f;
    TTFConfig(const std::string& path = "", float size = 12.0f) : fontFilePath(path), fontSize(size) {}
};

class Label : public Node {
public:
    static Label* create();
    static Label* createWithSystemFont(const std::string& text, const std::string& font, float fontSize,
                                       const Size& dimensions = Size::ZERO,
                                       TextHAlignment hAlignment = TextHAlignment::LEFT,
                                       TextVAlignment vAlignment = TextVAlignment::TOP);
    // Null when the font file cannot be opened.
    static Label* createWithTTF(const std::string& text, const std::string& fontFilePath, float fontSize,
                                const Size& dimensions = Size::ZERO, TextHAlignment hAlignment = TextHAlignment::LEFT,
                                TextVAlignment vAlignment = TextVAlignment::TOP);
    static Label* createWithTTF(const TTFConfig& ttfConfig, const std::string& text,
                                TextHAlignment hAlignment = TextHAlignment::LEFT, int maxLineWidth = 0);
    // TTF when fontName names an existing file, else the system font of that name.
    static Label* create(const std::string& text, const std::string& fontName, float fontSize,
                         const Size& dimensions = Size::ZERO, TextHAlignment hAlignment = TextHAlignment::LEFT,
                         TextVAlignment vAlignment = TextVAlignment::TOP);

    virtual void setString(const std::string& text);
    const std::string& getString() const { return _text; }
    int getStringLength() const { return int(_codePoints.size()); }
    int getStringNumLines() const { return int(_lines.size()); }

    void setTextColor(const Color4B& color);
    const Color4B& getTextColor() const { return _textColor; }

    void setSystemFontName(const std::string& fontName);
    const std::string& getSystemFontName() const { return _systemFontName; }
    void setSystemFontSize(float fontSize);
    float getSystemFontSize() const { return _fontSize; }
    // False (and the label unchanged) when the file cannot be opened.
    bool setTTFConfig(const TTFConfig& ttfConfig);
    TTFConfig getTTFConfig() const { return TTFConfig(_ttfFile, _fontSize); }
    bool isSystemFont() const { return _ttfFile.empty(); }
    float getFontSize() const { return _fontSize; }

    void setAlignment(TextHAlignment hAlignment, TextVAlignment vAlignment);
    void setHorizontalAlignment(TextHAlignment hAlignment);
    void setVerticalAlignment(TextVAlignment vAlignment);
    TextHAlignment getHorizontalAlignment() const { return _hAlignment; }
    TextVAlignment getVerticalAlignment() const { return _vAlignment; }
    void setDimensions(float width, float height);
    const Size& getDimensions() const { return _dimensions; }
    void setWidth(float width) { setDimensions(width, _dimensions.height); }
    void setMaxLineWidth(float width) { setDimensions(width, _dimensions.height); }

    // blurRadius is accepted and not applied (the shadow is sharp).
    void enableShadow(const Color4B& shadowColor = Color4B(0, 0, 0, 128), const Size& offset = Size(2, -2),
                      int blurRadius = 0);
    void disableEffect();
    bool isShadowEnabled() const { return _shadowEnabled; }
    const Size& getShadowOffset() const { return _shadowOffset; }

    // The font's line height at the size (pixels); 0 without a font.
    float getLineHeight() const;
    // The widths of the laid-out lines.
    const std::vector<float>& getLineWidths() const { return _lineWidths; }

    // Sticks until the text, the font or the dimensions change.
    void setContentSize(const Size& contentSize) override;

    const BlendFunc& getBlendFunc() const { return _blendFunc; }
    void setBlendFunc(const BlendFunc& blendFunc) { _blendFunc = blendFunc; }

    void draw(Renderer* renderer, const Mat4& transform, uint32_t flags) override;

    // [hook] Builds the glyph quads now (as the next draw would) and returns how many glyphs have
    // quads, shadow copies not counted.
    int buildQuadsForTest();
    // [hook] The glyphs laid out, in drawing order: the file of the face and the glyph index in
    // it, the pen position (node space: x where the glyph's origin is, y its baseline) and the
    // first code point of the glyph's cluster (index into the text's code points).
    struct GlyphForTest {
        std::string fontFile;
        unsigned int glyphIndex;
        float x;
        float y;
        size_t codePoint;
    };
    std::vector<GlyphForTest> getGlyphsForTest() const;

protected:
    Label();
    ~Label() override;

    bool initWithFont(const std::string& fontFile, const std::string& systemFontName, const std::string& ttfFile,
                      float fontSize, const Size& dimensions, TextHAlignment hAlignment, TextVAlignment vAlignment);
    void updateColor() override;
    // Re-resolves the font file and atlas.
    bool updateFont();
    void updateLayout();
    void rebuildQuads();
    void rebuildColors();

    struct PlacedGlyph {
        FontAtlas::GlyphKey key;
        float penX;       // node space, the glyph's origin
        float baseline;   // node space, the origin's height
        uint32_t cluster; // its first code point
    };
    struct PageBatch {
        int page = -1;
        bool shadow = false;
        std::vector<V3F_C4B_T2F> verts;
        std::vector<unsigned short> indices;
        TrianglesCommand command;
    };

    std::string _text;
    std::vector<char32_t> _codePoints;
    std::string _systemFontName;
    std::string _ttfFile;
    float _fontSize = 12.0f;
    FontAtlas* _atlas = nullptr; // retained
    Size _dimensions;
    TextHAlignment _hAlignment = TextHAlignment::LEFT;
    TextVAlignment _vAlignment = TextVAlignment::TOP;
    Color4B _textColor = Color4B::WHITE;
    bool _shadowEnabled = false;
    Color4B _shadowColor;
    Size _shadowOffset;
    BlendFunc _blendFunc = BlendFunc::ALPHA_PREMULTIPLIED;

    std::vector<std::pair<size_t, size_t>> _lines; // [begin, end) into _codePoints, without a wrap's spaces
    std::vector<float> _lineWidths;
    std::vector<shaping::Run> _runs;     // of every paragraph, in logical order
    std::vector<float> _advances;        // per code point: the advance of the cluster it starts
    std::vector<uint8_t> _insideCluster; // per code point: 1 when it continues a shaped cluster
    std::vector<PlacedGlyph> _placed;
    Size _layoutSize;
    bool _contentSizeOverridden = false;

    std::vector<PageBatch> _batches;
    bool _quadsDirty = true;
    bool _colorsDirty = true;
};

} // namespace cocos2d
