#include "core/SupportFolder.hpp"
#include "tests/support/FaultInjection.hpp"
#include "tests/support/LogCapture.hpp"
#include "tests/support/ScopedEnv.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

const std::string moved = "settings: moved from the earlier name";
const std::string notMoved = "settings: could not move from the earlier name; using it as it is";

struct FindCase {
    const char* name;
    bool current;            // "Quillmarsh" exists before
    bool earlier;            // "LornWick" exists before, holding settings.json
    bool moveFails;
    const char* found;       // the folder find answers
    const char* settingsIn;  // where settings.json is afterwards, or nullptr
    std::vector<std::string> logged;
};

class SupportFolderFind : public testing::TestWithParam<FindCase> {};

TEST_P(SupportFolderFind, TakesOverTheEarlierFolderOnlyWhenItIsTheOnlyOne) {
    const auto& c = GetParam();
    TempDir dataHome;
    LogCapture log;
    if (c.current) fs::create_directory(dataHome / "Quillmarsh");
    if (c.earlier) dataHome.write("LornWick/settings.json", "{\"theme\": \"dark\"}");
    std::optional<FaultInjection> failMove;
    if (c.moveFails) failMove.emplace(SysCall::renameNoReplace, 1, EACCES);

    auto found = SupportFolder::find(dataHome.path().string());

    EXPECT_EQ(found, dataHome / c.found);
    EXPECT_EQ(log.messages(), c.logged);
    if (c.settingsIn) {
        EXPECT_EQ(TempDir::read(dataHome / c.settingsIn), "{\"theme\": \"dark\"}");
    }
    // The folder it answers is never created here: the stores make it when they write.
    EXPECT_EQ(fs::exists(dataHome / "Quillmarsh"), c.current || (c.earlier && !c.moveFails));
    EXPECT_EQ(fs::exists(dataHome / "LornWick"), c.earlier && (c.current || c.moveFails));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, SupportFolderFind,
    testing::Values(FindCase{"neither", false, false, false, "Quillmarsh", nullptr, {}},
                    FindCase{"onlyEarlier", false, true, false, "Quillmarsh", "Quillmarsh/settings.json", {moved}},
                    FindCase{"both", true, true, false, "Quillmarsh", "LornWick/settings.json", {}},
                    FindCase{"onlyCurrent", true, false, false, "Quillmarsh", nullptr, {}},
                    FindCase{"onlyEarlierButTheMoveFails", false, true, true, "LornWick", "LornWick/settings.json",
                             {notMoved}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SupportFolder, ExistenceIsJudgedOnThePathsNotOnWhatStandsThere) {
    TempDir dataHome;
    LogCapture log;
    dataHome.write("LornWick", "a file under the earlier name");

    EXPECT_EQ(SupportFolder::find(dataHome.path().string()), dataHome / "Quillmarsh");
    EXPECT_EQ(TempDir::read(dataHome / "Quillmarsh"), "a file under the earlier name");
    EXPECT_EQ(log.messages(), std::vector<std::string>{moved});
}

struct DataHomeCase {
    const char* name;
    std::optional<std::string> dataHome;
    std::string expected;
};

class SupportFolderDataHome : public testing::TestWithParam<DataHomeCase> {};

TEST_P(SupportFolderDataHome, FollowsTheDataHome) {
    ScopedEnv home("HOME", "/home/someone");
    ScopedEnv data("XDG_DATA_HOME", GetParam().dataHome);

    EXPECT_EQ(SupportFolder::userDataHome(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Environment, SupportFolderDataHome,
                         testing::Values(DataHomeCase{"set", "/srv/data", "/srv/data"},
                                         DataHomeCase{"unset", std::nullopt, "/home/someone/.local/share"},
                                         DataHomeCase{"empty", "", "/home/someone/.local/share"},
                                         DataHomeCase{"relativeIsIgnored", "data", "/home/someone/.local/share"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
