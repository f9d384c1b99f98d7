// The second routing stage: on io, the first entry whose method and path both
// match is taken. A route whose operation is not part of this build (null
// below) falls through to the last row, as does a known path with another method.
#include <string_view>

#include "app/bridge/Bridge.hpp"
#include "core/BridgeError.hpp"

namespace {

using Handler = void (Bridge::*)(const ApiRequest&);

struct Route {
    std::string_view method;
    std::string_view path;
    Handler handler;
};

const Route routes[] = {
    {"GET", "/api/build", &Bridge::getBuild},
    {"GET", "/api/about", &Bridge::getAbout},
    {"GET", "/api/changelog", &Bridge::getChangelog},
    {"GET", "/api/update/check", nullptr},
    {"POST", "/api/update/download", nullptr},
    {"GET", "/api/settings", nullptr},
    {"POST", "/api/settings", nullptr},
    {"POST", "/api/backups/show", &Bridge::showBackups},
    {"POST", "/api/choose-folder", &Bridge::chooseFolder},
    {"GET", "/api/recovery", nullptr},
    {"GET", "/api/recovery/text", nullptr},
    {"POST", "/api/recovery/clear", nullptr},
    {"POST", "/api/recovery/open", nullptr},
    {"POST", "/api/choose-files", &Bridge::chooseFiles},
    {"POST", "/api/opened", &Bridge::opened},
    {"GET", "/api/session", nullptr},
    {"POST", "/api/session", nullptr},
    {"POST", "/api/session/restore", nullptr},
    {"POST", "/api/choose-file", &Bridge::chooseFile},
    {"POST", "/api/choose-save", &Bridge::chooseSave},
    {"POST", "/api/close-folder", &Bridge::closeFolder},
    {"GET", "/api/recent", &Bridge::getRecent},
    {"POST", "/api/recent/clear", &Bridge::clearRecent},
    {"POST", "/api/recent/open", &Bridge::openRecent},
    {"GET", "/api/autosave", nullptr},
    {"POST", "/api/autosave", nullptr},
    {"GET", "/api/autosave/rules", nullptr},
    {"POST", "/api/autosave/rules", nullptr},
    {"GET", "/api/image", nullptr},
    {"POST", "/api/allow-images", nullptr},
};

// Plugin folders check their own methods and sub-paths.
constexpr Handler pluginFolderRoutes = nullptr;

bool isPluginFolderPath(const std::string& path) {
    return path == "/api/plugin-folder" || path.rfind("/api/plugin-folder/", 0) == 0;
}

}  // namespace

void Bridge::route(const ApiRequest& request) {
    for (const Route& route : routes) {
        if (route.method == request.method && route.path == request.path) {
            if (!route.handler) break;
            return (this->*route.handler)(request);
        }
    }
    if (pluginFolderRoutes && isPluginFolderPath(request.path)) return (this->*pluginFolderRoutes)(request);
    unmatched(request);
}

void Bridge::unmatched(const ApiRequest& request) {
    const std::string& path = request.path;
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
