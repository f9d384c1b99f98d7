#include "core/SysCalls.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace {

int renameWithoutReplacing(int fromFolder, const char* from, int toFolder, const char* to) {
#ifdef SYS_renameat2
    // Called through syscall() because older C libraries have no wrapper.
    long result = ::syscall(SYS_renameat2, fromFolder, from, toFolder, to, RENAME_NOREPLACE);
    if (result == -1 && errno == ENOSYS) errno = EINVAL;
    return static_cast<int>(result);
#else
    (void)fromFolder;
    (void)from;
    (void)toFolder;
    (void)to;
    errno = EINVAL;
    return -1;
#endif
}

}  // namespace

std::string_view sysCallName(SysCall call) {
    switch (call) {
        case SysCall::open: return "open";
        case SysCall::write: return "write";
        case SysCall::fsync: return "fsync";
        case SysCall::rename: return "rename";
        case SysCall::renameNoReplace: return "renameNoReplace";
        case SysCall::link: return "link";
        case SysCall::close: return "close";
        case SysCall::unlink: return "unlink";
        case SysCall::rmdir: return "rmdir";
        case SysCall::mkdir: return "mkdir";
        case SysCall::fchmod: return "fchmod";
        case SysCall::chmod: return "chmod";
        case SysCall::ftruncate: return "ftruncate";
        case SysCall::flock: return "flock";
    }
    return "unknown";
}

SysCalls SysCalls::real() {
    SysCalls calls;
    calls.open = [](int folder, const char* path, int flags, mode_t mode) { return ::openat(folder, path, flags, mode); };
    calls.write = [](int fd, const void* bytes, size_t count) { return ::write(fd, bytes, count); };
    calls.fsync = [](int fd) { return ::fsync(fd); };
    calls.rename = [](int fromFolder, const char* from, int toFolder, const char* to) {
        return ::renameat(fromFolder, from, toFolder, to);
    };
    calls.renameNoReplace = renameWithoutReplacing;
    calls.link = [](int fromFolder, const char* from, int toFolder, const char* to) {
        return ::linkat(fromFolder, from, toFolder, to, 0);
    };
    calls.close = [](int fd) { return ::close(fd); };
    calls.unlink = [](int folder, const char* path) { return ::unlinkat(folder, path, 0); };
    calls.rmdir = [](const char* path) { return ::rmdir(path); };
    calls.mkdir = [](const char* path, mode_t mode) { return ::mkdir(path, mode); };
    calls.fchmod = [](int fd, mode_t mode) { return ::fchmod(fd, mode); };
    calls.chmod = [](int folder, const char* path, mode_t mode) { return ::fchmodat(folder, path, mode, 0); };
    calls.ftruncate = [](int fd, off_t length) { return ::ftruncate(fd, length); };
    calls.flock = [](int fd, int operation) { return ::flock(fd, operation); };
    return calls;
}

SysCalls& sysCalls() {
    static SysCalls table = SysCalls::real();
    return table;
}
