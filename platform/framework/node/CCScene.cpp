#include "node/CCScene.h"

#include <new>

#include "base/CCDirector.h"

namespace cocos2d {

namespace {
const char* const kMessageNodeTimer = "_messageNode";
}

Scene::~Scene()
{
    CC_SAFE_RELEASE(_messageNode);
}

bool Scene::init()
{
    if (!Node::init()) {
        return false;
    }
    coverWindow();
    return true;
}

void Scene::render(Renderer* renderer)
{
    visit(renderer, Mat4::IDENTITY, 0);
}

void Scene::setMessageNode(Node* node, float seconds)
{
    if (!node) {
        return;
    }
    if (node != _messageNode) {
        if (_messageNode) {
            _messageNode->setVisible(false);
        }
        node->retain();
        CC_SAFE_RELEASE(_messageNode);
        _messageNode = node;
    }
    if (!node->getParent()) {
        addChild(node, MESSAGE_NODE_Z_ORDER);
    }
    node->setVisible(true);
    // Unschedule first: scheduling an existing key would keep its old countdown.
    unschedule(kMessageNodeTimer);
    scheduleOnce(
        [this](float) {
            if (_messageNode) {
                _messageNode->setVisible(false);
            }
        },
        seconds, kMessageNodeTimer);
}

bool Scene::onResponseReturn()
{
    Director::getInstance()->popScene();
    return true;
}

} // namespace cocos2d
