// Vector<T>: a std::vector of framework object pointers that owns one reference to each element.
//
// Adding retains, removing releases; copies retain every element again. T must be a pointer to
// a Ref subclass.
#pragma once

#include <algorithm>
#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/ccMacros.h"

namespace cocos2d {

template <class T>
class Vector {
public:
    using iterator = typename std::vector<T>::iterator;
    using const_iterator = typename std::vector<T>::const_iterator;
    using reverse_iterator = typename std::vector<T>::reverse_iterator;
    using const_reverse_iterator = typename std::vector<T>::const_reverse_iterator;

    static_assert(std::is_pointer<T>::value, "Vector holds pointers to framework objects");

    Vector() = default;
    explicit Vector(ssize_t capacity) { reserve(capacity); }
    Vector(std::initializer_list<T> list)
    {
        for (T obj : list) {
            pushBack(obj);
        }
    }
    ~Vector() { clear(); }

    Vector(const Vector& other) : _data(other._data) { addRefForAllObjects(); }
    Vector(Vector&& other) noexcept : _data(std::move(other._data)) {}
    Vector& operator=(const Vector& other)
    {
        if (this != &other) {
            Vector copy(other);
            swap(copy);
        }
        return *this;
    }
    Vector& operator=(Vector&& other) noexcept
    {
        if (this != &other) {
            clear();
            _data = std::move(other._data);
        }
        return *this;
    }

    iterator begin() { return _data.begin(); }
    const_iterator begin() const { return _data.begin(); }
    iterator end() { return _data.end(); }
    const_iterator end() const { return _data.end(); }
    const_iterator cbegin() const { return _data.cbegin(); }
    const_iterator cend() const { return _data.cend(); }
    reverse_iterator rbegin() { return _data.rbegin(); }
    const_reverse_iterator rbegin() const { return _data.rbegin(); }
    reverse_iterator rend() { return _data.rend(); }
    const_reverse_iterator rend() const { return _data.rend(); }

    void reserve(ssize_t n) { _data.reserve(static_cast<size_t>(n)); }
    ssize_t capacity() const { return static_cast<ssize_t>(_data.capacity()); }
    ssize_t size() const { return static_cast<ssize_t>(_data.size()); }
    bool empty() const { return _data.empty(); }
    ssize_t max_size() const { return static_cast<ssize_t>(_data.max_size()); }

    ssize_t getIndex(T object) const
    {
        auto it = std::find(_data.begin(), _data.end(), object);
        return it == _data.end() ? CC_INVALID_INDEX : static_cast<ssize_t>(it - _data.begin());
    }
    const_iterator find(T object) const { return std::find(_data.begin(), _data.end(), object); }
    iterator find(T object) { return std::find(_data.begin(), _data.end(), object); }

    T at(ssize_t index) const
    {
        CCASSERT(index >= 0 && index < size(), "index out of range in Vector::at");
        return _data[static_cast<size_t>(index)];
    }
    T front() const { return _data.front(); }
    T back() const { return _data.back(); }
    bool contains(T object) const { return find(object) != _data.end(); }
    bool equals(const Vector& other) const { return _data == other._data; }

    void pushBack(T object)
    {
        CCASSERT(object != nullptr, "Vector does not hold null");
        _data.push_back(object);
        object->retain();
    }
    void pushBack(const Vector& other)
    {
        for (T obj : other) {
            pushBack(obj);
        }
    }
    void insert(ssize_t index, T object)
    {
        CCASSERT(index >= 0 && index <= size(), "index out of range in Vector::insert");
        CCASSERT(object != nullptr, "Vector does not hold null");
        _data.insert(_data.begin() + index, object);
        object->retain();
    }
    void popBack()
    {
        CCASSERT(!_data.empty(), "popBack of an empty Vector");
        T last = _data.back();
        _data.pop_back();
        last->release();
    }
    // Removes the first (or every) occurrence of the object.
    void eraseObject(T object, bool removeAll = false)
    {
        if (removeAll) {
            for (auto it = _data.begin(); it != _data.end();) {
                if (*it == object) {
                    it = _data.erase(it);
                    object->release();
                } else {
                    ++it;
                }
            }
        } else {
            auto it = std::find(_data.begin(), _data.end(), object);
            if (it != _data.end()) {
                _data.erase(it);
                object->release();
            }
        }
    }
    iterator erase(iterator position)
    {
        T obj = *position;
        iterator next = _data.erase(position);
        obj->release();
        return next;
    }
    iterator erase(iterator first, iterator last)
    {
        std::vector<T> removed(first, last);
        iterator next = _data.erase(first, last);
        for (T obj : removed) {
            obj->release();
        }
        return next;
    }
    iterator erase(ssize_t index)
    {
        CCASSERT(index >= 0 && index < size(), "index out of range in Vector::erase");
        return erase(_data.begin() + index);
    }
    void clear()
    {
        std::vector<T> old;
        old.swap(_data);
        for (T obj : old) {
            obj->release();
        }
    }
    void swap(Vector& other) noexcept { _data.swap(other._data); }
    void swap(T a, T b)
    {
        ssize_t ia = getIndex(a), ib = getIndex(b);
        if (ia != CC_INVALID_INDEX && ib != CC_INVALID_INDEX) {
            std::swap(_data[static_cast<size_t>(ia)], _data[static_cast<size_t>(ib)]);
        }
    }
    void swap(ssize_t a, ssize_t b) { std::swap(_data[static_cast<size_t>(a)], _data[static_cast<size_t>(b)]); }
    void replace(ssize_t index, T object)
    {
        CCASSERT(index >= 0 && index < size(), "index out of range in Vector::replace");
        CCASSERT(object != nullptr, "Vector does not hold null");
        object->retain();
        T old = _data[static_cast<size_t>(index)];
        _data[static_cast<size_t>(index)] = object;
        old->release();
    }
    void reverse() { std::reverse(_data.begin(), _data.end()); }
    void shrinkToFit() { _data.shrink_to_fit(); }

    // The underlying storage, for sorting in place (ownership is unchanged by a permutation).
    std::vector<T>& data() { return _data; }
    const std::vector<T>& data() const { return _data; }

private:
    void addRefForAllObjects()
    {
        for (T obj : _data) {
            obj->retain();
        }
    }

    std::vector<T> _data;
};

} // namespace cocos2d
