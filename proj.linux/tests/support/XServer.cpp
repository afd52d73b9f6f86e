#include "support/XServer.h"

#include "PrivateXvfb.h"

#include <X11/Xatom.h>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <png.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace e2e {

void pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// ---- Screenshot ------------------------------------------------------------------------------------

Rgb Screenshot::at(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height)
        return {};
    const uint8_t* p = rgb.data() + (size_t(y) * width + x) * 3;
    return {p[0], p[1], p[2]};
}

namespace {

template <typename F>
void forEach(const Screenshot& s, const Box& box, F f)
{
    const int x0 = std::max(0, box.x), y0 = std::max(0, box.y);
    const int x1 = std::min(s.width, box.x + box.w), y1 = std::min(s.height, box.y + box.h);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            f(x, y, s.at(x, y));
}

bool near(Rgb a, Rgb b, int tolerance)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

double grey(Rgb c)
{
    return (c.r + c.g + c.b) / 3.0;
}

}  // namespace

int Screenshot::count(const Box& box, Rgb colour, int tolerance) const
{
    int n = 0;
    forEach(*this, box, [&](int, int, Rgb c) { n += near(c, colour, tolerance); });
    return n;
}

int Screenshot::varied(const Box& box, int tolerance) const
{
    const Rgb first = at(box.x, box.y);
    int n = 0;
    forEach(*this, box, [&](int, int, Rgb c) { n += !near(c, first, tolerance); });
    return n;
}

double Screenshot::meanGrey(const Box& box) const
{
    double sum = 0;
    long n = 0;
    forEach(*this, box, [&](int, int, Rgb c) {
        sum += grey(c);
        ++n;
    });
    return n ? sum / n : 0;
}

int Screenshot::differing(const Screenshot& other, const Box& box, int tolerance) const
{
    int n = 0;
    forEach(*this, box, [&](int x, int y, Rgb c) { n += std::abs(grey(c) - grey(other.at(x, y))) > tolerance; });
    return n;
}

Screenshot Screenshot::crop(const Box& box) const
{
    Screenshot out;
    out.width = std::max(0, std::min(width, box.x + box.w) - std::max(0, box.x));
    out.height = std::max(0, std::min(height, box.y + box.h) - std::max(0, box.y));
    out.rgb.reserve(size_t(out.width) * out.height * 3);
    forEach(*this, box, [&](int, int, Rgb c) {
        out.rgb.push_back(uint8_t(c.r));
        out.rgb.push_back(uint8_t(c.g));
        out.rgb.push_back(uint8_t(c.b));
    });
    return out;
}

bool Screenshot::savePng(const std::string& path) const
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    if (png && info && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, file);
        png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        // Kept for a person to look at: the fastest compression (a 3840 x 2160 shot took a second at
        // the default level in the sanitizer build).
        png_set_compression_level(png, 1);
        png_write_info(png, info);
        for (int y = 0; y < height; ++y)
            png_write_row(png, const_cast<png_bytep>(rgb.data() + size_t(y) * width * 3));
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && ok;
}

// ---- XServer ---------------------------------------------------------------------------------------

XServer::XServer(int width, int height, int dpi) : width_(width), height_(height)
{
    name_ = qvtest::startXvfb(width, height, dpi, &pid_);
    if (name_.empty())
        return;
    display_ = XOpenDisplay(name_.c_str());
    if (!display_)
        return;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display_, &event, &error, &major, &minor)) {
        XCloseDisplay(display_);
        display_ = nullptr;
        return;
    }
    if (dpi != 96) {
        const std::string resources = "Xft.dpi:\t" + std::to_string(dpi) + "\n";
        XChangeProperty(display_, DefaultRootWindow(display_), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(resources.c_str()), int(resources.size()));
    }
    // The pointer starts out of the way.
    XTestFakeMotionEvent(display_, 0, width - 1, height - 1, 0);
    sync();
}

XServer::~XServer()
{
    if (display_)
        XCloseDisplay(display_);
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
            pause(20);
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
    }
}

void XServer::sync()
{
    XSync(display_, False);
}

Screenshot XServer::shot()
{
    Screenshot s;
    if (!display_)
        return s;
    XImage* image = XGetImage(display_, DefaultRootWindow(display_), 0, 0, unsigned(width_), unsigned(height_),
                              AllPlanes, ZPixmap);
    if (!image)
        return s;
    s.width = width_;
    s.height = height_;
    s.rgb.resize(size_t(width_) * height_ * 3);
    uint8_t* out = s.rgb.data();
    // A 24-bit screen comes in 32-bit pixels, blue green red in memory: read straight from the rows
    // (a 3840 x 2160 screen pixel by pixel through XGetPixel took a second in the sanitizer build).
    if (image->bits_per_pixel == 32 && image->byte_order == LSBFirst && image->red_mask == 0xff0000 &&
        image->green_mask == 0xff00 && image->blue_mask == 0xff) {
        for (int y = 0; y < height_; ++y) {
            const auto* in = reinterpret_cast<const uint8_t*>(image->data) + size_t(y) * image->bytes_per_line;
            for (int x = 0; x < width_; ++x, in += 4) {
                *out++ = in[2];
                *out++ = in[1];
                *out++ = in[0];
            }
        }
        XDestroyImage(image);
        return s;
    }
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            *out++ = uint8_t((pixel >> 16) & 0xff);
            *out++ = uint8_t((pixel >> 8) & 0xff);
            *out++ = uint8_t(pixel & 0xff);
        }
    XDestroyImage(image);
    return s;
}

Rgb XServer::pixel(int x, int y)
{
    Rgb c{};
    XImage* image = display_ ? XGetImage(display_, DefaultRootWindow(display_), x, y, 1, 1, AllPlanes, ZPixmap) : nullptr;
    if (!image)
        return c;
    const unsigned long p = XGetPixel(image, 0, 0);
    c.r = int((p >> 16) & 0xff);
    c.g = int((p >> 8) & 0xff);
    c.b = int(p & 0xff);
    XDestroyImage(image);
    return c;
}

unsigned long XServer::windowOf(pid_t pid, Box* box)
{
    if (!display_)
        return 0;
    const Atom pidAtom = XInternAtom(display_, "_NET_WM_PID", True);
    if (pidAtom == None)
        return 0;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count))
        return 0;
    unsigned long found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        Atom type = None;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display_, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items,
                               &after, &data) == Success &&
            data && items == 1 && pid_t(*reinterpret_cast<unsigned long*>(data)) == pid) {
            XWindowAttributes a;
            if (XGetWindowAttributes(display_, children[i], &a) && a.map_state == IsViewable) {
                found = children[i];
                if (box)
                    *box = {a.x, a.y, a.width, a.height};
            }
        }
        if (data)
            XFree(data);
    }
    if (children)
        XFree(children);
    return found;
}

void XServer::closeWindow(unsigned long window)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &event);
    sync();
}

void XServer::move(int x, int y)
{
    XTestFakeMotionEvent(display_, 0, x, y, 0);
    sync();
    pause(20);
}

void XServer::press(int button)
{
    XTestFakeButtonEvent(display_, unsigned(button), True, 0);
    sync();
    pause(20);
}

void XServer::release(int button)
{
    XTestFakeButtonEvent(display_, unsigned(button), False, 0);
    sync();
    pause(20);
}

void XServer::click(int x, int y, int button)
{
    move(x, y);
    press(button);
    release(button);
    pause(50);
}

void XServer::drag(int x0, int y0, int x1, int y1, int button, int steps)
{
    move(x0, y0);
    press(button);
    for (int i = 1; i <= steps; ++i) {
        XTestFakeMotionEvent(display_, 0, x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps, 0);
        sync();
        pause(25);
    }
    release(button);
    pause(50);
}

void XServer::wheel(int x, int y, int notches)
{
    move(x, y);
    const unsigned button = notches > 0 ? 5 : 4;
    for (int i = 0; i < std::abs(notches); ++i) {
        XTestFakeButtonEvent(display_, button, True, 0);
        XTestFakeButtonEvent(display_, button, False, 0);
        sync();
        pause(40);
    }
}

void XServer::keysym(unsigned long sym)
{
    const KeyCode code = XKeysymToKeycode(display_, sym);
    if (code == 0)
        return;
    // Shift where the symbol sits on the key's second level.
    const bool shift = XkbKeycodeToKeysym(display_, code, 0, 0) != sym && XkbKeycodeToKeysym(display_, code, 0, 1) == sym;
    const KeyCode shiftCode = XKeysymToKeycode(display_, XK_Shift_L);
    if (shift)
        XTestFakeKeyEvent(display_, shiftCode, True, 0);
    XTestFakeKeyEvent(display_, code, True, 0);
    XTestFakeKeyEvent(display_, code, False, 0);
    if (shift)
        XTestFakeKeyEvent(display_, shiftCode, False, 0);
    sync();
    pause(8);
}

void XServer::type(const std::string& text)
{
    for (char c : text)
        if (c >= 0x20 && c < 0x7f)
            keysym(static_cast<unsigned char>(c));  // Latin-1 keysyms are the characters' codes
}

void XServer::key(const std::string& keysymName)
{
    const KeySym sym = XStringToKeysym(keysymName.c_str());
    if (sym != NoSymbol)
        keysym(sym);
    pause(30);
}

}  // namespace e2e
