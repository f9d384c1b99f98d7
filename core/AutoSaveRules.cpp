#include "core/AutoSaveRules.hpp"

#include <vector>

#include "core/BridgeError.hpp"
#include "core/PathNames.hpp"
#include "core/UTF8.hpp"

namespace {

bool hasKnownScope(const std::string& key) {
    return key.starts_with("file:/") || key.starts_with("folder:/");
}

std::map<std::string, bool> parse(const std::optional<nlohmann::json>& loaded) {
    std::map<std::string, bool> items;
    if (!loaded || !loaded->is_object()) return items;
    // One value of another type means the file was not written by us: trust none of it.
    for (const auto& [key, value] : loaded->items()) {
        if (!value.is_boolean()) return {};
    }
    for (const auto& [key, value] : loaded->items()) {
        if (hasKnownScope(key)) items.emplace(key, value.get<bool>());
    }
    return items;
}

// The folder above an absolute folder path, or none for the root.
std::optional<std::string> parentOf(const std::string& folder) {
    if (folder == "/") return std::nullopt;
    auto slash = folder.rfind('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : folder.substr(0, slash);
}

nlohmann::json ruleOrNull(const std::map<std::string, bool>& items, const std::string& key) {
    auto found = items.find(key);
    return found == items.end() ? nlohmann::json(nullptr) : nlohmann::json(found->second);
}

}  // namespace

AutoSaveRules::AutoSaveRules(std::string path, std::function<bool()> defaultOn)
    : file_(std::move(path)), defaultOn_(std::move(defaultOn)), items_(parse(file_.load())) {}

std::string AutoSaveRules::standardized(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        std::string_view part = path.substr(start, end - start);
        if (part == "..") {
            // Above the root is the root, as on disk.
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    if (parts.empty()) return "/";
    std::string result;
    for (std::string_view part : parts) {
        result += '/';
        result += part;
    }
    return result;
}

void AutoSaveRules::set(const std::string& scope, const std::string& path, std::optional<bool> value) {
    if (scope != "file" && scope != "folder") return;
    // Such a key could not be written to the file, and would stop every later
    // save of the rules. The routes refuse these names first.
    if (!UTF8::isValid(path)) return;
    put(scope + ":" + standardized(path), value);
}

void AutoSaveRules::put(const std::string& key, std::optional<bool> value) {
    if (value) items_[key] = *value;
    else items_.erase(key);
    nlohmann::json object = nlohmann::json::object();
    for (const auto& [ruleKey, on] : items_) object[ruleKey] = on;
    file_.save(object);
}

void AutoSaveRules::change(const std::string& key, std::optional<bool> value) {
    if (!items_.contains(key)) throw BridgeError(404, "no such auto-save rule");
    // The key as stored, even when a hand-edited file spelt its path another
    // way: the rule changed is the rule listed.
    put(key, value);
}

bool AutoSaveRules::currentDefault() const {
    return defaultOn_ ? defaultOn_() : true;
}

nlohmann::json AutoSaveRules::state(const std::string& documentPath) const {
    nlohmann::json fileRule = ruleOrNull(items_, "file:" + standardized(documentPath));
    nlohmann::json folderRule = nullptr;
    nlohmann::json folderPath = nullptr;
    // From the document's own folder up to the root; the nearest rule wins.
    for (std::optional<std::string> folder = standardized(PathNames::folderOf(documentPath)); folder; folder = parentOf(*folder)) {
        folderRule = ruleOrNull(items_, "folder:" + *folder);
        if (!folderRule.is_null()) {
            folderPath = *folder;
            break;
        }
    }
    bool defaultValue = currentDefault();
    bool effective = !fileRule.is_null() ? fileRule.get<bool>()
                     : !folderRule.is_null() ? folderRule.get<bool>()
                                             : defaultValue;
    return {{"file", fileRule},
            {"folder", folderRule},
            {"folderPath", folderPath},
            {"docFolder", PathNames::folderOf(documentPath)},
            {"effective", effective},
            {"default", defaultValue}};
}

nlohmann::json AutoSaveRules::rules() const {
    nlohmann::json list = nlohmann::json::array();
    // The map keeps its keys in plain byte order: every "file:" before every "folder:".
    for (const auto& [key, value] : items_) {
        auto colon = key.find(':');
        list.push_back({{"key", key},
                        {"kind", key.substr(0, colon)},
                        {"path", colon == std::string::npos ? std::string() : key.substr(colon + 1)},
                        {"value", value}});
    }
    return list;
}
