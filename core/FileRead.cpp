#include "core/FileRead.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace FileRead {

std::optional<std::string> prefix(const std::string& path, std::size_t count) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    while (bytes.size() < count) {
        ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return bytes;
}

std::optional<std::string> all(const std::string& path) {
    return prefix(path, std::numeric_limits<std::size_t>::max());
}

}  // namespace FileRead
