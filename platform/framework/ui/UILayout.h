// ui::Layout: a widget that places its child widgets, may draw a solid background colour and
// may clip its descendants to its rectangle.
//
// Layout types (the pass runs before the next draw after a change of the layout's size, of its
// children or of a child widget's size or parameter, and at once with forceDoLayout; percent
// sizes and positions of the child widgets are applied first):
//   ABSOLUTE (0)   positions are kept;
//   VERTICAL (1)   widget children stacked from the top down in children order, with their
//                  margins; x follows the linear gravity (left by default);
//   HORIZONTAL (2) the same from left to right; y follows the gravity (top by default);
//   RELATIVE (3)   children with a relative alignment 1-9 are placed against the layout (10-21
//                  against a named sibling), with their margins; the other widget children are
//                  placed left to right from x = 0 in children order, top-aligned;
//   RIGHT_ROW (4)  widget children placed right to left from the right edge in children order
//                  (the first child rightmost), top-aligned, each by its anchor;
//   VIEWPORT (5)   children with an alignment 1-9 are placed as in RELATIVE; every other child
//                  (scene nodes, cameras, widgets without a parameter) is left untouched.
// Sizes used for placing are the children's content sizes times their scale.
//
// Clipping (both clipping types) is scissor clipping to the layout's axis-aligned world
// rectangle; nested clipping layouts intersect, and clipping also limits hit tests of the
// widgets inside. The background colour is a quad behind the children.
#pragma once

#include "platform/CCPlatformMacros.h"

#include "renderer/CCClippingProtocol.h"
#include "ui/UIWidget.h"

namespace cocos2d {

class LayerColor;

namespace ui {

class Layout : public Widget, public ClippingProtocol {
public:
    enum class Type { ABSOLUTE = 0, VERTICAL = 1, HORIZONTAL = 2, RELATIVE = 3, RIGHT_ROW = 4, VIEWPORT = 5 };
    enum class ClippingType { STENCIL, SCISSOR };
    enum class BackGroundColorType { NONE, SOLID, GRADIENT };

    CREATE_FUNC(Layout);
    bool init() override;

    virtual void setLayoutType(Type type);
    virtual Type getLayoutType() const { return _layoutType; }

    virtual void setClippingEnabled(bool enabled) { _clippingEnabled = enabled; }
    bool isClippingEnabled() const { return _clippingEnabled; }
    void setClippingType(ClippingType type) { _clippingType = type; }
    ClippingType getClippingType() const { return _clippingType; }

    // GRADIENT is drawn as SOLID with the start colour.
    void setBackGroundColorType(BackGroundColorType type);
    BackGroundColorType getBackGroundColorType() const { return _colorType; }
    void setBackGroundColor(const Color3B& color);
    const Color3B& getBackGroundColor() const { return _backgroundColor; }
    void setBackGroundColorOpacity(GLubyte opacity);
    GLubyte getBackGroundColorOpacity() const { return _backgroundOpacity; }
    // [add] true: SOLID in `color` at opacity round(opacity x 255) (opacity 0-1); false: NONE.
    void enableBKColor(bool enable, const Color3B& color, float opacity);

    // Marks the layout for a pass before the next draw.
    void requestDoLayout() { _doLayoutDirty = true; }
    // Runs the pass now.
    void forceDoLayout();
    // Runs the pass when one is pending.
    virtual void doLayout();

    void addChild(Node* child) override;
    void addChild(Node* child, int localZOrder) override;
    void addChild(Node* child, int localZOrder, int tag) override;
    void addChild(Node* child, int localZOrder, const std::string& name) override;
    void removeChild(Node* child, bool cleanup = true) override;
    void removeAllChildrenWithCleanup(bool cleanup) override;

    void visit(Renderer* renderer, const Mat4& parentTransform, uint32_t parentFlags) override;
    void onSizeChanged() override;
    std::string getDescription() const override { return "Layout"; }

    // The layout's rectangle in world units (axis-aligned bounds of its transformed content).
    Rect getWorldRect(const Mat4& nodeToWorld) const;

protected:
    Layout() = default;
    ~Layout() override = default;

    Widget* createCloneInstance() override;
    void copySpecialProperties(Widget* model) override;

    void layoutLinearVertical();
    void layoutLinearHorizontal();
    // alignedOnly: place only the children with an alignment (VIEWPORT).
    void layoutRelative(bool alignedOnly);
    void layoutRightRow();

    Type _layoutType = Type::ABSOLUTE;
    bool _clippingEnabled = false;
    ClippingType _clippingType = ClippingType::STENCIL;
    bool _doLayoutDirty = true;

    BackGroundColorType _colorType = BackGroundColorType::NONE;
    Color3B _backgroundColor = Color3B(150, 200, 255);
    GLubyte _backgroundOpacity = 255;
    LayerColor* _colorRender = nullptr; // a protected child while the type is not NONE
};

} // namespace ui
} // namespace cocos2d
