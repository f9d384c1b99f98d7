#include "tests/support/LogCapture.hpp"

#include "core/LogFile.hpp"

#include <sstream>

LogCapture::LogCapture() : path_(folder_ / "Quillmarsh.log"), previous_(LogFile::useSharedAt(path_)) {}

LogCapture::~LogCapture() { LogFile::useSharedAt(previous_); }

std::vector<std::string> LogCapture::messages() const {
    std::vector<std::string> found;
    std::istringstream lines(TempDir::read(path_));
    std::string line;
    while (std::getline(lines, line)) {
        if (line == LogFile::header) continue;
        // "2024-05-01T14:03:07Z " is 21 bytes.
        found.push_back(line.size() > 21 ? line.substr(21) : line);
    }
    return found;
}
