// Map<K,V>: an unordered map whose values are framework object pointers, each retained once
// while it is in the map (inserting over a key releases the old value).
#pragma once

#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/ccMacros.h"

namespace cocos2d {

template <class K, class V>
class Map {
public:
    using RefMap = std::unordered_map<K, V>;
    using iterator = typename RefMap::iterator;
    using const_iterator = typename RefMap::const_iterator;

    static_assert(std::is_pointer<V>::value, "Map holds pointers to framework objects");

    Map() = default;
    explicit Map(ssize_t capacity) { _data.reserve(static_cast<size_t>(capacity)); }
    ~Map() { clear(); }
    Map(const Map& other) : _data(other._data) { addRefForAllObjects(); }
    Map(Map&& other) noexcept : _data(std::move(other._data)) {}
    Map& operator=(const Map& other)
    {
        if (this != &other) {
            Map copy(other);
            std::swap(_data, copy._data);
        }
        return *this;
    }
    Map& operator=(Map&& other) noexcept
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

    void reserve(ssize_t n) { _data.reserve(static_cast<size_t>(n)); }
    ssize_t bucketCount() const { return static_cast<ssize_t>(_data.bucket_count()); }
    ssize_t size() const { return static_cast<ssize_t>(_data.size()); }
    bool empty() const { return _data.empty(); }

    std::vector<K> keys() const
    {
        std::vector<K> result;
        result.reserve(_data.size());
        for (const auto& kv : _data) {
            result.push_back(kv.first);
        }
        return result;
    }
    std::vector<K> keys(V object) const
    {
        std::vector<K> result;
        for (const auto& kv : _data) {
            if (kv.second == object) {
                result.push_back(kv.first);
            }
        }
        return result;
    }

    // The value under the key, or null.
    V at(const K& key) const
    {
        auto it = _data.find(key);
        return it == _data.end() ? nullptr : it->second;
    }
    const_iterator find(const K& key) const { return _data.find(key); }
    iterator find(const K& key) { return _data.find(key); }

    void insert(const K& key, V object)
    {
        CCASSERT(object != nullptr, "Map does not hold null");
        object->retain();
        auto it = _data.find(key);
        if (it != _data.end()) {
            V old = it->second;
            it->second = object;
            old->release();
        } else {
            _data.emplace(key, object);
        }
    }
    iterator erase(const_iterator position)
    {
        V obj = position->second;
        iterator next = _data.erase(position);
        obj->release();
        return next;
    }
    size_t erase(const K& key)
    {
        auto it = _data.find(key);
        if (it == _data.end()) {
            return 0;
        }
        V obj = it->second;
        _data.erase(it);
        obj->release();
        return 1;
    }
    void erase(const std::vector<K>& keys)
    {
        for (const K& k : keys) {
            erase(k);
        }
    }
    void clear()
    {
        RefMap old;
        old.swap(_data);
        for (auto& kv : old) {
            kv.second->release();
        }
    }

private:
    void addRefForAllObjects()
    {
        for (auto& kv : _data) {
            kv.second->retain();
        }
    }

    RefMap _data;
};

} // namespace cocos2d
