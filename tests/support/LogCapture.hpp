#pragma once
// Points the shared log (appLog) at a file of its own for as long as it lives,
// so a test can check what the code under test logged, and puts the shared log
// back afterwards.
#include "tests/support/TempDir.hpp"

#include <string>
#include <vector>

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::string& path() const { return path_; }
    // The messages logged so far, oldest first, without header and time stamps.
    std::vector<std::string> messages() const;

private:
    TempDir folder_;
    std::string path_;
    std::string previous_;
};
