#include "base/CCString.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

namespace cocos2d {

__String* __String::create(const std::string& str)
{
    __String* s = new (std::nothrow) __String(str);
    if (s) {
        s->autorelease();
    }
    return s;
}

__String* __String::createWithFormat(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (n > 0) {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), format, args);
        text.assign(buf.data(), static_cast<size_t>(n));
    }
    va_end(args);
    return create(text);
}

__String* __String::createWithData(const unsigned char* data, size_t length)
{
    return create(data ? std::string(reinterpret_cast<const char*>(data), length) : std::string());
}

int __String::intValue() const
{
    return std::atoi(_string.c_str());
}

unsigned int __String::uintValue() const
{
    return static_cast<unsigned int>(std::strtoul(_string.c_str(), nullptr, 10));
}

float __String::floatValue() const
{
    return static_cast<float>(std::atof(_string.c_str()));
}

double __String::doubleValue() const
{
    return std::atof(_string.c_str());
}

bool __String::boolValue() const
{
    return !(_string.empty() || _string == "0" || _string == "false");
}

bool __String::isEqual(const Ref* other) const
{
    const __String* s = dynamic_cast<const __String*>(other);
    return s && s->_string == _string;
}

__String* __String::clone() const
{
    return create(_string);
}

} // namespace cocos2d
