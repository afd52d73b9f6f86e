// Usage statistics on a real SQLite file with a clock the test sets: schema, recording, the daily
// upload to a loopback server, and what the answers may and may not delete.
#include "statApplication.h"

#include "AppConfig.h"
#include "NSDBDataModel.h"
#include "NSDBUtil.h"
#include "UIJson.h"
#include "serverInterface.h"
#include "support/OnlineTest.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <functional>
#include <string>
#include <vector>

using NSUI::UIJson;

namespace {

class StatisticsTest : public OnlineTest {
protected:
    void SetUp() override
    {
        OnlineTest::SetUp();
        // The address comes as the server sends it, with blanks and a line break around it.
        server.put("/st/gi.php", " " + server.url("/st/up.php") + "\r\n");
        answerUpload("{\"Status\":\"0\"}");
        stat = statApplication::getInstance();
        stat->setClock([this] { return clock; });
    }
    void answerUpload(const std::string& json) { server.put("/st/up.php", b64(json)); }

    // Rows as "type|time|value".
    std::vector<std::string> rows()
    {
        NSUI::NSDBUtil db;
        NSUI::NSDBDataModel model;
        EXPECT_TRUE(db.open(statApplication::databasePath()));
        EXPECT_TRUE(db.query("select type,statTime,value from stat order by ID", model));
        std::vector<std::string> out;
        for (int i = 0; i < model.getRowCount(); ++i)
            out.push_back(model.getValue(i, 0) + "|" + model.getValue(i, 1) + "|" + model.getValue(i, 2));
        return out;
    }
    // start() and the answers of the address request and the upload it causes.
    void startAndSettle()
    {
        const int asked = server.count("/st/gi.php");
        stat->start();
        ASSERT_TRUE(stepUntil([&] { return server.count("/st/gi.php") == asked + 1; }));
        ASSERT_TRUE(flushHttp());
        ASSERT_TRUE(flushHttp());
    }

    statApplication* stat = nullptr;
    std::string clock = "2024-03-01 10:00:00";
};

TEST_F(StatisticsTest, SchemaIsCreatedAndBroughtToTheCurrentVersion)
{
    stat->start();
    ASSERT_TRUE(stat->hasDatabase());
    NSUI::NSDBUtil db;
    NSUI::NSDBDataModel model;
    ASSERT_TRUE(db.open(statApplication::databasePath()));
    ASSERT_TRUE(db.query("select sql from sqlite_master where name in ('version','stat') order by name", model));
    ASSERT_EQ(model.getRowCount(), 2);
    EXPECT_EQ(model.getValue(0, 0),
              "CREATE TABLE stat (ID integer primary key autoincrement,type integer,statTime  datetime,value text)");
    EXPECT_EQ(model.getValue(1, 0), "CREATE TABLE version (ID integer primary key autoincrement,version integer)");
    ASSERT_TRUE(db.query("select version from version", model));
    EXPECT_EQ(model.getValue(0, 0), "2");

    // An older file is brought to the current version, and its rows are kept.
    stat->addStat(5, "kept");
    ASSERT_TRUE(db.execute("update version set version=1"));
    statApplication::destroyInstance();
    stat = statApplication::getInstance();
    ASSERT_TRUE(stat->openDB());
    ASSERT_TRUE(db.query("select version from version", model));
    ASSERT_EQ(model.getRowCount(), 1);
    EXPECT_EQ(model.getValue(0, 0), "2");
    EXPECT_EQ(rows(), std::vector<std::string>{"5|2024-03-01 10:00:00|kept"});

    // A database that cannot be opened leaves a recorder that records nothing, quietly.
    statApplication::destroyInstance();
    stat = statApplication::getInstance();
    std::filesystem::remove_all(writable("qv/stat"));
    std::filesystem::create_directories(writable("qv/stat/statDB"));  // a folder where the file belongs
    EXPECT_FALSE(stat->openDB());
    EXPECT_FALSE(stat->hasDatabase());
    stat->addStat(1, "");
}

TEST_F(StatisticsTest, UploadSendsThePreviousDaysAndDeletesThemWhenConfirmed)
{
    stat->start();
    ASSERT_TRUE(flushHttp());
    const std::string quoted = "A\"); drop table stat; --";
    stat->addStat(3, "");
    stat->addStat(19, quoted);
    clock = "2024-03-02 08:30:00";
    stat->addStat(7, "today");
    statApplication::destroyInstance();

    // The next start, later the same day: the rows of the day before go out.
    stat = statApplication::getInstance();
    stat->setClock([this] { return clock; });
    startAndSettle();
    ASSERT_EQ(server.count("/st/up.php"), 1);
    const std::string sent = decoded(server.lastBody("/st/up.php"));
    EXPECT_EQ(UIJson::getString(sent, "number"), "2");
    EXPECT_EQ(UIJson::getString(sent, "appid"), AppConfig::getInstance()->getAppIdentifier());
    EXPECT_EQ(UIJson::getString(sent, "type0"), "3");
    EXPECT_EQ(UIJson::getString(sent, "time0"), "2024-03-01 10:00:00");
    EXPECT_EQ(UIJson::getString(sent, "value0"), "");
    EXPECT_EQ(UIJson::getString(sent, "type1"), "19");
    EXPECT_EQ(UIJson::getString(sent, "time1"), "2024-03-01 10:00:00");
    EXPECT_EQ(sent.find("type2"), std::string::npos);
    // Only today's row is left, and the SQL-looking value was stored as it is.
    EXPECT_EQ(rows(), std::vector<std::string>{"7|2024-03-02 08:30:00|today"});

    // Nothing before today: nothing is sent.
    statApplication::destroyInstance();
    stat = statApplication::getInstance();
    stat->setClock([this] { return clock; });
    startAndSettle();
    EXPECT_EQ(server.count("/st/up.php"), 1);
}

TEST_F(StatisticsTest, AnswerAfterMidnightDeletesOnlyWhatWasSent)
{
    stat->start();
    ASSERT_TRUE(flushHttp());
    stat->addStat(3, "day one");
    clock = "2024-03-02 23:59:58";
    stat->addStat(4, "last second of day two");
    statApplication::destroyInstance();

    // The upload is built at 23:59:59; the server holds its answer until the clock has passed
    // midnight.
    std::atomic<bool> midnightPassed{false};
    server.handle("/st/up.php", [&midnightPassed](const httplib::Request&, httplib::Response& res) {
        for (int i = 0; i < 10000 && !midnightPassed.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        res.set_content(b64("{\"Status\":\"0\"}"), "text/plain");
    });
    clock = "2024-03-02 23:59:59";
    stat = statApplication::getInstance();
    stat->setClock([this] { return clock; });
    stat->start();
    ASSERT_TRUE(stepUntil([this] { return server.count("/st/up.php") == 1; }, 50000));
    clock = "2024-03-03 00:00:01";
    midnightPassed = true;
    ASSERT_TRUE(flushHttp());
    EXPECT_EQ(UIJson::getString(decoded(server.lastBody("/st/up.php")), "number"), "1");
    EXPECT_EQ(rows(), std::vector<std::string>{"4|2024-03-02 23:59:58|last second of day two"});
}

TEST_F(StatisticsTest, RefusedOrHostileAnswersDeleteNothing)
{
    stat->start();
    ASSERT_TRUE(flushHttp());
    stat->addStat(0, "");
    clock = "2024-03-05 09:00:00";
    const std::vector<std::string> before = rows();

    struct Case {
        const char* name;
        std::function<void()> arrange;
    };
    const std::vector<Case> cases = {
        {"Status not 0", [this] { answerUpload("{\"Status\":\"3\"}"); }},
        {"not Base64", [this] { server.put("/st/up.php", "{\"Status\":\"0\"} ??"); }},
        {"not JSON", [this] { server.put("/st/up.php", b64("Status 0")); }},
        {"HTTP 500", [this] { server.put("/st/up.php", b64("{\"Status\":\"0\"}"), 500); }},
        {"oversized", [this] { server.put("/st/up.php", b64("{\"Status\":\"0\"," + std::string(5 << 20, ' ') + "}")); }},
        {"never answers", [this] { server.hang("/st/up.php"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        statApplication::destroyInstance();
        stat = statApplication::getInstance();
        stat->setClock([this] { return clock; });
        startAndSettle();
        EXPECT_EQ(rows(), before);
    }
    EXPECT_EQ(server.count("/st/up.php"), int(cases.size()));
}

TEST_F(StatisticsTest, AnAddressThatIsNoWebAddressIsNotUsed)
{
    stat->addStat(0, "");  // no database yet: dropped quietly
    server.put("/st/gi.php", "", 404);
    stat->start();
    ASSERT_TRUE(flushHttp());
    stat->addStat(0, "");
    clock = "2024-03-05 09:00:00";
    for (const std::string& reply : {std::string("file:///etc/passwd"), std::string(""), b64("http://x"),
                                     server.url("/st/up.php") + std::string(3000, 'x')}) {
        server.put("/st/gi.php", reply);
        statApplication::destroyInstance();
        stat = statApplication::getInstance();
        stat->setClock([this] { return clock; });
        startAndSettle();
        EXPECT_EQ(stat->getUploadUrl(), "");
    }
    server.put("/st/gi.php", "", 500);
    statApplication::destroyInstance();
    stat = statApplication::getInstance();
    startAndSettle();
    EXPECT_EQ(server.count("/st/up.php"), 0);
    EXPECT_EQ(rows().size(), 1u);
}

} // namespace
