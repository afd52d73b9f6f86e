#include "event/CCInputTranslator.h"

// Only the key constants are used; the GL declarations come from GLEW elsewhere.
#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <map>

#include "base/CCDirector.h"
#include "event/CCEventDispatcher.h"
#include "event/CCEventMouse.h"
#include "event/CCIMEDispatcher.h"
#include "platform/CCGLView.h"

namespace cocos2d {

namespace {

using KeyCode = EventKeyboard::KeyCode;

struct InputState {
    unsigned int owner = 0; // RefID of the event dispatcher this state belongs to
    bool held[3] = {false, false, false};
    bool haveLastMouse = false;
    Vec2 lastMouse;
    bool leftCtrl = false;
    bool rightCtrl = false;
    std::map<int, Touch*> touches; // live touches by id (retained)
    std::function<std::string()> clipboardReader;
    std::string clipboardText;

    ~InputState() { dropTouches(); }
    void dropTouches()
    {
        for (auto& t : touches) {
            t.second->release();
        }
        touches.clear();
    }
};

InputState& rawState()
{
    static InputState state;
    return state;
}

EventDispatcher* dispatcher()
{
    return Director::getInstance()->getEventDispatcher();
}

// The state of the current dispatcher; a new dispatcher (a new director) starts afresh.
InputState& state()
{
    InputState& s = rawState();
    const unsigned int owner = dispatcher()->getRefID();
    if (s.owner != owner) {
        s.dropTouches();
        s.owner = owner;
        s.held[0] = s.held[1] = s.held[2] = false;
        s.haveLastMouse = false;
        s.leftCtrl = s.rightCtrl = false;
    }
    return s;
}

float designHeight()
{
    return Director::getInstance()->getWinSize().height;
}

// Dispatches one phase of touches; ended and cancelled touches are forgotten afterwards.
void dispatchTouches(EventTouch::EventCode code, const std::vector<int>& ids, const std::vector<Vec2>& locations)
{
    InputState& s = state();
    std::vector<Touch*> touches;
    for (size_t i = 0; i < ids.size() && i < locations.size(); ++i) {
        const int id = ids[i];
        const Vec2 view(locations[i].x, designHeight() - locations[i].y);
        auto it = s.touches.find(id);
        if (code == EventTouch::EventCode::BEGAN) {
            if (it != s.touches.end()) {
                continue; // already down: a second began for one finger is ignored
            }
            Touch* t = new Touch();
            t->setTouchInfo(id, view.x, view.y);
            s.touches.emplace(id, t);
            touches.push_back(t);
        } else if (it != s.touches.end()) {
            it->second->setTouchInfo(id, view.x, view.y);
            touches.push_back(it->second);
        }
    }
    if (touches.empty()) {
        return;
    }
    // Alive through the dispatch even if a callback forgets the state (a new director).
    for (Touch* t : touches) {
        t->retain();
    }
    EventTouch event;
    event.setEventCode(code);
    event.setTouches(touches);
    dispatcher()->dispatchEvent(&event);
    if (code == EventTouch::EventCode::ENDED || code == EventTouch::EventCode::CANCELLED) {
        InputState& after = state();
        for (Touch* t : touches) {
            auto it = after.touches.find(t->getID());
            if (it != after.touches.end() && it->second == t) {
                after.touches.erase(it);
                t->release();
            }
        }
    }
    for (Touch* t : touches) {
        t->release();
    }
}

void dispatchMouse(EventMouse::MouseEventType type, const Vec2& location, int button, float scrollX, float scrollY)
{
    InputState& s = state();
    const Vec2 previous = s.haveLastMouse ? s.lastMouse : location;
    s.lastMouse = location;
    s.haveLastMouse = true;
    EventMouse event(type);
    event.setCursorPosition(location.x, location.y);
    event.setPreviousCursorPosition(previous.x, previous.y);
    event.setMouseButton(button);
    event.setScrollData(scrollX, scrollY);
    dispatcher()->dispatchEvent(&event);
}

int heldButton(const InputState& s)
{
    for (int b = 0; b < 3; ++b) {
        if (s.held[b]) {
            return b;
        }
    }
    return EventMouse::BUTTON_UNSET;
}

bool insideWindow(const Vec2& p)
{
    const Size win = Director::getInstance()->getWinSize();
    return p.x >= 0.0f && p.y >= 0.0f && p.x <= win.width && p.y <= win.height;
}

std::string readClipboard()
{
    InputState& s = rawState();
    return s.clipboardReader ? s.clipboardReader() : s.clipboardText;
}

InputTranslator::Interceptor* g_interceptor = nullptr;

} // namespace

std::string InputTranslator::Interceptor::clipboard() const
{
    return readClipboard();
}

void InputTranslator::setInterceptor(Interceptor* interceptor)
{
    g_interceptor = interceptor;
}

InputTranslator::Interceptor* InputTranslator::getInterceptor()
{
    return g_interceptor;
}

void InputTranslator::mouseDown(int button, const Vec2& location)
{
    if (g_interceptor) {
        return;
    }
    Touch::updateTimeStamp();
    InputState& s = state();
    if (button == EventMouse::BUTTON_LEFT) {
        if (s.touches.count(0)) {
            // A press without the release of the previous one (focus games): end it first.
            dispatchTouches(EventTouch::EventCode::CANCELLED, {0}, {s.lastMouse});
        }
        dispatchTouches(EventTouch::EventCode::BEGAN, {0}, {location});
    }
    if (button >= 0 && button < 3) {
        state().held[button] = true;
    }
    dispatchMouse(EventMouse::MouseEventType::MOUSE_DOWN, location, button, 0.0f, 0.0f);
}

void InputTranslator::mouseMove(const Vec2& location)
{
    if (g_interceptor) {
        return;
    }
    if (state().held[EventMouse::BUTTON_LEFT] && state().touches.count(0)) {
        Touch::updateTimeStamp();
        dispatchTouches(EventTouch::EventCode::MOVED, {0}, {location});
    }
    dispatchMouse(EventMouse::MouseEventType::MOUSE_MOVE, location, heldButton(state()), 0.0f, 0.0f);
}

void InputTranslator::mouseUp(int button, const Vec2& location)
{
    if (g_interceptor) {
        g_interceptor->mouseUp(button, location);
        return;
    }
    Touch::updateTimeStamp();
    if (button == EventMouse::BUTTON_LEFT && state().touches.count(0)) {
        dispatchTouches(insideWindow(location) ? EventTouch::EventCode::ENDED : EventTouch::EventCode::CANCELLED, {0},
                        {location});
    }
    if (button >= 0 && button < 3) {
        state().held[button] = false;
    }
    dispatchMouse(EventMouse::MouseEventType::MOUSE_UP, location, button, 0.0f, 0.0f);
}

void InputTranslator::scroll(const Vec2& location, float xoffset, float yoffset)
{
    if (g_interceptor) {
        return;
    }
    Touch::updateTimeStamp();
    dispatchMouse(EventMouse::MouseEventType::MOUSE_SCROLL, location, EventMouse::BUTTON_UNSET, xoffset, -yoffset);
}

void InputTranslator::focusLost()
{
    InputState& s = state();
    if (s.touches.count(0)) {
        dispatchTouches(EventTouch::EventCode::CANCELLED, {0}, {s.lastMouse});
    }
    InputState& after = state();
    after.held[0] = after.held[1] = after.held[2] = false;
    after.leftCtrl = after.rightCtrl = false;
}

void InputTranslator::key(EventKeyboard::KeyCode keyCode, KeyAction action)
{
    Touch::updateTimeStamp();
    const bool pressed = action != KeyAction::RELEASE;
    InputState& s = state();
    if (keyCode == KeyCode::KEY_LEFT_CTRL) {
        s.leftCtrl = pressed;
    } else if (keyCode == KeyCode::KEY_RIGHT_CTRL) {
        s.rightCtrl = pressed;
    }
    const bool ctrl = s.leftCtrl || s.rightCtrl;
    if (g_interceptor) {
        g_interceptor->key(keyCode, pressed, ctrl);
        return;
    }

    EventKeyboard event(keyCode, pressed);
    dispatcher()->dispatchEvent(&event);

    IMEDispatcher* ime = IMEDispatcher::sharedDispatcher();
    if (!pressed || !ime->isAnyDelegateAttachedWithIME()) {
        return;
    }
    switch (keyCode) {
    case KeyCode::KEY_BACKSPACE: ime->dispatchDeleteBackward(); break;
    case KeyCode::KEY_DELETE: ime->dispatchDeleteForward(); break;
    case KeyCode::KEY_HOME:
    case KeyCode::KEY_END:
    case KeyCode::KEY_LEFT_ARROW:
    case KeyCode::KEY_RIGHT_ARROW: ime->dispatchControlKey(keyCode); break;
    case KeyCode::KEY_ENTER:
    case KeyCode::KEY_KP_ENTER:
    case KeyCode::KEY_RETURN: ime->dispatchInsertText("\n", 1); break;
    case KeyCode::KEY_V:
    case KeyCode::KEY_CAPITAL_V:
        if (ctrl) {
            const std::string text = readClipboard();
            ime->dispatchInsertText(text.data(), text.size());
        }
        break;
    default: break;
    }
}

void InputTranslator::character(unsigned int codepoint)
{
    Touch::updateTimeStamp();
    std::string utf8;
    if (codepoint < 0x20 || codepoint == 0x7F || !appendUtf8(codepoint, utf8)) {
        return; // control characters arrive as keys
    }
    if (g_interceptor) {
        g_interceptor->text(utf8);
        return;
    }
    IMEDispatcher::sharedDispatcher()->dispatchInsertText(utf8.data(), utf8.size());
}

void InputTranslator::touches(EventTouch::EventCode code, const std::vector<int>& ids,
                              const std::vector<Vec2>& locations)
{
    if (g_interceptor) {
        return;
    }
    Touch::updateTimeStamp();
    dispatchTouches(code, ids, locations);
}

void InputTranslator::setClipboardReader(const std::function<std::string()>& reader)
{
    rawState().clipboardReader = reader;
}

void InputTranslator::setClipboardText(const std::string& text)
{
    rawState().clipboardText = text;
}

Vec2 InputTranslator::windowToDesign(double x, double y)
{
    GLView* view = Director::getInstance()->getOpenGLView();
    if (!view) {
        return Vec2(static_cast<float>(x), designHeight() - static_cast<float>(y));
    }
    const Rect& vp = view->getViewPortRect();
    const float viewX = (static_cast<float>(x) - vp.origin.x) / view->getScaleX();
    const float viewY = (static_cast<float>(y) - vp.origin.y) / view->getScaleY();
    return Vec2(viewX, designHeight() - viewY);
}

bool InputTranslator::appendUtf8(unsigned int cp, std::string& out)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return false;
    }
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return true;
}

EventKeyboard::KeyCode InputTranslator::keyCodeFromGLFW(int key)
{
    auto offset = [](KeyCode first, int n) { return static_cast<KeyCode>(static_cast<int>(first) + n); };
    if (key >= GLFW_KEY_A && key <= GLFW_KEY_Z) {
        return offset(KeyCode::KEY_A, key - GLFW_KEY_A);
    }
    if (key >= GLFW_KEY_0 && key <= GLFW_KEY_9) {
        return offset(KeyCode::KEY_0, key - GLFW_KEY_0);
    }
    if (key >= GLFW_KEY_KP_0 && key <= GLFW_KEY_KP_9) {
        return offset(KeyCode::KEY_0, key - GLFW_KEY_KP_0);
    }
    if (key >= GLFW_KEY_F1 && key <= GLFW_KEY_F12) {
        return offset(KeyCode::KEY_F1, key - GLFW_KEY_F1);
    }
    switch (key) {
    case GLFW_KEY_SPACE: return KeyCode::KEY_SPACE;
    case GLFW_KEY_APOSTROPHE: return KeyCode::KEY_APOSTROPHE;
    case GLFW_KEY_COMMA: return KeyCode::KEY_COMMA;
    case GLFW_KEY_MINUS: return KeyCode::KEY_MINUS;
    case GLFW_KEY_PERIOD: return KeyCode::KEY_PERIOD;
    case GLFW_KEY_SLASH: return KeyCode::KEY_SLASH;
    case GLFW_KEY_SEMICOLON: return KeyCode::KEY_SEMICOLON;
    case GLFW_KEY_EQUAL: return KeyCode::KEY_EQUAL;
    case GLFW_KEY_LEFT_BRACKET: return KeyCode::KEY_LEFT_BRACKET;
    case GLFW_KEY_BACKSLASH: return KeyCode::KEY_BACK_SLASH;
    case GLFW_KEY_RIGHT_BRACKET: return KeyCode::KEY_RIGHT_BRACKET;
    case GLFW_KEY_GRAVE_ACCENT: return KeyCode::KEY_GRAVE;
    case GLFW_KEY_ESCAPE: return KeyCode::KEY_ESCAPE;
    case GLFW_KEY_ENTER: return KeyCode::KEY_ENTER;
    case GLFW_KEY_TAB: return KeyCode::KEY_TAB;
    case GLFW_KEY_BACKSPACE: return KeyCode::KEY_BACKSPACE;
    case GLFW_KEY_INSERT: return KeyCode::KEY_INSERT;
    case GLFW_KEY_DELETE: return KeyCode::KEY_DELETE;
    case GLFW_KEY_RIGHT: return KeyCode::KEY_RIGHT_ARROW;
    case GLFW_KEY_LEFT: return KeyCode::KEY_LEFT_ARROW;
    case GLFW_KEY_DOWN: return KeyCode::KEY_DOWN_ARROW;
    case GLFW_KEY_UP: return KeyCode::KEY_UP_ARROW;
    case GLFW_KEY_PAGE_UP: return KeyCode::KEY_PG_UP;
    case GLFW_KEY_PAGE_DOWN: return KeyCode::KEY_PG_DOWN;
    case GLFW_KEY_HOME: return KeyCode::KEY_HOME;
    case GLFW_KEY_END: return KeyCode::KEY_END;
    case GLFW_KEY_CAPS_LOCK: return KeyCode::KEY_CAPS_LOCK;
    case GLFW_KEY_SCROLL_LOCK: return KeyCode::KEY_SCROLL_LOCK;
    case GLFW_KEY_NUM_LOCK: return KeyCode::KEY_NUM_LOCK;
    case GLFW_KEY_PRINT_SCREEN: return KeyCode::KEY_PRINT;
    case GLFW_KEY_PAUSE: return KeyCode::KEY_PAUSE;
    case GLFW_KEY_KP_DECIMAL: return KeyCode::KEY_PERIOD;
    case GLFW_KEY_KP_DIVIDE: return KeyCode::KEY_KP_DIVIDE;
    case GLFW_KEY_KP_MULTIPLY: return KeyCode::KEY_KP_MULTIPLY;
    case GLFW_KEY_KP_SUBTRACT: return KeyCode::KEY_KP_MINUS;
    case GLFW_KEY_KP_ADD: return KeyCode::KEY_KP_PLUS;
    case GLFW_KEY_KP_ENTER: return KeyCode::KEY_KP_ENTER;
    case GLFW_KEY_KP_EQUAL: return KeyCode::KEY_EQUAL;
    case GLFW_KEY_LEFT_SHIFT: return KeyCode::KEY_LEFT_SHIFT;
    case GLFW_KEY_LEFT_CONTROL: return KeyCode::KEY_LEFT_CTRL;
    case GLFW_KEY_LEFT_ALT: return KeyCode::KEY_LEFT_ALT;
    case GLFW_KEY_LEFT_SUPER: return KeyCode::KEY_HYPER;
    case GLFW_KEY_RIGHT_SHIFT: return KeyCode::KEY_RIGHT_SHIFT;
    case GLFW_KEY_RIGHT_CONTROL: return KeyCode::KEY_RIGHT_CTRL;
    case GLFW_KEY_RIGHT_ALT: return KeyCode::KEY_RIGHT_ALT;
    case GLFW_KEY_RIGHT_SUPER: return KeyCode::KEY_HYPER;
    case GLFW_KEY_MENU: return KeyCode::KEY_MENU;
    default: return KeyCode::KEY_NONE;
    }
}

} // namespace cocos2d
