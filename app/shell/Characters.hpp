#pragma once
// Counting and cutting text by user-perceived characters (grapheme clusters),
// the unit the page's limits are written in: a title cut in the middle of an
// accented letter or an emoji sequence would show a broken glyph.
#include <cstddef>
#include <string>
#include <string_view>

namespace Characters {

// How many user-perceived characters the UTF-8 text holds.
std::size_t count(std::string_view text);

// The first `limit` user-perceived characters of the UTF-8 text (all of it when shorter).
std::string prefix(std::string_view text, std::size_t limit);

}  // namespace Characters
