// The image container: volume and series allocation, the single-block limit, copies and the
// record generation.
#include "isImageData.h"
#include "support/ImageFixtures.h"

#include <gtest/gtest.h>

#include <limits>

using namespace isImageSDK;

TEST(ImageData, VolumesShareOneClearedBlockAndSingleSlicesOwnTheirBuffer)
{
    qvtest::PoolScope scope;
    isImageData* image = isImageData::create();
    cocos2d::Mat4 m;
    cocos2d::Mat4::createTranslation(10, 20, 30, &m);
    const int dims[3] = {4, 3, 5};
    const float sp[3] = {0.5f, 0.75f, 2.0f};
    ASSERT_TRUE(image->allocateVolume(dims, sp, PIXEL_I16, 1, 0, m));
    EXPECT_TRUE(image->isVolume());
    EXPECT_TRUE(image->getSlicesShareVoxels());
    auto* voxels = static_cast<unsigned char*>(image->getVoxelPointer());
    ASSERT_NE(voxels, nullptr);
    for (int k = 0; k < 5; ++k) {
        const isSliceInfo* s = image->getSlice(k);
        EXPECT_EQ(s->pixels, voxels + k * 4 * 3 * 2);
        // Slice k lies k * spacing z along the volume's normal.
        EXPECT_FLOAT_EQ(s->matrix.m[14], 30.0f + 2.0f * k);
        EXPECT_EQ(s->posture, 1);
    }
    for (int i = 0; i < 4 * 3 * 5 * 2; ++i)
        ASSERT_EQ(voxels[i], 0);
    EXPECT_EQ(image->getSlice(-1), nullptr);
    EXPECT_EQ(image->getSlice(5), nullptr);

    // Depth 1 gives a series of one slice with its own buffer.
    const int one[3] = {4, 3, 1};
    ASSERT_TRUE(image->allocateVolume(one, sp, PIXEL_U8, 0, 0, m));
    EXPECT_FALSE(image->isVolume());
    EXPECT_EQ(image->getVoxelPointer(), nullptr);
    EXPECT_EQ(image->getSliceCount(), 1);
    EXPECT_NE(image->getSlice(0)->pixels, nullptr);

    // No depth, or a size that is not positive: nothing is allocated.
    const int none[3] = {4, 3, 0};
    EXPECT_FALSE(image->allocateVolume(none, sp, PIXEL_U8, 0, 0, m));
    const int negative[3] = {-4, 3, 2};
    EXPECT_FALSE(image->allocateVolume(negative, sp, PIXEL_U8, 0, 0, m));
    EXPECT_EQ(image->getSliceCount(), 0);
    EXPECT_FALSE(image->hasSlices());
}

TEST(ImageData, BuffersAtTheBlockLimitAreNeverOneAllocation)
{
    qvtest::PoolScope scope;
    isImageData* image = isImageData::create();
    // 512 x 512 x 1200 signed 16-bit is 629,145,600 bytes: separate slice buffers, still a
    // volume, without a voxel block.
    const int dims[3] = {512, 512, 1200};
    const float sp[3] = {1, 1, 1};
    ASSERT_TRUE(image->allocateVolume(dims, sp, PIXEL_I16, 0, 0, cocos2d::Mat4()));
    EXPECT_TRUE(image->isVolume());
    EXPECT_FALSE(image->getSlicesShareVoxels());
    EXPECT_EQ(image->getVoxelPointer(), nullptr);
    EXPECT_NE(image->getSlice(1199)->pixels, nullptr);
    EXPECT_NE(image->getSlice(0)->pixels, image->getSlice(1)->pixels);
    image->releaseData();
    image->resetGeometry();

    // Float slices: 151,844,024 pixels (607,376,096 bytes) are refused outright.
    const float sp2[2] = {1, 1};
    const int tooBig[2] = {151844024, 1};
    EXPECT_EQ(image->addSlice(tooBig, 1, sp2, PIXEL_FLOAT, 0, 0, cocos2d::Mat4()), nullptr);
    EXPECT_EQ(image->getSliceCount(), 0);
    EXPECT_FALSE(image->hasSlices());
    int d[3];
    image->getDimensions(d);
    EXPECT_EQ(d[2], 0);
    // Frames count into the size.
    const int half[2] = {75922012, 1};
    EXPECT_EQ(image->addSlice(half, 2, sp2, PIXEL_FLOAT, 0, 0, cocos2d::Mat4()), nullptr);
    // Damaged sizes are refused without an allocation.
    const int negative[2] = {-5, 10};
    EXPECT_EQ(image->addSlice(negative, 1, sp2, PIXEL_U8, 0, 0, cocos2d::Mat4()), nullptr);
    EXPECT_EQ(image->addSlice(half, -1, sp2, PIXEL_U8, 0, 0, cocos2d::Mat4()), nullptr);
    EXPECT_EQ(image->getSliceCount(), 0);

    // Sizes whose byte count wraps around 64 bits (2^30 x 2^30 x 4 frames x 4 bytes is 2^64,
    // that is 0) are refused, never a zero-byte buffer behind a huge slice.
    const int wrapping[2] = {1 << 30, 1 << 30};
    EXPECT_EQ(image->addSlice(wrapping, 4, sp2, PIXEL_FLOAT, 0, 0, cocos2d::Mat4()), nullptr);
    EXPECT_EQ(image->getSliceCount(), 0);
    const int wrappingStack[3] = {1 << 30, 1 << 30, 4};
    EXPECT_FALSE(image->allocateVolume(wrappingStack, sp, PIXEL_FLOAT, 0, 0, cocos2d::Mat4()));
    EXPECT_EQ(image->getSliceCount(), 0);
    EXPECT_EQ(image->getVoxelPointer(), nullptr);
}

TEST(ImageData, SliceCopiesTakeGeometryDescriptionAndPixels)
{
    qvtest::PoolScope scope;
    isImageData* image = isImageData::create();
    isSliceInfo source;
    source.columns = 3, source.rows = 2, source.frames = 2;
    source.pixelType = PIXEL_U16;
    source.spacingX = 0.3f, source.spacingY = 0.4f;
    source.filePath = "a/b.dcm";
    source.modality = MODALITY_CT;
    source.windowWidth = 400, source.windowCenter = 40;
    source.representation = 2;
    source.acquisitionTime[0] = 2020;
    source.scanOptions = "HELICAL";
    source.extraValues[0] = 77;
    std::vector<uint16_t> pixels(12);
    for (int i = 0; i < 12; ++i)
        pixels[i] = static_cast<uint16_t>(1000 + i);
    source.pixels = reinterpret_cast<unsigned char*>(pixels.data());

    const unsigned generation = image->getGeneration();
    isSliceInfo* copy = image->addSliceCopy(&source);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(image->getGeneration(), generation);
    EXPECT_NE(copy->pixels, source.pixels);
    EXPECT_EQ(std::memcmp(copy->pixels, source.pixels, 24), 0);  // both frames
    EXPECT_EQ(copy->filePath, "a/b.dcm");
    EXPECT_EQ(copy->frames, 2);
    EXPECT_FLOAT_EQ(copy->spacingY, 0.4f);
    EXPECT_EQ(copy->acquisitionTime[0], 2020);
    EXPECT_EQ(copy->scanOptions, "HELICAL");
    EXPECT_EQ(copy->extraValues[0], 77);
    EXPECT_EQ(copy->pixelsLoaded, 1);
    EXPECT_TRUE(image->isMonochrome1());

    // Pixels the series loader has not delivered yet (it may be writing them) are not copied.
    source.pixelsLoaded = 0;
    isSliceInfo* pending = image->addSliceCopy(&source);
    ASSERT_NE(pending, nullptr);
    EXPECT_EQ(pending->pixelsLoaded, 0);
    EXPECT_EQ(std::vector<unsigned char>(pending->pixels, pending->pixels + 24), std::vector<unsigned char>(24, 0));
    source.pixelsLoaded = 1;
    float w = 0, c = 0;
    image->getDefaultWindow(&w, &c);
    EXPECT_FLOAT_EQ(w, 400);
    EXPECT_FLOAT_EQ(c, 40);

    // A record without pixels gives a zero-filled copy.
    source.pixels = nullptr;
    isSliceInfo* zero = image->addSliceCopy(&source);
    ASSERT_NE(zero, nullptr);
    for (int i = 0; i < 24; ++i)
        ASSERT_EQ(zero->pixels[i], 0);

    // copyInfo leaves geometry, pixels and the loaded flag alone.
    isSliceInfo target;
    target.columns = 9;
    target.pixelsLoaded = 1;
    target.copyInfo(source);
    EXPECT_EQ(target.columns, 9);
    EXPECT_EQ(target.pixelsLoaded, 1);
    EXPECT_EQ(target.filePath, "a/b.dcm");

    // An empty image leaves the default window untouched.
    isImageData* empty = isImageData::create();
    w = -7;
    empty->getDefaultWindow(&w, &c);
    EXPECT_FLOAT_EQ(w, -7);
    EXPECT_FALSE(empty->isMonochrome1());
    for (int r : {0, 1}) {
        source.representation = r;
        isImageData* one = isImageData::create();
        one->addSliceCopy(&source);
        EXPECT_FALSE(one->isMonochrome1());
    }
}
