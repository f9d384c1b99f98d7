#include "app/bridge/FolderRoutes.hpp"

#include "core/Files.hpp"
#include "core/JSONText.hpp"

namespace {

// The most documents one answer holds.
constexpr std::size_t maxListed = 5000;

// The tree answer written straight out: thousands of paths would otherwise
// each become a JSON object first, costing more than the walk itself.
std::string treeBody(const std::string& folder, const Files::Listing& listing) {
    std::size_t size = 64 + folder.size();
    for (const auto& path : listing.paths) size += path.size() + 32;
    std::string body;
    body.reserve(size);
    body += "{\"files\":[";
    bool first = true;
    for (const auto& path : listing.paths) {
        body += first ? "{\"offline\":false,\"path\":" : ",{\"offline\":false,\"path\":";
        first = false;
        JSONText::appendString(body, path);
        body += '}';
    }
    body += "],\"folder\":";
    // The open folder admits only UTF-8 folders; were one ever to slip
    // through, this throws and the page is told, rather than shown another name.
    body += nlohmann::json(folder).dump();
    body += listing.truncated ? ",\"truncated\":true}" : ",\"truncated\":false}";
    return body;
}

}  // namespace

FolderRoutes::FolderRoutes(Responder& responder, Queue& listing, OpenFolder& folder)
    : responder_(responder), listing_(listing), folder_(folder) {}

void FolderRoutes::addRoutes(RouteTable& table) {
    table.add("GET", "/api/tree", StartOn::main, [this](ApiRequest& request) { getTree(request); });
    table.add("POST", "/api/close-folder", StartOn::io, [this](ApiRequest& request) { closeFolder(request); });
}

void FolderRoutes::closeFolder(const ApiRequest& request) {
    folder_.close();
    responder_.sendJSON(request.task, 200, {{"folder", nullptr}});
}

void FolderRoutes::getTree(const ApiRequest& request) {
    std::optional<std::string> folder = folder_.current();
    if (!folder) {
        return responder_.sendJSON(request.task, 200,
                                   {{"folder", nullptr}, {"files", nlohmann::json::array()}, {"truncated", false}});
    }
    bool already;
    {
        std::lock_guard lock(busyLock_);
        already = !busy_.insert(*folder).second;
    }
    if (already) {
        return responder_.sendJSON(request.task, 503, {{"error", "still listing the folder"}, {"busy", true}});
    }

    listing_.async([this, task = request.task, folder = *folder] {
        Files::Listing result = Files::list(folder, maxListed);
        {
            std::lock_guard lock(busyLock_);
            busy_.erase(folder);
        }
        bool same = folder_.current() == folder;
        responder_.answering(task, [&] {
            // The user closed the folder or opened another meanwhile: this list is of no use.
            if (!same) {
                return responder_.sendJSON(task, 503,
                                           {{"error", "the folder changed while it was listed"}, {"busy", true}});
            }
            responder_.send(task, 200, treeBody(folder, result), "application/json");
        });
    });
}
