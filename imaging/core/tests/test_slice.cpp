// The slice pass-through: a private copy of its input's first slice.
#include "isImageSlice.h"
#include "support/ImageFixtures.h"

#include <gtest/gtest.h>

using namespace isImageSDK;

TEST(ImageSlice, CopiesTheWholeRecordAndRefreshesTheFirstFrame)
{
    qvtest::PoolScope scope;
    isImageSlice* slice = isImageSlice::create();
    isImageData* empty = isImageData::create();
    slice->setInput(empty);
    EXPECT_EQ(slice->getOutputData()->getSlice(0), nullptr);

    isImageData* image = isImageData::create();
    const int size[2] = {3, 2};
    const float sp[2] = {0.5f, 0.5f};
    isSliceInfo* src = image->addSlice(size, 3, sp, PIXEL_I16, 0, 0, cocos2d::Mat4());
    src->filePath = "x.dcm";
    auto* px = reinterpret_cast<int16_t*>(src->pixels);
    for (int i = 0; i < 18; ++i)
        px[i] = static_cast<int16_t>(i);
    slice->setInput(image);
    isSliceInfo* out = slice->getOutputData()->getSlice(0);
    ASSERT_NE(out, nullptr);
    EXPECT_NE(out->pixels, src->pixels);
    EXPECT_EQ(out->frames, 3);
    EXPECT_EQ(out->filePath, "x.dcm");
    const auto* copy = reinterpret_cast<const int16_t*>(out->pixels);
    for (int i = 0; i < 18; ++i)
        ASSERT_EQ(copy[i], i);

    // A data change refreshes only the first frame; the record stays the same object.
    for (int i = 0; i < 18; ++i)
        px[i] = static_cast<int16_t>(100 + i);
    const unsigned generation = slice->getOutputData()->getGeneration();
    slice->setDataModified(true);
    out = slice->getOutputData()->getSlice(0);
    EXPECT_EQ(slice->getOutputData()->getGeneration(), generation);
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(copy[i], 100 + i);
    for (int i = 6; i < 18; ++i)
        ASSERT_EQ(copy[i], i);

    // An information change rebuilds the record: its generation moves on.
    slice->setInformationModified(true);
    out = slice->getOutputData()->getSlice(0);
    EXPECT_NE(slice->getOutputData()->getGeneration(), generation);
    EXPECT_EQ(reinterpret_cast<const int16_t*>(out->pixels)[17], 117);
}
