#include "toolDisk.h"

#include "AppConfig.h"
#include "NSNotificationCenter.h"
#include "cocostudio/CSLoader.h"
#include "ui/CocosGUI.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

USING_NS_CC;

const char* const toolDisk::kDetailName = "toolDiskDetail";

namespace {

const std::vector<std::string> kImageItems = {"Input", "Default", "WL_WW", "ByTouch", "Opacity", "ClutList"};
const std::vector<std::string> kFunctionItems = {"Linear", "Log10", "Log10Inverse"};
const std::vector<std::string> kClutItems = {"bwInverse", "hotMetal", "geColor", "perfusion", "noClut"};
const std::vector<std::string> kLayoutItems = {"win1x1", "win1x2", "win2x1", "win2x2"};
const std::vector<std::string> kRoiItems = {"angle", "cross", "polygon", "circle", "line"};
const std::vector<std::string> kViewItems = {"axial", "cor", "sag", "vr"};

// The language text of a disk label, each space a line break so long texts stay round.
std::string diskText(const std::string& item)
{
    std::string text = NSUI::UILocalConfig::getText("tool_ww_" + item);
    for (char& c : text) {
        if (c == ' ')
            c = '\n';
    }
    return text;
}

Node* loadPage(const char* file)
{
    Node* page = CSLoader::createNode(file);
    if (!page)
        return nullptr;
    const Size win = Director::getInstance()->getWinSize();
    page->setAnchorPoint(Vec2(0.5f, 0.5f));
    page->setPosition(Vec2(win.width / 2, win.height / 2));
    ui::Helper::doLayout(page);
    AppConfig::getInstance()->setText(page, "");
    return page;
}

} // namespace

toolDisk* toolDisk::create()
{
    auto* disk = new (std::nothrow) toolDisk();
    if (disk && disk->init()) {
        disk->autorelease();
        return disk;
    }
    delete disk;
    return nullptr;
}

toolDisk::~toolDisk()
{
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    m_presets.clear();
}

bool toolDisk::init()
{
    if (!Layer::init())
        return false;
    m_labelSize = 18.0f;
    FileUtils* files = FileUtils::getInstance();
    for (const char* path : {"particle/materials", "particle/scripts", "particle/textures"})
        files->addSearchPath(path);
    m_page = PAGE_NONE;
    m_viewer = nullptr;
    if (Node* background = loadPage("toolDisk.csb"))
        addChild(background, -100);
    showImagePage();
    setTouchMode(Touch::DispatchMode::ONE_BY_ONE);
    setSwallowsTouches(true);
    setTouchEnabled(true);
    setGlobalZOrder(1000);
    return true;
}

void toolDisk::show()
{
    if (isVisible())
        return;
    setPosition(m_offset);
    setRotation(0);
    setScale(0.1f);
    setVisible(true);
    stopAllActions();
    runAction(EaseCubicActionOut::create(ScaleTo::create(0.3f, 1.0f)));
}

void toolDisk::setCentre(const Vec2& centre)
{
    const Size win = Director::getInstance()->getWinSize();
    Size disk(360, 360);
    for (Node* child : getChildren())
        disk = Size(std::max(disk.width, child->getContentSize().width), std::max(disk.height, child->getContentSize().height));
    const float x = std::max(disk.width / 2, std::min(centre.x, win.width - disk.width / 2));
    const float y = std::max(disk.height / 2, std::min(centre.y, win.height - disk.height / 2));
    m_offset = Vec2(x - win.width / 2, y - win.height / 2);
    if (isVisible())
        setPosition(m_offset);
}

void toolDisk::hide()
{
    if (!isVisible())
        return;
    setScale(1.0f);
    stopAllActions();
    const float height = Director::getInstance()->getWinSize().height;
    auto* leave = Spawn::create(ScaleTo::create(0.5f, 0.01f), RotateBy::create(0.5f, 360.0f),
                                MoveTo::create(0.5f, Vec2(0, -height / 2)), nullptr);
    runAction(Sequence::create(EaseCubicActionIn::create(leave), Hide::create(), nullptr));
}

Node* toolDisk::getDetail() const
{
    return getChildByName(kDetailName);
}

bool toolDisk::buildPage(int page, const char* layout)
{
    if (m_page == page && getDetail())
        return false;
    if (Node* old = getDetail())
        old->removeFromParent();
    Node* detail = loadPage(layout);
    if (!detail)
        return false;
    detail->setName(kDetailName);
    addChild(detail);
    m_page = page;
    return true;
}

void toolDisk::addLabels(const std::vector<std::pair<std::string, std::string>>& items)
{
    Node* detail = getDetail();
    std::vector<std::string> names;
    for (const auto& [name, text] : items) {
        Label* label = Label::createWithSystemFont(text, "", m_labelSize);
        label->setTextColor(Color4B::WHITE);
        label->setHorizontalAlignment(TextHAlignment::CENTER);
        label->setName(name);
        detail->addChild(label);
        names.push_back(name);
    }
    layoutAroundDisk(detail, names);
}

void toolDisk::addReturnMark()
{
    Node* detail = getDetail();
    Sprite* mark = Sprite::create("imgs/return.png");
    if (!mark)
        return;
    mark->setFlippedX(true);
    mark->setAnchorPoint(Vec2(0.5f, 0.5f));
    mark->setPosition(Vec2(155, 155));
    mark->setScale(0.5f);
    mark->runAction(RepeatForever::create(
        Sequence::create(ScaleTo::create(0.5f, 1.0f), ScaleTo::create(0.5f, 0.5f), nullptr)));
    detail->addChild(mark);
}

void toolDisk::layoutAroundDisk(Node* detail, const std::vector<std::string>& items)
{
    if (!detail)
        return;
    const size_t n = items.size();
    const float step = n > 1 ? 6.2831852f / float(n) : 0.0f;
    const float start = (n >= 3 && n <= 5) ? 1.5707963f : 0.0f;
    const Size size = detail->getContentSize();
    const Vec2 centre(size.width / 2, size.height / 2);
    for (size_t i = 0; i < n; ++i) {
        Node* item = detail->getChildByName(items[i]);
        if (!item)
            continue;
        const float a = start + float(i) * step;
        item->setPosition(Vec2(centre.x + kRadius * std::cos(a), centre.y + kRadius * std::sin(a)));
    }
}

void toolDisk::showImagePage()
{
    if (!buildPage(PAGE_IMAGE, "toolImage.csb"))
        return;
    std::vector<std::pair<std::string, std::string>> items;
    for (const std::string& name : kImageItems)
        items.emplace_back(name, diskText(name));
    addLabels(items);
}

void toolDisk::showColourTablePage()
{
    if (!buildPage(PAGE_CLUT, "toolImageClut.csb"))
        return;
    layoutAroundDisk(getDetail(), kClutItems);
    addReturnMark();
}

void toolDisk::showLayoutPage()
{
    if (buildPage(PAGE_LAYOUT, "tooLayout.csb"))
        layoutAroundDisk(getDetail(), kLayoutItems);
}

void toolDisk::showMeasurementPage()
{
    if (buildPage(PAGE_ROI, "toolROI.csb"))
        layoutAroundDisk(getDetail(), kRoiItems);
}

void toolDisk::showViewTypePage()
{
    if (buildPage(PAGE_VIEW_TYPE, "toolViewType.csb"))
        layoutAroundDisk(getDetail(), kViewItems);
}

void toolDisk::showPresetPage()
{
    if (!buildPage(PAGE_PRESETS, "toolImage.csb"))
        return;
    std::vector<std::pair<std::string, std::string>> items;
    for (const auto& preset : m_presets)
        items.emplace_back(preset.name, preset.name);
    addLabels(items);
    addReturnMark();
}

void toolDisk::showWindowFunctionPage()
{
    if (!buildPage(PAGE_WINDOW_FUNCTIONS, "toolImage.csb"))
        return;
    std::vector<std::pair<std::string, std::string>> items;
    for (const std::string& name : kFunctionItems)
        items.emplace_back(name, diskText(name));
    addLabels(items);
    addReturnMark();
}

void toolDisk::addPreset(const std::string& name, float level, float width)
{
    m_presets.push_back({name, width, level});
    m_presetCount = m_presets.size();
}

void toolDisk::clearPresets()
{
    m_presets.clear();
    m_presetCount = 0;
}

bool toolDisk::onTouchBegan(Touch* touch, Event*)
{
    if (!isVisible())
        return false;
    Node* detail = getDetail();
    if (!detail)
        return false;
    const Vec2 p = detail->convertToNodeSpace(touch->getLocation());
    const Size size = detail->getContentSize();
    return p.x > 0 && p.x < size.width && p.y > 0 && p.y < size.height;
}

std::vector<std::string> toolDisk::itemsOfPage() const
{
    switch (m_page) {
    case PAGE_IMAGE: return kImageItems;
    case PAGE_CLUT: return kClutItems;
    case PAGE_LAYOUT: return kLayoutItems;
    case PAGE_ROI: return kRoiItems;
    case PAGE_VIEW_TYPE: return kViewItems;
    case PAGE_WINDOW_FUNCTIONS: return kFunctionItems;
    case PAGE_PRESETS: {
        std::vector<std::string> names;
        for (const auto& preset : m_presets)
            names.push_back(preset.name);
        return names;
    }
    default: return {};
    }
}

std::string toolDisk::itemAt(Touch* touch, const std::vector<std::string>& items) const
{
    Node* detail = getDetail();
    if (!detail)
        return std::string();
    for (const std::string& name : items) {
        Node* item = detail->getChildByName(name);
        if (!item)
            continue;
        const Vec2 p = item->convertToNodeSpace(touch->getLocation());
        const Size size = item->getContentSize();
        if (p.x > 0 && p.x < size.width && p.y > 0 && p.y < size.height)
            return name;
    }
    return std::string();
}

void toolDisk::post(unsigned int id, bool urgent, const std::string& text, bool withText)
{
    NSUI::NSNotificationData* data = nullptr;
    if (withText) {
        data = NSUI::NSNotificationData::create();
        data->text = text;
    }
    NSUI::NSNotificationCenter::getInstance()->postNotification(this, id, data, m_viewer, urgent);
}

void toolDisk::onTouchEnded(Touch* touch, Event*)
{
    const std::string item = itemAt(touch, itemsOfPage());
    auto pick = [&item](const std::vector<std::string>& names, const std::vector<unsigned int>& ids) -> unsigned int {
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i] == item)
                return ids[i];
        }
        return 0;
    };
    switch (m_page) {
    case PAGE_ROI:
        if (unsigned int id = pick({"angle", "polygon", "cross", "circle", "line"},
                                   {NOTIFY_TOOL_ROI_ANGLE, NOTIFY_TOOL_ROI_POLYGON, NOTIFY_TOOL_ROI_POINT,
                                    NOTIFY_TOOL_ROI_CIRCLE, NOTIFY_TOOL_ROI_LINE})) {
            post(id, true);
            hide();
        }
        return;
    case PAGE_IMAGE:
        if (item == "Input") {
            setVisible(false);
            post(NOTIFY_WL_INPUT, false);
        } else if (item == "Default") {
            post(NOTIFY_WL_DEFAULT, false);
            hide();
        } else if (item == "ByTouch") {
            post(NOTIFY_TOOL_WINDOW_LEVEL, true);
            hide();
        } else if (item == "WL_WW") {
            showPresetPage();
        } else if (item == "Opacity") {
            showWindowFunctionPage();
        } else if (item == "ClutList") {
            showColourTablePage();
        }
        return;
    case PAGE_LAYOUT:
        if (unsigned int id = pick(kLayoutItems, {NOTIFY_LAYOUT_1X1, NOTIFY_LAYOUT_1X2, NOTIFY_LAYOUT_2X1,
                                                  NOTIFY_LAYOUT_2X2})) {
            post(id, false);
            hide();
        }
        return;
    case PAGE_VIEW_TYPE:
        if (unsigned int id = pick({"axial", "sag", "cor", "vr"},
                                   {NOTIFY_VIEW_AXIAL, NOTIFY_VIEW_SAGITTAL, NOTIFY_VIEW_CORONAL, NOTIFY_VIEW_VR})) {
            post(id, false);
            hide();
        }
        return;
    default: break;
    }

    // The three sub-pages of the image page.
    if (!item.empty()) {
        if (m_page == PAGE_PRESETS) {
            for (const auto& preset : m_presets) {
                if (preset.name != item)
                    continue;
                std::string json;
                setFloat(json, "ww", preset.width);
                setFloat(json, "wl", preset.centre);
                post(NOTIFY_WL_SET, true, json, true);
                hide();
                return;
            }
        } else if (m_page == PAGE_WINDOW_FUNCTIONS) {
            post(pick(kFunctionItems, {NOTIFY_WL_FUNC_LINEAR, NOTIFY_WL_FUNC_LOG10, NOTIFY_WL_FUNC_LOG10_INVERSE}), true);
            hide();
            return;
        } else if (m_page == PAGE_CLUT) {
            static const std::vector<std::string> files = {"bwInverse.plist", "HotMetal.plist", "GEcolor.plist",
                                                           "Perfusion.plist", "noClut.plist"};
            for (size_t i = 0; i < kClutItems.size(); ++i) {
                if (kClutItems[i] == item) {
                    post(NOTIFY_CLUT_SET, true, files[i], true);
                    hide();
                    return;
                }
            }
        }
        return;
    }
    if (m_page != PAGE_PRESETS && m_page != PAGE_WINDOW_FUNCTIONS && m_page != PAGE_CLUT)
        return;
    // The centre of the disk, wherever it is shown, leads back.
    const Size win = Director::getInstance()->getWinSize();
    const Vec2 centre = convertToWorldSpace(Vec2(win.width / 2, win.height / 2));
    const Vec2 p = touch->getLocation();
    if (std::fabs(p.x - centre.x) < kBackZone && std::fabs(p.y - centre.y) < kBackZone)
        showImagePage();
}
