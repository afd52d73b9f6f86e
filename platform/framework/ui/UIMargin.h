// ui::Margin: the four margins of a widget inside its layout, in design units.
#pragma once

namespace cocos2d {
namespace ui {

class Margin {
public:
    float left = 0.0f;
    float top = 0.0f;
    float right = 0.0f;
    float bottom = 0.0f;

    Margin() = default;
    Margin(float l, float t, float r, float b) : left(l), top(t), right(r), bottom(b) {}
    void setMargin(float l, float t, float r, float b)
    {
        left = l;
        top = t;
        right = r;
        bottom = b;
    }
    bool equals(const Margin& o) const { return left == o.left && top == o.top && right == o.right && bottom == o.bottom; }
    bool operator==(const Margin& o) const { return equals(o); }

    static const Margin ZERO;
};

inline const Margin Margin::ZERO(0.0f, 0.0f, 0.0f, 0.0f);

} // namespace ui
} // namespace cocos2d
