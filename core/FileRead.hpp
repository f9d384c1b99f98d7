#pragma once
// Whole-file reads for the program's own small files (stores, the log). A
// failed read is only ever "nothing": no caller has a use for the reason.
#include <cstddef>
#include <optional>
#include <string>

namespace FileRead {

// Every byte of the file, or nothing when it cannot be opened or read to its
// end (a folder in its place fails on the read, not the open).
std::optional<std::string> all(const std::string& path);

// At most `count` bytes from the start of the file, or nothing when it cannot
// be opened or read.
std::optional<std::string> prefix(const std::string& path, std::size_t count);

}  // namespace FileRead
