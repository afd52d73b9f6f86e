#include "base/CCArray.h"

#include <new>

namespace cocos2d {

__Array* __Array::create()
{
    __Array* a = new (std::nothrow) __Array();
    if (a) {
        a->autorelease();
    }
    return a;
}

__Array* __Array::createWithCapacity(ssize_t capacity)
{
    __Array* a = create();
    if (a) {
        a->_data.reserve(capacity);
    }
    return a;
}

Ref* __Array::getObjectAtIndex(ssize_t index) const
{
    if (index < 0 || index >= _data.size()) {
        return nullptr;
    }
    return _data.at(index);
}

void __Array::addObject(Ref* object)
{
    if (object) {
        _data.pushBack(object);
    }
}

void __Array::addObjectsFromArray(const __Array* other)
{
    if (other) {
        for (Ref* obj : *other) {
            _data.pushBack(obj);
        }
    }
}

void __Array::insertObject(Ref* object, ssize_t index)
{
    if (object && index >= 0 && index <= _data.size()) {
        _data.insert(index, object);
    }
}

// The releaseObj flag of the classic interface is kept for source compatibility; the array
// always gives up the reference it holds.
void __Array::removeObject(Ref* object, bool)
{
    _data.eraseObject(object);
}

void __Array::removeObjectAtIndex(ssize_t index, bool)
{
    if (index >= 0 && index < _data.size()) {
        _data.erase(index);
    }
}

void __Array::removeLastObject(bool)
{
    if (!_data.empty()) {
        _data.popBack();
    }
}

void __Array::removeAllObjects()
{
    _data.clear();
}

__Array* __Array::clone() const
{
    __Array* copy = create();
    for (Ref* obj : _data) {
        if (Clonable* c = dynamic_cast<Clonable*>(obj)) {
            copy->addObject(dynamic_cast<Ref*>(c->clone()));
        } else {
            copy->addObject(obj);
        }
    }
    return copy;
}

} // namespace cocos2d
