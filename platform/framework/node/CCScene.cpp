#include "node/CCScene.h"

#include <new>

#include "base/CCDirector.h"

namespace cocos2d {

Scene* Scene::create()
{
    Scene* s = new (std::nothrow) Scene();
    if (s && s->init()) {
        s->autorelease();
        return s;
    }
    delete s;
    return nullptr;
}

bool Scene::init()
{
    if (!Node::init()) {
        return false;
    }
    return true;
}

void Scene::render(Renderer* renderer)
{
    visit(renderer, Mat4::IDENTITY, 0);
}

} // namespace cocos2d
