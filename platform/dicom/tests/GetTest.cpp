// Series retrieval against dcmqrscp on 127.0.0.1, cross-checked with getscu: messages in their
// order with their exact formats, the series folder holding exactly the series, one retrieval
// at a time, the task list, removal of waiting and running tasks, failures and stop. A series
// stored compressed, from a peer that does not convert, arrives in the syntaxes it is stored in.
#include <gtest/gtest.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dcmFile.h"
#include "dcmDiskWrite.h"
#include "dcmFindLimits.h"
#include "dcmGetLimits.h"
#include "dcmLib.h"
#include "dcmParseBound.h"
#include "dcmStorage.h"
#include "dcmText.h"
#include "support/DicomPeers.h"
#include "support/DicomTestData.h"
#include "support/RetrievePeer.h"

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

// A discard's folder goes on the retrievals' thread: true once nothing is at path (a link itself
// included), false when something still is after ten seconds.
bool removedSoon(const std::string& path) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::error_code error;
  while (fs::exists(fs::symlink_status(path, error)) && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return !fs::exists(fs::symlink_status(path, error));
}

// A series whose UIDs the test knows (writeSeries makes them up where none are given).
SeriesSpec newSeries() {
  SeriesSpec spec;
  spec.studyUid = newTestUid();
  spec.seriesUid = newTestUid();
  return spec;
}

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

// The stored bytes of a file's Pixel Data: the native value, or every item of the encapsulated
// sequence in turn.
std::vector<uint8_t> storedPixelBytes(const std::string& path) {
  std::vector<uint8_t> out;
  DcmFileFormat file;
  DcmElement* element = nullptr;
  if (file.loadFile(path.c_str()).bad() || file.getDataset()->findAndGetElement(DCM_PixelData, element).bad())
    return out;
  auto* pixels = static_cast<DcmPixelData*>(element);
  const E_TransferSyntax xfer = file.getDataset()->getOriginalXfer();
  auto append = [&](DcmElement* e) {
    Uint8* data = nullptr;
    if (e->getUint8Array(data).good() && data) out.insert(out.end(), data, data + e->getLength());
  };
  if (!DcmXfer(xfer).isEncapsulated()) {
    append(pixels);
    return out;
  }
  DcmPixelSequence* sequence = nullptr;
  if (pixels->getEncapsulatedRepresentation(xfer, nullptr, sequence).bad() || !sequence) return out;
  for (unsigned long i = 0; i < sequence->card(); ++i) {
    DcmPixelItem* item = nullptr;
    if (sequence->getItem(item, i).good()) append(item);
  }
  return out;
}

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
  EXPECT_EQ(all.back().text, archive.ct.seriesUid + "|DOE^JOHN(1,CT)") << "the done message names its series";
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
  std::promise<void> release, held;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> starting{true};
  messages.onMessage([released, &held, &starting](const Message& m) {
    if (m.code != 9) return;
    if (starting.exchange(false)) held.set_value();
    released.wait();
  });
  SeriesSpec unknown = archive.ct;
  unknown.seriesUid = newTestUid();
  archive.get(get, archive.ct);
  archive.get(get, archive.mr);
  archive.get(get, archive.ct);  // already queued: not twice
  archive.get(get, unknown, "Doe, Jr@home");
  EXPECT_EQ(get.getListSize(), 3);
  held.get_future().wait();
  EXPECT_EQ(get.getRunningSeries(), archive.ct.seriesUid) << "it runs from its start, before its first image";

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
  ASSERT_EQ(failed.size(), 13u);
  EXPECT_EQ(failed[5], unknown.seriesUid);
  EXPECT_EQ(failed[10], "0") << "no image kept";
  EXPECT_EQ(failed[7], "Doe_ Jr_home");
  EXPECT_EQ(get.getListSize(), 0);
  EXPECT_EQ(get.getRunningSeries(), "");
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

TEST(Get, ACompressedSeriesArrivesInTheSyntaxesItIsStoredIn) {
  // A peer that sends each file as it is stored and converts nothing, serving one series of
  // images stored uncompressed and in each common compressed syntax.
  TempDir dir;
  const SeriesSpec spec = newSeries();
  auto image = [&](ImageSpec s, const char* sopClass, int number) {
    s.sopClassUid = sopClass;
    s.strings = {{DCM_PatientName, spec.patientName}, {DCM_PatientID, spec.patientId},
                 {DCM_StudyInstanceUID, spec.studyUid}, {DCM_SeriesInstanceUID, spec.seriesUid},
                 {DCM_SOPInstanceUID, newTestUid()},    {DCM_Modality, spec.modality},
                 {DCM_SeriesNumber, spec.seriesNumber}, {DCM_InstanceNumber, std::to_string(number)}};
    return s;
  };
  ImageSpec grey8;
  grey8.bitsAllocated = grey8.bitsStored = 8;
  grey8.highBit = 7;
  grey8.pixels = greyBytes(grey8.rows, grey8.columns, 1);
  struct Stored {
    std::string path;
    E_TransferSyntax xfer;
  };
  std::vector<Stored> stored;
  const std::vector<std::pair<std::vector<std::string>, E_TransferSyntax>> tools = {
      {{}, EXS_LittleEndianExplicit},
      {{"dcmcjpeg", "+e1"}, EXS_JPEGProcess14SV1},
      {{"dcmcjpls"}, EXS_JPEGLSLossless},
      {{"dcmcrle"}, EXS_RLELossless},
      {{"dcmcjpeg", "+eb", "+q", "90"}, EXS_JPEGProcess1}};
  for (size_t i = 0; i < tools.size(); ++i) {
    const bool baseline = tools[i].second == EXS_JPEGProcess1;
    const std::string native = dir.file("native" + std::to_string(i) + ".dcm");
    writeImage(native, baseline ? image(grey8, UID_SecondaryCaptureImageStorage, int(i) + 1)
                                : image(greySpec(16, 16, 1, 12), UID_CTImageStorage, int(i) + 1));
    if (tools[i].first.empty()) {
      stored.push_back({native, tools[i].second});
      continue;
    }
    const std::string path = dir.file("stored" + std::to_string(i) + ".dcm");
    std::vector<std::string> argv = tools[i].first;
    argv.insert(argv.end(), {native, path});
    ASSERT_TRUE(mustRun(argv, dir));
    stored.push_back({path, tools[i].second});
  }
  const std::string j2k = dir.file("stored-j2k.dcm");
  ASSERT_TRUE(writeJpeg2000(j2k, image(greySpec(16, 16, 1, 12), UID_CTImageStorage, 9), Jpeg2000Options(), dir));
  stored.push_back({j2k, EXS_JPEG2000LosslessOnly});

  std::vector<std::string> paths;
  for (const Stored& s : stored) {
    redIRI::detail::DicomFile file;
    ASSERT_TRUE(file.open(s.path.c_str(), "test"));
    ASSERT_EQ(file.transferSyntax(), s.xfer) << s.path;
    paths.push_back(s.path);
  }
  RetrievePeer peer(paths);
  ASSERT_TRUE(peer.ready());
  const std::string downloads = dir.file("tmp/dicomdown/");
  fs::create_directories(downloads);
  MessageCapture messages;
  redIRI::dcmGet get;
  const std::string port = std::to_string(peer.port());
  get.getSeriesByUID("127.0.0.1", port.c_str(), "", "", spec.studyUid.c_str(), spec.seriesUid.c_str(),
                     downloads.c_str(), "DOE^JOHN", "1", "CT");
  ASSERT_TRUE(messages.waitFor([](const std::vector<Message>& all) { return ended(all, 1); }, 15000));
  std::string events;
  for (const std::string& e : peer.events()) events += e + "\n";
  EXPECT_EQ(messages.messages().back().code, 10) << events;
  EXPECT_EQ(peer.events().size(), stored.size()) << events;

  // Each image as stored: same syntax, same pixel bytes.
  const std::string folder = downloads + spec.seriesUid + "/";
  for (const Stored& s : stored) {
    redIRI::detail::DicomFile original;
    ASSERT_TRUE(original.open(s.path.c_str(), "test"));
    const std::string uid = original.stringValue(DCM_SOPInstanceUID);
    const std::string received = folder + uid;
    redIRI::detail::DicomFile copy;
    if (!copy.open(received.c_str(), "test")) {
      ADD_FAILURE() << DcmXfer(s.xfer).getXferName() << " did not arrive\n" << events;
      continue;
    }
    EXPECT_EQ(copy.transferSyntax(), s.xfer) << DcmXfer(s.xfer).getXferName() << " arrived as "
                                              << DcmXfer(copy.transferSyntax()).getXferName();
    const std::vector<uint8_t> bytes = storedPixelBytes(s.path);
    EXPECT_FALSE(bytes.empty());
    EXPECT_TRUE(storedPixelBytes(received) == bytes) << DcmXfer(s.xfer).getXferName() << ": pixel data changed";
  }
}

TEST(Get, ASeriesCutShortIsNotHandedOnUntilARetrievalCompletesIt) {
  // A series of 10 images from a peer that aborts after some (a server stopped mid-way), or that
  // answers success whatever the program refused of what it sent: images announced under another
  // SOP Instance UID than they carry, or met by a disk that fills (the user told of a full disk a
  // moment before). Then it serves them all.
  Archive archive;
  const std::vector<std::string> files = writeSeries(archive.dir.file("cut"), archive.ct, 10);
  RetrievePeer peer(files);
  const std::string folder = archive.downloads + archive.ct.seriesUid + "/";
  const std::string library = archive.dir.file("library/patient/");
  enum class Fault { None, OtherInstances, FullDisk };
  struct Row {
    int cut;
    Fault fault;
    size_t kept;
    const char* reason;
  };
  MessageCapture messages;
  redIRI::dcmGet get;
  for (const Row row : {Row{-1, Fault::OtherInstances, 1, "refused 9 images (the first because its SOP Instance UID"},
                        Row{-1, Fault::FullDisk, 2, "the disk is full"}, Row{4, Fault::None, 4, "association"},
                        Row{-1, Fault::None, 10, nullptr}, Row{2, Fault::None, 10, "association"}}) {
    SCOPED_TRACE(testing::Message() << row.cut << " " << static_cast<int>(row.fault));
    peer.cutAfter(row.cut);
    peer.ignoreRefusals(row.fault != Fault::None);
    peer.announceOtherInstancesAfter(row.fault == Fault::OtherInstances ? 1 : -1);
    if (row.fault == Fault::FullDisk) {
      // Room for two images and the record beside the room kept for the library's index.
      redIRI::disk::noteFailure(ENOSPC);
      redIRI::disk::takeNoRoomNotice();
      redIRI::disk::setRoomForTest(redIRI::disk::kKeptForIndexBytes + fs::file_size(files[0]) * 5 / 2);
    }
    messages.clear();
    archive.get(get, archive.ct, "DOE^JOHN", std::to_string(peer.port()));
    ASSERT_TRUE(messages.waitFor([](const std::vector<Message>& all) { return ended(all, 1); }, 15000));
    redIRI::disk::setRoomForTest(-1);
    EXPECT_EQ(messages.messages().back().code, row.reason ? 11 : 10);
    EXPECT_EQ(messages.withCode(8).size(), row.reason ? 0u : 1u) << "only a whole series is handed on";
    EXPECT_EQ(sopUidsIn(folder).size(), row.kept) << "what arrived stays; the retry replaces it";
    if (!row.reason || messages.withCode(11).empty()) continue;
    // The failure says how many images arrived of how many, and why the rest did not.
    const std::string text = messages.withCode(11).back().text;
    const std::vector<std::string> failed = split(text, ',');
    ASSERT_EQ(failed.size(), 13u);
    EXPECT_EQ(failed[10], std::to_string(row.kept));
    EXPECT_EQ(failed[11], "10");
    EXPECT_NE(failed[12].find(row.reason), std::string::npos) << failed[12];
    // After a restart the folder is found again, as its failure was reported; an empty one goes. A
    // link to a folder elsewhere (a library's, holding no image of its own) is no retrieval's, and
    // what it leads to stays.
    fs::create_directories(archive.downloads + "2.25.1");
    fs::create_directories(library + "study");
    std::ofstream(library + "study/image") << "kept";
    std::error_code linked;
    fs::create_directory_symlink(library, archive.downloads + "2.25.2", linked);
    EXPECT_EQ(redIRI::dcmGet().keptRetrievals(archive.downloads.c_str()), std::vector<std::string>{text});
    EXPECT_FALSE(fs::exists(archive.downloads + "2.25.1"));
    // A scan of the running program (at its start) that reaches the folder after the retrieval
    // ended lists it no second time: its own message told of it.
    EXPECT_TRUE(get.keptRetrievals(archive.downloads.c_str()).empty());
    EXPECT_TRUE(fs::exists(library + "study/image"));
  }
  // What a failed retrieval left goes when it is discarded; a link goes alone.
  get.discardSeries(archive.downloads.c_str(), archive.ct.seriesUid.c_str());
  EXPECT_TRUE(removedSoon(folder));
  get.discardSeries(archive.downloads.c_str(), "2.25.2");
  EXPECT_TRUE(removedSoon(archive.downloads + "2.25.2"));
  EXPECT_TRUE(fs::exists(library + "study/image"));
  EXPECT_TRUE(get.keptRetrievals(archive.downloads.c_str()).empty());
}

TEST(Get, ImagesOfAnotherSeriesOrPatientAreRefusedAndNeverMakeTheSeriesWhole) {
  // Archives whose database maps the series to other files. One lists the series' 3 images (or 1,
  // or none) and its C-GET sends images of another series of the study or of another patient in
  // their place, counting them as it counts the rest or, lying, as sent. dcmqrscp names the
  // series' 3 files, 2 of which now hold images of another patient under the same SOP Instance UIDs.
  TempDir dir;
  SeriesSpec asked, sibling, stranger;
  asked.studyUid = sibling.studyUid = newTestUid();
  asked.seriesUid = newTestUid();
  sibling.seriesUid = newTestUid();
  stranger.patientName = "ROE^RICHARD";
  stranger.patientId = "P2";
  const std::vector<std::string> own = writeSeries(dir.file("own"), asked, 3),
                                  other = writeSeries(dir.file("other"), sibling, 2),
                                  strange = writeSeries(dir.file("stranger"), stranger, 3),
                                  archived = writeSeries(dir.file("archived"), asked, 3);
  std::vector<std::string> files = own;
  files.insert(files.end(), other.begin(), other.end());
  files.insert(files.end(), strange.begin(), strange.end());
  RetrievePeer peer(files);
  ArchivePeer archive(dir, archived);
  ASSERT_TRUE(peer.ready() && archive.ready());
  for (const std::string& path : {archived[1], archived[2]}) {
    DcmFileFormat file;
    ASSERT_TRUE(file.loadFile(path.c_str()).good());
    file.loadAllDataIntoMemory();
    for (const auto& [key, value] : {std::pair{DCM_PatientName, stranger.patientName}, {DCM_PatientID, stranger.patientId},
                                     {DCM_StudyInstanceUID, newTestUid()}, {DCM_SeriesInstanceUID, newTestUid()}})
      file.getDataset()->putAndInsertString(key, value.c_str());
    ASSERT_TRUE(file.saveFile(path.c_str()).good());
  }
  // Retrieves the series asked for into `downloads`: the messages' codes, and the failure's fields.
  auto retrieve = [&](int port, const std::string& downloads, std::vector<int>& codes) {
    MessageCapture messages;
    redIRI::dcmGet get;
    get.getSeriesByUID("127.0.0.1", std::to_string(port).c_str(), "", "", asked.studyUid.c_str(),
                       asked.seriesUid.c_str(), downloads.c_str(), "DOE^JOHN", "1", "CT");
    EXPECT_TRUE(messages.waitFor([](const std::vector<Message>& all) { return ended(all, 1); }, 15000));
    codes = codesOf(messages.messages());
    return messages.withCode(11).empty() ? std::vector<std::string>() : split(messages.withCode(11).back().text, ',');
  };
  struct Row {
    const char* what;
    std::vector<std::string> sent, arrive;
    int listed;  // negative: all 3
    bool lies;
    size_t foreign;
    bool fullDisk = false;  // room for one image
  };
  int n = 0;
  for (const Row& row :
       {Row{"another series", {own[0], other[0], other[1]}, {own[0]}, -1, false, 2},
        Row{"another patient", {strange[0], own[0], strange[1]}, {own[0]}, -1, true, 2},
        Row{"all of another patient", strange, {}, -1, false, 3},
        Row{"more than listed", {own[0], own[1], own[2], other[0], own[1]}, own, 1, false, 1},
        Row{"none listed", {own[0], other[0], other[1]}, {own[0]}, 0, true, 2},
        Row{"dcmqrscp", {}, {archived[0]}, 0, false, 2},
        Row{"more than listed on a full disk", own, {own[0]}, 1, false, 0, true}}) {
    SCOPED_TRACE(row.what);
    const bool dcmqrscp = row.sent.empty();
    peer.sendOnGet(row.sent);
    peer.listOnly(row.listed);
    peer.ignoreRefusals(row.lies);
    const size_t heard = peer.events().size();
    const std::string downloads = dir.file("down" + std::to_string(++n) + "/");
    CallbackCapture log;
    std::vector<int> codes;
    if (row.fullDisk) redIRI::disk::setRoomForTest(redIRI::disk::kKeptForIndexBytes + fs::file_size(own[0]) * 3 / 2);
    const std::vector<std::string> failed = retrieve(dcmqrscp ? archive.port() : peer.port(), downloads, codes);
    redIRI::disk::setRoomForTest(-1);
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.back(), 11);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 8), 0) << "nothing is handed on to be listed";
    // Only images of the series asked for are written, and only in its folder.
    std::set<std::string> expected, folders;
    for (const std::string& f : row.arrive) {
      redIRI::detail::DicomFile image;
      if (image.open(f.c_str(), "test")) expected.insert(image.stringValue(DCM_SOPInstanceUID));
    }
    std::error_code none;
    for (const auto& entry : fs::directory_iterator(downloads, none)) folders.insert(entry.path().filename().string());
    EXPECT_EQ(folders, expected.empty() ? std::set<std::string>{} : std::set<std::string>{asked.seriesUid});
    EXPECT_EQ(sopUidsIn(downloads + asked.seriesUid + "/"), expected);
    // "1 of 3 images arrived": the series' images, each once, of those it holds.
    ASSERT_EQ(failed.size(), 13u);
    EXPECT_EQ(failed[10] + " of " + failed[11], std::to_string(expected.size()) + " of 3");
    const std::string said = row.fullDisk ? std::string("the disk is full")
                                          : "the peer sent " + std::to_string(row.foreign) +
                                                (row.foreign == 1 ? " image" : " images") +
                                                " of another series or study (refused)";
    EXPECT_NE(failed[12].find(said), std::string::npos) << failed[12];
    EXPECT_TRUE(log.logged(said));
    // The peer is told why, image by image.
    const std::vector<std::string> events = peer.events();
    EXPECT_EQ(std::count_if(events.begin() + heard, events.end(),
                            [](const std::string& e) {
                              return e.find("refused: the retriever answered 49152 (not of the series asked for)") !=
                                     std::string::npos;
                            }),
              dcmqrscp ? 0 : static_cast<long>(row.foreign));
  }

  // A retry into a folder that an earlier version left holding an image of another patient beside
  // those of the series: the series arrives whole, and its folder is handed on holding it alone.
  peer.sendOnGet({});
  peer.listOnly(-1);
  const std::string downloads = dir.file("retry/"), folder = downloads + asked.seriesUid + "/";
  fs::create_directories(folder);
  fs::copy_file(strange[0], folder + "2.25.7");
  std::vector<int> codes;
  retrieve(peer.port(), downloads, codes);
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.back(), 10);
  EXPECT_EQ(sopUidsIn(folder), sopUidsIn(dir.file("own")));
}

// Transfers' delete of a failed retrieval whose folder holds many files returns at once: the folder
// goes on the retrievals' thread, entry by entry.
TEST(Get, ADiscardReturnsBeforeItsFolderIsRemoved) {
  TempDir dir;
  const std::string downloads = dir.file("tmp/dicomdown/"), folder = downloads + "2.25.9/";
  fs::create_directories(folder);
  for (int i = 0; i < 200; ++i) std::ofstream(folder + std::to_string(i)) << "kept";
  std::promise<void> removing, goOn;
  std::future<void> begun = removing.get_future();
  std::shared_future<void> go = goOn.get_future().share();
  std::atomic<int> removals{0};
  redIRI::detail::setRemoveHookForTest([&] {
    if (removals++ != 0) return;
    removing.set_value();
    go.wait();
  });
  redIRI::dcmGet get;
  auto discard = std::async(std::launch::async, [&] { get.discardSeries(downloads.c_str(), "2.25.9"); });
  const bool returned = discard.wait_for(std::chrono::milliseconds(100)) == std::future_status::ready;
  const bool removedElsewhere = begun.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  EXPECT_TRUE(returned) << "the discard waited for its folder's removal";
  EXPECT_TRUE(removedElsewhere);
  EXPECT_TRUE(fs::exists(folder));
  if (removedElsewhere) goOn.set_value();
  discard.get();
  EXPECT_TRUE(removedSoon(folder));
  EXPECT_EQ(removals, 200);
  redIRI::detail::setRemoveHookForTest();
}

// Holds the start-up scan in its first read of an image (a slow disk) until released, and counts
// its reads.
struct HeldScan {
  std::promise<void> reading, goOn;
  std::future<void> begun = reading.get_future();
  std::shared_future<void> go = goOn.get_future().share();
  std::atomic<int> reads{0};
  HeldScan() {
    redIRI::detail::setScanReadHookForTest([this] {
      if (reads++ != 0) return;
      reading.set_value();
      go.wait();
    });
  }
  ~HeldScan() { redIRI::detail::setScanReadHookForTest(); }
};

// The start-up scan meets a folder of files that are no images (its record lost): while it reads
// them, the window sets the called title and reads the list at once; a stop meanwhile ends the scan
// at its next file, the folder left for the next start, whose scan removes it (named after no
// series its files name).
TEST(Get, TheWindowDoesNotWaitForTheStartUpScanReadingAFolder) {
  TempDir dir;
  const std::string downloads = dir.file("tmp/dicomdown/"), folder = downloads + "2.25.7/";
  fs::create_directories(folder);
  for (int i = 0; i < 50; ++i) std::ofstream(folder + std::to_string(i)) << "not an image";
  HeldScan held;
  redIRI::dcmGet get;
  auto scan = std::async(std::launch::async, [&] { return get.keptRetrievals(downloads.c_str()); });
  held.begun.wait();
  auto window = std::async(std::launch::async, [&] {
    get.setDefaultCalledAETitle("ARCHIVE");
    return get.getListSize();
  });
  const bool answered = window.wait_for(std::chrono::milliseconds(100)) == std::future_status::ready;
  get.stop();
  held.goOn.set_value();
  EXPECT_TRUE(answered) << "the window waited for the scan's read";
  EXPECT_EQ(window.get(), 0);
  EXPECT_TRUE(scan.get().empty());
  EXPECT_EQ(held.reads, 1) << "the scan read on after the stop";
  EXPECT_TRUE(fs::exists(folder));
  EXPECT_TRUE(redIRI::dcmGet().keptRetrievals(downloads.c_str()).empty());
  EXPECT_FALSE(fs::exists(folder));
}

// A retrieval queued while the scan reads the folder of its series (left by a run that kept no
// record) is queued at once and listed as running, but writes nothing until the scan is done with
// the folder; the scan then removes it, and the retrieval makes it again with the series whole.
TEST(Get, ARetrievalWaitsForTheScanOfItsFolder) {
  TempDir dir;
  const SeriesSpec spec = newSeries();
  RetrievePeer peer(writeSeries(dir.file("data"), spec, 3));
  ASSERT_TRUE(peer.ready());
  const std::string downloads = dir.file("tmp/dicomdown/"), folder = downloads + spec.seriesUid + "/";
  fs::create_directories(folder);
  for (int i = 0; i < 5; ++i) std::ofstream(folder + "junk" + std::to_string(i)) << "not an image";
  HeldScan held;
  MessageCapture messages;
  redIRI::dcmGet get;
  auto scan = std::async(std::launch::async, [&] { return get.keptRetrievals(downloads.c_str()); });
  held.begun.wait();
  auto queued = std::async(std::launch::async, [&] {
    get.getSeriesByUID("127.0.0.1", std::to_string(peer.port()).c_str(), "", "", spec.studyUid.c_str(),
                       spec.seriesUid.c_str(), downloads.c_str(), "DOE^JOHN", "1", "CT");
  });
  const bool returned = queued.wait_for(std::chrono::milliseconds(100)) == std::future_status::ready;
  EXPECT_TRUE(returned) << "queueing waited for the scan";
  if (returned) {
    for (int i = 0; i < 2000 && get.getRunningSeries() != spec.seriesUid; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(get.getRunningSeries(), spec.seriesUid);
    EXPECT_TRUE(messages.withCode(9).empty()) << "it began while the scan held its folder";
  }
  held.goOn.set_value();
  EXPECT_TRUE(scan.get().empty());
  ASSERT_TRUE(messages.waitFor([](const std::vector<Message>& all) { return ended(all, 1); }, 15000));
  EXPECT_EQ(messages.messages().back().code, 10);
  EXPECT_EQ(sopUidsIn(folder), sopUidsIn(dir.file("data")));
  EXPECT_FALSE(fs::exists(folder + "junk0"));
}

// A series of `count` CT images but for image `odd`, of a standard class seldom met, and image
// `odd` + 5, of a private class: neither is among the usual image classes.
std::vector<std::string> seriesWithUncommonClasses(const TempDir& dir, SeriesSpec& spec, int count, int odd) {
  spec.studyUid = newTestUid();
  spec.seriesUid = newTestUid();
  spec.oddImage = odd;
  spec.oddClass = UID_VLPhotographicImageStorage;
  std::vector<std::string> files = writeSeries(dir.file("data"), spec, count);
  SeriesSpec other = spec;
  other.oddImage = 0;
  other.oddClass = "1.3.6.1.4.1.99999.1.1";
  files[odd + 5] = writeSeries(dir.file("private"), other, 1)[0];
  return files;
}

// A peer whose every image is refused (here too large for a lowered bound): the refusals are
// logged a few times for the retrieval as a whole, then counted, whatever the number of images.
TEST(Get, ARetrievalLogsAFewLinesOfEachKindWhateverItsImages) {
  TempDir dir;
  const SeriesSpec spec = newSeries();
  RetrievePeer peer(writeSeries(dir.file("data"), spec, 12));
  ASSERT_TRUE(peer.ready());
  const std::string downloads = dir.file("tmp/dicomdown/"), port = std::to_string(peer.port());
  MessageCapture messages;
  CallbackCapture log;
  redIRI::detail::setReceivedDataSetLimit(64);
  redIRI::dcmGet get;
  get.getSeriesByUID("127.0.0.1", port.c_str(), "", "", spec.studyUid.c_str(), spec.seriesUid.c_str(),
                     downloads.c_str(), "DOE^JOHN", "1", "CT");
  ASSERT_TRUE(messages.waitFor([](const std::vector<Message>& all) { return ended(all, 1); }, 15000));
  redIRI::detail::setReceivedDataSetLimit();
  const std::vector<std::string> lines = log.logLines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.find("refused the image") != std::string::npos; }),
            redIRI::detail::kLogLinesPerKind);
  EXPECT_TRUE(log.logged("DICOM retrieval of series " + spec.seriesUid + " from 127.0.0.1:" + port +
                         ": 9 more lines left out of the log"));
}

TEST(Get, TheContextsProposedAreThoseOfTheClassesTheSeriesHolds) {
  // (dcmqrscp, in the tests above, does not say which classes a series holds: the usual ones
  // are proposed then.)
  // Rows: the peer takes no context for the seldom class; the peer lists more images than a query
  // may hold, so its answer is given up as a search's is and the usual classes are proposed (the
  // two uncommon images are not among them); the peer lists them one every 20 s, and is given up
  // the same way once the query's time is past; the peer lists thousands of classes whose UIDs are
  // not text, and counts their images failed: a few are named, clean, the rest counted; the peer
  // keeps two copies of one image, lists and sends both (and counts both done): the series is whole.
  struct Row {
    bool refuseOdd, pastBound;
    size_t arrive;
    int slowMs, junkClasses;
    bool twoCopies;
  };
  for (const Row row :
       {Row{false, false, 20, 0, 0, false}, Row{true, false, 19, 0, 0, false}, Row{false, true, 18, 0, 0, false},
        Row{false, false, 18, 20000, 0, false}, Row{true, false, 19, 0, 4970, false},
        Row{false, false, 20, 0, 0, true}}) {
    const bool refuseOdd = row.refuseOdd, pastBound = row.pastBound;
    SCOPED_TRACE(testing::Message() << refuseOdd << pastBound << row.slowMs << " " << row.junkClasses << row.twoCopies);
    TempDir dir;
    SeriesSpec spec;
    std::vector<std::string> files = seriesWithUncommonClasses(dir, spec, 20, 10);
    if (row.twoCopies) files.push_back(files[0]);
    RetrievePeer peer(files);
    if (refuseOdd) peer.refuseClass(UID_VLPhotographicImageStorage);
    peer.listSlowly(row.slowMs);
    peer.listJunkClasses(row.junkClasses);
    const std::string downloads = dir.file("tmp/dicomdown/"), port = std::to_string(peer.port());
    MessageCapture messages;
    CallbackCapture log;
    if (pastBound) redIRI::detail::setFindMatchLimit(5);
    if (row.slowMs) redIRI::detail::setContentsQueryLimitForTest(1000);
    redIRI::dcmGet get;
    get.getSeriesByUID("127.0.0.1", port.c_str(), "", "", spec.studyUid.c_str(), spec.seriesUid.c_str(),
                       downloads.c_str(), "DOE^JOHN", "1", "CT");
    ASSERT_TRUE(messages.waitFor([](const std::vector<Message>& all) { return ended(all, 1); }, 15000));
    redIRI::detail::setFindMatchLimit();
    redIRI::detail::setContentsQueryLimitForTest();
    EXPECT_EQ(messages.messages().back().code, row.arrive == 20 ? 10 : 11);
    EXPECT_EQ(sopUidsIn(downloads + spec.seriesUid + "/").size(), row.arrive);
    EXPECT_EQ(log.logged("more than 5 images listed"), pastBound);
    EXPECT_EQ(log.logged("had not listed the series' images within 1 s"), row.slowMs > 0);
    // Whatever the peer's answers hold, the log gets short lines of clean text.
    for (const std::string& line : log.logLines()) {
      EXPECT_LE(line.size(), 4096u);
      EXPECT_TRUE(redIRI::text::isValidUtf8(line)) << line.substr(0, 200);
      EXPECT_EQ(std::count_if(line.begin(), line.end(), [](char c) { return c >= 0 && c < 0x20; }), 0)
          << line.substr(0, 200);
    }
    if (!refuseOdd || messages.withCode(11).empty()) continue;
    const std::vector<std::string> failed = split(messages.withCode(11).back().text, ',');
    ASSERT_EQ(failed.size(), 13u);
    EXPECT_EQ(failed[10] + "/" + failed[11], "19/" + std::to_string(20 + row.junkClasses));
    EXPECT_NE(failed[12].find("cannot take 1 image of VLPhotographicImageStorage (" UID_VLPhotographicImageStorage ")"),
              std::string::npos)
        << "the class the program cannot take is named: " << failed[12];
    if (!row.junkClasses) continue;
    EXPECT_NE(failed[12].find("and 4968 images of 4968 more classes"), std::string::npos) << failed[12];
    EXPECT_LT(fs::file_size(downloads + spec.seriesUid + "/.retrieval"), 16u << 10);
  }
}

TEST(Get, AnOrthancArchiveSendsASeriesHoldingUncommonClassesWhole) {
  if (!OrthancPeer::available()) GTEST_SKIP() << "Orthanc is not installed";
  // 20 images: the archive takes and sends some ten a second.
  TempDir dir;
  SeriesSpec spec;
  OrthancPeer orthanc(dir, seriesWithUncommonClasses(dir, spec, 20, 10));
  ASSERT_TRUE(orthanc.ready());
  const std::string downloads = dir.file("tmp/dicomdown/"), port = std::to_string(orthanc.port());
  MessageCapture messages;
  redIRI::dcmGet get;
  get.getSeriesByUID("127.0.0.1", port.c_str(), "", "", spec.studyUid.c_str(), spec.seriesUid.c_str(),
                     downloads.c_str(), "DOE^JOHN", "1", "CT");
  ASSERT_TRUE(messages.waitFor([](const std::vector<Message>& all) { return ended(all, 1); }, 60000));
  EXPECT_EQ(messages.messages().back().code, 10) << messages.messages().back().text << "\n" << orthanc.log();
  EXPECT_EQ(sopUidsIn(downloads + spec.seriesUid + "/").size(), 20u);
}
