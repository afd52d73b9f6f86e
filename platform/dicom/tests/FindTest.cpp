// Study and series queries against dcmqrscp on 127.0.0.1, cross-checked with findscu: one
// answer per match with every requested key, studies without and series with the modality key,
// values that can never be misread as keys, and failures reported once.
#include <gtest/gtest.h>

#include <dcmtk/dcmdata/dcdeftag.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dcmFile.h"
#include "dcmLib.h"
#include "dcmFindLimits.h"
#include "dcmNetwork.h"
#include "support/DicomPeers.h"
#include "support/FindFloodPeer.h"
#include "support/DicomTestData.h"

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

// How the program reads an answer: the text between the first "[" after the key's first
// occurrence and the next "]"; "<absent>" without the key.
std::string value(const std::string& answer, const std::string& key) {
  const size_t at = answer.find(key);
  if (at == std::string::npos) return "<absent>";
  const size_t open = answer.find('[', at);
  const size_t close = answer.find(']', open);
  if (open == std::string::npos || close == std::string::npos) return "<absent>";
  return answer.substr(open + 1, close - open - 1);
}

const char* const kStudyKeys[] = {"0008,0020", "0008,0030", "0008,0080", "0008,1030", "0010,0010",
                                  "0010,0020", "0010,0030", "0010,0040", "0020,000d", "0020,0010"};
const char* const kSeriesKeys[] = {"0008,0021", "0008,0031", "0008,0060", "0008,103e",
                                   "0020,000d", "0020,000e", "0020,0011", "0020,1209"};

struct Archive {
  TempDir dir;
  SeriesSpec john1, john2, jane, smith;
  std::unique_ptr<ArchivePeer> peer;

  Archive() {
    john1.studyUid = john2.studyUid = newTestUid();
    john1.studyDescription = john2.studyDescription = "[x] 0010,0010 head";
    john2.modality = "MR";
    john2.seriesNumber = "2";
    jane.patientName = "DOE^JANE";
    jane.patientId = "P2";
    smith.patientName = "SMITH^ANNA";
    smith.patientId = "P3";
    std::vector<std::string> files;
    for (auto [spec, count] : {std::pair<SeriesSpec*, int>{&john1, 3}, {&john2, 2}, {&jane, 2}, {&smith, 1}}) {
      for (const std::string& f : writeSeries(dir.file("data/" + std::to_string(files.size())), *spec, count))
        files.push_back(f);
      redIRI::detail::DicomFile file;
      if (file.open(files.back().c_str(), "test")) {
        spec->studyUid = file.stringValue(DCM_StudyInstanceUID);
        spec->seriesUid = file.stringValue(DCM_SeriesInstanceUID);
      }
    }
    peer = std::make_unique<ArchivePeer>(dir, files);
  }
  std::string port() const { return std::to_string(peer->port()); }
};

// Polls `done` until it holds or timeoutMs pass; its last answer.
template <class Done>
bool until(Done done, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return done();
}

}  // namespace

TEST(Find, StudiesAndSeriesWithEveryKey) {
  Archive archive;
  ASSERT_TRUE(archive.peer->ready());
  MessageCapture messages;
  redIRI::dcmFind find;
  const std::string port = archive.port();
  // Queries run one after the other, so their answers arrive in this order. A search waits for
  // the one before to end, since it would give that one up.
  auto ended = [&] { return messages.waitFor([&](const std::vector<Message>&) { return !find.isFinding(); }, 10000); };
  find.findPatientByName("127.0.0.1", port.c_str(), "", "", "*DOE*");
  find.findStudyByUID("127.0.0.1", port.c_str(), "", "", archive.john1.studyUid.c_str());
  ASSERT_TRUE(ended());
  find.findPatientByName("127.0.0.1", port.c_str(), "", "", "*NOBODY*");
  ASSERT_TRUE(ended());
  find.findPatientByName("127.0.0.1", port.c_str(), "", "", "**");
  find.findStudyByUID("127.0.0.1", port.c_str(), "", "", archive.smith.studyUid.c_str());
  ASSERT_TRUE(messages.waitForCount(5, 8, 10000)) << messages.withCode(5).size() << " answers";
  const std::vector<Message> answers = messages.withCode(5);
  ASSERT_EQ(answers.size(), 8u);
  EXPECT_TRUE(messages.withCode(6).empty());

  std::set<std::string> doeStudies, allStudies, johnSeries;
  for (size_t i = 0; i < answers.size(); ++i) {
    const std::string& a = answers[i].text;
    SCOPED_TRACE(a);
    const bool series = i == 2 || i == 3 || i == 7;
    EXPECT_EQ(a.find("0008,0060") != std::string::npos, series);
    for (const char* key : series ? std::vector<const char*>(std::begin(kSeriesKeys), std::end(kSeriesKeys))
                                  : std::vector<const char*>(std::begin(kStudyKeys), std::end(kStudyKeys)))
      EXPECT_NE(a.find(std::string(key) + "["), std::string::npos) << key;
    if (i < 2) doeStudies.insert(value(a, "0020,000d"));
    if (i >= 4 && i < 7) allStudies.insert(value(a, "0020,000d"));
    if (i == 2 || i == 3) johnSeries.insert(value(a, "0020,000e"));
    if (!series && value(a, "0010,0010") == "DOE^JOHN") {
      // The description cannot be misread as a key or cut the value.
      EXPECT_EQ(value(a, "0008,1030"), "(x) 0010.0010 head");
      EXPECT_EQ(value(a, "0010,0020"), "P1");
      EXPECT_EQ(value(a, "0008,0020"), "20190304");
      EXPECT_EQ(value(a, "0008,0080"), "");
    }
  }
  EXPECT_EQ(doeStudies, (std::set<std::string>{archive.john1.studyUid, archive.jane.studyUid}));
  EXPECT_EQ(allStudies.size(), 3u);
  EXPECT_EQ(johnSeries, (std::set<std::string>{archive.john1.seriesUid, archive.john2.seriesUid}));
  EXPECT_EQ(value(answers[7].text, "0020,000e"), archive.smith.seriesUid);
  EXPECT_EQ(value(answers[7].text, "0008,0060"), "CT");

  // findscu sees the same studies.
  const std::string out = archive.dir.file("findscu");
  fs::create_directories(out);
  Peer findscu({"findscu", "-S", "-aec", "ANY-SCP", "-X", "-od", out, "-k", "QueryRetrieveLevel=STUDY", "-k",
                "PatientName=*DOE*", "-k", "StudyInstanceUID", "127.0.0.1", port},
               archive.dir.file("findscu.log"));
  ASSERT_EQ(findscu.wait(10000), 0) << findscu.log();
  std::set<std::string> reference;
  for (const auto& entry : fs::directory_iterator(out)) {
    redIRI::detail::DicomFile file;
    ASSERT_TRUE(file.open(entry.path().c_str(), "test"));
    reference.insert(file.stringValue(DCM_StudyInstanceUID));
  }
  EXPECT_EQ(reference, doeStudies);
}

TEST(Find, FailuresAreReportedOnceAndANewSearchGivesUpASilentOne) {
  Archive archive;
  ASSERT_TRUE(archive.peer->ready());
  MessageCapture messages;
  CallbackCapture log;
  redIRI::dcmFind find;
  // Each search waits for the last one's answer: a new search gives up the one before.
  auto search = [&](const std::string& address, const std::string& port, const char* calledAE, const char* name,
                    int timeoutMs = 15000) {
    const size_t before = messages.messages().size();
    find.findPatientByName(address.c_str(), port.c_str(), "", calledAE, name);
    return messages.waitFor([&](const std::vector<Message>& all) { return all.size() > before; }, timeoutMs);
  };
  const std::string closed = std::to_string(freePort());
  ASSERT_TRUE(search("127.0.0.1", closed, "", "*DOE*"));
  ASSERT_TRUE(search("no.such.host", "104", "", "*DOE*"));
  // An archive that does not know the called title refuses the association.
  find.setDefaultCalledAETitle("NOT-THE-ARCHIVE");
  ASSERT_TRUE(search("127.0.0.1", archive.port(), "", "*DOE*"));
  find.setDefaultCalledAETitle("");
  ASSERT_TRUE(search("127.0.0.1", archive.port(), "ANY-SCP", "*SMITH*"));
  EXPECT_EQ(codesOf(messages.messages()), (std::vector<int>{6, 6, 6, 5}));
  for (const Message& m : messages.withCode(6)) EXPECT_EQ(m.text.rfind("find failed: ", 0), 0u) << m.text;
  EXPECT_TRUE(log.logged("DICOM find on 127.0.0.1:" + closed + " failed"));

  // A server that accepts and says nothing is given up by a new search, without a report. Waiting
  // behind it, the archive's answer could come only once the silent association timed out.
  messages.clear();
  SilentListener silent;
  const auto silentTimesOut =
      std::chrono::steady_clock::now() + std::chrono::seconds(redIRI::detail::kClientAcseTimeout);
  find.findPatientByName("127.0.0.1", std::to_string(silent.port()).c_str(), "", "", "*DOE*");
  ASSERT_TRUE(silent.acceptOne(5000));
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(silentTimesOut - std::chrono::steady_clock::now());
  ASSERT_TRUE(search("127.0.0.1", archive.port(), "", "*SMITH*", static_cast<int>(left.count())));
  EXPECT_EQ(codesOf(messages.messages()), (std::vector<int>{5}));

  // After stop nothing is asked or answered.
  messages.clear();
  find.stop();
  find.findPatientByName("127.0.0.1", archive.port().c_str(), "", "", "**");
  EXPECT_FALSE(messages.waitForCount(5, 1, 300));
}

// The program may call the object from its message callback, on the thread that posts the match:
// a series query asked for as the first study arrives runs after the search.
TEST(Find, TheMessageCallbackMayAskForMore) {
  MessageCapture messages;
  redIRI::dcmFind find;
  FindFloodPeer peer(3);
  ASSERT_TRUE(peer.ready());
  const std::string port = std::to_string(peer.port());
  std::atomic<bool> asked{false};
  messages.onMessage([&](const Message& m) {
    if (m.code == 5 && !asked.exchange(true) && find.isFinding())
      find.findStudyByUID("127.0.0.1", port.c_str(), "", "", "1.2.3");
  });
  find.findPatientByName("127.0.0.1", port.c_str(), "", "", "*");
  ASSERT_TRUE(messages.waitForCount(5, 6, 20000));
  EXPECT_TRUE(until([&] { return peer.finished() == 2; }, 20000));
}

// A peer that keeps answering: its lines are bounded for the whole search whatever the number of
// matches, and a search past its bound is given up (cancelled, then aborted) and says it was cut.
TEST(Find, APeerFloodingMatchesIsCutAndLogsBoundedLines) {
  MessageCapture messages;
  CallbackCapture log;
  redIRI::dcmFind find;
  auto lines = [&](const std::string& fragment) {
    const auto all = log.logLines();
    return std::count_if(all.begin(), all.end(), [&](const std::string& l) { return l.find(fragment) != std::string::npos; });
  };
  {
    // Within the bound: every match listed, DCMTK's warnings on their order written a few times.
    FindFloodPeer peer(300);
    ASSERT_TRUE(peer.ready());
    find.findPatientByName("127.0.0.1", std::to_string(peer.port()).c_str(), "", "", "*");
    ASSERT_TRUE(until([&] { return peer.finished() == 1 && !find.isFinding(); }, 20000));
    EXPECT_EQ(messages.withCode(5).size(), 300u);
    EXPECT_TRUE(messages.withCode(6).empty());
    EXPECT_GT(lines("DCMTK"), 0);
    EXPECT_LE(lines("DCMTK"), 3 * 4);
    EXPECT_TRUE(log.logged("DICOM find on 127.0.0.1:" + std::to_string(peer.port()) + ": "));
    EXPECT_TRUE(log.logged("more lines left out of the log"));
  }
  messages.clear();
  log.clear();
  redIRI::detail::setFindMatchLimit(40);
  FindFloodPeer peer(100000);
  ASSERT_TRUE(peer.ready());
  find.findPatientByName("127.0.0.1", std::to_string(peer.port()).c_str(), "", "", "*");
  ASSERT_TRUE(messages.waitForCount(6, 1, 20000));
  ASSERT_TRUE(until([&] { return !find.isFinding() && peer.cancelled(); }, 20000));
  EXPECT_EQ(messages.withCode(5).size(), 40u);
  ASSERT_EQ(messages.withCode(6).size(), 1u);
  EXPECT_EQ(messages.withCode(6)[0].text.rfind("find cut: ", 0), 0u) << messages.withCode(6)[0].text;
  EXPECT_LT(peer.sent(), 100000u);
  EXPECT_LE(lines("DCMTK"), 3 * 4);

  // The series of the studies listed are still asked for, each query held to its bound, until the
  // search holds four times that in all; then no more is asked, and the user was told once.
  for (int study = 0; study < 5; ++study)
    find.findStudyByUID("127.0.0.1", std::to_string(peer.port()).c_str(), "", "", "1.2.3");
  ASSERT_TRUE(messages.waitForCount(5, 160, 20000));
  ASSERT_TRUE(until([&] { return !find.isFinding(); }, 20000));
  redIRI::detail::setFindMatchLimit();
  EXPECT_EQ(messages.withCode(5).size(), 160u);
  EXPECT_EQ(messages.withCode(6).size(), 1u);
}

// A search a peer floods, its series asked for as each study arrives (as the program does): its log
// lines are bounded for the whole search, its series queries included, however many queries it
// makes or matches it is sent.
TEST(Find, ASearchLogsBoundedLinesAcrossItsQueries) {
  struct Row {
    const char* what;
    size_t matches;     // every query's answer, each match drawing DCMTK's warnings
    size_t queryLimit;  // lowered bound on one query's matches
    size_t listed;      // the matches the search lists in all
    std::string name;   // the patient every match names ("" for names of their own)
  };
  // Cut as an imported image's name is, to 255 bytes.
  const std::string longName = std::string(300, 'N') + "^\nLONG";
  const Row rows[] = {
      // The search is cut at its bound; the series of the studies listed still asked for.
      {"a peer sending matches without end", 100000, 40, 160, ""},
      // Every study's series answer draws warnings: one query per study, 41 in all.
      {"studies whose series answers draw warnings", 40, redIRI::detail::kMaxQueryMatches, 40 + 40 * 40,
       longName},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    CallbackCapture log;
    log.clear();
    MessageCapture messages;
    redIRI::detail::setFindMatchLimit(row.queryLimit);
    FindFloodPeer peer(row.matches, row.name);
    ASSERT_TRUE(peer.ready());
    const std::string port = std::to_string(peer.port());
    {
      redIRI::dcmFind find;
      messages.onMessage([&](const Message& m) {
        if (m.code == 5 && value(m.text, "0008,0060") == "<absent>")
          find.findStudyByUID("127.0.0.1", port.c_str(), "", "", value(m.text, "0020,000d").c_str());
      });
      find.findPatientByName("127.0.0.1", port.c_str(), "", "", "*");
      EXPECT_TRUE(messages.waitForCount(5, row.listed, 60000)) << messages.withCode(5).size();
      EXPECT_TRUE(until([&] { return !find.isFinding(); }, 60000));
      messages.onMessage(nullptr);
    }
    redIRI::detail::setFindMatchLimit();
    EXPECT_EQ(messages.withCode(5).size(), row.listed);
    if (!row.name.empty()) {
      EXPECT_EQ(value(messages.withCode(5)[0].text, "0010,0010"), longName.substr(0, 255));
    }
    // Three lines of each kind (DCMTK's warnings on order and on spaces, the cuts) and the count of
    // those left out: 10 or fewer. Each query logging on its own would write that for every query.
    const size_t lines = log.logLines().size();
    EXPECT_LE(lines, 16u);
    EXPECT_TRUE(log.logged("DICOM find on 127.0.0.1:" + port + ": ")) << lines;
  }
}

namespace {
redIRI::dcmFind* g_givingUp = nullptr;
void giveUpBeforeAnswer() {
  if (redIRI::dcmFind* find = g_givingUp) {
    g_givingUp = nullptr;
    find->giveUp();
  }
}
}  // namespace

// A search given up while its answer is on its way posts nothing after the give-up: the answer is
// checked against the search's round where a new round begins.
TEST(Find, AnAnswerBuiltAsItsSearchIsGivenUpIsNotPosted) {
  MessageCapture messages;
  redIRI::dcmFind find;
  FindFloodPeer peer(5);
  ASSERT_TRUE(peer.ready());
  g_givingUp = &find;
  redIRI::detail::setBeforeFindAnswerForTest(giveUpBeforeAnswer);
  find.findPatientByName("127.0.0.1", std::to_string(peer.port()).c_str(), "", "", "*");
  const bool ended = until([&] { return !g_givingUp && !find.isFinding(); }, 20000);
  redIRI::detail::setBeforeFindAnswerForTest(nullptr);
  ASSERT_TRUE(ended);
  EXPECT_TRUE(messages.withCode(5).empty());
  EXPECT_TRUE(messages.withCode(6).empty());
}

TEST(Find, WhoeverTheAnswerWaitsForMayAskWhetherTheSearchStillRuns) {
  // Answers are posted under the search's lock; a program whose message callback waits on a thread
  // that asks whether a search still runs (a screen's check, a test's wait) must get its answer.
  MessageCapture messages;
  redIRI::dcmFind find;
  FindFloodPeer peer(3);
  ASSERT_TRUE(peer.ready());
  std::atomic<int> blocked{0};
  std::vector<std::thread> askers;  // joined at the end: a blocked one ends once the callback returns
  messages.onMessage([&](const Message& m) {
    if (m.code != 5) return;
    auto answered = std::make_shared<std::promise<void>>();
    std::future<void> answer = answered->get_future();
    askers.emplace_back([&find, answered] {
      find.isFinding();
      answered->set_value();
    });
    if (answer.wait_for(std::chrono::seconds(5)) != std::future_status::ready) ++blocked;
  });
  find.findPatientByName("127.0.0.1", std::to_string(peer.port()).c_str(), "", "", "*");
  ASSERT_TRUE(messages.waitForCount(5, 3, 30000));
  ASSERT_TRUE(until([&] { return !find.isFinding(); }, 20000));
  messages.onMessage(nullptr);
  for (std::thread& asker : askers) asker.join();
  EXPECT_EQ(blocked, 0);
}
