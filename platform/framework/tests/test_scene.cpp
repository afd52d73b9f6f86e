// Scenes: the message node, the return key, layers' touch and key setup, and what pushing and
// popping scenes does to the nodes, timers and listeners inside them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cocos2d.h"
#include "support/SceneGraphTest.h"

USING_NS_CC;
using qvtest::Journal;

namespace {

using Calls = std::vector<std::string>;

class SceneTest : public qvtest::SceneGraphTest {};

// A dialog that answers the return key.
class Dialog : public Node {
public:
    static Dialog* make(Calls* calls, const std::string& name, bool answer)
    {
        auto* d = new Dialog();
        d->_calls = calls;
        d->_answer = answer;
        d->setName(name);
        d->init();
        d->autorelease();
        d->enableAndroidReturnKey(true);
        return d;
    }
    bool onResponseReturn() override
    {
        _calls->push_back(getName());
        if (_answer && getParent()) {
            removeFromParent(); // dialogs close themselves from here
        }
        return _answer;
    }

private:
    Calls* _calls = nullptr;
    bool _answer = false;
};

void escape()
{
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_ESCAPE);
}

} // namespace

TEST_F(SceneTest, MessageNodeIsReArmedAndHiddenAfterItsTime)
{
    Node* box = Node::create();
    box->setName("messageBox");
    scene->addChild(box, Scene::MESSAGE_NODE_Z_ORDER);
    box->setVisible(false);

    scene->setMessageNode(box, 2.0f);
    EXPECT_TRUE(box->isVisible());
    director->stepFrame(1.5f);
    // A second toast re-arms the timer: the first one does not hide the box early.
    scene->setMessageNode(box, 2.0f);
    director->stepFrame(1.0f);
    EXPECT_TRUE(box->isVisible());
    director->stepFrame(0.9f);
    EXPECT_TRUE(box->isVisible());
    director->stepFrame(0.1f);
    EXPECT_FALSE(box->isVisible()) << "hidden 2 s after the second call";
    EXPECT_EQ(box->getParent(), scene) << "kept for the next toast";
    EXPECT_EQ(scene->getChildrenCount(), 1);

    // A node without a parent is added on top; a different node replaces and hides the first.
    scene->setMessageNode(box, 5.0f);
    Node* other = Node::create();
    scene->setMessageNode(other, 1.0f);
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(other->getParent(), scene);
    EXPECT_EQ(other->getLocalZOrder(), Scene::MESSAGE_NODE_Z_ORDER);
    EXPECT_EQ(scene->getMessageNode(), other);
    director->stepFrame(1.0f);
    EXPECT_FALSE(other->isVisible());

    // The timer goes with the scene's cleanup.
    scene->setMessageNode(other, 1.0f);
    scene->cleanup();
    director->stepFrame(2.0f);
    EXPECT_TRUE(other->isVisible());
}

TEST_F(SceneTest, ReturnKeyIsAnsweredTopMostFirst)
{
    Calls calls;
    auto* scene2 = Scene::create();
    scene2->enableAndroidReturnKey(true);
    director->pushScene(scene2);
    director->stepFrame(0.0f);

    Node* declines = Dialog::make(&calls, "declines", false);
    Node* closes = Dialog::make(&calls, "closes", true);
    scene2->addChild(declines);
    scene2->addChild(closes); // on top

    escape();
    EXPECT_EQ(calls, (Calls{"closes"})) << "the dialog on top answers and stops the key";
    EXPECT_EQ(closes->getParent(), nullptr);
    escape();
    EXPECT_EQ(calls, (Calls{"closes", "declines"})) << "a false answer lets the key travel on to the scene";
    EXPECT_EQ(director->getRunningScene(), scene2);
    director->stepFrame(0.0f);
    EXPECT_EQ(director->getRunningScene(), scene) << "the scene popped itself";

    // Only the release of Escape answers; other keys travel on.
    calls.clear();
    scene->addChild(Dialog::make(&calls, "d", false));
    InputSimulator::key(EventKeyboard::KeyCode::KEY_ESCAPE, true);
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_ENTER);
    EXPECT_TRUE(calls.empty());
    InputSimulator::key(EventKeyboard::KeyCode::KEY_ESCAPE, false);
    EXPECT_EQ(calls, (Calls{"d"}));
    EXPECT_EQ(director->getRunningScene(), scene) << "this scene has no return key";
}

TEST_F(SceneTest, CoveredSceneSleepsAndWakesWithItsNodes)
{
    auto* node = qvtest::JNode::make("n", journal);
    node->setContentSize(Size(960, 640));
    scene->addChild(node);
    int ticks = 0;
    node->schedule([&ticks](float) { ++ticks; }, 0.0f, "tick");
    Calls calls;
    auto* touch = EventListenerTouchOneByOne::create();
    touch->onTouchBegan = [&calls](Touch*, Event*) {
        calls.push_back("n:began");
        return false;
    };
    director->getEventDispatcher()->addEventListenerWithSceneGraphPriority(touch, node);
    node->runAction(RepeatForever::create(RotateBy::create(1.0f, 90.0f)));
    take();

    director->pushScene(Scene::create());
    director->stepFrame(0.25f);
    // Covered: exited without cleanup; nothing of it runs.
    EXPECT_EQ(take(), (Journal{"n:exitStart", "n:exit"}));
    const int ticksWhenCovered = ticks;
    const float rotationWhenCovered = node->getRotation();
    director->stepFrame(0.25f);
    InputSimulator::click(10, 10);
    EXPECT_EQ(ticks, ticksWhenCovered);
    EXPECT_EQ(node->getRotation(), rotationWhenCovered);
    EXPECT_TRUE(calls.empty());

    // Revealed: entered again, and everything resumes.
    director->popScene();
    director->stepFrame(0.25f);
    EXPECT_EQ(take(), (Journal{"n:enter", "n:entered"}));
    director->stepFrame(0.25f);
    EXPECT_EQ(ticks, ticksWhenCovered + 1);
    EXPECT_FLOAT_EQ(node->getRotation(), rotationWhenCovered + 22.5f);
    InputSimulator::click(10, 10);
    EXPECT_EQ(calls, (Calls{"n:began"}));

    // Replacing the scene cleans it up and frees its nodes.
    director->replaceScene(Scene::create());
    scene = nullptr;
    director->stepFrame(0.0f);
    EXPECT_EQ(take(), (Journal{"n:exitStart", "n:exit", "n:cleanup", "n:deleted"}));
}

TEST_F(SceneTest, LayerTouchAndKeySetupFollowsItsSettings)
{
    struct Probe : Layer {
        Calls* calls = nullptr;
        bool onTouchBegan(Touch* t, Event*) override
        {
            calls->push_back("began");
            return t->getLocation().x < 100;
        }
        void onTouchEnded(Touch*, Event*) override { calls->push_back("ended"); }
        void onTouchesBegan(const std::vector<Touch*>& t, Event*) override
        {
            calls->push_back("all:began" + std::to_string(t.size()));
        }
        void onKeyReleased(EventKeyboard::KeyCode k, Event*) override
        {
            calls->push_back("key" + std::to_string(static_cast<int>(k)));
        }
    };
    Calls calls;
    auto* layer = new Probe();
    layer->calls = &calls;
    layer->init();
    layer->autorelease();
    scene->addChild(layer);
    Calls window;
    auto* all = EventListenerTouchAllAtOnce::create();
    all->onTouchesBegan = [&window](const std::vector<Touch*>&, Event*) { window.push_back("window"); };
    director->getEventDispatcher()->addEventListenerWithFixedPriority(all, 100);

    InputSimulator::click(10, 10);
    EXPECT_TRUE(calls.empty()) << "touch is off by default";

    layer->setTouchEnabled(true);
    InputSimulator::click(10, 10);
    EXPECT_EQ(calls, (Calls{"all:began1"})) << "all at once by default";

    calls.clear();
    window.clear();
    layer->setTouchMode(Touch::DispatchMode::ONE_BY_ONE);
    InputSimulator::click(10, 10);
    InputSimulator::click(500, 10);
    EXPECT_EQ(calls, (Calls{"began", "ended", "began"}));
    EXPECT_EQ(window, (Calls{"window"})) << "a claimed touch is swallowed by default";

    calls.clear();
    window.clear();
    layer->setSwallowsTouches(false);
    InputSimulator::click(10, 10);
    EXPECT_EQ(window, (Calls{"window"}));

    layer->setTouchEnabled(false);
    layer->setKeyboardEnabled(true);
    calls.clear();
    InputSimulator::click(10, 10);
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_LEFT_CTRL);
    EXPECT_EQ(calls, (Calls{"key14"}));
    layer->setKeyboardEnabled(false);
    InputSimulator::tap(EventKeyboard::KeyCode::KEY_LEFT_CTRL);
    EXPECT_EQ(calls, (Calls{"key14"}));

    // The colour layer's quad follows its size, colour and opacity.
    auto* colour = LayerColor::create(Color4B(255, 0, 0, 51), 200, 100);
    EXPECT_EQ(colour->getContentSize(), Size(200, 100));
    EXPECT_EQ(colour->getSquareVertices()[3], Vec2(200, 100));
    EXPECT_FLOAT_EQ(colour->getSquareColors()[0].a, 0.2f);
    colour->setOpacity(255);
    colour->setColor(Color3B(0, 0, 255));
    colour->setContentSize(Size(30, 40));
    EXPECT_EQ(colour->getSquareVertices()[1], Vec2(30, 0));
    EXPECT_EQ(colour->getSquareColors()[2], Color4F(0, 0, 1, 1));
    EXPECT_EQ(LayerColor::create(Color4B::BLACK)->getContentSize(), Size(960, 640));
}
