// Renderer: collects render commands during the camera passes' visits and executes them once
// every pass has been visited, pass by pass.
//
// Execution order within a pass, in four groups:
//   1. global z < 0, sorted by global z (stable);
//   2. 3D commands with global z = 0, in submission order, depth test on (GL_LEQUAL, writes on);
//   3. 2D commands with global z = 0, in submission order, depth test off;
//   4. global z > 0, sorted by global z (stable).
// Commands with equal keys keep their submission order, so a node's before-draw, draw and
// after-draw commands stay consecutive.
//
// A frame (Director): beginFrame starts it; Scene::render visits the scene once per visible
// camera (renderScene), collecting each pass's commands; endFrame then draws: the colour and depth
// buffers are cleared once, each pass applies its camera's viewport, clears depth and executes
// its commands with its camera as the visiting one; last the capture requests are served, before
// the buffers are swapped.
//
// Still frames. With a GL context, endFrame first puts together what the frame would draw: the
// window's size and the clear colour; per pass the camera's flag and view-projection; per command
// its type, z-order, 3D flag and transform, a triangles command's vertices, indices, blend
// function, texture (by content version) and program state (program and uniform values), a
// scissor's rectangle, and a custom command's declared inputs (CustomCommand). When that equals
// what the last drawn frame drew, the frame is not drawn: no GL call, and isFrameDrawn() tells the
// director not to swap, so the window keeps showing that frame. A frame is always drawn when a
// custom command declares no inputs or something cannot be compared (a raw texture name, a program
// reading the time), when a capture is pending, after invalidateFrame() (the window was exposed or
// resized, the GL context or animation restarted) and for the first frame. Commands of a frame not
// drawn are recorded as usual.
//
// Triangles commands are transformed on the CPU and batched: consecutive commands with the same
// texture, program state, blend function and 3D flag become one draw call.
//
// Headless (no GL context in use) the renderer records every command exactly as it would execute
// it (type, global z, 3D flag, the camera flag of the pass, the issuing object, a scissor
// rectangle) and makes no GL call; custom callbacks are not run; every frame counts as drawn. The
// records of the current frame stay readable until the next beginFrame; GL mode records too.
//
// The frame loop reuses every buffer, so a steady frame allocates nothing here.
//
// Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/ccTypes.h"
#include "math/CCGeometry.h"
#include "math/CCMath.h"
#include "renderer/CCRenderCommand.h"

namespace cocos2d {

class Camera;
class GLProgramState;
class Scene;
class TrianglesCommand;

class Renderer {
public:
    // One executed (or, headless, recorded) command.
    struct CommandRecord {
        RenderCommand::Type type;
        float globalOrder;
        bool is3D;
        unsigned short cameraFlag; // the flag of the pass's camera (0 outside camera passes)
        const void* owner;         // RenderCommand::getOwner
        const RenderCommand* command;
        Rect clipRect;             // scissor begin commands: the clip rectangle in world units
    };
    // One camera pass of the frame.
    struct PassRecord {
        const Camera* camera;
        unsigned short cameraFlag;
        int depth;
        bool depthCleared;
        size_t firstCommand; // index into getCommandRecords()
        size_t commandCount;
    };

    Renderer();
    ~Renderer();

    void addCommand(RenderCommand* command);
    void addDrawnBatches(ssize_t number) { _drawnBatches += number; }
    void addDrawnVertices(ssize_t number) { _drawnVertices += number; }
    ssize_t getDrawnBatches() const { return _drawnBatches; }
    ssize_t getDrawnVertices() const { return _drawnVertices; }

    // Whether a node with this model matrix and content size may be seen. Only the default
    // camera culls (against its frustum); for any other visiting camera this is true.
    bool checkVisibility(const Mat4& transform, const Size& size);

    // ----- the frame (Director)
    // Starts a frame: forgets the previous frame's records and counters, keeps the clear colour.
    void beginFrame(const Color4F& clearColor);
    // Visits the scene once per visible camera (ascending depth, then order of entering),
    // collecting each pass's commands for endFrame.
    void renderScene(Scene* scene);
    // Executes at once the commands added and not yet executed (outside the frame's passes).
    void render();
    // [hook] Off-screen targets: the number of commands waiting now, and the execution of only
    // those added after such a mark (they leave the queue; earlier ones stay for the pass).
    size_t markCommands() const { return _commands.size(); }
    void renderFrom(size_t mark);
    // Draws the frame (see the header comment: unless it is a still frame), then serves capture
    // requests (GL: reads the back buffer; headless: reports failure).
    void endFrame();

    // ----- still frames
    // The next frame is drawn even when it is unchanged: the window's contents were lost (exposed,
    // resized) or are no longer known.
    void invalidateFrame() { _frameInvalid = true; }
    // Whether the last endFrame drew (and the buffers are to be swapped). Headless: always.
    bool isFrameDrawn() const { return _frameDrawn; }
    // [hook] Frames drawn and frames left undrawn as unchanged since the renderer was made.
    uint64_t getDrawnFrameCount() const { return _drawnFrames; }
    uint64_t getSkippedFrameCount() const { return _skippedFrames; }
    // ----- pass helpers
    // The GL viewport over the whole framebuffer (Camera::applyViewport).
    void applyFullViewport();
    // Clears the depth buffer at the start of a pass (recorded).
    void clearDepthForPass();

    // ----- clipping at visit time (ClippingProtocol, clipping layouts)
    // Pushes a clip rectangle in world units; the stack's top is the intersection of all.
    void pushClipRect(const Rect& worldRect);
    void popClipRect();
    bool hasClipRect() const { return !_clipStack.empty(); }
    const Rect& getClipRect() const { return _clipStack.back(); }

    // World (design) units to framebuffer pixels, rounded to whole pixels.
    Rect designToFramebuffer(const Rect& designRect) const;

    // ----- captures (utils::captureScreen)
    // rect in design units, origin bottom-left; zero width or height means the whole window.
    void addCaptureRequest(const std::function<void(bool, const std::string&)>& done, const std::string& file,
                           const Rect& rect);
    size_t getPendingCaptureCount() const { return _captures.size(); }

    // ----- [hook] records of the current frame
    const std::vector<CommandRecord>& getCommandRecords() const { return _records; }
    const std::vector<PassRecord>& getPassRecords() const { return _passes; }
    // Commands waiting for render().
    size_t getPendingCommandCount() const { return _commands.size(); }

private:
    struct ScissorState {
        bool enabled;
        GLint x, y;
        GLsizei width, height;
    };
    struct Capture {
        std::function<void(bool, const std::string&)> done;
        std::string file;
        Rect rect;
    };

    // One camera pass of the frame: its commands are _commands[first, first + count).
    struct PassSpan {
        Camera* camera; // retained until endFrame
        size_t first;
        size_t count;
    };

    void executeCommands(size_t first, size_t end);
    void executeCommand(RenderCommand* command);
    void clearFramebuffer();
    void releasePassCameras();
    // Puts together what the collected passes would draw into _frameKey; false when that
    // cannot be told (the frame must be drawn).
    bool buildFrameKey();
    void putKey(const void* data, size_t bytes);
    void batchTriangles(TrianglesCommand* command);
    void flushTriangles();
    void setDepthTest(bool on);
    void applyScissor(const ScissorState& state);
    void beginScissor(const Rect& worldRect);
    void endScissor();
    void resetScissor();
    void serveCapture(const Capture& capture);

    std::vector<RenderCommand*> _commands;
    // Commands with a global z other than 0, with their submission index so that an unstable
    // sort (which allocates nothing) keeps submission order among equal z.
    struct Ordered {
        float z;
        uint32_t sequence;
        RenderCommand* command;
        bool operator<(const Ordered& o) const { return z != o.z ? z < o.z : sequence < o.sequence; }
    };
    std::vector<Ordered> _groupNeg, _groupPos;
    std::vector<RenderCommand*> _group3D, _group2D;
    std::vector<Camera*> _passCameras;

    // current batch
    std::vector<V3F_C4B_T2F> _batchVerts;
    std::vector<GLuint> _batchIndices;
    GLuint _batchTexture = 0;
    GLProgramState* _batchState = nullptr;
    BlendFunc _batchBlend = BlendFunc::DISABLE;
    bool _batch3D = false;

    bool _gl = false;          // GL calls are made during this execution
    bool _recordOnly = false;  // a still frame: commands are recorded, not executed
    Color4F _clearColor;
    std::vector<PassSpan> _passSpans;
    std::vector<unsigned char> _frameKey;     // what the current frame would draw
    std::vector<unsigned char> _drawnFrameKey; // what the last drawn frame drew (empty: unknown)
    bool _frameInvalid = true;
    bool _frameDrawn = true;
    uint64_t _drawnFrames = 0;
    uint64_t _skippedFrames = 0;
    int _depthTest = -1;       // -1 unknown, 0 off, 1 on
    std::vector<ScissorState> _scissorStack;
    ScissorState _scissor{false, 0, 0, 0, 0};

    std::vector<Rect> _clipStack;

    ssize_t _drawnBatches = 0;
    ssize_t _drawnVertices = 0;

    std::vector<CommandRecord> _records;
    std::vector<PassRecord> _passes;
    bool _badIndicesLogged = false;

    std::vector<Capture> _captures;
    std::vector<Capture> _servingCaptures;
};

} // namespace cocos2d
