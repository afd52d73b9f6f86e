// studyList: the studies and series of one patient of the library. Each study is a title row
// followed by its series in ascending series number; below the rows a horizontal strip offers the
// hanging protocols that fit the selected series, and beside them up to six thumbnails of the
// chosen series are shown, made on a worker the first time and kept in the series folder
// ("thrumb0" ... "thrumb5").
//
// Shown as a screen of its own (pushed by the patient list in a narrow window) or as the right
// half of a wide patient list (setLayout(true)). Touching the right end of a series row opens it
// in the viewer screen; touching a protocol opens the selected series with that view mode. A
// series row's swipe menu deletes, sends or shares the series.
//
// Rows follow the library's notifications: 2001 (a series stored; payloads that arrive during the
// first load are kept and applied after it), 2036 (the patient deleted), 2021 (thumbnails ready).
//
// Main thread only; the thumbnail and delete workers copy their inputs and report by notification.
#pragma once

#include "NSDBDataModel.h"
#include "NSListView.h"
#include "UIControlBase.h"
#include "UIControlGenerater.h"
#include "UIJson.h"
#include "cocos2d.h"
#include "ui/CocosGUI.h"

#include <functional>
#include <string>
#include <vector>

class dicomDB;

namespace NSUI {
class NSNotificationData;
}

class studyList : public cocos2d::Layer,
                  public NSUI::NSTableViewDelegate,
                  public NSUI::UIJson,
                  public NSUI::UIControlGenerater,
                  public NSUI::UIControlBase {
public:
    enum RowKind { ROW_NEW = -1, ROW_STUDY = 0, ROW_SERIES = 1 };

    class listObject : public cocos2d::Ref, public NSUI::UIJson {
    public:
        static listObject* create(int kind);
        int kind = ROW_NEW;
        std::string studyID;
        std::string studyDate;
        std::string hospitalStudyID;
        std::string studyDescription;
        std::string seriesID;
        std::string seriesNumber;
        std::string seriesParameters;
        std::string seriesDate;
        std::string patientID;
        std::string seriesDescription;
        std::string institution;
        std::string modality;
        std::string folder;  // relative to the library root
        int imageCount = 0;
        int columns = 0;
        int rows = 0;
    };

    // One hanging protocol offered in the strip.
    class protocalObject : public cocos2d::Ref {
    public:
        static protocalObject* create(const std::string& file, const std::string& title, const std::string& type);
        std::string file;
        std::string title;
        std::string type;
    };

    struct Protocol {
        std::string file;
        std::string title;
        std::string type;
    };
    // The protocols that fit a selection: (number of series, image count of the selected series,
    // whether all of them are volumes). Provided by the viewers' application manager.
    using ProtocolLookup = std::function<std::vector<Protocol>(int, int, bool)>;
    static void setProtocolLookup(ProtocolLookup lookup);

    static constexpr int kSceneLayerTag = 100;
    static constexpr int kTitleLayoutTag = 100;
    static constexpr int kSeriesLayoutTag = 101;
    static constexpr int kThumbnailCount = 6;
    static constexpr float kOpenZone = 64.0f;
    // Twice a file's size may not pass this when it is read for a thumbnail.
    static constexpr long long kThumbnailReadLimit = 1214752256LL;

    static cocos2d::Scene* createScene();
    CREATE_FUNC(studyList);
    ~studyList() override;

    bool init() override;
    void cleanup() override;
    void onEnterTransitionDidFinish() override;
    void onExit() override;

    // Builds the layout: the side panel of a wide patient list, or a screen of its own.
    void setLayout(bool panel);
    // Lays the screen or panel out again over a new size (the window was resized).
    void relayout(const cocos2d::Size& size);
    void setPatient(const std::string& patientID);
    const std::string& getPatient() const { return patientID; }

    void tableCellTouched(NSUI::NSTableView* table, NSUI::NSTableViewCell* cell, const cocos2d::Vec2& point) override;
    void tableCellLeftMenu(NSUI::NSTableView* table, NSUI::NSTableViewMenu* menu) override;
    cocos2d::Size tableCellSizeForIndex(NSUI::NSTableView* table, ssize_t index, cocos2d::Ref* data) override;
    NSUI::NSTableViewCell* tableCellAtIndex(NSUI::NSTableView* table, ssize_t index, const cocos2d::Size& size) override;

    void onButton(cocos2d::Ref* sender);
    void onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);
    void onStudiesLoaded(NSUI::NSDBDataModel* model);
    void insertRow(const std::string& studyID, listObject* row);
    void deleteSeriesAt(ssize_t index);
    void showThumbnails(listObject* row);
    void showThumbnails(const std::string& folder);
    void updateProtocols();

    NSUI::NSListView* getRowsTable() const { return rowsTable; }
    NSUI::NSListView* getProtocolStrip() const { return protocolStrip; }
    const std::string& getThumbnailFolder() const { return thumbnailFolder; }
    bool isThumbnailBusy() const { return thumbnailBusy; }
    bool isLoaded() const { return loaded; }
    cocos2d::ui::Widget* getLayoutRoot() const { return layout; }

    // Worker: makes the thumbnails of a series ({"id": series id, "folder": series folder relative
    // to the library root}) from up to six of its images evenly spread, and posts 2021 with the
    // full folder ("" when no picture was made). Takes over one reference to db.
    static void makeThumbnails(const std::string& job, const std::string& libraryRoot, dicomDB* db);
    // The images chosen for the thumbnails of a series of n images, in order, without repeats.
    static std::vector<int> thumbnailIndices(int n);

protected:
    // The rows table and the protocol strip over the layout's (hidden) list placeholder.
    void placeTables();
    void hideThumbnails();
    void requestStudies();
    void fillSeriesRow(NSUI::NSDBDataModel* model);
    listObject* rowFromSwipeMenu(cocos2d::Ref* sender, ssize_t* index);
    void openViewer(const std::string& series, const std::string& protocol);
    void wireButton(const std::string& name);
    ssize_t findStudyRow(const std::string& studyID) const;
    ssize_t findSeriesRow(const std::string& seriesID) const;

    cocos2d::ui::Widget* layout = nullptr;
    NSUI::NSListView* rowsTable = nullptr;
    NSUI::NSListView* protocolStrip = nullptr;
    std::vector<NSUI::NSNotificationData*> pending;  // retained
    bool loaded = false;
    bool firstEnter = true;
    std::string patientID;
    std::string thumbnailFolder;
    std::vector<std::string> loadedTextures;
    bool loading = false;
    bool thumbnailBusy = false;
    float stripSize = 100.0f;
    bool panelLayout = false;
    std::string libraryRoot;
};
