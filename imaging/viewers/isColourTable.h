// isColourTable: the colour tables the viewers offer by name. "noClut.plist" is the grey ramp and
// "bwInverse.plist" the inverted one (neither needs its file); any other name is a property list
// with 256-entry "Red", "Green" and "Blue" arrays, found through the resource search path, red
// and blue exchanged for "Perfusion.plist".
#pragma once

#include <string>

namespace isImageSDK {

extern const char* const kNoClutName;
extern const char* const kInverseClutName;
extern const char* const kPerfusionClutName;

// A grey ramp of 256 RGB entries, black to white (white to black when inverted).
void greyRamp(unsigned char table[768], bool inverted);

// Fills table with the named colour table; false (table untouched) when it cannot be read.
bool readColourTable(const std::string& name, unsigned char table[768]);

} // namespace isImageSDK
