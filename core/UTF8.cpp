#include "core/UTF8.hpp"

#include <cstddef>

#include "core/BridgeError.hpp"

namespace UTF8 {

bool isValid(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            ++i;
            continue;
        }
        // The lead byte fixes the length and the range of the second byte,
        // which is where overlong forms, surrogates and code points past
        // U+10FFFF show.
        std::size_t length;
        unsigned char low = 0x80, high = 0xBF;
        if (byte >= 0xC2 && byte <= 0xDF) {
            length = 2;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            length = 3;
            if (byte == 0xE0) low = 0xA0;
            if (byte == 0xED) high = 0x9F;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            length = 4;
            if (byte == 0xF0) low = 0x90;
            if (byte == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        auto second = static_cast<unsigned char>(text[i + 1]);
        if (second < low || second > high) return false;
        for (std::size_t k = 2; k < length; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if (next < 0x80 || next > 0xBF) return false;
        }
        i += length;
    }
    return true;
}

void checkFileName(std::string_view path) {
    if (!isValid(path)) throw BridgeError(400, "the file name is not valid UTF-8");
}

void checkFolderName(std::string_view path) {
    if (!isValid(path)) throw BridgeError(400, "the folder name is not valid UTF-8");
}

}  // namespace UTF8
