// UTF-8 decoding shared by the label layout and the input simulator.
#pragma once

#include <string>
#include <vector>

namespace cocos2d {

// Replaces `out` with the code points of `text`. A byte that does not start a complete, well-formed
// sequence becomes U+FFFD and decoding resumes at the next byte.
void decodeUtf8(const std::string& text, std::vector<char32_t>& out);

} // namespace cocos2d
