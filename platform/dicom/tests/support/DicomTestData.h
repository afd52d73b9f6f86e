// Test data for the DICOM layer, made at test time: synthetic images written with DCMTK,
// recompressed with DCMTK's command-line tools (dcmconv, dcmcjpeg, dcmcjpls, dcmcrle) and,
// for JPEG 2000, encoded with opj_compress and wrapped into encapsulated files here.
// No third-party sample files are used.
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dctagkey.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "dcmLib.h"

namespace qvtest {

// A fresh folder below the system temporary folder, removed with its content at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return m_path; }
  std::string file(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// A new UID, unique to this run (a UUID under the 2.25 root).
std::string newTestUid();

// How many regular files lie below `folder`, at any depth (0 when it does not exist).
size_t filesBelow(const std::string& folder);

// An image to write: the header values and the stored pixel bytes (16-bit samples in host
// order), plus extra text attributes written as given (raw bytes, no padding added).
struct ImageSpec {
  int rows = 16;
  int columns = 16;
  int frames = 1;
  int samples = 1;
  int bitsAllocated = 16;
  int bitsStored = 16;
  int highBit = 15;
  int pixelRepresentation = 0;
  int planar = 0;
  std::string photometric = "MONOCHROME2";
  std::string sopClassUid = UID_SecondaryCaptureImageStorage;
  std::vector<uint8_t> pixels;
  std::vector<std::pair<DcmTagKey, std::string>> strings;
  bool pixelData = true;
  bool preamble = true;
};

// A grey image of 16-bit words holding greyWords(rows, columns, frames, bitsStored, isSigned).
ImageSpec greySpec(int rows, int columns, int frames = 1, int bitsStored = 16, bool isSigned = false);

// Writes spec as a native file in the given transfer syntax. Fails the test on error.
void writeImage(const std::string& path, const ImageSpec& spec,
                E_TransferSyntax xfer = EXS_LittleEndianExplicit);

// Encodes each frame of spec (grey 8/16-bit or RGB 8-bit) with opj_compress and writes an
// encapsulated JPEG 2000 file. fragmentKB splits each frame into fragments of that many
// kilobytes (0: one per frame); offsetTable fills the Basic Offset Table.
struct Jpeg2000Options {
  bool lossless = true;
  bool mct = true;  // RGB: multiple-component transform (photometric YBR_RCT / YBR_ICT)
  int fragmentKB = 0;
  bool offsetTable = false;
  bool jp2 = false;  // JP2 file format instead of a raw codestream
  int encodeRows = 0, encodeColumns = 0;  // encode a different size than the header says
  // Grey 16-bit: the codestream's signedness, -1 as Pixel Representation says. A codestream of
  // the other signedness carries the same Bits Stored bits (as some devices write it).
  int codestreamSigned = -1;
};
bool writeJpeg2000(const std::string& path, const ImageSpec& spec, const Jpeg2000Options& options,
                   const TempDir& scratch);

// Writes an encapsulated file in `xfer` whose fragments hold arbitrary bytes (for syntaxes
// the library refuses, such as video).
void writeEncapsulatedStub(const std::string& path, const ImageSpec& spec, E_TransferSyntax xfer);

// Loads a written file, lets `edit` change its data set, and saves it again (explicit little
// endian). Fails the test on error.
void editFile(const std::string& path, const std::function<void(DcmDataset&)>& edit);

// Runs a command-line tool (found on PATH) without a shell; its output goes to logPath.
// Returns its exit status, or -1 when it could not be started.
int runTool(const std::vector<std::string>& argv, const std::string& logPath);
// Runs a tool and fails the current test (with the tool's output) when it does not succeed.
bool mustRun(const std::vector<std::string>& argv, const TempDir& dir);

// Runs each tool (its arguments without the two file names) on source and returns the files
// written, in order. Fails the test when a tool fails.
std::vector<std::string> recompress(const std::string& source, const std::vector<std::vector<std::string>>& tools,
                                    const TempDir& dir);

// Synthetic pixels. greyWords covers the whole range of `bits` (signed or not) with a
// pattern that differs between neighbours, rows and frames; values are stored sign-extended.
std::vector<uint16_t> greyWords(int rows, int columns, int frames, int bits, bool isSigned);
std::vector<uint8_t> greyBytes(int rows, int columns, int frames);
std::vector<uint8_t> rgbBytes(int rows, int columns, int frames);  // interleaved, smooth
std::vector<uint8_t> asBytes(const std::vector<uint16_t>& words);

// The outcome of reading one file's pixels through dcmReader.
struct Decoded {
  bool opened = false;
  bool typeOk = false;
  int type = -1;
  int count = 0;
  std::vector<uint8_t> bytes;
};
Decoded decodeFile(const std::string& path, int language = 0);

// One tag as text through readDicomTagString with a buffer of `size` bytes; "<absent>" when
// the reader reports the tag absent.
std::string tagText(redIRI::dcmReader& reader, unsigned short group, unsigned short element, int size = 1024);

// Collects log lines and messages while alive (installs the callbacks, removes them after).
class CallbackCapture {
 public:
  CallbackCapture();
  ~CallbackCapture();
  std::vector<std::string> logLines() const;
  bool logged(const std::string& fragment) const;
  void clear();

 private:
  static void onLog(const char* text);
  static std::mutex s_lock;
  static std::vector<std::string> s_lines;
};

}  // namespace qvtest
