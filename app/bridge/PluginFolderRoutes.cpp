#include "app/bridge/PluginFolderRoutes.hpp"

#include <sys/stat.h>

#include "app/bridge/PanelRunner.hpp"
#include "app/bridge/ProgramName.hpp"
#include "core/BridgeError.hpp"
#include "core/Characters.hpp"
#include "core/PathNames.hpp"
#include "core/Pattern.hpp"
#include "core/PluginFolder.hpp"
#include "core/UTF8.hpp"

namespace {

constexpr const char* prefix = "/api/plugin-folder";
// The longest plugin label the panel's message shows, in user-perceived characters.
constexpr std::size_t labelMax = 60;

bool isFolder(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string queryText(const ApiRequest& request, const char* name) {
    const std::string* given = request.item(name);
    return given ? *given : std::string();
}

// The label as one line the panel can show.
std::string panelLabel(const std::string& given) {
    static const Pattern lineBreaks(R"([\x{0A}-\x{0D}\x{85}\x{2028}\x{2029}])");
    return Characters::prefix(lineBreaks.replaceAll(given, ""), labelMax);
}

}  // namespace

PluginFolderRoutes::PluginFolderRoutes(Responder& responder, Queue& io, Panels& panels, Bookmarks& bookmarks,
                                       PluginFolderStore& store)
    : responder_(responder), io_(io), panels_(panels), bookmarks_(bookmarks), store_(store) {}

void PluginFolderRoutes::addRoutes(RouteTable& table) {
    table.addPrefix(anyMethod, prefix, StartOn::io, [this](ApiRequest& request) { route(request); });
}

void PluginFolderRoutes::route(const ApiRequest& request) {
    const std::string id = queryText(request, "plugin");
    if (!PluginFolder::validID(id)) throw BridgeError(400, "unknown plugin");
    const std::string base = prefix;
    if (request.method == "GET" && request.path == base) {
        return responder_.sendJSON(request.task, 200, state(id));
    }
    if (request.method == "POST" && request.path == base + "/choose") return choose(request, id);
    if (request.method == "POST" && request.path == base + "/forget") {
        letGo(id);
        store_.forget(id);
        return responder_.sendJSON(request.task, 200, state(id));
    }
    if (request.method == "POST" && request.path == base + "/create") return create(request, id);
    throw BridgeError(404, "not found");
}

void PluginFolderRoutes::choose(const ApiRequest& request, const std::string& id) {
    std::string label = panelLabel(queryText(request, "label"));
    PanelOptions options;
    options.files = false;
    options.folders = true;
    options.multiple = false;
    options.message = "Allow " + appName() + " to use this folder for " + (label.empty() ? "a plugin" : label);
    options.acceptLabel = "Allow";
    runPanel(responder_, io_, panels_, request.task, options, [this, id](const PanelResult& result) {
        if (!result.chosen || result.paths.empty()) {
            nlohmann::json answer = state(id);
            answer["cancelled"] = true;
            return answer;
        }
        const std::string& folder = result.paths.front();
        // Its name is answered to the page and its path stored as text.
        UTF8::checkFolderName(folder);
        letGo(id);
        bookmarks_.enterScope(folder);
        store_.set(id, folder, bookmarkOrNone(bookmarks_.make(folder)));
        pluginAccess_[id] = folder;
        nlohmann::json answer = state(id);
        answer["cancelled"] = false;
        return answer;
    });
}

void PluginFolderRoutes::create(const ApiRequest& request, const std::string& id) {
    auto folder = reach(id);
    if (!folder) throw BridgeError(409, "choose the folder first");
    std::string name = PluginFolder::create(*folder, queryText(request, "name"), request.body);
    responder_.sendJSON(request.task, 200, {{"name", name}});
}

std::optional<std::string> PluginFolderRoutes::reach(const std::string& id) {
    if (auto reached = pluginAccess_.find(id); reached != pluginAccess_.end()) {
        // A folder deleted or replaced since is not answered as present: the
        // remembered entry is tried again below, as in a new run.
        if (isFolder(reached->second)) return reached->second;
        letGo(id);
    }
    auto entry = store_.entries().find(id);
    if (entry == store_.entries().end()) return std::nullopt;
    std::string folder = entry->second.path;
    bool scoped = false;
    if (entry->second.bookmark) {
        if (auto resolved = bookmarks_.resolve(*entry->second.bookmark); resolved && UTF8::isValid(*resolved)) {
            folder = *resolved;
            scoped = bookmarks_.enterScope(folder);
        }
    }
    if (!isFolder(folder)) {
        if (scoped) bookmarks_.leaveScope(folder);
        return std::nullopt;
    }
    pluginAccess_[id] = folder;
    return folder;
}

void PluginFolderRoutes::letGo(const std::string& id) {
    auto reached = pluginAccess_.find(id);
    if (reached == pluginAccess_.end()) return;
    bookmarks_.leaveScope(reached->second);
    pluginAccess_.erase(reached);
}

nlohmann::json PluginFolderRoutes::state(const std::string& id) {
    if (auto folder = reach(id)) {
        return {{"folder", PathNames::lastComponent(*folder)}, {"files", PluginFolder::listing(*folder)},
                {"missing", false}};
    }
    return {{"folder", nullptr}, {"files", nlohmann::json::array()}, {"missing", store_.entries().contains(id)}};
}
