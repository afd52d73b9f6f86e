#include "NSDictionary.h"

#include <cstring>

// The hash table aborts the process when it cannot get memory, as the rest of the program would.
#include <uthash.h>

USING_NS_CC;

namespace NSUI {

struct NSDictElement {
    char key[NSDictionary::kMaxKeyLength + 1];
    size_t keyLength;
    intptr_t intKey;
    Ref* object;
    UT_hash_handle hh;
};

namespace {

void deleteElement(NSDictElement* element)
{
    element->object->release();
    delete element;
}

// The stored form of a text key: its last kMaxKeyLength bytes.
void storeKey(NSDictElement* element, const std::string& key)
{
    const size_t length = key.size() > NSDictionary::kMaxKeyLength ? NSDictionary::kMaxKeyLength : key.size();
    std::memcpy(element->key, key.data() + (key.size() - length), length);
    element->key[length] = '\0';
    element->keyLength = length;
}

Ref* objectFromValue(const Value& value);

__Array* arrayFromVector(const ValueVector& values)
{
    auto* array = new __Array();
    for (const Value& value : values) {
        Ref* object = objectFromValue(value);
        array->addObject(object);
        object->release();
    }
    return array;
}

// A new object (reference count 1) for one property-list value.
Ref* objectFromValue(const Value& value)
{
    switch (value.getType()) {
    case Value::Type::MAP:
        return NSDictionary::createWithValueMap(value.asValueMap());
    case Value::Type::VECTOR:
        return arrayFromVector(value.asValueVector());
    default:
        return new __String(value.asString());
    }
}

} // namespace

NSDictionary::~NSDictionary()
{
    removeAllObjects();
}

NSDictionary* NSDictionary::createWithValueMap(const ValueMap& map)
{
    auto* dictionary = new NSDictionary();
    for (const auto& entry : map) {
        Ref* object = objectFromValue(entry.second);
        dictionary->setObject(object, entry.first);
        object->release();
    }
    return dictionary;
}

NSDictionary* NSDictionary::createWithContentsOfFile(const std::string& path)
{
    NSDictionary* dictionary = createWithValueMap(FileUtils::getInstance()->getValueMapFromFile(path));
    dictionary->autorelease();
    return dictionary;
}

NSDictionary* NSDictionary::createWithData(const std::string& text)
{
    const ValueMap map = FileUtils::getInstance()->getValueMapFromData(text.data(), static_cast<int>(text.size()));
    if (map.empty())
        return nullptr;
    NSDictionary* dictionary = createWithValueMap(map);
    dictionary->autorelease();
    return dictionary;
}

Ref* NSDictionary::objectForKey(const std::string& key) const
{
    if (!elements_ || keyKind_ != kTextKeys)
        return nullptr;
    NSDictElement* found = nullptr;
    HASH_FIND(hh, elements_, key.data(), static_cast<unsigned>(key.size()), found);
    return found ? found->object : nullptr;
}

void NSDictionary::replaceElement(NSDictElement* existing, NSDictElement* fresh, Ref* object)
{
    // Hold the old object while its element goes: it may be what keeps `object` alive.
    Ref* old = existing->object;
    old->retain();
    HASH_DEL(elements_, existing);
    deleteElement(existing);
    fresh->object = object;
    object->retain();
    old->release();
}

void NSDictionary::setObject(Ref* object, const std::string& key)
{
    if (!object)
        return;
    if (keyKind_ == kUndecided)
        keyKind_ = kTextKeys;
    if (keyKind_ != kTextKeys)
        return;

    auto* element = new NSDictElement();
    storeKey(element, key);
    NSDictElement* existing = nullptr;
    HASH_FIND(hh, elements_, element->key, static_cast<unsigned>(element->keyLength), existing);
    if (existing && existing->object == object) {
        delete element;
        return;
    }
    if (existing)
        replaceElement(existing, element, object);
    else {
        element->object = object;
        object->retain();
    }
    HASH_ADD_KEYPTR(hh, elements_, element->key, static_cast<unsigned>(element->keyLength), element);
}

void NSDictionary::setObject(Ref* object, intptr_t key)
{
    if (!object)
        return;
    if (keyKind_ == kUndecided)
        keyKind_ = kIntKeys;
    if (keyKind_ != kIntKeys)
        return;

    NSDictElement* existing = nullptr;
    HASH_FIND(hh, elements_, &key, sizeof key, existing);
    if (existing && existing->object == object)
        return;
    auto* element = new NSDictElement();
    element->intKey = key;
    if (existing)
        replaceElement(existing, element, object);
    else {
        element->object = object;
        object->retain();
    }
    HASH_ADD(hh, elements_, intKey, sizeof(intptr_t), element);
}

void NSDictionary::removeAllObjects()
{
    NSDictElement* element = nullptr;
    NSDictElement* next = nullptr;
    HASH_ITER(hh, elements_, element, next) {
        HASH_DEL(elements_, element);
        deleteElement(element);
    }
    elements_ = nullptr;
}

NSDictionary* NSDictionary::clone() const
{
    auto* copy = new NSDictionary();
    copy->autorelease();
    NSDictElement* element = nullptr;
    NSDictElement* next = nullptr;
    HASH_ITER(hh, elements_, element, next) {
        auto* clonable = dynamic_cast<Clonable*>(element->object);
        if (!clonable)
            continue;
        Ref* object = dynamic_cast<Ref*>(clonable->clone());
        if (!object)
            continue;
        if (keyKind_ == kIntKeys)
            copy->setObject(object, element->intKey);
        else
            copy->setObject(object, std::string(element->key, element->keyLength));
    }
    return copy;
}

} // namespace NSUI
