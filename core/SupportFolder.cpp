#include "core/SupportFolder.hpp"

#include "core/LogFile.hpp"
#include "core/FileWrite.hpp"
#include "core/UserFolders.hpp"

#include <fcntl.h>
#include <cerrno>
#include <sys/stat.h>

namespace SupportFolder {

namespace {

// Whatever stands at the path counts, folder or not; links are followed.
bool exists(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0;
}

// Refuses to replace anything that appeared at `to` since it was checked.
bool move(const std::string& from, const std::string& to) {
    return static_cast<bool>(FileWrite::renameWithoutReplacing(AT_FDCWD, from, AT_FDCWD, to));
}

}  // namespace

std::string userDataHome() { return UserFolders::dataHome(); }

std::string find(const std::string& dataHome) {
    const std::string current = dataHome + "/" + name;
    const std::string earlier = dataHome + "/" + earlierName;
    if (exists(current) || !exists(earlier)) return current;
    if (move(earlier, current)) {
        appLog().add("settings: moved from the earlier name");
        return current;
    }
    appLog().add("settings: could not move from the earlier name; using it as it is");
    return earlier;
}

}  // namespace SupportFolder
