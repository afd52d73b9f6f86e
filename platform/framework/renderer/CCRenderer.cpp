#include "renderer/CCRenderer.h"

#include <algorithm>
#include <cmath>

#include "base/CCDirector.h"
#include "base/ccMacros.h"
#include "diskWrite.h"
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
    releasePassCameras();
    _records.clear();
    _passes.clear();
    _drawnBatches = 0;
    _drawnVertices = 0;
    _clipStack.clear();
    _clearColor = clearColor;
}

void Renderer::clearFramebuffer()
{
    GL::invalidateStateCache();
    _depthTest = -1;
    applyFullViewport();
    glDisable(GL_SCISSOR_TEST);
    _scissor = ScissorState{false, 0, 0, 0, 0};
    _scissorStack.clear();
    glClearColor(_clearColor.r, _clearColor.g, _clearColor.b, _clearColor.a);
    glDepthMask(GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
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
        camera->retain(); // kept for the pass's execution in endFrame
        Camera::setVisitingCamera(camera);
        _passes.push_back(PassRecord{camera, camera->getCameraFlag(), camera->getDepth(), false, 0, 0});
        const size_t first = _commands.size();
        scene->visit(this, Mat4::IDENTITY, 0);
        _passSpans.push_back(PassSpan{camera, first, _commands.size() - first});
    }
    Camera::setVisitingCamera(nullptr);
    for (Camera* camera : _passCameras) {
        camera->release();
    }
    _passCameras.clear();
}

void Renderer::releasePassCameras()
{
    for (const PassSpan& span : _passSpans) {
        span.camera->release();
    }
    _passSpans.clear();
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
    if (GL::isEnabled() && !_recordOnly) {
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
    _recordOnly = false;
    executeCommands(mark, _commands.size());
    _commands.resize(mark);
}

void Renderer::executeCommands(size_t first, size_t end)
{
    _depthTest = -1;
    _groupNeg.clear();
    _group3D.clear();
    _group2D.clear();
    _groupPos.clear();
    uint32_t sequence = 0;
    for (size_t i = first; i < end; ++i) {
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
    if (_recordOnly) {
        if (record.type == RenderCommand::Type::SCISSOR_BEGIN_COMMAND) {
            record.clipRect = static_cast<ScissorCommand*>(command)->getClipRect();
        }
        _records.push_back(record);
        return;
    }
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
    _gl = GL::isEnabled();
    bool draw = true;
    if (_gl) {
        const bool comparable = buildFrameKey();
        draw = !comparable || _frameInvalid || !_captures.empty() || _frameKey != _drawnFrameKey;
        if (draw) {
            // An incomparable frame leaves nothing to compare the next one with.
            if (comparable) {
                _drawnFrameKey.swap(_frameKey);
            } else {
                _drawnFrameKey.clear();
            }
            _frameInvalid = false;
        }
    }
    _frameDrawn = draw;
    _recordOnly = !draw;
    if (draw) {
        ++_drawnFrames;
    } else {
        ++_skippedFrames;
    }
    const bool issueGL = _gl && draw;
    if (issueGL) {
        clearFramebuffer();
    }
    for (size_t i = 0; i < _passSpans.size(); ++i) {
        const PassSpan& span = _passSpans[i];
        PassRecord& pass = _passes[i];
        Camera::setVisitingCamera(span.camera);
        if (issueGL) {
            span.camera->applyViewport();
        }
        clearDepthForPass();
        pass.depthCleared = true;
        if (issueGL) {
            span.camera->clearBackground();
        }
        pass.firstCommand = _records.size();
        _gl = issueGL;
        executeCommands(span.first, span.first + span.count);
        pass.commandCount = _records.size() - pass.firstCommand;
    }
    Camera::setVisitingCamera(nullptr);
    _gl = GL::isEnabled();
    _recordOnly = false;
    _commands.clear();
    releasePassCameras();

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

void Renderer::putKey(const void* data, size_t bytes)
{
    const auto* b = static_cast<const unsigned char*>(data);
    _frameKey.insert(_frameKey.end(), b, b + bytes);
}

bool Renderer::buildFrameKey()
{
    _frameKey.clear();
    auto put = [this](const auto& value) { putKey(&value, sizeof value); };
    // The window: what the passes' viewports and the scissor rectangles in pixels come from.
    const unsigned int context = GL::getContextGeneration();
    put(context);
    if (GLView* view = Director::getInstance()->getOpenGLView()) {
        put(view->getFramebufferSize());
        put(view->getFrameSize());
        put(view->getViewPortRect());
        put(view->getScaleX());
        put(view->getScaleY());
    }
    put(_clearColor);
    for (const PassSpan& span : _passSpans) {
        const uint64_t count = span.count;
        put(span.camera->getCameraFlag());
        put(span.camera->getViewProjectionMatrix());
        put(count);
        for (size_t i = span.first; i < span.first + span.count; ++i) {
            const RenderCommand* c = _commands[i];
            put(c->getType());
            put(c->getGlobalOrder());
            put(c->is3D());
            switch (c->getType()) {
            case RenderCommand::Type::TRIANGLES_COMMAND: {
                const auto* t = static_cast<const TrianglesCommand*>(c);
                if (!t->isTextureVersionKnown()) {
                    return false;
                }
                put(t->getTextureVersion());
                put(t->getBlendType());
                put(t->getModelView());
                const TrianglesCommand::Triangles& tri = t->getTriangles();
                put(tri.vertCount);
                put(tri.indexCount);
                if (tri.verts && tri.vertCount > 0) {
                    putKey(tri.verts, size_t(tri.vertCount) * sizeof(V3F_C4B_T2F));
                }
                if (tri.indices && tri.indexCount > 0) {
                    putKey(tri.indices, size_t(tri.indexCount) * sizeof(unsigned short));
                }
                const GLProgramState* state = t->getGLProgramState();
                if (state && !state->appendFrameKey(_frameKey)) {
                    return false;
                }
                break;
            }
            case RenderCommand::Type::CUSTOM_COMMAND: {
                const auto* custom = static_cast<const CustomCommand*>(c);
                if (!custom->hasDeclaredInputs()) {
                    return false;
                }
                // The callback is the command's own: two commands with equal inputs may draw
                // differently.
                put(reinterpret_cast<uintptr_t>(custom));
                put(custom->getTransform());
                for (const CustomCommand::Input& input : custom->getInputs()) {
                    if (input.data) {
                        put(input.bytes);
                        putKey(input.data, input.bytes);
                    } else {
                        put(input.value);
                    }
                }
                break;
            }
            case RenderCommand::Type::SCISSOR_BEGIN_COMMAND:
                put(static_cast<const ScissorCommand*>(c)->getClipRect());
                break;
            default: break;
            }
        }
    }
    return true;
}

void Renderer::serveCapture(const Capture& capture)
{
    std::string path = capture.file;
    if (!path.empty() && path[0] != '/') {
        path = FileUtils::getInstance()->getWritablePath() + path;
    }
    bool ok = false;
    // A write that fails below leaves its reason as this thread's last, for `done` to tell.
    disk::clearLastError();
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
