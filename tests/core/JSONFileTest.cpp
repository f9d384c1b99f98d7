#include "core/JSONFile.hpp"
#include "tests/support/FaultInjection.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

struct LoadCase {
    const char* name;
    const char* contents;  // nullptr: no file at all
    std::optional<nlohmann::json> expected;
};

class JSONFileLoad : public testing::TestWithParam<LoadCase> {};

TEST_P(JSONFileLoad, GivesObjectsAndArraysOnly) {
    TempDir dir;
    auto path = dir / "state.json";
    if (GetParam().contents) dir.write("state.json", GetParam().contents);

    EXPECT_EQ(JSONFile(path).load(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Contents, JSONFileLoad,
    testing::Values(LoadCase{"emptyArray", "[]", nlohmann::json::array()},
                    LoadCase{"emptyObject", "{}", nlohmann::json::object()},
                    LoadCase{"anyLayout", "\n  {\"a\":[1,\n2]}  \n", nlohmann::json{{"a", {1, 2}}}},
                    LoadCase{"number", "42", std::nullopt},
                    LoadCase{"text", "\"text\"", std::nullopt},
                    LoadCase{"null", "null", std::nullopt},
                    LoadCase{"emptyFile", "", std::nullopt},
                    LoadCase{"cutShort", "{\"a\": [1, 2", std::nullopt},
                    LoadCase{"trailingGarbage", "{} {}", std::nullopt},
                    LoadCase{"invalidUTF8", "[\"\xff\"]", std::nullopt},
                    LoadCase{"missing", nullptr, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JSONFile, AFolderInPlaceOfTheFileLoadsAsNothing) {
    TempDir dir;
    fs::create_directory(dir / "state.json");

    EXPECT_EQ(JSONFile(dir / "state.json").load(), std::nullopt);
}

TEST(JSONFile, SaveCreatesMissingFoldersAndLoadsBackTheSameValue) {
    TempDir dir;
    JSONFile file(dir / "a/b/c/state.json");
    nlohmann::json value{{"name", "é ✓"}, {"list", {1, 2.5, nullptr, true}}, {"nested", {{"x", "y"}}}};

    file.save(value);

    EXPECT_EQ(file.load(), value);
}

TEST(JSONFile, SaveWritesIndentedTextWithSortedKeys) {
    TempDir dir;
    JSONFile file(dir / "state.json");
    nlohmann::json value = nlohmann::json::object();
    value["b"] = 1;
    value["a"] = {{"d", 2}, {"c", 3}};

    file.save(value);

    EXPECT_EQ(TempDir::read(file.path()),
              "{\n"
              "  \"a\": {\n"
              "    \"c\": 3,\n"
              "    \"d\": 2\n"
              "  },\n"
              "  \"b\": 1\n"
              "}\n");
}

TEST(JSONFile, EverySavedFileIsPrivateEvenWhenTheWriteFails) {
    TempDir dir;
    auto replaced = dir.write("replaced.json", "{}");
    auto failed = dir.write("failed.json", "{\"old\": 1}");
    ::chmod(replaced.c_str(), 0644);
    ::chmod(failed.c_str(), 0644);

    JSONFile(replaced).save({{"new", 1}});
    {
        FaultInjection fail(SysCall::rename, 1, EIO);
        JSONFile(failed).save({{"new", 1}});
    }

    EXPECT_EQ(permissionsOf(replaced), 0600u);
    EXPECT_EQ(permissionsOf(failed), 0600u);
    EXPECT_EQ(TempDir::read(failed), "{\"old\": 1}");
}

TEST(JSONFile, AValueThatCannotBeWrittenLeavesTheFileUnchanged) {
    TempDir dir;
    auto path = dir.write("state.json", "{\"old\": 1}");

    EXPECT_NO_THROW(JSONFile(path).save({{"bad", "\xff\xfe"}}));

    EXPECT_EQ(TempDir::read(path), "{\"old\": 1}");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(JSONFile, SaveIntoAnUnwritablePlaceIsSilent) {
    TempDir dir;
    dir.write("blocker", "a file where the folder should be");
    JSONFile file(dir / "blocker/state.json");

    EXPECT_NO_THROW(file.save({{"a", 1}}));
    EXPECT_EQ(file.load(), std::nullopt);
    EXPECT_EQ(TempDir::read(dir / "blocker"), "a file where the folder should be");
}

}  // namespace
