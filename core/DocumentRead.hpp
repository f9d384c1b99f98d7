#pragma once
// Reading documents and their versions. A version is the SHA-256 of the bytes
// exactly as stored; the page sends it back as the base of a save, so it must
// never depend on the name, the date or any decoding.
#include "core/DocumentPlace.hpp"
#include "core/FileLimits.hpp"

#include <string>
#include <string_view>

namespace Files {

// A document's bytes as they are on disk and their version.
struct Read {
    std::string bytes;
    std::string version;
    // The document, still open, when the reader asked to keep it.
    OpenFile file;
};

// The SHA-256 of the bytes in 64 lower-case hexadecimal digits. Safe from any thread.
std::string version(std::string_view bytes);

// Every read of a document goes through here, the save's included. 404 "the
// file no longer exists" when nothing is there or a folder is; 404 "not a
// regular file" for a pipe, a device or a socket (never opened for waiting);
// 413 "file too large" past maxBytes (never more is read); 403 changedOnDisk
// when a link now stands where the place was checked; 500 "could not read the
// file: " + the reason when it cannot be read. With `keepOpen` the document
// stays open in the answer.
Read ready(const Place& place, bool keepOpen = false);
// ready(placeOf(path)).
Read ready(const std::string& path, bool keepOpen = false);

}  // namespace Files
