// The storage server's threads under contention: eight senders at once share a receive budget
// with room for one of their images, so those that overlap wait for room and are woken as others give theirs
// back; one connection's thread fails to start. Every image is stored and every slot given back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dcmNetwork.h"
#include "support/DicomPeers.h"
#include "support/DicomTestData.h"
#include "support/ServerFixture.h"

using namespace qvtest;

TEST(ServerThreads, SendersSharingATightBudgetAreAllStored) {
  MessageCapture messages;
  CallbackCapture log;
  redIRI::detail::ServerBounds bounds;
  // A small image takes some 1,200 bytes and the first 64 KiB charged for its tree.
  bounds.receiveBudget = 100000;
  bounds.failedThreadStarts = 1;
  redIRI::detail::setServerBounds(bounds);
  ServerFixture f;
  f.server.setRoot(f.root.c_str());
  ASSERT_TRUE(f.begin());

  Peer refused({"echoscu", "127.0.0.1", std::to_string(f.port)}, f.dir.file("echo.log"));
  EXPECT_NE(refused.wait(20000), 0);
  std::vector<std::unique_ptr<Peer>> senders;
  for (int i = 0; i < 8; ++i) {
    SeriesSpec spec;
    spec.patientId = "T" + std::to_string(i);
    std::vector<std::string> argv = {"storescu", "-R", "127.0.0.1", std::to_string(f.port)};
    for (const std::string& file : writeSeries(f.dir.file("s" + std::to_string(i)), spec, 3)) argv.push_back(file);
    senders.push_back(std::make_unique<Peer>(argv, f.dir.file("storescu" + std::to_string(i) + ".log")));
  }
  for (auto& s : senders) EXPECT_EQ(s->wait(60000), 0) << s->log();
  EXPECT_TRUE(messages.waitForCount(3, 24, 20000)) << messages.withCode(3).size() << " records";
  EXPECT_EQ(filesBelow(f.root), 24u);
  f.server.StopDicomServer();
  redIRI::detail::setServerBounds();
  EXPECT_EQ(openConnections(log), 0) << "every counted connection was given back";
}
