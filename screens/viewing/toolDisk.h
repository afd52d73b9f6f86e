// toolDisk: the circular pop-up of the viewer screen. A full-window layer showing one page of
// choices around the window's centre; touching a choice posts one viewer command with the disk as
// sender and the multi-view container as context, then the disk closes itself.
//
// Pages (each a layout added as the child "toolDiskDetail"): the image page leads on to the
// window presets, the window functions and the colour tables, which lead back when the centre is
// touched; the layouts, view-type and measurement pages stand alone.
//
// Main thread only.
#pragma once

#include "UIJson.h"
#include "UILocalConfig.h"
#include "isWindowPresets.h"

#include "cocos2d.h"

#include <string>
#include <vector>

class toolDisk : public cocos2d::Layer, public NSUI::UIJson, public NSUI::UILocalConfig {
public:
    enum Page {
        PAGE_NONE = 0,
        PAGE_IMAGE = 1,
        PAGE_CLUT = 4,
        PAGE_LAYOUT = 6,
        PAGE_ROI = 7,
        PAGE_VIEW_TYPE = 8,
        PAGE_PRESETS = 9,
        PAGE_WINDOW_FUNCTIONS = 10,
    };
    static constexpr float kRadius = 110.0f;
    static constexpr float kBackZone = 60.0f;
    static const char* const kDetailName;  // "toolDiskDetail"

    static toolDisk* create();
    ~toolDisk() override;

    bool init() override;

    void show();
    void hide();
    // Where the disk's centre is shown (window coordinates): the window's centre until set. The
    // centre is moved as little as needed for the whole disk to lie inside the window.
    void setCentre(const cocos2d::Vec2& centre);

    void showImagePage();
    void showColourTablePage();
    void showLayoutPage();
    void showMeasurementPage();
    void showViewTypePage();
    void showPresetPage();
    void showWindowFunctionPage();

    void addPreset(const std::string& name, float level, float width);
    void clearPresets();
    const std::vector<isImageSDK::WindowPreset>& getPresets() const { return m_presets; }
    size_t getPresetCount() const { return m_presetCount; }

    // The context of every command (not retained; the screen resets it when the container goes).
    void setViewer(void* container) { m_viewer = container; }
    void* getViewer() const { return m_viewer; }
    int getPage() const { return m_page; }
    cocos2d::Node* getDetail() const;

    bool onTouchBegan(cocos2d::Touch* touch, cocos2d::Event* event) override;
    void onTouchEnded(cocos2d::Touch* touch, cocos2d::Event* event) override;

    // Places the named items of the detail node on the circle around its centre.
    static void layoutAroundDisk(cocos2d::Node* detail, const std::vector<std::string>& items);

protected:
    toolDisk() = default;

    // Replaces the page; false when it is shown already or its layout does not load.
    bool buildPage(int page, const char* layout);
    // Adds one white label per item, named by it, with the text given.
    void addLabels(const std::vector<std::pair<std::string, std::string>>& items);
    void addReturnMark();
    void post(unsigned int id, bool urgent, const std::string& text = std::string(), bool withText = false);
    // The item of the page under the touch, "" for none.
    std::string itemAt(cocos2d::Touch* touch, const std::vector<std::string>& items) const;
    std::vector<std::string> itemsOfPage() const;

    std::vector<isImageSDK::WindowPreset> m_presets;
    size_t m_presetCount = 0;
    int m_page = PAGE_NONE;
    void* m_viewer = nullptr;
    float m_labelSize = 18.0f;
    // The disk's shift from the window's centre.
    cocos2d::Vec2 m_offset;
};
