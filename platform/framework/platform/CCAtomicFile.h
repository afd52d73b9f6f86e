// Whole-file writes that never leave a partial file behind: the framework's name for the one place
// every file of the program is written through (diskWrite.h), so that a full disk means the same to
// a settings file or a capture as to an image.
//
// The bytes go to a temporary file in the target's folder, which is flushed to disk (fsync) and
// then renamed over the target; the folder is synced so the rename survives a crash. On any
// failure the temporary file is removed, the target keeps its old content, and false is returned
// with errno (and disk::lastError) set to the system's reason.
#pragma once

#include <cstddef>
#include <string>

namespace cocos2d {
namespace detail {

bool writeFileAtomically(const std::string& path, const void* data, size_t size);

// [hook] Makes the next writes stop after the temporary file is complete and before the rename,
// as a crash at that moment would (the temporary file is left behind and false is returned).
void setAtomicWriteStopBeforeRenameForTest(bool stop);

} // namespace detail
} // namespace cocos2d
