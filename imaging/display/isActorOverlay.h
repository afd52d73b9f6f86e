// isActorOverlay: the information laid over a 2D or reformatted window: four corner blocks of
// text rows (patient, study, series, slice, thickness, window, loading progress...) with the
// frame buttons of multi-frame images in the top-right block, and the four orientation letters
// at the middles of the window's edges.
//
// The image viewer decides what goes into each row (texts, their prefixes and notification
// numbers, buttons); the texts then follow their own notifications. The actor owns the layout
// and life of these nodes, fills the orientation letters (9070) and the DICOM texts of the
// corners (9084). Sizes are window units. Main thread only.
#pragma once

#include "isActorObject.h"
#include "isNodeOverlay.h"
#include "isNodeOverlaySprite.h"
#include "isNodeOverlayText.h"

#include "NSLayout.h"
#include "NSNotificationData.h"
#include "UIJson.h"

#include <string>
#include <vector>

namespace isImageSDK {

// The corners, numbered as the relative-layout alignments of those corners.
enum OverlayCorner { OVERLAY_TOP_LEFT = 1, OVERLAY_TOP_RIGHT = 3, OVERLAY_BOTTOM_LEFT = 7, OVERLAY_BOTTOM_RIGHT = 9 };
enum OverlayEdge { OVERLAY_EDGE_TOP = 0, OVERLAY_EDGE_BOTTOM = 1, OVERLAY_EDGE_LEFT = 2, OVERLAY_EDGE_RIGHT = 3 };

class isActorOverlay : public isActorObject, public NSUI::UIJson {
public:
    static isActorOverlay* create() { return createAutoreleased<isActorOverlay>(); }
    ~isActorOverlay() override;

    // No labels, no corners; row width 100, font size 30, row height 34.
    bool init() override;
    // The base clear, then everything forgotten.
    void clear() override;
    // The base attach, then a fresh start; with a window, follows its orientation letters (9070)
    // and DICOM texts (9084), and rows take half the window's width.
    void attachRenderWindow(isRenderWindowHost* window) override;

    // Takes every node off the window and forgets the labels, the corners and the item list,
    // so that the next build starts from nothing.
    void removeAll();

    // The corner's layout, made with its first row on first use (null for a number that names
    // no corner).
    NSUI::NSLayout* getCornerLayout(int corner);
    // A static text in the corner's current row; the caller binds it again as it needs.
    isNodeOverlayText* addCornerText(int corner, const std::string& text);
    isNodeOverlayText* addTopLeftText(const std::string& text) { return addCornerText(OVERLAY_TOP_LEFT, text); }
    isNodeOverlayText* addTopRightText(const std::string& text) { return addCornerText(OVERLAY_TOP_RIGHT, text); }
    isNodeOverlayText* addBottomLeftText(const std::string& text) { return addCornerText(OVERLAY_BOTTOM_LEFT, text); }
    // A frame button in the top-right corner's current row; the caller sets it up.
    isNodeOverlaySprite* addTopRightButton();
    // Starts a new row in the top-left, top-right or bottom-left corner (not the bottom-right).
    void addCornerRow(int corner);
    void addBottomLeftRow() { addCornerRow(OVERLAY_BOTTOM_LEFT); }

    // The first node of that name in the corners (top-left, bottom-left, top-right,
    // bottom-right), or null.
    cocos2d::Node* findItem(const std::string& name) const;
    // Shows or hides the node findItem finds.
    void setItemVisible(const std::string& name, bool visible);
    // Shows or hides the edge letters and the corners.
    void setAllVisible(bool visible);
    void setEdgeLabels(const std::string& top, const std::string& bottom, const std::string& left,
                       const std::string& right);
    // Row width, font size (4 mm on the screen in design units, 20 to 30) and row height from
    // the window's size; applied to every item, row, corner and edge letter.
    void updateLayout();
    // Fills the corner texts bound to the DICOM numbers (9075 to 9083) from the JSON text.
    void applyDicomInfo(const std::string& json);

    virtual void onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);

    int getRowWidth() const { return m_rowWidth; }
    int getFontSize() const { return m_fontSize; }
    int getRowHeight() const { return m_rowHeight; }
    isNodeOverlayText* getEdgeLabel(int edge) const { return edge >= 0 && edge < 4 ? m_edgeLabels[edge] : nullptr; }
    // The boxes of the texts shown (non-empty and visible up to the host), in the host node's
    // units: the edge letters and, unless edgesOnly, the corner texts and buttons. Measurements'
    // labels and reference lines keep clear of them.
    std::vector<cocos2d::Rect> getTextBoxes(cocos2d::Node* host, bool edgesOnly) const;
    // Run by the viewer each frame before drawing: every text keeps clear of the others, and the
    // least needed give way, hidden until there is room for them again. In order of need: the
    // rows at the left corners (plane name, window); the edge letters, at the middles of their
    // edges or moved along them (never inward) past those rows; the reserved box; then the other
    // rows, one step further from the window's corners at a time, the left corners before the
    // right. A row that would cover a text already placed, or reach outside the window, is hidden.
    void arrangeTexts();
    // A box (host units) that another node lays over the window, such as the quick tool bar:
    // after the corners' outermost rows it takes the lowest free place at or above the given
    // one, and the rows inward of it give way to it. An empty box reserves nothing.
    void setReservedBox(const cocos2d::Rect& box) { m_reservedHome = box; }
    // Where the reserved box was placed by the last arrangement (the box as given until then).
    const cocos2d::Rect& getReservedBox() const { return m_reservedPlaced; }
    // Half-transparent dark backing behind the texts shown, for a bright surround (the white
    // one of an inverted grey table), where the white texts and their shadows do not show.
    void setBacked(bool backed) { m_backed = backed; }
    bool isBacked() const { return m_backed; }
    // The rows of a corner, in order (empty for a corner not made).
    const std::vector<NSUI::NSLayout*>& getCornerRows(int corner) const;
    int getCornerItemCount(int corner) const;
    size_t getItemCount() const { return m_items.size(); }

private:
    struct Corner {
        NSUI::NSLayout* layout = nullptr;
        int rowCount = 0;   // rows added after the first
        int itemCount = 0;  // nodes in the current row
        std::vector<NSUI::NSLayout*> rows;
        NSUI::NSLayout* currentRow = nullptr;
    };
    struct Item {
        cocos2d::Node* node;
        isNodeOverlay* overlay;
    };

    Corner* cornerFor(int corner);
    const Corner* cornerFor(int corner) const;
    NSUI::NSLayout* makeRow(int corner);
    // Sizes the corner's rows (rowWidth by rowHeight, or as tall as a button of the row needs)
    // and the corner layout to hold them all.
    void sizeCorner(Corner& corner) const;
    void addItem(Corner& corner, cocos2d::Node* node, isNodeOverlay* overlay);
    void forgetAll();
    void addCornerBoxes(cocos2d::Node* host, std::vector<cocos2d::Rect>& boxes) const;
    // The box of a row's texts and buttons (non-empty, not hidden themselves) in the host's
    // units, whether or not the row is shown; false for a row with none.
    bool rowBox(cocos2d::Node* host, NSUI::NSLayout* row, cocos2d::Rect& out) const;
    // One step of the arrangement: a corner's row, or (corner -1) the edge letters, or (-2) the
    // reserved box.
    struct Step {
        NSUI::NSLayout* row;
        int corner;
    };
    // The steps in order of need (see arrangeTexts).
    std::vector<Step> stepsByNeed() const;
    // The box of an edge letter at the middle of its edge, host units.
    cocos2d::Rect letterHome(int edge, const cocos2d::Size& view) const;
    void drawBacking(const std::vector<cocos2d::Rect>& boxes);

    isNodeOverlayText* m_edgeLabels[4] = {};
    cocos2d::DrawNode* m_backing = nullptr;  // one of the plain nodes, made when first needed
    bool m_backed = false;
    cocos2d::Rect m_reservedHome;
    cocos2d::Rect m_reservedPlaced;
    Corner m_corners[4];
    std::vector<Item> m_items;
    // Whether the window shows its texts (false while it has no slice); letters and corners
    // made later take it.
    bool m_allVisible = true;
    int m_rowWidth = 100;
    int m_fontSize = 30;
    int m_rowHeight = 34;
};

} // namespace isImageSDK
