// Reads XML property lists into Values (used by FileUtils).
//
// Elements: dict (MAP), array (VECTOR), string (STRING), integer (INTEGER; a number outside
// the int range keeps its text as STRING), real (DOUBLE), true/false (BOOLEAN), date and data
// (STRING, the raw text). Entities are decoded. Malformed or binary input, a root that is not a
// dictionary, or nesting deeper than 256 levels give an empty map.
#pragma once

#include <cstddef>

#include "base/CCValue.h"

namespace cocos2d {
namespace detail {

ValueMap readPlistDictionary(const char* data, size_t size);

} // namespace detail
} // namespace cocos2d
