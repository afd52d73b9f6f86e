// Person names as the screens show them.
//
// A DICOM person name holds up to three component groups separated by "=" (alphabetic,
// ideographic, phonetic), each of up to five components separated by "^" (family, given,
// middle, prefix, suffix). Writers often leave empty groups and components at the end
// ("Wang^XiaoDong=王^小東=", "DOE^JOHN^^^"); shown as stored they read like typing errors.
// The stored value (database rows, files, sent datasets) is never changed: only the text put
// on screen goes through displayPersonName.
#pragma once

#include <string>

namespace isImageSDK {

// The name without trailing empty components in each group and without trailing empty groups:
// "Wang^XiaoDong=王^小東=" -> "Wang^XiaoDong=王^小東", "DOE^JOHN^^^" -> "DOE^JOHN",
// "Yamada^Tarou==やまだ^たろう" stays as it is (an empty group before a filled one keeps its
// place), "^=^" -> "".
std::string displayPersonName(const std::string& stored);

} // namespace isImageSDK
