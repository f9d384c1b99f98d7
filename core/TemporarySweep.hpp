#pragma once
// Sweeping the temporary files of saves that were killed. A save writes its
// new text into a hidden ".quillmarsh-<UUID>.tmp" beside the document and
// renames it over the document; killed in between, it leaves the temporary
// there for ever. The sweep removes those and nothing else, the way careful
// programs clean up their own lock and temporary files: only names we make,
// only regular files, never through a link, never one whose writer still
// holds its lock, never a young one.
#include <chrono>
#include <string>

namespace Files {

// How old a temporary file must be before a sweep takes it for left behind.
// A save of the largest document takes seconds; the hour is for a writer on
// storage where another machine's lock cannot be seen (a network share),
// which only the age protects.
inline constexpr std::chrono::hours staleTemporaryAge{1};

struct SweepOptions {
    std::chrono::seconds minimumAge = staleTemporaryAge;
    // Entries one sweep looks at, at most: a huge tree is swept in part (and
    // again at the next start) rather than for minutes.
    long maxEntries = 200000;
    // Folder levels looked into: 1 is the folder alone (the folder of a
    // single document, which may be a whole home folder); at most 64.
    int maxDepth = 64;
};

struct SweepCounts {
    int removed = 0;
    int locked = 0;  // left alone: a writer holds its lock
    int young = 0;   // left alone: changed less than minimumAge ago
    // The entry budget ran out before the whole tree was seen.
    bool incomplete = false;
};

// Removes the stale temporary files below `folderPath`: entries whose name
// TemporaryNames::isOurTemporaryName accepts, that are regular files (looked
// at without following links), whose advisory lock can be taken without
// waiting and that were last changed at least `minimumAge` before `now`.
// Walks the tree as the listing does: never into folders isWalkedPast names
// or whose name is not UTF-8, never through a link to a folder, each folder
// opened from its parent's descriptor, at most 64 folders deep and
// `maxEntries` entries in all. Removal goes through the system call table,
// relative to the folder. Never throws; a folder that cannot be read is
// passed over.
SweepCounts sweepTemporaries(const std::string& folderPath, std::chrono::system_clock::time_point now,
                             const SweepOptions& options = {});

}  // namespace Files
