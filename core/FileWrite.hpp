#pragma once
// The only code that opens files for writing. Every file the program writes
// goes through one of these helpers, and every system call they make goes
// through the sysCalls() table, so tests can fail any step and check that the
// earlier file survives whole.
//
// Each helper answers with a WriteResult instead of throwing: the stores and
// the log ignore failures, while saves need the errno and the failed step to
// word their message.
#include "core/SysCalls.hpp"

#include <string>
#include <vector>
#include <string_view>
#include <sys/types.h>

namespace FileWrite {

struct WriteResult {
    bool ok = true;
    // The errno of the failed step; 0 on success.
    int error = 0;
    // The step that failed; meaningless on success.
    SysCall failed = SysCall::open;

    explicit operator bool() const { return ok; }
    static WriteResult success() { return {}; }
    static WriteResult failure(SysCall step, int error) { return {false, error, step}; }
};

// How a new file gets its permission bits.
enum class Permissions {
    // Exactly the given mode, set on the descriptor before any byte is written
    // (the umask would otherwise narrow it).
    exact,
    // The given mode as narrowed by the umask, like any newly created file.
    umasked,
};

// A descriptor that keeps a temporary file's advisory lock (flock) for as
// long as it lives: the lock belongs to the file's open file description, so
// it outlasts the descriptor the bytes were written and closed through.
// Drop it once the file has been renamed into place or removed.
class HeldLock {
public:
    HeldLock() = default;
    explicit HeldLock(int fd) : fd_(fd) {}
    HeldLock(HeldLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    HeldLock& operator=(HeldLock&& other) noexcept;
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;
    ~HeldLock() { release(); }
    bool isHeld() const { return fd_ >= 0; }
    void release();

private:
    int fd_ = -1;
};

// Replaces the file at `path` with `bytes` so that a reader sees the complete
// old or the complete new file, never a mix: a fresh temporary file beside the
// target (created exclusively, with its final permissions from the start, and
// locked as createTemporaryIn does until it is renamed or removed) is
// written, flushed through the same descriptor, closed and renamed over the
// target; then the folder is flushed. On any failure before the rename the
// temporary file is removed and the target is untouched. A failed fsync is
// never retried: after one, the kernel may already have dropped the dirty pages.
WriteResult atomicReplace(const std::string& path, std::string_view bytes, mode_t mode = 0600,
                          Permissions permissions = Permissions::exact);

// Creates a new file holding `bytes`, flushed to storage before it returns.
// Fails with EEXIST if anything (even a dangling link) is at the path, and then
// leaves it alone; on any later failure removes the file it made.
WriteResult exclusiveCreate(const std::string& path, std::string_view bytes, mode_t mode = 0600,
                            Permissions permissions = Permissions::exact);

// exclusiveCreate of `name` inside the folder open as `folder` (AT_FDCWD: a
// path as above). Every step stays in that folder, whatever its path leads to
// by then: for writers that must stay where the path rules looked.
WriteResult exclusiveCreateIn(int folder, const std::string& name, std::string_view bytes, mode_t mode,
                              Permissions permissions);

// exclusiveCreateIn for a temporary file of ours (a TemporaryNames name):
// right after the exclusive create, before any byte is written, the file is
// locked (flock LOCK_EX) and `lock` keeps that lock until the caller has
// renamed or removed the file, so a sweep of stale temporaries
// (Files::sweepTemporaries) never takes a file being written for one a dead
// save left. A lock that cannot be taken is no failure: the sweep's age rule
// still protects the file. On failure the file is removed and no lock kept.
WriteResult createTemporaryIn(int folder, const std::string& name, std::string_view bytes, mode_t mode,
                              Permissions permissions, HeldLock& lock);

// Writes `bytes` over the existing file at `path` from its first byte, cuts it
// to their length and flushes it through the same descriptor; the file keeps
// its identity, owner and permissions. Never creates a file (a missing one
// fails in step SysCall::open). Not atomic: only for documents whose folder
// cannot take a new name, where the caller holds a flushed copy of the new
// bytes and the old bytes to put back. A failure in any step but the open may
// leave the file changed; writing the old bytes back with this same call
// restores it exactly, since it only grows or cuts the file when the length
// differs. Added for the save's replacement-folder route.
WriteResult overwrite(const std::string& path, std::string_view bytes);
// overwrite of `name` inside the folder open as `folder`; a link at the name
// is not followed (the open fails with ELOOP).
WriteResult overwriteIn(int folder, const std::string& name, std::string_view bytes);

// What renameWithoutReplacing may do on a file system that can neither
// rename without replacing nor make a second name for a file.
enum class LastResort {
    // A plain rename, which replaces whatever took the name meanwhile.
    plainRename,
    // Nothing: the call fails.
    none,
};

// Renames `from` (in the folder open as `fromFolder`, or AT_FDCWD) to `to`
// unless something, even a dangling link, already stands at `to`: then it
// fails with EEXIST and leaves both alone. Where the kernel or the file
// system cannot rename so, a hard link makes the new name just as safely and
// the old name is removed (step SysCall::link); only where that is not
// possible either does `lastResort` decide.
WriteResult renameWithoutReplacing(int fromFolder, const std::string& from, int toFolder, const std::string& to,
                                   LastResort lastResort = LastResort::plainRename);

// Appends `bytes` to an existing file. Never creates one: a missing file fails
// in step SysCall::open, so the caller can choose to write it whole instead.
WriteResult append(const std::string& path, std::string_view bytes);

// Flushes a folder so that names just created, renamed or removed in it are
// on storage.
WriteResult flushFolder(const std::string& path);
// The same for a folder already open (not with O_PATH: such a descriptor
// cannot be flushed, and the call then fails with EBADF).
WriteResult flushFolder(int fd);

// Creates a folder and any missing parents (mode as narrowed by the umask).
// Succeeds when the folder already exists; fails when something that is not a
// folder stands in the way. `made`, when given, gets each folder this call
// created, outermost first: a writer that must have their names on storage
// flushes the folder holding each.
WriteResult makeFolders(const std::string& path, mode_t mode = 0777, std::vector<std::string>* made = nullptr);

// The folder that holds `path`: "." for a bare name.
std::string parentFolder(const std::string& path);

}  // namespace FileWrite
