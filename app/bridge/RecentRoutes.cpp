#include "app/bridge/RecentRoutes.hpp"

#include <sys/stat.h>

#include <charconv>

#include "core/BridgeError.hpp"
#include "core/UTF8.hpp"

namespace {

// A decimal integer with an optional sign; anything else, an overflow
// included, is no index at all.
long long parseIndex(const std::string& text) {
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.front() == '+' || digits.front() == '-') return -1;
    long long value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return -1;
    return negative ? -value : value;
}

}  // namespace

RecentRoutes::RecentRoutes(Responder& responder, Recent& recent, OpenFolder& folder, FileHandles& handles,
                           Bookmarks& bookmarks)
    : responder_(responder), recent_(recent), folder_(folder), handles_(handles), bookmarks_(bookmarks) {}

void RecentRoutes::addRoutes(RouteTable& table) {
    table.add("GET", "/api/recent", StartOn::io, [this](ApiRequest& request) { getRecent(request); });
    table.add("POST", "/api/recent/clear", StartOn::io, [this](ApiRequest& request) { clearRecent(request); });
    table.add("POST", "/api/recent/open", StartOn::io, [this](ApiRequest& request) { openRecent(request); });
}

void RecentRoutes::getRecent(const ApiRequest& request) {
    responder_.sendJSON(request.task, 200, {{"items", recent_.listing()}});
}

void RecentRoutes::clearRecent(const ApiRequest& request) {
    recent_.clear();
    responder_.sendJSON(request.task, 200, {{"items", nlohmann::json::array()}});
}

void RecentRoutes::openRecent(const ApiRequest& request) {
    long long index = -1;
    if (const std::string* given = request.item("index")) index = parseIndex(*given);
    if (index < 0 || index >= static_cast<long long>(recent_.items().size())) {
        throw BridgeError(404, "that recent item no longer exists; reopen the list");
    }
    const Recent::Item item = recent_.items()[static_cast<std::size_t>(index)];

    // A bookmark follows an item that moved; a stale one is used as it is.
    std::string path = item.path;
    if (item.bookmark) {
        if (auto resolved = bookmarks_.resolve(*item.bookmark)) path = *resolved;
    }
    // The list holds only UTF-8 paths, but a bookmark may lead anywhere.
    if (item.kind == "folder") UTF8::checkFolderName(path);
    else UTF8::checkFileName(path);
    bookmarks_.enterScope(path);

    struct stat info;
    bool exists = ::stat(path.c_str(), &info) == 0;
    bool folder = item.kind == "folder";
    if (exists && S_ISDIR(info.st_mode) == folder) {
        if (folder) {
            folder_.open(path);
            return responder_.sendJSON(request.task, 200, {{"kind", "folder"}, {"folder", path}});
        }
        recent_.add("file", path, item.bookmark);
        nlohmann::json answer = handles_.chosenFile(path);
        answer["kind"] = "file";
        return responder_.sendJSON(request.task, 200, answer);
    }
    // Gone, or a file turned into a folder or the reverse.
    recent_.remove(static_cast<std::size_t>(index));
    responder_.sendJSON(request.task, 404,
                        {{"error", item.path + " is no longer there (moved or deleted); removed from Open Recent"},
                         {"removed", true}});
}
