#include "renderer/CCRenderer.h"

#include <algorithm>
#include <cmath>

#include "base/CCDirector.h"
#include "base/ccMacros.h"
#include "node/CCScene.h"
#include "platform/CCFileUtils.h"
#include "platform/CCGLView.h"
#include "renderer/CCCamera.h"
#include "renderer/CCCustomCommand.h"
#include "renderer/CCGLProgram.h"
#include "renderer/CCGLProgramState.h"
#include "renderer/CCImage.h"
#include "renderer/CCScissorCommand.h"
#include "renderer/CCTrianglesCommand.h"
#include "renderer/ccGLStateCache.h"

namespace cocos2d {

Renderer::Renderer()
{
    _commands.reserve(256);
    _batchVerts.reserve(4096);
    _batchIndices.reserve(6144);
    _records.reserve(256);
}

Renderer::~Renderer()
{
    // Every capture is answered exactly once, also when the renderer goes away first.
    std::vector<Capture> pending;
    pending.swap(_captures);
    for (const Capture& c : pending) {
        if (c.done) {
            c.done(false, c.file);
        }
    }
}

void Renderer::addCommand(RenderCommand* command)
{
    if (command) {
        _commands.push_back(command);
    }
}

// ---------------------------------------------------------------------------------------------
// culling

bool Renderer::checkVisibility(const Mat4& transform, const Size& size)
{
    Camera* visiting = Camera::getVisitingCamera();
    if (!visiting || visiting != Camera::getDefaultCamera()) {
        return true;
    }
    const Mat4 mvp = visiting->getViewProjectionMatrix() * transform;
    const float xs[2] = {0.0f, size.width};
    const float ys[2] = {0.0f, size.height};
    float minX = 1e30f, maxX = -1e30f, minY = 1e30f, maxY = -1e30f;
    for (float x : xs) {
        for (float y : ys) {
            Vec4 p(x, y, 0.0f, 1.0f);
            mvp.transformVector(&p);
            if (p.w <= 0.0f) {
                return true; // behind the eye: let the GPU clip it
            }
            const float nx = p.x / p.w;
            const float ny = p.y / p.w;
            minX = std::min(minX, nx);
            maxX = std::max(maxX, nx);
            minY = std::min(minY, ny);
            maxY = std::max(maxY, ny);
        }
    }
    // A little slack for wide lines and rounding at the edges.
    const float slack = 0.01f;
    return maxX >= -1.0f - slack && minX <= 1.0f + slack && maxY >= -1.0f - slack && minY <= 1.0f + slack;
}

// ---------------------------------------------------------------------------------------------
// frame and passes

void Renderer::beginFrame(const Color4F& clearColor)
{
    _records.clear();
    _passes.clear();
    _drawnBatches = 0;
    _drawnVertices = 0;
    _clipStack.clear();
    _gl = GL::isEnabled();
    if (_gl) {
        GL::invalidateStateCache();
        _depthTest = -1;
        applyFullViewport();
        glDisable(GL_SCISSOR_TEST);
        _scissor = ScissorState{false, 0, 0, 0, 0};
        _scissorStack.clear();
        glClearColor(clearColor.r, clearColor.g, clearColor.b, clearColor.a);
        glDepthMask(GL_TRUE);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    }
}

void Renderer::renderScene(Scene* scene)
{
    if (!scene) {
        return;
    }
    _passCameras.assign(scene->getCameras().begin(), scene->getCameras().end());
    // Pass order; an insertion sort (few cameras, no allocation).
    for (size_t i = 1; i < _passCameras.size(); ++i) {
        Camera* c = _passCameras[i];
        size_t j = i;
        while (j > 0 && Camera::drawsBefore(c, _passCameras[j - 1])) {
            _passCameras[j] = _passCameras[j - 1];
            --j;
        }
        _passCameras[j] = c;
    }
    for (Camera* camera : _passCameras) {
        camera->retain(); // a visit may remove a camera from the scene
    }
    for (Camera* camera : _passCameras) {
        // A camera an earlier pass's visit took out of the scene makes no pass.
        const auto& registered = scene->getCameras();
        if (!camera->isVisible() || std::find(registered.begin(), registered.end(), camera) == registered.end()) {
            continue;
        }
        Camera::setVisitingCamera(camera);
        _passes.push_back(PassRecord{camera, camera->getCameraFlag(), camera->getDepth(), false, _records.size(), 0});
        camera->applyViewport();
        clearDepthForPass();
        camera->clearBackground();
        scene->visit(this, Mat4::IDENTITY, 0);
        render();
        _passes.back().commandCount = _records.size() - _passes.back().firstCommand;
    }
    Camera::setVisitingCamera(nullptr);
    for (Camera* camera : _passCameras) {
        camera->release();
    }
    _passCameras.clear();
}

void Renderer::applyFullViewport()
{
    if (!GL::isEnabled()) {
        return;
    }
    GLView* view = Director::getInstance()->getOpenGLView();
    if (!view) {
        return;
    }
    const Rect vp = view->getViewPortRect();
    const Size fb = view->getFramebufferSize();
    const Size frame = view->getFrameSize();
    const float sx = frame.width > 0.0f ? fb.width / frame.width : 1.0f;
    const float sy = frame.height > 0.0f ? fb.height / frame.height : 1.0f;
    glViewport(GLint(std::lround(vp.origin.x * sx)), GLint(std::lround(vp.origin.y * sy)),
               GLsizei(std::lround(vp.size.width * sx)), GLsizei(std::lround(vp.size.height * sy)));
}

void Renderer::clearDepthForPass()
{
    if (!_passes.empty()) {
        _passes.back().depthCleared = true;
    }
    if (GL::isEnabled()) {
        glDepthMask(GL_TRUE);
        glClear(GL_DEPTH_BUFFER_BIT);
    }
}

void Renderer::render()
{
    renderFrom(0);
}

void Renderer::renderFrom(size_t mark)
{
    if (mark >= _commands.size()) {
        return;
    }
    _gl = GL::isEnabled();
    _depthTest = -1;
    _groupNeg.clear();
    _group3D.clear();
    _group2D.clear();
    _groupPos.clear();
    uint32_t sequence = 0;
    for (size_t i = mark; i < _commands.size(); ++i) {
        RenderCommand* c = _commands[i];
        const float z = c->getGlobalOrder();
        if (z < 0.0f) {
            _groupNeg.push_back(Ordered{z, sequence, c});
        } else if (z > 0.0f) {
            _groupPos.push_back(Ordered{z, sequence, c});
        } else if (c->is3D()) {
            _group3D.push_back(c);
        } else {
            _group2D.push_back(c);
        }
        ++sequence;
    }
    std::sort(_groupNeg.begin(), _groupNeg.end());
    std::sort(_groupPos.begin(), _groupPos.end());
    auto endGroup = [this] {
        flushTriangles();
        // A scissor left open by an unbalanced pair ends with its group.
        resetScissor();
    };
    for (const Ordered& o : _groupNeg) {
        executeCommand(o.command);
    }
    endGroup();
    for (auto* group : {&_group3D, &_group2D}) {
        for (RenderCommand* c : *group) {
            executeCommand(c);
        }
        endGroup();
    }
    for (const Ordered& o : _groupPos) {
        executeCommand(o.command);
    }
    endGroup();
    _commands.resize(mark);
    if (_gl) {
        setDepthTest(false);
    }
}

void Renderer::executeCommand(RenderCommand* command)
{
    const Camera* camera = Camera::getVisitingCamera();
    CommandRecord record{command->getType(), command->getGlobalOrder(), command->is3D(),
                         static_cast<unsigned short>(camera ? camera->getCameraFlag() : 0), command->getOwner(),
                         command, Rect::ZERO};
    switch (command->getType()) {
    case RenderCommand::Type::TRIANGLES_COMMAND:
        batchTriangles(static_cast<TrianglesCommand*>(command));
        break;
    case RenderCommand::Type::CUSTOM_COMMAND:
        flushTriangles();
        if (_gl) {
            setDepthTest(command->is3D());
            static_cast<CustomCommand*>(command)->execute();
            // The callback may have changed anything the caches know about.
            GL::invalidateStateCache();
            glBindBuffer(GL_ARRAY_BUFFER, 0);
            glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
            _depthTest = -1;
        }
        break;
    case RenderCommand::Type::SCISSOR_BEGIN_COMMAND:
        flushTriangles();
        record.clipRect = static_cast<ScissorCommand*>(command)->getClipRect();
        beginScissor(record.clipRect);
        break;
    case RenderCommand::Type::SCISSOR_END_COMMAND:
        flushTriangles();
        endScissor();
        break;
    default: break;
    }
    _records.push_back(record);
}

void Renderer::setDepthTest(bool on)
{
    const int want = on ? 1 : 0;
    if (_depthTest == want) {
        return;
    }
    _depthTest = want;
    if (on) {
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        glDepthMask(GL_TRUE);
    } else {
        glDisable(GL_DEPTH_TEST);
    }
}

// ---------------------------------------------------------------------------------------------
// triangles

void Renderer::batchTriangles(TrianglesCommand* command)
{
    const TrianglesCommand::Triangles& t = command->getTriangles();
    if (!t.verts || !t.indices || t.vertCount <= 0 || t.indexCount <= 0 || !command->getGLProgramState()) {
        return;
    }
    const bool sameMaterial = !_batchIndices.empty() && _batchTexture == command->getTextureID() &&
                              _batchState == command->getGLProgramState() &&
                              _batchBlend == command->getBlendType() && _batch3D == command->is3D();
    if (!sameMaterial) {
        flushTriangles();
        _batchTexture = command->getTextureID();
        _batchState = command->getGLProgramState();
        _batchBlend = command->getBlendType();
        _batch3D = command->is3D();
    }
    const GLuint base = static_cast<GLuint>(_batchVerts.size());
    const size_t indexStart = _batchIndices.size();
    for (int i = 0; i < t.indexCount; ++i) {
        const unsigned short index = t.indices[i];
        if (index >= t.vertCount) {
            // A bad index would make GL read outside the vertex array: drop the whole command.
            if (!_badIndicesLogged) {
                _badIndicesLogged = true;
                log("Renderer: a triangles command has an index beyond its %d vertices; skipped", t.vertCount);
            }
            _batchIndices.resize(indexStart);
            return;
        }
        _batchIndices.push_back(base + index);
    }
    const Mat4& mv = command->getModelView();
    const size_t vertStart = _batchVerts.size();
    _batchVerts.resize(vertStart + size_t(t.vertCount));
    V3F_C4B_T2F* out = _batchVerts.data() + vertStart;
    if (mv.isIdentity()) {
        std::copy(t.verts, t.verts + t.vertCount, out);
    } else {
        for (int i = 0; i < t.vertCount; ++i) {
            out[i] = t.verts[i];
            mv.transformPoint(&out[i].vertices);
        }
    }
}

void Renderer::flushTriangles()
{
    if (_batchIndices.empty()) {
        return;
    }
    _drawnBatches += 1;
    _drawnVertices += static_cast<ssize_t>(_batchIndices.size());
    if (_gl) {
        setDepthTest(_batch3D);
        GL::blendFunc(_batchBlend.src, _batchBlend.dst);
        GL::bindTexture2D(_batchTexture);
        _batchState->apply(Mat4::IDENTITY);
        GL::bindVAO(0);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
        GL::enableVertexAttribs(GL::VERTEX_ATTRIB_FLAG_POS_COLOR_TEX);
        const auto* base = reinterpret_cast<const char*>(_batchVerts.data());
        const GLsizei stride = sizeof(V3F_C4B_T2F);
        glVertexAttribPointer(GLProgram::VERTEX_ATTRIB_POSITION, 3, GL_FLOAT, GL_FALSE, stride,
                              base + offsetof(V3F_C4B_T2F, vertices));
        glVertexAttribPointer(GLProgram::VERTEX_ATTRIB_COLOR, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                              base + offsetof(V3F_C4B_T2F, colors));
        glVertexAttribPointer(GLProgram::VERTEX_ATTRIB_TEX_COORD, 2, GL_FLOAT, GL_FALSE, stride,
                              base + offsetof(V3F_C4B_T2F, texCoords));
        glDrawElements(GL_TRIANGLES, GLsizei(_batchIndices.size()), GL_UNSIGNED_INT, _batchIndices.data());
    }
    _batchVerts.clear();
    _batchIndices.clear();
    _batchState = nullptr;
}

// ---------------------------------------------------------------------------------------------
// scissor

void Renderer::pushClipRect(const Rect& worldRect)
{
    if (_clipStack.empty()) {
        _clipStack.push_back(worldRect);
        return;
    }
    const Rect& top = _clipStack.back();
    const float x0 = std::max(top.getMinX(), worldRect.getMinX());
    const float y0 = std::max(top.getMinY(), worldRect.getMinY());
    const float x1 = std::min(top.getMaxX(), worldRect.getMaxX());
    const float y1 = std::min(top.getMaxY(), worldRect.getMaxY());
    _clipStack.push_back(Rect(x0, y0, std::max(0.0f, x1 - x0), std::max(0.0f, y1 - y0)));
}

void Renderer::popClipRect()
{
    if (!_clipStack.empty()) {
        _clipStack.pop_back();
    }
}

Rect Renderer::designToFramebuffer(const Rect& designRect) const
{
    GLView* view = Director::getInstance()->getOpenGLView();
    if (!view) {
        return designRect;
    }
    const Rect vp = view->getViewPortRect();
    const Size fb = view->getFramebufferSize();
    const Size frame = view->getFrameSize();
    const float fx = frame.width > 0.0f ? fb.width / frame.width : 1.0f;
    const float fy = frame.height > 0.0f ? fb.height / frame.height : 1.0f;
    const float sx = view->getScaleX() * fx;
    const float sy = view->getScaleY() * fy;
    const float x0 = std::round(vp.origin.x * fx + designRect.getMinX() * sx);
    const float y0 = std::round(vp.origin.y * fy + designRect.getMinY() * sy);
    const float x1 = std::round(vp.origin.x * fx + designRect.getMaxX() * sx);
    const float y1 = std::round(vp.origin.y * fy + designRect.getMaxY() * sy);
    return Rect(x0, y0, std::max(0.0f, x1 - x0), std::max(0.0f, y1 - y0));
}

void Renderer::applyScissor(const ScissorState& state)
{
    _scissor = state;
    if (!_gl) {
        return;
    }
    if (state.enabled) {
        glEnable(GL_SCISSOR_TEST);
        glScissor(state.x, state.y, state.width, state.height);
    } else {
        glDisable(GL_SCISSOR_TEST);
    }
}

void Renderer::beginScissor(const Rect& worldRect)
{
    _scissorStack.push_back(_scissor);
    const Rect px = designToFramebuffer(worldRect);
    ScissorState next{true, GLint(px.origin.x), GLint(px.origin.y), GLsizei(px.size.width), GLsizei(px.size.height)};
    if (_scissor.enabled) {
        const GLint x0 = std::max(next.x, _scissor.x);
        const GLint y0 = std::max(next.y, _scissor.y);
        const GLint x1 = std::min(next.x + next.width, _scissor.x + _scissor.width);
        const GLint y1 = std::min(next.y + next.height, _scissor.y + _scissor.height);
        next = ScissorState{true, x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0)};
    }
    applyScissor(next);
}

void Renderer::endScissor()
{
    if (_scissorStack.empty()) {
        applyScissor(ScissorState{false, 0, 0, 0, 0});
        return;
    }
    const ScissorState previous = _scissorStack.back();
    _scissorStack.pop_back();
    applyScissor(previous);
}

void Renderer::resetScissor()
{
    if (!_scissorStack.empty() || _scissor.enabled) {
        _scissorStack.clear();
        applyScissor(ScissorState{false, 0, 0, 0, 0});
    }
}

// ---------------------------------------------------------------------------------------------
// captures

void Renderer::addCaptureRequest(const std::function<void(bool, const std::string&)>& done, const std::string& file,
                                 const Rect& rect)
{
    _captures.push_back(Capture{done, file, rect});
}

void Renderer::endFrame()
{
    if (_captures.empty()) {
        return;
    }
    // Callbacks may ask for new captures; those are served after the next frame.
    _servingCaptures.swap(_captures);
    for (const Capture& c : _servingCaptures) {
        serveCapture(c);
    }
    _servingCaptures.clear();
}

void Renderer::serveCapture(const Capture& capture)
{
    std::string path = capture.file;
    if (!path.empty() && path[0] != '/') {
        path = FileUtils::getInstance()->getWritablePath() + path;
    }
    bool ok = false;
    GLView* view = Director::getInstance()->getOpenGLView();
    const bool negative = capture.rect.size.width < 0.0f || capture.rect.size.height < 0.0f;
    if (GL::isEnabled() && view && !path.empty() && !negative) {
        Rect rect = capture.rect;
        if (rect.size.width == 0.0f || rect.size.height == 0.0f) {
            rect = Rect(Vec2::ZERO, Director::getInstance()->getWinSize());
        }
        Rect px = designToFramebuffer(rect);
        const Size fb = view->getFramebufferSize();
        const float x0 = std::max(0.0f, px.getMinX());
        const float y0 = std::max(0.0f, px.getMinY());
        const float x1 = std::min(fb.width, px.getMaxX());
        const float y1 = std::min(fb.height, px.getMaxY());
        const int w = int(x1 - x0);
        const int h = int(y1 - y0);
        if (w > 0 && h > 0) {
            std::vector<unsigned char> rgba(size_t(w) * size_t(h) * 4);
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glReadBuffer(GL_BACK);
            glReadPixels(GLint(x0), GLint(y0), w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
            // GL rows run bottom-up; files run top-down. The window's alpha is not part of a capture.
            std::vector<unsigned char> rgb(size_t(w) * size_t(h) * 3);
            for (int y = 0; y < h; ++y) {
                const unsigned char* src = rgba.data() + size_t(h - 1 - y) * size_t(w) * 4;
                unsigned char* dst = rgb.data() + size_t(y) * size_t(w) * 3;
                for (int x = 0; x < w; ++x) {
                    dst[x * 3] = src[x * 4];
                    dst[x * 3 + 1] = src[x * 4 + 1];
                    dst[x * 3 + 2] = src[x * 4 + 2];
                }
            }
            Image image;
            ok = image.initWithRawData(rgb.data(), ssize_t(rgb.size()), w, h, 8, false) && image.saveToFile(path, true);
        }
    }
    if (capture.done) {
        capture.done(ok, path);
    }
}

} // namespace cocos2d
