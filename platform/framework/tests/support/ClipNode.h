// A node that clips its children to a world rectangle, as a clipping layout does (for the
// rendering tests).
#pragma once

#include "cocos2d.h"

namespace qvtest {

class ClipNode : public cocos2d::Node, public cocos2d::ClippingProtocol {
public:
    static ClipNode* create(const cocos2d::Rect& worldRect)
    {
        auto* n = new ClipNode();
        n->init();
        n->_rect = worldRect;
        n->autorelease();
        return n;
    }
    void visit(cocos2d::Renderer* renderer, const cocos2d::Mat4& parentTransform, uint32_t parentFlags) override
    {
        beginClipping(renderer, _rect, getGlobalZOrder());
        Node::visit(renderer, parentTransform, parentFlags);
        endClipping(renderer);
    }

private:
    cocos2d::Rect _rect;
};

} // namespace qvtest
