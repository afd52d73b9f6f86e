// Helpers that build images for the pipeline tests. Every test that creates autoreleased
// objects holds a PoolScope so they are released when it ends.
#pragma once

#include "SliceReference.h"
#include "isImageData.h"

#include "cocos2d.h"

#include <cstring>

namespace qvtest {

struct PoolScope {
    cocos2d::AutoreleasePool pool;
};

// A retained volume image holding the samples of `vol`, voxel (i, j, k) at
// matrix * (i * sp[0], j * sp[1], k * sp[2]).
template <class T>
isImageSDK::isImageData* makeVolumeImage(const Volume<T>& vol, int pixelType, const float sp[3],
                                         const cocos2d::Mat4& matrix = cocos2d::Mat4())
{
    auto* image = isImageSDK::isImageData::create();
    image->retain();
    const int dims[3] = {vol.nx, vol.ny, vol.nz};
    if (!image->allocateVolume(dims, sp, pixelType, 0, 0, matrix))
        return image;
    for (int k = 0; k < vol.nz; ++k)
        std::memcpy(image->getSlices()[k]->pixels, vol.slice(k), sizeof(T) * vol.nx * vol.ny);
    return image;
}

inline cocos2d::Mat4 columnsMatrix(const float c0[3], const float c1[3], const float c2[3], const float c3[3])
{
    cocos2d::Mat4 m;
    for (int r = 0; r < 3; ++r) {
        m.m[0 + r] = c0[r];
        m.m[4 + r] = c1[r];
        m.m[8 + r] = c2[r];
        m.m[12 + r] = c3[r];
    }
    return m;
}

} // namespace qvtest
