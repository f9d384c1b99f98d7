#include "core/Settings.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <map>
#include <vector>

#include "core/Characters.hpp"
#include "core/Pattern.hpp"
#include "core/PluginId.hpp"
#include "core/UTF8.hpp"

namespace {

constexpr std::size_t pluginsMax = 50;
constexpr std::size_t pluginsBytesMax = 8192;
constexpr std::size_t pluginsOffMax = 50;
constexpr std::size_t optionTextMax = 200;
constexpr std::array<double, 4> autosaveDelays = {1.5, 3, 5, 10};

// Keys whose value is one of a fixed list of texts, compared exactly.
const std::map<std::string, std::vector<std::string>>& choices() {
    static const std::map<std::string, std::vector<std::string>> table = {
        {"theme", {"system", "light", "dark"}},
        {"textSize", {"small", "medium", "large", "xlarge"}},
        {"width", {"narrow", "medium", "wide", "full"}},
        {"margins", {"narrow", "normal", "wide"}},
        {"paper", {"auto", "a4", "letter"}},
        {"startup", {"ask", "reopen", "empty"}},
        {"updates", {"ask", "on", "off"}},
    };
    return table;
}

bool isFlag(const std::string& key) {
    static const std::array<const char*, 5> flags = {"showMarkdown", "supportFooter", "pageView", "autosaveDefault",
                                                     "lineNumbers"};
    return std::find(flags.begin(), flags.end(), key) != flags.end();
}

bool isVersion(const std::string& text) {
    static const Pattern version("[0-9]{1,4}\\.[0-9]{1,4}\\.[0-9]{1,4}");
    return version.matchesWhole(text);
}

bool isOptionName(const std::string& name) {
    static const Pattern option("[A-Za-z][A-Za-z0-9_-]{0,39}");
    return option.matchesWhole(name);
}

bool isOptionValue(const nlohmann::json& value) {
    if (value.is_boolean() || value.is_number()) return true;
    if (!value.is_string()) return false;
    const std::string& text = value.get_ref<const std::string&>();
    return UTF8::isValid(text) && Characters::count(text) <= optionTextMax;
}

}  // namespace

const nlohmann::json& Settings::defaults() {
    static const nlohmann::json table = {
        {"theme", "system"},      {"textSize", "medium"},      {"width", "medium"},
        {"showMarkdown", false},  {"supportFooter", true},     {"pageView", true},
        {"margins", "normal"},    {"assetsFolder", "assets"},  {"paper", "auto"},
        {"seenVersion", ""},      {"autosaveDefault", true},   {"autosaveDelay", 1.5},
        {"startup", "ask"},       {"lineNumbers", false},      {"updates", "ask"},
        {"updateSkip", ""},       {"plugins", nlohmann::json::object()},
        {"pluginsOff", nlohmann::json::array()},
    };
    return table;
}

Settings::Settings(std::string path, std::string version)
    : file_(std::move(path)), version_(std::move(version)), values_(defaults()) {
    if (auto loaded = file_.load()) apply(*loaded);
}

const nlohmann::json& Settings::update(const nlohmann::json& candidates) {
    apply(candidates);
    file_.save(values_);
    return values_;
}

void Settings::apply(const nlohmann::json& candidates) {
    if (!candidates.is_object()) return;
    for (const auto& [key, value] : candidates.items()) {
        if (!accepts(key, value)) continue;
        // One number type for the delay, whatever the file or the page wrote.
        values_[key] = key == "autosaveDelay" ? nlohmann::json(value.get<double>()) : value;
    }
}

bool Settings::accepts(const std::string& key, const nlohmann::json& value) const {
    if (auto choice = choices().find(key); choice != choices().end()) {
        if (!value.is_string()) return false;
        const auto& allowed = choice->second;
        return std::find(allowed.begin(), allowed.end(), value.get_ref<const std::string&>()) != allowed.end();
    }
    if (isFlag(key)) return value.is_boolean();
    if (key == "autosaveDelay") {
        if (!value.is_number()) return false;
        double seconds = value.get<double>();
        return std::find(autosaveDelays.begin(), autosaveDelays.end(), seconds) != autosaveDelays.end();
    }
    if (key == "updateSkip") {
        return value.is_string() && (value.get_ref<const std::string&>().empty() ||
                                     isVersion(value.get_ref<const std::string&>()));
    }
    if (key == "seenVersion") {
        return value.is_string() && (value.get_ref<const std::string&>().empty() ||
                                     value.get_ref<const std::string&>() == version_);
    }
    if (key == "assetsFolder") return value.is_string() && validFolderName(value.get_ref<const std::string&>());
    if (key == "pluginsOff") {
        if (!value.is_array() || value.size() > pluginsOffMax) return false;
        return std::all_of(value.begin(), value.end(), [](const nlohmann::json& id) {
            return id.is_string() && validPluginId(id.get_ref<const std::string&>());
        });
    }
    if (key == "plugins") return validPluginValues(value);
    return false;
}

bool Settings::validFolderName(std::string_view name) {
    static const Pattern folderName("[A-Za-z0-9][A-Za-z0-9 _.-]{0,63}");
    return folderName.matchesWhole(name) && name.find("..") == std::string_view::npos;
}

bool Settings::validPluginId(std::string_view id) { return PluginId::isValid(id); }

bool Settings::validPluginValues(const nlohmann::json& plugins) {
    if (!plugins.is_object() || plugins.size() > pluginsMax) return false;
    for (const auto& [id, options] : plugins.items()) {
        if (!validPluginId(id) || !options.is_object()) return false;
        for (const auto& [name, value] : options.items()) {
            if (!isOptionName(name) || !isOptionValue(value)) return false;
        }
    }
    // Last: the size is only worth measuring for an object of the right shape.
    return plugins.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).size() <= pluginsBytesMax;
}
