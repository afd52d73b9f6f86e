// dcmFinder: the query/retrieve screen. A modal window over the patient list where the user types
// a DICOM server's address, port and entity title (kept in the settings) and a patient name; a
// search lists every study found with its series under it, and a series' download button
// retrieves it into tmp/dicomdown/ under the writable path, from where the network service hands
// the folder to the patient list for import.
//
// The queries and retrievals run in the DICOM library through the network service's find and get
// objects; the answers arrive as notifications (2011 study, 2012 series, 2005 retrieval started,
// 2004 retrieval progress, 2007 retrieval failed). Only addresses inside the network scope are
// ever contacted. While a search runs the screen says so ("searching" beside the button, in place
// of the idle help); a new search gives up the one before (also one waiting on a silent server),
// and so does leaving the screen. A series whose retrieval failed shows a still red arrow, and a
// click on it retrieves the series again.
//
// Main thread only.
#pragma once

#include "NSListView.h"
#include "NSThreadSafeDestroy.h"
#include "UIControlBase.h"
#include "UIControlGenerater.h"
#include "UIJson.h"
#include "UILocalConfig.h"
#include "cocos2d.h"
#include "ui/CocosGUI.h"

#include <string>

struct dcmFindStudyRecord;
struct dcmFindSeriesRecord;

namespace NSUI {
class NSNotificationData;
class NSResponseWindow;
class NSTextField;
}

class dcmFinder : public cocos2d::Node,
                  public NSUI::NSTableViewDelegate,
                  public NSUI::UIJson,
                  public NSUI::UIControlGenerater,
                  public NSUI::UIControlBase,
                  public NSUI::NSThreadSafeDestroy,
                  public NSUI::UILocalConfig {
public:
    class listObject : public cocos2d::Ref {
    public:
        static listObject* create();
        bool isStudy = false;
        bool acknowledged = false;
        bool downloading = false;
        bool finished = false;
        bool failed = false;  // its last retrieval failed; a click retrieves it again
        std::string studyDate;
        std::string institution;
        std::string studyDescription;
        std::string patientName;
        std::string patientID;
        std::string birthDate;
        std::string sex;
        std::string studyUID;
        std::string studyID;
        std::string modality;
        std::string seriesDescription;
        std::string seriesUID;
        std::string seriesNumber;
        std::string imageCount;
    };

    // The finder's name in its window.
    static constexpr const char* kLayerName = "dcmFinder";
    static constexpr const char* kLayoutFile = "dcmFind.csb";
    static constexpr const char* kStudyRowFile = "dcmFindPatient.csb";
    static constexpr const char* kSeriesRowFile = "dcmFindSeries.csb";
    static constexpr const char* kServerIPKey = "dicomServerIP";
    static constexpr const char* kServerPortKey = "dicomServerPort";
    static constexpr const char* kServerTitleKey = "dicomServerTitle";
    static constexpr int kSeriesLayoutTag = 100;
    static constexpr int kStudyLayoutTag = 200;
    static constexpr int kBlinkTag = 7001;
    static constexpr float kStudyRowHeight = 70.0f;
    static constexpr float kSeriesRowHeight = 60.0f;

    static NSUI::NSResponseWindow* createWindow();
    static dcmFinder* fromWindow(cocos2d::Node* window);
    CREATE_FUNC(dcmFinder);

    bool init() override;
    void cleanup() override;
    bool onResponseReturn() override;
    // Translates the layout, makes the result list and the four text fields, wires the buttons.
    void setup();

    cocos2d::Size tableCellSizeForIndex(NSUI::NSTableView* table, ssize_t index, cocos2d::Ref* data) override;
    NSUI::NSTableViewCell* tableCellAtIndex(NSUI::NSTableView* table, ssize_t index, const cocos2d::Size& size) override;

    void onButton(cocos2d::Ref* sender);
    void onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);
    void search();
    void onStudyFound(dcmFindStudyRecord* record);
    void onSeriesFound(dcmFindSeriesRecord* record);
    void retrieve(listObject* row, cocos2d::ui::Button* button);
    void onRetrieveState(const std::string& seriesUID);
    void onRetrieveProgress(const std::string& text);
    void onRetrieveFailed(const std::string& record);
    // A search of this screen waits or runs in the library.
    bool isSearching() const { return searching; }

    static void clearStudyRecord(dcmFindStudyRecord* record);
    static void clearSeriesRecord(dcmFindSeriesRecord* record);
    // The download folder: the writable path followed by "tmp/dicomdown/".
    static std::string downloadFolder();

    NSUI::NSListView* getList() const { return list; }
    NSUI::NSTextField* getField(const std::string& name) const;
    cocos2d::Node* getLayoutRoot() const { return root; }

protected:
    NSUI::NSTextField* replaceField(const std::string& name, int mode, const std::string& text);
    void updateHelp();
    // Follows the library's find until it has been idle for two checks in a row (the series
    // queries of a study start only once its answer is delivered).
    void watchSearch();
    // The button's look from its row's flags: blinking white, blinking red, still white, or still
    // red for a failed retrieval.
    static void showButtonState(cocos2d::ui::Button* button, const listObject* row);
    // The cell's shown series row and its download button, when the cell is in sight.
    template <class Visit>
    void forEachShownSeries(Visit visit);

    cocos2d::ui::Widget* root = nullptr;
    NSUI::NSListView* list = nullptr;
    NSUI::NSTextField* fieldIP = nullptr;
    NSUI::NSTextField* fieldPort = nullptr;
    NSUI::NSTextField* fieldTitle = nullptr;
    NSUI::NSTextField* fieldPatient = nullptr;
    bool searching = false;
    int idleChecks = 0;
};
