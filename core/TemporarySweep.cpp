#include "core/TemporarySweep.hpp"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "core/PathRules.hpp"
#include "core/SysCalls.hpp"
#include "core/TemporaryNames.hpp"
#include "core/UTF8.hpp"

namespace {

// Each folder on the way down stays open while its entries are read; the
// bound keeps a deep tree from using up descriptors.
constexpr int maxDepth = 64;

std::chrono::system_clock::time_point changedAt(const struct stat& status) {
    return std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::seconds(status.st_mtim.tv_sec) + std::chrono::nanoseconds(status.st_mtim.tv_nsec)));
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_ino == b.st_ino && a.st_dev == b.st_dev; }

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

class Sweep {
public:
    Sweep(std::chrono::system_clock::time_point now, const Files::SweepOptions& options)
        : now_(now), options_(options) {}

    // Sweeps the open folder `fd` and the folders below it; takes `fd` over.
    void folder(int fd, int depth) {
        std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(fd), ::closedir);
        if (!listing) {
            ::close(fd);
            return;
        }
        const int at = ::dirfd(listing.get());
        while (const dirent* entry = ::readdir(listing.get())) {
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
            if (++visited_ > options_.maxEntries) {
                counts_.incomplete = true;
                return;
            }
            bool isFolder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat status;
                isFolder = ::fstatat(at, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode);
            }
            if (isFolder) {
                if (depth + 1 >= std::min(maxDepth, options_.maxDepth) || Files::isWalkedPast(name) || !UTF8::isValid(name)) continue;
                // O_NOFOLLOW: a link put in the folder's place since it was read is not entered.
                int child = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (child >= 0) folder(child, depth + 1);
                if (counts_.incomplete) return;
            } else if (TemporaryNames::isOurTemporaryName(name)) {
                consider(at, name);
            }
        }
    }

    const Files::SweepCounts& counts() const { return counts_; }

private:
    bool isYoung(const struct stat& status) const { return now_ - changedAt(status) < options_.minimumAge; }

    void consider(int at, const char* name) {
        struct stat seen;
        if (::fstatat(at, name, &seen, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(seen.st_mode)) return;
        if (isYoung(seen)) {
            ++counts_.young;
            return;
        }
        // Without waiting on anything: a pipe would block a plain open, and a
        // link put at the name since the look is not followed.
        Descriptor file(::openat(at, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (file.get() < 0) return;
        struct stat held;
        if (::fstat(file.get(), &held) != 0 || !S_ISREG(held.st_mode) || !sameFile(held, seen)) return;
        if (sysCalls().flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) ++counts_.locked;
            return;
        }
        // With the lock no writer is at work in it: a living one keeps its
        // lock until the file is renamed or removed. Its age is asked again of
        // the file itself, and the name must still be this file, or another
        // file that took the name would be removed in its place.
        if (isYoung(held)) {
            ++counts_.young;
            return;
        }
        struct stat current;
        if (::fstatat(at, name, &current, AT_SYMLINK_NOFOLLOW) != 0 || !sameFile(current, held)) return;
        if (sysCalls().unlink(at, name) == 0) ++counts_.removed;
    }

    const std::chrono::system_clock::time_point now_;
    const Files::SweepOptions options_;
    Files::SweepCounts counts_;
    long visited_ = 0;
};

}  // namespace

namespace Files {

SweepCounts sweepTemporaries(const std::string& folderPath, std::chrono::system_clock::time_point now,
                             const SweepOptions& options) {
    Sweep sweep(now, options);
    try {
        int root = ::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (root >= 0) sweep.folder(root, 0);
    } catch (...) {
        // Out of memory: what was swept stays swept.
    }
    return sweep.counts();
}

}  // namespace Files
