// The network service against real DICOM peers on 127.0.0.1: storescp receives what it sends,
// dcmqrscp (over generated studies) answers its finds and serves its retrievals, and closed or
// vanishing peers fail the task.
#include "support/ServiceFixture.h"

#include "../../platform/dicom/tests/support/DicomPeers.h"
#include "../../platform/dicom/tests/support/DicomTestData.h"
#include "../../platform/dicom/tests/support/FindFloodPeer.h"
#include "dcmFindLimits.h"
#include "DicomSeriesWriter.h"
#include "neighborRecord.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcostrmb.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace {

// The library's messages go to the service, after an optional test hook (on the library thread).
std::function<void(int, const char*)> gBeforeService;
void forwardToService(int code, const char* text)
{
    if (gBeforeService) gBeforeService(code, text);
    dataService::onSdkMessage(code, text);
}

// A data set written in Explicit VR Little Endian, keyed by its SOP Instance UID: two files hold the
// same data set when these bytes are equal, whatever transfer syntax each was stored in.
std::map<std::string, std::string> dataSets(const std::vector<std::string>& files)
{
    std::map<std::string, std::string> out;
    for (const std::string& file : files) {
        DcmFileFormat ff;
        if (ff.loadFile(file.c_str()).bad()) continue;
        DcmDataset* ds = ff.getDataset();
        ds->loadAllDataIntoMemory();
        ds->chooseRepresentation(EXS_LittleEndianExplicit, nullptr);
        OFString uid;
        ds->findAndGetOFString(DCM_SOPInstanceUID, uid);
        const Uint32 length = ds->calcElementLength(EXS_LittleEndianExplicit, EET_ExplicitLength);
        std::string bytes(length + 1024, '\0');
        DcmOutputBufferStream stream(&bytes[0], bytes.size());
        ds->transferInit();
        ds->write(stream, EXS_LittleEndianExplicit, EET_ExplicitLength, nullptr);
        ds->transferEnd();
        void* buffer = nullptr;
        offile_off_t written = 0;
        stream.flushBuffer(buffer, written);
        out[uid.c_str()] = bytes.substr(0, static_cast<size_t>(written));
    }
    return out;
}

std::vector<std::string> filesBelow(const std::string& folder)
{
    std::vector<std::string> out;
    if (!fs::exists(folder)) return out;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) out.push_back(e.path().string());
    return out;
}

class DataServiceNetworkTest : public ServiceFixture {
protected:
    void SetUp() override
    {
        ServiceFixture::SetUp();
        // The tests drive the pump and the tick themselves.
        cocos2d::Director::getInstance()->getScheduler()->unschedule("_dataServiceDataManager", service);
        redIRI::setMsgCallback(&forwardToService);
        log.listen({NSUI::NOTIFY_NET_SEND_PROGRESS, NSUI::NOTIFY_NET_FIND_STUDY, NSUI::NOTIFY_NET_FIND_SERIES,
                    NSUI::NOTIFY_OPEN_FILE, NSUI::NOTIFY_NET_RETRIEVE_STATE});
    }
    void TearDown() override
    {
        dataService::destroyInstance();  // ends the library's work before the hook goes
        redIRI::setMsgCallback(nullptr);
        gBeforeService = nullptr;
        ServiceFixture::TearDown();
    }
    dcmSendingObject* sendTask(int port, const std::string& path)
    {
        dcmSendingObject* task = dcmSendingObject::create("127.0.0.1", std::to_string(port), "store", path);
        service->addSendTask(task);
        return task;
    }

    qvtest::TempDir dir;
    NotificationLog log;
};

}  // namespace

TEST_F(DataServiceNetworkTest, SendsAFolderWholeAndByteEqual)
{
    qvtest::StorePeer peer(dir);
    ASSERT_TRUE(peer.ready());
    const std::string folder = dir.file("patient/series");
    const std::vector<std::string> sent = qvtest::writeSeries(folder, qvtest::SeriesSpec(), 6);
    std::ofstream(folder + "/thrumb0", std::ios::binary) << "\x89PNG\r\n\x1a\n thumbnail";

    dcmSendingObject* task = sendTask(peer.port(), dir.file("patient"));  // a patient folder: no "/"
    EXPECT_TRUE(service->sender.isSending()) << "the pump starts a new task at once";
    ASSERT_TRUE(waitFor([&] { return task->state == DCM_TASK_DONE || task->state == DCM_TASK_FAILED; }));
    EXPECT_EQ(task->state, DCM_TASK_DONE);
    EXPECT_EQ(task->progress, 100.0f);
    float last = 0;
    for (const NotificationLog::Entry& e : log.of(NSUI::NOTIFY_NET_SEND_PROGRESS)) {
        EXPECT_EQ(e.uintValue, task->getRefID());
        EXPECT_GT(e.floatValue, last);
        last = e.floatValue;
    }
    EXPECT_EQ(service->echoExtras, std::vector<std::string>{"store,127.0.0.1," + std::to_string(peer.port())});

    const std::map<std::string, std::string> before = dataSets(sent);
    ASSERT_TRUE(waitFor([&] { return peer.files().size() == sent.size(); }, 5000));
    const std::map<std::string, std::string> after = dataSets(peer.files());
    ASSERT_EQ(before.size(), sent.size());
    EXPECT_TRUE(before == after) << "every file arrives with its data set unchanged";
    EXPECT_TRUE(toasts.empty());
}

TEST_F(DataServiceNetworkTest, AClosedPortFailsPromptlyAndTheTaskIsNotStartedAgain)
{
    const int closed = qvtest::freePort();
    const std::vector<std::string> sent = qvtest::writeSeries(dir.file("s"), qvtest::SeriesSpec(), 1);
    std::atomic<int> finals{0};
    gBeforeService = [&](int code, const char*) {
        if (code == 1 || code == 2) ++finals;
    };
    dcmSendingObject* task = sendTask(closed, sent[0]);
    // The library has reported the failure; its notification is not handled yet and the task is
    // still waiting. The pump must not start it a second time.
    const long long deadline = qvtest::nowMs() + 6000;
    while ((finals == 0 || service->sender.isSending()) && qvtest::nowMs() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(finals, 1);
    EXPECT_EQ(task->state, DCM_TASK_WAITING);
    service->pumpSendQueue();
    EXPECT_FALSE(service->sender.isSending());

    ASSERT_TRUE(waitFor([&] { return task->state == DCM_TASK_FAILED; }));
    EXPECT_EQ(toasts, std::vector<std::string>{"Please check the status of DICOM node|2"});
    for (int i = 0; i < 3; ++i) service->onTick(1.0f);
    step(5);
    EXPECT_EQ(finals, 1) << "a failed task stays failed";
    EXPECT_TRUE(service->echoExtras.empty());
}

TEST_F(DataServiceNetworkTest, APeerThatVanishesMidSendFailsTheTask)
{
    qvtest::StorePeer peer(dir);
    ASSERT_TRUE(peer.ready());
    const std::vector<std::string> sent = qvtest::writeSeries(dir.file("big"), qvtest::SeriesSpec(), 30);
    std::atomic<bool> killed{false};
    gBeforeService = [&](int code, const char*) {
        if (code == 0 && !killed.exchange(true)) peer.kill();  // after the first file
    };
    dcmSendingObject* task = sendTask(peer.port(), dir.file("big") + "/");
    ASSERT_TRUE(waitFor([&] { return task->state == DCM_TASK_DONE || task->state == DCM_TASK_FAILED; }, 60000));
    EXPECT_TRUE(killed);
    EXPECT_EQ(task->state, DCM_TASK_FAILED);
    EXPECT_LT(task->progress, 100.0f);
}

TEST_F(DataServiceNetworkTest, FindsAndRetrievesFromAnArchive)
{
    // Two series of one study; names with "," and "@" must keep the answers' field counts. (The
    // archive's index answers no institution, description or instance count.)
    qvgen::ImageSpec spec;
    spec.patientName = "O,BRIEN@HOME^ANN";
    spec.patientID = "P,77";
    spec.studyUID = "2.25.7777.1";
    spec.seriesUID = "2.25.7777.1.1";
    spec.seriesNumber = "2";
    spec.seriesDescription = "Axial, thin";
    fs::create_directories(dir.file("studies/a"));
    fs::create_directories(dir.file("studies/b"));
    ASSERT_TRUE(qvgen::writeStack(dir.file("studies/a"), spec, 4, 1.0));
    spec.seriesUID = "2.25.7777.1.2";
    spec.seriesNumber = "3";
    spec.modality = "MR";
    ASSERT_TRUE(qvgen::writeStack(dir.file("studies/b"), spec, 2, 1.0));
    qvtest::ArchivePeer archive(dir, filesBelow(dir.file("studies")));
    ASSERT_TRUE(archive.ready());
    const std::string port = std::to_string(archive.port());

    service->findClient.findPatientByName("127.0.0.1", port.c_str(), "", "", "*BRIEN*");
    ASSERT_TRUE(waitFor([&] { return log.of(NSUI::NOTIFY_NET_FIND_STUDY).size() == 1; }));
    const dcmFindStudyRecord study = log.of(NSUI::NOTIFY_NET_FIND_STUDY)[0].study;
    EXPECT_EQ(study.patientName, "O,BRIEN@HOME^ANN");
    EXPECT_EQ(study.patientID, "P,77");
    EXPECT_EQ(study.studyInstanceUID, "2.25.7777.1");

    service->findClient.findStudyByUID("127.0.0.1", port.c_str(), "", "", study.studyInstanceUID.c_str());
    ASSERT_TRUE(waitFor([&] { return log.of(NSUI::NOTIFY_NET_FIND_SERIES).size() == 2; }));
    std::map<std::string, dcmFindSeriesRecord> series;
    for (const NotificationLog::Entry& e : log.of(NSUI::NOTIFY_NET_FIND_SERIES))
        series[e.series.seriesNumber] = e.series;
    ASSERT_EQ(series.size(), 2u);
    EXPECT_EQ(series["2"].modality, "CT");
    EXPECT_EQ(series["2"].seriesInstanceUID, "2.25.7777.1.1");
    EXPECT_EQ(series["3"].modality, "MR");
    EXPECT_EQ(series["3"].studyInstanceUID, study.studyInstanceUID);

    const std::string saveFolder = dir.file("down") + "/";
    const dcmFindSeriesRecord& first = series["2"];
    service->getClient.getSeriesByUID("127.0.0.1", port.c_str(), "", "", first.studyInstanceUID.c_str(),
                                      first.seriesInstanceUID.c_str(), saveFolder.c_str(),
                                      study.patientName.c_str(), first.seriesNumber.c_str(), first.modality.c_str());
    // As the library screen does once it has listed the folder's images.
    ASSERT_TRUE(waitFor([&] { return log.of(NSUI::NOTIFY_OPEN_FILE).size() == 1; }, 30000));
    service->retrievalListed(log.of(NSUI::NOTIFY_OPEN_FILE)[0].text);
    ASSERT_TRUE(waitFor([&] { return !toasts.empty(); }, 30000));
    EXPECT_EQ(toasts.size(), 1u);
    EXPECT_EQ(toasts[0].substr(toasts[0].size() - 11), " is ready|2") << toasts[0];
    ASSERT_EQ(log.of(NSUI::NOTIFY_OPEN_FILE).size(), 1u);
    const std::string folder = log.of(NSUI::NOTIFY_OPEN_FILE)[0].text;
    EXPECT_EQ(folder.compare(0, saveFolder.size(), saveFolder), 0) << folder;
    EXPECT_EQ(filesBelow(folder).size(), 4u);
    EXPECT_TRUE(service->failedRetrieves.empty());
    service->getRetrieveList();
    EXPECT_TRUE(service->retrieveList.empty());

    // A retrieval from a closed port: listed as failed, with its ten fields.
    const std::string closed = std::to_string(qvtest::freePort());
    service->getClient.getSeriesByUID("127.0.0.1", closed.c_str(), "", "", first.studyInstanceUID.c_str(),
                                      "2.25.7777.1.2", saveFolder.c_str(), "O,BRIEN@HOME^ANN", "3",
                                      "MR");
    ASSERT_TRUE(waitFor([&] { return service->failedRetrieves.size() == 1; }, 15000));
    EXPECT_EQ(toasts.back(), "Failed to download O_BRIEN_HOME^ANN(3,MR)|5");
    service->getRetrieveList();
    ASSERT_EQ(service->retrieveList.size(), 1u);
    EXPECT_EQ(service->retrieveList[0]->state, DCM_TASK_FAILED);
    EXPECT_EQ(service->retrieveList[0]->port, closed);
    EXPECT_EQ(service->retrieveList[0]->seriesUID, "2.25.7777.1.2");
}

// A server answering one search without end: the list gets the search's bound of studies, no more,
// and the user is told the answer was cut and to narrow the search.
TEST_F(DataServiceNetworkTest, ASearchAnsweredWithoutEndIsCutAndSaysSo)
{
    redIRI::detail::setFindMatchLimit(25);
    qvtest::FindFloodPeer peer(1000000);
    ASSERT_TRUE(peer.ready());
    service->findClient.findPatientByName("127.0.0.1", std::to_string(peer.port()).c_str(), "", "", "*");
    const bool cut = waitFor(
        [&] {
            return !toasts.empty() && !service->findClient.isFinding() &&
                   log.of(NSUI::NOTIFY_NET_FIND_STUDY).size() >= 25 && peer.cancelled();
        },
        20000);
    redIRI::detail::setFindMatchLimit();
    ASSERT_TRUE(cut);
    EXPECT_EQ(log.of(NSUI::NOTIFY_NET_FIND_STUDY).size(), 25u);
    ASSERT_EQ(toasts.size(), 1u);
    EXPECT_EQ(toasts[0].rfind("The server found more than can be listed", 0), 0u) << toasts[0];
    EXPECT_LT(peer.sent(), 1000000u);
}

namespace {

// The network service with its storage server listening on a free port of this machine, the same
// port at each start of the library.
class OwnServerTest : public DataServiceNetworkTest {
protected:
    void configureDatabase(dicomDB* db) override { db->setServerPortForTest(port_); }
    std::vector<neighborRecord> peersAt(const std::string& port)
    {
        std::vector<neighborRecord> rows, out;
        service->getDatabase()->getNeighbors(rows);
        for (const neighborRecord& n : rows)
            if (n.port == port) out.push_back(n);
        return out;
    }
    const std::string port_ = std::to_string(qvtest::freePort());
};

}  // namespace

// With the loopback scope every address a sweep reaches is this machine, and its own storage
// server answers at all of them. It is never a peer: the sweep passes it over, its answers are not
// stored, a row an earlier version stored for it is neither echoed nor counted. A second copy of
// the program on this machine, on another port, is a peer.
TEST_F(OwnServerTest, TheProgramNeverListsItselfAsAPeer)
{
    dicomDB* db = service->getDatabase();
    ASSERT_TRUE(db->isServerRunning());
    const std::string own = db->serverPort();
    qvtest::StorePeer copy(dir);
    ASSERT_TRUE(copy.ready());
    const std::string copyPort = std::to_string(copy.port());

    // The full sweep at the port of this program's server: nothing of this machine is asked.
    service->sweepPort = own;
    echoes.clear();
    service->echoNodes(1);
    for (const Echo& e : echoes)
        for (const std::string& entry : e.entries) ADD_FAILURE() << "swept " << entry;

    // Answers from this machine at both ports, as a sweep over a second address of the machine
    // gets them: the copy is stored, this program is not.
    std::atomic<int> answers{0};
    gBeforeService = [&](int code, const char*) {
        if (code == 4) ++answers;
    };
    std::vector<std::string> entries = {"127.0.0.5," + own, "127.0.0.2," + copyPort};
    std::vector<char*> pointers;
    for (std::string& e : entries) pointers.push_back(&e[0]);
    service->echoClient.echo(pointers.data(), static_cast<int>(pointers.size()), true);
    ASSERT_TRUE(waitFor([&] { return answers == 2 && !peersAt(copyPort).empty(); }));
    step(3);
    EXPECT_TRUE(peersAt(own).empty());
    ASSERT_EQ(peersAt(copyPort).size(), 1u);
    EXPECT_EQ(peersAt(copyPort)[0].ip, "127.0.0.2");

    // A row an earlier version stored for this program: the known-node echo asks the copy only,
    // and the peer count counts the copy only.
    db->saveNeighbor(5, "self", "127.0.0.3", own, "dicom_127.0.0.3_" + own);
    echoes.clear();
    service->echoNodes(2);
    ASSERT_EQ(echoes.size(), 1u);
    ASSERT_EQ(echoes[0].entries.size(), 1u);
    EXPECT_NE(echoes[0].entries[0].find(",127.0.0.2," + copyPort), std::string::npos) << echoes[0].entries[0];
    NotificationLog counts;
    counts.listen({NSUI::NOTIFY_NET_PEER_COUNT});
    service->tickCounter = 1;
    service->onTick(1.0f);
    step();
    ASSERT_FALSE(counts.of(NSUI::NOTIFY_NET_PEER_COUNT).empty());
    EXPECT_EQ(counts.of(NSUI::NOTIFY_NET_PEER_COUNT).back().intValue, 1);
}

// Rows an earlier version stored for this program's own server (a sweep of the loopback range
// reached it at every 127.x address) are dropped when the library opens, so the send screen no
// longer lists them as offline nodes. A second copy of the program on this machine at another
// port, and other nodes at other ports, stay.
TEST_F(OwnServerTest, RowsStoredForTheProgramItselfAreDroppedWhenTheLibraryOpens)
{
    dicomDB* db = service->getDatabase();
    ASSERT_TRUE(db->isServerRunning());
    ASSERT_EQ(db->serverPort(), port_);
    const std::string copyPort = std::to_string(qvtest::freePort());
    db->saveNeighbor(5, "self1", "127.0.0.1", port_, "dicom_127.0.0.1_" + port_);
    db->saveNeighbor(5, "self2", "127.0.0.77", port_, "dicom_127.0.0.77_" + port_);
    db->saveNeighbor(5, "copy", "127.0.0.2", copyPort, "dicom_127.0.0.2_" + copyPort);
    // Another node on this machine's loopback range at yet another port (a workstation row): kept.
    // Other machines at our port are told apart by the address rule's own test; no row here names
    // an address off this machine, so nothing the restarted service does can reach one.
    const std::string otherPort = std::to_string(qvtest::freePort());
    db->saveNeighbor(2, "workstation", "127.0.0.3", otherPort, "pc-0001");

    dataService::destroyInstance();
    service = dataService::getInstance();
    service->discoveryStarter = [this] { ++discoveries; };
    ASSERT_NE(service->getDatabase(), nullptr);
    std::vector<neighborRecord> rows;
    service->getDatabase()->getNeighbors(rows);
    std::set<std::string> names;
    for (const neighborRecord& n : rows) names.insert(n.name);
    EXPECT_EQ(names, (std::set<std::string>{"copy", "workstation"}));
}

// A peer slow to answer the image-level query that comes before the transfer: the retrieval runs
// from its beginning (the library's code 9), not only from its first count, and its entry says so.
TEST_F(DataServiceNetworkTest, ARetrievalRunsWhileItsImageLevelQueryWaits)
{
    qvtest::SilentListener silent;
    const std::string port = std::to_string(silent.port());
    service->getClient.getSeriesByUID("127.0.0.1", port.c_str(), "", "", "2.25.7778", "2.25.7778.1",
                                      (dir.file("down") + "/").c_str(), "SLOW^PEER", "1", "CT");
    ASSERT_TRUE(silent.acceptOne(5000));
    ASSERT_TRUE(waitFor([&] { return !log.of(NSUI::NOTIFY_NET_RETRIEVE_STATE).empty(); }));
    service->getRetrieveList();
    ASSERT_EQ(service->retrieveList.size(), 1u);
    EXPECT_EQ(service->retrieveList[0]->state, DCM_TASK_RUNNING);
}

// The program closed while the import of a completed retrieval ran: at the next start its folder
// (the images not moved yet and the mark, no record) goes to the import again and is said to be
// ready once listed; a retrieval cut short stays failed, even with a mark its record came after.
TEST_F(DataServiceNetworkTest, ARetrievalWhoseImportAQuitCutIsImportedAtTheNextStart)
{
    cocos2d::FileUtils* files = cocos2d::FileUtils::getInstance();
    dataService::destroyInstance();
    files->setWritablePath(dir.file("data") + "/");
    std::shared_ptr<void> restore(nullptr, [files](void*) { files->setWritablePath(""); });
    const std::string down = dataService::downloadFolder();
    qvgen::ImageSpec spec;
    spec.patientName = "LATE^IMPORT";
    for (const char* series : {"2.25.7779.1", "2.25.7779.2"}) {
        spec.seriesUID = series;
        fs::create_directories(down + series + "/" + dataService::kImportingMark);
        ASSERT_TRUE(qvgen::writeStack(down + series, spec, 2, 1.0));
    }
    std::ofstream(down + "2.25.7779.2/.retrieval")
        << "127.0.0.1,104,,,2.25.7779,2.25.7779.2," << down << ",LATE^IMPORT,2,CT,1,5,the peer stopped answering";

    service = dataService::getInstance();
    service->toastObserver = [this](const std::string& text, float) { toasts.push_back(text); };
    ASSERT_TRUE(waitFor([&] { return !log.of(NSUI::NOTIFY_OPEN_FILE).empty() && !service->failedRetrieves.empty(); }));
    const std::string complete = down + "2.25.7779.1/";
    EXPECT_EQ(log.of(NSUI::NOTIFY_OPEN_FILE)[0].text, complete);
    ASSERT_EQ(service->failedRetrieves.size(), 1u);
    EXPECT_EQ(service->failedRetrieves[0]->seriesUID, "2.25.7779.2");
    // As the patient list does once the images it moved out are listed.
    for (const std::string& image : filesBelow(complete)) fs::remove(image);
    service->retrievalListed(complete);
    EXPECT_EQ(toasts, std::vector<std::string>{"LATE^IMPORT(2,CT) is ready"});
    EXPECT_FALSE(fs::exists(complete));
}
