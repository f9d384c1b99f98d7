#pragma once
// The folder the listing and watcher benchmarks run on, generated on the spot:
// notes in nested folders beside the trees that make other editors hang, a
// node_modules of about 150k files, a .git of about 20k objects and a .venv of
// about 30k files. Also a floor walk with the listing's pruning, and a small
// driver for the console as a child process.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Files.hpp"

extern char** environ;

namespace bench {

using Seconds = std::chrono::duration<double>;

struct TreeCounts {
    long notes = 0;        // Markdown documents the listing must return
    long files = 0;        // every file made
    long folders = 0;      // every folder made, the root included
    long openFolders = 0;  // folders outside node_modules and secret folders (where watches go)
};

inline void touchFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    ::close(fd);
}

class TreeMaker {
public:
    explicit TreeMaker(std::string root) : root_(std::move(root)) {}

    TreeCounts make() {
        folder("", true);
        // Notes: 10 areas x 5 topics x 40 notes, with pictures and a few other files.
        for (int area = 0; area < 10; ++area) {
            std::string a = "area" + std::to_string(area);
            folder(a, true);
            for (int topic = 0; topic < 5; ++topic) {
                std::string t = a + "/topic" + std::to_string(topic);
                folder(t, true);
                for (int n = 0; n < 40; ++n) note(t + "/note" + std::to_string(n) + ".md");
                file(t + "/figure.png");
                file(t + "/data.csv");
            }
        }
        // Editor and project metadata that is walked, some of it listed.
        folder(".obsidian", true);
        for (int i = 0; i < 20; ++i) file(".obsidian/state" + std::to_string(i) + ".json");
        folder(".github", true);
        for (int i = 0; i < 5; ++i) note(".github/doc" + std::to_string(i) + ".md");
        file(".gitignore");
        file("package.json");

        // node_modules: 3000 packages of 50 files, a README each, a nested
        // node_modules in every tenth: about 150k files, none listed or watched.
        folder("node_modules", false);
        for (int p = 0; p < 3000; ++p) {
            std::string pkg = "node_modules/pkg" + std::to_string(p);
            folder(pkg, false);
            folder(pkg + "/lib", false);
            file(pkg + "/README.md");
            file(pkg + "/package.json");
            for (int i = 0; i < 48; ++i) file(pkg + "/lib/m" + std::to_string(i) + ".js");
            if (p % 10 == 0) {
                folder(pkg + "/node_modules", false);
                folder(pkg + "/node_modules/dep", false);
                file(pkg + "/node_modules/dep/index.js");
                file(pkg + "/node_modules/dep/README.md");
            }
        }
        // .git: 256 object folders with about 80 objects each, plus refs.
        folder(".git", false);
        folder(".git/objects", false);
        for (int d = 0; d < 256; ++d) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", d);
            std::string objects = std::string(".git/objects/") + hex;
            folder(objects, false);
            for (int i = 0; i < 80; ++i) file(objects + "/obj" + std::to_string(i));
        }
        folder(".git/refs", false);
        file(".git/HEAD");
        // .venv: 600 packages of 50 modules: walked by the watcher (its changes
        // count), never by the listing (a heavy folder).
        folder(".venv", true);
        folder(".venv/lib", true);
        folder(".venv/lib/site-packages", true);
        for (int p = 0; p < 600; ++p) {
            std::string pkg = ".venv/lib/site-packages/pkg" + std::to_string(p);
            folder(pkg, true);
            for (int i = 0; i < 49; ++i) file(pkg + "/m" + std::to_string(i) + ".py");
            file(pkg + "/README.md");
        }
        return counts_;
    }

private:
    void folder(const std::string& rel, bool open) {
        std::string path = rel.empty() ? root_ : root_ + "/" + rel;
        std::filesystem::create_directories(path);
        ++counts_.folders;
        if (open) ++counts_.openFolders;
    }
    void file(const std::string& rel) {
        touchFile(root_ + "/" + rel);
        ++counts_.files;
    }
    void note(const std::string& rel) {
        file(rel);
        ++counts_.notes;
    }

    std::string root_;
    TreeCounts counts_;
};

// The least a pruned listing must do: read each folder it enters with the
// file types, skip the same trees, keep the names ending in ".md". No path
// rules, no budget, no sort.
inline void floorWalk(const std::string& folder, std::vector<std::string>& found, const std::string& rel = "") {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (entry->d_type == DT_DIR) {
            std::string lower = name;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (name == "node_modules" || Files::heavyFolders.contains(lower) || Files::secretFolders.contains(lower)) {
                continue;
            }
            floorWalk(folder + "/" + name, found, rel.empty() ? name : rel + "/" + name);
        } else if (name.size() > 3 && name.ends_with(".md")) {
            found.push_back(rel.empty() ? name : rel + "/" + name);
        }
    }
    ::closedir(dir);
}

// Every entry below the folder, nothing pruned: what an unprepared editor walks.
inline long fullWalk(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    long count = 0;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        ++count;
        if (entry->d_type == DT_DIR) count += fullWalk(folder + "/" + name);
    }
    ::closedir(dir);
    return count;
}

// Runs a program and returns what it printed on standard output.
inline std::string runProgram(const std::vector<std::string>& argv) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        throw std::runtime_error("cannot start " + argv[0]);
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string text;
    char buffer[65536];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    ::close(out[0]);
    int status;
    ::waitpid(pid, &status, 0);
    return text;
}

// The console as a child process, one line in and lines out, as a script uses it.
class Console {
public:
    Console(const std::string& console, const std::string& editor, const std::string& home) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<std::string> env{"XDG_DATA_HOME=" + home + "/data", "XDG_STATE_HOME=" + home + "/state",
                                     "XDG_CACHE_HOME=" + home + "/cache", "HOME=" + home};
        std::vector<char*> envp;
        for (auto& entry : env) envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::vector<std::string> argv{console, "--editor", editor};
        std::vector<char*> args;
        for (auto& arg : argv) args.push_back(arg.data());
        args.push_back(nullptr);
        if (posix_spawn(&pid_, console.c_str(), &actions, nullptr, args.data(), envp.data()) != 0) {
            throw std::runtime_error("cannot start the console");
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        to_ = in[1];
        from_ = out[0];
    }

    ~Console() {
        if (to_ >= 0) ::close(to_);
        // End of input: the console answers what is open and exits.
        while (!readLine().empty()) {
        }
        ::close(from_);
        int status;
        ::waitpid(pid_, &status, 0);
    }

    void send(const std::string& line) {
        std::string text = line + "\n";
        for (size_t written = 0; written < text.size();) {
            ssize_t n = ::write(to_, text.data() + written, text.size() - written);
            if (n <= 0) throw std::runtime_error("console input closed");
            written += static_cast<size_t>(n);
        }
    }

    // The next line, or "" at the end of output.
    std::string readLine() {
        for (;;) {
            auto newline = buffered_.find('\n');
            if (newline != std::string::npos) {
                std::string line = buffered_.substr(0, newline);
                buffered_.erase(0, newline + 1);
                return line;
            }
            char buffer[65536];
            ssize_t n = ::read(from_, buffer, sizeof buffer);
            if (n <= 0) return std::string();
            buffered_.append(buffer, static_cast<size_t>(n));
        }
    }

    // Reads lines until one starts with `prefix`.
    std::string readUntil(const std::string& prefix) {
        for (;;) {
            std::string line = readLine();
            if (line.empty() || line.starts_with(prefix)) return line;
        }
    }

private:
    pid_t pid_ = -1;
    int to_ = -1;
    int from_ = -1;
    std::string buffered_;
};

// The median of `rounds` timings of `body`, in seconds.
inline double median(int rounds, const std::function<void()>& body) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        auto start = std::chrono::steady_clock::now();
        body();
        times.push_back(Seconds(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// A fresh folder under the system's temporary folder, removed on request.
inline std::string freshFolder(const std::string& name) {
    auto path = std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path.string();
}

}  // namespace bench
