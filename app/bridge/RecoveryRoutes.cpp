#include "app/bridge/RecoveryRoutes.hpp"

#include <sys/stat.h>

#include "app/bridge/RememberedDocument.hpp"
#include "core/BridgeError.hpp"
#include "core/Characters.hpp"
#include "core/PathRules.hpp"

namespace {

// Clear and open take their id leniently: a body that is not a JSON object
// names no id, which the id rule then refuses.
std::string idOf(const std::string& body) {
    auto parsed = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_object()) return {};
    auto id = parsed.find("id");
    return id != parsed.end() && id->is_string() ? id->get<std::string>() : std::string();
}

// A document is there when a file is: a folder that took its place is not it.
bool isThere(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

}  // namespace

RecoveryRoutes::RecoveryRoutes(Responder& responder, RecoveryStore& recovery, OpenFolder& folder,
                               FileHandles& handles, DocumentBookmarks& documentBookmarks, Bookmarks& bookmarks)
    : responder_(responder),
      recovery_(recovery),
      folder_(folder),
      handles_(handles),
      documentBookmarks_(documentBookmarks),
      bookmarks_(bookmarks) {}

void RecoveryRoutes::addRoutes(RouteTable& table) {
    table.add("POST", "/api/recovery", StartOn::io, [this](ApiRequest& request) { keep(request); });
    table.add("GET", "/api/recovery", StartOn::io, [this](ApiRequest& request) { list(request); });
    table.add("GET", "/api/recovery/text", StartOn::io, [this](ApiRequest& request) { text(request); });
    table.add("POST", "/api/recovery/clear", StartOn::io, [this](ApiRequest& request) { clear(request); });
    table.add("POST", "/api/recovery/open", StartOn::io, [this](ApiRequest& request) { open(request); });
}

std::optional<std::string> RecoveryRoutes::documentOf(const KeepBody& body) const {
    // Judged where it really lies, links followed: the location is opened
    // again later, by handle when it is not inside the folder then, so a path
    // through a link out of the folder must not be kept. The document need
    // not exist yet.
    if (body.path) return Files::resolve(*body.path, folder_.current());
    if (body.file) {
        // An unknown handle names no document: the text is still worth keeping.
        auto handles = handles_.current();
        if (auto found = handles->find(*body.file); found != handles->end()) return found->second;
    }
    return std::nullopt;
}

void RecoveryRoutes::keep(const ApiRequest& request) {
    auto body = KeepBody::read(request.body);
    if (!body) throw BridgeError(400, "recovery must be an object");
    std::optional<std::string> location = documentOf(*body);
    std::optional<std::string> bookmark;
    if (location) bookmark = documentBookmarks_.find(*location);
    recovery_.putLiteral(body->id.value_or(""), Characters::prefix(body->name.value_or("Untitled.md"), maxName),
                         location, bookmark, Characters::prefix(body->base.value_or(""), maxBase), body->textLiteral);
    responder_.sendJSON(request.task, 200, {{"kept", true}});
}

void RecoveryRoutes::list(const ApiRequest& request) {
    responder_.sendJSON(request.task, 200, {{"items", recovery_.listing()}});
}

void RecoveryRoutes::text(const ApiRequest& request) {
    const std::string* id = request.item("id");
    RecoveryStore::Entry entry = recovery_.entry(id ? *id : "");
    responder_.sendJSON(request.task, 200, {{"text", std::move(entry.text)}});
}

void RecoveryRoutes::clear(const ApiRequest& request) {
    recovery_.clear(idOf(request.body));
    responder_.sendJSON(request.task, 200, {{"cleared", true}});
}

void RecoveryRoutes::open(const ApiRequest& request) {
    RecoveryStore::Entry entry = recovery_.entry(idOf(request.body));
    if (!entry.location) return responder_.sendJSON(request.task, 200, {{"gone", false}, {"name", entry.name}});
    std::string located = RememberedDocument::locate(bookmarks_, *entry.location, entry.bookmark);
    // The entry stays: its text is all that is left of the document.
    if (!isThere(located)) return responder_.sendJSON(request.task, 200, {{"gone", true}, {"name", entry.name}});
    auto address = RememberedDocument::address(located, folder_.current(), handles_);
    if (address.path) return responder_.sendJSON(request.task, 200, {{"path", *address.path}, {"name", address.name}});
    responder_.sendJSON(request.task, 200, {{"file", *address.file}, {"name", address.name}});
}
