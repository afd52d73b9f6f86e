// The hot-update manager against a real server on 127.0.0.1: manifests, versions, MD5, the
// download worker, archives, and every path kept inside the storage folder.
#include <gtest/gtest.h>

#include <zip.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "cocos2d.h"
#include "extensions/cocos-ext.h"
#include "support/HeadlessDirector.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

USING_NS_CC;
using namespace cocos2d::extension;
using Code = EventAssetsManagerEx::EventCode;
using qvtest::readFile;
using qvtest::writeFile;

namespace {

struct Seen {
    Code code;
    std::string assetId;
    std::string message;
    float percent;
};

std::string zipOf(const std::vector<std::pair<std::string, std::string>>& entries, const std::string& path)
{
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    for (const auto& [name, content] : entries) {
        zipOpenNewFileInZip64(zip, name.c_str(), nullptr, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                              Z_DEFAULT_COMPRESSION, 0);
        zipWriteInFileInZip(zip, content.data(), unsigned(content.size()));
        zipCloseFileInZip(zip);
    }
    zipClose(zip, nullptr);
    return readFile(path);
}

class AssetsManagerTest : public qvtest::HeadlessDirectorTest {
protected:
    void SetUp() override
    {
        HeadlessDirectorTest::SetUp();
        files = FileUtils::getInstance();
        files->setWritablePath(tmp / "writable/");
        files->setDefaultResourceRootPath(tmp / "res/");
        files->createDirectory(tmp / "res/");
        storage = tmp / "writable/stage/";
    }
    void TearDown() override
    {
        if (listener)
            director->getEventDispatcher()->removeEventListener(listener);
        CC_SAFE_RELEASE_NULL(manager);
        FileUtils::destroyInstance();
        HeadlessDirectorTest::TearDown();
    }

    // The manifest naming the server's addresses; its own version is the installed one.
    std::string manifest(const std::string& version, const std::string& assets = "{}", bool withVersionFile = false)
    {
        std::string text = "{\"version\":\"" + version + "\",\"packageUrl\":\"" + server.url("/files") +
                           "\",\"remoteManifestUrl\":\"" + server.url("/project.manifest") + "\"";
        if (withVersionFile)
            text += ",\"remoteVersionUrl\":\"" + server.url("/version.manifest") + "\"";
        return text + ",\"assets\":" + assets + "}";
    }
    static std::string asset(const std::string& content, bool compressed = false)
    {
        return std::string("{\"md5\":\"") + MD5::ofBuffer(content.data(), content.size()) + "\",\"size\":" +
               std::to_string(content.size()) + (compressed ? ",\"compressed\":true}" : "}");
    }

    void makeManager(const std::string& localManifest)
    {
        writeFile(tmp / "res/project.manifest", localManifest);
        manager = AssetsManagerEx::create("project.manifest", storage);
        ASSERT_NE(manager, nullptr);
        manager->retain();
        AssetsManagerEx::Limits limits;
        limits.connectMs = 2000;
        limits.stallMs = 1000;
        limits.manifestTotalMs = 3000;
        limits.assetTotalMs = 3000;
        manager->setLimits(limits);
        listener = EventListenerAssetsManagerEx::create(manager, [this](EventAssetsManagerEx* e) {
            seen.push_back({e->getEventCode(), e->getAssetId(), e->getMessage(), e->getPercent()});
        });
        director->getEventDispatcher()->addEventListenerWithFixedPriority(listener, 1);
    }

    static bool terminal(Code c)
    {
        return c == Code::ERROR_NO_LOCAL_MANIFEST || c == Code::ERROR_DOWNLOAD_MANIFEST ||
               c == Code::ERROR_PARSE_MANIFEST || c == Code::ALREADY_UP_TO_DATE || c == Code::UPDATE_FINISHED ||
               c == Code::UPDATE_FAILED;
    }
    // Runs one update to its last event.
    std::vector<Code> runUpdate()
    {
        seen.clear();
        manager->update();
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < limit && (seen.empty() || !terminal(seen.back().code))) {
            director->stepFrame(1.f / 60.f);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::vector<Code> codes;
        for (const Seen& s : seen)
            codes.push_back(s.code);
        return codes;
    }
    const Seen* find(Code code, const std::string& assetId = "")
    {
        for (const Seen& s : seen)
            if (s.code == code && (assetId.empty() || s.assetId == assetId))
                return &s;
        return nullptr;
    }

    qvtest::TempDir tmp;
    qvtest::LoopbackServer server;
    FileUtils* files = nullptr;
    std::string storage;
    AssetsManagerEx* manager = nullptr;
    EventListenerAssetsManagerEx* listener = nullptr;
    std::vector<Seen> seen;
};

TEST(AssetsManifestTest, VersionsCompareByNumberAndPathsStayInside)
{
    EXPECT_GT(Manifest::compareVersions("1.10.0", "1.4.9"), 0);
    EXPECT_LT(Manifest::compareVersions("1.4", "1.10"), 0);
    EXPECT_EQ(Manifest::compareVersions("1.0", "1.0.0"), 0);
    EXPECT_EQ(Manifest::compareVersions("2.007", "2.7"), 0);
    EXPECT_GT(Manifest::compareVersions("1.0.1", ""), 0);
    EXPECT_GT(Manifest::compareVersions("1.0b", "1.0a"), 0);

    for (const char* bad : {"", "/etc/passwd", "../x", "a/../../x", "a/./b", "a//b", "a\\..\\b", "a/", ".."})
        EXPECT_FALSE(Manifest::isSafeRelativePath(bad)) << bad;
    for (const char* good : {"a", "img/a.png", "a/b/c..d", "..a/b"})
        EXPECT_TRUE(Manifest::isSafeRelativePath(good)) << good;

    Manifest m;
    EXPECT_FALSE(m.parse("not json"));
    EXPECT_FALSE(m.parse("[1,2]"));
    EXPECT_FALSE(m.parse("{\"assets\":[]}"));
    std::string why;
    EXPECT_FALSE(m.parse("{\"version\":\"1\",\"assets\":{\"../up.txt\":{\"md5\":\"\"}}}", &why));
    EXPECT_NE(why.find("../up.txt"), std::string::npos);
    ASSERT_TRUE(m.parse("{\"version\":\"3.1\",\"packageUrl\":\"http://h/p\",\"assets\":{\"a/b.txt\":"
                        "{\"md5\":\"ABCDEF\",\"size\":3},\"z.zip\":{\"compressed\":true}},\"extra\":{\"x\":1}}"));
    EXPECT_EQ(m.getVersion(), "3.1");
    EXPECT_EQ(m.getPackageUrl(), "http://h/p/");
    ASSERT_EQ(m.getAssets().size(), 2u);
    EXPECT_EQ(m.getAssets().at("a/b.txt").md5, "abcdef");
    EXPECT_EQ(m.getAssets().at("a/b.txt").size, 3);
    EXPECT_TRUE(m.getAssets().at("z.zip").compressed);
}

TEST(AssetsManifestTest, MD5KnownDigests)
{
    EXPECT_EQ(MD5::ofBuffer("", 0), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(MD5::ofBuffer("abc", 3), "900150983cd24fb0d6963f7d28e17f72");
    const std::string fox = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(MD5::ofBuffer(fox.data(), fox.size()), "9e107d9d372bb6826bd81d3542a419d6");
    // Fed in uneven pieces across block boundaries.
    const std::string million(1000000, 'a');
    MD5 pieces;
    for (size_t at = 0; at < million.size(); at += 997)
        pieces.update(million.data() + at, std::min<size_t>(997, million.size() - at));
    EXPECT_EQ(pieces.finish(), "7707d6ae4e027c70eea2a935c2296f21");
    qvtest::TempDir dir;
    writeFile(dir / "f", fox);
    EXPECT_EQ(MD5::ofFile(dir / "f"), "9e107d9d372bb6826bd81d3542a419d6");
    EXPECT_EQ(MD5::ofFile(dir / "missing"), "");
}

TEST_F(AssetsManagerTest, NewVersionIsStagedThenUpToDate)
{
    const std::string a = "alpha", b = std::string(70000, 'b');
    const std::string pack = zipOf({{"pack/one.txt", "one"}, {"pack/sub/", ""}, {"pack/sub/two.txt", "two"}},
                                   tmp / "pack.zip");
    server.put("/files/a.txt", a);
    server.put("/files/dir/b.bin", b);
    server.put("/files/p.zip", pack);
    const std::string remote =
        manifest("1.2.0", "{\"a.txt\":" + asset(a) + ",\"dir/b.bin\":" + asset(b) + ",\"p.zip\":" + asset(pack, true) + "}",
                 true);
    server.put("/project.manifest", remote);
    server.put("/version.manifest", "{\"version\":\"1.2.0\"}");
    makeManager(manifest("0", "{}", true));

    const std::vector<Code> codes = runUpdate();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.back(), Code::UPDATE_FINISHED);
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen[0].assetId, "@version");
    EXPECT_EQ(seen[1].assetId, "@manifest");
    EXPECT_EQ(seen[2].code, Code::NEW_VERSION_FOUND);
    EXPECT_EQ(seen[2].assetId, "1.2.0");
    EXPECT_EQ(seen[3].assetId, "@updateFileList");
    EXPECT_EQ(seen[3].message, "a.txt,dir/b.bin,p.zip");
    for (const char* id : {"a.txt", "dir/b.bin", "p.zip"})
        EXPECT_NE(find(Code::ASSET_UPDATED, id), nullptr) << id;
    const Seen* last = nullptr;
    for (const Seen& s : seen)
        if (s.code == Code::UPDATE_PROGRESSION)
            last = &s;
    ASSERT_NE(last, nullptr);
    EXPECT_FLOAT_EQ(last->percent, 100.f);

    EXPECT_EQ(readFile(storage + "a.txt"), a);
    EXPECT_EQ(readFile(storage + "dir/b.bin"), b);
    EXPECT_EQ(readFile(storage + "pack/one.txt"), "one");
    EXPECT_EQ(readFile(storage + "pack/sub/two.txt"), "two");
    EXPECT_EQ(readFile(storage + "p.zip"), "<missing>");
    EXPECT_EQ(readFile(storage + "project.manifest"), remote);
    EXPECT_EQ(readFile(tmp / "res/project.manifest"), manifest("0", "{}", true));  // the local one untouched

    // The storage folder now holds 1.2.0: the version file settles it without the manifest.
    const int manifests = server.count("/project.manifest");
    EXPECT_EQ(runUpdate(), (std::vector<Code>{Code::UPDATE_PROGRESSION, Code::ALREADY_UP_TO_DATE}));
    EXPECT_EQ(server.count("/project.manifest"), manifests);

    // 1.3.0 changes one file and drops another: only the change is fetched.
    const std::string a2 = "alpha two";
    server.put("/files/a.txt", a2);
    server.put("/version.manifest", "{\"version\":\"1.3.0\"}");
    server.put("/project.manifest",
               manifest("1.3.0", "{\"a.txt\":" + asset(a2) + ",\"p.zip\":" + asset(pack, true) + "}", true));
    const int fetchedB = server.count("/files/dir/b.bin"), fetchedZip = server.count("/files/p.zip");
    EXPECT_EQ(runUpdate().back(), Code::UPDATE_FINISHED);
    EXPECT_EQ(seen[3].message, "a.txt");
    EXPECT_EQ(readFile(storage + "a.txt"), a2);
    EXPECT_EQ(readFile(storage + "dir/b.bin"), "<missing>");
    EXPECT_EQ(server.count("/files/dir/b.bin"), fetchedB);
    EXPECT_EQ(server.count("/files/p.zip"), fetchedZip);
}

TEST_F(AssetsManagerTest, FailedAssetsEndTheUpdateAndResume)
{
    const std::string a = "alpha", b = "bravo", c = std::string(10000, 'c');
    server.put("/files/a.txt", a);
    server.put("/files/b.txt", "bravX");  // the right size, the wrong MD5
    server.putTruncated("/files/c.bin", c);   // the connection drops halfway
    server.put("/project.manifest",
               manifest("2", "{\"a.txt\":" + asset(a) + ",\"b.txt\":" + asset(b) + ",\"c.bin\":" + asset(c) +
                                 ",\"d.txt\":" + asset("delta") + "}"));  // d.txt: 404
    makeManager(manifest("1"));

    const std::vector<Code> codes = runUpdate();
    EXPECT_EQ(codes.back(), Code::UPDATE_FAILED);
    EXPECT_NE(find(Code::ASSET_UPDATED, "a.txt"), nullptr);
    for (const char* id : {"b.txt", "c.bin", "d.txt"})
        EXPECT_NE(find(Code::ERROR_UPDATING, id), nullptr) << id;
    EXPECT_NE(find(Code::ERROR_UPDATING, "b.txt")->message.find("mismatch"), std::string::npos);
    EXPECT_EQ(readFile(storage + "a.txt"), a);
    for (const char* name : {"b.txt", "c.bin", "d.txt", "b.txt.tmp", "c.bin.tmp", "project.manifest"})
        EXPECT_EQ(readFile(storage + name), "<missing>") << name;

    // Fixed on the server: the next update fetches only what is still missing.
    server.put("/files/b.txt", b);
    server.put("/files/c.bin", c);
    server.put("/files/d.txt", "delta");
    EXPECT_EQ(runUpdate().back(), Code::UPDATE_FINISHED);
    EXPECT_EQ(server.count("/files/a.txt"), 1);
    EXPECT_EQ(seen[1].code, Code::NEW_VERSION_FOUND);
    EXPECT_EQ(seen[2].message, "b.txt,c.bin,d.txt");
    EXPECT_EQ(readFile(storage + "c.bin"), c);
}

TEST_F(AssetsManagerTest, HostilePathsNeverLeaveTheStorageFolder)
{
    const std::string sibling = tmp / "writable/evil.txt";
    server.put("/files/x", "x");
    server.put("/project.manifest", manifest("2", "{\"../evil.txt\":" + asset("x") + "}"));
    makeManager(manifest("1"));
    EXPECT_EQ(runUpdate(), (std::vector<Code>{Code::UPDATE_PROGRESSION, Code::ERROR_PARSE_MANIFEST}));
    EXPECT_EQ(server.count("/files/../evil.txt") + server.count("/evil.txt"), 0);

    // An archive whose entry climbs out is refused whole: none of its files is written.
    const std::string pack = zipOf({{"ok.txt", "fine"}, {"../../evil.txt", "evil"}}, tmp / "bad.zip");
    server.put("/files/bad.zip", pack);
    server.put("/project.manifest", manifest("3", "{\"bad.zip\":" + asset(pack, true) + "}"));
    const std::vector<Code> codes = runUpdate();
    EXPECT_EQ(codes.back(), Code::UPDATE_FAILED);
    EXPECT_NE(find(Code::ERROR_DECOMPRESS, "bad.zip"), nullptr);
    EXPECT_EQ(readFile(sibling), "<missing>");
    EXPECT_EQ(readFile(tmp / "evil.txt"), "<missing>");
    EXPECT_EQ(readFile(storage + "ok.txt"), "<missing>");
    EXPECT_EQ(readFile(storage + "bad.zip"), "<missing>");
    EXPECT_EQ(qvtest::countEntries(storage), 0);
}

TEST_F(AssetsManagerTest, ManifestFailuresAreReportedWithinTheLimits)
{
    // No local manifest at all.
    manager = AssetsManagerEx::create("nothing.manifest", storage);
    ASSERT_NE(manager, nullptr);
    manager->retain();
    listener = EventListenerAssetsManagerEx::create(manager, [this](EventAssetsManagerEx* e) {
        seen.push_back({e->getEventCode(), e->getAssetId(), e->getMessage(), e->getPercent()});
    });
    director->getEventDispatcher()->addEventListenerWithFixedPriority(listener, 1);
    EXPECT_EQ(runUpdate(), (std::vector<Code>{Code::ERROR_NO_LOCAL_MANIFEST}));
    director->getEventDispatcher()->removeEventListener(listener);
    listener = nullptr;
    CC_SAFE_RELEASE_NULL(manager);

    makeManager(manifest("1"));
    server.put("/project.manifest", "gone", 404);
    EXPECT_EQ(runUpdate().back(), Code::ERROR_DOWNLOAD_MANIFEST);
    server.put("/project.manifest", "<html>not a manifest</html>");
    EXPECT_EQ(runUpdate().back(), Code::ERROR_PARSE_MANIFEST);
    server.put("/project.manifest", std::string(5 << 20, ' '));  // past the manifest size bound
    EXPECT_EQ(runUpdate().back(), Code::ERROR_DOWNLOAD_MANIFEST);
    server.put("/project.manifest", manifest("1"));
    EXPECT_EQ(runUpdate().back(), Code::ALREADY_UP_TO_DATE);

    // A server that accepts and never answers fails by the stall bound, not by hanging.
    server.hang("/project.manifest");
    EXPECT_EQ(runUpdate().back(), Code::ERROR_DOWNLOAD_MANIFEST);
    EXPECT_FALSE(manager->isUpdating());
}

TEST_F(AssetsManagerTest, ReleasingDuringAnUpdateStopsIt)
{
    server.hang("/files/slow.bin");
    server.put("/project.manifest", manifest("2", "{\"slow.bin\":" + asset("slow") + "}"));
    makeManager(manifest("1"));
    AssetsManagerEx::Limits limits = manager->getLimits();
    limits.stallMs = 60000;
    limits.assetTotalMs = 60000;
    manager->setLimits(limits);
    manager->update();
    for (int i = 0; i < 2000 && server.count("/files/slow.bin") == 0; ++i) {
        director->stepFrame(1.f / 60.f);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(server.count("/files/slow.bin"), 1);
    const size_t before = seen.size();
    const auto start = std::chrono::steady_clock::now();
    director->getEventDispatcher()->removeEventListener(listener);
    listener = nullptr;
    CC_SAFE_RELEASE_NULL(manager);  // aborts the transfer and waits for the worker
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    director->stepFrame(1.f / 60.f);
    EXPECT_EQ(seen.size(), before);
    EXPECT_EQ(readFile(storage + "slow.bin"), "<missing>");
}

TEST_F(AssetsManagerTest, ListenerMayReleaseTheManagerWhenFinished)
{
    server.put("/files/a.txt", "a");
    server.put("/project.manifest", manifest("2", "{\"a.txt\":" + asset("a") + "}"));
    makeManager(manifest("1"));
    director->getEventDispatcher()->removeEventListener(listener);
    bool finished = false;
    listener = EventListenerAssetsManagerEx::create(manager, [this, &finished](EventAssetsManagerEx* e) {
        if (e->getEventCode() != Code::UPDATE_FINISHED)
            return;
        finished = true;
        director->getEventDispatcher()->removeEventListener(listener);
        listener = nullptr;
        CC_SAFE_RELEASE_NULL(manager);
    });
    director->getEventDispatcher()->addEventListenerWithFixedPriority(listener, 1);
    manager->update();
    for (int i = 0; i < 5000 && !finished; ++i) {
        director->stepFrame(1.f / 60.f);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(finished);
    EXPECT_EQ(manager, nullptr);
    EXPECT_EQ(readFile(storage + "a.txt"), "a");
}

} // namespace
