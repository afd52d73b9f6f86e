// Layout parameters: how a layout places one child widget.
//
// LinearLayoutParameter (vertical and horizontal layouts): a gravity across the stacking
// direction and a margin. RelativeLayoutParameter (relative, right-row and viewport layouts): an
// alignment against the parent (1-9) or against a named sibling (10-21), and a margin.
#pragma once

#include <string>

#include "base/CCRef.h"
#include "ui/UIMargin.h"

namespace cocos2d {
namespace ui {

class LayoutParameter : public Ref {
public:
    enum class Type { NONE = 0, LINEAR, RELATIVE };

    static LayoutParameter* create();
    LayoutParameter() = default;

    void setMargin(const Margin& margin) { _margin = margin; }
    const Margin& getMargin() const { return _margin; }
    Type getLayoutType() const { return _layoutParameterType; }

    // A new parameter of the same kind and values (autoreleased).
    virtual LayoutParameter* clone();

protected:
    virtual LayoutParameter* createCloneInstance();
    virtual void copyProperties(LayoutParameter* model);

    Margin _margin;
    Type _layoutParameterType = Type::NONE;
};

class LinearLayoutParameter : public LayoutParameter {
public:
    enum class LinearGravity { NONE, LEFT, TOP, RIGHT, BOTTOM, CENTER_VERTICAL, CENTER_HORIZONTAL };

    static LinearLayoutParameter* create();
    LinearLayoutParameter() { _layoutParameterType = Type::LINEAR; }

    void setGravity(LinearGravity gravity) { _linearGravity = gravity; }
    LinearGravity getGravity() const { return _linearGravity; }

protected:
    LayoutParameter* createCloneInstance() override;
    void copyProperties(LayoutParameter* model) override;

    LinearGravity _linearGravity = LinearGravity::NONE;
};

class RelativeLayoutParameter : public LayoutParameter {
public:
    enum class RelativeAlign {
        NONE = 0,
        PARENT_TOP_LEFT = 1,
        PARENT_TOP_CENTER_HORIZONTAL = 2,
        PARENT_TOP_RIGHT = 3,
        PARENT_LEFT_CENTER_VERTICAL = 4,
        CENTER_IN_PARENT = 5,
        PARENT_RIGHT_CENTER_VERTICAL = 6,
        PARENT_LEFT_BOTTOM = 7,
        PARENT_BOTTOM_CENTER_HORIZONTAL = 8,
        PARENT_RIGHT_BOTTOM = 9,
        LOCATION_ABOVE_LEFTALIGN = 10,
        LOCATION_ABOVE_CENTER = 11,
        LOCATION_ABOVE_RIGHTALIGN = 12,
        LOCATION_LEFT_OF_TOPALIGN = 13,
        LOCATION_LEFT_OF_CENTER = 14,
        LOCATION_LEFT_OF_BOTTOMALIGN = 15,
        LOCATION_RIGHT_OF_TOPALIGN = 16,
        LOCATION_RIGHT_OF_CENTER = 17,
        LOCATION_RIGHT_OF_BOTTOMALIGN = 18,
        LOCATION_BELOW_LEFTALIGN = 19,
        LOCATION_BELOW_CENTER = 20,
        LOCATION_BELOW_RIGHTALIGN = 21,
    };

    static RelativeLayoutParameter* create();
    RelativeLayoutParameter() { _layoutParameterType = Type::RELATIVE; }

    void setAlign(RelativeAlign align) { _relativeAlign = align; }
    RelativeAlign getAlign() const { return _relativeAlign; }
    // The sibling this child is placed against (alignments 10-21), by that sibling's relative
    // name.
    void setRelativeToWidgetName(const std::string& name) { _relativeWidgetName = name; }
    const std::string& getRelativeToWidgetName() const { return _relativeWidgetName; }
    // This child's own name among its siblings' relative parameters.
    void setRelativeName(const std::string& name) { _relativeLayoutName = name; }
    const std::string& getRelativeName() const { return _relativeLayoutName; }

protected:
    LayoutParameter* createCloneInstance() override;
    void copyProperties(LayoutParameter* model) override;

    RelativeAlign _relativeAlign = RelativeAlign::NONE;
    std::string _relativeWidgetName;
    std::string _relativeLayoutName;
};

// Implemented by nodes that a layout places.
class LayoutParameterProtocol {
public:
    virtual ~LayoutParameterProtocol() = default;
    virtual LayoutParameter* getLayoutParameter() const = 0;
};

} // namespace ui
} // namespace cocos2d
