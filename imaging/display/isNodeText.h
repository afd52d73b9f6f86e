// isNodeText: a label the user can drag, used for the value labels of measurements. A
// half-transparent black background always covers the text. Dragging moves the label by the
// touch's movement in its parent's space, marks it moved and posts 9092 with the parent as
// context (the measurement actors then draw their number labels). Main thread only.
#pragma once

#include "isNodeObject.h"

#include "cocos2d.h"
#include "ui/CocosGUI.h"

namespace isImageSDK {

class isNodeText : public cocos2d::ui::Text, public isNodeObject {
public:
    static isNodeText* create();
    // Framework text with no font name, touch off, not moved, background added.
    bool init() override;

    // True once the user has dragged the label.
    bool isMoved() const { return m_moved; }
    cocos2d::ui::Layout* getBackground() const { return m_background; }

    bool onTouchBegan(cocos2d::Touch* touch, cocos2d::Event* event) override;
    void onTouchMoved(cocos2d::Touch* touch, cocos2d::Event* event) override;
    void onTouchEnded(cocos2d::Touch* touch, cocos2d::Event* event) override;
    void onTouchCancelled(cocos2d::Touch* touch, cocos2d::Event* event) override;

protected:
    void onSizeChanged() override;

private:
    cocos2d::ui::Layout* m_background = nullptr;
    bool m_moved = false;
    bool m_touching = false;
};

} // namespace isImageSDK
