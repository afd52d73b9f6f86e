// __String: a text held as a framework object (property-list scalars reach the program as these).
#pragma once

#include <string>

#include "base/CCRef.h"

namespace cocos2d {

class __String : public Ref, public Clonable {
public:
    __String() = default;
    explicit __String(const char* str) : _string(str ? str : "") {}
    explicit __String(const std::string& str) : _string(str) {}
    __String(const __String& other) : Ref(other), Clonable(other), _string(other._string) {}

    static __String* create(const std::string& str);
    static __String* createWithFormat(const char* format, ...) CC_FORMAT_PRINTF(1, 2);
    static __String* createWithData(const unsigned char* data, size_t length);

    const char* getCString() const { return _string.c_str(); }
    unsigned int length() const { return static_cast<unsigned int>(_string.length()); }
    int compare(const char* other) const { return _string.compare(other ? other : ""); }

    int intValue() const;              // atoi
    unsigned int uintValue() const;
    float floatValue() const;          // atof
    double doubleValue() const;
    bool boolValue() const;            // false for "", "0" and "false"

    bool isEqual(const Ref* other) const;

    __String* clone() const override; // autoreleased

    std::string _string;
};

} // namespace cocos2d
