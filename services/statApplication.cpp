#include "statApplication.h"

#include "AppConfig.h"
#include "NSDBDataModel.h"
#include "NSDBUtil.h"
#include "NSHttpClient.h"
#include "NSStringUtil.h"
#include "NSTimeUtil.h"
#include "UIHttpResponse.h"
#include "serverInterface.h"

#include <vector>

using namespace cocos2d;

namespace {

constexpr const char* kFolder = "qv/stat/";
constexpr const char* kDatabaseName = "statDB";

constexpr const char* kCreateVersionSql = "create table version (ID integer primary key autoincrement,version integer);";
constexpr const char* kCreateStatSql =
    "create table stat (ID integer primary key autoincrement,type integer,statTime  datetime,value text);";

// The upload address is a short text; anything else is not an address.
constexpr size_t kMaxAddressLength = 2048;

statApplication* sharedStat = nullptr;

bool isWebAddress(const std::string& text)
{
    if (text.size() > kMaxAddressLength)
        return false;
    if (text.compare(0, 7, "http://") != 0 && text.compare(0, 8, "https://") != 0)
        return false;
    for (unsigned char c : text) {
        if (c <= ' ' || c == 0x7f)
            return false;
    }
    return true;
}

} // namespace

statApplication* statApplication::getInstance()
{
    if (!sharedStat)
        sharedStat = new statApplication();
    return sharedStat;
}

statApplication* statApplication::peekInstance()
{
    return sharedStat;
}

void statApplication::destroyInstance()
{
    if (!sharedStat)
        return;
    statApplication* stat = sharedStat;
    sharedStat = nullptr;
    stat->shutdown();
    stat->release();
}

statApplication::statApplication() : now(getCurrentDateTime)
{
    setRequestTarget(this);
}

statApplication::~statApplication()
{
    if (sharedStat == this)
        sharedStat = nullptr;
}

std::string statApplication::databasePath()
{
    return FileUtils::getInstance()->getWritablePath() + kFolder + kDatabaseName;
}

void statApplication::start()
{
    FileUtils* files = FileUtils::getInstance();
    const std::string folder = files->getWritablePath() + kFolder;
    if (!files->isDirectoryExist(folder))
        files->createDirectory(folder);
    openDB();
    serverInterface::post(*this, serverInterface::kStatUrlPath, "", serverInterface::kStatUrlTag);
}

bool statApplication::openDB()
{
    db = std::make_unique<NSUI::NSDBUtil>();
    auto failed = [this](const char* line) {
        log("%s", line);
        db.reset();
        return false;
    };
    if (!db->open(databasePath()))
        return failed("failed to create statDB");
    // A check that failed (the file busy past the timeout) says nothing about the table: never
    // create (and so drop) a table on its word.
    const bool hasVersion = db->tableExists("version");
    if (db->getLastResult() != 0)
        return failed("failed to read statDB");
    if (!hasVersion) {
        if (!db->execute(kCreateVersionSql) ||
            !db->execute("insert into version(version) values (" + std::to_string(schemaVersion) + ")"))
            return failed("failed to create table 'version'.");
    } else {
        NSUI::NSDBDataModel rows;
        if (db->query("select version from version", rows) && rows.getRowCount() > 0 &&
            std::atoi(rows.getValue(0, 0).c_str()) != schemaVersion &&
            !db->execute("update version set version=" + std::to_string(schemaVersion)))
            return failed("failed to update table 'version'.");
    }
    const bool hasStat = db->tableExists("stat");
    if (db->getLastResult() != 0)
        return failed("failed to read statDB");
    if (!hasStat && !db->execute(kCreateStatSql))
        return failed("failed to create table 'stat'.");
    return true;
}

void statApplication::addStat(int type, const std::string& value)
{
    if (!db)
        return;
    // The time and the value are bound, never spliced into the statement.
    db->execute("insert into stat(type,statTime,value) values (" + std::to_string(type) + ",?,?)", {now(), value});
}

std::string statApplication::today() const
{
    return now().substr(0, 10) + " 00:00:00";
}

void statApplication::upload()
{
    if (uploadUrl.empty() || !db || !uploadCutoff.empty())
        return;
    const std::string cutoff = today();
    NSUI::NSDBDataModel rows;
    if (!db->query("select type,statTime,value from stat where statTime<?", {cutoff}, rows) || rows.getRowCount() == 0)
        return;
    std::string body;
    setString(body, "number", std::to_string(rows.getRowCount()));
    setString(body, "appid", AppConfig::getInstance()->getAppIdentifier());
    for (int i = 0; i < rows.getRowCount(); ++i) {
        const std::string index = std::to_string(i);
        setString(body, "type" + index, rows.getValue(i, 0));
        setString(body, "time" + index, rows.getValue(i, 1));
        setString(body, "value" + index, rows.getValue(i, 2));
    }
    uploadCutoff = cutoff;
    httpPost(uploadUrl, safeBase64EncodeString(body), serverInterface::kUploadTag, "", "");
}

void statApplication::shutdown()
{
    db.reset();
    if (NSUI::NSHttpClient::hasInstance())
        NSUI::NSHttpClient::getInstance()->cancelRequestsForTarget(this);
    setRequestTarget(nullptr);
    uploadCutoff.clear();
}

void statApplication::onHttpResponse(NSUI::UIHttpResponse* response)
{
    if (!response)
        return;
    if (response->tag == serverInterface::kStatUrlTag) {
        // The server's answer may end in a line break; the address is what lies between the blanks.
        std::string address = response->body;
        trim(address);
        if (!serverInterface::isHttpOk(response) || !isWebAddress(address))
            return;
        uploadUrl = address;
        upload();
        return;
    }
    if (response->tag != serverInterface::kUploadTag)
        return;
    const std::string cutoff = uploadCutoff;
    uploadCutoff.clear();
    std::string reply;
    if (cutoff.empty() || !db || !serverInterface::decodeReply(response, reply) || !serverInterface::isStatusOk(reply))
        return;
    if (!db->begin())
        return;
    if (db->execute("delete from stat where statTime<?", {cutoff}))
        db->commit();
    else
        db->rollback();
}
