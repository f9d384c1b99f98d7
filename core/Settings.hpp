#pragma once
// The user's preferences for the editor page, kept in "settings.json": a
// closed set of eighteen keys, each always present and starting at its
// default. A stored or submitted value replaces the current one only when its
// key is known and the value passes that key's rule; anything else is dropped
// without a word, so a damaged or hand-edited file can never put an
// unexpected value in front of the page.
//
// No lock: the routes and the native readers (the auto-save default, the
// update check) all run on the bridge's serial io queue.
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/JSONFile.hpp"

class Settings final {
public:
    // Loads the file (a missing or damaged one leaves the defaults); writes
    // nothing. `version` is the program's version, the one value
    // "seenVersion" may take besides "".
    Settings(std::string path, std::string version);

    // The eighteen keys with their defaults.
    static const nlohmann::json& defaults();

    // Always exactly the keys of the defaults.
    const nlohmann::json& values() const { return values_; }
    const std::string& version() const { return version_; }
    const std::string& path() const { return file_.path(); }

    // Takes the valid entries of `candidates` (an object; anything else
    // changes nothing), writes the whole set even when nothing changed, and
    // answers it.
    const nlohmann::json& update(const nlohmann::json& candidates);

    // A folder name for pictures: one to sixty-four letters, digits, spaces,
    // underscores, dots or hyphens, a letter or digit first, no "..".
    static bool validFolderName(std::string_view name);
    static bool validPluginId(std::string_view id);
    // The options of the page's plugins: plugin id -> object of option name ->
    // short text, number or boolean; at most 50 plugins and 8192 bytes.
    static bool validPluginValues(const nlohmann::json& plugins);

private:
    void apply(const nlohmann::json& candidates);
    bool accepts(const std::string& key, const nlohmann::json& value) const;

    const JSONFile file_;
    const std::string version_;
    nlohmann::json values_;
};
