#include "DicomTestData.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "dcmText.h"

extern char** environ;

namespace qvtest {

namespace fs = std::filesystem;

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/qv-dicom-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!::mkdtemp(name.data())) {
    ADD_FAILURE() << "cannot create a temporary folder";
    m_path = "/nonexistent";
    return;
  }
  m_path = name.data();
}

TempDir::~TempDir() {
  // QV_KEEP_TEST_FILES keeps the generated files, e.g. as a fuzzing corpus.
  if (std::getenv("QV_KEEP_TEST_FILES")) return;
  std::error_code ignored;
  if (m_path != "/nonexistent") fs::remove_all(m_path, ignored);
}

std::string newTestUid() { return redIRI::text::newUid(); }

size_t filesBelow(const std::string& folder) {
  size_t n = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    n += it->is_regular_file() ? 1 : 0;
  return n;
}

namespace {

void putHeader(DcmDataset* ds, const ImageSpec& spec, const std::string& photometric) {
  ds->putAndInsertString(DCM_SOPClassUID, spec.sopClassUid.c_str());
  ds->putAndInsertString(DCM_SOPInstanceUID, newTestUid().c_str());
  ds->putAndInsertString(DCM_StudyInstanceUID, newTestUid().c_str());
  ds->putAndInsertString(DCM_SeriesInstanceUID, newTestUid().c_str());
  ds->putAndInsertString(DCM_Modality, "OT");
  ds->putAndInsertUint16(DCM_Rows, static_cast<Uint16>(spec.rows));
  ds->putAndInsertUint16(DCM_Columns, static_cast<Uint16>(spec.columns));
  ds->putAndInsertUint16(DCM_SamplesPerPixel, static_cast<Uint16>(spec.samples));
  ds->putAndInsertString(DCM_PhotometricInterpretation, photometric.c_str());
  ds->putAndInsertUint16(DCM_BitsAllocated, static_cast<Uint16>(spec.bitsAllocated));
  ds->putAndInsertUint16(DCM_BitsStored, static_cast<Uint16>(spec.bitsStored));
  ds->putAndInsertUint16(DCM_HighBit, static_cast<Uint16>(spec.highBit));
  ds->putAndInsertUint16(DCM_PixelRepresentation, static_cast<Uint16>(spec.pixelRepresentation));
  if (spec.samples > 1) ds->putAndInsertUint16(DCM_PlanarConfiguration, static_cast<Uint16>(spec.planar));
  if (spec.frames > 1) ds->putAndInsertString(DCM_NumberOfFrames, std::to_string(spec.frames).c_str());
  for (const auto& s : spec.strings) ds->putAndInsertString(s.first, s.second.c_str());
}

void writePnm(const std::string& path, const uint8_t* pixels, int rows, int columns, bool colour) {
  std::ofstream out(path, std::ios::binary);
  out << (colour ? "P6\n" : "P5\n") << columns << " " << rows << "\n255\n";
  out.write(reinterpret_cast<const char*>(pixels), static_cast<std::streamsize>(rows) * columns * (colour ? 3 : 1));
}

std::vector<uint8_t> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

void writeImage(const std::string& path, const ImageSpec& spec, E_TransferSyntax xfer) {
  DcmFileFormat file;
  DcmDataset* ds = file.getDataset();
  putHeader(ds, spec, spec.photometric);
  if (spec.pixelData) {
    OFCondition cond;
    if (spec.bitsAllocated <= 8)
      cond = ds->putAndInsertUint8Array(DCM_PixelData, spec.pixels.data(), spec.pixels.size());
    else
      cond = ds->putAndInsertUint16Array(DCM_PixelData, reinterpret_cast<const Uint16*>(spec.pixels.data()),
                                         spec.pixels.size() / 2);
    ASSERT_TRUE(cond.good()) << cond.text();
  }
  OFCondition cond =
      spec.preamble ? file.saveFile(path.c_str(), xfer)
                    : file.saveFile(path.c_str(), xfer, EET_ExplicitLength, EGL_recalcGL, EPD_noChange, 0, 0,
                                    EWM_dataset);
  ASSERT_TRUE(cond.good()) << "cannot write " << path << ": " << cond.text();
}

ImageSpec greySpec(int rows, int columns, int frames, int bitsStored, bool isSigned) {
  ImageSpec s;
  s.rows = rows;
  s.columns = columns;
  s.frames = frames;
  s.bitsStored = bitsStored;
  s.highBit = bitsStored - 1;
  s.pixelRepresentation = isSigned ? 1 : 0;
  s.pixels = asBytes(greyWords(rows, columns, frames, bitsStored, isSigned));
  return s;
}

void editFile(const std::string& path, const std::function<void(DcmDataset&)>& edit) {
  DcmFileFormat file;
  OFCondition cond = file.loadFile(path.c_str());
  ASSERT_TRUE(cond.good()) << "cannot read " << path << ": " << cond.text();
  edit(*file.getDataset());
  cond = file.saveFile(path.c_str(), EXS_LittleEndianExplicit);
  ASSERT_TRUE(cond.good()) << "cannot write " << path << ": " << cond.text();
}

bool writeJpeg2000(const std::string& path, const ImageSpec& spec, const Jpeg2000Options& options,
                   const TempDir& scratch) {
  const bool colour = spec.samples == 3;
  const int rows = options.encodeRows ? options.encodeRows : spec.rows;
  const int columns = options.encodeColumns ? options.encodeColumns : spec.columns;
  const size_t bytesPerSample = spec.bitsAllocated == 16 ? 2 : 1;
  const size_t frameBytes = static_cast<size_t>(rows) * columns * spec.samples * bytesPerSample;
  if (spec.pixels.size() < frameBytes * spec.frames) {
    ADD_FAILURE() << "not enough pixels for the JPEG 2000 frames";
    return false;
  }

  auto* seq = new DcmPixelSequence(DcmTag(DCM_PixelSequenceTag));
  auto* offsetTable = new DcmPixelItem(DcmTag(DCM_PixelItemTag));
  seq->insert(offsetTable);
  DcmOffsetList offsets;
  for (int f = 0; f < spec.frames; ++f) {
    const uint8_t* frame = spec.pixels.data() + frameBytes * f;
    // The codestream always holds interleaved colour; Planar Configuration only describes
    // how the decoder lays out the samples.
    std::vector<uint8_t> interleaved;
    if (colour && spec.planar == 1) {
      const size_t n = static_cast<size_t>(rows) * columns;
      interleaved.resize(n * 3);
      for (size_t i = 0; i < n; ++i)
        for (size_t c = 0; c < 3; ++c) interleaved[3 * i + c] = frame[c * n + i];
      frame = interleaved.data();
    }
    std::string input = scratch.file("frame" + std::to_string(f) + (colour ? ".ppm" : bytesPerSample == 1 ? ".pgm" : ".rawl"));
    std::string output = scratch.file("frame" + std::to_string(f) + (options.jp2 ? ".jp2" : ".j2k"));
    std::vector<std::string> argv = {"opj_compress", "-i", input, "-o", output, "-n", "3"};
    if (colour || bytesPerSample == 1) {
      writePnm(input, frame, rows, columns, colour);
    } else {
      const bool signedStream =
          options.codestreamSigned < 0 ? spec.pixelRepresentation != 0 : options.codestreamSigned != 0;
      std::vector<uint16_t> words(frameBytes / 2);
      std::memcpy(words.data(), frame, frameBytes);
      if (signedStream != (spec.pixelRepresentation != 0)) {
        // The same stored bits, read with the other signedness.
        const int bits = spec.bitsStored;
        const uint16_t mask = static_cast<uint16_t>(bits >= 16 ? 0xFFFF : (1u << bits) - 1);
        for (uint16_t& w : words) {
          w = static_cast<uint16_t>(w & mask);
          if (signedStream && bits < 16 && (w & (1u << (bits - 1)))) w = static_cast<uint16_t>(w | ~mask);
        }
      }
      std::ofstream(input, std::ios::binary).write(reinterpret_cast<const char*>(words.data()), static_cast<std::streamsize>(frameBytes));
      argv.push_back("-F");
      argv.push_back(std::to_string(columns) + "," + std::to_string(rows) + ",1," + std::to_string(spec.bitsStored) +
                     (signedStream ? ",s" : ",u"));
    }
    if (!options.lossless) {
      argv.insert(argv.end(), {"-r", "4", "-I"});
    }
    if (colour && !options.mct) argv.insert(argv.end(), {"-mct", "0"});
    if (!mustRun(argv, scratch)) {
      delete seq;
      return false;
    }
    std::vector<uint8_t> code = readAll(output);
    if (code.empty()) {
      ADD_FAILURE() << "opj_compress wrote nothing";
      delete seq;
      return false;
    }
    seq->storeCompressedFrame(offsets, code.data(), static_cast<Uint32>(code.size()),
                              static_cast<Uint32>(options.fragmentKB));
  }
  if (options.offsetTable) offsetTable->createOffsetTable(offsets);

  std::string photometric = spec.photometric;
  if (colour) photometric = !options.mct ? "RGB" : options.lossless ? "YBR_RCT" : "YBR_ICT";
  const E_TransferSyntax xfer = options.lossless ? EXS_JPEG2000LosslessOnly : EXS_JPEG2000;
  DcmFileFormat file;
  DcmDataset* ds = file.getDataset();
  putHeader(ds, spec, photometric);
  auto* pixelData = new DcmPixelData(DCM_PixelData);
  pixelData->putOriginalRepresentation(xfer, nullptr, seq);
  ds->insert(pixelData, OFTrue);
  OFCondition cond = file.saveFile(path.c_str(), xfer);
  if (cond.bad()) {
    ADD_FAILURE() << "cannot write " << path << ": " << cond.text();
    return false;
  }
  return true;
}

void writeEncapsulatedStub(const std::string& path, const ImageSpec& spec, E_TransferSyntax xfer) {
  auto* seq = new DcmPixelSequence(DcmTag(DCM_PixelSequenceTag));
  seq->insert(new DcmPixelItem(DcmTag(DCM_PixelItemTag)));
  DcmOffsetList offsets;
  std::vector<uint8_t> junk(1000);
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<uint8_t>(i * 7 + 3);
  for (int f = 0; f < spec.frames; ++f) seq->storeCompressedFrame(offsets, junk.data(), static_cast<Uint32>(junk.size()), 0);
  DcmFileFormat file;
  DcmDataset* ds = file.getDataset();
  putHeader(ds, spec, spec.photometric);
  auto* pixelData = new DcmPixelData(DCM_PixelData);
  pixelData->putOriginalRepresentation(xfer, nullptr, seq);
  ds->insert(pixelData, OFTrue);
  OFCondition cond = file.saveFile(path.c_str(), xfer);
  ASSERT_TRUE(cond.good()) << "cannot write " << path << ": " << cond.text();
}

int runTool(const std::vector<std::string>& argv, const std::string& logPath) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool mustRun(const std::vector<std::string>& argv, const TempDir& dir) {
  const std::string log = dir.file("tool.log");
  std::remove(log.c_str());
  int rc = runTool(argv, log);
  if (rc == 0) return true;
  std::ostringstream cmd;
  for (const auto& a : argv) cmd << a << ' ';
  std::ifstream in(log);
  std::stringstream output;
  output << in.rdbuf();
  ADD_FAILURE() << cmd.str() << "-> status " << rc
                << (rc == -1 ? " (not found? scripts/install-deps installs dcmtk and libopenjp2-tools)" : "") << "\n"
                << output.str();
  return false;
}

std::vector<std::string> recompress(const std::string& source, const std::vector<std::vector<std::string>>& tools,
                                    const TempDir& dir) {
  std::vector<std::string> outputs;
  for (const auto& tool : tools) {
    const std::string out = dir.file("recompressed" + std::to_string(outputs.size()) + ".dcm");
    std::vector<std::string> argv = tool;
    argv.push_back(source);
    argv.push_back(out);
    if (!mustRun(argv, dir)) break;
    outputs.push_back(out);
  }
  return outputs;
}

std::vector<uint16_t> greyWords(int rows, int columns, int frames, int bits, bool isSigned) {
  const long range = 1L << bits;
  const long lowest = isSigned ? -(range / 2) : 0;
  std::vector<uint16_t> out(static_cast<size_t>(rows) * columns * frames);
  for (size_t i = 0; i < out.size(); ++i) {
    const long f = static_cast<long>(i / (static_cast<size_t>(rows) * columns));
    const long r = static_cast<long>(i / columns) % rows, c = static_cast<long>(i % columns);
    long v = (r * 257 + c * 1031 + f * 7919 + (r * c) % 17) % range;
    if (i == 0) v = 0;              // the lowest value
    if (i == 1) v = range - 1;      // the highest value
    out[i] = static_cast<uint16_t>(static_cast<int16_t>(lowest + v));
  }
  return out;
}

std::vector<uint8_t> greyBytes(int rows, int columns, int frames) {
  std::vector<uint8_t> out(static_cast<size_t>(rows) * columns * frames);
  for (size_t i = 0; i < out.size(); ++i) {
    const size_t f = i / (static_cast<size_t>(rows) * columns);
    const size_t r = (i / columns) % rows, c = i % columns;
    out[i] = static_cast<uint8_t>((r * 3 + c * 2 + f * 40) % 256);
  }
  return out;
}

std::vector<uint8_t> rgbBytes(int rows, int columns, int frames) {
  std::vector<uint8_t> out(static_cast<size_t>(rows) * columns * frames * 3);
  for (size_t i = 0; i < out.size() / 3; ++i) {
    const size_t f = i / (static_cast<size_t>(rows) * columns);
    const size_t r = (i / columns) % rows, c = i % columns;
    out[3 * i] = static_cast<uint8_t>(40 + (r * 2 + f * 10) % 180);
    out[3 * i + 1] = static_cast<uint8_t>(30 + (c * 2) % 190);
    out[3 * i + 2] = static_cast<uint8_t>(200 - (r + c) % 150);
  }
  return out;
}

std::vector<uint8_t> asBytes(const std::vector<uint16_t>& words) {
  std::vector<uint8_t> out(words.size() * 2);
  std::memcpy(out.data(), words.data(), out.size());
  return out;
}

Decoded decodeFile(const std::string& path, int language) {
  Decoded d;
  redIRI::dcmReader reader;
  reader.setLanguage(language);
  d.opened = reader.setFile(path.c_str());
  if (!d.opened) return d;
  redIRI::dcmReader::PixelType type = redIRI::dcmReader::PIXEL_GREY8;
  d.typeOk = reader.readDicomPixelType(type);
  if (!d.typeOk) return d;
  d.type = type;
  redIRI::dcmReader::PixelType pointerType = redIRI::dcmReader::PIXEL_GREY8;
  int count = 0;
  const char* p = reader.readDicomPixelPointer(pointerType, count);
  d.count = count;
  if (p && count > 0) {
    EXPECT_EQ(pointerType, type);
    const size_t bytes = static_cast<size_t>(count) * (type == 0 ? 1 : type == 1 ? 2 : 3);
    d.bytes.assign(p, p + bytes);
  }
  return d;
}

std::string tagText(redIRI::dcmReader& reader, unsigned short group, unsigned short element, int size) {
  std::string buffer(static_cast<size_t>(size), '#');
  if (!reader.readDicomTagString(group, element, &buffer[0], size)) return "<absent>";
  return std::string(buffer.c_str());
}

std::mutex CallbackCapture::s_lock;
std::vector<std::string> CallbackCapture::s_lines;

CallbackCapture::CallbackCapture() {
  clear();
  redIRI::setLogCallback(&CallbackCapture::onLog);
}

CallbackCapture::~CallbackCapture() { redIRI::setLogCallback(nullptr); }

void CallbackCapture::onLog(const char* text) {
  std::lock_guard<std::mutex> lock(s_lock);
  s_lines.emplace_back(text);
}

std::vector<std::string> CallbackCapture::logLines() const {
  std::lock_guard<std::mutex> lock(s_lock);
  return s_lines;
}

bool CallbackCapture::logged(const std::string& fragment) const {
  std::lock_guard<std::mutex> lock(s_lock);
  for (const auto& l : s_lines)
    if (l.find(fragment) != std::string::npos) return true;
  return false;
}

void CallbackCapture::clear() {
  std::lock_guard<std::mutex> lock(s_lock);
  s_lines.clear();
}

}  // namespace qvtest
