#include "core/FolderWatcher.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "core/PathRules.hpp"
#include "core/LogFile.hpp"

namespace {

// Changes that can matter to the page: a document or folder appearing,
// vanishing, being renamed, written or touched, and the folder itself going.
constexpr std::uint32_t treeMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO |
                                    IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;
// Folders above the root only tell when they are renamed or removed: the open
// folder then has another path, which the page must learn.
constexpr std::uint32_t ancestorMask = IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;

std::vector<std::string> splitParts(std::string_view text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t slash = text.find('/', start);
        if (slash == std::string_view::npos) slash = text.size();
        if (slash > start) parts.emplace_back(text.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

bool isOutOfWatches(int error) { return error == ENOSPC || error == ENOMEM; }

}  // namespace

struct FolderWatcher::Session {
    int fd = -1;    // inotify
    int wake = -1;  // eventfd that ends the reader
    std::string root;
    // Watched folder of each watch descriptor, and the reverse for the tree
    // (ordered, so a folder and everything below it are one range).
    std::unordered_map<int, std::string> folders;
    std::map<std::string, int> tree;
    std::unordered_set<int> ancestors;
    // Paths gathered since the batch began; delivered together after the latency.
    std::vector<std::string> batch;
    std::unordered_set<std::string> inBatch;
    std::shared_ptr<WorkItem> batchItem;
    std::size_t leftOut = 0;
    bool limitLogged = false;
    std::uint64_t eventsRead = 0;

    ~Session() {
        if (fd >= 0) ::close(fd);
        if (wake >= 0) ::close(wake);
    }
};

class FolderWatcher::RealTimer final : public FolderWatcher::Timer {
public:
    void after(Queue& queue, Clock::duration delay, std::shared_ptr<WorkItem> item) override {
        queue.asyncAfter(delay, std::move(item));
    }
};

FolderWatcher::Calls FolderWatcher::Calls::real() {
    return Calls{[](int flags) { return ::inotify_init1(flags); },
                 [](int fd, const char* path, std::uint32_t mask) { return ::inotify_add_watch(fd, path, mask); }};
}

FolderWatcher::Calls& FolderWatcher::calls() {
    static Calls table = Calls::real();
    return table;
}

FolderWatcher::FolderWatcher(Clock::duration delay, std::function<void()> onChange)
    : FolderWatcher(delay, std::move(onChange), Options{}) {}

FolderWatcher::FolderWatcher(Clock::duration delay, std::function<void()> onChange, Options options)
    : delay_(delay), onChange_(std::move(onChange)), options_(options), realTimer_(std::make_unique<RealTimer>()) {}

FolderWatcher::~FolderWatcher() {
    if (queue_.isCurrent()) {
        stop();
    } else {
        queue_.sync([this] { stop(); });
    }
}

FolderWatcher::Timer& FolderWatcher::timer() { return options_.timer ? *options_.timer : *realTimer_; }

void FolderWatcher::watch(const std::optional<std::string>& folder) {
    auto work = [&] {
        stop();
        if (folder) start(*folder);
    };
    // Called from the queue itself it would wait for itself forever.
    if (queue_.isCurrent()) {
        work();
    } else {
        queue_.sync(work);
    }
}

FolderWatcher::Snapshot FolderWatcher::snapshot() {
    Snapshot snapshot;
    queue_.sync([&] {
        if (!session_) return;
        snapshot.root = session_->root;
        for (const auto& entry : session_->tree) snapshot.folders.push_back(entry.first);
        snapshot.leftOut = session_->leftOut;
        snapshot.eventsRead = session_->eventsRead;
    });
    return snapshot;
}

void FolderWatcher::stop() {
    if (pending_) {
        pending_->cancel();
        pending_.reset();
    }
    if (!session_) return;
    // Cancelled, the batch and the callback let go of the session they hold
    // (the batch item is the session's own: held, it would keep it forever).
    // The reader holds it too; the descriptors close when the reader ends.
    if (session_->batchItem) session_->batchItem->cancel();
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(session_->wake, &one, sizeof one);
    session_.reset();
}

void FolderWatcher::start(const std::string& folder) {
    auto session = std::make_shared<Session>();
    try {
        session->root = Files::realPath(folder);
    } catch (const BridgeError&) {
        // Links without end (a loop) lead to no folder: nothing to watch.
        appLog().add("watch: the folder goes through too many links, 0 folders watched");
        return;
    }
    session->fd = calls().init(IN_NONBLOCK | IN_CLOEXEC);
    if (session->fd < 0) {
        // Without an instance the page still learns of changes when it asks.
        appLog().add("watch: out of inotify instances, 0 folders watched");
        return;
    }
    session->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (session->wake < 0) return;

    addTree(session, session->root);
    if (session->tree.empty()) {
        // The folder is gone, not a folder, or cannot be watched at all: idle.
        if (session->leftOut > 0) logLimit(*session);
        return;
    }
    std::string above = session->root;
    for (auto slash = above.rfind('/'); slash != std::string::npos && slash > 0; slash = above.rfind('/')) {
        above.resize(slash);
        int wd = calls().addWatch(session->fd, above.c_str(), ancestorMask);
        if (wd < 0) continue;
        session->folders[wd] = above;
        session->ancestors.insert(wd);
    }
    if (session->leftOut > 0) logLimit(*session);

    session_ = session;
    reader_.async([this, session] { readLoop(session); });
}

void FolderWatcher::logLimit(Session& session) {
    if (session.limitLogged) return;
    session.limitLogged = true;
    appLog().add("watch: out of watches, " + std::to_string(session.tree.size()) + " folders watched, " +
                 std::to_string(session.leftOut) + " left out");
}

void FolderWatcher::addTree(const std::shared_ptr<Session>& session, const std::string& top) {
    const std::string& root = session->root;
    std::vector<std::string> stack{top};
    while (!stack.empty()) {
        std::string folder = std::move(stack.back());
        stack.pop_back();

        // Only folders whose changes can count get a watch: a document below
        // them must pass the path rules, and nothing inside node_modules does.
        std::vector<std::string> parts;
        if (folder.size() > root.size()) parts = splitParts(std::string_view(folder).substr(root.size() + 1));
        bool ignored = false;
        for (const auto& part : parts) ignored = ignored || part == "node_modules";
        parts.emplace_back("x.md");
        if (ignored || Files::isPrivate(parts)) continue;

        int wd = calls().addWatch(session->fd, folder.c_str(), treeMask);
        if (wd < 0) {
            if (!isOutOfWatches(errno)) continue;  // gone meanwhile, or unreadable
            // Keep walking to count what is left out; what is watched stays useful.
            ++session->leftOut;
        } else {
            // The same folder reached twice (an event and a walk) keeps one watch.
            session->folders[wd] = folder;
            session->tree[folder] = wd;
        }

        int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            continue;
        }
        while (dirent* entry = ::readdir(dir)) {
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
            bool isFolder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat info;
                isFolder = ::fstatat(::dirfd(dir), name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
            }
            if (isFolder) stack.push_back(folder + "/" + name);
        }
        ::closedir(dir);
    }
    if (session->leftOut > 0 && session == session_) logLimit(*session);
}

void FolderWatcher::dropTree(const std::shared_ptr<Session>& session, const std::string& folder) {
    // A folder moved away keeps its watches on the moved inodes: they must go,
    // with everything below, or events from outside would pass for ours.
    auto drop = [&](std::map<std::string, int>::iterator at) {
        ::inotify_rm_watch(session->fd, at->second);
        session->folders.erase(at->second);
        return session->tree.erase(at);
    };
    if (auto exact = session->tree.find(folder); exact != session->tree.end()) drop(exact);
    std::string prefix = folder + "/";
    for (auto at = session->tree.lower_bound(prefix); at != session->tree.end() && at->first.starts_with(prefix);) {
        at = drop(at);
    }
}

void FolderWatcher::readLoop(const std::shared_ptr<Session>& session) {
    alignas(inotify_event) char buffer[64 * 1024];
    pollfd fds[2] = {{session->fd, POLLIN, 0}, {session->wake, POLLIN, 0}};
    for (;;) {
        int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
        if (!(fds[0].revents & POLLIN)) continue;
        ssize_t count = ::read(session->fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return;
        }
        if (count == 0) continue;
        queue_.async([this, session, bytes = std::string(buffer, static_cast<std::size_t>(count))] {
            take(session, bytes);
        });
    }
}

void FolderWatcher::take(const std::shared_ptr<Session>& session, const std::string& bytes) {
    if (session != session_) return;  // read before a stop
    std::size_t offset = 0;
    while (offset + sizeof(inotify_event) <= bytes.size()) {
        inotify_event event;
        std::memcpy(&event, bytes.data() + offset, sizeof event);
        const char* name = bytes.data() + offset + sizeof event;
        offset += sizeof event + event.len;
        if (offset > bytes.size()) break;
        ++session->eventsRead;

        if (event.mask & IN_Q_OVERFLOW) {
            // Events were lost, folders created meanwhile among them: look again
            // and tell the page, which lists the folder anew.
            addTree(session, session->root);
            note(session, session->root);
            continue;
        }
        auto found = session->folders.find(event.wd);
        if (found == session->folders.end()) continue;  // a watch already dropped
        if (event.mask & IN_IGNORED) {
            session->tree.erase(found->second);
            session->ancestors.erase(event.wd);
            session->folders.erase(found);
            continue;
        }
        std::string path = found->second;
        if (event.len > 0 && name[0] != '\0') {
            path += '/';
            path += std::string(name, ::strnlen(name, event.len));
        }
        if (!session->ancestors.count(event.wd) && (event.mask & IN_ISDIR)) {
            if (event.mask & (IN_MOVED_FROM | IN_DELETE)) dropTree(session, path);
            if (event.mask & (IN_CREATE | IN_MOVED_TO)) addTree(session, path);
        }
        note(session, std::move(path));
    }
}

void FolderWatcher::note(const std::shared_ptr<Session>& session, std::string path) {
    if (session->inBatch.insert(path).second) session->batch.push_back(std::move(path));
    if (session->batchItem && !session->batchItem->isCancelled()) return;
    session->batchItem = std::make_shared<WorkItem>([this, session] { deliver(session); });
    timer().after(queue_, options_.latency, session->batchItem);
}

void FolderWatcher::deliver(const std::shared_ptr<Session>& session) {
    if (session != session_) return;
    session->batchItem.reset();
    std::vector<std::string> paths;
    paths.swap(session->batch);
    session->inBatch.clear();

    bool relevant = false;
    for (const auto& path : paths) {
        if (counts(path, session->root)) {
            relevant = true;
            break;
        }
    }
    if (!relevant) return;
    // Each relevant delivery pushes the callback back: one call per burst.
    if (pending_) pending_->cancel();
    pending_ = std::make_shared<WorkItem>([this, session] {
        if (session != session_) return;
        pending_.reset();
        onChange_();
    });
    timer().after(queue_, delay_, pending_);
}

bool FolderWatcher::counts(const std::string& eventPath, const std::string& root) {
    std::string_view path = eventPath;
    // A rule shared with systems whose events name /tmp as /private/tmp. On
    // Linux event paths are built from the watched ones, which start with the
    // root, so this prefix comes only with a root that has it (and is kept).
    if (path.starts_with("/private/") && !std::string_view(root).starts_with("/private/")) path.remove_prefix(8);
    if (path == root) return true;
    if (root.size() > path.size() && std::string_view(root).starts_with(path) && root[path.size()] == '/') {
        return true;  // a folder above the open one changed
    }
    if (!(path.size() > root.size() && path.starts_with(root) && path[root.size()] == '/')) return false;

    auto parts = splitParts(path.substr(root.size() + 1));
    for (const auto& part : parts) {
        if (part == "node_modules") return false;
    }
    if (!parts.empty() && parts.back()[0] == '.') {
        // A hidden folder is a place that may hold documents, not a hidden file.
        bool folder;
        struct stat info;
        if (::stat(eventPath.c_str(), &info) == 0) {
            folder = S_ISDIR(info.st_mode);
        } else {
            // Gone: only the name is left to judge by (".obsidian" yes, ".notes.md" no).
            folder = parts.back().find('.', 1) == std::string::npos;
        }
        if (folder) parts.emplace_back("x.md");
    }
    return !Files::isPrivate(parts);
}
