#pragma once
// The folders the listing and watcher benchmarks run on, generated on the spot:
// notes in nested folders beside the trees that make other editors hang (a
// node_modules, a .git, a .venv). The large shape has a node_modules of about
// 150k files, a .git of about 20k objects and a .venv of about 30k files; the
// small one has the same kinds of folders with a tenth of the notes and of the
// .venv, so that the two sizes give a per-item line (see BenchSupport.hpp).
// Also the floor walk with the listing's pruning and a walk of everything.
#include <string>
#include <vector>

namespace bench {

struct TreeShape {
    int areas;          // each: 5 topics x 40 notes, a picture and a table per topic
    int nodePackages;   // node_modules/pkgN: 50 files, every tenth with a nested node_modules
    int gitFolders;     // .git/objects/NN with 80 objects each
    int venvPackages;   // .venv/lib/site-packages/pkgN with 50 files

    static TreeShape large() { return {10, 3000, 256, 600}; }
    static TreeShape small() { return {1, 30, 4, 60}; }
};

struct TreeCounts {
    long notes = 0;        // Markdown documents the listing must return
    long files = 0;        // every file made
    long folders = 0;      // every folder made, the root included
    long openFolders = 0;  // folders outside node_modules and secret folders (where watches go)
};

// Makes the tree at `root` (which must not exist yet) and counts what it made.
TreeCounts makeTree(const std::string& root, const TreeShape& shape);

// The least a pruned listing must do: read each folder it enters with the
// file types, skip the same trees, keep the names ending in ".md". No path
// rules, no budget, no sort. Appends paths relative to `folder`.
void floorWalk(const std::string& folder, std::vector<std::string>& found, const std::string& rel = "");

// Every entry below the folder, nothing pruned: what an unprepared editor
// walks. Also brings every folder into the cache before timing starts.
long fullWalk(const std::string& folder);

// Whether a folder name is one the listing and the watcher never enter.
bool prunedFolder(const std::string& name, bool heavyToo);

}  // namespace bench
