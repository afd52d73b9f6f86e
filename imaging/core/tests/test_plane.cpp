// The orthogonal slicer as a filter: output geometry in patient space, slab planes near the
// ends of the stack, plane lookup, thickness rules, and series that are not volumes.
#include "isImagePlane.h"
#include "support/ImageFixtures.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace isImageSDK;

namespace {

// A volume whose matrix is not the identity, so that column swaps show.
cocos2d::Mat4 obliquePatientMatrix()
{
    const float c0[3] = {0, 1, 0}, c1[3] = {0, 0, -1}, c2[3] = {-1, 0, 0}, c3[3] = {100, -50, 20};
    return qvtest::columnsMatrix(c0, c1, c2, c3);
}

cocos2d::Vec3 pixelInPatient(const isSliceInfo* s, int c, int r)
{
    cocos2d::Vec3 p(c * s->spacingX, r * s->spacingY, 0);
    s->matrix.transformPoint(&p);
    return p;
}

cocos2d::Vec3 voxelInPatient(const cocos2d::Mat4& m, const float sp[3], int i, int j, int k)
{
    cocos2d::Vec3 p(i * sp[0], j * sp[1], k * sp[2]);
    m.transformPoint(&p);
    return p;
}

} // namespace

TEST(ImagePlane, EveryAxisPlacesItsPixelsWhereTheirVoxelsAre)
{
    qvtest::PoolScope scope;
    const auto vol = qvtest::randomVolume<int16_t>(7, 6, 5, 3, -100, 100);
    const float sp[3] = {0.5f, 0.8f, 2.5f};
    const cocos2d::Mat4 M = obliquePatientMatrix();
    isImageData* image = qvtest::makeVolumeImage(vol, PIXEL_I16, sp, M);
    for (isSliceInfo* s : image->getSlices())
        s->modality = MODALITY_MR;
    isImagePlane* plane = isImagePlane::create();
    plane->setInput(image);
    EXPECT_EQ(plane->getIndex(), 0);

    struct Case { int axis, index, cols, rows; };
    for (const Case& c : {Case{0, 3, 7, 6}, Case{1, 2, 5, 6}, Case{2, 4, 5, 7}}) {
        plane->setAxis(c.axis);
        plane->setIndex(c.index);
        plane->setModified();
        isSliceInfo* s = plane->getOutputData()->getSlice(0);
        ASSERT_NE(s, nullptr) << c.axis;
        ASSERT_EQ(s->columns, c.cols);
        ASSERT_EQ(s->rows, c.rows);
        EXPECT_EQ(s->modality, MODALITY_MR);
        const int16_t* px = reinterpret_cast<const int16_t*>(s->pixels);
        for (int r = 0; r < s->rows; ++r)
            for (int col = 0; col < s->columns; ++col) {
                int i, j, k;
                if (c.axis == 0) i = col, j = r, k = c.index;
                else if (c.axis == 1) i = vol.nx - 1 - c.index, j = r, k = col;
                else i = r, j = c.index, k = col;
                ASSERT_EQ(px[r * s->columns + col], vol.at(i, j, k));
                const cocos2d::Vec3 a = pixelInPatient(s, col, r), b = voxelInPatient(M, sp, i, j, k);
                ASSERT_NEAR(a.distance(b), 0.0f, 1e-3) << "axis " << c.axis << " pixel " << col << "," << r;
            }
        // The plane index of any point of the plane is the plane itself.
        const cocos2d::Vec3 p = pixelInPatient(s, 1, 1);
        EXPECT_EQ(plane->getSliceIndexOfPoint(p.x, p.y, p.z), c.index);
        EXPECT_EQ(plane->getSliceCount(), c.axis == 0 ? 5 : c.axis == 1 ? 7 : 6);
    }
    image->release();
}

TEST(ImagePlane, SlabsNearTheEndsCombineTheExistingPlanes)
{
    qvtest::PoolScope scope;
    qvtest::Volume<uint8_t> vol(3, 2, 100);
    for (int k = 0; k < 100; ++k)
        for (int i = 0; i < 6; ++i)
            vol.v[k * 6 + i] = static_cast<uint8_t>(k);
    const float sp[3] = {1, 1, 1};
    isImageData* image = qvtest::makeVolumeImage(vol, PIXEL_U8, sp);
    isImagePlane* plane = isImagePlane::create();
    plane->setInput(image);
    plane->setSlabThickness(5.0);  // 5 planes
    ASSERT_EQ(plane->getSlabCount(), 5);
    auto value = [&](int index, int mode) {
        plane->setIndex(index);
        plane->setSlabMode(mode);
        plane->setModified();
        return plane->getOutputData()->getSlice(0)->pixels[0];
    };
    // Index 1: slices 0 to 3; their average is (0 + 1 + 2 + 3) / 4.
    EXPECT_EQ(value(1, SLAB_MIN), 0);
    EXPECT_EQ(value(1, SLAB_MAX), 3);
    EXPECT_EQ(value(1, SLAB_AVERAGE), 1);
    EXPECT_EQ(value(1, SLAB_SUM), 6);
    // Index 98: slices 96 to 99.
    EXPECT_EQ(value(98, SLAB_MIN), 96);
    EXPECT_EQ(value(98, SLAB_MAX), 99);
    EXPECT_EQ(value(98, SLAB_SUM), 255);
    // Out-of-range indices leave the output empty.
    plane->setIndex(100);
    plane->setModified();
    EXPECT_EQ(plane->getOutputData()->getSlice(0), nullptr);
    plane->setIndex(-1);
    plane->setModified();
    EXPECT_EQ(plane->getOutputData()->getSlice(0), nullptr);
    image->release();
}

TEST(ImagePlane, ThicknessAndPointLookupSurviveDegenerateSpacing)
{
    qvtest::PoolScope scope;
    isImagePlane* plane = isImagePlane::create();
    EXPECT_EQ(plane->getSliceCount(), -1);
    EXPECT_EQ(plane->getSliceIndexOfPoint(0, 0, 0), -1);
    plane->setSlabThickness(10);  // no input: nothing
    EXPECT_EQ(plane->getSlabCount(), 1);

    qvtest::Volume<int16_t> vol(512, 2, 3);
    const float sp[3] = {1.0f, 1.0f, 2.5f};
    isImageData* image = qvtest::makeVolumeImage(vol, PIXEL_I16, sp);
    plane->setInput(image);
    plane->setSlabThickness(10.0);
    EXPECT_EQ(plane->getSlabCount(), 5);
    plane->setAxis(PLANE_REFORMAT1);
    plane->setSlabThickness(10.0);
    EXPECT_EQ(plane->getSlabCount(), 11);
    plane->setSlabThickness(1.9);
    EXPECT_EQ(plane->getSlabCount(), 1);
    plane->setSlabThickness(-7.0);
    EXPECT_EQ(plane->getSlabCount(), 1);
    // Axis 1 counts planes from the last column.
    EXPECT_EQ(plane->getSliceIndexOfPoint(511, 0, 0), 0);
    EXPECT_EQ(plane->getSliceIndexOfPoint(0, 0, 0), 511);
    EXPECT_EQ(plane->getSliceIndexOfPoint(NAN, 0, 0), -1);
    EXPECT_EQ(plane->getSliceIndexOfPoint(1e30, 0, 0), -1);
    image->release();

    // Coincident slices (spacing 0) never reach a division.
    const float flat[3] = {1.0f, 1.0f, 0.0f};
    isImageData* stack = qvtest::makeVolumeImage(vol, PIXEL_I16, flat);
    plane->setInput(stack);
    plane->setAxis(PLANE_ACQUIRED);
    plane->setSlabThickness(5.0);
    EXPECT_EQ(plane->getSlabCount(), 1);
    EXPECT_EQ(plane->getSliceIndexOfPoint(0, 0, 4), -1);
    stack->release();
}

TEST(ImagePlane, SeriesAndRgbVolumes)
{
    qvtest::PoolScope scope;
    // A series of two single slices of different sizes: only acquired planes, copied whole.
    isImageData* series = isImageData::create();
    const float sp[2] = {1, 1};
    const int a[2] = {4, 3}, b[2] = {2, 2};
    isSliceInfo* s0 = series->addSlice(a, 2, sp, PIXEL_U8, 0, 0, cocos2d::Mat4());
    isSliceInfo* s1 = series->addSlice(b, 1, sp, PIXEL_U8, 0, 0, cocos2d::Mat4());
    for (int i = 0; i < 24; ++i)
        s0->pixels[i] = static_cast<unsigned char>(i);
    std::memset(s1->pixels, 9, 4);
    isImagePlane* plane = isImagePlane::create();
    plane->setInput(series);
    plane->setSlabThickness(10.0);
    plane->setModified();
    isSliceInfo* out = plane->getOutputData()->getSlice(0);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->frames, 2);
    EXPECT_EQ(out->pixels[23], 23);
    EXPECT_EQ(plane->getSlabCount(), 1);
    plane->setIndex(1);
    plane->setModified();
    EXPECT_EQ(plane->getOutputData()->getSlice(0)->columns, 2);
    plane->setAxis(PLANE_REFORMAT1);
    plane->setModified();
    EXPECT_EQ(plane->getOutputData()->getSlice(0), nullptr);
    EXPECT_EQ(plane->getSliceCount(), 2);  // still answers the column count

    // RGB: triples unchanged, slab settings ignored.
    qvtest::Volume<uint8_t> rgb(3 * 4, 2, 3);  // 4 columns of 3 bytes
    for (size_t i = 0; i < rgb.v.size(); ++i)
        rgb.v[i] = static_cast<uint8_t>(i);
    isImageData* colour = isImageData::create();
    const int dims[3] = {4, 2, 3};
    const float sp3[3] = {1, 1, 1};
    ASSERT_TRUE(colour->allocateVolume(dims, sp3, PIXEL_RGB, 0, 0, cocos2d::Mat4()));
    for (int k = 0; k < 3; ++k)
        std::memcpy(colour->getSlices()[k]->pixels, rgb.slice(k), 24);
    plane->setInput(colour);
    plane->setAxis(PLANE_REFORMAT1);
    plane->setIndex(1);
    plane->setSlabMode(SLAB_SUM);
    plane->setSlabThickness(3.0);
    plane->setModified();
    isSliceInfo* cut = plane->getOutputData()->getSlice(0);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(plane->getSlabCount(), 1);
    for (int y = 0; y < 2; ++y)
        for (int k = 0; k < 3; ++k)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(cut->pixels[(y * 3 + k) * 3 + c], rgb.at((4 - 1 - 1) * 3 + c, y, k));
}
