// The settings endpoints: all keys always, changes through the rules, refusals.
#include <gtest/gtest.h>

#include "tests/support/BridgeHarness.hpp"

namespace {

using json = nlohmann::json;

TEST(SettingsRoutes, AnswerAllKeysAndKeepValidChanges) {
    BridgeHarness h;
    Answer fresh = h.request("GET", "/api/settings");
    ASSERT_EQ(fresh.status, 200);
    EXPECT_EQ(fresh.json(), Settings::defaults());

    Answer changed = h.request("POST", "/api/settings", R"({"theme": "dark", "extra": 1, "width": "Wide"})");
    ASSERT_EQ(changed.status, 200);
    json expected = Settings::defaults();
    expected["theme"] = "dark";
    EXPECT_EQ(changed.json(), expected);
    EXPECT_EQ(json::parse(TempDir::read(h.dataHome() + "/Quillmarsh/settings.json")), expected);

    // A new launch reads them back.
    h.makeBridge();
    EXPECT_EQ(h.request("GET", "/api/settings").json(), expected);
}

TEST(SettingsRoutes, ABodyThatIsNotAnObjectIsRefused) {
    BridgeHarness h;
    for (std::string body : {"[]", "not json", "", "\"theme\"", "{\"theme\": "}) {
        Answer answer = h.request("POST", "/api/settings", body);
        EXPECT_EQ(answer.status, 400) << body;
        EXPECT_EQ(answer.error(), "settings must be an object") << body;
    }
    EXPECT_FALSE(std::filesystem::exists(h.dataHome() + "/Quillmarsh/settings.json"));
}

TEST(SettingsRoutes, SeenVersionIsTheRunningOneFromTheBuildInformation) {
    BridgeHarness h;
    std::string running = h.bridge->info.value("version", "");
    ASSERT_FALSE(running.empty());
    EXPECT_EQ(h.request("POST", "/api/settings", json({{"seenVersion", running}}).dump()).json()["seenVersion"], running);
    EXPECT_EQ(h.request("POST", "/api/settings", R"({"seenVersion": "0.0.1"})").json()["seenVersion"], running);
}

}  // namespace
