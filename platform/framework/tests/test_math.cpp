// Matrix storage order and transforms, vectors, rectangles and colours.
#include <gtest/gtest.h>

#include <cmath>

#include "cocos2d.h"

USING_NS_CC;

namespace {
constexpr float kPi = 3.14159265358979f;

void expectNear(const Vec3& a, const Vec3& b, float eps = 1e-5f)
{
    EXPECT_NEAR(a.x, b.x, eps);
    EXPECT_NEAR(a.y, b.y, eps);
    EXPECT_NEAR(a.z, b.z, eps);
}
} // namespace

TEST(Mat4Test, SixteenValueConstructorTakesRows)
{
    const Mat4 m(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    EXPECT_EQ(m.m[0], 0);
    EXPECT_EQ(m.m[1], 4);
    EXPECT_EQ(m.m[2], 8);
    EXPECT_EQ(m.m[3], 12);
    EXPECT_EQ(m.m[4], 1);
    EXPECT_EQ(m.m[15], 15);

    // A row-major patient-space matrix as a cache file stores it: rotation about z by 90 degrees,
    // scaled by the spacing (0.5, 2, 3), translated to (10, 20, 30).
    const float rowMajor[16] = {0, -2, 0, 10, 0.5f, 0, 0, 20, 0, 0, 3, 30, 0, 0, 0, 1};
    const Mat4 fromRows(rowMajor[0], rowMajor[1], rowMajor[2], rowMajor[3], rowMajor[4], rowMajor[5], rowMajor[6],
                        rowMajor[7], rowMajor[8], rowMajor[9], rowMajor[10], rowMajor[11], rowMajor[12],
                        rowMajor[13], rowMajor[14], rowMajor[15]);
    Mat4 built;
    Mat4::createTranslation(10, 20, 30, &built);
    built.rotateZ(kPi / 2);
    built.scale(0.5f, 2, 3);
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(fromRows.m[i], built.m[i], 1e-6f) << "element " << i;
    }
    EXPECT_EQ(fromRows.getTranslation(), Vec3(10, 20, 30));
    Vec3 p(2, 1, 1); // index (2, 1, 1) -> (10 - 2*1, 20 + 0.5*2, 30 + 3)
    fromRows.transformPoint(&p);
    expectNear(p, Vec3(8, 21, 33));
    EXPECT_TRUE(Mat4().isIdentity());
    EXPECT_EQ(Mat4(), Mat4::IDENTITY);
}

TEST(Mat4Test, InverseRoundTripAndSingular)
{
    Mat4 m;
    Mat4::createRotation(Vec3(1, 2, 3), 0.7f, &m);
    m.translate(5, -3, 2);
    m.scale(2, 3, 4);
    const Mat4 inv = m.getInversed();
    const Mat4 product = m * inv;
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(product.m[i], Mat4::IDENTITY.m[i], 1e-5f);
    }

    Mat4 singular(1, 2, 3, 4, 2, 4, 6, 8, 0, 0, 1, 0, 0, 0, 0, 1);
    const Mat4 before = singular;
    EXPECT_FALSE(singular.inverse());
    EXPECT_EQ(singular, before);
    EXPECT_EQ(singular.getInversed(), before);
}

TEST(Mat4Test, ProjectionsAndLookAt)
{
    Mat4 p;
    Mat4::createPerspective(90.0f, 2.0f, 1.0f, 100.0f, &p); // degrees
    EXPECT_NEAR(p.m[5], 1.0f, 1e-6f);
    EXPECT_NEAR(p.m[0], 0.5f, 1e-6f);
    EXPECT_EQ(p.m[11], -1.0f);
    // The near plane maps to -1 and the far plane to +1 in NDC.
    Vec4 nearPt(0, 0, -1, 1), farPt(0, 0, -100, 1);
    p.transformVector(&nearPt);
    p.transformVector(&farPt);
    EXPECT_NEAR(nearPt.z / nearPt.w, -1.0f, 1e-5f);
    EXPECT_NEAR(farPt.z / farPt.w, 1.0f, 1e-4f);

    Mat4 o;
    Mat4::createOrthographicOffCenter(0, 200, 0, 100, -1, 1, &o);
    Vec3 corner(200, 100, 0);
    o.transformPoint(&corner);
    expectNear(corner, Vec3(1, 1, 0));

    Mat4 view;
    Mat4::createLookAt(Vec3(0, 0, 10), Vec3::ZERO, Vec3::UNIT_Y, &view);
    Vec3 origin = Vec3::ZERO;
    view.transformPoint(&origin);
    expectNear(origin, Vec3(0, 0, -10)); // in front of the camera, down its -z axis
}

TEST(Mat4Test, PointsVersusVectorsAndOrder)
{
    Mat4 t;
    Mat4::createTranslation(1, 2, 3, &t);
    Vec3 point(1, 1, 1), vector(1, 1, 1);
    t.transformPoint(&point);
    t.transformVector(&vector);
    expectNear(point, Vec3(2, 3, 4));
    expectNear(vector, Vec3(1, 1, 1));

    Mat4 r;
    Mat4::createRotationZ(kPi / 2, &r);
    Vec3 x = Vec3::UNIT_X;
    r.transformVector(&x);
    expectNear(x, Vec3(0, 1, 0)); // counter-clockwise

    // T * R: rotate first, then translate.
    Vec3 q = Vec3::UNIT_X;
    (t * r).transformPoint(&q);
    expectNear(q, Vec3(1, 3, 3));

    Quaternion quat(Vec3::UNIT_Z, kPi / 2);
    Mat4 fromQuat;
    Mat4::createRotation(quat, &fromQuat);
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(fromQuat.m[i], r.m[i], 1e-6f);
    }
    expectNear(quat * Vec3::UNIT_X, Vec3(0, 1, 0));

    Mat4 trs;
    Mat4::createTranslation(4, 5, 6, &trs);
    trs.rotate(quat);
    trs.scale(2);
    Vec3 s, tr;
    Quaternion rot;
    ASSERT_TRUE(trs.decompose(&s, &rot, &tr));
    expectNear(s, Vec3(2, 2, 2));
    expectNear(tr, Vec3(4, 5, 6));
    EXPECT_NEAR(std::fabs(rot.w), std::fabs(quat.w), 1e-5f);
    EXPECT_NEAR(std::fabs(rot.z), std::fabs(quat.z), 1e-5f);
}

TEST(VecTest, VectorOperations)
{
    Vec3 a(1, 0, 0), b(0, 1, 0);
    Vec3 c;
    Vec3::cross(a, b, &c);
    EXPECT_EQ(c, Vec3(0, 0, 1));
    EXPECT_FLOAT_EQ(Vec3(3, 4, 0).length(), 5.0f);
    EXPECT_FLOAT_EQ(Vec3(3, 4, 0).getNormalized().x, 0.6f);
    Vec3 zero;
    zero.normalize();
    EXPECT_TRUE(zero.isZero());
    EXPECT_FLOAT_EQ(Vec2(0, 0).distance(Vec2(3, 4)), 5.0f);
    EXPECT_EQ(Vec2::ANCHOR_MIDDLE_TOP, Vec2(0.5f, 1.0f));
    EXPECT_EQ(Vec2(1, 2) * 2.0f + Vec2(1, 1), Vec2(3, 5));
}

TEST(RectTest, EdgesAreInclusive)
{
    const Rect r(10, 20, 100, 50);
    EXPECT_TRUE(r.containsPoint(Vec2(10, 20)));
    EXPECT_TRUE(r.containsPoint(Vec2(110, 70)));
    EXPECT_FALSE(r.containsPoint(Vec2(110.01f, 70)));
    EXPECT_TRUE(r.intersectsRect(Rect(110, 70, 5, 5))); // touching corners
    EXPECT_FALSE(r.intersectsRect(Rect(111, 70, 5, 5)));
    EXPECT_EQ(r.unionWithRect(Rect(0, 0, 5, 5)), Rect(0, 0, 110, 70));
    EXPECT_FLOAT_EQ(r.getMidX(), 60.0f);
    EXPECT_FLOAT_EQ(r.getMaxY(), 70.0f);
}

TEST(ColorTest, ConversionsAndConstants)
{
    EXPECT_EQ(Color4B(Color4F::GREEN), Color4B(0, 255, 0, 255));
    EXPECT_EQ(Color3B(Color4B(1, 2, 3, 4)), Color3B(1, 2, 3));
    EXPECT_EQ(Color4F(Color3B::WHITE), Color4F::WHITE);
    EXPECT_FLOAT_EQ(Color4F(Color4B(0, 0, 0, 51)).a, 0.2f);
    EXPECT_EQ(BlendFunc::ALPHA_PREMULTIPLIED.src, static_cast<GLenum>(GL_ONE));
    EXPECT_EQ(BlendFunc::ALPHA_PREMULTIPLIED.dst, static_cast<GLenum>(GL_ONE_MINUS_SRC_ALPHA));
    EXPECT_EQ(sizeof(V3F_C4B_T2F), 24u);
}
