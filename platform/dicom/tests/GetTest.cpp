// Series retrieval against dcmqrscp on 127.0.0.1, cross-checked with getscu: messages in their
// order with their exact formats, the series folder holding exactly the series, one retrieval
// at a time, the task list, removal of waiting and running tasks, failures and stop.
#include <gtest/gtest.h>

#include <dcmtk/dcmdata/dcdeftag.h>

#include <filesystem>
#include <future>
#include <set>
#include <string>
#include <vector>

#include "dcmFile.h"
#include "dcmLib.h"
#include "support/DicomPeers.h"
#include "support/DicomTestData.h"

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    out.push_back(text.substr(start, at - start));
    if (at == std::string::npos) return out;
    start = at + 1;
  }
}

std::set<std::string> sopUidsIn(const std::string& folder) {
  std::set<std::string> out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (!entry.is_regular_file()) continue;
    redIRI::detail::DicomFile file;
    if (file.open(entry.path().c_str(), "test")) out.insert(file.stringValue(DCM_SOPInstanceUID));
  }
  return out;
}

struct Archive {
  TempDir dir;
  SeriesSpec ct, mr;
  std::set<std::string> ctInstances;
  std::unique_ptr<ArchivePeer> peer;
  std::string downloads = dir.file("tmp/dicomdown/");

  Archive() {
    mr.studyUid = ct.studyUid = newTestUid();
    ct.seriesUid = newTestUid();
    mr.seriesUid = newTestUid();
    mr.modality = "MR";
    mr.seriesNumber = "2";
    std::vector<std::string> files = writeSeries(dir.file("data/ct"), ct, 4);
    ctInstances = sopUidsIn(dir.file("data/ct"));
    for (const std::string& f : writeSeries(dir.file("data/mr"), mr, 2)) files.push_back(f);
    peer = std::make_unique<ArchivePeer>(dir, files);
    fs::create_directories(downloads);
  }
  std::string port() const { return std::to_string(peer->port()); }
  void get(redIRI::dcmGet& g, const SeriesSpec& s, const std::string& name = "DOE^JOHN", const std::string& at = "") {
    const std::string p = at.empty() ? port() : at;
    g.getSeriesByUID("127.0.0.1", p.c_str(), "", "", s.studyUid.c_str(), s.seriesUid.c_str(), downloads.c_str(),
                     name.c_str(), s.seriesNumber.c_str(), s.modality.c_str());
  }
};

bool ended(const std::vector<Message>& all, size_t tasks) {
  size_t n = 0;
  for (const Message& m : all) n += (m.code == 10 || m.code == 11) ? 1 : 0;
  return n >= tasks;
}

}  // namespace

TEST(Get, RetrievesOneSeriesIntoItsFolder) {
  Archive archive;
  ASSERT_TRUE(archive.peer->ready());
  MessageCapture messages;
  redIRI::dcmGet get;
  archive.get(get, archive.ct);
  ASSERT_TRUE(messages.waitFor([](const std::vector<Message>& all) { return ended(all, 1); }, 15000));
  const std::vector<Message> all = messages.messages();
  ASSERT_GE(all.size(), 4u);
  EXPECT_EQ(all.front().code, 9);
  EXPECT_EQ(all.front().text, archive.ct.seriesUid);
  std::vector<Message> progress = messages.withCode(7);
  ASSERT_FALSE(progress.empty());
  for (const Message& m : progress) {
    const std::vector<std::string> fields = split(m.text, '|');
    ASSERT_EQ(fields.size(), 5u) << m.text;
    EXPECT_EQ(fields[0], archive.ct.seriesUid);
  }
  const std::vector<std::string> last = split(progress.back().text, '|');
  EXPECT_EQ(last[1], "0");
  EXPECT_EQ(last[2], "4");
  EXPECT_EQ(last[3], "0");
  EXPECT_EQ(all[all.size() - 2].code, 8);
  const std::string folder = all[all.size() - 2].text;
  EXPECT_EQ(folder, archive.downloads + archive.ct.seriesUid + "/");
  EXPECT_EQ(sopUidsIn(folder), archive.ctInstances) << "exactly the series' files";
  EXPECT_EQ(all.back().code, 10);
  EXPECT_EQ(all.back().text, "DOE^JOHN(1,CT)");
  EXPECT_EQ(get.getListSize(), 0);

  // getscu retrieves the same instances.
  const std::string out = archive.dir.file("getscu");
  fs::create_directories(out);
  Peer getscu({"getscu", "-S", "-aec", "ANY-SCP", "-od", out, "-k", "QueryRetrieveLevel=SERIES", "-k",
               "StudyInstanceUID=" + archive.ct.studyUid, "-k", "SeriesInstanceUID=" + archive.ct.seriesUid,
               "127.0.0.1", archive.port()},
              archive.dir.file("getscu.log"));
  ASSERT_EQ(getscu.wait(15000), 0) << getscu.log();
  EXPECT_EQ(sopUidsIn(out), archive.ctInstances);
}

TEST(Get, QueuedRetrievalsRunInTurnAndTheListShowsThem) {
  Archive archive;
  ASSERT_TRUE(archive.peer->ready());
  MessageCapture messages;
  redIRI::dcmGet get;
  // The first retrieval is held inside its start message while the list is examined.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  messages.onMessage([released](const Message& m) {
    if (m.code == 9) released.wait();
  });
  SeriesSpec unknown = archive.ct;
  unknown.seriesUid = newTestUid();
  archive.get(get, archive.ct);
  archive.get(get, archive.mr);
  archive.get(get, archive.ct);  // already queued: not twice
  archive.get(get, unknown, "Doe, Jr@home");
  EXPECT_EQ(get.getListSize(), 3);

  std::vector<char> buffer(3 * 1024);
  EXPECT_EQ(get.getList(buffer.data(), static_cast<int>(buffer.size())), 3);
  const std::vector<std::string> records = split(buffer.data(), '@');
  ASSERT_EQ(records.size(), 3u);
  for (const std::string& r : records) EXPECT_EQ(split(r, ',').size(), 10u) << r;
  const std::vector<std::string> first = split(records[0], ',');
  EXPECT_EQ(first[0], "127.0.0.1");
  EXPECT_EQ(first[1], archive.port());
  EXPECT_EQ(first[5], archive.ct.seriesUid);
  EXPECT_EQ(first[6], archive.downloads);
  EXPECT_EQ(split(records[2], ',')[7], "Doe_ Jr_home");
  // Whole records only.
  std::vector<char> small(records[0].size() + records[1].size() + 1);
  EXPECT_EQ(get.getList(small.data(), static_cast<int>(small.size())), 1);
  EXPECT_EQ(std::string(small.data()), records[0]);

  get.removeTask(archive.mr.seriesUid.c_str());  // waiting: dropped silently
  EXPECT_EQ(get.getListSize(), 2);
  release.set_value();
  ASSERT_TRUE(messages.waitFor([](const std::vector<Message>& all) { return ended(all, 2); }, 20000));

  const std::vector<Message> all = messages.messages();
  EXPECT_EQ(codesOf(all).front(), 9);
  std::vector<std::string> started;
  for (const Message& m : messages.withCode(9)) started.push_back(m.text);
  EXPECT_EQ(started, (std::vector<std::string>{archive.ct.seriesUid, unknown.seriesUid}));
  // The second starts after the first has ended; the unknown series stores nothing.
  size_t firstEnd = 0, secondStart = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i].code == 10) firstEnd = i;
    if (all[i].code == 9 && all[i].text == unknown.seriesUid) secondStart = i;
  }
  EXPECT_LT(firstEnd, secondStart);
  EXPECT_EQ(messages.withCode(8).size(), 1u);
  ASSERT_EQ(messages.withCode(11).size(), 1u);
  const std::vector<std::string> failed = split(messages.withCode(11)[0].text, ',');
  ASSERT_EQ(failed.size(), 10u);
  EXPECT_EQ(failed[5], unknown.seriesUid);
  EXPECT_EQ(failed[7], "Doe_ Jr_home");
  EXPECT_EQ(get.getListSize(), 0);
}

TEST(Get, RemovingTheRunningRetrievalCancelsIt) {
  Archive archive;
  ASSERT_TRUE(archive.peer->ready());
  MessageCapture messages;
  redIRI::dcmGet get;
  messages.onMessage([&](const Message& m) {
    if (m.code == 9) get.removeTask(m.text.c_str());
  });
  archive.get(get, archive.ct);
  ASSERT_TRUE(messages.waitFor([](const std::vector<Message>& all) { return ended(all, 1); }, 15000));
  EXPECT_EQ(messages.messages().back().code, 11);
  EXPECT_TRUE(messages.withCode(10).empty());
}

TEST(Get, FailuresAndStop) {
  Archive archive;
  ASSERT_TRUE(archive.peer->ready());
  MessageCapture messages;
  CallbackCapture log;
  {
    redIRI::dcmGet get;
    archive.get(get, archive.ct, "DOE^JOHN", std::to_string(freePort()));  // nothing listens
    SeriesSpec everything = archive.ct;
    everything.seriesUid.clear();
    archive.get(get, everything);                                            // would match the whole study
    get.setDefaultCalledAETitle("NOT-THE-ARCHIVE");                        // refused
    archive.get(get, archive.mr);
    ASSERT_TRUE(messages.waitFor([](const std::vector<Message>& all) { return ended(all, 3); }, 15000));
    EXPECT_EQ(codesOf(messages.messages()), (std::vector<int>{9, 11, 9, 11, 9, 11}));
    EXPECT_TRUE(log.logged("DICOM retrieval of series " + archive.ct.seriesUid));
  }

  // Stopped while running: nothing after the start message, and the destructor returns.
  messages.clear();
  redIRI::dcmGet get;
  messages.onMessage([&](const Message& m) {
    if (m.code == 9) get.stop();
  });
  archive.get(get, archive.ct);
  archive.get(get, archive.mr);
  ASSERT_TRUE(messages.waitForCount(9, 1, 5000));
  EXPECT_FALSE(messages.waitFor([](const std::vector<Message>& all) { return all.size() > 1; }, 500));
  EXPECT_EQ(codesOf(messages.messages()), (std::vector<int>{9}));
}
