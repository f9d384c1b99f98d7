#pragma once
// The Open Recent list: the last ten documents and folders the user opened,
// most recent first, kept in "recent.json" in the support folder.
//
// No lock: every caller runs on the bridge's serial io queue, so operations
// never overlap. Every change rewrites the whole file; a failed write is
// silent and the list in memory stays changed (remembered state is a
// convenience, never a reason to refuse the user).
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/JSONFile.hpp"

class Recent final {
public:
    struct Item {
        // "file" or "folder".
        std::string kind;
        // Absolute, as it was when the item was added.
        std::string path;
        // The item's bookmark in the Base64 form the Bookmarks seam makes and
        // resolves; absent when the opener had none. An empty text is an empty
        // bookmark, which never resolves.
        std::optional<std::string> bookmark;

        bool operator==(const Item&) const = default;
    };

    static constexpr std::size_t max = 10;

    // Loads the list from the file; a missing or malformed file gives an empty one.
    explicit Recent(std::string path);

    const std::vector<Item>& items() const { return items_; }
    const std::string& path() const { return file_.path(); }

    // Puts the item first, dropping earlier entries of the same kind and path
    // (compared literally: no link resolving, no case folding). A path that is
    // not valid UTF-8 is never added (nor loaded).
    void add(const std::string& kind, const std::string& path, std::optional<std::string> bookmark = std::nullopt);
    // An index outside the list changes nothing and writes nothing.
    void remove(std::size_t index);
    void clear();

    // The list for the page: index, kind, path, name and whether the item is
    // gone (judged on the stored path only).
    nlohmann::json listing() const;

private:
    void save() const;

    const JSONFile file_;
    std::vector<Item> items_;
};
