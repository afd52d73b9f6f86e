#include "base/CCDirector.h"

#include <mutex>

#include "2d/CCFontAtlas.h"
#include "actions/CCActionManager.h"
#include "base/CCAutoreleasePool.h"
#include "base/CCScheduler.h"
#include "event/CCEventDispatcher.h"
#include "node/CCScene.h"
#include "platform/CCGLView.h"
#include "renderer/CCGLProgramCache.h"
#include "renderer/CCGLProgramState.h"
#include "renderer/CCRenderer.h"
#include "renderer/CCTextureCache.h"

namespace cocos2d {

namespace {
std::atomic<Director*> g_director{nullptr};
std::mutex g_directorCreate;
} // namespace

Director* Director::getInstance()
{
    Director* d = g_director.load(std::memory_order_acquire);
    if (d) {
        return d;
    }
    std::lock_guard<std::mutex> lock(g_directorCreate);
    d = g_director.load(std::memory_order_acquire);
    if (!d) {
        PoolManager::setMainThread(std::this_thread::get_id());
        d = new Director();
        g_director.store(d, std::memory_order_release);
    }
    return d;
}

void Director::destroyInstance()
{
    Director* d = g_director.load(std::memory_order_acquire);
    if (!d) {
        return;
    }
    d->endScenes();
    d->drainPools();
    {
        std::lock_guard<std::mutex> lock(g_directorCreate);
        g_director.store(nullptr, std::memory_order_release);
    }
    d->release();
    // Objects freed with the director may have autoreleased others.
    PoolManager::getInstance()->drainCurrentThread();
}

Director::Director()
    : _scheduler(new Scheduler()), _actionManager(new ActionManager()), _eventDispatcher(new EventDispatcher())
{
    _scheduler->scheduleUpdate(_actionManager, Scheduler::PRIORITY_SYSTEM, false);
    _renderer = new Renderer();
    _lastUpdate = std::chrono::steady_clock::now();
    _viewSetTime = _lastUpdate;
}

Director::~Director()
{
    // Textures and pending captures go while the view (and its GL context) still exists.
    CC_SAFE_RELEASE_NULL(_textureCache);
    delete _renderer;
    _renderer = nullptr;
    // Process-wide rendering caches start afresh with the next director (and its back-end).
    FontAtlas::purgeCache(true);
    GLProgramState::purgeSharedStates();
    GLProgramCache::destroyInstance();
    CC_SAFE_RELEASE(_openGLView);
    if (_scheduler) {
        _scheduler->unscheduleAll();
        _scheduler->release();
    }
    _actionManager->release();
    _eventDispatcher->release();
}

void Director::setScheduler(Scheduler* scheduler)
{
    if (scheduler != _scheduler) {
        // The action manager steps from whichever scheduler the director runs.
        if (_scheduler) {
            _scheduler->unscheduleUpdate(_actionManager);
        }
        CC_SAFE_RETAIN(scheduler);
        CC_SAFE_RELEASE(_scheduler);
        _scheduler = scheduler;
        if (_scheduler) {
            _scheduler->scheduleUpdate(_actionManager, Scheduler::PRIORITY_SYSTEM, false);
        }
    }
}

void Director::setOpenGLView(GLView* view)
{
    if (view == _openGLView) {
        return;
    }
    CC_SAFE_RETAIN(view);
    CC_SAFE_RELEASE(_openGLView);
    _openGLView = view;
    _renderer->invalidateFrame();
    _viewSetTime = std::chrono::steady_clock::now();
    _nextDeltaTimeZero = true;
}

bool Director::isHeadless() const
{
    return !_openGLView || _openGLView->isHeadless();
}

Size Director::getWinSize() const
{
    return _openGLView ? _openGLView->getDesignResolutionSize() : Size::ZERO;
}

Size Director::getWinSizeInPixels() const
{
    return getWinSize() * _contentScaleFactor;
}

Size Director::getVisibleSize() const
{
    return _openGLView ? _openGLView->getVisibleSize() : Size::ZERO;
}

Vec2 Director::getVisibleOrigin() const
{
    return _openGLView ? _openGLView->getVisibleOrigin() : Vec2::ZERO;
}

void Director::winSizeChanged()
{
    for (Scene* scene : _scenesStack) {
        scene->followWinSize();
    }
    if (_runningScene && !_scenesStack.contains(_runningScene)) {
        _runningScene->followWinSize();
    }
}

void Director::setContentScaleFactor(float scaleFactor)
{
    if (scaleFactor > 0.0f) {
        _contentScaleFactor = scaleFactor;
    }
}

void Director::setAnimationInterval(double interval)
{
    if (interval > 0.0) {
        _animationInterval = interval;
    }
}

// ---------------------------------------------------------------------------------------------
// scene stack

void Director::runWithScene(Scene* scene)
{
    CCASSERT(scene != nullptr, "runWithScene: null scene");
    CCASSERT(_runningScene == nullptr, "runWithScene: a scene is already running");
    if (!scene) {
        return;
    }
    pushScene(scene);
    startAnimation();
}

void Director::pushScene(Scene* scene)
{
    if (!scene) {
        return;
    }
    _sendCleanupToScene = false;
    _scenesStack.pushBack(scene);
    _nextScene = scene;
}

void Director::popScene()
{
    popScene(1);
}

void Director::popScene(int n)
{
    if (n < 1 || _scenesStack.empty()) {
        return;
    }
    // The scene on top is the running (or about to run) one; it is exited and cleaned up when the
    // change is applied. The covered ones popped with it already exited; they are cleaned up now.
    _scenesStack.popBack();
    for (int i = 1; i < n && !_scenesStack.empty(); ++i) {
        Scene* covered = _scenesStack.back();
        if (covered != _runningScene) {
            if (covered->isRunning()) {
                covered->onExitTransitionDidStart();
                covered->onExit();
            }
            covered->cleanup();
        }
        _scenesStack.popBack();
    }
    if (_scenesStack.empty()) {
        end();
        _nextScene = nullptr;
        return;
    }
    _sendCleanupToScene = true;
    _nextScene = _scenesStack.back();
}

void Director::replaceScene(Scene* scene)
{
    if (!scene) {
        return;
    }
    if (!_runningScene && _scenesStack.empty()) {
        runWithScene(scene);
        return;
    }
    if (scene == _nextScene) {
        return;
    }
    if (_nextScene && _nextScene != _runningScene) {
        // A change that never applied: the scene it would have entered is dropped.
        if (_nextScene->isRunning()) {
            _nextScene->onExitTransitionDidStart();
            _nextScene->onExit();
        }
        _nextScene->cleanup();
    }
    _sendCleanupToScene = true;
    _scenesStack.replace(_scenesStack.size() - 1, scene);
    _nextScene = scene;
}

void Director::setNextScene()
{
    Scene* next = _nextScene;
    _nextScene = nullptr;
    if (next == _runningScene) {
        return;
    }
    if (_runningScene) {
        Scene* old = _runningScene;
        _runningScene = nullptr;
        old->onExitTransitionDidStart();
        old->onExit();
        if (_sendCleanupToScene) {
            old->cleanup();
        }
        old->release();
    }
    _runningScene = next;
    next->retain();
    next->onEnter();
    next->onEnterTransitionDidFinish();
}

void Director::endScenes()
{
    if (_runningScene) {
        Scene* old = _runningScene;
        _runningScene = nullptr;
        old->onExitTransitionDidStart();
        old->onExit();
        old->cleanup();
        // The stack may hold it too: it is not cleaned up twice.
        _scenesStack.eraseObject(old, true);
        old->release();
    }
    _nextScene = nullptr;
    // Covered scenes (and one pushed but not yet entered), top of the stack first.
    while (!_scenesStack.empty()) {
        Scene* covered = _scenesStack.back();
        covered->retain();
        _scenesStack.popBack();
        if (covered->isRunning()) {
            covered->onExitTransitionDidStart();
            covered->onExit();
        }
        covered->cleanup();
        covered->release();
    }
}

// ---------------------------------------------------------------------------------------------
// the loop

void Director::startAnimation()
{
    _animationStopped = false;
    _nextDeltaTimeZero = true;
    // The window may have lost its contents while frames were not drawn.
    _renderer->invalidateFrame();
}

void Director::stopAnimation()
{
    _animationStopped = true;
}

void Director::end()
{
    _endRequested = true;
}

TextureCache* Director::getTextureCache()
{
    if (!_textureCache) {
        _textureCache = new TextureCache();
    }
    return _textureCache;
}

void Director::drawScene()
{
    _renderer->beginFrame(_clearColor);
    if (_runningScene) {
        _runningScene->render(_renderer);
    }
    _renderer->endFrame();
}

void Director::drainPools()
{
    PoolManager::getInstance()->drainCurrentThread();
}

void Director::runFrame(float dt, bool measured)
{
    if (_ended) {
        return;
    }
    if (_endRequested) {
        endScenes();
        if (_openGLView) {
            _openGLView->end();
        }
        _ended = true;
        drainPools();
        return;
    }

    const auto workStart = std::chrono::steady_clock::now();
    _deltaTime = dt;
    _scheduler->update(dt);

    if (!_animationStopped) {
        if (_nextScene) {
            setNextScene();
        }
        drawScene();
        // A still frame was not drawn: the window keeps showing the last one.
        if (_openGLView && _renderer->isFrameDrawn()) {
            _openGLView->swapBuffers();
        }
        _totalFrames.fetch_add(1, std::memory_order_acq_rel);

        if (measured) {
            const auto now = std::chrono::steady_clock::now();
            const bool startingUp = now - _viewSetTime < std::chrono::seconds(1);
            _secondsPerFrame = startingUp ? 0.0f : std::chrono::duration<float>(now - workStart).count();
        } else {
            _secondsPerFrame = dt;
        }
    }
    drainPools();
}

void Director::mainLoop()
{
    const auto now = std::chrono::steady_clock::now();
    float dt = 0.0f;
    if (_nextDeltaTimeZero) {
        _nextDeltaTimeZero = false;
    } else {
        dt = std::chrono::duration<float>(now - _lastUpdate).count();
    }
    _lastUpdate = now;
    runFrame(dt, true);
}

void Director::stepFrame(float dt)
{
    _lastUpdate = std::chrono::steady_clock::now();
    runFrame(dt, false);
}

} // namespace cocos2d
