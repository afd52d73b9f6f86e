// Writing a received object: the file at its final path is exactly what DCMTK's saveFile makes
// of the data set, a second copy replaces the first, a failed write leaves nothing, and no
// hidden file or descriptor is left behind.
#include <gtest/gtest.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "dcmStorage.h"
#include "support/DicomTestData.h"

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

std::string bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The data set of a written test image, as the network layer hands one over (owned).
DcmDataset* receivedDataSet(const std::string& path) {
  DcmFileFormat file;
  EXPECT_TRUE(file.loadFile(path.c_str()).good());
  file.loadAllDataIntoMemory();
  return new DcmDataset(*file.getDataset());
}

std::vector<std::string> entriesBelow(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().lexically_relative(folder).string());
  return names;
}

size_t openDescriptors() {
  size_t n = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) n += entry.exists() ? 1 : 0;
  return n;
}

}  // namespace

TEST(ReceivedObject, WritesTheFileWholeAndReplacesAnEarlierCopy) {
  TempDir dir;
  ImageSpec spec = greySpec(8, 8);
  spec.strings = {{DCM_SOPInstanceUID, "2.25.1001.2002.3003"}, {DCM_PatientName, "DOE^JOHN"}};
  writeImage(dir.file("source.dcm"), spec, EXS_LittleEndianImplicit);

  // What saveFile writes for the same data set and syntax, for comparison.
  {
    DcmFileFormat expected(receivedDataSet(dir.file("source.dcm")), OFFalse);
    ASSERT_TRUE(expected
                    .saveFile(dir.file("expected.dcm").c_str(), EXS_LittleEndianImplicit, EET_ExplicitLength,
                              EGL_recalcGL, EPD_noChange, 0, 0, EWM_createNewMeta)
                    .good());
  }

  const std::string root = dir.file("library") + "/";
  const std::string folder = root + "P/S/R/";
  const size_t descriptors = openDescriptors();
  for (int copy = 0; copy < 3; ++copy) {
    SCOPED_TRACE(copy);
    redIRI::detail::ReceivedObject object(receivedDataSet(dir.file("source.dcm")), EXS_LittleEndianImplicit, 0,
                                          "2.25.1001.2002.3003");
    std::string error;
    ASSERT_TRUE(object.write(folder, root + ".incoming/", error)) << error;
    EXPECT_EQ(bytesOf(folder + "2.25.1001.2002.3003"), bytesOf(dir.file("expected.dcm")));
    // Only the file itself, whether it was new or replaced an earlier copy.
    EXPECT_EQ(entriesBelow(folder), std::vector<std::string>{"2.25.1001.2002.3003"});
  }
  EXPECT_EQ(openDescriptors(), descriptors);

  // A folder that cannot be made: a reason, and nothing written anywhere.
  std::ofstream(dir.file("plain")) << "x";
  redIRI::detail::ReceivedObject object(receivedDataSet(dir.file("source.dcm")), EXS_LittleEndianImplicit, 0,
                                        "2.25.1001.2002.3003");
  std::string error;
  EXPECT_FALSE(object.write(dir.file("plain") + "/R/", root + ".incoming/", error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(entriesBelow(folder), std::vector<std::string>{"2.25.1001.2002.3003"});
  EXPECT_EQ(openDescriptors(), descriptors);
}
