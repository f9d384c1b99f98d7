#pragma once
// Counting and cutting text by user-perceived characters (grapheme clusters),
// the unit the page's limits are written in: a title cut in the middle of an
// accented letter or an emoji sequence would show a broken glyph. And the one
// Unicode lower-casing of the program, for names compared without case.
#include <cstddef>
#include <string>
#include <string_view>

namespace Characters {

// How many user-perceived characters the UTF-8 text holds.
std::size_t count(std::string_view text);

// The first `limit` user-perceived characters of the UTF-8 text (all of it when shorter).
std::string prefix(std::string_view text, std::size_t limit);

// The longest prefix of the UTF-8 text that ends between two user-perceived
// characters and is at most `maxBytes` bytes long: for names with a byte limit.
std::string prefixWithinBytes(std::string_view text, std::size_t maxBytes);

// Full Unicode lower-casing in the root locale (the Kelvin sign becomes "k",
// "Σ" at a word's end "ς"), so the result is the same whatever the user's
// language. ASCII text takes a quick path with the same answer. Not for
// protocol names (header fields, schemes): those are ASCII-only by rule.
std::string lowerCased(std::string_view text);

}  // namespace Characters
