#pragma once
// The body of a recovery keep, read without decoding the text. A keep
// carries a whole document, often a megabyte, as often as the page likes,
// and io waits for it: the text only has to be checked to be a well-formed
// JSON string and is then written into the entry as the page sent it,
// escapes and all. The usual body (an object of strings) is read here in one
// pass; anything else goes through the JSON library, so the answer is always
// the library's.
#include <optional>
#include <string>
#include <string_view>

struct KeepBody {
    // The members that are strings, decoded; absent when missing or not strings.
    std::optional<std::string> id;
    std::optional<std::string> name;
    std::optional<std::string> base;
    std::optional<std::string> path;
    std::optional<std::string> file;
    // The text as a JSON string literal, quotes included: well-formed, and
    // meaning exactly what the library would decode from it.
    std::string textLiteral;

    // Nothing when the body is not a JSON object or has no string "text".
    static std::optional<KeepBody> read(std::string_view body);
};
