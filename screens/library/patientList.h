// patientList: the home screen. The patients of the local library, newest first, in a table with
// a top bar (import, account, query/retrieve, network peers, favourites), a swipe menu on each row
// (delete, send, share), a badge with the peers online, a badge with the favourites and animated
// hints while the library holds fewer than four patients.
//
// Touching a patient opens the study list: as a screen of its own in a narrow window, as a panel
// on the right half of a window wider than 1800 units. On its first entry the screen installs the
// example study once per installation, unpacks the local web pages and purges the old series
// cache. It imports files, folders and zip archives chosen by the user or handed to the program
// (notification 2026); zip archives are unpacked on a worker, one at a time, the others waiting in
// order. Its rows follow the library's notifications (2002 stored, 2018 series deleted).
//
// Main thread only; its workers copy their inputs and report by notification.
#pragma once

#include "NSDBDataModel.h"
#include "NSListView.h"
#include "UIControlBase.h"
#include "UIControlGenerater.h"
#include "UIJson.h"
#include "UILocalConfig.h"
#include "cocos2d.h"
#include "ui/CocosGUI.h"

#include <deque>
#include <string>

class importDcm;
class dicomDB;

namespace NSUI {
class NSNotificationData;
}

class patientList : public cocos2d::Layer,
                    public NSUI::NSTableViewDelegate,
                    public NSUI::UIJson,
                    public NSUI::UIControlGenerater,
                    public NSUI::UIControlBase,
                    public NSUI::UILocalConfig {
public:
    // One patient row; the texts are the library's, the counts its numbers of studies, series and
    // images. folder is the patient's folder relative to the library root.
    class listObject : public cocos2d::Ref, public NSUI::UIJson {
    public:
        static listObject* create();
        std::string patientID;
        std::string hospitalID;
        std::string name;
        std::string birthday;
        std::string sex;
        std::string updateTime;
        std::string description;
        std::string folder;
        int studyCount = 0;
        int seriesCount = 0;
        int imageCount = 0;
        bool isNew = false;
    };

    // Names and tags of the screen's own nodes.
    static constexpr int kCellLayoutTag = 100;
    static constexpr int kHintTag = 100001;
    static constexpr int kBannerTag = 9001;
    static constexpr float kWideWindowWidth = 1800.0f;
    static constexpr float kTopBarHeight = 60.0f;
    static constexpr float kRowHeight = 100.0f;
    static constexpr float kOpenZone = 64.0f;
    static const char* const kStudyPanelName;  // "studylistpc"
    // The hint's text for an empty library (shown only while no patient is listed).
    static const char* const kEmptyTextName;  // "emptyText"

    static cocos2d::Scene* createScene();
    CREATE_FUNC(patientList);
    ~patientList() override;

    bool init() override;
    void cleanup() override;
    void onEnterTransitionDidFinish() override;
    void onExit() override;

    // The director's window is wider than 1800 units: the study list becomes a side panel.
    static bool isWideWindow();

    void tableCellTouched(NSUI::NSTableView* table, NSUI::NSTableViewCell* cell, const cocos2d::Vec2& point) override;
    void tableCellLeftMenu(NSUI::NSTableView* table, NSUI::NSTableViewMenu* menu) override;
    cocos2d::Size tableCellSizeForIndex(NSUI::NSTableView* table, ssize_t index, cocos2d::Ref* data) override;
    NSUI::NSTableViewCell* tableCellAtIndex(NSUI::NSTableView* table, ssize_t index, const cocos2d::Size& size) override;

    void onButton(cocos2d::Ref* sender);
    void onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);
    // Imports a folder, a file or a zip archive.
    void openPath(std::string path);
    void onPatientsLoaded(NSUI::NSDBDataModel* model);
    // Fills the rows of the patients the library listed from its answer; those not listed yet
    // are appended when listNew. Returns how many were appended.
    int showPatients(NSUI::NSDBDataModel* model, bool listNew);
    void deletePatientAt(ssize_t index);

    NSUI::NSListView* getTable() const { return table; }
    importDcm* getImporter() const { return importer; }
    const std::string& getLibraryRoot() const { return libraryRoot; }
    // The zip archives waiting for the one being unpacked.
    size_t pendingZipCount() const { return zipQueue.size(); }
    bool isUnpacking() const { return unpacking; }

    // The row object of a patient id, or null.
    listObject* findRow(const std::string& patientID) const;
    // The hint node (tag 100001) when made.
    cocos2d::Node* getHintNode() const;

    // Lays the screen out again over the window's size (the window was resized): the top bar, the
    // table, the hint and, in a wide window, the study panel; a window turned narrow drops the panel.
    void layoutForWindow();

protected:
    void loadLayout();
    void createTable(cocos2d::Node* placeholder);
    void wireButton(const std::string& name);
    void updatePrompts();
    void updateAccountIcon();
    void updateFavoriteBadge(int count);
    void updatePeerBadge(int count);
    void showNetworkWarning(bool show);
    void installExampleOnce();
    void startZipImport(const std::string& path);
    // Where archives are unpacked for their import (qv/tmp/unzip/), and its removal with all it
    // holds.
    static std::string unpackFolder();
    static void removeUnpackFolder();
    void onPatientStored(const std::string& json);
    void onSeriesDeleted(const std::string& patientID, bool patientGone);
    void onImportPathReady(int unpacked, const std::string& unsafeEntry);
    // The count of files copied so far next to the import button, while the importer works; when
    // it has finished, how many files were imported and skipped, once, if any was skipped.
    void showImportProgress();
    // The label left of the top bar's buttons, made when first needed and placed anew.
    cocos2d::Label* progressLabel();
    // The library's check at start, or its indexing of files found, on that label.
    void showLibraryState();
    // Starts the progress display; a new round of the importer counts from here.
    void startImportProgress();
    listObject* rowFromSwipeMenu(cocos2d::Ref* sender, ssize_t* index);
    void closeSwipeMenu();
    void openStudies(listObject* row);

    NSUI::NSListView* table = nullptr;
    cocos2d::ui::Widget* layout = nullptr;
    bool firstEnter = true;
    std::string libraryRoot;
    importDcm* importer = nullptr;
    std::string importJob;
    std::string pagesFolder;
    // Zip archives handed in while one is being unpacked, in arrival order.
    std::deque<std::string> zipQueue;
    bool unpacking = false;
    // The newest image row the loaded counts include (stored-image notices up to it are in them).
    int loadedUpToImage = 0;
    // The importer's queued, finished and copied counts when the current round of imports began.
    int importRoundQueued = 0;
    int importRoundFinished = 0;
    int importRoundCopied = 0;
    int importRoundNoRoom = 0;
    int importRoundGone = 0;
    bool importRound = false;
};
