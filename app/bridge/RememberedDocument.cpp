#include "app/bridge/RememberedDocument.hpp"

#include <climits>
#include <cstdlib>

#include "core/PathNames.hpp"
#include "core/UTF8.hpp"

namespace RememberedDocument {

std::string whereNow(Bookmarks& bookmarks, const std::string& storedPath, const std::optional<std::string>& bookmark) {
    if (bookmark && !bookmark->empty()) {
        if (auto resolved = bookmarks.resolve(*bookmark)) return *resolved;
    }
    return storedPath;
}

std::string locate(Bookmarks& bookmarks, const std::string& storedPath, const std::optional<std::string>& bookmark) {
    std::string path = whereNow(bookmarks, storedPath, bookmark);
    bookmarks.enterScope(path);
    return path;
}

Address address(const std::string& located, const std::optional<std::string>& openFolder, FileHandles& handles) {
    char real[PATH_MAX];
    if (openFolder && ::realpath(located.c_str(), real)) {
        std::string resolved = real;
        const std::string prefix = *openFolder == "/" ? "/" : *openFolder + "/";
        if (resolved.size() > prefix.size() && resolved.starts_with(prefix)) {
            UTF8::checkFileName(resolved);
            return {resolved.substr(prefix.size()), std::nullopt, PathNames::lastComponent(resolved), resolved};
        }
    }
    UTF8::checkFileName(located);
    return {std::nullopt, handles.handle(located), PathNames::lastComponent(located), located};
}

}  // namespace RememberedDocument
