#include "core/FileWrite.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <stdexcept>
#include <unistd.h>

#include "core/TemporaryNames.hpp"

namespace FileWrite {

namespace {

// Large writes are split so one call never exceeds what write() may report.
constexpr size_t maxChunk = size_t{1} << 30;

// Writes every byte: a short write continues where it stopped and an
// interrupted one is repeated.
WriteResult writeAll(int fd, std::string_view bytes) {
    auto& sys = sysCalls();
    while (!bytes.empty()) {
        ssize_t written = sys.write(fd, bytes.data(), std::min(bytes.size(), maxChunk));
        if (written < 0) {
            if (errno == EINTR) continue;
            return WriteResult::failure(SysCall::write, errno);
        }
        // A write that accepts nothing would loop forever; storage that takes no
        // bytes without saying why is an I/O error.
        if (written == 0) return WriteResult::failure(SysCall::write, EIO);
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return WriteResult::success();
}

// Fills a file that was just created at `path` (in `folder`) through `fd` and closes it. On
// failure the descriptor is closed and the file removed, whatever happened.
WriteResult fillNewFile(int fd, int folder, const std::string& path, std::string_view bytes, mode_t mode,
                        Permissions permissions) {
    auto& sys = sysCalls();
    auto abandon = [&](WriteResult failed) {
        if (fd >= 0) sys.close(fd);
        sys.unlink(folder, path.c_str());
        errno = failed.error;
        return failed;
    };
    if (permissions == Permissions::exact && sys.fchmod(fd, mode) != 0)
        return abandon(WriteResult::failure(SysCall::fchmod, errno));
    if (auto written = writeAll(fd, bytes); !written) return abandon(written);
    // Through the same descriptor: an error from writeback is reported to the
    // descriptors open at the time, not reliably to one opened later.
    if (sys.fsync(fd) != 0) return abandon(WriteResult::failure(SysCall::fsync, errno));
    // A failed close can be a deferred write error (network file systems); the
    // descriptor is gone either way, so it is never closed twice.
    int closed = sys.close(fd);
    fd = -1;
    if (closed != 0) return abandon(WriteResult::failure(SysCall::close, errno));
    return WriteResult::success();
}

constexpr int createFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;

// Locks a file just created through `fd` and answers a second descriptor of
// the same open file description, which keeps the lock after `fd` is closed;
// no lock when it cannot be had. Never waits: only someone who opened the
// file in the moment since its creation could hold it, and a save must not
// wait on them.
HeldLock lockNewFile(int fd) {
    if (sysCalls().flock(fd, LOCK_EX | LOCK_NB) != 0) return {};
    int kept = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    return HeldLock(kept);
}

// overwrite's steps, with the open's extra flags (O_NOFOLLOW or none).
WriteResult writeOver(int folder, const std::string& name, std::string_view bytes, int extraFlags) {
    auto& sys = sysCalls();
    int fd = sys.open(folder, name.c_str(), O_WRONLY | O_CLOEXEC | extraFlags, 0);
    if (fd < 0) return WriteResult::failure(SysCall::open, errno);
    auto fail = [&](WriteResult failed) {
        if (fd >= 0) sys.close(fd);
        errno = failed.error;
        return failed;
    };
    if (auto written = writeAll(fd, bytes); !written) return fail(written);
    // Cut only when the old file was longer: a call that changes nothing could
    // still fail, and then writing the old bytes back could not undo it.
    struct stat status;
    if (::fstat(fd, &status) != 0) return fail(WriteResult::failure(SysCall::ftruncate, errno));
    if (static_cast<std::uint64_t>(status.st_size) > bytes.size() &&
        sys.ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) {
        return fail(WriteResult::failure(SysCall::ftruncate, errno));
    }
    if (sys.fsync(fd) != 0) return fail(WriteResult::failure(SysCall::fsync, errno));
    int closed = sys.close(fd);
    fd = -1;
    if (closed != 0) return fail(WriteResult::failure(SysCall::close, errno));
    return WriteResult::success();
}

}  // namespace

std::string parentFolder(const std::string& path) {
    auto end = path.find_last_not_of('/');
    if (end == std::string::npos) return "/";
    auto slash = path.rfind('/', end);
    if (slash == std::string::npos) return ".";
    auto last = path.find_last_not_of('/', slash);
    if (last == std::string::npos) return "/";
    return path.substr(0, last + 1);
}

WriteResult atomicReplace(const std::string& path, std::string_view bytes, mode_t mode, Permissions permissions) {
    auto& sys = sysCalls();
    const std::string folder = parentFolder(path);
    std::string temporary;
    int fd = -1;
    HeldLock lock;
    // A name collision is only another writer's temporary file: take another.
    for (int attempt = 0; attempt < 100; ++attempt) {
        try {
            temporary = folder + "/" + TemporaryNames::make();
        } catch (const std::runtime_error&) {
            // No random name: nothing was created, so nothing is lost.
            return WriteResult::failure(SysCall::open, EIO);
        }
        fd = sys.open(AT_FDCWD, temporary.c_str(), createFlags, mode);
        if (fd >= 0 || errno != EEXIST) break;
    }
    if (fd < 0) return WriteResult::failure(SysCall::open, errno);
    lock = lockNewFile(fd);

    if (auto filled = fillNewFile(fd, AT_FDCWD, temporary, bytes, mode, permissions); !filled) return filled;
    if (sys.rename(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str()) != 0) {
        int error = errno;
        sys.unlink(AT_FDCWD, temporary.c_str());
        errno = error;
        return WriteResult::failure(SysCall::rename, error);
    }
    // The new content is in place once rename returns; the folder flush only
    // makes the new name durable sooner. Failing it here would report "not
    // written" for a file that plainly was, so it is best effort.
    flushFolder(folder);
    return WriteResult::success();
}

WriteResult exclusiveCreate(const std::string& path, std::string_view bytes, mode_t mode, Permissions permissions) {
    return exclusiveCreateIn(AT_FDCWD, path, bytes, mode, permissions);
}

WriteResult exclusiveCreateIn(int folder, const std::string& name, std::string_view bytes, mode_t mode,
                              Permissions permissions) {
    int fd = sysCalls().open(folder, name.c_str(), createFlags, mode);
    if (fd < 0) return WriteResult::failure(SysCall::open, errno);
    return fillNewFile(fd, folder, name, bytes, mode, permissions);
}

WriteResult createTemporaryIn(int folder, const std::string& name, std::string_view bytes, mode_t mode,
                              Permissions permissions, HeldLock& lock) {
    int fd = sysCalls().open(folder, name.c_str(), createFlags, mode);
    if (fd < 0) return WriteResult::failure(SysCall::open, errno);
    HeldLock held = lockNewFile(fd);
    auto filled = fillNewFile(fd, folder, name, bytes, mode, permissions);
    if (filled) lock = std::move(held);
    return filled;
}

HeldLock& HeldLock::operator=(HeldLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void HeldLock::release() {
    // Nothing was written through it: closing cannot lose anything, and it
    // keeps the errno a failed step left for the caller.
    if (fd_ < 0) return;
    int error = errno;
    ::close(fd_);
    errno = error;
    fd_ = -1;
}

WriteResult overwrite(const std::string& path, std::string_view bytes) {
    // A path chosen by name follows its links, as any program's write would.
    return writeOver(AT_FDCWD, path, bytes, 0);
}

WriteResult overwriteIn(int folder, const std::string& name, std::string_view bytes) {
    return writeOver(folder, name, bytes, O_NOFOLLOW);
}

WriteResult renameWithoutReplacing(int fromFolder, const std::string& from, int toFolder, const std::string& to,
                                   LastResort lastResort) {
    auto& sys = sysCalls();
    if (sys.renameNoReplace(fromFolder, from.c_str(), toFolder, to.c_str()) == 0) return WriteResult::success();
    if (errno != EINVAL) return WriteResult::failure(SysCall::renameNoReplace, errno);
    if (sys.link(fromFolder, from.c_str(), toFolder, to.c_str()) == 0) {
        // The file has its new name; the old one only has to go. Should that
        // fail, a stale temporary is left for the sweep, nothing is lost.
        sys.unlink(fromFolder, from.c_str());
        return WriteResult::success();
    }
    // EEXIST is the answer sought; any other failure of a file system that
    // has hard links is a real one.
    const int linkError = errno;
    const bool noHardLinks = linkError == EPERM || linkError == ENOTSUP || linkError == EOPNOTSUPP;
    if (!noHardLinks || lastResort == LastResort::none) return WriteResult::failure(SysCall::link, linkError);
    if (sys.rename(fromFolder, from.c_str(), toFolder, to.c_str()) == 0) return WriteResult::success();
    return WriteResult::failure(SysCall::rename, errno);
}

WriteResult append(const std::string& path, std::string_view bytes) {
    auto& sys = sysCalls();
    int fd = sys.open(AT_FDCWD, path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC, 0);
    if (fd < 0) return WriteResult::failure(SysCall::open, errno);
    auto written = writeAll(fd, bytes);
    int closed = sys.close(fd);
    if (!written) {
        errno = written.error;
        return written;
    }
    if (closed != 0) return WriteResult::failure(SysCall::close, errno);
    return WriteResult::success();
}

WriteResult flushFolder(const std::string& path) {
    auto& sys = sysCalls();
    int fd = sys.open(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return WriteResult::failure(SysCall::open, errno);
    auto result = flushFolder(fd);
    int closed = sys.close(fd);
    if (result && closed != 0) result = WriteResult::failure(SysCall::close, errno);
    if (!result) errno = result.error;
    return result;
}

WriteResult flushFolder(int fd) {
    if (sysCalls().fsync(fd) != 0) return WriteResult::failure(SysCall::fsync, errno);
    return WriteResult::success();
}

WriteResult makeFolders(const std::string& path, mode_t mode, std::vector<std::string>* made) {
    auto isFolder = [](const std::string& candidate, bool& exists) {
        struct stat status;
        exists = ::stat(candidate.c_str(), &status) == 0;
        return exists && S_ISDIR(status.st_mode);
    };
    if (path.empty()) {
        errno = ENOENT;
        return WriteResult::failure(SysCall::mkdir, ENOENT);
    }
    // Walk down from the top, creating only what is missing, so an existing
    // folder costs no system call that could be mistaken for a write.
    size_t position = 0;
    while (position != std::string::npos) {
        position = path.find('/', position + 1);
        std::string prefix = path.substr(0, position);
        if (prefix.empty() || prefix.back() == '/') continue;
        bool exists = false;
        if (isFolder(prefix, exists)) continue;
        if (exists) {
            errno = ENOTDIR;
            return WriteResult::failure(SysCall::mkdir, ENOTDIR);
        }
        if (sysCalls().mkdir(prefix.c_str(), mode) == 0) {
            if (made) made->push_back(prefix);
            continue;
        }
        int error = errno;
        // Another thread or program may have made it a moment ago: that counts.
        if (error == EEXIST && isFolder(prefix, exists)) continue;
        errno = error == EEXIST ? ENOTDIR : error;
        return WriteResult::failure(SysCall::mkdir, errno);
    }
    return WriteResult::success();
}

}  // namespace FileWrite
