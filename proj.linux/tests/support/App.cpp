#include "support/App.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "qvTestPaths.h"

extern char** environ;

namespace fs = std::filesystem;

namespace e2e {

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// PATH without the folders holding zenity: the program then asks for paths with its own prompt,
// drawn in its window, instead of a dialog of another process.
std::string pathWithoutZenity()
{
    const char* path = std::getenv("PATH");
    std::stringstream in(path ? path : "/usr/bin:/bin");
    std::string dir, out;
    while (std::getline(in, dir, ':')) {
        if (dir.empty() || ::access((dir + "/zenity").c_str(), X_OK) == 0)
            continue;
        out += (out.empty() ? "" : ":") + dir;
    }
    return out;
}

}  // namespace

std::string programPath()
{
    return std::string(QV_TEST_BINARY_DIR) + "/quorvane";
}

std::string freshFolder(const std::string& name)
{
    const fs::path dir = fs::path(QV_TEST_BINARY_DIR) / "e2e" / name;
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    return dir.string() + "/";
}

std::string shotFolder()
{
    const fs::path dir = fs::path(QV_TEST_BINARY_DIR) / "e2e-shots";
    fs::create_directories(dir);
    return dir.string() + "/";
}

// ---- View -------------------------------------------------------------------------------------------

bool View::hasScreen(const std::string& cls) const
{
    for (const std::string& s : screens)
        if (s == cls)
            return true;
    return false;
}

const Node* View::named(const std::string& name) const
{
    for (const Node& n : nodes)
        if (n.name == name)
            return &n;
    return nullptr;
}

std::vector<const Node*> View::allNamed(const std::string& name) const
{
    std::vector<const Node*> out;
    for (const Node& n : nodes)
        if (n.name == name)
            out.push_back(&n);
    return out;
}

const Node* View::withText(const std::string& text) const
{
    for (const Node& n : nodes)
        if (n.hasText && n.text == text)
            return &n;
    return nullptr;
}

const Node* View::containing(const std::string& text) const
{
    for (const Node& n : nodes)
        if (n.hasText && n.text.find(text) != std::string::npos)
            return &n;
    return nullptr;
}

std::vector<std::string> View::texts() const
{
    std::vector<std::string> out;
    for (const Node& n : nodes)
        if (n.hasText && !n.text.empty())
            out.push_back(n.text);
    return out;
}

View View::below(const std::string& name) const
{
    View out;
    out.frames = frames;
    out.window = window;
    out.pixelsPerUnit = pixelsPerUnit;
    out.screens = screens;
    // Nodes come in drawing order, each followed by the nodes below it.
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (nodes[i].name != name)
            continue;
        out.nodes.push_back(nodes[i]);
        for (size_t j = i + 1; j < nodes.size() && nodes[j].depth > nodes[i].depth; ++j)
            out.nodes.push_back(nodes[j]);
        break;
    }
    return out;
}

View View::without(const std::string& name) const
{
    View out = *this;
    out.nodes.clear();
    bool removed = false;
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (!removed && nodes[i].name == name) {
            removed = true;
            size_t j = i + 1;
            while (j < nodes.size() && nodes[j].depth > nodes[i].depth)
                ++j;
            i = j - 1;
            continue;
        }
        out.nodes.push_back(nodes[i]);
    }
    return out;
}

std::string View::dump() const
{
    std::string out = "screens:";
    for (const std::string& s : screens)
        out += " " + s;
    out += "\n";
    for (const Node& n : nodes)
        out += "  " + n.cls + " '" + n.name + "'" + (n.hasText ? " \"" + n.text + "\"" : "") + " at " +
               std::to_string(n.box.x) + "," + std::to_string(n.box.y) + " " + std::to_string(n.box.w) + "x" +
               std::to_string(n.box.h) + "\n";
    return out;
}

// ---- App --------------------------------------------------------------------------------------------

App::App(XServer& x, const std::string& dataHome, const std::string& work)
    : x_(x), dataHome_(dataHome), work_(work), probePath_(work + "probe.json"), logPath_(work + "program.log")
{
    fs::create_directories(dataHome_);
    fs::create_directories(work_);
}

App::~App()
{
    if (pid_ > 0)
        kill();
}

bool App::start()
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string key = entry.substr(0, entry.find('='));
        if (key != "DISPLAY" && key != "XDG_DATA_HOME" && key != "QV_SCENE_PROBE" && key != "QV_NETWORK_SCOPE" &&
            key != "PATH" && key != "WAYLAND_DISPLAY")
            env.push_back(entry);
    }
    env.push_back("DISPLAY=" + x_.name());
    env.push_back("XDG_DATA_HOME=" + dataHome_);
    env.push_back("QV_SCENE_PROBE=" + probePath_);
    env.push_back("QV_NETWORK_SCOPE=loopback");
    env.push_back("PATH=" + pathWithoutZenity());
    if (!driverDefaults_) {
        // llvmpipe draws on the main thread; the machine's cores go to the program's own workers.
        env.push_back("LP_NUM_THREADS=0");
        env.push_back("MESA_SHADER_CACHE_DISABLE=true");
    }
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string program = program_.empty() ? programPath() : program_;

    exitStatus_ = -1;
    pid_ = ::fork();
    if (pid_ == 0) {
        // A test process that dies (a time-out, a crash) takes its program with it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int log = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::dup2(log, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        ::chdir(work_.c_str());
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        ::execve(program.c_str(), argv, envp.data());
        ::_exit(127);
    }
    if (pid_ < 0)
        return false;
    // Up when its window shows.
    const double end = now() + 60;
    while (now() < end) {
        Box box;
        if (x_.windowOf(pid_, &box))
            return true;
        if (!running())
            return false;
        pause(100);
    }
    return false;
}

bool App::running()
{
    if (pid_ <= 0)
        return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return true;
}

View App::probe()
{
    View view;
    if (!running())
        return view;
    Box window;
    if (!x_.windowOf(pid_, &window))
        return view;
    std::error_code ec;
    fs::remove(probePath_, ec);
    ::kill(pid_, SIGUSR1);
    const double end = now() + 10;
    while (now() < end && !fs::exists(probePath_))
        pause(20);
    if (!fs::exists(probePath_))
        return view;
    const nlohmann::json report = nlohmann::json::parse(readAll(probePath_), nullptr, false);
    if (report.is_discarded() || !report.is_object())
        return view;
    view.window = window;
    view.frames = report.value("frames", 0);
    view.pixelsPerUnit = report.value("pixelsPerUnit", 1.0);
    for (const auto& s : report.value("screens", nlohmann::json::array()))
        view.screens.push_back(s.get<std::string>());
    for (const auto& n : report.value("nodes", nlohmann::json::array())) {
        Node node;
        node.cls = n.value("class", "");
        node.name = n.value("name", "");
        node.depth = n.value("depth", 0);
        node.hasText = n.contains("text");
        node.text = n.value("text", "");
        node.enabled = n.value("enabled", true);
        node.opacity = n.value("opacity", 255);
        node.box = {window.x + n.value("x", 0), window.y + n.value("y", 0), n.value("w", 0), n.value("h", 0)};
        view.nodes.push_back(std::move(node));
    }
    return view;
}

bool App::waitFor(const std::function<bool(const View&)>& pred, double seconds, View* last)
{
    const double end = now() + seconds;
    View view;
    bool ok = false;
    do {
        view = probe();
        ok = view.valid() && pred(view);
        if (!ok)
            pause(150);
    } while (!ok && now() < end && running());
    if (last)
        *last = view;
    return ok;
}

bool App::waitForText(const std::string& text, double seconds, View* last)
{
    return waitFor([&](const View& v) { return v.withText(text) != nullptr; }, seconds, last);
}

bool App::waitForScreen(const std::string& cls, double seconds, View* last)
{
    return waitFor([&](const View& v) { return v.hasScreen(cls); }, seconds, last);
}

void App::click(const Node& node, double fx, double fy)
{
    x_.click(node.box.x + int(node.box.w * fx), node.box.y + int(node.box.h * fy));
}

bool App::clickNamed(const std::string& name, double seconds)
{
    View view;
    if (!waitFor([&](const View& v) { return v.named(name) != nullptr; }, seconds, &view))
        return false;
    click(*view.named(name));
    return true;
}

int App::quit(double seconds)
{
    if (!running())
        return -1;
    const unsigned long window = x_.windowOf(pid_, nullptr);
    if (window)
        x_.closeWindow(window);
    return wait(seconds);
}

int App::wait(double seconds)
{
    const double end = now() + seconds;
    while (running() && now() < end)
        pause(50);
    if (!running())
        return exitStatus_;
    kill();
    return -1;
}

void App::kill()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::string App::log() const
{
    return readAll(logPath_);
}

std::string App::logTail(size_t lines) const
{
    const std::string text = log();
    size_t pos = text.size();
    for (size_t n = 0; n <= lines && pos != std::string::npos && pos > 0; ++n)
        pos = text.rfind('\n', pos - 1);
    return pos == std::string::npos ? text : text.substr(pos + 1);
}

}  // namespace e2e
