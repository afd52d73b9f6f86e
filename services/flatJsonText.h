// Texts from files and peers travel on inside flat JSON texts (NSUI::UIJson), which have no
// escaping: a value is made safe by turning the characters that would end it or open a new one
// into "_".
#pragma once

#include <string>

inline std::string flatJsonSafe(std::string text)
{
    for (char& c : text)
        if (c == '"' || c == '\\' || c == ',' || c == '{' || c == '}' || c == '[' || c == ']' ||
            static_cast<unsigned char>(c) < 0x20)
            c = '_';
    return text;
}
