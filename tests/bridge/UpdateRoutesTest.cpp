// The update endpoints: when a check runs, what it remembers, the answers the
// page gets, and the tools page opened in the browser.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <ostream>

#include "core/UpdateCheck.hpp"
#include "tests/support/BridgeHarness.hpp"
#include "tests/support/ConsoleProcess.hpp"
#include "tests/support/FeedServer.hpp"

namespace fs = std::filesystem;

namespace {

double secondsNow() {
    using namespace std::chrono;
    return duration_cast<duration<double>>(system_clock::now().time_since_epoch()).count();
}

class UpdateRoutes : public ::testing::Test {
protected:
    // One server for the suite: its certificates and process are the slow part.
    static void SetUpTestSuite() { server = new FeedServer(); }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    void SetUp() override { pointAt(server->url("/current")); }

    void pointAt(const std::string& feed, std::chrono::milliseconds timeout = UpdateCheck::timeout) {
        h.bridge->updateOptions = {feed, server->caFile(), timeout};
    }
    void setSettings(const nlohmann::json& values) {
        ASSERT_EQ(h.request("POST", "/api/settings", values.dump()).status, 200);
    }
    std::string stateFile() const { return h.dataHome() + "/Quillmarsh/update-check.json"; }
    void storeLast(double seconds) { h.dir.write("data/Quillmarsh/update-check.json", nlohmann::json{{"last", seconds}}.dump()); }
    std::optional<double> storedLast() const {
        if (!fs::exists(stateFile())) return std::nullopt;
        auto state = nlohmann::json::parse(TempDir::read(stateFile()));
        return state.at("last").get<double>();
    }
    size_t requestsSeen() { return server->requests().size(); }

    static FeedServer* server;
    BridgeHarness h;
};

FeedServer* UpdateRoutes::server = nullptr;

const nlohmann::json notDue = {{"state", "not-due"}};

TEST_F(UpdateRoutes, AutomaticChecksWaitForConsent) {
    for (const char* choice : {"ask", "off"}) {
        SCOPED_TRACE(choice);
        setSettings({{"updates", choice}});
        size_t before = requestsSeen();
        EXPECT_EQ(h.request("GET", "/api/update/check?auto=1").json(), notDue);
        EXPECT_FALSE(fs::exists(stateFile()));
        // Anything but "1" is a check the user asked for.
        EXPECT_EQ(h.request("GET", "/api/update/check?auto=yes").json()["state"], "current");
        EXPECT_EQ(requestsSeen(), before + 1);
        fs::remove(stateFile());
    }
}

TEST_F(UpdateRoutes, AutomaticChecksRunOncePerDay) {
    setSettings({{"updates", "on"}});
    const double hour = 3600;
    const double twoHoursAgo = secondsNow() - 2 * hour;
    storeLast(twoHoursAgo);
    size_t before = requestsSeen();
    EXPECT_EQ(h.request("GET", "/api/update/check?auto=1").json(), notDue);
    EXPECT_EQ(storedLast(), twoHoursAgo);
    EXPECT_EQ(requestsSeen(), before);

    storeLast(secondsNow() - 25 * hour);
    double asked = secondsNow();
    EXPECT_EQ(h.request("GET", "/api/update/check?auto=1").json()["state"], "current");
    double answered = secondsNow();
    ASSERT_TRUE(storedLast().has_value());
    EXPECT_GE(*storedLast(), asked);
    EXPECT_LE(*storedLast(), answered);
    EXPECT_EQ(requestsSeen(), before + 1);

    // The check just made postpones the next automatic one.
    EXPECT_EQ(h.request("GET", "/api/update/check?auto=1").json(), notDue);
}

TEST_F(UpdateRoutes, DamagedStateCountsAsNoCheck) {
    setSettings({{"updates", "on"}});
    for (const char* state : {"not json", R"({"last": "yesterday"})", "[]"}) {
        SCOPED_TRACE(state);
        h.dir.write("data/Quillmarsh/update-check.json", state);
        EXPECT_EQ(h.request("GET", "/api/update/check?auto=1").json()["state"], "current");
    }
}

struct AnswerCase {
    std::string name;
    std::string path;
    std::string skip;
    nlohmann::json expected;
    bool online = true;
};

void PrintTo(const AnswerCase& c, std::ostream* out) { *out << c.name; }

class UpdateAnswers : public UpdateRoutes, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(UpdateAnswers, ShapeAndLogLine) {
    const AnswerCase& c = GetParam();
    pointAt(c.path == "refused" ? server->refusedURL() : server->url(c.path));
    setSettings({{"updateSkip", c.skip}});
    h.platform.networkOnline = c.online;
    Answer answer = h.request("GET", "/api/update/check");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json(), c.expected);
    auto logged = h.log.messages();
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.back(), "update check: " + c.expected["state"].get<std::string>());
}

INSTANTIATE_TEST_SUITE_P(
    UpdateRoutes, UpdateAnswers,
    ::testing::Values(
        AnswerCase{"Current", "/current", "", {{"current", "1.2.3"}, {"state", "current"}, {"latest", "1.2.3"}}},
        AnswerCase{"Newer",
                   "/newer",
                   "",
                   {{"current", "1.2.3"},
                    {"state", "newer"},
                    {"version", "2.0.0"},
                    {"notes", "Faster saves.\nFewer surprises."},
                    {"minMacOS", "13.5"},
                    {"fits", true},
                    {"skipped", false}}},
        AnswerCase{"NewerSkippedWithoutNotes",
                   "/newer-without-notes",
                   "2.0.0",
                   {{"current", "1.2.3"},
                    {"state", "newer"},
                    {"version", "2.0.0"},
                    {"notes", nullptr},
                    {"minMacOS", "13.5"},
                    {"fits", true},
                    {"skipped", true}}},
        // Skipping compares the text exactly, not the numbers.
        AnswerCase{"SkipOfAnotherSpelling",
                   "/newer",
                   "2.0.00",
                   {{"current", "1.2.3"},
                    {"state", "newer"},
                    {"version", "2.0.0"},
                    {"notes", "Faster saves.\nFewer surprises."},
                    {"minMacOS", "13.5"},
                    {"fits", true},
                    {"skipped", false}}},
        AnswerCase{"ServerRefuses",
                   "/missing",
                   "",
                   {{"current", "1.2.3"}, {"state", "failed"}, {"why", "the update server answered 404"}}},
        AnswerCase{"Offline",
                   "refused",
                   "",
                   {{"current", "1.2.3"}, {"state", "failed"}, {"why", "this computer is offline"}},
                   false}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return info.param.name; });

TEST_F(UpdateRoutes, ManualCheckRemembersItsStartAndQuitDoesNotWaitForIt) {
    // A limit far beyond the waits below: only the stop at quit ends the fetch in time.
    pointAt(server->url("/silent"), std::chrono::seconds(120));
    size_t before = requestsSeen();
    double asked = secondsNow();
    auto task = h.task("GET", "/api/update/check", std::string(), h.tokenHeaders());
    h.bridge->start(task);
    ASSERT_TRUE(server->waitForRequests(before + 1));
    // The server has the request and has not answered: the start is already on disk.
    ASSERT_TRUE(storedLast().has_value());
    EXPECT_GE(*storedLast(), asked);
    EXPECT_FALSE(task->answer.has_value());

    auto gone = std::async(std::launch::async, [&] { h.bridge.reset(); });
    EXPECT_EQ(gone.wait_for(std::chrono::seconds(20)), std::future_status::ready);
}

TEST_F(UpdateRoutes, DownloadOpensTheToolsPageOnTheMainThread) {
    size_t before = requestsSeen();
    Answer answer = h.request("POST", "/api/update/download");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json(), nlohmann::json({{"opened", "https://quillmarsh.example/quillmarsh"}}));
    ASSERT_TRUE(h.pumpUntil([&] { return !h.platform.openedURLs.empty(); }));
    EXPECT_EQ(h.platform.openedURLs, std::vector<std::string>{std::string(UpdateCheck::page)});
    EXPECT_FALSE(h.platform.openedOffMain);
    EXPECT_EQ(requestsSeen(), before);
}

TEST(UpdateRoutesDefaults, BridgeFetchesTheRealFeedWithinFiveSeconds) {
    BridgeHarness h;
    EXPECT_EQ(h.bridge->updateOptions.feed, UpdateCheck::feed);
    EXPECT_EQ(h.bridge->updateOptions.caFile, "");
    EXPECT_EQ(h.bridge->updateOptions.timeout, std::chrono::seconds(5));
}

TEST_F(UpdateRoutes, ConsoleOptionsAndNetworkLine) {
    TempDir home;
    auto check = [](int id) {
        return R"({"id": )" + std::to_string(id) +
               R"(, "url": "lornwick://app/api/update/check", "method": "GET", "headers": {"X-Quillmarsh-Token": "{{TOKEN}}"}})";
    };
    auto run = runConsole(QUILLMARSH_CONSOLE, QUILLMARSH_EDITOR_DIR, home.path().string(),
                          {check(1), R"({"wait": true})", R"({"online": false})", check(2)}, 120,
                          {"--update-feed", server->refusedURL(), "--update-ca", server->caFile(),
                           "--update-timeout-ms", "3000"});
    EXPECT_EQ(run.exitCode, 0);
    auto why = [&](int id) { return nlohmann::json::parse(run.answer(id).value("body", "{}")).value("why", ""); };
    EXPECT_EQ(why(1), "the update server could not be reached");
    EXPECT_EQ(why(2), "this computer is offline");
}

}  // namespace
