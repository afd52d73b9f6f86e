// The oblique reslicer as a filter: output size and spacing from the axes, slab counts,
// background, agreement with the orthogonal slicer, and inputs it cannot sample.
#include "isImagePlane.h"
#include "isImageReslice2D.h"
#include "support/ImageFixtures.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace isImageSDK;

TEST(ImageReslice2D, IdentityAxesCutTheFirstSliceBetweenVoxelCentres)
{
    qvtest::PoolScope scope;
    const auto vol = qvtest::randomVolume<int16_t>(512, 512, 4, 21, -3000, 3000);
    const float sp[3] = {0.5f, 0.5f, 0.5f};
    isImageData* image = qvtest::makeVolumeImage(vol, PIXEL_I16, sp);
    isImageReslice2D* reslice = isImageReslice2D::create();
    reslice->setInput(image);
    EXPECT_FLOAT_EQ(reslice->getBackground(), -1024.0f);
    EXPECT_EQ(reslice->getWidth(), 511);
    EXPECT_EQ(reslice->getHeight(), 511);
    EXPECT_FLOAT_EQ(reslice->getSpacingX(), 0.5f);
    EXPECT_FLOAT_EQ(reslice->getSpacingY(), 0.5f);
    isSliceInfo* out = reslice->getOutputData()->getSlice(0);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(out->columns, 511);
    const int16_t* px = reinterpret_cast<const int16_t*>(out->pixels);
    for (int r = 0; r < 511; r += 7)
        for (int c = 0; c < 511; ++c)
            ASSERT_EQ(px[r * 511 + c], vol.at(c, r, 0)) << c << "," << r;
    image->release();
}

TEST(ImageReslice2D, RotatedAxesStepOneVoxelAlongTheDominantDirection)
{
    qvtest::PoolScope scope;
    qvtest::Volume<uint8_t> vol(20, 20, 20);
    const float sp[3] = {0.7f, 0.7f, 1.0f};
    isImageData* image = qvtest::makeVolumeImage(vol, PIXEL_U8, sp);
    isImageReslice2D* reslice = isImageReslice2D::create();
    reslice->setInput(image);
    EXPECT_FLOAT_EQ(reslice->getBackground(), 0.0f);
    cocos2d::Mat4 axes;
    cocos2d::Mat4::createRotationZ(static_cast<float>(M_PI / 4), &axes);
    reslice->setResliceAxes(axes);
    EXPECT_NEAR(reslice->getSpacingX(), 0.7f * std::sqrt(2.0f), 1e-5);
    EXPECT_NEAR(reslice->getSpacingY(), 0.7f * std::sqrt(2.0f), 1e-5);
    // The output's corner moved to the corner of the footprint: every corner of the volume
    // maps to x, y >= 0 in the plane's frame.
    cocos2d::Mat4 inverse = reslice->getResliceAxes().getInversed();
    cocos2d::Vec3 far(19 * 0.7f, 0, 0);
    inverse.transformPoint(&far);
    EXPECT_GE(far.x, -1e-4f);
    EXPECT_GE(far.y, -1e-4f);
    // Its patient matrix is the volume matrix times the axes.
    isSliceInfo* out = reslice->getOutputData()->getSlice(0);
    ASSERT_NE(out, nullptr);
    for (int i = 0; i < 16; ++i)
        EXPECT_FLOAT_EQ(out->matrix.m[i], reslice->getResliceAxes().m[i]);

    // Slab counts follow the base step.
    const float half[3] = {0.5f, 0.5f, 0.5f};
    isImageData* fine = qvtest::makeVolumeImage(vol, PIXEL_U8, half);
    reslice->setInput(fine);
    EXPECT_FLOAT_EQ(reslice->getBaseStep(), 0.5f);
    reslice->setSlabThickness(0.01f);
    EXPECT_EQ(reslice->getSlabCount(), 1);
    reslice->setSlabThickness(3.0f);
    EXPECT_EQ(reslice->getSlabCount(), 7);
    EXPECT_FLOAT_EQ(reslice->getSlabStep(), 0.5f);
    image->release();
    fine->release();
}

TEST(ImageReslice2D, SlabsSaturateAndPlanesLeavingTheVolumeGetTheBackground)
{
    qvtest::PoolScope scope;
    qvtest::Volume<uint8_t> vol(6, 5, 30);
    std::fill(vol.v.begin(), vol.v.end(), 200);
    const float sp[3] = {1, 1, 1};
    isImageData* image = qvtest::makeVolumeImage(vol, PIXEL_U8, sp);
    isImageReslice2D* reslice = isImageReslice2D::create();
    reslice->setInput(image);
    cocos2d::Mat4 axes;
    cocos2d::Mat4::createTranslation(0, 0, 15, &axes);
    reslice->setResliceAxes(axes);
    reslice->setSlabMode(SLAB_SUM);
    reslice->setSlabThickness(20.0f);  // 21 planes, spread over 20 mm
    EXPECT_EQ(reslice->getSlabCount(), 21);
    EXPECT_EQ(reslice->getOutputData()->getSlice(0)->pixels[0], 255);
    reslice->setSlabMode(SLAB_AVERAGE);
    reslice->setDataModified(true);
    EXPECT_EQ(reslice->getOutputData()->getSlice(0)->pixels[0], 200);

    // Signed 16-bit: a plane beyond the last slice is all background.
    qvtest::Volume<int16_t> ct(6, 5, 4);
    std::fill(ct.v.begin(), ct.v.end(), int16_t(40));
    isImageData* ctImage = qvtest::makeVolumeImage(ct, PIXEL_I16, sp);
    reslice->setInput(ctImage);
    reslice->setSlabThickness(0.01f);
    cocos2d::Mat4::createTranslation(0, 0, 50, &axes);
    reslice->setResliceAxes(axes);
    const isSliceInfo* out = reslice->getOutputData()->getSlice(0);
    ASSERT_NE(out, nullptr);
    const int16_t* px = reinterpret_cast<const int16_t*>(out->pixels);
    for (int i = 0; i < out->columns * out->rows; ++i)
        ASSERT_EQ(px[i], -1024);
    image->release();
    ctImage->release();
}

TEST(ImageReslice2D, AxesAlongTheGridEqualTheOrthogonalCuts)
{
    qvtest::PoolScope scope;
    const auto vol = qvtest::randomVolume<uint16_t>(23, 19, 13, 8, 0, 65535);
    const float sp[3] = {0.5f, 1.0f, 2.0f};
    isImageData* image = qvtest::makeVolumeImage(vol, PIXEL_U16, sp);
    isImagePlane* plane = isImagePlane::create();
    isImageReslice2D* reslice = isImageReslice2D::create();
    plane->setInput(image);
    reslice->setInput(image);
    for (int interpolation : {INTERPOLATION_LINEAR, INTERPOLATION_CUBIC}) {
        reslice->setInterpolation(interpolation);
        // Axis 2, row 7: output columns along z, rows along x, normal along y.
        const float c0[3] = {0, 0, 1}, c1[3] = {1, 0, 0}, c2[3] = {0, 1, 0}, o[3] = {0, 7 * sp[1], 0};
        reslice->setResliceAxes(qvtest::columnsMatrix(c0, c1, c2, o));
        plane->setAxis(PLANE_REFORMAT2);
        plane->setIndex(7);
        plane->setModified();
        const isSliceInfo* a = reslice->getOutputData()->getSlice(0);
        const isSliceInfo* b = plane->getOutputData()->getSlice(0);
        ASSERT_TRUE(a && b);
        // The reslicer's footprint ends at the last voxel centre: one column and row fewer.
        ASSERT_EQ(a->columns, b->columns - 1);
        ASSERT_EQ(a->rows, b->rows - 1);
        const uint16_t* pa = reinterpret_cast<const uint16_t*>(a->pixels);
        const uint16_t* pb = reinterpret_cast<const uint16_t*>(b->pixels);
        for (int r = 0; r < a->rows; ++r)
            for (int c = 0; c < a->columns; ++c)
                ASSERT_EQ(pa[r * a->columns + c], pb[r * b->columns + c]) << c << "," << r;
        // Both place their pixel (1, 1) at the same patient point.
        cocos2d::Vec3 pA(a->spacingX, a->spacingY, 0), pB(b->spacingX, b->spacingY, 0);
        a->matrix.transformPoint(&pA);
        b->matrix.transformPoint(&pB);
        EXPECT_NEAR(pA.distance(pB), 0.0f, 1e-4);
    }
    image->release();
}

TEST(ImageReslice2D, InputsWithoutASampleableVolumeGiveNoOutput)
{
    qvtest::PoolScope scope;
    isImageReslice2D* reslice = isImageReslice2D::create();
    EXPECT_EQ(reslice->getOutputData()->getSlice(0), nullptr);

    // A series (not a volume).
    isImageData* series = isImageData::create();
    const int size[2] = {4, 4};
    const float sp2[2] = {1, 1};
    series->addSlice(size, 1, sp2, PIXEL_I16, 0, 0, cocos2d::Mat4());
    reslice->setInput(series);
    EXPECT_EQ(reslice->getOutputData()->getSlice(0), nullptr);

    // An RGB volume.
    isImageData* rgb = isImageData::create();
    const int dims[3] = {4, 4, 3};
    const float sp[3] = {1, 1, 1};
    rgb->allocateVolume(dims, sp, PIXEL_RGB, 0, 0, cocos2d::Mat4());
    reslice->setBackground(5);
    reslice->setInput(rgb);
    EXPECT_FLOAT_EQ(reslice->getBackground(), 5);
    EXPECT_EQ(reslice->getOutputData()->getSlice(0), nullptr);

    // Coincident slices: spacing 0 along z never reaches a division.
    isImageData* flat = isImageData::create();
    const float zero[3] = {1, 1, 0};
    flat->allocateVolume(dims, zero, PIXEL_I16, 0, 0, cocos2d::Mat4());
    reslice->setInput(flat);
    reslice->setSlabThickness(5.0f);
    EXPECT_EQ(reslice->getOutputData()->getSlice(0), nullptr);

    // A singular axes matrix keeps the previous size and samples nothing out of bounds.
    qvtest::Volume<int16_t> vol(4, 4, 3);
    isImageData* image = qvtest::makeVolumeImage(vol, PIXEL_I16, sp);
    reslice->setInput(image);
    const float zeroAxes[16] = {};
    reslice->setResliceAxes(zeroAxes);
    const isSliceInfo* out = reslice->getOutputData()->getSlice(0);
    ASSERT_NE(out, nullptr);
    image->release();
}
