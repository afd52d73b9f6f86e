// The end-to-end tests' display: a private Xvfb server per test (so that input sent to one
// program never reaches another test's window), input sent from outside through the XTEST
// extension as a user's mouse and keyboard would send it, and screenshots of the whole screen.
//
// Coordinates are X screen pixels, origin top-left.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

typedef struct _XDisplay Display;

namespace e2e {

struct Rgb {
    int r = 0, g = 0, b = 0;
};

struct Box {
    int x = 0, y = 0, w = 0, h = 0;
    int cx() const { return x + w / 2; }
    int cy() const { return y + h / 2; }
    bool contains(const Box& o) const { return o.x >= x && o.y >= y && o.x + o.w <= x + w && o.y + o.h <= y + h; }
    bool overlaps(const Box& o) const { return x < o.x + o.w && o.x < x + w && y < o.y + o.h && o.y < y + h; }
};

// The screen's pixels at one moment.
class Screenshot {
public:
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // 3 bytes a pixel, rows top to bottom

    Rgb at(int x, int y) const;
    // Pixels of the box within `tolerance` of a colour (per channel).
    int count(const Box& box, Rgb colour, int tolerance = 8) const;
    // Pixels of the box that differ from its top-left pixel by more than `tolerance`.
    int varied(const Box& box, int tolerance = 8) const;
    // The mean grey level of the box.
    double meanGrey(const Box& box) const;
    // Pixels of the box whose grey level differs from `other`'s by more than `tolerance`.
    int differing(const Screenshot& other, const Box& box, int tolerance = 8) const;
    Screenshot crop(const Box& box) const;
    bool savePng(const std::string& path) const;
};

class XServer {
public:
    // Starts Xvfb with one screen of width x height (24-bit). A dpi other than 96 is announced as
    // the Xft.dpi resource, which toolkits read as the content scale (192: scale 2).
    XServer(int width, int height, int dpi = 96);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool ok() const { return display_ != nullptr; }
    const std::string& name() const { return name_; }  // ":N"
    int width() const { return width_; }
    int height() const { return height_; }

    Screenshot shot();
    // One pixel of the screen (far cheaper than a shot of a large screen to poll for a change).
    Rgb pixel(int x, int y);

    // The viewable top-level window of a process (_NET_WM_PID), its position and size; 0 when none.
    unsigned long windowOf(pid_t pid, Box* box);
    // Asks a window to close, as a window manager's close button does (WM_DELETE_WINDOW).
    void closeWindow(unsigned long window);

    void move(int x, int y);
    void press(int button);
    void release(int button);
    void click(int x, int y, int button = 1);
    // Press at the start, move in steps (a frame apart), release at the end.
    void drag(int x0, int y0, int x1, int y1, int button = 1, int steps = 12);
    // Wheel notches at a point: positive turns towards the user (button 5), negative away (4).
    void wheel(int x, int y, int notches);
    // Types printable ASCII text key by key (with Shift where the key map needs it).
    void type(const std::string& text);
    // Presses and releases one key by its keysym name ("Return", "Escape", "BackSpace").
    void key(const std::string& keysymName);

private:
    void keysym(unsigned long sym);
    void sync();

    pid_t pid_ = -1;
    Display* display_ = nullptr;
    std::string name_;
    int width_ = 0, height_ = 0;
};

// Sleeps for milliseconds.
void pause(int ms);

}  // namespace e2e
