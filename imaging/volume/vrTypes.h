// Plain records shared by the volume renderer's engine, its workers and its owner.
//
// Coordinate spaces used throughout the volume renderer:
// - patient space: millimetres, as the image's slice matrices give it;
// - volume space: millimetres from the centre of voxel (0, 0, 0) along the volume's own axes,
//   voxel (i, j, k) at (i * sx, j * sy, k * sz); the volume's orientation matrix maps volume
//   space to patient space;
// - voxel space: volume space divided by the spacing, so voxel (i, j, k) sits at (i, j, k).
// The engine's camera lives in volume space; rays are walked in voxel space.
#pragma once

#include <cstdint>
#include <string>

namespace isImageSDK {

// How the volume renderer turns samples into a colour.
enum VRRenderMode {
    RenderComposite = 0,      // front-to-back compositing through the window's transfer table
    RenderPreIntegrated = 1,  // compositing with the pre-integrated table of two samples
    RenderShaded = 2,         // pre-integrated compositing lit by a Phong light
    RenderMIP = 3,            // maximum intensity along the ray
};

// The volume as the engines see it: the owner's copy of the image's geometry. The voxel block
// is contiguous (slice after slice, row after row) and outlives every render that uses it.
struct vrVolumeDescriptor {
    const void* voxels = nullptr;
    int pixelType = 1;                  // PixelType code of isImageTypes.h
    int dimensions[3] = {0, 0, 0};      // columns, rows, slices
    float spacing[3] = {1, 1, 1};       // millimetres
    float matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};  // volume -> patient, column-major
    std::string name;                   // copied for the owner; the engines do not use them
    std::string description;
};

// The parts of a camera the engine renders with (volume space for the engines, patient space
// for a window's camera). Window (viewport) units: viewWidth x viewHeight.
struct vrCameraState {
    bool perspective = false;
    float fieldOfView = 60.0f;  // degrees, vertical
    float viewWidth = 1.0f;
    float viewHeight = 1.0f;
    float nearPlane = 1.0f;
    float farPlane = 1000.0f;
    float zoom = 1.0f;
    float eye[3] = {0, 0, -1};
    float target[3] = {0, 0, 0};
    float up[3] = {0, -1, 0};
    bool valid = false;  // false until a camera was given
};

// What a worker needs of one ray while it steps: all vectors in voxel space.
struct vrStepBlock {
    float step[3];          // one step: step length x direction / spacing
    int32_t limit;          // most steps the ray may take
    float stepLength;       // length of `step`
    float invStepLength;
    float direction[3];     // unit direction
    float farVector[3];     // limit x direction
    float nudge[3];         // a hundredth of a millimetre along the ray, halved, per axis in voxels
    float tolerance;        // 0.01 voxel
};

// One ray of a frame: where it starts (voxel space), how it steps and where its pixel is.
struct vrRayRecord {
    float start[3];
    vrStepBlock block;
    unsigned char* out;  // the ray's 3 bytes in the output image
};

class vrSpaceLeapingBase;

// The volume as the workers read it.
struct vrVolumeInfo {
    int nx = 0, ny = 0, nz = 0;
    int64_t nxyz = 0, nxy = 0;
    double invSpacing[3] = {1, 1, 1};
    double spacing[3] = {1, 1, 1};
    const void* voxels = nullptr;
    int pixelType = 1;
    vrSpaceLeapingBase* grid = nullptr;
    int trilinear = 1;
};

// The tables of a frame as the workers read them.
struct vrTableBlock {
    unsigned char background[3] = {0, 0, 0};
    float lowerBound = 0.0f;  // window centre - width / 2
    float levelScale = 1.0f;  // 255 / width
    const float* work = nullptr;  // 65,536 entries of A, R, G, B
    // Where each level of the window begins (vrLevelStarts), for integer and for float
    // samples; filled by the engine with the window. Maximum rays step over what cannot reach
    // the level above their maximum.
    bool levelStartsFilled = false;
    int32_t levelStarts[257] = {};
    float levelStartsFloat[257] = {};
};

// A finished frame: RGB, 3 bytes per pixel, rows from the top of the view down.
struct vrFrameBlock {
    int width = 0;
    int height = 0;
    float displayScaleX = 1.0f;  // viewport units per output pixel (inverse of output / viewport)
    float displayScaleY = 1.0f;
    const unsigned char* pixels = nullptr;
};

} // namespace isImageSDK
