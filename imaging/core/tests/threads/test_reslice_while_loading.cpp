// The oblique reslicer against the series loader: a plane tilted through every slice, cut over
// and over while a 60-slice series loads (the loader thread fills slices while the main thread
// samples the block), never reads a slice being written, and a cut made during loading is made
// again until it equals the cut of the fully loaded volume.
#include "isBinReader.h"
#include "isImageReslice2D.h"
#include "support/IngestFixtures.h"

#include <cmath>
#include <vector>

using namespace isImageSDK;
using qvtest::Retained;

namespace {

class ResliceWhileLoading : public qvtest::IngestTest {};

std::vector<unsigned char> pixelsOf(isImageData* image)
{
    const isSliceInfo* slice = image->getSlice(0);
    if (!slice || !slice->pixels)
        return {};
    const size_t bytes = static_cast<size_t>(slice->columns) * slice->rows * bytesPerPixel(slice->pixelType);
    return std::vector<unsigned char>(slice->pixels, slice->pixels + bytes);
}

// A plane turned 50 degrees about the column direction: it crosses every slice.
cocos2d::Mat4 tiltedAxes()
{
    cocos2d::Mat4 axes;
    cocos2d::Mat4::createRotationX(static_cast<float>(50.0 * M_PI / 180.0), &axes);
    return axes;
}

} // namespace

TEST_F(ResliceWhileLoading, AnObliqueCutDuringLoadingIsRaceFreeAndEndsComplete)
{
    const std::string dir = folder("stack");
    qvgen::ImageSpec spec;
    spec.columns = 128;
    spec.rows = 96;
    spec.rescaleIntercept = "-1024";
    spec.rescaleSlope = "1";
    ASSERT_TRUE(qvgen::writeStack(dir, spec, 60, 2.0));
    ASSERT_TRUE(isDcmScan::createBuffer(dir));
    const std::string cache = isDcmScan::getBufferPathOfFolder(dir);

    Retained<isBinReader> reader(isBinReader::create());
    ASSERT_TRUE(reader->setFile(dir, cache));
    reader->update();  // the loader thread starts filling the slices
    isImageData* volume = reader->getOutputData();
    ASSERT_EQ(volume->getSliceCount(), 60);
    ASSERT_TRUE(volume->isVolume());

    Retained<isImageReslice2D> reslice(isImageReslice2D::create());
    reslice->setInput(volume);
    reslice->setResliceAxes(tiltedAxes());
    // The image actor's part: on every progress notice an incomplete cut is made again.
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        &recorder, nullptr,
        [&reslice](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData*) {
            if (!reslice->isCutComplete())
                reslice->setDataModified(true);
        },
        NSUI::NOTIFY_LOAD_PROGRESS);

    int cuts = 0;
    ASSERT_TRUE(stepUntil([&] {
        reslice->getOutputData()->update();
        ++cuts;
        return reader->isLoadComplete() && reslice->isCutComplete();
    }));
    EXPECT_GT(cuts, 1);
    const std::vector<unsigned char> cut = pixelsOf(reslice->getOutputData());

    // The same cut of the fully loaded volume.
    Retained<isImageReslice2D> fresh(isImageReslice2D::create());
    fresh->setInput(volume);
    fresh->setResliceAxes(tiltedAxes());
    fresh->getOutputData()->update();
    EXPECT_TRUE(fresh->isCutComplete());
    const std::vector<unsigned char> expected = pixelsOf(fresh->getOutputData());
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(cut == expected) << "the cut made during loading was made again when its slices had arrived";
}
