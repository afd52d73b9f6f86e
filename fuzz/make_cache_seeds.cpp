// Writes small series caches with the program's own writer, as seeds for qv_fuzz_series_cache:
//   qv_fuzz_make_cache <folder>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "isImageTypes.h"
#include "isSeriesCache.h"

using namespace isImageSDK;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  std::vector<SeriesRecordData> records(3);
  std::vector<std::string> names;
  for (size_t i = 0; i < records.size(); ++i) {
    SeriesRecordData& r = records[i];
    std::memset(&r, 0, sizeof r);
    r.columns = 16;
    r.rows = 12;
    r.spacingX = r.spacingY = 0.5f;
    r.frames = 1;
    r.matrix[0] = r.matrix[5] = r.matrix[10] = r.matrix[15] = 1;
    r.matrix[11] = static_cast<float>(i) * 2.5f;
    r.geometryValid = 1;
    std::strcpy(r.seriesDescription, "fuzz seed");
    std::strcpy(r.patientName, "SEED^ONE");
    r.instanceNumber = static_cast<int16_t>(i + 1);
    r.pixelType = 3;
    r.bitsAllocated = 16;
    r.rescaleSlope = 1;
    r.windowWidth = 400;
    r.windowCenter = 40;
    names.push_back("s" + std::to_string(i) + ".dcm");
  }
  std::vector<const SeriesRecordData*> pointers;
  for (const SeriesRecordData& r : records) pointers.push_back(&r);
  bool ok = writeSeriesCache(folder + "/series.prebin", pointers, names);

  VolumeRecordData volume;
  std::memset(&volume, 0, sizeof volume);
  volume.columns = 8;
  volume.rows = 8;
  volume.sliceCount = 2;
  volume.spacingX = volume.spacingY = volume.sliceSpacing = 1;
  volume.matrix[0] = volume.matrix[5] = volume.matrix[10] = volume.matrix[15] = 1;
  volume.pixelType = 3;
  std::vector<VolumeSliceRecordData> slices(2);
  for (size_t i = 0; i < slices.size(); ++i) {
    std::memset(&slices[i], 0, sizeof slices[i]);
    slices[i].instanceNumber = static_cast<int16_t>(i + 1);
    slices[i].bitsAllocated = 16;
    slices[i].rescaleSlope = 1;
  }
  ok = writeVolumeCache(folder + "/volume.prebin", volume, slices, {"a/1.dcm", "a/2.dcm"}) && ok;
  return ok ? 0 : 1;
}
