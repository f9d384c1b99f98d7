#include "app/shell/PlainTextTypes.hpp"

#include <algorithm>
#include <cctype>

namespace {

std::string_view trimmed(std::string_view text) {
    auto space = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

namespace PlainTextTypes {

std::optional<std::string> characterSet(std::string_view mimeType) {
    const auto semicolon = mimeType.find(';');
    if (!sameIgnoringCase(trimmed(mimeType.substr(0, semicolon)), "text/plain")) return std::nullopt;
    if (semicolon == std::string_view::npos) return "ASCII";

    // Only the one parameter GTK writes: a type with others is not the
    // string's, and is left to whoever offered it.
    const std::string_view parameter = mimeType.substr(semicolon + 1);
    const auto equals = parameter.find('=');
    if (equals == std::string_view::npos || parameter.find(';') != std::string_view::npos) return std::nullopt;
    if (!sameIgnoringCase(trimmed(parameter.substr(0, equals)), "charset")) return std::nullopt;
    std::string_view set = trimmed(parameter.substr(equals + 1));
    if (set.size() >= 2 && set.front() == '"' && set.back() == '"') set = set.substr(1, set.size() - 2);
    if (set.empty() || set.find('"') != std::string_view::npos) return std::nullopt;
    return std::string(set);
}

bool isUtf8(std::string_view set) { return sameIgnoringCase(set, "utf-8") || sameIgnoringCase(set, "utf8"); }

}  // namespace PlainTextTypes
