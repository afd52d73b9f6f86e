// Verification of peers against storescp, closed ports and a listener that never answers, all
// on 127.0.0.1: one answer per known node, only answering hosts in a sweep, one sweep at a
// time, no duplicate known nodes, and a stop that silences everything at once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dcmLib.h"
#include "support/DicomPeers.h"
#include "support/DicomTestData.h"

using namespace qvtest;

namespace {

// Calls echo with the texts copied into 100-byte buffers, as the program does.
void echo(redIRI::dcmEcho& e, const std::vector<std::string>& entries, bool sweep) {
  std::vector<std::vector<char>> buffers;
  std::vector<char*> pointers;
  for (const std::string& s : entries) {
    buffers.emplace_back(100, '\0');
    s.copy(buffers.back().data(), 99);
  }
  for (auto& b : buffers) pointers.push_back(b.data());
  e.echo(pointers.data(), static_cast<int>(pointers.size()), sweep);
}

std::vector<Message> answersFor(const std::vector<Message>& all, int port) {
  std::vector<Message> out;
  for (const Message& m : all)
    if (m.code == 4 && jsonField(m.text, "port") == std::to_string(port)) out.push_back(m);
  return out;
}

std::vector<Message> answersFor(const MessageCapture& messages, int port) { return answersFor(messages.messages(), port); }

}  // namespace

TEST(Echo, EveryKnownNodeIsAnsweredOnceWithinTheTimeout) {
  TempDir dir;
  StorePeer live(dir);
  ASSERT_TRUE(live.ready());
  MessageCapture messages;
  redIRI::dcmEcho e;
  std::vector<std::string> entries = {"Live node," + std::string("127.0.0.1,") + std::to_string(live.port()),
                                      "Bad address,300.1.1.1,104", "Bad port,127.0.0.1,0"};
  std::vector<int> dead;
  for (int i = 0; i < 6; ++i) {
    dead.push_back(freePort());
    entries.push_back("Dead, \"old\" {" + std::to_string(i) + "},127.0.0.1," + std::to_string(dead.back()));
  }
  const long long start = nowMs();
  echo(e, entries, false);
  ASSERT_TRUE(messages.waitForCount(4, entries.size(), 6000)) << messages.withCode(4).size() << " answers";
  EXPECT_LT(nowMs() - start, 6000);

  const std::vector<Message> liveAnswer = answersFor(messages, live.port());
  ASSERT_EQ(liveAnswer.size(), 1u);
  EXPECT_EQ(liveAnswer[0].text, "{\"ok\":\"1\",\"appid\":\"dicom_127.0.0.1_" + std::to_string(live.port()) +
                                    "\",\"name\":\"Live node\",\"port\":\"" + std::to_string(live.port()) +
                                    "\",\"ip\":\"127.0.0.1\"}");
  for (int port : dead) {
    const std::vector<Message> a = answersFor(messages, port);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(jsonField(a[0].text, "ok"), "0");
    // A name from the peer list cannot break the flat JSON the program reads.
    EXPECT_EQ(jsonField(a[0].text, "name").substr(0, 12), "Dead_ _old_ ");
    EXPECT_EQ(jsonField(a[0].text, "ip"), "127.0.0.1");
  }
  for (const Message& m : messages.withCode(4)) {
    if (jsonField(m.text, "name") == "Bad address" || jsonField(m.text, "name") == "Bad port") {
      EXPECT_EQ(jsonField(m.text, "ok"), "0");
    }
  }
}

TEST(Echo, SweepsReportAnsweringHostsOnlyAndOneSweepRunsAtATime) {
  TempDir dir;
  StorePeer first(dir), second(dir);
  ASSERT_TRUE(first.ready() && second.ready());
  SilentListener hanging;
  MessageCapture messages;
  redIRI::dcmEcho e;

  // 127.0.0.x are all this machine; each entry names its own port.
  std::vector<std::string> sweep = {"127.0.0.1," + std::to_string(first.port()), "not an address,4587"};
  for (int host = 2; host <= 6; ++host) sweep.push_back("127.0.0." + std::to_string(host) + "," + std::to_string(freePort()));
  echo(e, sweep, true);
  ASSERT_TRUE(messages.waitForCount(4, 1, 5000));
  const Message found = messages.withCode(4)[0];
  EXPECT_EQ(jsonField(found.text, "ok"), "1");
  EXPECT_EQ(jsonField(found.text, "ip"), "127.0.0.1");
  EXPECT_EQ(jsonField(found.text, "name"), "127.0.0.1") << "a peer answering as ANY-SCP is named by its address";

  // A sweep that hangs on a peer; a second sweep asked for meanwhile is ignored.
  std::vector<std::string> held = {"127.0.0.1," + std::to_string(hanging.port())};
  bool accepted = false;
  const long long deadline = nowMs() + 5000;
  while (!accepted && nowMs() < deadline) {
    echo(e, held, true);  // ignored until the first sweep has ended
    accepted = hanging.acceptOne(100);
  }
  ASSERT_TRUE(accepted);
  echo(e, {"127.0.0.1," + std::to_string(second.port())}, true);
  // Known nodes are not held up by a sweep.
  echo(e, {"Second,127.0.0.1," + std::to_string(second.port())}, false);
  ASSERT_TRUE(messages.waitFor(
      [&](const std::vector<Message>& all) { return answersFor(all, second.port()).size() == 1; }, 5000));
  EXPECT_EQ(jsonField(answersFor(messages, second.port())[0].text, "name"), "Second");

  // Once the hanging peer vanishes the sweep ends, silently, and sweeps are taken again.
  hanging.dropConnections();
  const long long until = nowMs() + 5000;
  while (answersFor(messages, first.port()).size() < 2 && nowMs() < until) {
    echo(e, {"127.0.0.1," + std::to_string(first.port())}, true);
    messages.waitForCount(4, messages.withCode(4).size() + 1, 50);
  }
  EXPECT_GE(answersFor(messages, first.port()).size(), 2u);
  EXPECT_EQ(answersFor(messages, hanging.port()).size(), 0u);
  EXPECT_EQ(answersFor(messages, second.port()).size(), 1u) << "the sweep asked for during a sweep never ran";
}

TEST(Echo, AKnownNodeWaitingIsNotQueuedTwiceAndStopSilencesAtOnce) {
  SilentListener hanging;
  MessageCapture messages;
  redIRI::dcmEcho e;
  const std::string entry = "Hanging,127.0.0.1," + std::to_string(hanging.port());
  echo(e, {entry}, false);
  ASSERT_TRUE(hanging.acceptOne(5000));
  echo(e, {entry, entry}, false);
  EXPECT_FALSE(hanging.acceptOne(200)) << "the node already running was queued again";
  hanging.dropConnections();
  ASSERT_TRUE(messages.waitForCount(4, 1, 5000));
  EXPECT_EQ(jsonField(messages.withCode(4)[0].text, "ok"), "0");

  // A stop while an echo hangs: it returns at once and nothing is reported afterwards.
  // (The entry counts as running until its answer has been delivered.)
  messages.clear();
  bool accepted = false;
  for (const long long deadline = nowMs() + 5000; !accepted && nowMs() < deadline;) {
    echo(e, {entry}, false);
    accepted = hanging.acceptOne(100);
  }
  ASSERT_TRUE(accepted);
  const long long start = nowMs();
  e.stop();
  EXPECT_LT(nowMs() - start, 500);
  echo(e, {entry}, false);
  EXPECT_FALSE(hanging.acceptOne(200)) << "a stopped object starts nothing";
  EXPECT_TRUE(messages.messages().empty());
}
