#include "core/TemporaryNames.hpp"

#include "core/RandomText.hpp"

namespace TemporaryNames {

namespace {

bool isUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

bool isRandomUUID(std::string_view text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !isUpperHex(text[i])) return false;
    }
    char variant = text[19];
    return text[14] == '4' && (variant == '8' || variant == '9' || variant == 'A' || variant == 'B');
}

}  // namespace

std::string make() { return std::string(prefix) + randomUUID() + std::string(suffix); }

bool isOurTemporaryName(std::string_view name) {
    if (!name.starts_with(prefix) || !name.ends_with(suffix)) return false;
    if (name.size() < prefix.size() + suffix.size()) return false;
    return isRandomUUID(name.substr(prefix.size(), name.size() - prefix.size() - suffix.size()));
}

}  // namespace TemporaryNames
