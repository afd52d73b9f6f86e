#include "viewerMenus.h"

#include "NSNotificationNumbers.h"
#include "UIJson.h"
#include "UILocalConfig.h"

namespace viewerMenus {

Item* item(const std::string& text, const std::string& icon, const std::string& value, unsigned int id,
           void* context)
{
    auto* made = new Item();
    made->text = text;
    made->icon = icon;
    made->value = value;
    made->id = id;
    made->context = context;
    return made;
}

NSUI::NSMenu* build(const char* name, const std::vector<Item*>& items, int iconWidth, cocos2d::Node* parent,
                    int zOrder, float rowHeight)
{
    if (items.empty())
        return nullptr;
    for (size_t i = 0; i + 1 < items.size(); ++i)
        items[i]->next = items[i + 1];
    auto* menu = NSUI::NSMenu::create();
    if (rowHeight > 0)
        menu->setRowHeight(rowHeight);
    menu->setMenuItems(items.front(), iconWidth);
    for (Item* made : items)
        made->release();
    menu->setIgnoreAnchorPointForPosition(false);
    menu->setAnchorPoint(cocos2d::Vec2::ZERO);
    menu->setName(name);
    parent->addChild(menu, zOrder);
    return menu;
}

std::vector<Item*> windowLevelItems(const std::vector<isImageSDK::WindowPreset>& presets, void* view)
{
    std::vector<Item*> items = {
        item(NSUI::UILocalConfig::getText("tool_ww_Input"), "", "", NOTIFY_WL_INPUT, view),
        item(NSUI::UILocalConfig::getText("tool_ww_ByMouse"), "", "", NOTIFY_TOOL_WINDOW_LEVEL, view),
        item(NSUI::UILocalConfig::getText("tool_ww_Default"), "", "", NOTIFY_WL_DEFAULT, view)};
    for (const isImageSDK::WindowPreset& preset : presets) {
        std::string value;
        NSUI::UIJson::setFloat(value, "ww", preset.width);
        NSUI::UIJson::setFloat(value, "wl", preset.centre);
        items.push_back(item(preset.name, "", value, NOTIFY_WL_SET, view));
    }
    return items;
}

std::vector<Item*> clutItems(void* view)
{
    static const char* const icons[] = {"imgs/bwInverse.png", "imgs/hotMetal.png", "imgs/geColor.png",
                                        "imgs/perfusion.png", "imgs/noClut.png"};
    static const char* const tables[] = {"bwInverse.plist", "HotMetal.plist", "GEcolor.plist", "Perfusion.plist",
                                         "noClut.plist"};
    std::vector<Item*> items;
    for (int i = 0; i < 5; ++i)
        items.push_back(item("", icons[i], tables[i], NOTIFY_CLUT_SET, view));
    return items;
}

std::vector<Item*> curveItems(void* view)
{
    return {item("", "imgs/Linear.png", "", NOTIFY_WL_FUNC_LINEAR, view),
            item("", "imgs/Log10.png", "", NOTIFY_WL_FUNC_LOG10, view),
            item("", "imgs/Log10Inv.png", "", NOTIFY_WL_FUNC_LOG10_INVERSE, view)};
}

} // namespace viewerMenus
