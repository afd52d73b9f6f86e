#include "2d/CCLabel.h"

#include <algorithm>
#include <new>

#include "2d/CCFontAtlas.h"
#include "base/ccMacros.h"
#include "base/ccUTF8.h"
#include "platform/CCFileUtils.h"
#include "renderer/CCGLProgram.h"
#include "renderer/CCGLProgramState.h"
#include "renderer/CCRenderer.h"
#include "renderer/CCTexture2D.h"

namespace cocos2d {

namespace {

bool isBreakableCJK(char32_t cp)
{
    return (cp >= 0x2E80 && cp <= 0x9FFF) || (cp >= 0xAC00 && cp <= 0xD7AF) || (cp >= 0xF900 && cp <= 0xFAFF) ||
           (cp >= 0xFF00 && cp <= 0xFFEF) || (cp >= 0x20000 && cp <= 0x2FFFF);
}

bool isSpace(char32_t cp)
{
    return cp == ' ' || cp == '\t' || cp == 0x3000;
}

Color4B premultiplied(const Color4B& c)
{
    return Color4B(GLubyte(c.r * c.a / 255), GLubyte(c.g * c.a / 255), GLubyte(c.b * c.a / 255), c.a);
}

} // namespace

Label::Label() = default;

Label::~Label()
{
    CC_SAFE_RELEASE(_atlas);
}

Label* Label::create()
{
    return createWithSystemFont("", "", 12.0f);
}

Label* Label::createWithSystemFont(const std::string& text, const std::string& font, float fontSize,
                                   const Size& dimensions, TextHAlignment hAlignment, TextVAlignment vAlignment)
{
    Label* label = new (std::nothrow) Label();
    if (label && label->initWithFont(FontAtlas::resolveSystemFont(font), font, "", fontSize, dimensions, hAlignment,
                                     vAlignment)) {
        label->autorelease();
        label->setString(text);
        return label;
    }
    delete label;
    return nullptr;
}

Label* Label::createWithTTF(const std::string& text, const std::string& fontFilePath, float fontSize,
                            const Size& dimensions, TextHAlignment hAlignment, TextVAlignment vAlignment)
{
    const std::string file = FileUtils::getInstance()->fullPathForFilename(fontFilePath);
    if (file.empty()) {
        return nullptr;
    }
    Label* label = new (std::nothrow) Label();
    if (label && label->initWithFont(file, "", file, fontSize, dimensions, hAlignment, vAlignment)) {
        label->autorelease();
        label->setString(text);
        return label;
    }
    delete label;
    return nullptr;
}

Label* Label::createWithTTF(const TTFConfig& ttfConfig, const std::string& text, TextHAlignment hAlignment,
                            int maxLineWidth)
{
    return createWithTTF(text, ttfConfig.fontFilePath, ttfConfig.fontSize, Size(float(maxLineWidth), 0.0f),
                         hAlignment);
}

Label* Label::create(const std::string& text, const std::string& fontName, float fontSize, const Size& dimensions,
                     TextHAlignment hAlignment, TextVAlignment vAlignment)
{
    if (!fontName.empty() && FileUtils::getInstance()->isFileExist(fontName)) {
        if (Label* label = createWithTTF(text, fontName, fontSize, dimensions, hAlignment, vAlignment)) {
            return label;
        }
    }
    return createWithSystemFont(text, fontName, fontSize, dimensions, hAlignment, vAlignment);
}

bool Label::initWithFont(const std::string& fontFile, const std::string& systemFontName, const std::string& ttfFile,
                         float fontSize, const Size& dimensions, TextHAlignment hAlignment,
                         TextVAlignment vAlignment)
{
    if (!Node::init()) {
        return false;
    }
    setAnchorPoint(Vec2(0.5f, 0.5f));
    setGLProgramState(GLProgramState::getOrCreateWithGLProgramName(GLProgram::SHADER_NAME_LABEL_NORMAL));
    _systemFontName = systemFontName;
    _ttfFile = ttfFile;
    _fontSize = fontSize;
    _dimensions = dimensions;
    _hAlignment = hAlignment;
    _vAlignment = vAlignment;
    _atlas = FontAtlas::getOrCreate(fontFile, int(fontSize + 0.5f));
    if (_atlas) {
        _atlas->retain();
    } else if (!ttfFile.empty()) {
        return false; // a TTF that cannot be opened fails the creation
    } else {
        log("Label: no font for \"%s\"; the label draws nothing", systemFontName.c_str());
    }
    updateLayout();
    return true;
}

bool Label::updateFont()
{
    const std::string file = _ttfFile.empty() ? FontAtlas::resolveSystemFont(_systemFontName) : _ttfFile;
    FontAtlas* atlas = FontAtlas::getOrCreate(file, int(_fontSize + 0.5f));
    if (!atlas) {
        return false;
    }
    atlas->retain();
    CC_SAFE_RELEASE(_atlas);
    _atlas = atlas;
    _contentSizeOverridden = false;
    updateLayout();
    return true;
}

void Label::setString(const std::string& text)
{
    if (text == _text && !_codePoints.empty()) {
        return;
    }
    _text = text;
    decodeUtf8(_text, _codePoints);
    _contentSizeOverridden = false;
    updateLayout();
}

void Label::setTextColor(const Color4B& color)
{
    if (color != _textColor) {
        _textColor = color;
        _colorsDirty = true;
    }
}

void Label::setSystemFontName(const std::string& fontName)
{
    if (fontName == _systemFontName && _ttfFile.empty()) {
        return;
    }
    _systemFontName = fontName;
    _ttfFile.clear();
    updateFont();
}

void Label::setSystemFontSize(float fontSize)
{
    if (fontSize <= 0.0f || fontSize == _fontSize) {
        return;
    }
    _fontSize = fontSize;
    updateFont();
}

bool Label::setTTFConfig(const TTFConfig& ttfConfig)
{
    const std::string file = FileUtils::getInstance()->fullPathForFilename(ttfConfig.fontFilePath);
    if (file.empty() || ttfConfig.fontSize <= 0.0f || !FontAtlas::getOrCreate(file, int(ttfConfig.fontSize + 0.5f))) {
        return false;
    }
    _ttfFile = file;
    _fontSize = ttfConfig.fontSize;
    return updateFont();
}

void Label::setAlignment(TextHAlignment hAlignment, TextVAlignment vAlignment)
{
    if (hAlignment != _hAlignment || vAlignment != _vAlignment) {
        _hAlignment = hAlignment;
        _vAlignment = vAlignment;
        updateLayout();
    }
}

void Label::setHorizontalAlignment(TextHAlignment hAlignment)
{
    setAlignment(hAlignment, _vAlignment);
}

void Label::setVerticalAlignment(TextVAlignment vAlignment)
{
    setAlignment(_hAlignment, vAlignment);
}

void Label::setDimensions(float width, float height)
{
    if (width == _dimensions.width && height == _dimensions.height) {
        return;
    }
    _dimensions = Size(std::max(0.0f, width), std::max(0.0f, height));
    _contentSizeOverridden = false;
    updateLayout();
}

void Label::enableShadow(const Color4B& shadowColor, const Size& offset, int blurRadius)
{
    (void)blurRadius;
    _shadowEnabled = true;
    _shadowColor = shadowColor;
    _shadowOffset = offset;
    _quadsDirty = true;
}

void Label::disableEffect()
{
    if (_shadowEnabled) {
        _shadowEnabled = false;
        _quadsDirty = true;
    }
}

float Label::getLineHeight() const
{
    return _atlas ? _atlas->getLineHeight() : 0.0f;
}

void Label::setContentSize(const Size& contentSize)
{
    _contentSizeOverridden = true;
    Node::setContentSize(contentSize);
}

void Label::updateColor()
{
    _colorsDirty = true;
}

// ---------------------------------------------------------------------------------------------
// layout

void Label::updateLayout()
{
    _lines.clear();
    _lineWidths.clear();
    _placed.clear();
    _runs.clear();
    _quadsDirty = true;
    if (!_atlas) {
        _layoutSize = _dimensions;
        if (!_contentSizeOverridden) {
            Node::setContentSize(_layoutSize);
        }
        return;
    }
    const size_t n = _codePoints.size();
    // Glyphs first, paragraph by paragraph; then every measure below is the advance of what is
    // drawn. A code point's advance is that of the glyphs of the cluster it starts (one glyph per
    // character outside shaped text).
    _advances.assign(n, 0.0f);
    _insideCluster.assign(n, 0);
    for (size_t p = 0; p < n;) {
        size_t pEnd = p;
        while (pEnd < n && _codePoints[pEnd] != '\n') {
            ++pEnd;
        }
        const size_t first = _runs.size();
        shaping::shapeParagraph(*_atlas, _codePoints.data(), p, pEnd, _runs);
        for (size_t r = first; r < _runs.size(); ++r) {
            for (const shaping::Glyph& g : _runs[r].glyphs) {
                _advances[g.cluster] += g.advance;
            }
        }
        for (size_t i = p + 1; i < pEnd; ++i) {
            _insideCluster[i] = 1;
        }
        for (size_t r = first; r < _runs.size(); ++r) {
            for (const shaping::Glyph& g : _runs[r].glyphs) {
                _insideCluster[g.cluster] = 0;
            }
        }
        p = pEnd + 1; // past the '\n'
    }

    const float maxWidth = _dimensions.width;
    // A line is as wide as the advances of its characters, spaces included: a label of one space
    // is one space wide, so text laid out label by label keeps its spaces. Only the spaces at a
    // wrap, which are not shown, are left out.
    auto visibleEnd = [&](size_t begin, size_t end, bool wrapped) {
        while (wrapped && end > begin && isSpace(_codePoints[end - 1])) {
            --end;
        }
        return end;
    };
    auto emit = [&](size_t begin, size_t end, bool wrapped) {
        end = visibleEnd(begin, end, wrapped);
        float w = 0.0f;
        for (size_t i = begin; i < end; ++i) {
            w += _advances[i];
        }
        _lines.emplace_back(begin, end);
        _lineWidths.push_back(w);
    };

    size_t paragraph = 0;
    while (paragraph <= n && n > 0) {
        size_t paragraphEnd = paragraph;
        while (paragraphEnd < n && _codePoints[paragraphEnd] != '\n') {
            ++paragraphEnd;
        }
        size_t start = paragraph;
        float width = 0.0f;
        size_t lastBreak = 0; // 0: none (a break at the line start is never useful)
        for (size_t i = paragraph; i < paragraphEnd; ++i) {
            const char32_t cp = _codePoints[i];
            const float adv = _advances[i];
            const bool breakable = i > start && !isSpace(cp) && !_insideCluster[i];
            if (maxWidth > 0.0f && width + adv > maxWidth && breakable) {
                const size_t end = lastBreak > start ? lastBreak : i;
                emit(start, end, true);
                start = end;
                while (start < paragraphEnd && isSpace(_codePoints[start])) {
                    ++start;
                }
                width = 0.0f;
                for (size_t k = start; k < i; ++k) {
                    width += _advances[k];
                }
                lastBreak = 0;
            }
            if (isBreakableCJK(cp) && i > start) {
                lastBreak = i;
            }
            width += adv;
            if (isSpace(cp) || isBreakableCJK(cp)) {
                lastBreak = i + 1;
            }
        }
        emit(start, paragraphEnd, false);
        if (paragraphEnd >= n) {
            break;
        }
        paragraph = paragraphEnd + 1; // past the '\n'
    }

    const float lineHeight = _atlas->getLineHeight();
    const float textHeight = lineHeight * float(_lines.size());
    float widest = 0.0f;
    for (float w : _lineWidths) {
        widest = std::max(widest, w);
    }
    _layoutSize.width = maxWidth > 0.0f ? maxWidth : widest;
    _layoutSize.height = _dimensions.height > 0.0f ? _dimensions.height : textHeight;

    float blockTop = _layoutSize.height;
    if (_dimensions.height > 0.0f) {
        if (_vAlignment == TextVAlignment::CENTER) {
            blockTop = (_layoutSize.height + textHeight) / 2.0f;
        } else if (_vAlignment == TextVAlignment::BOTTOM) {
            blockTop = textHeight;
        }
    }
    static std::vector<const shaping::Glyph*> ordered; // scratch (labels are main-thread only)
    size_t firstRun = 0; // lines and runs both go forward through the text
    for (size_t line = 0; line < _lines.size(); ++line) {
        float pen = 0.0f;
        if (_hAlignment == TextHAlignment::CENTER) {
            pen = (_layoutSize.width - _lineWidths[line]) / 2.0f;
        } else if (_hAlignment == TextHAlignment::RIGHT) {
            pen = _layoutSize.width - _lineWidths[line];
        }
        const float baseline = blockTop - _atlas->getAscender() - lineHeight * float(line);
        while (firstRun < _runs.size() && _runs[firstRun].end <= _lines[line].first) {
            ++firstRun;
        }
        size_t lastRun = firstRun;
        while (lastRun < _runs.size() && _runs[lastRun].begin < _lines[line].second) {
            ++lastRun;
        }
        shaping::displayOrder(_runs.data() + firstRun, _runs.data() + lastRun, _lines[line].first,
                              _lines[line].second, ordered);
        for (const shaping::Glyph* g : ordered) {
            PlacedGlyph& placed = _placed.emplace_back();
            placed.key = g->key;
            placed.penX = pen + g->offsetX;
            placed.baseline = baseline + g->offsetY;
            placed.cluster = g->cluster;
            pen += g->advance;
        }
    }
    if (!_contentSizeOverridden) {
        Node::setContentSize(_layoutSize);
    }
}

// ---------------------------------------------------------------------------------------------
// drawing

void Label::rebuildQuads()
{
    _quadsDirty = false;
    _colorsDirty = true;
    for (PageBatch& b : _batches) {
        b.verts.clear();
        b.indices.clear();
        b.page = -1;
    }
    if (!_atlas || _placed.empty()) {
        return;
    }
    if (!_atlas->isCurrent()) {
        // The back-end changed under the label (pages of a GL context that is gone).
        FontAtlas* fresh = FontAtlas::getOrCreate(_atlas->getFontFile(), _atlas->getPixelSize());
        if (!fresh) {
            return;
        }
        fresh->retain();
        _atlas->release();
        _atlas = fresh;
        // Glyph keys name the faces of the atlas they came from: lay out again in the new one
        // (same font and size, so the same metrics).
        updateLayout();
        _quadsDirty = false;
    }
    // Rasterise first: new glyphs may open new pages.
    for (const PlacedGlyph& g : _placed) {
        _atlas->getGlyphByKey(g.key, true);
    }
    const size_t pages = _atlas->getPageCount();
    const size_t passes = _shadowEnabled ? 2 : 1;
    if (_batches.size() < pages * passes) {
        _batches.resize(pages * passes);
    }
    for (size_t pass = 0; pass < passes; ++pass) {
        const bool shadow = _shadowEnabled && pass == 0;
        const float dx = shadow ? _shadowOffset.width : 0.0f;
        const float dy = shadow ? _shadowOffset.height : 0.0f;
        for (size_t page = 0; page < pages; ++page) {
            PageBatch& batch = _batches[pass * pages + page];
            batch.page = int(page);
            batch.shadow = shadow;
            const float pageW = float(_atlas->getPage(page)->getPixelsWide());
            const float pageH = float(_atlas->getPage(page)->getPixelsHigh());
            for (const PlacedGlyph& placed : _placed) {
                const FontAtlas::Glyph& g = _atlas->getGlyphByKey(placed.key, true);
                if (!g.valid || g.page != int(page) || batch.verts.size() + 4 > 65535) {
                    continue;
                }
                const float x0 = placed.penX + g.bearingX + dx;
                const float y1 = placed.baseline + g.bearingY + dy;
                const float x1 = x0 + g.width;
                const float y0 = y1 - g.height;
                const float u0 = g.texRect.getMinX() / pageW;
                const float u1 = g.texRect.getMaxX() / pageW;
                const float v0 = g.texRect.getMinY() / pageH; // top row of the glyph
                const float v1 = g.texRect.getMaxY() / pageH;
                const auto base = static_cast<unsigned short>(batch.verts.size());
                batch.verts.push_back(V3F_C4B_T2F{Vec3(x0, y1, 0.0f), Color4B(), Tex2F(u0, v0)}); // tl
                batch.verts.push_back(V3F_C4B_T2F{Vec3(x0, y0, 0.0f), Color4B(), Tex2F(u0, v1)}); // bl
                batch.verts.push_back(V3F_C4B_T2F{Vec3(x1, y1, 0.0f), Color4B(), Tex2F(u1, v0)}); // tr
                batch.verts.push_back(V3F_C4B_T2F{Vec3(x1, y0, 0.0f), Color4B(), Tex2F(u1, v1)}); // br
                const unsigned short quad[6] = {0, 1, 2, 3, 2, 1};
                for (unsigned short q : quad) {
                    batch.indices.push_back(static_cast<unsigned short>(base + q));
                }
            }
        }
    }
}

void Label::rebuildColors()
{
    _colorsDirty = false;
    const GLubyte opacity = _displayedOpacity;
    const Color4B text = premultiplied(Color4B(GLubyte(_textColor.r * _displayedColor.r / 255),
                                               GLubyte(_textColor.g * _displayedColor.g / 255),
                                               GLubyte(_textColor.b * _displayedColor.b / 255),
                                               GLubyte(_textColor.a * opacity / 255)));
    const Color4B shadow = premultiplied(
        Color4B(_shadowColor.r, _shadowColor.g, _shadowColor.b, GLubyte(_shadowColor.a * opacity / 255)));
    for (PageBatch& b : _batches) {
        const Color4B& c = b.shadow ? shadow : text;
        for (V3F_C4B_T2F& v : b.verts) {
            v.colors = c;
        }
    }
}

int Label::buildQuadsForTest()
{
    if (_quadsDirty) {
        rebuildQuads();
    }
    int quads = 0;
    for (const PageBatch& b : _batches) {
        if (!b.shadow) {
            quads += int(b.verts.size() / 4);
        }
    }
    return quads;
}

std::vector<Label::GlyphForTest> Label::getGlyphsForTest() const
{
    std::vector<GlyphForTest> out;
    for (const PlacedGlyph& g : _placed) {
        if (g.key != FontAtlas::kNoGlyph) {
            out.push_back(GlyphForTest{_atlas->getFaceFile(FontAtlas::faceOf(g.key)),
                                       FontAtlas::glyphIndexOf(g.key), g.penX, g.baseline, g.cluster});
        }
    }
    return out;
}

void Label::draw(Renderer* renderer, const Mat4& transform, uint32_t flags)
{
    if (!_atlas || _placed.empty() || !_glProgramState) {
        return;
    }
    if (_quadsDirty || !_atlas->isCurrent()) {
        rebuildQuads();
    }
    if (_colorsDirty) {
        rebuildColors();
    }
    for (PageBatch& b : _batches) {
        if (b.indices.empty() || b.page < 0 || size_t(b.page) >= _atlas->getPageCount()) {
            continue;
        }
        TrianglesCommand::Triangles triangles;
        triangles.verts = b.verts.data();
        triangles.vertCount = int(b.verts.size());
        triangles.indices = b.indices.data();
        triangles.indexCount = int(b.indices.size());
        b.command.init(_globalZOrder, _atlas->getPage(size_t(b.page)), _glProgramState, _blendFunc, triangles,
                       transform, flags);
        b.command.setOwner(this);
        renderer->addCommand(&b.command);
    }
}

} // namespace cocos2d
