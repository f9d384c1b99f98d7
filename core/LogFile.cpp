#include "core/LogFile.hpp"

#include "core/FileRead.hpp"
#include "core/FileWrite.hpp"
#include "core/UserFolders.hpp"

#include <fcntl.h>
#include <algorithm>
#include <ctime>
#include <sys/stat.h>

LogFile::LogFile(std::string path, std::int64_t maxBytes) : path_(std::move(path)), maxBytes_(maxBytes) {}

std::string LogFile::path() const {
    std::lock_guard guard(lock_);
    return path_;
}

std::string LogFile::line(std::string_view message, Time at) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(at));
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char stamp[32];
    std::size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::string text(stamp, length);
    text += ' ';
    text += message;
    std::replace(text.begin() + static_cast<std::ptrdiff_t>(length) + 1, text.end(), '\n', ' ');
    text += '\n';
    return text;
}

void LogFile::prepare() {
    std::lock_guard guard(lock_);
    if (path_.empty()) return;
    FileWrite::makeFolders(FileWrite::parentFolder(path_));
    if (auto start = FileRead::prefix(path_, header.size())) {
        // The header is ASCII, so comparing bytes is comparing the repaired text.
        if (*start == header) return;
        sysCalls().unlink(AT_FDCWD, path_.c_str());
    }
    replace(std::string(header) + "\n");
}

void LogFile::add(std::string_view message, Time at) {
    // Built before the lock: other threads wait only for the file work.
    const std::string text = line(message, at);
    std::lock_guard guard(lock_);
    if (path_.empty()) return;
    struct stat status;
    if (::stat(path_.c_str(), &status) != 0 || status.st_size == 0) {
        // The header and the line in one write, so a failure between the two
        // can never leave a log without its header.
        replace(std::string(header) + "\n" + text);
        return;
    }
    // Reaching maxBytes exactly is allowed; only going past it trims.
    if (static_cast<std::int64_t>(status.st_size) + static_cast<std::int64_t>(text.size()) > maxBytes_) trim();
    write(text);
}

void LogFile::write(std::string_view text) {
    auto appended = FileWrite::append(path_, text);
    // Only a file that cannot be opened is written whole; after a failed write
    // into an open file, rewriting it would throw away the earlier lines.
    if (!appended && appended.failed == SysCall::open) replace(text);
}

void LogFile::replace(std::string_view text) {
    FileWrite::makeFolders(FileWrite::parentFolder(path_));
    FileWrite::atomicReplace(path_, text, 0600);
    sysCalls().chmod(AT_FDCWD, path_.c_str(), 0600);
}

void LogFile::trim() {
    auto content = FileRead::all(path_);
    if (!content) return;
    std::string_view tail = *content;
    auto keep = static_cast<std::size_t>(std::max<std::int64_t>(maxBytes_ / 2, 0));
    if (tail.size() > keep) tail.remove_prefix(tail.size() - keep);
    // Start at a whole line; a tail that is one long piece of a line stays whole.
    if (auto newline = tail.find('\n'); newline != std::string_view::npos) tail.remove_prefix(newline + 1);
    std::string text(header);
    text += '\n';
    text += tail;
    replace(text);
}

std::string LogFile::sharedPath() {
    auto state = UserFolders::stateHome();
    return state.empty() ? std::string() : state + "/Quillmarsh.log";
}

std::string LogFile::useSharedAt(std::string path) {
    auto& shared = appLog();
    std::lock_guard guard(shared.lock_);
    std::swap(shared.path_, path);
    return path;
}

LogFile& appLog() {
    static LogFile shared(LogFile::sharedPath(), LogFile::defaultMax);
    return shared;
}
