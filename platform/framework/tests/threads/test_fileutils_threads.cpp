// Workers look resources up while the main thread changes the search paths.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "cocos2d.h"
#include "support/TempDir.h"

USING_NS_CC;

// Every lookup finds the file through one of the lists that were set, never a torn or freed one,
// and a lookup made after the last change finds it through the last list.
TEST(FileUtilsThreads, LookupsWhileTheSearchPathsChange)
{
    qvtest::TempDir tmp;
    FileUtils* fu = FileUtils::getInstance();
    const std::string root = tmp / "res/";
    for (const char* dir : {"a", "b", "c"}) {
        ASSERT_TRUE(fu->createDirectory(root + dir));
        qvtest::writeFile(root + dir + "/x.txt", dir);
    }
    fu->setDefaultResourceRootPath(root);
    fu->setSearchPaths({"a"});

    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 3; ++t) {
        workers.emplace_back([&] {
            while (!stop.load()) {
                const std::string found = fu->fullPathForFilename("x.txt");
                if (found != root + "a/x.txt" && found != root + "b/x.txt" && found != root + "c/x.txt") {
                    ++wrong;
                }
                if (!fu->isFileExist("x.txt") || !fu->isDirectoryExist("b")) {
                    ++wrong;
                }
            }
        });
    }
    for (int i = 0; i < 300; ++i) {
        fu->setSearchPaths({i % 2 ? "b" : "a"});
        fu->addSearchPath("c", i % 3 == 0);
        fu->addSearchPath("c");
    }
    fu->setSearchPaths({"b", "c"});
    stop = true;
    for (std::thread& w : workers) {
        w.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(fu->fullPathForFilename("x.txt"), root + "b/x.txt");
    EXPECT_EQ(fu->getSearchPaths(), (std::vector<std::string>{root + "b/", root + "c/"}));
    FileUtils::destroyInstance();
}
