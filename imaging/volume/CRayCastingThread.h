// CRayCastingThread: one worker of a frame of the volume renderer. It casts a range of the
// frame's ray records, writing three bytes of colour per ray, with the integrator of the
// engine's render mode (composite, pre-integrated, shaded or maximum intensity) and the
// sampler of its interpolation flag, reading the volume as its own sample type.
//
// The engine keeps one worker object per worker slot for its whole life and points it at the
// frame's tables before every frame; the worker only reads the engine's tables, volume and
// grid and writes its own rays' pixels. Each worker owns a copy of the light, because shading
// sets the light's material for every sample.
#pragma once

#include "cuLight.h"
#include "vrTypes.h"

#include <atomic>
#include <cstdint>

namespace isImageSDK {

// Clips the segment p0..p1 against the box (min x, max x, min y, max y, min z, max z);
// false when it misses (or the box is inverted). Entry and exit lie inside the box.
bool clipRayToBox(const float p0[3], const float p1[3], float entry[3], float exit[3], const float box[6]);

class CRayCastingThread {
public:
    CRayCastingThread() = default;
    virtual ~CRayCastingThread() = default;

    // Casts rays first..end-1 in order; returns early, leaving later pixels untouched, once the
    // cancel flag is set.
    void process();
    void castRange(int first, int end);

    vrRayRecord* rays = nullptr;
    int first = 0;
    int end = 0;
    int renderMode = RenderComposite;
    const vrVolumeInfo* volume = nullptr;
    const vrTableBlock* tables = nullptr;
    cuLight light;
    vrSpaceLeapingBase* grid = nullptr;
    const std::atomic<uint8_t>* cancel = nullptr;
    int perspective = 0;
    int index = 0;
};

// Whether trilinear composite and maximum rays of 16-bit volumes are cast eight at a time
// where the processor runs AVX2 (the default; the pixels are the same either way). Off, every
// ray is cast alone: for comparing the two in tests and benchmarks. Takes effect at the next
// frame.
void vrSetRayPackets(bool enabled);

// Whether rays step over the blocks of the empty-space grid that cannot change their pixel and
// end once nothing further can (the default). Off, every ray samples each step of its way
// through the grid's box (which still decides where the samples start): the plain renderer that
// skipping is checked against in tests and benchmarks. Takes effect at the next frame.
void vrSetSpaceLeaping(bool enabled);

} // namespace isImageSDK
