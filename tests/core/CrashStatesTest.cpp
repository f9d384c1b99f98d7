// Power cuts in the middle of every writer. Each test records what one
// operation asks of the file system (tests/support/WriteTrace), then builds
// every state a journaling file system may be left in by a power cut at any
// point of that trace, lays each one out in a scratch folder and checks the
// writer's promises on it with the program's own readers.
//
// The model of a power cut, deliberately pessimistic within what such a file
// system does promise:
//  - Bytes written to a file (write, ftruncate, an open that cuts it) are on
//    storage once an fsync of that file has returned; of the later ones, any
//    prefix may have reached storage, and the last write of that prefix may
//    have landed only in part (its first half stands for every cut). A file
//    never shows bytes nobody wrote: zeros appear only where an ftruncate
//    grew the file and the write that filled them was lost.
//  - A name made, changed or removed in a folder (create, rename, link,
//    unlink, mkdir, rmdir) is on storage once an fsync of that folder (of
//    both, for a rename between folders) has returned; before that it may or
//    may not have happened, independently of the file's bytes. A name on
//    storage in a folder whose own name was lost is gone with that folder.
//  - Name changes not yet on storage may have happened in any combination
//    that keeps the order per name: a later change of a name (or of a name
//    inside a new folder) never survives without the earlier ones.
// A file's permissions are not modelled; no promise checked here rests on them.
#include "core/Backups.hpp"
#include "core/BridgeError.hpp"
#include "core/DocumentRead.hpp"
#include "core/JSONFile.hpp"
#include "core/PluginFolder.hpp"
#include "core/RecoveryStore.hpp"
#include "core/SafeSave.hpp"
#include "tests/support/FaultInjection.hpp"
#include "tests/support/ScopedEnv.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/WriteTrace.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

using Kind = TraceEvent::Kind;

// Name changes not yet on storage, beyond which the combinations are sampled
// (a fixed seed, so every run checks the same states) instead of all tried.
constexpr std::size_t allCombinationsUpTo = 12;
constexpr int sampledCombinations = 4096;
constexpr std::uint32_t samplingSeed = 20261211;

// A state of the folder: its folders and its files' bytes, by path relative to it.
struct Tree {
    std::set<std::string> folders;
    std::map<std::string, std::string> files;

    std::string key() const {
        std::string out;
        for (const auto& folder : folders) out += "d" + folder + '\0';
        for (const auto& [name, bytes] : files) out += "f" + name + '\0' + std::to_string(bytes.size()) + ':' + bytes;
        return out;
    }
};

// What a check found: the first promise a state breaks, if any.
struct Verdict {
    std::string broken;
    void require(bool kept, const std::string& promise) {
        if (!kept && broken.empty()) broken = promise;
    }
};

using Check = std::function<void(const fs::path& state, bool acknowledged, Verdict& verdict)>;

struct Findings {
    int states = 0;
    bool sampled = false;
    // The first state that broke a promise: what broke, and how the state came about.
    std::string broken;
};

std::optional<std::string> readFile(const fs::path& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return std::nullopt;
    return TempDir::read(path.string());
}

// One step of the trace in the model's terms: names relative to the folder,
// files by number.
struct Step {
    Kind kind = Kind::create;
    std::string path = {};
    std::string to = {};
    int file = -1;
    bool folder = false;
    off_t offset = 0;
    std::string bytes = {};
    std::string told = {};  // the trace's own line, for the story of a broken state
};

bool isMetadata(Kind kind) {
    return kind == Kind::create || kind == Kind::rename || kind == Kind::link || kind == Kind::unlink ||
           kind == Kind::mkdir || kind == Kind::rmdir;
}

std::string parentOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool isInside(const std::string& path, const std::string& folder) {
    return folder.empty() ? !path.empty() : path.size() > folder.size() && path.starts_with(folder + "/");
}

std::vector<std::string> namesOf(const Step& step) {
    if (step.kind == Kind::rename || step.kind == Kind::link) return {step.path, step.to};
    return {step.path};
}

// The folders whose flush makes the step durable.
std::set<std::string> foldersOf(const Step& step) {
    std::set<std::string> folders;
    for (const auto& name : namesOf(step)) folders.insert(parentOf(name));
    return folders;
}

// Whether a name change must have happened for `later` to have happened.
bool dependsOn(const Step& later, const Step& earlier) {
    for (const auto& a : namesOf(later)) {
        for (const auto& b : namesOf(earlier)) {
            if (a == b) return true;
            if (earlier.kind == Kind::mkdir && isInside(a, b)) return true;
            if (later.kind == Kind::rmdir && isInside(b, a)) return true;
        }
    }
    return false;
}

// Builds and checks every crash state of one recorded operation.
class CrashStates {
public:
    CrashStates(const fs::path& root, const Tree& before, const std::map<std::string, FileIdentity>& identities,
                const std::vector<TraceEvent>& events)
        : before_(before) {
        std::map<FileIdentity, int> numbers;
        for (const auto& [name, identity] : identities) {
            numbers[identity] = static_cast<int>(initial_.size());
            initialNames_[name] = static_cast<int>(initial_.size());
            initial_.push_back(before.files.at(name));
        }
        const std::string top = root.string();
        auto relative = [&](const std::string& path) -> std::optional<std::string> {
            if (path == top) return std::string();
            if (path.starts_with(top + "/")) return path.substr(top.size() + 1);
            return std::nullopt;
        };
        for (const auto& event : events) {
            Step step{.kind = event.kind,
                      .folder = event.folder,
                      .offset = event.offset,
                      .bytes = event.bytes,
                      .told = WriteTrace::describe(event)};
            if (event.kind == Kind::write || event.kind == Kind::truncate ||
                (event.kind == Kind::fsync && !event.folder)) {
                auto found = numbers.find(event.file);
                if (found == numbers.end()) continue;  // a file outside the folder
                step.file = found->second;
            } else {
                auto path = relative(event.path);
                auto to = event.kind == Kind::rename || event.kind == Kind::link ? relative(event.to) : path;
                if (!path && !to) continue;
                if (!path || !to) {
                    ADD_FAILURE() << "a name moved across the edge of the modelled folder: " << step.told;
                    continue;
                }
                step.path = *path;
                step.to = *to;
                if (event.kind == Kind::create) {
                    step.file = static_cast<int>(initial_.size());
                    numbers[event.file] = step.file;
                    initial_.emplace_back();
                }
            }
            steps_.push_back(std::move(step));
        }
    }

    std::size_t steps() const { return steps_.size(); }

    Findings check(bool acknowledged, const Check& check) {
        Findings findings;
        TempDir scratch;
        std::set<std::string> seen;
        for (std::size_t cut = 0; cut <= steps_.size() && findings.broken.empty(); ++cut) {
            const bool promised = acknowledged && cut == steps_.size();
            forEachState(cut, findings, [&](const Tree& tree, const std::string& story) {
                if (!findings.broken.empty()) return;
                if (!seen.insert(tree.key() + (promised ? "!" : "")).second) return;
                ++findings.states;
                const fs::path state = scratch.path() / "state";
                fs::remove_all(state);
                lay(state, tree);
                Verdict verdict;
                check(state, promised, verdict);
                if (!verdict.broken.empty()) findings.broken = verdict.broken + "\n" + story;
            });
        }
        return findings;
    }

private:
    static void lay(const fs::path& at, const Tree& tree) {
        fs::create_directories(at);
        for (const auto& folder : tree.folders) fs::create_directories(at / folder);
        for (const auto& [name, bytes] : tree.files) {
            std::ofstream out(at / name, std::ios::binary | std::ios::trunc);
            out << bytes;
        }
    }

    bool flushedAfter(std::size_t step, std::size_t cut, const std::function<bool(const Step&)>& flushes) const {
        for (std::size_t later = step + 1; later < cut; ++later) {
            if (steps_[later].kind == Kind::fsync && flushes(steps_[later])) return true;
        }
        return false;
    }

    // Every state a power cut just before step `cut` may leave.
    void forEachState(std::size_t cut, Findings& findings,
                      const std::function<void(const Tree&, const std::string&)>& visit) const {
        // The name changes issued so far: those on storage happened; the others may have.
        std::vector<std::size_t> changes;
        std::vector<bool> durable;
        for (std::size_t i = 0; i < cut; ++i) {
            if (!isMetadata(steps_[i].kind)) continue;
            changes.push_back(i);
            bool onStorage = true;
            for (const auto& folder : foldersOf(steps_[i])) {
                onStorage = onStorage && flushedAfter(i, cut, [&](const Step& flush) {
                    return flush.folder && flush.path == folder;
                });
            }
            durable.push_back(onStorage);
        }
        // What each change needs, as positions in `changes`.
        std::vector<std::vector<std::size_t>> needs(changes.size());
        for (std::size_t b = 0; b < changes.size(); ++b) {
            for (std::size_t a = 0; a < b; ++a) {
                if (dependsOn(steps_[changes[b]], steps_[changes[a]])) needs[b].push_back(a);
            }
        }
        // A change on storage has happened, but shows only where what it needs
        // has too: a name flushed into a folder whose own name was lost is
        // gone with that folder.
        std::vector<std::size_t> free;
        for (std::size_t i = 0; i < changes.size(); ++i) {
            if (!durable[i]) free.push_back(i);
        }

        std::vector<std::uint64_t> masks;
        if (free.size() <= allCombinationsUpTo) {
            for (std::uint64_t mask = 0; mask < (std::uint64_t{1} << free.size()); ++mask) masks.push_back(mask);
        } else {
            findings.sampled = true;
            std::mt19937_64 random(samplingSeed + cut);
            masks.push_back(0);
            masks.push_back(~std::uint64_t{0});
            for (int i = 0; i < sampledCombinations; ++i) masks.push_back(random());
        }
        for (std::uint64_t mask : masks) {
            std::vector<bool> happened(changes.size(), false);
            for (std::size_t bit = 0; bit < free.size() && bit < 64; ++bit) {
                if (mask & (std::uint64_t{1} << bit)) happened[free[bit]] = true;
            }
            bool ordered = true;
            for (std::size_t b = 0; b < changes.size(); ++b) {
                bool needsHappened = true;
                for (std::size_t a : needs[b]) needsHappened = needsHappened && happened[a];
                if (durable[b]) happened[b] = needsHappened;
                else if (happened[b]) ordered = ordered && needsHappened;
            }
            if (!ordered) continue;
            visitContents(cut, changes, durable, happened, visit);
        }
    }

    // The names after the chosen changes, then every combination of the bytes
    // their files may hold.
    void visitContents(std::size_t cut, const std::vector<std::size_t>& changes, const std::vector<bool>& durable,
                       const std::vector<bool>& happened,
                       const std::function<void(const Tree&, const std::string&)>& visit) const {
        std::set<std::string> folders = before_.folders;
        std::map<std::string, int> names = initialNames_;
        std::string story = "power cut before step " + std::to_string(cut) + " of " + std::to_string(steps_.size());
        for (std::size_t i = 0; i < changes.size(); ++i) {
            const Step& step = steps_[changes[i]];
            story += "\n  " + std::string(happened[i] ? "[on disk] " : durable[i] ? "[gone with its folder] " : "[lost] ") +
                     step.told;
            if (!happened[i]) continue;
            switch (step.kind) {
                case Kind::create: names[step.path] = step.file; break;
                case Kind::rename:
                    if (names.count(step.path)) {
                        int file = names[step.path];
                        names.erase(step.path);
                        names[step.to] = file;
                    } else {
                        ADD_FAILURE() << "only files are renamed here: " << step.told;
                    }
                    break;
                case Kind::link:
                    if (names.count(step.path)) names[step.to] = names[step.path];
                    break;
                case Kind::unlink: names.erase(step.path); break;
                case Kind::mkdir: folders.insert(step.path); break;
                case Kind::rmdir: folders.erase(step.path); break;
                default: break;
            }
        }
        // Each reachable file's possible bytes.
        std::vector<int> files;
        for (const auto& [name, file] : names) {
            if (std::find(files.begin(), files.end(), file) == files.end()) files.push_back(file);
        }
        std::vector<std::vector<std::pair<std::string, std::string>>> choices;  // bytes, how
        for (int file : files) choices.push_back(contentsOf(file, cut));

        std::vector<std::size_t> pick(files.size(), 0);
        while (true) {
            Tree tree;
            tree.folders = folders;
            std::string told = story;
            std::map<int, const std::string*> bytesOf;
            for (std::size_t i = 0; i < files.size(); ++i) {
                bytesOf[files[i]] = &choices[i][pick[i]].first;
                if (choices[i].size() > 1) told += "\n  file " + std::to_string(files[i]) + ": " + choices[i][pick[i]].second;
            }
            for (const auto& [name, file] : names) tree.files[name] = *bytesOf[file];
            visit(tree, told);
            std::size_t i = 0;
            while (i < pick.size() && ++pick[i] == choices[i].size()) pick[i++] = 0;
            if (i == pick.size()) break;
        }
    }

    // The bytes file `file` may hold after a cut before step `cut`.
    std::vector<std::pair<std::string, std::string>> contentsOf(int file, std::size_t cut) const {
        std::vector<std::size_t> changes;
        std::size_t durableCount = 0;
        for (std::size_t i = 0; i < cut; ++i) {
            const Step& step = steps_[i];
            if (step.file != file) continue;
            if (step.kind == Kind::write || step.kind == Kind::truncate) changes.push_back(i);
            if (step.kind == Kind::fsync) durableCount = changes.size();
        }
        auto apply = [](std::string& bytes, const Step& step, std::size_t length) {
            if (step.kind == Kind::truncate) {
                bytes.resize(static_cast<std::size_t>(step.offset), '\0');
                return;
            }
            const auto at = static_cast<std::size_t>(step.offset);
            if (bytes.size() < at + length) bytes.resize(at + length, '\0');
            bytes.replace(at, length, step.bytes.substr(0, length));
        };
        std::string bytes = initial_[static_cast<std::size_t>(file)];
        for (std::size_t i = 0; i < durableCount; ++i) apply(bytes, steps_[changes[i]], steps_[changes[i]].bytes.size());
        std::vector<std::pair<std::string, std::string>> choices{{bytes, "unflushed changes lost"}};
        for (std::size_t i = durableCount; i < changes.size(); ++i) {
            const Step& step = steps_[changes[i]];
            if (step.kind == Kind::write && step.bytes.size() > 1) {
                std::string torn = bytes;
                apply(torn, step, step.bytes.size() / 2);
                choices.push_back({torn, "torn in " + step.told});
            }
            apply(bytes, step, step.bytes.size());
            choices.push_back({bytes, "up to " + step.told});
        }
        return choices;
    }

    Tree before_;
    std::map<std::string, int> initialNames_;
    std::vector<std::string> initial_;  // each file's bytes before the operation (new files: none)
    std::vector<Step> steps_;
};

// Records `operation` on the folder `root` (which it must not leave), then
// checks every crash state of it; prints the count for the test log.
Findings powerCuts(const std::string& label, const fs::path& folder, const std::function<bool()>& operation,
                   const Check& check) {
    const fs::path root = fs::canonical(folder);
    Tree before;
    std::map<std::string, FileIdentity> identities;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().lexically_relative(root).string();
        if (entry.is_directory()) before.folders.insert(name);
        if (!entry.is_regular_file()) continue;
        before.files[name] = TempDir::read(entry.path().string());
        struct stat status {};
        EXPECT_EQ(::stat(entry.path().c_str(), &status), 0);
        identities[name] = {status.st_dev, status.st_ino};
    }
    std::vector<TraceEvent> events;
    bool acknowledged = false;
    {
        WriteTrace trace;
        acknowledged = operation();
        events = trace.events();
    }
    CrashStates states(root, before, identities, events);
    Findings findings = states.check(acknowledged, check);
    std::cout << "[ power cut ] " << label << ": " << findings.states << " crash states from " << states.steps()
              << " steps" << (findings.sampled ? " (combinations sampled)" : "") << std::endl;
    testing::Test::RecordProperty("crashStates", findings.states);
    return findings;
}

// --- a document saved beside itself, its earlier version kept as a backup -----

struct SaveCase {
    const char* name;
    std::optional<std::string> earlier;  // the document before the save; none: a new one
    bool viaReplacementFolder = false;
};

void PrintTo(const SaveCase& c, std::ostream* out) { *out << c.name; }

// Whether a copy of the replacement-folder route under `cache` holds `text`
// whole under the document's name, as the next start looks for it.
bool holdsCopyOf(const fs::path& cache, const std::string& text) {
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(cache, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (it->path().filename() == "a.md" && readFile(it->path()) == text) return true;
    }
    return false;
}

class CrashStatesOfSave : public testing::TestWithParam<SaveCase> {};

TEST_P(CrashStatesOfSave, DocumentIsWholeOldOrNewAndItsBackupWhole) {
    const SaveCase& c = GetParam();
    const std::string text = "the new text\nof two lines\n";
    TempDir dir;
    fs::create_directories(dir.path() / "docs");
    if (c.earlier) dir.write("docs/a.md", *c.earlier);
    Backups backups(dir / "Backups");
    ScopedEnv cache("XDG_CACHE_HOME", dir / "cache");
    std::optional<std::string> backup;

    auto findings = powerCuts(
        std::string("save, ") + c.name, dir.path(),
        [&] {
            auto saved = Files::save(text, dir / "docs/a.md", c.earlier ? Files::version(*c.earlier) : "new",
                                     {.viaReplacementFolder = c.viaReplacementFolder, .backups = &backups});
            if (saved.backup) backup = fs::path(*saved.backup).lexically_relative(dir.path()).string();
            return true;
        },
        [&](const fs::path& state, bool acknowledged, Verdict& verdict) {
            auto document = readFile(state / "docs/a.md");
            verdict.require(document == text || document == c.earlier || holdsCopyOf(state / "cache", text),
                            "the document is whole old or whole new, or the new text is whole in a copy for Backups");
            verdict.require(!acknowledged || document == text, "a saved document holds the new text");
            if (backup && (acknowledged || document != c.earlier)) {
                verdict.require(readFile(state / *backup) == c.earlier, "the promised backup is whole");
            }
        });
    EXPECT_EQ(backup.has_value(), c.earlier.has_value());
    EXPECT_EQ(findings.broken, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, CrashStatesOfSave,
                         testing::Values(SaveCase{"ExistingDocument", "the earlier text written elsewhere\n"},
                                         SaveCase{"NewDocument", std::nullopt},
                                         SaveCase{"ReplacementFolderRoute", "the earlier, longer text written elsewhere\n",
                                                  true}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- a recovery keep -----------------------------------------------------------

struct KeepCase {
    const char* name;
    std::optional<std::string> earlier;  // the text of an earlier keep of the same id
};

void PrintTo(const KeepCase& c, std::ostream* out) { *out << c.name; }

const std::string keepId = "draft-1";

// The text a recovery store at `folder` gives back, or none when it has nothing for the id.
std::optional<std::string> keptText(const fs::path& folder) {
    try {
        return RecoveryStore(folder.string()).entry(keepId).text;
    } catch (const BridgeError&) {
        return std::nullopt;
    }
}

void keep(RecoveryStore& store, const std::string& text) {
    store.put(keepId, "plan.md", std::nullopt, std::nullopt, "v1", text);
}

class CrashStatesOfKeep : public testing::TestWithParam<KeepCase> {};

TEST_P(CrashStatesOfKeep, EntryParsesToTheOldOrNewText) {
    const KeepCase& c = GetParam();
    const std::string text = "typed but not saved";
    TempDir dir;
    RecoveryStore store(dir / "support/recovery");
    if (c.earlier) keep(store, *c.earlier);

    auto findings = powerCuts(
        std::string("recovery keep, ") + c.name, dir.path(),
        [&] {
            keep(store, text);
            return true;
        },
        [&](const fs::path& state, bool acknowledged, Verdict& verdict) {
            auto kept = keptText(state / "support/recovery");
            verdict.require(kept || !fs::exists(state / "support/recovery" / (keepId + ".json")),
                            "an entry file that is there parses");
            verdict.require(kept == text || kept == c.earlier, "the entry parses to the old or the new text");
            verdict.require(!acknowledged || kept == text, "an acknowledged keep holds the new text");
        });
    EXPECT_EQ(findings.broken, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, CrashStatesOfKeep,
                         testing::Values(KeepCase{"FirstKeep", std::nullopt},
                                         KeepCase{"ReplacingAnEarlierKeep", "typed earlier"}),
                         [](const auto& info) { return std::string(info.param.name); });

// The model must be able to fail: a keep whose folder flushes are skipped
// (each reports success without reaching the disk) loses an acknowledged entry
// in some crash state.
TEST(CrashStates, SkippedFolderFlushLosesAnAcknowledgedKeep) {
    TempDir dir;
    RecoveryStore store(dir / "support/recovery");
    keep(store, "typed earlier");

    auto findings = powerCuts(
        "recovery keep without folder flushes", dir.path(),
        [&] {
            SysCallsGuard guard;
            auto flush = sysCalls().fsync;
            sysCalls().fsync = [flush](int fd) {
                struct stat status {};
                if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) return 0;
                return flush(fd);
            };
            keep(store, "typed later");
            return true;
        },
        [&](const fs::path& state, bool acknowledged, Verdict& verdict) {
            auto kept = keptText(state / "support/recovery");
            verdict.require(!acknowledged || kept == "typed later", "an acknowledged keep holds the new text");
        });
    EXPECT_NE(findings.broken.find("an acknowledged keep holds the new text"), std::string::npos) << findings.broken;
}

// --- a file a plugin creates beside one of the same name --------------------------

struct CreateCase {
    const char* name;
    // The file system cannot rename without replacing, so the new name is a hard link.
    bool viaLink;
};

void PrintTo(const CreateCase& c, std::ostream* out) { *out << c.name; }

class CrashStatesOfPluginCreate : public testing::TestWithParam<CreateCase> {};

TEST_P(CrashStatesOfPluginCreate, NeverShowsAPartFileOrTouchesTheOther) {
    const CreateCase& c = GetParam();
    const std::string theirs = "written before\n";
    const std::string mine = "created by the plugin\n";
    TempDir dir;
    dir.write("plugin/Note.md", theirs);
    std::string created;

    auto findings = powerCuts(
        std::string("plugin create, ") + c.name, dir.path(),
        [&] {
            std::optional<FaultInjection> noRenameWithoutReplacing;
            if (c.viaLink) noRenameWithoutReplacing.emplace(SysCall::renameNoReplace, 1, EINVAL,
                                                            FaultInjection::Repeat::always);
            created = PluginFolder::create(dir / "plugin", "Note", mine);
            return true;
        },
        [&](const fs::path& state, bool acknowledged, Verdict& verdict) {
            auto listed = PluginFolder::listing((state / "plugin").string());
            bool whole = true;
            for (const auto& file : listed) whole = whole && (file["text"] == theirs || file["text"] == mine);
            verdict.require(whole, "every listed file is whole");
            verdict.require(readFile(state / "plugin/Note.md") == theirs, "the file of the same name is untouched");
            auto ours = readFile(state / "plugin" / created);
            verdict.require(!ours || ours == mine, "the created file is whole");
            verdict.require(!acknowledged || ours == mine, "an acknowledged create holds its text");
        });
    EXPECT_EQ(created, "Note 2.md");
    EXPECT_EQ(findings.broken, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, CrashStatesOfPluginCreate,
                         testing::Values(CreateCase{"RenameWithoutReplacing", false},
                                         CreateCase{"HardLink", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- a remembered-state file --------------------------------------------------

struct StoreCase {
    const char* name;
    std::optional<nlohmann::json> earlier;  // the file's value before; none: no file, no folder
};

void PrintTo(const StoreCase& c, std::ostream* out) { *out << c.name; }

class CrashStatesOfStore : public testing::TestWithParam<StoreCase> {};

TEST_P(CrashStatesOfStore, FileLoadsToTheOldOrNewValue) {
    const StoreCase& c = GetParam();
    const nlohmann::json value = {{"theme", "dark"}, {"fontSize", 15}, {"recent", {"a.md", "b.md"}}};
    TempDir dir;
    const std::string relative = "config/Quillmarsh/settings.json";
    if (c.earlier) JSONFile(dir / relative).save(*c.earlier);

    auto findings = powerCuts(
        std::string("store save, ") + c.name, dir.path(),
        [&] {
            JSONFile(dir / relative).save(value);
            return false;  // a store's save acknowledges nothing
        },
        [&](const fs::path& state, bool, Verdict& verdict) {
            auto loaded = JSONFile((state / relative).string()).load();
            verdict.require(loaded || !fs::exists(state / relative), "a file that is there loads");
            verdict.require(loaded == value || loaded == c.earlier, "the file loads to the old or the new value");
        });
    EXPECT_EQ(JSONFile(dir / relative).load(), value);
    EXPECT_EQ(findings.broken, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, CrashStatesOfStore,
                         testing::Values(StoreCase{"FirstSave", std::nullopt},
                                         StoreCase{"ReplacingTheFile", nlohmann::json{{"theme", "light"}}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
