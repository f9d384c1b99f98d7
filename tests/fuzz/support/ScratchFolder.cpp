#include "tests/fuzz/support/ScratchFolder.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <unistd.h>

ScratchFolder::ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillmarsh-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) fuzzFail("mkdtemp failed");
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchFolder::write(const std::string& name, const std::string& bytes) const {
    std::filesystem::path target = *this / name;
    std::filesystem::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out) fuzzFail("could not write the fixture " + name);
    return target.string();
}

std::string ScratchFolder::makeFolder(const std::string& name) const {
    std::string target = *this / name;
    std::filesystem::create_directories(target);
    return target;
}

void ScratchFolder::link(const std::string& name, const std::string& target) const {
    std::string at = *this / name;
    std::filesystem::create_directories(std::filesystem::path(at).parent_path());
    if (::symlink(target.c_str(), at.c_str()) != 0) fuzzFail("could not make the link " + name);
}

void ScratchFolder::clear() const {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(path_, ignored))
        std::filesystem::remove_all(entry.path(), ignored);
}

void fuzzFail(const std::string& what) {
    std::fprintf(stderr, "\nFUZZ CHECK FAILED: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}
