// Conversion of an interpolated 32-bit float sum to a sample type: truncation toward zero,
// saturated to the type's range for the integer types (cubic weights can overshoot near
// sharp edges), unchanged for float.
#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>

namespace isImageSDK {

template <class T>
inline T sampleFromFloat(float v)
{
    if constexpr (std::is_floating_point<T>::value) {
        return v;
    } else {
        constexpr float lo = static_cast<float>(std::numeric_limits<T>::lowest());
        constexpr float hi = static_cast<float>(std::numeric_limits<T>::max());
        // Written so that NaN falls to the lowest value instead of an undefined conversion.
        if (!(v > lo))
            return std::numeric_limits<T>::lowest();
        if (v >= hi)
            return std::numeric_limits<T>::max();
        return static_cast<T>(v);
    }
}

// Same for a double (slab accumulators).
template <class T>
inline T sampleFromDouble(double v)
{
    if constexpr (std::is_floating_point<T>::value) {
        return static_cast<T>(v);
    } else {
        constexpr double lo = static_cast<double>(std::numeric_limits<T>::lowest());
        constexpr double hi = static_cast<double>(std::numeric_limits<T>::max());
        if (!(v > lo))
            return std::numeric_limits<T>::lowest();
        if (v >= hi)
            return std::numeric_limits<T>::max();
        return static_cast<T>(v);
    }
}

} // namespace isImageSDK
