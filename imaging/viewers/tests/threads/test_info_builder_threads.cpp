// The information builder against viewers that go away while it reads: under ThreadSanitizer no
// race is reported, the JSON still lands on the image, and no viewer is told after its clean-up.
#include "support/ViewerRig.h"

#include "DicomSeriesWriter.h"
#include "isViewerImage.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace isImageSDK;

TEST(InformationBuilderThreads, ViewersDestroyedWhileTheBuilderRuns)
{
    cocos2d::Director::getInstance()->setOpenGLView(cocos2d::GLViewHeadless::create(cocos2d::Size(640, 480)));
    qvtest::ViewerRig rig;
    rig.start();
    const std::string path = cocos2d::FileUtils::getInstance()->getWritablePath() + "threads-info.dcm";
    qvgen::ImageSpec spec;
    ASSERT_TRUE(qvgen::writeDicomFile(path, spec));

    for (int round = 0; round < 8; ++round) {
        isImageData* image = isImageData::create();
        const int dims[3] = {8, 8, 4};
        const float spacing[3] = {1, 1, 1};
        image->allocateVolume(dims, spacing, PIXEL_I16, 0, 0, cocos2d::Mat4::IDENTITY);
        image->getSlices()[0]->filePath = path;
        image->retain();
        isViewerImage* kept = isViewerImage::create();
        kept->setContentSize(cocos2d::Size(200, 200));
        rig.scene->addChild(kept);
        rig.recorder->watch(NOTIFY_OVERLAY_INFO_READY, kept->getNotificationContext());
        for (int i = 0; i < 3; ++i) {
            isViewerImage* gone = isViewerImage::create();
            gone->setContentSize(cocos2d::Size(200, 200));
            rig.scene->addChild(gone);
            gone->setImageData(image);
            rig.remove(gone);
        }
        kept->setImageData(image);
        for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
             isViewerImage::getRunningBuilderCount() > 0 && std::chrono::steady_clock::now() < until;) {
            rig.frame();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        rig.frame(2);
        EXPECT_EQ(isViewerImage::getRunningBuilderCount(), 0);
        EXPECT_FALSE(image->getInfoJson()->empty());
        EXPECT_EQ(rig.recorder->count(NOTIFY_OVERLAY_INFO_READY), static_cast<size_t>(round + 1));
        rig.remove(kept);
        image->release();
    }
    rig.stop();
}
