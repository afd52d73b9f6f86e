// Unpacks a zip archive of a hot update into a folder, with minizip.
//
// Every entry name is checked before anything is written (Manifest::isSafeRelativePath, after
// dropping the trailing "/" of a folder entry), the declared sizes may not add up to more than
// maxTotalBytes, and no entry may expand past its declared size. Folders are created as needed.
// On any failure the files already written are removed again. Used by AssetsManagerEx's worker.
#pragma once

#include <cstdint>
#include <string>

namespace cocos2d {
namespace extension {
namespace detail {

// folder ends in "/". False with a reason in *error.
bool unpackArchive(const std::string& archivePath, const std::string& folder, int64_t maxTotalBytes,
                   std::string* error);

} // namespace detail
} // namespace extension
} // namespace cocos2d
