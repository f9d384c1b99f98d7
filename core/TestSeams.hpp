#pragma once
// Hooks for tests, and nothing else: in the program every one keeps its
// default and costs one empty check. They take no lock, so a test sets them
// before the code under test runs on other threads and puts them back
// (testSeams() = {}) once it is done.
#include "core/FolderListing.hpp"

#include <functional>
#include <string>

namespace Files {

struct TestSeams {
    // Called with the target path just before resolve or ready touches the disk.
    std::function<void(const std::string&)> beforeDisk;
    // Called with the real path once the path rules have accepted it (or links
    // of a chosen document's path are resolved), before its folder is opened:
    // the moment another program could put a link in a folder's place.
    std::function<void(const std::string&)> afterCheck;
    // Open a document's folder part by part, as where the system has no
    // openat2 (chosen by itself there).
    bool walkFolderParts = false;
    // The listing's budget of visits inside hidden folders.
    long dotWalkMax = Files::dotWalkMax;
};

// The one set of seams of the process.
TestSeams& testSeams();

}  // namespace Files
