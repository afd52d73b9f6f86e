// The plane cutter against the series loader: a column reformat cut over and over while a
// 60-slice series loads (the loader thread fills slices while the main thread cuts) never reads
// a slice being written, and a cut made during loading is made again until it equals the cut of
// the fully loaded volume.
#include "isBinReader.h"
#include "isImagePlane.h"
#include "support/IngestFixtures.h"

#include <cstring>
#include <vector>

using namespace isImageSDK;
using qvtest::Retained;

namespace {

class PlaneWhileLoading : public qvtest::IngestTest {};

std::vector<unsigned char> pixelsOf(isImageData* image)
{
    const isSliceInfo* slice = image->getSlice(0);
    if (!slice || !slice->pixels)
        return {};
    const size_t bytes = static_cast<size_t>(slice->columns) * slice->rows * bytesPerPixel(slice->pixelType);
    return std::vector<unsigned char>(slice->pixels, slice->pixels + bytes);
}

} // namespace

TEST_F(PlaneWhileLoading, AColumnCutDuringLoadingIsRaceFreeAndEndsComplete)
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

    Retained<isImagePlane> plane(isImagePlane::create());
    plane->setInput(volume);
    plane->setAxis(PLANE_REFORMAT1);
    plane->setIndex(64);
    plane->setModified();
    // The image actor's part: on every progress notice an incomplete cut is made again.
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        &recorder, nullptr,
        [&plane](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData*) {
            if (!plane->isCutComplete())
                plane->setDataModified(true);
        },
        NSUI::NOTIFY_LOAD_PROGRESS);

    int cuts = 0;
    ASSERT_TRUE(stepUntil([&] {
        plane->getOutputData()->update();
        ++cuts;
        return reader->isLoadComplete() && plane->isCutComplete();
    }));
    EXPECT_GT(cuts, 1);
    const std::vector<unsigned char> cut = pixelsOf(plane->getOutputData());

    // The same cut of the fully loaded volume.
    Retained<isImagePlane> fresh(isImagePlane::create());
    fresh->setInput(volume);
    fresh->setAxis(PLANE_REFORMAT1);
    fresh->setIndex(64);
    fresh->setModified();
    fresh->getOutputData()->update();
    EXPECT_TRUE(fresh->isCutComplete());
    const std::vector<unsigned char> expected = pixelsOf(fresh->getOutputData());
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(cut == expected) << "the cut made during loading was made again when its slices had arrived";
}
