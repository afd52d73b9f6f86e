// NSText: the toolkit's text widget, a framework text with the message-toast mixin and no
// behaviour of its own. Texts that belong to the toolkit's family (the corner overlay texts of the
// image windows, say) derive from it. Main thread only.
#pragma once

#include "UIControlBase.h"

#include "cocos2d.h"
#include "ui/CocosGUI.h"

namespace NSUI
{

class NSText : public cocos2d::ui::Text, public UIControlBase
{
public:
    // The text's own string accessors (not those of any JSON mixin a subclass adds).
    using cocos2d::ui::Text::getString;
    using cocos2d::ui::Text::setString;

    // Allocated, init()ed and autoreleased; null when init fails.
    static NSText* create();
    // The framework text's init; the toast mixin owned by the text itself.
    bool init() override;
};

} // namespace NSUI
