#include "core/PathRules.hpp"
#include "core/Characters.hpp"
#include "core/TestSeams.hpp"
#include "core/UTF8.hpp"


#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const notRelative = "path must be relative to the folder";
const char* const privatePath =
    "path may not contain '..', '.', empty parts, hidden files or private folders";

// Links followed for one path. A path that meets one more is refused, as a
// loop of links is: taking the rest as written would leave its links for the
// system to follow when the file is opened, wherever they lead.
constexpr int maxHops = 64;
const char* const tooManyLinks = "path goes through too many links";

bool isASCII(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

std::string asciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

// Splits at every "/"; keepEmpty decides whether empty parts stay.
std::vector<std::string> split(std::string_view text, bool keepEmpty) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t slash = text.find('/', start);
        std::string_view part = text.substr(start, slash == std::string_view::npos ? text.npos : slash - start);
        if (keepEmpty || !part.empty()) parts.emplace_back(part);
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return parts;
}

// The text of the symbolic link at path, not followed further; nothing when
// there is no link there or it cannot be read.
std::optional<std::string> linkTarget(const std::string& path) {
    std::string buffer(256, '\0');
    while (true) {
        ssize_t count = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (count < 0) return std::nullopt;
        // A full buffer may mean a cut-off target: try again with more room.
        if (static_cast<std::size_t>(count) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(count));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// linkTarget, remembered for a batch when the caller keeps a cache. A batch
// asks lstat first: one call answers whether a link is there at all and what
// the file is, which the caller would otherwise ask again right after.
std::optional<std::string> cachedLinkTarget(const std::string& path, Files::LinkCache* links) {
    if (!links) return linkTarget(path);
    const auto& status = links->look(path);
    if (!status || !S_ISLNK(status->st_mode)) return std::nullopt;
    return links->target(path);
}

// Folders one batch may keep open; past this, names are looked up by path.
constexpr std::size_t maxOpenFolders = 64;

// The real path of `parts` taken below `resolved`, an absolute path without
// links ("" for the root). Built in one string: names are appended and cut
// off again, never rejoined from a list. `hops` counts the links followed.
// Throws 403 when the path needs more links than maxHops.
std::string walk(std::string resolved, std::vector<std::string> parts, Files::LinkCache* links, int* hops = nullptr) {
    // The parts still to take, the next one last.
    std::vector<std::string> pending(std::make_move_iterator(parts.rbegin()), std::make_move_iterator(parts.rend()));
    int followed = 0;
    while (!pending.empty()) {
        std::string part;
        part.swap(pending.back());
        pending.pop_back();
        if (part == ".") continue;
        if (part == "..") {
            auto slash = resolved.rfind('/');
            resolved.resize(slash == std::string::npos ? 0 : slash);
            continue;
        }
        std::size_t before = resolved.size();
        resolved += '/';
        resolved += part;
        auto target = cachedLinkTarget(resolved, links);
        // No link there (or no such file, or no permission): the name as written.
        if (!target) continue;
        if (followed >= maxHops) throw BridgeError(403, tooManyLinks);
        resolved.resize(before);
        // A relative target is read from the folder that holds the link; an
        // absolute one restarts at the root.
        if (!target->empty() && (*target)[0] == '/') resolved.clear();
        ++followed;
        auto targetParts = split(*target, false);
        pending.insert(pending.end(), std::make_move_iterator(targetParts.rbegin()),
                       std::make_move_iterator(targetParts.rend()));
    }
    if (hops) *hops = followed;
    return resolved.empty() ? "/" : resolved;
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

namespace Files {

bool isWalkedPast(std::string_view name) {
    if (name == "node_modules") return true;
    if (name.empty() || name[0] != '.') return false;
    if (name == "." || name == "..") return true;
    // A hidden name with non-ASCII letters could imitate a secret or heavy one.
    if (!isASCII(name)) return true;
    std::string lower = asciiLower(name);
    return heavyFolders.contains(lower) || secretFolders.contains(lower);
}

bool isMarkdown(std::string_view name) {
    // Full Unicode lower-casing: some non-ASCII letters become ASCII ones
    // (the Kelvin sign becomes "k"), so ".marKdown" with it still counts.
    std::string lower = Characters::lowerCased(name);
    for (auto suffix : markdownSuffixes)
        if (endsWith(lower, suffix)) return true;
    return false;
}

bool isPrivate(const std::vector<std::string>& parts) {
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        if (part.empty() || part == "." || part == "..") return true;
        if (part[0] != '.') continue;
        // A hidden name with non-ASCII letters could imitate a secret one
        // (".ѕsh" with a Cyrillic s), whatever it spells.
        if (!isASCII(part)) return true;
        bool last = i + 1 == parts.size();
        if (last) return true;  // a hidden file
        std::string lower = asciiLower(part);
        if (secretFolders.contains(lower)) return true;
        if (lower == ".config") {
            const std::string& next = parts[i + 1];
            if (asciiLower(next) == "gcloud" || !isASCII(next)) return true;
        }
    }
    return false;
}

namespace {

// The rules on the text of a relative path; its parts when it passes.
std::vector<std::string> checkedParts(const std::string& path, const std::optional<std::string>& folder) {
    if (!folder) throw BridgeError(403, "no folder is open");
    UTF8::checkFileName(path);
    if (path.empty() || path.find('\0') != std::string::npos) throw BridgeError(403, notRelative);
    if (path.find('\\') != std::string::npos || path[0] == '/') throw BridgeError(403, notRelative);
    auto parts = split(path, true);
    if (isPrivate(parts)) throw BridgeError(403, privatePath);
    if (!isMarkdown(parts.back())) throw BridgeError(403, "only .md and .markdown files");
    return parts;
}

// The folder's path with the relative path appended as written; a folder
// given with a trailing slash does not double it.
std::string written(const std::string& path, const std::string& folder) {
    std::string base = folder;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    if (base != "/") base += '/';
    return base + path;
}

}  // namespace

std::string lexical(const std::string& path, const std::optional<std::string>& folder) {
    checkedParts(path, folder);
    return written(path, *folder);
}

std::string realPath(const std::string& path) { return realPath(path, nullptr); }

std::string realPath(const std::string& path, LinkCache* links) { return walk("", split(path, false), links); }

LinkCache::~LinkCache() {
    for (const auto& [path, folder] : open_)
        if (folder.fd >= 0) ::close(folder.fd);
}

int LinkCache::folder(std::string_view path) {
    // Documents of one batch mostly share their folder: the last one is
    // checked first, without building a key.
    if (lastFolder_ && path == lastFolder_->first && (lastFolder_->second.fd >= 0 || lastFolder_->second.tried)) {
        return lastFolder_->second.fd;
    }
    auto [entry, added] = open_.try_emplace(std::string(path), Folder{});
    Folder& folder = entry->second;
    // A folder asked about once (one of the folders above the open one) is
    // not worth opening; one asked again likely holds more documents.
    if (!added && folder.fd < 0 && !folder.tried && opened_ < maxOpenFolders) {
        folder.tried = true;
        folder.fd = ::open(entry->first.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder.fd >= 0) ++opened_;
    }
    lastFolder_ = &*entry;
    return folder.fd;
}

const std::optional<struct stat>& LinkCache::look(const std::string& path) {
    auto [entry, added] = status_.try_emplace(path);
    if (!added) return entry->second;
    auto slash = path.rfind('/');
    int fd = -1;
    if (slash != std::string::npos && slash + 1 < path.size()) {
        fd = folder(slash == 0 ? std::string_view("/") : std::string_view(path).substr(0, slash));
    }
    struct stat status;
    int result = fd >= 0 ? ::fstatat(fd, path.c_str() + slash + 1, &status, AT_SYMLINK_NOFOLLOW)
                         : ::lstat(path.c_str(), &status);
    if (result == 0) entry->second = status;
    return entry->second;
}

const std::optional<std::string>& LinkCache::target(const std::string& path) {
    auto [entry, added] = targets_.try_emplace(path);
    if (added) entry->second = linkTarget(path);
    return entry->second;
}

const std::string& LinkCache::realFolder(const std::string& folder) {
    auto [entry, added] = realFolders_.try_emplace(folder);
    if (added) entry->second = realPath(folder, this);
    return entry->second;
}

std::string resolve(const std::string& path, const std::optional<std::string>& folder) {
    return resolve(path, folder, nullptr);
}

std::string resolve(const std::string& path, const std::optional<std::string>& folder, LinkCache* links,
                    std::string* realFolderOut) {
    auto parts = checkedParts(path, folder);
    if (auto& beforeDisk = testSeams().beforeDisk) beforeDisk(written(path, *folder));

    std::string ownFolder;
    const std::string& realFolder = links ? links->realFolder(*folder) : (ownFolder = realPath(*folder));
    // The real folder holds no links, so the walk goes on from it.
    std::string start;
    start.reserve(realFolder.size() + path.size() + 2);
    if (realFolder != "/") start = realFolder;
    int hops = 0;
    std::string real = walk(std::move(start), std::move(parts), links, &hops);
    // The folder itself is not inside it either: realPath never ends in "/".
    std::size_t below = realFolder.size() + 1;
    if (real.size() < below || real.compare(0, realFolder.size(), realFolder) != 0 || real[below - 1] != '/')
        throw BridgeError(403, "path leaves the folder");
    // Links may lead to a hidden file or into a secret folder inside the folder.
    // Without links the path below the folder is the one checked above.
    if (hops > 0) {
        std::string_view inside = std::string_view(real).substr(below);
        if (isPrivate(split(inside, false))) throw BridgeError(403, privatePath);
        // A link may lead to a name the text check above never saw; without
        // links the names are those it checked, below a folder checked when
        // it was opened.
        UTF8::checkFileName(inside);
    }

    if (realFolderOut) *realFolderOut = realFolder;
    // Returned as found, with no system prefix taken off: on Linux a folder
    // such as "/private/tmp" is an ordinary folder, not another name of "/tmp".
    return real;
}

}  // namespace Files
