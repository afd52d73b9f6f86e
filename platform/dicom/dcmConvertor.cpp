#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "dcmDiskWrite.h"
#include "dcmFile.h"
#include "dcmLib.h"
#include "dcmLibrary.h"
#include "dcmStorage.h"
#include "dcmText.h"

namespace redIRI {

namespace {

bool isAscii(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

std::string decimals(const float* values, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    if (i) out.push_back('\\');
    out += text::formatDecimalString(values[i]);
  }
  return out;
}

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Patient and study attributes carried over from the source image, so the favourite shows
// who and what it came from (and the modality's window presets).
const DcmTagKey kCopiedFromSource[] = {
    DCM_PatientName, DCM_PatientID,         DCM_PatientBirthDate,   DCM_PatientSex,
    DCM_StudyDate,   DCM_StudyTime,         DCM_AccessionNumber,    DCM_ReferringPhysicianName,
    DCM_StudyDescription, DCM_Modality,     DCM_InstitutionName,
};

// Type 2 attributes of the patient, study and series modules: present, possibly empty.
const DcmTagKey kRequiredEmpty[] = {
    DCM_PatientName, DCM_PatientID, DCM_PatientBirthDate, DCM_PatientSex,
    DCM_StudyDate,   DCM_StudyTime, DCM_AccessionNumber,  DCM_ReferringPhysicianName,
};

}  // namespace

bool dcmConvertor::convert(const ConvertRecord& record) {
  if (!detail::libraryReady()) return false;
  const std::string output(record.outputPath, strnlen(record.outputPath, sizeof(record.outputPath)));
  const bool grey = record.samplesPerPixel == 0 || record.samplesPerPixel == 1;
  if (output.empty() || !record.pixels || record.rows <= 0 || record.columns <= 0 || record.rows > 65535 ||
      record.columns > 65535 || (!grey && record.samplesPerPixel != 3)) {
    detail::logLine("dcmConvertor: invalid conversion record for \"%s\"", output.c_str());
    return false;
  }

  DcmFileFormat file;
  DcmDataset* data = file.getDataset();
  OFCondition cond = EC_Normal;
  bool needsUtf8 = false;
  auto put = [&](const DcmTagKey& key, const std::string& value) {
    if (cond.good()) cond = data->putAndInsertString(key, value.c_str());
  };
  auto putU16 = [&](const DcmTagKey& key, Uint16 value) {
    if (cond.good()) cond = data->putAndInsertUint16(key, value);
  };

  const std::string source(record.sourcePath, strnlen(record.sourcePath, sizeof(record.sourcePath)));
  bool copiedModality = false;
  if (!source.empty()) {
    detail::DicomFile original;
    if (original.open(source.c_str(), "dcmConvertor")) {
      // Read whole before anything is put: a source that turns out unreadable lends nothing.
      std::vector<std::pair<DcmTagKey, std::string>> copied;
      if (!original.guard("dcmConvertor", [&] {
            for (const DcmTagKey& key : kCopiedFromSource)
              if (DcmElement* e = original.find(key.getGroup(), key.getElement()))
                copied.emplace_back(key, original.valueText(e));
          }))
        copied.clear();
      for (const auto& [key, value] : copied) {
        needsUtf8 = needsUtf8 || !isAscii(value);
        put(key, value);
        if (key == DCM_Modality && !value.empty()) copiedModality = true;
      }
    }
  }
  for (const DcmTagKey& key : kRequiredEmpty)
    if (cond.good() && !data->tagExists(key)) cond = data->insertEmptyElement(key);
  if (!copiedModality) put(DCM_Modality, "OT");
  if (needsUtf8) put(DCM_SpecificCharacterSet, "ISO_IR 192");

  auto fieldText = [](const char* field, size_t size) { return std::string(field, strnlen(field, size)); };
  std::string studyUid = fieldText(record.studyUID, sizeof(record.studyUID));
  std::string seriesUid = fieldText(record.seriesUID, sizeof(record.seriesUID));
  put(DCM_SOPClassUID, UID_SecondaryCaptureImageStorage);
  put(DCM_SOPInstanceUID, text::newUid());
  put(DCM_StudyInstanceUID, studyUid.empty() ? text::newUid() : studyUid);
  put(DCM_SeriesInstanceUID, seriesUid.empty() ? text::newUid() : seriesUid);
  put(DCM_SeriesNumber, fieldText(record.seriesNumber, sizeof(record.seriesNumber)));
  put(DCM_InstanceNumber, fieldText(record.instanceNumber, sizeof(record.instanceNumber)));
  put(DCM_StudyID, fieldText(record.studyID, sizeof(record.studyID)));
  put(DCM_ConversionType, "WSD");

  putU16(DCM_Rows, static_cast<Uint16>(record.rows));
  putU16(DCM_Columns, static_cast<Uint16>(record.columns));
  const float spacing[2] = {record.spacing[1], record.spacing[0]};  // row\column
  put(DCM_PixelSpacing, decimals(spacing, 2));
  put(DCM_ImagePositionPatient, decimals(record.position, 3));
  const float orientation[6] = {record.rowDirection[0],    record.rowDirection[1],    record.rowDirection[2],
                                record.columnDirection[0], record.columnDirection[1], record.columnDirection[2]};
  put(DCM_ImageOrientationPatient, decimals(orientation, 6));

  const size_t elements = static_cast<size_t>(record.rows) * static_cast<size_t>(record.columns);
  if (grey) {
    putU16(DCM_SamplesPerPixel, 1);
    put(DCM_PhotometricInterpretation, "MONOCHROME2");
    putU16(DCM_BitsAllocated, 16);
    putU16(DCM_BitsStored, 16);
    putU16(DCM_HighBit, 15);
    putU16(DCM_PixelRepresentation, record.isSigned ? 1 : 0);
    put(DCM_WindowCenter, text::formatDecimalString(record.windowCenter));
    put(DCM_WindowWidth, text::formatDecimalString(record.windowWidth));
    put(DCM_RescaleIntercept, "0");
    put(DCM_RescaleSlope, text::formatDecimalString(record.rescaleSlope == 0.0f ? 1.0f : record.rescaleSlope));
    if (cond.good())
      cond = data->putAndInsertUint16Array(DCM_PixelData, static_cast<const Uint16*>(record.pixels),
                                           static_cast<unsigned long>(elements));
  } else {
    putU16(DCM_SamplesPerPixel, 3);
    put(DCM_PhotometricInterpretation, "RGB");
    putU16(DCM_PlanarConfiguration, 0);
    putU16(DCM_BitsAllocated, 8);
    putU16(DCM_BitsStored, 8);
    putU16(DCM_HighBit, 7);
    putU16(DCM_PixelRepresentation, 0);
    if (cond.good())
      cond = data->putAndInsertUint8Array(DCM_PixelData, static_cast<const Uint8*>(record.pixels),
                                          static_cast<unsigned long>(elements * 3));
  }
  if (cond.bad()) {
    detail::logLine("dcmConvertor: cannot build \"%s\": %s", output.c_str(), cond.text());
    return false;
  }

  // Written beside the target under a hidden name, then renamed over it: readers never see a
  // half-written file and a failure leaves nothing behind.
  std::string temp = folderOf(output) + "/." + baseNameOf(output) + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    disk::noteFailure(errno);
    detail::logLine("dcmConvertor: cannot create \"%s\": %s", output.c_str(), std::strerror(errno));
    return false;
  }
  ::fchmod(fd, 0644);
  temp.assign(name.data());
  std::string error;
  // As saveFile writes it, through the one writer: a full disk is told by its own reason.
  bool written = detail::writeFileFormat(fd, file, EXS_LittleEndianExplicit, EET_UndefinedLength, EWM_fileformat, error);
  if (::close(fd) != 0 && written) {
    written = false;
    disk::noteFailure(errno);
    error = std::string("cannot write the file: ") + std::strerror(errno);
  }
  if (!written) {
    ::unlink(temp.c_str());
    detail::logLine("dcmConvertor: cannot write \"%s\": %s", output.c_str(), error.c_str());
    return false;
  }
  if (std::rename(temp.c_str(), output.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    detail::logLine("dcmConvertor: cannot write \"%s\": %s", output.c_str(), std::strerror(err));
    return false;
  }
  return true;
}

}  // namespace redIRI
