#include "node/CCScene.h"

#include <algorithm>
#include <new>

#include "base/CCDirector.h"
#include "renderer/CCCamera.h"
#include "renderer/CCRenderer.h"

namespace cocos2d {

namespace {
const char* const kMessageNodeTimer = "_messageNode";
}

Scene::~Scene()
{
    CC_SAFE_RELEASE(_messageNode);
    CC_SAFE_RELEASE(_defaultCamera);
}

bool Scene::init()
{
    if (!Node::init()) {
        return false;
    }
    coverWindow();
    _defaultCamera = Camera::createDefault(Director::getInstance()->getWinSize());
    if (!_defaultCamera) {
        return false;
    }
    // Not a child: the scene's children stay the program's own. Registered for good.
    _defaultCamera->retain();
    _defaultCamera->_isDefault = true;
    _defaultCamera->_scene = this;
    _defaultCamera->setDepth(1);
    _cameras.push_back(_defaultCamera);
    return true;
}

void Scene::followWinSize()
{
    coverWindow();
    if (_defaultCamera) {
        _defaultCamera->setDefaultView(Director::getInstance()->getWinSize());
    }
}

void Scene::render(Renderer* renderer)
{
    renderer->renderScene(this);
}

std::vector<Camera*> Scene::getCamerasInPassOrder() const
{
    std::vector<Camera*> cameras = _cameras;
    std::stable_sort(cameras.begin(), cameras.end(), Camera::drawsBefore);
    return cameras;
}

void Scene::addCamera(Camera* camera)
{
    if (std::find(_cameras.begin(), _cameras.end(), camera) != _cameras.end()) {
        return;
    }
    if (camera == _defaultCamera) {
        _cameras.insert(_cameras.begin(), camera);
    } else {
        _cameras.push_back(camera);
    }
}

void Scene::removeCamera(Camera* camera)
{
    _cameras.erase(std::remove(_cameras.begin(), _cameras.end(), camera), _cameras.end());
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
