// dcmInfoList: the DICOM tag list. Every data element of one file as a scrolling list of rows
// (tag, description, value), opened over a screen as a modal window for the file of its active
// view. The tags are read on a worker thread when the list has entered the stage and has a path;
// the rows are filled on the main thread, the standard elements first and the file meta and
// private ones after them.
//
// Main thread only, except loadTagList (the worker's task), which touches only its own job.
#pragma once

#include "NSListView.h"
#include "NSThreadSafeDestroy.h"
#include "UIControlGenerater.h"
#include "UIJson.h"
#include "cocos2d.h"
#include "dcmLib.h"

#include <memory>
#include <string>

namespace NSUI {
class NSResponseWindow;
}

class dcmInfoList : public cocos2d::Node,
                    public NSUI::NSTableViewDelegate,
                    public NSUI::UIJson,
                    public NSUI::UIControlGenerater,
                    public NSUI::NSThreadSafeDestroy {
public:
    static constexpr const char* kNodeName = "dcmInfo";
    static constexpr const char* kLayoutFile = "dcmInfo.csb";
    static constexpr const char* kRowFile = "tagInfo.csb";
    static constexpr int kCellLayoutTag = 100;
    static constexpr float kRowHeight = 35.0f;
    // A longer description shows its first 19 characters and an ellipsis.
    static constexpr size_t kIntroCharacters = 20;
    // Units kept free below the layout when the window is too low for it.
    static constexpr float kBottomMargin = 16.0f;

    // One shown row.
    class listObject : public cocos2d::Ref {
    public:
        static listObject* create();
        std::string tag;
        std::string intro;  // the description, at most 20 characters
        std::string value;
    };

    // What the worker reads: its own copy of the path and the language, and the library's records.
    struct Job {
        std::string path;
        int language = 0;
        redIRI::dcmReadTag::DicomTags* tags = nullptr;
        int count = 0;
        ~Job();
    };

    CREATE_FUNC(dcmInfoList);
    ~dcmInfoList() override;
    // A full-window modal layer holding a tag list, its layout hanging from the top centre. The
    // caller adds it and gives the child "dcmInfo" the file (setFilePath).
    static NSUI::NSResponseWindow* createWindow();
    // The tag list inside a window made by createWindow (or the node itself).
    static dcmInfoList* fromWindow(cocos2d::Node* window);

    bool init() override;
    void cleanup() override;
    void onEnterTransitionDidFinish() override;
    bool onResponseReturn() override;

    // Applies the texts, puts the list view in place of "dcmList" and wires "btn_back".
    void setup();
    // The file to list. On a list already on the stage that has not loaded, starts the load.
    void setFilePath(const std::string& path);
    const std::string& getFilePath() const { return filePath; }

    // The worker's task: reads the records of the job's file.
    static void loadTagList(Job& job);
    cocos2d::Size tableCellSizeForIndex(NSUI::NSTableView* table, ssize_t index, cocos2d::Ref* data) override;
    NSUI::NSTableViewCell* tableCellAtIndex(NSUI::NSTableView* table, ssize_t index,
                                            const cocos2d::Size& size) override;

    NSUI::NSListView* getList() const { return list; }
    // True once the rows of the file were filled in (also for a file without records).
    bool isLoaded() const { return filled; }

protected:
    // Makes the layout no taller than the window allows, shortening the list.
    void fitToWindow();
    void startLoad();
    void fillRows(Job& job);
    void onBack(cocos2d::Ref* sender);
    void close();

    std::string filePath;
    bool loadOnEnter = false;
    bool loadStarted = false;
    bool filled = false;
    cocos2d::Node* layout = nullptr;
    NSUI::NSListView* list = nullptr;
    // The records of the last load, owned here.
    std::shared_ptr<Job> records;
};
