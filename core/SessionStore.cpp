#include "core/SessionStore.hpp"

#include <limits>

#include "core/UTF8.hpp"
#include "core/StoredJSON.hpp"

namespace {

using StoredJSON::isBase64;
using StoredJSON::stringMember;

// A folder or document as stored: none without an absolute path. A path that
// is not UTF-8 could be neither answered to the page nor written back.
std::optional<SessionStore::Doc> docOf(const nlohmann::json& object) {
    if (!object.is_object()) return std::nullopt;
    const std::string* path = stringMember(object, "path");
    if (!path || !path->starts_with('/') || !UTF8::isValid(*path)) return std::nullopt;
    SessionStore::Doc doc{*path, std::nullopt};
    if (const std::string* bookmark = stringMember(object, "bookmark");
        bookmark && !bookmark->empty() && isBase64(*bookmark)) {
        doc.bookmark = *bookmark;
    }
    return doc;
}

// Every element an object whose members are all integers; one stray element
// means the list was not written by us, and views out of step with their tabs
// would put each tab's view on another.
std::vector<SessionStore::View> viewsOf(const nlohmann::json& list) {
    if (!list.is_array()) return {};
    for (const auto& element : list) {
        if (!element.is_object()) return {};
        for (const auto& member : element) {
            if (!SessionStore::integer(member)) return {};
        }
    }
    std::vector<SessionStore::View> views;
    for (const auto& element : list) {
        if (views.size() == SessionStore::maxTabs) break;
        views.push_back(SessionStore::View::of(element));
    }
    return views;
}

nlohmann::json docJSON(const SessionStore::Doc& doc) {
    return {{"path", doc.path}, {"bookmark", doc.bookmark.value_or("")}};
}

}  // namespace

std::optional<long long> SessionStore::integer(const nlohmann::json& value) {
    if (value.is_number_unsigned()) {
        auto number = value.get<unsigned long long>();
        if (number > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) return std::nullopt;
        return static_cast<long long>(number);
    }
    if (value.is_number_integer()) return value.get<long long>();
    return std::nullopt;
}

SessionStore::View SessionStore::View::of(const nlohmann::json& object) {
    auto member = [&](const char* key) -> long long {
        if (!object.is_object()) return 0;
        auto found = object.find(key);
        if (found == object.end()) return 0;
        return integer(*found).value_or(0);
    };
    return {member("anchor"), member("head"), member("top")};
}

nlohmann::json SessionStore::View::json() const { return {{"anchor", anchor}, {"head", head}, {"top", top}}; }

std::optional<SessionStore::Saved> SessionStore::load() const {
    std::optional<nlohmann::json> loaded = file_.load();
    if (!loaded || !loaded->is_object()) return std::nullopt;
    auto tabs = loaded->find("tabs");
    if (tabs == loaded->end() || !tabs->is_array()) return std::nullopt;
    for (const auto& tab : *tabs) {
        if (!tab.is_object()) return std::nullopt;
    }

    Saved saved;
    if (auto folder = loaded->find("folder"); folder != loaded->end()) saved.folder = docOf(*folder);
    for (const auto& tab : *tabs) {
        if (saved.docs.size() == maxTabs) break;
        if (auto doc = docOf(tab)) saved.docs.push_back(std::move(*doc));
    }
    if (auto active = loaded->find("active"); active != loaded->end()) saved.active = integer(*active).value_or(0);
    if (auto views = loaded->find("views"); views != loaded->end()) saved.views = viewsOf(*views);
    return saved;
}

void SessionStore::save(const Saved& saved) const {
    nlohmann::json tabs = nlohmann::json::array();
    for (const Doc& doc : saved.docs) tabs.push_back(docJSON(doc));
    nlohmann::json views = nlohmann::json::array();
    for (const View& view : saved.views) views.push_back(view.json());
    nlohmann::json file = {{"tabs", std::move(tabs)}, {"active", saved.active}, {"views", std::move(views)}};
    if (saved.folder) file["folder"] = docJSON(*saved.folder);
    file_.save(file);
}
