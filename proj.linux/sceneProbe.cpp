#include "sceneProbe.h"

#include <cxxabi.h>
#include <signal.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <typeinfo>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "cocos2d.h"
#include "ui/CocosGUI.h"

USING_NS_CC;

namespace {

std::atomic<bool> g_requested{false};
std::string g_path;
const char* const kScheduleKey = "qv_scene_probe";
int g_target = 0;  // the scheduler's key owner; only its address is used

void onSignal(int)
{
    g_requested.store(true);
}

std::string className(const Node* node)
{
    const char* mangled = typeid(*node).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(mangled);
}

// What the node shows as text, and whether it shows any.
bool textOf(const Node* node, std::string* text)
{
    if (auto* t = dynamic_cast<const ui::Text*>(node)) {
        *text = t->getString();
        return true;
    }
    if (auto* b = dynamic_cast<const ui::Button*>(node)) {
        *text = b->getTitleText();
        return true;
    }
    if (auto* f = dynamic_cast<const ui::TextField*>(node)) {
        *text = f->getString();
        return true;
    }
    if (auto* l = dynamic_cast<const Label*>(node)) {
        // The label inside a text widget or a button is reported by its owner.
        if (dynamic_cast<const ui::Text*>(node->getParent()) || dynamic_cast<const ui::Button*>(node->getParent()))
            return false;
        *text = l->getString();
        return true;
    }
    return false;
}

// The image viewers' windows carry no names; their class says what they are.
bool isViewerWindow(const Node* node)
{
    const std::string name = className(node);
    return name.rfind("isImageSDK::isViewer", 0) == 0 || name.rfind("isImageSDK::isRenderWindow", 0) == 0;
}

struct Walker {
    float pixelsPerUnit = 1.0f;
    float designHeight = 0.0f;
    nlohmann::json nodes = nlohmann::json::array();
    // A scroll view names its container's children as its own, and holds the container too.
    std::unordered_set<const Node*> seen;

    void visit(const Node* node, int depth)
    {
        if (!node->isVisible() || !seen.insert(node).second)
            return;
        // A layout places its children when it is drawn, so a text changed earlier in this frame
        // still stands where its old size put it. The report is of the frame about to be drawn:
        // the pass that drawing makes is made first (parents before children, as drawing does).
        if (auto* layout = dynamic_cast<const ui::Layout*>(node))
            const_cast<ui::Layout*>(layout)->doLayout();
        std::string text;
        const bool hasText = textOf(node, &text);
        if (!node->getName().empty() || (hasText && !text.empty()) || isViewerWindow(node))
            add(node, depth, hasText ? &text : nullptr);
        for (const Node* child : node->getChildren())
            visit(child, depth + 1);
        if (auto* p = dynamic_cast<const ProtectedNode*>(node))
            for (const Node* child : p->getProtectedChildren())
                visit(child, depth + 1);
    }

    void add(const Node* node, int depth, const std::string* text)
    {
        const Size size = node->getContentSize();
        float x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
        for (const Vec2& corner : {Vec2(0, 0), Vec2(size.width, 0), Vec2(0, size.height), Vec2(size.width, size.height)}) {
            const Vec2 w = node->convertToWorldSpace(corner);
            x0 = std::min(x0, w.x);
            x1 = std::max(x1, w.x);
            y0 = std::min(y0, w.y);
            y1 = std::max(y1, w.y);
        }
        nlohmann::json entry;
        entry["class"] = className(node);
        entry["name"] = node->getName();
        entry["depth"] = depth;
        if (text)
            entry["text"] = *text;
        // Window pixels, origin top-left: design units scaled, y flipped.
        entry["x"] = std::lround(x0 * pixelsPerUnit);
        entry["y"] = std::lround((designHeight - y1) * pixelsPerUnit);
        entry["w"] = std::lround((x1 - x0) * pixelsPerUnit);
        entry["h"] = std::lround((y1 - y0) * pixelsPerUnit);
        entry["opacity"] = int(node->getDisplayedOpacity());
        if (auto* widget = dynamic_cast<const ui::Widget*>(node))
            entry["enabled"] = widget->isEnabled();
        nodes.push_back(std::move(entry));
    }
};

// The report of the running scene as JSON text.
std::string describeRunningScene()
{
    Director* director = Director::getInstance();
    GLView* view = director->getOpenGLView();
    const Size design = director->getWinSize();
    const Size pixels = view ? view->getFramebufferSize() : design;
    Walker walker;
    walker.pixelsPerUnit = design.width > 0 ? pixels.width / design.width : 1.0f;
    walker.designHeight = design.height;
    nlohmann::json report;
    report["frames"] = director->getTotalFrames();
    report["width"] = std::lround(pixels.width);
    report["height"] = std::lround(pixels.height);
    report["pixelsPerUnit"] = walker.pixelsPerUnit;
    if (Scene* scene = director->getRunningScene()) {
        nlohmann::json screens = nlohmann::json::array();
        for (const Node* child : scene->getChildren())
            screens.push_back(className(child));
        report["screens"] = screens;
        walker.visit(scene, 0);
    }
    report["nodes"] = std::move(walker.nodes);
    // Texts from outside (file and entry names, peer values) may hold bytes that are not UTF-8:
    // they are reported with U+FFFD in their place rather than ending the program.
    return report.dump(1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void answer(float)
{
    if (!g_requested.exchange(false))
        return;
    std::string report;
    try {
        report = describeRunningScene();
    } catch (const std::exception& error) {
        // A report that cannot be made says why, and the program goes on.
        log("scene probe: cannot describe the scene: %s", error.what());
        nlohmann::json failed;
        failed["error"] = std::string(error.what());
        report = failed.dump(1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    const std::string temporary = g_path + ".part";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        log("scene probe: cannot write %s", temporary.c_str());
        return;
    }
    const bool written = std::fwrite(report.data(), 1, report.size(), file) == report.size();
    if (std::fclose(file) != 0 || !written || std::rename(temporary.c_str(), g_path.c_str()) != 0) {
        log("scene probe: cannot write %s", g_path.c_str());
        std::remove(temporary.c_str());
    }
}

} // namespace

void armSceneProbe()
{
    const char* path = std::getenv("QV_SCENE_PROBE");
    if (!path || !path[0])
        return;
    g_path = path;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &action, nullptr);
}

void startSceneProbe()
{
    if (!g_path.empty())
        Director::getInstance()->getScheduler()->schedule(answer, &g_target, 0.0f, false, kScheduleKey);
}

void stopSceneProbe()
{
    if (!g_path.empty())
        Director::getInstance()->getScheduler()->unschedule(kScheduleKey, &g_target);
}
