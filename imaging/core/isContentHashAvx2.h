// The content hash's routines (XXH3-64, see isSeriesCache.h) as a table, so that the same hashes
// can come from code compiled for AVX2 where the processor has it (about twice the speed on
// bytes in the cache) and from the system's library elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>

namespace isImageSDK {

struct HashRoutines {
    void* (*create)();
    void (*destroy)(void* state);
    void (*reset)(void* state);
    void (*update)(void* state, const void* data, size_t size);
    uint64_t (*digest)(const void* state);
    uint64_t (*withSeed)(const void* data, size_t size, uint64_t seed);
};

// The routines compiled for AVX2 (isContentHashAvx2.cpp, built with -mavx2 and nothing else
// in it), or null where they are not built. Only for a processor that runs AVX2.
const HashRoutines* avx2HashRoutines();

} // namespace isImageSDK
