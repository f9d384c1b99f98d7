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
#include "core/SafeSave.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <exception>
#include <functional>
#include <stdexcept>
#include <future>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "core/Backups.hpp"
#include "core/Dispatch.hpp"
#include "core/DocumentRead.hpp"
#include "core/FileWrite.hpp"
#include "core/LogFile.hpp"
#include "core/RandomText.hpp"
#include "core/TemporaryNames.hpp"
#include "core/InterruptedSaves.hpp"

namespace {

const char* const changedSinceOpened = "the file was changed on disk since you opened it";

// What the save learnt about the document before writing. Every step names
// files relative to the document's folder as it was opened (`folder`), never
// by path again.
struct Target {
    const Files::Place* place = nullptr;
    std::string path;
    int folder = -1;
    std::string name;
    bool exists = false;
    // The bytes on disk when the save began: put back if an in-place write fails.
    std::string old;
    // The document as it was, open until the save is done (see retire).
    Files::OpenFile file;
    std::optional<mode_t> permissions;
};

// A random name for the save's own files; the refusal says what is missing.
template <typename Make>
std::string randomName(Make make) {
    try {
        return make();
    } catch (const std::runtime_error&) {
        throw BridgeError(500, "not saved: no random name for the temporary file");
    }
}

[[noreturn]] void notSaved(int error) { throw BridgeError(500, std::string("not saved: ") + std::strerror(error)); }

bool isPermissionError(int error) { return error == EACCES || error == EPERM; }

// The rename has put the new bytes in place; flushing the folder makes that
// survive a power cut. A failure cannot be undone any more and the document
// is whole either way, so it is logged and the save still counts.
void flushAfterRename(int folder) {
    auto flushed = FileWrite::flushFolder(folder);
    if (!flushed) appLog().add("save: folder not flushed after the rename, error " + std::to_string(flushed.error));
}

// Puts a new document at `target` where there was none when the save looked,
// without ever replacing one that appeared in the meantime. Where the file
// system cannot promise that, a plain rename is the best it offers.
void placeNew(int fromFolder, const std::string& from, const Target& target) {
    auto placed = FileWrite::renameWithoutReplacing(fromFolder, from, target.folder, target.name);
    if (placed) return;
    sysCalls().unlink(fromFolder, from.c_str());
    if (placed.error == EEXIST) throw BridgeError(409, changedSinceOpened);
    notSaved(placed.error);
}

// A temporary file's name in the document's folder (see TemporaryNames).
std::string temporaryName() { return randomName(TemporaryNames::make); }


// Whether the document holds its old bytes again, read as every read is.
bool holdsOld(const Target& target) {
    try {
        return Files::ready(*target.place).bytes == target.old;
    } catch (const std::exception&) {
        return false;
    }
}

void replacementFolder(const std::string& bytes, const Target& target) {
    auto& sys = sysCalls();
    std::string base = Files::replacementBase();
    if (base.empty()) notSaved(ENOENT);
    std::string folder = base + "/save-" + randomName(randomUUID);
    // Every folder made on the way to the copy, the copy's own included, innermost first.
    std::vector<std::string> made;
    if (auto madeBase = FileWrite::makeFolders(base, 0700, &made); !madeBase) notSaved(madeBase.error);
    made.push_back(folder);
    std::reverse(made.begin(), made.end());
    if (sys.mkdir(folder.c_str(), 0700) != 0) notSaved(errno);
    std::string partial = folder + "/" + Files::partialCopyName;
    std::string copy = folder + "/" + target.name;
    auto removeCopy = [&] {
        sys.unlink(AT_FDCWD, partial.c_str());
        sys.unlink(AT_FDCWD, copy.c_str());
        sys.rmdir(folder.c_str());
    };

    // The folder is private (0700), so the copy may carry the document's own bits.
    auto created = FileWrite::exclusiveCreate(partial, bytes, target.permissions.value_or(0666),
                                              FileWrite::Permissions::umasked);
    if (!created) {
        removeCopy();
        notSaved(created.error);
    }
    if (sys.rename(AT_FDCWD, partial.c_str(), AT_FDCWD, copy.c_str()) != 0) {
        int error = errno;
        removeCopy();
        notSaved(error);
    }
    // The copy's name must be on storage before the document is touched: it
    // is what tells a whole copy from a cut-off one after a crash. So must
    // the names of the folders that lead to it: a power cut that takes the
    // new folder's name takes the copy with it, while the document may
    // already be half overwritten.
    if (auto flushed = FileWrite::flushFolder(folder); !flushed) {
        removeCopy();
        notSaved(flushed.error);
    }
    for (const std::string& newFolder : made) {
        if (auto flushed = FileWrite::flushFolder(FileWrite::parentFolder(newFolder)); !flushed) {
            removeCopy();
            notSaved(flushed.error);
        }
    }

    if (target.exists) {
        auto written = FileWrite::overwriteIn(target.folder, target.name, bytes);
        if (!written) {
            // A failed open changed nothing; after any later step the document
            // may hold part of the new text, so the old bytes go back.
            if (written.failed != SysCall::open) {
                if (auto restored = FileWrite::overwriteIn(target.folder, target.name, target.old); !restored) {
                    appLog().add("save: earlier version not written back, error " + std::to_string(restored.error));
                }
            }
            // Should the document hold neither version now, the copy is the
            // only whole text left: it stays, and the next start keeps it in Backups.
            if (holdsOld(target)) removeCopy();
            else appLog().add("save: the document may be cut off; the new text stays for Backups");
            notSaved(written.error);
        }
    } else {
        try {
            placeNew(AT_FDCWD, copy, target);
        } catch (...) {
            removeCopy();
            throw;
        }
        flushAfterRename(target.folder);
    }
    // Only now that the document holds the new bytes on storage.
    removeCopy();
}

// A large document costs as much CPU to hash (its old version and its new
// one) as the disk takes to write it. So for large documents the new text is
// hashed, and its temporary file written and flushed, on the caller's helper
// queue (SaveOptions::helpers) while the save reads and checks the version on
// disk; without one the same steps run one after another. A temporary file is hidden and
// is no document: writing it before the check changes nothing anyone can see,
// and it is removed if the save is refused. Small documents are done in line,
// where a thread hop would cost more than it saves.
constexpr std::size_t asideFrom = std::size_t{1} << 20;

// Work on a helper thread, joined before its owner goes away whatever happens,
// since the work uses the save's own data. Without helpers it is done at once
// on the calling thread, and join only passes on what it threw.
class Aside {
public:
    Aside(Queue* helpers, std::function<void()> work) {
        auto run = [this, work = std::move(work)] {
            try {
                work();
            } catch (...) {
                failure_ = std::current_exception();
            }
            done_.set_value();
        };
        if (helpers) helpers->async(std::move(run));
        else run();
    }
    ~Aside() { finished_.wait(); }
    Aside(const Aside&) = delete;
    Aside& operator=(const Aside&) = delete;

    // Waits for the work and passes on what it threw.
    void join() {
        finished_.wait();
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    std::exception_ptr failure_;
    std::promise<void> done_;
    std::future<void> finished_ = done_.get_future();
};

// The same-folder route's temporary file, written aside. Removed again unless
// the route took it over.
class PendingTemporary {
public:
    PendingTemporary(Queue* helpers, const std::string& bytes, const Target& target)
        : folder_(target.folder), name_(temporaryName()), writing_(helpers, [this, &bytes, &target] {
              result_ = FileWrite::createTemporaryIn(folder_, name_, bytes, target.permissions.value_or(0666),
                                                     FileWrite::Permissions::umasked, lock_);
          }) {}
    ~PendingTemporary() {
        try {
            writing_.join();
        } catch (...) {
        }
        if (!takenOver_ && result_) sysCalls().unlink(folder_, name_.c_str());
    }

    // The name, how writing it went and its lock; from here on the route owns the file.
    std::pair<std::string, FileWrite::WriteResult> takeOver(FileWrite::HeldLock& lock) {
        writing_.join();
        takenOver_ = true;
        lock = std::move(lock_);
        return {name_, result_};
    }

private:
    const int folder_;
    const std::string name_;
    FileWrite::WriteResult result_ = FileWrite::WriteResult::failure(SysCall::open, EIO);
    bool takenOver_ = false;
    // Released after the destructor has removed the file.
    FileWrite::HeldLock lock_;
    Aside writing_;  // last: it starts at once and uses the members above
};

// The same-folder route, with its temporary file already under way when
// `pending` is given. Answers 0 on success, or the errno of a permission error
// while making the temporary file, for the caller to try the other route;
// every other failure throws.
int sameFolder(const std::string& bytes, const Target& target, PendingTemporary* pending) {
    auto& sys = sysCalls();
    std::string temporary;
    FileWrite::WriteResult created;
    // Held until the temporary file is renamed or removed, whichever way this ends.
    FileWrite::HeldLock lock;
    if (pending) {
        std::tie(temporary, created) = pending->takeOver(lock);
    } else {
        temporary = temporaryName();
        // Created with the document's permissions (narrowed by the umask) so a
        // private document's new text is never readable by others, not even
        // for the moment before the exact bits are set below.
        created = FileWrite::createTemporaryIn(target.folder, temporary, bytes, target.permissions.value_or(0666),
                                               FileWrite::Permissions::umasked, lock);
    }
    if (!created) {
        // The helper has removed whatever it created.
        if (isPermissionError(created.error)) return created.error;
        notSaved(created.error);
    }
    if (target.permissions) {
        sys.chmod(target.folder, temporary.c_str(), *target.permissions);  // as close as we can; not a reason to refuse
    }

    if (target.exists) {
        if (sys.rename(target.folder, temporary.c_str(), target.folder, target.name.c_str()) != 0) {
            int error = errno;
            sys.unlink(target.folder, temporary.c_str());
            notSaved(error);
        }
    } else {
        placeNew(target.folder, temporary, target);
    }
    flushAfterRename(target.folder);
    return 0;
}

// The replaced version is no longer needed once the save is done. The
// document was kept open through the rename, so the system frees the replaced
// file only when it is closed, and for a large file that takes as long as
// writing it did: a helper closes it, and drops the old bytes, while the save
// answers. Without helpers that is done here, before the answer.
void retire(Target& target, Queue* helpers) {
    if (!target.file.isOpen() && target.old.empty()) return;
    auto leftovers = std::make_shared<std::pair<Files::OpenFile, std::string>>(std::move(target.file),
                                                                              std::move(target.old));
    auto letGo = [leftovers] {
        leftovers->first.close();
        std::string().swap(leftovers->second);
    };
    if (helpers) helpers->async(std::move(letGo));
    else letGo();
}

Files::Saved checkedSave(const std::string& bytes, const Files::Place& place, const std::string& base,
                         const Files::SaveOptions& options) {
    const bool overwrite = options.overwrite;
    Backups* const backups = options.backups;
    if (static_cast<std::int64_t>(bytes.size()) > Files::maxBytes) throw BridgeError(413, "file too large");
    const std::string& path = place.path;
    if (place.changed) throw BridgeError(403, Files::changedOnDisk);
    if (!place.folder.isOpen()) {
        if (place.error == ENOENT || place.error == ENOTDIR) throw BridgeError(400, "the folder does not exist");
        // Not knowing whether a document is there is not knowing it is absent.
        throw BridgeError(500, std::string("could not read the file: ") + std::strerror(place.error));
    }

    Target target;
    target.place = &place;
    target.path = path;
    target.folder = place.folder.fd();
    target.name = place.name;
    struct stat status;
    if (::fstatat(target.folder, target.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        // The name was real when the place was made: a link there now was put
        // in its place since, and leads who knows where.
        if (S_ISLNK(status.st_mode)) throw BridgeError(403, Files::changedOnDisk);
        target.exists = true;
        target.permissions = status.st_mode & 07777;
    } else if (errno != ENOENT) {
        // Not knowing whether a document is there is not knowing it is absent:
        // saving "as new" could replace text nobody has seen.
        throw BridgeError(500, std::string("could not read the file: ") + std::strerror(errno));
    }

    bool aside = bytes.size() >= asideFrom;
    std::string version;
    std::optional<Aside> hashing;
    if (aside) hashing.emplace(options.helpers, [&] { version = Files::version(bytes); });
    std::optional<PendingTemporary> pending;
    if (aside && !options.viaReplacementFolder) pending.emplace(options.helpers, bytes, target);

    std::optional<std::string> backup;
    if (target.exists) {
        Files::Read disk = Files::ready(place, true);
        if (!overwrite && disk.version != base) throw BridgeError(409, changedSinceOpened);
        if (backups && (disk.version != base || backups->needsBackup(path, disk.version))) {
            backup = backups->keep(disk.bytes, target.name, std::chrono::system_clock::now());
        }
        target.old = std::move(disk.bytes);
        target.file = std::move(disk.file);
    } else if (!base.empty() && base != "new" && !overwrite) {
        throw BridgeError(409, "the file was deleted or moved on disk since you opened it");
    }

    // Known before the document is touched, so nothing can fail once it is replaced.
    if (hashing) hashing->join();
    else version = Files::version(bytes);
    std::string route = "same folder";
    if (options.viaReplacementFolder || sameFolder(bytes, target, pending ? &*pending : nullptr) != 0) {
        route = "replacement folder";
        replacementFolder(bytes, target);
    }
    if (backups) backups->wrote(path, version);
    retire(target, options.helpers);
    return {std::move(version), std::move(route), std::move(backup)};
}

}  // namespace

namespace Files {

Saved save(const std::string& bytes, const std::string& target, const std::string& base, const SaveOptions& options) {
    return save(bytes, placeOf(target), base, options);
}

Saved save(const std::string& bytes, const Place& target, const std::string& base, const SaveOptions& options) {
    try {
        return checkedSave(bytes, target, base, options);
    } catch (const BridgeError&) {
        throw;
    } catch (const std::exception& error) {
        throw BridgeError(500, std::string("not saved: ") + error.what());
    } catch (...) {
        throw BridgeError(500, "not saved: unknown error");
    }
}

}  // namespace Files
