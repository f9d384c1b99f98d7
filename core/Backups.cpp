#include "core/Backups.hpp"

#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/regex.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/BridgeError.hpp"
#include "core/Characters.hpp"
#include "core/FileWrite.hpp"

namespace {

constexpr std::size_t nameLimit = 255;
constexpr int maxCounter = 99999;
constexpr const char* datePattern = "yyyy-MM-dd HH.mm.ss";

[[noreturn]] void backupFailed() { throw BridgeError(500, std::string(backupFailedMessage)); }

// A formatter for the backup date in the user's current time zone, made per
// use: ICU formatters are not safe to share between threads, and backups of
// different documents may be made at once.
std::unique_ptr<icu::SimpleDateFormat> dateFormat() {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale posix("en_US_POSIX");
    auto format = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(datePattern), posix, status);
    if (U_FAILURE(status)) return nullptr;
    auto calendar = std::make_unique<icu::GregorianCalendar>(icu::TimeZone::createDefault(), posix, status);
    if (U_FAILURE(status)) return nullptr;
    format->adoptCalendar(calendar.release());
    format->setLenient(false);
    return format;
}

std::string dateText(Backups::Time at) {
    auto format = dateFormat();
    if (!format) return "0000-00-00 00.00.00";
    auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
    icu::UnicodeString text;
    format->format(static_cast<UDate>(millis), text);
    std::string utf8;
    text.toUTF8String(utf8);
    return utf8;
}

// The text after the last dot, as a document's type: never empty, never with
// a blank (the pruning pattern could not read it back). A hidden name such as
// ".md" is all type and no stem, and its backups are then called "Document",
// so that they do not hide in the folder.
std::string extensionOf(const std::string& name) {
    auto dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 == name.size()) return "";
    std::string extension = name.substr(dot + 1);
    if (extension.find(' ') != std::string::npos) return "";
    return extension;
}

const icu::RegexPattern* backupPattern() {
    static const std::unique_ptr<icu::RegexPattern> pattern = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
            icu::UnicodeString::fromUTF8(
                R"(\A.+ \(backup ([0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}\.[0-9]{2}\.[0-9]{2})\)( [0-9]{1,5})?(\.[^/. ]+)?\z)"),
            0, status));
        return U_SUCCESS(status) ? std::move(compiled) : nullptr;
    }();
    return pattern.get();
}

bool isRealFolder(const std::string& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

bool Backups::needsBackup(const std::string& path, const std::string& disk) const {
    std::lock_guard guard(lock_);
    auto found = written_.find(path);
    return found == written_.end() || found->second != disk;
}

std::optional<std::string> Backups::lastWritten(const std::string& path) const {
    std::lock_guard guard(lock_);
    auto found = written_.find(path);
    if (found == written_.end()) return std::nullopt;
    return found->second;
}

void Backups::wrote(const std::string& path, const std::string& version) {
    std::lock_guard guard(lock_);
    written_[path] = version;
}

std::string Backups::name(const std::string& document, Time at, int n) {
    std::string extension = extensionOf(document);
    std::string stem = extension.empty() ? document : document.substr(0, document.size() - extension.size() - 1);
    if (stem.empty()) stem = "Document";
    std::string suffix = " (backup " + dateText(at) + ")";
    if (n != 1) suffix += " " + std::to_string(n);
    if (!extension.empty()) suffix += "." + extension;
    std::size_t room = suffix.size() < nameLimit ? nameLimit - suffix.size() : 0;
    return Characters::prefixWithinBytes(stem, room) + suffix;
}

std::string Backups::keep(std::string_view bytes, const std::string& document, Time now) const {
    // The folders this backup had to make, outermost first.
    std::vector<std::string> made;
    if (!FileWrite::makeFolders(folder_, 0777, &made)) backupFailed();
    // A link in place of the folder could send the copies anywhere.
    if (!isRealFolder(folder_)) backupFailed();
    // The names of the folders just made must be on storage before anything in
    // them counts as kept. A parent that cannot be opened is passed over; one
    // whose flush fails is storage that cannot promise to keep the copy.
    for (const std::string& folder : made) {
        auto flushed = FileWrite::flushFolder(FileWrite::parentFolder(folder));
        if (!flushed && flushed.failed == SysCall::fsync) backupFailed();
    }

    for (int n = 1; n <= maxCounter; ++n) {
        std::string path = folder_ + "/" + name(document, now, n);
        auto created = FileWrite::exclusiveCreate(path, bytes, 0600, FileWrite::Permissions::exact);
        if (!created) {
            if (created.failed == SysCall::open && created.error == EEXIST) continue;
            backupFailed();  // the helper removed what it created
        }
        // The new name must be on storage too before the document it protects is
        // replaced. A folder that cannot be opened is passed over, as there is
        // nothing to flush through; a flush that fails is a backup that may not
        // survive a power cut, so the copy is taken back and the save refused.
        auto flushed = FileWrite::flushFolder(folder_);
        if (!flushed && flushed.failed == SysCall::fsync) {
            sysCalls().unlink(AT_FDCWD, path.c_str());
            backupFailed();
        }
        return path;
    }
    backupFailed();
}

int Backups::prune(Time now) const {
    try {
        if (!isRealFolder(folder_)) return 0;
        const icu::RegexPattern* pattern = backupPattern();
        auto format = dateFormat();
        if (!pattern || !format) return 0;
        std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(folder_.c_str()), ::closedir);
        if (!folder) return 0;
        DIR* listing = folder.get();
        const double cutoff =
            static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>((now - keepFor).time_since_epoch())
                                    .count());
        int removed = 0;
        while (dirent* entry = ::readdir(listing)) {
            std::string entryName = entry->d_name;
            if (entryName == "." || entryName == "..") continue;
            struct stat status;
            if (::fstatat(dirfd(listing), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISREG(status.st_mode)) {
                continue;
            }
            UErrorCode error = U_ZERO_ERROR;
            icu::UnicodeString text = icu::UnicodeString::fromUTF8(entryName);
            std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(text, error));
            if (U_FAILURE(error) || !matcher->matches(error) || U_FAILURE(error)) continue;
            icu::UnicodeString date = matcher->group(1, error);
            if (U_FAILURE(error)) continue;
            icu::ParsePosition position(0);
            UDate when = format->parse(date, position);
            if (position.getErrorIndex() >= 0 || position.getIndex() != date.length()) continue;
            if (when < cutoff && sysCalls().unlink(AT_FDCWD, (folder_ + "/" + entryName).c_str()) == 0) ++removed;
        }
        return removed;
    } catch (...) {
        return 0;
    }
}
