// isObject: the root of every imaging class, a reference-counted framework object with a
// tag and a name. Objects are made by their class's static create() (allocated, init()ed,
// autoreleased; null when init fails) and live while retained.
#pragma once

#include "cocos2d.h"

#include <new>
#include <string>

namespace isImageSDK {

class isObject : public cocos2d::Ref {
public:
    isObject() = default;
    ~isObject() override = default;

    // Returns the object to its unconnected state; nothing to do in the root.
    virtual void clear() {}
    // Tag -1, empty name.
    virtual bool init();

    int getTag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    // A copy of the name; the shared-object registry files objects under it.
    std::string getName() const { return m_name; }
    void setName(const std::string& name) { m_name = name; }

protected:
    int m_tag = -1;
    std::string m_name;
};

// The body of every imaging create(): allocate, construct and init(); on success the object
// is autoreleased and returned, otherwise it is destroyed and null is returned.
template <class T>
T* createAutoreleased()
{
    T* object = new (std::nothrow) T();
    if (!object)
        return nullptr;
    if (!object->init()) {
        object->release();
        return nullptr;
    }
    object->autorelease();
    return object;
}

} // namespace isImageSDK
