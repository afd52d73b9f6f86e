// The scene graph: lifecycle, lookup, ordering, transforms, colour cascading and camera flags.
#include <gtest/gtest.h>

#include <cmath>

#include "cocos2d.h"
#include "support/SceneGraphTest.h"

USING_NS_CC;
using qvtest::Journal;

namespace {

class NodeTest : public qvtest::SceneGraphTest {};

void expectNear(const Vec2& actual, const Vec2& expected)
{
    EXPECT_NEAR(actual.x, expected.x, 1e-3f) << "x";
    EXPECT_NEAR(actual.y, expected.y, 1e-3f) << "y";
}

// A protected node whose visit order the tests can see.
using JProtected = qvtest::Journaled<ProtectedNode>;

void expectNear(const Mat4& actual, const Mat4& expected)
{
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(actual.m[i], expected.m[i], 1e-4f) << "m[" << i << "]";
    }
}

} // namespace

TEST_F(NodeTest, TreeAddedToARunningSceneEntersAtOnceChildrenFirst)
{
    auto* a = node("A");
    auto* b = node("B");
    auto* c = node("C");
    auto* d = node("D");
    a->addChild(b);
    a->addChild(c);
    c->addChild(d);
    EXPECT_TRUE(journal->empty()) << "nothing runs off stage";

    scene->addChild(a);
    EXPECT_EQ(take(), (Journal{"B:enter", "D:enter", "C:enter", "A:enter", "B:entered", "D:entered", "C:entered",
                               "A:entered"}));
    EXPECT_TRUE(a->isRunning() && d->isRunning());

    // A child of a running parent enters at once, before addChild returns.
    auto* e = node("E");
    d->addChild(e);
    EXPECT_EQ(take(), (Journal{"E:enter", "E:entered"}));

    // Removal without cleanup: exit only; the node keeps its timers for a later return.
    int ticks = 0;
    c->schedule([&ticks](float) { ++ticks; }, "tick");
    c->retain(); // off stage nobody else holds it
    a->removeChild(c, false);
    EXPECT_EQ(take(), (Journal{"C:exitStart", "D:exitStart", "E:exitStart", "C:exit", "D:exit", "E:exit"}));
    director->stepFrame(0.1f);
    EXPECT_EQ(ticks, 0) << "timers of a node off stage are paused";
    a->addChild(c);
    take();
    director->stepFrame(0.1f);
    EXPECT_EQ(ticks, 1);

    // Removal with cleanup: exit, then cleanup down the tree; the timers are gone.
    take();
    a->removeChild(c);
    EXPECT_EQ(take(), (Journal{"C:exitStart", "D:exitStart", "E:exitStart", "C:exit", "D:exit", "E:exit", "C:cleanup",
                               "D:cleanup", "E:cleanup"}));
    a->addChild(c);
    director->stepFrame(0.1f);
    EXPECT_EQ(ticks, 1);
    c->release();
}

TEST_F(NodeTest, TreeBuiltUnderANotRunningSceneEntersWithTheScene)
{
    auto* other = Scene::create();
    other->retain(); // across frames before the director holds it
    auto* a = node("A");
    auto* b = node("B");
    other->addChild(a);
    a->addChild(b);
    int actionSteps = 0;
    b->runAction(Sequence::create(DelayTime::create(0.1f), CallFunc::create([&actionSteps] { ++actionSteps; }),
                                  nullptr));
    director->stepFrame(0.5f);
    EXPECT_TRUE(journal->empty());
    EXPECT_EQ(actionSteps, 0) << "actions of nodes off stage wait";

    director->pushScene(other);
    other->release();
    director->stepFrame(0.0f);
    EXPECT_EQ(take(), (Journal{"B:enter", "A:enter", "B:entered", "A:entered"}));
    director->stepFrame(0.1f);
    EXPECT_EQ(actionSteps, 1);

    director->popScene();
    director->stepFrame(0.0f);
    EXPECT_EQ(take(), (Journal{"A:exitStart", "B:exitStart", "A:exit", "B:exit", "A:cleanup", "B:cleanup", "A:deleted",
                               "B:deleted"}));
}

TEST_F(NodeTest, ChildAddedByASiblingWhileEnteringAlsoEnters)
{
    struct Adder : Node {
        Node* sibling = nullptr;
        void onEnter() override
        {
            Node::onEnter();
            if (sibling && getParent()) {
                getParent()->addChild(sibling);
                sibling = nullptr;
            }
        }
    };
    auto* parent = node("P");
    auto* adder = new Adder();
    adder->autorelease();
    adder->sibling = node("S");
    parent->addChild(adder);
    scene->addChild(parent);
    EXPECT_EQ(only(":enter"), (Journal{"S:enter", "P:enter"}));
    EXPECT_TRUE(parent->getChildByName("S")->isRunning());
}

TEST_F(NodeTest, DeepLookupIsPreOrderWithProtectedChildrenLast)
{
    auto* root = ProtectedNode::create();
    auto* first = Node::create();
    first->setName("first");
    auto* inner = Node::create();
    inner->setName("messageBox.text"); // a name, not a path
    inner->setTag(7);
    first->addChild(inner);
    root->addChild(first);

    auto* prot = Node::create();
    prot->setName("dup");
    prot->setTag(7);
    root->addProtectedChild(prot, -5);
    auto* late = Node::create();
    late->setName("dup");
    first->addChild(late);

    EXPECT_EQ(root->getChildByNameDeep("messageBox.text"), inner);
    EXPECT_EQ(root->getChildByNameDeep("dup"), late) << "normal children (at any depth) before protected ones";
    EXPECT_EQ(root->getChildByTagDeep(7), inner);
    EXPECT_EQ(root->getChildByNameDeep("text"), nullptr);
    EXPECT_EQ(root->getChildByName("messageBox.text"), nullptr) << "getChildByName looks at direct children";
    EXPECT_EQ(first->getChildByNameDeep("first"), nullptr) << "the node itself is excluded";
    EXPECT_EQ(root->getChildren().size(), 1) << "protected children are not children";
    EXPECT_EQ(root->getProtectedChildByTag(7), prot);
}

TEST_F(NodeTest, ChildrenDrawByLocalZThenArrivalAroundTheParent)
{
    auto* parent = node("P");
    parent->addChild(node("a"), 1);
    parent->addChild(node("b"), -1);
    parent->addChild(node("c"), 0);
    parent->addChild(node("d"), 1);
    parent->addChild(node("e"), -1);
    scene->addChild(parent);
    take();
    director->stepFrame(0.0f);
    EXPECT_EQ(only(":draw"), (Journal{"b:draw", "e:draw", "P:draw", "c:draw", "a:draw", "d:draw"}));

    // A changed z re-sorts at once; the node goes last among equals.
    take();
    parent->getChildByName("a")->setLocalZOrder(-1);
    parent->getChildByName("d")->setLocalZOrder(0);
    EXPECT_EQ(parent->getChildren().at(2)->getName(), "a");
    director->stepFrame(0.0f);
    EXPECT_EQ(only(":draw"), (Journal{"b:draw", "e:draw", "a:draw", "P:draw", "c:draw", "d:draw"}));

    // Invisible nodes are not visited, nor are their children.
    take();
    parent->getChildByName("b")->setVisible(false);
    parent->getChildByName("c")->addChild(node("cc"));
    parent->getChildByName("c")->setVisible(false);
    director->stepFrame(0.0f);
    EXPECT_EQ(only(":draw"), (Journal{"e:draw", "a:draw", "P:draw", "d:draw"}));
}

TEST_F(NodeTest, ProtectedChildrenInterleaveByLocalZ)
{
    auto* host = JProtected::make("H", journal);
    host->addChild(node("n1"), 1);
    host->addProtectedChild(node("p0"), 0);
    host->addProtectedChild(node("pm"), -2);
    host->addChild(node("n2"), 1);
    host->addProtectedChild(node("p1"), 1);
    scene->addChild(host);
    EXPECT_EQ(only(":enter"), (Journal{"pm:enter", "p0:enter", "n1:enter", "n2:enter", "p1:enter", "H:enter"}));
    take();
    director->stepFrame(0.0f);
    EXPECT_EQ(only(":draw"), (Journal{"pm:draw", "H:draw", "p0:draw", "n1:draw", "n2:draw", "p1:draw"}));

    take();
    host->getProtectedChildren().at(0)->setLocalZOrder(5);
    director->stepFrame(0.0f);
    EXPECT_EQ(only(":draw"), (Journal{"H:draw", "p0:draw", "n1:draw", "n2:draw", "p1:draw", "pm:draw"}));

    take();
    host->removeFromParent();
    EXPECT_EQ(only(":cleanup").size(), 6u) << "cleanup reaches protected children";
}

TEST_F(NodeTest, TransformsUnderNestedScaleAndRotation)
{
    auto* outer = Node::create();
    outer->setContentSize(Size(100, 50));
    outer->setAnchorPoint(Vec2(0.5f, 0.5f));
    outer->setPosition(200, 100);
    outer->setScale(2.0f);
    outer->setRotation(90); // clockwise
    auto* inner = Node::create();
    inner->setContentSize(Size(10, 20));
    inner->setAnchorPoint(Vec2::ANCHOR_BOTTOM_LEFT);
    inner->setPosition(60, 25); // 10 right of the outer anchor
    inner->setScale(0.5f, 3.0f);
    outer->addChild(inner);
    scene->addChild(outer);

    // outer: node (x, y) -> (200, 100) + R90cw(2 * ((x, y) - (50, 25))), R90cw(u, v) = (v, -u).
    expectNear(outer->convertToWorldSpace(Vec2(50, 25)), Vec2(200, 100));
    expectNear(outer->convertToWorldSpace(Vec2(60, 25)), Vec2(200, 80));
    // inner origin sits at outer (60, 25); its (10, 20) corner at outer (65, 85).
    expectNear(inner->convertToWorldSpace(Vec2(0, 0)), Vec2(200, 80));
    expectNear(inner->convertToWorldSpace(Vec2(10, 20)), Vec2(200 + 2 * 60, 100 - 2 * 15));
    // The inverse goes back, for points inside and outside the content.
    for (const Vec2& p : {Vec2(0, 0), Vec2(3, 7), Vec2(-40, 90)}) {
        expectNear(inner->convertToNodeSpace(inner->convertToWorldSpace(p)), p);
    }
    expectNear(inner->convertToNodeSpaceAR(Vec2(200, 80)), Vec2(0, 0));

    // Hit test of a world point against the inner content rectangle.
    const Rect content(Vec2::ZERO, inner->getContentSize());
    EXPECT_TRUE(content.containsPoint(inner->convertToNodeSpace(Vec2(250, 78))));
    EXPECT_FALSE(content.containsPoint(inner->convertToNodeSpace(Vec2(250, 90))));

    // The bounding box is axis aligned in parent space: the rotated outer box is 100 x 200.
    const Rect box = outer->getBoundingBox();
    EXPECT_NEAR(box.origin.x, 150, 1e-3);
    EXPECT_NEAR(box.origin.y, 0, 1e-3);
    EXPECT_NEAR(box.size.width, 100, 1e-3);
    EXPECT_NEAR(box.size.height, 200, 1e-3);

    // The node-to-world translation is the world position of the node's origin.
    const Mat4 world = inner->getNodeToWorldTransform();
    EXPECT_NEAR(world.m[12], 200, 1e-3);
    EXPECT_NEAR(world.m[13], 80, 1e-3);

    // A visit hands the same model matrix to draw.
    director->stepFrame(0.0f);
    expectNear(inner->getModelViewTransform(), world);
}

TEST_F(NodeTest, IgnoredAnchorPlacesTheCornerButScalesAboutTheAnchor)
{
    auto* layer = Layer::create();
    EXPECT_EQ(layer->getContentSize(), Size(960, 640));
    EXPECT_EQ(layer->getAnchorPoint(), Vec2::ANCHOR_MIDDLE);
    layer->setPosition(10, 20);
    expectNear(layer->convertToWorldSpace(Vec2::ZERO), Vec2(10, 20));
    layer->setScale(0.5f);
    // The centre stays put; the corner moves toward it.
    expectNear(layer->convertToWorldSpace(Vec2(480, 320)), Vec2(490, 340));
    expectNear(layer->convertToWorldSpace(Vec2::ZERO), Vec2(250, 180));

    // An overriding node-to-parent transform is honoured by conversions and visits.
    struct Fixed : Node {
        Mat4 fixed;
        const Mat4& getNodeToParentTransform() const override { return fixed; }
    };
    auto* f = new Fixed();
    f->autorelease();
    Mat4::createTranslation(7, 8, 0, &f->fixed);
    f->setPosition(1000, 1000); // ignored by the override
    scene->addChild(f);
    expectNear(f->convertToWorldSpace(Vec2(1, 1)), Vec2(8, 9));
    director->stepFrame(0.0f);
    expectNear(f->getModelViewTransform(), f->fixed);
}

TEST_F(NodeTest, OpacityAndColourCascadeOnlyWhenEnabled)
{
    auto* parent = Node::create();
    auto* child = Node::create();
    auto* grandchild = Node::create();
    parent->addChild(child);
    child->addChild(grandchild);
    child->setOpacity(200);
    parent->setOpacity(128);
    EXPECT_EQ(child->getDisplayedOpacity(), 200) << "no cascading by default";

    parent->setCascadeOpacityEnabled(true);
    EXPECT_EQ(child->getDisplayedOpacity(), 200 * 128 / 255);
    EXPECT_EQ(grandchild->getDisplayedOpacity(), 255) << "the child itself does not cascade";
    child->setCascadeOpacityEnabled(true);
    EXPECT_EQ(grandchild->getDisplayedOpacity(), 200 * 128 / 255);
    parent->setOpacity(0);
    EXPECT_EQ(grandchild->getDisplayedOpacity(), 0);
    EXPECT_EQ(child->getOpacity(), 200) << "the own value is kept";

    // A child leaving a faded parent shows its own opacity again in its next parent.
    child->retain();
    child->removeFromParent();
    auto* other = Node::create();
    other->addChild(child);
    EXPECT_EQ(child->getDisplayedOpacity(), 200);
    child->release();

    other->setCascadeColorEnabled(true);
    other->setColor(Color3B(255, 128, 0));
    child->setColor(Color3B(128, 255, 255));
    EXPECT_EQ(child->getDisplayedColor(), Color3B(128, 128, 0));
    other->setCascadeColorEnabled(false);
    EXPECT_EQ(child->getDisplayedColor(), Color3B(128, 255, 255));
}

TEST_F(NodeTest, CameraFlagsAreSetsOfIdentities)
{
    auto* window = Node::create();
    auto* sceneNode = Node::create();
    auto* overlay = Node::create();
    auto* plain = Node::create();
    window->addChild(sceneNode);
    window->addChild(overlay);
    window->addChild(plain);
    EXPECT_EQ(plain->getCameraMask(), 1);
    EXPECT_TRUE(plain->hasCameraFlag(1));

    sceneNode->setCameraMask(3);
    overlay->addChild(Node::create());
    overlay->setCameraMask(2, false);
    EXPECT_EQ(overlay->getChildren().at(0)->getCameraMask(), 1) << "applyChildren false leaves children";
    EXPECT_FALSE(sceneNode->hasCameraFlag(1)) << "flag 3 is not the bits 1 | 2";
    EXPECT_FALSE(sceneNode->hasCameraFlag(2));

    // The removal nodes drawn only by window cameras make in init.
    window->removeCameraMask(1, true);
    EXPECT_TRUE(plain->getCameraFlags().empty());
    EXPECT_EQ(plain->getCameraMask(), 0);
    EXPECT_EQ(sceneNode->getCameraFlags(), std::vector<unsigned short>{3});
    EXPECT_TRUE(overlay->getChildren().at(0)->getCameraFlags().empty());

    window->setCameraMask(5, true);
    EXPECT_EQ(overlay->getChildren().at(0)->getCameraMask(), 5);

    // Protected children follow the tree-wide setters too.
    auto* host = ProtectedNode::create();
    auto* renderer = Node::create();
    host->addProtectedChild(renderer);
    host->setCameraMask(4);
    EXPECT_EQ(renderer->getCameraMask(), 4);
    host->updateChildrenToHighZOrder();
    EXPECT_EQ(renderer->getGlobalZOrder(), Node::HIGH_GLOBAL_Z_ORDER);
    EXPECT_EQ(host->getGlobalZOrder(), 0.0f) << "only the descendants are raised";
}

TEST_F(NodeTest, UserObjectIsRetainedAndReleased)
{
    auto* n = Node::create();
    auto* a = __String::create("a");
    auto* b = __String::create("b");
    const unsigned int base = a->getReferenceCount();
    n->setUserObject(a);
    EXPECT_EQ(a->getReferenceCount(), base + 1);
    n->setUserObject(a);
    EXPECT_EQ(a->getReferenceCount(), base + 1);
    n->setUserObject(b);
    EXPECT_EQ(a->getReferenceCount(), base);
    n->setUserString("badge:3");
    EXPECT_EQ(n->getUserString(), "badge:3");
    EXPECT_EQ(n->getTag(), Node::INVALID_TAG);

    // A node never frees a child twice: a refused second parent keeps the first.
    auto* p1 = Node::create();
    auto* p2 = Node::create();
    auto* c = Node::create();
    qvtest::LogCapture log;
    p1->addChild(c);
    p2->addChild(c);
    EXPECT_EQ(c->getParent(), p1);
    EXPECT_EQ(p2->getChildrenCount(), 0);
    EXPECT_EQ(log.count("Node::addChild: child already added to another node"), 1u);
    p1->addChild(nullptr);
    EXPECT_EQ(p1->getChildrenCount(), 1);
}
