#include "app/shell/ProgramFolders.hpp"

#include "core/UserFolders.hpp"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string beside(const std::string& binFolder, const char* relative) {
    return (fs::path(binFolder) / relative).lexically_normal().string();
}

}  // namespace

namespace ProgramFolders {

std::string executableFolder() {
    std::error_code error;
    fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (error || exe.empty()) return "";
    return exe.parent_path().string();
}

std::optional<std::string> editor(const std::string& binFolder) {
    if (binFolder.empty()) return std::nullopt;
    std::string folder = beside(binFolder, "../share/quillmarsh/editor");
    std::error_code error;
    if (!fs::is_directory(folder, error)) return std::nullopt;
    return folder;
}

std::string webExtensions(const std::string& binFolder) {
    return beside(binFolder, "../lib/quillmarsh/web-extensions");
}

std::string cache() {
    const char* variable = std::getenv("XDG_CACHE_HOME");
    if (variable && variable[0] == '/') return std::string(variable) + "/Quillmarsh";
    std::string home = UserFolders::home();
    return home.empty() ? std::string() : home + "/.cache/Quillmarsh";
}

}  // namespace ProgramFolders
