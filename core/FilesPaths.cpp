// Path rules: every relative path the page sends passes through
// here before a file is read, written, listed or watched.
#include "core/Files.hpp"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <deque>
#include <unistd.h>

namespace {

const char* const kNotRelative = "path must be relative to the folder";
const char* const kPrivate =
    "path may not contain '..', '.', empty parts, hidden files or private folders";

// Links followed for one path; after that a link is taken as a plain name, so
// a loop of links ends.
constexpr int kMaxHops = 64;

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

std::string joinAbsolute(const std::vector<std::string>& parts) {
    if (parts.empty()) return "/";
    std::string path;
    for (const auto& part : parts) {
        path += '/';
        path += part;
    }
    return path;
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

// linkTarget, remembered for a batch when the caller keeps a cache.
std::optional<std::string> cachedLinkTarget(const std::string& path, Files::LinkCache* links) {
    if (!links) return linkTarget(path);
    auto [entry, added] = links->targets.try_emplace(path);
    if (added) entry->second = linkTarget(path);
    return entry->second;
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

namespace Files {

bool isMarkdown(std::string_view name) {
    std::string lower;
    if (isASCII(name)) {
        // ASCII letters lower-case to ASCII letters and nothing else lower-cases
        // into them from ASCII, so the listing's common case skips ICU.
        lower = asciiLower(name);
    } else {
        // Full Unicode lower-casing: some non-ASCII letters become ASCII ones
        // (the Kelvin sign becomes "k"), so ".marKdown" with it still counts.
        icu::UnicodeString::fromUTF8(icu::StringPiece(name.data(), static_cast<int32_t>(name.size())))
            .toLower(icu::Locale::getRoot())
            .toUTF8String(lower);
    }
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

std::string lexical(const std::string& path, const std::optional<std::string>& folder) {
    if (!folder) throw BridgeError(403, "no folder is open");
    if (path.empty() || path.find('\0') != std::string::npos) throw BridgeError(403, kNotRelative);
    if (path.find('\\') != std::string::npos || path[0] == '/') throw BridgeError(403, kNotRelative);
    auto parts = split(path, true);
    if (isPrivate(parts)) throw BridgeError(403, kPrivate);
    if (!isMarkdown(parts.back())) throw BridgeError(403, "only .md and .markdown files");

    // The folder's path with the relative path appended as written; a folder
    // given with a trailing slash does not double it.
    std::string base = *folder;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    if (base != "/") base += '/';
    return base + path;
}

std::string realPath(const std::string& path) { return realPath(path, nullptr); }

std::string realPath(const std::string& path, LinkCache* links) {
    auto initial = split(path, false);
    std::deque<std::string> pending(initial.begin(), initial.end());
    std::vector<std::string> resolved;
    int hops = 0;
    while (!pending.empty()) {
        std::string part = std::move(pending.front());
        pending.pop_front();
        if (part == ".") continue;
        if (part == "..") {
            if (!resolved.empty()) resolved.pop_back();
            continue;
        }
        if (hops >= kMaxHops) {
            resolved.push_back(std::move(part));
            continue;
        }
        resolved.push_back(part);
        auto target = cachedLinkTarget(joinAbsolute(resolved), links);
        resolved.pop_back();
        if (!target) {
            // No link there (or no such file, or no permission): the name as written.
            resolved.push_back(std::move(part));
            continue;
        }
        // A relative target is read from the folder that holds the link; an
        // absolute one restarts at the root.
        if (!target->empty() && (*target)[0] == '/') resolved.clear();
        ++hops;
        auto targetParts = split(*target, false);
        pending.insert(pending.begin(), targetParts.begin(), targetParts.end());
    }
    return joinAbsolute(resolved);
}

std::string resolve(const std::string& path, const std::optional<std::string>& folder) {
    return resolve(path, folder, nullptr);
}

std::string resolve(const std::string& path, const std::optional<std::string>& folder, LinkCache* links) {
    std::string written = lexical(path, folder);
    if (beforeDisk) beforeDisk(written);

    std::string realFolder = realPath(*folder, links);
    std::string real = realPath(realFolder + "/" + path, links);
    std::string prefix = realFolder + "/";
    // The folder itself is not inside it either: realPath never ends in "/".
    if (!real.starts_with(prefix))
        throw BridgeError(403, "path leaves the folder");
    // Links may lead to a hidden file or into a secret folder inside the folder.
    if (isPrivate(split(std::string_view(real).substr(prefix.size()), false)))
        throw BridgeError(403, kPrivate);

    for (std::string_view system : {"/private/var/", "/private/tmp/", "/private/etc/"})
        if (real.starts_with(system)) return real.substr(8);
    return real;
}

}  // namespace Files
