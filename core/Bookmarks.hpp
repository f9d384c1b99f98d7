#pragma once
// Bookmarks find a chosen file or folder again in a later launch and reopen
// access to it. A plain Linux desktop has no sandbox scopes: making a bookmark
// gives nothing and resolving fails, so every store falls back to the path it
// kept. The seam stays so that a portal-based implementation can be added.
#include <optional>
#include <string>

class Bookmarks {
public:
    virtual ~Bookmarks() = default;
    // Base64 text of a bookmark for the path, or "" when none can be made.
    virtual std::string make(const std::string& path) = 0;
    // The path a bookmark leads to, or nothing when it cannot be resolved.
    virtual std::optional<std::string> resolve(const std::string& base64) = 0;
    // Opens access to a path for this process; false when there is no scope to enter.
    virtual bool enterScope(const std::string& path) = 0;
    virtual void leaveScope(const std::string& path) = 0;
};

// A bookmark as Open Recent keeps it: none when the desktop made none.
inline std::optional<std::string> bookmarkOrNone(std::string bookmark) {
    if (bookmark.empty()) return std::nullopt;
    return bookmark;
}

// The Linux desktop's bookmarks: none at all.
class NoBookmarks final : public Bookmarks {
public:
    std::string make(const std::string&) override { return {}; }
    std::optional<std::string> resolve(const std::string&) override { return std::nullopt; }
    bool enterScope(const std::string&) override { return false; }
    void leaveScope(const std::string&) override {}
};
