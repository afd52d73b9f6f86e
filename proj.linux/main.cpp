// Quorvane's entry point: the application shell (AppDelegate) on the stack, then the framework's
// loop. The program takes no options and reads no command line.
#include <cstdlib>

#include "AppDelegate.h"
#include "cocos2d.h"
#include "sceneProbe.h"

USING_NS_CC;

namespace {

// The start-up check of the test suite sets QV_EXIT_AFTER_FRAMES: the program then draws that
// many frames and closes its window itself, which ends the loop as a user's close would. The
// end-to-end tests set QV_SCENE_PROBE (see sceneProbe.h).
class Quorvane : public AppDelegate {
public:
    bool applicationDidFinishLaunching() override
    {
        if (!AppDelegate::applicationDidFinishLaunching())
            return false;
        startSceneProbe();
        const char* value = std::getenv("QV_EXIT_AFTER_FRAMES");
        const unsigned int frames = value ? static_cast<unsigned int>(std::atoi(value)) : 0;
        if (frames > 0) {
            Director* director = Director::getInstance();
            director->getScheduler()->schedule(
                [frames](float) {
                    Director* d = Director::getInstance();
                    if (d->getTotalFrames() >= frames && d->getOpenGLView())
                        d->getOpenGLView()->end();
                },
                this, 0.0f, false, "qv_exit_after_frames");
        }
        return true;
    }

    void shutdown() override
    {
        stopSceneProbe();
        Director::getInstance()->getScheduler()->unschedule("qv_exit_after_frames", this);
        AppDelegate::shutdown();
    }
};

} // namespace

int main()
{
    armSceneProbe();
#if !defined(NDEBUG)
    Ref::enableCheckMemory();
    Ref::setLeakID(256);
#endif
    Quorvane app;
    return app.run();
}
