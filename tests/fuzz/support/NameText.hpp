#pragma once
// What the fuzz oracles ask of a name: the private-part rules treat names
// with other than ASCII letters as hidden, and compare folder names without
// regard to ASCII case.
#include <algorithm>
#include <string>

inline bool isASCII(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

inline std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}
