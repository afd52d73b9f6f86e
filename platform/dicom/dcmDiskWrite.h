// The DICOM layer's name for the one place every file is written through (diskWrite.h, below this
// layer and the framework): redIRI::disk is ::disk.
#pragma once

#include "diskWrite.h"

namespace redIRI {
namespace disk = ::disk;
}  // namespace redIRI
