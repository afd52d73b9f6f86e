#include "ui/UILayout.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "node/CCLayerColor.h"

namespace cocos2d {
namespace ui {

namespace {

constexpr int kBackgroundZ = -2;
constexpr int kBackgroundTag = -1;

// How an edge value places a widget along one axis.
enum class Edge { MIN, MID, MAX };

struct Placed {
    Widget* widget;
    Size size; // content size times scale
    Vec2 anchor;
};

Placed measure(Widget* widget)
{
    const Size& cs = widget->getContentSize();
    return {widget, Size(cs.width * std::fabs(widget->getScaleX()), cs.height * std::fabs(widget->getScaleY())),
            widget->getAnchorPoint()};
}

// The position that puts the box's edge (or centre) at `value` along one axis.
float axisPosition(Edge edge, float value, float extent, float anchor)
{
    switch (edge) {
    case Edge::MIN: return value + anchor * extent;
    case Edge::MID: return value + (anchor - 0.5f) * extent;
    case Edge::MAX: return value - (1.0f - anchor) * extent;
    }
    return value;
}

void place(const Placed& p, Edge xEdge, float x, Edge yEdge, float y)
{
    p.widget->setPosition(Vec2(axisPosition(xEdge, x, p.size.width, p.anchor.x),
                               axisPosition(yEdge, y, p.size.height, p.anchor.y)));
}

Rect boxOf(const Placed& p)
{
    const Vec2& pos = p.widget->getPosition();
    return Rect(pos.x - p.anchor.x * p.size.width, pos.y - p.anchor.y * p.size.height, p.size.width, p.size.height);
}

std::vector<Placed> widgetChildren(Node* layout)
{
    std::vector<Placed> out;
    for (Node* child : layout->Node::getChildren()) {
        if (auto* widget = dynamic_cast<Widget*>(child))
            out.push_back(measure(widget));
    }
    return out;
}

Margin marginOf(const Widget* widget)
{
    const LayoutParameter* parameter = widget->getLayoutParameter();
    return parameter ? parameter->getMargin() : Margin();
}

int alignOf(const Widget* widget)
{
    auto* parameter = dynamic_cast<RelativeLayoutParameter*>(widget->getLayoutParameter());
    return parameter ? static_cast<int>(parameter->getAlign()) : 0;
}

} // namespace

bool Layout::init()
{
    if (!Widget::init())
        return false;
    ignoreContentAdaptWithSize(false);
    setContentSize(Size::ZERO);
    setAnchorPoint(Vec2::ZERO);
    return true;
}

void Layout::setLayoutType(Type type)
{
    _layoutType = type;
    requestDoLayout();
}

// ----- background

void Layout::setBackGroundColorType(BackGroundColorType type)
{
    _colorType = type;
    if (type == BackGroundColorType::NONE) {
        if (_colorRender != nullptr) {
            removeProtectedChild(_colorRender, true);
            _colorRender = nullptr;
        }
        return;
    }
    if (_colorRender == nullptr) {
        _colorRender = LayerColor::create(Color4B(_backgroundColor.r, _backgroundColor.g, _backgroundColor.b, 255));
        _colorRender->setContentSize(_contentSize);
        _colorRender->setOpacity(_backgroundOpacity);
        addProtectedChild(_colorRender, kBackgroundZ, kBackgroundTag);
    }
}

void Layout::setBackGroundColor(const Color3B& color)
{
    _backgroundColor = color;
    if (_colorRender != nullptr)
        _colorRender->setColor(color);
}

void Layout::setBackGroundColorOpacity(GLubyte opacity)
{
    _backgroundOpacity = opacity;
    if (_colorRender != nullptr)
        _colorRender->setOpacity(opacity);
}

void Layout::enableBKColor(bool enable, const Color3B& color, float opacity)
{
    if (!enable) {
        setBackGroundColorType(BackGroundColorType::NONE);
        return;
    }
    const float clamped = std::min(1.0f, std::max(0.0f, std::isfinite(opacity) ? opacity : 0.0f));
    setBackGroundColorType(BackGroundColorType::SOLID);
    setBackGroundColor(color);
    setBackGroundColorOpacity(static_cast<GLubyte>(std::lround(clamped * 255.0f)));
}

void Layout::onSizeChanged()
{
    Widget::onSizeChanged();
    if (_colorRender != nullptr)
        _colorRender->setContentSize(_contentSize);
    requestDoLayout();
}

// ----- children

void Layout::addChild(Node* child)
{
    Widget::addChild(child);
    requestDoLayout();
}

void Layout::addChild(Node* child, int localZOrder)
{
    Widget::addChild(child, localZOrder);
    requestDoLayout();
}

void Layout::addChild(Node* child, int localZOrder, int tag)
{
    Widget::addChild(child, localZOrder, tag);
    requestDoLayout();
}

void Layout::addChild(Node* child, int localZOrder, const std::string& name)
{
    Widget::addChild(child, localZOrder, name);
    requestDoLayout();
}

void Layout::removeChild(Node* child, bool cleanup)
{
    Widget::removeChild(child, cleanup);
    requestDoLayout();
}

void Layout::removeAllChildrenWithCleanup(bool cleanup)
{
    Widget::removeAllChildrenWithCleanup(cleanup);
    requestDoLayout();
}

// ----- the pass

void Layout::forceDoLayout()
{
    requestDoLayout();
    doLayout();
}

void Layout::doLayout()
{
    if (!_doLayoutDirty)
        return;
    _doLayoutDirty = false;
    for (Node* child : Node::getChildren()) {
        if (auto* widget = dynamic_cast<Widget*>(child))
            widget->updateSizeAndPosition(_contentSize);
    }
    switch (_layoutType) {
    case Type::ABSOLUTE: break;
    case Type::VERTICAL: layoutLinearVertical(); break;
    case Type::HORIZONTAL: layoutLinearHorizontal(); break;
    case Type::RELATIVE: layoutRelative(false); break;
    case Type::RIGHT_ROW: layoutRightRow(); break;
    case Type::VIEWPORT: layoutRelative(true); break;
    }
    // Moving children is not a change that needs another pass.
    _doLayoutDirty = false;
}

void Layout::layoutLinearVertical()
{
    using Gravity = LinearLayoutParameter::LinearGravity;
    const float width = _contentSize.width;
    float top = _contentSize.height;
    for (const Placed& p : widgetChildren(this)) {
        const Margin m = marginOf(p.widget);
        auto* linear = dynamic_cast<LinearLayoutParameter*>(p.widget->getLayoutParameter());
        const Gravity gravity = linear ? linear->getGravity() : Gravity::NONE;
        const float y = top - m.top;
        switch (gravity) {
        case Gravity::RIGHT: place(p, Edge::MAX, width - m.right, Edge::MAX, y); break;
        case Gravity::CENTER_HORIZONTAL: place(p, Edge::MID, width * 0.5f + m.left - m.right, Edge::MAX, y); break;
        default: place(p, Edge::MIN, m.left, Edge::MAX, y); break;
        }
        top = y - p.size.height - m.bottom;
    }
}

void Layout::layoutLinearHorizontal()
{
    using Gravity = LinearLayoutParameter::LinearGravity;
    const float height = _contentSize.height;
    float left = 0.0f;
    for (const Placed& p : widgetChildren(this)) {
        const Margin m = marginOf(p.widget);
        auto* linear = dynamic_cast<LinearLayoutParameter*>(p.widget->getLayoutParameter());
        const Gravity gravity = linear ? linear->getGravity() : Gravity::NONE;
        const float x = left + m.left;
        switch (gravity) {
        case Gravity::BOTTOM: place(p, Edge::MIN, x, Edge::MIN, m.bottom); break;
        case Gravity::CENTER_VERTICAL: place(p, Edge::MIN, x, Edge::MID, height * 0.5f + m.bottom - m.top); break;
        default: place(p, Edge::MIN, x, Edge::MAX, height - m.top); break;
        }
        left = x + p.size.width + m.right;
    }
}

void Layout::layoutRightRow()
{
    const float height = _contentSize.height;
    float right = _contentSize.width;
    for (const Placed& p : widgetChildren(this)) {
        const Margin m = marginOf(p.widget);
        const float x = right - m.right;
        place(p, Edge::MAX, x, Edge::MAX, height - m.top);
        right = x - p.size.width - m.left;
    }
}

void Layout::layoutRelative(bool alignedOnly)
{
    using Align = RelativeLayoutParameter::RelativeAlign;
    const float width = _contentSize.width;
    const float height = _contentSize.height;
    const std::vector<Placed> children = widgetChildren(this);
    std::vector<const Placed*> siblingAligned;
    float rowLeft = 0.0f;

    for (const Placed& p : children) {
        const int align = alignOf(p.widget);
        const Margin m = marginOf(p.widget);
        if (align >= 1 && align <= 9) {
            const int column = (align - 1) % 3; // 0 left, 1 centre, 2 right
            const int row = (align - 1) / 3;    // 0 top, 1 centre, 2 bottom
            const Edge xEdge = column == 0 ? Edge::MIN : column == 1 ? Edge::MID : Edge::MAX;
            const float x = column == 0 ? m.left : column == 1 ? width * 0.5f : width - m.right;
            const Edge yEdge = row == 0 ? Edge::MAX : row == 1 ? Edge::MID : Edge::MIN;
            const float y = row == 0 ? height - m.top : row == 1 ? height * 0.5f : m.bottom;
            place(p, xEdge, x, yEdge, y);
        } else if (align >= static_cast<int>(Align::LOCATION_ABOVE_LEFTALIGN)) {
            siblingAligned.push_back(&p);
        } else if (!alignedOnly) {
            const float x = rowLeft + m.left;
            place(p, Edge::MIN, x, Edge::MAX, height - m.top);
            rowLeft = x + p.size.width + m.right;
        }
    }

    // Against a named sibling: repeat while some child's sibling has just been placed.
    auto findSibling = [&children](const std::string& name) -> const Placed* {
        for (const Placed& p : children) {
            auto* parameter = dynamic_cast<RelativeLayoutParameter*>(p.widget->getLayoutParameter());
            if (parameter != nullptr && !name.empty() && parameter->getRelativeName() == name)
                return &p;
        }
        return nullptr;
    };
    for (size_t pass = 0; pass < siblingAligned.size() && !siblingAligned.empty(); ++pass) {
        for (auto it = siblingAligned.begin(); it != siblingAligned.end();) {
            const Placed& p = **it;
            auto* parameter = static_cast<RelativeLayoutParameter*>(p.widget->getLayoutParameter());
            const Placed* sibling = findSibling(parameter->getRelativeToWidgetName());
            const bool siblingPending =
                sibling != nullptr && std::find(siblingAligned.begin(), siblingAligned.end(), sibling) != siblingAligned.end();
            if (sibling == nullptr || siblingPending) {
                ++it;
                continue;
            }
            const Rect r = boxOf(*sibling);
            const Margin m = parameter->getMargin();
            switch (parameter->getAlign()) {
            case Align::LOCATION_ABOVE_LEFTALIGN: place(p, Edge::MIN, r.getMinX() + m.left, Edge::MIN, r.getMaxY() + m.bottom); break;
            case Align::LOCATION_ABOVE_CENTER: place(p, Edge::MID, r.getMidX(), Edge::MIN, r.getMaxY() + m.bottom); break;
            case Align::LOCATION_ABOVE_RIGHTALIGN: place(p, Edge::MAX, r.getMaxX() - m.right, Edge::MIN, r.getMaxY() + m.bottom); break;
            case Align::LOCATION_LEFT_OF_TOPALIGN: place(p, Edge::MAX, r.getMinX() - m.right, Edge::MAX, r.getMaxY() - m.top); break;
            case Align::LOCATION_LEFT_OF_CENTER: place(p, Edge::MAX, r.getMinX() - m.right, Edge::MID, r.getMidY()); break;
            case Align::LOCATION_LEFT_OF_BOTTOMALIGN: place(p, Edge::MAX, r.getMinX() - m.right, Edge::MIN, r.getMinY() + m.bottom); break;
            case Align::LOCATION_RIGHT_OF_TOPALIGN: place(p, Edge::MIN, r.getMaxX() + m.left, Edge::MAX, r.getMaxY() - m.top); break;
            case Align::LOCATION_RIGHT_OF_CENTER: place(p, Edge::MIN, r.getMaxX() + m.left, Edge::MID, r.getMidY()); break;
            case Align::LOCATION_RIGHT_OF_BOTTOMALIGN: place(p, Edge::MIN, r.getMaxX() + m.left, Edge::MIN, r.getMinY() + m.bottom); break;
            case Align::LOCATION_BELOW_LEFTALIGN: place(p, Edge::MIN, r.getMinX() + m.left, Edge::MAX, r.getMinY() - m.top); break;
            case Align::LOCATION_BELOW_CENTER: place(p, Edge::MID, r.getMidX(), Edge::MAX, r.getMinY() - m.top); break;
            case Align::LOCATION_BELOW_RIGHTALIGN: place(p, Edge::MAX, r.getMaxX() - m.right, Edge::MAX, r.getMinY() - m.top); break;
            default: break;
            }
            it = siblingAligned.erase(it);
        }
    }
}

// ----- drawing

Rect Layout::getWorldRect(const Mat4& nodeToWorld) const
{
    const Vec3 corners[4] = {Vec3(0.0f, 0.0f, 0.0f), Vec3(_contentSize.width, 0.0f, 0.0f),
                             Vec3(0.0f, _contentSize.height, 0.0f),
                             Vec3(_contentSize.width, _contentSize.height, 0.0f)};
    float minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    for (Vec3 corner : corners) {
        nodeToWorld.transformPoint(&corner);
        minX = std::min(minX, corner.x);
        maxX = std::max(maxX, corner.x);
        minY = std::min(minY, corner.y);
        maxY = std::max(maxY, corner.y);
    }
    return Rect(minX, minY, maxX - minX, maxY - minY);
}

void Layout::visit(Renderer* renderer, const Mat4& parentTransform, uint32_t parentFlags)
{
    if (!_visible)
        return;
    doLayout();
    if (!_clippingEnabled) {
        Widget::visit(renderer, parentTransform, parentFlags);
        return;
    }
    const Mat4 nodeToWorld = parentTransform * getNodeToParentTransform();
    beginClipping(renderer, getWorldRect(nodeToWorld), _globalZOrder);
    Widget::visit(renderer, parentTransform, parentFlags);
    endClipping(renderer);
}

// ----- cloning

Widget* Layout::createCloneInstance() { return Layout::create(); }

void Layout::copySpecialProperties(Widget* model)
{
    auto* layout = dynamic_cast<Layout*>(model);
    if (layout == nullptr)
        return;
    setLayoutType(layout->_layoutType);
    setClippingEnabled(layout->_clippingEnabled);
    setClippingType(layout->_clippingType);
    setBackGroundColor(layout->_backgroundColor);
    setBackGroundColorOpacity(layout->_backgroundOpacity);
    setBackGroundColorType(layout->_colorType);
}

} // namespace ui
} // namespace cocos2d
