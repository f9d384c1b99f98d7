#pragma once
// What a save killed half-way through the replacement-folder route leaves
// behind, and how the next start keeps it. The route writes its whole, flushed
// copy into a private folder under replacementBase() before it touches the
// document, so such a copy may be the only whole text left.
#include <chrono>
#include <string>

class Backups;

namespace Files {

// The folder that holds the replacement route's private save folders
// ("save-" + a random name): $XDG_CACHE_HOME/Quillmarsh, else
// ~/.cache/Quillmarsh; empty when neither is known.
std::string replacementBase();

// The name a replacement copy is written under: it takes the document's name
// only once it is whole and flushed, so a copy found under a document's name
// after a crash is always complete.
inline constexpr const char* partialCopyName = ".partial";

// Copies of the replacement-folder route that a killed save left behind,
// kept in Backups under the document's name and the copy's time, then
// removed; cut-off copies are only removed. Folders changed less than
// `settledAfter` ago are left alone: a save may be under way in them.
// Returns how many copies were kept. Never throws.
inline constexpr std::chrono::minutes settledAfter{10};
int keepInterruptedSaves(Backups& backups, std::chrono::system_clock::time_point now);

}  // namespace Files
