#include "core/JSONFile.hpp"

#include <fcntl.h>

#include "core/FileRead.hpp"
#include "core/FileWrite.hpp"

std::optional<nlohmann::json> JSONFile::load() const {
    auto bytes = FileRead::all(path_);
    if (!bytes) return std::nullopt;
    auto value = nlohmann::json::parse(*bytes, nullptr, /*allow_exceptions=*/false);
    if (!value.is_object() && !value.is_array()) return std::nullopt;  // discarded parses included
    return value;
}

void JSONFile::save(const nlohmann::json& value) const noexcept {
    try {
        // A folder that cannot be made makes the write below fail as well.
        FileWrite::makeFolders(FileWrite::parentFolder(path_));
        // Indented; nlohmann's default object keeps its keys sorted. Text that is
        // not valid UTF-8 throws here, before the disk is touched.
        std::string text = value.dump(2) + "\n";
        FileWrite::atomicReplace(path_, text, 0600);
        // Also when the write failed: the earlier file is then made private,
        // which it should have been all along.
        sysCalls().chmod(AT_FDCWD, path_.c_str(), 0600);
    } catch (...) {
        // Out of memory or a value that cannot be written as JSON: the file on
        // disk stays as it was.
    }
}
