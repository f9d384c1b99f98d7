#include "core/UserFolders.hpp"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace UserFolders {

namespace {

bool isAbsolute(const char* path) { return path && path[0] == '/'; }

std::string fromVariable(const char* variable, const char* belowHome) {
    if (const char* value = std::getenv(variable); isAbsolute(value)) return value;
    auto base = home();
    return base.empty() ? std::string() : base + belowHome;
}

}  // namespace

std::string home() {
    if (const char* value = std::getenv("HOME"); isAbsolute(value)) return value;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        isAbsolute(found->pw_dir))
        return found->pw_dir;
    return {};
}

std::string dataHome() { return fromVariable("XDG_DATA_HOME", "/.local/share"); }

std::string stateHome() { return fromVariable("XDG_STATE_HOME", "/.local/state"); }

}  // namespace UserFolders
