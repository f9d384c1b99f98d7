#pragma once
// The body and the answer of POST /api/versions, read and written directly
// rather than through a JSON tree: the page asks every few seconds about all
// of its open documents, and building and walking a tree for each check cost
// more than looking at the documents themselves.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One document the page asks about.
struct VersionItem {
    // The key the page knows the document by: text as it is, a number in
    // decimal; empty when absent or of another type.
    std::string key;
    // The "file" and "path" members when they are text.
    std::optional<std::string> file;
    std::optional<std::string> path;
};

// The first `max` items of a body {"items": [{...}, ...]}. A body that is not
// JSON, not an object, or whose "items" is not an array of objects asks about
// nothing. Where a member appears twice the last one counts.
std::vector<VersionItem> readVersionItems(std::string_view body, std::size_t max);

// {"versions": {key: state, ...}} with the keys in byte order; where two items
// share a key the later one counts.
std::string versionsAnswer(std::vector<std::pair<std::string, std::string>> states);
