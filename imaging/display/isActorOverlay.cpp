#include "isActorOverlay.h"

#include "isPersonName.h"
#include "isROILabelLayout.h"
#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "NSStringUtil.h"

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
// Window units kept between any two texts of the overlay.
constexpr float kTextGap = 2.0f;
// The backing behind texts on a bright surround: black at 60% opacity (white letters on it
// stand out about five to one against the white around), reaching this many window units past
// each text.
constexpr float kBackingOpacity = 0.6f;
constexpr float kBackingPadding = 2.0f;

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

// The node's box in the host's units, whether shown or not.
cocos2d::Rect boxIn(cocos2d::Node* host, cocos2d::Node* node)
{
    cocos2d::Node* parent = node->getParent();
    const cocos2d::Rect box = node->getBoundingBox();
    const cocos2d::Vec2 low = host->convertToNodeSpace(parent->convertToWorldSpace(box.origin));
    const cocos2d::Vec2 high =
        host->convertToNodeSpace(parent->convertToWorldSpace(cocos2d::Vec2(box.getMaxX(), box.getMaxY())));
    return cocos2d::Rect(low.x, low.y, high.x - low.x, high.y - low.y);
}

// The node's box in the host's units, when it and every ancestor up to the host are shown.
bool shownBox(cocos2d::Node* host, cocos2d::Node* node, cocos2d::Rect& out)
{
    for (const cocos2d::Node* n = node; n != host; n = n->getParent())
        if (!n || !n->isVisible())
            return false;
    out = boxIn(host, node);
    return out.size.width > 0 && out.size.height > 0;
}

// The box widened by `by` on every side.
cocos2d::Rect grown(const cocos2d::Rect& box, float by)
{
    return cocos2d::Rect(box.getMinX() - by, box.getMinY() - by, box.size.width + 2 * by, box.size.height + 2 * by);
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
    m_backing = nullptr;  // a plain node, released with them
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
        sizeCorner(*c);
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
    sizeCorner(*cornerFor(OVERLAY_TOP_RIGHT));
    return button;
}

void isActorOverlay::sizeCorner(Corner& c) const
{
    float total = 0.0f;
    for (NSUI::NSLayout* row : c.rows) {
        int height = m_rowHeight;
        for (cocos2d::Node* child : row->getChildren())
            if (auto* button = dynamic_cast<isNodeOverlaySprite*>(child))
                height = std::max(height, button->getButtonHeight());
        row->setContentSize(cocos2d::Size(float(m_rowWidth), float(height)));
        total += float(height);
    }
    c.layout->setContentSize(cocos2d::Size(float(m_rowWidth), total));
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
    sizeCorner(c);
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
            param->setMargin(cocos2d::ui::Margin(kEdgeLetterMargin, kEdgeLetterMargin, kEdgeLetterMargin,
                                                 kEdgeLetterMargin));
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
    for (Corner& c : m_corners)
        if (c.layout)
            sizeCorner(c);
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
        // The file's own texts: drawn as one clean line, never reversed or hidden.
        std::string value = cleanOutsideText(getStringWithDefault(json, key, ""));
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

cocos2d::Rect isActorOverlay::letterHome(int edge, const cocos2d::Size& view) const
{
    const cocos2d::Size size = m_edgeLabels[edge]->getBoundingBox().size;
    switch (edge) {
    case OVERLAY_EDGE_TOP:
        return cocos2d::Rect((view.width - size.width) * 0.5f, view.height - kEdgeLetterMargin - size.height, size.width,
                             size.height);
    case OVERLAY_EDGE_BOTTOM:
        return cocos2d::Rect((view.width - size.width) * 0.5f, kEdgeLetterMargin, size.width, size.height);
    case OVERLAY_EDGE_LEFT:
        return cocos2d::Rect(kEdgeLetterMargin, (view.height - size.height) * 0.5f, size.width, size.height);
    default:
        return cocos2d::Rect(view.width - kEdgeLetterMargin - size.width, (view.height - size.height) * 0.5f, size.width,
                             size.height);
    }
}

bool isActorOverlay::rowBox(cocos2d::Node* host, NSUI::NSLayout* row, cocos2d::Rect& out) const
{
    bool any = false;
    for (cocos2d::Node* child : row->getChildren()) {
        auto* text = dynamic_cast<isNodeOverlayText*>(child);
        if (!child->isVisible() || (text && text->getString().empty()))
            continue;
        const cocos2d::Rect box = boxIn(host, child);
        if (box.size.width <= 0 || box.size.height <= 0)
            continue;
        out = any ? out.unionWithRect(box) : box;
        any = true;
    }
    return any;
}

std::vector<isActorOverlay::Step> isActorOverlay::stepsByNeed() const
{
    // Corners in order of need at each step inward: the left ones hold the plane name and the
    // window, the right ones the date and patient.
    constexpr int kByNeed[4] = {OVERLAY_TOP_LEFT, OVERLAY_BOTTOM_LEFT, OVERLAY_TOP_RIGHT, OVERLAY_BOTTOM_RIGHT};
    size_t deepest = 0;
    for (const Corner& c : m_corners)
        deepest = std::max(deepest, c.rows.size());
    std::vector<Step> order;
    for (size_t depth = 0; depth < deepest; ++depth)
        for (int corner : kByNeed) {
            if (depth == 0 && corner == OVERLAY_TOP_RIGHT) {
                // The letters and the reserved box come after the plane name and the window.
                order.push_back(Step{nullptr, -1});
                order.push_back(Step{nullptr, -2});
            }
            const std::vector<NSUI::NSLayout*>& rows = cornerFor(corner)->rows;
            if (depth >= rows.size())
                continue;
            // Rows stack downward, so a bottom corner's own row is its last.
            const bool top = corner == OVERLAY_TOP_LEFT || corner == OVERLAY_TOP_RIGHT;
            order.push_back(Step{rows[top ? depth : rows.size() - 1 - depth], corner});
        }
    return order;
}

void isActorOverlay::arrangeTexts()
{
    auto* host = m_renderWindow ? dynamic_cast<cocos2d::ui::Layout*>(m_renderWindow->getHostNode()) : nullptr;
    if (!host)
        return;
    m_reservedPlaced = m_reservedHome;
    if (!m_allVisible) {
        drawBacking({});
        return;
    }
    // Layouts place their children when drawn; placed now, the boxes are those of this frame.
    host->doLayout();
    for (const Corner& c : m_corners) {
        if (c.layout)
            c.layout->doLayout();
        for (NSUI::NSLayout* row : c.rows)
            row->doLayout();
    }
    const cocos2d::Size view = host->getContentSize();
    const cocos2d::Rect inside(-0.5f, -0.5f, view.width + 1.0f, view.height + 1.0f);
    const auto within = [&inside](const cocos2d::Rect& box) {
        return inside.containsPoint(box.origin) && inside.containsPoint(cocos2d::Vec2(box.getMaxX(), box.getMaxY()));
    };
    struct Placed {
        cocos2d::Rect box;
        int corner;  // the corner of a row; -1 for letters and the reserved box
    };
    std::vector<Placed> placed;
    std::vector<cocos2d::Rect> texts;  // the texts among them, for the backing
    // The first box placed that `at` would cover; rows of one corner are stacked by their layout
    // and need no gap between them.
    const auto firstHit = [&placed](const cocos2d::Rect& at, int corner) {
        return std::find_if(placed.begin(), placed.end(), [&](const Placed& other) {
            const bool stacked = corner >= 0 && other.corner == corner;
            return boxesOverlap(at, stacked ? other.box : grown(other.box, kTextGap));
        });
    };
    cocos2d::Rect box;
    for (const Step& step : stepsByNeed()) {
        if (step.corner == -1) {
            for (int edge = 0; edge < 4; ++edge) {
                isNodeOverlayText* label = m_edgeLabels[edge];
                if (!label || label->getString().empty())
                    continue;
                // From the middle of its edge along it, never inward, past each text it would
                // cover (the top letter right of a long plane name, the bottom one right of the
                // window); hidden when its edge has no room.
                const cocos2d::Vec2 along = edge == OVERLAY_EDGE_TOP || edge == OVERLAY_EDGE_BOTTOM
                                                ? cocos2d::Vec2(1, 0)
                                                : cocos2d::Vec2(0, 1);
                cocos2d::Rect at = letterHome(edge, view);
                bool free = false;
                for (size_t tries = 0; tries <= placed.size() && within(at); ++tries) {
                    auto hit = firstHit(at, -1);
                    if (hit == placed.end()) {
                        free = true;
                        break;
                    }
                    // Away from the middle of what it hit.
                    const bool forward = along.x > 0 ? hit->box.getMidX() < at.getMidX() : hit->box.getMidY() < at.getMidY();
                    if (along.x > 0)
                        at.origin.x = forward ? hit->box.getMaxX() + kTextGap : hit->box.getMinX() - kTextGap - at.size.width;
                    else
                        at.origin.y = forward ? hit->box.getMaxY() + kTextGap : hit->box.getMinY() - kTextGap - at.size.height;
                }
                free = free && within(at);
                if (label->isVisible() != free)
                    label->setVisible(free);
                if (!free)
                    continue;
                // Bounding box origin to node position: the letters are the host's children.
                const cocos2d::Vec2 anchor = label->getAnchorPoint();
                label->setPosition(at.origin + cocos2d::Vec2(anchor.x * at.size.width, anchor.y * at.size.height));
                placed.push_back(Placed{at, -1});
                texts.push_back(at);
            }
        } else if (step.corner == -2) {
            if (m_reservedHome.size.width <= 0 || m_reservedHome.size.height <= 0)
                continue;
            // Upward from its own place, just past each box it would cover, while inside.
            cocos2d::Rect at = m_reservedHome;
            for (size_t tries = 0; tries <= placed.size() && within(at); ++tries) {
                auto hit = firstHit(at, -1);
                if (hit == placed.end()) {
                    m_reservedPlaced = at;
                    break;
                }
                at.origin.y = hit->box.getMaxY() + kTextGap;
            }
            placed.push_back(Placed{m_reservedPlaced, -1});
        } else if (rowBox(host, step.row, box)) {
            const bool fits = within(box) && firstHit(box, step.corner) == placed.end();
            if (step.row->isVisible() != fits)
                step.row->setVisible(fits);
            if (fits) {
                placed.push_back(Placed{box, step.corner});
                texts.push_back(box);
            }
        }
    }
    drawBacking(m_backed ? texts : std::vector<cocos2d::Rect>());
}

void isActorOverlay::drawBacking(const std::vector<cocos2d::Rect>& boxes)
{
    if (!m_backing) {
        if (boxes.empty())
            return;
        m_backing = cocos2d::DrawNode::create();
        m_backing->setLocalZOrder(kOverlayZOrder - 1);
        addChildNode(m_backing);
    }
    m_backing->clear();
    const cocos2d::Color4F colour(0.0f, 0.0f, 0.0f, kBackingOpacity);
    for (const cocos2d::Rect& box : boxes) {
        const cocos2d::Rect back = grown(box, kBackingPadding);
        m_backing->drawSolidRect(back.origin, cocos2d::Vec2(back.getMaxX(), back.getMaxY()), colour);
    }
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
