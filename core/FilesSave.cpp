// The save. Two promises rule every line here: the user's text and the
// version on disk are never lost, and a change another program made since the
// page read the document is never overwritten unless the user said so.
//
// The same-folder route writes a hidden temporary file beside the document,
// flushes it through its own descriptor and renames it over the document, so
// a reader (or a crash) sees the whole old or the whole new file. Where the
// folder cannot take a new name but the document itself can be written, the
// replacement-folder route first writes and flushes the new bytes into a
// private folder of ours, then writes them into the document in place; if
// that fails the old bytes, which the save read for its version check, are
// written back.
#include "core/Files.hpp"

#include <openssl/rand.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <future>
#include <sys/stat.h>

#include "core/Backups.hpp"
#include "core/Dispatch.hpp"
#include "core/FileWrite.hpp"
#include "core/LogFile.hpp"
#include "core/UserFolders.hpp"

namespace {

const char* const kChanged = "the file was changed on disk since you opened it";

// What the save learnt about the document before writing.
struct Target {
    std::string path;
    std::string folder;
    std::string name;
    bool exists = false;
    // The bytes on disk when the save began: put back if an in-place write fails.
    std::string old;
    std::optional<mode_t> permissions;
};

std::string lastComponent(const std::string& path) {
    auto end = path.find_last_not_of('/');
    if (end == std::string::npos) return path;
    auto slash = path.rfind('/', end);
    auto start = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(start, end + 1 - start);
}

// A version-4 UUID in its usual upper-case text form.
std::string uuidText() {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) throw BridgeError(500, "not saved: no random name for the temporary file");
    bytes[6] = (bytes[6] & 0x0F) | 0x40;
    bytes[8] = (bytes[8] & 0x3F) | 0x80;
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9],
                  bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

[[noreturn]] void notSaved(int error) { throw BridgeError(500, std::string("not saved: ") + std::strerror(error)); }

bool isPermissionError(int error) { return error == EACCES || error == EPERM; }

// Where the replacement route keeps its copies: ours alone, never in the
// document's folder (which is exactly what could not be written).
std::string replacementBase() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/') return std::string(cache) + "/Quillmarsh";
    std::string home = UserFolders::home();
    return home.empty() ? "" : home + "/.cache/Quillmarsh";
}

// The rename has put the new bytes in place; flushing the folder makes that
// survive a power cut. A failure cannot be undone any more and the document
// is whole either way, so it is logged and the save still counts.
void flushAfterRename(const std::string& folder) {
    auto flushed = FileWrite::flushFolder(folder);
    if (!flushed) appLog().add("save: folder not flushed after the rename, error " + std::to_string(flushed.error));
}

// Puts a new document at `target` where there was none when the save looked,
// without ever replacing one that appeared in the meantime. Where the file
// system cannot promise that, a plain rename is the best it offers.
void placeNew(const std::string& from, const std::string& target) {
    auto& sys = sysCalls();
    int result = sys.renameNoReplace(from.c_str(), target.c_str());
    if (result != 0 && errno == EINVAL) result = sys.rename(from.c_str(), target.c_str());
    if (result == 0) return;
    int error = errno;
    sys.unlink(from.c_str());
    if (error == EEXIST) throw BridgeError(409, kChanged);
    notSaved(error);
}

// The same-folder route. Answers 0 on success, or the errno of a permission
// error while making the temporary file, for the caller to try the other
// route; every other failure throws.
int sameFolder(const std::string& bytes, const Target& target) {
    auto& sys = sysCalls();
    std::string temporary = target.folder + "/.quillmarsh-" + uuidText() + ".tmp";
    // Created with the document's permissions (narrowed by the umask) so a
    // private document's new text is never readable by others, not even for
    // the moment before the exact bits are set below.
    auto created = FileWrite::exclusiveCreate(temporary, bytes, target.permissions.value_or(0666),
                                              FileWrite::Permissions::umasked);
    if (!created) {
        // The helper has removed whatever it created.
        if (isPermissionError(created.error)) return created.error;
        notSaved(created.error);
    }
    if (target.permissions) sys.chmod(temporary.c_str(), *target.permissions);  // as close as we can; not a reason to refuse

    if (target.exists) {
        if (sys.rename(temporary.c_str(), target.path.c_str()) != 0) {
            int error = errno;
            sys.unlink(temporary.c_str());
            notSaved(error);
        }
    } else {
        placeNew(temporary, target.path);
    }
    flushAfterRename(target.folder);
    return 0;
}

void replacementFolder(const std::string& bytes, const Target& target) {
    auto& sys = sysCalls();
    std::string base = replacementBase();
    if (base.empty()) notSaved(ENOENT);
    if (auto made = FileWrite::makeFolders(base, 0700); !made) notSaved(made.error);
    std::string folder = base + "/save-" + uuidText();
    if (sys.mkdir(folder.c_str(), 0700) != 0) notSaved(errno);
    std::string copy = folder + "/" + target.name;
    auto removeCopy = [&] {
        sys.unlink(copy.c_str());
        sys.rmdir(folder.c_str());
    };

    // The folder is private (0700), so the copy may carry the document's own bits.
    auto created = FileWrite::exclusiveCreate(copy, bytes, target.permissions.value_or(0666),
                                              FileWrite::Permissions::umasked);
    if (!created) {
        removeCopy();
        notSaved(created.error);
    }

    if (target.exists) {
        auto written = FileWrite::overwrite(target.path, bytes);
        if (!written) {
            // A failed open changed nothing; after any later step the document
            // may hold part of the new text, so the old bytes go back.
            if (written.failed != SysCall::open) {
                if (auto restored = FileWrite::overwrite(target.path, target.old); !restored) {
                    appLog().add("save: earlier version not written back, error " + std::to_string(restored.error));
                }
            }
            removeCopy();
            notSaved(written.error);
        }
    } else {
        try {
            placeNew(copy, target.path);
        } catch (...) {
            removeCopy();
            throw;
        }
        flushAfterRename(target.folder);
    }
    // Only now that the document holds the new bytes on storage.
    removeCopy();
}

// Hashing a large document takes about as long as reading it from the page
// cache or writing it: its new version is computed on a helper thread while
// the save reads and hashes the version on disk. Small documents are hashed in
// line, where a thread hop would cost more than it saves.
constexpr std::size_t kHashAsideFrom = std::size_t{1} << 20;

ConcurrentQueue& hashers() {
    static ConcurrentQueue queue("quillmarsh.files.hash", 4);
    return queue;
}

class NewVersion {
public:
    explicit NewVersion(const std::string& bytes) : bytes_(bytes) {
        if (bytes.size() < kHashAsideFrom) {
            done_.set_value();
            return;
        }
        aside_ = true;
        hashers().async([this] {
            try {
                version_ = Files::version(bytes_);
            } catch (...) {
                failure_ = std::current_exception();
            }
            done_.set_value();
        });
    }
    // The helper reads the bytes and this object: never leave before it ends.
    ~NewVersion() { finished_.wait(); }
    NewVersion(const NewVersion&) = delete;
    NewVersion& operator=(const NewVersion&) = delete;

    std::string get() {
        if (!aside_) return Files::version(bytes_);
        finished_.wait();
        if (failure_) std::rethrow_exception(failure_);
        return version_;
    }

private:
    const std::string& bytes_;
    bool aside_ = false;
    std::string version_;
    std::exception_ptr failure_;
    std::promise<void> done_;
    std::future<void> finished_ = done_.get_future();
};

Files::Saved checkedSave(const std::string& bytes, const std::string& path, const std::string& base, bool overwrite,
                         bool viaReplacementFolder, Backups* backups) {
    if (static_cast<std::int64_t>(bytes.size()) > Files::maxBytes) throw BridgeError(413, "file too large");

    Target target;
    target.path = path;
    target.folder = FileWrite::parentFolder(path);
    target.name = lastComponent(path);
    struct stat status;
    if (::stat(target.folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        throw BridgeError(400, "the folder does not exist");
    }
    if (::stat(path.c_str(), &status) == 0) {
        target.exists = true;
    } else if (errno != ENOENT) {
        // Not knowing whether a document is there is not knowing it is absent:
        // saving "as new" could replace text nobody has seen.
        throw BridgeError(500, std::string("could not read the file: ") + std::strerror(errno));
    }

    NewVersion newVersion(bytes);
    std::optional<std::string> backup;
    if (target.exists) {
        Files::Read disk = Files::ready(path);
        if (!overwrite && disk.version != base) throw BridgeError(409, kChanged);
        if (backups && (disk.version != base || backups->needsBackup(path, disk.version))) {
            backup = backups->keep(disk.bytes, target.name, std::chrono::system_clock::now());
        }
        // The document's own bits (links followed: a link's bits are not the document's).
        if (::stat(path.c_str(), &status) == 0) target.permissions = status.st_mode & 07777;
        target.old = std::move(disk.bytes);
    } else if (!base.empty() && base != "new" && !overwrite) {
        throw BridgeError(409, "the file was deleted or moved on disk since you opened it");
    }

    // Known before anything is written, so nothing can fail once the document is replaced.
    std::string version = newVersion.get();
    std::string route = "same folder";
    if (viaReplacementFolder || sameFolder(bytes, target) != 0) {
        route = "replacement folder";
        replacementFolder(bytes, target);
    }
    if (backups) backups->wrote(path, version);
    return {std::move(version), std::move(route), std::move(backup)};
}

}  // namespace

namespace Files {

Saved save(const std::string& bytes, const std::string& target, const std::string& base, bool overwrite,
           bool viaReplacementFolder, Backups* backups) {
    try {
        return checkedSave(bytes, target, base, overwrite, viaReplacementFolder, backups);
    } catch (const BridgeError&) {
        throw;
    } catch (const std::exception& error) {
        throw BridgeError(500, std::string("not saved: ") + error.what());
    } catch (...) {
        throw BridgeError(500, "not saved: unknown error");
    }
}

std::string write(const std::string& bytes, const std::string& target, const std::string& base, bool overwrite,
                  bool viaReplacementFolder, Backups* backups) {
    lastBackup.reset();
    Saved saved = save(bytes, target, base, overwrite, viaReplacementFolder, backups);
    lastWriteRoute = saved.route;
    lastBackup = saved.backup;
    return saved.version;
}

}  // namespace Files
