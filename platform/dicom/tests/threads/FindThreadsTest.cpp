// Searches whose message callbacks call each other: each runs on its own find thread, and the
// program's callback, on one of them, may call the other search (here only to set its called
// title) while that one has an answer to post. Run in a child process under an alarm, so that a
// deadlock fails the test instead of hanging it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "dcmFindLimits.h"
#include "dcmLib.h"
#include "support/DicomPeers.h"
#include "support/FindFloodPeer.h"

using namespace qvtest;

namespace {

// Per find thread: the answers it has built and those delivered (the callback runs on the thread
// that posts).
std::mutex g_countLock;
std::map<std::thread::id, std::pair<int, int>> g_answers;

void countBuilt() {
  std::lock_guard<std::mutex> lock(g_countLock);
  ++g_answers[std::this_thread::get_id()].first;
}

// Another find thread has built an answer it has not delivered: it is posting it, and waits for
// the callback running on the calling thread to return.
bool anotherPosts() {
  std::lock_guard<std::mutex> lock(g_countLock);
  for (const auto& [thread, answers] : g_answers)
    if (thread != std::this_thread::get_id() && answers.first > answers.second) return true;
  return false;
}

void twoSearchesScenario() {
  ::alarm(60);
  constexpr size_t kMatches = 40;
  bool all = false;
  {
    MessageCapture messages;
    FindFloodPeer firstPeer(kMatches), secondPeer(kMatches);
    if (!firstPeer.ready() || !secondPeer.ready()) std::exit(2);
    redIRI::dcmFind first, second;
    redIRI::detail::setBeforeFindAnswerForTest(countBuilt);
    // Each answer waits, in the callback, until the other search posts an answer of its own; then
    // both searches are called.
    messages.onMessage([&](const Message& m) {
      if (m.code != 5) return;
      {
        std::lock_guard<std::mutex> lock(g_countLock);
        ++g_answers[std::this_thread::get_id()].second;
      }
      const long long end = nowMs() + 5000;
      while (!anotherPosts() && first.isFinding() && second.isFinding() && nowMs() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      first.setDefaultCalledAETitle("ANY-SCP");
      second.setDefaultCalledAETitle("ANY-SCP");
    });
    first.findPatientByName("127.0.0.1", std::to_string(firstPeer.port()).c_str(), "", "", "*");
    second.findPatientByName("127.0.0.1", std::to_string(secondPeer.port()).c_str(), "", "", "*");
    all = messages.waitForCount(5, 2 * kMatches, 40000);
    messages.onMessage(nullptr);
    redIRI::detail::setBeforeFindAnswerForTest(nullptr);
  }
  std::exit(all ? 0 : 3);
}

}  // namespace

TEST(FindThreads, TwoSearchesMayCallEachOtherFromTheirCallbacks) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(twoSearchesScenario(), testing::ExitedWithCode(0), "");
}
