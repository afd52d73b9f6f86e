#include "node/CCProtectedNode.h"

#include <new>

namespace cocos2d {

ProtectedNode::~ProtectedNode()
{
    for (Node* child : _protectedChildren) {
        child->setParent(nullptr);
    }
    _protectedChildren.clear();
}

void ProtectedNode::addProtectedChild(Node* child)
{
    if (child) {
        addProtectedChild(child, child->getLocalZOrder(), child->getTag());
    }
}

void ProtectedNode::addProtectedChild(Node* child, int localZOrder)
{
    if (child) {
        addProtectedChild(child, localZOrder, child->getTag());
    }
}

void ProtectedNode::addProtectedChild(Node* child, int localZOrder, int tag)
{
    if (!child || refuseAdoptedChild(child)) {
        return;
    }
    child->setTag(tag);
    insertChild(_protectedChildren, child, localZOrder);
}

Node* ProtectedNode::getProtectedChildByTag(int tag) const
{
    for (Node* child : _protectedChildren) {
        if (child->getTag() == tag) {
            return child;
        }
    }
    return nullptr;
}

void ProtectedNode::removeProtectedChild(Node* child, bool cleanup)
{
    if (!child) {
        return;
    }
    if (_protectedChildren.contains(child)) {
        detachChild(_protectedChildren, child, cleanup);
    }
}

void ProtectedNode::removeProtectedChildByTag(int tag, bool cleanup)
{
    removeProtectedChild(getProtectedChildByTag(tag), cleanup);
}

void ProtectedNode::removeAllProtectedChildren()
{
    removeAllProtectedChildrenWithCleanup(true);
}

void ProtectedNode::removeAllProtectedChildrenWithCleanup(bool cleanup)
{
    while (!_protectedChildren.empty()) {
        removeProtectedChild(_protectedChildren.back(), cleanup);
    }
}

void ProtectedNode::reorderAfterZChange(Node* child)
{
    if (_protectedChildren.contains(child)) {
        sortNodes(_protectedChildren);
    } else {
        Node::reorderAfterZChange(child);
    }
}

void ProtectedNode::getVisitChildren(std::vector<Node*>& out) const
{
    // Merge of two lists that are each sorted by (local z, order of arrival).
    const auto& a = _children.data();
    const auto& b = _protectedChildren.data();
    size_t i = 0, j = 0;
    out.reserve(out.size() + a.size() + b.size());
    while (i < a.size() || j < b.size()) {
        bool takeA = j >= b.size();
        if (i < a.size() && j < b.size()) {
            const Node* x = a[i];
            const Node* y = b[j];
            takeA = x->getLocalZOrder() != y->getLocalZOrder() ? x->getLocalZOrder() < y->getLocalZOrder()
                                                               : x->getOrderOfArrival() < y->getOrderOfArrival();
        }
        out.push_back(takeA ? a[i++] : b[j++]);
    }
}

void ProtectedNode::visit(Renderer* renderer, const Mat4& parentTransform, uint32_t parentFlags)
{
    if (!_visible) {
        return;
    }
    const uint32_t flags = processParentFlags(parentTransform, parentFlags);
    const Mat4 model = _modelViewTransform;
    // A retained merge of both lists: a child's visit may take a sibling out of the tree.
    std::vector<Node*> merged;
    getVisitChildren(merged);
    Vector<Node*> children(static_cast<ssize_t>(merged.size()));
    for (Node* child : merged) {
        children.pushBack(child);
    }
    const ssize_t count = children.size();
    ssize_t i = 0;
    for (; i < count && children.at(i)->getLocalZOrder() < 0; ++i) {
        children.at(i)->visit(renderer, model, flags);
    }
    if (isVisitableByVisitingCamera()) {
        draw(renderer, model, flags);
    }
    for (; i < count; ++i) {
        children.at(i)->visit(renderer, model, flags);
    }
}

} // namespace cocos2d
