// DrawNode: a 2D node that draws coloured primitives given in node space.
//
// Solid shapes (rectangles, polygons, dots) are triangles; outlines and lines are GL lines drawn
// with the node's line width (glLineWidth, set before every draw). Dots are quads whose fragments
// outside the inscribed circle are cut away by the line program. Colours are straight (not
// premultiplied); the program premultiplies, and blending uses ALPHA_PREMULTIPLIED.
//
// Drawing issues one custom command per non-empty buffer (triangles, then lines); an empty node
// issues none. The vertices are uploaded once after each change, not per frame. clear() empties
// both buffers.
#pragma once

#include <vector>

#include "base/ccTypes.h"
#include "node/CCNode.h"
#include "renderer/CCCustomCommand.h"

namespace cocos2d {

class DrawNode : public Node {
public:
    static DrawNode* create();
    bool init() override;

    void setLineWidth(float lineWidth) { _lineWidth = lineWidth; }
    float getLineWidth() const { return _lineWidth; }

    // Outline of the axis-aligned rectangle with corners origin and dest.
    void drawRect(const Vec2& origin, const Vec2& dest, const Color4F& color);
    void drawSolidRect(const Vec2& origin, const Vec2& dest, const Color4F& color);
    void drawLine(const Vec2& from, const Vec2& to, const Color4F& color);
    // A dashed line: dashes of dashLength separated by gaps of gapLength, starting with a dash at
    // from (node units). Non-positive lengths draw a solid line.
    void drawDashedLine(const Vec2& from, const Vec2& to, float dashLength, float gapLength, const Color4F& color);
    // The outline through the points, closed back to the first when asked.
    void drawPoly(const Vec2* points, unsigned int numberOfPoints, bool closePolygon, const Color4F& color);
    // A filled convex polygon (a fan from the first point).
    void drawSolidPoly(const Vec2* points, unsigned int numberOfPoints, const Color4F& color);
    // A filled disc.
    void drawDot(const Vec2& pos, float radius, const Color4F& color);
    // The circle's outline in `segments` straight pieces, starting at angle (radians), with a
    // line from the centre to the start when asked.
    void drawCircle(const Vec2& center, float radius, float angle, unsigned int segments, bool drawLineToCenter,
                    const Color4F& color);
    void drawSolidCircle(const Vec2& center, float radius, unsigned int segments, const Color4F& color);

    void clear();

    const BlendFunc& getBlendFunc() const { return _blendFunc; }
    void setBlendFunc(const BlendFunc& blendFunc) { _blendFunc = blendFunc; }

    // [hook] Vertex counts of the two buffers.
    size_t getTriangleVertexCount() const { return _triangles.vertices.size(); }
    size_t getLineVertexCount() const { return _lines.vertices.size(); }

    void draw(Renderer* renderer, const Mat4& transform, uint32_t flags) override;

protected:
    DrawNode() = default;
    ~DrawNode() override;

    struct Buffer {
        std::vector<V3F_C4B_T2F> vertices;
        GLuint vbo = 0;
        unsigned int generation = 0; // GL context generation of vbo
        size_t uploadedCapacity = 0; // vertices the GL buffer holds room for
        bool dirty = true;
        CustomCommand command;
    };

    void addVertex(Buffer& buffer, const Vec2& p, const Color4B& color, const Tex2F& tex = Tex2F(0.0f, 0.0f));
    void drawBuffer(Buffer& buffer, GLenum mode);

    Buffer _triangles;
    Buffer _lines;
    float _lineWidth = 1.0f;
    BlendFunc _blendFunc = BlendFunc::ALPHA_PREMULTIPLIED;
    Mat4 _drawTransform;
};

} // namespace cocos2d
