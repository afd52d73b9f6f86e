// The program's log writes one clean line for each call, whatever the text it is given holds.
#include <gtest/gtest.h>

#include "base/CCConsole.h"
#include "support/HeadlessDirector.h"

TEST(Console, EachLineIsOneCleanLineWithinItsBound)
{
    qvtest::LogCapture log;
    cocos2d::log("import: \"%s\" not imported", "a\nDICOM retrieval of series 1.2 failed: FORGED\x1b[2J\x07\xFF");
    cocos2d::log("patient %s", "EVIL\xE2\x80\xAE^NAME");
    cocos2d::log("%s", std::string(cocos2d::kMaxLogLineBytes + 100, 'x').c_str());
    const std::vector<std::string> lines = log.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "import: \"a DICOM retrieval of series 1.2 failed: FORGED [2J \xEF\xBF\xBD\" not imported");
    EXPECT_EQ(lines[1], "patient EVIL^NAME");
    EXPECT_EQ(lines[2], std::string(cocos2d::kMaxLogLineBytes - 3, 'x') + "\xE2\x80\xA6");
}
