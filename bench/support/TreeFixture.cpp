#include "bench/support/TreeFixture.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "core/Files.hpp"

namespace bench {

namespace {

class TreeMaker {
public:
    explicit TreeMaker(std::string root) : root_(std::move(root)) {}

    TreeCounts make(const TreeShape& shape) {
        folder("", true);
        for (int area = 0; area < shape.areas; ++area) {
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

        // node_modules: none of it listed or watched.
        folder("node_modules", false);
        for (int p = 0; p < shape.nodePackages; ++p) {
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
        // .git: object folders of 80 objects each, plus refs.
        folder(".git", false);
        folder(".git/objects", false);
        for (int d = 0; d < std::min(shape.gitFolders, 256); ++d) {
            char hex[9];
            std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(d) & 0xFFu);
            std::string objects = std::string(".git/objects/") + hex;
            folder(objects, false);
            for (int i = 0; i < 80; ++i) file(objects + "/obj" + std::to_string(i));
        }
        folder(".git/refs", false);
        file(".git/HEAD");
        // .venv: walked by the watcher (its changes count), never by the
        // listing (a heavy folder).
        folder(".venv", true);
        folder(".venv/lib", true);
        folder(".venv/lib/site-packages", true);
        for (int p = 0; p < shape.venvPackages; ++p) {
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
        std::string path = root_ + "/" + rel;
        int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd < 0) throw std::runtime_error("cannot create " + path);
        ::close(fd);
        ++counts_.files;
    }
    void note(const std::string& rel) {
        file(rel);
        ++counts_.notes;
    }

    std::string root_;
    TreeCounts counts_;
};

}  // namespace

TreeCounts makeTree(const std::string& root, const TreeShape& shape) { return TreeMaker(root).make(shape); }

bool prunedFolder(const std::string& name, bool heavyToo) {
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name == "node_modules" || Files::secretFolders.contains(lower) ||
           (heavyToo && Files::heavyFolders.contains(lower));
}

void floorWalk(const std::string& folder, std::vector<std::string>& found, const std::string& rel) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (entry->d_type == DT_DIR) {
            if (prunedFolder(name, true)) continue;
            floorWalk(folder + "/" + name, found, rel.empty() ? name : rel + "/" + name);
        } else if (name.size() > 3 && name.ends_with(".md")) {
            found.push_back(rel.empty() ? name : rel + "/" + name);
        }
    }
    ::closedir(dir);
}

long fullWalk(const std::string& folder) {
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

}  // namespace bench
