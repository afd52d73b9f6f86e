#include "appManager.h"

#include "isImagingShutdown.h"
#include "isRenderWindow.h"
#include "isViewer.h"
#include "isViewerBrowser.h"

#include "NSDictionary.h"
#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"

#include <cstdlib>
#include <vector>

namespace isImageSDK {

const char* const appManager::kProtocolFile = "protocal/protocal.xml";

namespace {

const char* const kModeNames[] = {"", "2dview", "browser2d", "mpr3d", "mpr", "mpr2", "2dslice", "compare2d"};

// More protocols than this in one file is a damaged number, not a list.
constexpr int kMaxProtocols = 1000;

std::list<ProtocolEntry*>& protocolList()
{
    static std::list<ProtocolEntry*> list;
    return list;
}

std::string textOf(const NSUI::NSDictionary* dict, const std::string& key, bool& found)
{
    auto* value = dynamic_cast<cocos2d::__String*>(dict->objectForKey(key));
    found = value != nullptr;
    return value ? value->getCString() : std::string();
}

cocos2d::Vec3 columnOf(const cocos2d::Mat4& m, int c)
{
    return cocos2d::Vec3(m.m[c * 4], m.m[c * 4 + 1], m.m[c * 4 + 2]);
}

} // namespace

int getImagePlaneKind(const isSliceInfo* slice)
{
    if (!slice)
        return VIEW_SLICE;
    switch (planeLetterSum(columnOf(slice->matrix, 0), columnOf(slice->matrix, 1), slice->headFeet, slice->posture)) {
    case kAxialLetterSum: return VIEW_AXIAL;
    case kSagittalLetterSum: return VIEW_SAGITTAL;
    case kCoronalLetterSum: return VIEW_CORONAL;
    default: return VIEW_SLICE;
    }
}

appManager* appManager::create()
{
    auto* manager = new (std::nothrow) appManager();
    if (!manager)
        return nullptr;
    if (!manager->init()) {
        manager->release();
        return nullptr;
    }
    manager->autorelease();
    return manager;
}

appManager::~appManager()
{
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    clear();
}

bool appManager::init()
{
    m_area = cocos2d::Rect(0.0f, 0.0f, 0.0f, 0.0f);
    m_viewer = nullptr;
    m_mode = VIEWMODE_NONE;
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        this, this,
        [this](cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
            onNotification(sender, id, data);
        },
        NOTIFY_VIEW_MODE);
    return true;
}

void appManager::clear()
{
    // The views go with their clean-up (which breaks the windows' reference cycles), whether or
    // not the screen still shows the container.
    if (m_viewer)
        m_viewer->clearViews();
    CC_SAFE_RELEASE_NULL(m_viewer);
    setImages({});
}

void appManager::setImages(const std::list<isImageData*>& images)
{
    // Retain first: the new list may share images with the old one.
    for (isImageData* image : images)
        if (image)
            image->retain();
    for (isImageData* image : m_images)
        if (image)
            image->release();
    m_images.clear();
    for (isImageData* image : images)
        if (image)
            m_images.push_back(image);
}

void appManager::ensureViewer(const cocos2d::Rect& area)
{
    if (!m_viewer) {
        m_viewer = isViewerMulti::create();
        if (!m_viewer)
            return;
        m_viewer->retain();
        m_viewer->setZOrder(-100);
    }
    m_viewer->setAnchorPoint(cocos2d::Vec2::ZERO);
    m_viewer->setContentSize(area.size);
    m_viewer->setPosition(area.origin);
}

void appManager::setArea(const cocos2d::Rect& area)
{
    m_area = area;
    if (!m_viewer)
        return;
    m_viewer->setPosition(area.origin);
    m_viewer->resizeKeepingCells(area.size);
}

void appManager::singleView(int kind, isImageData* image)
{
    m_viewer->clearViews();
    m_viewer->addView(kind, true, cocos2d::Rect(0.0f, 0.0f, m_area.size.width, m_area.size.height), image);
}

void appManager::openImage(isImageData* image, const cocos2d::Rect& area, int mode)
{
    ensureViewer(area);
    if (!m_viewer || !image)
        return;
    m_area = area;
    setImages({image});
    m_mode = mode;
    if (mode == VIEWMODE_2DSLICE) {
        singleView(VIEW_SLICE, image);
        return;
    }
    image->updateInformation();
    if (!image->isVolume()) {
        singleView(VIEW_SLICE, image);
        m_mode = VIEWMODE_2DSLICE;
        return;
    }
    layoutViews(mode);
}

void appManager::openImages(const std::list<isImageData*>& images, const cocos2d::Rect& area)
{
    ensureViewer(area);
    if (!m_viewer)
        return;
    m_area = area;
    setImages(images);
    layoutCompareViews();
}

void appManager::replaceImage(isImageData* image)
{
    if (!m_viewer || !image)
        return;
    setImages({image});
    layoutViews(VIEWMODE_2DSLICE);
}

void appManager::layoutViews(int mode)
{
    if (!m_viewer || m_images.empty())
        return;
    if (mode == VIEWMODE_COMPARE2D) {
        layoutCompareViews();
        return;
    }
    m_viewer->clearViews();
    isImageData* image = m_images.front();
    image->updateInformation();
    const bool volume = image->isVolume();
    const float w = m_area.size.width;
    const float h = m_area.size.height;
    const cocos2d::Rect whole(0.0f, 0.0f, w, h);
    // Plain views only for images that are not volumes.
    const int planeKind = volume ? getImagePlaneKind(image->getSlice(0)) : VIEW_SLICE;
    const float cw = w * 0.5f - 2.0f;
    const float ch = h * 0.5f - 2.0f;
    switch (mode) {
    case VIEWMODE_2DVIEW:
        m_viewer->addView(planeKind, true, whole, image);
        break;
    case VIEWMODE_BROWSER2D:
        m_viewer->addView(planeKind, true, whole, image);
        m_viewer->sendCommand(NOTIFY_LAYOUT_2X2, nullptr);
        break;
    case VIEWMODE_MPR3D:
        m_viewer->addView(VIEW_AXIAL, true, cocos2d::Rect(0.0f, h - ch, cw, ch), image);
        m_viewer->addView(VIEW_CORONAL, true, cocos2d::Rect(w - cw, h - ch, cw, ch), image);
        m_viewer->addView(VIEW_VR, true, cocos2d::Rect(w - cw, 0.0f, cw, ch), image);
        m_viewer->addView(VIEW_SAGITTAL, true, cocos2d::Rect(0.0f, 0.0f, cw, ch), image);
        break;
    case VIEWMODE_MPR:
        m_viewer->addView(VIEW_AXIAL, true, cocos2d::Rect(0.0f, h - ch, cw, ch), image);
        m_viewer->addView(VIEW_SAGITTAL, true, cocos2d::Rect(0.0f, 0.0f, cw, ch), image);
        m_viewer->addView(VIEW_CORONAL, true, cocos2d::Rect(w - cw, 0.0f, cw, h), image);
        break;
    case VIEWMODE_MPR2: {
        const float column = (w - 8.0f) / 3.0f;
        m_viewer->addView(VIEW_AXIAL, true, cocos2d::Rect(0.0f, 0.0f, column, h), image);
        m_viewer->sendCommand(NOTIFY_LAYOUT_2X1, nullptr);
        m_viewer->addView(VIEW_SAGITTAL, true, cocos2d::Rect(column + 2.0f, 0.0f, column, h), image);
        m_viewer->addView(VIEW_CORONAL, true, cocos2d::Rect(w - column, 0.0f, column, h), image);
        break;
    }
    case VIEWMODE_2DSLICE:
        m_viewer->addView(VIEW_SLICE, true, whole, image);
        break;
    default:
        break;
    }
    m_mode = mode;
}

void appManager::layoutCompareViews()
{
    if (!m_viewer || m_images.empty())
        return;
    m_viewer->clearViews();
    std::vector<isImageData*> images(m_images.begin(), m_images.end());
    // An only image is shown twice, side by side and each on its own.
    const bool linked = images.size() > 1;
    if (images.size() == 1)
        images.push_back(images.front());
    const int n = static_cast<int>(images.size());
    const float w = m_area.size.width;
    const float h = m_area.size.height;
    const float cw = static_cast<float>(static_cast<int>((w - (2 * n - 2)) / n));
    float x = 0.0f;
    for (int i = 0; i < n; ++i) {
        isImageData* image = images[i];
        image->updateInformation();
        const int kind = image->isVolume() ? getImagePlaneKind(image->getSlice(0)) : VIEW_SLICE;
        const float left = i == n - 1 ? w - cw : x;
        m_viewer->addView(kind, linked, cocos2d::Rect(left, 0.0f, cw, h), image);
        x += cw + 2.0f;
    }
    m_mode = VIEWMODE_COMPARE2D;
}

void appManager::onNotification(cocos2d::Ref*, unsigned int id, NSUI::NSNotificationData* data)
{
    if (id != NOTIFY_VIEW_MODE || !data)
        return;
    const int mode = viewModeFromName(data->text);
    if (mode != VIEWMODE_NONE && mode != m_mode)
        layoutViews(mode);
}

int appManager::viewModeFromName(const std::string& name)
{
    for (int mode = VIEWMODE_2DVIEW; mode <= VIEWMODE_COMPARE2D; ++mode)
        if (name == kModeNames[mode])
            return mode;
    return VIEWMODE_NONE;
}

const char* appManager::viewModeName(int mode)
{
    return mode >= VIEWMODE_2DVIEW && mode <= VIEWMODE_COMPARE2D ? kModeNames[mode] : "";
}

// ---------------------------------------------------------------------------------------------
// hanging protocols

std::list<ProtocolEntry*>& appManager::loadProtocols()
{
    std::list<ProtocolEntry*>& list = protocolList();
    if (!list.empty())
        return list;
    cocos2d::FileUtils* files = cocos2d::FileUtils::getInstance();
    const std::string path = files->fullPathForFilename(kProtocolFile);
    if (path.empty()) {
        cocos2d::log("hanging protocols: %s not found", kProtocolFile);
        return list;
    }
    NSUI::NSDictionary* dict = NSUI::NSDictionary::createWithData(files->getStringFromFile(path));
    bool found = false;
    const std::string number = dict ? textOf(dict, "protocal.number", found) : std::string();
    if (!found) {
        cocos2d::log("hanging protocols: %s holds no protocal.number", kProtocolFile);
        return list;
    }
    const int n = std::atoi(number.c_str());
    if (n < 0 || n > kMaxProtocols) {
        cocos2d::log("hanging protocols: %s has a bad protocal.number %s", kProtocolFile, number.c_str());
        return list;
    }
    for (int i = 1; i <= n; ++i) {
        const std::string prefix = "protocal." + std::to_string(i) + ".";
        bool hasType = false, hasTitle = false, hasFile = false;
        auto* entry = new ProtocolEntry();
        entry->type = textOf(dict, prefix + "type", hasType);
        entry->title = textOf(dict, prefix + "title", hasTitle);
        entry->file = textOf(dict, prefix + "file", hasFile);
        if (!hasType || !hasTitle || !hasFile) {
            // An entry without its type, title or picture cannot be offered.
            cocos2d::log("hanging protocols: protocol %i of %s is incomplete", i, kProtocolFile);
            delete entry;
            continue;
        }
        list.push_back(entry);
    }
    if (!list.empty())
        setImagingShutdownStep(SHUTDOWN_PROTOCOLS, [] { appManager::releaseProtocols(); });
    return list;
}

void appManager::releaseProtocols()
{
    for (ProtocolEntry* entry : protocolList())
        delete entry;
    protocolList().clear();
}

void appManager::findProtocols(std::list<ProtocolEntry*>& out, const ProtocolQuery& q)
{
    const char* compare = kModeNames[VIEWMODE_COMPARE2D];
    const char* slice = kModeNames[VIEWMODE_2DSLICE];
    const char* browser = kModeNames[VIEWMODE_BROWSER2D];
    for (ProtocolEntry* entry : loadProtocols()) {
        bool take;
        if (q.seriesCount >= 2)
            take = entry->type == compare;
        else if (q.isVolume)
            take = q.sliceCount < 5 ? entry->type == browser : (entry->type != compare && entry->type != slice);
        else
            take = entry->type == slice || entry->type == compare;
        if (take)
            out.push_back(entry);
    }
}

} // namespace isImageSDK
