#include "core/PluginFolder.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/BridgeError.hpp"
#include "core/Characters.hpp"
#include "core/FileWrite.hpp"
#include "core/Pattern.hpp"
#include "core/PathRules.hpp"
#include "core/PluginId.hpp"
#include "core/SysCalls.hpp"
#include "core/TemporaryNames.hpp"
#include "core/UTF8.hpp"

namespace {

// User-perceived characters a cleaned name keeps.
constexpr std::size_t nameCharactersMax = 100;
// Bytes a cleaned name's stem may take: the longest name a Linux file system
// takes (255 bytes) less the " 999.md" a taken name may need.
constexpr std::size_t stemBytesMax = 255 - 7;
// The highest number tried after the plain name.
constexpr int numberMax = 999;
// Permissions of a created file, narrowed by the umask as any new file's:
// the plugin's files are the user's documents, not the program's own state.
constexpr mode_t createdMode = 0644;

const Pattern& markdownExtension() {
    static const Pattern pattern(R"(\.(md|markdown)$)", Pattern::Case::insensitive);
    return pattern;
}

std::string trimmed(std::string text) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.back())) text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && blank(text[start])) ++start;
    return text.substr(start);
}

[[noreturn]] void notSaved(int error) { throw BridgeError(500, std::string("not saved: ") + std::strerror(error)); }

// A descriptor closed when it goes out of scope; `viaTable` closes through
// the system call table (the files the listing reads), otherwise directly.
class Descriptor {
public:
    Descriptor(int fd, bool viaTable) : fd_(fd), viaTable_(viaTable) {}
    ~Descriptor() {
        if (fd_ < 0) return;
        if (viaTable_) sysCalls().close(fd_);
        else ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
    bool viaTable_;
};

// The visible Markdown names directly in the folder, whose names can be
// answered as text; nothing when the folder cannot be read.
std::vector<std::string> markdownNames(int folder) {
    std::vector<std::string> names;
    int own = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (own < 0) return names;
    DIR* entries = ::fdopendir(own);
    if (!entries) {
        ::close(own);
        return names;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> closing(entries, ::closedir);
    while (const dirent* entry = ::readdir(entries)) {
        std::string_view name = entry->d_name;
        if (name.starts_with(".") || !UTF8::isValid(name) || !Files::isMarkdown(name)) continue;
        names.emplace_back(name);
    }
    return names;
}

// The file's text when it is a regular file of at most fileMax bytes of
// UTF-8. One descriptor answers every question: the name is not looked up
// again between the check and the read, so a link, a pipe or a larger file
// put in its place meanwhile is turned away rather than followed or waited on.
std::optional<std::string> smallText(int folder, const std::string& name) {
    // A first look by name spares opening devices and pipes at all.
    struct stat seen;
    if (::fstatat(folder, name.c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(seen.st_mode) ||
        static_cast<std::uint64_t>(seen.st_size) > PluginFolder::fileMax) {
        return std::nullopt;
    }
    Descriptor file(sysCalls().open(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0),
                    true);
    if (file.get() < 0) return std::nullopt;
    struct stat held;
    if (::fstat(file.get(), &held) != 0 || !S_ISREG(held.st_mode) ||
        static_cast<std::uint64_t>(held.st_size) > PluginFolder::fileMax) {
        return std::nullopt;
    }
    // One byte past the limit tells a file that grew since from one that fits.
    std::string bytes(PluginFolder::fileMax + 1, '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        ssize_t n = ::read(file.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got > PluginFolder::fileMax) return std::nullopt;
    bytes.resize(got);
    if (!UTF8::isValid(bytes)) return std::nullopt;
    return bytes;
}

// Writes the bytes, flushed, under a fresh temporary name in the folder and
// answers that name; the lock keeps a sweep of stale temporaries off it.
std::string writeTemporary(int folder, std::string_view bytes, FileWrite::HeldLock& lock) {
    // A name collision is only another writer's temporary file: take another.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temporary;
        try {
            temporary = TemporaryNames::make();
        } catch (const std::runtime_error&) {
            notSaved(EIO);
        }
        auto written = FileWrite::createTemporaryIn(folder, temporary, bytes, createdMode,
                                                    FileWrite::Permissions::umasked, lock);
        if (written) return temporary;
        if (written.failed != SysCall::open || written.error != EEXIST) notSaved(written.error);
    }
    notSaved(EEXIST);
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_ino == b.st_ino && a.st_dev == b.st_dev; }

// Removes `name` if it is still the file `ours`, never a file that took the name since.
void removeIfOurs(int folder, const std::string& name, const struct stat& ours) {
    struct stat current;
    if (::fstatat(folder, name.c_str(), &current, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(current, ours)) {
        sysCalls().unlink(folder, name.c_str());
    }
}

}  // namespace

namespace PluginFolder {

bool validID(std::string_view id) { return PluginId::isValid(id); }

std::string fileName(std::string_view proposed) {
    static const Pattern separators(R"([/\\:\x00-\x1f\x7f])");
    static const Pattern leading(R"(^[\s.]+)");
    static const Pattern spaces(R"(\s+)");
    std::string name = separators.replaceAll(proposed, " ");
    name = leading.replaceAll(name, "");
    name = spaces.replaceAll(name, " ");
    // Before the trim: "notes.md " keeps its ".md" and gets another.
    name = markdownExtension().replaceAll(name, "");
    name = trimmed(std::move(name));
    name = Characters::prefixWithinBytes(Characters::prefix(name, nameCharactersMax), stemBytesMax);
    name = trimmed(std::move(name));
    if (name.empty()) name = "Untitled";
    return name + ".md";
}

nlohmann::json listing(const std::string& folder) {
    nlohmann::json files = nlohmann::json::array();
    try {
        Descriptor at(sysCalls().open(AT_FDCWD, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0), true);
        if (at.get() < 0) return files;
        std::vector<std::pair<std::string, std::string>> names;  // lower-case form, name
        for (auto& name : markdownNames(at.get())) names.emplace_back(Characters::lowerCased(name), std::move(name));
        std::sort(names.begin(), names.end());
        for (const auto& [lower, name] : names) {
            if (files.size() >= filesMax) break;
            auto text = smallText(at.get(), name);
            if (!text) continue;
            files.push_back({{"name", markdownExtension().replaceAll(name, "")}, {"text", std::move(*text)}});
        }
    } catch (...) {
        // Out of memory: what was read is answered.
    }
    return files;
}

std::string create(const std::string& folder, std::string_view name, std::string_view bytes) {
    if (bytes.size() > fileMax) throw BridgeError(413, "file too large");
    if (!UTF8::isValid(bytes)) throw BridgeError(400, "not UTF-8 text");
    std::string stem = fileName(name);
    stem.resize(stem.size() - 3);  // ".md"

    // Every step stays in the folder that was reached, whatever its path leads to meanwhile.
    Descriptor at(sysCalls().open(AT_FDCWD, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0), false);
    if (at.get() < 0) notSaved(errno);
    FileWrite::HeldLock lock;
    const std::string temporary = writeTemporary(at.get(), bytes, lock);
    struct stat ours;
    if (::fstatat(at.get(), temporary.c_str(), &ours, AT_SYMLINK_NOFOLLOW) != 0) {
        int error = errno;
        sysCalls().unlink(at.get(), temporary.c_str());
        notSaved(error);
    }

    for (int number = 1; number <= numberMax; ++number) {
        std::string candidate = number == 1 ? stem + ".md" : stem + " " + std::to_string(number) + ".md";
        // Never a plain rename: it could replace a file that took the name.
        auto placed = FileWrite::renameWithoutReplacing(at.get(), temporary, at.get(), candidate,
                                                        FileWrite::LastResort::none);
        if (!placed && placed.error == EEXIST) continue;
        if (!placed) {
            sysCalls().unlink(at.get(), temporary.c_str());
            notSaved(placed.error);
        }
        // Until the folder is on storage the new name may not survive a power
        // cut: a file that might vanish is not reported as created.
        if (auto flushed = FileWrite::flushFolder(at.get()); !flushed) {
            removeIfOurs(at.get(), candidate, ours);
            notSaved(flushed.error);
        }
        return candidate;
    }
    sysCalls().unlink(at.get(), temporary.c_str());
    throw BridgeError(409, "too many files with that name");
}

}  // namespace PluginFolder
