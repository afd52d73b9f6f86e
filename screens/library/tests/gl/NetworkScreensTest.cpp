// The send, query/retrieve, account and advice screens in the running program: their layouts,
// a series sent to DCMTK's storescp, a query and a retrieval against dcmqrscp, the account's
// requests against a loopback HTTP server, and the messages of refused input. Every peer listens
// on 127.0.0.1.
#include "LibraryAppFixture.h"

#include "support/DicomPeers.h"
#include "support/LoopbackServer.h"
#include "NSDataManager.h"
#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "NSActivity.h"
#include "NSResponseWindow.h"
#include "NSTextField.h"
#include "UILocalConfig.h"
#include "advice.h"
#include "base/base64.h"
#include "cocostudio/CSLoader.h"
#include "dataService.h"
#include "dcmFinder.h"
#include "dcmNodeObject.h"
#include "dcmSend.h"
#include "dcmTask.h"
#include "imageViewerPC.h"
#include "importDcm.h"
#include "isDcmScan.h"
#include "login.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <httplib.h>

#include <array>
#include <chrono>
#include <map>
#include <tuple>

USING_NS_CC;

namespace {

int rowCount(patientList* screen)
{
    return screen && screen->getTable() ? int(screen->getTable()->getRowCount()) : -1;
}

patientList::listObject* rowAt(patientList* screen, ssize_t i)
{
    return static_cast<patientList::listObject*>(screen->getTable()->getRowData().at(i));
}

bool importIdle(patientList* screen)
{
    return screen && !screen->isUnpacking() && screen->pendingZipCount() == 0 && screen->getImporter() &&
           !screen->getImporter()->isBusy();
}

// The text of the running scene's toast, then cleared so the next check sees only a new one.
std::string takeToast()
{
    Scene* scene = Director::getInstance()->getRunningScene();
    auto* text = dynamic_cast<ui::Text*>(scene ? scene->getChildByNameDeep("messageBox.text") : nullptr);
    if (!text)
        return "";
    const std::string shown = text->getString();
    text->setString("");
    return shown;
}

std::string languageText(const std::string& key)
{
    return NSUI::UILocalConfig::getText(key);
}

// Each file's data set re-encoded in Explicit VR Little Endian, by SOP Instance UID: equal bytes
// mean the same data set whatever transfer syntax and file header each copy has.
std::map<std::string, std::string> dataSetBytes(const std::vector<std::string>& files, const std::string& scratch)
{
    std::map<std::string, std::string> out;
    const std::string temp = scratch + "dataset.tmp";
    for (const std::string& file : files) {
        DcmFileFormat format;
        if (format.loadFile(file.c_str()).bad())
            continue;
        DcmDataset* data = format.getDataset();
        OFString uid;
        data->findAndGetOFString(DCM_SOPInstanceUID, uid);
        if (data->saveFile(temp.c_str(), EXS_LittleEndianExplicit).good())
            out[uid.c_str()] = readWhole(temp);
    }
    return out;
}

// The files below a folder (ending in "/"), as paths.
std::vector<std::string> pathsBelow(const std::string& folder)
{
    std::vector<std::string> paths;
    for (const std::string& f : filesBelow(folder))
        paths.push_back(folder + f);
    return paths;
}

// The send screen that a button of the patient list opened over it (null when none is open).
dcmSend* openedSendScreen(patientList* home)
{
    for (Node* child : home->getChildren())
        if (dcmSend* screen = dcmSend::fromWindow(child))
            return screen;
    return nullptr;
}

// Types text into a field as the keyboard does (the field's listener runs per insertion).
void typeInto(NSUI::NSTextField* field, const std::string& text)
{
    while (!field->getString().empty())
        field->deleteBackward();
    for (char c : text)
        field->insertText(&c, 1);
}

void expectChildren(const std::string& file, std::initializer_list<const char*> names)
{
    Node* root = cocos2d::CSLoader::createNode(file);
    ASSERT_NE(root, nullptr) << file;
    for (const char* name : names)
        EXPECT_NE(root->getChildByNameDeep(name), nullptr) << file << ": " << name;
}

} // namespace

TEST_F(LibraryAppTest, NetworkScreenLayoutsHoldEveryChildTheScreensLookUp)
{
    launch(false);
    expectChildren("dcmNode.csb", {"list", "sending", "dcmNode_send", "btn_back"});
    expectChildren("dcmNodeInfo.csb", {"name", "ip", "last", "device", "wifi", "save"});
    expectChildren("dcmNodeSendInfo.csb", {"ip", "path", "ratio", "dcmNodeSend_retry"});
    expectChildren("dcmNodeSendTool.csb", {"del"});
    expectChildren("login.csb", {"bk", "goBack", "change", "send", "login"});
    expectChildren("bkScene.csb", {"title", "goBack"});
    expectChildren("dcmFind.csb",
                   {"btn_back", "btnSearch", "editIP", "editPort", "editTitle", "editPatient", "help", "searching"});
    expectChildren("dcmFindPatient.csb", {"name", "id", "sex", "birthday", "hospital", "studyid", "studydate", "desc"});
    expectChildren("dcmFindSeries.csb", {"seriesid", "modality", "number", "desc", "btnDownload"});
    EXPECT_FALSE(FileUtils::getInstance()->getStringFromFile(advice::kPageFile).empty());
    for (const char* image : {"imgs/drNodeHelp.png", "imgs/device_Android.png", "imgs/device_iOS.png",
                              "imgs/device_Mac.png", "imgs/device_PC.png", "imgs/favierate.png",
                              "imgs/favierateNone.png", "UIRes/cursor.png", "UIRes/white.png", "UIRes/blueBtn.png"})
        EXPECT_TRUE(FileUtils::getInstance()->isFileExist(image)) << image;
}

TEST_F(LibraryAppTest, SendScreenRefusesBadAddressesAndSendsASeriesToStorescp)
{
    writeStudy(scratch + "source/", "SEND^ME", "SND-1", 4);
    launch(false);
    home()->openPath(scratch + "source");
    ASSERT_TRUE(frameUntil([&] { return rowCount(home()) == 1 && importIdle(home()) && rowAt(home(), 0)->imageCount == 4; }));
    const std::string folder = home()->getLibraryRoot() + rowAt(home(), 0)->folder;

    // The top bar's network button opens the screen with nothing to send.
    clickNode(home()->getChildByNameDeep("wifi"));
    frame();
    dcmSend* screen = openedSendScreen(home());
    ASSERT_NE(screen, nullptr);
    NSUI::NSListView* nodes = screen->getNodeList();
    ASSERT_NE(nodes, nullptr);
    ASSERT_GE(nodes->getRowCount(), 2);
    EXPECT_EQ(screen->getFixedRowCount(), 2);
    EXPECT_EQ(static_cast<dcmNodeObject*>(nodes->getRowData()[0])->ip, "127.0.0.1:4587");
    EXPECT_EQ(static_cast<dcmNodeObject*>(nodes->getRowData()[1])->ip, "127.0.0.");
    Node* help = screen->getChildByName(dcmSend::kHelpName);
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    // Without a patient or series there is nothing to send.
    nodes->selectCellAtIndex(1);
    screen->sendToSelectedNode();
    EXPECT_EQ(takeToast(), "Please choose a patient or series, and open again.");
    screen->setSendItems(folder, "SEND^ME");

    NSUI::NSTableViewCell* typedCell = nodes->cellAtIndex(1);
    ASSERT_NE(typedCell, nullptr);
    auto* field = dynamic_cast<NSUI::NSTextField*>(typedCell->getChildByTag(dcmSend::kAddressFieldTag));
    ASSERT_NE(field, nullptr);
    ASSERT_TRUE(field->isVisible());
    EXPECT_EQ(field->getString(), "127.0.0.");
    auto* typedSend = dynamic_cast<ui::Button*>(typedCell->getChildByName(dcmSend::kTypedSendName));
    ASSERT_NE(typedSend, nullptr);

    // Not an address, a port out of range: the message at once, no task.
    for (const char* typed : {"10.0.0", "127.0.0.1:70000", "127.0.0.1:port", "999.0.0.1"}) {
        typeInto(field, typed);
        ASSERT_TRUE(typedSend->isVisible());
        clickNode(typedSend);
        EXPECT_EQ(takeToast(), languageText("UnvalidIP")) << typed;
    }
    EXPECT_EQ(screen->getTaskList()->getRowCount(), 0);

    // A node that does not answer: the task fails and the network service says so.
    std::vector<std::string> toasts;
    dataService::getInstance()->toastObserver = [&toasts](const std::string& text, float) { toasts.push_back(text); };
    typeInto(field, "127.0.0.1:" + std::to_string(qvtest::freePort()));
    clickNode(typedSend);
    ASSERT_EQ(screen->getTaskList()->getRowCount(), 1);
    EXPECT_FALSE(help->isVisible());
    auto* dead = static_cast<dcmSendingObject*>(screen->getTaskList()->getRowData()[0]);
    ASSERT_TRUE(frameUntil([&] { return dead->state == DCM_TASK_FAILED; }, 30.0));
    ASSERT_FALSE(toasts.empty());
    EXPECT_EQ(toasts.back(), "Please check the status of DICOM node");
    // The failed row offers its retry button and hides the ratio.
    frame();
    NSUI::NSTableViewCell* deadCell = screen->getTaskList()->cellAtIndex(0);
    ASSERT_NE(deadCell, nullptr);
    EXPECT_TRUE(deadCell->getChildByNameDeep("dcmNodeSend_retry")->isVisible());

    // A real node: every image arrives with the same data set.
    qvtest::TempDir peerDir;
    qvtest::StorePeer peer(peerDir);
    ASSERT_TRUE(peer.ready());
    typeInto(field, "127.0.0.1:" + std::to_string(peer.port()));
    clickNode(typedSend);
    ASSERT_EQ(screen->getTaskList()->getRowCount(), 2);
    auto* task = static_cast<dcmSendingObject*>(screen->getTaskList()->getRowData()[1]);
    EXPECT_EQ(task->port, std::to_string(peer.port()));
    ASSERT_TRUE(frameUntil([&] { return task->state == DCM_TASK_DONE; }, 60.0));
    // Pressing send again for the same node adds nothing: the node is locked.
    clickNode(typedSend);
    EXPECT_EQ(screen->getTaskList()->getRowCount(), 2);

    std::vector<std::string> sent;
    for (const std::string& f : filesBelow(folder + "/"))
        if (f.find("thrumb") == std::string::npos)
            sent.push_back(folder + "/" + f);
    const auto before = dataSetBytes(sent, scratch);
    ASSERT_EQ(before.size(), 4u);
    EXPECT_EQ(dataSetBytes(peer.files(), scratch), before);

    // Deleting the failed send removes its row and it is never sent again.
    frame();
    NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
    data->uintValue = dead->getRefID();
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NSUI::NOTIFY_NET_TASK_ROW_UPDATE, data,
                                                                screen, false);
    ASSERT_TRUE(frameUntil([&] { return screen->getTaskList()->getRowCount() == 1; }, 5.0));
    EXPECT_EQ(screen->getTaskList()->getRowData()[0], task);
    dataService::getInstance()->toastObserver = nullptr;
}

// A user who clicks into the typed-address field, types a node and presses that row's own Send
// button has chosen that row: the series goes there (the click on the field never selected the row
// in the table, and the button answered "Please choose a patient or series"), and that row alone
// stays highlighted. Send on this workstation, or again on a node sent to, says why nothing goes.
TEST_F(LibraryAppTest, TheTypedAddressRowsOwnSendButtonSendsToIt)
{
    writeStudy(scratch + "source/", "TYPED^SEND", "TS-1", 2);
    launch(false);
    home()->openPath(scratch + "source");
    ASSERT_TRUE(frameUntil([&] { return rowCount(home()) == 1 && importIdle(home()) && rowAt(home(), 0)->imageCount == 2; }));
    const std::string folder = home()->getLibraryRoot() + rowAt(home(), 0)->folder;
    clickNode(home()->getChildByNameDeep("wifi"));
    frame();
    dcmSend* screen = openedSendScreen(home());
    ASSERT_NE(screen, nullptr);
    screen->setSendItems(folder, "TYPED^SEND");
    NSUI::NSListView* nodes = screen->getNodeList();
    ASSERT_NE(nodes, nullptr);
    NSUI::NSTableViewCell* typedCell = nodes->cellAtIndex(1);
    ASSERT_NE(typedCell, nullptr);
    auto* field = dynamic_cast<NSUI::NSTextField*>(typedCell->getChildByTag(dcmSend::kAddressFieldTag));
    auto* typedSend = dynamic_cast<ui::Button*>(typedCell->getChildByName(dcmSend::kTypedSendName));
    ASSERT_NE(field, nullptr);
    ASSERT_NE(typedSend, nullptr);

    // This workstation first: Send says why it sends nothing there.
    NSUI::NSTableViewCell* localCell = nodes->cellAtIndex(0);
    ASSERT_NE(localCell, nullptr);
    clickNode(localCell);
    frame();
    clickNode(screen->getChildByNameDeep("dcmNode_send"));
    frame();
    EXPECT_FALSE(languageText("dcmSend_toSelf").empty());
    EXPECT_EQ(takeToast(), languageText("dcmSend_toSelf"));
    EXPECT_EQ(screen->getTaskList()->getRowCount(), 0);

    qvtest::TempDir peerDir;
    qvtest::StorePeer peer(peerDir);
    ASSERT_TRUE(peer.ready());
    clickNode(field);
    frame();
    typeInto(field, "127.0.0.1:" + std::to_string(peer.port()));
    frame();
    ASSERT_TRUE(typedSend->isVisible());
    clickNode(typedSend);
    frame();
    EXPECT_EQ(takeToast(), "");
    ASSERT_EQ(screen->getTaskList()->getRowCount(), 1);
    auto* task = static_cast<dcmSendingObject*>(screen->getTaskList()->getRowData()[0]);
    EXPECT_EQ(task->address, "127.0.0.1");
    EXPECT_EQ(task->port, std::to_string(peer.port()));
    // The typed row alone is highlighted now.
    EXPECT_EQ(localCell->getChildByTag(NSUI::NSTableViewDelegate::kHighlightTag), nullptr);
    EXPECT_NE(typedCell->getChildByTag(NSUI::NSTableViewDelegate::kHighlightTag), nullptr);
    ASSERT_TRUE(frameUntil([&] { return task->state == DCM_TASK_DONE; }, 60.0));
    EXPECT_EQ(peer.files().size(), 2u);
    // Sending there again adds nothing, and says where the transfer is.
    clickNode(typedSend);
    frame();
    EXPECT_EQ(takeToast(), languageText("dcmSend_alreadyListed"));
    EXPECT_EQ(screen->getTaskList()->getRowCount(), 1);
}

TEST_F(LibraryAppTest, SendScreenFollowsRetrieveProgressAndPeers)
{
    launch(false);
    NSUI::NSResponseWindow* window = dcmSend::makeWindow("", "");
    home()->addChild(window);
    dcmSend* screen = dcmSend::fromWindow(window);
    ASSERT_NE(screen, nullptr);
    NSUI::NSListView* tasks = screen->getTaskList();
    ASSERT_NE(tasks, nullptr);
    auto retrieval = [&](const std::string& uid) {
        dcmGetingObject* task = dcmGetingObject::create(
            {"127.0.0.1", "104", "", "", "1.2.3", uid, "/tmp/", "PATIENT", "7", "CT"}, DCM_TASK_WAITING);
        tasks->insertRow(-1, task);
        return task;
    };
    dcmGetingObject* done = retrieval("1.1");
    dcmGetingObject* failed = retrieval("1.2");
    dcmGetingObject* half = retrieval("1.3");
    dcmGetingObject* zero = retrieval("1.4");
    screen->onRetrieveProgress("1.1|0|10|0|0");
    screen->onRetrieveProgress("1.2|0|9|1|0");
    screen->onRetrieveProgress("1.3|5|5|0|0");
    screen->onRetrieveProgress("1.4|00|0|0|0");  // no total: nothing changes, nothing divides by zero
    screen->onRetrieveProgress("1.4|1|2");      // not five fields
    EXPECT_EQ(done->state, DCM_TASK_DONE);
    EXPECT_EQ(failed->state, DCM_TASK_FAILED);
    EXPECT_EQ(half->state, DCM_TASK_RUNNING);
    EXPECT_FLOAT_EQ(half->progress, 50.0f);
    EXPECT_EQ(half->imageCount, "10");
    EXPECT_EQ(zero->state, DCM_TASK_WAITING);
    EXPECT_FLOAT_EQ(zero->progress, 0.0f);

    // The library has begun the waiting one (its image-level query): it runs before any count. A
    // failed row says what arrived of how many and why.
    NSUI::NSNotificationCenter::getInstance()->postStringNotification(nullptr, NSUI::NOTIFY_NET_RETRIEVE_STATE, "1.4",
                                                                      nullptr, true);
    tasks->insertRow(-1, dcmGetingObject::create({"127.0.0.1", "104", "", "", "1.2.3", "1.5", "/tmp/", "PATIENT", "7",
                                                  "CT", "469", "2500", "the disk is full"},
                                                 DCM_TASK_FAILED));
    frame();
    auto rowText = [&](ssize_t row, const char* name) {
        return static_cast<ui::Text*>(tasks->cellAtIndex(row)->getChildByNameDeep(name))->getString();
    };
    EXPECT_EQ(rowText(3, "ratio"), "Running");
    EXPECT_EQ(rowText(4, "path"), "7(CT)  469 of 2,500 images arrived: the disk is full");
    screen->onRetrieveProgress("1.4|3|1|0|0");
    EXPECT_EQ(rowText(3, "ratio"), "25%");

    // A running retrieval cannot be removed from the swipe menu.
    frame();
    NSUI::NSTableViewCell* cell = tasks->cellAtIndex(2);
    ASSERT_NE(cell, nullptr);
    ui::Button* del = ui::Button::create();
    del->setName("del");
    del->setUserObject(cell);
    screen->onButton(del);
    EXPECT_EQ(takeToast(), "The downloading task can not be removed.");
    EXPECT_EQ(tasks->getRowCount(), 5);

    // A retrieval that failed as the screen opened (off the library's list, and its failure heard
    // by the data service only afterwards) gets its row once the service lists it.
    const ssize_t rowsBefore = tasks->getRowCount();
    ASSERT_NE(dataService::getInstance()->addFailedRetrieve(
                  "127.0.0.1,104,,,1.2.3,1.6,/tmp/,PATIENT,7,CT,3,10,the disk is full"),
              nullptr);
    ASSERT_TRUE(frameUntil([&] { return tasks->getRowCount() == rowsBefore + 1; }, 5.0));
    auto* late = static_cast<dcmGetingObject*>(tasks->getRowData()[rowsBefore]);
    EXPECT_EQ(late->seriesUID, "1.6");
    EXPECT_EQ(late->state, DCM_TASK_FAILED);
    EXPECT_EQ(late->keptImages, 3);
    EXPECT_EQ(late->failureReason, "the disk is full");

    // A peer heard now goes first after the fixed rows, with the green icon; a DICOM node that
    // did not answer its echo is not added.
    screen->onPeerFound("127.0.0.5", "READING-2", 2, "app-2");
    screen->onEchoResult("127.0.0.6", "104", "PACS", "pacs-1", "2000-01-01 00:00:00", 0);
    NSUI::NSListView* nodes = screen->getNodeList();
    ASSERT_GT(nodes->getRowCount(), screen->getFixedRowCount());
    auto* peer = static_cast<dcmNodeObject*>(nodes->getRowData()[screen->getFixedRowCount()]);
    EXPECT_EQ(peer->appid, "app-2");
    EXPECT_TRUE(dcmSend::isRecentlySeen(peer->wifi));
    for (Ref* row : nodes->getRowData())
        EXPECT_NE(static_cast<dcmNodeObject*>(row)->appid, "pacs-1");
    EXPECT_FALSE(dcmSend::isRecentlySeen("2000-01-01 00:00:00"));
    EXPECT_FALSE(dcmSend::isRecentlySeen(""));
}

TEST_F(LibraryAppTest, QueryListsTheMatchingStudiesAndRetrievesASeriesIntoTheLibrary)
{
    // Two patients on the archive; the query asks for one of them.
    writeStudy(scratch + "archive/a/", "ALPHA^QUERY", "QA-1", 3);
    writeStudy(scratch + "archive/b/", "BRAVO^OTHER", "QB-2", 2);
    qvtest::TempDir archiveDir;
    qvtest::ArchivePeer archive(archiveDir, pathsBelow(scratch + "archive/"));
    ASSERT_TRUE(archive.ready());
    launch(false);

    clickNode(home()->getChildByNameDeep("search"));
    frame();
    dcmFinder* finder = nullptr;
    for (Node* child : home()->getChildren())
        if (!finder)
            finder = dcmFinder::fromWindow(child);
    ASSERT_NE(finder, nullptr);
    Node* help = finder->getLayoutRoot()->getChildByNameDeep("help");
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());

    // No port: the message, nothing saved.
    typeInto(finder->getField("editIP"), "127.0.0.1");
    clickNode(finder->getLayoutRoot()->getChildByNameDeep("btnSearch"));
    EXPECT_EQ(takeToast(), "Check the IP and PORT");
    EXPECT_EQ(NSUI::UILocalConfig::getLocalString("dicomServerIP", ""), "");

    // An address outside the allowed network is never contacted.
    typeInto(finder->getField("editIP"), "10.1.2.3");
    typeInto(finder->getField("editPort"), "104");
    finder->search();
    EXPECT_FALSE(takeToast().empty());

    typeInto(finder->getField("editIP"), "127.0.0.1");
    typeInto(finder->getField("editPort"), std::to_string(archive.port()));
    typeInto(finder->getField("editPatient"), "ALPHA");
    clickNode(finder->getLayoutRoot()->getChildByNameDeep("btnSearch"));
    EXPECT_EQ(NSUI::UILocalConfig::getLocalString("dicomServerPort", ""), std::to_string(archive.port()));
    NSUI::NSListView* list = finder->getList();
    ASSERT_TRUE(frameUntil([&] { return list->getRowCount() == 2; }, 30.0));
    frame(0.5f);
    EXPECT_EQ(list->getRowCount(), 2);  // one study, one series: the other patient does not match
    auto* study = static_cast<dcmFinder::listObject*>(list->getRowData()[0]);
    auto* series = static_cast<dcmFinder::listObject*>(list->getRowData()[1]);
    EXPECT_TRUE(study->isStudy);
    EXPECT_EQ(study->patientName, "ALPHA^QUERY");
    EXPECT_FALSE(series->isStudy);
    EXPECT_EQ(series->patientName, "ALPHA^QUERY");
    EXPECT_FALSE(help->isVisible());

    // Download: the button blinks; a second press starts nothing more; the series reaches the
    // library and the patient list.
    NSUI::NSTableViewCell* cell = list->cellAtIndex(1);
    ASSERT_NE(cell, nullptr);
    auto* download = dynamic_cast<ui::Button*>(cell->getChildByTag(dcmFinder::kSeriesLayoutTag)->getChildByName("btnDownload"));
    ASSERT_NE(download, nullptr);
    clickNode(download);
    EXPECT_TRUE(series->downloading);
    EXPECT_GT(download->getNumberOfRunningActions(), 0);
    clickNode(download);
    EXPECT_LE(dataService::getInstance()->getClient.getListSize(), 1);
    ASSERT_TRUE(frameUntil([&] { return rowCount(home()) == 1 && importIdle(home()) && rowAt(home(), 0)->imageCount == 3; },
                           60.0));
    EXPECT_EQ(rowAt(home(), 0)->name, "ALPHA^QUERY");
    ASSERT_TRUE(frameUntil([&] { return series->finished; }, 10.0));
    EXPECT_EQ(download->getNumberOfRunningActions(), 0);
}

// A retrieval cut off part-way lists nothing and leaves its arrow still and red; a click retrieves
// the series again, which reaches the library whole and once, leaving nothing in the retrieval
// folder. A search waiting on a server that accepts and answers nothing shows that it runs, and a
// search to another server is answered at once.
TEST_F(LibraryAppTest, QueryFollowsAFailedRetrievalAndASilentServer)
{
    writeStudy(scratch + "cut/", "CUT^SHORT", "CS-1", 10);
    const std::vector<std::string> files = pathsBelow(scratch + "cut/");
    qvtest::TempDir archiveDir;
    qvtest::ArchivePeer archive(archiveDir, files);
    qvtest::RetrievePeer peer(files);
    peer.cutAfter(4);
    launch(false);
    NSUI::NSResponseWindow* window = dcmFinder::createWindow();
    home()->addChild(window);
    dcmFinder* finder = dcmFinder::fromWindow(window);
    Node* layout = finder->getLayoutRoot();
    auto search = [&](int port) {
        typeInto(finder->getField("editIP"), "127.0.0.1");
        typeInto(finder->getField("editPort"), std::to_string(port));
        clickNode(layout->getChildByNameDeep("btnSearch"));
    };
    qvtest::SilentListener silent;
    // Waiting behind the silent server, the archive's answer could come only once the program has
    // given up the association it requested (10 s); given up at once, it comes before. The screen
    // says the search has ended only two of its checks (30 frames) after the last answer: on a
    // loaded machine that is seconds, so it is waited for apart.
    const auto silentTimeout = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    search(silent.port());
    ASSERT_TRUE(silent.acceptOne(5000));
    frame(0.5f);
    EXPECT_TRUE(layout->getChildByNameDeep("searching")->isVisible());
    EXPECT_FALSE(layout->getChildByNameDeep("help")->isVisible());
    search(archive.port());
    const double beforeTimeout = std::chrono::duration<double>(silentTimeout - std::chrono::steady_clock::now()).count();
    ASSERT_TRUE(frameUntil([&] { return finder->getList()->getRowCount() == 2; }, beforeTimeout));
    ASSERT_TRUE(frameUntil([&] { return !finder->isSearching(); }));
    EXPECT_FALSE(layout->getChildByNameDeep("searching")->isVisible());

    // The series is retrieved from the peer that stops mid-way.
    typeInto(finder->getField("editPort"), std::to_string(peer.port()));
    auto* row = static_cast<dcmFinder::listObject*>(finder->getList()->getRowData()[1]);
    auto* download = dynamic_cast<ui::Button*>(
        finder->getList()->cellAtIndex(1)->getChildByTag(dcmFinder::kSeriesLayoutTag)->getChildByName("btnDownload"));
    clickNode(download);
    ASSERT_TRUE(frameUntil([&] { return row->failed; }, 30.0));
    EXPECT_EQ(download->getNumberOfRunningActions(), 0);
    EXPECT_EQ(download->getColor(), Color3B(229, 72, 77));
    frame(0.5f);
    EXPECT_EQ(rowCount(home()), 0) << "a part of a series is never listed";
    peer.cutAfter(-1);
    clickNode(download);
    ASSERT_TRUE(frameUntil(
        [&] { return rowCount(home()) == 1 && importIdle(home()) && rowAt(home(), 0)->imageCount == 10; }, 60.0));
    frame(0.5f);
    EXPECT_EQ(rowAt(home(), 0)->imageCount, 10) << "every image once";
    EXPECT_EQ(download->getColor(), Color3B::WHITE);
    EXPECT_TRUE(dataService::getInstance()->failedRetrieves.empty());
    EXPECT_TRUE(filesBelow(dcmFinder::downloadFolder()).empty());
}

TEST_F(LibraryAppTest, ARetrievalCutShortOutlivesARestartInTransfersUntilDeleted)
{
    writeStudy(scratch + "cut/", "CUT^SHORT", "CS-1", 10);
    qvtest::RetrievePeer peer(pathsBelow(scratch + "cut/"));
    peer.cutAfter(4);
    DcmFileFormat file;
    ASSERT_TRUE(file.loadFile(pathsBelow(scratch + "cut/")[0].c_str()).good());
    OFString study, series;
    file.getDataset()->findAndGetOFString(DCM_StudyInstanceUID, study);
    file.getDataset()->findAndGetOFString(DCM_SeriesInstanceUID, series);
    launch(false);
    dataService::getInstance()->getClient.getSeriesByUID("127.0.0.1", std::to_string(peer.port()).c_str(), "", "",
                                                         study.c_str(), series.c_str(),
                                                         dcmFinder::downloadFolder().c_str(), "CUT^SHORT", "1", "CT");
    ASSERT_TRUE(frameUntil([&] { return !dataService::getInstance()->failedRetrieves.empty(); }, 30.0));
    quit();

    // After the restart Transfers lists it, with what arrived and why the rest did not.
    launch(false);
    ASSERT_TRUE(frameUntil([&] { return dataService::getInstance()->failedRetrieves.size() == 1; }, 10.0));
    NSUI::NSResponseWindow* window = dcmSend::makeWindow("", "");
    home()->addChild(window);
    dcmSend* screen = dcmSend::fromWindow(window);
    NSUI::NSListView* tasks = screen->getTaskList();
    ASSERT_EQ(tasks->getRowCount(), 1);
    EXPECT_EQ(static_cast<dcmGetingObject*>(tasks->getRowData()[0])->seriesUID, series.c_str());
    frame();
    NSUI::NSTableViewCell* cell = tasks->cellAtIndex(0);
    const std::string path = static_cast<ui::Text*>(cell->getChildByNameDeep("path"))->getString();
    EXPECT_EQ(path.rfind("1(CT)  4 of 10 images arrived: ", 0), 0u) << path;
    EXPECT_TRUE(cell->getChildByNameDeep("dcmNodeSend_retry")->isVisible());

    // Opened, the viewer shows the four images from the retrieval's folder and says they are not
    // the whole series; nothing goes into the library, and no cache of the folder outlives it.
    const std::string folder = redIRI::dcmGet::seriesFolderOf(dcmFinder::downloadFolder().c_str(), series.c_str());
    const auto cachedFiles = [&] {
        const std::string key = isImageSDK::isDcmScan::getCacheKey(folder);
        int count = 0;
        for (const std::string& path : filesBelow(isImageSDK::isDcmScan::getCacheFolder()))
            count += path.rfind(key + ".", 0) == 0;
        return count;
    };
    Scene* transfers = Director::getInstance()->getRunningScene();
    ui::Button* open = ui::Button::create();
    open->setName(dcmSend::kOpenName);
    open->setUserObject(cell);
    screen->onButton(open);
    imageViewerPC* viewer = nullptr;
    ASSERT_TRUE(frameUntil([&] {
        viewer = imageViewerPC::getScreen(Director::getInstance()->getRunningScene());
        return viewer && viewer->getViewer();
    }, 30.0));
    EXPECT_EQ(viewer->getTotalSlices(), 4u);
    EXPECT_EQ(static_cast<ui::Text*>(viewer->getChildByNameDeep("viewerTitle"))->getString(),
              "Incomplete series: 4 of 10 images");
    EXPECT_EQ(takeToast(), "Incomplete series: 4 of 10 images");
    EXPECT_GT(cachedFiles(), 0);
    Director::getInstance()->popScene();
    ASSERT_TRUE(frameUntil([&] { return Director::getInstance()->getRunningScene() == transfers && cachedFiles() == 0; }));
    EXPECT_EQ(rowCount(home()), 0);
    EXPECT_EQ(filesBelow(folder).size(), 5u);  // the four images and the retrieval's record

    // Deleted, it leaves nothing behind (its folder goes on the retrievals' thread).
    ui::Button* del = ui::Button::create();
    del->setName("del");
    del->setUserObject(cell);
    screen->onButton(del);
    EXPECT_EQ(tasks->getRowCount(), 0);
    EXPECT_TRUE(frameUntil([&] { return filesBelow(dcmFinder::downloadFolder()).empty(); }, 10.0));
}

TEST_F(LibraryAppTest, QueryCellsShowTheirOwnRows)
{
    launch(false);
    NSUI::NSResponseWindow* window = dcmFinder::createWindow();
    home()->addChild(window);
    dcmFinder* finder = dcmFinder::fromWindow(window);
    ASSERT_NE(finder, nullptr);
    NSUI::NSListView* list = finder->getList();
    auto addSeries = [&](const std::string& uid) {
        dcmFinder::listObject* row = dcmFinder::listObject::create();
        row->seriesUID = uid;
        list->insertRow(-1, row);
        return row;
    };
    dcmFinder::listObject* busy = addSeries("9.1");
    addSeries("9.2");
    frame();
    busy->downloading = true;
    busy->acknowledged = true;
    list->updateCellAtIndex(0);
    NSUI::NSTableViewCell* cell = list->cellAtIndex(0);
    ASSERT_NE(cell, nullptr);
    auto* button = dynamic_cast<ui::Button*>(cell->getChildByTag(dcmFinder::kSeriesLayoutTag)->getChildByName("btnDownload"));
    ASSERT_NE(button, nullptr);
    EXPECT_GT(button->getNumberOfRunningActions(), 0);
    EXPECT_EQ(button->getColor(), Color3B::RED);
    // The downloading row goes; its cell now shows the other series, still and white.
    list->removeRowAtIndex(0);
    frame();
    NSUI::NSTableViewCell* reused = list->cellAtIndex(0);
    ASSERT_NE(reused, nullptr);
    auto* shown = dynamic_cast<ui::Button*>(reused->getChildByTag(dcmFinder::kSeriesLayoutTag)->getChildByName("btnDownload"));
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->getNumberOfRunningActions(), 0);
    EXPECT_EQ(shown->getColor(), Color3B::WHITE);
    EXPECT_EQ(shown->getOpacity(), 255);

    // Patients whose names and IDs differ late, as a peer answers them: every ID reads whole, a
    // name reads whole where it fits before the next column and is cut with an ellipsis only where
    // it does not, and the ID's line (a very long ID drawn smaller) stays clear of the next column.
    // A name with line breaks and control characters is one clean line. An empty shown name stands
    // for "cut".
    list->removeRowAtIndex(0);
    const std::string tooLong = "Wolfeschlegelsteinhausenbergerdorff^Hubert Blaine Maximilian";
    const std::vector<std::array<std::string, 3>> patients = {
        {"EVIL^00000000", "E0000000", "EVIL^00000000"},
        {"EVIL^00000009", "E0000009", "EVIL^00000009"},
        {"dbic^test", "dbic-test1", "dbic^test"},
        {"LONG", std::string(64, '7'), "LONG"},
        {"Aaaaaaaaaa^Bbbbbbbbbbb", "A-1", "Aaaaaaaaaa^Bbbbbbbbbbb"},
        {"Aaaaaaaaaa^Bbbbbbbbbb", "A-2", "Aaaaaaaaaa^Bbbbbbbbbb"},
        {"Abcdefghijklmnopq^Rstuvwx", "A-3", "Abcdefghijklmnopq^Rstuvwx"},
        {"ONE\nTWO\r\n\x1b[2J\x07^\x7f\u0085", "U-1", "ONE_TWO___[2J_^__"},
        {"EVIL\u202E^NAME\u200B", "R-1", "EVIL^NAME"},  // neither reversed nor hidden
        {tooLong, "W-1", ""}};
    for (const auto& p : patients) {
        dcmFindStudyRecord record;
        std::tie(record.patientName, record.patientID, record.sex, record.birthDate, record.dateTime) =
            std::tie(p[0], p[1], "M", "19700101", "20240105");
        finder->onStudyFound(&record);
    }
    frame(2);
    const float lineHeight = list->cellAtIndex(0)->getChildByTag(dcmFinder::kStudyLayoutTag)->getChildByName("name")->getContentSize().height;
    for (size_t k = 0; k < patients.size(); ++k) {
        Node* layout = list->cellAtIndex(ssize_t(k))->getChildByTag(dcmFinder::kStudyLayoutTag);
        auto text = [&](const char* child) { return static_cast<ui::Text*>(layout->getChildByName(child)); };
        EXPECT_EQ(text("id")->getString(), patients[k][1]);
        const std::string name = text("name")->getString();
        if (patients[k][2].empty()) {
            const std::string ellipsis = "\u2026";
            ASSERT_GT(name.size(), ellipsis.size());
            EXPECT_EQ(name.substr(name.size() - ellipsis.size()), ellipsis);
            EXPECT_EQ(tooLong.rfind(name.substr(0, name.size() - ellipsis.size()), 0), 0u) << name;
            EXPECT_GT(name.size(), 20u) << "the room is used";
        } else {
            EXPECT_EQ(name, patients[k][2]);
        }
        EXPECT_LT(text("name")->getBoundingBox().getMaxX(), text("studydate")->getBoundingBox().getMinX()) << name;
        EXPECT_EQ(text("name")->getContentSize().height, lineHeight) << name;
        const Rect line = text("birthday")->getBoundingBox();
        EXPECT_LT(line.getMaxX(), text("studyid")->getBoundingBox().getMinX()) << patients[k][1];
        EXPECT_GT(line.getMinX(), text("id")->getBoundingBox().getMaxX()) << patients[k][1];
    }

    // Descriptions and institutions keep their columns and use the room up to the next text of
    // their line or the row's end: a long one reads whole, one longer than the row is cut there.
    const std::string description = "Abdomen and pelvis with contrast, follow-up of the left kidney";
    const std::string institution = "Quorvane Phantom Laboratory for Imaging Sciences";
    const std::string endless(300, 'w');
    while (list->getRowCount() > 0)
        list->removeRowAtIndex(0);
    for (const std::string* desc : {&description, &endless}) {
        dcmFinder::listObject* row = dcmFinder::listObject::create();
        row->isStudy = true;
        std::tie(row->patientName, row->studyID, row->studyDate, row->studyDescription, row->institution) =
            std::tie("LONG^DESCRIPTION", "S-7", "20240105", *desc, institution);
        list->insertRow(-1, row);
    }
    dcmFinder::listObject* series = dcmFinder::listObject::create();
    series->seriesDescription = description;
    list->insertRow(-1, series);
    frame(2);
    for (ssize_t k = 0; k < 3; ++k) {
        const bool study = k < 2;
        Node* layout = list->cellAtIndex(k)->getChildByTag(study ? dcmFinder::kStudyLayoutTag : dcmFinder::kSeriesLayoutTag);
        auto text = [&](const char* child) { return static_cast<ui::Text*>(layout->getChildByName(child)); };
        const float end = study ? layout->getContentSize().width : layout->getChildByName("btnDownload")->getBoundingBox().getMinX();
        EXPECT_LE(text("desc")->getBoundingBox().getMaxX(), end) << k;
        if (k == 1) {
            EXPECT_EQ(text("desc")->getString().rfind("www", 0), 0u);
            EXPECT_EQ(text("desc")->getString().substr(text("desc")->getString().size() - 3), "\u2026");
            EXPECT_GT(text("desc")->getBoundingBox().getMaxX(), end - 60) << "the room is used";
        } else {
            EXPECT_EQ(text("desc")->getString(), description) << k;
        }
        if (study) {
            EXPECT_EQ(text("hospital")->getString(), institution);
            EXPECT_EQ(text("studyid")->getString(), "S-7");
            // Both texts of the column start where it starts.
            EXPECT_NEAR(text("desc")->getBoundingBox().getMinX(), text("hospital")->getBoundingBox().getMinX(), 1.0f);
        }
    }
}

TEST_F(LibraryAppTest, AccountScreensTalkToTheServerAndShowItsAnswers)
{
    qvtest::LoopbackServer server;
    std::string loginReply = safeBase64EncodeString(R"({"Status":"0","userid":"42","nickname":"reader"})");
    server.handle("/lg/lg.php", [&loginReply](const httplib::Request&, httplib::Response& res) {
        res.set_content(loginReply, "text/plain");
    });
    server.put("/lg/sdvr.php", safeBase64EncodeString(R"({"Status":"0","code":"7788"})"));
    server.put("/lg/rg.php", "%%% not base64 %%%");
    launch(false);
    NSUI::NSDataManager::setServerBase(server.url(""));
    int loginChanges = 0;
    Node* observer = Node::create();
    observer->retain();
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        observer, nullptr, [&loginChanges](Ref*, unsigned int, NSUI::NSNotificationData* d) { loginChanges = d->intValue; },
        NSUI::NOTIFY_ACCOUNT_LOGIN_CHANGED);

    clickNode(home()->getChildByNameDeep("logo"));
    frame();
    auto* account = dynamic_cast<login*>(home()->getChildByNameDeep(login::kLayerName));
    ASSERT_NE(account, nullptr);
    EXPECT_EQ(account->getPage(), login::PAGE_LOGIN);
    Node* button = account->getLayoutRoot()->getChildByName("login");
    ASSERT_NE(button, nullptr);

    // An "@" without a valid address: refused before sending.
    typeInto(account->getField("email"), "reader@");
    typeInto(account->getField("password"), "secret");
    clickNode(button);
    EXPECT_EQ(takeToast(), languageText("login_check_mail"));
    EXPECT_EQ(server.count("/lg/lg.php"), 0);

    auto nextToast = [&]() {
        std::string shown;
        frameUntil([&] { return !(shown = takeToast()).empty(); }, 10.0);
        return shown;
    };

    // A reply without a user id is a failed login and changes no setting.
    loginReply = safeBase64EncodeString(R"({"Status":"0","userid":""})");
    typeInto(account->getField("email"), "  reader ");
    clickNode(button);
    EXPECT_EQ(nextToast(), languageText("login_login_fail"));
    EXPECT_EQ(NSUI::UILocalConfig::getLocalString(login::kLoginedKey, "0"), "0");
    const std::string body = safeBase64DecodeString(server.lastBody("/lg/lg.php"));
    EXPECT_NE(body.find(R"("ismail":"0")"), std::string::npos) << body;
    EXPECT_NE(body.find(R"("nickname":"reader")"), std::string::npos) << body;
    EXPECT_EQ(NSUI::UILocalConfig::getLocalString(login::kLoginStringKey, ""), "reader");

    // Registering with an e-mail: a code typed before the server sent one never matches; the
    // code the server sent does, and a garbled reply is a failed exchange.
    account->showPage(login::PAGE_REGISTER);
    typeInto(account->getField("name"), "reader");
    typeInto(account->getField("password"), "secret");
    typeInto(account->getField("email"), "reader@example.org");
    typeInto(account->getField("confirm"), "7788");
    clickNode(button);
    EXPECT_EQ(takeToast(), languageText("login_vcode_wrong"));
    EXPECT_EQ(server.count("/lg/rg.php"), 0);
    Node* getCode = account->getLayoutRoot()->getChildByName("getCode");
    ASSERT_NE(getCode, nullptr);
    clickNode(getCode);
    EXPECT_EQ(nextToast(), languageText("login_setmail_getcode"));
    EXPECT_EQ(account->getExpectedCode(), "7788");
    typeInto(account->getField("name"), "two words");
    clickNode(button);
    EXPECT_EQ(takeToast(), "The character in name must be A~Z or a~z or 0~9 or '.-_'");
    typeInto(account->getField("name"), "reader");
    clickNode(button);
    EXPECT_EQ(nextToast(), languageText("net_check_status"));
    EXPECT_EQ(server.count("/lg/rg.php"), 1);
    EXPECT_EQ(NSUI::NSActivity::current(), nullptr);  // the busy overlay is gone

    // Log in for real: the settings and 2034 follow and the screen closes.
    account->showPage(login::PAGE_LOGIN);
    loginReply = safeBase64EncodeString(R"({"Status":"0","userid":"42","nickname":"reader"})");
    typeInto(account->getField("email"), "reader@example.org");
    typeInto(account->getField("password"), "secret");
    clickNode(button);
    ASSERT_TRUE(frameUntil([&] { return home()->getChildByNameDeep(login::kLayerName) == nullptr; }, 10.0));
    std::string logined, userId;
    login::getLoginState(logined, userId);
    EXPECT_EQ(logined, "1");
    EXPECT_EQ(userId, "42");
    ASSERT_TRUE(frameUntil([&] { return loginChanges == 1; }, 5.0));
    const std::string mailBody = safeBase64DecodeString(server.lastBody("/lg/lg.php"));
    EXPECT_NE(mailBody.find(R"("ismail":"1")"), std::string::npos) << mailBody;

    // A dead server: the network message. Then log out.
    NSUI::NSDataManager::setServerBase("http://127.0.0.1:" + std::to_string(qvtest::freePort()));
    login* again = login::show(home());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->getPage(), login::PAGE_ACCOUNT);
    again->showPage(login::PAGE_SET_MAIL);
    again->showPage(login::PAGE_ACCOUNT);
    again->showPage(login::PAGE_LOGIN);
    typeInto(again->getField("email"), "reader");
    typeInto(again->getField("password"), "secret");
    clickNode(again->getLayoutRoot()->getChildByName("login"));
    EXPECT_EQ(nextToast(), languageText("net_check_status"));
    login::logout();
    login::getLoginState(logined, userId);
    EXPECT_EQ(logined, "0");
    ASSERT_TRUE(frameUntil([&] { return loginChanges == -1; }, 5.0));
    NSUI::NSNotificationCenter::getInstance()->removeObserver(observer);
    observer->release();
    NSUI::NSDataManager::setServerBase("127.0.0.1");
}

TEST_F(LibraryAppTest, AdvicePagePreparesItsTextAndForwardsTheUpdateLink)
{
    launch(false);
    Scene* scene = advice::createScene();
    ASSERT_NE(scene, nullptr);
    Director::getInstance()->pushScene(scene);
    frame();
    advice* page = nullptr;
    for (Node* layout : scene->getChildren())
        for (Node* child : layout->getChildren())
            if (!page)
                page = dynamic_cast<advice*>(child);
    ASSERT_NE(page, nullptr);
    frame();
    const std::string folder = FileUtils::getInstance()->getWritablePath() + "qv/tmp/res/js";
    EXPECT_EQ(page->getPageText().find("JS_URL"), std::string::npos);
    EXPECT_NE(page->getPageText().find(folder + "/quorvane.js"), std::string::npos);

    std::string posted = "-";
    Node* observer = Node::create();
    observer->retain();
    NSUI::NSNotificationCenter::getInstance()->addObserver(
        observer, nullptr, [&posted](Ref*, unsigned int, NSUI::NSNotificationData* d) { posted = d->text; },
        NSUI::NOTIFY_ADVICE_UPDATE_APK);
    EXPECT_FALSE(page->onURLIntercepted("http://127.0.0.1/other.html"));
    EXPECT_NE(page->getParent(), nullptr);
    page->retain();
    EXPECT_FALSE(page->onURLIntercepted("http://127.0.0.1/updateapk.html/" +
                                        safeBase64EncodeString("http://127.0.0.1/app.tar.gz")));
    EXPECT_EQ(page->getParent(), nullptr);
    page->release();
    ASSERT_TRUE(frameUntil([&] { return posted != "-"; }, 5.0));
    EXPECT_EQ(posted, "http://127.0.0.1/app.tar.gz");
    NSUI::NSNotificationCenter::getInstance()->removeObserver(observer);
    observer->release();
    Director::getInstance()->popScene();
    frame();
}

// The login page's fields take a click anywhere on their white row (their own touch rectangle,
// wider than the text), and both the placeholder and typed text keep their spaces on screen.
TEST_F(LibraryAppTest, LoginFieldsTakeClicksOnTheirRowsAndShowSpaces)
{
    launch(false);
    clickNode(home()->getChildByNameDeep("logo"));
    frame();
    auto* account = dynamic_cast<login*>(home()->getChildByNameDeep(login::kLayerName));
    ASSERT_NE(account, nullptr);
    NSUI::NSTextField* email = account->getField("email");
    NSUI::NSTextField* password = account->getField("password");
    ASSERT_TRUE(email && password);
    auto drawnWidth = [](NSUI::NSTextField* field) {
        return field->getCursorPosition(int(field->getElements().size())).x;
    };
    auto labelWidth = [](const std::string& s, int size) {
        return Label::createWithSystemFont(s, "", float(size))->getContentSize().width;
    };
    ASSERT_TRUE(email->isPlaceHolderShown());
    EXPECT_EQ(email->getPlaceHolder(), "Nickname or Email");
    EXPECT_NEAR(drawnWidth(email), labelWidth("Nickname or Email", email->placeholderFontSize), 0.01f);

    // Left of the text, on the row's margin.
    const Vec2 margin = email->convertToWorldSpace(Vec2(-10, email->getContentSize().height / 2));
    InputSimulator::click(margin.x, margin.y);
    frame();
    InputSimulator::text("Ada Byron");
    const Vec2 passwordRow = password->convertToWorldSpace(Vec2(-10, 2));
    InputSimulator::click(passwordRow.x, passwordRow.y);
    frame();
    InputSimulator::text("a b");
    EXPECT_EQ(email->getString(), "Ada Byron");
    EXPECT_NEAR(drawnWidth(email), labelWidth("Ada Byron", email->fontSize), 0.01f);
    EXPECT_EQ(password->getString(), "a b");
    EXPECT_NEAR(drawnWidth(password), labelWidth("***", password->fontSize), 0.01f);
}
