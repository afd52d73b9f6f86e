// Files crafted to break the reader, kept from fuzzing in data/crafted/ (a damaged directory
// record that makes DCMTK throw, deflated data sets whose last element declares gigabytes, and
// every later finding). Each reader refuses them with a log line naming the file, reserves
// nothing near what they declare, and reads the next sound file as usual; the storage server
// refuses their data sets sent as they are by a peer on 127.0.0.1, stores and announces nothing,
// and takes the next association.
#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "dcmLib.h"
#include "dcmNetwork.h"
#include "qvTestPaths.h"
#include "support/AllocationWatch.h"
#include "support/DicomPeers.h"
#include "support/DicomTestData.h"
#include "support/LoopbackPorts.h"
#include "support/RawStore.h"
#include "support/ServerFixture.h"

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

// Every crafted file, the four first found among them.
std::vector<std::string> craftedFiles() {
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(QV_TEST_DATA_DIR "/crafted"))
    if (entry.is_regular_file()) files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  for (const char* name : {"directory-record-aborts.dcm", "huge-declared-length-1.dcm", "huge-declared-length-2.dcm",
                           "huge-declared-length-3.dcm"})
    EXPECT_NE(std::find(files.begin(), files.end(), QV_TEST_DATA_DIR "/crafted/" + std::string(name)), files.end())
        << name;
  return files;
}

// The most one allocation may take while a crafted file is read: a bounded multiple of the
// file's size (a deflated data set inflates), never what its elements merely declare.
size_t allowedFor(const std::string& path) { return (size_t(1) << 20) + 1100 * fs::file_size(path); }

// A crafted file as a peer would send it: the data set's bytes exactly as stored, in the
// transfer syntax the file meta header names, for the SOP instance it names (as an image: a
// directory is no storage class).
const char* const kSentAs = UID_SecondaryCaptureImageStorage;
struct Sent {
  std::string sopInstance, syntax;
  std::vector<uint8_t> dataSet;
};

Sent asSent(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Every file here has the preamble and a meta group that starts with its length. It is walked
  // by hand: some were damaged there too, and a peer sends whatever follows it.
  EXPECT_GE(bytes.size(), 144u);
  EXPECT_EQ(std::string(bytes.begin() + 128, bytes.begin() + 138), std::string("DICM\x02\x00\x00\x00UL", 10));
  auto u16 = [&](size_t at) { return size_t(bytes[at]) | size_t(bytes[at + 1]) << 8; };
  const size_t start = std::min(bytes.size(), 144 + (u16(140) | u16(142) << 16));
  Sent sent;
  for (size_t at = 144; at + 8 <= start;) {
    const bool longLength = std::string("OBOWUNSQUTUC").find(std::string(bytes.begin() + at + 4, bytes.begin() + at + 6)) % 2 == 0;
    const size_t valueAt = at + (longLength ? 12 : 8);
    const size_t length = longLength ? u16(at + 8) | u16(at + 10) << 16 : u16(at + 6);
    if (valueAt + length > start) break;
    std::string value(bytes.begin() + valueAt, bytes.begin() + valueAt + length);
    while (!value.empty() && (value.back() == '\0' || value.back() == ' ')) value.pop_back();
    if (u16(at) == 0x0002 && u16(at + 2) == 0x0003) sent.sopInstance = value;
    if (u16(at) == 0x0002 && u16(at + 2) == 0x0010) sent.syntax = value;
    at = valueAt + length;
  }
  if (sent.sopInstance.empty()) sent.sopInstance = newTestUid();
  EXPECT_FALSE(sent.syntax.empty());
  sent.dataSet.assign(bytes.begin() + static_cast<long>(start), bytes.end());
  if (sent.dataSet.size() % 2) sent.dataSet.push_back(0);  // PDVs carry even lengths
  return sent;
}

}  // namespace

TEST(CraftedFiles, EveryReaderRefusesThemAndReadsTheNextFile) {
  ASSERT_TRUE(AllocationWatch::available()) << "allocations cannot be watched in this build";
  TempDir dir;
  const std::string sound = dir.file("sound.dcm");
  writeImage(sound, greySpec(4, 4));
  redIRI::dcmReader reader;
  redIRI::dcmReadTag tags;
  for (const std::string& path : craftedFiles()) {
    SCOPED_TRACE(path);
    CallbackCapture log;
    AllocationWatch allocations;
    EXPECT_FALSE(reader.setFile(path.c_str()));
    redIRI::dcmReader::PixelType type;
    int count = -1;
    EXPECT_FALSE(reader.readDicomPixelType(type));
    EXPECT_EQ(reader.readDicomPixelPointer(type, count), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_FALSE(reader.convertToPngFile(dir.file("x.png").c_str(), true));
    EXPECT_FALSE(tags.setFile(path.c_str()));
    EXPECT_EQ(tags.getTagList(count), nullptr);
    EXPECT_EQ(count, 0);
    redIRI::DCM_MESSAGE record;
    EXPECT_FALSE(tags.getDicomMessage(record));
    allocations.stop();
    EXPECT_LT(allocations.largest(), allowedFor(path)) << "bytes reserved at once";
    EXPECT_TRUE(log.logged("dcmReader: cannot read \"" + path + "\"")) << ::testing::PrintToString(log.logLines());
    EXPECT_TRUE(log.logged("dcmReadTag: cannot read \"" + path + "\""));

    ASSERT_TRUE(reader.setFile(sound.c_str()));
    EXPECT_NE(reader.readDicomPixelPointer(type, count), nullptr);
    EXPECT_EQ(count, 16);
    ASSERT_TRUE(tags.setFile(sound.c_str()));
    redIRI::dcmReadTag::DicomTags* list = tags.getTagList(count);
    EXPECT_NE(list, nullptr);
    redIRI::dcmReadTag::freeTagList(list);
  }
}

TEST(CraftedFiles, TheStorageServerRefusesTheirDataSetsAndTakesTheNextAssociation) {
  ASSERT_TRUE(AllocationWatch::available()) << "allocations cannot be watched in this build";
  MessageCapture messages;
  CallbackCapture log;
  ServerFixture f;
  f.server.setRoot(f.root.c_str());
  ASSERT_TRUE(f.begin());

  for (const std::string& path : craftedFiles()) {
    SCOPED_TRACE(path);
    const Sent sent = asSent(path);
    redIRI::detail::SocketWatch watch;
    redIRI::detail::ClientAssociation client(watch);
    std::string error;
    ASSERT_TRUE(client.open("127.0.0.1", f.port, "ANY-SCP", {{kSentAs, {sent.syntax}}}, error)) << error;
    const T_ASC_PresentationContextID presId = ASC_findAcceptedPresentationContextID(client.get(), kSentAs);
    ASSERT_NE(presId, 0);
    log.clear();
    AllocationWatch allocations;
    const std::string outcome = sendRawStore(client.get(), presId, kSentAs, sent.sopInstance, sent.dataSet);
    allocations.stop();
    // Refused as a data set that cannot be understood; the association is still in step.
    EXPECT_EQ(outcome, "0xc000");
    EXPECT_LT(allocations.largest(), allowedFor(path)) << "bytes reserved at once";
    EXPECT_TRUE(log.logged("refused the image")) << ::testing::PrintToString(log.logLines());
    client.release();
  }
  EXPECT_EQ(filesBelow(f.root), 0u);
  EXPECT_TRUE(messages.withCode(3).empty());

  // The next association is served as usual.
  const std::vector<std::string> files = writeSeries(f.dir.file("sound"), SeriesSpec(), 1);
  Peer tool({"storescu", "-aec", "ANY-SCP", "127.0.0.1", std::to_string(f.port), files[0]}, f.dir.file("storescu.log"));
  EXPECT_EQ(tool.wait(20000), 0) << tool.log();
  EXPECT_TRUE(messages.waitForCount(3, 1, 10000));
  EXPECT_EQ(filesBelow(f.root), 1u);
  f.server.StopDicomServer();
}

TEST(CraftedFiles, WhatIsThrownWhileAFileIsReadRefusesOnlyThatFile) {
  // Anything thrown inside a read (here by the program's PNG writer, where DCMTK would throw on
  // damaged bytes) ends that file's read with a log line; the reader goes on with the next file.
  TempDir dir;
  const std::string first = dir.file("first.dcm"), second = dir.file("second.dcm");
  writeImage(first, greySpec(4, 4));
  writeImage(second, greySpec(4, 4));
  CallbackCapture log;
  redIRI::setSavePngCallback([](int, int, unsigned char*, const char*) -> bool { throw std::out_of_range("crafted"); });
  redIRI::dcmReader reader;
  ASSERT_TRUE(reader.setFile(first.c_str()));
  EXPECT_FALSE(reader.convertToPngFile(dir.file("first.png").c_str(), false));
  EXPECT_TRUE(log.logged("dcmReader: cannot read \"" + first + "\": reading it threw std::out_of_range: crafted"))
      << ::testing::PrintToString(log.logLines());
  redIRI::dcmReader::PixelType type;
  int count = -1;
  EXPECT_EQ(reader.readDicomPixelPointer(type, count), nullptr) << "the refused file is closed";
  redIRI::setSavePngCallback([](int, int, unsigned char*, const char*) { return true; });
  ASSERT_TRUE(reader.setFile(second.c_str()));
  EXPECT_TRUE(reader.convertToPngFile(dir.file("second.png").c_str(), false));
  EXPECT_NE(reader.readDicomPixelPointer(type, count), nullptr);
  redIRI::setSavePngCallback(nullptr);
}

TEST(CraftedFiles, DataSetsHoldingDirectoryRecordsAreRefusedInEveryEncoding) {
  // DCMTK loses the record it was reading when a damaged record type makes it throw, so no
  // directory record reaches it at all; the program reads images, never directories.
  TempDir dir;
  const std::string plain = dir.file("plain.dcm"), directory = dir.file("directory.dcm");
  writeImage(plain, greySpec(4, 4));
  writeImage(directory, greySpec(4, 4));
  editFile(directory, [](DcmDataset& data) {
    DcmItem* record = nullptr;
    ASSERT_TRUE(data.findOrCreateSequenceItem(DCM_DirectoryRecordSequence, record, -2).good());
    record->putAndInsertString(DCM_DirectoryRecordType, "IMAGE");
  });
  for (const char* encoding : {"+te", "+ti", "+tb", "+td"}) {
    SCOPED_TRACE(encoding);
    const std::string images = dir.file(std::string("plain") + encoding + ".dcm");
    const std::string records = dir.file(std::string("directory") + encoding + ".dcm");
    ASSERT_TRUE(mustRun({"dcmconv", encoding, plain, images}, dir));
    ASSERT_TRUE(mustRun({"dcmconv", encoding, directory, records}, dir));
    CallbackCapture log;
    redIRI::dcmReadTag tags;
    EXPECT_FALSE(tags.setFile(records.c_str()));
    EXPECT_TRUE(log.logged("holds a directory record sequence (0004,1220)")) << ::testing::PrintToString(log.logLines());
    EXPECT_TRUE(tags.setFile(images.c_str()));
  }
}
