// viewerMenus: the pop-up menus the viewer screen and the favourite viewer share. Their items post
// their notification with the view (or screen) given as context, so only that one reacts.
//
// Main thread only.
#pragma once

#include "NSMenu.h"
#include "isWindowPresets.h"

#include <string>
#include <vector>

namespace viewerMenus {

using Item = NSUI::NSMenu::menuObject;

// One item, owned by the caller until build() takes it.
Item* item(const std::string& text, const std::string& icon, const std::string& value, unsigned int id,
           void* context);

// The named menu of the items (linked here and released once the menu holds them), anchored at its
// bottom-left and added to parent; a row height of 0 keeps the menu's own.
NSUI::NSMenu* build(const char* name, const std::vector<Item*>& items, int iconWidth, cocos2d::Node* parent,
                    int zOrder, float rowHeight = 0.0f);

// Window level: typed values, by mouse, the default, then the presets of the modality.
std::vector<Item*> windowLevelItems(const std::vector<isImageSDK::WindowPreset>& presets, void* view);
// The five colour tables, by icon.
std::vector<Item*> clutItems(void* view);
// The window curves (linear, log10, inverse log10), by icon.
std::vector<Item*> curveItems(void* view);

} // namespace viewerMenus
