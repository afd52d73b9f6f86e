// Event dispatch: listener order, claiming and swallowing, modal layers, changes during a
// dispatch, paused listeners, mouse, keyboard and custom events.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cocos2d.h"
#include "support/SceneGraphTest.h"

USING_NS_CC;

namespace {

using Calls = std::vector<std::string>;

class DispatchTest : public qvtest::SceneGraphTest {
protected:
    Node* box(const std::string& name, const Rect& rect, Node* parent = nullptr, int z = 0)
    {
        Node* n = Node::create();
        n->setName(name);
        n->setPosition(rect.origin);
        n->setContentSize(rect.size);
        (parent ? parent : scene)->addChild(n, z);
        return n;
    }
    bool inside(Node* n, Touch* t) const
    {
        return Rect(Vec2::ZERO, n->getContentSize()).containsPoint(n->convertTouchToNodeSpace(t));
    }
    // A one-by-one listener on the node that records every phase and claims touches inside it.
    EventListenerTouchOneByOne* claimer(Node* n, bool swallow, bool claimAnywhere = false)
    {
        auto* l = EventListenerTouchOneByOne::create();
        l->setSwallowTouches(swallow);
        const std::string name = n->getName();
        l->onTouchBegan = [this, n, name, claimAnywhere](Touch* t, Event*) {
            calls.push_back(name + ":began");
            return claimAnywhere || inside(n, t);
        };
        l->onTouchMoved = [this, name](Touch*, Event*) { calls.push_back(name + ":moved"); };
        l->onTouchEnded = [this, name](Touch*, Event*) { calls.push_back(name + ":ended"); };
        l->onTouchCancelled = [this, name](Touch*, Event*) { calls.push_back(name + ":cancelled"); };
        n->getEventDispatcher()->addEventListenerWithSceneGraphPriority(l, n);
        return l;
    }
    EventListenerTouchAllAtOnce* allAtOnce(const std::string& name, int priority)
    {
        auto* l = EventListenerTouchAllAtOnce::create();
        l->onTouchesBegan = [this, name](const std::vector<Touch*>& t, Event*) {
            calls.push_back(name + ":began" + std::to_string(t.size()));
        };
        l->onTouchesMoved = [this, name](const std::vector<Touch*>& t, Event*) {
            calls.push_back(name + ":moved" + std::to_string(t.size()));
        };
        l->onTouchesEnded = [this, name](const std::vector<Touch*>& t, Event*) {
            calls.push_back(name + ":ended" + std::to_string(t.size()));
        };
        dispatcher()->addEventListenerWithFixedPriority(l, priority);
        return l;
    }
    EventListenerTouchOneByOne* fixedClaimer(const std::string& name, int priority, bool claim)
    {
        auto* l = EventListenerTouchOneByOne::create();
        l->onTouchBegan = [this, name, claim](Touch*, Event*) {
            calls.push_back(name + ":began");
            return claim;
        };
        l->onTouchEnded = [this, name](Touch*, Event*) { calls.push_back(name + ":ended"); };
        dispatcher()->addEventListenerWithFixedPriority(l, priority);
        return l;
    }
    EventDispatcher* dispatcher() const { return director->getEventDispatcher(); }
    Calls take()
    {
        Calls c = calls;
        calls.clear();
        return c;
    }

    Calls calls;
};

} // namespace

TEST_F(DispatchTest, FixedNegativeThenTopMostSceneGraphThenFixedPositive)
{
    Node* high = box("high", Rect(0, 0, 100, 100));
    high->setGlobalZOrder(5);
    Node* back = box("back", Rect(0, 0, 100, 100));
    Node* backChild = box("backChild", Rect(0, 0, 50, 50), back, -1);
    Node* front = box("front", Rect(0, 0, 100, 100));
    for (Node* n : {back, backChild, front, high}) {
        claimer(n, false);
    }
    fixedClaimer("fixed10", 10, false);
    fixedClaimer("fixed-5", -5, false);
    fixedClaimer("fixed5", 5, false);

    InputSimulator::click(10, 10);
    EXPECT_EQ(take(), (Calls{"fixed-5:began", "high:began", "front:began", "back:began", "backChild:began",
                             "fixed5:began", "fixed10:began",
                             // the end goes to the claimers only, in the same order
                             "high:ended", "front:ended", "back:ended", "backChild:ended"}));

    // A z-order change re-sorts: back (with its child below it) is now drawn over front.
    back->setLocalZOrder(10);
    InputSimulator::mouseDown(0, 10, 10);
    EXPECT_EQ(take(), (Calls{"fixed-5:began", "high:began", "back:began", "backChild:began", "front:began",
                             "fixed5:began", "fixed10:began"}));
    InputSimulator::mouseUp(0, 10, 10);
}

TEST_F(DispatchTest, SwallowingClaimerHidesTheTouchFromLaterListeners)
{
    Node* under = box("under", Rect(0, 0, 200, 200));
    Node* over = box("over", Rect(50, 50, 50, 50));
    claimer(under, false);
    auto* overListener = claimer(over, true);
    allAtOnce("window", 100);

    // Inside the swallowing node: nobody after it sees the touch, moves or end.
    InputSimulator::mouseDown(0, 60, 60);
    InputSimulator::mouseMove(70, 70);
    InputSimulator::mouseUp(0, 70, 70);
    EXPECT_EQ(take(), (Calls{"over:began", "over:moved", "over:ended"}));

    // Outside it: not claimed there, so the touch travels on.
    InputSimulator::mouseDown(0, 10, 10);
    InputSimulator::mouseMove(20, 20);
    InputSimulator::mouseUp(0, 20, 20);
    EXPECT_EQ(take(), (Calls{"over:began", "under:began", "window:began1", "under:moved", "window:moved1",
                             "under:ended", "window:ended1"}));

    // A claimer that does not swallow shares the touch.
    overListener->setSwallowTouches(false);
    InputSimulator::click(60, 60);
    EXPECT_EQ(take(), (Calls{"over:began", "under:began", "window:began1", "over:ended", "under:ended",
                             "window:ended1"}));
}

TEST_F(DispatchTest, ModalLayerBlocksWhatLiesUnderItButNotItsOwnControls)
{
    // A render window: all-at-once at fixed priority 100, as the viewers register it.
    allAtOnce("window", 100);
    Node* table = box("table", Rect(0, 0, 960, 640));
    claimer(table, true);

    // The modal window: full-window, swallowing, claims everything inside; a button on it.
    struct Modal : LayerColor {
        Calls* calls = nullptr;
        bool onTouchBegan(Touch*, Event*) override
        {
            calls->push_back("modal:began");
            return true;
        }
        void onTouchEnded(Touch*, Event*) override { calls->push_back("modal:ended"); }
    };
    auto* modal = new Modal();
    modal->calls = &calls;
    modal->initWithColor(Color4B(0, 0, 0, 128));
    modal->autorelease();
    modal->setTouchMode(Touch::DispatchMode::ONE_BY_ONE);
    modal->setTouchEnabled(true);
    EXPECT_TRUE(modal->isSwallowsTouches());
    Node* button = box("button", Rect(400, 300, 100, 40), modal);
    claimer(button, true);
    scene->addChild(modal);
    modal->updateChildrenToHighZOrder();

    InputSimulator::click(450, 320);
    EXPECT_EQ(take(), (Calls{"button:began", "button:ended"}));
    InputSimulator::click(10, 10);
    EXPECT_EQ(take(), (Calls{"button:began", "modal:began", "modal:ended"}));

    // Closed, the window and the table see touches again.
    modal->removeFromParent();
    InputSimulator::click(10, 10);
    EXPECT_EQ(take(), (Calls{"table:began", "table:ended"}));
    table->removeFromParent();
    InputSimulator::click(10, 10);
    EXPECT_EQ(take(), (Calls{"window:began1", "window:ended1"}));
}

TEST_F(DispatchTest, StopPropagationEndsTheDispatch)
{
    Node* n = box("n", Rect(0, 0, 100, 100));
    claimer(n, false);
    auto* stopper = EventListenerTouchOneByOne::create();
    stopper->onTouchBegan = [this](Touch*, Event* e) {
        calls.push_back("stopper:began");
        e->stopPropagation();
        return false;
    };
    dispatcher()->addEventListenerWithFixedPriority(stopper, -1);
    allAtOnce("window", 100);
    InputSimulator::mouseDown(0, 10, 10);
    EXPECT_EQ(take(), (Calls{"stopper:began"}));
    InputSimulator::mouseUp(0, 10, 10);
    // The end is a new event: no one-by-one listener claimed the touch, and all-at-once
    // listeners take every touch that is not swallowed.
    EXPECT_EQ(take(), Calls{"window:ended1"});
}

TEST_F(DispatchTest, ListenersAddedOrRemovedDuringADispatch)
{
    Node* n = box("n", Rect(0, 0, 100, 100));
    claimer(n, false);
    auto* victim = fixedClaimer("victim", 5, false);
    const unsigned int registeredCount = victim->getReferenceCount();
    EventListenerTouchOneByOne* added = nullptr;
    auto* changer = EventListenerTouchOneByOne::create();
    changer->onTouchBegan = [this, victim, registeredCount, &added](Touch*, Event*) {
        calls.push_back("changer:began");
        if (!added) {
            dispatcher()->removeEventListener(victim);
            EXPECT_EQ(victim->getReferenceCount(), registeredCount) << "kept until the dispatch ends";
            added = fixedClaimer("added", -10, false);
        }
        return false;
    };
    dispatcher()->addEventListenerWithFixedPriority(changer, -1);

    InputSimulator::mouseDown(0, 10, 10);
    EXPECT_EQ(take(), (Calls{"changer:began", "n:began"})) << "removed: not called; added: from the next event";
    EXPECT_EQ(victim->getReferenceCount(), registeredCount - 1);
    EXPECT_FALSE(victim->isRegistered());
    InputSimulator::mouseUp(0, 10, 10);
    take();
    InputSimulator::mouseDown(0, 10, 10);
    EXPECT_EQ(take(), (Calls{"added:began", "changer:began", "n:began"}));
    InputSimulator::mouseUp(0, 10, 10);
    take();

    // A node removing itself from inside its own callback lives until the callback returns.
    auto journal = std::make_shared<qvtest::Journal>();
    auto* self = qvtest::JNode::make("self", journal);
    self->setContentSize(Size(960, 640));
    scene->addChild(self);
    director->stepFrame(0.0f); // only the scene holds it now
    auto* own = EventListenerTouchOneByOne::create();
    own->onTouchBegan = [self, journal](Touch*, Event*) {
        self->removeFromParent();
        EXPECT_EQ(journal->back(), "self:cleanup");
        EXPECT_EQ(self->getContentSize().width, 960) << "still alive";
        return true;
    };
    own->onTouchEnded = [this](Touch*, Event*) { calls.push_back("own:ended"); };
    dispatcher()->addEventListenerWithSceneGraphPriority(own, self);
    InputSimulator::mouseDown(0, 10, 10);
    EXPECT_EQ(journal->back(), "self:deleted");
    InputSimulator::mouseUp(0, 10, 10);
    EXPECT_EQ(take(), (Calls{"added:began", "changer:began", "n:began", "n:ended"}))
        << "the self-removed node's listener is gone";
}

TEST_F(DispatchTest, ListenersOfNodesOffStageOrPausedAreSkipped)
{
    Node* n = box("n", Rect(0, 0, 100, 100));
    claimer(n, false);
    n->retain();
    n->removeFromParent();
    InputSimulator::click(10, 10);
    EXPECT_TRUE(take().empty());
    scene->addChild(n);
    n->release();
    InputSimulator::click(10, 10);
    EXPECT_EQ(take(), (Calls{"n:began", "n:ended"}));

    n->pause();
    InputSimulator::click(10, 10);
    EXPECT_TRUE(take().empty());
    n->resume();

    // Invisible nodes still receive events; handlers check visibility themselves.
    n->setVisible(false);
    InputSimulator::click(10, 10);
    EXPECT_EQ(take(), (Calls{"n:began", "n:ended"}));

    // A listener that is disabled stays registered but is skipped.
    dispatcher()->getListenersForTarget(n).front()->setEnabled(false);
    InputSimulator::click(10, 10);
    EXPECT_TRUE(take().empty());

    // A claimer that leaves the stage mid-touch never sees the end of it, and a new touch later
    // is a new touch.
    dispatcher()->getListenersForTarget(n).front()->setEnabled(true);
    InputSimulator::mouseDown(0, 10, 10);
    n->retain();
    n->removeFromParent();
    InputSimulator::mouseUp(0, 10, 10);
    scene->addChild(n);
    n->release();
    InputSimulator::mouseMove(20, 20);
    EXPECT_EQ(take(), (Calls{"n:began"}));

    // Cleanup keeps listeners; freeing the node removes them.
    n->removeFromParent();
    EXPECT_TRUE(dispatcher()->hasEventListener(EventListenerTouchOneByOne::LISTENER_ID));
    director->stepFrame(0.0f);
    EXPECT_FALSE(dispatcher()->hasEventListener(EventListenerTouchOneByOne::LISTENER_ID));
}

TEST_F(DispatchTest, MouseAndKeyboardGoTopMostFirstAndCustomByName)
{
    Node* back = box("back", Rect(0, 0, 100, 100));
    Node* front = box("front", Rect(0, 0, 100, 100));
    for (Node* n : {back, front}) {
        auto* mouse = EventListenerMouse::create();
        const std::string name = n->getName();
        mouse->onMouseDown = [this, name](EventMouse* e) {
            calls.push_back(name + ":down");
            if (name == "front" && e->getMouseButton() == EventMouse::BUTTON_RIGHT) {
                e->stopPropagation();
            }
        };
        dispatcher()->addEventListenerWithSceneGraphPriority(mouse, n);
        auto* keys = EventListenerKeyboard::create();
        keys->onKeyPressed = [this, name](EventKeyboard::KeyCode k, Event* e) {
            calls.push_back(name + ":key" + std::to_string(static_cast<int>(k)));
            EXPECT_EQ(e->getCurrentTarget()->getName(), name);
        };
        dispatcher()->addEventListenerWithSceneGraphPriority(keys, n);
    }
    InputSimulator::mouseDown(1, 5, 5);
    InputSimulator::mouseDown(2, 5, 5);
    InputSimulator::key(EventKeyboard::KeyCode::KEY_LEFT_CTRL, true);
    EXPECT_EQ(take(), (Calls{"front:down", "front:down", "back:down", "front:key14", "back:key14"}));
    InputSimulator::key(EventKeyboard::KeyCode::KEY_LEFT_CTRL, false);

    int got = 0;
    void* seen = nullptr;
    auto* custom = dispatcher()->addCustomEventListener("update", [&](EventCustom* e) {
        ++got;
        seen = e->getUserData();
    });
    dispatcher()->addCustomEventListener("other", [&](EventCustom*) { got += 100; });
    int payload = 7;
    dispatcher()->dispatchCustomEvent("update", &payload);
    EXPECT_EQ(got, 1);
    EXPECT_EQ(seen, &payload);
    dispatcher()->removeEventListener(custom);
    dispatcher()->dispatchCustomEvent("update");
    EXPECT_EQ(got, 1);
    dispatcher()->removeCustomEventListeners("other");
    dispatcher()->dispatchCustomEvent("other");
    EXPECT_EQ(got, 1);

    // A disabled dispatcher drops everything.
    dispatcher()->setEnabled(false);
    InputSimulator::mouseDown(1, 5, 5);
    EXPECT_TRUE(take().empty());
    dispatcher()->setEnabled(true);

    // A listener is registered once.
    auto* again = EventListenerMouse::create();
    dispatcher()->addEventListenerWithFixedPriority(again, 3);
    qvtest::LogCapture logs;
    dispatcher()->addEventListenerWithSceneGraphPriority(again, front);
    EXPECT_EQ(logs.count("EventDispatcher: the listener is already registered"), 1u);
}

TEST_F(DispatchTest, SceneGraphListenersAreTriedCameraByCamera)
{
    // Two window cameras with one flag (both depth 0, so they draw before the default camera).
    auto* camA = Camera::create();
    camA->setCameraFlag(2);
    scene->addChild(camA);
    auto* camB = Camera::create();
    camB->setCameraFlag(2);
    scene->addChild(camB);
    Camera* defaultCamera = scene->getDefaultCamera();
    ASSERT_NE(defaultCamera, nullptr);

    Node* ui = box("ui", Rect(0, 0, 100, 100));    // flag 1: the default camera's
    Node* window = box("win", Rect(0, 0, 100, 100)); // on top in the tree, but drawn by window cameras
    window->setCameraMask(2);
    Node* hidden = box("none", Rect(0, 0, 100, 100));
    hidden->removeCameraMask(1, true);

    auto cameraName = [&](const Camera* c) -> std::string {
        return c == nullptr ? "null" : c == defaultCamera ? "default" : c == camA ? "A" : c == camB ? "B" : "?";
    };
    for (Node* n : {ui, window, hidden}) {
        const std::string name = n->getName();
        auto* mouse = EventListenerMouse::create();
        mouse->onMouseDown = [this, name, &cameraName](EventMouse*) {
            calls.push_back(name + "@" + cameraName(Camera::getVisitingCamera()));
        };
        dispatcher()->addEventListenerWithSceneGraphPriority(mouse, n);
        auto* touch = EventListenerTouchOneByOne::create();
        touch->onTouchBegan = [this, name, &cameraName](Touch*, Event*) {
            calls.push_back(name + ":touch@" + cameraName(Camera::getVisitingCamera()));
            return false;
        };
        dispatcher()->addEventListenerWithSceneGraphPriority(touch, n);
    }
    auto* fixed = EventListenerMouse::create();
    fixed->onMouseDown = [this, &cameraName](EventMouse*) {
        calls.push_back("fixed@" + cameraName(Camera::getVisitingCamera()));
    };
    dispatcher()->addEventListenerWithFixedPriority(fixed, 1);

    // The default camera draws last, so its nodes come first; then B (entered after A), where
    // the window node is called; A finds it called already.
    InputSimulator::mouseDown(1, 10, 10);
    EXPECT_EQ(take(), (Calls{"ui@default", "win@B", "fixed@null"}));
    InputSimulator::mouseDown(0, 10, 10);
    EXPECT_EQ(take(), (Calls{"ui:touch@default", "win:touch@B", "ui@default", "win@B", "fixed@null"}));
    EXPECT_EQ(Camera::getVisitingCamera(), nullptr);

    // A hidden camera makes no pass: the window node is reached through A.
    camB->setVisible(false);
    InputSimulator::mouseDown(2, 10, 10);
    EXPECT_EQ(take(), (Calls{"ui@default", "win@A", "fixed@null"}));
    // Without a window camera the window node hears nothing.
    camA->removeFromParent();
    InputSimulator::mouseDown(2, 10, 10);
    EXPECT_EQ(take(), (Calls{"ui@default", "fixed@null"}));
}
