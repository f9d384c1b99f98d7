#pragma once
// Folder listing: every Markdown document below the open folder.
#include <cstddef>
#include <string>
#include <vector>

namespace Files {

struct Listing {
    // Relative paths, parts joined with "/", sorted by code point after
    // canonical composition.
    std::vector<std::string> paths;
    // Documents were left out (more than the maximum, or the hidden-folder budget ran out).
    bool truncated = false;
};

// How many entries inside hidden folders one listing may visit (unless a
// test sets TestSeams::dotWalkMax).
inline constexpr long dotWalkMax = 50000;

// Every Markdown document below the folder that the path rules accept, at most
// `max` of them. Never walks into a folder isWalkedPast names; spends at most
// dotWalkMax visits inside hidden folders, whose documents only fill the room
// the others leave. Names that are not UTF-8 are passed over: the page could
// not name them. Never throws; a folder that cannot be read lists as empty.
Listing list(const std::string& folder, std::size_t max);

}  // namespace Files
