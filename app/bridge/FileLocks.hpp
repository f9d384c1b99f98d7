#pragma once
// One lock per real file path: saves of one file that arrive under different
// names (a handle and a path) take turns, and a read never sees a save's
// in-place write half done. A lock lives while someone holds or waits for it;
// the table forgets paths nobody uses, so it does not grow with every
// document ever saved. Any thread.
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

class FileLocks {
public:
    // The lock of a path; the same lock for as long as anyone keeps it.
    std::shared_ptr<std::mutex> of(const std::string& path);
    // Paths the table knows now (those in use, and some not yet forgotten).
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::unordered_map<std::string, std::weak_ptr<std::mutex>> locks_;
    // Forgotten paths are swept when the table has doubled since the last sweep.
    std::size_t sweepAt_ = 64;
};
