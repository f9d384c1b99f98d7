#include "core/Images.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "core/BridgeError.hpp"
#include "core/DocumentPlace.hpp"
#include "core/PathNames.hpp"
#include "core/PathRules.hpp"
#include "core/PercentEncoding.hpp"
#include "core/UTF8.hpp"

namespace {

constexpr const char* notLocal = "not a local picture";
constexpr const char* outside = "the picture is outside the folder this app may read";
constexpr const char* hiddenOrPrivate = "the picture is in a hidden file or a private folder";
constexpr const char* notAPictureType = "not a picture type this app shows";
constexpr const char* notFound = "picture not found";
constexpr const char* tooLarge = "picture larger than 20 MB";
constexpr const char* unreadable = "the picture could not be read";

// Tab and the Unicode space separators, as UTF-8: the blanks a reference may
// carry at its ends. Line breaks are not among them.
constexpr std::string_view blanks[] = {
    "\t",           " ",            "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81",
    "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87",
    "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80",
};

std::string_view trimBlanks(std::string_view text) {
    bool trimmed = true;
    while (trimmed) {
        trimmed = false;
        for (std::string_view blank : blanks) {
            if (text.starts_with(blank)) {
                text.remove_prefix(blank.size());
                trimmed = true;
            }
            if (text.ends_with(blank)) {
                text.remove_suffix(blank.size());
                trimmed = true;
            }
        }
    }
    return text;
}

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "https:", "data:", "file:", and a drive letter such as "C:" alike: a
// letter, then letters, digits, "+", "." or "-", then a colon.
bool startsWithScheme(std::string_view text) {
    if (text.empty() || !isLetter(text[0])) return false;
    for (std::size_t i = 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == ':') return true;
        if (!isLetter(c) && !isDigit(c) && c != '+' && c != '.' && c != '-') return false;
    }
    return false;
}

std::vector<std::string> partsBelow(const std::string& path, const std::string& root) {
    std::vector<std::string> parts;
    std::size_t start = root == "/" ? 1 : root.size() + 1;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        if (slash > start) parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

[[noreturn]] void unreachable(bool sandboxed, const char* otherwise, int status) {
    if (sandboxed) throw BridgeError(403, Images::needsFolder);
    throw BridgeError(status, otherwise);
}

}  // namespace

namespace Images {

std::optional<std::string_view> typeOf(std::string_view path) {
    auto slash = path.rfind('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    auto dot = name.rfind('.');
    if (dot == std::string_view::npos) return std::nullopt;
    std::string extension(name.substr(dot + 1));
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    for (const auto& [known, type] : types) {
        if (extension == known) return type;
    }
    return std::nullopt;
}

Located resolve(const std::string& src, const std::string& doc, const std::string& allowed) {
    std::string written = src.substr(0, src.find('#'));
    written = written.substr(0, written.find('?'));
    // A reference that does not decode into text is taken as written, so a
    // file may have a "%" in its name.
    if (auto decoded = percentDecode(written); decoded && UTF8::isValid(*decoded)) written = std::move(*decoded);
    std::string reference(trimBlanks(written));
    if (reference.empty() || reference.find('\0') != std::string::npos || startsWithScheme(reference)) {
        throw BridgeError(400, notLocal);
    }

    std::string joined = reference.front() == '/' ? reference : PathNames::folderOf(doc) + "/" + reference;
    Located picture{Files::realPath(joined), Files::realPath(allowed)};
    const std::string& root = picture.root;
    const std::string& path = picture.path;
    if (!PathNames::holds(root, path)) throw BridgeError(403, outside);
    if (path != root && Files::isPrivate(partsBelow(path, root))) throw BridgeError(403, hiddenOrPrivate);
    if (!typeOf(path)) throw BridgeError(415, notAPictureType);
    return picture;
}

Picture read(const Located& picture, bool sandboxed) {
    Picture result;
    result.type = std::string(typeOf(picture.path).value_or("application/octet-stream"));
    // The folder the picture must lie in is never a picture itself.
    if (picture.path == picture.root) throw BridgeError(404, notFound);

    // Opened without blocking: a FIFO put in the picture's place must not
    // hold the queue that serves every request; it is refused below by its type.
    Files::Place place = Files::placeBelow(picture.path, picture.root);
    int fd = place.folder.isOpen()
                 ? ::openat(place.folder.fd(), place.name.c_str(),
                            O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC)
                 : -1;
    if (fd < 0) unreachable(sandboxed, notFound, 404);
    Files::OpenFile file(fd);
    struct stat status;
    if (::fstat(fd, &status) != 0) unreachable(sandboxed, notFound, 404);
    if (status.st_size > static_cast<off_t>(maxBytes)) throw BridgeError(413, tooLarge);
    if (!S_ISREG(status.st_mode)) throw BridgeError(404, notFound);

    // Room for what fstat said and one byte more, so that a file grown since
    // is noticed without reading it whole.
    std::string& bytes = result.bytes;
    bytes.resize(static_cast<std::size_t>(status.st_size) + 1);
    std::size_t done = 0;
    while (true) {
        if (done == bytes.size()) {
            if (bytes.size() > maxBytes) throw BridgeError(413, tooLarge);
            bytes.resize(std::min(bytes.size() * 2, maxBytes + 1));
        }
        ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) unreachable(sandboxed, unreadable, 500);
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return result;
}

}  // namespace Images
