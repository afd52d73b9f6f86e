#include "ui/UILabelFont.h"

#include "2d/CCLabel.h"
#include "platform/CCFileUtils.h"

namespace cocos2d {
namespace ui {
namespace detail {

void applyLabelFont(Label* label, const std::string& fontName, float fontSize)
{
    if (!fontName.empty() && FileUtils::getInstance()->isFileExist(fontName) &&
        label->setTTFConfig(TTFConfig(fontName, fontSize)))
        return;
    if (!label->isSystemFont())
        label->setTTFConfig(TTFConfig("", fontSize));
    label->setSystemFontName(fontName);
    label->setSystemFontSize(fontSize);
}

} // namespace detail
} // namespace ui
} // namespace cocos2d
