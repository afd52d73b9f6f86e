#include "NSText.h"

namespace NSUI
{

NSText* NSText::create()
{
    NSText* text = new (std::nothrow) NSText();
    if (text && text->init()) {
        text->autorelease();
        return text;
    }
    delete text;
    return nullptr;
}

bool NSText::init()
{
    if (!cocos2d::ui::Text::init())
        return false;
    setOwnerNode(this);
    return true;
}

} // namespace NSUI
