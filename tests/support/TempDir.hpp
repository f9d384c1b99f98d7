#pragma once
// A fresh folder for one test, removed with everything in it afterwards.
#include <filesystem>
#include <string>

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
