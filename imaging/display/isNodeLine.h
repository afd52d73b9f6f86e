// isNodeLine: coloured line segments placed in 3D (patient space, millimetres), such as the
// reference lines of the other planes drawn over a slice. The owner empties the segments and
// adds them again whenever they change. Vertices are 16-byte records (position as three floats,
// colour as four bytes) drawn from client memory with one GL_LINES call of the node's own
// width. Drawn only through the render windows' cameras (`init` removes the default camera's
// flag). Main thread only.
#pragma once

#include "isNodeObject.h"

#include "cocos2d.h"

#include <vector>

namespace isImageSDK {

class isNodeLine : public cocos2d::Node, public cocos2d::ClippingProtocol, public isNodeObject {
public:
    struct Vertex {
        cocos2d::Vec3 position;
        cocos2d::Color4B color;
    };
    static_assert(sizeof(Vertex) == 16, "the line pass reads 16-byte vertices");

    CREATE_FUNC(isNodeLine);

    // Line width 4, position-colour program, default camera removed.
    bool init() override;

    // Appends the segment from-to (two vertices).
    void addLine(const cocos2d::Vec3& from, const cocos2d::Vec3& to, const cocos2d::Color4F& color);
    void clearLines() { m_vertices.clear(); }

    void setLineWidth(int width) { m_lineWidth = width; }
    int getLineWidth() const { return m_lineWidth; }
    const std::vector<Vertex>& getVertices() const { return m_vertices; }

    // One command between the clipping protocol's scissor pair; nothing without vertices.
    void draw(cocos2d::Renderer* renderer, const cocos2d::Mat4& transform, uint32_t flags) override;

protected:
    isNodeLine() = default;

private:
    void runPass(const cocos2d::Mat4& transform);

    std::vector<Vertex> m_vertices;
    int m_lineWidth = 4;
    cocos2d::CustomCommand m_command;
    cocos2d::Renderer* m_renderer = nullptr;
};

} // namespace isImageSDK
