// The network service without DICOM peers: the tick's rhythm, the echo lists, peer rows and the
// peer count, find answers, retrieval failures and lists, the records, and the library callbacks.
#include "support/ServiceFixture.h"

#include "NSTimeUtil.h"
#include "dcmDiskWrite.h"
#include "dcmGetLimits.h"
#include "NetworkUtils.h"
#include "NSNotificationData.h"
#include "dcmNodeObject.h"
#include "neighborRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

class DataServiceTest : public ServiceFixture {
protected:
    void SetUp() override
    {
        ServiceFixture::SetUp();
        log.listen({NSUI::NOTIFY_NET_PEER_COUNT, NSUI::NOTIFY_NET_FIND_STUDY, NSUI::NOTIFY_NET_FIND_SERIES,
                    NSUI::NOTIFY_OPEN_FILE, NSUI::NOTIFY_NET_FILE_RECEIVED_END, NSUI::NOTIFY_DB_PATIENT_STORED});
    }
    void TearDown() override
    {
        setLocalNetworkQuery({});
        ServiceFixture::TearDown();
    }
    void setWifi(const std::string& appid, const std::string& wifi)
    {
        ASSERT_TRUE(service->getDatabase()->connectionForTest().execute(
            "update neighbor set wifi='" + wifi + "' where appid='" + appid + "'"));
    }
    neighborRecord peer(const std::string& appid)
    {
        std::vector<neighborRecord> rows;
        service->getDatabase()->getNeighbors(rows);
        for (const neighborRecord& n : rows)
            if (n.appid == appid) return n;
        return {};
    }
    void post(unsigned int number, const std::string& text, uint32_t uintValue = 0)
    {
        NSUI::NSNotificationData* d = NSUI::NSNotificationData::create();
        d->text = text;
        d->uintValue = uintValue;
        NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, number, d, nullptr, true);
        step();
    }

    NotificationLog log;
};

std::string hourAgo()
{
    std::time_t t = std::time(nullptr) - 3600;
    std::tm local{};
    localtime_r(&t, &local);
    const int fields[6] = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
    return formatDateTime(fields);
}

}  // namespace

TEST_F(DataServiceTest, RecordsStartWithTheirDefaults)
{
    neighborRecord n;
    EXPECT_EQ(n.id, -1);
    EXPECT_EQ(n.device, 2);
    EXPECT_EQ(n.saveType, 3);
    EXPECT_EQ(n.port, "4587");
    dcmSendingObject task;
    EXPECT_EQ(task.type, 1);
    EXPECT_EQ(task.port, "4587");
    EXPECT_EQ(task.progress, 0.0f);
    EXPECT_EQ(task.state, DCM_TASK_WAITING);
    dcmNodeObject* node = dcmNodeObject::create(n);
    EXPECT_EQ(node->id, -1);
    EXPECT_EQ(node->port, "4587");
    EXPECT_EQ(dcmGetingObject::create({"a", "b"}, 0), nullptr);
}


// The tick: known nodes echoed every fifth second, the whole subnet at the 301st, discovery every
// fifth second, the peer count every second second, and the tick itself scheduled once a second.
TEST_F(DataServiceTest, TickRhythmOverAFullCycle)
{
    EXPECT_TRUE(cocos2d::Director::getInstance()->getScheduler()->isScheduled("_dataServiceDataManager", service));
    EXPECT_EQ(service->tickCounter, 1);  // the first tick came half a second after the start
    service->tickCounter = 0;
    step(2);
    log.of(NSUI::NOTIFY_NET_PEER_COUNT).clear();
    service->getDatabase()->saveNeighbor(5, "node-a", "127.0.0.9", "11112", "dicom_127.0.0.9_11112");
    for (int i = 0; i < 300; ++i) service->onTick(1.0f);
    EXPECT_EQ(service->tickCounter, 300);
    ASSERT_EQ(echoes.size(), 60u);
    for (const Echo& e : echoes) {
        EXPECT_FALSE(e.sweep);
        EXPECT_EQ(e.entries, std::vector<std::string>{"node-a,127.0.0.9,11112"});
    }
    EXPECT_EQ(discoveries, 60);

    service->onTick(1.0f);  // 301: the full sweep, which starts the cycle again
    EXPECT_EQ(service->tickCounter, 0);
    ASSERT_EQ(echoes.size(), 61u);
    EXPECT_TRUE(echoes.back().sweep);
    ASSERT_EQ(echoes.back().entries.size(), 253u);
    EXPECT_EQ(echoes.back().entries.front(), "127.0.0.2,4587");
    EXPECT_EQ(discoveries, 61);

    step(2);
    // Ticks 2, 4, ..., 300 and the 301st; node-a was heard just now.
    ASSERT_EQ(log.of(NSUI::NOTIFY_NET_PEER_COUNT).size(), 151u);
    EXPECT_EQ(log.of(NSUI::NOTIFY_NET_PEER_COUNT).back().intValue, 1);
}

TEST_F(DataServiceTest, PeerCountFollowsTheLastHeardTimeAndAFailedEchoChangesNothing)
{
    service->getDatabase()->saveNeighbor(5, "node-a", "127.0.0.9", "11112", "dicom_127.0.0.9_11112");
    service->getDatabase()->saveNeighbor(2, "ws", "127.0.0.20", "4587", "ws-1");
    service->onTick(1.0f);
    service->onTick(1.0f);
    step();
    EXPECT_EQ(log.of(NSUI::NOTIFY_NET_PEER_COUNT).back().intValue, 2);

    // node-a was last heard an hour ago and now fails to answer: it stays an hour old.
    const std::string old = hourAgo();
    setWifi("dicom_127.0.0.9_11112", old);
    post(NSUI::NOTIFY_NET_ECHO_RESULT,
         R"({"ok":"0","appid":"dicom_127.0.0.9_11112","name":"node-a","port":"11112","ip":"127.0.0.9"})");
    EXPECT_EQ(peer("dicom_127.0.0.9_11112").wifi, old);
    service->onTick(1.0f);
    service->onTick(1.0f);
    step();
    EXPECT_EQ(log.of(NSUI::NOTIFY_NET_PEER_COUNT).back().intValue, 1);

    // A successful answer makes (or refreshes) a DICOM node row with the answer's fields.
    post(NSUI::NOTIFY_NET_ECHO_RESULT,
         R"({"ok":"1","appid":"dicom_127.0.0.30_104","name":"PACS","port":"104","ip":"127.0.0.30"})");
    const neighborRecord pacs = peer("dicom_127.0.0.30_104");
    EXPECT_EQ(pacs.device, 5);
    EXPECT_EQ(pacs.name, "PACS");
    EXPECT_EQ(pacs.port, "104");

    // A workstation announced by discovery: its device kind, port 4587; a missing kind means 5.
    post(NSUI::NOTIFY_NET_PEER_FOUND, R"({"ip":"127.0.0.40","name":"mac","device":"4","appid":"m-1"})");
    post(NSUI::NOTIFY_NET_PEER_FOUND, R"({"ip":"127.0.0.41","name":"x","appid":"x-1"})");
    ASSERT_TRUE(waitFor([&] { return peer("x-1").device == 5; }));
    EXPECT_EQ(peer("m-1").device, 4);
    EXPECT_EQ(peer("m-1").port, "4587");
    EXPECT_EQ(peer("m-1").ip, "127.0.0.40");
    EXPECT_EQ(peer("x-1").device, 5);

    // Without any local address the count is -1 at every second tick, and no sweep finds a host.
    LocalNetworkQuery none;
    none.adapters = [] { return std::vector<LocalAdapterAddress>{}; };
    setLocalNetworkQuery(none);
    log.of(NSUI::NOTIFY_NET_PEER_COUNT).clear();
    echoes.clear();
    service->onTick(1.0f);
    service->onTick(1.0f);
    service->echoNodes(1);
    step();
    ASSERT_EQ(log.of(NSUI::NOTIFY_NET_PEER_COUNT).size(), 1u);
    EXPECT_EQ(log.of(NSUI::NOTIFY_NET_PEER_COUNT).back().intValue, -1);
    EXPECT_TRUE(echoes.empty());
}

TEST_F(DataServiceTest, APeerTableFloodedByDiscoveryKeepsThePeersHeardLast)
{
    for (int i = 0; i < 300; ++i) {
        NSUI::NSNotificationData* d = NSUI::NSNotificationData::create();
        d->text = "{\"ip\":\"127.0.1." + std::to_string(i % 250) + "\",\"name\":\"p\",\"device\":\"2\",\"appid\":\"p-" +
                  std::to_string(i) + "\"}";
        NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NSUI::NOTIFY_NET_PEER_FOUND, d, nullptr, true);
    }
    step();
    ASSERT_TRUE(waitFor([&] { return peer("p-299").appid == "p-299"; }));
    std::vector<neighborRecord> rows;
    service->getDatabase()->getNeighbors(rows);
    EXPECT_EQ(rows.size(), static_cast<size_t>(dicomDB::kMaxNeighbors));
    EXPECT_EQ(peer("p-0").appid, "");
}

TEST_F(DataServiceTest, KnownNodeEchoSkipsNodesWithTasksAndAddsNodesThatAcceptedASend)
{
    dicomDB* db = service->getDatabase();
    db->saveNeighbor(5, "node-a", "127.0.0.9", "11112", "a");
    db->saveNeighbor(5, "node-b", "127.0.0.10", "11113", "b");      // has a finished send task
    db->saveNeighbor(2, "workstation", "127.0.0.11", "4587", "c");  // not a DICOM node
    db->saveNeighbor(5, "far", "10.1.1.1", "104", "d");             // not on the local subnets
    db->saveNeighbor(5, std::string(150, 'n') + ",x", "127.0.0.13", "104", "e");

    // Tasks without a file are never started by the pump.
    dcmSendingObject* done = dcmSendingObject::create("127.0.0.10", "11113", "node-b", "");
    done->state = DCM_TASK_DONE;
    service->addSendTask(done);
    dcmSendingObject* accepted = dcmSendingObject::create("127.0.0.12", "104", "store", "");
    service->addSendTask(accepted);

    service->echoNodes(2);
    ASSERT_EQ(echoes.size(), 1u);
    ASSERT_EQ(echoes[0].entries.size(), 2u);
    EXPECT_EQ(echoes[0].entries[0], "node-a,127.0.0.9,11112");
    // A long name is cut so that the address and the port still fit the 100-byte buffer.
    const std::string& longEntry = echoes[0].entries[1];
    EXPECT_LE(longEntry.size(), 99u);
    EXPECT_EQ(longEntry.substr(longEntry.size() - 15), ",127.0.0.13,104");

    post(NSUI::NOTIFY_NET_SEND_PROGRESS, "", accepted->getRefID());
    EXPECT_EQ(accepted->state, DCM_TASK_RUNNING);
    post(NSUI::NOTIFY_NET_SEND_DONE, "", accepted->getRefID());
    EXPECT_EQ(accepted->state, DCM_TASK_DONE);
    EXPECT_EQ(accepted->progress, 100.0f);

    service->echoNodes(2);  // the node that accepted the send is echoed once
    ASSERT_EQ(echoes.size(), 2u);
    EXPECT_EQ(echoes[1].entries.back(), "store,127.0.0.12,104");
    service->echoNodes(2);
    ASSERT_EQ(echoes.size(), 3u);
    EXPECT_EQ(echoes[2].entries.size(), 2u);

    // A failed send is kept, marked failed, with its toast.
    dcmSendingObject* failed = dcmSendingObject::create("127.0.0.14", "104", "x", "");
    service->addSendTask(failed);
    post(NSUI::NOTIFY_NET_SEND_FAILED, "", failed->getRefID());
    EXPECT_EQ(failed->state, DCM_TASK_FAILED);
    EXPECT_EQ(toasts, std::vector<std::string>{"Please check the status of DICOM node|2"});
    EXPECT_EQ(service->sendTasks.size(), 3u);
}

// Find answers: values between the brackets after each key, "," and "@" inside values kept, the
// date and time joined, and records without their UIDs dropped.
TEST_F(DataServiceTest, FindAnswersBecomeStudyAndSeriesRecords)
{
    dataService::onSdkMessage(5, "0008,0020[20190304] 0008,0030[101520] 0008,0080[North, Wing@2] "
                                 "0008,1030[Chest] 0010,0010[O,BRIEN@HOME^ANN] 0010,0020[P,1] "
                                 "0010,0030[19800101] 0010,0040[F] 0020,000d[2.25.1002.3] 0020,0010[7]");
    dataService::onSdkMessage(5, "0008,0021[20190304] 0008,0031[1015] 0008,0060[CT] 0008,103e[Axial, thin] "
                                 "0020,000d[2.25.1002.3] 0020,000e[2.25.1002.3.4] 0020,0011[2] 0020,1209[40]");
    dataService::onSdkMessage(5, "0008,0020[20190304] 0010,0010[NOUID] 0020,000d[]");            // no study UID
    dataService::onSdkMessage(5, "0008,0060[MR] 0020,000d[2.25.1002.3] 0020,000e[");             // no "]"
    dataService::onSdkMessage(5, "0010,0010[SMITH] 0020,000d[2.25.1002.9");                      // no "]"
    dataService::onSdkMessage(6, "find failed: association refused");
    ASSERT_TRUE(waitFor([&] { return toasts.size() == 1; }));
    step(10);

    ASSERT_EQ(log.of(NSUI::NOTIFY_NET_FIND_STUDY).size(), 1u);
    const dcmFindStudyRecord& s = log.of(NSUI::NOTIFY_NET_FIND_STUDY)[0].study;
    EXPECT_EQ(s.dateTime, "2019.03.04 10:15:20");
    EXPECT_EQ(s.institution, "North, Wing@2");
    EXPECT_EQ(s.studyDescription, "Chest");
    EXPECT_EQ(s.patientName, "O,BRIEN@HOME^ANN");
    EXPECT_EQ(s.patientID, "P,1");
    EXPECT_EQ(s.birthDate, "19800101");
    EXPECT_EQ(s.sex, "F");
    EXPECT_EQ(s.studyInstanceUID, "2.25.1002.3");
    EXPECT_EQ(s.studyID, "7");

    ASSERT_EQ(log.of(NSUI::NOTIFY_NET_FIND_SERIES).size(), 1u);
    const dcmFindSeriesRecord& r = log.of(NSUI::NOTIFY_NET_FIND_SERIES)[0].series;
    EXPECT_EQ(r.dateTime, "201903041015");  // under 14 characters: left as it is
    EXPECT_EQ(r.modality, "CT");
    EXPECT_EQ(r.seriesDescription, "Axial, thin");
    EXPECT_EQ(r.studyInstanceUID, "2.25.1002.3");
    EXPECT_EQ(r.seriesInstanceUID, "2.25.1002.3.4");
    EXPECT_EQ(r.seriesNumber, "2");
    EXPECT_EQ(r.relatedInstances, "40");
    EXPECT_EQ(toasts, std::vector<std::string>{"Check the network and the patient name|5"});
}

TEST_F(DataServiceTest, FailedRetrievalsAreKeptOnceAndListedUntilRemoved)
{
    const std::string task = "127.0.0.1,104,,,2.25.1002,2.25.1002.3,/tmp/down/,DOE^JO,3,CT";
    dataService::onSdkMessage(11, (task + ",49,100,the peer answered status 0xc000").c_str());
    dataService::onSdkMessage(11, (task + ",50,100,the peer stopped answering").c_str());  // tried again
    dataService::onSdkMessage(11, task.c_str());  // ten fields: no outcome
    dataService::onSdkMessage(11, "127.0.0.1,104,,,2.25.1002,2.25.1002.5,/tmp/down/,DOE^JO,3,CT,x");  // eleven
    dataService::onSdkMessage(11, "127.0.0.1,104,,,2.25.1002,2.25.1002.6,/tmp/down/,DOE^JO,4,CT,1,2,cut");
    // Done messages name their series: another series' leaves the failed entries; its own clears it.
    dataService::onSdkMessage(10, "2.25.1002.9|DOE^JO(3,CT)");
    dataService::onSdkMessage(10, "2.25.1002.6|DOE^JO(4,CT)");
    // Each is said to be ready once its images are listed (the import of its folder ended), not
    // when they arrived: a toast handled after the done messages comes first.
    dataService::onSdkMessage(6, "");
    ASSERT_TRUE(waitFor([&] { return toasts.size() == 4; }));
    // Each import names its folder, and so its series, whatever order they end in.
    service->retrievalListed("/tmp/down/2.25.1002.6/");
    service->retrievalListed("/tmp/down/2.25.1002.9");
    // One whose import left files out is not said to be ready, its import ended before or after.
    service->retrievalListed("/tmp/down/2.25.1002.7/", false);
    dataService::onSdkMessage(10, "2.25.1002.7|DOE^JO(5,CT)");
    dataService::onSdkMessage(10, "2.25.1002.8|DOE^JO(6,CT)");
    service->retrievalListed("/tmp/down/2.25.1002.8/", false);
    // An import that never ends holds back no other series' word.
    dataService::onSdkMessage(10, "2.25.1002.11|DOE^JO(8,CT)");
    dataService::onSdkMessage(10, "2.25.1002.10|DOE^JO(7,CT)");
    service->retrievalListed("/tmp/down/2.25.1002.10/");
    ASSERT_TRUE(waitFor([&] { return toasts.size() == 7; }));
    EXPECT_EQ(toasts[6], "DOE^JO(7,CT) is ready|2");
    EXPECT_EQ(toasts[0], "Failed to download DOE^JO(3,CT)|5");
    EXPECT_EQ(toasts[1], "Failed to download DOE^JO(3,CT)|5");
    EXPECT_EQ(toasts[2], "Failed to download DOE^JO(4,CT)|5");
    EXPECT_EQ(toasts[3], "Check the network and the patient name|5");
    EXPECT_EQ(toasts[4], "DOE^JO(4,CT) is ready|2");
    EXPECT_EQ(toasts[5], "DOE^JO(3,CT) is ready|2");
    ASSERT_EQ(service->failedRetrieves.size(), 1u);
    EXPECT_EQ(service->failedRetrieves[0]->keptImages, 50);
    EXPECT_EQ(service->failedRetrieves[0]->seriesImages, 100);
    EXPECT_EQ(service->failedRetrieves[0]->failureReason, "the peer stopped answering");

    // The library does not know the series (any more); the failed entry is still listed.
    service->getRetrieveList();
    ASSERT_EQ(service->retrieveList.size(), 1u);
    dcmGetingObject* entry = service->retrieveList[0];
    EXPECT_EQ(entry->state, DCM_TASK_FAILED);
    EXPECT_EQ(entry->seriesUID, "2.25.1002.3");
    EXPECT_EQ(entry->fields(), (std::vector<std::string>{"127.0.0.1", "104", "", "", "2.25.1002", "2.25.1002.3",
                                                         "/tmp/down/", "DOE^JO", "3", "CT"}));

    // Removing a retrieval that is not a failed one only tells the library.
    dcmGetingObject* other = dcmGetingObject::create(
        {"127.0.0.1", "104", "", "", "2.25.1002", "2.25.9009", "/tmp/down/", "X", "1", "MR"}, DCM_TASK_WAITING);
    service->removeRetrieveTask(other);
    EXPECT_EQ(service->failedRetrieves.size(), 1u);
    service->removeRetrieveTask(entry);
    EXPECT_TRUE(service->failedRetrieves.empty());
    service->getRetrieveList();
    EXPECT_TRUE(service->retrieveList.empty());
}

// The program closes while its start-up scan reads a retrieval folder of many files that are no
// images, on a slow disk: the close ends the scan at its next file rather than wait for the rest,
// and the folder is left for the next start.
TEST_F(DataServiceTest, AStopEndsTheStartUpScanAtItsNextFile)
{
    cocos2d::FileUtils* files = cocos2d::FileUtils::getInstance();
    dataService::destroyInstance();
    files->setWritablePath((base_ / "data").string() + "/");
    std::shared_ptr<void> restore(nullptr, [files](void*) { files->setWritablePath(""); });
    const std::string folder = dataService::downloadFolder() + "2.25.7780/";
    std::filesystem::create_directories(folder);
    const int count = 500;
    for (int i = 0; i < count; ++i) std::ofstream(folder + std::to_string(i)) << "not an image";
    std::atomic<int> reads{0};
    redIRI::detail::setScanReadHookForTest([&] {
        ++reads;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    service = dataService::getInstance();
    ASSERT_TRUE(waitFor([&] { return reads > 0; }));
    dataService::destroyInstance();
    redIRI::detail::setScanReadHookForTest();
    EXPECT_LT(reads, count) << "the stop waited for the scan to read every file";
    EXPECT_TRUE(std::filesystem::exists(folder));
    service = dataService::getInstance();
}

TEST_F(DataServiceTest, LibraryMessagesReachTheirReceivers)
{
    // A finished retrieval's folder: first the import (2026), then the end of the transfer (2008).
    dataService::onSdkMessage(8, "/tmp/dicomdown/2.25.1002.3/");
    dataService::onSdkMessage(12, "ignored");
    dataService::onSdkMessage(-1, "ignored");
    // A stored image: the library database takes the record over and indexes it.
    auto* record = new redIRI::DCM_MESSAGE();
    std::strcpy(record->PatientName, "ROE^RICHARD");
    std::strcpy(record->PatientID, "R1");
    std::strcpy(record->StudyInstanceUID, "2.25.1009");
    std::strcpy(record->SeriesInstanceUID, "2.25.1009.1");
    std::strcpy(record->SOPInstanceUID, "2.25.1009.1.1");
    std::strcpy(record->InstanceNumber, "1");
    std::strcpy(record->FileName, "2.25.1009.1.1");
    std::strcpy(record->SeriesFolder, "ROE^RICHARD_R1/2.25.1009/2.25.1009.1/");
    dataService::onSdkMessage(3, reinterpret_cast<const char*>(record));
    // A record nobody takes is freed with its payload (the leak check would tell).
    dataService::onSdkMessage(3, reinterpret_cast<const char*>(new redIRI::DCM_MESSAGE()));
    ASSERT_TRUE(waitFor([&] { return log.of(NSUI::NOTIFY_NET_FILE_RECEIVED_END).size() == 1 &&
                                     !log.of(NSUI::NOTIFY_DB_PATIENT_STORED).empty(); }));
    ASSERT_EQ(log.of(NSUI::NOTIFY_OPEN_FILE).size(), 1u);
    EXPECT_EQ(log.of(NSUI::NOTIFY_OPEN_FILE)[0].text, "/tmp/dicomdown/2.25.1002.3/");
    EXPECT_EQ(log.of(NSUI::NOTIFY_NET_FILE_RECEIVED_END)[0].text, "/tmp/dicomdown/2.25.1002.3/");
}

TEST_F(DataServiceTest, TextAndFileCallbacks)
{
    // The conversion output is zeroed and cut at a character boundary.
    char out[8];
    std::memset(out, 'x', sizeof out);
    dataService::onSdkGb2Utf8("ab\xC3\xA9\xC3\xA9\xC3\xA9", out, 6);  // "abééé"
    EXPECT_STREQ(out, "ab\xC3\xA9");
    EXPECT_EQ(out[5], 0);

    unsigned long size = 7;
    EXPECT_EQ(dataService::onSdkReadFile((base_ / "missing").c_str(), &size, true), nullptr);
    EXPECT_EQ(size, 0u);

    // Thumbnails are PNG files without an extension.
    std::filesystem::create_directories(base_);
    const std::string png = (base_ / "thrumb0").string();
    unsigned char rgb[2 * 3 * 3] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30, 40, 50, 60, 70, 80, 90};
    ASSERT_TRUE(dataService::onSdkSavePng(3, 2, rgb, png.c_str()));
    char* bytes = dataService::onSdkReadFile(png.c_str(), &size, true);
    ASSERT_NE(bytes, nullptr);
    cocos2d::Image image;
    ASSERT_TRUE(image.initWithImageData(reinterpret_cast<unsigned char*>(bytes), static_cast<ssize_t>(size)));
    delete[] bytes;
    EXPECT_EQ(image.getWidth(), 3);
    EXPECT_EQ(image.getHeight(), 2);
    EXPECT_EQ(std::memcmp(image.getData(), rgb, sizeof rgb), 0);
    // A path naming a folder, not a file, is refused.
    EXPECT_FALSE(dataService::onSdkSavePng(3, 2, rgb, (base_ / "no" / "").c_str()));

    // A picture the disk has no room for (or room for part of) leaves nothing, and the picture it
    // was to replace stays whole.
    std::ifstream before(png, std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(before)), {});
    for (long long room : {0LL, 20LL}) {
        redIRI::disk::setRoomForTest(room);
        EXPECT_FALSE(dataService::onSdkSavePng(2, 3, rgb, png.c_str()));
        redIRI::disk::setRoomForTest(-1);
        std::ifstream after(png, std::ios::binary);
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), {}), whole);
        for (const auto& entry : std::filesystem::directory_iterator(base_))
            EXPECT_NE(entry.path().filename().string()[0], '.') << "a part of a picture is left";
    }
    // The user hears of the full disk once, however many writes it refused.
    for (int tick = 0; tick < 3; ++tick) service->onTick(1.0f);
    EXPECT_EQ(std::count(toasts.begin(), toasts.end(),
                         "The disk is full: images and files are not saved until there is room again (see the log)|5"),
              1);
}

// This program's own storage server is any address of this machine at the port it listens on; a
// second copy on another port, another machine, or whatever holds the port while the server could
// not take it, is a peer. A pure function over texts: the addresses off this machine below are
// only compared, never contacted.
TEST(OwnStorageServer, IsThisMachineAtTheServersPortOnly)
{
    const std::vector<std::string> own = {"192.168.1.20", "10.0.0.5", "127.0.0.1"};
    struct Case {
        const char* address;
        const char* port;
        int ownPort;
        bool self;
    };
    const Case cases[] = {
        {"127.0.0.1", "4587", 4587, true},
        {"127.0.0.254", "4587", 4587, true},   // all of 127.0.0.0/8 is this machine
        {"127.9.8.7", "4587", 4587, true},
        {"192.168.1.20", "4587", 4587, true},  // a second address of this machine
        {"10.0.0.5", "4587", 4587, true},
        {"127.0.0.1", "4588", 4587, false},    // a second copy on another port
        {"192.168.1.21", "4587", 4587, false}, // another machine
        {"127.0.0.1", "4587", 0, false},       // the server is not listening: the port is another's
        {"127.0.0.1", "", 4587, false},
        {"127.0.0.1", "4587x", 4587, false},
        {"127.0.0.1", "-4587", 4587, false},
        {"1270.0.0.1", "4587", 4587, false},
        {"", "4587", 4587, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isOwnStorageServer(c.address, c.port, c.ownPort, own), c.self) << c.address << ":" << c.port;
    EXPECT_TRUE(isOwnStorageServer("127.0.0.1", "4587", 4587, {}));
    EXPECT_FALSE(isOwnStorageServer("192.168.1.20", "4587", 4587, {}));

    // The machine's own interface list holds at least the loopback address.
    const std::vector<std::string> system = getOwnIPv4Addresses();
    EXPECT_NE(std::find(system.begin(), system.end(), "127.0.0.1"), system.end());
}

// A failure's reason as a peer's answer or an earlier version's record may hold it: one line of
// valid UTF-8 without control characters, and bounded, whatever came.
TEST(FailedRetrievalRecord, KeepsItsReasonAsOneCleanBoundedLine)
{
    std::string classes = "the program cannot take";
    for (int i = 0; i < 4990; ++i) classes += " 1.2.840.99." + std::to_string(i);
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"association lost:\nPeer aborted\r\n(or never connected)\n", "association lost: Peer aborted (or never connected)"},
        {"\x1b[31mclass\x07 one\tand\x7f two ", "[31mclass one and two"},
        // Stray, overlong, surrogate: each byte U+FFFD, as everywhere else.
        {"caf\xC3\xA9 \xFF\xC3( \xC0\xAF\xED\xA0\x80ok",
         "caf\xC3\xA9 \xEF\xBF\xBD\xEF\xBF\xBD( \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDok"},
        {"EVIL\xE2\x80\xAE^NAME\xE2\x80\x8B", "EVIL^NAME"},  // neither reversed nor hidden
        {"a\xC2\x85" "b\xE2\x80\xA8" "c", "a b c"},                             // C1 line break, line separator
        {classes, classes.substr(0, dcmGetingObject::kReasonBytes - 3) + "\xE2\x80\xA6"},
    };
    for (const auto& [reason, shown] : rows) {
        dcmGetingObject* task = dcmGetingObject::create(
            {"127.0.0.1", "104", "", "", "2.25.1", "2.25.1.9.1", "/tmp/down/", "DOE^JO", "3", "CT", "2", "9", reason},
            DCM_TASK_FAILED);
        EXPECT_EQ(task->failureReason, shown) << reason.substr(0, 64);
    }
    // Cut at a character, never inside one.
    EXPECT_EQ(dcmGetingObject::shownText("a\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 7), "a\xC3\xA9\xE2\x80\xA6");
}

// "N of M images arrived" never has N above M: a record that counts more images kept than the
// series holds (as earlier versions wrote them) gives no size of the series.
TEST(FailedRetrievalRecord, NeverKeepsMoreImagesThanTheSeriesHolds)
{
    for (const std::string kept : {"469", "4"}) {
        dcmGetingObject* task = dcmGetingObject::create(
            {"127.0.0.1", "104", "", "", "2.25.1", "2.25.1.9.1", "/tmp/down/", "DOE^JO", "3", "CT", kept,
             kept == "4" ? "3" : "1", "the disk is full"},
            DCM_TASK_FAILED);
        EXPECT_EQ(std::to_string(task->keptImages), kept);
        EXPECT_EQ(task->seriesImages, 0) << "not known";
    }
}
