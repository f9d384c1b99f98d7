#include "app/bridge/RouteTable.hpp"

#include "core/BridgeError.hpp"

void RouteTable::add(std::string method, std::string path, StartOn startOn, RouteHandler handler) {
    routes_.push_back({std::move(method), std::move(path), false, startOn, std::move(handler)});
}

void RouteTable::addPrefix(std::string method, std::string path, StartOn startOn, RouteHandler handler) {
    routes_.push_back({std::move(method), std::move(path), true, startOn, std::move(handler)});
}

const Route* RouteTable::find(const std::string& method, const std::string& path) const {
    for (const Route& route : routes_) {
        if (route.method != method && route.method != anyMethod) continue;
        if (route.path == path) return &route;
        if (route.prefix && path.size() > route.path.size() && path.starts_with(route.path) &&
            path[route.path.size()] == '/') {
            return &route;
        }
    }
    return nullptr;
}

void refuseUnmatched(const std::string& path) {
    if (path == "/api/paste-image" || path == "/api/grant-paste") {
        throw BridgeError(501,
                          "Pictures cannot be pasted here yet. Save the picture next to the document and "
                          "write ![](its-name.png).");
    }
    if (path == "/api/choose-image" || path == "/api/copy-image") {
        throw BridgeError(501,
                          "Choosing a picture file is not available yet. Write its name instead, for "
                          "example ![](picture.png).");
    }
    if (path == "/api/export-html") throw BridgeError(501, "Export as HTML is not available here yet.");
    if (path == "/api/search") {
        throw BridgeError(501,
                          "Search in the folder is not available here yet. Use Find (Ctrl+F) in each "
                          "document.");
    }
    throw BridgeError(501, "This is not available here yet.");
}
