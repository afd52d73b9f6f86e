#include "isNodeLine.h"

#include <cstddef>

namespace isImageSDK {

bool isNodeLine::init()
{
    if (!cocos2d::Node::init())
        return false;
    m_lineWidth = 4;
    setGLProgramState(
        cocos2d::GLProgramState::getOrCreateWithGLProgramName(cocos2d::GLProgram::SHADER_NAME_POSITION_COLOR));
    removeCameraMask(1, true);
    return true;
}

void isNodeLine::addLine(const cocos2d::Vec3& from, const cocos2d::Vec3& to, const cocos2d::Color4F& color)
{
    const cocos2d::Color4B bytes(color);
    m_vertices.push_back(Vertex{from, bytes});
    m_vertices.push_back(Vertex{to, bytes});
}

void isNodeLine::draw(cocos2d::Renderer* renderer, const cocos2d::Mat4& transform, uint32_t flags)
{
    if (m_vertices.empty())
        return;
    m_renderer = renderer;
    beginScissor();
    m_command.init(_globalZOrder, transform, flags);
    m_command.setOwner(this);
    m_command.set3D(isDepthTestEnabled());
    m_command.func = [this] { runPass(m_command.getTransform()); };
    // For the renderer's still-frame check: what runPass reads besides the transform.
    m_command.declareInputs();
    m_command.addInput(m_vertices.data(), m_vertices.size() * sizeof(Vertex));
    m_command.addInput(&m_lineWidth, sizeof m_lineWidth);
    renderer->addCommand(&m_command);
    endScissor();
}

void isNodeLine::runPass(const cocos2d::Mat4& transform)
{
    if (m_vertices.empty())
        return;
    cocos2d::GLProgram* program =
        cocos2d::GLProgramCache::getInstance()->getGLProgram(cocos2d::GLProgram::SHADER_NAME_POSITION_COLOR);
    if (!program)
        return;
    program->use();
    program->setUniformsForBuiltins(transform);
    cocos2d::GL::bindVAO(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    cocos2d::GL::enableVertexAttribs(cocos2d::GL::VERTEX_ATTRIB_FLAG_POSITION | cocos2d::GL::VERTEX_ATTRIB_FLAG_COLOR);
    const char* base = reinterpret_cast<const char*>(m_vertices.data());
    glVertexAttribPointer(cocos2d::GLProgram::VERTEX_ATTRIB_POSITION, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                          base + offsetof(Vertex, position));
    glVertexAttribPointer(cocos2d::GLProgram::VERTEX_ATTRIB_COLOR, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(Vertex),
                          base + offsetof(Vertex, color));
    glLineWidth(static_cast<GLfloat>(m_lineWidth));
    glDrawArrays(GL_LINES, 0, static_cast<GLsizei>(m_vertices.size()));
    if (m_renderer) {
        m_renderer->addDrawnBatches(1);
        m_renderer->addDrawnVertices(static_cast<int>(m_vertices.size()));
    }
}

} // namespace isImageSDK
