// Documents as the page reads them: file handles for documents outside the
// open folder, the addressing rule shared by reads and saves, GET /api/file
// and POST /api/versions.
#include "app/bridge/Bridge.hpp"

std::string Bridge::handle(const std::string& path) {
    for (const auto& [name, known] : picked) {
        if (known == path) return name;
    }
    std::string name = "f" + std::to_string(picked.size() + 1);
    picked[name] = path;
    return name;
}
