#include "WidgetUtil.h"

namespace NSUI
{

bool isVisibleInTree(const cocos2d::Node* node)
{
    for (const cocos2d::Node* n = node; n != nullptr; n = n->getParent())
    {
        if (!n->isVisible())
            return false;
    }
    return node != nullptr;
}

bool isVisitedByCurrentCamera(const cocos2d::Node* node)
{
    const cocos2d::Camera* camera = cocos2d::Camera::getVisitingCamera();
    return camera == nullptr || node->hasCameraFlag(camera->getCameraFlag());
}

bool strictlyInside(const cocos2d::Node* node, const cocos2d::Vec2& worldPoint, cocos2d::Vec2* local)
{
    const cocos2d::Vec2 p = node->convertToNodeSpace(worldPoint);
    const cocos2d::Size& size = node->getContentSize();
    if (local != nullptr)
        *local = p;
    return p.x > 0.0f && p.x < size.width && p.y > 0.0f && p.y < size.height;
}

cocos2d::Vec2 shiftIntoWindow(const cocos2d::Node* node, float margin)
{
    const cocos2d::Node* parent = node ? node->getParent() : nullptr;
    if (!parent)
        return cocos2d::Vec2::ZERO;
    const cocos2d::Rect local = node->getBoundingBox();
    const cocos2d::Vec2 low = parent->convertToWorldSpace(local.origin);
    const cocos2d::Vec2 high = parent->convertToWorldSpace(local.origin + cocos2d::Vec2(local.size.width, local.size.height));
    const cocos2d::Rect box(low.x, low.y, high.x - low.x, high.y - low.y);
    const cocos2d::Vec2 origin = cocos2d::Director::getInstance()->getVisibleOrigin();
    const cocos2d::Size size = cocos2d::Director::getInstance()->getVisibleSize();
    cocos2d::Vec2 shift;
    if (box.getMaxX() > origin.x + size.width - margin)
        shift.x = origin.x + size.width - margin - box.getMaxX();
    if (box.getMinX() + shift.x < origin.x + margin)
        shift.x = origin.x + margin - box.getMinX();
    if (box.getMaxY() > origin.y + size.height - margin)
        shift.y = origin.y + size.height - margin - box.getMaxY();
    if (box.getMinY() + shift.y < origin.y + margin)
        shift.y = origin.y + margin - box.getMinY();
    if (shift.isZero())
        return cocos2d::Vec2::ZERO;
    return parent->convertToNodeSpace(box.origin + shift) - parent->convertToNodeSpace(box.origin);
}

void listenForWindowResize(cocos2d::Node* node, const std::function<void()>& relayout)
{
    if (node == nullptr || !relayout)
        return;
    auto* listener = cocos2d::EventListenerCustom::create(cocos2d::GLView::EVENT_WINDOW_RESIZED,
                                                           [relayout](cocos2d::EventCustom*) { relayout(); });
    node->getEventDispatcher()->addEventListenerWithSceneGraphPriority(listener, node);
}

} // namespace NSUI
