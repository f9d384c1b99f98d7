#pragma once
// Path rules: every relative path the page sends passes through here before a
// file is read, written, listed or watched. Paths are plain absolute paths as
// text; relative document paths are what the editor page sends
// ("notes/plan.md"). Every refusal is a BridgeError.
#include "core/BridgeError.hpp"

#include <sys/stat.h>

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Files {

// A fixed set of names, built at compile time so that it is ready before any
// thread can ask, so no thread ever sees them half built.
template <std::size_t N>
struct NameSet {
    std::array<std::string_view, N> names;

    constexpr bool contains(std::string_view name) const {
        for (auto n : names)
            if (n == name) return true;
        return false;
    }
    constexpr std::size_t size() const { return N; }
    constexpr auto begin() const { return names.begin(); }
    constexpr auto end() const { return names.end(); }
};

// The document suffixes, in this order; isMarkdown applies the same two.
inline constexpr std::array<std::string_view, 2> markdownSuffixes{".md", ".markdown"};

// Hidden folders never read, listed or watched. Lower case; callers match the
// ASCII-lower-cased name. ".config/gcloud" is secret too (see isPrivate).
inline constexpr NameSet<13> secretFolders{{
    ".ssh", ".gnupg", ".aws", ".azure", ".kube", ".docker", ".git", ".password-store",
    ".trash", ".spotlight-v100", ".fseventsd", ".documentrevisions-v100", ".temporaryitems",
}};

// Folders the listing never walks into; matched against the
// lower-cased entry name.
inline constexpr NameSet<19> heavyFolders{{
    ".cache", ".npm", ".cargo", ".rustup", ".nvm", ".pyenv", ".local", ".vscode", ".cursor",
    ".oh-my-zsh", ".gradle", ".m2", ".yarn", ".pnpm-store", ".venv", ".tox", ".terraform",
    ".bundle", ".gem",
}};

// Whether a walk of the open folder's tree (the listing, the sweep of stale
// temporaries) passes a folder of this name by: node_modules, the heavy tool
// folders and the secret ones, and hidden folders whose name is not ASCII.
bool isWalkedPast(std::string_view folderName);

// Whether a file name ends in .md or .markdown after full Unicode lower-casing.
bool isMarkdown(std::string_view name);

// Whether a relative path, given as its parts from the folder down (the last
// part taken as a file name), touches an empty part, "." or "..", a hidden
// file, a secret folder or a hidden folder with a non-ASCII name.
bool isPrivate(const std::vector<std::string>& parts);

// The folder with the relative path appended, judged on the text alone.
// Throws 403 when no folder is open or the path breaks a rule, 400 when the
// path is not valid UTF-8.
std::string lexical(const std::string& path, const std::optional<std::string>& folder);

// The absolute path with ".", ".." and symbolic links resolved; parts that do
// not exist are kept as written. A path through more than 64 links (a loop of
// links among them) throws 403.
std::string realPath(const std::string& path);

// lexical, then the real location on disk, which must lie inside the real
// folder and pass isPrivate too. The file need not exist. Throws 403, or 400
// when the path or the real one a link leads to is not valid UTF-8.
std::string resolve(const std::string& path, const std::optional<std::string>& folder);

// Link look-ups remembered while many paths of one folder are resolved at
// once (the version check of all open documents): the folder and the folders
// the paths share are read once per batch instead of once per path, and what
// each name turned out to be is kept, so the caller need not look at the
// document again. Lives for one batch on one thread.
class LinkCache {
public:
    LinkCache() = default;
    ~LinkCache();
    LinkCache(const LinkCache&) = delete;
    LinkCache& operator=(const LinkCache&) = delete;

    // The lstat of an absolute path, or nothing when it failed; asked once per
    // batch. Names are looked up from their folder, kept open for the batch,
    // so the system walks one name instead of the whole path each time.
    const std::optional<struct stat>& look(const std::string& path);
    // The text of the link at `path` (looked at before), asked once per batch.
    const std::optional<std::string>& target(const std::string& path);
    // The real path of an open folder as given, found once per batch.
    const std::string& realFolder(const std::string& folder);

private:
    // A folder's descriptor for look-ups in it, or -1 (lstat is used then).
    int folder(std::string_view path);

    struct Folder {
        int fd = -1;
        bool tried = false;
    };
    std::unordered_map<std::string, std::optional<struct stat>> status_;
    std::unordered_map<std::string, std::optional<std::string>> targets_;
    std::unordered_map<std::string, std::string> realFolders_;
    std::unordered_map<std::string, Folder> open_;
    std::size_t opened_ = 0;
    // The folder asked about last (entries of open_ stay where they are).
    std::pair<const std::string, Folder>* lastFolder_ = nullptr;
};
std::string realPath(const std::string& path, LinkCache* links);
// With `realFolder`, the real path of the open folder is handed back too.
std::string resolve(const std::string& path, const std::optional<std::string>& folder, LinkCache* links,
                    std::string* realFolder = nullptr);

}  // namespace Files
