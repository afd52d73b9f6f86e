// __Array: an ordered list of framework objects (property-list arrays reach the program as
// these). It retains what it holds.
#pragma once

#include "base/CCRef.h"
#include "base/CCVector.h"

namespace cocos2d {

class __Array : public Ref, public Clonable {
public:
    __Array() = default;

    static __Array* create();
    static __Array* createWithCapacity(ssize_t capacity);

    ssize_t count() const { return _data.size(); }
    ssize_t capacity() const { return _data.capacity(); }
    Ref* getObjectAtIndex(ssize_t index) const;
    Ref* lastObject() const { return _data.empty() ? nullptr : _data.back(); }
    ssize_t getIndexOfObject(Ref* object) const { return _data.getIndex(object); }
    bool containsObject(Ref* object) const { return _data.contains(object); }

    void addObject(Ref* object);
    void addObjectsFromArray(const __Array* other);
    void insertObject(Ref* object, ssize_t index);
    void removeObject(Ref* object, bool releaseObj = true);
    void removeObjectAtIndex(ssize_t index, bool releaseObj = true);
    void removeLastObject(bool releaseObj = true);
    void removeAllObjects();

    // An autoreleased copy: elements that are Clonable are cloned, the others are shared.
    __Array* clone() const override;

    Vector<Ref*>::const_iterator begin() const { return _data.begin(); }
    Vector<Ref*>::const_iterator end() const { return _data.end(); }

private:
    Vector<Ref*> _data;
};

} // namespace cocos2d
