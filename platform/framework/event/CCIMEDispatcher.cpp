#include "event/CCIMEDispatcher.h"

#include <algorithm>

#include "event/CCIMEDelegate.h"

namespace cocos2d {

namespace {
const std::string kNoText;
}

// ---------------------------------------------------------------------------------------------
// IMEDelegate

IMEDelegate::IMEDelegate()
{
    IMEDispatcher::sharedDispatcher()->addDelegate(this);
}

IMEDelegate::~IMEDelegate()
{
    IMEDispatcher::sharedDispatcher()->removeDelegate(this);
}

bool IMEDelegate::attachWithIME()
{
    return IMEDispatcher::sharedDispatcher()->attachDelegateWithIME(this);
}

bool IMEDelegate::detachWithIME()
{
    return IMEDispatcher::sharedDispatcher()->detachDelegateWithIME(this);
}

void IMEDelegate::insertText(const char*, size_t) {}

const std::string& IMEDelegate::getContentText()
{
    return kNoText;
}

// ---------------------------------------------------------------------------------------------
// IMEDispatcher

IMEDispatcher* IMEDispatcher::sharedDispatcher()
{
    static IMEDispatcher instance;
    return &instance;
}

void IMEDispatcher::addDelegate(IMEDelegate* delegate)
{
    if (delegate && std::find(_delegates.begin(), _delegates.end(), delegate) == _delegates.end()) {
        _delegates.push_back(delegate);
    }
}

void IMEDispatcher::removeDelegate(IMEDelegate* delegate)
{
    _delegates.erase(std::remove(_delegates.begin(), _delegates.end(), delegate), _delegates.end());
    if (_attached == delegate) {
        _attached = nullptr;
    }
}

bool IMEDispatcher::attachDelegateWithIME(IMEDelegate* delegate)
{
    if (!delegate || std::find(_delegates.begin(), _delegates.end(), delegate) == _delegates.end()) {
        return false;
    }
    if (_attached == delegate) {
        return true;
    }
    if (_attached && !_attached->canDetachWithIME()) {
        return false;
    }
    if (!delegate->canAttachWithIME()) {
        return false;
    }
    IMEDelegate* previous = _attached;
    _attached = delegate;
    if (previous) {
        previous->didDetachWithIME();
    }
    delegate->didAttachWithIME();
    return true;
}

bool IMEDispatcher::detachDelegateWithIME(IMEDelegate* delegate)
{
    if (!delegate || _attached != delegate || !delegate->canDetachWithIME()) {
        return false;
    }
    _attached = nullptr;
    delegate->didDetachWithIME();
    return true;
}

void IMEDispatcher::dispatchInsertText(const char* text, size_t len)
{
    if (_attached && text && len > 0) {
        _attached->insertText(text, len);
    }
}

void IMEDispatcher::dispatchDeleteBackward()
{
    if (_attached) {
        _attached->deleteBackward();
    }
}

void IMEDispatcher::dispatchDeleteForward()
{
    if (_attached) {
        _attached->deleteForward();
    }
}

void IMEDispatcher::dispatchControlKey(EventKeyboard::KeyCode keyCode)
{
    if (_attached) {
        _attached->controlKey(keyCode);
    }
}

const std::string& IMEDispatcher::getContentText()
{
    return _attached ? _attached->getContentText() : kNoText;
}

} // namespace cocos2d
