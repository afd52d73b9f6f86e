// Data: an owned, malloc'd byte buffer (file contents, decoded payloads).
#pragma once

#include <cstddef>
#include <sys/types.h>

namespace cocos2d {

class Data {
public:
    static const Data Null;

    Data() = default;
    Data(const Data& other);
    Data(Data&& other) noexcept;
    ~Data();
    Data& operator=(const Data& other);
    Data& operator=(Data&& other) noexcept;

    unsigned char* getBytes() const { return _bytes; }
    ssize_t getSize() const { return _size; }
    // True when the buffer is empty (no bytes, or size 0).
    bool isNull() const { return _bytes == nullptr || _size == 0; }

    // Copies `size` bytes.
    void copy(const unsigned char* bytes, ssize_t size);
    // Takes over a malloc'd buffer without copying; it is freed with free().
    void fastSet(unsigned char* bytes, ssize_t size);
    void clear();
    // Hands the buffer to the caller (who frees it) and leaves this empty.
    unsigned char* takeBuffer(ssize_t* size = nullptr);

private:
    unsigned char* _bytes = nullptr;
    ssize_t _size = 0;
};

} // namespace cocos2d
