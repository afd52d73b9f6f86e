// NSRichText: a multi-line text widget built from one element per UTF-8 character, each drawn by
// its own label inside a vertical scroll container. Lines wrap at the widget's width; text taller
// than the view height scrolls. The text field places its cursor between any two characters,
// hit-tests touches to characters and wraps long input with it.
//
// Element positions are in the coordinates of the container's inner container (bottom-left
// origin). Main thread only.
#pragma once

#include "UIControlBase.h"
#include "UIScrollViewBase.h"
#include "cocos2d.h"
#include "ui/CocosGUI.h"

#include <string>
#include <vector>

namespace NSUI
{

class NSRichElement : public cocos2d::Ref
{
public:
    enum Type
    {
        TEXT = 0
    };
    cocos2d::Node* renderer = nullptr; // the element's label once laid out; owned by the container
    int type = TEXT;
    int tag = 0;
    cocos2d::Color3B color;
    GLubyte opacity = 255;
};

class NSRichElementText : public NSRichElement
{
public:
    static NSRichElementText* create(int tag, std::string text, std::string fontName, float fontSize,
                                     cocos2d::Color3B color, GLubyte opacity);
    const std::string& getText() const { return text; }
    void setText(const std::string& t) { text = t; }
    const std::string& getFontName() const { return fontName; }
    float getFontSize() const { return fontSize; }

private:
    std::string text; // normally one UTF-8 character
    std::string fontName;
    float fontSize = 0.0f;
};

class NSRichText : public cocos2d::ui::Widget, public UIControlBase
{
public:
    static NSRichText* create();
    // Releases the elements of a rich text freed without cleanup (never on the stage, say).
    ~NSRichText() override;
    bool init() override;
    void cleanup() override;
    // Content adaptation is not used: the widget sizes itself in formatText.
    void ignoreContentAdaptWithSize(bool) override {}

    // A text element of several characters is split into one element per character.
    void insertElement(NSRichElement* element, int index, bool relayout);
    void pushBackElement(NSRichElement* element, bool relayout);
    void removeElement(int index);
    void clearElements();
    // Lays the labels out in lines of the widget's width and sizes the widget and the container.
    void formatText();
    // Replaces the whole content, one element per character.
    void setText(std::string text, std::string fontName, int fontSize, cocos2d::Color3B color);

    // The bottom-left corner of character index (clamped below at 0), or the bottom-right corner of
    // the last one for an index at or past the end; (0, 0) without characters.
    cocos2d::Vec2 getCursorPosition(int index);
    // The character under the touch (index + 1 on its right half), the count when none, -1 when empty.
    int getIndexAtTouch(cocos2d::Touch* touch);

    // The largest height the widget takes before it scrolls; values <= 0 are ignored.
    virtual void setLineHeight(int height);
    int getViewHeight() const { return viewHeight; }
    const std::vector<NSRichElement*>& getElements() const { return elements; }
    UIScrollViewBase* getElementContainer() const { return container; }

protected:
    void createRenderer(NSRichElement* element);

    std::vector<NSRichElement*> elements; // retained, in text order
    UIScrollViewBase* container = nullptr;
    int viewHeight = 100;
};

// The UTF-8 characters of a text; a byte that starts no valid sequence counts as one character.
std::vector<std::string> splitUtf8(const std::string& text);

} // namespace NSUI
