// dcmSend: the send screen. A modal window over the current screen with two lists: the nodes a
// patient, study or series folder can be sent to (this workstation, a row for a typed address, and
// every peer stored in the library or heard on the network, the ones heard in the last ten seconds
// first), and the network service's send and retrieve tasks with their progress, a retry button on
// a failed task and a swipe menu that removes a task.
//
// The screen does no networking: it makes send tasks and hands them to dataService, re-issues a
// failed retrieval through the service's retrieve object, and follows the service's notifications
// (send progress, done, failed; peers found; echo answers; retrieve progress and failures).
//
// Open it with createWindow (or makeWindow, which also sets what to send), add the window to the
// current screen and find the layer by its name "dcmSend".
//
// Main thread only.
#pragma once

#include "NSListView.h"
#include "UIControlBase.h"
#include "UIControlGenerater.h"
#include "UIJson.h"
#include "cocos2d.h"
#include "ui/CocosGUI.h"

#include <string>

class dcmNodeObject;
class dcmGetingObject;
class dcmTask;

namespace NSUI {
class NSNotificationData;
class NSResponseWindow;
class NSTextField;
}

class dcmSend : public cocos2d::Node,
                public NSUI::NSTableViewDelegate,
                public NSUI::UIJson,
                public NSUI::UIControlGenerater,
                public NSUI::UIControlBase {
public:
    static constexpr const char* kLayerName = "dcmSend";
    static constexpr const char* kLayoutFile = "dcmNode.csb";
    static constexpr const char* kNodeRowFile = "dcmNodeInfo.csb";
    static constexpr const char* kTaskRowFile = "dcmNodeSendInfo.csb";
    static constexpr const char* kTaskMenuFile = "dcmNodeSendTool.csb";
    // The swipe menu's button that opens what a failed retrieval kept.
    static constexpr const char* kOpenName = "dcmSend_open";
    static constexpr const char* kHelpName = "helpbk";
    static constexpr const char* kTypedSendName = "dcmNode_send_input";
    static constexpr const char* kLocalPort = "4587";
    static constexpr int kAddressFieldTag = 101;
    static constexpr int kCellLayoutTag = 100;
    static constexpr float kRowHeight = 70.0f;
    // Seconds within which a peer heard counts as online.
    static constexpr int kRecentSeconds = 10;

    static NSUI::NSResponseWindow* createWindow();
    // The window with its layer told what to send: the factory other screens (the viewer screen's
    // send button among them) call, then add the window to themselves.
    static NSUI::NSResponseWindow* makeWindow(const std::string& path, const std::string& label);
    static dcmSend* fromWindow(cocos2d::Node* window);

    CREATE_FUNC(dcmSend);
    dcmSend();
    ~dcmSend() override;

    bool init() override;
    void onEnterTransitionDidFinish() override;
    void onExit() override;
    void cleanup() override;
    bool onResponseReturn() override;

    void setSendItems(std::string path, std::string label);

    void tableCellTouched(NSUI::NSTableView* table, NSUI::NSTableViewCell* cell, const cocos2d::Vec2& point) override;
    void tableCellLeftMenu(NSUI::NSTableView* table, NSUI::NSTableViewMenu* menu) override;
    cocos2d::Size tableCellSizeForIndex(NSUI::NSTableView* table, ssize_t index, cocos2d::Ref* data) override;
    NSUI::NSTableViewCell* tableCellAtIndex(NSUI::NSTableView* table, ssize_t index, const cocos2d::Size& size) override;

    void onButton(cocos2d::Ref* sender);
    void onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);
    void onAddressEdited(NSUI::NSTextField* field);
    void onPeerFound(const std::string& ip, const std::string& name, int device, const std::string& appid);
    void onEchoResult(const std::string& ip, const std::string& port, const std::string& name,
                      const std::string& appid, const std::string& time, int ok);
    // One retrieve progress text ("seriesUID|remaining|completed|failed|warning").
    void onRetrieveProgress(const std::string& text);
    // The send steps for the selected node row.
    void sendToSelectedNode();

    // The node row of a peer's application id; -1 when it is not listed.
    ssize_t nodeRowOf(const std::string& appid) const;
    // A peer's address, name, time last seen and device kind, as discovery and echo report them.
    static void setPeer(dcmNodeObject* node, const std::string& ip, const std::string& port, const std::string& name,
                        const std::string& seen, int device);

    // Whether a "YYYY-MM-DD hh:mm:ss" local time is today and less than ten seconds ago (or later).
    static bool isRecentlySeen(const std::string& time);
    // Whether a typed port is a whole number from 1 to 65535.
    static bool isValidPort(const std::string& port);

    NSUI::NSListView* getNodeList() const { return nodeList; }
    NSUI::NSListView* getTaskList() const { return taskList; }
    cocos2d::Node* getLayoutRoot() const { return root; }
    int getFixedRowCount() const { return fixedRows; }
    const std::string& getSendPath() const { return sendPath; }

protected:
    void buildLists();
    NSUI::NSListView* replacePlaceholder(const std::string& name);
    void fillNodeCell(NSUI::NSTableViewCell* cell, cocos2d::ui::Widget* record, dcmNodeObject* node,
                      const cocos2d::Size& size);
    void fillTaskCell(cocos2d::ui::Widget* record, dcmTask* task);
    void refreshTask(dcmTask* task);
    // Gives a row to every failed retrieval the data service lists and no row shows (run every
    // quarter second while the screen is up).
    void showUnlistedFailures();
    void removeTaskRow(dcmTask* task);
    void toast(const std::string& text);
    // The failed retrieval that kept images, of a task row's cell (a swipe menu button's user
    // object); null for any other row.
    dcmGetingObject* openableRetrieval(cocos2d::Ref* cell) const;
    // Opens the images a failed retrieval kept in the viewer, said there to be incomplete.
    void openIncompleteSeries(dcmGetingObject* get);

    cocos2d::ui::Widget* root = nullptr;
    NSUI::NSListView* nodeList = nullptr;
    NSUI::NSListView* taskList = nullptr;
    int fixedRows = 0;
    std::string sendPath;
    std::string sendLabel;
    bool firstEnter = true;
};
