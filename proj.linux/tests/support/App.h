// The real program under test: `quorvane` started on a private display with its own writable
// folder, loopback-only networking and the scene probe on, driven only through its window.
//
// What the program shows is read two ways: screenshots (XServer::shot) and the scene probe's
// report of the visible named or texted nodes with their rectangles. Rectangles from the probe are
// turned into screen pixels here (the window's position added).
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "support/XServer.h"

namespace e2e {

struct Node {
    std::string cls, name, text;
    int depth = 0;  // in the scene tree (the scene is 0)
    bool hasText = false;
    bool enabled = true;
    int opacity = 255;
    Box box;  // screen pixels
};

// One report of the probe.
struct View {
    int frames = 0;
    Box window;                // screen pixels
    double pixelsPerUnit = 1;  // window pixels per design unit
    std::vector<std::string> screens;
    std::vector<Node> nodes;

    bool valid() const { return window.w > 0; }
    bool hasScreen(const std::string& cls) const;
    const Node* named(const std::string& name) const;
    std::vector<const Node*> allNamed(const std::string& name) const;
    // The first node whose text equals / contains the text.
    const Node* withText(const std::string& text) const;
    const Node* containing(const std::string& text) const;
    std::vector<std::string> texts() const;
    // The first node of that name and the nodes below it (a window over the screen); empty when
    // none is shown.
    View below(const std::string& name) const;
    // The view without the first node of that name and the nodes below it.
    View without(const std::string& name) const;
    // Every shown text, one a line (for failure messages).
    std::string dump() const;
};

class App {
public:
    // dataHome becomes XDG_DATA_HOME; work holds the probe file and the program's log.
    App(XServer& x, const std::string& dataHome, const std::string& work);
    ~App();  // a program still running is killed

    // Before start: another build of the program, and the GL driver left to its own defaults (as
    // on a user's machine) instead of drawing on the main thread (the benchmarks use both).
    void setProgram(const std::string& path) { program_ = path; }
    void keepDriverDefaults() { driverDefaults_ = true; }

    bool start();
    pid_t pid() const { return pid_; }
    bool running();

    // The scene as the program reports it now (invalid when it did not answer within 10 s).
    View probe();
    // Probes until pred holds; the last report goes to `last`. False on timeout.
    bool waitFor(const std::function<bool(const View&)>& pred, double seconds, View* last = nullptr);
    bool waitForText(const std::string& text, double seconds, View* last = nullptr);
    bool waitForScreen(const std::string& cls, double seconds, View* last = nullptr);

    // Clicks a node's centre (or a point inside it given as fractions of its size).
    void click(const Node& node, double fx = 0.5, double fy = 0.5);
    bool clickNamed(const std::string& name, double seconds = 10);

    // Closes the window as a user does and waits for the program to end; its exit status (-1 when
    // it did not end within `seconds`, then it is killed).
    int quit(double seconds = 60);
    // Waits for the program to end by itself; its exit status as quit's (also when it had ended
    // before, as a program that closes its own window may before start sees the window).
    int wait(double seconds = 60);
    // Ends the program at once (SIGKILL).
    void kill();

    std::string log() const;
    // The last lines of the log, for failure messages.
    std::string logTail(size_t lines = 40) const;

private:
    XServer& x_;
    std::string dataHome_, work_, probePath_, logPath_;
    std::string program_;
    bool driverDefaults_ = false;
    pid_t pid_ = -1;
    int exitStatus_ = -1;  // of the program started last, once it ended
};

// The program (built beside this test).
std::string programPath();
// A fresh, empty folder for one test: <binary dir>/e2e/<name>/.
std::string freshFolder(const std::string& name);
// The folder that keeps a test's screenshots for a person to look at.
std::string shotFolder();

}  // namespace e2e
