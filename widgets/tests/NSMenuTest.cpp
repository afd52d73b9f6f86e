// The pop-up menu posts its item's notification and hides, and closes when the window is resized;
// the modal window keeps touches from what lies beneath.
#include "NSMenu.h"
#include "NSNotificationCenter.h"
#include "NSResponseWindow.h"
#include "support/WidgetsFixture.h"

#include <cmath>

using namespace cocos2d;

namespace
{

class NSMenuTest : public WidgetsTest
{
protected:
    void SetUp() override
    {
        WidgetsTest::SetUp();
        centre = NSUI::NSNotificationCenter::getInstance();
        passStartDelay();
    }
    NSUI::NSNotificationCenter* centre = nullptr;
};

TEST_F(NSMenuTest, ChosenItemPostsUrgentlyAndHidesTheMenu)
{
    auto* a = new NSUI::NSMenu::menuObject();
    auto* b = new NSUI::NSMenu::menuObject();
    a->text = "Whole Screen";
    a->value = "whole";
    a->id = 9031;
    a->next = b;
    b->text = "All Image";
    b->value = "all";
    b->id = 9032;
    int context = 0;
    b->context = &context;

    auto* menu = NSUI::NSMenu::create();
    menu->setMenuItems(a, 60);
    scene->addChild(menu);
    auto* list = menu->getList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->getRowCount(), 2);
    EXPECT_EQ(menu->getIconWidth(), 0);
    EXPECT_FLOAT_EQ(list->getContentSize().height, 80.0f);
    // As wide as its widest text as drawn, with a margin each side; no longer a guess from the
    // number of characters, which cut "Whole Screen" short.
    const float text = Label::create("Whole Screen", "", 20)->getContentSize().width;
    EXPECT_GT(text, 100.0f);
    EXPECT_FLOAT_EQ(list->getContentSize().width, std::ceil(text + 32.0f));
    EXPECT_FLOAT_EQ(menu->getContentSize().width, list->getContentSize().width);

    struct Listener : Ref
    {
    } listener;
    std::vector<std::string> got;
    centre->addObserver(&listener, &context,
                        [&](Ref*, unsigned int id, NSUI::NSNotificationData* d) {
                            got.push_back(std::to_string(id) + ":" + d->text);
                        },
                        9032);
    click(20, 20); // the second row: y 0..40
    EXPECT_FALSE(menu->isVisible());
    EXPECT_TRUE(got.empty());
    step();
    EXPECT_EQ(got, std::vector<std::string>{"9032:all"});
    click(20, 20); // hidden: nothing more
    step(2);
    EXPECT_EQ(got.size(), 1u);
    centre->removeObserver(&listener);

    // Placed past the window's top-right corner, the menu moves in just far enough.
    const Size win = Director::getInstance()->getVisibleSize();
    menu->setPosition(Vec2(win.width - 30, win.height - 20));
    menu->keepInsideWindow();
    EXPECT_FLOAT_EQ(menu->getPositionX() + list->getContentSize().width, win.width);
    EXPECT_FLOAT_EQ(menu->getPositionY() + list->getContentSize().height, win.height);
    a->release();
    b->release();
}

TEST_F(NSMenuTest, OpenMenuClosesWhenTheWindowIsResized)
{
    auto* a = new NSUI::NSMenu::menuObject();
    a->text = "Whole Screen";
    a->id = 9031;
    auto* menu = NSUI::NSMenu::create();
    menu->setMenuItems(a, 60);
    menu->setPosition(Vec2(900, 500));
    scene->addChild(menu);
    step();
    ASSERT_TRUE(menu->isVisible());
    // Placed for the old window, it would be left anywhere, even outside the new one.
    director->getEventDispatcher()->dispatchCustomEvent(GLView::EVENT_WINDOW_RESIZED);
    EXPECT_FALSE(menu->isVisible());
    // Its owner shows it again where it belongs; a later resize closes it again.
    menu->setVisible(true);
    step();
    EXPECT_TRUE(menu->isVisible());
    director->getEventDispatcher()->dispatchCustomEvent(GLView::EVENT_WINDOW_RESIZED);
    EXPECT_FALSE(menu->isVisible());
    a->release();
}

TEST_F(NSMenuTest, IconWidthComesFromTheFirstIconCapped)
{
    const std::string icon = writeImage("icon.png", 120, 30);
    auto* a = new NSUI::NSMenu::menuObject();
    auto* b = new NSUI::NSMenu::menuObject();
    a->next = b;
    a->text = "x";
    b->icon = icon;
    auto* menu = NSUI::NSMenu::create();
    menu->setMenuItems(b, 200);
    EXPECT_EQ(menu->getIconWidth(), 120);
    auto* capped = NSUI::NSMenu::create();
    capped->setMenuItems(a, 60);
    EXPECT_EQ(capped->getIconWidth(), 60);
    a->release();
    b->release();
}

TEST_F(NSMenuTest, ModalWindowBlocksWhatLiesBeneath)
{
    auto* beneath = ui::Button::create();
    beneath->setTouchEnabled(true);
    beneath->setTitleText("beneath");
    beneath->setTitleFontSize(40);
    beneath->setPosition(Vec2(200, 200));
    int beneathClicks = 0;
    beneath->addClickEventListener([&](Ref*) { ++beneathClicks; });
    scene->addChild(beneath);

    auto* window = NSUI::NSResponseWindow::create();
    scene->addChild(window);
    EXPECT_EQ(window->getLocalZOrder(), 10000);
    auto* dialogButton = ui::Button::create();
    dialogButton->setTouchEnabled(true);
    dialogButton->setTitleText("OK");
    dialogButton->setTitleFontSize(40);
    dialogButton->setPosition(Vec2(600, 300));
    int dialogClicks = 0;
    dialogButton->addClickEventListener([&](Ref*) { ++dialogClicks; });
    window->addChild(dialogButton);

    click(200, 200);
    EXPECT_EQ(beneathClicks, 0);
    click(600, 300);
    EXPECT_EQ(dialogClicks, 1);

    // The dialog closes by removing the window; then touches reach the screen again.
    window->removeFromParent();
    click(200, 200);
    EXPECT_EQ(beneathClicks, 1);
}

} // namespace
