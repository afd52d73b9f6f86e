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

} // namespace NSUI
