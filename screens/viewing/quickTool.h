// quickTool: the row of five small buttons that the viewer screen lays along the bottom edge of
// the active viewer: maximise or restore, capture, favourite, DICOM information and link. Each
// click becomes one notification for the screen or the multi-view container; the bar follows the
// viewer it was last shown for (by the viewer's object id). Over an image window the bar keeps off
// the window's texts: each frame it asks the window's overlay for a place clear of them, at or
// above its own.
//
// Main thread only.
#pragma once

#include "NSNotificationData.h"
#include "UIJson.h"

#include "cocos2d.h"
#include "ui/CocosGUI.h"

#include <cstdint>
#include <vector>

class quickTool : public cocos2d::Node, public NSUI::UIJson {
public:
    static constexpr float kRowRight = 150.0f;  // the row starts this far left of the viewer's right edge
    static constexpr float kRaise = 5.0f;

    CREATE_FUNC(quickTool);
    ~quickTool() override;

    bool init() override;
    void buildButtons();
    // Lays the bar along the bottom of the viewer (a node on the stage) and shows the link state.
    void showForViewer(cocos2d::Node* viewer, bool linked);
    void onButton(cocos2d::Ref* sender);
    void onWindowMaximized(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);
    // Takes the place the viewer's overlay found for the bar, then draws.
    void visit(cocos2d::Renderer* renderer, const cocos2d::Mat4& parentTransform, uint32_t parentFlags) override;

    void setArea(const cocos2d::Vec2& origin, const cocos2d::Size& size)
    {
        m_areaOrigin = origin;
        m_areaSize = size;
    }
    uint32_t getViewerId() const { return m_viewerId; }
    const std::vector<cocos2d::ui::Button*>& getButtons() const { return m_buttons; }

protected:
    std::vector<cocos2d::ui::Button*> m_buttons;
    size_t m_buttonCount = 0;
    uint32_t m_viewerId = 0;
    // The viewer shown for, retained while the bar follows it.
    cocos2d::Node* m_viewer = nullptr;
    // The bar's place at the bottom of the viewer, in the parent's units.
    cocos2d::Vec2 m_home;
    cocos2d::Vec2 m_areaOrigin;
    cocos2d::Size m_areaSize;
};
