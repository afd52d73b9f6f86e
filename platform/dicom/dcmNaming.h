// Where a DICOM instance is stored below the library root (internal): the folder of its
// patient, study and series and its file name. The storage server, the retrieval and the
// import all place files by these rules, so one instance always lands at one path.
//
//   <root><patient>/<study>/<series>/<file name>
//
// Values come from files and from the network; each becomes a single safe path component
// (no "/", "\", NUL, or dot-only names), so no value can place a file outside the root.
// Values that had to change get a hash of the original appended, so different values keep
// different folders ("A/B" and "A_B").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace redIRI {
namespace naming {

// Replacements for empty identifying values, applied before naming and in stored records.
extern const char* const kUnknownStudy;     // "unknownStudy"
extern const char* const kUnknownSeries;    // "unknownSeries"
extern const char* const kAnonymous;        // "ANONYMOUS"
extern const char* const kEmptyPatientId;   // "EmptyID"
extern const char* const kUnknownInstance;  // "unknownImageUID"

// The 64-bit FNV-1a hash of the bytes, folded to 32 bits as (low word) XOR (high word).
uint32_t foldedHash(std::string_view text);

// One path component: letters, digits, ".", "-", "_", " " and "^" are kept, everything else
// becomes "_"; leading dots are dropped; cut to 64 bytes; when anything changed, "_" and the
// folded hash of the original in eight lower-case hex digits are appended.
std::string safeComponent(std::string_view text);

// "patient/study/series" (no trailing "/"), the patient component being PatientName + "_" +
// PatientID; empty values take the replacements above. When the name or the ID holds "_" the
// patient component always ends in "_" and the hash of the two values taken apart, so two
// patients never share a folder.
std::string dicomFolder(std::string_view patientName, std::string_view patientId, std::string_view studyUid,
                        std::string_view seriesUid);

// The SOP Instance UID when it is 1 to 64 digits and dots not beginning with "."; otherwise the
// eight hex digits of its folded hash (of kUnknownInstance when empty).
std::string instanceFileName(std::string_view sopInstanceUid);

}  // namespace naming
}  // namespace redIRI
