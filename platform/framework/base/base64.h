// Base64 in the standard alphabet with "=" padding and no line breaks.
//
// Decoding skips space, TAB, CR and LF; any other character outside the alphabet fails the whole
// decode, as does a text of padding only or padding in the wrong place. A missing final padding
// is accepted. So a plain (non-Base64) text fails rather than decoding into garbage.
// All functions may be called from any thread.
#pragma once

#include <string>

namespace cocos2d {

// Encodes inLength bytes into a malloc'd, NUL-terminated text in *out and returns its length
// (without the NUL). Empty input gives 0 and *out = nullptr. Free with safeBase64Free.
int safeBase64Encode(const unsigned char* in, unsigned int inLength, char** out);

// Decodes into a malloc'd buffer in *out followed by one uncounted NUL byte, and returns the
// number of decoded bytes. Empty or invalid input gives 0 and *out = nullptr.
int safeBase64Decode(const unsigned char* in, unsigned int inLength, unsigned char** out);

std::string safeBase64EncodeString(const std::string& text);
// "" on failure.
std::string safeBase64DecodeString(const std::string& text);

void safeBase64Free(void* p);

} // namespace cocos2d
