// The maths of the framework layer: vectors, matrices, quaternions, sizes and rectangles.
// All of it is plain CPU code and may be used from any thread.
#pragma once

#include "math/CCGeometry.h"
#include "math/CCMathBase.h"
#include "math/Mat4.h"
#include "math/Quaternion.h"
#include "math/Vec2.h"
#include "math/Vec3.h"
#include "math/Vec4.h"
