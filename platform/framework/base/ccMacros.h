// Common macros of the framework layer: logging, assertions and the repeat/index sentinels.
#pragma once

#include <climits>
#include <sys/types.h>

#include "base/CCConsole.h"
#include "platform/CCPlatformMacros.h"

// Timers scheduled with this repeat count never stop.
#define CC_REPEAT_FOREVER (UINT_MAX - 1)

// "Not found" of index lookups.
#define CC_INVALID_INDEX (static_cast<ssize_t>(-1))

// CCLOG is the program's debug log; it goes through cocos2d::log in every build so that what a
// test sees does not depend on the build type.
#define CCLOG(format, ...) cocos2d::log(format, ##__VA_ARGS__)
#define CCLOGINFO(format, ...) cocos2d::log(format, ##__VA_ARGS__)
#define CCLOGWARN(format, ...) cocos2d::log(format, ##__VA_ARGS__)
#define CCLOGERROR(format, ...) cocos2d::log(format, ##__VA_ARGS__)

// Checked in debug builds only: logs the message, then aborts.
#ifndef NDEBUG
#define CCASSERT(cond, msg)                                                                        \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            cocos2d::detail::assertFailed(#cond, msg, __FILE__, __LINE__);                         \
        }                                                                                          \
    } while (0)
#else
#define CCASSERT(cond, msg)                                                                        \
    do {                                                                                           \
    } while (0)
#endif
#define CC_ASSERT(cond) CCASSERT(cond, "")

#define CC_DEGREES_TO_RADIANS(__ANGLE__) ((__ANGLE__) * 0.01745329252f)
#define CC_RADIANS_TO_DEGREES(__ANGLE__) ((__ANGLE__) * 57.29577951f)
