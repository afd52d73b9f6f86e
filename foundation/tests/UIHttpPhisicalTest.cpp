// The REST layer against a real server on 127.0.0.1: the header lines it adds, tags and bodies of the
// answers, the Base64 JSON exchange, downloads and uploads, and what happens when the owner goes first.
#include "UIHttpPhisical.h"

#include "NSDatas.h"
#include "NSHttpClient.h"
#include "UIHttpResponse.h"
#include "UIJson.h"
#include "purgeServices.h"
#include "support/HeadlessFrames.h"
#include "support/HttpTestServer.h"

#include "cocos2d.h"

#include <gtest/gtest.h>

#include <fstream>
#include "qvTestPaths.h"

using NSUI::NSHttpClient;
using NSUI::UIHttpPhisical;
using NSUI::UIHttpResponse;
using NSUI::UIJson;

namespace {

struct Answer {
    std::string tag;
    bool succeeded = false;
    int code = 0;
    std::string body;
};

// A service as the program writes them: a framework object that mixes the layer in, makes itself the
// request target, and tells its answers apart by tag.
class Service : public cocos2d::Ref, public UIHttpPhisical {
public:
    explicit Service(std::vector<Answer>* answers, bool targeted = true) : answers(answers) {
        if (targeted)
            setRequestTarget(this);
    }
    void onHttpResponse(UIHttpResponse* response) override {
        answers->push_back({response->tag, response->succeeded, response->responseCode, response->body});
    }
    // Counts the sends that went through the overridable entry point.
    void httpPost(std::string url, std::string body, std::string tag, std::string credential,
                  std::string header) override {
        ++posts;
        UIHttpPhisical::httpPost(url, body, tag, credential, header);
    }
    int posts = 0;

private:
    std::vector<Answer>* answers;
};

class RestLayerTest : public HeadlessFrames {
protected:
    void TearDown() override {
        NSHttpClient::destroyInstance();
        HeadlessFrames::TearDown();
    }

    // Enough frames (with the fixture's pause between them) for several seconds of transfers; a test
    // whose answer never comes fails instead of hanging.
    static constexpr int kPatientFrames = 50000;

    bool waitForAnswers(size_t n) {
        return stepUntil([&] { return answers.size() >= n; }, kPatientFrames);
    }

    HttpTestServer server;
    std::vector<Answer> answers;
};

std::string tempPath(const std::string& name) {
    return std::string(QV_TEST_BINARY_DIR) + "/http-rest/" + name;
}

}  // namespace

TEST_F(RestLayerTest, StandardHeaderLines) {
    const std::string form = tempPath("form.txt");
    cocos2d::FileUtils::getInstance()->createDirectory(tempPath(""));
    std::ofstream(form) << "form";
    auto* service = new Service(&answers);
    service->httpPost(server.url("/echo"), "e30=", "plain", "", "");
    service->httpPost(server.url("/echo"), "e30=", "credential", "user:pass", "");
    service->httpPost(server.url("/echo"), "e30=", "own header", "", "X-Token: 7");
    service->upload("dcmfile", "info", form, "text/plain", "upload", server.url("/echo"), "", "");
    ASSERT_TRUE(waitForAnswers(4));

    EXPECT_EQ(answers[0].tag, "plain");
    EXPECT_EQ(echoField(answers[0].body, "content-type"), "application/json; charset=utf-8");
    EXPECT_EQ(echoField(answers[0].body, "authorization"), "");
    EXPECT_EQ(echoField(answers[0].body, "body"), "e30=");

    EXPECT_EQ(echoField(answers[1].body, "authorization"), "Basic dXNlcjpwYXNz");
    EXPECT_EQ(echoField(answers[1].body, "content-type"), "application/json; charset=utf-8");

    // A caller's header line replaces the JSON content type.
    EXPECT_EQ(echoField(answers[2].body, "x-token"), "7");
    EXPECT_NE(echoField(answers[2].body, "content-type"), "application/json; charset=utf-8");

    // A form upload carries the multipart type that the transfer writes, not the JSON one.
    EXPECT_EQ(answers[3].tag, "upload");
    EXPECT_EQ(echoField(answers[3].body, "content-type").rfind("multipart/form-data; boundary=", 0), 0u);
    service->release();
}

TEST_F(RestLayerTest, EveryVerbAnswersItsOwnTag) {
    auto* service = new Service(&answers);
    service->httpGet(server.url("/echo"), "", "get", "", "");
    service->httpPostRef(server.url("/echo"), "p", "post", "", "");
    service->httpPutRef(server.url("/echo"), "u", "put", "", "");
    service->httpDeleteRef(server.url("/echo"), "", "delete", "", "");
    service->httpGetRef(server.url("/status?code=404"), "", "missing", "", "");
    ASSERT_TRUE(waitForAnswers(5));
    EXPECT_EQ(service->posts, 1);  // httpPostRef went through the override

    const std::vector<std::pair<std::string, std::string>> expected{
        {"get", "GET"}, {"post", "POST"}, {"put", "PUT"}, {"delete", "DELETE"}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(answers[i].tag, expected[i].first);
        EXPECT_TRUE(answers[i].succeeded);
        EXPECT_EQ(answers[i].code, 200);
        EXPECT_EQ(echoField(answers[i].body, "method"), expected[i].second);
    }
    EXPECT_EQ(echoField(answers[1].body, "body"), "p");
    EXPECT_EQ(echoField(answers[2].body, "body"), "u");
    EXPECT_EQ(answers[4].tag, "missing");
    EXPECT_FALSE(answers[4].succeeded);
    EXPECT_EQ(answers[4].code, 404);
    EXPECT_EQ(answers[4].body, "status 404");
    service->release();
}

TEST_F(RestLayerTest, FailedTransferAnswersWithItsErrorText) {
    std::string closedUrl;
    {
        HttpTestServer gone;
        closedUrl = gone.url("/echo");
    }
    auto* service = new Service(&answers);
    service->httpPost(closedUrl, "e30=", "refused", "", "");
    ASSERT_TRUE(waitForAnswers(1));
    EXPECT_EQ(answers[0].tag, "refused");
    EXPECT_FALSE(answers[0].succeeded);
    EXPECT_EQ(answers[0].code, -1);
    EXPECT_FALSE(answers[0].body.empty());
    service->release();
}

TEST_F(RestLayerTest, Base64JsonExchange) {
    auto* service = new Service(&answers);
    std::string json;
    UIJson::setString(json, "user", "dr.who");
    UIJson::setString(json, "password", "p+w/d=");
    service->httpPost(server.url("/exchange"), cocos2d::safeBase64EncodeString(json), "login", "", "");
    ASSERT_TRUE(waitForAnswers(1));
    ASSERT_TRUE(answers[0].succeeded);
    ASSERT_EQ(answers[0].code, 200);
    const std::string reply = cocos2d::safeBase64DecodeString(answers[0].body);
    EXPECT_EQ(UIJson::getString(reply, "Status"), "0");
    EXPECT_EQ(UIJson::getString(reply, "user"), "dr.who");
    service->release();
}

TEST_F(RestLayerTest, DownloadAnswersWithTheFileAndItsSize) {
    auto* service = new Service(&answers);
    const std::string path = tempPath("downloads/new/package.apk");
    cocos2d::FileUtils::getInstance()->removeDirectory(tempPath("downloads"));
    service->download(server.url("/bytes?n=1234"), "e30=", path, "updateApp", 1, "", "");
    service->download(server.url("/bytes?n=10&code=206"), "", tempPath("downloads/part.bin"), "partial", 1, "", "");
    service->download(server.url("/status?code=404"), "", tempPath("downloads/none.bin"), "missing", 1, "", "");
    ASSERT_TRUE(waitForAnswers(3));

    EXPECT_EQ(answers[0].tag, "updateApp");
    EXPECT_TRUE(answers[0].succeeded);
    EXPECT_EQ(answers[0].body, "{\"localFile\":\"" + path + "\",\"fileSize\":\"1234\"}");
    EXPECT_EQ(cocos2d::FileUtils::getInstance()->getFileSize(path), 1234);

    // Only status 200 counts as a downloaded file; anything else is a failure and stores nothing.
    EXPECT_FALSE(answers[1].succeeded);
    EXPECT_EQ(answers[1].code, 206);
    EXPECT_EQ(cocos2d::FileUtils::getInstance()->getFileSize(tempPath("downloads/part.bin")), -1);
    EXPECT_FALSE(answers[2].succeeded);
    EXPECT_EQ(answers[2].code, 404);
    EXPECT_EQ(answers[2].body, "");
    service->release();
}

TEST_F(RestLayerTest, UploadSendsTheFileAndTheInfoText) {
    const std::string path = tempPath("capture.jpg");
    cocos2d::FileUtils::getInstance()->createDirectory(tempPath(""));
    const std::string content = HttpTestServer::patternBytes(300000);
    {
        std::ofstream out(path, std::ios::binary);
        out << content;
    }
    auto* service = new Service(&answers);
    service->upload("dcmfile", "{\"name\":\"capture\"}", path, "image/jpeg", "upload", server.url("/upload"), "", "");
    ASSERT_TRUE(waitForAnswers(1));
    EXPECT_EQ(answers[0].tag, "upload");
    ASSERT_TRUE(answers[0].succeeded) << answers[0].body;
    EXPECT_EQ(echoField(answers[0].body, "file"),
              "dcmfile|capture.jpg|image/jpeg|300000|" + std::to_string(HttpTestServer::checksum(content)));
    EXPECT_EQ(echoField(answers[0].body, "info"), "uploadInfo:{\"name\":\"capture\"}");
    service->release();
}

TEST_F(RestLayerTest, NoAnswerReachesAnOwnerThatIsGoneOrNeverSetItsTarget) {
    auto* gone = new Service(&answers);
    gone->httpPost(server.url("/hold"), "", "in flight", "", "");
    gone->httpPost(server.url("/echo?q=queued"), "", "queued", "", "");
    ASSERT_TRUE(server.waitForHeld(1));
    gone->release();  // destroyed while one request runs and one waits

    auto* untargeted = new Service(&answers, false);
    untargeted->httpPost(server.url("/echo?q=untargeted"), "", "untargeted", "", "");
    server.releaseHeld();

    auto* witness = new Service(&answers);
    witness->httpPost(server.url("/echo?q=witness"), "", "witness", "", "");
    ASSERT_TRUE(waitForAnswers(1));
    step(3);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].tag, "witness");
    EXPECT_EQ(server.requestLog(),
              (std::vector<std::string>{"/hold", "/echo?q=untargeted", "/echo?q=witness"}));
    untargeted->release();
    witness->release();
}

// A data source talks through the same layer: its requests are targeted at itself, cancelling drops
// the ones still waiting, and the exit purge takes the client down with the other services.
TEST_F(RestLayerTest, DataSourceCancelsItsQueuedRequestsAndThePurgeEndsTheClient) {
    struct Source : NSUI::NSDatas {
        std::vector<Answer>* answers = nullptr;
        void onHttpResponse(UIHttpResponse* response) override {
            answers->push_back({response->tag, response->succeeded, response->responseCode, response->body});
        }
    };
    auto* source = new Source();
    source->answers = &answers;
    ASSERT_TRUE(source->init());
    EXPECT_EQ(source->getRequestTarget(), source);

    source->httpPost(server.url("/hold"), "", "running", "", "");
    source->httpPost(server.url("/echo?q=waiting"), "", "waiting", "", "");
    ASSERT_TRUE(server.waitForHeld(1));
    source->cancelRequests();
    server.releaseHeld();

    source->httpPost(server.url("/echo?q=after"), "", "after", "", "");
    ASSERT_TRUE(waitForAnswers(1));
    step(3);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].tag, "after");
    EXPECT_EQ(server.requestLog(), (std::vector<std::string>{"/hold", "/echo?q=after"}));

    purgeServices();
    EXPECT_FALSE(NSHttpClient::hasInstance());
    source->release();  // destroyed after the purge: must not start a new client
    EXPECT_FALSE(NSHttpClient::hasInstance());
}

TEST(RestLayerBase64, FollowsRfc4648) {
    auto encode = [](const std::string& text) {
        return NSUI::Base64Encode(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    };
    EXPECT_EQ(encode(""), "");
    EXPECT_EQ(encode("f"), "Zg==");
    EXPECT_EQ(encode("fo"), "Zm8=");
    EXPECT_EQ(encode("foo"), "Zm9v");
    EXPECT_EQ(encode("foob"), "Zm9vYg==");
    EXPECT_EQ(encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(encode("foobar"), "Zm9vYmFy");
    const unsigned char high[] = {0xFF, 0xFE, 0x80};
    EXPECT_EQ(NSUI::Base64Encode(high, sizeof high), "//6A");
    EXPECT_EQ(NSUI::Base64Encode(nullptr, 0), "");
}
