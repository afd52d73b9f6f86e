#include "platform/CCAtomicFile.h"

#include "diskWrite.h"

namespace cocos2d {
namespace detail {

bool writeFileAtomically(const std::string& path, const void* data, size_t size)
{
    return disk::writeWholeFile(path, data, size, disk::Durability::Synced);
}

void setAtomicWriteStopBeforeRenameForTest(bool stop)
{
    disk::setStopBeforeRenameForTest(stop);
}

} // namespace detail
} // namespace cocos2d
