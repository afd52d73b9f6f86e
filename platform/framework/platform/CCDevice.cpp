#include "platform/CCDevice.h"

#include "platform/CCGL.h" // before GLFW: GLEW must come first
#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <sys/utsname.h>

#include "base/CCDirector.h"
#include "platform/CCGLView.h"

namespace cocos2d {

namespace {
constexpr int kDefaultDPI = 96;
std::atomic<int> g_dpiOverride{0};
// The primary monitor's dots per inch as read last for the view named (0: to be read again), and
// how many times the monitor was asked.
std::atomic<int> g_monitorDPI{0};
std::atomic<const GLView*> g_monitorDPIView{nullptr};
std::atomic<int> g_monitorQueries{0};

void onMonitorChange(GLFWmonitor*, int)
{
    g_monitorDPI.store(0);
}

int readMonitorDPI()
{
    ++g_monitorQueries;
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    if (!monitor) {
        return kDefaultDPI;
    }
    int widthMM = 0, heightMM = 0;
    glfwGetMonitorPhysicalSize(monitor, &widthMM, &heightMM);
    const GLFWvidmode* mode = glfwGetVideoMode(monitor);
    if (widthMM <= 0 || !mode || mode->width <= 0) {
        return kDefaultDPI;
    }
    return static_cast<int>(std::lround(mode->width / (widthMM / 25.4)));
}
} // namespace

int Device::getDPI()
{
    if (const int dpi = g_dpiOverride.load()) {
        return dpi;
    }
    Director* director = Director::getInstance();
    if (director->isHeadless()) {
        return kDefaultDPI;
    }
    // The video mode takes round trips to the X server, and every view and measurement asks for
    // the DPI as it draws: a busy server then held the window in them. It is read once per view
    // and again when a monitor comes or goes (GLFW forgets the callback when it ends).
    const GLView* view = director->getOpenGLView();
    int dpi = g_monitorDPI.load();
    if (dpi == 0 || g_monitorDPIView.load() != view) {
        glfwSetMonitorCallback(onMonitorChange);
        dpi = readMonitorDPI();
        g_monitorDPI.store(dpi);
        g_monitorDPIView.store(view);
    }
    return dpi;
}

int Device::getMonitorQueryCountForTest()
{
    return g_monitorQueries.load();
}

float Device::getUnitsPerInch()
{
    const float dpi = static_cast<float>(getDPI());
    Director* director = Director::getInstance();
    const GLView* view = director->getOpenGLView();
    const float units = director->getWinSize().width;
    const float pixels = view ? view->getFramebufferSize().width : 0.0f;
    return units > 0.0f && pixels > 0.0f ? dpi * units / pixels : dpi;
}

void Device::setDPIForTest(int dpi)
{
    g_dpiOverride.store(dpi > 0 ? dpi : 0);
}

std::string Device::getDeviceInfo()
{
    std::string info;
    utsname u{};
    if (::uname(&u) == 0) {
        info = std::string(u.sysname) + " " + u.nodename + " " + u.release + " " + u.machine;
    }
    std::ifstream idFile("/etc/machine-id");
    std::string id;
    if (idFile && std::getline(idFile, id) && !id.empty()) {
        info += (info.empty() ? "" : " ") + id;
    }
    return info;
}

} // namespace cocos2d
