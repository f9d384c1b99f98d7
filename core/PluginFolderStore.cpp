#include "core/PluginFolderStore.hpp"

#include "core/PluginId.hpp"
#include "core/StoredJSON.hpp"

namespace {

using StoredJSON::isBase64;

std::map<std::string, PluginFolderStore::Entry> parse(const std::optional<nlohmann::json>& loaded) {
    std::map<std::string, PluginFolderStore::Entry> entries;
    if (!loaded || !loaded->is_object()) return entries;
    // One value of another shape means the file was not written by us: trust none of it.
    for (const auto& [id, value] : loaded->items()) {
        if (!value.is_object()) return {};
        for (const auto& member : value) {
            if (!member.is_string()) return {};
        }
    }
    for (const auto& [id, value] : loaded->items()) {
        auto path = value.find("path");
        if (!PluginId::isValid(id) || path == value.end()) continue;
        const auto& text = path->get_ref<const std::string&>();
        // An absolute path, and one the system can be given whole.
        if (!text.starts_with("/") || text.find('\0') != std::string::npos) continue;
        PluginFolderStore::Entry entry{text, std::nullopt};
        if (auto bookmark = value.find("bookmark"); bookmark != value.end()) {
            const auto& base64 = bookmark->get_ref<const std::string&>();
            if (isBase64(base64)) entry.bookmark = base64;
        }
        entries.emplace(id, std::move(entry));
    }
    return entries;
}

}  // namespace

PluginFolderStore::PluginFolderStore(std::string path) : file_(std::move(path)), entries_(parse(file_.load())) {}

void PluginFolderStore::set(const std::string& id, const std::string& folder, std::optional<std::string> bookmark) {
    entries_[id] = Entry{folder, std::move(bookmark)};
    save();
}

void PluginFolderStore::forget(const std::string& id) {
    if (entries_.erase(id) == 0) return;
    save();
}

void PluginFolderStore::save() const {
    nlohmann::json object = nlohmann::json::object();
    for (const auto& [id, entry] : entries_) {
        object[id] = {{"path", entry.path}, {"bookmark", entry.bookmark.value_or("")}};
    }
    file_.save(object);
}
