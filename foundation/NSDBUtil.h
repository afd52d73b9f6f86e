// NSDBUtil: a thin wrapper over one SQLite connection.
//
// Opens a database file, tests, creates and drops tables, runs statements and immediate
// transactions, and collects query rows as text into an NSDBDataModel. The library database and
// the usage statistics own one each.
//
// Threads: SQLite runs in multi-thread mode, so one connection must never be used by two threads
// at once. Each owner uses its wrapper from one thread at a time (or under its own lock); the
// wrapper takes no lock itself.
//
// Failures are reported by a false result, with the SQLite result code kept in getLastResult();
// detailed messages go to the silent diagnostic sink. The only lines written to the log are the
// retry notices of begin(): one when it first has to wait, one with the count when it ends.
#pragma once

#include <string>
#include <vector>

struct sqlite3;

namespace NSUI {

class NSDBDataModel;

class NSDBUtil {
public:
    NSDBUtil();
    virtual ~NSDBUtil();

    NSDBUtil(const NSDBUtil&) = delete;
    NSDBUtil& operator=(const NSDBUtil&) = delete;

    // Opens (creating when missing) the database file read-write, after switching SQLite to
    // multi-thread mode. A failed open keeps the handle SQLite returned: statements on it fail.
    // Opening again closes the previous connection first.
    bool open(const std::string& path);
    // Opens an existing file for reading only, never creating it or its journal files. immutable:
    // SQLite takes the file for one nothing can change (no locks, no write-ahead log looked at),
    // which is how it reads a write-ahead-logged file whose log and index it could not make (a
    // folder or mount it cannot write). The open itself reads nothing: a first query tells.
    bool openForReading(const std::string& path, bool immutable);
    // Closes the connection (a later open starts anew). Safe when none is open.
    void close();
    // True when SQLite opened the file read-only (the file or its folder cannot be written).
    bool isReadOnly() const;

    // Every statement waits up to this long for a file another connection holds (begin excepted,
    // which retries as described below).
    static constexpr int kBusyTimeoutMs = 2000;

    // True when the table exists. False also when the check itself failed (getLastResult() is then
    // not 0): a caller must not take that for a missing table.
    bool tableExists(const std::string& name);
    // True when the table does not exist or was dropped.
    bool dropTable(const std::string& name);
    // Drops a table of that name first (its rows are discarded), then runs createSql.
    bool createTable(const std::string& createSql, const std::string& name);

    // Runs one or more statements; no rows are collected.
    bool execute(const std::string& sql);
    // Runs one statement whose "?" placeholders take the given texts, bound in order. Values
    // from files, peers and the network go through this form, never into the SQL text.
    bool execute(const std::string& sql, const std::vector<std::string>& values);

    // "begin IMMEDIATE;": takes the write lock at once, so a begun transaction never fails later
    // for want of it. While another connection holds the lock the statement is retried, 50
    // attempts 50 ms apart (about 2.5 s). The first wait logs " try to begin"; a begin that
    // waited ends with one line that counts its waits.
    bool begin();
    // One attempt at "begin IMMEDIATE;" that never waits: false with getLastResult() SQLITE_BUSY
    // (or SQLITE_LOCKED) while another connection holds the write lock. For callers that must wait
    // elsewhere, outside their own locks.
    bool tryBegin();
    int beginAttempts() const { return beginAttempts_; }
    unsigned int beginDelayMs() const { return beginDelayMs_; }
    // "commit;". While readers of other connections keep it from completing (SQLITE_BUSY, the
    // transaction still open) it is retried as begin is, without the log line.
    bool commit();
    bool rollback();

    // Clears model, then collects every row as texts (NULL reads "None"). Rows delivered before a
    // failure stay in the model.
    bool query(const std::string& sql, NSDBDataModel& model);
    // The same for one statement with bound text values, as execute(sql, values).
    bool query(const std::string& sql, const std::vector<std::string>& values, NSDBDataModel& model);

    // The SQLite result code of the last open or statement (0 is SQLITE_OK).
    int getLastResult() const { return lastResult_; }
    bool isOpen() const { return db_ != nullptr; }

    // Test hook: the number of begin attempts and the wait between them in milliseconds.
    void setBeginRetryForTest(int attempts, unsigned int delayMs);

private:
    bool runPrepared(const std::string& sql, const std::vector<std::string>& values, NSDBDataModel* model);

    sqlite3* db_ = nullptr;
    std::string errorText_;   // last error text handed back by SQLite; kept for debugging only
    std::string sql_;         // the last table-existence query
    int lastResult_ = 0;
    int beginAttempts_ = 50;
    unsigned int beginDelayMs_ = 50;
};

} // namespace NSUI
