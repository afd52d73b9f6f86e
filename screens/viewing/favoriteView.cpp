#include "favoriteView.h"

#include "AppConfig.h"
#include "NSNotificationCenter.h"
#include "NSNotificationData.h"
#include "NSNotificationNumbers.h"
#include "NSResponseWindow.h"
#include "appManager.h"
#include "captureScreenToFile.h"
#include "cocostudio/CSLoader.h"
#include "dcmInfoList.h"
#include "diskWrite.h"
#include "editWW.h"
#include "isDcmReader.h"
#include "isImageData.h"
#include "isSliceInfo.h"
#include "isViewerMulti.h"
#include "messageView.h"
#include "viewerMenus.h"
#include "ui/CocosGUI.h"

USING_NS_CC;
using namespace isImageSDK;

const char* const favoriteView::kToolButtons[15] = {
    "btnCmdSelection", "btnCmdMove",  "btnCmdZoom",  "btnCmdSend",    "btnCmdRemoveDicom",
    "btnCmdWL",        "btnCmdClut",  "btnCmdWLOpaticy", "btnCmdPoint", "btnCmdLine",
    "btnCmdAngle",     "btnCmdPolygon", "btnCmdCircle", "btnCmdRemoveROI", "btnCmdCapture"};

namespace {

const char* const kMenus[] = {"windowLevelMenu", "clutMenu", "opacityMenu", "dcmMenu"};
const int kCinePlaying = 2001;

favoriteView::SendWindowFactory& sendFactory()
{
    static favoriteView::SendWindowFactory factory;
    return factory;
}

} // namespace

void favoriteView::setSendWindowFactory(SendWindowFactory factory)
{
    sendFactory() = std::move(factory);
}

favoriteView::~favoriteView()
{
    CC_SAFE_RELEASE_NULL(levelDialog);
    CC_SAFE_RELEASE_NULL(manager);
}

bool favoriteView::init()
{
    if (!NSLayout::init())
        return false;
    manager = appManager::create();
    CC_SAFE_RETAIN(manager);
    toolWidth = kToolWidth;
    setTouchEnabled(true);
    enableAndroidReturnKey(true);
    Director::getInstance()->setClearColor(Color4F(0, 0, 0, 1));
    return true;
}

bool favoriteView::onTouchBegan(Touch* touch, Event*)
{
    // A touch that begins anywhere on the pane closes the open menus and is never claimed: the
    // view beneath (a render window listening for all touches at once) still receives it, and a
    // claimed one-by-one touch that swallows would keep every drag from the view.
    const Vec2 p = convertToNodeSpace(touch->getLocation());
    if (isVisible() && Rect(Vec2::ZERO, getContentSize()).containsPoint(p))
        hideMenus();
    return false;
}

void favoriteView::cleanup()
{
    NSLayout::cleanup();
    if (manager) {
        manager->clear();
        CC_SAFE_RELEASE_NULL(manager);
    }
    container = nullptr;
    filePath.clear();
    CC_SAFE_RELEASE_NULL(levelDialog);
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
}

void favoriteView::setupToolbar()
{
    auto* centre = NSUI::NSNotificationCenter::getInstance();
    auto callback = [this](Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
        onNotification(sender, id, data);
    };
    centre->addObserver(this, nullptr, callback, NOTIFY_WL_EDITED);
    centre->addObserver(this, this, callback, NOTIFY_DCMINFO_LIST);
    if (toolbar)
        return;
    toolbar = CSLoader::createNode(kToolFile);
    if (!toolbar)
        return;
    toolbar->setAnchorPoint(Vec2::ZERO);
    addChild(toolbar);
    fitToolbar();
    for (const char* name : kToolButtons) {
        auto* button = dynamic_cast<ui::Button*>(toolbar->getChildByNameDeep(name));
        if (!button)
            continue;
        button->setPressedActionEnabled(true);
        button->addClickEventListener([this](Ref* sender) { onButton(sender); });
        button->setLocalZOrder(100);
    }
}

void favoriteView::setFile(std::string path)
{
    filePath.clear();
    if (path.empty()) {
        setMessage(" Select a file from the list.");
        return;
    }
    isDcmReader* reader = isDcmReader::create();
    if (!reader)
        return;
    reader->retain();
    reader->setFileName(path);
    reader->updateInformation();
    isImageData* image = reader->getOutputData();
    if (image)
        image->updateInformation();
    if (!image || image->getSliceCount() < 1) {
        setMessage("Not Valid File");
        reader->release();
        return;
    }
    filePath = path;
    isSliceInfo* first = image->getSlice(0);
    const int maxTexture = Configuration::getInstance()->getMaxTextureSize();
    if (first->columns >= maxTexture || first->rows >= maxTexture) {
        setMessage("The size of image is tool large");
        reader->release();
        return;
    }
    setMessage("");
    if (!container) {
        manager->openImage(image, viewArea(), VIEWMODE_2DSLICE);
        container = manager->getViewer();
        if (container) {
            if (!container->getParent())
                addChild(container);
            NSUI::NSNotificationCenter::getInstance()->addObserver(
                this, container,
                [this](Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
                    onNotification(sender, id, data);
                },
                NOTIFY_WL_INPUT);
        }
    } else {
        container->setVisible(true);
        manager->replaceImage(image);
    }
    loadWindowPresets(first->modality, presets);
    if (NSUI::NSMenu* menu = findMenu("windowLevelMenu"))
        menu->removeFromParent();
    reader->release();
}

Rect favoriteView::viewArea() const
{
    const Size size = getContentSize();
    return Rect(0, 0, size.width - toolWidth, size.height);
}

void favoriteView::fitToolbar()
{
    if (!toolbar)
        return;
    const Size size = getContentSize();
    toolbar->setPosition(Vec2(size.width - toolWidth, 0));
    toolbar->setContentSize(Size(toolWidth, size.height));
    if (auto* widget = dynamic_cast<ui::Widget*>(toolbar))
        ui::Helper::doLayout(widget);
}

void favoriteView::placeMessage(Node* panel)
{
    const Size size = getContentSize();
    const Size own = panel->getContentSize();
    panel->setAnchorPoint(Vec2::ZERO);
    panel->setPosition(Vec2((size.width - own.width) / 2, (size.height - 100 - own.height) / 2 + 100));
}

void favoriteView::relayout(const Size& size)
{
    setContentSize(size);
    fitToolbar();
    if (manager && container)
        manager->setArea(viewArea());
    if (Node* panel = getChildByName(kMessageName))
        placeMessage(panel);
}

void favoriteView::setMessage(const std::string& text)
{
    Node* panel = getChildByName(kMessageName);
    if (!panel && text.empty())
        return;
    if (!panel) {
        panel = CSLoader::createNode(kMessageFile);
        if (!panel)
            return;
        addChild(panel, 1000);
        placeMessage(panel);
        panel->setName(kMessageName);
        AppConfig::getInstance()->setText(panel, "");
    }
    if (auto* intro = dynamic_cast<ui::Text*>(panel->getChildByNameDeep("intro")))
        intro->setString(text);
    panel->setVisible(!text.empty());
    if (container)
        container->setVisible(false);
}

std::string favoriteView::getMessage() const
{
    Node* panel = getChildByName(kMessageName);
    if (!panel || !panel->isVisible())
        return "";
    auto* intro = dynamic_cast<ui::Text*>(panel->getChildByNameDeep("intro"));
    return intro ? intro->getString() : "";
}

NSUI::NSMenu* favoriteView::findMenu(const std::string& name) const
{
    if (!toolbar)
        return nullptr;
    return dynamic_cast<NSUI::NSMenu*>(toolbar->getChildByName(name));
}

bool favoriteView::hideMenus()
{
    bool hidden = false;
    for (const char* name : kMenus) {
        NSUI::NSMenu* menu = findMenu(name);
        if (menu && menu->isVisible()) {
            menu->setVisible(false);
            hidden = true;
        }
    }
    return hidden;
}

bool favoriteView::onResponseReturn()
{
    // Escape closes an open menu first; with none open the list screen beneath leaves.
    return isVisible() && hideMenus();
}

void favoriteView::containerCommand(unsigned int id)
{
    if (container)
        container->sendCommand(id, nullptr);
}

void favoriteView::onButton(Ref* sender)
{
    auto* node = dynamic_cast<Node*>(sender);
    if (!node)
        return;
    for (const char* name : kMenus) {
        NSUI::NSMenu* menu = findMenu(name);
        if (menu && menu->isVisible()) {
            menu->setVisible(false);
            return;
        }
    }
    const std::string name = node->getName();
    Node* play = toolbar ? toolbar->getChildByNameDeep("btnCmdPlay") : nullptr;
    if (play && play->getTag() == kCinePlaying) {
        static const char* const blocked[] = {"btnCmdSelection", "btnCmdPoint", "btnCmdLine",  "btnCmdAngle",
                                              "btnCmdPolygon",   "btnCmdCircle", "btnCmdCapture", "btnCmdRemoveROI"};
        for (const char* b : blocked) {
            if (name == b)
                return;
        }
    }
    if (name == "btnCmdSend") {
        if (!sendFactory()) {
            log("favoriteView: no send screen is registered");
            return;
        }
        if (Node* window = sendFactory()(filePath, "favoriteDicom")) {
            addChild(window);
            window->setPositionX(window->getPositionX() - 300);
        }
        return;
    }
    if (!container)
        return;
    const struct {
        const char* button;
        unsigned int id;
    } measurements[] = {{"btnCmdAngle", NOTIFY_TOOL_ROI_ANGLE},
                        {"btnCmdPolygon", NOTIFY_TOOL_ROI_POLYGON},
                        {"btnCmdPoint", NOTIFY_TOOL_ROI_POINT},
                        {"btnCmdCircle", NOTIFY_TOOL_ROI_CIRCLE},
                        {"btnCmdLine", NOTIFY_TOOL_ROI_LINE}};
    for (const auto& m : measurements) {
        if (name == m.button) {
            NSUI::NSNotificationCenter::getInstance()->postNotification(this, m.id, nullptr, container, false);
            return;
        }
    }
    if (name == "btnCmdSelection")
        containerCommand(NOTIFY_TOOL_SELECT);
    else if (name == "btnCmdMove")
        containerCommand(NOTIFY_TOOL_PAN);
    else if (name == "btnCmdZoom")
        containerCommand(NOTIFY_TOOL_ZOOM);
    else if (name == "btnCmdRemoveROI")
        containerCommand(NOTIFY_ROI_REMOVE);
    else if (name == "btnCmdCapture")
        capture();
    else if (name == "btnCmdWL")
        showMenu("windowLevelMenu", node, Vec2(-100, -250));
    else if (name == "btnCmdClut")
        showMenu("clutMenu", node, Vec2(-100, -120));
    else if (name == "btnCmdWLOpaticy")
        showMenu("opacityMenu", node, Vec2(-100, 20));
}

void favoriteView::capture()
{
    // A capture that was not saved says so; a full disk is told here and not again by the general
    // notice.
    const CaptureFailed failed = [](const std::string& text) {
        // The capture's own failure is this thread's last.
        if (disk::isNoRoom(disk::lastError()))
            disk::takeNoRoomNotice();
        NSUI::messageView::showMessage(text, 3.0f);
    };
    Rect rect;
    if (container && container->getActiveViewRect(rect)) {
        const Vec2 origin = convertToWorldSpace(rect.origin);
        captureScreenToFile(int(origin.x), int(origin.y), int(rect.size.width), int(rect.size.height), failed);
    } else {
        const Size win = Director::getInstance()->getWinSize();
        captureScreenToFile(0, 0, int(win.width), int(win.height), failed);
    }
}

NSUI::NSMenu* favoriteView::makeMenu(const std::string& name)
{
    if (name == "windowLevelMenu")
        return viewerMenus::build("windowLevelMenu", viewerMenus::windowLevelItems(presets, container), 200, toolbar,
                                  200);
    if (name == "clutMenu")
        return viewerMenus::build("clutMenu", viewerMenus::clutItems(container), 200, toolbar, 200, 60);
    if (name == "opacityMenu")
        return viewerMenus::build("opacityMenu", viewerMenus::curveItems(container), 200, toolbar, 200, 60);
    return nullptr;
}

void favoriteView::showMenu(const std::string& name, Node* button, const Vec2& offset)
{
    if (!toolbar)
        return;
    NSUI::NSMenu* menu = findMenu(name);
    if (!menu)
        menu = makeMenu(name);
    if (!menu)
        return;
    menu->setVisible(true);
    menu->setPosition(toolbar->convertToNodeSpace(button->getParent()->convertToWorldSpace(button->getPosition())) +
                      offset);
    menu->keepInsideWindow();
}

void favoriteView::onNotification(Ref* sender, unsigned int id, NSUI::NSNotificationData* data)
{
    switch (id) {
    case NOTIFY_DCMINFO_LIST: {
        const std::string path = container ? container->getActiveFilePath() : std::string();
        if (path.size() <= 2)
            return;
        if (NSUI::NSResponseWindow* window = dcmInfoList::createWindow()) {
            addChild(window);
            window->setPosition(convertToNodeSpace(Vec2::ZERO));
            if (dcmInfoList* list = dcmInfoList::fromWindow(window))
                list->setFilePath(path);
        }
        return;
    }
    case NOTIFY_WL_EDITED: {
        // Only the dialog this pane opened: every screen observes 9024, and a level typed over
        // another screen belongs to that screen's view.
        if (!container || !data || !levelDialog || sender != levelDialog)
            return;
        CC_SAFE_RELEASE_NULL(levelDialog);
        container->setWindowLevel(getFloat(data->text, "ww", 0.0f), getFloat(data->text, "wl", 0.0f));
        return;
    }
    case NOTIFY_WL_INPUT: {
        if (getChildByName("editWW"))
            return;
        NSUI::NSResponseWindow* window = editWW::createPanel();
        if (!window)
            return;
        window->setName("editWW");
        addChild(window);
        window->setPosition(convertToNodeSpace(Vec2::ZERO));
        CC_SAFE_RELEASE_NULL(levelDialog);
        levelDialog = window;
        levelDialog->retain();
        float width = 0, level = 0;
        if (container && container->getWindowLevel(width, level)) {
            if (editWW* dialog = editWW::fromPanel(window))
                dialog->setWindow(width, level);
        }
        return;
    }
    default:
        return;
    }
}
