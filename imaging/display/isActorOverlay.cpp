#include "isActorOverlay.h"

#include "isPersonName.h"
#include "isROILabelLayout.h"
#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"

#include <algorithm>

namespace isImageSDK {

namespace {
constexpr int kDefaultRowWidth = 100;
constexpr int kOverlayZOrder = 100;
// The text height, 4 mm on the screen, kept readable and within the rows.
constexpr float kTextHeightMillimetres = 4.0f;
constexpr float kMillimetresPerInch = 25.4f;
constexpr int kMinimumFontSize = 20;
constexpr int kMaximumFontSize = 30;
constexpr int kRowPadding = 4;
// Window units between an edge letter and its edge.
constexpr float kEdgeLetterMargin = 6.0f;
// The gap between a corner's texts and the window's side edge: the first letter of a left text
// stays clear of the border drawn along the edge of the active window.
constexpr float kSideMargin = 8.0f;
// Window units kept between an edge letter and a corner text it was moved past.
constexpr float kLetterGap = 2.0f;
// The direction in which each edge letter (top, bottom, left, right) leaves its edge.
const cocos2d::Vec2 kInward[4] = {cocos2d::Vec2(0, -1), cocos2d::Vec2(0, 1), cocos2d::Vec2(1, 0), cocos2d::Vec2(-1, 0)};

// Corners in the order findItem searches them, and the index of each in the corner array.
constexpr int kSearchOrder[4] = {OVERLAY_TOP_LEFT, OVERLAY_BOTTOM_LEFT, OVERLAY_TOP_RIGHT, OVERLAY_BOTTOM_RIGHT};
int cornerIndex(int corner)
{
    switch (corner) {
    case OVERLAY_TOP_LEFT: return 0;
    case OVERLAY_TOP_RIGHT: return 1;
    case OVERLAY_BOTTOM_LEFT: return 2;
    case OVERLAY_BOTTOM_RIGHT: return 3;
    default: return -1;
    }
}
bool isLeftCorner(int corner)
{
    return corner == OVERLAY_TOP_LEFT || corner == OVERLAY_BOTTOM_LEFT;
}

// The JSON key of each DICOM text, by notification number (9077 and 9078 follow their own
// notices and have none).
const char* dicomKey(unsigned int id)
{
    switch (id) {
    case NOTIFY_OVERLAY_STUDY_ID: return "studyID";
    case NOTIFY_OVERLAY_SERIES_ID: return "seriesID";
    case NOTIFY_OVERLAY_HOSPITAL: return "hospital";
    case NOTIFY_OVERLAY_SERIES_TIME: return "seriesTime";
    case NOTIFY_OVERLAY_PATIENT: return "patient";
    case NOTIFY_OVERLAY_PATIENT_INFO: return "patientInfo";
    case NOTIFY_OVERLAY_IMAGE_DESC: return "imageDesc";
    default: return nullptr;
    }
}

// The relative alignment of each edge letter: top, bottom, left and right middles.
constexpr cocos2d::ui::RelativeLayoutParameter::RelativeAlign kEdgeAlign[4] = {
    cocos2d::ui::RelativeLayoutParameter::RelativeAlign(2), cocos2d::ui::RelativeLayoutParameter::RelativeAlign(8),
    cocos2d::ui::RelativeLayoutParameter::RelativeAlign(4), cocos2d::ui::RelativeLayoutParameter::RelativeAlign(6)};

// The node's box in the host's units, when it and every ancestor up to the host are shown.
bool shownBox(cocos2d::Node* host, cocos2d::Node* node, cocos2d::Rect& out)
{
    cocos2d::Node* parent = node->getParent();
    for (const cocos2d::Node* n = node; n != host; n = n->getParent())
        if (!n || !n->isVisible())
            return false;
    const cocos2d::Rect box = node->getBoundingBox();
    const cocos2d::Vec2 low = host->convertToNodeSpace(parent->convertToWorldSpace(box.origin));
    const cocos2d::Vec2 high =
        host->convertToNodeSpace(parent->convertToWorldSpace(cocos2d::Vec2(box.getMaxX(), box.getMaxY())));
    if (high.x <= low.x || high.y <= low.y)
        return false;
    out = cocos2d::Rect(low.x, low.y, high.x - low.x, high.y - low.y);
    return true;
}

// How far a letter at `box` must move along `inward` to leave `text` behind, keeping kLetterGap.
float distancePast(const cocos2d::Rect& box, const cocos2d::Rect& text, const cocos2d::Vec2& inward)
{
    if (inward.y < 0)
        return box.getMaxY() - text.getMinY() + kLetterGap;
    if (inward.y > 0)
        return text.getMaxY() - box.getMinY() + kLetterGap;
    if (inward.x > 0)
        return text.getMaxX() - box.getMinX() + kLetterGap;
    return box.getMaxX() - text.getMinX() + kLetterGap;
}

template <class T>
void releaseHeld(T*& field)
{
    if (field) {
        T* held = field;
        field = nullptr;
        held->release();
    }
}
} // namespace

isActorOverlay::~isActorOverlay()
{
    isActorOverlay::clear();
}

bool isActorOverlay::init()
{
    if (!isActorObject::init())
        return false;
    setTag(-1);
    setName("");
    forgetAll();
    m_rowWidth = kDefaultRowWidth;
    m_fontSize = kMaximumFontSize;
    m_rowHeight = kMaximumFontSize + kRowPadding;
    return true;
}

void isActorOverlay::clear()
{
    isActorObject::clear();
    if (NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    removeAll();
}

void isActorOverlay::removeAll()
{
    detachRenderWindow();
    // The corners and letters are this actor's only plain nodes; a rebuild lists new ones.
    std::vector<cocos2d::Node*> nodes;
    nodes.swap(m_plainNodes);
    for (cocos2d::Node* node : nodes)
        node->release();
    forgetAll();
}

void isActorOverlay::forgetAll()
{
    for (isNodeOverlayText*& label : m_edgeLabels)
        releaseHeld(label);
    std::fill(std::begin(m_letterShift), std::end(m_letterShift), 0.0f);
    for (Corner& corner : m_corners) {
        for (NSUI::NSLayout* row : corner.rows)
            row->release();
        releaseHeld(corner.layout);
        corner = Corner();
    }
    std::vector<Item> items;
    items.swap(m_items);
    for (const Item& item : items)
        item.node->release();
}

void isActorOverlay::attachRenderWindow(isRenderWindowHost* window)
{
    isActorObject::attachRenderWindow(window);
    removeAll();
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    centre->removeObserver(this);
    if (!m_renderWindow)
        return;
    auto callback = [this](cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
        onNotification(sender, id, data);
    };
    for (unsigned int id : {NOTIFY_OVERLAY_ORIENTATION, NOTIFY_OVERLAY_INFO_READY})
        centre->addObserver(this, getWindowContext(), callback, id);
    const int half = static_cast<int>(m_renderWindow->getHostNode()->getContentSize().width * 0.5f);
    m_rowWidth = half > 0 ? half : kDefaultRowWidth;
}

void isActorOverlay::onNotification(cocos2d::Ref*, unsigned int id, NSUI::NSNotificationData* data)
{
    const std::string json = data ? data->text : std::string();
    if (id == NOTIFY_OVERLAY_ORIENTATION)
        setEdgeLabels(getString(json, "t"), getString(json, "b"), getString(json, "l"), getString(json, "r"));
    else if (id == NOTIFY_OVERLAY_INFO_READY)
        applyDicomInfo(json);
}

isActorOverlay::Corner* isActorOverlay::cornerFor(int corner)
{
    const int index = cornerIndex(corner);
    return index < 0 ? nullptr : &m_corners[index];
}

const isActorOverlay::Corner* isActorOverlay::cornerFor(int corner) const
{
    const int index = cornerIndex(corner);
    return index < 0 ? nullptr : &m_corners[index];
}

NSUI::NSLayout* isActorOverlay::makeRow(int corner)
{
    Corner& c = *cornerFor(corner);
    NSUI::NSLayout* row = NSUI::NSLayout::create();
    // Left corners fill their rows from the left, right corners from the right.
    row->setLayoutType(isLeftCorner(corner) ? cocos2d::ui::Layout::Type::RELATIVE
                                            : cocos2d::ui::Layout::Type::RIGHT_ROW);
    row->setContentSize(cocos2d::Size(float(m_rowWidth), float(m_rowHeight)));
    row->retain();
    c.rows.push_back(row);
    c.currentRow = row;
    c.itemCount = 0;
    c.layout->addChild(row);
    return row;
}

NSUI::NSLayout* isActorOverlay::getCornerLayout(int corner)
{
    Corner* c = cornerFor(corner);
    if (!c)
        return nullptr;
    const bool made = !c->layout;
    if (made) {
        c->layout = NSUI::NSLayout::create();
        c->layout->retain();
        const bool left = isLeftCorner(corner);
        c->layout->setRelativeLayout(corner, "",
                                     cocos2d::ui::Margin(left ? kSideMargin : 0.0f, 0, left ? 0.0f : kSideMargin, 0));
    }
    if (!c->currentRow) {
        makeRow(corner);
        c->rowCount = 0;
    }
    if (made) {
        c->layout->setLocalZOrder(kOverlayZOrder);
        c->layout->setVisible(m_allVisible);
        c->layout->setLayoutType(cocos2d::ui::Layout::Type::VERTICAL);
        c->layout->setContentSize(cocos2d::Size(float(m_rowWidth), float((c->rowCount + 1) * m_rowHeight)));
        addChildNode(c->layout);
    }
    return c->layout;
}

void isActorOverlay::addItem(Corner& corner, cocos2d::Node* node, isNodeOverlay* overlay)
{
    corner.currentRow->addChild(node);
    ++corner.itemCount;
    node->retain();
    m_items.push_back(Item{node, overlay});
}

isNodeOverlayText* isActorOverlay::addCornerText(int corner, const std::string& text)
{
    if (!getCornerLayout(corner))
        return nullptr;
    isNodeOverlayText* node = isNodeOverlayText::create();
    addItem(*cornerFor(corner), node, node);
    node->setRenderWindow(m_renderWindow);
    node->bindNotification(text, "", "", NOTIFY_NONE, false);
    node->setFontSize(float(m_fontSize));
    return node;
}

isNodeOverlaySprite* isActorOverlay::addTopRightButton()
{
    getCornerLayout(OVERLAY_TOP_RIGHT);
    isNodeOverlaySprite* button = isNodeOverlaySprite::create();
    addItem(*cornerFor(OVERLAY_TOP_RIGHT), button, button);
    button->setRenderWindow(m_renderWindow);
    button->setButtonHeight(float(m_rowHeight));
    return button;
}

void isActorOverlay::addCornerRow(int corner)
{
    if (corner == OVERLAY_BOTTOM_RIGHT || !cornerFor(corner))
        return;
    // A row asked for before any text starts below the corner's first row, not in a corner
    // that does not exist yet.
    getCornerLayout(corner);
    Corner& c = *cornerFor(corner);
    makeRow(corner);
    ++c.rowCount;
    c.layout->setContentSize(cocos2d::Size(float(m_rowWidth), float((c.rowCount + 1) * m_rowHeight)));
}

cocos2d::Node* isActorOverlay::findItem(const std::string& name) const
{
    for (int corner : kSearchOrder) {
        const Corner* c = cornerFor(corner);
        if (!c->layout)
            continue;
        if (cocos2d::Node* found = c->layout->getChildByNameDeep(name))
            return found;
    }
    return nullptr;
}

void isActorOverlay::setItemVisible(const std::string& name, bool visible)
{
    if (cocos2d::Node* node = findItem(name))
        node->setVisible(visible);
}

void isActorOverlay::setAllVisible(bool visible)
{
    m_allVisible = visible;
    for (isNodeOverlayText* label : m_edgeLabels)
        if (label)
            label->setVisible(visible);
    for (const Corner& c : m_corners)
        if (c.layout)
            c.layout->setVisible(visible);
}

void isActorOverlay::setEdgeLabels(const std::string& top, const std::string& bottom, const std::string& left,
                                   const std::string& right)
{
    const std::string* letters[4] = {&top, &bottom, &left, &right};
    for (int edge = 0; edge < 4; ++edge) {
        isNodeOverlayText*& label = m_edgeLabels[edge];
        if (!label) {
            label = isNodeOverlayText::create();
            label->retain();
            auto* param = cocos2d::ui::RelativeLayoutParameter::create();
            param->setAlign(kEdgeAlign[edge]);
            param->setRelativeName("");
            // Away from the edge, so that the letters of two windows side by side do not run
            // together.
            param->setMargin(letterMargin(edge, 0.0f));
            label->setLayoutParameter(param);
            label->setLocalZOrder(kOverlayZOrder);
            label->setVisible(m_allVisible);
            label->setRenderWindow(m_renderWindow);
            addChildNode(label);
            label->setFontSize(float(m_fontSize));
        }
        label->bindNotification(*letters[edge], "", "", NOTIFY_NONE, false);
    }
}

void isActorOverlay::updateLayout()
{
    if (!m_renderWindow)
        return;
    const cocos2d::Size size = m_renderWindow->getHostNode()->getContentSize();
    m_rowWidth = static_cast<int>(size.width * 0.5f);
    if (m_rowWidth < 1)
        m_rowWidth = kDefaultRowWidth;
    const int font = static_cast<int>(cocos2d::Device::getUnitsPerInch() * kTextHeightMillimetres / kMillimetresPerInch);
    m_fontSize = std::min(kMaximumFontSize, std::max(kMinimumFontSize, font));
    m_rowHeight = m_fontSize + kRowPadding;

    for (const Item& item : m_items) {
        if (item.overlay->getKind() == isNodeOverlay::KindText)
            static_cast<isNodeOverlayText*>(item.overlay)->setFontSize(float(m_fontSize));
        else if (item.overlay->getKind() == isNodeOverlay::KindButton)
            static_cast<isNodeOverlaySprite*>(item.overlay)->setButtonHeight(float(m_rowHeight));
    }
    const cocos2d::Size rowSize{float(m_rowWidth), float(m_rowHeight)};
    for (Corner& c : m_corners) {
        if (!c.layout)
            continue;
        c.layout->setContentSize(cocos2d::Size(rowSize.width, rowSize.height * float(c.rows.size())));
        for (NSUI::NSLayout* row : c.rows)
            row->setContentSize(rowSize);
    }
    for (isNodeOverlayText* label : m_edgeLabels)
        if (label)
            label->setFontSize(float(m_fontSize));
}

void isActorOverlay::applyDicomInfo(const std::string& json)
{
    for (const Item& item : m_items) {
        const char* key = dicomKey(item.overlay->getNotificationId());
        if (!key || item.overlay->getKind() != isNodeOverlay::KindText)
            continue;
        std::string value = getStringWithDefault(json, key, "");
        if (item.overlay->getNotificationId() == NOTIFY_OVERLAY_PATIENT)
            value = displayPersonName(value);
        static_cast<isNodeOverlayText*>(item.overlay)->setValue(value);
    }
}

std::vector<cocos2d::Rect> isActorOverlay::getTextBoxes(cocos2d::Node* host, bool edgesOnly) const
{
    std::vector<cocos2d::Rect> boxes;
    if (!host)
        return boxes;
    cocos2d::Rect box;
    for (isNodeOverlayText* label : m_edgeLabels)
        if (label && !label->getString().empty() && shownBox(host, label, box))
            boxes.push_back(box);
    if (!edgesOnly)
        addCornerBoxes(host, boxes);
    return boxes;
}

void isActorOverlay::addCornerBoxes(cocos2d::Node* host, std::vector<cocos2d::Rect>& boxes) const
{
    cocos2d::Rect box;
    for (const Item& item : m_items) {
        if (item.overlay->getKind() == isNodeOverlay::KindText &&
            static_cast<isNodeOverlayText*>(item.overlay)->getString().empty())
            continue;
        if (shownBox(host, item.node, box))
            boxes.push_back(box);
    }
}

cocos2d::ui::Margin isActorOverlay::letterMargin(int edge, float shift)
{
    cocos2d::ui::Margin margin(kEdgeLetterMargin, kEdgeLetterMargin, kEdgeLetterMargin, kEdgeLetterMargin);
    float* side[4] = {&margin.top, &margin.bottom, &margin.left, &margin.right};
    *side[edge] += shift;
    return margin;
}

void isActorOverlay::keepLettersClear()
{
    auto* host = m_renderWindow ? dynamic_cast<cocos2d::ui::Layout*>(m_renderWindow->getHostNode()) : nullptr;
    if (!host)
        return;
    // Layouts place their children when drawn; placed now, the boxes are those of this frame.
    host->doLayout();
    for (const Corner& c : m_corners) {
        if (c.layout)
            c.layout->doLayout();
        for (NSUI::NSLayout* row : c.rows)
            row->doLayout();
    }
    std::vector<cocos2d::Rect> texts;
    addCornerBoxes(host, texts);
    const cocos2d::Size view = host->getContentSize();
    bool moved = false;
    for (int edge = 0; edge < 4; ++edge) {
        isNodeOverlayText* label = m_edgeLabels[edge];
        cocos2d::Rect home;
        if (!label || label->getString().empty() || !shownBox(host, label, home))
            continue;
        const cocos2d::Vec2 inward = kInward[edge];
        home.origin -= inward * m_letterShift[edge];
        // A letter that would cover a corner text (a narrow window, where a long date reaches the
        // middle) steps inward past it; it stays on its half of the window, else at its edge.
        const float limit = inward.x == 0.0f ? view.height * 0.5f - home.size.height - kEdgeLetterMargin
                                             : view.width * 0.5f - home.size.width - kEdgeLetterMargin;
        float shift = 0.0f;
        for (size_t tries = 0; tries <= texts.size(); ++tries) {
            cocos2d::Rect at = home;
            at.origin += inward * shift;
            auto hit = std::find_if(texts.begin(), texts.end(),
                                    [&at](const cocos2d::Rect& text) {
                                        return boxesOverlap(at, cocos2d::Rect(text.getMinX() - kLetterGap,
                                                                              text.getMinY() - kLetterGap,
                                                                              text.size.width + 2 * kLetterGap,
                                                                              text.size.height + 2 * kLetterGap));
                                    });
            if (hit == texts.end())
                break;
            shift += distancePast(at, *hit, inward);
            if (shift > limit || tries == texts.size()) {
                shift = 0.0f;
                break;
            }
        }
        if (shift != m_letterShift[edge]) {
            m_letterShift[edge] = shift;
            if (auto* param = dynamic_cast<cocos2d::ui::RelativeLayoutParameter*>(label->getLayoutParameter()))
                param->setMargin(letterMargin(edge, shift));
            moved = true;
        }
    }
    if (moved)
        host->forceDoLayout();
}

const std::vector<NSUI::NSLayout*>& isActorOverlay::getCornerRows(int corner) const
{
    static const std::vector<NSUI::NSLayout*> none;
    const Corner* c = cornerFor(corner);
    return c ? c->rows : none;
}

int isActorOverlay::getCornerItemCount(int corner) const
{
    const Corner* c = cornerFor(corner);
    return c ? c->itemCount : 0;
}

} // namespace isImageSDK
