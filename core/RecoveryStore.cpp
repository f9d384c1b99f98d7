#include "core/RecoveryStore.hpp"

#include <dirent.h>
#include <sys/stat.h>
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "core/BridgeError.hpp"
#include "core/Characters.hpp"
#include "core/JSONFile.hpp"
#include "core/FileWrite.hpp"
#include "core/JSONText.hpp"
#include "core/Pattern.hpp"
#include "core/SysCalls.hpp"
#include "core/TemporaryNames.hpp"
#include "core/UTF8.hpp"
#include "core/StoredJSON.hpp"

namespace {

using StoredJSON::isBase64;
using StoredJSON::stringMember;

constexpr std::string_view entryExtension = ".json";
constexpr const char* untitled = "Untitled.md";

[[noreturn]] void notKept(int error) { throw BridgeError(500, std::strerror(error)); }

// An entry file's object; nothing when it cannot be read or is not one.
std::optional<nlohmann::json> readObject(const std::string& path) {
    auto value = JSONFile(path).load();
    if (!value || !value->is_object()) return std::nullopt;
    return value;
}

// The entry as compact JSON, the text given as a JSON string literal.
std::string entryBytes(const std::string& name, const std::optional<std::string>& location,
                       const std::optional<std::string>& bookmark, const std::string& base,
                       std::string_view textLiteral) {
    for (const std::string* value : {&name, &base, location ? &*location : &base}) {
        if (!UTF8::isValid(*value)) throw std::invalid_argument("recovery text is not valid UTF-8");
    }
    const auto savedAt = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    std::string out;
    out.reserve(textLiteral.size() + name.size() + base.size() + (location ? location->size() : 0) + 128);
    auto member = [&](std::string_view key, std::string_view value) {
        out += out.empty() ? "{" : ",";
        JSONText::appendString(out, key);
        out += ':';
        JSONText::appendString(out, value);
    };
    member("name", name);
    member("base", base);
    if (location) member("location", *location);
    if (bookmark && !bookmark->empty()) member("bookmark", *bookmark);
    out += ",\"savedAt\":" + std::to_string(savedAt) + ",\"text\":";
    out += textLiteral;
    out += '}';
    return out;
}

}  // namespace

bool RecoveryStore::isValidId(std::string_view id) {
    static const Pattern rule("^[A-Za-z0-9_-]{6,40}$");
    return rule.matchesWhole(id);
}

std::string RecoveryStore::entryPath(const std::string& id) const {
    if (!isValidId(id)) throw BridgeError(400, "bad recovery id");
    return folder_ + "/" + id + std::string(entryExtension);
}

void RecoveryStore::put(const std::string& id, const std::string& name, const std::optional<std::string>& location,
                        const std::optional<std::string>& bookmark, const std::string& base, const std::string& text) {
    if (!UTF8::isValid(text)) throw std::invalid_argument("recovery text is not valid UTF-8");
    std::string literal;
    JSONText::appendString(literal, text);
    putLiteral(id, name, location, bookmark, base, literal);
}

void RecoveryStore::putLiteral(const std::string& id, const std::string& name,
                               const std::optional<std::string>& location, const std::optional<std::string>& bookmark,
                               const std::string& base, std::string_view textLiteral) {
    // The id first: a refused request leaves no trace on disk.
    const std::string path = entryPath(id);
    const std::string bytes = entryBytes(name, location, bookmark, base, textLiteral);

    makeFolder();
    auto& sys = sysCalls();
    // The steps of an atomic replace, each failure reported: this copy is the
    // user's only one, so the page must learn when it is not safely on disk.
    // (FileWrite::atomicReplace takes its folder flush as best effort, which
    // suits remembered settings but not this.) The file is private from its
    // creation, never narrowed afterwards.
    std::string temporaryPath;
    try {
        temporaryPath = folder_ + "/" + TemporaryNames::make();
    } catch (const std::runtime_error&) {
        notKept(EIO);  // no random name: nothing was created
    }
    FileWrite::HeldLock lock;
    auto created = FileWrite::createTemporaryIn(AT_FDCWD, temporaryPath, bytes, 0600, FileWrite::Permissions::exact,
                                                lock);
    // The helper has removed whatever it created.
    if (!created) notKept(created.error);
    if (sys.rename(AT_FDCWD, temporaryPath.c_str(), AT_FDCWD, path.c_str()) != 0) {
        int error = errno;
        sys.unlink(AT_FDCWD, temporaryPath.c_str());
        notKept(error);
    }
    // Without it the new name may not outlive a power cut. A failed flush is
    // reported, never retried: after one, a second could succeed without the
    // name being on storage.
    if (auto flushed = FileWrite::flushFolder(folder_); !flushed) notKept(flushed.error);
}

void RecoveryStore::makeFolder() const {
    // Each folder made here is flushed into its parent, deepest first: its name
    // must be on storage too, or a power cut could take the whole folder with
    // the entry.
    std::vector<std::string> made;
    if (auto result = FileWrite::makeFolders(folder_, 0700, &made); !result) notKept(result.error);
    for (auto folder = made.rbegin(); folder != made.rend(); ++folder) {
        if (auto flushed = FileWrite::flushFolder(FileWrite::parentFolder(*folder)); !flushed) notKept(flushed.error);
    }
}

RecoveryStore::Entry RecoveryStore::entry(const std::string& id) const {
    auto value = readObject(entryPath(id));
    if (!value) throw BridgeError(404, "nothing to recover with that id");
    Entry found;
    if (const std::string* text = stringMember(*value, "text")) found.text = *text;
    if (const std::string* location = stringMember(*value, "location")) found.location = *location;
    if (const std::string* bookmark = stringMember(*value, "bookmark"); bookmark && isBase64(*bookmark)) {
        found.bookmark = *bookmark;
    }
    const std::string* name = stringMember(*value, "name");
    found.name = name ? *name : untitled;
    return found;
}

nlohmann::json RecoveryStore::listing() const {
    struct Summary {
        std::int64_t savedAt;
        std::string id;
        nlohmann::json item;
    };
    std::vector<Summary> summaries;
    std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(folder_.c_str()), ::closedir);
    if (!folder) return nlohmann::json::array();
    while (dirent* child = ::readdir(folder.get())) {
        std::string_view fileName = child->d_name;
        if (!fileName.ends_with(entryExtension)) continue;
        std::string id(fileName.substr(0, fileName.size() - entryExtension.size()));
        // A file no id could name could be neither read back nor cleared by
        // the page: listing it would leave an entry the user can never dismiss.
        if (!isValidId(id)) continue;
        auto value = readObject(folder_ + "/" + std::string(fileName));
        if (!value) continue;
        const std::string* name = stringMember(*value, "name");
        const std::string* location = stringMember(*value, "location");
        const std::string* base = stringMember(*value, "base");
        const std::string* text = stringMember(*value, "text");
        std::int64_t savedAt = 0;
        if (auto at = value->find("savedAt"); at != value->end() && at->is_number_integer()) {
            savedAt = at->is_number_unsigned() ? static_cast<std::int64_t>(std::min<std::uint64_t>(
                                                     at->get<std::uint64_t>(), INT64_MAX))
                                               : at->get<std::int64_t>();
        }
        nlohmann::json item = {{"id", id},
                               {"name", name ? *name : untitled},
                               {"location", location ? nlohmann::json(*location) : nlohmann::json(nullptr)},
                               {"base", base ? *base : ""},
                               {"savedAt", savedAt},
                               {"size", text ? Characters::count(*text) : 0}};
        summaries.push_back({savedAt, std::move(id), std::move(item)});
    }
    // Newest first; the id orders entries kept in the same second, so the
    // page sees the same order every time it asks.
    std::sort(summaries.begin(), summaries.end(), [](const Summary& a, const Summary& b) {
        return a.savedAt != b.savedAt ? a.savedAt > b.savedAt : a.id < b.id;
    });
    nlohmann::json items = nlohmann::json::array();
    for (Summary& summary : summaries) items.push_back(std::move(summary.item));
    return items;
}

void RecoveryStore::clear(const std::string& id) noexcept {
    if (!isValidId(id)) return;
    sysCalls().unlink(AT_FDCWD, (folder_ + "/" + id + std::string(entryExtension)).c_str());
}
