// Actors and the actor manager: node lists handed to and taken back from a window, attachment
// rules, the observers an actor leaves behind, and the manager's volume-actor factory.
#include "isActorCrossLine.h"
#include "isActorImage.h"
#include "isActorManager.h"
#include "isActorObject.h"
#include "isActorOverlay.h"
#include "isActorROI.h"

#include "NSNotificationCenter.h"
#include "purgeServices.h"

#include "support/DisplayScene.h"
#include "support/FakeRenderWindow.h"
#include "support/SliceRecords.h"

#include <gtest/gtest.h>

#include <functional>

using namespace isImageSDK;
using cocos2d::Node;
using qvtest::FakeRenderWindow;

namespace {

struct Retained {
    template <class T>
    static T* make(T* object)
    {
        object->retain();
        return object;
    }
};

class Actors : public ::testing::Test {
protected:
    void SetUp() override
    {
        qvtest::PoolScope pool;
        window = Retained::make(FakeRenderWindow::create());
        other = Retained::make(FakeRenderWindow::create());
        actor = Retained::make(createAutoreleased<isActorObject>());
    }
    void TearDown() override
    {
        if (actor)
            actor->release();
        window->release();
        other->release();
        purgeServices();
    }
    static Node* node()
    {
        return Node::create();
    }

    FakeRenderWindow* window = nullptr;
    FakeRenderWindow* other = nullptr;
    isActorObject* actor = nullptr;
};

TEST_F(Actors, NodesAddedBeforeAttachingAreHandedOverInOrder)
{
    qvtest::PoolScope pool;
    Node* plainA = node();
    Node* plainB = node();
    Node* scene = node();
    actor->addChildNode(plainA);
    actor->addSceneNode(scene);
    actor->addSceneNode(scene);  // once only
    actor->addChildNode(plainB);
    EXPECT_EQ(scene->getTag(), static_cast<int>(actor->getRefID()));
    EXPECT_EQ(actor->getSceneNodes().size(), 1u);
    EXPECT_EQ(window->getChildrenCount(), 0);

    actor->attachRenderWindow(window);
    ASSERT_EQ(window->getChildrenCount(), 3);
    EXPECT_EQ(window->getChildren().at(0), plainA);
    EXPECT_EQ(window->getChildren().at(1), plainB);
    EXPECT_EQ(window->getChildren().at(2), scene);
    ASSERT_EQ(window->sceneNodes.size(), 1u);

    // Added while attached: at once.
    Node* late = node();
    actor->addSceneNode(late);
    EXPECT_EQ(window->sceneNodes.size(), 2u);
    EXPECT_EQ(late->getParent(), window);
}

TEST_F(Actors, SecondWindowIgnoredUntilCleared)
{
    qvtest::PoolScope pool;
    Node* n = node();
    actor->addChildNode(n);
    actor->attachRenderWindow(window);
    actor->attachRenderWindow(other);
    EXPECT_EQ(actor->getRenderWindow(), window);
    EXPECT_EQ(n->getParent(), window);

    actor->detachRenderWindow();
    EXPECT_EQ(n->getParent(), nullptr);
    EXPECT_EQ(actor->getChildNodes().size(), 1u);  // lists stay
    actor->attachRenderWindow(other);
    EXPECT_EQ(actor->getRenderWindow(), window);  // still held

    const unsigned before = window->getReferenceCount();
    actor->clear();
    EXPECT_EQ(window->getReferenceCount(), before - 1);
    EXPECT_TRUE(actor->getChildNodes().empty());
    actor->attachRenderWindow(other);
    EXPECT_EQ(actor->getRenderWindow(), other);
    EXPECT_EQ(other->getChildrenCount(), 0);
}

TEST_F(Actors, DestroyingAnActorTakesBackItsNodesAndObservers)
{
    qvtest::PoolScope pool;
    Node* scene = node();
    actor->addSceneNode(scene);
    actor->attachRenderWindow(window);
    int calls = 0;
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        actor, window, [&](cocos2d::Ref*, unsigned, NSUI::NSNotificationData*) { ++calls; }, 9091);
    cocos2d::Ref* gone = actor;
    EXPECT_TRUE(NSUI::NSNotificationCenter::getInstance()->hasObserver(9091, window, gone));
    actor->release();
    actor = nullptr;
    EXPECT_TRUE(window->sceneNodes.empty());
    EXPECT_EQ(scene->getParent(), nullptr);
    EXPECT_FALSE(NSUI::NSNotificationCenter::getInstance()->hasObserver(9091, window, gone));
    EXPECT_EQ(calls, 0);
}

// A volume actor as the volume layer registers it.
class CountingActor : public isActorObject {
public:
    static int alive;
    static bool failInit;
    CountingActor() { ++alive; }
    ~CountingActor() override { --alive; }
    bool init() override { return !failInit && isActorObject::init(); }
};
int CountingActor::alive = 0;
bool CountingActor::failInit = false;

TEST_F(Actors, ManagerMakesTheVolumeActorOnceThroughItsFactory)
{
    qvtest::PoolScope pool;
    isActorManager::setVRActorFactory([] { return static_cast<isActorObject*>(new CountingActor()); });
    isActorManager* manager = Retained::make(isActorManager::create());
    EXPECT_EQ(manager->getVRActor(), nullptr);  // no window yet
    EXPECT_EQ(CountingActor::alive, 0);
    manager->releaseActors();

    manager->setRenderWindow(window);
    isActorObject* vr = manager->getVRActor();
    ASSERT_NE(vr, nullptr);
    EXPECT_EQ(manager->getVRActor(), vr);
    EXPECT_EQ(vr->getRenderWindow(), window);
    EXPECT_EQ(CountingActor::alive, 1);
    manager->releaseActors();
    EXPECT_EQ(CountingActor::alive, 0);

    CountingActor::failInit = true;
    EXPECT_EQ(manager->getVRActor(), nullptr);
    EXPECT_EQ(CountingActor::alive, 0);
    CountingActor::failInit = false;

    // A new window drops the old window's actors.
    manager->getVRActor();
    const unsigned held = window->getReferenceCount();
    manager->setRenderWindow(other);
    EXPECT_EQ(CountingActor::alive, 0);
    EXPECT_LT(window->getReferenceCount(), held);
    manager->release();
    isActorManager::setVRActorFactory(nullptr);
}

} // namespace

// The manager makes each kind of actor for its window once, hands the same one back after, and
// takes every node back from the window when it releases its actors.
TEST(ActorManager, MakesEachActorOncePerWindowAndReleasesIt)
{
    qvtest::DisplayScene rig;
    rig.startHeadless();
    FakeRenderWindow* window = nullptr;  // a new one for each kind
    using Get = std::function<isActorObject*(isActorManager*)>;
    using Check = std::function<void(isActorManager*, isActorObject*)>;
    const struct {
        const char* kind;
        Get get;
        Check check;
    } rows[] = {
        {"image", [](isActorManager* m) -> isActorObject* { return m->getImageActor(); },
         [&](isActorManager*, isActorObject* made) {
             EXPECT_FALSE(made->isVisible());  // slice 0 of no image
             EXPECT_EQ(window->sceneNodes.size(), 1u);
         }},
        {"overlay", [](isActorManager* m) -> isActorObject* { return m->getOverlayActor(); },
         [&](isActorManager* m, isActorObject* made) {
             static_cast<isActorOverlay*>(made)->addTopLeftText("x");
             EXPECT_EQ(window->getChildrenCount(), 1u);
             m->removeOverlayActor();
             EXPECT_EQ(window->getChildrenCount(), 0u);
             ASSERT_NE(m->getOverlayActor(), nullptr);
             m->getOverlayActor()->addBottomLeftText("y");
         }},
        {"cross lines",
         [](isActorManager* m) -> isActorObject* {
             // Before there is a window these make nothing.
             m->showCrossLines();
             m->setBorderVisible(true);
             m->showCornerMarker();
             return m->getCrossLineActor();
         },
         [](isActorManager*, isActorObject* made) {
             auto* lines = static_cast<isActorCrossLine*>(made);
             EXPECT_TRUE(lines->isCrossLinesVisible());
             EXPECT_TRUE(lines->isBorderVisible());
             EXPECT_TRUE(lines->isMarkerShown());
         }},
        {"measurements", [](isActorManager* m) -> isActorObject* { return m->getROIActor(); },
         [&](isActorManager*, isActorObject* made) {
             // The container's creation reference goes with the autorelease pool: after the
             // release, the manager held the only other one.
             made->retain();
             rig.frame();
             EXPECT_EQ(made->getReferenceCount(), 2u);
             made->release();
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.kind);
        window = FakeRenderWindow::create();
        window->sceneCamera = rig.camera;
        rig.scene->addChild(window);
        isActorManager* manager = isActorManager::create();
        manager->retain();
        EXPECT_EQ(row.get(manager), nullptr);
        manager->setRenderWindow(window);
        isActorObject* made = row.get(manager);
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(row.get(manager), made);
        EXPECT_EQ(made->getRenderWindow(), window);
        row.check(manager, made);
        rig.frame();
        manager->releaseActors();
        EXPECT_TRUE(window->sceneNodes.empty());
        EXPECT_EQ(window->getChildrenCount(), 0u);
        EXPECT_NE(row.get(manager), nullptr);  // made anew on demand
        manager->releaseActors();
        manager->release();
        window->removeFromParent();
    }
    rig.stop();
}
