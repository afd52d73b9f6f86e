#include "dicomDB.h"

#include "NSStringUtil.h"
#include "NSFileUtil.h"
#include "NSNotificationCenter.h"
#include "NetworkUtils.h"
#include "UIJson.h"
#include "audio/SimpleAudioEngine.h"
#include "renderer/CCImage.h"
#include "dicomDBSchema.h"
#include "isDcmScan.h"
#include "platform/CCApplication.h"
#include "platform/CCFileUtils.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

const char* const kServerTitle = "tolvrane";

std::string idText(int id) { return std::to_string(id); }

// Texts from a file travel on inside the flat JSON of the stored-image notice, which has no
// escaping: characters that would end a value or open a new one become "_".
std::string flatJsonSafe(std::string text)
{
    for (char& c : text)
        if (c == '"' || c == '\\' || c == ',' || c == '{' || c == '}' || c == '[' || c == ']' ||
            static_cast<unsigned char>(c) < 0x20)
            c = '_';
    return text;
}

int currentLanguage()
{
    cocos2d::Application* app = cocos2d::Application::getInstance();
    return app ? static_cast<int>(app->getCurrentLanguage()) : 0;
}

} // namespace

dicomDB::dicomDB() = default;

dicomDB::~dicomDB() { stop(); }

std::string dicomDB::currentTimeText()
{
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char text[64];
    std::snprintf(text, sizeof(text), "%d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string dicomDB::dicomDateTimeText(const std::string& date, const std::string& time)
{
    if (date.size() < 8 || time.size() < 6) return std::string();
    return date.substr(0, 4) + "-" + date.substr(4, 2) + "-" + date.substr(6, 2) + " " + time.substr(0, 2) + ":" +
           time.substr(2, 2) + ":" + time.substr(4, 2);
}

bool dicomDB::init()
{
    wantedVersion_ = dicomDBSchema::kVersion;
    stopped_ = false;
    if (!thread_) {
        thread_ = new dicomDBThread(this);
        thread_->callback = [this](NSUI::NSThreadRequest* r) { onRequestDone(static_cast<dicomDBRequest*>(r)); };
    }
    open();
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        this, nullptr,
        [this](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData* data) {
            if (!data || !data->userData) return;
            // The payload owns the record; take it over for the request.
            queueStoredImage(std::unique_ptr<redIRI::DCM_MESSAGE>(static_cast<redIRI::DCM_MESSAGE*>(data->takeUserData())));
        },
        NSUI::NOTIFY_DB_ADD_IMAGE);
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        this, nullptr,
        [this](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData* data) {
            if (data && !data->text.empty()) onCaptureSaved(data->text);
        },
        NSUI::NOTIFY_CAPTURE_SAVED);
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        this, nullptr,
        [this](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData* data) {
            if (data && !data->text.empty()) onFavoriteFile(data->text, data->intValue, data->floatValue);
        },
        NSUI::NOTIFY_FAVORITE_ADD_FILE);
    newFavoriteCount = 0;
    lastMarkerTime_ = 0;
    return true;
}

void dicomDB::open()
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (libraryFolder_.empty()) {
        std::string writable = cocos2d::FileUtils::getInstance()->getWritablePath();
        libraryFolder_ = writable + "qv" + "/" + "dicom" + "/";
    }
    cocos2d::FileUtils::getInstance()->createDirectory(libraryFolder_);

    if (!db_.open(libraryFolder_ + dicomDBSchema::kFileName)) {
        debugLog("failed to create dicomdb");
    } else {
        db_.execute(dicomDBSchema::kConnectionSetup);
        bool versionWasMissing = !db_.tableExists("version");
        for (const dicomDBSchema::Table& table : dicomDBSchema::kTables) {
            if (db_.tableExists(table.name)) continue;
            if (!db_.createTable(table.createSql, table.name)) debugLog("failed to create table '%s'.", table.name);
        }
        for (const char* index : dicomDBSchema::kIndexes) db_.execute(index);
        std::string wanted = idText(wantedVersion_);
        if (versionWasMissing) db_.execute("insert into version(version) values (" + wanted + ")");
        if (db_.query("select version from version", scratch_) && scratch_.getRowCount() > 0 &&
            std::atoi(scratch_.getValue(0, 0).c_str()) < wantedVersion_)
            db_.execute("update version set version=" + wanted);
        ready_ = true;
    }

    if (startServer_) {
        std::string host, addresses, masks;
        getLocalNetworkInfo(host, addresses, masks);
        std::string list;
        std::vector<std::string> parts;
        splitString(addresses, ",", parts);
        for (const std::string& part : parts)
            if (!part.empty()) list += part + ",";
        server_ = std::make_unique<redIRI::dcmServer>();
        server_->setLanguage(currentLanguage());
        server_->setPort(list.c_str(), serverPort_.c_str(), kServerTitle);
        server_->setRoot(libraryFolder_.c_str());
        serverRunning_ = server_->BeginDicomServer();
        serverFailed_ = !serverRunning_;
    }
}

void dicomDB::stop()
{
    if (stopped_) return;
    stopped_ = true;
    // No new image arrives while the last ones are written.
    if (server_) {
        server_->StopDicomServer();
        server_.reset();
        serverRunning_ = false;
    }
    if (thread_) {
        // Images already stored on disk get their rows before the worker goes; queued queries
        // are dropped with the worker.
        {
            std::unique_lock<std::mutex> lock(pendingMutex_);
            pendingDone_.wait(lock, [this] { return pendingStores_ == 0; });
        }
        safeDestroy(thread_);
        thread_ = nullptr;
    }
    if (NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::peekInstance()) centre->removeObserver(this);
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    ready_ = false;  // the connection itself closes with this object
}

std::string dicomDB::getDicomRoot() const { return server_ ? std::string(server_->getRoot()) : libraryFolder_; }

bool dicomDB::queryFirstInt(const std::string& sql, const std::vector<std::string>& values, int& value, bool& found)
{
    NSUI::NSDBDataModel model;
    found = false;
    if (!db_.query(sql, values, model)) return false;
    if (model.getRowCount() > 0) {
        found = true;
        value = std::atoi(model.getValue(0, 0).c_str());
    }
    return true;
}

bool dicomDB::lastInsertID(int& id)
{
    bool found = false;
    return queryFirstInt("select last_insert_rowid()", {}, id, found) && found;
}

bool dicomDB::findLocked(const redIRI::DCM_MESSAGE& m, dicomDBRecordIds& ids)
{
    ids = dicomDBRecordIds();
    bool ok = queryFirstInt("select ID,updateTime from patient where name=? and patientIDHospital=?",
                            {m.PatientName, m.PatientID}, ids.patientID, ids.patientExists);
    if (ok && ids.patientExists)
        ok = queryFirstInt("select ID from study where studyUID=? and patientID=" + idText(ids.patientID),
                           {m.StudyInstanceUID}, ids.studyID, ids.studyExists);
    if (ok && ids.studyExists)
        ok = queryFirstInt("select ID from series where seriesUID=? and studyID=" + idText(ids.studyID),
                           {m.SeriesInstanceUID}, ids.seriesID, ids.seriesExists);
    if (ok && ids.seriesExists)
        ok = queryFirstInt("select ID from image where imageUID=? and seriesID=" + idText(ids.seriesID),
                           {m.SOPInstanceUID}, ids.imageID, ids.imageExists);
    if (!ok) debugLog("failed to search DB.");
    return ok;
}

bool dicomDB::findDicomRecord(const redIRI::DCM_MESSAGE& message, dicomDBRecordIds& ids)
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (!ready_) return false;
    return findLocked(message, ids);
}

bool dicomDB::saveDicomRecord(const redIRI::DCM_MESSAGE& m, dicomDBRecordIds& ids)
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (!ready_) return false;
    if (!findLocked(m, ids)) return false;
    if (ids.imageExists) return true;
    if (!db_.begin()) return false;

    const std::string now = currentTimeText();
    std::string studyTime = dicomDateTimeText(m.StudyDate, m.StudyTime);
    if (studyTime.empty()) studyTime = now;
    std::string seriesTime = dicomDateTimeText(m.SeriesDate, m.SeriesTime);
    if (seriesTime.empty()) seriesTime = now;

    auto fail = [this](const char* message) {
        debugLog("%s", message);
        db_.rollback();
        return false;
    };

    if (!ids.patientExists) {
        if (!db_.execute("insert into patient(name,patientIDHospital,birthday,sex,updateTime) values (?,?,?,?,?)",
                         {m.PatientName, m.PatientID, m.PatientBirthDate, m.PatientSex, now}))
            return fail("failed to insert record into patient.");
        bool found = false;
        if (!queryFirstInt("select ID,updateTime from patient where name=? and patientIDHospital=?",
                           {m.PatientName, m.PatientID}, ids.patientID, found) || !found)
            return fail("failed to search DB.");
    } else if (!db_.execute("update patient set updateTime=? where ID=" + idText(ids.patientID), {now})) {
        return fail("failed to insert record into patient.");
    }

    if (!ids.studyExists) {
        if (!db_.execute("insert into study(patientID,studyUID,studyIDHospital,studyDesc,date,time,updateTime) "
                         "values (" + idText(ids.patientID) + ",?,?,?,?,?,?)",
                         {m.StudyInstanceUID, m.StudyID, m.StudyDescription, m.StudyDate, m.StudyTime, studyTime}) ||
            !lastInsertID(ids.studyID))
            return fail("failed to insert record into study.");
    } else if (!db_.execute("update study set updateTime=? where ID=" + idText(ids.studyID), {studyTime})) {
        return fail("failed to insert record into study.");
    }

    if (!ids.seriesExists) {
        if (!db_.execute("insert into series(studyID,seriesUID,date,time,studyDesc,seriesDesc,updateTime,path) "
                         "values (" + idText(ids.studyID) + ",?,?,?,?,?,?,?)",
                         {m.SeriesInstanceUID, m.SeriesDate, m.SeriesTime, m.StudyDescription, m.SeriesDescription,
                          seriesTime, m.SeriesFolder}) ||
            !lastInsertID(ids.seriesID))
            return fail("failed to insert record into series.");
    } else if (!db_.execute("update series set updateTime=? where ID=" + idText(ids.seriesID), {seriesTime})) {
        return fail("failed to insert record into series.");
    }

    if (!db_.execute("insert into image(seriesID,imageUID,instanceID,file) values (" + idText(ids.seriesID) +
                     ",?,?,?)",
                     {m.SOPInstanceUID, m.InstanceNumber, m.FileName}) ||
        !lastInsertID(ids.imageID))
        return fail("failed to insert record into image.");

    if (!db_.commit()) return fail("failed to insert record into image.");
    ids.now = now;
    return true;
}

bool dicomDB::getSeriesImages(int seriesID, NSUI::NSDBDataModel& result)
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (!ready_) return false;
    bool ok = db_.query("select instanceID,file from image where image.seriesID=" + idText(seriesID) +
                            " order by CAST(instanceID as UNSIGNED), ID",
                        result);
    if (!ok) debugLog("failed to search DB.");
    return ok;
}

bool dicomDB::hasPatient(int patientID)
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (!ready_) return false;
    int id = 0;
    bool found = false;
    return queryFirstInt("select id from patient where id=" + idText(patientID), {}, id, found) && found;
}

std::string dicomDB::deleteSeries(int seriesID)
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (!ready_ || !db_.begin()) return std::string();
    NSUI::NSDBDataModel model;
    auto fail = [this]() {
        db_.rollback();
        return std::string();
    };
    if (!db_.query("select studyID,path from series where id=" + idText(seriesID), model) ||
        model.getRowCount() == 0)
        return fail();
    const int studyID = std::atoi(model.getValue(0, 0).c_str());
    const std::string path = model.getValue(0, 1);
    int patientID = 0, any = 0;
    bool found = false;
    if (!queryFirstInt("select patientID from study where id=" + idText(studyID), {}, patientID, found)) return fail();
    if (!db_.execute("delete from image where seriesID=" + idText(seriesID)) ||
        !db_.execute("delete from series where id=" + idText(seriesID)))
        return fail();
    bool patientGone = false;
    if (!queryFirstInt("select id from series where studyID=" + idText(studyID), {}, any, found)) return fail();
    if (!found) {
        if (!db_.execute("delete from study where id=" + idText(studyID))) return fail();
        if (!queryFirstInt("select id from study where patientID=" + idText(patientID), {}, any, found)) return fail();
        if (!found) {
            if (!db_.execute("delete from patient where id=" + idText(patientID))) return fail();
            patientGone = true;
        }
    }
    if (!db_.commit()) return fail();
    std::string folder = libraryFolder_ + path + "/";
    if (patientGone) folder = getParentDirectory(getParentDirectory(folder)) + "/";
    return folder;
}

std::string dicomDB::deletePatient(int patientID)
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (!ready_ || !db_.begin()) return std::string();
    auto fail = [this]() {
        db_.rollback();
        return std::string();
    };
    NSUI::NSDBDataModel studies, series;
    std::string lastPath;
    bool anySeries = false;
    if (!db_.query("select id from study where patientID=" + idText(patientID), studies)) return fail();
    for (int s = 0; s < studies.getRowCount(); ++s) {
        const std::string studyID = idText(std::atoi(studies.getValue(s, 0).c_str()));
        if (!db_.query("select id,path from series where studyID=" + studyID, series)) return fail();
        for (int r = 0; r < series.getRowCount(); ++r) {
            if (!db_.execute("delete from image where seriesID=" + idText(std::atoi(series.getValue(r, 0).c_str()))))
                return fail();
            lastPath = series.getValue(r, 1);
            anySeries = true;
        }
        if (!db_.execute("delete from series where studyID=" + studyID)) return fail();
    }
    if (!db_.execute("delete from study where patientID=" + idText(patientID)) ||
        !db_.execute("delete from patient where id=" + idText(patientID)) || !db_.commit())
        return fail();
    if (!anySeries) return std::string();
    return libraryFolder_ + getParentDirectory(getParentDirectory(lastPath)) + "/";
}

bool dicomDB::deleteFavorite(int favoriteID)
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (!ready_ || !db_.begin()) return false;
    if (!db_.execute("delete from favorite where ID=" + idText(favoriteID)) ||
        !db_.execute("delete from favoriteDetail where favoriteID=" + idText(favoriteID)) || !db_.commit()) {
        db_.rollback();
        return false;
    }
    return true;
}

bool dicomDB::isInsideLibrary(const std::string& folder) const
{
    if (libraryFolder_.empty() || folder.size() <= libraryFolder_.size() ||
        folder.compare(0, libraryFolder_.size(), libraryFolder_) != 0)
        return false;
    std::vector<std::string> parts;
    splitString(folder.substr(libraryFolder_.size()), "/", parts);
    bool named = false;
    for (const std::string& part : parts) {
        if (part == "." || part == ".." || part.find('\\') != std::string::npos) return false;
        if (!part.empty()) named = true;
    }
    return named;
}

bool dicomDB::removeLibraryFolder(const std::string& folder) const
{
    if (!isInsideLibrary(folder)) return false;
    return cocos2d::FileUtils::getInstance()->removeDirectory(folder);
}

int dicomDB::getMaxID(const std::string& table, const std::string& column)
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    int value = 0;
    bool found = false;
    if (!queryFirstInt("select max(" + column + ") from " + table, {}, value, found)) return 0;
    return value;
}

void dicomDB::addFavoriteMarker()
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (!ready_) return;
    const long now = static_cast<long>(std::time(nullptr));
    if (now - lastMarkerTime_ < 30000000L) return;
    lastMarkerTime_ = now;
    const std::string next = idText(getMaxID("favorite", "ID") + 1);
    if (!db_.begin()) return;
    if (!db_.execute("insert into favorite(ID,type,message,icon,image,valid,updateTime,scale) values (" + next +
                         ",3,\"\",\"\",\"\",1,?,1.0)",
                     {currentTimeText()}) ||
        !db_.commit())
        db_.rollback();
}

int dicomDB::addFavorite(int type, const std::string& path, float scale)
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (!ready_) return -1;
    addFavoriteMarker();
    std::string relative = path;
    const std::string writable = cocos2d::FileUtils::getInstance()->getWritablePath();
    if (relative.compare(0, writable.size(), writable) == 0) relative = relative.substr(writable.size());
    const int id = getMaxID("favorite", "ID") + 1;
    char scaleText[64];
    std::snprintf(scaleText, sizeof(scaleText), "%.2f", static_cast<double>(scale));
    if (!db_.begin()) return -1;
    if (!db_.execute("insert into favorite(ID,type,message,icon,image,valid,updateTime,scale) values (" +
                         idText(id) + "," + idText(type) + ",\"\",\"\",?,1,?," + scaleText + ")",
                     {relative, currentTimeText()}) ||
        !db_.commit()) {
        debugLog("failed to insert record into favorite.");
        db_.rollback();
        return -1;
    }
    return id;
}

int dicomDB::addImageFavorite(const std::string& path, float scale) { return addFavorite(1, path, scale); }

int dicomDB::addDicomFavorite(const std::string& path, float scale) { return addFavorite(2, path, scale); }

void dicomDB::saveNeighbor(int device, const std::string& name, const std::string& ip, const std::string& port,
                           const std::string& appid)
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (!ready_ || !db_.begin()) return;
    const std::string now = currentTimeText();
    int id = 0;
    bool found = false;
    bool ok = queryFirstInt("select ID from neighbor where appid=?", {appid}, id, found);
    if (ok && !found)
        ok = db_.execute("insert into neighbor(device,name,lastTime,saveType,ip,port,appid,wifi) values (" +
                             idText(device) + ",?,\"\",3,?,?,?,?)",
                         {name, ip, port, appid, now});
    else if (ok)
        ok = db_.execute("update neighbor set device=" + idText(device) + ",name=?,wifi=?,port=?,ip=?  where ID=" +
                             idText(id),
                         {name, now, port, ip});
    if (!ok || !db_.commit()) db_.rollback();
}

void dicomDB::updateNeighborWifi(const std::string& appid)
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (!ready_ || !db_.begin()) return;
    int id = 0;
    bool found = false;
    if (!queryFirstInt("select ID from neighbor where appid=?", {appid}, id, found) || !found ||
        !db_.execute("update neighbor set wifi=?  where ID=" + idText(id), {currentTimeText()}) || !db_.commit())
        db_.rollback();
}

void dicomDB::getNeighbors(std::vector<neighborRecord>& list)
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (!ready_) return;
    NSUI::NSDBDataModel model;
    if (!db_.query("select device,name,lastTime,saveType,ip,ID,wifi,appid,port from neighbor "
                   "order by lastTime desc, ID asc",
                   model))
        return;
    for (int r = 0; r < model.getRowCount(); ++r) {
        neighborRecord n;
        n.device = std::atoi(model.getValue(r, 0).c_str());
        n.name = model.getValue(r, 1);
        n.lastTime = model.getValue(r, 2);
        n.saveType = std::atoi(model.getValue(r, 3).c_str());
        n.ip = model.getValue(r, 4);
        n.id = std::atoi(model.getValue(r, 5).c_str());
        n.wifi = model.getValue(r, 6);
        n.appid = model.getValue(r, 7);
        n.port = model.getValue(r, 8);
        list.push_back(n);
    }
}

// ---- Requests -----------------------------------------------------------------------------------

uint32_t dicomDB::requestId(const std::string& key) { return foldedHash32(key); }

std::string dicomDB::dottedDate(const std::string& date)
{
    if (date.size() != 8) return date;
    return date.substr(0, 4) + "." + date.substr(4, 2) + "." + date.substr(6, 2);
}

dicomDBRequest* dicomDB::makeRequest(uint32_t type, const std::string& key, const dicomDBRequest::DoneFunction& done,
                                     void* listener)
{
    auto* request = new dicomDBRequest(registry_);
    request->type = type;
    request->text = key;
    request->id = requestId(key);
    request->done = done;
    request->listener = listener;
    return request;
}

void dicomDB::queue(dicomDBRequest* request, bool prioritize)
{
    const bool store = request->type == DB_REQUEST_STORE_IMAGE;
    if (store) {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        ++pendingStores_;
    }
    if (!thread_ || stopped_ || !thread_->addRequest(request)) {
        if (store) {
            std::lock_guard<std::mutex> lock(pendingMutex_);
            --pendingStores_;
        }
        request->release();
        return;
    }
    const uint32_t id = request->id;
    request->release();  // the worker holds its own references now
    if (prioritize) thread_->prioritizeRequest(id);
}

void dicomDB::requestPatients(const dicomDBRequest::DoneFunction& done, void* listener)
{
    if (!ready_) return;
    queue(makeRequest(DB_REQUEST_PATIENTS, "db", done, listener), false);
}

void dicomDB::requestStudies(const dicomDBRequest::DoneFunction& done, const std::string& patientKey, void* listener)
{
    if (patientKey.empty() || !ready_) return;
    queue(makeRequest(DB_REQUEST_STUDIES, patientKey, done, listener), true);
}

void dicomDB::requestFavorites(const dicomDBRequest::DoneFunction& done, void* listener)
{
    if (!ready_) return;
    queue(makeRequest(DB_REQUEST_FAVORITES, "favorite", done, listener), false);
}

void dicomDB::queueStoredImage(std::unique_ptr<redIRI::DCM_MESSAGE> record)
{
    if (!ready_ || !record) return;
    dicomDBRequest* request = makeRequest(DB_REQUEST_STORE_IMAGE, record->SeriesFolder, nullptr, nullptr);
    request->record = std::move(record);
    queue(request, false);
}

void dicomDB::cancelRequests(void* listener)
{
    if (!listener) return;
    std::lock_guard<std::mutex> lock(registry_->mutex);
    for (dicomDBRequest* request : registry_->live)
        if (request->listener == listener) request->listener = nullptr;
}

void dicomDB::processRequest(dicomDBRequest* request)
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    request->result = std::make_unique<NSUI::NSDBDataModel>();
    switch (request->type) {
    case DB_REQUEST_FAVORITES:
        if (ready_) queryFavorites(*request->result);
        break;
    case DB_REQUEST_PATIENTS:
        if (ready_ && !queryPatients(*request->result)) request->result->clear();
        break;
    case DB_REQUEST_STUDIES:
        if (ready_ && !queryStudies(request->text, *request->result)) request->result->clear();
        break;
    case DB_REQUEST_STORE_IMAGE: {
        request->text.clear();
        if (ready_ && request->record) storeImage(request);
        std::lock_guard<std::mutex> pending(pendingMutex_);
        --pendingStores_;
        pendingDone_.notify_all();
        break;
    }
    default:
        break;
    }
}

void dicomDB::queryFavorites(NSUI::NSDBDataModel& out)
{
    NSUI::NSDBDataModel rows;
    if (!db_.query("select ID,type,message,icon,image,updateTime,scale from favorite where valid=1 "
                   "order by updateTime asc, ID asc",
                   rows))
        return;
    const std::string writable = cocos2d::FileUtils::getInstance()->getWritablePath();
    for (int r = 0; r < rows.getRowCount(); ++r) {
        if (rows.getColumnCount(r) != 7) continue;
        for (int c = 0; c < 7; ++c) out.addValue(c == 4 ? writable + rows.getValue(r, c) : rows.getValue(r, c));
        out.endRow();
    }
}

bool dicomDB::queryPatients(NSUI::NSDBDataModel& out)
{
    NSUI::NSDBDataModel patients, series, counter;
    if (!db_.query("select ID,patientIDHospital,name,birthday,sex from patient order by updateTime desc, ID desc", patients))
        return false;
    for (int p = 0; p < patients.getRowCount(); ++p) {
        const std::string id = idText(std::atoi(patients.getValue(p, 0).c_str()));
        if (!db_.query("select series.updateTime,series.studyDesc,path from patient,study,series where "
                       "patient.ID=study.patientID and study.ID=series.studyID and patient.ID=" + id +
                           " order by series.updateTime, series.ID",
                       series))
            return false;
        if (series.getRowCount() == 0) continue;
        for (int c = 0; c < 5; ++c) out.addValue(patients.getValue(p, c));
        for (int c = 0; c < 3; ++c) out.addValue(series.getValue(0, c));
        const char* counts[] = {
            "select count() from patient,study where patient.ID=study.patientID and patient.ID=",
            "select count() from patient,study,series where patient.ID=study.patientID and "
            "study.ID=series.studyID and patient.ID=",
            "select count() from patient,study,series,image where patient.ID=study.patientID and "
            "study.ID=series.studyID and image.seriesID=series.ID and patient.ID=",
        };
        for (const char* sql : counts) {
            if (!db_.query(sql + id, counter)) return false;
            out.addValue(counter.getValue(0, 0));
        }
        out.endRow();
    }
    return true;
}

bool dicomDB::appendImageInfo(const std::string& file, bool forSeriesList, NSUI::NSDBDataModel& out)
{
    // Every image stored into a series asks for the same first file: it is read once while it
    // stays the same file.
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) return false;
    const size_t kRemembered = 64;
    if (imageInfos_.size() >= kRemembered && !imageInfos_.count(file)) imageInfos_.clear();
    ImageInfo& cached = imageInfos_[file];
    if (cached.size != info.st_size || cached.modified != info.st_mtim.tv_sec ||
        cached.modifiedNs != info.st_mtim.tv_nsec) {
        cached = ImageInfo();
        redIRI::dcmReader reader;
        reader.setLanguage(currentLanguage());
        if (reader.setFile(file.c_str())) {
            char buffer[1024];
            auto tag = [&](unsigned short group, unsigned short element, std::string& value) {
                buffer[0] = '\0';
                if (!reader.readDicomTagString(group, element, buffer, sizeof(buffer))) return false;
                value = buffer;
                return true;
            };
            cached.opened = true;
            const bool hasColumns = tag(0x0028, 0x0011, cached.columns);
            cached.hasSize = tag(0x0028, 0x0010, cached.rows) && hasColumns;
            cached.hasInstitution = tag(0x0008, 0x0080, cached.institution);
            cached.hasModality = tag(0x0008, 0x0060, cached.modality);
            if (cached.modality == "CT") {
                std::string kvp, current;
                tag(0x0018, 0x0060, kvp);
                tag(0x0018, 0x1151, current);
                cached.tube = kvp + "kV " + current + "mA";
            }
            tag(0x0020, 0x0011, cached.number);
        }
        cached.size = info.st_size;
        cached.modified = info.st_mtim.tv_sec;
        cached.modifiedNs = info.st_mtim.tv_nsec;
    }
    // A series list row needs the image size; the row of a stored series only a file that opens.
    if (!cached.opened || (forSeriesList && !cached.hasSize)) return false;
    out.addValue(cached.columns);
    out.addValue(cached.rows);
    out.addValue(cached.hasInstitution || !forSeriesList ? cached.institution : "Unknown Institution");
    out.addValue(cached.hasModality || !forSeriesList ? cached.modality : "Unknown");
    out.addValue(cached.tube);
    out.addValue(cached.number);
    return true;
}

bool dicomDB::seriesImageSummary(const std::string& seriesID, int& count, std::string& firstFile)
{
    NSUI::NSDBDataModel model;
    if (!db_.query("select count() from image where seriesID=" + seriesID, model)) return false;
    count = std::atoi(model.getValue(0, 0).c_str());
    firstFile.clear();
    if (count == 0) return true;
    if (!db_.query("select file from image where seriesID=" + seriesID + " order by ID limit 1", model)) return false;
    firstFile = model.getValue(0, 0);
    return true;
}

bool dicomDB::queryStudies(const std::string& patientKey, NSUI::NSDBDataModel& out)
{
    NSUI::NSDBDataModel studies, series;
    if (!db_.query("select ID,patientID,studyIDHospital,date,time,studyDesc from study where patientID=? "
                   "order by updateTime desc, ID desc",
                   {patientKey}, studies))
        return false;
    for (int s = 0; s < studies.getRowCount(); ++s) {
        out.addValue("study");
        out.addValue(studies.getValue(s, 0));
        out.addValue(studies.getValue(s, 1));
        out.addValue(studies.getValue(s, 2));
        out.addValue(dottedDate(studies.getValue(s, 3)));
        out.addValue(studies.getValue(s, 5));
        out.endRow();
        const std::string studyID = idText(std::atoi(studies.getValue(s, 0).c_str()));
        if (!db_.query("select series.ID,series.seriesUID,series.date,series.time,seriesDesc,path from study,series "
                       "where study.ID=series.studyID and study.ID=" + studyID + " order by series.ID",
                       series))
            return false;
        for (int r = 0; r < series.getRowCount(); ++r) {
            const std::string seriesID = idText(std::atoi(series.getValue(r, 0).c_str()));
            int imageCount = 0;
            std::string firstFile;
            if (!seriesImageSummary(seriesID, imageCount, firstFile)) return false;
            if (imageCount == 0) continue;
            NSUI::NSDBDataModel row;
            row.addValue(series.getValue(r, 0));
            row.addValue(patientKey);
            row.addValue(dottedDate(series.getValue(r, 2)) + " " + series.getValue(r, 3));
            row.addValue(series.getValue(r, 4));
            row.addValue(series.getValue(r, 5));
            row.addValue(idText(imageCount));
            const std::string file = libraryFolder_ + series.getValue(r, 5) + "/" + firstFile;
            if (!appendImageInfo(file, true, row)) continue;
            row.endRow();
            for (int c = 0; c < row.getColumnCount(0); ++c) out.addValue(row.getValue(0, c));
            out.endRow();
        }
    }
    return true;
}

void dicomDB::storeImage(dicomDBRequest* request)
{
    const redIRI::DCM_MESSAGE& m = *request->record;
    dicomDBRecordIds ids;
    if (!saveDicomRecord(m, ids) || ids.imageExists) return;

    std::string json;
    auto set = [&json](const char* key, const std::string& value) { NSUI::UIJson::setString(json, key, value); };
    set("patientID", idText(ids.patientID));
    set("studyID", idText(ids.studyID));
    set("seriesID", idText(ids.seriesID));
    set("studyIDHospital", flatJsonSafe(m.StudyID));
    set("patientIDHospital", flatJsonSafe(m.PatientID));
    set("name", flatJsonSafe(m.PatientName));
    set("sex", flatJsonSafe(m.PatientSex));
    set("birthday", flatJsonSafe(m.PatientBirthDate));
    set("updateTime", ids.now);
    set("studyDate", flatJsonSafe(dottedDate(m.StudyDate)));
    set("studyDesc", flatJsonSafe(m.StudyDescription));
    set("studyNumber", ids.studyExists ? "0" : "1");
    set("seriesNumber", ids.seriesExists ? "0" : "1");
    set("imageNumber", ids.imageExists ? "0" : "1");
    set("dcmFolder", m.SeriesFolder);
    request->text = json;

    NSUI::NSDBDataModel series;
    const std::string seriesID = idText(ids.seriesID);
    int imageCount = 0;
    std::string firstFile;
    if (!db_.query("select series.ID,series.seriesUID,series.date,series.time,seriesDesc,path from series where "
                   "series.ID=" + seriesID,
                   series) ||
        series.getRowCount() == 0 || !seriesImageSummary(seriesID, imageCount, firstFile))
        return;
    NSUI::NSDBDataModel& out = *request->result;
    out.addValue(series.getValue(0, 0));
    out.addValue(dottedDate(series.getValue(0, 2)) + " " + series.getValue(0, 3));
    out.addValue(series.getValue(0, 4));
    out.addValue(series.getValue(0, 5));
    out.addValue(idText(imageCount));
    if (imageCount > 0) appendImageInfo(libraryFolder_ + series.getValue(0, 5) + "/" + firstFile, false, out);
    out.endRow();
}

void dicomDB::onRequestDone(dicomDBRequest* request)
{
    void* listener = nullptr;
    {
        std::lock_guard<std::mutex> lock(registry_->mutex);
        listener = request->listener;
    }
    if (request->cancelled.load()) return;  // the request drops its result
    if (request->type != DB_REQUEST_STORE_IMAGE) {
        if (listener && request->done && request->result && request->result->getRowCount() > 0)
            request->done(request->result.get());
        return;
    }
    if (request->text.empty()) return;
    const std::string folder = NSUI::UIJson::getString(request->text, "dcmFolder");
    if (!folder.empty() && isInsideLibrary(libraryFolder_ + folder)) {
        // The series changed: its cache and its thumbnails are stale.
        isImageSDK::isDcmScan::removeBufferFiles(libraryFolder_ + folder);
        for (int i = 0; i < 6; ++i)
            cocos2d::FileUtils::getInstance()->removeFile(libraryFolder_ + folder + "thrumb" + std::to_string(i));
    }
    NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::getInstance();
    centre->postStringNotification(this, NSUI::NOTIFY_DB_PATIENT_STORED, request->text);
    NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
    data->text = request->text;
    data->setUserData(request->result.release(), [](void* p) { delete static_cast<NSUI::NSDBDataModel*>(p); });
    centre->postNotification(this, NSUI::NOTIFY_DB_STUDY_STORED, data);
}

// ---- Favourites from the viewer -----------------------------------------------------------------

namespace {
const char* const kFavoriteSound = "res/waterfall.wav";
const int kDicomFavoriteFlag = 100;
} // namespace

void dicomDB::favoriteStored()
{
    ++newFavoriteCount;
    CocosDenshion::SimpleAudioEngine::getInstance()->playEffect(kFavoriteSound, false, 1.0f, 0.0f, 1.0f);
}

void dicomDB::onCaptureSaved(const std::string& path)
{
    float scale = 1.0f;
    cocos2d::Image* image = new cocos2d::Image();
    if (image->initWithImageFile(path) && image->getHeight() > 0)
        scale = static_cast<float>(image->getWidth()) / static_cast<float>(image->getHeight());
    image->release();
    const int id = addImageFavorite(path, scale);
    // Nothing stored (library not ready): no badge and no sound either.
    if (id < 0) return;
    NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
    data->text = path;
    data->intValue = id;
    data->floatValue = scale;
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NSUI::NOTIFY_FAVORITE_STORED, data);
    favoriteStored();
}

void dicomDB::onFavoriteFile(const std::string& path, int flag, float scale)
{
    if (flag == kDicomFavoriteFlag) {
        redIRI::dcmReadTag reader;
        reader.setLanguage(currentLanguage());
        scale = reader.setFile(path.c_str()) ? reader.getImageScale() : 1.0f;
    }
    if (addDicomFavorite(path, scale) < 0) return;
    favoriteStored();
}
