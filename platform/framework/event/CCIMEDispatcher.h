// IMEDispatcher: routes text input to the attached IMEDelegate.
//
// Input translation (InputTranslator) calls dispatchInsertText for typed characters, Enter
// ("\n") and Ctrl+V (the whole clipboard at once), dispatchDeleteBackward for Backspace,
// dispatchDeleteForward for Delete and dispatchControlKey for Home, End and the Left and Right
// arrows; only while a delegate is attached. Main thread only.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "event/CCEventKeyboard.h"

namespace cocos2d {

class IMEDelegate;

class IMEDispatcher {
public:
    static IMEDispatcher* sharedDispatcher();

    void dispatchInsertText(const char* text, size_t len);
    void dispatchDeleteBackward();
    void dispatchDeleteForward();
    void dispatchControlKey(EventKeyboard::KeyCode keyCode);
    // The attached delegate's text; "" without one.
    const std::string& getContentText();
    bool isAnyDelegateAttachedWithIME() const { return _attached != nullptr; }
    // [hook]
    IMEDelegate* getAttachedDelegate() const { return _attached; }

private:
    friend class IMEDelegate;

    IMEDispatcher() = default;

    void addDelegate(IMEDelegate* delegate);
    void removeDelegate(IMEDelegate* delegate);
    bool attachDelegateWithIME(IMEDelegate* delegate);
    bool detachDelegateWithIME(IMEDelegate* delegate);

    std::vector<IMEDelegate*> _delegates;
    IMEDelegate* _attached = nullptr;
};

} // namespace cocos2d
