#pragma once
// Documents held by their folder: where reads and saves happen once the path
// rules have accepted a path.
#include "core/PathRules.hpp"

#include <optional>
#include <string>

namespace Files {

// A file kept open until this is dropped. Closing the last descriptor of a
// file that has been replaced is when the system frees it, which for a large
// file takes as long as writing it; a holder may choose where that happens.
class OpenFile {
public:
    OpenFile() = default;
    explicit OpenFile(int fd) : fd_(fd) {}
    OpenFile(OpenFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    OpenFile& operator=(OpenFile&& other) noexcept;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() { close(); }
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void close();

private:
    int fd_ = -1;
};

// A document's folder, held open, and the document's name in it. Reads and
// saves work only relative to this folder and never follow a link at the
// name, so what the path rules checked is what gets read and written: a
// folder swapped for a link after the check cannot send them anywhere else.
struct Place {
    // The document as the caller names it: what messages, Open Recent,
    // Backups and the save locks go by.
    std::string path;
    // The folder's real path (for messages) and the document's name in it.
    std::string folderPath;
    std::string name;
    // The folder, opened for reading where allowed (so that it can be
    // flushed), else with O_PATH; not open when opening failed.
    OpenFile folder;
    // Why the folder could not be opened: an errno (ENOENT or ENOTDIR when it
    // is missing), 0 when it is open.
    int error = 0;
    // A link stood in the place of a folder the path rules had looked at.
    bool changed = false;
};

// The 403 answer when a link has taken the place of what was checked.
inline constexpr const char* changedOnDisk = "the folder changed on disk while it was opened; try again";

// The document at a relative path of the open folder: the path rules and the
// real path of resolve (403 as there), then its folder opened from the open
// folder without following any link on the way. A folder that is missing is
// no refusal here (the caller decides: a new document, or "gone").
Place locate(const std::string& path, const std::optional<std::string>& folder, LinkCache* links = nullptr);

// The place of `real`, a real path inside the real folder `realFolder` (both
// with links resolved, as the path rules hand them over): its folder opened
// from `realFolder` without following any link.
Place placeBelow(const std::string& real, const std::string& realFolder);

// A document named by an absolute path of the user's choice (a file handle,
// the tests): links in the path are followed, as the user chose through them,
// and the place is the real folder and name they lead to. Never throws for
// the disk: a path through too many links gets `error` ELOOP.
Place placeOf(const std::string& path);

}  // namespace Files
