// Leak checking of the framework's test programs: the project's suppressions (leaks inside GL
// drivers, fontconfig and X libraries) apply even when the runner passes no LSAN_OPTIONS.
#include "qvBuildPaths.h"

#ifndef QV_SOURCE_DIR
#define QV_SOURCE_DIR "."
#endif

extern "C" const char* __lsan_default_options()
{
    return "suppressions=" QV_SOURCE_DIR "/cmake/lsan.supp:print_suppressions=0";
}
