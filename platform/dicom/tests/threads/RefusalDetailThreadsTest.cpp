// Files refused on several threads at once: each refusal's log line quotes the parser's detail
// for its own file, never one another thread's read left behind.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "dcmLib.h"
#include "support/DicomTestData.h"

using namespace qvtest;

TEST(RefusalDetailThreads, EachRefusalQuotesItsOwnFile)
{
    TempDir dir;
    CallbackCapture capture;
    const std::string native = dir.file("native.dcm");
    writeImage(native, greySpec(16, 16));  // 512 bytes of pixel data
    FILE* in = std::fopen(native.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    std::vector<uint8_t> whole;
    for (int c; (c = std::fgetc(in)) != EOF;)
        whole.push_back(static_cast<uint8_t>(c));
    std::fclose(in);

    // File i lacks 40 * (i + 1) bytes of its pixel data.
    const int kThreads = 4, kReads = 25;
    std::vector<std::string> paths;
    for (int i = 0; i < kThreads; ++i) {
        paths.push_back(dir.file("cut" + std::to_string(i) + ".dcm"));
        FILE* out = std::fopen(paths.back().c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(whole.data(), 1, whole.size() - 40 * (i + 1), out);
        std::fclose(out);
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&paths, i] {
            for (int k = 0; k < kReads; ++k) {
                redIRI::dcmReadTag tags;
                tags.setFile(paths[i].c_str());
            }
        });
    for (std::thread& t : threads)
        t.join();

    std::vector<int> seen(kThreads, 0);
    for (const std::string& line : capture.logLines())
        for (int i = 0; i < kThreads; ++i)
            if (line.find(paths[i] + "\"") != std::string::npos) {
                ++seen[i];
                const std::string own = "remaining bytes (" + std::to_string(512 - 40 * (i + 1)) + ")";
                EXPECT_NE(line.find(own), std::string::npos) << line;
            }
    for (int i = 0; i < kThreads; ++i)
        EXPECT_EQ(seen[i], kReads) << paths[i];
}
