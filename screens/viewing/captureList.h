// captureList: the user's private collection (favourites) as a chat-like column, oldest at the
// top: screen captures, favourite DICOM files and the time marks between them. A pane that the
// favourites screen places in its layout. It loads its rows from the library database's favourite
// table, makes the missing thumbnails of DICOM favourites on worker threads (one per row, written
// under a temporary name and renamed), lets the user tick rows, share the ticked files by mail or
// remove them, and reports a touched thumbnail to its owner through the selection callback.
//
// Main thread only; the thumbnail workers (NSRunableThread runs, which the shell's shutdown waits
// for) touch only files and the DICOM library and report by notification 2033.
#pragma once

#include "NSLayout.h"
#include "NSListView.h"
#include "UIJson.h"
#include "cocos2d.h"

#include <functional>
#include <set>
#include <string>

class dicomDB;

namespace NSUI {
class NSDBDataModel;
class NSNotificationData;
} // namespace NSUI

class captureList : public NSUI::NSLayout, public NSUI::NSTableViewDelegate {
public:
    enum RowType { kImageFile = 1, kDicomFile = 2, kTimeMark = 3, kIntroduction = 4 };
    static constexpr int kThumbnailTag = 100;
    static constexpr int kBadgeTag = 101;
    static constexpr int kCheckTag = 200;
    static constexpr int kLabelTag = 300;
    static constexpr int kBubbleTag = 301;
    static const char* const kIntroductionText;

    // One row of the favourite table.
    class listObject : public cocos2d::Ref, public NSUI::UIJson {
    public:
        static listObject* create();
        std::string image;  // the favourite file; empty for marks
        std::string updateTime;
        int type = kTimeMark;
        int ID = 0;
        std::string icon;
        std::string message;
        float scale = 1.0f;  // width over height; below 0.99 the row is drawn as portrait
        bool selected = false;
    };

    using SelectionCallback = std::function<void(const std::string& path, int type)>;

    CREATE_FUNC(captureList);
    ~captureList() override;

    bool init() override;
    void cleanup() override;
    void onEnterTransitionDidFinish() override;

    // Called by the owner after sizing the pane: makes the table, asks for the favourites and
    // listens for finished thumbnails.
    void setup();
    void setSelectionCallback(SelectionCallback callback) { onSelect = std::move(callback); }

    void setAllSelected(bool selected);
    void shareSelected();
    void removeSelected();

    // The thumbnail of a DICOM favourite: its path with the last three characters made "png".
    static std::string thumbnailPath(const std::string& image);
    // Worker: writes the thumbnail of the job's file ({"file", "id"}) and posts 2033 to list.
    static void makeThumbnail(const std::string& job, void* list);

    cocos2d::Size tableCellSizeForIndex(NSUI::NSTableView* table, ssize_t index, cocos2d::Ref* data) override;
    NSUI::NSTableViewCell* tableCellAtIndex(NSUI::NSTableView* table, ssize_t index,
                                            const cocos2d::Size& size) override;
    void tableCellTouched(NSUI::NSTableView* table, NSUI::NSTableViewCell* cell, const cocos2d::Vec2& point) override;

    NSUI::NSListView* getTable() const { return table; }
    listObject* rowAt(ssize_t index) const;
    // IDs whose thumbnail job is running.
    const std::set<int>& getThumbnailJobs() const { return thumbnailJobs; }
    int getThumbnailJobsStarted() const { return jobsStarted; }
    bool isLoaded() const { return loaded; }

    // The library database the list reads (the network service's); tests may set another.
    static dicomDB* database();
    static void setDatabaseForTest(dicomDB* db);

protected:
    void onFavorites(NSUI::NSDBDataModel* model);
    void tidyEnd();
    void onNotification(unsigned int id, NSUI::NSNotificationData* data);
    void fillCell(NSUI::NSTableViewCell* cell, listObject* row, const cocos2d::Size& size);
    void startThumbnail(listObject* row);

    NSUI::NSListView* table = nullptr;
    float timeRowHeight = 40;
    float landscapeHeight = 80;
    float portraitHeight = 160;
    float topMargin = 10;
    float rightMargin = 10;
    float thumbnailInset = 30;
    float paneWidth = 0;
    SelectionCallback onSelect;
    std::set<int> thumbnailJobs;
    int jobsStarted = 0;
    bool loaded = false;
};
