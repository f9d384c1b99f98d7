#pragma once
// The system calls the program uses to change the disk, gathered in one table.
// Only the write helpers (core/FileWrite) and the few operations that move or
// delete files call them, and always through sysCalls(), so a test can make
// the N-th call of one kind fail with a chosen errno (tests/support/
// FaultInjection) and check that nothing was torn and no failure was taken
// for success. Reading goes straight to the C library: a failed read cannot
// damage anything.
//
// Each entry follows its C library call: -1 with errno set on failure. Calls
// that name a file take the folder it is named in, as the *at() calls do:
// AT_FDCWD for an ordinary path, or a folder held open by descriptor, so that
// a document's save stays in the folder that was checked even if a link is
// put in that folder's place meanwhile.
#include <functional>
#include <string_view>
#include <sys/types.h>

enum class SysCall {
    open,
    write,
    fsync,
    rename,
    renameNoReplace,
    link,
    close,
    unlink,
    rmdir,
    mkdir,
    fchmod,
    chmod,
    ftruncate,
    flock,
};

// The call's name as written above, for messages and test names.
std::string_view sysCallName(SysCall call);

struct SysCalls {
    std::function<int(int folder, const char* path, int flags, mode_t mode)> open;
    std::function<ssize_t(int fd, const void* bytes, size_t count)> write;
    std::function<int(int fd)> fsync;
    std::function<int(int fromFolder, const char* from, int toFolder, const char* to)> rename;
    // rename that fails with EEXIST when anything is at `to`; -1 with EINVAL
    // where the kernel or the file system cannot promise that.
    std::function<int(int fromFolder, const char* from, int toFolder, const char* to)> renameNoReplace;
    // A second name for a file (linkat, links not followed); fails with
    // EEXIST when anything is at `to`.
    std::function<int(int fromFolder, const char* from, int toFolder, const char* to)> link;
    std::function<int(int fd)> close;
    std::function<int(int folder, const char* path)> unlink;
    std::function<int(const char* path)> rmdir;
    std::function<int(const char* path, mode_t mode)> mkdir;
    std::function<int(int fd, mode_t mode)> fchmod;
    std::function<int(int folder, const char* path, mode_t mode)> chmod;
    std::function<int(int fd, off_t length)> ftruncate;
    // The advisory lock on an open file description (writers of temporary
    // files take it, the sweep of stale ones asks for it): in the table so a
    // test can make it fail and check that a save does not depend on it.
    std::function<int(int fd, int operation)> flock;

    // The table of the real calls.
    static SysCalls real();
};

// The table in use by the whole process. Replace entries only while no other
// thread is writing files (tests do it between their steps).
SysCalls& sysCalls();
