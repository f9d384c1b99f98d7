#include "core/Recent.hpp"

#include <sys/stat.h>

#include "core/PathNames.hpp"
#include "core/UTF8.hpp"
#include "core/StoredJSON.hpp"

namespace {

using StoredJSON::isBase64;
using StoredJSON::stringMember;

std::vector<Recent::Item> parse(const std::optional<nlohmann::json>& loaded) {
    std::vector<Recent::Item> items;
    if (!loaded || !loaded->is_array()) return items;
    // One stray element means the file was not written by us: trust none of it.
    for (const auto& element : *loaded) {
        if (!element.is_object()) return {};
    }
    for (const auto& element : *loaded) {
        const std::string* kind = stringMember(element, "kind");
        const std::string* path = stringMember(element, "path");
        if (!kind || (*kind != "file" && *kind != "folder")) continue;
        if (!path || path->empty() || path->front() != '/' || !UTF8::isValid(*path)) continue;
        Recent::Item item{*kind, *path, std::nullopt};
        if (const std::string* bookmark = stringMember(element, "bookmark"); bookmark && isBase64(*bookmark)) {
            item.bookmark = *bookmark;
        }
        items.push_back(std::move(item));
        if (items.size() == Recent::max) break;
    }
    return items;
}

bool isMissing(const Recent::Item& item) {
    struct stat status {};
    if (::stat(item.path.c_str(), &status) != 0) return true;
    bool folder = S_ISDIR(status.st_mode);
    return item.kind == "folder" ? !folder : folder;
}

}  // namespace

Recent::Recent(std::string path) : file_(std::move(path)), items_(parse(file_.load())) {}

void Recent::add(const std::string& kind, const std::string& path, std::optional<std::string> bookmark) {
    // Such a path could not be written to the file, so it would stop every
    // later save of the list, nor listed for the page. Openers refuse these
    // names first; this keeps the list whole should one slip through.
    if (!UTF8::isValid(path)) return;
    std::erase_if(items_, [&](const Item& item) { return item.kind == kind && item.path == path; });
    items_.insert(items_.begin(), Item{kind, path, std::move(bookmark)});
    if (items_.size() > max) items_.resize(max);
    save();
}

void Recent::remove(std::size_t index) {
    if (index >= items_.size()) return;
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
    save();
}

void Recent::clear() {
    items_.clear();
    save();
}

nlohmann::json Recent::listing() const {
    nlohmann::json list = nlohmann::json::array();
    for (std::size_t index = 0; index < items_.size(); ++index) {
        const Item& item = items_[index];
        list.push_back({{"index", index},
                        {"kind", item.kind},
                        {"path", item.path},
                        {"name", PathNames::lastComponent(item.path)},
                        {"missing", isMissing(item)}});
    }
    return list;
}

void Recent::save() const {
    nlohmann::json list = nlohmann::json::array();
    for (const Item& item : items_) {
        list.push_back({{"kind", item.kind}, {"path", item.path}, {"bookmark", item.bookmark.value_or("")}});
    }
    file_.save(list);
}
