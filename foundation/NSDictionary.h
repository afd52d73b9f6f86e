// NSDictionary: a dictionary of retained framework objects, keyed by text or by integer, built
// from property lists.
//
// Property-list values become: a dictionary an NSDictionary, an array a cocos2d::__Array, every
// other value (text, number, boolean) a cocos2d::__String holding its text form (integers in
// decimal, reals with 7 decimals, booleans "true"/"false"). It holds the language table and the
// plist resources that components read.
//
// Keys: the first insertion decides whether the dictionary is keyed by text or by integer. A text
// key longer than 256 bytes is stored under its last 256 bytes; lookups use the key as given.
// The table underneath is uthash (Jenkins hash). Not thread-safe: one owner at a time.
#pragma once

#include <cstdint>
#include <string>

#include "cocos2d.h"

namespace NSUI {

struct NSDictElement;

class NSDictionary : public cocos2d::Ref, public cocos2d::Clonable {
public:
    static constexpr size_t kMaxKeyLength = 256;

    NSDictionary() = default;
    ~NSDictionary() override;

    NSDictionary(const NSDictionary&) = delete;
    NSDictionary& operator=(const NSDictionary&) = delete;

    // A new dictionary (reference count 1, not autoreleased) filled recursively from map.
    static NSDictionary* createWithValueMap(const cocos2d::ValueMap& map);
    // Autoreleased; built from FileUtils::getValueMapFromFile (an unreadable file gives an empty
    // dictionary).
    static NSDictionary* createWithContentsOfFile(const std::string& path);
    // Autoreleased; built from property-list text in memory, or null when it holds no dictionary.
    static NSDictionary* createWithData(const std::string& text);

    // The object under key, or null.
    cocos2d::Ref* objectForKey(const std::string& key) const;

    // Stores object (retained) under key; an object already there under that key is released.
    // Setting the same object again changes nothing. A text key on an integer-keyed dictionary
    // (or the reverse) is ignored.
    void setObject(cocos2d::Ref* object, const std::string& key);
    void setObject(cocos2d::Ref* object, intptr_t key);

    // Removes every element, releasing the objects.
    void removeAllObjects();

    // An autoreleased deep copy: every Clonable object is copied with its own clone under the
    // same key; other objects are left out.
    NSDictionary* clone() const override;

private:
    enum KeyKind { kUndecided = 0, kTextKeys = 1, kIntKeys = 2 };

    void replaceElement(NSDictElement* existing, NSDictElement* fresh, cocos2d::Ref* object);

    NSDictElement* elements_ = nullptr;
    int keyKind_ = kUndecided;
};

} // namespace NSUI
