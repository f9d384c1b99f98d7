// quillmarsh-console: the real Bridge behind a line protocol instead of a web
// view, for tests, benchmarks and debugging. One JSON object per line in, one
// per line out; see Console.hpp for the protocol.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <optional>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <string>

#include "core/SysCalls.hpp"
#include "core/TemporaryNames.hpp"
#include "tools/console/Console.hpp"

namespace {

// Test seam, off unless the variable is set (see Console.hpp): every file write
// hands the kernel at most that many bytes per call, so a test that kills the
// console can land in the middle of writing a document, not only between
// whole system calls.
void smallWritesForCrashTests() {
    const char* chunk = std::getenv("QUILLMARSH_CONSOLE_WRITE_CHUNK");
    if (!chunk) return;
    long bytes = std::strtol(chunk, nullptr, 10);
    if (bytes <= 0) return;
    auto write = sysCalls().write;
    sysCalls().write = [write, bytes](int fd, const void* data, size_t count) {
        return write(fd, data, std::min(count, static_cast<size_t>(bytes)));
    };
}

// Test seam, off unless the variable is set (see Console.hpp): a save's
// temporary file cannot be made beside the document.
void noNewNamesBesideDocuments() {
    const char* set = std::getenv("QUILLMARSH_CONSOLE_NO_NEW_NAMES");
    if (!set || std::string(set) != "1") return;
    auto open = sysCalls().open;
    sysCalls().open = [open](int folder, const char* path, int flags, mode_t mode) {
        // Temporary files are named in the document's folder, held open.
        if ((flags & O_CREAT) && TemporaryNames::isOurTemporaryName(path)) {
            errno = EACCES;
            return -1;
        }
        return open(folder, path, flags, mode);
    };
}

constexpr const char* usage =
    "usage: quillmarsh-console --editor DIR [--update-feed URL] [--update-ca FILE] [--update-timeout-ms N]\n";

// A whole positive decimal number of milliseconds; nothing otherwise.
std::optional<std::chrono::milliseconds> milliseconds(const std::string& text) {
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value <= 0) return std::nullopt;
    return std::chrono::milliseconds(value);
}

}  // namespace

int main(int argc, char** argv) {
    std::string editor;
    UpdateFetcher::Options updates;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        bool hasValue = i + 1 < argc;
        if (argument == "--editor" && hasValue) {
            editor = argv[++i];
        } else if (argument == "--update-feed" && hasValue) {
            updates.feed = argv[++i];
        } else if (argument == "--update-ca" && hasValue) {
            updates.caFile = argv[++i];
        } else if (argument == "--update-timeout-ms" && hasValue) {
            auto limit = milliseconds(argv[++i]);
            if (!limit) {
                std::cerr << usage;
                return 2;
            }
            updates.timeout = *limit;
        } else {
            std::cerr << usage;
            return 2;
        }
    }
    if (editor.empty()) {
        std::cerr << usage;
        return 2;
    }
    smallWritesForCrashTests();
    noNewNamesBesideDocuments();
    // The standard streams buffered on their own, not through stdio's 4 KiB
    // buffer: an answer line of 100 KiB then leaves in one write instead of
    // twenty-five, each of which woke the reader. Input is read on a thread of
    // its own, so it must not flush the output (that is the main thread's).
    std::ios::sync_with_stdio(false);
    std::cin.tie(nullptr);
    // Room in the pipe for a whole large answer, so writing it does not wait
    // for the reader to take it in 64 KiB pieces. Not a pipe, or not allowed:
    // the default stays.
    ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20);
    return Console(editor, std::cin, std::cout, std::move(updates)).run();
}
