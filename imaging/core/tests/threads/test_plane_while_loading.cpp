// The plane cutters against the series loader: a column reformat and an oblique plane cut over
// and over while a 60-slice series loads (the loader thread fills slices while the main thread
// cuts) never read a slice being written, and a cut made during loading is made again until it
// equals the cut of the fully loaded volume.
#include "isBinReader.h"
#include "isImagePlane.h"
#include "isImageReslice2D.h"
#include "support/IngestFixtures.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

using namespace isImageSDK;
using qvtest::Retained;

namespace {

std::vector<unsigned char> pixelsOf(isImageData* image)
{
    const isSliceInfo* slice = image->getSlice(0);
    if (!slice || !slice->pixels)
        return {};
    const size_t bytes = static_cast<size_t>(slice->columns) * slice->rows * bytesPerPixel(slice->pixelType);
    return std::vector<unsigned char>(slice->pixels, slice->pixels + bytes);
}

class CutWhileLoading : public qvtest::IngestTest {
protected:
    // Starts loading a 60-slice series; the volume the loader fills.
    isImageData* startLoading()
    {
        const std::string dir = folder("stack");
        qvgen::ImageSpec spec;
        spec.columns = 128;
        spec.rows = 96;
        spec.rescaleIntercept = "-1024";
        spec.rescaleSlope = "1";
        EXPECT_TRUE(qvgen::writeStack(dir, spec, 60, 2.0));
        EXPECT_TRUE(isDcmScan::createBuffer(dir));
        m_reader = std::make_unique<Retained<isBinReader>>(isBinReader::create());
        isBinReader* reader = m_reader->get();
        EXPECT_TRUE(reader->setFile(dir, isDcmScan::getBufferPathOfFolder(dir)));
        reader->update();  // the loader thread starts filling the slices
        isImageData* volume = reader->getOutputData();
        EXPECT_EQ(volume->getSliceCount(), 60);
        EXPECT_TRUE(volume->isVolume());
        return volume;
    }

    // Cuts with `filter` until loading has ended and the cut is complete, making an incomplete
    // cut again on every progress notice as the image actor does; the pixels of the last cut.
    std::vector<unsigned char> cutDuringLoading(isImageFilter* filter, const std::function<bool()>& complete)
    {
        NSUI::NSNotificationCenter::getInstance()->addObserver(
            &recorder, nullptr,
            [filter, complete](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData*) {
                if (!complete())
                    filter->setDataModified(true);
            },
            NSUI::NOTIFY_LOAD_PROGRESS);
        int cuts = 0;
        EXPECT_TRUE(stepUntil([&] {
            filter->getOutputData()->update();
            ++cuts;
            return (*m_reader)->isLoadComplete() && complete();
        }));
        EXPECT_GT(cuts, 1);
        return pixelsOf(filter->getOutputData());
    }

    std::unique_ptr<Retained<isBinReader>> m_reader;
};

// A plane turned 50 degrees about the column direction: it crosses every slice.
cocos2d::Mat4 tiltedAxes()
{
    cocos2d::Mat4 axes;
    cocos2d::Mat4::createRotationX(static_cast<float>(50.0 * M_PI / 180.0), &axes);
    return axes;
}

} // namespace

TEST_F(CutWhileLoading, AColumnCutDuringLoadingIsRaceFreeAndEndsComplete)
{
    isImageData* volume = startLoading();
    auto columnCut = [volume](isImagePlane* plane) {
        plane->setInput(volume);
        plane->setAxis(PLANE_REFORMAT1);
        plane->setIndex(64);
        plane->setModified();
    };
    Retained<isImagePlane> plane(isImagePlane::create());
    columnCut(plane.get());
    const std::vector<unsigned char> cut = cutDuringLoading(plane.get(), [&plane] { return plane->isCutComplete(); });

    // The same cut of the fully loaded volume.
    Retained<isImagePlane> fresh(isImagePlane::create());
    columnCut(fresh.get());
    fresh->getOutputData()->update();
    EXPECT_TRUE(fresh->isCutComplete());
    const std::vector<unsigned char> expected = pixelsOf(fresh->getOutputData());
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(cut == expected) << "the cut made during loading was made again when its slices had arrived";
}

TEST_F(CutWhileLoading, AnObliqueCutDuringLoadingIsRaceFreeAndEndsComplete)
{
    isImageData* volume = startLoading();
    auto obliqueCut = [volume](isImageReslice2D* reslice) {
        reslice->setInput(volume);
        reslice->setResliceAxes(tiltedAxes());
    };
    Retained<isImageReslice2D> reslice(isImageReslice2D::create());
    obliqueCut(reslice.get());
    const std::vector<unsigned char> cut =
        cutDuringLoading(reslice.get(), [&reslice] { return reslice->isCutComplete(); });

    Retained<isImageReslice2D> fresh(isImageReslice2D::create());
    obliqueCut(fresh.get());
    fresh->getOutputData()->update();
    EXPECT_TRUE(fresh->isCutComplete());
    const std::vector<unsigned char> expected = pixelsOf(fresh->getOutputData());
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(cut == expected) << "the cut made during loading was made again when its slices had arrived";
}
