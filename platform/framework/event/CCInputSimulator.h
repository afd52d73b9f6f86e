// [hook] InputSimulator: synthetic input for tests and headless runs, fed through the same
// InputTranslator entry points that the GLFW window uses.
//
// Locations are design coordinates with the origin at the bottom-left.
#pragma once

#include <string>
#include <vector>

#include "event/CCInputTranslator.h"

namespace cocos2d {

class InputSimulator {
public:
    // Buttons: 0 left, 1 right, 2 middle.
    static void mouseDown(int button, float x, float y) { InputTranslator::mouseDown(button, Vec2(x, y)); }
    static void mouseMove(float x, float y) { InputTranslator::mouseMove(Vec2(x, y)); }
    static void mouseUp(int button, float x, float y) { InputTranslator::mouseUp(button, Vec2(x, y)); }
    // dy wheel steps as the wheel reports them: +1 is one step up (scrollY = -1).
    static void scroll(float x, float y, float dy) { InputTranslator::scroll(Vec2(x, y), 0.0f, dy); }
    // A left-button click: press and release at one point.
    static void click(float x, float y)
    {
        mouseDown(0, x, y);
        mouseUp(0, x, y);
    }
    static void key(EventKeyboard::KeyCode code, bool pressed)
    {
        InputTranslator::key(code, pressed ? InputTranslator::KeyAction::PRESS : InputTranslator::KeyAction::RELEASE);
    }
    // Press and release.
    static void tap(EventKeyboard::KeyCode code)
    {
        key(code, true);
        key(code, false);
    }
    // Typed text, character by character, as the window delivers it.
    static void text(const std::string& utf8);
    // Ctrl+V with the clipboard holding the text.
    static void paste(const std::string& text);
    static void focusLost() { InputTranslator::focusLost(); }

    static void touchesBegan(const std::vector<int>& ids, const std::vector<Vec2>& points)
    {
        InputTranslator::touches(EventTouch::EventCode::BEGAN, ids, points);
    }
    static void touchesMoved(const std::vector<int>& ids, const std::vector<Vec2>& points)
    {
        InputTranslator::touches(EventTouch::EventCode::MOVED, ids, points);
    }
    static void touchesEnded(const std::vector<int>& ids, const std::vector<Vec2>& points)
    {
        InputTranslator::touches(EventTouch::EventCode::ENDED, ids, points);
    }
    static void touchesCancelled(const std::vector<int>& ids, const std::vector<Vec2>& points)
    {
        InputTranslator::touches(EventTouch::EventCode::CANCELLED, ids, points);
    }
};

} // namespace cocos2d
