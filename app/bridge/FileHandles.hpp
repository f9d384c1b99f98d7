#pragma once
// File handles ("f1", "f2", ...) of documents the user chose outside the open
// folder. The page names such a document only by its handle, never by path.
// Handles are added on io and never removed; any thread may read them.
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

class FileHandles {
public:
    using Map = std::map<std::string, std::string>;

    // The handle of a path, registered when the path is new. On io.
    std::string handle(const std::string& path);
    // The handles as they are now. The map is replaced, never changed, when a
    // handle is added, so work moved to another queue shares it as it was
    // instead of copying it for every request. Any thread.
    std::shared_ptr<const Map> current() const;
    // {"file": handle, "location": path, "name": last component}. On io.
    nlohmann::json chosenFile(const std::string& path);

private:
    mutable std::mutex mutex_;
    std::shared_ptr<const Map> handles_ = std::make_shared<const Map>();
};
