#include "NSDBUtil.h"

#include "NSDBDataModel.h"
#include "NSTimeUtil.h"
#include "NSStringUtil.h"   // debugLog

#include "cocos2d.h"

#include <cstdio>
#include <new>
#include <sqlite3.h>

namespace NSUI {

namespace {

// Row callback of query(): every column as text, NULL as "None".
// No C++ exception may cross SQLite's C frames: a row that cannot be kept (out of memory) ends the
// query instead (non-zero: sqlite3_exec returns SQLITE_ABORT).
int collectRow(void* context, int columns, char** values, char** /*names*/)
{
    auto* model = static_cast<NSDBDataModel*>(context);
    try {
        for (int i = 0; i < columns; ++i)
            model->addValue(values[i] ? values[i] : "None");
        model->endRow();
    } catch (const std::bad_alloc&) {
        return 1;
    }
    return 0;
}

// Row callback of tableExists(): the count column is a text that does not start with '0'.
int countIsNotZero(void* context, int columns, char** values, char** /*names*/)
{
    auto* found = static_cast<bool*>(context);
    *found = columns > 0 && values[0] != nullptr && values[0][0] != '0';
    return 0;
}

} // namespace

NSDBUtil::NSDBUtil() = default;

NSDBUtil::~NSDBUtil()
{
    if (db_)
        sqlite3_close(db_);
}

bool NSDBUtil::open(const std::string& path)
{
    if (db_) {
        sqlite3_close(db_);
        db_ = nullptr;
    }
    // Only effective before SQLite initialises itself; afterwards it reports misuse, which is fine.
    sqlite3_config(SQLITE_CONFIG_MULTITHREAD);
    lastResult_ = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (lastResult_ != SQLITE_OK) {
        debugLog("open database '%s' failed: %s", path.c_str(), db_ ? sqlite3_errmsg(db_) : "out of memory");
        return false;
    }
    // Another connection (the other copy of the program, a reader of this one) may hold the file
    // for a moment: statements wait for it instead of failing at once.
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    return true;
}

bool NSDBUtil::openForReading(const std::string& path, bool immutable)
{
    if (db_) {
        sqlite3_close(db_);
        db_ = nullptr;
    }
    sqlite3_config(SQLITE_CONFIG_MULTITHREAD);
    std::string name = path;
    int flags = SQLITE_OPEN_READONLY;
    if (immutable) {
        // A URI: the characters it gives a meaning to are escaped in the path.
        name = "file:";
        for (unsigned char c : path) {
            if (c == '%' || c == '?' || c == '#' || c < 0x20 || c == 0x7f) {
                char escaped[4];
                std::snprintf(escaped, sizeof(escaped), "%%%02X", c);
                name += escaped;
            } else {
                name += static_cast<char>(c);
            }
        }
        name += "?immutable=1";
        flags |= SQLITE_OPEN_URI;
    }
    lastResult_ = sqlite3_open_v2(name.c_str(), &db_, flags, nullptr);
    if (lastResult_ != SQLITE_OK) {
        debugLog("open database '%s' for reading failed: %s", path.c_str(), db_ ? sqlite3_errmsg(db_) : "out of memory");
        return false;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    return true;
}

void NSDBUtil::close()
{
    if (db_)
        sqlite3_close(db_);
    db_ = nullptr;
}

bool NSDBUtil::isReadOnly() const
{
    return db_ && sqlite3_db_readonly(db_, "main") == 1;
}

bool NSDBUtil::tableExists(const std::string& name)
{
    if (!db_)
        return false;
    sql_ = "select count(*) from sqlite_master where type='table' and name ='" + name + "';";
    bool found = false;
    char* error = nullptr;
    lastResult_ = sqlite3_exec(db_, sql_.c_str(), countIsNotZero, &found, &error);
    if (error) {
        errorText_ = error;
        sqlite3_free(error);
    }
    return lastResult_ == SQLITE_OK && found;
}

bool NSDBUtil::dropTable(const std::string& name)
{
    if (!db_)
        return false;
    if (!tableExists(name))
        return lastResult_ == SQLITE_OK;
    return execute("drop table " + name + ";");
}

bool NSDBUtil::createTable(const std::string& createSql, const std::string& name)
{
    if (!db_)
        return false;
    if (!dropTable(name))
        return false;
    return execute(createSql);
}

bool NSDBUtil::execute(const std::string& sql)
{
    if (!db_)
        return false;
    char* error = nullptr;
    lastResult_ = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
    if (error) {
        errorText_ = error;
        sqlite3_free(error);
    }
    if (lastResult_ != SQLITE_OK) {
        debugLog("execute failed (%d): %s [%s]", lastResult_, errorText_.c_str(), sql.c_str());
        return false;
    }
    return true;
}

bool NSDBUtil::execute(const std::string& sql, const std::vector<std::string>& values)
{
    if (!db_)
        return false;
    return runPrepared(sql, values, nullptr);
}

bool NSDBUtil::begin()
{
    if (!db_)
        return false;
    for (int attempt = 1;; ++attempt) {
        if (tryBegin()) {
            if (attempt > 1)
                cocos2d::log("begin waited %d times for another connection", attempt - 1);
            return true;
        }
        if (attempt >= beginAttempts_) {
            if (attempt > 1)
                cocos2d::log("begin gave up after %d waits for another connection", attempt - 1);
            return false;
        }
        if (attempt == 1)
            cocos2d::log(" try to begin");
        sleepFor(beginDelayMs_ / 1000u, (beginDelayMs_ % 1000u) * 1000000u);
    }
}

bool NSDBUtil::tryBegin()
{
    if (!db_)
        return false;
    // The busy timeout is off while it asks for the lock: the caller decides where to wait.
    sqlite3_busy_timeout(db_, 0);
    const bool begun = execute("begin IMMEDIATE;");
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    return begun;
}

bool NSDBUtil::commit()
{
    if (!db_)
        return false;
    // A commit needs every reader of other connections gone. While one is still there SQLite
    // answers SQLITE_BUSY and keeps the transaction open, holding the write lock: give up there
    // and this connection could begin nothing more, and every other writer would wait on it. So
    // the commit is retried like begin, without the log line.
    for (int attempt = 1;; ++attempt) {
        if (execute("commit;"))
            return true;
        if (lastResult_ != SQLITE_BUSY || attempt >= beginAttempts_)
            return false;
        sleepFor(beginDelayMs_ / 1000u, (beginDelayMs_ % 1000u) * 1000000u);
    }
}

bool NSDBUtil::rollback()
{
    return execute("rollback;");
}

bool NSDBUtil::query(const std::string& sql, NSDBDataModel& model)
{
    if (!db_)
        return false;
    model.clear();
    char* error = nullptr;
    lastResult_ = sqlite3_exec(db_, sql.c_str(), collectRow, &model, &error);
    if (error) {
        errorText_ = error;
        sqlite3_free(error);
    }
    if (lastResult_ != SQLITE_OK) {
        debugLog("query failed (%d): %s [%s]", lastResult_, errorText_.c_str(), sql.c_str());
        return false;
    }
    return true;
}

bool NSDBUtil::query(const std::string& sql, const std::vector<std::string>& values, NSDBDataModel& model)
{
    if (!db_)
        return false;
    model.clear();
    return runPrepared(sql, values, &model);
}

bool NSDBUtil::runPrepared(const std::string& sql, const std::vector<std::string>& values, NSDBDataModel* model)
{
    sqlite3_stmt* statement = nullptr;
    lastResult_ = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr);
    if (lastResult_ != SQLITE_OK || !statement) {
        errorText_ = sqlite3_errmsg(db_);
        debugLog("prepare failed (%d): %s [%s]", lastResult_, errorText_.c_str(), sql.c_str());
        sqlite3_finalize(statement);
        if (lastResult_ == SQLITE_OK)
            lastResult_ = SQLITE_MISUSE;   // an empty statement has nothing to run
        return false;
    }
    if (static_cast<size_t>(sqlite3_bind_parameter_count(statement)) != values.size()) {
        sqlite3_finalize(statement);
        lastResult_ = SQLITE_RANGE;
        errorText_ = "wrong number of bound values";
        debugLog("%s [%s]", errorText_.c_str(), sql.c_str());
        return false;
    }
    for (size_t i = 0; i < values.size(); ++i) {
        lastResult_ = sqlite3_bind_text(statement, static_cast<int>(i + 1), values[i].data(),
                                        static_cast<int>(values[i].size()), SQLITE_TRANSIENT);
        if (lastResult_ != SQLITE_OK) {
            sqlite3_finalize(statement);
            return false;
        }
    }
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        if (!model)
            continue;
        const int columns = sqlite3_column_count(statement);
        for (int c = 0; c < columns; ++c) {
            if (sqlite3_column_type(statement, c) == SQLITE_NULL) {
                model->addValue("None");
                continue;
            }
            const unsigned char* text = sqlite3_column_text(statement, c);
            const int bytes = sqlite3_column_bytes(statement, c);
            model->addValue(text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(bytes))
                                 : std::string());
        }
        model->endRow();
    }
    lastResult_ = step == SQLITE_DONE ? SQLITE_OK : step;
    if (lastResult_ != SQLITE_OK) {
        errorText_ = sqlite3_errmsg(db_);
        debugLog("statement failed (%d): %s [%s]", lastResult_, errorText_.c_str(), sql.c_str());
    }
    sqlite3_finalize(statement);
    return lastResult_ == SQLITE_OK;
}

void NSDBUtil::setBeginRetryForTest(int attempts, unsigned int delayMs)
{
    beginAttempts_ = attempts < 1 ? 1 : attempts;
    beginDelayMs_ = delayMs;
}

} // namespace NSUI
