// ProtectedNode: a node with a second list of children that belong to the node itself (a
// widget's renderers, a scroll view's inner container) and that getChildren does not show.
//
// Protected children are entered, exited, cleaned up, visited and drawn like children, ordered
// by their own local z-order (then order of arrival) among all children. Deep lookups search
// them after the normal children.
#pragma once

#include "node/CCNode.h"

namespace cocos2d {

class ProtectedNode : public Node {
public:
    CREATE_FUNC(ProtectedNode)

    // A null child is ignored; a child that already has a parent is refused (logged).
    virtual void addProtectedChild(Node* child);
    virtual void addProtectedChild(Node* child, int localZOrder);
    virtual void addProtectedChild(Node* child, int localZOrder, int tag);
    virtual Node* getProtectedChildByTag(int tag) const;
    virtual void removeProtectedChild(Node* child, bool cleanup = true);
    virtual void removeProtectedChildByTag(int tag, bool cleanup = true);
    virtual void removeAllProtectedChildren();
    virtual void removeAllProtectedChildrenWithCleanup(bool cleanup);
    const Vector<Node*>& getProtectedChildren() const { return _protectedChildren; }

    void visit(Renderer* renderer, const Mat4& parentTransform, uint32_t parentFlags) override;
    void getVisitChildren(std::vector<Node*>& out) const override;

protected:
    ProtectedNode() = default;
    ~ProtectedNode() override;

    const Vector<Node*>* getProtectedChildrenForSearch() const override { return &_protectedChildren; }
    void reorderAfterZChange(Node* child) override;

    Vector<Node*> _protectedChildren;
};

} // namespace cocos2d
