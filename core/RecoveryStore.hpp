#pragma once
// The last copy of text the user has not saved: one small JSON file per entry
// in a private folder, written whole on every keep, so that what was typed
// survives the program or the machine stopping before a save. The page
// chooses the ids; an id is checked against a strict rule before any file
// name is made from it.
//
// No lock: every caller runs on the bridge's serial io queue.
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

class RecoveryStore final {
public:
    struct Entry {
        std::string text;
        // Absolute path of the document on disk; none for an untitled text.
        std::optional<std::string> location;
        // Base64 bookmark of the document (the Bookmarks seam's form); none
        // when it was kept without one.
        std::optional<std::string> bookmark;
        std::string name;
    };

    // Touches no file: the folder is made by the first keep.
    explicit RecoveryStore(std::string folder) : folder_(std::move(folder)) {}

    const std::string& folder() const { return folder_; }

    // Six to forty ASCII letters, digits, underscores or hyphens, and nothing
    // else (no final line break either).
    static bool isValidId(std::string_view id);

    // Creates or replaces the entry. The new file is private from its
    // creation, flushed, renamed over the old one and the folder flushed
    // before this returns; on any failure the earlier entry stays whole and
    // no temporary file is left. Throws 400 "bad recovery id", or 500 with
    // the system's description of the failed step.
    void put(const std::string& id, const std::string& name, const std::optional<std::string>& location,
             const std::optional<std::string>& bookmark, const std::string& base, const std::string& text);
    // put with the text given as a JSON string literal, quotes included,
    // that is known to be well-formed (as a keep's body is checked): written
    // into the entry as it is, so a large text is not decoded and escaped
    // again on every keep.
    void putLiteral(const std::string& id, const std::string& name, const std::optional<std::string>& location,
                    const std::optional<std::string>& bookmark, const std::string& base,
                    std::string_view textLiteral);

    // Throws 400 "bad recovery id", or 404 "nothing to recover with that id"
    // when the file is missing, unreadable or not a JSON object.
    Entry entry(const std::string& id) const;

    // One summary per readable entry (id, name, location, base, savedAt and
    // the text's size in user-perceived characters), newest first. A missing
    // folder or a damaged file is no error: it just lists nothing.
    nlohmann::json listing() const;

    // Removes the entry; a bad id, a missing file or a failed removal does nothing.
    void clear(const std::string& id) noexcept;

private:
    // Makes the folder (0700) and any missing parents, each new name flushed;
    // throws 500 as put does.
    void makeFolder() const;
    // The entry's file; throws 400 "bad recovery id".
    std::string entryPath(const std::string& id) const;

    const std::string folder_;
};
