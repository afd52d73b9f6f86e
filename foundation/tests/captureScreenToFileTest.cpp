// Capture file naming, the capture folder chain and failures, without a display: the headless
// framework answers every capture with failure at the end of the next frame.
#include "captureScreenToFile.h"

#include "NSFileTestSupport.h"
#include "NSFileUtil.h"
#include "support/CaptureListener.h"
#include "support/HeadlessFrames.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace
{

class ScreenCapture : public HeadlessFrames
{
protected:
    void SetUp() override
    {
        HeadlessFrames::SetUp();
        savedWritablePath_ = cocos2d::FileUtils::getInstance()->getWritablePath();
        cocos2d::FileUtils::getInstance()->setWritablePath(dir_.path() + "/");
        listener_.listen();
        passStartDelay();
    }
    void TearDown() override
    {
        listener_.stop();
        cocos2d::FileUtils::getInstance()->setWritablePath(savedWritablePath_);
        HeadlessFrames::TearDown();
    }
    std::vector<std::string> captureFiles() const
    {
        std::vector<std::string> files;
        listFiles(dir_ / "qv/tmp/capture", files, false, false);
        return files;
    }

    qvtest::TempDir dir_;
    CaptureListener listener_;

private:
    std::string savedWritablePath_;
};

TEST_F(ScreenCapture, SameStampGetsDistinctClaimedNames)
{
    const std::string folder = dir_.path() + "/";
    EXPECT_EQ(claimCaptureFile(folder, "1500714300"), folder + "1500714300.jpg");
    EXPECT_EQ(claimCaptureFile(folder, "1500714300"), folder + "1500714300_1.jpg");
    EXPECT_EQ(claimCaptureFile(folder, "1500714300"), folder + "1500714300_2.jpg");
    EXPECT_EQ(claimCaptureFile(folder, "1500714301"), folder + "1500714301.jpg");
    // A file the user already has is never taken over.
    qvtest::writeFile(dir_ / "1500714302.jpg", "mine");
    EXPECT_EQ(claimCaptureFile(folder, "1500714302"), folder + "1500714302_1.jpg");
    EXPECT_EQ(qvtest::readFile(dir_ / "1500714302.jpg"), "mine");
    EXPECT_TRUE(qvtest::exists(dir_ / "1500714300_1.jpg"));
    EXPECT_EQ(claimCaptureFile(folder + "missing/", "1500714300"), "");
}

TEST_F(ScreenCapture, QuickCapturesClaimTwoFilesAndAFailedOneLeavesNothing)
{
    qvtest::LogCapture logs;
    EXPECT_EQ(getCaptureFolder(), dir_.path() + "/qv/tmp/capture/");
    // The first capture after installation makes the whole folder chain.
    ASSERT_TRUE(captureScreenToFile(0, 0, 0, 0));
    ASSERT_TRUE(captureScreenToFile(10, 10, 100, 50));
    std::vector<std::string> files = captureFiles();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_NE(files[0], files[1]);
    for (const std::string& name : files)
    {
        EXPECT_EQ(name.size() > 4 ? name.substr(name.size() - 4) : name, ".jpg");
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(name[0]))) << name;
    }

    // Headless, nothing can be read back: both captures fail, post nothing and remove their
    // placeholders, while the folder stays for the next capture.
    step(5);
    EXPECT_TRUE(listener_.saved.empty());
    EXPECT_TRUE(captureFiles().empty());
    EXPECT_TRUE(qvtest::exists(dir_ / "qv/tmp/capture"));
    const std::vector<std::string> lines = logs.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("captureScreenToFile: capture not written", 0) == 0; }),
              2);
}

TEST_F(ScreenCapture, UnwritableFolderIsReportedAndPostsNothing)
{
    qvtest::LogCapture logs;
    // A plain file where the folder chain must go: no folder can be made below it (also as root).
    qvtest::writeFile(dir_ / "qv/tmp", "not a folder");
    EXPECT_FALSE(captureScreenToFile(0, 0, 0, 0));
    step(5);
    EXPECT_TRUE(listener_.saved.empty());
    EXPECT_EQ(qvtest::readFile(dir_ / "qv/tmp"), "not a folder");
    const std::vector<std::string> lines = logs.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("captureScreenToFile: cannot create", 0) == 0; }));
}

} // namespace
