#include "tests/support/WriteTrace.hpp"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Where a descriptor leads, as the kernel names it.
std::string descriptorPath(int fd) {
    std::error_code error;
    auto target = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    return error ? std::string() : target.string();
}

// `name` in the folder open as `folder` (or the working folder), absolute
// and with the folder's links resolved, so that names reached by different
// routes compare equal. Taken before the call: the folder still holds the
// name it is about to change.
std::string resolve(int folder, const char* name) {
    fs::path path(name);
    if (path.is_relative()) {
        std::error_code error;
        fs::path base = folder == AT_FDCWD ? fs::current_path(error) : fs::path(descriptorPath(folder));
        path = base / path;
    }
    path = path.lexically_normal();
    std::error_code error;
    fs::path parent = fs::weakly_canonical(path.parent_path(), error);
    if (!error) path = parent / path.filename();
    return path.string();
}

bool identify(int fd, FileIdentity& identity, struct stat& status) {
    if (::fstat(fd, &status) != 0) return false;
    identity = {status.st_dev, status.st_ino};
    return true;
}

}  // namespace

WriteTrace::WriteTrace() : saved_(sysCalls()) {
    auto& table = sysCalls();
    const SysCalls real = saved_;

    table.open = [this, real](int folder, const char* path, int flags, mode_t mode) {
        struct stat before;
        const bool existed = ::fstatat(folder, path, &before, AT_SYMLINK_NOFOLLOW) == 0;
        const std::string name = resolve(folder, path);
        int fd = real.open(folder, path, flags, mode);
        if (fd < 0) return fd;
        const int error = errno;
        FileIdentity identity;
        struct stat status;
        if (identify(fd, identity, status) && S_ISREG(status.st_mode)) {
            if ((flags & O_CREAT) && !existed) add({.kind = TraceEvent::Kind::create, .path = name, .file = identity});
            else if ((flags & O_TRUNC) && (flags & O_ACCMODE) != O_RDONLY)
                add({.kind = TraceEvent::Kind::truncate, .path = name, .file = identity, .offset = 0});
        }
        errno = error;
        return fd;
    };
    table.write = [this, real](int fd, const void* bytes, size_t count) -> ssize_t {
        FileIdentity identity;
        struct stat status;
        const bool known = identify(fd, identity, status);
        const int flags = ::fcntl(fd, F_GETFL);
        const off_t offset = flags >= 0 && (flags & O_APPEND) ? status.st_size : ::lseek(fd, 0, SEEK_CUR);
        ssize_t written = real.write(fd, bytes, count);
        if (written > 0 && known) {
            const int error = errno;
            add({.kind = TraceEvent::Kind::write,
                 .path = descriptorPath(fd),
                 .file = identity,
                 .offset = offset,
                 .bytes = std::string(static_cast<const char*>(bytes), static_cast<size_t>(written))});
            errno = error;
        }
        return written;
    };
    table.fsync = [this, real](int fd) {
        int result = real.fsync(fd);
        if (result != 0) return result;
        const int error = errno;
        FileIdentity identity;
        struct stat status;
        if (identify(fd, identity, status)) {
            add({.kind = TraceEvent::Kind::fsync,
                 .path = fs::path(descriptorPath(fd)).lexically_normal().string(),
                 .file = identity,
                 .folder = S_ISDIR(status.st_mode)});
        }
        errno = error;
        return result;
    };
    table.ftruncate = [this, real](int fd, off_t length) {
        FileIdentity identity;
        struct stat status;
        const bool known = identify(fd, identity, status);
        int result = real.ftruncate(fd, length);
        if (result == 0 && known) add({.kind = TraceEvent::Kind::truncate, .path = descriptorPath(fd), .file = identity, .offset = length});
        return result;
    };
    auto renamer = [this](const std::function<int(int, const char*, int, const char*)>& call, TraceEvent::Kind kind) {
        return [this, call, kind](int fromFolder, const char* from, int toFolder, const char* to) {
            const std::string source = resolve(fromFolder, from);
            const std::string target = resolve(toFolder, to);
            int result = call(fromFolder, from, toFolder, to);
            if (result == 0) add({.kind = kind, .path = source, .to = target});
            return result;
        };
    };
    table.rename = renamer(real.rename, TraceEvent::Kind::rename);
    table.renameNoReplace = renamer(real.renameNoReplace, TraceEvent::Kind::rename);
    table.link = renamer(real.link, TraceEvent::Kind::link);
    table.unlink = [this, real](int folder, const char* path) {
        const std::string name = resolve(folder, path);
        int result = real.unlink(folder, path);
        if (result == 0) add({.kind = TraceEvent::Kind::unlink, .path = name});
        return result;
    };
    table.mkdir = [this, real](const char* path, mode_t mode) {
        const std::string name = resolve(AT_FDCWD, path);
        int result = real.mkdir(path, mode);
        if (result == 0) add({.kind = TraceEvent::Kind::mkdir, .path = name});
        return result;
    };
    table.rmdir = [this, real](const char* path) {
        const std::string name = resolve(AT_FDCWD, path);
        int result = real.rmdir(path);
        if (result == 0) add({.kind = TraceEvent::Kind::rmdir, .path = name});
        return result;
    };
}

WriteTrace::~WriteTrace() { sysCalls() = saved_; }

void WriteTrace::add(TraceEvent event) {
    std::lock_guard guard(lock_);
    events_.push_back(std::move(event));
}

std::vector<TraceEvent> WriteTrace::events() const {
    std::lock_guard guard(lock_);
    return events_;
}

std::string WriteTrace::describe(const TraceEvent& event) {
    static const char* const names[] = {"create", "truncate", "write", "fsync", "rename",
                                        "link",   "unlink",   "mkdir", "rmdir"};
    std::ostringstream out;
    out << names[static_cast<int>(event.kind)] << ' ' << event.path;
    switch (event.kind) {
        case TraceEvent::Kind::rename:
        case TraceEvent::Kind::link: out << " -> " << event.to; break;
        case TraceEvent::Kind::write: out << " @" << event.offset << " +" << event.bytes.size(); break;
        case TraceEvent::Kind::truncate: out << " to " << event.offset; break;
        case TraceEvent::Kind::fsync: out << (event.folder ? " (folder)" : " (file)"); break;
        default: break;
    }
    return out.str();
}
