// Texts from files and peers, made safe for where they go on.
//
// oneLineText: one line of clean text for the screen and for the notices below it: every control
// character (C0, DEL and, as UTF-8, C1) becomes "_", so a value never breaks its line, moves the
// cursor or rings a bell, and each "_" shows where one was; the rest is the program's one rule for
// text from outside (cleanOutsideText: valid UTF-8, nothing that reorders or hides it). Imported
// images and search answers are shown through it alike.
// flatJsonSafe: a clean line that travels on inside a flat JSON text (NSUI::UIJson), which has no
// escaping: the characters that would end a value or open a new one become "_" too.
#pragma once

#include <string>

#include "NSStringUtil.h"

inline std::string oneLineText(const std::string& text)
{
    std::string clean;
    clean.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            clean += '_';
            ++i;
        } else {
            clean += c < 0x20 || c == 0x7F ? '_' : text[i];
        }
    }
    return cleanOutsideText(clean);
}

inline std::string flatJsonSafe(const std::string& text)
{
    std::string safe = oneLineText(text);
    for (char& c : safe)
        if (c == '"' || c == '\\' || c == ',' || c == '{' || c == '}' || c == '[' || c == ']')
            c = '_';
    return safe;
}
