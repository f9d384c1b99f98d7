#pragma once
// A temporary folder for one fuzz process, removed with everything in it when
// the process ends normally. libFuzzer runs millions of inputs in one process,
// so targets make their fixtures once (a function-local static) and reuse them.
#include <string>

class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // Writes a file, making its folders; aborts when it cannot (a broken
    // fixture would make every later verdict meaningless).
    std::string write(const std::string& name, const std::string& bytes) const;
    std::string makeFolder(const std::string& name) const;
    // A symbolic link at `name` holding `target` as written.
    void link(const std::string& name, const std::string& target) const;
    // Empties the folder and keeps it.
    void clear() const;

private:
    std::string path_;
};

// Stops the process with a message libFuzzer reports as the finding.
[[noreturn]] void fuzzFail(const std::string& what);
#define FUZZ_CHECK(condition, what)                                      \
    do {                                                                 \
        if (!(condition)) fuzzFail(std::string(#condition) + ": " + (what)); \
    } while (false)
