// The layout loader's public header: CSLoader and the shutdown call.
#pragma once

#include "cocostudio/CSLoader.h"

namespace cocostudio {

// Frees the layout loader and its cache of parsed layouts (called once at shutdown).
void destroyCocosStudio();

} // namespace cocostudio
