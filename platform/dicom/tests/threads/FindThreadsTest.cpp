// Searches whose message callbacks call each other: each runs on its own find thread, and the
// program's callback, on one of them, may call the other search (to set its called title, or to
// give it up) while that one has an answer to post. Run in a child process under an alarm, so that
// a deadlock fails the test instead of hanging it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
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

// What a callback does while the other search has an answer on its way: every answer's sets both
// searches' called titles, or the second search's first answer gives the first search up (nothing
// of it may be delivered afterwards).
enum class Call { SetTitle, GiveUp };

void twoSearchesScenario(Call call) {
  ::alarm(60);
  constexpr size_t kMatches = 40;
  int status = 0;
  {
    MessageCapture messages;
    // The first search, to be given up, still answers when the second's answers come.
    FindFloodPeer firstPeer(call == Call::GiveUp ? 100 * kMatches : kMatches, "FIRST^SEARCH");
    FindFloodPeer secondPeer(kMatches, "SECOND^SEARCH");
    if (!firstPeer.ready() || !secondPeer.ready()) std::exit(2);
    redIRI::dcmFind first, second;
    redIRI::detail::setBeforeFindAnswerForTest(countBuilt);
    std::atomic<bool> givenUp{false};
    std::atomic<int> afterGiveUp{0};
    // Each answer waits, in the callback, until the other search posts an answer of its own; then
    // both searches are called.
    messages.onMessage([&](const Message& m) {
      if (m.code != 5) return;
      const bool ofFirst = m.text.find("FIRST^SEARCH") != std::string::npos;
      if (ofFirst && givenUp) ++afterGiveUp;
      {
        std::lock_guard<std::mutex> lock(g_countLock);
        ++g_answers[std::this_thread::get_id()].second;
      }
      if (call == Call::GiveUp && (ofFirst || givenUp)) return;
      const long long end = nowMs() + 5000;
      while (!anotherPosts() && first.isFinding() && second.isFinding() && nowMs() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (call == Call::GiveUp) {
        if (!anotherPosts()) return;  // the first search has no answer on its way yet
        first.giveUp();
        givenUp = true;
        return;
      }
      first.setDefaultCalledAETitle("ANY-SCP");
      second.setDefaultCalledAETitle("ANY-SCP");
    });
    first.findPatientByName("127.0.0.1", std::to_string(firstPeer.port()).c_str(), "", "", "*");
    second.findPatientByName("127.0.0.1", std::to_string(secondPeer.port()).c_str(), "", "", "*");
    const size_t wanted = call == Call::GiveUp ? kMatches : 2 * kMatches;
    const bool all = messages.waitFor(
        [&](const std::vector<Message>& all) {
          return std::count_if(all.begin(), all.end(), [&](const Message& m) {
                   return m.code == 5 && (call != Call::GiveUp || m.text.find("SECOND^SEARCH") != std::string::npos);
                 }) >= static_cast<long>(wanted);
        },
        40000);
    messages.onMessage(nullptr);
    redIRI::detail::setBeforeFindAnswerForTest(nullptr);
    status = !all ? 3 : call == Call::GiveUp && !givenUp ? 4 : afterGiveUp ? 5 : 0;
  }
  std::exit(status);
}

}  // namespace

TEST(FindThreads, TwoSearchesMayCallEachOtherFromTheirCallbacks) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (Call call : {Call::SetTitle, Call::GiveUp}) {
    SCOPED_TRACE(call == Call::SetTitle ? "sets the other's called title" : "gives the other up");
    EXPECT_EXIT(twoSearchesScenario(call), testing::ExitedWithCode(0), "");
  }
}
