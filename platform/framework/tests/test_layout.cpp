// Layout passes (relative alignments, rows, stacks, the viewport type), percent sizes and
// positions through Helper::doLayout, and the background colour.
#include <gtest/gtest.h>

#include "cocos2d.h"
#include "support/WidgetTest.h"
#include "ui/CocosGUI.h"

USING_NS_CC;

namespace {

using Align = ui::RelativeLayoutParameter::RelativeAlign;

class LayoutTest : public qvtest::WidgetTest {
protected:
    // A 40 x 20 widget (centre anchor) with a relative parameter when align >= 0.
    ui::Widget* box(int align, const ui::Margin& margin = ui::Margin(), const std::string& name = "")
    {
        auto* widget = ui::Widget::create();
        widget->setContentSize(Size(40, 20));
        widget->setName(name);
        if (align >= 0) {
            auto* parameter = ui::RelativeLayoutParameter::create();
            parameter->setAlign(static_cast<Align>(align));
            parameter->setMargin(margin);
            parameter->setRelativeName(name);
            widget->setLayoutParameter(parameter);
        }
        return widget;
    }
    static Rect boxOf(const ui::Widget* w)
    {
        return Rect(w->getLeftBoundary(), w->getBottomBoundary(), w->getRightBoundary() - w->getLeftBoundary(),
                    w->getTopBoundary() - w->getBottomBoundary());
    }
};

void expectBox(const ui::Widget* w, float left, float bottom)
{
    EXPECT_FLOAT_EQ(w->getLeftBoundary(), left) << w->getName();
    EXPECT_FLOAT_EQ(w->getBottomBoundary(), bottom) << w->getName();
}

} // namespace

TEST_F(LayoutTest, RelativeAlignmentsOneToNineWithMargins)
{
    auto* layout = ui::Layout::create();
    layout->setContentSize(Size(400, 300));
    layout->setLayoutType(ui::Layout::Type::RELATIVE);
    const ui::Margin m(5, 6, 7, 8); // left, top, right, bottom
    std::vector<ui::Widget*> boxes;
    for (int align = 1; align <= 9; ++align) {
        boxes.push_back(box(align, m, "a" + std::to_string(align)));
        layout->addChild(boxes.back());
    }
    layout->forceDoLayout();
    expectBox(boxes[0], 5, 300 - 6 - 20);   // top-left
    expectBox(boxes[1], 180, 274);          // top centre
    expectBox(boxes[2], 400 - 7 - 40, 274); // top-right
    expectBox(boxes[3], 5, 140);            // left centre
    expectBox(boxes[4], 180, 140);          // centre
    expectBox(boxes[5], 353, 140);          // right centre
    expectBox(boxes[6], 5, 8);              // bottom-left
    expectBox(boxes[7], 180, 8);            // bottom centre
    expectBox(boxes[8], 353, 8);            // bottom-right

    // The pass also runs by itself before the next draw after a change.
    layout->setContentSize(Size(500, 300));
    scene->addChild(layout);
    director->stepFrame(0.0f);
    expectBox(boxes[8], 453, 8);
}

TEST_F(LayoutTest, UnalignedChildrenFormARowAndSiblingAlignmentsFollowTheirSibling)
{
    auto* layout = ui::Layout::create();
    layout->setContentSize(Size(400, 300));
    layout->setLayoutType(ui::Layout::Type::RELATIVE);
    auto* first = box(-1, ui::Margin(), "first");
    auto* second = box(0, ui::Margin(2, 3, 4, 0), "second");
    auto* third = box(-1, ui::Margin(), "third");
    third->setScale(2.0f); // placed by its drawn size
    auto* anchorBox = box(5, ui::Margin(), "centre");
    auto* below = box(static_cast<int>(Align::LOCATION_BELOW_CENTER), ui::Margin(0, 10, 0, 0), "below");
    static_cast<ui::RelativeLayoutParameter*>(below->getLayoutParameter())->setRelativeToWidgetName("centre");
    // Listed before its sibling: placed once the sibling is.
    layout->addChild(below);
    for (auto* w : {first, second, third, anchorBox})
        layout->addChild(w);
    layout->forceDoLayout();

    expectBox(first, 0, 280);
    expectBox(second, 42, 277);
    expectBox(third, 86, 260);
    expectBox(anchorBox, 180, 140);
    expectBox(below, 180, 110);
}

TEST_F(LayoutTest, RightRowStackAndViewportTypes)
{
    auto* row = ui::Layout::create();
    row->setContentSize(Size(300, 50));
    row->setLayoutType(static_cast<ui::Layout::Type>(4));
    auto* a = box(-1, ui::Margin(), "a");
    auto* b = box(0, ui::Margin(3, 0, 2, 0), "b");
    b->setAnchorPoint(Vec2(1, 0)); // bottom-right anchored, as the overlay buttons are
    row->addChild(a);
    row->addChild(b);
    row->forceDoLayout();
    expectBox(a, 260, 30); // first child rightmost
    expectBox(b, 218, 30);

    auto* stack = ui::Layout::create();
    stack->setContentSize(Size(200, 200));
    stack->setLayoutType(ui::Layout::Type::VERTICAL);
    auto* top = box(-1, ui::Margin(), "top");
    auto* right = box(-1, ui::Margin(0, 5, 6, 7), "right");
    auto* gravity = ui::LinearLayoutParameter::create();
    gravity->setGravity(ui::LinearLayoutParameter::LinearGravity::RIGHT);
    gravity->setMargin(ui::Margin(0, 5, 6, 7));
    right->setLayoutParameter(gravity);
    auto* last = box(-1, ui::Margin(), "last");
    for (auto* w : {top, right, last})
        stack->addChild(w);
    stack->forceDoLayout();
    expectBox(top, 0, 180);
    expectBox(right, 154, 155);
    expectBox(last, 0, 128);

    auto* viewport = ui::Layout::create();
    viewport->setContentSize(Size(400, 300));
    viewport->setLayoutType(static_cast<ui::Layout::Type>(5));
    auto* corner = box(9, ui::Margin(0, 0, 10, 10), "corner");
    auto* free = box(-1, ui::Margin(), "free");
    free->setPosition(Vec2(123, 45));
    auto* zero = box(0, ui::Margin(), "zero");
    zero->setPosition(Vec2(7, 8));
    auto* scenery = Node::create();
    scenery->setPosition(Vec2(-50, 60));
    for (Node* n : std::initializer_list<Node*>{corner, free, zero, scenery})
        viewport->addChild(n);
    viewport->forceDoLayout();
    expectBox(corner, 350, 10);
    EXPECT_EQ(free->getPosition(), Vec2(123, 45));
    EXPECT_EQ(zero->getPosition(), Vec2(7, 8));
    EXPECT_EQ(scenery->getPosition(), Vec2(-50, 60));
}

// Texts filled in after their layout has placed them (rows of a list, corner texts of an image)
// are placed again by the pass before the next draw: a right-aligned text ends at its edge, a
// left-aligned one starts at its margin, and a row's neighbour moves along as the text grows.
TEST_F(LayoutTest, ChildrenThatChangeSizeArePlacedAgainByTheNextPass)
{
    auto* right = ui::Layout::create();
    right->setContentSize(Size(300, 30));
    right->setLayoutType(static_cast<ui::Layout::Type>(4));
    auto* date = ui::Text::create("", "", 20);
    right->addChild(date);
    auto* left = ui::Layout::create();
    left->setContentSize(Size(300, 30));
    left->setLayoutType(ui::Layout::Type::RELATIVE);
    auto* name = ui::Text::create("", "", 20);
    auto* parameter = ui::RelativeLayoutParameter::create();
    parameter->setAlign(Align::PARENT_TOP_LEFT);
    parameter->setMargin(ui::Margin(16, 0, 0, 0));
    name->setLayoutParameter(parameter);
    left->addChild(name);
    auto* row = ui::Layout::create();
    row->setContentSize(Size(300, 30));
    row->setLayoutType(ui::Layout::Type::HORIZONTAL);
    auto* first = ui::Text::create("", "", 20);
    auto* second = box(-1);
    row->addChild(first);
    row->addChild(second);
    for (ui::Layout* layout : {right, left, row})
        layout->forceDoLayout();

    date->setString("2026.12.07 10:15:00");
    name->setString("PHANTOM^QUORVANE");
    first->setString("A longer text");
    ASSERT_GT(date->getContentSize().width, 100.0f);
    ASSERT_GT(first->getContentSize().width, 50.0f);
    for (ui::Layout* layout : {right, left, row})
        layout->doLayout();  // what drawing runs first
    EXPECT_FLOAT_EQ(date->getRightBoundary(), 300.0f);
    EXPECT_FLOAT_EQ(date->getTopBoundary(), 30.0f);
    EXPECT_FLOAT_EQ(name->getLeftBoundary(), 16.0f);
    EXPECT_FLOAT_EQ(second->getLeftBoundary(), first->getRightBoundary());

    // A pass leaves nothing pending: a child moved by hand stays until something changes.
    second->setPosition(Vec2(250, 5));
    row->doLayout();
    EXPECT_EQ(second->getPosition(), Vec2(250, 5));
    first->setString("A");
    row->doLayout();
    EXPECT_FLOAT_EQ(second->getLeftBoundary(), first->getRightBoundary());
}

TEST_F(LayoutTest, HelperAppliesPercentSizesAndPositionsDownTheTree)
{
    auto* root = Node::create();
    root->setContentSize(Size(800, 600));
    auto* panel = ui::Layout::create();
    panel->setSizeType(ui::Widget::SizeType::PERCENT);
    panel->setSizePercent(Vec2(0.5f, 0.25f));
    panel->setPositionType(ui::Widget::PositionType::PERCENT);
    panel->setPositionPercent(Vec2(0.5f, 0.5f));
    auto* label = ui::Text::create("x", "", 12);
    label->setPositionType(ui::Widget::PositionType::PERCENT);
    label->setPositionPercent(Vec2(1.0f, 0.5f));
    auto* aligned = box(3, ui::Margin(), "aligned");
    panel->setLayoutType(ui::Layout::Type::RELATIVE);
    panel->addChild(aligned);
    root->addChild(panel);
    root->addChild(label);

    ui::Helper::doLayout(root);
    EXPECT_EQ(panel->getContentSize(), Size(400, 150));
    EXPECT_EQ(panel->getPosition(), Vec2(400, 300));
    EXPECT_EQ(label->getPosition(), Vec2(800, 300));
    expectBox(aligned, 360, 130); // placed inside the resized panel

    root->setContentSize(Size(1000, 800));
    ui::Helper::doLayout(root);
    EXPECT_EQ(panel->getContentSize(), Size(500, 200));
    EXPECT_EQ(label->getPosition(), Vec2(1000, 400));
    expectBox(aligned, 460, 180);
}

// A container widget keeps its content under a protected inner layout (as the scroll view does):
// the layout pass reaches it and what it holds.
TEST_F(LayoutTest, HelperLaysOutTheContentOfProtectedChildren)
{
    auto* view = ui::Layout::create();
    view->setContentSize(Size(400, 300));
    auto* inner = ui::Layout::create();
    inner->setContentSize(Size(400, 900));
    inner->setLayoutType(ui::Layout::Type::VERTICAL);
    view->addProtectedChild(inner);
    auto* row = ui::Layout::create();
    row->setSizeType(ui::Widget::SizeType::PERCENT);
    row->setSizePercent(Vec2(1.0f, 0.1f));
    inner->addChild(row);
    auto* second = box(3, ui::Margin(), "second");
    inner->addChild(second);

    ui::Helper::doLayout(view);
    EXPECT_EQ(row->getContentSize(), Size(400, 90)); // a tenth of the inner layout, not of the view
    EXPECT_EQ(boxOf(row), Rect(0, 810, 400, 90)); // stacked from the inner layout's top
    expectBox(second, 0, 790);
}

TEST_F(LayoutTest, BackgroundColourOpacityIsRoundedAndCanBeSwitchedOff)
{
    auto* layout = ui::Layout::create();
    layout->setContentSize(Size(100, 100));
    layout->enableBKColor(true, Color3B::WHITE, 0.7f);
    EXPECT_EQ(layout->getBackGroundColorType(), ui::Layout::BackGroundColorType::SOLID);
    EXPECT_EQ(layout->getBackGroundColorOpacity(), 179); // 178.5 rounds up
    EXPECT_EQ(layout->getBackGroundColor(), Color3B::WHITE);
    layout->enableBKColor(true, Color3B::BLACK, 0.45f);
    EXPECT_EQ(layout->getBackGroundColorOpacity(), 115);
    EXPECT_EQ(layout->getBackGroundColor(), Color3B::BLACK);
    layout->enableBKColor(true, Color3B::BLACK, 0.85f);
    EXPECT_EQ(layout->getBackGroundColorOpacity(), 217);
    layout->enableBKColor(true, Color3B::BLACK, 3.0f);
    EXPECT_EQ(layout->getBackGroundColorOpacity(), 255);

    // The quad sits behind the children and follows the layout's size; it is no child.
    auto* quad = dynamic_cast<LayerColor*>(layout->getProtectedChildByTag(-1));
    ASSERT_NE(quad, nullptr);
    EXPECT_EQ(quad->getContentSize(), Size(100, 100));
    EXPECT_EQ(quad->getOpacity(), 255);
    layout->setContentSize(Size(50, 60));
    EXPECT_EQ(quad->getContentSize(), Size(50, 60));
    EXPECT_EQ(layout->getChildrenCount(), 0);

    layout->enableBKColor(false, Color3B::BLACK, 0.5f);
    EXPECT_EQ(layout->getBackGroundColorType(), ui::Layout::BackGroundColorType::NONE);
    EXPECT_EQ(layout->getProtectedChildByTag(-1), nullptr);
}

TEST_F(LayoutTest, ClippingLayoutsScissorTheirContentAndNestedOnesIntersect)
{
    auto* outer = ui::Layout::create();
    outer->setContentSize(Size(200, 100));
    outer->setPosition(Vec2(100, 100));
    outer->setClippingEnabled(true);
    auto* inner = ui::Layout::create();
    inner->setContentSize(Size(200, 100));
    inner->setPosition(Vec2(150, 50)); // reaches past the outer layout's right and top edges
    inner->setClippingType(ui::Layout::ClippingType::SCISSOR);
    inner->setClippingEnabled(true);
    inner->enableBKColor(true, Color3B::RED, 1.0f);
    outer->addChild(inner);
    scene->addChild(outer);
    director->stepFrame(0.0f);

    std::vector<Rect> begins;
    std::vector<std::string> order;
    for (const Renderer::CommandRecord& r : director->getRenderer()->getCommandRecords()) {
        if (r.type == RenderCommand::Type::SCISSOR_BEGIN_COMMAND) {
            begins.push_back(r.clipRect);
            order.push_back("begin");
        } else if (r.type == RenderCommand::Type::SCISSOR_END_COMMAND) {
            order.push_back("end");
        } else if (!order.empty() && order.back() != "draw") {
            order.push_back("draw");
        }
    }
    ASSERT_EQ(begins.size(), 2u);
    EXPECT_TRUE(begins[0].equals(Rect(100, 100, 200, 100)));
    EXPECT_TRUE(begins[1].equals(Rect(250, 150, 50, 50)));
    EXPECT_EQ(order, (std::vector<std::string>{"begin", "begin", "draw", "end", "end"})) << "the background is clipped";
}
