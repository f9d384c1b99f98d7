#pragma once
// The safe save: a document written without ever losing its text or the
// version on disk.
#include "core/DocumentPlace.hpp"
#include "core/FileLimits.hpp"

#include <optional>
#include <string>

class Backups;
class Queue;

namespace Files {

// What a save did.
struct Saved {
    std::string version;  // of the bytes just written
    std::string route;    // "same folder" or "replacement folder"
    std::optional<std::string> backup;  // the copy of the earlier version, if one was kept
};

// How a save goes about it.
struct SaveOptions {
    // Write even when the version on disk is not the one the page read.
    bool overwrite = false;
    // Take the replacement-folder route at once instead of only when the
    // document's folder refuses a new name.
    bool viaReplacementFolder = false;
    // Where the version on disk is kept first when this process did not write
    // it; none keeps no copy.
    Backups* backups = nullptr;
    // Where a large document's side jobs (hashing, writing its temporary
    // file, letting go of the replaced file) run while the save reads the
    // disk. Without one they run on the calling thread, one after another:
    // the same result, only slower. Must not be the queue the save runs on.
    Queue* helpers = nullptr;
};

// Writes a document without ever losing its text or the version on disk, and
// without overwriting a change another program made since the page read it
// (`base` is the version the page read, "new" for a new document, or empty).
// Throws only BridgeError. Blocks on the disk; saves of one document must not
// overlap (the save endpoint serialises them).
Saved save(const std::string& bytes, const Place& target, const std::string& base, const SaveOptions& options);
// save to placeOf(target).
Saved save(const std::string& bytes, const std::string& target, const std::string& base,
           const SaveOptions& options);

}  // namespace Files
