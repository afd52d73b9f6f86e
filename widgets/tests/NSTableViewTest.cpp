// Tables with many rows: cell reuse while scrolling by drag and wheel, taps and selection, swipe
// menus, row insertion and removal.
#include "NSListView.h"
#include "support/WidgetsFixture.h"

#include <map>

using namespace cocos2d;

namespace
{

struct Row : Ref
{
    int n = 0;
    static Row* make(int n)
    {
        auto* r = new Row();
        r->n = n;
        r->autorelease();
        return r;
    }
};

class Rows : public NSUI::NSTableViewDelegate
{
public:
    Size tableCellSizeForIndex(NSUI::NSTableView* table, ssize_t, Ref* data) override
    {
        auto it = heights.find(static_cast<Row*>(data)->n);
        const float length = it != heights.end() ? it->second : 40.0f;
        if (table->getDirection() == NSUI::ScrollDirection::HORIZONTAL)
            return Size(length, table->getContentSize().height);
        return Size(table->getContentSize().width, length);
    }
    NSUI::NSTableViewCell* tableCellAtIndex(NSUI::NSTableView* table, ssize_t index, const Size&) override
    {
        auto* cell = table->cellAtIndex(index);
        if (cell == nullptr)
            cell = table->dequeueCell();
        if (cell == nullptr)
        {
            cell = NSUI::NSTableViewCell::create();
            ++created;
        }
        cell->setName("row" + std::to_string(static_cast<Row*>(table->getRowData()[index])->n));
        return cell;
    }
    void tableCellTouched(NSUI::NSTableView*, NSUI::NSTableViewCell* cell, const Vec2&) override
    {
        touched.push_back(cell->getName());
    }
    void tableCellWillRecycle(NSUI::NSTableView*, NSUI::NSTableViewCell*) override { ++recycled; }
    void tableCellLeftMenu(NSUI::NSTableView* table, NSUI::NSTableViewMenu* menu) override
    {
        if (leftMenus)
            ++menusBuilt;
        else
            NSUI::NSTableViewDelegate::tableCellLeftMenu(table, menu);
    }
    void tableCellRightMenu(NSUI::NSTableView* table, NSUI::NSTableViewMenu* menu) override
    {
        NSUI::NSTableViewDelegate::tableCellRightMenu(table, menu);
    }

    std::map<int, float> heights;
    std::vector<std::string> touched;
    int created = 0;
    int recycled = 0;
    int menusBuilt = 0;
    bool leftMenus = false;
};

class NSTableViewTest : public WidgetsTest
{
protected:
    // A 400 x 200 list at (100, 100) holding n rows of 40.
    NSUI::NSListView* makeList(int n)
    {
        auto* list = NSUI::NSListView::create();
        list->setContentSize(Size(400, 200));
        list->setPosition(Vec2(100, 100));
        list->delegate = &rows;
        rows.highlightEnabled = true;
        for (int i = 0; i < n; ++i)
            list->insertRow(-1, Row::make(i));
        scene->addChild(list);
        return list;
    }
    bool highlighted(NSUI::NSTableView* list, int row)
    {
        auto* cell = list->cellAtIndex(row);
        return cell != nullptr && cell->getChildByTag(NSUI::NSTableViewDelegate::kHighlightTag) != nullptr;
    }
    // Every shown cell sits where its row belongs and shows that row.
    void expectCellsInPlace(NSUI::NSTableView* list)
    {
        for (int i = list->getFirstVisibleIndex(); i <= list->getLastVisibleIndex(); ++i)
        {
            auto* cell = list->cellAtIndex(i);
            ASSERT_NE(cell, nullptr) << "row " << i;
            EXPECT_EQ(cell->getPosition(), list->offsetFromIndex(i)) << "row " << i;
            EXPECT_EQ(cell->getName(), "row" + std::to_string(static_cast<Row*>(list->getRowData()[i])->n));
        }
    }
    Rows rows;
};

TEST_F(NSTableViewTest, ThousandRowsKeepOnlyVisibleCellsWhileDraggedAndWheeled)
{
    auto* list = makeList(1000);
    EXPECT_EQ(list->getFirstVisibleIndex(), 0);
    EXPECT_EQ(list->getLastVisibleIndex(), 4); // the boundary at the bottom belongs to the row above
    EXPECT_EQ(list->getUsedCellCount(), 5u);
    EXPECT_EQ(list->getInnerContainerSize().height, 40000.0f);
    expectCellsInPlace(list);
    const float top = list->getInnerContainer()->getPositionY();
    EXPECT_EQ(top, 200.0f - 40000.0f);

    // A vertical drag of 100 units.
    press(300, 150);
    drag(300, 160);
    drag(300, 250);
    release(300, 250);
    EXPECT_FLOAT_EQ(list->getInnerContainer()->getPositionY(), top + 100.0f);
    EXPECT_EQ(list->getFirstVisibleIndex(), 2);
    EXPECT_EQ(list->getLastVisibleIndex(), 7);
    expectCellsInPlace(list);

    // The wheel, one step down: 20 units further.
    InputSimulator::scroll(300, 150, -1.0f);
    EXPECT_FLOAT_EQ(list->getInnerContainer()->getPositionY(), top + 120.0f);
    // Outside the list the wheel does nothing.
    InputSimulator::scroll(50, 50, -1.0f);
    EXPECT_FLOAT_EQ(list->getInnerContainer()->getPositionY(), top + 120.0f);

    // Far down the list by jumps: cells are reused, not made anew.
    for (int i = 0; i < 200; ++i)
        InputSimulator::scroll(300, 150, -10.0f);
    expectCellsInPlace(list);
    EXPECT_LE(rows.created, 8);
    EXPECT_GT(rows.recycled, 900);
    EXPECT_LE(list->getUsedCellCount(), 6u);

    // A mostly horizontal drag does not scroll a vertical list.
    const float before = list->getInnerContainer()->getPositionY();
    press(300, 150);
    drag(340, 151);
    drag(380, 153);
    release(380, 153);
    EXPECT_FLOAT_EQ(list->getInnerContainer()->getPositionY(), before);
}

TEST_F(NSTableViewTest, TapsHighlightAndSelection)
{
    auto* list = makeList(20);
    click(200, 290); // row 0 spans y 260..300 on screen
    EXPECT_EQ(rows.touched, std::vector<std::string>{"row0"});
    EXPECT_FALSE(highlighted(list, 0)); // unhighlighted at the end of the tap
    EXPECT_EQ(list->getSelectedCell(), list->cellAtIndex(0));

    // Moving more than 5 units vertically is a scroll, not a tap.
    press(200, 250);
    drag(200, 252);
    drag(200, 258);
    release(200, 258);
    EXPECT_EQ(rows.touched.size(), 1u);

    // Released outside the table: no tap, the row stays highlighted until the next touch.
    press(200, 250);
    EXPECT_TRUE(highlighted(list, 1));
    release(600, 250);
    EXPECT_EQ(rows.touched.size(), 1u);
    EXPECT_TRUE(highlighted(list, 1));
    click(200, 210); // row 2 (the drag above scrolled 8 units)
    EXPECT_FALSE(highlighted(list, 1));

    // Kept selection survives the end of the tap.
    list->keepSelection = true;
    click(200, 290);
    EXPECT_TRUE(highlighted(list, list->indexFromOffset(list->getInnerContainer()->convertToNodeSpace(Vec2(200, 290)))));
}

// A horizontal strip (the study list's protocols) taps like a vertical list turned sideways: a
// sideways drag scrolls it and taps nothing, a wobble across it is still a tap.
TEST_F(NSTableViewTest, HorizontalStripScrollsOnASidewaysDragAndTapsOnlyWhenStill)
{
    auto* strip = NSUI::NSListView::create();
    strip->setDirection(NSUI::ScrollDirection::HORIZONTAL);
    strip->setContentSize(Size(400, 100));
    strip->setPosition(Vec2(100, 100));
    strip->delegate = &rows;
    for (int i = 0; i < 30; ++i)
        strip->insertRow(-1, Row::make(i));
    scene->addChild(strip);
    strip->reloadData();
    EXPECT_EQ(strip->getInnerContainerSize().width, 1200.0f);

    click(120, 150); // cell 0 spans x 100..140 on screen
    EXPECT_EQ(rows.touched, std::vector<std::string>{"row0"});

    // Sideways by 60: the strip follows, and nothing opens.
    rows.touched.clear();
    press(300, 150);
    drag(295, 150);
    drag(240, 151);
    release(240, 151);
    EXPECT_FLOAT_EQ(strip->getInnerContainer()->getPositionX(), -60.0f);
    EXPECT_TRUE(rows.touched.empty()) << rows.touched.front();
    // Just past the limit, slowly: still a drag.
    press(300, 150);
    drag(303, 150);
    drag(306, 150);
    release(306, 150);
    EXPECT_TRUE(rows.touched.empty());
    // Within it, or across the strip: a tap on the cell under the finger.
    const float x = strip->getInnerContainer()->getPositionX();
    press(300, 150);
    drag(303, 150);
    release(303, 150);
    press(300, 130);
    drag(300, 160);
    release(300, 160);
    const std::string under = "row" + std::to_string(int((300 - 100 - x) / 40));
    EXPECT_EQ(rows.touched, (std::vector<std::string>{under, under}));
}

TEST_F(NSTableViewTest, ControlClickMultiSelection)
{
    auto* list = makeList(10);
    list->multiSelection = true;
    list->keepSelection = true;
    click(200, 290); // row 0
    click(200, 250); // row 1, without Control: replaces the selection
    ASSERT_EQ(list->getSelectionList().size(), 1u);
    EXPECT_EQ(static_cast<Row*>(list->getSelectionList()[0])->n, 1);
    EXPECT_FALSE(highlighted(list, 0));

    InputSimulator::key(EventKeyboard::KeyCode::KEY_LEFT_CTRL, true);
    click(200, 290); // add row 0
    click(200, 210); // add row 2
    EXPECT_EQ(list->getSelectionList().size(), 3u);
    rows.touched.clear();
    click(200, 250); // Control-click on a selected row of several deselects it
    EXPECT_EQ(list->getSelectionList().size(), 2u);
    EXPECT_FALSE(highlighted(list, 1));
    EXPECT_TRUE(rows.touched.empty()); // the selection changed; no row (not row 2 either) was tapped
    click(200, 290); // nothing is pressed after a deselect: this only presses row 0 again
    EXPECT_EQ(list->getSelectionList().size(), 2u);
    click(200, 210); // deselects row 2
    ASSERT_EQ(list->getSelectionList().size(), 1u);
    click(200, 290);
    click(200, 290); // the only selected row stays selected
    ASSERT_EQ(list->getSelectionList().size(), 1u);
    EXPECT_EQ(static_cast<Row*>(list->getSelectionList()[0])->n, 0);
    InputSimulator::key(EventKeyboard::KeyCode::KEY_LEFT_CTRL, false);
    EXPECT_TRUE(highlighted(list, 0));
    EXPECT_FALSE(highlighted(list, 2));
}

TEST_F(NSTableViewTest, SwipeMenusOpenPastTheRatioAndCloseOtherwise)
{
    auto* list = makeList(10);
    list->swipeEdgeRatio = 0.2f; // left zone x < 80 in the list, i.e. screen x < 180
    list->swipeOpenRatio = 0.4f; // 60 units of a 150-unit menu
    rows.leftMenus = true;

    // A drag that starts in the middle opens nothing.
    press(300, 290);
    drag(302, 290);
    drag(380, 290);
    release(380, 290);
    EXPECT_FALSE(list->isSwipeMenuOpen());
    EXPECT_EQ(rows.menusBuilt, 0);
    rows.touched.clear(); // a sideways drag that never moved vertically still counts as a tap

    // 50 units: slides back closed.
    press(120, 290);
    drag(125, 290);
    drag(170, 290);
    EXPECT_TRUE(list->isSwipeMenuOpen());
    auto* cell = list->cellAtIndex(0);
    EXPECT_FLOAT_EQ(cell->getPositionX(), 50.0f);
    ASSERT_NE(cell->getChildByName("leftMenu"), nullptr);
    release(170, 290);
    EXPECT_FALSE(list->isSwipeMenuOpen());
    step(40);
    EXPECT_FLOAT_EQ(cell->getPositionX(), 0.0f);
    EXPECT_EQ(cell->getChildByName("leftMenu"), nullptr);
    EXPECT_TRUE(rows.touched.empty());

    // 80 units: snaps open to the full menu width.
    press(120, 290);
    drag(125, 290);
    drag(200, 290);
    release(200, 290);
    step(40);
    EXPECT_TRUE(list->isSwipeMenuOpen());
    EXPECT_FLOAT_EQ(cell->getPositionX(), 150.0f);
    auto* menu = dynamic_cast<NSUI::NSTableViewMenu*>(cell->getChildByName("leftMenu"));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->getIndex(), 0);
    EXPECT_EQ(menu->getCell(), cell);

    // Any touch closes it first.
    click(400, 210);
    step(40);
    EXPECT_FALSE(list->isSwipeMenuOpen());
    EXPECT_FLOAT_EQ(cell->getPositionX(), 0.0f);

    // The right menu is left hidden by the delegate: that direction stays off.
    press(480, 250);
    drag(470, 250);
    drag(400, 250);
    release(400, 250);
    EXPECT_FALSE(list->isSwipeMenuOpen());
}

// A cell whose row scrolls away takes none of that row's swipe menus to the row it shows next, even
// when the menu was still sliding shut.
TEST_F(NSTableViewTest, SwipeMenusDoNotSurviveTheReuseOfTheirCell)
{
    auto* list = makeList(30);
    list->swipeEdgeRatio = 0.2f;
    list->swipeOpenRatio = 0.4f;
    rows.leftMenus = true;
    press(120, 290);
    drag(125, 290);
    drag(200, 290);
    release(200, 290);
    step(40);
    ASSERT_TRUE(list->isSwipeMenuOpen());
    NSUI::NSTableViewCell* cell = list->cellAtIndex(0);
    ASSERT_NE(cell->getChildByName("leftMenu"), nullptr);
    cell->retain();
    list->hideSwipeMenu(false); // the close slide starts
    // Scroll until the cell is reused for a row further down.
    for (int i = 0; i < 40 && (cell->getIndex() == 0 || cell->getParent() == nullptr); ++i)
        list->scrollChildren(0, 40);
    ASSERT_NE(cell->getIndex(), 0);
    EXPECT_EQ(cell->getChildByName("leftMenu"), nullptr);
    EXPECT_EQ(cell->getChildByName("rightMenu"), nullptr);
    step(40);
    for (int i = list->getFirstVisibleIndex(); i <= list->getLastVisibleIndex(); ++i)
        EXPECT_EQ(list->cellAtIndex(i)->getChildByName("leftMenu"), nullptr) << "row " << i;
    cell->release();
}

TEST_F(NSTableViewTest, InsertAndRemoveKeepVisibleRowsInPlace)
{
    auto* list = makeList(50);
    list->jumpToDestination(Vec2(0, 200 - 2000 + 210)); // 210 units down: rows 5..10 in sight
    ASSERT_EQ(list->getFirstVisibleIndex(), 5);
    auto* cell5 = list->cellAtIndex(5);
    const Vec2 onScreen = cell5->convertToWorldSpace(Vec2::ZERO);

    list->insertRow(0, Row::make(100)); // above the visible rows
    EXPECT_EQ(list->getRowCount(), 51);
    EXPECT_EQ(list->cellAtIndex(6), cell5);
    EXPECT_EQ(cell5->convertToWorldSpace(Vec2::ZERO), onScreen);
    expectCellsInPlace(list);

    list->removeRowAtIndex(1); // above again
    EXPECT_EQ(list->cellAtIndex(5), cell5);
    EXPECT_EQ(cell5->convertToWorldSpace(Vec2::ZERO), onScreen);
    expectCellsInPlace(list);

    list->insertRow(-7, Row::make(200)); // appends
    list->insertRow(999, Row::make(201));
    EXPECT_EQ(static_cast<Row*>(list->getRowData().back())->n, 201);
    list->removeRowAtIndex(-1);
    list->removeRowAtIndex(5000);
    EXPECT_EQ(list->getRowCount(), 52);

    // Removing rows until the scrolled view runs past the end pulls the content back in range.
    while (list->getRowCount() > 7)
        list->removeRowAtIndex(list->getRowCount() - 1);
    EXPECT_GE(list->getInnerContainer()->getPositionY() + list->getInnerContainerSize().height, 200.0f);
    EXPECT_LE(list->getInnerContainer()->getPositionY(), 0.0f);
    expectCellsInPlace(list);

    list->clear();
    EXPECT_EQ(list->getRowCount(), 0);
    EXPECT_EQ(list->getUsedCellCount(), 0u);
    EXPECT_EQ(list->getInnerContainerSize(), Size(400, 200));
}

// A bottom-up table: row 0 at the bottom of the content.
class BottomUpList : public NSUI::NSListView
{
public:
    static BottomUpList* make()
    {
        auto* l = new BottomUpList();
        l->init();
        l->fillOrder = BOTTOM_UP;
        l->autorelease();
        return l;
    }
};

TEST_F(NSTableViewTest, RemovingARowBelowTheVisibleOnesOfABottomUpTableKeepsThemInPlace)
{
    auto* list = BottomUpList::make();
    list->setContentSize(Size(400, 200));
    list->setPosition(Vec2(100, 100));
    list->delegate = &rows;
    scene->addChild(list);
    for (int i = 0; i < 30; ++i)
        list->insertRow(-1, Row::make(i));
    list->jumpToDestination(Vec2(0, -200)); // rows 5..9 in sight, 0..4 hidden below
    ASSERT_EQ(list->getFirstVisibleIndex(), 5);
    auto* cell = list->cellAtIndex(6);
    const Vec2 onScreen = cell->convertToWorldSpace(Vec2::ZERO);
    list->removeRowAtIndex(1);
    EXPECT_EQ(list->cellAtIndex(5), cell);
    EXPECT_EQ(cell->convertToWorldSpace(Vec2::ZERO), onScreen);
}

TEST_F(NSTableViewTest, RowsOfDifferentHeightsAndBoundaries)
{
    rows.heights[1] = 100.0f;
    auto* list = makeList(10);
    EXPECT_EQ(list->getInnerContainerSize().height, 460.0f);
    // Content top at screen y 300: row 0 is 300..260, row 1 260..160, row 2 160..120.
    const Vec2 boundary = list->getInnerContainer()->convertToNodeSpace(Vec2(200, 260));
    EXPECT_EQ(list->indexFromOffset(boundary), 0); // a boundary belongs to the row above
    EXPECT_EQ(list->indexFromOffset(list->getInnerContainer()->convertToNodeSpace(Vec2(200, 200))), 1);

    rows.heights[1] = 60.0f;
    list->updateCellAtIndex(1);
    EXPECT_EQ(list->getInnerContainerSize().height, 420.0f);
    EXPECT_EQ(list->cellAtIndex(1)->getCellSize().height, 60.0f);
    expectCellsInPlace(list);
    // An empty list: as large as the view.
    list->clear();
    list->reloadData();
    EXPECT_EQ(list->getInnerContainerSize(), Size(400, 200));
}

TEST_F(NSTableViewTest, CellAtIndexOrCreateLeavesTheTableAlone)
{
    auto* list = makeList(30);
    EXPECT_EQ(list->cellAtIndexOrCreate(2), list->cellAtIndex(2));
    const size_t used = list->getUsedCellCount();
    auto* outside = list->cellAtIndexOrCreate(20);
    ASSERT_NE(outside, nullptr);
    EXPECT_EQ(outside->getName(), "row20");
    EXPECT_EQ(outside->getParent(), nullptr);
    EXPECT_EQ(list->getUsedCellCount(), used);
    EXPECT_EQ(list->cellAtIndexOrCreate(30), nullptr);
}

} // namespace
