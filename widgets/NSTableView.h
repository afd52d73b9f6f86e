// NSTableView: the toolkit's list widget. A scroll view showing a column (or row) of cells for an
// ordered list of row objects, with cells only for the rows in sight: cells that leave the visible
// range go to a free list and are handed out again by dequeueCell. Everything specific to a list
// lives in the owner's NSTableViewDelegate: row sizes, cell contents, and the reactions to taps,
// highlight, recycling, scrolling and the left and right swipe menus.
//
// Rows: row i starts at rowPositions[i] along the scroll axis (measured from the top of the
// content in a top-down table, from the bottom or the left otherwise); rowPositions holds one more
// entry, the total length. The row under an offset is found by binary search.
//
// Touch: a tap arrives as tableCellTouched (a touch that travels more than kTapMoveLimit along the
// scroll axis, in a vertical or a horizontal table, is a scroll); the pressed row is highlighted
// through the delegate (kept highlighted with keepSelection); with multiSelection rows collect in
// the selection list and a click with the left Control key held toggles one; a sideways drag that
// starts in the edge zone of a vertical table slides the row and reveals a 150-unit menu the
// delegate fills.
//
// The delegate is not retained; row objects are, while in the table. Main thread only.
#pragma once

#include "UIScrollViewBase.h"
#include "cocos2d.h"
#include "ui/CocosGUI.h"

#include <set>
#include <vector>

namespace NSUI
{

class NSTableView;

// One shown row: a plain node the delegate fills with its own children.
class NSTableViewCell : public cocos2d::Node
{
public:
    static NSTableViewCell* create();

    ssize_t getIndex() const { return index; }
    void setIndex(ssize_t i) { index = i; }
    const cocos2d::Size& getCellSize() const { return cellSize; }
    void setCellSize(const cocos2d::Size& size) { cellSize = size; }

private:
    ssize_t index = CC_INVALID_INDEX; // CC_INVALID_INDEX while not in use
    cocos2d::Size cellSize;           // the row size last given
};

// The widget of a swipe menu: carries the swiped cell and its row index for the menu's buttons.
class NSTableViewMenu : public cocos2d::ui::Widget
{
public:
    static NSTableViewMenu* create();
    bool init() override;

    ssize_t getIndex() const { return index; }
    void setIndex(ssize_t i) { index = i; }
    NSTableViewCell* getCell() const { return cell; }
    void setCell(NSTableViewCell* c) { cell = c; }

private:
    ssize_t index = CC_INVALID_INDEX;
    NSTableViewCell* cell = nullptr; // not retained; the menu is the cell's child
};

class NSTableViewDelegate
{
public:
    static constexpr int kHighlightTag = 10000;

    virtual ~NSTableViewDelegate() = default;
    virtual void tableCellTouched(NSTableView* table, NSTableViewCell* cell, const cocos2d::Vec2& point);
    // Default: a layer of the highlight colour under the cell's contents (tag 10000).
    virtual void tableCellHighlight(NSTableView* table, NSTableViewCell* cell, const cocos2d::Vec2& point,
                                    const cocos2d::Size& size);
    virtual void tableCellUnhighlight(NSTableView* table, NSTableViewCell* cell, const cocos2d::Vec2& point,
                                      const cocos2d::Size& size);
    virtual void tableCellWillRecycle(NSTableView* table, NSTableViewCell* cell);
    virtual void tableVisibleRangeChanged(int first, int last);
    virtual void tableCellOutOfSight(ssize_t index);
    virtual void tableViewDidScroll(NSTableView* table);
    // Fill the menu and leave it visible to show it; the defaults hide it (no swipe that way).
    virtual void tableCellLeftMenu(NSTableView* table, class NSTableViewMenu* menu);
    virtual void tableCellRightMenu(NSTableView* table, class NSTableViewMenu* menu);
    virtual cocos2d::Size tableCellSizeForIndex(NSTableView* table, ssize_t index, cocos2d::Ref* data) = 0;
    // The cell for a row: the row's used cell, else table->dequeueCell(), else a new cell; its
    // contents must be rebuilt completely (cells are reused for other rows).
    virtual NSTableViewCell* tableCellAtIndex(NSTableView* table, ssize_t index, const cocos2d::Size& size) = 0;

    cocos2d::Color4B highlightColor = cocos2d::Color4B(255, 255, 0, 55);
    bool highlightEnabled = false;
};

class NSTableView : public UIScrollViewBase
{
public:
    enum FillOrder
    {
        TOP_DOWN = 0,
        BOTTOM_UP = 1
    };
    static constexpr float kSwipeMenuWidth = 150.0f;
    static constexpr float kTapMoveLimit = 5.0f;

    ~NSTableView() override;
    bool init() override;
    void cleanup() override;

    void reloadData();
    // Recycles every cell and releases every row object and the selection.
    void clear();
    // A negative or past-the-end index appends.
    void insertRow(ssize_t index, cocos2d::Ref* data);
    void removeRowAtIndex(ssize_t index);
    void removeRowForData(cocos2d::Ref* data);
    void updateCellAtIndex(ssize_t index);
    void updateCellForData(cocos2d::Ref* data);
    NSTableViewCell* cellAtIndex(ssize_t index) const;
    // A recycled cell (autoreleased), or null.
    NSTableViewCell* dequeueCell();
    void selectCellAtIndex(ssize_t index);
    NSTableViewCell* getSelectedCell() const;
    void hideSwipeMenu(bool immediately);

    // Row objects in display order.
    const std::vector<cocos2d::Ref*>& getRowData() const { return rows; }
    ssize_t getRowCount() const { return rowCount; }
    ssize_t indexOfData(cocos2d::Ref* data) const;
    const std::vector<cocos2d::Ref*>& getSelectionList() const { return selectionList; }
    int getFirstVisibleIndex() const { return firstVisible; }
    int getLastVisibleIndex() const { return lastVisible; }
    size_t getUsedCellCount() const { return usedCells.size(); }
    size_t getFreeCellCount() const { return freeCells.size(); }
    bool isSwipeMenuOpen() const { return leftMenuOpen || rightMenuOpen; }
    NSTableViewCell* getSwipedCell() const { return swipedCell; }
    NSTableViewCell* getPressedCell() const { return pressedCell; }

    // The offset of a row's cell inside the inner container.
    cocos2d::Vec2 offsetFromIndex(ssize_t index) const;
    // The row at an offset inside the inner container, or -1.
    ssize_t indexFromOffset(cocos2d::Vec2 offset) const;

    void setContentSize(const cocos2d::Size& size) override;
    void scrollViewDidScroll() override;

    bool onTouchBegan(cocos2d::Touch* touch, cocos2d::Event* event) override;
    void onTouchMoved(cocos2d::Touch* touch, cocos2d::Event* event) override;
    void onTouchEnded(cocos2d::Touch* touch, cocos2d::Event* event) override;
    void onTouchCancelled(cocos2d::Touch* touch, cocos2d::Event* event) override;
    void onKeyPressed(cocos2d::EventKeyboard::KeyCode code, cocos2d::Event* event) override;
    void onKeyReleased(cocos2d::EventKeyboard::KeyCode code, cocos2d::Event* event) override;

    // Set directly by the owner.
    NSTableViewDelegate* delegate = nullptr;
    int fillOrder = TOP_DOWN;
    float swipeEdgeRatio = 0.5f;
    float swipeOpenRatio = 0.5f;
    float swipeSlideTime = 0.5f;
    bool keepSelection = false;
    bool multiSelection = false;

protected:
    bool isVerticalTable() const { return getDirection() != ScrollDirection::HORIZONTAL; }
    bool isTopDownVertical() const { return isVerticalTable() && fillOrder == TOP_DOWN; }
    float rowLength(ssize_t index) const { return rowPositions[index + 1] - rowPositions[index]; }
    cocos2d::Size rowSizeFromDelegate(ssize_t index, cocos2d::Ref* data);

    void updateCellPositions();
    void updateContentSize();
    void dropSwipeMenus(NSTableViewCell* cell);
    void recycleCell(NSTableViewCell* cell);
    void recycleAllCells();
    void sortUsedCells();
    void placeUsedCells();
    void applyKeptSelection(NSTableViewCell* cell);
    void setPressedCell(NSTableViewCell* cell);
    void releaseSelection();
    void slideSwipeMenu(NSTableViewCell* cell, bool closing, bool left);
    void closeOpenSwipeMenu();
    void createSwipeMenu(bool left);

    std::vector<cocos2d::Ref*> rows;          // retained
    ssize_t rowCount = 0;
    std::vector<float> rowPositions;
    std::vector<NSTableViewCell*> usedCells;  // retained
    std::set<ssize_t> usedIndices;
    std::vector<NSTableViewCell*> freeCells;  // retained
    bool usedCellsUnsorted = false;
    int firstVisible = 0;
    int lastVisible = 0;
    int previousDirection = 0;

    NSTableViewCell* pressedCell = nullptr; // retained, so a cell handed out again stays valid
    bool moved = false;
    NSTableViewCell* swipedCell = nullptr;
    bool leftMenuOpen = false;
    bool rightMenuOpen = false;
    std::vector<cocos2d::Ref*> selectionList; // retained
    bool controlHeld = false;
};

} // namespace NSUI
