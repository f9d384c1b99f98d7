#pragma once
// Auto-save switched on or off for one document or a whole folder, on top of
// the user's general default, kept in "autosave.json" in the support folder.
// A rule's key is its scope, a colon and an absolute path ("file:/a/b.md",
// "folder:/a"); its value says whether auto-save is wanted. For a document
// the nearest rule wins: its own, else that of the nearest folder above it,
// else the default.
//
// No lock: every caller runs on the bridge's serial io queue. Every change
// rewrites the whole file; a failed write is silent and the rules in memory
// stay changed.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/JSONFile.hpp"

class AutoSaveRules final {
public:
    // Loads the rules; a missing or damaged file gives none. `defaultOn` is
    // asked anew whenever the default is needed, so a change of the user's
    // setting shows at once; an empty function counts as "on".
    AutoSaveRules(std::string path, std::function<bool()> defaultOn);

    const std::map<std::string, bool>& items() const { return items_; }
    const std::string& path() const { return file_.path(); }

    // Sets the rule of `scope` ("file" or "folder") for `path`, or removes it
    // when `value` is none (no error when there was none); then saves. The
    // path is stored with "." and ".." parts and doubled slashes taken out,
    // so that documents reached by any spelling of it meet the rule.
    void set(const std::string& scope, const std::string& path, std::optional<bool> value);

    // The six members the page is answered for a document (an absolute path):
    // "file", "folder", "folderPath", "docFolder", "effective", "default".
    nlohmann::json state(const std::string& documentPath) const;

    // Every rule as {"key", "kind", "path", "value"}, sorted by key.
    nlohmann::json rules() const;

    // Changes or removes the rule stored under `key` exactly; throws
    // BridgeError 404 "no such auto-save rule" when there is none.
    void change(const std::string& key, std::optional<bool> value);

    // The absolute path with "." and ".." parts, empty parts and trailing
    // slashes taken out, judged on the text alone ("/" for the root).
    static std::string standardized(std::string_view path);

private:
    void put(const std::string& key, std::optional<bool> value);
    bool currentDefault() const;

    const JSONFile file_;
    const std::function<bool()> defaultOn_;
    std::map<std::string, bool> items_;
};
