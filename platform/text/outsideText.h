// Text that comes from outside the program (a peer's answers, a file's values, file names) made
// fit to be shown or logged. Every log line and every such text on a screen goes through the one
// cleaner here, so what the user reads is what was stored: it can neither start a forged line,
// move a terminal's cursor, nor be drawn reversed or invisible. The framework's log, the DICOM
// layer and the foundation (which gives these their public names) all stand on this library.
//
// Texts are byte strings meant to hold UTF-8. Every function may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Decodes the code point of the UTF-8 sequence that begins at text[i] into cp and steps i past it.
// A stray byte, a cut sequence, an overlong form, a surrogate or a value past U+10FFFF is not
// one: false, and i steps over its first byte only. i must be below text.size().
bool decodeUtf8At(std::string_view text, size_t& i, uint32_t& cp);

// One line of clean text, at most maxBytes bytes:
// - valid UTF-8: each byte that does not begin a well-formed sequence becomes U+FFFD;
// - each run of control characters (C0, DEL, C1, the line and paragraph separators), with the
//   spaces beside it, becomes one space (none at either end of the text); other spaces stay;
// - the characters that reorder or hide what is drawn are gone: the bidirectional embeddings,
//   overrides, isolates and marks, the zero-width spaces and joiners, the word joiner and the
//   invisible operators, the byte order mark, the soft hyphen and the tag characters. Letters of
//   right-to-left scripts stay as they are;
// - a longer text is cut at a character boundary and ends in "…" within the bound (with no
//   ellipsis when the bound is shorter than it).
// A text of nothing but such characters gives "": it shows as an empty value does.
std::string cleanOutsideText(std::string_view text, size_t maxBytes = std::string::npos);
