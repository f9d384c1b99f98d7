#pragma once
// TEMPORARY until the core helper lands.
#include <string>
#include <string_view>
inline std::string lastComponent(const std::string& path) {
    std::string_view trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.remove_suffix(1);
    auto slash = trimmed.rfind('/');
    if (slash == std::string_view::npos || trimmed.size() == 1) return std::string(trimmed);
    return std::string(trimmed.substr(slash + 1));
}
