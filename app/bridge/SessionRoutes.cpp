#include "app/bridge/SessionRoutes.hpp"

#include <sys/stat.h>

#include <algorithm>

#include "app/bridge/RememberedDocument.hpp"
#include "core/BridgeError.hpp"
#include "core/LogFile.hpp"
#include "core/PathNames.hpp"
#include "core/PathRules.hpp"
#include "core/StoredJSON.hpp"

namespace {

using StoredJSON::stringMember;

using Doc = SessionStore::Doc;

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

bool isArrayOfObjects(const nlohmann::json* value) {
    return value && value->is_array() &&
           std::all_of(value->begin(), value->end(), [](const nlohmann::json& e) { return e.is_object(); });
}

nlohmann::json pathOrNull(const std::optional<std::string>& path) {
    return path ? nlohmann::json(*path) : nlohmann::json(nullptr);
}

// Where a remembered item is now, only looked at: no scope is entered.
std::string whereNow(Bookmarks& bookmarks, const Doc& doc) {
    return RememberedDocument::whereNow(bookmarks, doc.path, doc.bookmark);
}

// A document is there when a file is: a folder or a device now standing at
// its place cannot be reopened as a tab, so it counts as gone.
bool isDocumentAt(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

nlohmann::json tabOf(const RememberedDocument::Address& address) {
    nlohmann::json tab = {{"name", address.name}, {"location", address.location}};
    if (address.path) tab["path"] = *address.path;
    else tab["file"] = *address.file;
    return tab;
}

}  // namespace

SessionRoutes::SessionRoutes(Responder& responder, SessionStore& session, OpenFolder& folder, FileHandles& handles,
                             Bookmarks& bookmarks)
    : responder_(responder), session_(session), folder_(folder), handles_(handles), bookmarks_(bookmarks) {}

void SessionRoutes::addRoutes(RouteTable& table) {
    table.add("GET", "/api/session", StartOn::io, [this](ApiRequest& request) { getSession(request); });
    table.add("POST", "/api/session", StartOn::io, [this](ApiRequest& request) { saveSession(request); });
    table.add("POST", "/api/session/restore", StartOn::io, [this](ApiRequest& request) { restoreSession(request); });
}

void SessionRoutes::getSession(const ApiRequest& request) {
    std::optional<SessionStore::Saved> saved = session_.load();
    // A folder alone is no session to offer.
    if (!saved || saved->docs.empty()) return responder_.sendJSON(request.task, 200, {{"exists", false}});
    nlohmann::json tabs = nlohmann::json::array();
    for (const Doc& doc : saved->docs) {
        tabs.push_back({{"name", PathNames::lastComponent(doc.path)},
                        {"location", doc.path},
                        {"missing", !isDocumentAt(whereNow(bookmarks_, doc))}});
    }
    std::optional<std::string> folder;
    if (saved->folder) folder = saved->folder->path;
    responder_.sendJSON(request.task, 200, {{"exists", true}, {"folder", pathOrNull(folder)}, {"tabs", tabs}});
}

void SessionRoutes::saveSession(const ApiRequest& request) {
    nlohmann::json body = nlohmann::json::parse(request.body, nullptr, /*allow_exceptions=*/false);
    const nlohmann::json* tabs = member(body, "tabs");
    if (!isArrayOfObjects(tabs)) throw BridgeError(400, "session must be an object");

    // Every path is checked before anything is written: one refused path
    // leaves the earlier session as it was.
    const std::optional<std::string> open = folder_.current();
    const std::shared_ptr<const FileHandles::Map> handles = handles_.current();
    std::vector<std::string> paths;
    const std::size_t walked = std::min(tabs->size(), SessionStore::maxTabs);
    for (std::size_t i = 0; i < walked; ++i) {
        const nlohmann::json& tab = (*tabs)[i];
        if (const std::string* relative = stringMember(tab, "path")) {
            paths.push_back(Files::resolve(*relative, open));
        } else if (const std::string* file = stringMember(tab, "file")) {
            // A handle from an earlier launch or a mistyped one: that tab only is lost.
            if (auto found = handles->find(*file); found != handles->end()) paths.push_back(found->second);
        }
    }

    SessionStore::Saved saved;
    for (const std::string& path : paths) saved.docs.push_back({path, bookmarkOrNone(bookmarks_.make(path))});
    // A view belongs to the tab at its place; none is kept past the last tab.
    if (const nlohmann::json* views = member(body, "views"); isArrayOfObjects(views)) {
        const std::size_t kept = std::min(views->size(), saved.docs.size());
        for (std::size_t i = 0; i < kept; ++i) saved.views.push_back(SessionStore::View::of((*views)[i]));
    }
    if (open) saved.folder = Doc{*open, bookmarkOrNone(bookmarks_.make(*open))};
    if (const nlohmann::json* active = member(body, "active")) saved.active = SessionStore::integer(*active).value_or(0);

    session_.save(saved);
    responder_.sendJSON(request.task, 200, {{"saved", true}});
}

void SessionRoutes::reopenFolder(const Doc& folder) {
    std::string path = whereNow(bookmarks_, folder);
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return;
    try {
        folder_.open(path);
    } catch (const BridgeError&) {
        // A name the page cannot be given (not UTF-8), or a loop of links:
        // left closed, as a folder that is gone is.
    }
}

void SessionRoutes::restoreSession(const ApiRequest& request) {
    std::optional<SessionStore::Saved> saved = session_.load();
    if (!saved) {
        return responder_.sendJSON(request.task, 200,
                                   {{"tabs", nlohmann::json::array()}, {"missing", nlohmann::json::array()}});
    }
    if (saved->folder) reopenFolder(*saved->folder);
    // Possibly a folder that was open before, when the stored one is gone.
    const std::optional<std::string> open = folder_.current();

    nlohmann::json tabs = nlohmann::json::array();
    nlohmann::json missing = nlohmann::json::array();
    for (const Doc& doc : saved->docs) {
        std::string located = RememberedDocument::locate(bookmarks_, doc.path, doc.bookmark);
        if (!isDocumentAt(located)) {
            missing.push_back(doc.path);
            continue;
        }
        try {
            tabs.push_back(tabOf(RememberedDocument::address(located, open, handles_)));
        } catch (const BridgeError&) {
            // Its bookmark or a link led to a name that is not UTF-8, which the
            // page cannot be given: reported as not found, by the stored path
            // (always UTF-8), rather than failing every other tab with it.
            missing.push_back(doc.path);
        }
    }
    appLog().add("session: reopened " + std::to_string(tabs.size()) + ", missing " + std::to_string(missing.size()));

    nlohmann::json views = nlohmann::json::array();
    for (const SessionStore::View& view : saved->views) views.push_back(view.json());
    responder_.sendJSON(request.task, 200,
                        {{"folder", pathOrNull(open)},
                         {"tabs", std::move(tabs)},
                         {"active", saved->active},
                         {"views", std::move(views)},
                         {"missing", std::move(missing)}});
}
