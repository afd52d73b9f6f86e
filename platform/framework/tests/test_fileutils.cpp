// Resource lookup, the writable path, folder operations, atomic writes and property lists.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "cocos2d.h"
#include "platform/CCAtomicFile.h"
#include "support/HeadlessDirector.h"
#include "support/TempDir.h"

USING_NS_CC;
using qvtest::readFile;
using qvtest::writeFile;

namespace {

class FileUtilsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fu = FileUtils::getInstance();
        root = tmp / "res/";
        fu->createDirectory(root);
        fu->setDefaultResourceRootPath(root);
        fu->setWritablePath(tmp / "writable/");
    }
    void TearDown() override
    {
        detail::setAtomicWriteStopBeforeRenameForTest(false);
        FileUtils::destroyInstance();
    }
    void put(const std::string& relative, const std::string& content)
    {
        const std::string full = root + relative;
        fu->createDirectory(full.substr(0, full.find_last_of('/')));
        writeFile(full, content);
    }

    qvtest::TempDir tmp;
    FileUtils* fu = nullptr;
    std::string root;
};

const char kPlist[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>name</key><string>Tom &amp; Jerry &lt;3&gt; &#x4E2D;</string>
  <key>count</key><integer>5</integer>
  <key>negative</key><integer> -3 </integer>
  <key>big</key><integer>4294967296</integer>
  <key>ratio</key><real>0.25</real>
  <key>on</key><true/>
  <key>off</key><false/>
  <key>when</key><date>2024-01-02T03:04:05Z</date>
  <key>blob</key><data>AAEC</data>
  <key>space</key><string> </string>
  <key>empty</key><string></string>
  <key>list</key>
  <array>
    <integer>1</integer>
    <string>two</string>
    <dict><key>deep</key><array><real>1.5</real><array/></array></dict>
  </array>
  <key>nested</key><dict><key>inner</key><dict><key>x</key><integer>-3</integer></dict></dict>
  <key>dangling</key>
</dict>
</plist>
)";

} // namespace

TEST_F(FileUtilsTest, SearchPathsInOrderWithTheRootLastAndUnlisted)
{
    put("a/x.txt", "a");
    put("b/x.txt", "b");
    put("x.txt", "root");
    put("only_root.txt", "r");
    put("UIRes/rotation.png", "png");
    const std::string absolute = tmp / "abs/";
    fu->createDirectory(absolute);
    writeFile(absolute + "abs.txt", "abs");

    fu->setSearchPaths({"a", "b/", absolute});
    EXPECT_EQ(fu->getSearchPaths(), (std::vector<std::string>{root + "a/", root + "b/", absolute}));
    EXPECT_EQ(fu->fullPathForFilename("x.txt"), root + "a/x.txt");
    EXPECT_EQ(fu->fullPathForFilename("only_root.txt"), root + "only_root.txt");
    EXPECT_EQ(fu->fullPathForFilename("UIRes/rotation.png"), root + "UIRes/rotation.png");
    EXPECT_EQ(fu->fullPathForFilename("abs.txt"), absolute + "abs.txt");
    EXPECT_EQ(fu->getStringFromFile("x.txt"), "a");

    fu->addSearchPath("b", true);
    EXPECT_EQ(fu->getSearchPaths(), (std::vector<std::string>{root + "b/", root + "a/", absolute}));
    EXPECT_EQ(fu->getStringFromFile("x.txt"), "b");

    // A screen that adds its paths on every init does not grow the list.
    for (int i = 0; i < 3; ++i) {
        fu->addSearchPath("a/");
        fu->addSearchPath(absolute);
        fu->addSearchPath("b", true);
    }
    EXPECT_EQ(fu->getSearchPaths(), (std::vector<std::string>{root + "b/", root + "a/", absolute}));

    // Absolute names are used as they are.
    EXPECT_EQ(fu->fullPathForFilename(absolute + "abs.txt"), absolute + "abs.txt");
    EXPECT_EQ(fu->fullPathForFilename(absolute + "missing.txt"), "");
    EXPECT_EQ(fu->getStringFromFile(absolute + "abs.txt"), "abs");

    EXPECT_TRUE(fu->isFileExist("x.txt"));
    EXPECT_FALSE(fu->isFileExist("UIRes"));
    EXPECT_TRUE(fu->isDirectoryExist("UIRes"));
    EXPECT_EQ(fu->getFileSize("only_root.txt"), 1);
    EXPECT_EQ(fu->getFileSize("nothing.txt"), -1);
}

TEST_F(FileUtilsTest, CacheFollowsWritesAndNeverKeepsMisses)
{
    const std::string update = tmp / "update/";
    fu->createDirectory(update);
    put("b/project.manifest", "shipped");
    fu->setSearchPaths({update, "b"});
    EXPECT_EQ(fu->getStringFromFile("project.manifest"), "shipped"); // a cached hit in b/

    // The updater writes a newer copy into the first search path and must read that one.
    ASSERT_TRUE(fu->writeStringToFile("downloaded", update + "project.manifest"));
    EXPECT_EQ(fu->fullPathForFilename("project.manifest"), update + "project.manifest");
    EXPECT_EQ(fu->getStringFromFile("project.manifest"), "downloaded");

    {
        qvtest::LogCapture log;
        EXPECT_EQ(fu->fullPathForFilename("late.txt"), "");
        EXPECT_EQ(log.lines().size(), 1u);
    }
    put("late.txt", "here now"); // made behind FileUtils' back
    EXPECT_EQ(fu->getStringFromFile("late.txt"), "here now");

    put("empty.txt", "");
    EXPECT_TRUE(fu->getDataFromFile("empty.txt").isNull());
    EXPECT_TRUE(fu->getDataFromFile("missing.txt").isNull());
    EXPECT_EQ(fu->getDataFromFile("late.txt").getSize(), 8);
}

TEST_F(FileUtilsTest, CreateAndRemoveDirectories)
{
    const std::string chain = tmp / "one/two/three/";
    EXPECT_TRUE(fu->createDirectory(chain));
    EXPECT_TRUE(fu->isDirectoryExist(chain));
    EXPECT_TRUE(fu->createDirectory(tmp / "one/two")); // exists already

    writeFile(tmp / "one/file", "x");
    EXPECT_FALSE(fu->createDirectory(tmp / "one/file"));
    EXPECT_FALSE(fu->createDirectory(tmp / "one/file/sub"));
    EXPECT_FALSE(fu->createDirectory(""));

    // Removal is recursive and does not follow links out of the tree.
    const std::string outside = tmp / "outside/";
    fu->createDirectory(outside);
    writeFile(outside + "keep.txt", "keep");
    writeFile(chain + "inner.txt", "x");
    ASSERT_EQ(symlink(outside.c_str(), (chain + "link").c_str()), 0);
    EXPECT_TRUE(fu->removeDirectory(tmp / "one/"));
    EXPECT_FALSE(fu->isDirectoryExist(tmp / "one"));
    EXPECT_EQ(readFile(outside + "keep.txt"), "keep");
    EXPECT_FALSE(fu->removeDirectory(tmp / "one"));

    // The writable path, the folders above it, "" and "/" are refused.
    const std::string writable = fu->getWritablePath();
    EXPECT_EQ(writable, tmp / "writable/");
    EXPECT_TRUE(fu->isDirectoryExist(writable));
    qvtest::LogCapture log;
    EXPECT_FALSE(fu->removeDirectory(writable));
    EXPECT_FALSE(fu->removeDirectory(tmp / "writable"));
    EXPECT_FALSE(fu->removeDirectory(tmp.path()));
    EXPECT_FALSE(fu->removeDirectory(""));
    EXPECT_FALSE(fu->removeDirectory("/"));
    EXPECT_TRUE(fu->isDirectoryExist(writable));
    EXPECT_EQ(log.lines().size(), 5u);

    writeFile(writable + "a.txt", "a");
    EXPECT_TRUE(fu->renameFile(writable, "a.txt", "b.txt"));
    EXPECT_EQ(readFile(writable + "b.txt"), "a");
    EXPECT_TRUE(fu->removeFile(writable + "b.txt"));
    EXPECT_FALSE(fu->removeFile(writable + "b.txt"));
}

TEST_F(FileUtilsTest, WritesAreAtomic)
{
    const std::string dir = tmp / "w/";
    fu->createDirectory(dir);
    const std::string target = dir + "settings.json";
    ASSERT_TRUE(fu->writeStringToFile("old content", target));
    Data data;
    const unsigned char bytes[] = {0, 1, 2, 255};
    data.copy(bytes, 4);
    ASSERT_TRUE(fu->writeDataToFile(data, dir + "bytes.bin"));
    EXPECT_EQ(fu->getFileSize(dir + "bytes.bin"), 4);
    EXPECT_EQ(qvtest::countEntries(dir), 2); // no temporary files left behind

    // A crash after the temporary file is written and before the rename leaves the old file whole.
    detail::setAtomicWriteStopBeforeRenameForTest(true);
    EXPECT_FALSE(fu->writeStringToFile("new content that never lands", target));
    detail::setAtomicWriteStopBeforeRenameForTest(false);
    EXPECT_EQ(readFile(target), "old content");

    // A folder that does not exist: false, nothing written.
    EXPECT_FALSE(fu->writeStringToFile("x", tmp / "no/such/folder/file.txt"));
    EXPECT_FALSE(fu->isDirectoryExist(tmp / "no"));
    EXPECT_TRUE(fu->writeStringToFile("new", target));
    EXPECT_EQ(readFile(target), "new");
}

TEST_F(FileUtilsTest, DefaultWritablePathFollowsXdg)
{
    fu->setWritablePath("");
    const char* oldXdg = std::getenv("XDG_DATA_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";

    setenv("XDG_DATA_HOME", (tmp / "xdg").c_str(), 1);
    EXPECT_EQ(fu->getWritablePath(), tmp / "xdg/quorvane/");
    EXPECT_TRUE(fu->isDirectoryExist(tmp / "xdg/quorvane")); // created on first use

    setenv("XDG_DATA_HOME", "relative/ignored", 1);
    setenv("HOME", (tmp / "home").c_str(), 1);
    EXPECT_EQ(fu->getWritablePath(), tmp / "home/.local/share/quorvane/");
    EXPECT_TRUE(fu->isDirectoryExist(tmp / "home/.local/share/quorvane"));

    if (oldXdg) {
        setenv("XDG_DATA_HOME", savedXdg.c_str(), 1);
    } else {
        unsetenv("XDG_DATA_HOME");
    }
    if (oldHome) {
        setenv("HOME", savedHome.c_str(), 1);
    }
}

TEST_F(FileUtilsTest, PropertyListWithEveryElementKind)
{
    put("test.plist", kPlist);
    const ValueMap map = fu->getValueMapFromFile("test.plist");
    ASSERT_FALSE(map.empty());
    EXPECT_EQ(map.at("name").asString(), "Tom & Jerry <3> \xE4\xB8\xAD");
    EXPECT_EQ(map.at("count").getType(), Value::Type::INTEGER);
    EXPECT_EQ(map.at("count").asString(), "5");
    EXPECT_EQ(map.at("negative").asInt(), -3);
    EXPECT_EQ(map.at("big").asString(), "4294967296"); // too large for an int: the text is kept
    EXPECT_EQ(map.at("ratio").getType(), Value::Type::DOUBLE);
    EXPECT_EQ(map.at("ratio").asString(), "0.2500000");
    EXPECT_EQ(map.at("on").asString(), "true");
    EXPECT_EQ(map.at("off").getType(), Value::Type::BOOLEAN);
    EXPECT_FALSE(map.at("off").asBool());
    EXPECT_EQ(map.at("when").asString(), "2024-01-02T03:04:05Z");
    EXPECT_EQ(map.at("blob").asString(), "AAEC");
    EXPECT_EQ(map.at("space").asString(), " ");
    EXPECT_EQ(map.at("empty").asString(), "");
    EXPECT_EQ(map.count("dangling"), 0u);

    const ValueVector& list = map.at("list").asValueVector();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].asInt(), 1);
    EXPECT_EQ(list[1].asString(), "two");
    const ValueVector& deep = list[2].asValueMap().at("deep").asValueVector();
    ASSERT_EQ(deep.size(), 2u);
    EXPECT_DOUBLE_EQ(deep[0].asDouble(), 1.5);
    EXPECT_EQ(deep[1].getType(), Value::Type::VECTOR);
    EXPECT_EQ(map.at("nested").asValueMap().at("inner").asValueMap().at("x").asInt(), -3);

    // The same bytes from memory (a decoded language table arrives this way).
    const std::string text = kPlist;
    EXPECT_EQ(fu->getValueMapFromData(text.data(), static_cast<int>(text.size())), map);
}

TEST_F(FileUtilsTest, ColourTableOf256Entries)
{
    std::string plist = "<plist><dict><key>r</key><array>";
    for (int i = 0; i < 256; ++i) {
        plist += "<integer>" + std::to_string(255 - i) + "</integer>";
    }
    plist += "</array></dict></plist>";
    const ValueMap map = fu->getValueMapFromData(plist.data(), static_cast<int>(plist.size()));
    const ValueVector& r = map.at("r").asValueVector();
    ASSERT_EQ(r.size(), 256u);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(std::atoi(r[static_cast<size_t>(i)].asString().c_str()), 255 - i);
    }
}

TEST_F(FileUtilsTest, BadPropertyListsGiveAnEmptyMap)
{
    auto parse = [&](const std::string& text) {
        return fu->getValueMapFromData(text.data(), static_cast<int>(text.size()));
    };
    EXPECT_TRUE(parse("<plist><dict><key>a</key><string>x</string>").empty()); // truncated
    EXPECT_TRUE(parse(std::string("bplist00\xd1\x01\x02QaQx\x08\x0b\x0d", 17)).empty());
    EXPECT_TRUE(parse("<plist><array><string>x</string></array></plist>").empty());
    EXPECT_TRUE(parse("<plist><string>x</string></plist>").empty());
    EXPECT_TRUE(parse("<html><dict/></html>").empty());
    EXPECT_TRUE(parse("not xml at all").empty());
    EXPECT_TRUE(fu->getValueMapFromData(nullptr, 10).empty());
    EXPECT_TRUE(fu->getValueMapFromFile("missing.plist").empty());

    std::string deep = "<plist><dict><key>k</key>";
    for (int i = 0; i < 300; ++i) {
        deep += "<array>";
    }
    for (int i = 0; i < 300; ++i) {
        deep += "</array>";
    }
    deep += "</dict></plist>";
    EXPECT_TRUE(parse(deep).empty());
    EXPECT_FALSE(parse("<plist><dict><key>k</key><array><array/></array></dict></plist>").empty());
}
