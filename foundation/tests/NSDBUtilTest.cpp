// The SQLite access layer against real database files in a temporary folder.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <sqlite3.h>

#include "NSDBDataModel.h"
#include "NSDBUtil.h"
#include "NSFileTestSupport.h"

using NSUI::NSDBDataModel;
using NSUI::NSDBUtil;

namespace {

int countRows(NSDBUtil& db, const std::string& table)
{
    NSDBDataModel model;
    if (!db.query("select count(*) from " + table + ";", model) || model.getRowCount() != 1)
        return -1;
    return std::atoi(model.getValue(0, 0).c_str());
}

// A second connection, as another process or thread would hold it.
class RawConnection {
public:
    explicit RawConnection(const std::string& path) { sqlite3_open(path.c_str(), &db_); }
    ~RawConnection() { sqlite3_close(db_); }
    int exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

private:
    sqlite3* db_ = nullptr;
};

// A database file of its own in a temporary folder, opened.
class NSDBUtilTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(db.open(dir / "db")); }
    qvtest::TempDir dir;
    NSDBUtil db;
};

} // namespace

TEST(NSDBUtil, EveryOperationFailsBeforeOpen)
{
    NSDBUtil db;
    NSDBDataModel model;
    model.addValue("stale");
    model.endRow();
    EXPECT_FALSE(db.tableExists("t"));
    EXPECT_FALSE(db.dropTable("t"));
    EXPECT_FALSE(db.createTable("create table t(a);", "t"));
    EXPECT_FALSE(db.execute("select 1;"));
    EXPECT_FALSE(db.execute("select ?;", {"1"}));
    EXPECT_FALSE(db.begin());
    EXPECT_FALSE(db.commit());
    EXPECT_FALSE(db.rollback());
    EXPECT_FALSE(db.query("select 1;", model));
    EXPECT_EQ(model.getRowCount(), 1);   // untouched: nothing ran

    // A failed open keeps failing.
    qvtest::TempDir dir;
    EXPECT_FALSE(db.open(dir / "missing/folder/db"));
    EXPECT_NE(db.getLastResult(), SQLITE_OK);
    EXPECT_FALSE(db.execute("create table t(a);"));
}

TEST_F(NSDBUtilTest, CreateTableReplacesTableAndRows)
{
    EXPECT_FALSE(db.tableExists("patient"));
    EXPECT_TRUE(db.dropTable("patient"));   // nothing to drop is fine
    ASSERT_TRUE(db.createTable("create table patient(id integer, name text);", "patient"));
    EXPECT_TRUE(db.tableExists("patient"));
    ASSERT_TRUE(db.execute("insert into patient values(1, \"a\");insert into patient values(2, \"b\");"));
    EXPECT_EQ(countRows(db, "patient"), 2);

    ASSERT_TRUE(db.createTable("create table patient(id integer, name text, sex text);", "patient"));
    EXPECT_EQ(countRows(db, "patient"), 0);
    EXPECT_TRUE(db.execute("insert into patient values(1, \"a\", \"F\");"));   // the new schema applies
    EXPECT_TRUE(db.dropTable("patient"));
    EXPECT_FALSE(db.tableExists("patient"));

    // A table name that merely starts like another does not count.
    ASSERT_TRUE(db.execute("create table patients(a);"));
    EXPECT_FALSE(db.tableExists("patient"));
}

TEST_F(NSDBUtilTest, QueryRowsAsText)
{
    ASSERT_TRUE(db.execute("create table t(a, b, c);"
                           "insert into t values(NULL, '', 7);"
                           "insert into t values('x', 2.5, 'y');"));
    NSDBDataModel model;
    ASSERT_TRUE(db.query("select a, b, c from t order by rowid;", model));
    ASSERT_EQ(model.getRowCount(), 2);
    EXPECT_EQ(model.getColumnCount(0), 3);
    EXPECT_EQ(model.getValue(0, 0), "None");
    EXPECT_EQ(model.getValue(0, 1), "");
    EXPECT_EQ(model.getValue(0, 2), "7");
    EXPECT_EQ(model.getValue(1, 1), "2.5");
    EXPECT_EQ(model.getColumnCount(-1), 0);
    EXPECT_EQ(model.getColumnCount(2), 0);
    EXPECT_EQ(model.getValue(2, 0), "");
    EXPECT_EQ(model.getValue(0, 3), "");
    EXPECT_EQ(model.getValue(-1, 0), "");

    // The bound form gives the same texts, and a query reuses (clears) the model.
    ASSERT_TRUE(db.query("select a, b, c from t where cast(c as text) = ?;", {"7"}, model));
    ASSERT_EQ(model.getRowCount(), 1);
    EXPECT_EQ(model.getValue(0, 0), "None");
    EXPECT_EQ(model.getValue(0, 2), "7");

    ASSERT_TRUE(db.query("select * from t where 0;", model));
    EXPECT_EQ(model.getRowCount(), 0);

    EXPECT_FALSE(db.query("select * from nowhere;", model));
    EXPECT_NE(db.getLastResult(), SQLITE_OK);
}

TEST_F(NSDBUtilTest, BoundValuesNeverBecomeSql)
{
    ASSERT_TRUE(db.execute("create table patient(name text, note text);"));
    const std::string hostile = "Robert\"); drop table patient; --";
    ASSERT_TRUE(db.execute("insert into patient values(?, ?);", {hostile, "it's \"quoted\""}));
    EXPECT_TRUE(db.tableExists("patient"));

    NSDBDataModel model;
    ASSERT_TRUE(db.query("select name, note from patient where name = ?;", {hostile}, model));
    ASSERT_EQ(model.getRowCount(), 1);
    EXPECT_EQ(model.getValue(0, 0), hostile);
    EXPECT_EQ(model.getValue(0, 1), "it's \"quoted\"");

    // The number of values must match the placeholders.
    EXPECT_FALSE(db.execute("insert into patient values(?, ?);", {"only one"}));
    EXPECT_EQ(countRows(db, "patient"), 1);
}

TEST_F(NSDBUtilTest, RollbackDiscardsAFailedTransaction)
{
    ASSERT_TRUE(db.execute("create table image(uid text primary key);"));
    ASSERT_TRUE(db.execute("insert into image values(\"1\");"));

    ASSERT_TRUE(db.begin());
    EXPECT_TRUE(db.execute("insert into image values(\"2\");"));
    EXPECT_FALSE(db.execute("insert into image values(\"1\");"));   // duplicate key
    EXPECT_EQ(db.getLastResult(), SQLITE_CONSTRAINT);
    ASSERT_TRUE(db.rollback());
    EXPECT_EQ(countRows(db, "image"), 1);

    ASSERT_TRUE(db.begin());
    EXPECT_TRUE(db.execute("insert into image values(\"3\");"));
    ASSERT_TRUE(db.commit());
    EXPECT_EQ(countRows(db, "image"), 2);
}

TEST_F(NSDBUtilTest, BeginWaitsForAnotherWriter)
{
    ASSERT_TRUE(db.execute("create table t(a);"));

    RawConnection other(dir / "db");
    ASSERT_EQ(other.exec("begin immediate;"), SQLITE_OK);
    ASSERT_EQ(other.exec("insert into t values(1);"), SQLITE_OK);

    qvtest::LogCapture log;
    std::atomic<bool> released{false};
    // The writer lets go once the begin has met its lock and said so, not after a fixed time: on
    // a loaded machine the begin may come later than that and then never meet the lock.
    std::thread holder([&] {
        for (int i = 0; i < 2000 && log.count(" try to begin") == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        other.exec("commit;");
        released = true;
    });
    const bool begun = db.begin();
    holder.join();

    ASSERT_TRUE(begun);
    EXPECT_TRUE(released.load());
    EXPECT_GE(log.count(" try to begin"), 1);
    EXPECT_TRUE(db.execute("insert into t values(2);"));
    EXPECT_TRUE(db.commit());
    EXPECT_EQ(countRows(db, "t"), 2);
}

TEST_F(NSDBUtilTest, CommitWaitsForReadersOfOtherConnections)
{
    ASSERT_TRUE(db.execute("create table t(a);insert into t values(1);"));

    // A reader in the middle of a transaction holds a shared lock that keeps a commit waiting.
    RawConnection reader(dir / "db");
    ASSERT_EQ(reader.exec("begin;"), SQLITE_OK);
    ASSERT_EQ(reader.exec("select * from t;"), SQLITE_OK);

    ASSERT_TRUE(db.begin());
    ASSERT_TRUE(db.execute("insert into t values(2);"));
    std::thread finisher([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        reader.exec("commit;");
    });
    const bool committed = db.commit();
    finisher.join();
    EXPECT_TRUE(committed);
    EXPECT_EQ(countRows(db, "t"), 2);
    EXPECT_TRUE(db.begin());   // the connection is free for the next transaction
    EXPECT_TRUE(db.rollback());
}

TEST_F(NSDBUtilTest, TableCheckWaitsForAFileAnotherConnectionHolds)
{
    ASSERT_TRUE(db.execute("create table t(a);insert into t values(1);"));

    // While another connection holds the file, a table check waits for it instead of answering
    // "missing", which an opener would take as a reason to create the table anew.
    RawConnection other(dir / "db");
    ASSERT_EQ(other.exec("begin exclusive;"), SQLITE_OK);
    std::thread holder([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        other.exec("commit;");
    });
    const bool exists = db.tableExists("t");
    holder.join();
    EXPECT_TRUE(exists);
    EXPECT_EQ(db.getLastResult(), SQLITE_OK);

    // Held past the timeout, the check fails and says so.
    ASSERT_EQ(other.exec("begin exclusive;"), SQLITE_OK);
    EXPECT_FALSE(db.tableExists("t"));
    EXPECT_EQ(db.getLastResult(), SQLITE_BUSY);
    other.exec("rollback;");
    EXPECT_EQ(countRows(db, "t"), 1);
}

TEST_F(NSDBUtilTest, BeginGivesUpWhileTheLockIsHeld)
{
    ASSERT_TRUE(db.execute("create table t(a);"));
    db.setBeginRetryForTest(5, 2);

    RawConnection other(dir / "db");
    ASSERT_EQ(other.exec("begin immediate;"), SQLITE_OK);

    qvtest::LogCapture log;
    EXPECT_FALSE(db.begin());
    EXPECT_EQ(db.getLastResult(), SQLITE_BUSY);
    EXPECT_EQ(log.count(" try to begin"), 1);   // the 4 waits are counted, not repeated
    EXPECT_EQ(log.count("begin gave up after 4 waits for another connection"), 1);
    other.exec("rollback;");
    EXPECT_TRUE(db.begin());
    EXPECT_TRUE(db.rollback());
}

TEST(NSDBUtil, ConnectionsOnSeveralThreadsAllCommit)
{
    qvtest::TempDir dir;
    {
        NSDBUtil db;
        ASSERT_TRUE(db.open(dir / "db"));
        ASSERT_TRUE(db.execute("create table t(thread integer, n integer);"));
    }
    constexpr int kThreads = 4;
    constexpr int kRows = 40;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            NSDBUtil db;
            db.setBeginRetryForTest(2000, 1);
            if (!db.open(dir / "db")) {
                ++failures;
                return;
            }
            for (int n = 0; n < kRows; ++n) {
                const bool ok = db.begin() &&
                                db.execute("insert into t values(?, ?);", {std::to_string(t), std::to_string(n)}) &&
                                db.commit();
                if (!ok)
                    ++failures;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);

    NSDBUtil db;
    ASSERT_TRUE(db.open(dir / "db"));
    EXPECT_EQ(countRows(db, "t"), kThreads * kRows);
}
