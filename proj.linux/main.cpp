// Quorvane's entry point. The application shell is not built yet: this opens the main window, as
// the shell will (placed below the screen's top edge, a frame width in from the left, as wide as
// the screen less two frame widths and as high as the screen less 100), draws a plain start page
// and runs until the window is closed.
#include <cstdlib>
#include <string>

#include "cocos2d.h"

USING_NS_CC;

namespace {

const char* const kAppName = "Quorvane";

class EntryApplication : public Application {
public:
    bool applicationDidFinishLaunching() override
    {
        Director* director = Director::getInstance();
        const Size screen = GLViewImpl::getPrimaryMonitorSize();
        const float border = float(GLViewImpl::getFrameBorderWidth());
        Size size(screen.width - 2 * border, screen.height - 100);
        if (size.width < 320 || size.height < 240) {
            size = Size(1280, 800);
        }
        GLViewImpl* view = GLViewImpl::createWithRect(kAppName, Rect(border, 40, size.width, size.height));
        if (!view) {
            log("Quorvane: no window could be opened (no display?)");
            return false;
        }
        director->setOpenGLView(view);
        const Size frame = view->getFrameSize();
        view->setDesignResolutionSize(frame.width, frame.height, ResolutionPolicy::FIXED_HEIGHT);
        director->setContentScaleFactor(1.0f);
        director->setDisplayStats(false);
        director->setAnimationInterval(1.0 / 60);

        Scene* scene = Scene::create();
        const Size win = director->getWinSize();
        scene->addChild(LayerColor::create(Color4B(28, 36, 52, 255), win.width, win.height));
        Label* title = Label::createWithSystemFont(kAppName, "", 48);
        if (title) {
            title->setPosition(win.width / 2, win.height / 2);
            scene->addChild(title);
        }
        director->runWithScene(scene);
        leaveAfterFramesWhenAsked(scene);
        return true;
    }

    void applicationDidEnterBackground() override { Director::getInstance()->stopAnimation(); }
    void applicationWillEnterForeground() override { Director::getInstance()->startAnimation(); }

private:
    // The start-up check of the test suite sets QV_EXIT_AFTER_FRAMES: the program then draws that
    // many frames and closes its window itself, which ends the loop as a user's close would.
    static void leaveAfterFramesWhenAsked(Scene* scene)
    {
        const char* value = std::getenv("QV_EXIT_AFTER_FRAMES");
        const int frames = value ? std::atoi(value) : 0;
        if (frames <= 0) {
            return;
        }
        scene->schedule(
            [frames](float) {
                Director* director = Director::getInstance();
                if (director->getTotalFrames() >= static_cast<unsigned int>(frames)) {
                    director->getOpenGLView()->end();
                }
            },
            "qv_exit_after_frames");
    }
};

} // namespace

int main()
{
    EntryApplication app;
    return app.run();
}
