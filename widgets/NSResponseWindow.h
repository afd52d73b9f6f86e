// NSResponseWindow: the modal container of dialogs. A full-window layer at z-order 10000 that
// claims and swallows every touch strictly inside it, so nothing beneath receives one; the dialog
// layer added into it (drawn above) still gets its touches first. The dialog closes it by removing
// the window from its parent.
#pragma once

#include "cocos2d.h"

namespace NSUI
{

class NSResponseWindow : public cocos2d::Layer
{
public:
    static constexpr int kZOrder = 10000;

    static NSResponseWindow* create();
    // A window at the origin holding the dialog, whose layout (when it has one) hangs from the top
    // centre of the window; without a dialog the window is empty.
    static NSResponseWindow* createFor(cocos2d::Node* dialog, cocos2d::Node* layout);
    bool init() override;
    bool onTouchBegan(cocos2d::Touch* touch, cocos2d::Event* event) override;
};

} // namespace NSUI
