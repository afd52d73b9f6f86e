// InputTranslator: the one path from window input to events. The GLFW window's callbacks and
// the test input simulator both call these entry points, so tests exercise the real path.
//
// Locations are design coordinates with the origin at the bottom-left (windowToDesign turns a
// GLFW cursor position into one). What each call dispatches, in order:
//   mouseDown   left button: a touch began (touch 0), then a mouse down; other buttons: the
//               mouse down only.
//   mouseMove   while the left button is held: a touch moved; then always a mouse move (its
//               button is the held one, left first, or -1).
//   mouseUp     left button: a touch ended (cancelled when released outside the window), then a
//               mouse up; other buttons: the mouse up only.
//   scroll      a mouse scroll with scrollY = -yoffset (wheel up gives scrollY < 0).
//   focusLost   a touch cancelled when the left button was held; forgets held buttons and keys.
//   key         a key event (repeats are presses); then, while a text field is attached to the
//               input method: Backspace deletes backward, Delete forward, Home, End and the
//               Left and Right arrows go to the field as control keys, Enter and keypad Enter
//               insert "\n", Ctrl+V inserts the whole clipboard in one call.
//   character   typed text to the attached text field, as UTF-8.
//   touches     multi-touch (never produced by the desktop; tests of two-finger gestures).
// Every mouse event carries the previous mouse event's location. Buttons, wheel, keys, typed
// characters and touches update Touch::getTimeStamp.
//
// State (held buttons, live touches, Control keys) belongs to the director's current event
// dispatcher and starts afresh with a new one. Main thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "event/CCEventKeyboard.h"
#include "event/CCEventTouch.h"
#include "math/CCMath.h"

namespace cocos2d {

class InputTranslator {
public:
    enum class KeyAction {
        PRESS,
        REPEAT,
        RELEASE,
    };

    // [add] While set, every input goes to the interceptor instead of the program's listeners:
    // the layer's own modal prompts (the file chooser's typed path) use it. Not owned.
    class Interceptor {
    public:
        virtual ~Interceptor() = default;
        virtual void mouseUp(int button, const Vec2& location) { (void)button, (void)location; }
        virtual void key(EventKeyboard::KeyCode code, bool pressed, bool ctrl) { (void)code, (void)pressed, (void)ctrl; }
        virtual void text(const std::string& utf8) { (void)utf8; }
        virtual std::string clipboard() const;
    };
    static void setInterceptor(Interceptor* interceptor);
    static Interceptor* getInterceptor();

    // Buttons as GLFW numbers them: 0 left, 1 right, 2 middle.
    static void mouseDown(int button, const Vec2& location);
    static void mouseUp(int button, const Vec2& location);
    static void mouseMove(const Vec2& location);
    // GLFW wheel offsets: yoffset > 0 when the wheel turns up (away from the user).
    static void scroll(const Vec2& location, float xoffset, float yoffset);
    static void focusLost();
    static void key(EventKeyboard::KeyCode keyCode, KeyAction action);
    // A Unicode code point (GLFW's character callback); invalid ones are dropped.
    static void character(unsigned int codepoint);
    static void touches(EventTouch::EventCode code, const std::vector<int>& ids, const std::vector<Vec2>& locations);

    // Where Ctrl+V reads the clipboard (the window sets GLFW's clipboard); null restores the
    // built-in text of setClipboardText.
    static void setClipboardReader(const std::function<std::string()>& reader);
    // [hook] The clipboard text without a window.
    static void setClipboardText(const std::string& text);

    // A cursor position in window coordinates (screen units, origin top-left) to design
    // coordinates (origin bottom-left), through the GL view's scale and viewport.
    static Vec2 windowToDesign(double x, double y);
    static EventKeyboard::KeyCode keyCodeFromGLFW(int glfwKey);
    // Appends the UTF-8 form of a code point; false (nothing appended) for surrogates and values
    // beyond U+10FFFF.
    static bool appendUtf8(unsigned int codepoint, std::string& out);
};

} // namespace cocos2d
