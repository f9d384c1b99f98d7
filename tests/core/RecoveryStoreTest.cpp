#include "core/RecoveryStore.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "core/BridgeError.hpp"
#include "tests/support/FaultInjection.hpp"
#include "tests/support/Refusal.hpp"
#include "tests/support/TempDir.hpp"

namespace fs = std::filesystem;

namespace {

const std::string goodId = "draft-1";

struct StoreFixture {
    TempDir dir;
    RecoveryStore store{dir / "support/recovery"};

    void keep(const std::string& text, const std::string& id = goodId) {
        store.put(id, "plan.md", dir / "plan.md", std::nullopt, "v1", text);
    }
    std::string entryFile(const std::string& id = goodId) const { return store.folder() + "/" + id + ".json"; }
    // An entry file laid out by hand, as an older or damaged program left it.
    void lay(const std::string& fileName, const std::string& bytes) const {
        dir.write("support/recovery/" + fileName, bytes);
    }
    std::vector<std::string> namesInFolder() const {
        std::vector<std::string> names;
        if (!fs::exists(store.folder())) return names;
        for (const auto& entry : fs::directory_iterator(store.folder())) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// --- ids --------------------------------------------------------------------

struct IdCase {
    const char* name;
    std::string id;
    bool accepted;
};

void PrintTo(const IdCase& c, std::ostream* out) { *out << c.name; }

class RecoveryIds : public testing::TestWithParam<IdCase> {};

TEST_P(RecoveryIds, OnlyTheRuleNamesAFile) {
    StoreFixture f;
    const IdCase& c = GetParam();
    auto kept = refusal([&] { f.keep("text", c.id); });
    if (c.accepted) {
        EXPECT_FALSE(kept) << kept->message;
        EXPECT_EQ(f.store.entry(c.id).text, "text");
        f.store.clear(c.id);
        EXPECT_EQ(f.namesInFolder(), std::vector<std::string>{});
        return;
    }
    ASSERT_TRUE(kept);
    EXPECT_EQ(*kept, BridgeError(400, "bad recovery id"));
    EXPECT_EQ(refusal([&] { f.store.entry(c.id); }), BridgeError(400, "bad recovery id"));
    // A refused keep leaves nothing on disk, not even the folder.
    EXPECT_FALSE(fs::exists(f.store.folder()));
    // Nothing a bad id could name outside the folder goes away.
    std::string outside = f.dir.write("support/victim.json", "{}");
    f.store.clear(c.id);
    f.store.clear("../victim");
    EXPECT_TRUE(fs::exists(outside));
}

INSTANTIATE_TEST_SUITE_P(
    Store, RecoveryIds,
    testing::Values(IdCase{"Five", "abcde", false}, IdCase{"Six", "abc-_9", true},
                    IdCase{"Forty", std::string(40, 'x'), true}, IdCase{"FortyOne", std::string(41, 'x'), false},
                    IdCase{"Dot", "abc.def", false}, IdCase{"Slash", "abc/def", false},
                    IdCase{"DotDot", "..abcdef", false}, IdCase{"TrailingLineBreak", "abcdef\n", false},
                    IdCase{"Empty", "", false}, IdCase{"NotASCII", "abcd\xC3\xA9", false},
                    IdCase{"Blank", "abc def", false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- keeping ----------------------------------------------------------------

TEST(RecoveryStore, KeepingTwiceLeavesOnePrivateEntryWithTheSecondText) {
    StoreFixture f;
    mode_t before = ::umask(0);  // the modes must not depend on the umask
    f.keep("first");
    f.store.put(goodId, "other.md", std::nullopt, std::string("QUJD"), "v2", "second \"quoted\"\n\ttext \xC3\xA9");
    ::umask(before);

    EXPECT_EQ(f.namesInFolder(), std::vector<std::string>{goodId + ".json"});
    EXPECT_EQ(permissionsOf(f.entryFile()), 0600u);
    EXPECT_EQ(permissionsOf(f.store.folder()), 0700u);
    RecoveryStore::Entry entry = f.store.entry(goodId);
    EXPECT_EQ(entry.text, "second \"quoted\"\n\ttext \xC3\xA9");
    EXPECT_EQ(entry.name, "other.md");
    EXPECT_EQ(entry.location, std::nullopt);
    EXPECT_EQ(entry.bookmark, "QUJD");

    // Compact JSON with exactly the members of an entry.
    auto onDisk = nlohmann::json::parse(TempDir::read(f.entryFile()));
    EXPECT_EQ(TempDir::read(f.entryFile()).find('\n'), std::string::npos);
    EXPECT_EQ(onDisk.size(), 5u);
    EXPECT_EQ(onDisk["base"], "v2");
    EXPECT_TRUE(onDisk["savedAt"].is_number_integer());
    EXPECT_GT(onDisk["savedAt"].get<long long>(), 1'700'000'000);
}

TEST(RecoveryStore, AnEntryWithAWiderModeIsReplacedByAPrivateOne) {
    StoreFixture f;
    f.lay(goodId + ".json", R"({"text": "old"})");
    fs::permissions(f.entryFile(), fs::perms(0644));
    f.keep("new");
    EXPECT_EQ(permissionsOf(f.entryFile()), 0600u);
    EXPECT_EQ(f.store.entry(goodId).text, "new");
}

TEST(RecoveryStore, ClearRemovesTheEntryAndIgnoresWhatIsNotThere) {
    StoreFixture f;
    f.keep("text");
    f.store.clear(goodId);
    f.store.clear(goodId);
    f.store.clear("never-kept");
    EXPECT_EQ(refusal([&] { f.store.entry(goodId); }), BridgeError(404, "nothing to recover with that id"));
}

// --- listing and reading what is on disk ---------------------------------------

TEST(RecoveryStore, ListingOfAMissingFolderIsEmpty) {
    StoreFixture f;
    EXPECT_EQ(f.store.listing(), nlohmann::json::array());
    EXPECT_FALSE(fs::exists(f.store.folder()));
}

TEST(RecoveryStore, ListingSummarisesEntriesNewestFirst) {
    StoreFixture f;
    const std::string threeAccented = "\xC3\xA9\xC3\xA8" "e\xCC\x81";  // é, è, e + combining accent
    f.lay("older-1.json", R"({"name": "a.md", "location": "/d/a.md", "base": "v1", "savedAt": 100, "text": ")" +
                              threeAccented + R"("})");
    f.lay("newer-1.json", R"({"savedAt": 200, "text": "line\r\nnext"})");
    f.lay("nothing.json", R"({})");
    // Not entries: another extension, an array, a name no id can be.
    f.lay("notes-1.txt", R"({"text": "x", "savedAt": 300})");
    f.lay("array-1.json", R"([{"text": "x", "savedAt": 300}])");
    f.lay("bad.id.json", R"({"text": "x", "savedAt": 300})");
    f.lay(".hidden.json", R"({"text": "x", "savedAt": 300})");

    auto expected = nlohmann::json::parse(R"([
        {"id": "newer-1", "name": "Untitled.md", "location": null, "base": "", "savedAt": 200, "size": 9},
        {"id": "older-1", "name": "a.md", "location": "/d/a.md", "base": "v1", "savedAt": 100, "size": 3},
        {"id": "nothing", "name": "Untitled.md", "location": null, "base": "", "savedAt": 0, "size": 0}
    ])");
    EXPECT_EQ(f.store.listing(), expected);
}

// Files no program of ours wrote whole: each is skipped or read with defaults,
// never a crash, never a refusal of the whole listing.
struct DamagedCase {
    const char* name;
    std::string bytes;
    bool listed;  // as a summary with defaults; else skipped, and entry() answers 404
};

void PrintTo(const DamagedCase& c, std::ostream* out) { *out << c.name; }

class DamagedEntries : public testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedEntries, AreSkippedOrReadWithDefaults) {
    StoreFixture f;
    f.keep("good text", "good-entry");
    f.lay("damaged.json", GetParam().bytes);
    auto items = f.store.listing();
    ASSERT_EQ(items.size(), GetParam().listed ? 2u : 1u);
    EXPECT_EQ(items[0]["id"], "good-entry");
    auto read = refusal([&] { f.store.entry("damaged"); });
    if (!GetParam().listed) {
        EXPECT_EQ(read, BridgeError(404, "nothing to recover with that id"));
        return;
    }
    EXPECT_FALSE(read);
    auto summary = items[1];
    EXPECT_EQ(summary["name"], "Untitled.md");
    EXPECT_EQ(summary["location"], nullptr);
    EXPECT_EQ(summary["savedAt"], 0);
    EXPECT_EQ(summary["size"], 0);
    RecoveryStore::Entry entry = f.store.entry("damaged");
    EXPECT_EQ(entry.text, "");
    EXPECT_EQ(entry.name, "Untitled.md");
    EXPECT_EQ(entry.location, std::nullopt);
    EXPECT_EQ(entry.bookmark, std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Store, DamagedEntries,
    testing::Values(
        DamagedCase{"Truncated", R"({"name": "a.md", "text": "half of it)", false},
        DamagedCase{"Empty", "", false},
        DamagedCase{"Number", "42", false},
        DamagedCase{"NotUTF8", "{\"text\": \"\xFF\xFE\", \"savedAt\": 5}", false},
        DamagedCase{"DeeplyNested", std::string(100000, '[') + std::string(100000, ']'), false},
        DamagedCase{"HugeNumber", R"({"savedAt": 1e999, "text": "x"})", false},
        DamagedCase{"WrongTypes",
                    R"({"name": 5, "location": ["/d"], "base": {}, "savedAt": "today", "text": [1], "bookmark": "a b"})",
                    true},
        DamagedCase{"FractionalTime", R"({"savedAt": 1.5, "bookmark": 7})", true},
        DamagedCase{"NestedObjectsAsValues", R"({"name": {"name": "x"}, "text": {"text": "x"}})", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecoveryStore, AHugeEntryIsListedAndReadWhole) {
    StoreFixture f;
    std::string text(24 * 1024 * 1024, 'x');
    text += "\r\n";
    f.keep(text);
    auto items = f.store.listing();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]["size"], text.size() - 1);
    EXPECT_EQ(f.store.entry(goodId).text.size(), text.size());
}

TEST(RecoveryStore, AFolderInPlaceOfAnEntryIsNothingToRecover) {
    StoreFixture f;
    fs::create_directories(f.entryFile());
    EXPECT_EQ(refusal([&] { f.store.entry(goodId); }), BridgeError(404, "nothing to recover with that id"));
    EXPECT_EQ(f.store.listing(), nlohmann::json::array());
    // A keep cannot replace a folder: reported, not taken for success.
    EXPECT_EQ(refusal([&] { f.keep("text"); }).value_or(BridgeError(0, "")).status, 500);
    EXPECT_TRUE(fs::is_directory(f.entryFile()));
}

// --- faults -----------------------------------------------------------------

// Every system call of a keep over an earlier entry, failed once and for
// good: the keep reports the failure, leaves no temporary file, and the
// entry holds one whole text. A failure before the rename keeps the earlier
// text; one in the folder flush after it has the new text in place, but the
// page must still hear that it may not last.
struct FaultCase {
    const char* name;
    SysCall call;
    int nth;
    FaultInjection::Repeat repeat;
    bool afterRename;
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

class RecoveryFaults : public testing::TestWithParam<FaultCase> {};

TEST_P(RecoveryFaults, AFailedKeepIsReportedAndTheEntryStaysWhole) {
    StoreFixture f;
    f.keep("earlier text");
    const FaultCase& c = GetParam();
    std::optional<BridgeError> refused;
    {
        FaultInjection fail(c.call, c.nth, EIO, c.repeat);
        refused = refusal([&] { f.keep(std::string(100000, 'n')); });
        EXPECT_GE(fail.failures(), 1) << "the call was not made";
    }
    EXPECT_EQ(refused, BridgeError(500, "Input/output error"));
    EXPECT_EQ(f.namesInFolder(), std::vector<std::string>{goodId + ".json"});
    EXPECT_EQ(f.store.entry(goodId).text, c.afterRename ? std::string(100000, 'n') : "earlier text");
    EXPECT_EQ(permissionsOf(f.entryFile()), 0600u);
}

constexpr auto once = FaultInjection::Repeat::once;
constexpr auto always = FaultInjection::Repeat::always;

// In order: open, flock, fchmod, write, fsync and close of the temporary
// file; rename; open, fsync and close of the folder.
INSTANTIATE_TEST_SUITE_P(
    Store, RecoveryFaults,
    testing::Values(FaultCase{"OpenOnce", SysCall::open, 1, once, false},
                    FaultCase{"OpenAlways", SysCall::open, 1, always, false},
                    FaultCase{"Fchmod", SysCall::fchmod, 1, once, false},
                    FaultCase{"WriteOnce", SysCall::write, 1, once, false},
                    FaultCase{"WriteAlways", SysCall::write, 1, always, false},
                    FaultCase{"FileFsyncOnce", SysCall::fsync, 1, once, false},
                    FaultCase{"FsyncAlways", SysCall::fsync, 1, always, false},
                    FaultCase{"FileCloseOnce", SysCall::close, 1, once, false},
                    FaultCase{"CloseAlways", SysCall::close, 1, always, false},
                    FaultCase{"RenameOnce", SysCall::rename, 1, once, false},
                    FaultCase{"RenameAlways", SysCall::rename, 1, always, false},
                    FaultCase{"FolderOpenOnce", SysCall::open, 2, once, true},
                    FaultCase{"FolderFsyncOnce", SysCall::fsync, 2, once, true},
                    FaultCase{"FolderFsyncAlways", SysCall::fsync, 2, always, true},
                    FaultCase{"FolderCloseOnce", SysCall::close, 2, once, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecoveryStore, AFolderThatCannotBeMadeOrFlushedFailsTheFirstKeep) {
    for (SysCall call : {SysCall::mkdir, SysCall::fsync}) {
        StoreFixture f;
        {
            FaultInjection fail(call, 1, ENOSPC);
            EXPECT_EQ(refusal([&] { f.keep("text"); }), BridgeError(500, "No space left on device"))
                << sysCallName(call);
        }
        EXPECT_EQ(f.namesInFolder(), std::vector<std::string>{}) << sysCallName(call);
        // The next keep makes up for it.
        f.keep("text");
        EXPECT_EQ(f.store.entry(goodId).text, "text");
    }
}

}  // namespace
