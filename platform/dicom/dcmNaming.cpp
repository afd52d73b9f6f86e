#include "dcmNaming.h"

#include <cstdio>

namespace redIRI {
namespace naming {

const char* const kUnknownStudy = "unknownStudy";
const char* const kUnknownSeries = "unknownSeries";
const char* const kAnonymous = "ANONYMOUS";
const char* const kEmptyPatientId = "EmptyID";
const char* const kUnknownInstance = "unknownImageUID";

namespace {

const size_t kMaxComponent = 64;

std::string hashText(std::string_view text) {
  char buf[12];
  std::snprintf(buf, sizeof(buf), "%08x", static_cast<unsigned>(foldedHash(text)));
  return buf;
}

bool isKept(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
         c == '_' || c == ' ' || c == '^';
}

std::string_view orDefault(std::string_view value, const char* replacement) {
  return value.empty() ? std::string_view(replacement) : value;
}

}  // namespace

uint32_t foldedHash(std::string_view text) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ull;
  }
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}

namespace {

// The component before any hash is appended.
std::string keptPart(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) out.push_back(isKept(c) ? c : '_');
  size_t dots = 0;
  while (dots < out.size() && out[dots] == '.') ++dots;
  out.erase(0, dots);
  if (out.size() > kMaxComponent) out.resize(kMaxComponent);
  return out;
}

}  // namespace

std::string safeComponent(std::string_view text) {
  std::string out = keptPart(text);
  if (out != text) out += "_" + hashText(text);
  return out;
}

std::string dicomFolder(std::string_view patientName, std::string_view patientId, std::string_view studyUid,
                        std::string_view seriesUid) {
  const std::string_view name = orDefault(patientName, kAnonymous);
  const std::string_view id = orDefault(patientId, kEmptyPatientId);
  std::string patient(name);
  patient += "_";
  patient += id;
  // Joined with "_", a name or ID that holds "_" itself makes the split ambiguous: ("A_B", "C") and
  // ("A", "B_C") both read "A_B_C". Such a pair gets the hash of the two values kept apart.
  std::string patientPart;
  if (name.find('_') != std::string_view::npos || id.find('_') != std::string_view::npos) {
    std::string pair(name);
    pair.push_back('\0');
    pair += id;
    patientPart = keptPart(patient) + "_" + hashText(pair);
  } else {
    patientPart = safeComponent(patient);
  }
  return patientPart + "/" + safeComponent(orDefault(studyUid, kUnknownStudy)) + "/" +
         safeComponent(orDefault(seriesUid, kUnknownSeries));
}

std::string instanceFileName(std::string_view sopInstanceUid) {
  const std::string_view uid = orDefault(sopInstanceUid, kUnknownInstance);
  bool plain = uid.size() <= 64 && uid.front() != '.';
  for (char c : uid) plain = plain && ((c >= '0' && c <= '9') || c == '.');
  return plain ? std::string(uid) : hashText(uid);
}

}  // namespace naming
}  // namespace redIRI
