#pragma once
// The folders the user chose for the page's plugins, one per plugin id, kept
// in "plugin-folders.json" in the support folder so that a plugin finds its
// folder again in a later run.
//
// No lock: every caller runs on the bridge's serial io queue. A failed write
// is silent and the entries in memory stay changed.
#include <map>
#include <optional>
#include <string>

#include "core/JSONFile.hpp"

class PluginFolderStore final {
public:
    struct Entry {
        // Absolute path of the folder as it was chosen.
        std::string path;
        // The folder's bookmark in the Base64 form the Bookmarks seam makes
        // and resolves; absent when none was made. An empty text is an empty
        // bookmark, which never resolves.
        std::optional<std::string> bookmark;

        bool operator==(const Entry&) const = default;
    };

    // Loads the entries; a missing or damaged file gives none. Touches no file
    // otherwise.
    explicit PluginFolderStore(std::string path);

    const std::map<std::string, Entry>& entries() const { return entries_; }
    const std::string& path() const { return file_.path(); }

    // Remembers (or replaces) the plugin's folder and saves.
    void set(const std::string& id, const std::string& folder, std::optional<std::string> bookmark);
    // Forgets the plugin's folder; saves only when there was one.
    void forget(const std::string& id);

private:
    void save() const;

    const JSONFile file_;
    std::map<std::string, Entry> entries_;
};
