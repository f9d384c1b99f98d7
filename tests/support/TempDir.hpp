#pragma once
// A fresh folder for one test, removed with everything in it afterwards.
#include <filesystem>
#include <string>

#include <sys/types.h>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The path of a name inside the folder, as text.
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    // Writes a file (making its folders) and returns its path.
    std::string write(const std::string& name, const std::string& bytes) const;
    static std::string read(const std::string& path);

private:
    std::filesystem::path path_;
};

// The permission bits of a file (links followed); fails the test when it cannot be read.
mode_t permissionsOf(const std::string& path);
