// Text helpers used throughout the program: the printf-style formatter and the number-to-text
// functions built on it, trimming, splitting and replacing, the UTF-8 / UTF-16 / legacy code-page
// conversions, and the folded 32-bit FNV-1a hash that names cache files and identifies requests.
//
// Texts are byte strings holding UTF-8 unless a function says otherwise. Numbers are always written
// with '.' as decimal point: the process keeps the C numeric locale, because these texts travel in
// JSON bodies, SQL statements and settings that are read back with atof.
//
// Threads: every function may be called from any thread. The formatter writes through a scratch
// buffer of its own per thread (allocated on first use), so workers and the main thread never
// share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "outsideText.h"

#define QV_PRINTF_FORMAT(fmtIndex, firstArg) __attribute__((format(printf, fmtIndex, firstArg)))

namespace cocos2d
{
class Mat4;
}

// Size of each thread's formatter scratch buffer, in bytes.
constexpr int kFormatBufferSize = 65536;
// Longest text the formatter returns; a longer result gives the empty text.
constexpr int kFormatMaxLength = 65532;

// printf-style formatting (C99 semantics). Returns "" when the result would be longer than
// kFormatMaxLength characters or when formatting fails.
std::string formatString(const char* format, ...) QV_PRINTF_FORMAT(1, 2);

// Frees the calling thread's formatter buffer; the next formatString on this thread allocates a
// new one. Worker threads free theirs automatically when they end.
void releaseFormatBuffer();
// True when the calling thread currently holds a formatter buffer.
bool hasFormatBuffer();

// "%i".
std::string intToString(int value);
// The value written with `decimals` decimals, then trailing '0's after the decimal point and a bare
// trailing '.' removed: (1.5, 3) -> "1.5", (2.0, 2) -> "2", (100.0, 0) -> "100".
std::string floatToString(float value, int decimals);

// Diagnostic sink of the database layer and the library services; deliberately shows nothing.
void debugLog(const char* format, ...) QV_PRINTF_FORMAT(1, 2);

std::string emptyString();

// Whitespace is space, tab, line feed, vertical tab, form feed and carriage return; bytes of 0x80
// and above never count. Each edits the text in place and returns it.
std::string& trimLeft(std::string& text);
std::string& trimRight(std::string& text);
std::string& trim(std::string& text);

// Appends to `out` (not cleared first) the pieces of `text` between occurrences of `delimiter`.
// Empty pieces are kept: "a,,b" -> a, "", b; "a,b," -> a, b, ""; "" -> "". An empty delimiter
// appends the whole text as one piece.
void splitString(const std::string& text, const std::string& delimiter, std::vector<std::string>& out);

// Replaces every occurrence of `from` by `to`, searching on after each inserted replacement (so
// "aaa" with a -> ba gives "bababa"). An empty `from` leaves the text unchanged.
std::string& replaceAll(std::string& text, const std::string& from, const std::string& to);

// True when every byte is '0'..'9'; true for the empty text.
bool isDigitsOnly(const std::string& text);

// UTF-8 to a new NUL-terminated UTF-16 buffer from malloc (the caller frees it with free). The
// buffer has one unit per input byte plus the terminator, zero-filled beyond the converted text.
// Malformed UTF-8 sequences become U+FFFD.
char16_t* utf8ToWide(const char* utf8);
// NUL-terminated UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string wideToUtf8(const char16_t* wide);
// Text from DICOM files and peers in the legacy Chinese code page: text that is already valid
// UTF-8 is returned unchanged, anything else is converted from GB18030; text that cannot be
// converted is returned unchanged.
std::string ansiToUtf8(std::string text);
// decodeUtf8At (one UTF-8 character) and cleanOutsideText (text from outside made one clean line
// to show or log) come from outsideText.h, which the framework's log and the DICOM layer use too.
// True when the bytes form valid UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool isValidUtf8(std::string_view text);
// The text as valid UTF-8: every byte that does not begin a well-formed sequence becomes U+FFFD.
// Texts from outside (file and archive entry names, peer values) pass through it before they are
// shown, toasted or reported.
std::string validUtf8(std::string_view text);

// 64-bit FNV-1a over the bytes of the text (offset basis 0xcbf29ce484222325, prime 0x100000001b3).
uint64_t fnv1a64(std::string_view text);
// fnv1a64 folded to 32 bits as (high half) XOR (low half). "abc" -> 0xe25ef552.
uint32_t foldedHash32(std::string_view text);

// The matrix whose rows, top to bottom, are values[0..3], values[4..7], values[8..11],
// values[12..15] (the row-major layout of the series cache), in the column-major Mat4.
cocos2d::Mat4 matrixFromArray(const float values[16]);
