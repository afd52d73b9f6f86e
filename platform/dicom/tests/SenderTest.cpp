// The storage client against storescp on 127.0.0.1: folders are sent whole, thumbnails skipped,
// compressed files decompressed for a peer that wants them uncompressed, progress is monotonic
// and ends with exactly one done or failed message; failures of every kind end with code 2 and
// a stop ends everything silently.
#include <gtest/gtest.h>

#include <dcmtk/dcmdata/dcdeftag.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "dcmFile.h"
#include "dcmLib.h"
#include "dcmPixels.h"
#include "support/DicomPeers.h"
#include "support/DicomTestData.h"

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

void writeThumbnails(const std::string& folder) {
  for (int i = 0; i < 6; ++i)
    std::ofstream(folder + "/thrumb" + std::to_string(i), std::ios::binary) << "\x89PNG\r\n\x1a\n not really a png";
}

bool finished(const std::vector<Message>& all) {
  for (const Message& m : all)
    if (m.code == 1 || m.code == 2) return true;
  return false;
}

}  // namespace

TEST(Sender, SendsASeriesFolderDecompressingForAnUncompressedPeer) {
  TempDir dir;
  StorePeer peer(dir, {});  // uncompressed syntaxes only
  ASSERT_TRUE(peer.ready());
  const std::string folder = dir.file("series");
  writeSeries(folder, SeriesSpec(), 5);
  const std::vector<std::string> original = writeSeries(dir.file("extra"), SeriesSpec(), 1);
  const std::vector<std::string> jls = recompress(original[0], {{"dcmcjpls"}}, dir);
  ASSERT_EQ(jls.size(), 1u);
  fs::rename(jls[0], folder + "/image9-jpegls.dcm");
  redIRI::detail::DicomFile check;
  ASSERT_TRUE(check.open((folder + "/image9-jpegls.dcm").c_str(), "test"));
  writeThumbnails(folder);

  MessageCapture messages;
  redIRI::dcmSender sender;
  std::atomic<bool> sendingAtEnd{false};
  messages.onMessage([&](const Message& m) {
    if (m.code == 1 || m.code == 2) sendingAtEnd = sender.isSending();
  });
  sender.setIP("127.0.0.1", std::to_string(peer.port()).c_str());
  ASSERT_TRUE(sender.send(7, (folder + "/").c_str()));
  EXPECT_TRUE(sender.isSending());
  EXPECT_FALSE(sender.send(8, (folder + "/").c_str())) << "one transfer at a time";
  ASSERT_TRUE(messages.waitFor(finished, 10000));

  const std::vector<Message> all = messages.messages();
  ASSERT_EQ(all.size(), 7u) << ::testing::PrintToString(codesOf(all));
  double last = 0;
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(all[i].code, 0);
    EXPECT_EQ(jsonField(all[i].text, "taskID"), "7");
    const double value = std::atof(jsonField(all[i].text, "value").c_str());
    EXPECT_GT(value, last);
    last = value;
  }
  EXPECT_EQ(jsonField(all[5].text, "value"), "100.000000");
  EXPECT_EQ(all[6].code, 1);
  EXPECT_EQ(all[6].text, "{\"taskID\":\"7\"}");
  EXPECT_TRUE(sendingAtEnd) << "isSending stays true until the final message was delivered";
  for (const long long deadline = nowMs() + 2000; sender.isSending() && nowMs() < deadline;)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(sender.isSending());

  // Six DICOM files arrived, the JPEG-LS one decompressed with its pixels intact.
  ASSERT_EQ(peer.files().size(), 6u);
  const std::string sop = check.valueText(check.find(0x0008, 0x0018));
  bool found = false;
  for (const std::string& received : peer.files()) {
    redIRI::detail::DicomFile in;
    ASSERT_TRUE(in.open(received.c_str(), "test"));
    if (in.valueText(in.find(0x0008, 0x0018)) != sop) continue;
    found = true;
    EXPECT_FALSE(DcmXfer(in.transferSyntax()).isEncapsulated());
    EXPECT_EQ(decodeFile(received).bytes, decodeFile(original[0]).bytes);
  }
  EXPECT_TRUE(found);
}

// A compressed image of many frames sent to a peer that takes only uncompressed data is decoded
// frame by frame: its fragments walked once or twice (the check, the decode), each frame handed to
// the decoder alone, never DCMTK's whole-image decode, whose walks grow with the square of the
// frames. Counted in steps, on every thread.
TEST(Sender, AManyFrameImageIsDecodedFrameByFrameForAnUncompressedPeer) {
  TempDir dir;
  StorePeer peer(dir, {});  // uncompressed syntaxes only
  ASSERT_TRUE(peer.ready());
  ImageSpec rgb;
  rgb.rows = rgb.columns = 8;
  rgb.frames = 60;
  rgb.samples = 3;
  rgb.bitsAllocated = rgb.bitsStored = 8;
  rgb.highBit = 7;
  rgb.photometric = "RGB";
  rgb.pixels = rgbBytes(8, 8, 60);
  const struct {
    ImageSpec spec;
    std::vector<std::string> tool;
  } rows[] = {{greySpec(8, 8, 400), {"dcmcjpls"}}, {rgb, {"dcmcrle"}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.tool[0]);
    const std::string native = dir.file("native-" + row.tool[0] + ".dcm");
    writeImage(native, row.spec);
    const std::vector<std::string> compressed = recompress(native, {row.tool}, dir);
    ASSERT_EQ(compressed.size(), 1u);
    const std::string folder = dir.file("send-" + row.tool[0]);
    fs::create_directories(folder);
    fs::rename(compressed[0], folder + "/image.dcm");

    redIRI::detail::SharedFragmentCounts& counts = redIRI::detail::allFragmentCounts();
    const uint64_t stepsBefore = counts.steps, framesBefore = counts.framesHanded;
    MessageCapture messages;
    redIRI::dcmSender sender;
    sender.setIP("127.0.0.1", std::to_string(peer.port()).c_str());
    const size_t before = peer.files().size();
    ASSERT_TRUE(sender.send(3, (folder + "/").c_str()));
    ASSERT_TRUE(messages.waitFor(finished, 20000));
    EXPECT_EQ(messages.messages().back().code, 1);
    const auto frames = static_cast<uint64_t>(row.spec.frames);
    EXPECT_EQ(counts.framesHanded - framesBefore, frames);
    EXPECT_LE(counts.steps - stepsBefore, 2 * (frames + 1));
    ASSERT_EQ(peer.files().size(), before + 1);
    redIRI::detail::DicomFile sent;
    ASSERT_TRUE(sent.open(native.c_str(), "test"));
    const std::string sop = sent.valueText(sent.find(0x0008, 0x0018));
    size_t found = 0;
    for (const std::string& received : peer.files()) {
      redIRI::detail::DicomFile in;
      ASSERT_TRUE(in.open(received.c_str(), "test"));
      if (in.valueText(in.find(0x0008, 0x0018)) != sop) continue;
      ++found;
      EXPECT_FALSE(DcmXfer(in.transferSyntax()).isEncapsulated());
      EXPECT_EQ(decodeFile(received).bytes, decodeFile(native).bytes);
    }
    EXPECT_EQ(found, 1u);
  }
}

// A layout the frame-by-frame decode does not take (32 bits allocated) is still decoded for an
// uncompressed peer, by DCMTK's own decode, and arrives with its samples.
TEST(Sender, AThirtyTwoBitCompressedImageReachesAnUncompressedPeer) {
  TempDir dir;
  StorePeer peer(dir, {});  // uncompressed syntaxes only
  ASSERT_TRUE(peer.ready());
  ImageSpec wide;
  wide.rows = wide.columns = 4;
  wide.frames = 2;
  wide.bitsAllocated = wide.bitsStored = 32;
  wide.highBit = 31;
  for (uint32_t i = 0; i < 32; ++i)
    for (int b = 0; b < 4; ++b) wide.pixels.push_back(uint8_t((i * 0x01020304u) >> (8 * b)));
  const std::string native = dir.file("native.dcm");
  writeImage(native, wide);
  const std::vector<std::string> compressed = recompress(native, {{"dcmcrle"}}, dir);
  ASSERT_EQ(compressed.size(), 1u);
  const std::string folder = dir.file("send");
  fs::create_directories(folder);
  fs::rename(compressed[0], folder + "/image.dcm");
  MessageCapture messages;
  redIRI::dcmSender sender;
  sender.setIP("127.0.0.1", std::to_string(peer.port()).c_str());
  ASSERT_TRUE(sender.send(3, (folder + "/").c_str()));
  ASSERT_TRUE(messages.waitFor(finished, 20000));
  EXPECT_EQ(messages.messages().back().code, 1);
  ASSERT_EQ(peer.files().size(), 1u);
  DcmFileFormat in;
  ASSERT_TRUE(in.loadFile(peer.files()[0].c_str()).good());
  const Uint8* samples = nullptr;
  unsigned long length = 0;
  ASSERT_TRUE(in.getDataset()->findAndGetUint8Array(DCM_PixelData, samples, &length).good());
  EXPECT_EQ(std::vector<uint8_t>(samples, samples + length), wide.pixels);
}

TEST(Sender, APatientFolderSendsEverySeries) {
  TempDir dir;
  StorePeer peer(dir);
  ASSERT_TRUE(peer.ready());
  const std::string patient = dir.file("DOE^JOHN_P1");
  SeriesSpec first, second;
  second.studyUid = newTestUid();
  writeSeries(patient + "/study/one", first, 2);
  writeSeries(patient + "/study/two", second, 3);
  writeThumbnails(patient + "/study/two");
  std::ofstream(patient + "/.incoming-partial") << "half a file";

  MessageCapture messages;
  redIRI::dcmSender sender;
  sender.setIP("127.0.0.1", std::to_string(peer.port()).c_str());
  ASSERT_TRUE(sender.send(3, patient.c_str()));
  ASSERT_TRUE(messages.waitFor(finished, 10000));
  EXPECT_EQ(messages.withCode(0).size(), 5u);
  EXPECT_EQ(messages.withCode(1).size(), 1u);
  EXPECT_EQ(peer.files().size(), 5u);

  // One file given directly.
  messages.clear();
  for (const long long deadline = nowMs() + 2000; sender.isSending() && nowMs() < deadline;)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(sender.send(4, (patient + "/study/one/image0.dcm").c_str()));
  ASSERT_TRUE(messages.waitFor(finished, 10000));
  EXPECT_EQ(codesOf(messages.messages()), (std::vector<int>{0, 1}));
}

TEST(Sender, FailuresEndWithCodeTwo) {
  TempDir dir;
  const std::string folder = dir.file("series");
  writeSeries(folder, SeriesSpec(), 2);
  const std::string thumbs = dir.file("thumbs");
  fs::create_directories(thumbs);
  writeThumbnails(thumbs);

  MessageCapture messages;
  CallbackCapture log;
  redIRI::dcmSender sender;
  auto run = [&](unsigned id, const std::string& address, const std::string& port, const std::string& path) {
    messages.clear();
    for (const long long deadline = nowMs() + 2000; sender.isSending() && nowMs() < deadline;)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    sender.setIP(address.c_str(), port.c_str());
    const long long start = nowMs();
    EXPECT_TRUE(sender.send(id, path.c_str()));
    EXPECT_TRUE(messages.waitFor(finished, 7000)) << path;
    EXPECT_LT(nowMs() - start, 6000);
    return codesOf(messages.messages());
  };
  const std::string closed = std::to_string(freePort());
  EXPECT_EQ(run(1, "127.0.0.1", closed, folder), (std::vector<int>{2})) << "nothing listens";
  EXPECT_TRUE(log.logged("DICOM send to 127.0.0.1:" + closed + " failed"));
  EXPECT_EQ(run(2, "127.0.0.1", closed, thumbs), (std::vector<int>{2})) << "no DICOM file";
  EXPECT_EQ(run(3, "127.0.0.1", closed, dir.file("absent")), (std::vector<int>{2})) << "no such path";
  EXPECT_EQ(run(4, "localhost", "104", folder), (std::vector<int>{2})) << "not an address";
  EXPECT_EQ(messages.messages()[0].text, "{\"taskID\":\"4\"}");

  // A peer that refuses one SOP class: the other files are still stored.
  StorePeer peer(dir, {});
  ASSERT_TRUE(peer.ready());
  ImageSpec odd = greySpec(8, 8);
  odd.sopClassUid = "2.25.9999.1";
  writeImage(folder + "/image1a-odd.dcm", odd);
  EXPECT_EQ(run(5, "127.0.0.1", std::to_string(peer.port()), folder), (std::vector<int>{0, 0, 0, 2}));
  EXPECT_EQ(peer.files().size(), 2u);
  EXPECT_TRUE(log.logged("does not accept the SOP class 2.25.9999.1"));
}

TEST(Sender, APeerVanishingMidwayEndsTheTransfer) {
  TempDir dir;
  auto peer = std::make_unique<StorePeer>(dir);
  ASSERT_TRUE(peer->ready());
  const std::string folder = dir.file("series");
  writeSeries(folder, SeriesSpec(), 20);
  MessageCapture messages;
  redIRI::dcmSender sender;
  messages.onMessage([&](const Message& m) {
    if (m.code == 0 && jsonField(m.text, "value") == "5.000000") peer->kill();
  });
  sender.setIP("127.0.0.1", std::to_string(peer->port()).c_str());
  ASSERT_TRUE(sender.send(11, folder.c_str()));
  ASSERT_TRUE(messages.waitFor(finished, 10000));
  EXPECT_EQ(messages.withCode(2).size(), 1u);
  EXPECT_EQ(messages.withCode(1).size(), 0u);
  EXPECT_LT(messages.withCode(0).size(), 20u);
}

TEST(Sender, StopEndsTheTransferSilently) {
  TempDir dir;
  StorePeer peer(dir);
  ASSERT_TRUE(peer.ready());
  const std::string folder = dir.file("series");
  writeSeries(folder, SeriesSpec(), 20);
  MessageCapture messages;
  redIRI::dcmSender sender;
  // Stopped from inside the first progress message, as a shutdown may do at any moment.
  messages.onMessage([&](const Message& m) {
    if (m.code == 0) sender.stop();
  });
  sender.setIP("127.0.0.1", std::to_string(peer.port()).c_str());
  ASSERT_TRUE(sender.send(12, folder.c_str()));
  for (const long long deadline = nowMs() + 5000; sender.isSending() && nowMs() < deadline;)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(sender.isSending());
  EXPECT_EQ(codesOf(messages.messages()), (std::vector<int>{0}));
  EXPECT_LT(peer.files().size(), 20u);
  EXPECT_FALSE(sender.send(13, folder.c_str())) << "a stopped sender stays stopped";
}

// A truncated DICOM file in a folder is not skipped like a thumbnail: the rest is sent, the file
// is logged and the task ends failed.
TEST(Sender, ATruncatedFileFailsTheTask) {
  TempDir dir;
  StorePeer peer(dir);
  ASSERT_TRUE(peer.ready());
  const std::string folder = dir.file("series");
  writeSeries(folder, SeriesSpec(), 3);
  writeThumbnails(folder);
  // One cut inside its header, one (larger) cut inside its pixel data.
  ImageSpec big = greySpec(64, 64);
  writeImage(folder + "/image8-big.dcm", big);
  fs::copy_file(folder + "/image0.dcm", folder + "/image7-head.dcm");
  fs::resize_file(folder + "/image7-head.dcm", 200);
  fs::resize_file(folder + "/image8-big.dcm", fs::file_size(folder + "/image8-big.dcm") - 3000);

  MessageCapture messages;
  CallbackCapture log;
  redIRI::dcmSender sender;
  sender.setIP("127.0.0.1", std::to_string(peer.port()).c_str());
  ASSERT_TRUE(sender.send(21, folder.c_str()));
  ASSERT_TRUE(messages.waitFor(finished, 10000));
  EXPECT_EQ(messages.withCode(1).size(), 0u) << "not every file was stored";
  EXPECT_EQ(messages.withCode(2).size(), 1u);
  EXPECT_EQ(peer.files().size(), 3u) << "the readable files are still sent";
  EXPECT_TRUE(log.logged("image7-head.dcm")) << "the file cut in its header is logged";
  EXPECT_TRUE(log.logged("image8-big.dcm")) << "the file cut in its pixel data is logged";
}
