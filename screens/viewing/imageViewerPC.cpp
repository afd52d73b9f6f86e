#include "imageViewerPC.h"

#include "AppConfig.h"
#include "NSActivity.h"
#include "NSNotificationCenter.h"
#include "UIScrollViewBase.h"
#include "WidgetUtil.h"
#include "appManager.h"
#include "audio/SimpleAudioEngine.h"
#include "captureScreenToFile.h"
#include "cocostudio/CSLoader.h"
#include "dataService.h"
#include "dicomDB.h"
#include "diskWrite.h"
#include "NSRunableThread.h"
#include "isBinReader.h"
#include "isDcmScan.h"
#include "isImageData.h"
#include "isSharedObjects.h"
#include "isViewer.h"
#include "isViewerMulti.h"
#include "messageView.h"
#include "quickTool.h"
#include "statApplication.h"
#include "toolDisk.h"
#include "viewerSideScreens.h"
#include "viewerMenus.h"
#include "viewerSeriesLoader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

USING_NS_CC;
using namespace isImageSDK;

const char* const imageViewerPC::kScreenName = "imageViewPC";

namespace {

const char* const kMenuNames[] = {"windowLevelMenu", "clutMenu", "opacityMenu", "dcmMenu", "captureMenu",
                                  "protocalMenu"};
const char* const kSound = "res/dingdong.wav";
// Language keys of an incomplete series' title: "%d of %d images", or "%d images" when the
// series' count is not known.
const char* const kIncompleteKey = "viewer_incompleteSeries";
const char* const kIncompleteCountKey = "viewer_incompleteSeriesCount";
constexpr float kIncompleteSeconds = 4.0f;

// The text with each "%d" in turn replaced by the next number (a translated text is never used as
// a format).
std::string withCounts(std::string text, std::initializer_list<int> numbers)
{
    size_t at = 0;
    for (int number : numbers) {
        at = text.find("%d", at);
        if (at == std::string::npos)
            break;
        const std::string digits = std::to_string(number);
        text.replace(at, 2, digits);
        at += digits.size();
    }
    return text;
}
// Usage events: the viewer shown and left.
const int kEventShown = 7;
const int kEventLeft = 8;

void recordStatistics(int type)
{
    if (statApplication* stats = statApplication::peekInstance())
        stats->addStat(type, "");
}

const char* const kPanelButtons[] = {
    "btnTile1x1",    "btnTile1x2",     "btnTile2x1",     "btnTile2x2",  "btnViewAxial",    "btnViewSagittal",
    "btnViewCoronal", "btnViewVR",     "btnCmdSelection", "btnCmdMove", "btnCmdZoom",      "btnCmdRotate",
    "btnCmdPlay",    "btnCmdPrior",    "btnCmdNext",     "btnCmdOriS",  "btnCmdOriI",      "btnCmdOriA",
    "btnCmdOriP",    "btnCmdOriR",     "btnCmdOriL",     "btnCmdWL",    "btnCmdClut",      "btnCmdWLOpaticy",
    "btnCmdPoint",   "btnCmdLine",     "btnCmdAngle",    "btnCmdPolygon", "btnCmdCircle",  "btnCmdRemoveROI",
    "btnCmdCapture"};

// The protocol button's picture: a square of this many points in the top bar.
const float kProtocolPictureSide = 44.0f;
// A panel control that cannot act on what is shown is drawn at about 40 % opacity.
const uint8_t kUnusableOpacity = 102;

// The picture of the file reduced by averaging to side points (its longer edge) at the window's
// pixel density. Drawn this much smaller straight from its file, its thin lines and gaps would
// fall between the pixels sampled and leave a flat grey square.
Texture2D* reducedPicture(const std::string& file, float side)
{
    const std::string path = FileUtils::getInstance()->fullPathForFilename(file);
    Image image;
    if (path.empty() || !image.initWithImageFile(path) || image.getWidth() < 1 || image.getHeight() < 1)
        return nullptr;
    const int w = image.getWidth(), h = image.getHeight();
    const int channels = image.hasAlpha() ? 4 : 3;
    const float pixels = side * Director::getInstance()->getContentScaleFactor();
    const int ow = std::max(1, int(std::lround(pixels * std::min(1.0f, float(w) / float(h)))));
    const int oh = std::max(1, int(std::lround(pixels * std::min(1.0f, float(h) / float(w)))));
    const unsigned char* in = image.getData();
    std::vector<unsigned char> out(size_t(ow) * size_t(oh) * 4);
    for (int y = 0; y < oh; ++y) {
        const int y0 = int(int64_t(y) * h / oh), y1 = std::max(y0 + 1, int(int64_t(y + 1) * h / oh));
        for (int x = 0; x < ow; ++x) {
            const int x0 = int(int64_t(x) * w / ow), x1 = std::max(x0 + 1, int(int64_t(x + 1) * w / ow));
            unsigned int sum[4] = {0, 0, 0, 0};
            for (int sy = y0; sy < y1; ++sy) {
                const unsigned char* p = in + (size_t(sy) * size_t(w) + size_t(x0)) * size_t(channels);
                for (int sx = x0; sx < x1; ++sx, p += channels) {
                    for (int c = 0; c < channels; ++c)
                        sum[c] += p[c];
                    if (channels == 3)
                        sum[3] += 255;
                }
            }
            const unsigned int count = unsigned(y1 - y0) * unsigned(x1 - x0);
            unsigned char* q = &out[(size_t(y) * size_t(ow) + size_t(x)) * 4];
            for (int c = 0; c < 4; ++c)
                q[c] = static_cast<unsigned char>(sum[c] / count);
        }
    }
    auto* texture = new (std::nothrow) Texture2D();
    if (!texture)
        return nullptr;
    const float scale = pixels / side;
    if (!texture->initWithData(out.data(), ssize_t(out.size()), Texture2D::PixelFormat::RGBA8888, ow, oh,
                               Size(float(ow) / scale, float(oh) / scale))) {
        texture->release();
        return nullptr;
    }
    texture->autorelease();
    return texture;
}

// A capture that was not saved says so where the user is looking; a full disk is told here and not
// again by the general notice.
void showCaptureFailed(const std::string& text)
{
    // The capture's own failure is this thread's last.
    if (disk::isNoRoom(disk::lastError()))
        disk::takeNoRoomNotice();
    NSUI::messageView::showMessage(text, 3.0f);
}

void playSound()
{
    CocosDenshion::SimpleAudioEngine::getInstance()->playEffect(kSound, false, 1.0f, 0.0f, 1.0f);
}

// An incomplete series keeps no cache: a whole retrieval of the series must never be shown from
// one. Removed on a worker once the series loader (cancelled) has returned; the reader's voxel
// file, written when its last slice is in, may still come after, and without its description it
// is never read (the next scan removes it, as does the weekly purge).
void forgetIncompleteSeries(const std::vector<std::string>& folders, std::shared_ptr<viewerSeriesLoader> loader)
{
    // A counted run that ends by itself; the shell's shutdown or the exit handler waits for it.
    new NSUI::NSRunableThread(
        [folders, loader](void*) {
            while (loader && !loader->isFinished())
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            for (const std::string& folder : folders)
                isDcmScan::removeBufferFiles(folder);
        },
        nullptr);
}

// Leaves the viewer for the screen it was opened from and shows the text there. The toast lives on
// the running scene, which changes at the end of this frame: it is shown in the next one.
void leaveWithMessage(const std::string& text, float seconds)
{
    Director* director = Director::getInstance();
    const Scene* leaving = director->getRunningScene();
    director->popScene();
    static const std::string key = "imageViewerPC.leaveWithMessage";
    director->getScheduler()->schedule(
        [director, leaving, text, seconds](float) {
            if (director->getRunningScene() == leaving)
                return;
            NSUI::messageView::showMessage(text, seconds);
            director->getScheduler()->unschedule(key, director);
        },
        director, 0.0f, CC_REPEAT_FOREVER, 0.0f, false, key);
}

} // namespace

// ---- construction ---------------------------------------------------------------------------------

Scene* imageViewerPC::createScene(const std::string& series)
{
    Scene* scene = Scene::create();
    scene->enableAndroidReturnKey(true);
    imageViewerPC* screen = create();
    if (!screen)
        return scene;
    scene->addChild(screen);
    // Drawn above the scene, the screen hears Escape first and passes it on unless a menu was open.
    screen->enableAndroidReturnKey(true);
    screen->setPosition(Vec2::ZERO);
    screen->setContentSize(AppConfig::getInstance()->getWinSize());
    screen->bindControls();
    screen->setName(kScreenName);
    screen->setSeries(series);
    return scene;
}

imageViewerPC* imageViewerPC::getScreen(Scene* scene)
{
    return scene ? dynamic_cast<imageViewerPC*>(scene->getChildByName(kScreenName)) : nullptr;
}

imageViewerPC* imageViewerPC::create()
{
    auto* screen = new (std::nothrow) imageViewerPC();
    if (screen && screen->init()) {
        screen->autorelease();
        return screen;
    }
    delete screen;
    return nullptr;
}

imageViewerPC::~imageViewerPC()
{
    cleanup();
    if (m_appManager) {
        m_appManager->release();
        m_appManager = nullptr;
    }
}

std::string imageViewerPC::getLibraryRoot()
{
    if (dataService* service = dataService::peekInstance()) {
        if (dicomDB* db = service->getDatabase())
            return db->getDicomRoot();
    }
    return FileUtils::getInstance()->getWritablePath() + "qv/dicom/";
}

bool imageViewerPC::init()
{
    if (!NSLayout::init())
        return false;
    recordStatistics(kEventShown);
    m_appManager = appManager::create();
    if (m_appManager)
        m_appManager->retain();
    m_firstEnter = true;
    m_toolScrollView = nullptr;
    m_panelCode = PANEL_NONE;
    m_pendingSlice = -1;
    m_toolWidth = 300;
    if (Node* layout = CSLoader::createNode("singleViewPC.csb")) {
        layout->setName("root");
        layout->setContentSize(Director::getInstance()->getWinSize());
        AppConfig::getInstance()->setText(layout, "");
        ui::Helper::doLayout(layout);
        addChild(layout);
        setTouchEnabled(true);
        if (Node* tool = layout->getChildByName("tool")) {
            tool->setVisible(false);
            m_toolWidth = static_cast<int>(tool->getContentSize().width);
        }
    }
    showMainButtons(false);
    NSUI::listenForWindowResize(this, [this] { layoutForWindow(); });
    return true;
}

void imageViewerPC::layoutForWindow()
{
    const Size win = Director::getInstance()->getWinSize();
    setContentSize(win);
    if (Node* layout = root()) {
        layout->setContentSize(win);
        ui::Helper::doLayout(layout);
    }
    fitToolPanel();
    if (m_appManager)
        m_appManager->setArea(getViewingArea());
    if (m_quickTool)
        m_quickTool->setArea(getViewingArea().origin, getViewingArea().size);
    if (Node* panel = getChildByName("imageViewerMsg"))
        placeMessagePanel(panel);
}

void imageViewerPC::bindControls()
{
    Node* layout = root();
    if (layout) {
        for (const char* name : {"goBack", "btnCmdToolbox", "btnCmdFavorite"}) {
            auto* button = dynamic_cast<ui::Button*>(layout->getChildByName(name));
            if (!button)
                continue;
            if (std::string(name) != "goBack")
                button->setPressedActionEnabled(true);
            button->addClickEventListener([this](Ref* sender) { onButton(sender); });
        }
    }
    auto* centre = NSUI::NSNotificationCenter::getInstance();
    auto callback = [this](Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
        onNotification(sender, id, data);
    };
    for (unsigned int id : {NOTIFY_SERIES_LOADED, NOTIFY_DCMINFO_LIST, NOTIFY_CAPTURE_WHOLE_SCREEN,
                            NOTIFY_CAPTURE_ALL_IMAGES, NOTIFY_CAPTURE_CURRENT_VIEW, NOTIFY_VIEW_ACTIVATE})
        centre->addObserver(this, this, callback, id);
    // The view-mode menu addresses its choice to the manager.
    if (m_appManager)
        centre->addObserver(this, m_appManager, callback, NOTIFY_VIEW_MODE);
    for (unsigned int id : {NOTIFY_WL_EDITED, NOTIFY_ACTIVE_VIEW_CHANGED, NOTIFY_VOLUME_LOADED, NOTIFY_CAPTURE_SAVED,
                            NOTIFY_VIEW_ACTIVATED, NOTIFY_WINDOW_RESIZED, NOTIFY_VIEWER_CLOSED,
                            NOTIFY_VIEWER_INFO_MENU, NOTIFY_VIEWER_CAPTURE, NOTIFY_FAVORITE_SAVE_IMAGE,
                            NOTIFY_FAVORITE_ADD_FILE})
        centre->addObserver(this, nullptr, callback, id);
}

Node* imageViewerPC::root() const
{
    return getChildByName("root");
}

void imageViewerPC::setSeries(const std::string& text)
{
    clearSeries();
    m_incompleteText.clear();
    if (text.empty() || text[0] != '{') {
        m_seriesFolders.push_back(text);
    } else {
        const int count = getInt(text, "num", 0);
        for (int i = 1; i <= count; ++i)
            m_seriesFolders.push_back(getString(text, "series" + std::to_string(i)));
        if (!getString(text, "kept").empty() && m_seriesFolders.size() == 1) {
            const int kept = getInt(text, "kept", 0);
            const int images = getInt(text, "images", 0);
            m_incompleteText = images > 0 ? withCounts(getText(kIncompleteKey), {kept, images})
                                          : withCounts(getText(kIncompleteCountKey), {kept});
        }
    }
    m_seriesCount = static_cast<unsigned int>(m_seriesFolders.size());
    if (auto* title = dynamic_cast<ui::Text*>(root() ? root()->getChildByName("viewerTitle") : nullptr)) {
        if (m_defaultTitle.empty())
            m_defaultTitle = title->getString();
        title->setString(m_incompleteText.empty() ? m_defaultTitle : m_incompleteText);
    }
}

void imageViewerPC::clearSeries()
{
    if (isSharedObjects* shared = isSharedObjects::peekInstance()) {
        for (const std::string& folder : m_seriesFolders)
            shared->removeObject(folder);
    }
    m_seriesFolders.clear();
}

void imageViewerPC::setProtocol(const std::string& name)
{
    m_viewMode = appManager::viewModeFromName(name);
}

void imageViewerPC::setViewer(isViewerMulti* container)
{
    auto* centre = NSUI::NSNotificationCenter::getInstance();
    centre->removeObserverForId(NOTIFY_WL_INPUT, this);
    centre->removeObserverForId(NOTIFY_CINE_STATE, this);
    if (!container)
        return;
    if (container->getParent() != this) {
        container->removeFromParent();
        addChild(container);
    }
    m_viewer = container;
    auto callback = [this](Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
        onNotification(sender, id, data);
    };
    centre->addObserver(this, container, callback, NOTIFY_WL_INPUT);
    centre->addObserver(this, container, callback, NOTIFY_CINE_STATE);
    if (Node* disk = getChildByName("toolDisk"))
        static_cast<toolDisk*>(disk)->setViewer(container);
}

void imageViewerPC::showMainButtons(bool visible)
{
    Node* layout = root();
    if (!layout)
        return;
    for (const char* name : {"Image_5", "btnCmdFavorite", "btnCmdToolbox", "selectLine"}) {
        if (Node* node = layout->getChildByName(name))
            node->setVisible(visible);
    }
}

Rect imageViewerPC::getViewingArea() const
{
    const Size size = getContentSize();
    return Rect(float(m_toolWidth), 0, size.width - float(m_toolWidth), size.height - kTopBar);
}

// ---- life cycle -----------------------------------------------------------------------------------

void imageViewerPC::onEnterTransitionDidFinish()
{
    NSLayout::onEnterTransitionDidFinish();
    // The window may have been resized while another screen covered this one.
    if (!getContentSize().equals(Director::getInstance()->getWinSize()))
        layoutForWindow();
    if (m_firstEnter) {
        NSUI::NSActivity* busy = NSUI::NSActivity::show(this);
        if (busy) {
            busy->setBackGroundColor(Color3B::WHITE);
            busy->setBackGroundColorOpacity(0);
            busy->textColor = Color4B(255, 255, 255, 255);
        }
        m_firstEnter = false;
        // An incomplete series is read from its own folder, never from a cache made before.
        const bool incomplete = !m_incompleteText.empty();
        m_loader = viewerSeriesLoader::start(
            incomplete ? std::string() : getLibraryRoot(), m_seriesFolders, this,
            [this](bool ok, viewerSeriesLoader::Batch& batch) {
                isSharedObjects* shared = isSharedObjects::getInstance();
                for (isBinReader* reader : batch.take()) {
                    shared->addObject(reader);
                    reader->release();
                }
                auto* data = NSUI::NSNotificationData::create();
                data->intValue = ok ? 0 : -1;
                NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_SERIES_LOADED,
                                                                            ok ? nullptr : data, this);
            },
            incomplete);
    }
    int badge = 0;
    if (dataService* service = dataService::peekInstance()) {
        if (dicomDB* db = service->getDatabase())
            badge = db->newFavoriteCount;
    }
    setFavoriteBadge(badge);
}

void imageViewerPC::onExit()
{
    NSLayout::onExit();
    Director::getInstance()->setClearColor(Color4F(0, 0, 0, 1));
    recordStatistics(kEventLeft);
}

void imageViewerPC::cleanup()
{
    std::shared_ptr<viewerSeriesLoader> loader = std::move(m_loader);
    if (loader)
        loader->cancel();
    if (m_cleanedUp)
        return;
    m_cleanedUp = true;
    NSLayout::cleanup();
    if (NSUI::NSActivity* busy = NSUI::NSActivity::current()) {
        if (busy->getParent() == this)
            NSUI::NSActivity::dismiss();
    }
    if (m_appManager)
        m_appManager->clear();
    m_viewer = nullptr;
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    Director::getInstance()->getScheduler()->removeFunctionInCocosThread(this);
    if (!m_incompleteText.empty())
        forgetIncompleteSeries(m_seriesFolders, loader);
    clearSeries();
    recordStatistics(kEventLeft);
}

bool imageViewerPC::onTouchBegan(Touch* touch, Event* event)
{
    ui::Widget::onTouchBegan(touch, event);
    if (isTouchEnabled())
        closePopUps();
    return false;
}

bool imageViewerPC::closePopUps()
{
    bool closed = false;
    for (const char* name : kMenuNames) {
        NSUI::NSMenu* menu = findMenu(name);
        if (menu && menu->isVisible()) {
            menu->setVisible(false);
            closed = true;
        }
    }
    if (Node* disk = getChildByName("toolDisk")) {
        if (disk->isVisible()) {
            static_cast<toolDisk*>(disk)->hide();
            closed = true;
        }
    }
    return closed;
}

bool imageViewerPC::onResponseReturn()
{
    // Escape closes an open menu first, as a touch beside it does; only then does it leave.
    return closePopUps();
}

void imageViewerPC::visit(Renderer* renderer, const Mat4& parentTransform, uint32_t parentFlags)
{
    NSLayout::visit(renderer, parentTransform, parentFlags);
    const unsigned int frame = Director::getInstance()->getTotalFrames();
    if (frame == m_lastFrame || !m_viewer)
        return;
    m_lastFrame = frame;
    const unsigned int kind = m_viewer->getActiveViewKind();
    if ((kind == VIEW_VR || kind == VIEW_MIP) && std::fabs(m_pendingRotation) > 0.001f) {
        m_viewer->sendFloatCommand(NOTIFY_VIEW_ANGLE, m_pendingRotation);
        m_pendingRotation = 0;
    }
    if (m_pendingSlice >= 0) {
        auto* data = NSUI::NSNotificationData::create();
        data->intValue = m_pendingSlice;
        m_pendingSlice = -1;
        m_viewer->sendCommand(NOTIFY_SLICE_SET, data);
    }
    // The slider follows the active view's slice however it moved (wheel, cine, keys, a linked
    // view), except under the user's finger.
    if (!m_sliderHeld) {
        isViewerMulti::SliceInfo info;
        if (m_viewer->getSliceIndexAndCount(info) && (info.index != m_sliderSlice.index || info.count != m_sliderSlice.count))
            updateSliceSlider();
    }
}

// ---- loading --------------------------------------------------------------------------------------

void imageViewerPC::onSeriesLoaded(NSUI::NSNotificationData* data)
{
    m_loader.reset();
    NSUI::NSActivity::hide();
    if (data && data->intValue < 0) {
        // Nothing here can be shown (a report, a plan, a waveform, files the reader refuses): back
        // to where the viewer was opened from, rather than an empty viewer full of tools.
        leaveWithMessage(getText("failed_loadSeries"), 1.5f);
        return;
    }
    isSharedObjects* shared = isSharedObjects::getInstance();
    std::list<isImageData*> images;
    std::vector<isBinReader*> readers;
    unsigned int total = 0;
    bool allVolumes = true;
    const int maxTexture = Configuration::getInstance()->getMaxTextureSize();
    std::string failure;
    for (const std::string& folder : m_seriesFolders) {
        auto* reader = dynamic_cast<isBinReader*>(shared->getObject(folder));
        isImageData* image = reader ? reader->getOutputData() : nullptr;
        if (image)
            image->updateInformation();
        if (!image || image->getSliceCount() < 1) {
            failure = "Failed to load series";
            break;
        }
        const isSliceInfo* first = image->getSlice(0);
        if (first->columns >= maxTexture || first->rows >= maxTexture) {
            failure = getText("noSupportSize");
            break;
        }
        images.push_back(image);
        readers.push_back(reader);
        total += static_cast<unsigned int>(image->getSliceCount());
        if (!image->isVolume())
            allVolumes = false;
    }
    if (!failure.empty() || images.empty()) {
        showViewerMessage(failure.empty() ? std::string("Failed to load series") : failure);
        clearSeries();
        return;
    }
    m_totalSlices = total;
    m_allVolumes = allVolumes;
    const Rect area = getViewingArea();
    if (m_viewMode != VIEWMODE_COMPARE2D && images.size() == 1) {
        isImageData* image = images.front();
        if (readers.front()->hasRawFile()) {
            const int mode = m_viewMode != 0 ? m_viewMode : (image->isVolume() ? VIEWMODE_MPR : VIEWMODE_2DVIEW);
            m_viewMode = mode;
            m_appManager->openImage(image, area, mode);
        } else {
            // One plain view until the voxel file is written (the notice of the written file lays
            // the chosen layout out); the view-mode selector is there from the start all the same.
            m_appManager->openImage(image, area, VIEWMODE_2DVIEW);
        }
        updateProtocolButton(m_appManager->getViewMode());
    } else {
        m_appManager->openImages(images, area);
    }
    setViewer(m_appManager->getViewer());
    const unsigned int kind = m_viewer ? m_viewer->getActiveViewKind() : 0;
    int code = PANEL_2D;
    if (images.size() == 1) {
        if (images.front()->isVolume())
            code = (kind == VIEW_VR || kind == VIEW_MIP) ? PANEL_VR : PANEL_3D;
    } else if (kind == VIEW_VR || kind == VIEW_MIP) {
        code = PANEL_VR;
    } else if (kind != 0) {
        code = PANEL_3D;
    }
    buildToolPanel(code);
    updateSliceSlider();
    showMainButtons(true);
    refreshWindowPresets();
    if (!m_incompleteText.empty())
        NSUI::messageView::showMessage(m_incompleteText, kIncompleteSeconds);
}

void imageViewerPC::showViewerMessage(const std::string& text)
{
    Node* panel = getChildByName("imageViewerMsg");
    if (!panel && !text.empty()) {
        panel = CSLoader::createNode("noSupport.csb");
        if (panel) {
            addChild(panel, 1000);
            placeMessagePanel(panel);
            panel->setName("imageViewerMsg");
        }
    }
    if (panel) {
        if (auto* intro = dynamic_cast<ui::Text*>(panel->getChildByName("intro")))
            intro->setString(text);
        panel->setVisible(!text.empty());
    }
    if (m_viewer)
        m_viewer->setVisible(false);
}

void imageViewerPC::placeMessagePanel(Node* panel)
{
    const Size screen = getContentSize();
    const Size size = panel->getContentSize();
    panel->setAnchorPoint(Vec2::ZERO);
    panel->setPosition(Vec2(float(m_toolWidth) + (screen.width - float(m_toolWidth) - size.width) / 2,
                            (screen.height - 100 - size.height) / 2 + 100));
}

bool imageViewerPC::allSeriesLoaded() const
{
    isSharedObjects* shared = isSharedObjects::peekInstance();
    if (!shared)
        return false;
    for (const std::string& folder : m_seriesFolders) {
        auto* reader = dynamic_cast<isBinReader*>(shared->getObject(folder));
        if (!reader || !reader->isLoadComplete())
            return false;
    }
    return true;
}

// ---- tool panel -----------------------------------------------------------------------------------

void imageViewerPC::buildToolPanel(int code)
{
    if (code == m_panelCode)
        return;
    m_panelCode = code;
    Node* layout = root();
    if (!layout || !layout->getChildByName("tool"))
        return;
    // The previous panel goes with its holder, and with it the menus parented to its scroll view.
    if (m_toolHolder) {
        m_toolHolder->removeFromParent();
        m_toolHolder = nullptr;
        m_toolScrollView = nullptr;
    }
    auto* holder = ui::Layout::create();
    holder->setPosition(Vec2::ZERO);
    addChild(holder);
    auto* scroll = NSUI::UIScrollViewBase::create();
    scroll->setDirection(NSUI::ScrollDirection::VERTICAL);
    scroll->setAnchorPoint(Vec2::ZERO);
    scroll->setName("imageTool");
    holder->addChild(scroll);
    m_toolHolder = holder;
    m_toolScrollView = scroll;

    static const char* const files[] = {"2DTool.csb", "3DTool.csb", "3DVRTool.csb"};
    Node* panel = code >= PANEL_2D && code <= PANEL_VR ? CSLoader::createNode(files[code]) : nullptr;
    if (panel) {
        panel->setName("toolPanel");
        AppConfig::getInstance()->setText(panel, "");
        m_toolPanelHeight = panel->getContentSize().height;
        panel->setAnchorPoint(Vec2::ZERO);
        panel->setPosition(Vec2::ZERO);
        scroll->addChild(panel);
    }
    fitToolPanel();
    if (!panel)
        return;

    for (const char* name : kPanelButtons) {
        auto* button = dynamic_cast<ui::Button*>(panel->getChildByName(name));
        if (!button)
            continue;
        button->setPressedActionEnabled(true);
        button->addClickEventListener([this](Ref* sender) { onButton(sender); });
    }
    if (Node* play = panel->getChildByName("btnCmdPlay"))
        play->setTag(kStopped);
    if (auto* slider = dynamic_cast<ui::Slider*>(panel->getChildByName("sliderSlice"))) {
        slider->setTouchScaled(2.0f);
        slider->addEventListener([this](Ref* sender, ui::Slider::EventType event) { onSliceSlider(sender, event); });
    }
    if (Node* list = panel->getChildByName("roiList"))
        list->setVisible(false);
}

void imageViewerPC::fitToolPanel()
{
    if (!m_toolHolder || !m_toolScrollView)
        return;
    const Size size(float(m_toolWidth), getContentSize().height - kTopBar);
    m_toolHolder->setContentSize(size);
    m_toolScrollView->setContentSize(size);
    Node* panel = m_toolScrollView->getChildByName("toolPanel");
    if (!panel)
        return;
    panel->setContentSize(Size(panel->getContentSize().width, std::max(m_toolPanelHeight, size.height)));
    ui::Helper::doLayout(panel);
    m_toolScrollView->setInnerContainerSize(panel->getContentSize());
    m_toolScrollView->jumpToDestination(Vec2(0, size.height - panel->getContentSize().height));
}

void imageViewerPC::onSliceSlider(Ref* sender, ui::Slider::EventType event)
{
    auto* slider = dynamic_cast<ui::Slider*>(sender);
    if (!slider)
        return;
    const float percent = float(slider->getPercent());
    switch (event) {
    case ui::Slider::EventType::ON_SLIDEBALL_DOWN:
        m_sliderLast = percent / 100.0f;
        m_sliderHeld = true;
        return;
    case ui::Slider::EventType::ON_SLIDEBALL_UP:
        m_sliderHeld = false;
        if (m_panelCode == PANEL_VR)
            slider->setPercent(50);
        return;
    case ui::Slider::EventType::ON_SLIDEBALL_CANCEL:
        m_sliderHeld = false;
        return;
    case ui::Slider::EventType::ON_PERCENTAGE_CHANGED:
        break;
    default: return;
    }
    if (m_panelCode == PANEL_2D || m_panelCode == PANEL_3D) {
        isViewerMulti::SliceInfo info;
        // An empty slice range (no image actor, oblique plane) gives nothing to move to.
        if (!m_viewer || !m_viewer->getSliceIndexAndCount(info) || info.count < 1)
            return;
        int index = static_cast<int>(percent / 100.0f * float(info.count));
        index = std::max(0, std::min(index, info.count - 1));
        if (index != info.index)
            m_pendingSlice = index;
    } else if (m_panelCode == PANEL_VR) {
        const float angle = (percent / 100.0f - m_sliderLast) * 6.0f * 3.1415926f;
        if (std::fabs(angle) > 0.001f) {
            m_pendingRotation = angle;
            m_sliderLast = percent / 100.0f;
        }
    }
}

void imageViewerPC::updateSliceSlider()
{
    if (!m_toolScrollView || (m_panelCode != PANEL_2D && m_panelCode != PANEL_3D))
        return;
    Node* panel = m_toolScrollView->getChildByName("toolPanel");
    if (!panel)
        return;
    isViewerMulti::SliceInfo info;
    const bool shown = m_viewer && m_viewer->getSliceIndexAndCount(info);
    // The cine and the slider step through the view's slices: with one slice (one picture, or one
    // file of many frames, whose frames play from the picture's own buttons) they have nothing to
    // act on, and look so.
    const bool usable = !shown || info.count >= 2;
    for (const char* name : {"btnCmdPlay", "btnCmdPrior", "btnCmdNext", "sliderSlice"}) {
        if (auto* control = dynamic_cast<ui::Widget*>(panel->getChildByName(name))) {
            control->setEnabled(usable);
            control->setOpacity(usable ? 255 : kUnusableOpacity);
        }
    }
    auto* slider = dynamic_cast<ui::Slider*>(panel->getChildByName("sliderSlice"));
    if (!slider)
        return;
    m_sliderSlice = shown ? info : isViewerMulti::SliceInfo{-1, -1};
    if (shown && info.count >= 2)
        slider->setPercent(int(float(info.index) / float(info.count - 1) * 100.0f));
    else
        slider->setPercent(0);
}

void imageViewerPC::refreshWindowPresets()
{
    int modality = 7;
    if (m_viewer) {
        if (KeyViewProperty* cell = m_viewer->getActiveCell()) {
            isImageData* image = cell->getImage();
            if (image && image->getSliceCount() > 0)
                modality = image->getSlice(0)->modality;
        }
    }
    loadWindowPresets(modality, m_windowPresets);
    if (Node* disk = getChildByName("toolDisk"))
        static_cast<toolDisk*>(disk)->clearPresets();
    if (NSUI::NSMenu* menu = findMenu("windowLevelMenu"))
        menu->removeFromParent();
}

toolDisk* imageViewerPC::getToolDisk()
{
    auto* disk = dynamic_cast<toolDisk*>(getChildByName("toolDisk"));
    if (!disk) {
        disk = toolDisk::create();
        if (!disk)
            return nullptr;
        addChild(disk);
        disk->setName("toolDisk");
        disk->setVisible(false);
        disk->setPosition(Vec2::ZERO);
    }
    disk->setViewer(m_viewer);
    if (disk->getPresetCount() == 0) {
        for (const WindowPreset& preset : m_windowPresets)
            disk->addPreset(preset.name, preset.centre, preset.width);
    }
    return disk;
}

// ---- badge ----------------------------------------------------------------------------------------

void imageViewerPC::setFavoriteBadge(int count)
{
    Node* layout = root();
    Node* button = layout ? layout->getChildByName("btnCmdFavorite") : nullptr;
    if (!button)
        return;
    if (count < 0)
        count = std::atoi(button->getUserString().c_str()) + 1;
    button->setUserString(std::to_string(count));
    auto* label = dynamic_cast<Label*>(button->getParent()->getChildByName("favoriteNodes"));
    Node* background = button->getParent()->getChildByName("favoriteNodesBK");
    if (!label) {
        const Vec2 at = button->getPosition() + Vec2(-10, 15);
        Node* parent = button->getParent();
        if (Sprite* sprite = Sprite::create("imgs/newFiles.png")) {
            sprite->setAnchorPoint(Vec2(0.5f, 0.5f));
            sprite->setScale(2.0f);
            sprite->setPosition(at);
            sprite->setName("favoriteNodesBK");
            parent->addChild(sprite, button->getLocalZOrder() + 10000);
            background = sprite;
        }
        label = Label::createWithSystemFont("", "", 15);
        label->setTextColor(Color4B::WHITE);
        label->setAnchorPoint(Vec2(0.5f, 0.5f));
        label->setPosition(at);
        label->setName("favoriteNodes");
        parent->addChild(label, button->getLocalZOrder() + 10002);
    }
    // A badge beside a button at the window's top edge is kept inside the window.
    const Vec2 at = button->getPosition() + Vec2(-10, 15);
    Vec2 inside = at;
    if (background) {
        background->setPosition(at);
        inside += NSUI::shiftIntoWindow(background, 2.0f);
        background->setPosition(inside);
    }
    label->setPosition(inside);
    const bool shown = count >= 1;
    label->setVisible(shown);
    if (background)
        background->setVisible(shown);
    if (shown)
        label->setString(std::to_string(count));
}

// ---- notifications --------------------------------------------------------------------------------

void imageViewerPC::onNotification(Ref* sender, unsigned int id, NSUI::NSNotificationData* data)
{
    switch (id) {
    case NOTIFY_SERIES_LOADED:
        onSeriesLoaded(data);
        return;
    case NOTIFY_VOLUME_LOADED: {
        // The relayout applies only to a screen showing exactly one series.
        if (m_seriesFolders.size() != 1 || m_viewMode == VIEWMODE_COMPARE2D || !m_viewer)
            return;
        isSharedObjects* shared = isSharedObjects::getInstance();
        auto* reader = dynamic_cast<isBinReader*>(shared->getObject(m_seriesFolders.front()));
        isImageData* image = reader ? reader->getOutputData() : nullptr;
        if (!reader || !reader->hasRawFile() || !image || !image->isVolume())
            return;
        m_appManager->layoutViews(m_viewMode != 0 ? m_viewMode : VIEWMODE_MPR);
        updateProtocolButton(m_appManager->getViewMode());
        return;
    }
    case NOTIFY_ACTIVE_VIEW_CHANGED:
        followActiveView(data && data->intValue > 0);
        return;
    case NOTIFY_VIEW_MODE: {
        // A layout chosen from the view-mode menu: the manager lays it out (once, whichever of
        // us hears the choice first), then the panel, the slider and the protocol picture follow
        // the new active view as after any other relayout.
        if (!m_viewer || !m_appManager)
            return;
        m_appManager->onNotification(sender, id, data);
        m_viewMode = m_appManager->getViewMode();
        updateProtocolButton(m_viewMode);
        const unsigned int kind = m_viewer->getActiveViewKind();
        followActiveView(kind == VIEW_VR || kind == VIEW_MIP);
        return;
    }
    case NOTIFY_VIEW_ACTIVATE:
        refreshWindowPresets();
        return;
    case NOTIFY_VIEW_ACTIVATED: {
        Node* viewer = data ? dynamic_cast<Node*>(data->object) : nullptr;
        if (!viewer)
            return;
        if (!m_quickTool) {
            m_quickTool = quickTool::create();
            m_quickTool->buildButtons();
            // A maximised view covers the viewing area, below the top bar that would hide its
            // top overlays.
            m_quickTool->setArea(getViewingArea().origin, getViewingArea().size);
            addChild(m_quickTool);
        }
        auto* asViewer = dynamic_cast<isViewer*>(viewer);
        m_quickTool->showForViewer(viewer, asViewer ? asViewer->isLinked() : false);
        return;
    }
    case NOTIFY_WINDOW_RESIZED: {
        Node* viewer = data ? dynamic_cast<Node*>(data->object) : nullptr;
        if (m_quickTool && viewer && viewer->getRefID() == m_quickTool->getViewerId()) {
            auto* asViewer = dynamic_cast<isViewer*>(viewer);
            m_quickTool->showForViewer(viewer, asViewer ? asViewer->isLinked() : false);
        }
        return;
    }
    case NOTIFY_VIEWER_CLOSED:
        if (m_quickTool && data && data->uintValue == m_quickTool->getViewerId())
            m_quickTool->setVisible(false);
        return;
    case NOTIFY_CAPTURE_WHOLE_SCREEN:
        playSound();
        captureRect(0, 0, 0, 0);
        return;
    case NOTIFY_CAPTURE_ALL_IMAGES: {
        playSound();
        const Size win = Director::getInstance()->getWinSize();
        captureRect(m_toolWidth, 0, int(win.width) - m_toolWidth, int(win.height));
        return;
    }
    case NOTIFY_CAPTURE_CURRENT_VIEW:
    case NOTIFY_VIEWER_CAPTURE: {
        playSound();
        Rect rect;
        if (m_viewer && m_viewer->getActiveViewRect(rect))
            captureRect(int(rect.origin.x), int(rect.origin.y), int(rect.size.width), int(rect.size.height));
        else
            captureRect(0, 0, 0, 0);
        return;
    }
    case NOTIFY_VIEWER_INFO_MENU:
        if (m_quickTool) {
            showDicomMenu(true);
            if (NSUI::NSMenu* menu = findMenu("dcmMenu")) {
                menu->setPosition(Vec2(m_quickTool->getPositionX() + m_quickTool->getContentSize().width - 200,
                                       m_quickTool->getPositionY() + 30));
                menu->keepInsideWindow();
            }
        }
        return;
    case NOTIFY_DCMINFO_LIST: {
        const std::string path = m_viewer ? m_viewer->getActiveFilePath() : std::string();
        if (path.size() <= 2)
            return;
        if (Node* list = viewerHooks::makeTagList(path)) {
            list->setName("dcmInfo");
            addChild(list, 100000);
        }
        return;
    }
    case NOTIFY_WL_INPUT: {
        if (getChildByName("editWW"))
            return;
        float width = 0, level = 0;
        const bool hasView = m_viewer && m_viewer->getWindowLevel(width, level);
        if (Node* dialog = viewerHooks::makeLevelDialog(hasView, width, level)) {
            dialog->setName("editWW");
            addChild(dialog, 100000);
            m_levelDialog = dialog;
        }
        return;
    }
    case NOTIFY_WL_EDITED: {
        // Only the dialog this screen opened; one opened by another screen is that screen's.
        if (!m_levelDialog || sender != m_levelDialog || !m_viewer || !data)
            return;
        m_levelDialog = nullptr;
        m_viewer->setWindowLevel(getFloat(data->text, "ww", 0.0f), getFloat(data->text, "wl", 0.0f));
        return;
    }
    case NOTIFY_CINE_STATE: {
        Node* panel = m_toolScrollView ? m_toolScrollView->getChildByName("toolPanel") : nullptr;
        auto* play = panel ? dynamic_cast<ui::Button*>(panel->getChildByName("btnCmdPlay")) : nullptr;
        if (!play)
            return;
        const bool playing = data && data->intValue >= 1;
        const char* image = playing ? "imgs/pause.png" : "imgs/play.png";
        play->loadTextures(image, image, image);
        play->setTag(playing ? kPlaying : kStopped);
        return;
    }
    case NOTIFY_FAVORITE_SAVE_IMAGE: {
        auto* slice = data ? static_cast<isSliceInfo*>(data->takeUserData()) : nullptr;
        if (!slice)
            return;
        playSound();
        startFavoriteSave(slice, getLibraryRoot());
        return;
    }
    case NOTIFY_FAVORITE_ADD_FILE:
    case NOTIFY_CAPTURE_SAVED:
        setFavoriteBadge(-1);
        return;
    default: return;
    }
}

void imageViewerPC::followActiveView(bool volumeView)
{
    int code = PANEL_2D;
    if (volumeView)
        code = PANEL_VR;
    else if (m_viewer && m_viewer->getActiveViewKind() != 0)
        code = PANEL_3D;
    buildToolPanel(code);
    updateSliceSlider();
}

void imageViewerPC::captureRect(int x, int y, int width, int height)
{
    captureScreenToFile(x, y, width, height, showCaptureFailed);
}

// ---- buttons and menus ----------------------------------------------------------------------------

bool imageViewerPC::isPlaying() const
{
    Node* panel = m_toolScrollView ? m_toolScrollView->getChildByName("toolPanel") : nullptr;
    Node* play = panel ? panel->getChildByName("btnCmdPlay") : nullptr;
    return play && play->getTag() == kPlaying;
}

void imageViewerPC::post(unsigned int id, bool urgent)
{
    NSUI::NSNotificationCenter::getInstance()->postNotification(this, id, nullptr, m_viewer, urgent);
}

NSUI::NSMenu* imageViewerPC::findMenu(const char* name) const
{
    if (Node* menu = getChildByName(name))
        return dynamic_cast<NSUI::NSMenu*>(menu);
    if (m_toolScrollView) {
        if (Node* menu = m_toolScrollView->getChildByName(name))
            return dynamic_cast<NSUI::NSMenu*>(menu);
    }
    return nullptr;
}

void imageViewerPC::onButton(Ref* sender)
{
    auto* node = dynamic_cast<Node*>(sender);
    if (!node)
        return;
    for (const char* name : kMenuNames) {
        NSUI::NSMenu* menu = findMenu(name);
        if (menu && menu->isVisible()) {
            menu->setVisible(false);
            return;
        }
    }
    const bool playing = isPlaying();
    const std::string name = node->getName();
    auto pick = [&name](std::initializer_list<const char*> names) -> int {
        int i = 0;
        for (const char* n : names) {
            if (name == n)
                return i;
            ++i;
        }
        return -1;
    };
    int i;
    if (name == "btnCmdProtocalArrow" || name == "btnCmdProtocal") {
        showProtocolMenu(true);
    } else if (name == "btnCmdFavorite" || name == "favorite") {
        if (Scene* scene = viewerHooks::makeFavoritesScene())
            Director::getInstance()->pushScene(scene);
    } else if (name == "goBack") {
        Director::getInstance()->popScene();
    } else if ((i = pick({"btnCmdOriS", "btnCmdOriI", "btnCmdOriA", "btnCmdOriP", "btnCmdOriR", "btnCmdOriL"})) >= 0) {
        if (!playing && m_viewer)
            m_viewer->sendIntCommand(NOTIFY_VR_ORIENT, i + 1);
    } else if ((i = pick({"btnTile1x1", "btnTile1x2", "btnTile2x1", "btnTile2x2"})) >= 0) {
        if (!playing)
            post(NOTIFY_LAYOUT_1X1 + unsigned(i));
    } else if ((i = pick({"btnViewAxial", "btnViewSagittal", "btnViewCoronal", "btnViewVR"})) >= 0) {
        static const unsigned int ids[] = {NOTIFY_VIEW_AXIAL, NOTIFY_VIEW_SAGITTAL, NOTIFY_VIEW_CORONAL, NOTIFY_VIEW_VR};
        if (!playing)
            post(ids[i]);
    } else if ((i = pick({"btnCmdAngle", "btnCmdPolygon", "btnCmdPoint", "btnCmdCircle", "btnCmdLine"})) >= 0) {
        static const unsigned int ids[] = {NOTIFY_TOOL_ROI_ANGLE, NOTIFY_TOOL_ROI_POLYGON, NOTIFY_TOOL_ROI_POINT,
                                           NOTIFY_TOOL_ROI_CIRCLE, NOTIFY_TOOL_ROI_LINE};
        if (!playing)
            post(ids[i], true);
    } else if (name == "btnCmdSelection" || name == "arrow") {
        if (!playing && m_viewer)
            m_viewer->sendCommand(NOTIFY_TOOL_SELECT, nullptr);
    } else if (name == "btnCmdMove") {
        if (m_viewer)
            m_viewer->sendCommand(NOTIFY_TOOL_PAN, nullptr);
    } else if (name == "btnCmdZoom") {
        if (m_viewer)
            m_viewer->sendCommand(NOTIFY_TOOL_ZOOM, nullptr);
    } else if (name == "btnCmdCapture") {
        if (!playing) {
            showCaptureMenu(true);
            placeMenuBesideButton(findMenu("captureMenu"), node, true);
        }
    } else if (name == "btnCmdRemoveROI" || name == "remove") {
        if (!playing && m_viewer)
            m_viewer->sendCommand(NOTIFY_ROI_REMOVE, nullptr);
    } else if (name == "btnCmdRotate") {
        if (m_viewer)
            m_viewer->sendCommand(NOTIFY_TOOL_ROTATE, nullptr);
    } else if (name == "btnCmdPlay") {
        if (m_viewer)
            m_viewer->sendCommand(NOTIFY_CINE_PLAY_TOGGLE, nullptr);
    } else if (name == "btnCmdPrior") {
        if (m_viewer)
            m_viewer->sendCommand(NOTIFY_CINE_PRIOR, nullptr);
    } else if (name == "btnCmdNext") {
        if (m_viewer)
            m_viewer->sendCommand(NOTIFY_CINE_NEXT, nullptr);
    } else if (name == "btnCmdWL") {
        showWindowLevelMenu(true);
        placeMenuBesideButton(findMenu("windowLevelMenu"), node, true);
    } else if (name == "btnCmdClut") {
        showClutMenu(true);
        placeMenuBesideButton(findMenu("clutMenu"), node, false);
    } else if (name == "btnCmdWLOpaticy") {
        showOpacityMenu(true);
        placeMenuBesideButton(findMenu("opacityMenu"), node, false);
    } else if (name == "layout") {
        if (toolDisk* disk = getToolDisk()) {
            disk->showLayoutPage();
            disk->show();
        }
    } else if (name == "view") {
        if (!allSeriesLoaded()) {
            showMessage(getText("imageDataLoading"), 1.5f);
            return;
        }
        if (toolDisk* disk = getToolDisk()) {
            disk->showViewTypePage();
            disk->show();
        }
    } else if (name == "wwwl") {
        if (toolDisk* disk = getToolDisk()) {
            disk->showImagePage();
            disk->show();
        }
    } else if (name == "roi") {
        if (toolDisk* disk = getToolDisk()) {
            disk->showMeasurementPage();
            disk->show();
        }
    } else if (name == "btnCmdToolbox") {
        toggleToolDisk();
    }
}

void imageViewerPC::toggleToolDisk()
{
    toolDisk* disk = getToolDisk();
    if (!disk)
        return;
    if (disk->isVisible()) {
        disk->hide();
        return;
    }
    // The image page (window functions, colour tables, presets), over the view it acts on.
    disk->showImagePage();
    Rect view;
    if (m_viewer && m_viewer->getActiveViewRect(view))
        disk->setCentre(Vec2(view.getMidX(), view.getMidY()));
    else
        disk->setCentre(getViewingArea().origin + Vec2(getViewingArea().size.width / 2, getViewingArea().size.height / 2));
    disk->show();
}

void imageViewerPC::placeMenuBesideButton(Node* menu, Node* button, bool shiftLeft)
{
    if (!menu || !button || !m_toolScrollView)
        return;
    Vec2 at = button->getPosition() + Vec2(shiftLeft ? -100.0f : 0.0f, 20.0f);
    Node* panel = m_toolScrollView->getChildByName("toolPanel");
    auto* menuLayer = dynamic_cast<NSUI::NSMenu*>(menu);
    if (panel && menuLayer && menuLayer->getList()) {
        // The whole menu stays in the part of the panel shown below the top bar: pulled down when
        // it would rise past the view's top, up when it would sink past its bottom.
        Node* inner = m_toolScrollView->getInnerContainer();
        const float listHeight = menuLayer->getList()->getContentSize().height;
        const float viewHeight = m_toolScrollView->getContentSize().height;
        const float bottom = inner->convertToNodeSpace(m_toolScrollView->convertToWorldSpace(Vec2::ZERO)).y;
        const float top = inner->convertToNodeSpace(m_toolScrollView->convertToWorldSpace(Vec2(0, viewHeight))).y;
        at.y = std::max(bottom, std::min(at.y, top - listHeight));
        // The panel's scroll view clips its content: a menu shifted past the panel's left edge
        // could not be reached, so it stays inside the panel.
        const float width = menuLayer->getList()->getContentSize().width;
        at.x = std::max(0.0f, std::min(at.x, float(m_toolWidth) - width));
    }
    menu->setPosition(at);
    if (menuLayer)
        menuLayer->keepInsideWindow();
}

void imageViewerPC::showCaptureMenu(bool visible)
{
    NSUI::NSMenu* menu = findMenu("captureMenu");
    if (!menu && visible && m_toolScrollView) {
        menu = viewerMenus::build("captureMenu",
                                  {viewerMenus::item("Whole Screen", "", "", NOTIFY_CAPTURE_WHOLE_SCREEN, this),
                                   viewerMenus::item("All Image", "", "", NOTIFY_CAPTURE_ALL_IMAGES, this),
                                   viewerMenus::item("Current View", "", "", NOTIFY_CAPTURE_CURRENT_VIEW, this)},
                                  200, m_toolScrollView, 200);
    }
    if (menu)
        menu->setVisible(visible);
}

void imageViewerPC::showOpacityMenu(bool visible)
{
    NSUI::NSMenu* menu = findMenu("opacityMenu");
    if (!menu && visible && m_toolScrollView) {
        menu = viewerMenus::build("opacityMenu", viewerMenus::curveItems(m_viewer), 200, m_toolScrollView, 200);
    }
    if (menu)
        menu->setVisible(visible);
}

void imageViewerPC::showDicomMenu(bool visible)
{
    NSUI::NSMenu* menu = findMenu("dcmMenu");
    if (!menu && visible) {
        menu = viewerMenus::build("dcmMenu",
                                  {viewerMenus::item("Hide Private Info", "", "", NOTIFY_DCMINFO_HIDE, nullptr),
                                   viewerMenus::item("Show Full Info", "", "", NOTIFY_DCMINFO_SHOW, nullptr),
                                   viewerMenus::item("Dicom Meta Info", "", "", NOTIFY_DCMINFO_LIST, this)},
                                  200, this, 200);
    }
    if (menu)
        menu->setVisible(visible);
}

void imageViewerPC::showClutMenu(bool visible)
{
    NSUI::NSMenu* menu = findMenu("clutMenu");
    if (!menu && visible && m_toolScrollView) {
        menu = viewerMenus::build("clutMenu", viewerMenus::clutItems(m_viewer), 200, m_toolScrollView, 200);
    }
    if (menu)
        menu->setVisible(visible);
}

void imageViewerPC::showWindowLevelMenu(bool visible)
{
    NSUI::NSMenu* menu = findMenu("windowLevelMenu");
    if (!menu && visible && m_toolScrollView) {
        menu = viewerMenus::build("windowLevelMenu", viewerMenus::windowLevelItems(m_windowPresets, m_viewer), 200,
                                  m_toolScrollView, 200);
    }
    if (menu)
        menu->setVisible(visible);
}

void imageViewerPC::showProtocolMenu(bool visible)
{
    NSUI::NSMenu* menu = findMenu("protocalMenu");
    if (!menu && visible) {
        std::list<ProtocolEntry*> found;
        ProtocolQuery query;
        query.seriesCount = int(m_seriesCount);
        query.sliceCount = int(m_totalSlices);
        query.isVolume = m_allVolumes;
        appManager::findProtocols(found, query);
        std::vector<viewerMenus::Item*> items;
        for (ProtocolEntry* entry : found)
            items.push_back(viewerMenus::item(entry->title, entry->file, entry->type, NOTIFY_VIEW_MODE, m_appManager));
        if (items.empty())
            return;
        menu = viewerMenus::build("protocalMenu", items, 60, this, 100200);
    }
    if (!menu)
        return;
    menu->setVisible(visible);
    if (!visible)
        return;
    if (Node* button = getChildByName("btnCmdProtocal")) {
        const float width = button->getContentSize().width * button->getScaleX();
        const float height = menu->getList() ? menu->getList()->getContentSize().height : 0.0f;
        menu->setPosition(Vec2(button->getPositionX() - width, button->getPositionY() - height));
    }
    menu->keepInsideWindow();
}

void imageViewerPC::updateProtocolButton(int mode)
{
    const char* type = "2dslice";
    switch (mode) {
    case VIEWMODE_COMPARE2D: type = "compare2d"; break;
    case VIEWMODE_BROWSER2D: type = "browser2d"; break;
    case VIEWMODE_MPR3D: type = "mpr3d"; break;
    case VIEWMODE_MPR2: type = "mpr2"; break;
    case VIEWMODE_MPR: type = "mpr"; break;
    case VIEWMODE_2DVIEW: type = "2dview"; break;
    default: break;
    }
    std::string picture;
    for (ProtocolEntry* entry : appManager::loadProtocols()) {
        if (entry->type == type) {
            picture = entry->file;
            break;
        }
    }
    auto* button = dynamic_cast<ui::Button*>(getChildByName("btnCmdProtocal"));
    if (!button) {
        const Size size = getContentSize();
        // The button is the picture's square; the picture itself is a child (below).
        button = ui::Button::create();
        button->setName("btnCmdProtocal");
        button->ignoreContentAdaptWithSize(false);
        button->setContentSize(Size(kProtocolPictureSide, kProtocolPictureSide));
        button->setAnchorPoint(Vec2(1.0f, 0.5f));
        button->setPosition(Vec2(size.width - 120, size.height - 30));
        button->setPressedActionEnabled(true);
        button->addClickEventListener([this](Ref* sender) { onButton(sender); });
        addChild(button, 10000);
        auto* arrow = ui::Button::create("res/arrowDown.png");
        arrow->setName("btnCmdProtocalArrow");
        arrow->setAnchorPoint(Vec2(1.0f, 0.5f));
        arrow->setPosition(Vec2(size.width - 80, size.height - 30));
        arrow->setScale(0.6f);
        arrow->setPressedActionEnabled(true);
        arrow->addClickEventListener([this](Ref* sender) { onButton(sender); });
        addChild(arrow, 10000);
    }
    // No protocol of that kind: the button stays without a picture.
    if (picture.empty())
        return;
    Texture2D* texture = reducedPicture(picture, kProtocolPictureSide);
    if (!texture)
        return;
    if (Node* old = button->getChildByName("picture"))
        old->removeFromParent();
    Sprite* shown = Sprite::createWithTexture(texture);
    shown->setName("picture");
    shown->setPosition(Vec2(kProtocolPictureSide / 2, kProtocolPictureSide / 2));
    button->addChild(shown);
}
