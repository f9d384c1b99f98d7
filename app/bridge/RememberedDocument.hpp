#pragma once
// Documents a store remembered in an earlier run (the session's tabs, the
// document of a recovery entry), found again and addressed the way the page
// addresses documents: by a path inside the open folder, else by a file
// handle. On io.
#include <optional>
#include <string>

#include "app/bridge/FileHandles.hpp"
#include "core/Bookmarks.hpp"

namespace RememberedDocument {

// Where a remembered item is now: where its bookmark leads when it has one
// that resolves (a stale one is used as it is), else its stored path. Only
// looked up: no access is opened.
std::string whereNow(Bookmarks& bookmarks, const std::string& storedPath, const std::optional<std::string>& bookmark);

// whereNow, with access to the place opened (the desktop's scope, if it has any).
std::string locate(Bookmarks& bookmarks, const std::string& storedPath, const std::optional<std::string>& bookmark);

struct Address {
    // Set when the document lies inside the open folder: its path relative to
    // the folder, links resolved.
    std::optional<std::string> path;
    // Set otherwise: the handle of the document's path as located (links not
    // resolved, so the handle is the one its Open File would give).
    std::optional<std::string> file;
    // The last component of the path the address was made from.
    std::string name;
    // The absolute path the address was made from.
    std::string location;
};

// The address of an existing document at `located`. Throws 400 when the path
// (or its real path, inside the folder) is not UTF-8 text the page can be given.
Address address(const std::string& located, const std::optional<std::string>& openFolder, FileHandles& handles);

}  // namespace RememberedDocument
