// Geometry helpers: documented values and round trips between poses and Euler angles.
#include "isGeometry.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace isImageSDK;
using cocos2d::Mat4;
using cocos2d::Vec3;

TEST(Geometry, PointsLinesAndPlanes)
{
    EXPECT_FLOAT_EQ(distancePointToLine(0, 5, 0, 0, 0, 0, 2, 0, 0), 5.0f);
    EXPECT_NEAR(distancePointToLine(1, 1, 0, 0, 0, 0, 1, 1, 0), 0.0f, 1e-6);
    float x, y, z;
    projectPointOnLine(1, 1, 1, 5, 3, 9, 0, 0, 2, &x, &y, &z);
    EXPECT_FLOAT_EQ(x, 1);
    EXPECT_FLOAT_EQ(y, 1);
    EXPECT_FLOAT_EQ(z, 9);

    double px, py, pz;
    ASSERT_TRUE(intersectLinePlane(1, 2, 3, 0, 0, 1, 0, 0, 1, 10, &px, &py, &pz));
    EXPECT_DOUBLE_EQ(px, 1);
    EXPECT_DOUBLE_EQ(py, 2);
    EXPECT_DOUBLE_EQ(pz, 10);
    // A line parallel to the plane has no intersection and leaves the outputs alone.
    px = 42;
    EXPECT_FALSE(intersectLinePlane(1, 2, 3, 1, 0, 0, 0, 0, 1, 10, &px, &py, &pz));
    EXPECT_EQ(px, 42);
}

TEST(Geometry, PosesAndEulerAnglesRoundTrip)
{
    double ax, ay, az;
    matrixToEulerAngles(Mat4(), &ax, &ay, &az);
    EXPECT_NEAR(ax, 0, 1e-9);
    EXPECT_NEAR(ay, 0, 1e-9);
    EXPECT_NEAR(az, 0, 1e-9);
    Mat4 rz;
    Mat4::createRotationZ(static_cast<float>(M_PI / 2), &rz);
    matrixToEulerAngles(rz, &ax, &ay, &az);
    EXPECT_NEAR(az, 90, 1e-4);

    Mat4 pose;
    makePoseMatrix(Vec3(1, 2, 3), 0, 0, 0, &pose);
    EXPECT_TRUE(Mat4(pose.m[0], pose.m[4], pose.m[8], 0, pose.m[1], pose.m[5], pose.m[9], 0, pose.m[2], pose.m[6],
                     pose.m[10], 0, 0, 0, 0, 1)
                    .isIdentity());
    EXPECT_FLOAT_EQ(pose.m[12], 1);
    EXPECT_FLOAT_EQ(pose.m[14], 3);

    // Angles in the main range come back from the pose they make.
    makePoseMatrix(Vec3(0, 0, 0), 20, -35, 70, &pose);
    matrixToEulerAngles(pose, &ax, &ay, &az);
    EXPECT_NEAR(ax, 20, 1e-3);
    EXPECT_NEAR(ay, -35, 1e-3);
    EXPECT_NEAR(az, 70, 1e-3);

    double q[7];
    eulerToQuaternion(4, 5, 6, 0, 0, 180, q);
    EXPECT_NEAR(q[3], 0, 1e-6);
    EXPECT_NEAR(std::fabs(q[6]), 1, 1e-6);

    Mat4 look;
    makeLookAtMatrix(Vec3(0, 0, 10), Vec3(0, 0, 0), Vec3(0, 1, 0), &look);
    EXPECT_TRUE(Mat4(look.m[0], look.m[4], look.m[8], 0, look.m[1], look.m[5], look.m[9], 0, look.m[2], look.m[6],
                     look.m[10], 0, 0, 0, 0, 1)
                    .isIdentity());
    EXPECT_FLOAT_EQ(look.m[14], 10);

    // Rotations multiply on the right: a quarter turn about X takes the Y column to Z.
    Mat4 m;
    rotateMatrixX(&m, M_PI / 2);
    EXPECT_NEAR(m.m[6], 1, 1e-6);
    rotateMatrixY(&m, M_PI / 2);
    EXPECT_NEAR(m.m[1], 1, 1e-6);  // X column = Rx * (0, 0, -1) = (0, 1, 0)
}
