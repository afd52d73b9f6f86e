#include "GLTestProgram.h"
#include "PrivateXvfb.h"

#include "renderer/ccUtils.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include <X11/Xlib.h>

USING_NS_CC;

namespace qvtest {

namespace {
GLTestWindow* g_window = nullptr;

// Set in the environment of a test program started again after its window could not be opened.
const char* const kRetryVariable = "QV_GL_TEST_RETRY";

// An X server started without -noreset (as xvfb-run starts it) resets when its last client leaves,
// and a client connecting in that moment is turned away ("Failed to open display") although the
// server is up. Under load, with test programs coming and going, that happens now and then. GLFW
// keeps the outcome of its one initialisation, so the retry is the whole program run again: once
// the display answers, this process holds that connection open across the exec (so the server
// cannot reset before the new run has connected) and runs itself again. Returns only when the
// display did not answer within 30 s (or none is named) or the exec failed.
void runAgainWhenTheDisplayAnswers(const std::vector<char*>& argv)
{
    if (!std::getenv("DISPLAY"))
        return;
    Display* held = nullptr;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!(held = XOpenDisplay(nullptr)) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!held)
        return;
    const int fd = ConnectionNumber(held);
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) & ~FD_CLOEXEC);
    setenv(kRetryVariable, "1", 1);
    std::fprintf(stderr, "the display turned the window away; it answers now: running the tests again\n");
    std::fflush(stderr);
    ::execv("/proc/self/exe", argv.data());
    XCloseDisplay(held);
}

} // namespace

GLTestWindow* GLTestWindow::create(const std::string& name, const Size& size, bool swaps)
{
    auto* view = new GLTestWindow();
    view->m_swaps = swaps;
    if (!view->initWithRect(name, Rect(0, 0, size.width, size.height), 1.0f)) {
        delete view;
        return nullptr;
    }
    view->autorelease();
    return view;
}

void GLTestWindow::swapBuffers()
{
    ++m_swapRequests;
    if (m_swaps)
        GLViewImpl::swapBuffers();
}

GLTestWindow* testWindow()
{
    return g_window;
}

int runGLTests(int argc, char** argv, const char* name, int width, int height, unsigned options)
{
    // The arguments as given, for a second run (gtest takes its own out of argv).
    const std::vector<char*> given(argv, argv + argc + 1);
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS(); // listing needs no window
    if (options & kMesaOnCallingThread) {
        setenv("LP_NUM_THREADS", "0", 0);
        setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
    }
    if (options & kSizeFromEnvironment) {
        if (const char* size = std::getenv("QV_TEST_WINDOW"))
            std::sscanf(size, "%dx%d", &width, &height);
    }
    if (!std::getenv("DISPLAY")) {
        // The server ends with this process, after the window has closed.
        pid_t server = -1;
        const std::string display = startXvfb(std::max(width, 1920), std::max(height, 1080), 96, &server);
        if (!display.empty())
            setenv("DISPLAY", display.c_str(), 1);
    }
    Director::getInstance();
    g_window = GLTestWindow::create(name, Size(float(width), float(height)), (options & kSwapBuffers) != 0);
    if (!g_window && !std::getenv(kRetryVariable))
        runAgainWhenTheDisplayAnswers(given);
    if (!g_window) {
        std::fprintf(stderr, "%s: no window could be opened (is there a display?)\n", name);
        return 1;
    }
    g_window->retain();
    const int result = RUN_ALL_TESTS();
    Director::destroyInstance();
    g_window->release();
    g_window = nullptr;
    PoolManager::getInstance()->drainCurrentThread();
    return result;
}

std::array<int, 3> framePixel(int x, int y)
{
    unsigned char rgba[4] = {0, 0, 0, 0};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    return {rgba[0], rgba[1], rgba[2]};
}

std::array<int, 3> pixelAt(float x, float y)
{
    const float scale = Director::getInstance()->getOpenGLView()->getScaleX();
    return framePixel(int(x * scale), int(y * scale));
}

void savePicture(const std::string& name)
{
    const char* dir = std::getenv("QV_SCREENSHOT_DIR");
    if (!dir)
        return;
    const Size size = Director::getInstance()->getWinSize();
    const std::string file = std::string(dir) + "/" + name + "-" + std::to_string(int(size.width)) + "x" +
                             std::to_string(int(size.height)) + ".png";
    bool written = false;
    utils::captureScreen([&written](bool ok, const std::string&) { written = ok; }, file);
    for (int i = 0; i < 3 && !written; ++i)
        Director::getInstance()->stepFrame(1.0f / 60);
    EXPECT_TRUE(written) << file;
}

} // namespace qvtest

// AddressSanitizer's tracking of dynamic TLS (its __tls_get_addr interceptor) records bogus
// ranges for the GL driver's modules (loaded with dlopen), and the leak check at exit then crashes
// now and then while scanning them. Without the interceptor the leak check stays complete here.
// (Defined beside runGLTests so that every drawing test program links it.)
extern "C" const char* __asan_default_options()
{
    return "intercept_tls_get_addr=0";
}
