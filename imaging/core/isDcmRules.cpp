#include "isDcmRules.h"

#include "isImageTypes.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace isImageSDK {

namespace {

bool same(const char* text, const char* term)
{
    return std::strcmp(text, term) == 0;
}

int decimalPart(const char* text, size_t from, size_t length)
{
    char part[8] = {0};
    const size_t available = std::strlen(text);
    for (size_t i = 0; i < length && from + i < available; ++i)
        part[i] = text[from + i];
    return std::atoi(part);
}

// Sample * slope + intercept, truncated towards zero and held inside [lo, hi]; NaN gives lo.
template <class T>
void rescaleInto(const void* samples, bool signedSamples, size_t n, float slope, float intercept, T* out)
{
    constexpr float lo = static_cast<float>(std::numeric_limits<T>::min());
    constexpr float hi = static_cast<float>(std::numeric_limits<T>::max());
    auto convert = [&](const auto* in) {
        for (size_t i = 0; i < n; ++i) {
            float v = static_cast<float>(in[i]) * slope + intercept;
            v = v >= lo ? v : lo;
            v = v <= hi ? v : hi;
            out[i] = static_cast<T>(v);
        }
    };
    if (signedSamples)
        convert(static_cast<const int16_t*>(samples));
    else
        convert(static_cast<const uint16_t*>(samples));
}

void rescaleToFloat(const void* samples, bool signedSamples, size_t n, float slope, float intercept, float* out)
{
    auto convert = [&](const auto* in) {
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<float>(in[i]) * slope + intercept;
    };
    if (signedSamples)
        convert(static_cast<const int16_t*>(samples));
    else
        convert(static_cast<const uint16_t*>(samples));
}

bool hasFraction(float value)
{
    return std::isfinite(value) && value != std::trunc(value);
}

// Truncation towards zero of a value read from a file, without undefined conversions.
long truncated(float value)
{
    if (!(value > -2147483648.0f && value < 2147483648.0f))
        return 0;
    return static_cast<long>(value);
}

} // namespace

int modalityCodeOf(const char* text)
{
    if (same(text, "PT"))
        return MODALITY_PT;
    if (same(text, "CT"))
        return MODALITY_CT;
    if (same(text, "MR"))
        return MODALITY_MR;
    if (same(text, "US"))
        return MODALITY_US;
    if (same(text, "NM"))
        return MODALITY_NM;
    if (same(text, "XA"))
        return MODALITY_XA;
    if (same(text, "DR") || same(text, "DX"))
        return MODALITY_DX;
    return MODALITY_OTHER;
}

bool patientPositionOf(const char* text, int& posture, int& headFeet)
{
    static const struct {
        const char* term;
        int posture;
        int headFeet;
    } kPositions[] = {
        {"HFS", 0, 0}, {"HFP", 1, 0}, {"HFDR", 2, 0}, {"HFDL", 3, 0},
        {"FFS", 0, 1}, {"FFP", 1, 1}, {"FFDR", 2, 1}, {"FFDL", 3, 1},
    };
    for (const auto& p : kPositions) {
        if (same(text, p.term)) {
            posture = p.posture;
            headFeet = p.headFeet;
            return true;
        }
    }
    posture = 0;
    headFeet = 2;
    return false;
}

int sexCodeOf(const char* text)
{
    if (same(text, "M"))
        return 1;
    if (same(text, "F"))
        return 2;
    return 3;
}

int decayCorrectionOf(const char* text)
{
    if (same(text, "ADMIN"))
        return 1;
    if (same(text, "START"))
        return 2;
    if (same(text, "NONE"))
        return 3;
    return 4;
}

int unitsCodeOf(const char* text)
{
    if (same(text, "BQML"))
        return 1;
    if (same(text, "CNTS"))
        return 2;
    return 3;
}

void parseDicomDateTime(int fields[6], const char* text, int mode)
{
    switch (mode) {
    case DATETIME_DA:
        fields[0] = decimalPart(text, 0, 4);
        fields[1] = decimalPart(text, 4, 2);
        fields[2] = decimalPart(text, 6, 2);
        break;
    case DATETIME_TM:
        fields[3] = decimalPart(text, 0, 2);
        fields[4] = decimalPart(text, 2, 2);
        fields[5] = decimalPart(text, 4, 2);
        break;
    case DATETIME_DT:
        fields[0] = decimalPart(text, 0, 4);
        fields[1] = decimalPart(text, 4, 2);
        fields[2] = decimalPart(text, 6, 2);
        fields[3] = decimalPart(text, 8, 2);
        fields[4] = decimalPart(text, 10, 2);
        fields[5] = decimalPart(text, 12, 2);
        break;
    default:
        break;
    }
}

void parseMultiValue(const char* text, double* out, int capacity, int& count)
{
    count = 0;
    const char* piece = text;
    for (;;) {
        const char* end = std::strchr(piece, '\\');
        const size_t length = end ? static_cast<size_t>(end - piece) : std::strlen(piece);
        if (count < capacity) {
            char number[64] = {0};
            std::memcpy(number, piece, length < sizeof(number) - 1 ? length : sizeof(number) - 1);
            out[count] = std::atof(number);
        }
        ++count;
        if (!end)
            break;
        piece = end + 1;
    }
}

cocos2d::Mat4 displayFrameMatrix(const double row[3], const double column[3], const double position[3],
                                 int posture, int headFeet)
{
    // (x, y, z) in patient coordinates to the display frame, by patient position.
    auto map = [posture, headFeet](const double v[3], double out[3]) {
        const double x = v[0], y = v[1], z = v[2];
        const int p = headFeet == 2 ? 0 : posture;
        if (headFeet == 1) {
            switch (p) {
            case 1: out[0] = x, out[1] = -z, out[2] = y; return;
            case 2: out[0] = -y, out[1] = -z, out[2] = x; return;
            case 3: out[0] = y, out[1] = -z, out[2] = -x; return;
            default: out[0] = -x, out[1] = -z, out[2] = -y; return;
            }
        }
        switch (p) {
        case 1: out[0] = -x, out[1] = z, out[2] = y; return;
        case 2: out[0] = y, out[1] = z, out[2] = x; return;
        case 3: out[0] = -y, out[1] = z, out[2] = -x; return;
        default: out[0] = x, out[1] = z, out[2] = -y; return;
        }
    };
    double r[3], c[3], p[3];
    map(row, r);
    map(column, c);
    map(position, p);
    const double n[3] = {r[1] * c[2] - r[2] * c[1], r[2] * c[0] - r[0] * c[2], r[0] * c[1] - r[1] * c[0]};

    cocos2d::Mat4 m; // column-major: m[4 * column + row]
    for (int i = 0; i < 3; ++i) {
        m.m[0 + i] = static_cast<float>(r[i]);
        m.m[4 + i] = static_cast<float>(c[i]);
        m.m[8 + i] = static_cast<float>(n[i]);
        m.m[12 + i] = static_cast<float>(p[i]);
    }
    m.m[3] = m.m[7] = m.m[11] = 0.0f;
    m.m[15] = 1.0f;
    return m;
}

int selectPixelType(int bitsAllocated, int libraryType, int modality, float slope, float intercept,
                    int representation)
{
    if (bitsAllocated == 8) {
        if (libraryType == LIBRARY_GREY8)
            return PIXEL_U8;
        if (libraryType == LIBRARY_RGB24)
            return PIXEL_RGB;
        return -1;
    }
    if (bitsAllocated == 24)
        return PIXEL_RGB;
    if (bitsAllocated == 16 && libraryType == LIBRARY_GREY16) {
        if (modality == MODALITY_PT)
            return PIXEL_FLOAT;
        if (hasFraction(slope) || hasFraction(intercept) || slope > 1.0f)
            return PIXEL_FLOAT;
        if (representation == 1 || representation == 3 || intercept < 0.0f || slope < 0.0f)
            return PIXEL_I16;
        return PIXEL_U16;
    }
    return -1;
}

bool libraryTypeFits(int libraryType, int pixelType)
{
    switch (pixelType) {
    case PIXEL_U8: return libraryType == LIBRARY_GREY8;
    case PIXEL_I16:
    case PIXEL_U16:
    case PIXEL_FLOAT: return libraryType == LIBRARY_GREY16;
    case PIXEL_RGB: return libraryType == LIBRARY_RGB24;
    default: return false;
    }
}

int libraryElementBytes(int libraryType)
{
    switch (libraryType) {
    case LIBRARY_GREY8: return 1;
    case LIBRARY_GREY16: return 2;
    case LIBRARY_RGB24: return 3;
    default: return 0;
    }
}

bool convertPixels(const void* samples, int libraryType, size_t n, int pixelType, float slope, float intercept,
                   int representation, void* out)
{
    if (!libraryTypeFits(libraryType, pixelType))
        return false;
    const bool signedSamples = representation == 1 || representation == 3;
    switch (pixelType) {
    case PIXEL_U8:
        std::memcpy(out, samples, n);
        return true;
    case PIXEL_RGB:
        std::memcpy(out, samples, 3 * n);
        return true;
    case PIXEL_FLOAT:
        rescaleToFloat(samples, signedSamples, n, slope, intercept, static_cast<float*>(out));
        return true;
    default:
        break;
    }
    // 16-bit integer outputs: stored samples unchanged when the rescale is the identity.
    if (truncated(slope) == 1 && truncated(intercept) == 0) {
        std::memcpy(out, samples, 2 * n);
        return true;
    }
    if (pixelType == PIXEL_I16)
        rescaleInto(samples, signedSamples, n, slope, intercept, static_cast<int16_t*>(out));
    else
        rescaleInto(samples, signedSamples, n, slope, intercept, static_cast<uint16_t*>(out));
    return true;
}

void copyTextField(char* field, size_t size, const char* text)
{
    if (size == 0)
        return;
    std::memset(field, 0, size);
    size_t n = std::strlen(text);
    if (n > size - 1) {
        n = size - 1;
        // Drop a character cut in two: back up over continuation bytes to its lead byte.
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memcpy(field, text, n);
}

} // namespace isImageSDK
