#include "core/InterruptedSaves.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "core/Backups.hpp"
#include "core/BridgeError.hpp"
#include "core/FileRead.hpp"
#include "core/SysCalls.hpp"
#include "core/UserFolders.hpp"

namespace {

// The entries of a folder, without "." and ".."; none when it cannot be read.
std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.c_str()), ::closedir);
    if (!listing) return names;
    while (const dirent* entry = ::readdir(listing.get())) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
    return names;
}

}  // namespace

namespace Files {

std::string replacementBase() {
    // Ours alone, never in the document's folder (which is exactly what could
    // not be written).
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/') return std::string(cache) + "/Quillmarsh";
    std::string home = UserFolders::home();
    return home.empty() ? "" : home + "/.cache/Quillmarsh";
}

int keepInterruptedSaves(Backups& backups, std::chrono::system_clock::time_point now) {
    auto& sys = sysCalls();
    std::string base = replacementBase();
    if (base.empty()) return 0;
    int kept = 0;
    for (const auto& entry : namesIn(base)) {
        if (entry.rfind("save-", 0) != 0) continue;
        std::string folder = base + "/" + entry;
        struct stat status;
        // Links are not ours to follow; a young folder may be a save under way
        // in another window of the program.
        if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) continue;
        auto changed = std::chrono::system_clock::from_time_t(status.st_mtim.tv_sec);
        if (now - changed < settledAfter) continue;

        bool emptied = true;
        for (const auto& name : namesIn(folder)) {
            std::string path = folder + "/" + name;
            // A copy cut off by the crash was never used: the document was
            // only written once its copy was whole.
            if (name == partialCopyName) {
                sys.unlink(AT_FDCWD, path.c_str());
                continue;
            }
            std::optional<std::string> bytes;
            if (::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) bytes = FileRead::all(path);
            if (!bytes) {
                emptied = false;
                continue;
            }
            try {
                backups.keep(*bytes, name, std::chrono::system_clock::from_time_t(status.st_mtim.tv_sec));
            } catch (const BridgeError&) {
                emptied = false;  // tried again at the next start
                continue;
            }
            sys.unlink(AT_FDCWD, path.c_str());
            ++kept;
        }
        if (emptied) sys.rmdir(folder.c_str());
    }
    return kept;
}

}  // namespace Files
