#include "NSTableView.h"

#include "WidgetUtil.h"

#include <algorithm>
#include <cmath>

namespace NSUI
{

namespace
{
const char* const kBackgroundName = "_NSTableView_bk_";
const char* const kLeftMenuName = "leftMenu";
const char* const kRightMenuName = "rightMenu";
const char* const kTableMenuName = "tableMenu";
constexpr int kLeftControlKey = 14;

bool contains(const std::vector<cocos2d::Ref*>& list, cocos2d::Ref* data)
{
    return std::find(list.begin(), list.end(), data) != list.end();
}
} // namespace

// ----- cell, menu, delegate defaults

NSTableViewCell* NSTableViewCell::create()
{
    auto* cell = new (std::nothrow) NSTableViewCell();
    if (cell != nullptr && cell->init())
    {
        cell->autorelease();
        return cell;
    }
    delete cell;
    return nullptr;
}

NSTableViewMenu* NSTableViewMenu::create()
{
    auto* menu = new (std::nothrow) NSTableViewMenu();
    if (menu != nullptr && menu->init())
    {
        menu->autorelease();
        return menu;
    }
    delete menu;
    return nullptr;
}

bool NSTableViewMenu::init()
{
    if (!cocos2d::ui::Widget::init())
        return false;
    setTouchEnabled(true);
    return true;
}

void NSTableViewDelegate::tableCellTouched(NSTableView*, NSTableViewCell*, const cocos2d::Vec2&) {}

void NSTableViewDelegate::tableCellHighlight(NSTableView*, NSTableViewCell* cell, const cocos2d::Vec2&,
                                             const cocos2d::Size& size)
{
    if (cell == nullptr || !highlightEnabled || cell->getChildByTag(kHighlightTag) != nullptr)
        return;
    auto* layer = cocos2d::LayerColor::create(highlightColor);
    layer->setContentSize(size);
    layer->setPosition(cocos2d::Vec2::ZERO);
    layer->setAnchorPoint(cocos2d::Vec2::ZERO);
    cell->addChild(layer, -100, kHighlightTag);
}

void NSTableViewDelegate::tableCellUnhighlight(NSTableView*, NSTableViewCell* cell, const cocos2d::Vec2&,
                                               const cocos2d::Size&)
{
    if (cell != nullptr && highlightEnabled)
        cell->removeChildByTag(kHighlightTag, true);
}

void NSTableViewDelegate::tableCellWillRecycle(NSTableView*, NSTableViewCell*) {}
void NSTableViewDelegate::tableVisibleRangeChanged(int, int) {}
void NSTableViewDelegate::tableCellOutOfSight(ssize_t) {}
void NSTableViewDelegate::tableViewDidScroll(NSTableView*) {}
void NSTableViewDelegate::tableCellLeftMenu(NSTableView*, NSTableViewMenu* menu)
{
    menu->setVisible(false);
}
void NSTableViewDelegate::tableCellRightMenu(NSTableView*, NSTableViewMenu* menu)
{
    menu->setVisible(false);
}

// ----- set-up and teardown

NSTableView::~NSTableView()
{
    releaseSelection();
    for (auto* data : rows)
        data->release();
    for (auto* cell : freeCells)
        cell->release();
    for (auto* cell : usedCells)
        cell->release();
    CC_SAFE_RELEASE_NULL(pressedCell);
}

bool NSTableView::init()
{
    if (!UIScrollViewBase::init())
        return false;
    UIScrollViewBase::setContentSize(cocos2d::Size::ZERO);
    usedIndices.clear();
    fillOrder = BOTTOM_UP;
    setDirection(ScrollDirection::VERTICAL);

    auto* background = cocos2d::LayerColor::create(cocos2d::Color4B::BLACK);
    background->setIgnoreAnchorPointForPosition(false);
    background->setAnchorPoint(cocos2d::Vec2::ZERO);
    background->setContentSize(cocos2d::Size::ZERO);
    background->setScale(1.2f);
    background->setPosition(cocos2d::Vec2::ZERO);
    background->setOpacity(0);
    innerContainer->addChild(background, -100, kBackgroundName);
    // The left Control key toggles rows of a multi-selection.
    setKeyboardEnabled(true);
    return true;
}

void NSTableView::cleanup()
{
    cocos2d::ProtectedNode::cleanup();
    clear();
    for (auto* cell : freeCells)
    {
        cell->stopAllActions();
        cell->cleanup();
        cell->release();
    }
    freeCells.clear();
    swipedCell = nullptr;
    leftMenuOpen = rightMenuOpen = false;
}

// ----- rows and geometry

cocos2d::Size NSTableView::rowSizeFromDelegate(ssize_t index, cocos2d::Ref* data)
{
    return delegate != nullptr ? delegate->tableCellSizeForIndex(this, index, data) : cocos2d::Size::ZERO;
}

ssize_t NSTableView::indexOfData(cocos2d::Ref* data) const
{
    auto it = std::find(rows.begin(), rows.end(), data);
    return it == rows.end() ? -1 : static_cast<ssize_t>(it - rows.begin());
}

void NSTableView::updateCellPositions()
{
    rowPositions.assign(static_cast<size_t>(rowCount) + 1, 0.0f);
    float total = 0.0f;
    for (ssize_t i = 0; i < rowCount; ++i)
    {
        rowPositions[i] = total;
        const cocos2d::Size size = rowSizeFromDelegate(i, rows[i]);
        if (NSTableViewCell* cell = cellAtIndex(i))
            cell->setCellSize(size);
        total += isVerticalTable() ? size.height : size.width;
    }
    rowPositions[rowCount] = total;
}

void NSTableView::updateContentSize()
{
    const float total = rowPositions.empty() ? 0.0f : rowPositions.back();
    const cocos2d::Size& view = getContentSize();
    const cocos2d::Size size = isVerticalTable() ? cocos2d::Size(view.width, std::max(total, view.height))
                                                 : cocos2d::Size(std::max(total, view.width), view.height);
    innerContainer->setContentSize(size);
    const int dir = static_cast<int>(getDirection());
    if (dir != previousDirection)
    {
        if (isVerticalTable())
            jumpToDestination(cocos2d::Vec2(0.0f, view.height - size.height * innerContainer->getScaleY()));
        else
            jumpToDestination(cocos2d::Vec2::ZERO);
        previousDirection = dir;
    }
}

cocos2d::Vec2 NSTableView::offsetFromIndex(ssize_t index) const
{
    if (index < 0 || index >= static_cast<ssize_t>(rowPositions.size()) - 1)
        return cocos2d::Vec2::ZERO;
    if (!isVerticalTable())
        return cocos2d::Vec2(rowPositions[index], 0.0f);
    float y = rowPositions[index];
    if (fillOrder == TOP_DOWN)
        y = innerContainer->getContentSize().height - rowPositions[index] - rowLength(index);
    return cocos2d::Vec2(0.0f, y);
}

ssize_t NSTableView::indexFromOffset(cocos2d::Vec2 offset) const
{
    if (rowCount == 0)
        return -1;
    float value = isVerticalTable() ? offset.y : offset.x;
    const bool topDown = isTopDownVertical();
    if (topDown)
        value = innerContainer->getContentSize().height - value;
    // A value exactly on a boundary belongs to the row before it in a top-down table, to the row
    // after it otherwise.
    const float a = topDown ? 0.0001f : 0.0f;
    const float b = topDown ? 0.0f : -0.0001f;
    ssize_t low = 0;
    ssize_t high = rowCount - 1;
    while (low <= high)
    {
        const ssize_t mid = low + (high - low) / 2;
        const float start = rowPositions[mid];
        const float end = rowPositions[mid + 1];
        if (value >= start + a && value <= end + b)
            return mid;
        if (value < start + a)
            high = mid - 1;
        else
            low = mid + 1;
    }
    return low <= 0 ? 0 : -1;
}

// ----- cells

NSTableViewCell* NSTableView::cellAtIndex(ssize_t index) const
{
    if (usedIndices.count(index) == 0)
        return nullptr;
    for (auto* cell : usedCells)
    {
        if (cell->getIndex() == index)
            return cell;
    }
    return nullptr;
}

NSTableViewCell* NSTableView::dequeueCell()
{
    if (freeCells.empty())
        return nullptr;
    NSTableViewCell* cell = freeCells.front();
    freeCells.erase(freeCells.begin());
    cell->autorelease(); // hands the free list's reference to the caller's pool
    return cell;
}

void NSTableView::sortUsedCells()
{
    if (!usedCellsUnsorted)
        return;
    std::sort(usedCells.begin(), usedCells.end(),
              [](const NSTableViewCell* a, const NSTableViewCell* b) { return a->getIndex() < b->getIndex(); });
    usedCellsUnsorted = false;
}

// A cell that leaves its row takes none of that row's swipe menus along, whatever state their
// slide is in (stopping the cell's actions also cancels a closing slide that would have removed
// them), so the menus' buttons can never act on the old row's index.
void NSTableView::dropSwipeMenus(NSTableViewCell* cell)
{
    for (const char* name : {kLeftMenuName, kRightMenuName, kTableMenuName})
    {
        while (cocos2d::Node* menu = cell->getChildByName(name))
            cell->removeChild(menu, true);
    }
}

void NSTableView::recycleCell(NSTableViewCell* cell)
{
    if (delegate != nullptr)
        delegate->tableCellWillRecycle(this, cell);
    cell->stopAllActions();
    dropSwipeMenus(cell);
    freeCells.push_back(cell);
    cell->retain();
    auto it = std::find(usedCells.begin(), usedCells.end(), cell);
    if (it != usedCells.end())
    {
        usedCells.erase(it);
        cell->release();
    }
    usedCellsUnsorted = true;
    if (swipedCell == cell)
    {
        swipedCell = nullptr;
        leftMenuOpen = rightMenuOpen = false;
    }
    usedIndices.erase(cell->getIndex());
    cell->setIndex(CC_INVALID_INDEX);
    if (cell->getParent() == innerContainer)
        innerContainer->removeChild(cell, false);
}

void NSTableView::recycleAllCells()
{
    const std::vector<NSTableViewCell*> cells = usedCells;
    for (auto* cell : cells)
        recycleCell(cell);
    usedIndices.clear();
}

void NSTableView::placeUsedCells()
{
    for (auto* cell : usedCells)
        cell->setPosition(offsetFromIndex(cell->getIndex()));
}

void NSTableView::applyKeptSelection(NSTableViewCell* cell)
{
    if (!keepSelection || delegate == nullptr || cell == nullptr)
        return;
    const ssize_t index = cell->getIndex();
    const bool selected = index >= 0 && index < rowCount && contains(selectionList, rows[index]);
    if (selected)
        delegate->tableCellHighlight(this, cell, cocos2d::Vec2::ZERO, cell->getCellSize());
    else
        delegate->tableCellUnhighlight(this, cell, cocos2d::Vec2::ZERO, cell->getCellSize());
}

void NSTableView::releaseSelection()
{
    for (auto* data : selectionList)
        data->release();
    selectionList.clear();
}

void NSTableView::setPressedCell(NSTableViewCell* cell)
{
    if (cell == pressedCell)
        return;
    CC_SAFE_RETAIN(cell);
    CC_SAFE_RELEASE(pressedCell);
    pressedCell = cell;
}

void NSTableView::reloadData()
{
    recycleAllCells();
    releaseSelection();
    swipedCell = nullptr;
    leftMenuOpen = rightMenuOpen = false;
    rowCount = static_cast<ssize_t>(rows.size());
    firstVisible = lastVisible = 0;
    updateCellPositions();
    updateContentSize();
    if (rowCount > 0)
        scrollViewDidScroll();
}

void NSTableView::clear()
{
    recycleAllCells();
    releaseSelection();
    swipedCell = nullptr;
    leftMenuOpen = rightMenuOpen = false;
    for (auto* data : rows)
        data->release();
    rows.clear();
    rowCount = 0;
    firstVisible = lastVisible = 0;
    setPressedCell(nullptr);
    updateCellPositions();
    updateContentSize();
}

void NSTableView::setContentSize(const cocos2d::Size& size)
{
    if (size.equals(getContentSize()))
        return;
    UIScrollViewBase::setContentSize(size);
    if (innerContainer == nullptr)
        return;
    updateContentSize();
    if (isVerticalTable())
        jumpToDestination(cocos2d::Vec2(0.0f, size.height - innerContainer->getContentSize().height));
    else
        jumpToDestination(cocos2d::Vec2::ZERO);
    if (auto* background = innerContainer->getChildByName(kBackgroundName))
        background->setContentSize(size);
    if (rowCount > 0)
        scrollViewDidScroll();
}

void NSTableView::scrollViewDidScroll()
{
    UIScrollViewBase::scrollViewDidScroll();
    if (rowCount == 0 || rowPositions.size() != static_cast<size_t>(rowCount) + 1)
        return;
    sortUsedCells();
    if (delegate != nullptr)
        delegate->tableViewDidScroll(this);

    cocos2d::Vec2 offset = -innerContainer->getPosition();
    if (auto* background = innerContainer->getChildByNameDeep(kBackgroundName))
        background->setPosition(offset);

    const cocos2d::Size& view = getContentSize();
    const float scaleX = innerContainer->getScaleX();
    const float scaleY = innerContainer->getScaleY();
    if (fillOrder == TOP_DOWN)
        offset.y += view.height / scaleY;
    ssize_t start = indexFromOffset(offset);
    if (start < 0)
        start = rowCount - 1;
    if (fillOrder == TOP_DOWN)
        offset.y -= view.height / scaleY;
    else
        offset.y += view.height / scaleY;
    offset.x += view.width / scaleX;
    ssize_t end = indexFromOffset(offset);
    if (end < 0)
        end = rowCount - 1;

    while (!usedCells.empty() && usedCells.front()->getIndex() < start)
    {
        NSTableViewCell* cell = usedCells.front();
        const ssize_t index = cell->getIndex();
        recycleCell(cell);
        if (delegate != nullptr)
            delegate->tableCellOutOfSight(index);
        sortUsedCells();
    }
    while (!usedCells.empty())
    {
        NSTableViewCell* cell = usedCells.back();
        const ssize_t index = cell->getIndex();
        if (!(index > end && index <= std::max<ssize_t>(rowCount - 1, 0)))
            break;
        recycleCell(cell);
        if (delegate != nullptr)
            delegate->tableCellOutOfSight(index);
        sortUsedCells();
    }
    firstVisible = static_cast<int>(start);
    lastVisible = static_cast<int>(end);

    for (ssize_t i = start; i <= end && delegate != nullptr; ++i)
    {
        if (usedIndices.count(i) != 0)
            continue;
        const cocos2d::Size size = isVerticalTable() ? cocos2d::Size(view.width, rowLength(i))
                                                     : cocos2d::Size(rowLength(i), view.height);
        NSTableViewCell* cell = delegate->tableCellAtIndex(this, i, size);
        if (cell == nullptr)
            continue;
        cell->setCellSize(size);
        cell->setAnchorPoint(cocos2d::Vec2::ZERO);
        cell->setPosition(offsetFromIndex(i));
        cell->setIndex(i);
        applyKeptSelection(cell);
        if (cell->getParent() != innerContainer)
        {
            if (cell->getParent() != nullptr)
                cell->removeFromParentAndCleanup(false);
            innerContainer->addChild(cell);
        }
        usedCells.push_back(cell);
        cell->retain();
        usedIndices.insert(i);
        usedCellsUnsorted = true;
        dropSwipeMenus(cell);
    }
    if (delegate != nullptr)
        delegate->tableVisibleRangeChanged(static_cast<int>(start), static_cast<int>(end));
}

void NSTableView::insertRow(ssize_t index, cocos2d::Ref* data)
{
    if (data == nullptr)
        return;
    if (index < 0 || index > rowCount)
        index = rowCount;
    if (rowPositions.size() != static_cast<size_t>(rowCount) + 1)
        updateCellPositions();
    rows.insert(rows.begin() + index, data);
    data->retain();
    const cocos2d::Size size = rowSizeFromDelegate(index, data);
    const float s = isVerticalTable() ? size.height : size.width;

    ++rowCount;
    rowPositions.insert(rowPositions.begin() + index + 1, rowPositions[index] + s);
    for (size_t k = static_cast<size_t>(index) + 2; k < rowPositions.size(); ++k)
        rowPositions[k] += s;

    sortUsedCells();
    const ssize_t m = usedCells.empty() ? -1 : usedCells.back()->getIndex();
    float d = 0.0f;
    size_t renumberFrom = usedCells.size();
    const bool topDown = isTopDownVertical();
    if (index > m)
    {
        d = topDown ? s : 0.0f;
    }
    else
    {
        auto it = std::find_if(usedCells.begin(), usedCells.end(),
                               [index](const NSTableViewCell* c) { return c->getIndex() == index; });
        if (it != usedCells.end())
        {
            renumberFrom = static_cast<size_t>(it - usedCells.begin());
            d = topDown ? s : 0.0f;
        }
        else
        {
            // The new row lies before the visible ones.
            auto after = std::find_if(usedCells.begin(), usedCells.end(),
                                      [index](const NSTableViewCell* c) { return c->getIndex() > index; });
            renumberFrom = static_cast<size_t>(after - usedCells.begin());
            d = topDown ? 0.0f : s;
        }
    }
    for (size_t k = renumberFrom; k < usedCells.size(); ++k)
    {
        NSTableViewCell* cell = usedCells[k];
        usedIndices.erase(cell->getIndex());
        cell->setIndex(cell->getIndex() + 1);
    }
    for (size_t k = renumberFrom; k < usedCells.size(); ++k)
    {
        usedIndices.insert(usedCells[k]->getIndex());
        usedCells[k]->setPosition(offsetFromIndex(usedCells[k]->getIndex()));
    }

    updateContentSize();
    cocos2d::Vec2 position = innerContainer->getPosition();
    if (isVerticalTable())
    {
        position.y -= d;
    }
    else
    {
        position.x -= d;
        if (getContentSize().width >= innerContainer->getContentSize().width && position.x < 0.0f)
            position.x = 0.0f;
    }
    jumpToDestination(position);
    placeUsedCells();
}

void NSTableView::removeRowAtIndex(ssize_t index)
{
    if (index == CC_INVALID_INDEX || index < 0 || index >= rowCount || rowCount == 0)
        return;
    cocos2d::Ref* data = rows[index];
    auto sel = std::find(selectionList.begin(), selectionList.end(), data);
    if (sel != selectionList.end())
    {
        selectionList.erase(sel);
        data->release();
    }
    rows.erase(rows.begin() + index);

    const float s = rowLength(index);
    rowPositions.erase(rowPositions.begin() + index + 1);
    for (size_t k = static_cast<size_t>(index) + 1; k < rowPositions.size(); ++k)
        rowPositions[k] -= s;
    --rowCount;

    sortUsedCells();
    const ssize_t m = usedCells.empty() ? -1 : usedCells.back()->getIndex();
    float d = 0.0f;
    size_t renumberFrom = usedCells.size();
    const bool topDown = isTopDownVertical();
    if (index > m)
    {
        d = topDown ? s : 0.0f;
    }
    else if (NSTableViewCell* cell = cellAtIndex(index))
    {
        auto it = std::find(usedCells.begin(), usedCells.end(), cell);
        renumberFrom = static_cast<size_t>(it - usedCells.begin());
        recycleCell(cell);
        sortUsedCells();
        if (delegate != nullptr)
            delegate->tableCellOutOfSight(index);
    }
    else
    {
        // The removed row lay before the visible ones: they move back by its length, which the
        // container makes up for (a horizontal or bottom-up table; a top-down one needs nothing).
        renumberFrom = 0;
        if (!topDown)
            d = isVerticalTable() ? s : -s;
    }
    if (index < rowCount + 1)
    {
        for (size_t k = renumberFrom; k < usedCells.size(); ++k)
        {
            NSTableViewCell* cell = usedCells[k];
            if (cell->getIndex() <= index)
                continue;
            usedIndices.erase(cell->getIndex());
            cell->setIndex(cell->getIndex() - 1);
        }
        for (size_t k = renumberFrom; k < usedCells.size(); ++k)
        {
            usedIndices.insert(usedCells[k]->getIndex());
            usedCells[k]->setPosition(offsetFromIndex(usedCells[k]->getIndex()));
        }
    }

    updateContentSize();
    cocos2d::Vec2 position = innerContainer->getPosition();
    if (isVerticalTable())
    {
        position.y += d;
    }
    else
    {
        position.x -= d;
        if (getContentSize().width >= innerContainer->getContentSize().width && position.x < 0.0f)
            position.x = 0.0f;
    }
    jumpToDestination(position);
    if (topDown)
        placeUsedCells();
    data->release();
}

void NSTableView::removeRowForData(cocos2d::Ref* data)
{
    const ssize_t index = indexOfData(data);
    if (index >= 0)
        removeRowAtIndex(index);
}

void NSTableView::updateCellAtIndex(ssize_t index)
{
    if (index < 0 || index >= rowCount || index < firstVisible || index > lastVisible)
        return;
    const cocos2d::Size size = rowSizeFromDelegate(index, rows[index]);
    NSTableViewCell* cell = cellAtIndex(index);
    if (cell != nullptr)
        cell->setCellSize(size);
    const float delta = (isVerticalTable() ? size.height : size.width) - rowLength(index);
    for (size_t k = static_cast<size_t>(index) + 1; k < rowPositions.size(); ++k)
        rowPositions[k] += delta;
    if (cell != nullptr && delegate != nullptr)
    {
        delegate->tableCellAtIndex(this, index, size);
        cell->setCellSize(size);
        applyKeptSelection(cell);
    }
    updateContentSize();
    if (isTopDownVertical())
        jumpToDestination(cocos2d::Vec2(innerContainer->getPositionX(), innerContainer->getPositionY() - delta));
    placeUsedCells();
}

void NSTableView::updateCellForData(cocos2d::Ref* data)
{
    const ssize_t index = indexOfData(data);
    if (index >= 0)
        updateCellAtIndex(index);
}

// ----- selection

void NSTableView::selectCellAtIndex(ssize_t index)
{
    NSTableViewCell* cell = cellAtIndex(index);
    // One selected row at a time, as a touch selects: the row selected before loses its highlight.
    if (!multiSelection && pressedCell != nullptr && pressedCell != cell && delegate != nullptr)
        delegate->tableCellUnhighlight(this, pressedCell, cocos2d::Vec2::ZERO, pressedCell->getCellSize());
    setPressedCell(cell);
    if (cell == nullptr || delegate == nullptr)
        return;
    delegate->tableCellHighlight(this, cell, cocos2d::Vec2::ZERO, cell->getCellSize());
    if (multiSelection && !contains(selectionList, rows[index]))
    {
        selectionList.push_back(rows[index]);
        rows[index]->retain();
    }
}

NSTableViewCell* NSTableView::getSelectedCell() const
{
    if (pressedCell != nullptr)
        return pressedCell;
    if (!selectionList.empty())
        return cellAtIndex(indexOfData(selectionList.front()));
    return nullptr;
}

// ----- swipe menus

void NSTableView::slideSwipeMenu(NSTableViewCell* cell, bool closing, bool left)
{
    cell->stopAllActions();
    if (cell->getIndex() == CC_INVALID_INDEX)
        return;
    cocos2d::Node* menu = cell->getChildByName(left ? kLeftMenuName : kRightMenuName);
    const float menuWidth = menu != nullptr ? menu->getContentSize().width : kSwipeMenuWidth;
    const float x = cell->getPositionX();
    if (closing)
    {
        const float fraction = menu != nullptr && menuWidth > 0.0f ? std::fabs(x) / menuWidth : 1.0f;
        auto* done = cocos2d::CallFunc::create([cell] {
            cell->removeChildByName(kLeftMenuName, true);
            cell->removeChildByName(kRightMenuName, true);
        });
        cell->runAction(cocos2d::Sequence::create(
            cocos2d::MoveTo::create(fraction * swipeSlideTime, cocos2d::Vec2(0.0f, cell->getPositionY())), done,
            nullptr));
        if (delegate != nullptr && !keepSelection && !multiSelection)
            delegate->tableCellUnhighlight(this, cell, cocos2d::Vec2::ZERO, cell->getCellSize());
    }
    else
    {
        const float fraction = menuWidth > 0.0f ? (menuWidth - std::fabs(x)) / menuWidth : 0.0f;
        const float target = left ? menuWidth : -menuWidth;
        cell->runAction(
            cocos2d::MoveTo::create(fraction * swipeSlideTime, cocos2d::Vec2(target, cell->getPositionY())));
    }
}

void NSTableView::closeOpenSwipeMenu()
{
    if (swipedCell != nullptr && isVerticalTable())
    {
        if (leftMenuOpen)
            slideSwipeMenu(swipedCell, true, true);
        if (rightMenuOpen)
            slideSwipeMenu(swipedCell, true, false);
    }
    swipedCell = nullptr;
    leftMenuOpen = rightMenuOpen = false;
}

void NSTableView::hideSwipeMenu(bool immediately)
{
    if (!(leftMenuOpen || rightMenuOpen) || !isVerticalTable())
        return;
    if (swipedCell != nullptr)
    {
        if (immediately)
            swipedCell->setPositionX(0.0f);
        else
        {
            if (leftMenuOpen)
                slideSwipeMenu(swipedCell, true, true);
            if (rightMenuOpen)
                slideSwipeMenu(swipedCell, true, false);
        }
    }
    swipedCell = nullptr;
    leftMenuOpen = rightMenuOpen = false;
}

void NSTableView::createSwipeMenu(bool left)
{
    auto* menu = NSTableViewMenu::create();
    menu->setAnchorPoint(cocos2d::Vec2::ZERO);
    menu->setContentSize(cocos2d::Size(kSwipeMenuWidth, pressedCell->getCellSize().height));
    menu->setCell(pressedCell);
    // Without a delegate nobody fills the menu: that swipe direction stays off.
    if (delegate == nullptr)
        return;
    if (left)
        delegate->tableCellLeftMenu(this, menu);
    else
        delegate->tableCellRightMenu(this, menu);
    if (!menu->isVisible())
        return;
    menu->setName(left ? kLeftMenuName : kRightMenuName);
    menu->setIndex(pressedCell->getIndex());
    pressedCell->addChild(menu);
    menu->setPosition(cocos2d::Vec2(left ? -menu->getContentSize().width : getContentSize().width, 0.0f));
    (left ? leftMenuOpen : rightMenuOpen) = true;
    swipedCell = pressedCell;
}

// ----- touch

bool NSTableView::onTouchBegan(cocos2d::Touch* touch, cocos2d::Event* event)
{
    if (!isVisibleInTree(this))
        return false;
    if (!UIScrollViewBase::onTouchBegan(touch, event))
        return false;
    moved = false;
    const ssize_t index = indexFromOffset(innerContainer->convertToNodeSpace(touch->getLocation()));

    if ((leftMenuOpen || rightMenuOpen) && isVerticalTable())
        closeOpenSwipeMenu();

    if (index < 0 || index >= rowCount)
    {
        if (!keepSelection)
            setPressedCell(nullptr);
        return true;
    }
    NSTableViewCell* cell = cellAtIndex(index);
    if (pressedCell != nullptr && delegate != nullptr && !(multiSelection && cell == nullptr))
    {
        if (multiSelection)
        {
            if (!controlHeld)
            {
                for (auto* data : selectionList)
                {
                    if (NSTableViewCell* selected = cellAtIndex(indexOfData(data)))
                        delegate->tableCellUnhighlight(this, selected, cocos2d::Vec2::ZERO, selected->getCellSize());
                }
                releaseSelection();
            }
            else if (contains(selectionList, rows[index]) && selectionList.size() >= 2)
            {
                // A Control-click on one of several selected rows deselects it. Only the selection
                // change is reported: the pressed cell is forgotten before the touch ends, so no
                // row (least of all the one pressed before) is reported tapped.
                delegate->tableCellUnhighlight(this, cell, cocos2d::Vec2::ZERO, cell->getCellSize());
                auto it = std::find(selectionList.begin(), selectionList.end(), rows[index]);
                cocos2d::Ref* data = *it;
                selectionList.erase(it);
                data->release();
                setPressedCell(nullptr);
                onTouchEnded(touch, event);
                return false;
            }
        }
        else
        {
            delegate->tableCellUnhighlight(this, pressedCell, cocos2d::Vec2::ZERO, pressedCell->getCellSize());
        }
    }
    setPressedCell(cell);
    if (cell != nullptr && delegate != nullptr)
    {
        delegate->tableCellHighlight(this, cell, cell->convertToNodeSpace(touch->getLocation()), cell->getCellSize());
        if (multiSelection && !contains(selectionList, rows[index]))
        {
            selectionList.push_back(rows[index]);
            rows[index]->retain();
        }
    }
    return true;
}

void NSTableView::onTouchMoved(cocos2d::Touch* touch, cocos2d::Event* event)
{
    UIScrollViewBase::onTouchMoved(touch, event);
    if (pressedCell == nullptr)
        return;
    // Motion along the scroll axis makes the touch a scroll, never a tap (screen coordinates).
    const cocos2d::Vec2 travel = touch->getLocation() - touch->getStartLocation();
    if (std::fabs(isVerticalTable() ? travel.y : travel.x) > kTapMoveLimit)
        moved = true;
    if (!isVerticalTable())
        return;
    const cocos2d::Vec2 start = innerContainer->convertToNodeSpace(touch->getStartLocation());
    const cocos2d::Vec2 current = innerContainer->convertToNodeSpace(touch->getLocation());
    const float width = getContentSize().width;
    if (start.x < swipeEdgeRatio * width)
    {
        if (!leftMenuOpen)
            createSwipeMenu(true);
        if (leftMenuOpen && swipedCell != nullptr)
        {
            if (auto* menu = swipedCell->getChildByName(kLeftMenuName))
            {
                const float menuWidth = menu->getContentSize().width;
                const float d = current.x - start.x;
                swipedCell->setPositionX(d > menuWidth ? menuWidth : d);
            }
        }
    }
    else if (start.x > (1.0f - swipeEdgeRatio) * width)
    {
        if (!rightMenuOpen)
            createSwipeMenu(false);
        if (rightMenuOpen && swipedCell != nullptr)
        {
            if (auto* menu = swipedCell->getChildByName(kRightMenuName))
            {
                const float menuWidth = menu->getContentSize().width;
                const float d = start.x - current.x;
                swipedCell->setPositionX(d > menuWidth ? -menuWidth : current.x - start.x);
            }
        }
    }
}

void NSTableView::onTouchEnded(cocos2d::Touch* touch, cocos2d::Event* event)
{
    UIScrollViewBase::onTouchEnded(touch, event);
    if (!isVisibleInTree(this))
        return;
    if ((leftMenuOpen || rightMenuOpen) && isVerticalTable())
    {
        if (leftMenuOpen && swipedCell != nullptr)
        {
            auto* menu = swipedCell->getChildByName(kLeftMenuName);
            if (menu != nullptr && swipedCell->getPositionX() > swipeOpenRatio * menu->getContentSize().width)
                slideSwipeMenu(swipedCell, false, true);
            else
                closeOpenSwipeMenu();
        }
        else if (rightMenuOpen && swipedCell != nullptr)
        {
            auto* menu = swipedCell->getChildByName(kRightMenuName);
            if (menu != nullptr && -swipedCell->getPositionX() > swipeOpenRatio * menu->getContentSize().width)
                slideSwipeMenu(swipedCell, false, false);
            else
                closeOpenSwipeMenu();
        }
        return;
    }
    if (pressedCell == nullptr || delegate == nullptr)
        return;
    const cocos2d::Rect box(convertToWorldSpace(cocos2d::Vec2::ZERO), getContentSize());
    if (!box.containsPoint(touch->getLocation()))
        return;
    NSTableViewCell* cell = pressedCell;
    cell->retain(); // the delegate may reload or clear the table
    const cocos2d::Vec2 point = cell->convertToNodeSpace(touch->getLocation());
    if (!keepSelection && !multiSelection)
        delegate->tableCellUnhighlight(this, cell, point, cell->getCellSize());
    if (!moved)
        delegate->tableCellTouched(this, cell, point);
    cell->release();
}

void NSTableView::onTouchCancelled(cocos2d::Touch* touch, cocos2d::Event* event)
{
    UIScrollViewBase::onTouchCancelled(touch, event);
    if (pressedCell != nullptr && delegate != nullptr && !keepSelection && !multiSelection)
        delegate->tableCellUnhighlight(this, pressedCell, cocos2d::Vec2::ZERO, pressedCell->getCellSize());
    if ((leftMenuOpen || rightMenuOpen) && isVerticalTable())
        closeOpenSwipeMenu();
}

void NSTableView::onKeyPressed(cocos2d::EventKeyboard::KeyCode code, cocos2d::Event*)
{
    if (static_cast<int>(code) == kLeftControlKey)
        controlHeld = true;
}

void NSTableView::onKeyReleased(cocos2d::EventKeyboard::KeyCode code, cocos2d::Event*)
{
    if (static_cast<int>(code) == kLeftControlKey)
        controlHeld = false;
}

} // namespace NSUI
