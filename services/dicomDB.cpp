#include "dicomDB.h"

#include "NSStringUtil.h"
#include "NSFileUtil.h"
#include "NetworkUtils.h"
#include "dicomDBSchema.h"
#include "platform/CCApplication.h"
#include "platform/CCFileUtils.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

const char* const kServerPort = "4587";
const char* const kServerTitle = "tolvrane";

std::string idText(int id) { return std::to_string(id); }

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
    open();
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
        bool versionWasMissing = !db_.tableExists("version");
        for (const dicomDBSchema::Table& table : dicomDBSchema::kTables) {
            if (db_.tableExists(table.name)) continue;
            if (!db_.createTable(table.createSql, table.name)) debugLog("failed to create table '%s'.", table.name);
        }
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
        server_->setPort(list.c_str(), kServerPort, kServerTitle);
        server_->setRoot(libraryFolder_.c_str());
        server_->BeginDicomServer();
    }
}

void dicomDB::stop()
{
    if (stopped_) return;
    stopped_ = true;
    if (server_) {
        server_->StopDicomServer();
        server_.reset();
    }
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
                            " order by CAST(instanceID as UNSIGNED)",
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

void dicomDB::getNeighbors(std::vector<dicomDBNeighbor>& list)
{
    std::lock_guard<std::recursive_mutex> lock(dbMutex);
    if (!ready_) return;
    NSUI::NSDBDataModel model;
    if (!db_.query("select device,name,lastTime,saveType,ip,ID,wifi,appid,port from neighbor "
                   "order by lastTime desc, ID asc",
                   model))
        return;
    for (int r = 0; r < model.getRowCount(); ++r) {
        dicomDBNeighbor n;
        n.device = std::atoi(model.getValue(r, 0).c_str());
        n.name = model.getValue(r, 1);
        n.lastTime = model.getValue(r, 2);
        n.saveType = std::atoi(model.getValue(r, 3).c_str());
        n.ip = model.getValue(r, 4);
        n.ID = std::atoi(model.getValue(r, 5).c_str());
        n.wifi = model.getValue(r, 6);
        n.appid = model.getValue(r, 7);
        n.port = model.getValue(r, 8);
        list.push_back(n);
    }
}
