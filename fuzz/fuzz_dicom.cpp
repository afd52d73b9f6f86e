// libFuzzer entry for the DICOM layer's file reading: each input is written to a file (the
// readers take paths) and put through what the program asks of a file it meets: the import's
// record (dcmReadTag::getDicomMessage), the tag list of the information panel, and the pixels
// and the PNG preview of dcmReader. Whatever DCMTK accepts must fit the bound on its parse and
// agree with the structural walk (treeBound.h).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dcmtk/oflog/oflog.h>

#include "dcmFile.h"
#include "dcmLib.h"
#include "treeBound.h"

namespace {

bool discardPng(int width, int height, unsigned char* rgb, const char*) {
  // Touch the whole image so a short buffer shows up under AddressSanitizer.
  unsigned sum = 0;
  for (long i = 0; i < static_cast<long>(width) * height * 3; ++i) sum += rgb[i];
  return sum != 0xFFFFFFFFu;
}

const std::string& inputPath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/qv-fuzz-dicom-" + std::to_string(::getpid()) + ".dcm";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool installed = [] {
    redIRI::setSavePngCallback(discardPng);
    // The library sets DCMTK's logger up on first use; after that it is quietened, every
    // damaged input would otherwise fill the log.
    redIRI::dcmReader first;
    first.setFile("/");
    OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
    return true;
  }();
  (void)installed;

  const std::string& path = inputPath();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);

  {
    redIRI::detail::DicomFile file;
    qvfuzz::WalkedTags walked;
    const bool opened = file.open(path.c_str(), nullptr);
    walked.stop();
    if (opened) {
      qvfuzz::checkTree({file.metaInfo(), file.dataset()});
      qvfuzz::checkTopLevel(file.dataset(), walked.tags());
    }
  }

  redIRI::dcmReader reader;
  reader.setLanguage(size & 1);
  if (reader.setFile(path.c_str())) {
    char text[256];
    reader.readDicomTagString(0x0010, 0x0010, text, sizeof(text));
    reader.readDicomTagString(0x0018, 0x1072, text, sizeof(text));
    reader.readDicomTagString(0x0028, 0x0030, text, sizeof(text));
    unsigned short value = 0;
    reader.readDicomTagUint16(0x0028, 0x0010, value);
    redIRI::dcmReader::PixelType type;
    if (reader.readDicomPixelType(type)) {
      reader.convertToPngFile("/dev/null", (size & 2) != 0);
      int count = 0;
      const char* pixels = reader.readDicomPixelPointer(type, count);
      if (pixels && count > 0) {
        const size_t bytes = static_cast<size_t>(count) * (type == 0 ? 1 : type == 1 ? 2 : 3);
        volatile char last = pixels[bytes - 1];
        (void)last;
      }
    }
  }
  redIRI::dcmReadTag tags;
  if (tags.setFile(path.c_str())) {
    int count = 0;
    redIRI::dcmReadTag::DicomTags* list = tags.getTagList(count);
    redIRI::dcmReadTag::freeTagList(list);
    tags.getImageScale();
    tags.getTag(0x0008, 0x0060);
    redIRI::DCM_MESSAGE record;
    tags.getDicomMessage(record);
  }
  return 0;
}
