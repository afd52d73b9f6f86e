#include "isSharedObjects.h"

#include <algorithm>

namespace isImageSDK {

namespace {
isSharedObjects* g_sharedObjects = nullptr;
} // namespace

isSharedObjects* isSharedObjects::create()
{
    auto* registry = new (std::nothrow) isSharedObjects();
    if (!registry)
        return nullptr;
    registry->init();
    registry->autorelease();
    return registry;
}

isSharedObjects* isSharedObjects::getInstance()
{
    if (!g_sharedObjects) {
        g_sharedObjects = create();
        if (g_sharedObjects)
            g_sharedObjects->retain();
    }
    return g_sharedObjects;
}

isSharedObjects* isSharedObjects::peekInstance()
{
    return g_sharedObjects;
}

void isSharedObjects::destroyInstance()
{
    if (!g_sharedObjects)
        return;
    isSharedObjects* registry = g_sharedObjects;
    g_sharedObjects = nullptr;
    registry->clear();
    registry->release();
}

isSharedObjects::~isSharedObjects()
{
    isSharedObjects::clear();
}

bool isSharedObjects::init()
{
    m_objects.clear();
    return true;
}

isObject* isSharedObjects::getObject(const std::string& name) const
{
    for (isObject* object : m_objects)
        if (object->getName() == name)
            return object;
    return nullptr;
}

void isSharedObjects::addObject(isObject* object)
{
    if (!object || std::find(m_objects.begin(), m_objects.end(), object) != m_objects.end())
        return;
    object->retain();
    m_objects.push_back(object);
}

void isSharedObjects::removeObject(const std::string& name)
{
    auto it = std::find_if(m_objects.begin(), m_objects.end(),
                           [&name](const isObject* object) { return object->getName() == name; });
    if (it == m_objects.end())
        return;
    isObject* object = *it;
    m_objects.erase(it);
    object->release();
}

void isSharedObjects::removeObject(isObject* object)
{
    auto it = std::find(m_objects.begin(), m_objects.end(), object);
    if (it == m_objects.end())
        return;
    m_objects.erase(it);
    object->release();
}

void isSharedObjects::clear()
{
    // Taken out first: releasing an object may run code that looks at the registry.
    std::vector<isObject*> objects;
    objects.swap(m_objects);
    for (isObject* object : objects)
        object->release();
}

} // namespace isImageSDK
