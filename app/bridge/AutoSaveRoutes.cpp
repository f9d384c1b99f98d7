#include "app/bridge/AutoSaveRoutes.hpp"

#include "app/bridge/DocumentAddress.hpp"
#include "core/BridgeError.hpp"
#include "core/PathNames.hpp"

namespace {

// The body as an object; anything else (not JSON, another type) counts as an empty one.
nlohmann::json bodyObject(const std::string& body) {
    auto parsed = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
    return parsed.is_object() ? parsed : nlohmann::json::object();
}

// The body's "file" and "path" members, when they are text, as a request's query would give them.
Query addressOf(const nlohmann::json& body) {
    Query query;
    for (const char* name : {"file", "path"}) {
        auto member = body.find(name);
        if (member != body.end() && member->is_string()) query[name] = member->get<std::string>();
    }
    return query;
}

}  // namespace

AutoSaveRoutes::AutoSaveRoutes(Responder& responder, AutoSaveRules& rules, OpenFolder& folder, FileHandles& handles)
    : responder_(responder), rules_(rules), folder_(folder), handles_(handles) {}

void AutoSaveRoutes::addRoutes(RouteTable& table) {
    table.add("GET", "/api/autosave", StartOn::io, [this](ApiRequest& request) { getState(request); });
    table.add("POST", "/api/autosave", StartOn::io, [this](ApiRequest& request) { setRule(request); });
    table.add("GET", "/api/autosave/rules", StartOn::io, [this](ApiRequest& request) { listRules(request); });
    table.add("POST", "/api/autosave/rules", StartOn::io, [this](ApiRequest& request) { changeRule(request); });
}

std::string AutoSaveRoutes::documentPath(const Query& query) const {
    return DocumentAddress::path(query, folder_.current(), *handles_.current());
}

void AutoSaveRoutes::getState(const ApiRequest& request) {
    responder_.sendJSON(request.task, 200, rules_.state(documentPath(request.query)));
}

void AutoSaveRoutes::setRule(const ApiRequest& request) {
    nlohmann::json body = bodyObject(request.body);
    // The document is named before anything else is judged.
    std::string document = documentPath(addressOf(body));
    auto scope = body.find("scope");
    if (scope == body.end() || !scope->is_string() || (*scope != "file" && *scope != "folder")) {
        throw BridgeError(400, "scope must be file or folder");
    }
    // Anything but a boolean removes the rule.
    auto given = body.find("value");
    std::optional<bool> value;
    if (given != body.end() && given->is_boolean()) value = given->get<bool>();
    const std::string& scopeName = scope->get_ref<const std::string&>();
    rules_.set(scopeName, scopeName == "file" ? document : PathNames::folderOf(document), value);
    responder_.sendJSON(request.task, 200, rules_.state(document));
}

void AutoSaveRoutes::listRules(const ApiRequest& request) {
    responder_.sendJSON(request.task, 200, {{"rules", rules_.rules()}});
}

void AutoSaveRoutes::changeRule(const ApiRequest& request) {
    nlohmann::json body = bodyObject(request.body);
    // Here, unlike a document's own switch, a value of another type is a
    // mistake of the caller, not a removal.
    std::optional<bool> value;
    if (auto given = body.find("value"); given != body.end() && !given->is_null()) {
        if (!given->is_boolean()) throw BridgeError(400, "value must be true, false or null");
        value = given->get<bool>();
    }
    auto key = body.find("key");
    rules_.change(key != body.end() && key->is_string() ? key->get<std::string>() : std::string(), value);
    responder_.sendJSON(request.task, 200, {{"rules", rules_.rules()}});
}
