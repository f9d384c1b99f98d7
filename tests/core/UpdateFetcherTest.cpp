// One strict fetch of the update feed against a loopback HTTPS server: every
// way it ends gives exactly one result with the reason the user is shown.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <ostream>

#include "core/Dispatch.hpp"
#include "core/UpdateFetcher.hpp"
#include "tests/support/FeedServer.hpp"

namespace {

const std::string digest = std::string("0123456789abcdef") + "0123456789abcdef" + "0123456789abcdef" + "0123456789abcdef";

UpdateInfo newerInfo(std::optional<std::string> notes) {
    return {"2.0.0", "Quillmarsh-2.0.0.dmg", digest, "13.5", std::move(notes)};
}

UpdateResult failed(std::string_view reason) { return UpdateResult::failed(std::string(reason)); }

struct FetchCase {
    std::string name;
    std::function<std::string(const FeedServer&)> feed;
    UpdateResult expected;
    std::string running = "1.2.3";
    bool trustServer = true;
    bool online = true;
    std::chrono::milliseconds timeout = UpdateCheck::timeout;
};

void PrintTo(const FetchCase& c, std::ostream* out) { *out << c.name; }

std::function<std::string(const FeedServer&)> path(std::string p) {
    return [p](const FeedServer& server) { return server.url(p); };
}

class UpdateFetch : public ::testing::TestWithParam<FetchCase> {
protected:
    // One server for the whole table: its certificates and process are the slow part.
    static void SetUpTestSuite() { server = new FeedServer(); }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    static FeedServer* server;
};

FeedServer* UpdateFetch::server = nullptr;

TEST_P(UpdateFetch, GivesOneResult) {
    const FetchCase& c = GetParam();
    UpdateFetcher::Options options{c.feed(*server), c.trustServer ? server->caFile() : "", c.timeout};
    std::atomic<bool> stop{false};
    UpdateFetcher fetcher(options, "Quillmarsh/" + c.running, [&] { return c.online; }, stop);
    std::vector<UpdateResult> results;
    fetcher.check(c.running, [&](UpdateResult result) { results.push_back(std::move(result)); });
    ASSERT_EQ(results.size(), 1u) << "completions";
    EXPECT_EQ(results.front(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    UpdateFetcher, UpdateFetch,
    ::testing::Values(
        FetchCase{"SameVersion", path("/current"), UpdateResult::current("1.2.3")},
        FetchCase{"RunningIsLater", path("/current"), UpdateResult::current("1.2.3"), "1.3.0"},
        FetchCase{"Newer", path("/newer"), UpdateResult::newer(newerInfo("Faster saves.\nFewer surprises."))},
        FetchCase{"NewerWithoutNotes", path("/newer-without-notes"), UpdateResult::newer(newerInfo(std::nullopt))},
        FetchCase{"BadDigest", path("/bad-digest"), failed(UpdateFetcher::unreadable)},
        FetchCase{"NotModified", path("/not-modified"), failed("the update server answered 304")},
        FetchCase{"Missing", path("/missing"), failed("the update server answered 404")},
        FetchCase{"Redirect", path("/redirect"), failed(UpdateFetcher::elsewhere)},
        FetchCase{"AnnouncedTooBig", path("/announced-big"), failed(UpdateFetcher::tooBig)},
        FetchCase{"StreamedTooBig", path("/unknown-length"), failed(UpdateFetcher::tooBig)},
        FetchCase{"UntrustedCertificate", path("/current"), failed(UpdateFetcher::unreachable), "1.2.3", false},
        FetchCase{"PlainHTTP",
                  [](const FeedServer& s) {
                      std::string secure = s.url("/current");
                      return "http" + secure.substr(5);
                  },
                  failed(UpdateFetcher::unreachable)},
        FetchCase{"SilentServer", [](const FeedServer& s) { return s.silentURL(); }, failed(UpdateFetcher::tooSlow),
                  "1.2.3", true, true, std::chrono::milliseconds(300)},
        FetchCase{"Offline", [](const FeedServer& s) { return s.refusedURL(); }, failed(UpdateFetcher::offline),
                  "1.2.3", true, false},
        FetchCase{"RefusedWhileOnline", [](const FeedServer& s) { return s.refusedURL(); },
                  failed(UpdateFetcher::unreachable)},
        // A monitor that wrongly says "offline" does not stop a check that works.
        FetchCase{"MonitorWrongSaysOffline", path("/current"), UpdateResult::current("1.2.3"), "1.2.3", true, false}),
    [](const ::testing::TestParamInfo<FetchCase>& info) { return info.param.name; });

TEST(UpdateFetcher, SendsOnlyWhatThePageNeeds) {
    FeedServer server;
    std::atomic<bool> stop{false};
    UpdateFetcher fetcher({server.url("/current"), server.caFile()}, "Quillmarsh/1.2.3", [] { return true; }, stop);
    std::optional<UpdateResult> result;
    fetcher.check("1.2.3", [&](UpdateResult r) { result = std::move(r); });
    ASSERT_EQ(result, UpdateResult::current("1.2.3"));
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& headers = requests.front()["headers"];
    EXPECT_EQ(requests.front()["path"], "/current");
    EXPECT_EQ(headers.value("user-agent", ""), "Quillmarsh/1.2.3");
    EXPECT_EQ(headers.value("accept", ""), "application/json");
    EXPECT_EQ(headers.value("accept-language", ""), "en");
    for (const char* personal : {"cookie", "authorization", "proxy-authorization"}) {
        EXPECT_FALSE(headers.contains(personal)) << personal;
    }
}

TEST(UpdateFetcher, StopEndsAFetchTheServerNeverAnswers) {
    FeedServer server;
    std::atomic<bool> stop{false};
    // A limit far beyond the wait below: only the stop can end it in time.
    UpdateFetcher fetcher({server.url("/silent"), server.caFile(), std::chrono::seconds(120)}, "Quillmarsh/1.2.3",
                          [] { return true; }, stop);
    std::atomic<int> completions{0};
    std::promise<UpdateResult> delivered;
    auto arrived = delivered.get_future();
    SerialQueue fetching("test.update-fetch");
    fetching.async([&] {
        fetcher.check("1.2.3", [&](UpdateResult result) {
            ++completions;
            delivered.set_value(std::move(result));
        });
    });
    ASSERT_TRUE(server.waitForRequests(1)) << "the request never reached the server";
    stop = true;
    ASSERT_EQ(arrived.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(arrived.get(), failed(UpdateFetcher::unreachable));
    fetching.sync([] {});
    EXPECT_EQ(completions.load(), 1);
}

TEST(UpdateFetcher, StoppedBeforeItStartsTouchesNoServer) {
    FeedServer server;
    std::atomic<bool> stop{true};
    UpdateFetcher fetcher({server.url("/current"), server.caFile()}, "Quillmarsh/1.2.3", [] { return true; }, stop);
    std::vector<UpdateResult> results;
    fetcher.check("1.2.3", [&](UpdateResult result) { results.push_back(std::move(result)); });
    EXPECT_EQ(results, std::vector<UpdateResult>{failed(UpdateFetcher::unreachable)});
    // A fetch that did go out is reported before it is answered; none was.
    EXPECT_TRUE(server.requests().empty());
}

}  // namespace
