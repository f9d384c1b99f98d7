// Documents as the page reads them: file handles for documents outside the
// open folder, the addressing rule shared by reads and saves, GET /api/file
// and POST /api/versions. Both endpoints start on io, which only does the
// bookkeeping; the disk work runs on the concurrent disk queue.
#include <sys/stat.h>

#include <algorithm>

#include "app/bridge/Bridge.hpp"
#include "app/bridge/VersionItems.hpp"
#include "core/BridgeError.hpp"
#include "core/Files.hpp"

namespace {

// One check covers every document the page has open; this bounds it.
constexpr std::size_t kMaxVersionItems = 200;

// The path as a URL path would carry it: letters, digits and the characters a
// path may hold stay, every other byte becomes %XX.
std::string percentEncodePath(const std::string& path) {
    static constexpr std::string_view kept = "!$&'()*+,-./:=@_~";
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(path.size());
    for (unsigned char c : path) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     kept.find(static_cast<char>(c)) != std::string_view::npos;
        if (plain) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += digits[c >> 4];
            encoded += digits[c & 0xF];
        }
    }
    return encoded;
}

const std::string* queryItem(const Query& query, const char* name) {
    auto found = query.find(name);
    return found == query.end() ? nullptr : &found->second;
}

// The handle a request names, or none: an empty "file" names no document, so
// the path does. Reads, saves and their keys all decide by this one rule.
const std::string* handleOf(const Query& query) {
    const std::string* file = queryItem(query, "file");
    return file && !file->empty() ? file : nullptr;
}

}  // namespace

std::string Bridge::handle(const std::string& path) {
    for (const auto& [name, known] : *picked) {
        if (known == path) return name;
    }
    std::string name = "f" + std::to_string(picked->size() + 1);
    auto next = std::make_shared<Handles>(*picked);
    (*next)[name] = path;
    picked = std::move(next);
    return name;
}

std::string Bridge::documentURL(const Query& query, const std::optional<std::string>& folder,
                                const Handles& picked) {
    if (const std::string* file = handleOf(query)) {
        auto found = picked.find(*file);
        // The handle was made from a document the user chose: no further check.
        if (found != picked.end()) return found->second;
        throw BridgeError(403, "unknown file handle (use Open File again)");
    }
    const std::string* path = queryItem(query, "path");
    return Files::resolve(path ? *path : std::string(), folder);
}

Files::Place Bridge::documentPlace(const Query& query, const std::optional<std::string>& folder,
                                   const Handles& picked) {
    if (handleOf(query)) return Files::placeOf(documentURL(query, folder, picked));
    const std::string* path = queryItem(query, "path");
    return Files::locate(path ? *path : std::string(), folder);
}

std::string Bridge::lockKey(const Files::Place& place) {
    if (place.name.empty()) return place.path;
    return place.folderPath == "/" ? "/" + place.name : place.folderPath + "/" + place.name;
}

Files::Read Bridge::readUnderLock(const Files::Place& place) {
    // A save writing the document in place holds this lock: no read sees
    // half a document.
    auto lock = fileLock(lockKey(place));
    std::lock_guard held(*lock);
    return Files::ready(place);
}

std::string Bridge::readKey(const Query& query) {
    if (const std::string* file = handleOf(query)) return "f:" + *file;
    const std::string* path = queryItem(query, "path");
    return "p:" + (path ? *path : std::string());
}

void Bridge::getFile(const ApiRequest& request) {
    std::string key = readKey(request.query);
    bool underWay = false;
    {
        std::lock_guard lock(versionsLock);
        auto [entry, made] = reading.try_emplace(key);
        underWay = !made;
        entry->second.push_back(request.task);
    }
    // The read under way answers this request too.
    if (underWay) return;

    disk.async([this, key, query = request.query, folder = root, handles = picked] {
        int status = 200;
        std::string body;
        std::string type = "application/octet-stream";
        HeaderMap extra;
        std::optional<std::string> error;
        try {
            Files::Place place = documentPlace(query, folder, *handles);
            const std::string& url = place.path;
            Files::Read read = readUnderLock(place);
            if (!handleOf(query)) io.async([this, url] { recent.add("file", url); });
            body = std::move(read.bytes);
            extra["X-Quillmarsh-Version"] = std::move(read.version);
            extra["X-Quillmarsh-Location"] = percentEncodePath(url);
        } catch (const BridgeError& refusal) {
            status = refusal.status;
            error = refusal.message;
        } catch (const std::exception& failure) {
            status = 500;
            error = failure.what();
        }

        std::vector<std::shared_ptr<SchemeTask>> waiting;
        {
            std::lock_guard lock(versionsLock);
            auto entry = reading.find(key);
            if (entry != reading.end()) {
                waiting = std::move(entry->second);
                reading.erase(entry);
            }
        }
        // Everyone who asked while the read ran gets the same answer.
        for (auto& task : waiting) {
            if (error) sendError(task, status, *error);
            else send(task, status, body, type, extra);
        }
    });
}

void Bridge::checkVersions(const ApiRequest& request) {
    bool alreadyRunning = false;
    {
        std::lock_guard lock(versionsLock);
        alreadyRunning = versionsBusy;
        versionsBusy = true;
    }
    // Checks never pile up: the page asks again later.
    if (alreadyRunning) {
        return sendJSON(request.task, 503, {{"error", "still checking the open files"}, {"busy", true}});
    }

    disk.async([this, task = request.task, body = request.body, folder = root, handles = picked] {
        // Cleared whatever happens, and before the answer leaves: a page that
        // asks again the moment it has its answer must not be told "busy".
        struct Done {
            Bridge& bridge;
            bool cleared = false;
            void clear() {
                if (cleared) return;
                cleared = true;
                std::lock_guard lock(bridge.versionsLock);
                bridge.versionsBusy = false;
            }
            ~Done() { clear(); }
        } done{*this};

        std::vector<VersionItem> items = readVersionItems(body, kMaxVersionItems);
        std::vector<std::pair<std::string, std::string>> states;
        states.reserve(items.size());
        // The open documents mostly share the folder and its sub-folders:
        // each is looked at once per check, not once per document.
        Files::LinkCache links;
        for (VersionItem& item : items) {
            std::string state = "missing";
            std::optional<std::string> url;
            // How the document is opened should it need reading: from its
            // checked folder, as every read is.
            std::function<Files::Place()> place;
            if (item.file && !item.file->empty()) {
                if (auto found = handles->find(*item.file); found != handles->end()) {
                    url = found->second;
                    place = [&] { return Files::placeOf(*url); };
                }
            } else {
                try {
                    url = Files::resolve(item.path.value_or(""), folder, &links);
                    place = [&] { return Files::locate(item.path.value_or(""), folder, &links); };
                } catch (const std::exception&) {
                }
            }
            if (url) state = versionOf(*url, links, place);
            states.emplace_back(std::move(item.key), std::move(state));
        }
        done.clear();
        send(task, 200, versionsAnswer(std::move(states)), "application/json");
    });
}

std::string Bridge::versionOf(const std::string& path, Files::LinkCache& links,
                              const std::function<Files::Place()>& place) {
    const auto& looked = links.look(path);
    if (!looked || !S_ISREG(looked->st_mode)) return "missing";
    const struct stat& status = *looked;
    VersionRecord seen{static_cast<long long>(status.st_size), static_cast<long long>(status.st_mtim.tv_sec),
                       static_cast<long long>(status.st_mtim.tv_nsec), static_cast<long long>(status.st_ino), ""};
    {
        std::lock_guard lock(versionsLock);
        auto found = versions.find(path);
        if (found != versions.end() && found->second.size == seen.size &&
            found->second.mtimeSeconds == seen.mtimeSeconds &&
            found->second.mtimeNanoseconds == seen.mtimeNanoseconds && found->second.inode == seen.inode) {
            return found->second.version;
        }
    }
    try {
        seen.version = readUnderLock(place()).version;
    } catch (const std::exception&) {
        return "unreadable";
    }
    std::lock_guard lock(versionsLock);
    versions[path] = seen;
    return seen.version;
}
