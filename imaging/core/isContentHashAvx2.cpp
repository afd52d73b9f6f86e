// XXH3 compiled for AVX2. This file is built with -mavx2, so nothing in it may run on a processor
// without AVX2: it includes only the hash (every function of which is static here, so none can
// stand in for a function of the same name elsewhere) and hands out a table of constants.
#include "isContentHashAvx2.h"

#if defined(__x86_64__) && defined(__AVX2__)
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace isImageSDK {

namespace {

void* create()
{
    return XXH3_createState();
}
void destroy(void* state)
{
    XXH3_freeState(static_cast<XXH3_state_t*>(state));
}
void reset(void* state)
{
    XXH3_64bits_reset(static_cast<XXH3_state_t*>(state));
}
void update(void* state, const void* data, size_t size)
{
    XXH3_64bits_update(static_cast<XXH3_state_t*>(state), data, size);
}
uint64_t digest(const void* state)
{
    return XXH3_64bits_digest(static_cast<const XXH3_state_t*>(state));
}
uint64_t withSeed(const void* data, size_t size, uint64_t seed)
{
    return XXH3_64bits_withSeed(data, size, seed);
}

constexpr HashRoutines kRoutines = {create, destroy, reset, update, digest, withSeed};

} // namespace

const HashRoutines* avx2HashRoutines()
{
    return &kRoutines;
}

} // namespace isImageSDK

#else

namespace isImageSDK {

const HashRoutines* avx2HashRoutines()
{
    return nullptr;
}

} // namespace isImageSDK

#endif
