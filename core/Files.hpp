#pragma once
// Files: the core library's static document operations. No instances and no
// state beyond a few constants and two settings. Paths are plain absolute
// paths as text; relative document paths are what the editor page sends
// ("notes/plan.md"). Every refusal is a BridgeError.
//
// The members are spread over several sources, one per job; each section
// below names its source.
#include "core/BridgeError.hpp"
#include "core/InputStream.hpp"

#include <sys/stat.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class Backups;

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

// --- Limits shared by reading, saving and the body reader -------------------

// The largest document that may be saved, and the largest streamed body.
inline constexpr std::int64_t maxBytes = 20971520;

// --- Path rules (core/FilesPaths.cpp) ----------------------------------------

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

// Settings without a lock: set before any concurrent use (tests do), read otherwise.
// How many entries inside hidden folders one listing may visit.
inline long dotWalkMax = 50000;
// Called with the target path just before resolve or ready touches
// the disk. Empty in normal operation; a seam for tests.
inline std::function<void(const std::string&)> beforeDisk;
// Called with the real path once the path rules have accepted it (or links
// of a chosen document's path are resolved), before its folder is opened: the moment another program could put a link in a
// folder's place. Empty in normal operation; a seam for tests.
inline std::function<void(const std::string&)> afterCheck;
// Open a document's folder part by part, as where the system has no openat2.
// Off in normal operation (it is chosen by itself there); a seam for tests.
inline bool walkFolderParts = false;

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

// --- Open files (core/FilesRead.cpp) ------------------------------------------

// A file kept open until this is dropped. Closing the last descriptor of a
// file that has been replaced is when the system frees it, which for a large
// file takes as long as writing it; a holder may choose where that happens.
class OpenFile {
public:
    OpenFile() = default;
    explicit OpenFile(int fd) : fd_(fd) {}
    OpenFile(OpenFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    OpenFile& operator=(OpenFile&& other) noexcept;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() { close(); }
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void close();

private:
    int fd_ = -1;
};

// --- Documents held by their folder (core/FilesPlace.cpp) ---------------------

// A document's folder, held open, and the document's name in it. Reads and
// saves work only relative to this folder and never follow a link at the
// name, so what the path rules checked is what gets read and written: a
// folder swapped for a link after the check cannot send them anywhere else.
struct Place {
    // The document as the caller names it: what messages, Open Recent,
    // Backups and the save locks go by.
    std::string path;
    // The folder's real path (for messages) and the document's name in it.
    std::string folderPath;
    std::string name;
    // The folder, opened for reading where allowed (so that it can be
    // flushed), else with O_PATH; not open when opening failed.
    OpenFile folder;
    // Why the folder could not be opened: an errno (ENOENT or ENOTDIR when it
    // is missing), 0 when it is open.
    int error = 0;
    // A link stood in the place of a folder the path rules had looked at.
    bool changed = false;
};

// The 403 answer when a link has taken the place of what was checked.
inline constexpr const char* changedOnDisk = "the folder changed on disk while it was opened; try again";

// The document at a relative path of the open folder: the path rules and the
// real path of resolve (403 as there), then its folder opened from the open
// folder without following any link on the way. A folder that is missing is
// no refusal here (the caller decides: a new document, or "gone").
Place locate(const std::string& path, const std::optional<std::string>& folder, LinkCache* links = nullptr);

// A document named by an absolute path of the user's choice (a file handle,
// the tests): links in the path are followed, as the user chose through them,
// and the place is the real folder and name they lead to. Never throws for
// the disk: a path through too many links gets `error` ELOOP.
Place placeOf(const std::string& path);

// --- Reading and versions (core/FilesRead.cpp) -------------------------------

// A document's bytes as they are on disk and their version.
struct Read {
    std::string bytes;
    std::string version;
    // The document, still open, when the reader asked to keep it.
    OpenFile file;
};

// The SHA-256 of the bytes in 64 lower-case hexadecimal digits. Safe from any thread.
std::string version(std::string_view bytes);

// Every read of a document goes through here, the save's included. 404 "the
// file no longer exists" when nothing is there or a folder is; 404 "not a
// regular file" for a pipe, a device or a socket (never opened for waiting);
// 413 "file too large" past maxBytes (never more is read); 403 changedOnDisk
// when a link now stands where the place was checked; 500 "could not read the
// file: " + the reason when it cannot be read. With `keepOpen` the document
// stays open in the answer.
Read ready(const Place& place, bool keepOpen = false);
// ready(placeOf(path)).
Read ready(const std::string& path, bool keepOpen = false);

// --- Safe save (core/FilesSave.cpp) -------------------------------------------

// What a save did.
struct Saved {
    std::string version;  // of the bytes just written
    std::string route;    // "same folder" or "replacement folder"
    std::optional<std::string> backup;  // the copy of the earlier version, if one was kept
};

// Writes a document without ever losing its text or the version on disk, and
// without overwriting a change another program made since the page read it
// (`base` is the version the page read, "new" for a new document, or empty).
// Throws only BridgeError. Blocks on the disk; saves of one document must not
// overlap (the save endpoint serialises them).
Saved save(const std::string& bytes, const Place& target, const std::string& base, bool overwrite,
           bool viaReplacementFolder, Backups* backups);
// save to placeOf(target).
Saved save(const std::string& bytes, const std::string& target, const std::string& base, bool overwrite,
           bool viaReplacementFolder, Backups* backups);

// save, remembering the route and backup below for tests and diagnostics.
std::string write(const std::string& bytes, const std::string& target, const std::string& base, bool overwrite,
                  bool viaReplacementFolder, Backups* backups);
inline std::string lastWriteRoute;

inline std::optional<std::string> lastBackup;

// Copies of the replacement-folder route that a killed save left behind,
// kept in Backups under the document's name and the copy's time, then
// removed; cut-off copies are only removed. Folders changed less than
// `settledAfter` ago are left alone: a save may be under way in them.
// Returns how many copies were kept. Never throws.
inline constexpr std::chrono::minutes settledAfter{10};
int keepInterruptedSaves(Backups& backups, std::chrono::system_clock::time_point now);

// --- Request body reader (core/FilesBody.cpp) --------------------------------

// A request's body: the bytes when given (not size-checked), else the stream
// read to its end in 64 KiB chunks (413 past maxBytes, 400 on a read error),
// else empty. A declared length that is a decimal integer must match (400).
std::string readBody(std::optional<std::string> bytes, std::shared_ptr<InputStream> stream,
                     std::optional<std::string> declaredLength);

// A save's text against the byte count the page says it sent: the count must
// be a decimal integer equal to the body's size, otherwise 400.
void checkSaveBody(const std::string& body, const std::optional<std::string>& sent);

// --- Folder listing (core/FilesList.cpp) --------------------------------------

struct Listing {
    // Relative paths, parts joined with "/", sorted by code point after
    // canonical composition.
    std::vector<std::string> paths;
    // Documents were left out (more than the maximum, or the hidden-folder budget ran out).
    bool truncated = false;
};

// Every Markdown document below the folder that the path rules accept, at most
// `max` of them. Never walks into node_modules, the heavy tool folders or
// secret folders; spends at most dotWalkMax visits inside hidden folders, whose
// documents only fill the room the others leave. Names that are not UTF-8 are
// passed over: the page could not name them. Never throws; a folder that
// cannot be read lists as empty.
Listing list(const std::string& folder, std::size_t max);

}  // namespace Files
