// isDrawNode: the primitive drawing node of the measurement actors. It collects coloured
// points and line segments with 3D positions (patient space, millimetres, where the image
// nodes place the slices) and draws them with one draw call per kind: points with their own
// size, lines with a chosen width and, when asked, stippled (factor 2, pattern 0x5555).
//
// Vertices are the framework's 24-byte V3F_C4B_T2F: position at byte 0, colour (normalised
// bytes) at 12, texture coordinate at 16 (for points: the point size, 0). Both arrays grow by
// at least doubling and are uploaded whole only after a change. The GL buffers are made the
// first time the node draws with a GL context; headless, the node still collects and issues
// its (recorded) commands.
//
// The node changes line stipple, line width and blending only inside its own commands and
// turns stipple off again after its lines. It draws only through the render windows'
// cameras (`init` removes the default camera's flag). Main thread only.
#pragma once

#include "isNodeObject.h"

#include "cocos2d.h"

namespace isImageSDK {

class isDrawNode : public cocos2d::Node, public cocos2d::ClippingProtocol, public isNodeObject {
public:
    // Allocated, init()ed and autoreleased; null when init fails.
    CREATE_FUNC(isDrawNode);

    bool init() override;

    // One point of the given size (pixels).
    void drawPoint(const cocos2d::Vec3& position, float pointSize, const cocos2d::Color4F& color);
    void drawLine(const cocos2d::Vec3& from, const cocos2d::Vec3& to, const cocos2d::Color4F& color);
    // The closed outline p[0]-p[1], ..., p[n-2]-p[n-1], p[n-1]-p[0]: 2 x n line vertices.
    void drawPoly(const cocos2d::Vec3* points, int count, const cocos2d::Color4F& color);
    // 51 points centre + r cos(t) sA A + r sin(t) sB B, t = a0 + i x 2 pi / 50, drawn as a
    // closed outline (the last point repeats the first).
    void drawCircle(const cocos2d::Vec3& centre, const cocos2d::Vec3& axisA, const cocos2d::Vec3& axisB, float radius,
                    float startAngle, float scaleA, float scaleB, const cocos2d::Color4F& color);
    // Empties both arrays (the owners redraw from scratch).
    void clear();

    void setLineWidth(int width) { m_lineWidth = width; }
    int getLineWidth() const { return m_lineWidth; }
    void setStipple(bool stipple) { m_stipple = stipple; }
    bool isStipple() const { return m_stipple; }

    int getPointCount() const { return m_points.count; }
    int getLineVertexCount() const { return m_lines.count; }
    const cocos2d::V3F_C4B_T2F* getPointVertices() const { return m_points.vertices; }
    const cocos2d::V3F_C4B_T2F* getLineVertices() const { return m_lines.vertices; }

    // Points, then lines, each a custom command between the clipping protocol's scissor pair;
    // an empty node issues nothing.
    void draw(cocos2d::Renderer* renderer, const cocos2d::Mat4& transform, uint32_t flags) override;

protected:
    isDrawNode() = default;
    ~isDrawNode() override;

private:
    struct Array {
        int capacity = 0;
        int count = 0;
        cocos2d::V3F_C4B_T2F* vertices = nullptr;  // malloc'd, capacity entries
        GLuint buffer = 0;
        GLuint vertexArray = 0;
        unsigned int generation = 0;  // GL context generation of buffer and vertexArray
        bool dirty = true;
        cocos2d::CustomCommand command;
    };

    // Room for k more vertices; false (the vertices are dropped) when memory runs out.
    bool reserve(Array& array, int k);
    void append(Array& array, const cocos2d::Vec3& position, const cocos2d::Color4F& color, float u);
    // The GL side of one array: buffers made for the current context, uploaded when dirty.
    void runPass(Array& array, bool lines, const cocos2d::Mat4& transform);
    void releaseGL(Array& array);

    Array m_points;
    Array m_lines;
    int m_lineWidth = 4;
    bool m_stipple = false;
    cocos2d::BlendFunc m_blendFunc = cocos2d::BlendFunc::ALPHA_PREMULTIPLIED;
    cocos2d::Renderer* m_renderer = nullptr;  // of the current draw, for the batch counters
};

} // namespace isImageSDK
