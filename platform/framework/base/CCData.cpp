#include "base/CCData.h"

#include <cstdlib>
#include <cstring>

namespace cocos2d {

const Data Data::Null;

Data::Data(const Data& other)
{
    copy(other._bytes, other._size);
}

Data::Data(Data&& other) noexcept : _bytes(other._bytes), _size(other._size)
{
    other._bytes = nullptr;
    other._size = 0;
}

Data::~Data()
{
    clear();
}

Data& Data::operator=(const Data& other)
{
    if (this != &other) {
        copy(other._bytes, other._size);
    }
    return *this;
}

Data& Data::operator=(Data&& other) noexcept
{
    if (this != &other) {
        clear();
        _bytes = other._bytes;
        _size = other._size;
        other._bytes = nullptr;
        other._size = 0;
    }
    return *this;
}

void Data::copy(const unsigned char* bytes, ssize_t size)
{
    clear();
    if (bytes && size > 0) {
        _bytes = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(size)));
        if (_bytes) {
            std::memcpy(_bytes, bytes, static_cast<size_t>(size));
            _size = size;
        }
    }
}

void Data::fastSet(unsigned char* bytes, ssize_t size)
{
    if (bytes == _bytes) {
        _size = bytes ? size : 0;
        return;
    }
    clear();
    _bytes = bytes;
    _size = bytes ? size : 0;
}

void Data::clear()
{
    std::free(_bytes);
    _bytes = nullptr;
    _size = 0;
}

unsigned char* Data::takeBuffer(ssize_t* size)
{
    unsigned char* b = _bytes;
    if (size) {
        *size = _size;
    }
    _bytes = nullptr;
    _size = 0;
    return b;
}

} // namespace cocos2d
