// IMEDelegate: a receiver of text input (a text field). At most one delegate is attached to the
// input method at a time; only the attached one receives text.
//
// The constructor registers the delegate with the IME dispatcher and the destructor unregisters
// it. Main thread only.
#pragma once

#include <cstddef>
#include <string>

#include "event/CCEventKeyboard.h"
#include "math/CCGeometry.h"

namespace cocos2d {

struct IMEKeyboardNotificationInfo {
    Rect begin;
    Rect end;
    float duration = 0.0f;
};

class IMEDelegate {
public:
    virtual ~IMEDelegate();

    // Makes this delegate the attached one (the previous one is told didDetachWithIME first).
    // False when either side refuses.
    virtual bool attachWithIME();
    // False when this delegate is not the attached one or refuses.
    virtual bool detachWithIME();

protected:
    IMEDelegate();

    friend class IMEDispatcher;

    virtual bool canAttachWithIME() { return false; }
    virtual void didAttachWithIME() {}
    virtual bool canDetachWithIME() { return false; }
    virtual void didDetachWithIME() {}
    // UTF-8 text; len bytes (not NUL-terminated in general).
    virtual void insertText(const char* text, size_t len);
    virtual void deleteBackward() {}
    // Delete: the character after the cursor.
    virtual void deleteForward() {}
    // A key that moves the cursor: Home, End, Left and Right arrows.
    virtual void controlKey(EventKeyboard::KeyCode keyCode) { (void)keyCode; }
    virtual const std::string& getContentText();

    // The desktop has no on-screen keyboard; nothing calls these.
    virtual void keyboardWillShow(IMEKeyboardNotificationInfo&) {}
    virtual void keyboardDidShow(IMEKeyboardNotificationInfo&) {}
    virtual void keyboardWillHide(IMEKeyboardNotificationInfo&) {}
    virtual void keyboardDidHide(IMEKeyboardNotificationInfo&) {}
};

} // namespace cocos2d
