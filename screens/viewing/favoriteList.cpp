#include "favoriteList.h"

#include "WidgetUtil.h"
#include "AppConfig.h"
#include "NSNotificationCenter.h"
#include "NSResponseWindow.h"
#include "NSSpriteView.h"
#include "captureList.h"
#include "cocostudio/CSLoader.h"
#include "dcmInfoList.h"
#include "editWW.h"
#include "favoriteView.h"
#include "viewerSideScreens.h"
#include "statApplication.h"
#include "ui/CocosGUI.h"

USING_NS_CC;

namespace {

const int kEventEnter = 13;
const int kEventLeave = 14;

void recordStatistics(int type)
{
    if (statApplication* stats = statApplication::peekInstance())
        stats->addStat(type, "");
}

} // namespace

Scene* favoriteList::createScene()
{
    Scene* scene = Scene::create();
    if (favoriteList* screen = favoriteList::create()) {
        screen->enableAndroidReturnKey(true);
        scene->addChild(screen);
    }
    return scene;
}

void favoriteList::registerWithViewer()
{
    viewerHooks::setFavoritesScene([] { return favoriteList::createScene(); });
    viewerHooks::setTagList([](const std::string& path) -> Node* {
        NSUI::NSResponseWindow* window = dcmInfoList::createWindow();
        if (dcmInfoList* list = dcmInfoList::fromWindow(window))
            list->setFilePath(path);
        return window;
    });
    viewerHooks::setLevelDialog([](bool hasView, float width, float level) -> Node* {
        NSUI::NSResponseWindow* window = editWW::createPanel();
        if (editWW* dialog = editWW::fromPanel(window); dialog && hasView)
            dialog->setWindow(width, level);
        return window;
    });
}

favoriteList* favoriteList::getScreen(Scene* scene)
{
    if (!scene)
        return nullptr;
    for (Node* child : scene->getChildren()) {
        if (auto* screen = dynamic_cast<favoriteList*>(child))
            return screen;
    }
    return nullptr;
}

bool favoriteList::init()
{
    if (!NSLayout::init())
        return false;
    setOwnerNode(this);
    recordStatistics(kEventEnter);
    const Size win = Director::getInstance()->getWinSize();
    setContentSize(win);

    layout = CSLoader::createNode(kLayoutFile);
    Node* root = layout ? layout : this;
    if (layout) {
        layout->setContentSize(win);
        AppConfig::getInstance()->setText(layout, "");
        if (auto* widget = dynamic_cast<ui::Widget*>(layout))
            ui::Helper::doLayout(widget);
        addChild(layout);
    }

    captures = captureList::create();
    captures->setAnchorPoint(Vec2::ZERO);
    captures->setPosition(Vec2::ZERO);
    captures->setContentSize(Size(leftWidth, win.height - kTopBarHeight));
    captures->setup();
    captures->setSelectionCallback([this](const std::string& path, int type) { onSelect(path, type); });
    root->addChild(captures);

    if (layout) {
        for (const char* name : {"btnShare", "btnRemove", "goBack"}) {
            if (auto* button = dynamic_cast<ui::Button*>(layout->getChildByNameDeep(name))) {
                button->setPressedActionEnabled(true);
                button->addClickEventListener([this](Ref* sender) { onButton(sender); });
            }
        }
        if (auto* all = dynamic_cast<ui::CheckBox*>(layout->getChildByNameDeep("chkAll"))) {
            all->setSelected(false);
            all->addEventListener([this](Ref*, ui::CheckBox::EventType type) {
                if (captures)
                    captures->setAllSelected(type == ui::CheckBox::EventType::SELECTED);
            });
        }
    }

    viewer = favoriteView::create();
    viewer->setAnchorPoint(Vec2::ZERO);
    viewer->setPosition(Vec2(leftWidth, 0));
    viewer->setContentSize(Size(win.width - leftWidth, win.height));
    root->addChild(viewer);
    viewer->setupToolbar();
    viewer->setFile("");

    picture = NSUI::NSSpriteView::create();
    picture->setContentSize(Size(win.width - leftWidth, win.height));
    picture->setAnchorPoint(Vec2::ZERO);
    picture->setPosition(Vec2(leftWidth, 0));
    picture->setVisible(false);
    root->addChild(picture);
    NSUI::listenForWindowResize(this, [this] { layoutForWindow(); });
    return true;
}

void favoriteList::layoutForWindow()
{
    const Size win = Director::getInstance()->getWinSize();
    setContentSize(win);
    if (layout) {
        layout->setContentSize(win);
        if (auto* widget = dynamic_cast<ui::Widget*>(layout))
            ui::Helper::doLayout(widget);
    }
    if (captures) {
        captures->setContentSize(Size(leftWidth, win.height - kTopBarHeight));
        if (NSUI::NSListView* table = captures->getTable()) {
            table->setContentSize(captures->getContentSize());
            table->reloadData();
        }
    }
    if (viewer)
        viewer->relayout(Size(win.width - leftWidth, win.height));
    if (picture)
        picture->setContentSize(Size(win.width - leftWidth, win.height));
}

void favoriteList::onExit()
{
    NSLayout::onExit();
    recordStatistics(kEventLeave);
}

void favoriteList::cleanup()
{
    NSLayout::cleanup();
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    recordStatistics(kEventLeave);
}

bool favoriteList::onResponseReturn()
{
    Director::getInstance()->popScene();
    return true;
}

void favoriteList::onButton(Ref* sender)
{
    auto* node = dynamic_cast<Node*>(sender);
    if (!node)
        return;
    const std::string name = node->getName();
    if (name == "btnShare" && captures)
        captures->shareSelected();
    else if (name == "btnRemove" && captures)
        captures->removeSelected();
    else if (name == "goBack")
        Director::getInstance()->popScene();
}

void favoriteList::onSelect(const std::string& path, int type)
{
    if (type == captureList::kDicomFile) {
        picture->setVisible(false);
        viewer->setVisible(true);
        viewer->setFile(path);
    } else if (type == captureList::kImageFile) {
        picture->setVisible(true);
        picture->setImage(path);
        viewer->setVisible(false);
    }
}
