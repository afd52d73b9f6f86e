#include "2d/CCDrawNode.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "base/CCAutoreleasePool.h"
#include "base/CCDirector.h"
#include "renderer/CCGLProgram.h"
#include "renderer/CCGLProgramState.h"
#include "renderer/CCRenderer.h"
#include "renderer/ccGLStateCache.h"

namespace cocos2d {

DrawNode* DrawNode::create()
{
    DrawNode* node = new (std::nothrow) DrawNode();
    if (node && node->init()) {
        node->autorelease();
        return node;
    }
    delete node;
    return nullptr;
}

DrawNode::~DrawNode()
{
    for (Buffer* b : {&_triangles, &_lines}) {
        if (b->vbo != 0 && GL::isContextAlive() && b->generation == GL::getContextGeneration() &&
            PoolManager::isMainThread()) {
            glDeleteBuffers(1, &b->vbo);
        }
    }
}

bool DrawNode::init()
{
    if (!Node::init()) {
        return false;
    }
    setGLProgramState(GLProgramState::getOrCreateWithGLProgramName(GLProgram::SHADER_NAME_POSITION_LENGTH_TEXTURE_COLOR));
    _triangles.vertices.reserve(64);
    _lines.vertices.reserve(64);
    _triangles.command.func = [this] { drawBuffer(_triangles, GL_TRIANGLES); };
    _lines.command.func = [this] { drawBuffer(_lines, GL_LINES); };
    return true;
}

void DrawNode::addVertex(Buffer& buffer, const Vec2& p, const Color4B& color, const Tex2F& tex)
{
    buffer.vertices.push_back(V3F_C4B_T2F{Vec3(p.x, p.y, 0.0f), color, tex});
    buffer.dirty = true;
}

void DrawNode::drawRect(const Vec2& origin, const Vec2& dest, const Color4F& color)
{
    const Vec2 points[4] = {origin, Vec2(dest.x, origin.y), dest, Vec2(origin.x, dest.y)};
    drawPoly(points, 4, true, color);
}

void DrawNode::drawSolidRect(const Vec2& origin, const Vec2& dest, const Color4F& color)
{
    const Vec2 points[4] = {origin, Vec2(dest.x, origin.y), dest, Vec2(origin.x, dest.y)};
    drawSolidPoly(points, 4, color);
}

void DrawNode::drawLine(const Vec2& from, const Vec2& to, const Color4F& color)
{
    const Color4B c(color);
    addVertex(_lines, from, c);
    addVertex(_lines, to, c);
}

void DrawNode::drawDashedLine(const Vec2& from, const Vec2& to, float dashLength, float gapLength,
                              const Color4F& color)
{
    const Vec2 d = to - from;
    const float length = d.length();
    if (dashLength <= 0.0f || gapLength <= 0.0f || length <= dashLength) {
        drawLine(from, to, color);
        return;
    }
    const Vec2 dir = d / length;
    const Color4B c(color);
    for (float t = 0.0f; t < length; t += dashLength + gapLength) {
        const float end = std::min(t + dashLength, length);
        addVertex(_lines, from + dir * t, c);
        addVertex(_lines, from + dir * end, c);
    }
}

void DrawNode::drawPoly(const Vec2* points, unsigned int numberOfPoints, bool closePolygon, const Color4F& color)
{
    if (!points || numberOfPoints < 2) {
        return;
    }
    const Color4B c(color);
    for (unsigned int i = 0; i + 1 < numberOfPoints; ++i) {
        addVertex(_lines, points[i], c);
        addVertex(_lines, points[i + 1], c);
    }
    if (closePolygon && numberOfPoints > 2) {
        addVertex(_lines, points[numberOfPoints - 1], c);
        addVertex(_lines, points[0], c);
    }
}

void DrawNode::drawSolidPoly(const Vec2* points, unsigned int numberOfPoints, const Color4F& color)
{
    if (!points || numberOfPoints < 3) {
        return;
    }
    const Color4B c(color);
    for (unsigned int i = 1; i + 1 < numberOfPoints; ++i) {
        addVertex(_triangles, points[0], c);
        addVertex(_triangles, points[i], c);
        addVertex(_triangles, points[i + 1], c);
    }
}

void DrawNode::drawDot(const Vec2& pos, float radius, const Color4F& color)
{
    if (radius <= 0.0f) {
        return;
    }
    // A square around the disc; texture coordinates run -1..1 so that the program keeps exactly
    // the fragments inside the unit circle.
    const Color4B c(color);
    const Vec2 a(pos.x - radius, pos.y - radius);
    const Vec2 b(pos.x + radius, pos.y - radius);
    const Vec2 d(pos.x - radius, pos.y + radius);
    const Vec2 e(pos.x + radius, pos.y + radius);
    addVertex(_triangles, a, c, Tex2F(-1.0f, -1.0f));
    addVertex(_triangles, b, c, Tex2F(1.0f, -1.0f));
    addVertex(_triangles, d, c, Tex2F(-1.0f, 1.0f));
    addVertex(_triangles, e, c, Tex2F(1.0f, 1.0f));
    addVertex(_triangles, d, c, Tex2F(-1.0f, 1.0f));
    addVertex(_triangles, b, c, Tex2F(1.0f, -1.0f));
}

void DrawNode::drawCircle(const Vec2& center, float radius, float angle, unsigned int segments,
                          bool drawLineToCenter, const Color4F& color)
{
    if (segments < 3 || radius <= 0.0f) {
        return;
    }
    const float step = 2.0f * float(M_PI) / float(segments);
    const Color4B c(color);
    Vec2 previous(center.x + radius * std::cos(angle), center.y + radius * std::sin(angle));
    const Vec2 start = previous;
    for (unsigned int i = 1; i <= segments; ++i) {
        const float a = angle + step * float(i);
        const Vec2 next = i == segments ? start : Vec2(center.x + radius * std::cos(a), center.y + radius * std::sin(a));
        addVertex(_lines, previous, c);
        addVertex(_lines, next, c);
        previous = next;
    }
    if (drawLineToCenter) {
        addVertex(_lines, start, c);
        addVertex(_lines, center, c);
    }
}

void DrawNode::drawSolidCircle(const Vec2& center, float radius, unsigned int segments, const Color4F& color)
{
    if (segments < 3 || radius <= 0.0f) {
        return;
    }
    const float step = 2.0f * float(M_PI) / float(segments);
    const Color4B c(color);
    for (unsigned int i = 0; i < segments; ++i) {
        const float a0 = step * float(i);
        const float a1 = step * float(i + 1);
        addVertex(_triangles, center, c);
        addVertex(_triangles, Vec2(center.x + radius * std::cos(a0), center.y + radius * std::sin(a0)), c);
        addVertex(_triangles, Vec2(center.x + radius * std::cos(a1), center.y + radius * std::sin(a1)), c);
    }
}

void DrawNode::clear()
{
    _triangles.vertices.clear();
    _lines.vertices.clear();
    _triangles.dirty = true;
    _lines.dirty = true;
}

void DrawNode::draw(Renderer* renderer, const Mat4& transform, uint32_t flags)
{
    _drawTransform = transform;
    for (Buffer* b : {&_triangles, &_lines}) {
        if (b->vertices.empty()) {
            continue;
        }
        b->command.init(_globalZOrder, transform, flags);
        b->command.setOwner(this);
        // What drawBuffer reads besides the transform: the vertices, line width, blending and
        // program.
        b->command.declareInputs();
        b->command.addInput(b->vertices.data(), b->vertices.size() * sizeof(V3F_C4B_T2F));
        b->command.addInput(&_lineWidth, sizeof _lineWidth);
        b->command.addInput(&_blendFunc, sizeof _blendFunc);
        b->command.addInputValue(_glProgramState ? _glProgramState->getGLProgram()->getIdentity() : 0);
        renderer->addCommand(&b->command);
    }
}

void DrawNode::drawBuffer(Buffer& buffer, GLenum mode)
{
    if (buffer.vertices.empty() || !_glProgramState) {
        return;
    }
    _glProgramState->apply(_drawTransform);
    GL::blendFunc(_blendFunc.src, _blendFunc.dst);
    GL::bindVAO(0);
    if (buffer.vbo != 0 && buffer.generation != GL::getContextGeneration()) {
        buffer.vbo = 0; // made in a context that is gone
    }
    if (buffer.vbo == 0) {
        glGenBuffers(1, &buffer.vbo);
        buffer.generation = GL::getContextGeneration();
        buffer.uploadedCapacity = 0;
        buffer.dirty = true;
    }
    glBindBuffer(GL_ARRAY_BUFFER, buffer.vbo);
    if (buffer.dirty) {
        const GLsizeiptr bytes = GLsizeiptr(buffer.vertices.size() * sizeof(V3F_C4B_T2F));
        if (buffer.vertices.size() > buffer.uploadedCapacity) {
            // Room for the whole reserved array, so that small additions upload without
            // re-specifying the buffer.
            buffer.uploadedCapacity = buffer.vertices.capacity();
            glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(buffer.uploadedCapacity * sizeof(V3F_C4B_T2F)), nullptr,
                         GL_DYNAMIC_DRAW);
        }
        glBufferSubData(GL_ARRAY_BUFFER, 0, bytes, buffer.vertices.data());
        buffer.dirty = false;
    }
    GL::enableVertexAttribs(GL::VERTEX_ATTRIB_FLAG_POS_COLOR_TEX);
    const GLsizei stride = sizeof(V3F_C4B_T2F);
    glVertexAttribPointer(GLProgram::VERTEX_ATTRIB_POSITION, 3, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(offsetof(V3F_C4B_T2F, vertices)));
    glVertexAttribPointer(GLProgram::VERTEX_ATTRIB_COLOR, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                          reinterpret_cast<const void*>(offsetof(V3F_C4B_T2F, colors)));
    glVertexAttribPointer(GLProgram::VERTEX_ATTRIB_TEX_COORD, 2, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(offsetof(V3F_C4B_T2F, texCoords)));
    if (mode == GL_LINES) {
        glLineWidth(_lineWidth);
    }
    glDrawArrays(mode, 0, GLsizei(buffer.vertices.size()));
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    Renderer* renderer = Director::getInstance()->getRenderer();
    renderer->addDrawnBatches(1);
    renderer->addDrawnVertices(ssize_t(buffer.vertices.size()));
}

} // namespace cocos2d
