#include "core/SysCalls.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace {

int renameWithoutReplacing(const char* from, const char* to) {
#ifdef SYS_renameat2
    // Called through syscall() because older C libraries have no wrapper.
    long result = ::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    if (result == -1 && errno == ENOSYS) errno = EINVAL;
    return static_cast<int>(result);
#else
    (void)from;
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
        case SysCall::close: return "close";
        case SysCall::unlink: return "unlink";
        case SysCall::rmdir: return "rmdir";
        case SysCall::mkdir: return "mkdir";
        case SysCall::fchmod: return "fchmod";
        case SysCall::chmod: return "chmod";
        case SysCall::ftruncate: return "ftruncate";
    }
    return "unknown";
}

SysCalls SysCalls::real() {
    SysCalls calls;
    calls.open = [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); };
    calls.write = [](int fd, const void* bytes, size_t count) { return ::write(fd, bytes, count); };
    calls.fsync = [](int fd) { return ::fsync(fd); };
    calls.rename = [](const char* from, const char* to) { return ::rename(from, to); };
    calls.renameNoReplace = renameWithoutReplacing;
    calls.close = [](int fd) { return ::close(fd); };
    calls.unlink = [](const char* path) { return ::unlink(path); };
    calls.rmdir = [](const char* path) { return ::rmdir(path); };
    calls.mkdir = [](const char* path, mode_t mode) { return ::mkdir(path, mode); };
    calls.fchmod = [](int fd, mode_t mode) { return ::fchmod(fd, mode); };
    calls.chmod = [](const char* path, mode_t mode) { return ::chmod(path, mode); };
    calls.ftruncate = [](int fd, off_t length) { return ::ftruncate(fd, length); };
    return calls;
}

SysCalls& sysCalls() {
    static SysCalls table = SysCalls::real();
    return table;
}
