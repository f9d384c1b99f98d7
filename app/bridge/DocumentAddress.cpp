#include "app/bridge/DocumentAddress.hpp"

#include "app/bridge/ApiRequest.hpp"
#include "core/BridgeError.hpp"

namespace DocumentAddress {

const std::string* handleOf(const Query& query) {
    const std::string* file = queryItem(query, "file");
    return file && !file->empty() ? file : nullptr;
}

std::string path(const Query& query, const std::optional<std::string>& folder, const FileHandles::Map& handles) {
    if (const std::string* file = handleOf(query)) {
        auto found = handles.find(*file);
        // The handle was made from a document the user chose: no further check.
        if (found != handles.end()) return found->second;
        throw BridgeError(403, "unknown file handle (use Open File again)");
    }
    const std::string* relative = queryItem(query, "path");
    return Files::resolve(relative ? *relative : std::string(), folder);
}

Files::Place place(const Query& query, const std::optional<std::string>& folder, const FileHandles::Map& handles) {
    if (handleOf(query)) return Files::placeOf(path(query, folder, handles));
    const std::string* relative = queryItem(query, "path");
    return Files::locate(relative ? *relative : std::string(), folder);
}

std::string lockKey(const Files::Place& place) {
    if (place.name.empty()) return place.path;
    return place.folderPath == "/" ? "/" + place.name : place.folderPath + "/" + place.name;
}

std::string readKey(const Query& query) {
    if (const std::string* file = handleOf(query)) return "f:" + *file;
    const std::string* relative = queryItem(query, "path");
    return "p:" + (relative ? *relative : std::string());
}

Files::Read readUnderLock(FileLocks& locks, const Files::Place& place) {
    // A save writing the document in place holds this lock: no read sees
    // half a document.
    auto lock = locks.of(lockKey(place));
    std::lock_guard held(*lock);
    return Files::ready(place);
}

}  // namespace DocumentAddress
