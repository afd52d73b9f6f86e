// A second copy of the program on one machine: the storage server's port is already taken. The
// library opens and works on without the server, the failure is logged, the user is told once in
// a toast, and nothing claims the server runs. Once the port is freed the server takes it up on its
// own and the user is told; when its listening socket is then shut from outside, it is opened
// again and the user told once. Or the bound on DCMTK's parse is not in effect: the
// server does not start, nothing is imported, the user is told so once, and stored images open.
#include "support/ServiceFixture.h"

#include "../../platform/dicom/tests/support/DicomPeers.h"
#include "../../platform/dicom/tests/support/DicomTestData.h"
#include "../../platform/dicom/tests/support/LoopbackPorts.h"
#include "support/StoredImageRelay.h"
#include "DicomSeriesWriter.h"
#include "NSDBDataModel.h"
#include "dcmLib.h"
#include "dcmLibrary.h"
#include "importDcm.h"

#include <algorithm>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A port held by a listener on 127.0.0.1, as another program holding it would.
class HeldPort {
public:
    HeldPort()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(fd_, 4) != 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port_ = ntohs(address.sin_port);
    }
    ~HeldPort() { release(); }
    // The other program lets the port go.
    void release()
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

class ServerPortTest : public ServiceFixture {
protected:
    void SetUp() override
    {
        ASSERT_NE(held_.port(), 0);
        ServiceFixture::SetUp();
    }
    void configureDatabase(dicomDB* db) override { db->setServerPortForTest(std::to_string(held_.port())); }

    HeldPort held_;
    // The library's log lines, from before the database opens until after it is gone.
    qvtest::CallbackCapture log_;
};

TEST_F(ServerPortTest, ATakenPortIsReportedOnceAndTheLibraryWorksOn)
{
    const std::string port = std::to_string(held_.port());
    dicomDB* db = service->getDatabase();
    ASSERT_NE(db, nullptr);
    EXPECT_TRUE(db->isReady());
    EXPECT_FALSE(db->isServerRunning());
    EXPECT_TRUE(db->serverStartFailed());
    EXPECT_TRUE(log_.logged("cannot listen on port " + port));

    // Told once, on the first tick, when a scene can show it.
    ASSERT_TRUE(waitFor([this] { return !toasts.empty(); }, 5000));
    const std::string expected = "Cannot receive DICOM images: port " + port + " is in use by another program|5";
    EXPECT_EQ(toasts, std::vector<std::string>{expected});
    step(3 * 60);
    EXPECT_EQ(toasts.size(), 1u);

    // Everything else works on: files handed in are imported and indexed.
    qvgen::ImageSpec spec;
    spec.columns = 8;
    spec.rows = 8;
    spec.patientName = "PORT^TAKEN";
    spec.patientID = "P7";
    spec.studyUID = "2.25.4587.1";
    spec.seriesUID = "2.25.4587.1.1";
    const fs::path source = base_ / "source" / "image.dcm";
    fs::create_directories(source.parent_path());
    std::string error;
    ASSERT_TRUE(qvgen::writeDicomFile(source.string(), spec, &error)) << error;
    importDcm* importer = importDcm::create();
    ASSERT_NE(importer, nullptr);
    importer->retain();
    importer->setRoot(db->getDicomRoot());
    importer->importFolder(source.string());
    auto images = [db] {
        NSUI::NSDBDataModel model;
        std::lock_guard<std::recursive_mutex> lock(db->dbMutex);
        return db->connectionForTest().query("select count() from image", model) && model.getRowCount() > 0
                   ? std::atoi(model.getValue(0, 0).c_str())
                   : -1;
    };
    EXPECT_TRUE(waitFor([&] { return images() == 1; }, 10000));
    importer->stop();
    importer->release();

    // The other program ends: the server listens without a restart, and says so once.
    const StoredImageRelay relay;
    auto send = [&](const std::string& name, const std::string& seriesUID) {
        spec.seriesUID = seriesUID;
        const std::string file = (base_ / "source" / name).string();
        std::string why;
        EXPECT_TRUE(qvgen::writeDicomFile(file, spec, &why)) << why;
        qvtest::Peer storescu({"storescu", "127.0.0.1", port, file}, (base_ / (name + ".log")).string());
        return storescu.wait(30000);
    };
    held_.release();
    ASSERT_TRUE(waitFor([db] { return db->isServerRunning(); }, 30000));
    // The listener says so just after it turns running.
    EXPECT_TRUE(waitFor([&] { return log_.logged("listening on port " + port + " as"); }, 10000));
    ASSERT_TRUE(waitFor([this] { return toasts.size() == 2; }, 5000));
    EXPECT_EQ(toasts[1], "DICOM images are received on port " + port + "|5");
    EXPECT_EQ(send("sent.dcm", "2.25.4587.1.2"), 0);
    EXPECT_TRUE(waitFor([&] { return images() == 2; }, 10000));

    // Its listening socket shut from outside: opened again, the user told once (in one toast, or
    // in two when a tick saw the port closed), and the next send is taken.
    int listening = -1;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        const int fd = std::atoi(entry.path().filename().c_str());
        sockaddr_in local{};
        socklen_t length = sizeof(local);
        int accepting = 0;
        socklen_t size = sizeof(accepting);
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 && local.sin_family == AF_INET &&
            ntohs(local.sin_port) == held_.port() && ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &size) == 0 &&
            accepting)
            listening = fd;
    }
    ASSERT_GE(listening, 0);
    ::shutdown(listening, SHUT_RDWR);
    ASSERT_TRUE(waitFor([this] { return toasts.size() >= 3; }, 10000))
        << ::testing::PrintToString(toasts) << ::testing::PrintToString(log_.logLines());
    ASSERT_TRUE(waitFor([db] { return db->isServerRunning(); }, 30000));
    step(3 * 60);
    const std::vector<std::string> told(toasts.begin() + 2, toasts.end());
    const std::vector<std::string> once = {"Port " + port +
                                           " stopped listening and was opened again: DICOM images are received|5"};
    const std::vector<std::string> twice = {
        "Cannot receive DICOM images: port " + port + " stopped listening; it is opened again as soon as it can be|5",
        "DICOM images are received on port " + port + "|5"};
    EXPECT_TRUE(told == once || told == twice) << ::testing::PrintToString(told);
    EXPECT_EQ(db->serverPortFailures(), 1u);
    EXPECT_EQ(send("again.dcm", "2.25.4587.1.3"), 0);
    EXPECT_TRUE(waitFor([&] { return images() == 3; }, 10000));
}

// The library as if its start-up check had found the bound on DCMTK's parse bypassed.
class UnboundedParseTest : public ServiceFixture {
protected:
    void SetUp() override
    {
        redIRI::detail::setParseBoundedForTest(false);
        ServiceFixture::SetUp();
    }
    void TearDown() override
    {
        ServiceFixture::TearDown();
        redIRI::detail::setParseBoundedForTest(true);
    }
    void configureDatabase(dicomDB* db) override { db->setServerPortForTest(std::to_string(qvtest::freePort())); }
    qvtest::CallbackCapture log_;
};

TEST_F(UnboundedParseTest, NothingFromElsewhereIsParsedAndStoredImagesStillOpen)
{
    dicomDB* db = service->getDatabase();
    ASSERT_NE(db, nullptr);
    EXPECT_TRUE(db->isReady());
    EXPECT_FALSE(db->isServerRunning());
    EXPECT_TRUE(log_.logged("DICOM server: not started: the bound on DCMTK's parse is not in effect"));
    ASSERT_TRUE(waitFor([this] { return !toasts.empty(); }, 5000));
    step(3 * 60);
    ASSERT_EQ(toasts.size(), 1u) << "said once, and not as a port in use";
    EXPECT_NE(toasts[0].find("cannot be imported, received or retrieved"), std::string::npos) << toasts[0];

    qvgen::ImageSpec spec;
    spec.columns = 8;
    spec.rows = 8;
    spec.patientName = "NOT^BOUNDED";
    const fs::path source = base_ / "source" / "image.dcm";
    fs::create_directories(source.parent_path());
    std::string error;
    ASSERT_TRUE(qvgen::writeDicomFile(source.string(), spec, &error)) << error;
    std::mutex linesLock;
    std::vector<std::string> lines;
    cocos2d::setLogSink([&](const std::string& line) {
        std::lock_guard<std::mutex> lock(linesLock);
        lines.push_back(line);
    });
    importDcm* importer = importDcm::create();
    importer->retain();
    importer->setRoot(db->getDicomRoot());
    importer->importFolder(source.string());
    importer->importFolder(source.string());
    EXPECT_TRUE(waitFor([&] { return !importer->isBusy() && importer->getFinishedCount() == 2; }, 10000));
    EXPECT_EQ(importer->getCopiedCount(), 0);
    importer->stop();
    importer->release();
    cocos2d::setLogSink(nullptr);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("import: refused") != std::string::npos; }),
              1);
    // Each file's own line gives that reason too.
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) {
                                return l.find("not imported: the bound on DCMTK's parse") != std::string::npos;
                            }),
              2);
    // A file of the library's own still opens.
    redIRI::dcmReadTag reader;
    EXPECT_TRUE(reader.setFile(source.string().c_str()));
}

}  // namespace
