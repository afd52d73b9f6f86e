// statApplication: usage statistics. Events (an integer type and a text value, with the local
// time) are kept in the SQLite file qv/stat/statDB; once a start has learnt the upload address
// from the server, the events of the previous days are uploaded and, once the server confirms,
// deleted. Events of the current day stay until the first upload of a later day.
//
// Event types: 0 start, 1 foreground, 2 background, 3/4 patient list shown/left, 5/6 study list
// shown/left, 7/8 viewer shown/left, 9/10 send screen shown/left, 13/14 favourites shown/left,
// 15 an action in the patient or study list, 16/17 capture list actions, 18 query/retrieve
// screen, 19 an action in the patient list with a number as its value.
//
// Main thread only.
#pragma once

#include "UIHttpPhisical.h"
#include "UIJson.h"
#include "UILocalConfig.h"

#include "cocos2d.h"

#include <functional>
#include <memory>
#include <string>

namespace NSUI {
class NSDBUtil;
class UIHttpResponse;
}

class statApplication : public cocos2d::Ref,
                        public NSUI::UILocalConfig,
                        public NSUI::UIHttpPhisical,
                        public NSUI::UIJson {
public:
    static constexpr int kSchemaVersion = 2;

    // The one instance, created on first use; the process holds one reference, dropped by
    // destroyInstance.
    static statApplication* getInstance();
    // The instance if it exists; never creates it.
    static statApplication* peekInstance();
    // shutdown(), then the process's reference is released and the instance forgotten.
    static void destroyInstance();

    ~statApplication() override;

    // Opens the database (creating qv/stat/ when missing) and asks the server for the upload address.
    void start();
    // Opens "statDB" and brings its tables to the current schema; false (logged) on failure, which
    // leaves the recorder without a database.
    bool openDB();
    // Records an event with the current time; nothing without a database.
    void addStat(int type, const std::string& value);
    // The start of the current day: "YYYY-MM-DD 00:00:00".
    std::string today() const;
    // Uploads the events before today, when the upload address is known and no upload is waiting
    // for its answer.
    void upload();
    // Closes the database and stops hearing from the HTTP client.
    void shutdown();

    void onHttpResponse(NSUI::UIHttpResponse* response) override;

    // The current local date-time text ("YYYY-MM-DD hh:mm:ss"); replaceable by tests.
    void setClock(std::function<std::string()> clock) { now = std::move(clock); }
    const std::string& getUploadUrl() const { return uploadUrl; }
    bool hasDatabase() const { return db != nullptr; }
    static std::string databasePath();

private:
    statApplication();

    std::unique_ptr<NSUI::NSDBUtil> db;
    std::string uploadUrl;
    // The cut-off of the upload waiting for its answer ("" when none): the rows that upload sent
    // are exactly those before it, so the delete after the answer uses it too.
    std::string uploadCutoff;
    int schemaVersion = kSchemaVersion;
    std::function<std::string()> now;
};
