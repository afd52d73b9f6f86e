// The pieces of FileUtils::chooseFile (CCFileUtils.h), for tests of the layer.
//
// FilePathPrompt is the typed-path prompt shown when zenity is not installed: a full-window dim
// layer with a panel holding a one-line path, an OK and a Cancel button. While it is the input
// interceptor, typed characters and Ctrl+V edit the path, Backspace deletes a character, Enter or
// OK accepts, Escape or Cancel gives up. Main thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "event/CCInputTranslator.h"
#include "node/CCLayer.h"

namespace cocos2d {

class Label;
class LayerColor;

class FilePathPrompt : public Layer, public InputTranslator::Interceptor {
public:
    static FilePathPrompt* create(const std::string& initialText);
    bool initWithText(const std::string& initialText);

    void mouseUp(int button, const Vec2& location) override;
    void key(EventKeyboard::KeyCode code, bool pressed, bool ctrl) override;
    void text(const std::string& utf8) override;

    bool isDone() const { return _done; }
    bool isAccepted() const { return _accepted; }
    const std::string& getPath() const { return _path; }
    // The buttons' rectangles in the prompt's (window) coordinates.
    Rect okRect() const;
    Rect cancelRect() const;

private:
    void finish(bool accepted);
    void refresh();

    std::string _path;
    bool _done = false;
    bool _accepted = false;
    Label* _line = nullptr;
    LayerColor* _ok = nullptr;
    LayerColor* _cancel = nullptr;
};

// Where zenity is installed ("" when not on the PATH).
std::string findZenity();
// Runs zenity's file dialog and returns its answer ("" when cancelled or failed), calling
// whileWaiting about every 50 ms until it ends.
std::string runZenityFileSelection(const std::string& zenity, const std::string& hint,
                                   const std::function<void()>& whileWaiting);

} // namespace cocos2d
