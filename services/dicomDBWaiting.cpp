// What waits for the library's database: the journal of waiting files (qv/dicom/.waiting) and the
// favourites queue. Part of dicomDB; the worker thread does every write of the database described here.
//
// The journal's rules
//
// 1. The journal is text, one entry per line, its fields separated by tabs. No field holds a tab,
//    a carriage return or a line break: a favourite's time and path are written with those (and
//    "%") as "%09", "%0D", "%0A" and "%25"; an image whose path cannot be one line gets no entry (the open
//    marker's reconcile lists such a file instead). A line that does not read as one whole entry is
//    passed over, never split into two or joined to the next; one longer than any entry can be
//    (kMaxEntryLength) is passed over without being read into memory.
// 2. The entries:
//      image <path below the library folder>                    a stored image waiting for its rows
//      favorite-keyed <key> <type> <scale> <time> <image>       a favourite (or a marker, type 3)
//      favorite-removed <key> <row ID> <image>                  the removal of a favourite
//      favorite-removed-earlier <type> <time> <image>           the removal of an earlier version's
//                                                               favourite that has no key
//    and, written by earlier versions (and kept in that form for their favourites that still wait),
//    "favorite <type> <scale> <time> <image>", its time and image as they are.
// 3. Every entry has a key of its own, and the database says whether it was written: an image's
//    key is its file (the lookup of its UIDs finds its row); a favourite's key is written with its
//    row, in the same transaction, as that row's detail (a favoriteDetail row whose message is the
//    key: nothing else reads that table, and the favourite's own row stays as it always was); an
//    earlier version's favourite is known by its type, image and time. Writing an entry whose key the database holds writes
//    nothing. Removing a favourite's row keeps its key, as a detail row of no favourite (favoriteID 0):
//    an entry a failed rewrite left in the journal then never brings the removed favourite back.
//    A removal names its favourite's key (or, for one of an earlier version, the row's ID and
//    image, or its type, time and image) and cancels it wherever it is: waiting, being written, or written.
// 4. An entry is appended (and synced) before whoever made it hears it is kept: a favourite or a
//    removal by the thread that makes it, before the call returns, whatever the worker is doing;
//    an image when it starts to wait. The entries leave only by a rewrite of the whole journal
//    (written aside, synced, renamed over it; removed when nothing waits), made after what they
//    name is in the database. So a kill at any moment, or a rewrite that fails, leaves at most
//    entries already written, which the next replay skips by rule 3: every entry is written exactly once.
// 5. Order: what waited is written before what came after it. The images of the journal, and
//    those waiting in this run, go back to the worker ahead of any image stored after them; the
//    favourites are written in the order they were made (their time is their place in the list).
// 6. The journal is written through the one writer of files (diskWrite.h): a write it refuses is
//    counted and said like any other (the log names the file and the system's reason). A failed
//    write never drops what waits: it stays in memory, and rule 4 keeps the next start exact. A
//    write of the database that fails for the file or the disk (held, full, an I/O error, not open,
//    read-only) leaves every favourite and removal waiting, said once, and they are written once the
//    file takes a write, as images are. A value that cannot be written (a scale that is no finite
//    positive number, a statement the database refuses) refuses its own favourite only, with its
//    own reason: each is written in a savepoint of its own.
// 7. Appends and rewrites are made under journalMutex_, so that a rewrite keeps every entry
//    appended before it was made; only the worker rewrites.
// 8. A favourite not written yet is in one state (FavoriteState):
//      Waiting              made, or given back by a write that failed for the file or the disk;
//      Writing              taken by the worker's write: Waiting again when the write fails for the
//                           file or the disk, gone when its row is written (announced) or refused;
//      RemovedWhileWriting  removed by the user while Writing: never announced, gone when the write
//                           ends; its removal waits like any other and takes the row if written.
//    Removed while Waiting, it goes at once; its removal waits like any other (a replay after a kill
//    may have written its row).
#include "dicomDB.h"

#include "NSFileUtil.h"
#include "NSNotificationCenter.h"
#include "NSStringUtil.h"
#include "audio/SimpleAudioEngine.h"
#include "diskWrite.h"
#include "messageView.h"
#include "platform/CCApplication.h"
#include "platform/CCFileUtils.h"
#include "renderer/CCImage.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>

namespace {

const char* const kImageLine = "image";
const char* const kKeyedLine = "favorite-keyed";
const char* const kRemovedLine = "favorite-removed";
const char* const kEarlierRemovedLine = "favorite-removed-earlier";
// Written by earlier versions; read only.
const char* const kKeylessLine = "favorite";
// The favourite type of the marker row a run's first favourite gets.
constexpr int kMarkerType = 3;
const char* const kFavoriteReadOnlyToast = "The library cannot be written: the favourite was not saved";
const char* const kFavoriteFailedToast = "The favourite could not be saved in the library: ";
const char* const kFavoriteSound = "res/waterfall.wav";
const char* const kBadScaleReason = "its scale is not a finite positive number";
// Longer than any entry: a key, a time and a path of PATH_MAX bytes each escaped into three.
constexpr size_t kMaxEntryLength = 64 * 1024;
// The savepoint each favourite and removal is written in (rule 6).
const char* const kSavepoint = "favorite";
const int kDicomFavoriteFlag = 100;

std::string idText(int id) { return std::to_string(id); }

bool fitsOneLine(const std::string& text) { return text.find_first_of("\t\n\r") == std::string::npos; }

// A scale the favourites list can lay out: the whole text a finite number above 0.
bool isScale(const std::string& text)
{
    if (text.empty() || text.size() > 32) return false;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value) && value > 0;
}

// A failure of the file or the disk, which passes: what was to be written waits for it (rule 6).
// Any other failure is the value's.
bool isStorageFailure(int result)
{
    switch (result & 0xff) {
    case SQLITE_BUSY: case SQLITE_LOCKED: case SQLITE_FULL: case SQLITE_IOERR: case SQLITE_READONLY:
    case SQLITE_CANTOPEN: case SQLITE_NOMEM: case SQLITE_PROTOCOL: case SQLITE_CORRUPT: case SQLITE_NOTADB:
    case SQLITE_PERM: case SQLITE_ABORT: case SQLITE_INTERRUPT:
        return true;
    default:
        return false;
    }
}

// Rule 1: a field that may hold anything, as one field of one line, and back.
std::string escapeField(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '%': out += "%25"; break;
        case '\t': out += "%09"; break;
        case '\n': out += "%0A"; break;
        case '\r': out += "%0D"; break;
        default: out += c;
        }
    }
    return out;
}

bool unescapeField(const std::string& text, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const std::string code = text.substr(i + 1, 2);
        if (code == "25") out += '%';
        else if (code == "09") out += '\t';
        else if (code == "0A") out += '\n';
        else if (code == "0D") out += '\r';
        else return false;
        i += 2;
    }
    return true;
}

// A key no other favourite of any run has: the time to the nanosecond, the process and a count.
std::string newJournalKey()
{
    static std::atomic<unsigned> counter{0};
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    char text[80];
    std::snprintf(text, sizeof(text), "q%llx-%lx-%x",
                  static_cast<unsigned long long>(now.tv_sec) * 1000000000ULL + static_cast<unsigned long long>(now.tv_nsec),
                  static_cast<long>(::getpid()), counter.fetch_add(1));
    return text;
}

std::string relativeToWritable(const std::string& path)
{
    const std::string writable = cocos2d::FileUtils::getInstance()->getWritablePath();
    return path.compare(0, writable.size(), writable) == 0 ? path.substr(writable.size()) : path;
}

} // namespace

std::string dicomDB::favoriteLine(const PendingFavorite& f)
{
    // One of an earlier version's journal stays in the form it came in (its fields fit one line).
    if (f.journalKey.empty())
        return std::string(kKeylessLine) + "\t" + idText(f.type) + "\t" + f.scale + "\t" + f.time + "\t" + f.image;
    return std::string(kKeyedLine) + "\t" + f.journalKey + "\t" + idText(f.type) + "\t" + f.scale + "\t" +
           escapeField(f.time) + "\t" + escapeField(f.image);
}

std::string dicomDB::removalLine(const FavoriteRemoval& r)
{
    if (r.journalKey.empty() && r.rowID <= 0)
        return std::string(kEarlierRemovedLine) + "\t" + idText(r.type) + "\t" + escapeField(r.time) + "\t" +
               escapeField(r.image);
    return std::string(kRemovedLine) + "\t" + r.journalKey + "\t" + idText(r.rowID) + "\t" + escapeField(r.image);
}

namespace {

int currentLanguage()
{
    cocos2d::Application* app = cocos2d::Application::getInstance();
    return app ? static_cast<int>(app->getCurrentLanguage()) : 0;
}

} // namespace

// ---- The favourites queue -----------------------------------------------------------------------

bool dicomDB::addFavorite(int type, const std::string& path, float scale)
{
    // Taken while stopping too: stop writes the favourites kept right before the quit.
    if (stopped_) return false;
    if (readOnly_) {
        NSUI::messageView::showMessage(kFavoriteReadOnlyToast, 5.0f);
        return false;
    }
    char scaleText[64];
    std::snprintf(scaleText, sizeof(scaleText), "%.2f", static_cast<double>(scale));
    if (!isScale(scaleText)) {
        cocos2d::log("library: the favourite \"%s\" is not saved: %s (%s)", path.c_str(), kBadScaleReason, scaleText);
        NSUI::messageView::showMessage(std::string(kFavoriteFailedToast) + kBadScaleReason, 5.0f);
        return false;
    }
    PendingFavorite favorite;
    favorite.type = type;
    favorite.path = path;
    favorite.image = relativeToWritable(path);
    favorite.journalKey = newJournalKey();
    // Its place in the list is the time it was made, whenever the row is written.
    favorite.time = currentTimeText();
    favorite.scale = scaleText;
    std::string lines;
    {
        std::lock_guard<std::mutex> lock(favoriteMutex_);
        // The first favourite of a run is preceded by a marker row.
        const long now = static_cast<long>(std::time(nullptr));
        if (now - lastMarkerTime_ >= 30000000L) {
            lastMarkerTime_ = now;
            PendingFavorite marker;
            marker.key = nextPendingKey_--;
            marker.journalKey = newJournalKey();
            marker.type = kMarkerType;
            marker.time = favorite.time;
            marker.scale = "1.0";
            pendingFavorites_.push_back(marker);
            ++waitingCount_;
            lines = favoriteLine(marker) + "\n";
        }
        favorite.key = nextPendingKey_--;
        pendingFavorites_.push_back(favorite);
        ++waitingCount_;
        lines += favoriteLine(favorite);
    }
    // Rule 4: in the journal before the caller hears it is kept, whatever the worker is doing.
    appendJournal(lines);
    queueFavoriteWrite();
    return true;
}

bool dicomDB::addImageFavorite(const std::string& path, float scale) { return addFavorite(1, path, scale); }

bool dicomDB::addDicomFavorite(const std::string& path, float scale) { return addFavorite(2, path, scale); }

bool dicomDB::deleteFavorite(int favoriteID, const std::string& path)
{
    FavoriteRemoval removal;
    removal.rowID = favoriteID > 0 ? favoriteID : 0;
    removal.image = path.empty() ? std::string() : relativeToWritable(path);
    bool waits = false;
    {
        std::lock_guard<std::mutex> lock(favoriteMutex_);
        auto it = std::find_if(pendingFavorites_.begin(), pendingFavorites_.end(),
                               [&](const PendingFavorite& f) { return favoriteID < 0 && f.key == favoriteID; });
        if (it != pendingFavorites_.end()) {
            if (it->state == FavoriteState::RemovedWhileWriting) return true;
            removal.journalKey = it->journalKey;
            removal.image = it->image;
            removal.type = it->type;
            removal.time = it->time;
            // Rule 8. Its removal waits with the state changed, in one step, so that the worker's
            // rewrite after this write keeps the removal whenever it comes.
            if (it->state == FavoriteState::Writing) {
                it->state = FavoriteState::RemovedWhileWriting;
            } else {
                pendingFavorites_.erase(it);
                --waitingCount_;
            }
            pendingRemovals_.push_back(removal);
            waits = true;
        } else if (favoriteID < 0) {
            // Written meanwhile, while the list still shows it under its waiting key.
            auto written = writtenFavorites_.find(favoriteID);
            if (written == writtenFavorites_.end()) return false;
            removal.rowID = written->second.rowID;
            removal.journalKey = written->second.journalKey;
            removal.image = written->second.image;
            writtenFavorites_.erase(written);
        } else {
            for (auto w = writtenFavorites_.begin(); w != writtenFavorites_.end(); ++w) {
                if (w->second.rowID != favoriteID) continue;
                removal.journalKey = w->second.journalKey;
                if (removal.image.empty()) removal.image = w->second.image;
                writtenFavorites_.erase(w);
                break;
            }
        }
    }
    if (!waits) {
        if (removeFavoriteRowNow(removal)) return true;
        std::lock_guard<std::mutex> lock(favoriteMutex_);
        pendingRemovals_.push_back(removal);
    }
    // Rule 4: in the journal before the caller hears it is gone.
    appendJournal(removalLine(removal));
    queueFavoriteWrite();
    return true;
}

bool dicomDB::removeFavoriteRowNow(const FavoriteRemoval& removal)
{
    std::unique_lock<std::recursive_mutex> lock;
    if (!lockBriefly(lock) || !ready_ || readOnly_ || !db_.tryBegin()) return false;
    if (deleteFavoriteRows(removal) && db_.commit()) return true;
    db_.rollback();
    return false;
}

bool dicomDB::deleteFavoriteRows(const FavoriteRemoval& r)
{
    auto remove = [this](const std::string& where, const std::vector<std::string>& values) {
        NSUI::NSDBDataModel rows;
        if (!db_.query("select ID from favorite where " + where, values, rows)) return false;
        for (int i = 0; i < rows.getRowCount(); ++i) {
            const std::string id = idText(std::atoi(rows.getValue(i, 0).c_str()));
            // Its key stays, of no favourite (rule 3).
            if (!db_.execute("delete from favorite where ID=" + id) ||
                !db_.execute("update favoriteDetail set favoriteID=0 where favoriteID=" + id))
                return false;
        }
        return true;
    };
    if (!r.journalKey.empty())
        return remove("ID in (select favoriteID from favoriteDetail where message=?)", {r.journalKey});
    // An earlier version's favourite that waited: its row, should a replay have written it.
    if (r.rowID <= 0) return remove("type=" + idText(r.type) + " and image=? and updateTime=?", {r.image, r.time});
    // A row of an earlier version: its ID alone may since name another row (IDs are reused).
    if (!r.image.empty()) return remove("ID=" + idText(r.rowID) + " and image=?", {r.image});
    return remove("ID=" + idText(r.rowID), {});
}

bool dicomDB::findFavoriteRow(const PendingFavorite& f, int& rowID, bool& found)
{
    if (f.journalKey.empty())
        return queryFirstInt("select ID from favorite where type=" + idText(f.type) + " and image=? and updateTime=?",
                             {f.image, f.time}, rowID, found);
    // Its row, or 0 when the row was written and removed since (rule 3).
    return queryFirstInt("select favoriteID from favoriteDetail where message=?", {f.journalKey}, rowID, found);
}

void dicomDB::queueFavoriteWrite()
{
    if (favoriteWriteQueued_.exchange(true)) return;
    // The written favourites come back to the main thread (count, sound, 1007).
    dicomDBRequest* request = makeRequest(
        DB_REQUEST_RUN, "favorites", [this](NSUI::NSDBDataModel* rows) { onFavoritesWritten(*rows); }, this);
    request->work = [this, request] {
        favoriteWriteQueued_ = false;
        writeFavorites(*request->result);
    };
    if (!queue(request, false)) favoriteWriteQueued_ = false;
}

void dicomDB::writeFavorites(NSUI::NSDBDataModel& written)
{
    std::vector<PendingFavorite> list;
    std::vector<FavoriteRemoval> removals;
    {
        std::lock_guard<std::mutex> lock(favoriteMutex_);
        for (PendingFavorite& f : pendingFavorites_) {
            if (f.state != FavoriteState::Waiting) continue;
            f.state = FavoriteState::Writing;
            list.push_back(f);
        }
        removals = pendingRemovals_;
    }
    if (list.empty() && removals.empty()) return;
    // Set when the file or the disk failed: then nothing is written and everything waits.
    std::string storageFailure;
    // One favourite or removal in a savepoint of its own; a value the database refuses costs only
    // its own, its reason read before anything else touches the connection (rule 6).
    auto attempt = [this, &storageFailure](const std::function<bool()>& work, std::string& refused) {
        if (!db_.execute(std::string("savepoint ") + kSavepoint)) {
            storageFailure = sqlite3_errstr(db_.getLastResult());
            return;
        }
        if (work() && db_.execute(std::string("release ") + kSavepoint)) return;
        const int result = db_.getLastResult();
        (isStorageFailure(result) ? storageFailure : refused) = sqlite3_errstr(result);
        if (!storageFailure.empty()) return;
        db_.execute(std::string("rollback to ") + kSavepoint);
        db_.execute(std::string("release ") + kSavepoint);
    };
    std::vector<int> ids(list.size(), 0);  // the row of each, in list's order
    std::vector<std::string> refused(list.size());
    std::unique_lock<std::recursive_mutex> lock(dbMutex);
    // Not open yet, read-only, or the file held (one try, no wait: the look at the file every
    // second tries again): they wait, in the journal too, so that the next start writes them
    // should this run end.
    bool begun = false;
    if (!ready_)
        storageFailure = "the library is not open";
    else if (readOnly_)
        storageFailure = "the library cannot be written";
    else if (!(begun = db_.tryBegin()))
        storageFailure = sqlite3_errstr(db_.getLastResult());
    for (size_t i = 0; storageFailure.empty() && i < list.size(); ++i) {
        const PendingFavorite& f = list[i];
        if (!isScale(f.scale)) {
            refused[i] = kBadScaleReason;
            continue;
        }
        attempt(
            [&] {
                // Rule 3: one whose row was written (a replay after a kill or a failed rewrite) is
                // not written again.
                int id = 0;
                bool found = false;
                if (!findFavoriteRow(f, id, found)) return false;
                if (found) {
                    ids[i] = id;
                    return true;
                }
                if (!queryFirstInt("select ifnull(max(ID),0)+1 from favorite", {}, id, found)) return false;
                ids[i] = id;
                // Its key, with it (rule 3).
                return db_.execute("insert into favorite(ID,type,message,icon,image,valid,updateTime,scale) values (" +
                                       idText(id) + "," + idText(f.type) + ",'','',?,1,?,?)",
                                   {f.image, f.time, f.scale}) &&
                       (f.journalKey.empty() ||
                        db_.execute("insert into favoriteDetail(type,message,icon,image,valid,updateTime,scale,"
                                    "favoriteID) values (" + idText(f.type) + ",?,'',?,1,?,?," + idText(id) + ")",
                                    {f.journalKey, f.image, f.time, f.scale}));
            },
            refused[i]);
        if (!refused[i].empty()) ids[i] = 0;
    }
    std::vector<std::string> removalRefused(removals.size());
    for (size_t i = 0; storageFailure.empty() && i < removals.size(); ++i)
        attempt([&] { return deleteFavoriteRows(removals[i]); }, removalRefused[i]);
    if (storageFailure.empty() && !db_.commit()) storageFailure = sqlite3_errstr(db_.getLastResult());
    if (begun && !storageFailure.empty()) db_.rollback();
    lock.unlock();
    if (!storageFailure.empty()) {
        // Rule 8: back to Waiting, and written once the file takes a write.
        {
            std::lock_guard<std::mutex> guard(favoriteMutex_);
            for (auto it = pendingFavorites_.begin(); it != pendingFavorites_.end();) {
                if (it->state == FavoriteState::RemovedWhileWriting) {
                    it = pendingFavorites_.erase(it);
                    --waitingCount_;
                    continue;
                }
                it->state = FavoriteState::Waiting;
                ++it;
            }
        }
        if (!waitingSaid_.exchange(true))
            cocos2d::log("library: the database cannot be written now (%s); what was stored waits and is written once "
                         "it can be",
                         storageFailure.c_str());
        return;
    }
    journalMoment("favorites committed");
    std::vector<bool> announce(list.size(), false);
    std::vector<std::string> refusedLines;
    std::string firstReason;
    int refusedCount = 0;
    {
        std::lock_guard<std::mutex> guard(favoriteMutex_);
        for (size_t i = 0; i < list.size(); ++i) {
            auto it = std::find_if(pendingFavorites_.begin(), pendingFavorites_.end(),
                                   [&](const PendingFavorite& p) { return p.key == list[i].key; });
            if (it == pendingFavorites_.end()) continue;
            if (it->state == FavoriteState::RemovedWhileWriting) {
                // Its removal waits in the queue (queued behind this write) and takes the row.
            } else if (!refused[i].empty()) {
                if (firstReason.empty()) firstReason = refused[i];
                if (++refusedCount <= 3)
                    refusedLines.push_back("\"" + (list[i].path.empty() ? list[i].image : list[i].path) +
                                           "\" is not saved: " + refused[i]);
            } else if (ids[i] > 0) {
                announce[i] = true;
                writtenFavorites_[it->key] = {ids[i], it->journalKey, it->image};
            }
            // An id of 0: written and removed in an earlier run (its key stays, rule 3).
            pendingFavorites_.erase(it);
            --waitingCount_;
        }
        for (size_t i = 0; i < removals.size(); ++i) {
            const FavoriteRemoval& r = removals[i];
            auto it = std::find_if(pendingRemovals_.begin(), pendingRemovals_.end(), [&](const FavoriteRemoval& p) {
                return p.journalKey == r.journalKey && p.rowID == r.rowID && p.image == r.image && p.type == r.type &&
                       p.time == r.time;
            });
            if (it != pendingRemovals_.end()) pendingRemovals_.erase(it);
        }
    }
    rewriteJournal();
    if (waitingImages_.empty() && retriedInQueue_ == 0 && waitingSaid_.exchange(false))
        cocos2d::log("library: the database can be written again; what waited is written");
    for (size_t i = 0; i < removals.size(); ++i)
        if (!removalRefused[i].empty())
            cocos2d::log("library: the removal of a favourite could not be written: %s", removalRefused[i].c_str());
    if (refusedCount > 0) {
        for (const std::string& line : refusedLines) cocos2d::log("library: the favourite %s", line.c_str());
        if (refusedCount > 3) cocos2d::log("library: %d more favourites are not saved", refusedCount - 3);
        const std::string text = kFavoriteFailedToast + firstReason;
        cocos2d::Director::getInstance()->getScheduler()->performFunctionInCocosThread(
            [text] { NSUI::messageView::showMessage(text, 5.0f); });
    }
    for (size_t i = 0; i < list.size(); ++i) {
        if (!announce[i]) continue;
        written.addValue(idText(list[i].type));
        written.addValue(idText(ids[i]));
        written.addValue(list[i].path);
        written.addValue(list[i].scale);
        written.endRow();
    }
}

void dicomDB::onFavoritesWritten(NSUI::NSDBDataModel& rows)
{
    for (int r = 0; r < rows.getRowCount(); ++r) {
        const int type = std::atoi(rows.getValue(r, 0).c_str());
        if (type == kMarkerType) continue;
        if (type == 1) {
            NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
            data->text = rows.getValue(r, 2);
            data->intValue = std::atoi(rows.getValue(r, 1).c_str());
            data->floatValue = static_cast<float>(std::atof(rows.getValue(r, 3).c_str()));
            NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NSUI::NOTIFY_FAVORITE_STORED, data);
        }
        favoriteStored();
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
    // The keys of the rows (rule 3 of the journal), by row.
    NSUI::NSDBDataModel details;
    std::map<std::string, std::string> keyOf;
    if (db_.query("select favoriteID,message from favoriteDetail", details))
        for (int r = 0; r < details.getRowCount(); ++r) keyOf[details.getValue(r, 0)] = details.getValue(r, 1);
    std::vector<std::vector<std::string>> list;
    std::set<std::string> listedKeys, removedKeys;
    std::set<std::pair<std::string, std::string>> removedRows;  // ID, image
    {
        // One the user removed is not listed while its removal waits for the file.
        std::lock_guard<std::mutex> lock(favoriteMutex_);
        for (const FavoriteRemoval& r : pendingRemovals_) {
            if (!r.journalKey.empty()) removedKeys.insert(r.journalKey);
            removedRows.insert({idText(r.rowID), r.image});
        }
    }
    for (int r = 0; r < rows.getRowCount(); ++r) {
        if (rows.getColumnCount(r) != 7) continue;
        const auto key = keyOf.find(rows.getValue(r, 0));
        const std::string rowKey = key == keyOf.end() ? std::string() : key->second;
        if ((!rowKey.empty() && removedKeys.count(rowKey)) || removedRows.count({rows.getValue(r, 0), rows.getValue(r, 4)}))
            continue;
        list.emplace_back();
        for (int c = 0; c < 7; ++c) list.back().push_back(c == 4 ? writable + rows.getValue(r, c) : rows.getValue(r, c));
        if (!rowKey.empty()) listedKeys.insert(rowKey);
    }
    // Those waiting for the file are listed in their place meanwhile, under their negative key
    // (one whose row this query already read, being written right now, only once).
    {
        std::lock_guard<std::mutex> lock(favoriteMutex_);
        for (const PendingFavorite& f : pendingFavorites_)
            if (f.state != FavoriteState::RemovedWhileWriting && (f.journalKey.empty() || !listedKeys.count(f.journalKey)))
                list.push_back({idText(f.key), idText(f.type), "", "", f.type == kMarkerType ? writable : f.path, f.time,
                                f.scale});
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const std::vector<std::string>& a, const std::vector<std::string>& b) { return a[5] < b[5]; });
    for (const auto& row : list) {
        for (const std::string& value : row) out.addValue(value);
        out.endRow();
    }
}

// ---- Images waiting for the database ------------------------------------------------------------

void dicomDB::waitFor(dicomDBRequest* request)
{
    if (!request->record) return;
    WaitingImage waiting;
    waiting.path = std::string(request->record->SeriesFolder) + request->record->FileName;
    waiting.record = std::move(request->record);
    // Told once the rows are written, not before.
    waiting.stored = std::exchange(request->stored, nullptr);
    if (fitsOneLine(waiting.path)) appendJournal(std::string(kImageLine) + "\t" + waiting.path);
    waitingImages_.push_back(std::move(waiting));
    ++waitingCount_;
    if (!waitingSaid_.exchange(true))
        cocos2d::log("library: the database cannot be written now; what was stored waits and is written once it can be");
}

void dicomDB::retryWaiting()
{
    std::vector<WaitingImage> images;
    images.swap(waitingImages_);
    waitingCount_ -= static_cast<int>(images.size());
    bool favorites = false;
    {
        std::lock_guard<std::mutex> lock(favoriteMutex_);
        favorites = !pendingFavorites_.empty() || !pendingRemovals_.empty();
    }
    if (images.empty() && !favorites) return;
    // Favourites alone say so once they are written (writeFavorites): a disk that stays full lets
    // the file begin a write every second and refuses each.
    if (!images.empty() && waitingSaid_.exchange(false))
        cocos2d::log("library: the database can be written again; what waited is written (%d images%s)",
                     static_cast<int>(images.size()), favorites ? " and favourites" : "");
    // The images go back to the queue in their order, and every image stored after them goes
    // behind them (rule 5). Their entries stay in the journal until they are written; one the file
    // refuses again waits again.
    for (WaitingImage& waiting : images) {
        retriedPaths_.push_back(waiting.path);
        dicomDBRequest* request = makeRequest(DB_REQUEST_STORE_IMAGE, waiting.record->SeriesFolder, nullptr, nullptr);
        request->record = std::move(waiting.record);
        request->stored = std::move(waiting.stored);
        request->retried = true;
        ++retriedInQueue_;
        if (!queue(request, false)) --retriedInQueue_;
    }
    if (favorites) queueFavoriteWrite();
}

void dicomDB::retriedImageDone()
{
    if (retriedInQueue_ > 0) --retriedInQueue_;
    if (retriedInQueue_ > 0) return;
    retriedPaths_.clear();
    if (!waitingImages_.empty()) return;
    // The last of them is written: their entries go.
    rewriteJournal();
}

// ---- The journal's file -------------------------------------------------------------------------

void dicomDB::appendJournal(const std::string& lines)
{
    const std::string path = libraryFolder_ + kWaitingRecord;
    const std::string text = lines + "\n";
    std::lock_guard<std::mutex> journalLock(journalMutex_);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    bool ok = fd >= 0;
    if (!ok) disk::noteFailure(errno);
    ok = ok && disk::writeAll(fd, text.data(), text.size());
    if (ok && ::fdatasync(fd) != 0) {
        disk::noteFailure(errno);
        ok = false;
    }
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (!ok)
        cocos2d::log("library: cannot note what waits in \"%s\": %s; it waits in memory until written", path.c_str(),
                     disk::reasonText(error).c_str());
}

void dicomDB::rewriteJournal()
{
    {
        std::lock_guard<std::mutex> journalLock(journalMutex_);
        rewriteJournalLocked();
    }
    journalMoment("journal rewritten");
}

void dicomDB::rewriteJournalLocked()
{
    std::string text;
    // Rule 4: those given back to the queue keep their entries until the last of them is taken
    // (the ones written since are passed over by a replay).
    for (const std::string& path : retriedPaths_)
        if (fitsOneLine(path)) text += std::string(kImageLine) + "\t" + path + "\n";
    for (const WaitingImage& waiting : waitingImages_)
        if (fitsOneLine(waiting.path)) text += std::string(kImageLine) + "\t" + waiting.path + "\n";
    {
        std::lock_guard<std::mutex> lock(favoriteMutex_);
        for (const PendingFavorite& f : pendingFavorites_)
            if (f.state != FavoriteState::RemovedWhileWriting) text += favoriteLine(f) + "\n";
        for (const FavoriteRemoval& r : pendingRemovals_) text += removalLine(r) + "\n";
    }
    const std::string path = libraryFolder_ + kWaitingRecord;
    if (text.empty()) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            const int error = errno;
            disk::noteFailure(error);
            cocos2d::log("library: cannot remove \"%s\": %s; its entries are written already and will be passed over",
                         path.c_str(), disk::reasonText(error).c_str());
        }
        return;
    }
    if (!disk::writeWholeFile(path, text.data(), text.size(), disk::Durability::Synced)) {
        const int error = errno;
        cocos2d::log("library: cannot rewrite \"%s\": %s; the entries written already will be passed over",
                     path.c_str(), disk::reasonText(error).c_str());
    }
}

void dicomDB::readJournal()
{
    recordRead_ = true;
    const std::string path = libraryFolder_ + kWaitingRecord;
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return;
    std::vector<std::string> images;
    std::vector<PendingFavorite> favorites;
    std::vector<FavoriteRemoval> removals;
    // Each entry once, however often a journal repeats it (rule 3 would write it once anyway).
    std::set<std::string> seen;
    const std::string writable = cocos2d::FileUtils::getInstance()->getWritablePath();
    int passedOver = 0;
    auto take = [&](std::string& line) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> fields;
        splitString(line, "\t", fields);
        PendingFavorite f;
        FavoriteRemoval r;
        if (fields.size() == 2 && fields[0] == kImageLine && isInsideLibrary(libraryFolder_ + fields[1])) {
            if (seen.insert(line).second) images.push_back(libraryFolder_ + fields[1]);
        } else if (fields.size() == 6 && fields[0] == kKeyedLine && !fields[1].empty() &&
                   unescapeField(fields[4], f.time) && unescapeField(fields[5], f.image)) {
            f.journalKey = fields[1];
            f.type = std::atoi(fields[2].c_str());
            // Bound as it is; one that is no scale is refused at its write, alone (rule 6).
            f.scale = fields[3];
            if (f.type >= 1 && f.type <= kMarkerType && seen.insert(kKeyedLine + f.journalKey).second)
                favorites.push_back(f);
        } else if (fields.size() == 5 && fields[0] == kKeylessLine) {
            f.type = std::atoi(fields[1].c_str());
            f.scale = fields[2];
            f.time = fields[3];
            f.image = fields[4];
            if (f.type >= 1 && f.type <= kMarkerType && seen.insert(line).second) favorites.push_back(f);
        } else if (fields.size() == 4 && fields[0] == kRemovedLine && unescapeField(fields[3], r.image)) {
            r.journalKey = fields[1];
            r.rowID = std::atoi(fields[2].c_str());
            if ((!r.journalKey.empty() || r.rowID > 0) && seen.insert(line).second) removals.push_back(r);
        } else if (fields.size() == 4 && fields[0] == kEarlierRemovedLine && unescapeField(fields[2], r.time) &&
                   unescapeField(fields[3], r.image)) {
            r.type = std::atoi(fields[1].c_str());
            if (!r.time.empty() && seen.insert(line).second) removals.push_back(r);
        } else if (!line.empty()) {
            ++passedOver;
        }
    };
    // Read in blocks: a line longer than any entry is passed over without being kept (rule 1).
    std::string line;
    bool tooLong = false;
    char block[1 << 16];
    for (size_t got; (got = std::fread(block, 1, sizeof(block), file)) > 0;) {
        for (size_t at = 0; at < got;) {
            const char* end = static_cast<const char*>(std::memchr(block + at, '\n', got - at));
            const size_t stop = end ? static_cast<size_t>(end - block) : got;
            const size_t room = kMaxEntryLength - line.size();
            if (stop - at > room) tooLong = true;
            if (!tooLong) line.append(block + at, stop - at);
            at = stop;
            if (!end) break;
            ++at;
            if (tooLong)
                ++passedOver;
            else
                take(line);
            line.clear();
            tooLong = false;
        }
    }
    std::fclose(file);
    // A line cut short by a kill (no line break at the end of the file) is whole or nothing.
    if (!line.empty() || tooLong) ++passedOver;
    if (passedOver)
        cocos2d::log("library: %d lines of \"%s\" are no whole entry and are passed over", passedOver, path.c_str());
    {
        // What this run appended before the journal was read is this run's own, waiting already.
        std::lock_guard<std::mutex> lock(favoriteMutex_);
        for (const PendingFavorite& p : pendingFavorites_)
            favorites.erase(std::remove_if(favorites.begin(), favorites.end(),
                                           [&](const PendingFavorite& f) {
                                               return !p.journalKey.empty() && f.journalKey == p.journalKey;
                                           }),
                            favorites.end());
        for (const FavoriteRemoval& p : pendingRemovals_)
            removals.erase(std::remove_if(removals.begin(), removals.end(),
                                          [&](const FavoriteRemoval& r) { return removalLine(r) == removalLine(p); }),
                           removals.end());
    }
    // A removal cancels its favourite wherever it is (rule 3): one that still waits is dropped with
    // it; one written already loses its row.
    // The removals stay in either case: the row may have been written before the removal was noted.
    for (const FavoriteRemoval& r : removals)
        favorites.erase(std::remove_if(favorites.begin(), favorites.end(),
                                       [&](const PendingFavorite& p) {
                                           if (!r.journalKey.empty()) return p.journalKey == r.journalKey;
                                           return r.rowID <= 0 && p.journalKey.empty() && p.type == r.type &&
                                                  p.time == r.time && p.image == r.image;
                                       }),
                        favorites.end());
    if (images.empty() && favorites.empty() && removals.empty()) {
        rewriteJournal();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(favoriteMutex_);
        // Ahead of anything of this run (rule 5).
        std::vector<PendingFavorite> merged;
        for (PendingFavorite& f : favorites) {
            f.key = nextPendingKey_--;
            f.path = f.image.empty() || f.image[0] == '/' ? f.image : writable + f.image;
            merged.push_back(f);
            ++waitingCount_;
        }
        merged.insert(merged.end(), pendingFavorites_.begin(), pendingFavorites_.end());
        pendingFavorites_.swap(merged);
        pendingRemovals_.insert(pendingRemovals_.begin(), removals.begin(), removals.end());
    }
    // The images wait again, where they lie and ahead of whatever is stored after them (their
    // entries stay until they are written); the worker gives them back to the queue once the file
    // takes a write.
    std::vector<WaitingImage> found;
    for (const std::string& image : images) {
        auto record = std::make_unique<redIRI::DCM_MESSAGE>();
        if (!readLibraryFile(image, *record)) continue;
        WaitingImage waiting;
        waiting.path = image.substr(libraryFolder_.size());
        waiting.record = std::move(record);
        found.push_back(std::move(waiting));
        ++waitingCount_;
    }
    // Those whose scale cannot be written are said as they are refused.
    cocos2d::log("library: %d images and %d favourites that waited for the database in the last run %s",
                 static_cast<int>(found.size()),
                 static_cast<int>(std::count_if(favorites.begin(), favorites.end(),
                                                [](const PendingFavorite& f) { return isScale(f.scale); })),
                 ready_ && !readOnly_ ? "are written now" : "wait until it can be written");
    waitingImages_.insert(waitingImages_.begin(), std::make_move_iterator(found.begin()),
                          std::make_move_iterator(found.end()));
    if (waitingImages_.empty() && favorites.empty() && removals.empty()) rewriteJournal();
    if (!favorites.empty() || !removals.empty()) queueFavoriteWrite();
}

// ---- Favourites from the viewer -----------------------------------------------------------------

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
    // Written on the worker; 1007, the badge and the sound follow once the row is there.
    addImageFavorite(path, scale);
}

void dicomDB::onFavoriteFile(const std::string& path, int flag, float scale)
{
    if (flag == kDicomFavoriteFlag) {
        redIRI::dcmReadTag reader;
        reader.setLanguage(currentLanguage());
        scale = reader.setFile(path.c_str()) ? reader.getImageScale() : 1.0f;
    }
    addDicomFavorite(path, scale);
}
