// Documents held by their folder. The path rules decide on a path by looking
// at the disk; if reads and saves then used the path again, another program
// could put a link in a folder's place in between and send them outside the
// open folder. So the rules hand over the real path, links already resolved,
// and its folder is opened here from the open folder without following any
// link: whatever changed since the check makes the open fail instead.
#include "core/DocumentPlace.hpp"
#include "core/TestSeams.hpp"

#include <linux/openat2.h>
#include <sys/syscall.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Set once openat2 turns out to be missing (an old kernel, or a sandbox that
// filters it out); every later open then walks part by part.
std::atomic<bool> noOpenat2{false};

// Opens `relative` below the folder `at` part by part, never following a
// link: the fallback where openat2 is missing. Every part is a folder.
int openByParts(int at, const std::string& relative, int flags) {
    int current = at;
    std::size_t start = 0;
    while (true) {
        std::size_t slash = relative.find('/', start);
        std::string part = relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        bool last = slash == std::string::npos;
        int next = part.empty() ? -1
                                : ::openat(current, part.c_str(),
                                           (last ? flags : O_PATH | O_DIRECTORY | O_CLOEXEC) | O_NOFOLLOW);
        // A link asked to be a folder without being followed fails as "not a
        // folder": say what it is, as openat2 would.
        if (next < 0 && errno == ENOTDIR) {
            struct stat status;
            if (::fstatat(current, part.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode)) {
                errno = ELOOP;
            } else {
                errno = ENOTDIR;
            }
        }
        // O_PATH with O_NOFOLLOW would open a link itself: it must not be one.
        if (next >= 0 && !last) {
            struct stat status;
            if (::fstat(next, &status) != 0 || !S_ISDIR(status.st_mode)) {
                ::close(next);
                next = -1;
                errno = ELOOP;
            }
        }
        if (part.empty()) errno = ENOENT;
        int error = errno;
        if (current != at) ::close(current);
        if (next < 0 || last) {
            errno = error;
            return next;
        }
        current = next;
        start = slash + 1;
    }
}

// Opens a folder given by a path without links: below `at` when `beneath`
// (a relative path, "." for `at` itself), else an absolute path. No link is
// followed anywhere on the way; meeting one fails with ELOOP or EXDEV.
int openFolderAt(int at, const std::string& path, bool beneath, int flags) {
    flags |= O_DIRECTORY | O_CLOEXEC;
    if (!Files::testSeams().walkFolderParts && !noOpenat2.load(std::memory_order_relaxed)) {
        open_how how{};
        how.flags = static_cast<unsigned long long>(flags);
        how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | (beneath ? RESOLVE_BENEATH : 0);
        long fd = ::syscall(SYS_openat2, at, path.c_str(), &how, sizeof how);
        // Sandboxes that filter the call out answer ENOSYS or EPERM; the
        // walk below then gives the real answer.
        if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return static_cast<int>(fd);
        if (errno == ENOSYS) noOpenat2.store(true, std::memory_order_relaxed);
    }
    if (path == ".") return ::openat(at, ".", flags);
    if (!beneath) {
        // An absolute path: walk it from the root.
        int root = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (root < 0) return -1;
        int fd = path == "/" ? ::openat(root, ".", flags) : openByParts(root, path.substr(1), flags);
        int error = errno;
        ::close(root);
        errno = error;
        return fd;
    }
    return openByParts(at, path, flags);
}

// Opens the place's folder: for reading where allowed (a folder flush needs
// that), else only to name files in it (a folder one may enter but not list).
void openPlaceFolder(Files::Place& place, int at, const std::string& path, bool beneath) {
    int fd = openFolderAt(at, path, beneath, O_RDONLY);
    if (fd < 0 && errno == EACCES) fd = openFolderAt(at, path, beneath, O_PATH);
    if (fd >= 0) {
        place.folder = Files::OpenFile(fd);
        return;
    }
    place.error = errno;
    // A link met on the way, or a way out of the folder: not what was checked.
    if (errno == ELOOP || errno == EXDEV) place.changed = true;
}

// Splits a real absolute path into its folder and last name.
void splitReal(const std::string& real, Files::Place& place) {
    auto slash = real.rfind('/');
    place.folderPath = slash == 0 ? "/" : real.substr(0, slash);
    place.name = real.substr(slash + 1);
}

}  // namespace

namespace Files {

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void OpenFile::close() {
    // Read-only: nothing to lose, so the result says nothing.
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

Place locate(const std::string& path, const std::optional<std::string>& folder, LinkCache* links) {
    std::string realFolder;
    std::string real = resolve(path, folder, links, &realFolder);
    if (auto& afterCheck = testSeams().afterCheck) afterCheck(real);

    return placeBelow(real, realFolder);
}

Place placeBelow(const std::string& real, const std::string& realFolder) {
    Place place;
    place.path = real;
    splitReal(real, place);
    // The folder itself has no links in its real path; opening it without
    // following any catches one put in its place since.
    int root = openFolderAt(AT_FDCWD, realFolder, false, O_PATH);
    if (root < 0) {
        place.error = errno;
        place.changed = errno == ELOOP || errno == EXDEV;
        return place;
    }
    OpenFile rootHeld(root);
    std::size_t below = realFolder == "/" ? 1 : realFolder.size() + 1;
    std::string relative = place.folderPath.size() > below ? place.folderPath.substr(below) : std::string(".");
    openPlaceFolder(place, root, relative, true);
    return place;
}

Place placeOf(const std::string& path) {
    Place place;
    place.path = path;
    std::string real;
    try {
        real = realPath(path);
    } catch (const BridgeError&) {
        // A loop of links: nothing says whether a document is there.
        place.error = ELOOP;
        return place;
    }
    if (auto& afterCheck = testSeams().afterCheck) afterCheck(real);
    splitReal(real, place);
    if (place.name.empty()) {
        place.error = ENOENT;
        return place;
    }
    openPlaceFolder(place, AT_FDCWD, place.folderPath, false);
    return place;
}

}  // namespace Files
