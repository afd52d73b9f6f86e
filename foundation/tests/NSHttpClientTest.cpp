// The HTTP client against a real server on 127.0.0.1: every request kind, status codes, redirects,
// timeouts, downloads (whole, cut off, unwritable), a large form upload, cancelling, and destruction with
// work still queued. Answers are waited for by stepping the headless main loop.
#include "NSHttpClient.h"
#include "NSHttpRequest.h"
#include "NSHttpResponse.h"
#include "NSFileTestSupport.h"
#include "support/HeadlessFrames.h"
#include "support/HttpTestServer.h"

#include "cocos2d.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include "qvTestPaths.h"

using NSUI::NSHttpClient;
using NSUI::NSHttpRequest;
using NSUI::NSHttpResponse;
using qvtest::readFile;

namespace {

struct Answer {
    std::string tag;
    bool succeeded = false;
    int code = 0;
    std::string body;
    std::string header;
    std::string error;
    std::thread::id thread;
};

// An object requests are sent on behalf of.
class Owner : public cocos2d::Ref {};

class HttpClientTest : public HeadlessFrames {
protected:
    void TearDown() override {
        NSHttpClient::destroyInstance();
        cocos2d::setLogSink(nullptr);
        HeadlessFrames::TearDown();
    }

    // A request whose answers are recorded in `answers`; the caller keeps the creator's reference.
    NSHttpRequest* request(int kind, const std::string& path, const std::string& body = "",
                           const std::string& tag = "") {
        auto* r = new NSHttpRequest();
        r->kind = kind;
        r->url = server.url(path);
        r->requestData.assign(body.begin(), body.end());
        r->tag = tag;
        r->target = &owner;
        r->callback = [this](NSHttpClient* client, NSHttpResponse* response) {
            EXPECT_EQ(client, NSHttpClient::getInstance());
            Answer a;
            a.tag = response->getRequest()->tag;
            a.succeeded = response->succeeded;
            a.code = response->responseCode;
            a.body.assign(response->responseData.begin(), response->responseData.end());
            a.header.assign(response->responseHeader.begin(), response->responseHeader.end());
            a.error = response->errorText;
            a.thread = std::this_thread::get_id();
            answers.push_back(a);
        };
        return r;
    }

    // Sends and drops the creator's reference: the client keeps the request alive.
    void send(NSHttpRequest* r) {
        NSHttpClient::getInstance()->send(r);
        r->release();
    }

    // Enough frames (with the fixture's pause between them) for several seconds of transfers; a test
    // whose answer never comes fails instead of hanging.
    static constexpr int kPatientFrames = 50000;

    bool waitForAnswers(size_t n) {
        return stepUntil([&] { return answers.size() >= n; }, kPatientFrames);
    }

    HttpTestServer server;
    Owner owner;
    std::vector<Answer> answers;
};

std::string tempPath(const std::string& name) {
    return std::string(QV_TEST_BINARY_DIR) + "/http-client-" + name;
}

}  // namespace

TEST_F(HttpClientTest, EveryKindReachesTheServerAndAnswersOnTheMainThreadInOrder) {
    NSHttpClient::getInstance()->send(nullptr);  // only starts the worker
    send(request(NSHttpRequest::GET, "/echo?q=1", "not sent", "get"));
    send(request(NSHttpRequest::POST, "/echo", "{\"a\":\"1\"}", "post"));
    send(request(NSHttpRequest::PUT, "/echo", "put body", "put"));
    send(request(NSHttpRequest::DELETE, "/echo", "not sent either", "delete"));
    ASSERT_TRUE(waitForAnswers(4));

    const std::vector<std::pair<std::string, std::string>> expected{
        {"get", "GET"}, {"post", "POST"}, {"put", "PUT"}, {"delete", "DELETE"}};
    for (size_t i = 0; i < expected.size(); ++i) {
        const Answer& a = answers[i];
        SCOPED_TRACE(a.tag);
        EXPECT_EQ(a.tag, expected[i].first);
        EXPECT_TRUE(a.succeeded);
        EXPECT_EQ(a.code, 200);
        EXPECT_EQ(a.error, "");
        EXPECT_EQ(a.thread, std::this_thread::get_id());
        EXPECT_EQ(echoField(a.body, "method"), expected[i].second);
        EXPECT_NE(a.header.find("HTTP/1.1 200"), std::string::npos);
    }
    EXPECT_EQ(echoField(answers[0].body, "query"), "1");
    EXPECT_EQ(echoField(answers[0].body, "body"), "");
    EXPECT_EQ(echoField(answers[1].body, "body"), "{\"a\":\"1\"}");
    EXPECT_EQ(echoField(answers[2].body, "body"), "put body");
    EXPECT_EQ(echoField(answers[3].body, "body"), "");
}

TEST_F(HttpClientTest, HeaderLinesAndEmptyBodiesAreSentAsGiven) {
    NSHttpRequest* withHeaders = request(NSHttpRequest::POST, "/echo", "x");
    withHeaders->headers = {"Content-Type: application/json; charset=utf-8", "X-Token: 42"};
    EXPECT_EQ(withHeaders->getHeaders(), withHeaders->headers);
    send(withHeaders);
    send(request(NSHttpRequest::POST, "/echo", ""));
    send(request(NSHttpRequest::PUT, "/echo", ""));
    ASSERT_TRUE(waitForAnswers(3));

    EXPECT_EQ(echoField(answers[0].body, "content-type"), "application/json; charset=utf-8");
    EXPECT_EQ(echoField(answers[0].body, "x-token"), "42");
    // An empty body goes out with a length of 0 (and never makes the transfer read standard input).
    EXPECT_EQ(echoField(answers[1].body, "content-length"), "0");
    EXPECT_EQ(echoField(answers[2].body, "content-length"), "0");
}

TEST_F(HttpClientTest, StatusOutsideTwoHundredsFailsButKeepsTheBody) {
    const struct { int kind; int code; bool succeeded; } rows[] = {
        {NSHttpRequest::GET, 404, false}, {NSHttpRequest::POST, 500, false}, {NSHttpRequest::GET, 204, true}};
    for (const auto& row : rows)
        send(request(row.kind, "/status?code=" + std::to_string(row.code)));
    ASSERT_TRUE(waitForAnswers(3));
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(rows[i].code);
        EXPECT_EQ(answers[i].succeeded, rows[i].succeeded);
        EXPECT_EQ(answers[i].code, rows[i].code);
    }
    EXPECT_EQ(answers[0].body, "status 404");
}

TEST_F(HttpClientTest, RedirectsAreFollowedExceptForPutAndForms) {
    send(request(NSHttpRequest::GET, "/redirect"));
    send(request(NSHttpRequest::DELETE, "/redirect"));
    send(request(NSHttpRequest::PUT, "/redirect", "data"));
    NSHttpRequest* form = request(NSHttpRequest::FORM, "/redirect");
    NSHttpRequest::FormPart info;
    info.name = "uploadInfo";
    info.contents = "x";
    form->form = {info};
    send(form);
    ASSERT_TRUE(waitForAnswers(4));

    EXPECT_TRUE(answers[0].succeeded);
    EXPECT_EQ(answers[0].code, 200);
    EXPECT_EQ(echoField(answers[0].body, "method"), "GET");
    // Every header block is kept, the redirect's included.
    EXPECT_NE(answers[0].header.find("302"), std::string::npos);
    EXPECT_EQ(echoField(answers[1].body, "method"), "DELETE");
    EXPECT_FALSE(answers[2].succeeded);
    EXPECT_EQ(answers[2].code, 302);
    EXPECT_FALSE(answers[3].succeeded);
    EXPECT_EQ(answers[3].code, 302);
}

TEST_F(HttpClientTest, TransferLimitEndsASilentServer) {
    NSHttpClient::Timeouts limits;
    limits.transferMs = 200;
    NSHttpClient::getInstance()->setTimeouts(limits);
    send(request(NSHttpRequest::GET, "/hold"));
    ASSERT_TRUE(waitForAnswers(1));
    server.releaseHeld();
    EXPECT_FALSE(answers[0].succeeded);
    EXPECT_EQ(answers[0].code, -1);
    EXPECT_NE(answers[0].error.find("timed out"), std::string::npos) << answers[0].error;
}

TEST_F(HttpClientTest, FailureTextNeverComesFromAnEarlierTransfer) {
    // A port that was just bound and released: nothing listens there.
    std::string closedUrl;
    {
        HttpTestServer gone;
        closedUrl = gone.url("/echo");
    }
    NSHttpRequest* refused = request(NSHttpRequest::GET, "/echo");
    refused->url = closedUrl;
    send(refused);
    NSHttpRequest* noKind = request(NSHttpRequest::NONE, "/echo");
    send(noKind);
    NSHttpRequest* badKind = request(42, "/echo");
    send(badKind);
    ASSERT_TRUE(waitForAnswers(3));

    EXPECT_FALSE(answers[0].succeeded);
    EXPECT_EQ(answers[0].code, -1);
    EXPECT_FALSE(answers[0].error.empty());
    for (int i : {1, 2}) {
        EXPECT_FALSE(answers[i].succeeded);
        EXPECT_EQ(answers[i].code, -1);
        EXPECT_EQ(answers[i].error, "unsupported request kind");
    }
    EXPECT_TRUE(server.requestLog().empty());
}

TEST_F(HttpClientTest, AnswersWithoutTargetAreDroppedAndReferencesReturn) {
    NSHttpRequest* orphan = request(NSHttpRequest::GET, "/echo?q=orphan");
    orphan->target = nullptr;  // performed, but its callback must not run
    NSHttpRequest* silent = request(NSHttpRequest::GET, "/echo?q=silent");
    silent->target = nullptr;
    silent->callback = nullptr;  // nobody waits at all
    NSHttpRequest* kept = request(NSHttpRequest::GET, "/echo?q=kept");

    for (NSHttpRequest* r : {orphan, silent, kept})
        NSHttpClient::getInstance()->send(r);
    EXPECT_GE(kept->getReferenceCount(), 2u);
    ASSERT_TRUE(waitForAnswers(1));
    step(3);

    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(echoField(answers[0].body, "query"), "kept");
    EXPECT_EQ(server.requestLog(),
              (std::vector<std::string>{"/echo?q=orphan", "/echo?q=silent", "/echo?q=kept"}));
    // Once answered (or dropped), the client holds no reference of its own any more.
    for (NSHttpRequest* r : {orphan, silent, kept}) {
        EXPECT_EQ(r->getReferenceCount(), 1u);
        r->release();
    }
}

TEST_F(HttpClientTest, CancellingATargetDropsItsQueuedRequestsAndTheRunningOnesCallback) {
    std::vector<std::string> logLines;
    cocos2d::setLogSink([&](const std::string& line) { logLines.push_back(line); });
    Owner other;
    int otherAnswers = 0;

    send(request(NSHttpRequest::GET, "/hold", "", "running"));
    ASSERT_TRUE(server.waitForHeld(1));
    send(request(NSHttpRequest::GET, "/echo?q=dropped1"));
    NSHttpRequest* foreign = request(NSHttpRequest::GET, "/echo?q=other");
    foreign->target = &other;
    foreign->callback = [&](NSHttpClient*, NSHttpResponse*) { ++otherAnswers; };
    send(foreign);
    send(request(NSHttpRequest::GET, "/echo?q=dropped2"));

    NSHttpClient::getInstance()->cancelRequestsForTarget(&owner);
    NSHttpClient::getInstance()->cancelRequestsForTarget(nullptr);  // cancels nothing
    EXPECT_EQ(std::count(logLines.begin(), logLines.end(), "clear"), 2);

    server.releaseHeld();
    ASSERT_TRUE(stepUntil([&] { return otherAnswers == 1; }));
    step(3);
    EXPECT_TRUE(answers.empty());
    EXPECT_EQ(server.requestLog(), (std::vector<std::string>{"/hold", "/echo?q=other"}));
}

TEST_F(HttpClientTest, CancellingDropsAnswersNotYetDispatched) {
    Owner other;
    int otherAnswers = 0;
    send(request(NSHttpRequest::GET, "/echo?q=1"));
    send(request(NSHttpRequest::GET, "/echo?q=2"));
    NSHttpRequest* blocker = request(NSHttpRequest::GET, "/hold");
    blocker->target = &other;
    blocker->callback = [&](NSHttpClient*, NSHttpResponse*) { ++otherAnswers; };
    send(blocker);
    // The worker takes requests in order, so once it is held here both answers wait, undelivered,
    // because the main loop has not run.
    ASSERT_TRUE(server.waitForHeld(1));
    NSHttpClient::getInstance()->cancelRequestsForTarget(&owner);
    server.releaseHeld();
    ASSERT_TRUE(stepUntil([&] { return otherAnswers == 1; }));
    step(3);
    EXPECT_TRUE(answers.empty());
}

TEST_F(HttpClientTest, DownloadThatCannotBeStoredIsNotASuccess) {
    // A folder that does not exist: nothing can be written, so nothing is asked of the server.
    NSHttpRequest* nowhere = request(NSHttpRequest::DOWNLOAD, "/bytes?n=100");
    nowhere->downloadPath = tempPath("no-such-folder/x.bin");
    send(nowhere);
    // A folder standing where the file should go: the answer arrives but cannot take its place.
    const std::string folder = tempPath("folder-in-the-way");
    ::mkdir(folder.c_str(), 0755);
    NSHttpRequest* blocked = request(NSHttpRequest::DOWNLOAD, "/bytes?n=100");
    blocked->downloadPath = folder;
    send(blocked);
    ASSERT_TRUE(waitForAnswers(2));
    EXPECT_FALSE(answers[0].succeeded);
    EXPECT_EQ(answers[0].code, -1);
    EXPECT_EQ(answers[0].error, "failed to write the download file");
    EXPECT_EQ(server.requestLog().size(), 1u);
    EXPECT_FALSE(answers[1].succeeded);
    EXPECT_EQ(answers[1].code, 200);
    EXPECT_EQ(answers[1].error, "failed to write the download file");
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

// An error page, a cut-off transfer and a timeout are failures, and the file already at the target
// stays byte for byte what it was; no temporary file is left beside it.
TEST_F(HttpClientTest, AFailedDownloadLeavesTheExistingFileAlone) {
    const std::string folder = tempPath("keep/");
    ::mkdir(folder.c_str(), 0755);
    const std::string path = folder + "study.zip";
    const std::string old = "the good copy";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << old;
    }
    NSHttpClient::Timeouts limits;
    limits.transferMs = 300;
    NSHttpClient::getInstance()->setTimeouts(limits);
    for (const char* route : {"/bytes?n=500&code=404", "/partial?n=200000", "/hold"}) {
        NSHttpRequest* r = request(NSHttpRequest::DOWNLOAD, route);
        r->downloadPath = path;
        send(r);
    }
    ASSERT_TRUE(waitForAnswers(3));
    server.releaseHeld();
    EXPECT_FALSE(answers[0].succeeded);
    EXPECT_EQ(answers[0].code, 404);
    EXPECT_FALSE(answers[1].succeeded);
    EXPECT_EQ(answers[1].code, -1);
    EXPECT_FALSE(answers[1].error.empty());
    EXPECT_FALSE(answers[2].succeeded);
    EXPECT_NE(answers[2].error.find("timed out"), std::string::npos) << answers[2].error;
    EXPECT_EQ(readFile(path), old);

    // A good answer then replaces it whole, the file closed before the callback sees it.
    NSHttpRequest* good = request(NSHttpRequest::DOWNLOAD, "/bytes?n=777", "{}");
    good->downloadPath = path;
    good->callback = [&, record = good->callback](NSHttpClient* c, NSHttpResponse* response) {
        EXPECT_EQ(response->downloadFile, nullptr);
        EXPECT_EQ(readFile(path).size(), 777u);
        record(c, response);
    };
    send(good);
    ASSERT_TRUE(waitForAnswers(4));
    EXPECT_TRUE(answers[3].succeeded);
    EXPECT_EQ(answers[3].code, 200);
    EXPECT_EQ(answers[3].body, "");  // the body went to the file
    EXPECT_EQ(readFile(path), HttpTestServer::patternBytes(777));
    int entries = 0;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(dir))
            entries += e->d_name[0] != '.';
        ::closedir(dir);
    }
    EXPECT_EQ(entries, 1);  // study.zip alone
}

// A server that sends more than the request's limit (announced or not) fails the request with its
// reason and hands on nothing of the body; a download that does so leaves the file it would replace.
TEST_F(HttpClientTest, AnswersLongerThanTheLimitFail) {
    const std::string path = tempPath("bounded.bin");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << "the good copy";
    }
    for (const char* route : {"/bytes?n=1000", "/bytes?n=1001", "/stream?n=1000", "/stream?n=300000"}) {
        NSHttpRequest* r = request(NSHttpRequest::GET, route, "", route);
        r->maxResponseBytes = 1000;
        send(r);
    }
    NSHttpRequest* download = request(NSHttpRequest::DOWNLOAD, "/stream?n=300000", "", "download");
    download->maxResponseBytes = 1000;
    download->downloadPath = path;
    send(download);
    // Without a limit of its own a request takes the default for bodies kept in memory.
    const std::string beyond = "/stream?n=" + std::to_string(NSHttpRequest::kDefaultMaxBodyBytes + 1);
    send(request(NSHttpRequest::GET, beyond, "", "default"));
    ASSERT_TRUE(waitForAnswers(6));

    const std::string tooLong = "response body larger than 1000 bytes";
    EXPECT_TRUE(answers[0].succeeded);
    EXPECT_EQ(answers[0].body, HttpTestServer::patternBytes(1000));
    EXPECT_TRUE(answers[2].succeeded);
    EXPECT_EQ(answers[2].body, HttpTestServer::patternBytes(1000));
    for (size_t i : {1, 3, 4}) {
        SCOPED_TRACE(answers[i].tag);
        EXPECT_FALSE(answers[i].succeeded);
        EXPECT_EQ(answers[i].error, tooLong);
        EXPECT_EQ(answers[i].body, "");
    }
    EXPECT_EQ(readFile(path), "the good copy");
    EXPECT_FALSE(answers[5].succeeded);
    EXPECT_EQ(answers[5].error,
              "response body larger than " + std::to_string(NSHttpRequest::kDefaultMaxBodyBytes) + " bytes");
    EXPECT_EQ(answers[5].body, "");
}

TEST_F(HttpClientTest, LargeFormUploadArrivesWhole) {
    const std::string path = tempPath("upload.bin");
    const std::string content = HttpTestServer::patternBytes(8 * 1024 * 1024 + 17);
    {
        std::ofstream out(path, std::ios::binary);
        out << content;
    }
    NSHttpRequest* r = request(NSHttpRequest::FORM, "/upload");
    NSHttpRequest::FormPart file;
    file.name = "dcmfile";
    file.isFile = true;
    file.filePath = path;
    file.contentType = "application/octet-stream";
    NSHttpRequest::FormPart info;
    info.name = "uploadInfo";
    info.contents = "{\"id\":\"7\"}";
    r->form = {file, info};
    send(r);
    ASSERT_TRUE(waitForAnswers(1));
    ASSERT_TRUE(answers[0].succeeded) << answers[0].error;
    EXPECT_EQ(echoField(answers[0].body, "file"),
              "dcmfile|http-client-upload.bin|application/octet-stream|" + std::to_string(content.size()) + "|" +
                  std::to_string(HttpTestServer::checksum(content)));
    EXPECT_EQ(echoField(answers[0].body, "info"), "uploadInfo:{\"id\":\"7\"}");
    EXPECT_EQ(echoField(answers[0].body, "parts"), "2");

    // A file part whose file is missing fails the transfer instead of sending an empty part.
    NSHttpRequest* missing = request(NSHttpRequest::FORM, "/upload");
    file.filePath = tempPath("no-such-upload.bin");
    missing->form = {file};
    send(missing);
    ASSERT_TRUE(waitForAnswers(2));
    EXPECT_FALSE(answers[1].succeeded);
}

TEST_F(HttpClientTest, DestroyingTheClientPerformsQueuedWorkButDeliversNothing) {
    send(request(NSHttpRequest::GET, "/echo?q=1"));
    send(request(NSHttpRequest::POST, "/echo?q=2"));
    send(request(NSHttpRequest::PUT, "/echo?q=3"));
    NSHttpClient::destroyInstance();
    EXPECT_FALSE(NSHttpClient::hasInstance());
    EXPECT_EQ(server.requestLog(), (std::vector<std::string>{"/echo?q=1", "/echo?q=2", "/echo?q=3"}));
    // Dispatches queued before the destruction never reach the deleted client.
    step(5);
    EXPECT_TRUE(answers.empty());
}

TEST_F(HttpClientTest, DestroyingTheClientDoesNotWaitForAStalledServer) {
    NSHttpClient::Timeouts limits;
    limits.exitGraceMs = 50;
    NSHttpClient::getInstance()->setTimeouts(limits);
    send(request(NSHttpRequest::GET, "/hold"));
    ASSERT_TRUE(server.waitForHeld(1));
    send(request(NSHttpRequest::GET, "/echo?q=late"));
    NSHttpClient::destroyInstance();
    // The destructor came back while the server still holds the first request, and the queued one was
    // given up rather than started after the grace time.
    EXPECT_EQ(server.heldCount(), 1);
    server.releaseHeld();
    EXPECT_EQ(server.requestLog(), std::vector<std::string>{"/hold"});
    step(3);
    EXPECT_TRUE(answers.empty());
}

TEST_F(HttpClientTest, InstanceLifecycle) {
    NSHttpClient::destroyInstance();
    EXPECT_FALSE(NSHttpClient::hasInstance());
    NSHttpClient::destroyInstance();  // nothing to delete
    NSHttpClient* client = NSHttpClient::getInstance();
    EXPECT_TRUE(NSHttpClient::hasInstance());
    EXPECT_EQ(NSHttpClient::getInstance(), client);
    // A client that never sent anything goes away without a worker to stop.
    NSHttpClient::destroyInstance();
    EXPECT_FALSE(NSHttpClient::hasInstance());
}
