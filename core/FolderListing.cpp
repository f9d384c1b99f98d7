// Folder listing: every Markdown document below the open folder, found fast in
// folders that also hold huge tool and package trees.
//
// The walk reads each folder once with the file types the kernel already has
// (no stat per entry) and follows no links: a folder that is a link is never
// entered, so only entries that are links themselves need the full path
// resolution; every other candidate is checked on its text alone, which gives
// the same answer for a path without links.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <numeric>

#include "core/FolderListing.hpp"
#include "core/PathRules.hpp"
#include "core/TestSeams.hpp"
#include "core/UTF8.hpp"

namespace {

// Below this depth each folder stays open while its entries are walked, so
// children are opened relative to it; deeper folders are closed once read and
// their children opened by full path, so a deep tree cannot use up descriptors.
constexpr int heldDepth = 48;

struct Entry {
    std::string name;
    unsigned char type;
};

bool isASCII(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

// Sorts by Unicode scalar values after canonical composition (byte order of
// UTF-8 is scalar order); paths equal that way keep a fixed order by their bytes.
void sortPaths(std::vector<std::string>& paths) {
    bool allASCII = std::all_of(paths.begin(), paths.end(), [](const std::string& p) { return isASCII(p); });
    if (allASCII) {
        std::sort(paths.begin(), paths.end());
        return;
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    std::vector<std::string> keys(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (isASCII(paths[i]) || U_FAILURE(status)) {
            keys[i] = paths[i];
            continue;
        }
        UErrorCode local = U_ZERO_ERROR;
        icu::UnicodeString composed = nfc->normalize(
            icu::UnicodeString::fromUTF8(icu::StringPiece(paths[i].data(), static_cast<int32_t>(paths[i].size()))),
            local);
        if (U_FAILURE(local)) keys[i] = paths[i];
        else composed.toUTF8String(keys[i]);
    }
    std::vector<std::size_t> order(paths.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (keys[a] != keys[b]) return keys[a] < keys[b];
        return paths[a] < paths[b];
    });
    std::vector<std::string> sorted;
    sorted.reserve(paths.size());
    for (std::size_t index : order) sorted.push_back(std::move(paths[index]));
    paths.swap(sorted);
}

// Reads every entry of an open folder but "." and "..".
std::vector<Entry> readFolder(int fd) {
    std::vector<Entry> entries;
    alignas(8) char buffer[32 * 1024];
    for (;;) {
        ssize_t count = ::getdents64(fd, buffer, sizeof buffer);
        if (count <= 0) break;  // the end, or an error: what was read stands
        for (ssize_t offset = 0; offset < count;) {
            auto* entry = reinterpret_cast<dirent64*>(buffer + offset);
            offset += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
            entries.push_back({name, entry->d_type});
        }
    }
    return entries;
}

class Walk {
public:
    Walk(std::string base, std::size_t max)
        : base_(std::move(base)), max_(max), dotWalkMax_(Files::testSeams().dotWalkMax) {}

    Files::Listing run() {
        int fd = ::open(base_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return {};
        std::string rel;
        walk(fd, rel, false, 0);
        if (done_) return {std::move(documents_), true};

        sortPaths(hidden_);
        std::size_t room = max_ - documents_.size();
        if (hidden_.size() > room) {
            truncated_ = true;
            hidden_.resize(room);
        }
        for (auto& path : hidden_) documents_.push_back(std::move(path));
        sortPaths(documents_);
        return {std::move(documents_), truncated_};
    }

private:
    // Walks an open folder (owning `fd`) whose relative path is `rel`, each
    // entry before its contents and each folder's contents before the next
    // sibling, as a recursive enumerator yields them.
    void walk(int fd, std::string& rel, bool dotted, int depth) {
        std::vector<Entry> entries = readFolder(fd);
        if (depth >= heldDepth) {
            ::close(fd);
            fd = -1;
        }
        for (const Entry& entry : entries) {
            if (done_) break;
            const std::string& name = entry.name;
            // The page names documents by UTF-8 text: anything else it could not
            // ask for, and would break the answer for every other document.
            if (!UTF8::isValid(name)) continue;

            bool isLink = entry.type == DT_LNK;
            bool isFolder = entry.type == DT_DIR;
            if (entry.type == DT_UNKNOWN) {
                struct stat info;
                int found = fd >= 0 ? ::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW)
                                    : ::lstat((base_ + "/" + rel + "/" + name).c_str(), &info);
                // A type that cannot be read counts as a folder; entering it then fails quietly.
                isFolder = found != 0 || S_ISDIR(info.st_mode);
                isLink = found == 0 && S_ISLNK(info.st_mode);
            }
            bool hiddenName = name[0] == '.';
            bool entryDotted = dotted || hiddenName;

            if (entryDotted) {
                ++visits_;
                if (hidden_.size() > max_ || visits_ > dotWalkMax_) {
                    truncated_ = true;
                    continue;  // and its contents are not walked
                }
            }
            if (Files::isWalkedPast(name)) continue;
            if (hiddenName) {
                if (!isFolder) continue;  // hidden files are never listed
                // A hidden folder's own name is never a document the page may
                // ask for (the path rules refuse a hidden last part).
                descend(fd, rel, name, true, depth);
                continue;
            }

            if (Files::isMarkdown(name)) {
                std::size_t mark = rel.size();
                if (!rel.empty()) rel += '/';
                rel += name;
                if (accepted(rel, name, isLink)) {
                    (entryDotted ? hidden_ : documents_).push_back(rel);
                    if (documents_.size() > max_) {
                        sortPaths(documents_);
                        documents_.resize(max_);
                        done_ = true;
                    }
                }
                rel.resize(mark);
            }
            if (isFolder && !done_) descend(fd, rel, name, entryDotted, depth);
        }
        if (fd >= 0) ::close(fd);
    }

    void descend(int fd, std::string& rel, const std::string& name, bool dotted, int depth) {
        std::size_t mark = rel.size();
        if (!rel.empty()) rel += '/';
        rel += name;
        int child = fd >= 0 ? ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                            : ::open((base_ + "/" + rel).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child >= 0) {
            bool backslash = name.find('\\') != std::string::npos;
            parts_.push_back(name);
            backslashParts_ += backslash;
            walk(child, rel, dotted, depth + 1);
            backslashParts_ -= backslash;
            parts_.pop_back();
        }
        rel.resize(mark);
    }

    // Whether the page may read the Markdown document at `rel` (named `name`).
    // A link may lead anywhere, so it gets the whole resolution. Any other
    // entry lies below folders that are not links either (none is entered),
    // so the rules on the text decide alone: those of Files::lexical, applied
    // to the parts the walk already holds instead of splitting the path again.
    bool accepted(const std::string& rel, const std::string& name, bool isLink) {
        if (isLink) {
            try {
                Files::resolve(rel, base_);
                return true;
            } catch (const BridgeError&) {
                return false;
            }
        }
        if (backslashParts_ > 0 || name.find('\\') != std::string::npos) return false;
        parts_.push_back(name);
        bool refused = Files::isPrivate(parts_);
        parts_.pop_back();
        return !refused;
    }

    const std::string base_;
    const std::size_t max_;
    const long dotWalkMax_;
    std::vector<std::string> documents_;
    std::vector<std::string> hidden_;
    // The parts of the folder being walked, and how many of them hold a backslash.
    std::vector<std::string> parts_;
    int backslashParts_ = 0;
    long visits_ = 0;
    bool truncated_ = false;
    bool done_ = false;
};

}  // namespace

namespace Files {

Listing list(const std::string& folder, std::size_t max) {
    try {
        return Walk(realPath(folder), max).run();
    } catch (...) {
        // Out of memory or a failing text conversion: a listing never fails.
        return {};
    }
}

}  // namespace Files
