#include "app/bridge/DocumentRoutes.hpp"

#include <sys/stat.h>

#include "app/bridge/DocumentAddress.hpp"
#include "app/bridge/VersionItems.hpp"
#include "core/BridgeError.hpp"

namespace {

// One check covers every document the page has open; this bounds it.
constexpr std::size_t maxVersionItems = 200;

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

}  // namespace

DocumentRoutes::DocumentRoutes(Responder& responder, Queue& disk, Queue& io, const OpenFolder& folder,
                               const FileHandles& handles, FileLocks& locks, VersionCache& versions, Recent& recent)
    : responder_(responder),
      disk_(disk),
      io_(io),
      folder_(folder),
      handles_(handles),
      locks_(locks),
      versions_(versions),
      recent_(recent) {}

void DocumentRoutes::addRoutes(RouteTable& table) {
    table.add("GET", "/api/file", StartOn::main, [this](ApiRequest& request) { getFile(request); });
    table.add("POST", "/api/versions", StartOn::main, [this](ApiRequest& request) { checkVersions(request); });
}

std::size_t DocumentRoutes::waitingFor(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto found = reading_.find(key);
    return found == reading_.end() ? 0 : found->second.size();
}

bool DocumentRoutes::reading() const {
    std::lock_guard lock(mutex_);
    return !reading_.empty();
}

void DocumentRoutes::getFile(const ApiRequest& request) {
    std::string key = DocumentAddress::readKey(request.query);
    {
        std::lock_guard lock(mutex_);
        auto [entry, made] = reading_.try_emplace(key);
        entry->second.push_back(request.task);
        // The read under way answers this request too.
        if (!made) return;
    }

    disk_.async([this, key, query = request.query, folder = folder_.current(), handles = handles_.current()] {
        int status = 200;
        std::string body;
        std::string type = "application/octet-stream";
        HeaderMap extra;
        std::optional<std::string> error;
        try {
            Files::Place place = DocumentAddress::place(query, folder, *handles);
            const std::string& path = place.path;
            Files::Read read = DocumentAddress::readUnderLock(locks_, place);
            if (!DocumentAddress::handleOf(query)) io_.async([this, path] { recent_.add("file", path); });
            body = std::move(read.bytes);
            extra["X-Quillmarsh-Version"] = std::move(read.version);
            extra["X-Quillmarsh-Location"] = percentEncodePath(path);
        } catch (const BridgeError& refusal) {
            status = refusal.status;
            error = refusal.message;
        } catch (const std::exception& failure) {
            status = 500;
            error = failure.what();
        }

        std::vector<std::shared_ptr<SchemeTask>> waiting;
        {
            std::lock_guard lock(mutex_);
            auto entry = reading_.find(key);
            if (entry != reading_.end()) {
                waiting = std::move(entry->second);
                reading_.erase(entry);
            }
        }
        // Everyone who asked while the read ran gets the same answer.
        for (auto& task : waiting) {
            if (error) responder_.sendError(task, status, *error);
            else responder_.send(task, status, body, type, extra);
        }
    });
}

void DocumentRoutes::checkVersions(const ApiRequest& request) {
    bool alreadyRunning = false;
    {
        std::lock_guard lock(mutex_);
        alreadyRunning = checking_;
        checking_ = true;
    }
    // Checks never pile up: the page asks again later.
    if (alreadyRunning) {
        return responder_.sendJSON(request.task, 503, {{"error", "still checking the open files"}, {"busy", true}});
    }

    disk_.async([this, task = request.task, body = request.body, folder = folder_.current(),
                 handles = handles_.current()] {
        // Cleared whatever happens, and before the answer leaves: a page that
        // asks again the moment it has its answer must not be told "busy".
        struct Done {
            DocumentRoutes& routes;
            bool cleared = false;
            void clear() {
                if (cleared) return;
                cleared = true;
                std::lock_guard lock(routes.mutex_);
                routes.checking_ = false;
            }
            ~Done() { clear(); }
        } done{*this};

        std::vector<VersionItem> items = readVersionItems(body, maxVersionItems);
        std::vector<std::pair<std::string, std::string>> states;
        states.reserve(items.size());
        // The open documents mostly share the folder and its sub-folders:
        // each is looked at once per check, not once per document.
        Files::LinkCache links;
        for (VersionItem& item : items) {
            std::string state = "missing";
            std::optional<std::string> path;
            // How the document is opened should it need reading: from its
            // checked folder, as every read is.
            std::function<Files::Place()> place;
            if (item.file && !item.file->empty()) {
                if (auto found = handles->find(*item.file); found != handles->end()) {
                    path = found->second;
                    place = [&] { return Files::placeOf(*path); };
                }
            } else {
                try {
                    path = Files::resolve(item.path.value_or(""), folder, &links);
                    place = [&] { return Files::locate(item.path.value_or(""), folder, &links); };
                } catch (const std::exception&) {
                }
            }
            if (path) state = versionOf(*path, links, place);
            states.emplace_back(std::move(item.key), std::move(state));
        }
        done.clear();
        responder_.send(task, 200, versionsAnswer(std::move(states)), "application/json");
    });
}

std::string DocumentRoutes::versionOf(const std::string& path, Files::LinkCache& links,
                                      const std::function<Files::Place()>& place) {
    const auto& looked = links.look(path);
    if (!looked || !S_ISREG(looked->st_mode)) return "missing";
    const struct stat& status = *looked;
    VersionCache::Record seen{static_cast<long long>(status.st_size), static_cast<long long>(status.st_mtim.tv_sec),
                              static_cast<long long>(status.st_mtim.tv_nsec), static_cast<long long>(status.st_ino),
                              ""};
    if (auto known = versions_.find(path, seen)) return *known;
    try {
        seen.version = DocumentAddress::readUnderLock(locks_, place()).version;
    } catch (const std::exception&) {
        return "unreadable";
    }
    std::string version = seen.version;
    versions_.remember(path, std::move(seen));
    return version;
}
