// Free functions of 3D geometry on points, lines, planes and matrices, shared by the folder
// scan, the sprite nodes, the camera and the viewers.
//
// Matrices are column-major (elements 0 to 3 are the first column). Rotation functions take
// radians; the Euler functions take and give degrees, converted with the 32-bit float value
// of pi (3.1415927410125732).
#pragma once

#include "cocos2d.h"

namespace isImageSDK {

// Distance of point p from the line through o along d (d need not be of unit length).
float distancePointToLine(float px, float py, float pz, float ox, float oy, float oz, float dx, float dy, float dz);

// Foot of the perpendicular from p onto the line through o along d.
void projectPointOnLine(float ox, float oy, float oz, float px, float py, float pz, float dx, float dy, float dz,
                        float* outX, float* outY, float* outZ);

// Where the line through o along d meets the plane of the points x with n . x = w. Returns
// false, leaving the outputs unchanged, when the line is parallel to the plane.
bool intersectLinePlane(double ox, double oy, double oz, double dx, double dy, double dz, double nx, double ny,
                        double nz, double w, double* outX, double* outY, double* outZ);

// Angles in degrees of the rotation Rz(z) * Ry(y) * Rx(x) held in the matrix's rotation part.
void matrixToEulerAngles(const cocos2d::Mat4& m, double* x, double* y, double* z);

// Camera-to-world matrix: columns right, true up, forward (eye - target), eye.
void makeLookAtMatrix(const cocos2d::Vec3& eye, const cocos2d::Vec3& target, const cocos2d::Vec3& up,
                      cocos2d::Mat4* out);

// matrix = matrix * rotation about X (resp. Y) by the angle in radians.
void rotateMatrixX(cocos2d::Mat4* matrix, double radians);
void rotateMatrixY(cocos2d::Mat4* matrix, double radians);

// out[0..2] = position, out[3..6] = quaternion w, x, y, z of Rz(az) * Ry(ay) * Rx(ax) (degrees).
void eulerToQuaternion(double x, double y, double z, double ax, double ay, double az, double out[7]);

// Rotation Rz(az) * Ry(ay) * Rx(ax) (degrees) with the position as translation.
void makePoseMatrix(const cocos2d::Vec3& position, double ax, double ay, double az, cocos2d::Mat4* out);

} // namespace isImageSDK
