#include "support/ViewingFixture.h"

#include "AppConfig.h"
#include "GLTestProgram.h"
#include "NSActivity.h"
#include "imageViewerPC.h"
#include "isBinReader.h"
#include "isImagingShutdown.h"
#include "isInteractorBase.h"
#include "isSharedObjects.h"
#include "isViewerMulti.h"
#include "isViewerVolume.h"
#include "purgeServices.h"
#include "qvTestPaths.h"

#include <chrono>
#include <thread>

USING_NS_CC;

namespace {

// The interactors' gesture clock (microseconds), moved only by the gestures the tests make: a
// loaded machine cannot stretch a drag into a swipe or two clicks into a double tap.
int64_t g_gestureClock = 1000000000;

} // namespace

namespace viewingtest {

Recorder::~Recorder()
{
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
}

void Recorder::listen(unsigned int id, void* context)
{
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        this, context,
        [this](Ref* sender, unsigned int number, NSUI::NSNotificationData* data) {
            items.push_back({number, sender, data ? data->text : std::string(), data ? data->intValue : 0});
        },
        id);
}

int Recorder::count(unsigned int id) const
{
    int n = 0;
    for (const Item& item : items)
        n += item.id == id ? 1 : 0;
    return n;
}

} // namespace viewingtest

void ViewingTest::SetUp()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    FileUtils* files = FileUtils::getInstance();
    scratch = std::string(QV_TEST_BINARY_DIR) + "/viewing/" + info->test_suite_name() + "." + info->name() + "/";
    files->removeDirectory(scratch);
    files->createDirectory(scratch + "data/qv/dicom/");
    files->setWritablePath(scratch + "data/");
    files->setDefaultResourceRootPath(std::string(QV_RESOURCE_DIR) + "/");
    files->setSearchPaths({"res/pad", "imageSDK", "dcmtk", "UIRes", "test"});
    g_gestureClock = 1000000000;
    isImageSDK::isInteractorBase::setClock([] { return g_gestureClock; });
    director = Director::getInstance();
    // The drawing tests' window, or a headless view in the other test programs.
    if (GLView* window = qvtest::testWindow())
        director->setOpenGLView(window);
    else
        director->setOpenGLView(GLViewHeadless::create(Size(1920, 1080)));
    GLView* view = director->getOpenGLView();
    const Size frame = view->getFrameSize();
    view->setDesignResolutionSize(frame.width, frame.height, ResolutionPolicy::SHOW_ALL);
    AppConfig::getInstance()->retain();  // as the application delegate holds it
    AppConfig::getInstance()->loadLanguage();
    AppConfig::setWinSize(director->getWinSize());
    NSUI::NSNotificationCenter::getInstance();
    home = Scene::create();
    director->runWithScene(home);
    step(1, 0.5f);  // the notification centre's first delay
    step();
}

void ViewingTest::TearDown()
{
    // The screens leave (clean-up of every pushed scene) before the services go.
    for (int i = 0; i < 8 && director->getRunningScene() != home; ++i) {
        director->popScene();
        step(2);
    }
    NSUI::NSActivity::dismiss();
    home->removeAllChildren();
    step();
    isImageSDK::isViewerVolume::setFactory(nullptr);
    isImageSDK::shutdownImageSDK();
    purgeServices();
    AppConfig::getInstance()->release();
    Director::destroyInstance();
    FileUtils::getInstance()->setWritablePath("");
    FileUtils::getInstance()->removeDirectory(scratch);
    isImageSDK::isInteractorBase::setClock(nullptr);
}

void ViewingTest::step(int n, float dt)
{
    for (int i = 0; i < n; ++i)
        director->stepFrame(dt);
}

bool ViewingTest::stepUntil(const std::function<bool()>& pred, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        step();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::string ViewingTest::writeSeries(const std::string& folder, const qvgen::PhantomSpec& spec)
{
    const std::string path = libraryRoot() + folder;
    FileUtils::getInstance()->createDirectory(path);
    std::string error;
    EXPECT_TRUE(qvgen::Phantom(spec).write(path, &error)) << error;
    return folder;
}

imageViewerPC* ViewingTest::pushViewer(const std::string& series, const std::string& protocol)
{
    Scene* scene = imageViewerPC::createScene(series);
    imageViewerPC* screen = imageViewerPC::getScreen(scene);
    if (screen && !protocol.empty())
        screen->setProtocol(protocol);
    director->pushScene(scene);
    step(2);
    return screen;
}

imageViewerPC* ViewingTest::openViewer(const std::string& series, const std::string& protocol)
{
    imageViewerPC* screen = pushViewer(series, protocol);
    if (!screen)
        return nullptr;
    if (!stepUntil([screen] { return screen->getViewer() != nullptr || screen->getChildByName("imageViewerMsg"); }))
        return nullptr;
    step(3);
    return screen;
}

bool ViewingTest::seriesLoaded(imageViewerPC* screen)
{
    for (const std::string& folder : screen->getSeriesFolders()) {
        using namespace isImageSDK;
        auto* reader = dynamic_cast<isBinReader*>(isSharedObjects::getInstance()->getObject(folder));
        if (!reader || !reader->isLoadComplete())
            return false;
    }
    return true;
}

void ViewingTest::clickNode(Node* node)
{
    const Size size = node->getContentSize();
    const Vec2 centre = node->convertToWorldSpace(Vec2(size.width / 2, size.height / 2));
    InputSimulator::click(centre.x, centre.y);
}

void ViewingTest::pauseBetweenGestures()
{
    advanceGestureClock(200);
}

void ViewingTest::advanceGestureClock(int milliseconds)
{
    g_gestureClock += int64_t(milliseconds) * 1000;
}

void ViewingTest::drag(const Vec2& a, const Vec2& b)
{
    pauseBetweenGestures();
    InputSimulator::mouseDown(0, a.x, a.y);
    step();
    for (int i = 1; i <= 10; ++i) {
        const Vec2 p = a + (b - a) * (float(i) / 10.0f);
        InputSimulator::mouseMove(p.x, p.y);
        step();
        advanceGestureClock(15);
    }
    InputSimulator::mouseUp(0, b.x, b.y);
    step(3);
}
