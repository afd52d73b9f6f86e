#include "isDrawNode.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace isImageSDK {

namespace {

constexpr int kInitialPoints = 64;
constexpr int kInitialLines = 256;
constexpr int kCirclePoints = 51;
constexpr float kCircleStep = 0.12566371f;  // 2 pi / 50
constexpr GLint kStippleFactor = 2;
constexpr GLushort kStipplePattern = 0x5555;
constexpr GLsizei kStride = sizeof(cocos2d::V3F_C4B_T2F);

cocos2d::Color4B toBytes(const cocos2d::Color4F& c)
{
    auto byte = [](float v) { return static_cast<GLubyte>(std::min(255.0f, std::max(0.0f, v * 255.0f))); };
    cocos2d::Color4B b;
    b.r = byte(c.r);
    b.g = byte(c.g);
    b.b = byte(c.b);
    b.a = byte(c.a);
    return b;
}

void setAttributePointers()
{
    cocos2d::GL::enableVertexAttribs(cocos2d::GL::VERTEX_ATTRIB_FLAG_POS_COLOR_TEX);
    glVertexAttribPointer(cocos2d::GLProgram::VERTEX_ATTRIB_POSITION, 3, GL_FLOAT, GL_FALSE, kStride,
                          reinterpret_cast<const void*>(offsetof(cocos2d::V3F_C4B_T2F, vertices)));
    glVertexAttribPointer(cocos2d::GLProgram::VERTEX_ATTRIB_COLOR, 4, GL_UNSIGNED_BYTE, GL_TRUE, kStride,
                          reinterpret_cast<const void*>(offsetof(cocos2d::V3F_C4B_T2F, colors)));
    glVertexAttribPointer(cocos2d::GLProgram::VERTEX_ATTRIB_TEX_COORD, 2, GL_FLOAT, GL_FALSE, kStride,
                          reinterpret_cast<const void*>(offsetof(cocos2d::V3F_C4B_T2F, texCoords)));
}

} // namespace

isDrawNode::~isDrawNode()
{
    releaseGL(m_points);
    releaseGL(m_lines);
    std::free(m_points.vertices);
    std::free(m_lines.vertices);
}

bool isDrawNode::init()
{
    if (!cocos2d::Node::init())
        return false;
    m_blendFunc = cocos2d::BlendFunc::ALPHA_PREMULTIPLIED;
    setGLProgramState(cocos2d::GLProgramState::getOrCreateWithGLProgramName(
        cocos2d::GLProgram::SHADER_NAME_POSITION_LENGTH_TEXTURE_COLOR));
    if (!reserve(m_points, kInitialPoints) || !reserve(m_lines, kInitialLines))
        return false;
    m_points.dirty = m_lines.dirty = true;
    removeCameraMask(1, true);
    return true;
}

bool isDrawNode::reserve(Array& array, int k)
{
    if (k <= 0 || array.count + k <= array.capacity)
        return true;
    const long long wanted = static_cast<long long>(array.capacity) + std::max(array.capacity, k);
    if (wanted > 0x7FFFFFFF / kStride)
        return false;
    void* grown = std::realloc(array.vertices, static_cast<size_t>(wanted) * kStride);
    if (!grown) {
        cocos2d::log("isDrawNode: out of memory for %lld vertices", wanted);
        return false;
    }
    array.vertices = static_cast<cocos2d::V3F_C4B_T2F*>(grown);
    array.capacity = static_cast<int>(wanted);
    array.dirty = true;  // the GL buffer is re-specified at the next upload
    return true;
}

void isDrawNode::append(Array& array, const cocos2d::Vec3& position, const cocos2d::Color4F& color, float u)
{
    cocos2d::V3F_C4B_T2F& v = array.vertices[array.count++];
    v.vertices = position;
    v.colors = toBytes(color);
    v.texCoords.u = u;
    v.texCoords.v = 0.0f;
}

void isDrawNode::drawPoint(const cocos2d::Vec3& position, float pointSize, const cocos2d::Color4F& color)
{
    if (!reserve(m_points, 1))
        return;
    append(m_points, position, color, pointSize);
    m_points.dirty = true;
}

void isDrawNode::drawLine(const cocos2d::Vec3& from, const cocos2d::Vec3& to, const cocos2d::Color4F& color)
{
    if (!reserve(m_lines, 2))
        return;
    append(m_lines, from, color, 0.0f);
    append(m_lines, to, color, 0.0f);
    m_lines.dirty = true;
}

void isDrawNode::drawPoly(const cocos2d::Vec3* points, int count, const cocos2d::Color4F& color)
{
    if (!points || count < 1 || !reserve(m_lines, 2 * count))
        return;
    for (int i = 0; i < count; ++i) {
        append(m_lines, points[i], color, 0.0f);
        append(m_lines, points[(i + 1) % count], color, 0.0f);
    }
    m_lines.dirty = true;
}

void isDrawNode::drawCircle(const cocos2d::Vec3& centre, const cocos2d::Vec3& axisA, const cocos2d::Vec3& axisB,
                            float radius, float startAngle, float scaleA, float scaleB, const cocos2d::Color4F& color)
{
    cocos2d::Vec3 points[kCirclePoints];
    for (int i = 0; i < kCirclePoints; ++i) {
        const float t = static_cast<float>(i) * kCircleStep + startAngle;
        points[i] = centre + axisA * (radius * std::cos(t) * scaleA) + axisB * (radius * std::sin(t) * scaleB);
    }
    drawPoly(points, kCirclePoints, color);
}

void isDrawNode::clear()
{
    m_points.count = 0;
    m_lines.count = 0;
    m_lines.dirty = true;
}

void isDrawNode::draw(cocos2d::Renderer* renderer, const cocos2d::Mat4& transform, uint32_t flags)
{
    if (m_points.count == 0 && m_lines.count == 0)
        return;
    m_renderer = renderer;
    beginScissor();
    for (Array* array : {&m_points, &m_lines}) {
        if (array->count == 0)
            continue;
        const bool lines = array == &m_lines;
        array->command.init(_globalZOrder, transform, flags);
        array->command.setOwner(this);
        array->command.func = [this, array, lines] { runPass(*array, lines, array->command.getTransform()); };
        // For the renderer's still-frame check: what runPass reads besides the transform.
        array->command.declareInputs();
        array->command.addInput(array->vertices, static_cast<size_t>(array->count) * sizeof(cocos2d::V3F_C4B_T2F));
        array->command.addInput(&m_lineWidth, sizeof m_lineWidth);
        array->command.addInput(&m_stipple, sizeof m_stipple);
        array->command.addInput(&m_blendFunc, sizeof m_blendFunc);
        renderer->addCommand(&array->command);
    }
    endScissor();
}

void isDrawNode::releaseGL(Array& array)
{
    if (array.generation == cocos2d::GL::getContextGeneration() && cocos2d::GL::isContextAlive() &&
        cocos2d::PoolManager::isMainThread()) {
        if (array.buffer)
            glDeleteBuffers(1, &array.buffer);
        if (array.vertexArray) {
            cocos2d::GL::bindVAO(0);
            glDeleteVertexArrays(1, &array.vertexArray);
        }
    }
    array.buffer = 0;
    array.vertexArray = 0;
}

void isDrawNode::runPass(Array& array, bool lines, const cocos2d::Mat4& transform)
{
    cocos2d::GLProgram* program = cocos2d::GLProgramCache::getInstance()->getGLProgram(
        lines ? cocos2d::GLProgram::SHADER_NAME_POSITION_LENGTH_TEXTURE_COLOR
              : cocos2d::GLProgram::SHADER_NAME_POSITION_COLOR_TEXASPOINTSIZE);
    if (!program)
        return;
    program->use();
    program->setUniformsForBuiltins(transform);
    cocos2d::GL::blendFunc(m_blendFunc.src, m_blendFunc.dst);

    const bool shareVertexArrays = cocos2d::Configuration::getInstance()->supportsShareableVAO();
    const unsigned int generation = cocos2d::GL::getContextGeneration();
    if (array.generation != generation || !array.buffer) {
        // First draw in this context (names of an earlier context are stale, not ours to use).
        array.buffer = 0;
        array.vertexArray = 0;
        glGenBuffers(1, &array.buffer);
        array.generation = generation;
        array.dirty = true;
        if (shareVertexArrays) {
            glGenVertexArrays(1, &array.vertexArray);
            cocos2d::GL::bindVAO(array.vertexArray);
            glBindBuffer(GL_ARRAY_BUFFER, array.buffer);
            setAttributePointers();
            cocos2d::GL::bindVAO(0);
            glBindBuffer(GL_ARRAY_BUFFER, 0);
        }
    }
    if (array.dirty) {
        glBindBuffer(GL_ARRAY_BUFFER, array.buffer);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(array.capacity) * kStride, array.vertices,
                     GL_STREAM_DRAW);
        array.dirty = false;
    }
    if (array.vertexArray) {
        cocos2d::GL::bindVAO(array.vertexArray);
    } else {
        glBindBuffer(GL_ARRAY_BUFFER, array.buffer);
        setAttributePointers();
    }
    if (lines) {
        if (m_stipple) {
            glLineStipple(kStippleFactor, kStipplePattern);
            glEnable(GL_LINE_STIPPLE);
        }
        glLineWidth(static_cast<GLfloat>(m_lineWidth));
        glDrawArrays(GL_LINES, 0, array.count);
        if (m_stipple)
            glDisable(GL_LINE_STIPPLE);
    } else {
        glDrawArrays(GL_POINTS, 0, array.count);
    }
    if (array.vertexArray)
        cocos2d::GL::bindVAO(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    if (m_renderer) {
        m_renderer->addDrawnBatches(1);
        m_renderer->addDrawnVertices(array.count);
    }
}

} // namespace isImageSDK
