// Director: the main loop's frame, the scene stack and the process-wide services.
//
// One frame (mainLoop; stepFrame is the same with a given dt and no measuring):
//   1. dt;  2. scheduler->update(dt);  3. apply a pending scene change;
//   4. render: clear colour and depth once, one pass per camera of the running scene, then the
//      capture requests; a still frame (one that would draw what the window shows, see Renderer)
//      is visited but not drawn;  5. swap buffers (GL only, and only after a drawn frame);
//   6. total frames + 1;
//   7. seconds per frame;  8. drain the main autorelease pool and the deferred releases.
// While the animation is stopped (application in the background), steps 3-6 are skipped and the
// application loop runs the rest at 10 iterations per second.
//
// Scene changes (runWithScene, pushScene, popScene, replaceScene) take effect at step 3 of the
// next frame. Popping the last scene ends the loop.
//
// Threads: the main thread is the one that created the director. getInstance, getScheduler and
// getTotalFrames may be called from any thread once the director exists; everything else is
// main-thread-only.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "base/CCRef.h"
#include "base/CCVector.h"
#include "base/ccTypes.h"
#include "math/CCMath.h"

namespace cocos2d {

class ActionManager;
class EventDispatcher;
class GLView;
class Node;
class Renderer;
class Scene;
class Scheduler;
class TextureCache;

class Director : public Ref {
public:
    static Director* getInstance();
    // [hook] Ends the running scene, frees the director and its services and drains the
    // autorelease pools; the next getInstance makes a fresh director. Main thread, between tests.
    static void destroyInstance();

    Scheduler* getScheduler() const { return _scheduler; }
    void setScheduler(Scheduler* scheduler);
    // Steps every node's actions, first in each scheduler update.
    ActionManager* getActionManager() const { return _actionManager; }
    EventDispatcher* getEventDispatcher() const { return _eventDispatcher; }

    GLView* getOpenGLView() const { return _openGLView; }
    void setOpenGLView(GLView* view);
    // [hook] True without a view or with the headless view.
    bool isHeadless() const;

    // The design resolution size (equal to the frame size as the shell sets it up).
    Size getWinSize() const;
    Size getWinSizeInPixels() const;
    Size getVisibleSize() const;
    Vec2 getVisibleOrigin() const;
    float getContentScaleFactor() const { return _contentScaleFactor; }
    // [hook] The view's design size changed (a resized window): every scene on the stack follows
    // it (Scene::followWinSize). Called by GLView::resizeFrame.
    void winSizeChanged();
    void setContentScaleFactor(float scaleFactor);

    // Frames completed so far (atomic; readable from any thread).
    unsigned int getTotalFrames() const { return _totalFrames.load(std::memory_order_acquire); }
    // The wall time of the last frame's work, pacing sleep excluded; 0 during the first second
    // after the view is set. Under stepFrame: the stepped dt.
    float getSecondsPerFrame() const { return _secondsPerFrame; }
    // The dt of the current frame.
    float getDeltaTime() const { return _deltaTime; }

    double getAnimationInterval() const { return _animationInterval; }
    void setAnimationInterval(double interval);
    void setDisplayStats(bool displayStats) { _displayStats = displayStats; }
    bool isDisplayStats() const { return _displayStats; }
    void setClearColor(const Color4F& clearColor) { _clearColor = clearColor; }
    const Color4F& getClearColor() const { return _clearColor; }

    // ----- scene stack
    void runWithScene(Scene* scene);
    void pushScene(Scene* scene);
    void popScene();
    // Pops n scenes at once (n >= 1); only the scene finally revealed is entered.
    void popScene(int n);
    void replaceScene(Scene* scene);
    Scene* getRunningScene() const { return _runningScene; }
    // [hook] Scenes on the stack (the running one included once it is applied).
    ssize_t getSceneCount() const { return _scenesStack.size(); }

    // ----- the loop
    void startAnimation();
    void stopAnimation();
    bool isAnimationStopped() const { return _animationStopped; }
    // Ends the loop at the next frame: the scene stack is ended (endScenes).
    void end();
    // Ends the scene stack now: the running scene exits and is cleaned up first, then every scene
    // it covered is cleaned up (they exited when they were covered); the stack is then empty.
    // The application runs it when the loop stops, before the delegate's shutdown, so that the
    // scenes' onExit and cleanup still find the services they use.
    void endScenes();
    // [hook] True once the loop has ended (after end() and the frame that followed).
    bool isEnded() const { return _ended; }
    void mainLoop();
    // [hook] Runs one frame with the given dt, without measuring or sleeping.
    void stepFrame(float dt);

    Renderer* getRenderer() const { return _renderer; }
    // Made on first use; freed with the director (its loader thread is joined then).
    TextureCache* getTextureCache();

protected:
    // The file chooser's modal wait draws the scene without a scheduler tick.
    friend class FileUtils;

    Director();
    ~Director() override;

    void runFrame(float dt, bool measured);
    void setNextScene();
    void drawScene();
    void drainPools();

    Scheduler* _scheduler = nullptr;
    ActionManager* _actionManager = nullptr;
    EventDispatcher* _eventDispatcher = nullptr;
    Renderer* _renderer = nullptr;
    TextureCache* _textureCache = nullptr;
    GLView* _openGLView = nullptr;

    Vector<Scene*> _scenesStack;
    Scene* _runningScene = nullptr; // retained
    Scene* _nextScene = nullptr;    // weak: held by the stack
    bool _sendCleanupToScene = false;

    std::atomic<unsigned int> _totalFrames{0};
    float _secondsPerFrame = 0.0f;
    float _deltaTime = 0.0f;
    double _animationInterval = 1.0 / 60.0;
    float _contentScaleFactor = 1.0f;
    bool _displayStats = false;
    Color4F _clearColor{0.0f, 0.0f, 0.0f, 1.0f};

    bool _animationStopped = false;
    bool _endRequested = false;
    bool _ended = false;
    bool _nextDeltaTimeZero = true;
    std::chrono::steady_clock::time_point _lastUpdate;
    std::chrono::steady_clock::time_point _viewSetTime;
};

} // namespace cocos2d
