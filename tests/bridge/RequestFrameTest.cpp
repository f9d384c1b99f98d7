#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "core/BridgeError.hpp"
#include "tests/support/BridgeHarness.hpp"

namespace {

TEST(Token, IsTwoUpperCaseUUIDsAndDiffersPerBridge) {
    BridgeHarness first;
    BridgeHarness second;
    const std::string& token = first.bridge->token;
    EXPECT_EQ(token.size(), 72u);
    EXPECT_EQ(std::count(token.begin(), token.end(), '-'), 8);
    EXPECT_EQ(token.find_first_not_of("0123456789ABCDEF-"), std::string::npos);
    EXPECT_EQ(token[14], '4');  // version 4
    EXPECT_EQ(token[36 + 14], '4');
    EXPECT_NE(token, second.bridge->token);
}

struct FrameCase {
    const char* name;
    std::string url;
    std::string method;
    // Token header spelling ("" for none); "wrong" sends a wrong value.
    std::string tokenHeader;
    bool wrongToken;
    std::optional<std::pair<std::string, std::string>> origin;
    int status;
    std::string error;  // "" when served
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

class Frame : public ::testing::TestWithParam<FrameCase> {};

TEST_P(Frame, AnswersAsTheFrameRules) {
    const FrameCase& c = GetParam();
    BridgeHarness h;
    HeaderMap headers;
    if (!c.tokenHeader.empty()) headers[c.tokenHeader] = c.wrongToken ? "nope" : h.bridge->token;
    if (c.origin) headers[c.origin->first] = c.origin->second;
    auto task = h.task(c.method, c.url, std::string(), headers);
    Answer answer = h.run(task);
    EXPECT_EQ(answer.status, c.status);
    if (!c.error.empty()) {
        EXPECT_EQ(answer.error(), c.error);
    }
    EXPECT_EQ(answer.headers.at("Content-Type"), "application/json");
}

const std::string build = "lornwick://app/api/build";

INSTANTIATE_TEST_SUITE_P(
    Cases, Frame,
    ::testing::Values(
        FrameCase{"served", build, "GET", "X-Quillmarsh-Token", false, {}, 200, ""},
        FrameCase{"lowerCaseTokenHeader", build, "GET", "x-quillmarsh-token", false, {}, 200, ""},
        FrameCase{"capitalsTokenHeader", build, "GET", "X-QUILLMARSH-TOKEN", false, {}, 403, "missing or wrong token"},
        FrameCase{"noToken", build, "GET", "", false, {}, 403, "missing or wrong token"},
        FrameCase{"wrongToken", build, "GET", "X-Quillmarsh-Token", true, {}, 403, "missing or wrong token"},
        FrameCase{"ownOrigin", build, "GET", "X-Quillmarsh-Token", false, {{"Origin", "lornwick://app"}}, 200, ""},
        FrameCase{"lowerOrigin", build, "GET", "X-Quillmarsh-Token", false, {{"origin", "lornwick://app"}}, 200, ""},
        FrameCase{"foreignOrigin", build, "GET", "X-Quillmarsh-Token", false, {{"Origin", "https://example.org"}}, 403,
                  "requests from other origins are refused"},
        FrameCase{"emptyOrigin", build, "GET", "X-Quillmarsh-Token", false, {{"Origin", ""}}, 403,
                  "requests from other origins are refused"},
        FrameCase{"originBeforeToken", build, "GET", "X-Quillmarsh-Token", true, {{"origin", "null"}}, 403,
                  "requests from other origins are refused"},
        FrameCase{"otherHost", "lornwick://elsewhere/api/build", "GET", "X-Quillmarsh-Token", false, {}, 404,
                  "not found"},
        FrameCase{"noHost", "lornwick:/api/build", "GET", "X-Quillmarsh-Token", false, {}, 404, "not found"},
        FrameCase{"trailingSlash", "lornwick://app/api/settings/", "GET", "X-Quillmarsh-Token", false, {}, 501,
                  "This is not available here yet."},
        FrameCase{"apiWithoutSlashIsAnAsset", "lornwick://app/api", "GET", "", false, {}, 404, "not found"},
        FrameCase{"wrongMethodOfFirstStage", "lornwick://app/api/quit", "GET", "X-Quillmarsh-Token", false, {}, 501,
                  "This is not available here yet."},
        FrameCase{"wrongMethodOfVersions", "lornwick://app/api/versions", "PUT", "X-Quillmarsh-Token", false, {}, 501,
                  "This is not available here yet."},
        FrameCase{"search", "lornwick://app/api/search", "DELETE", "X-Quillmarsh-Token", false, {}, 501,
                  "Search in the folder is not available here yet. Use Find (Ctrl+F) in each document."},
        FrameCase{"exportHtml", "lornwick://app/api/export-html", "POST", "X-Quillmarsh-Token", false, {}, 501,
                  "Export as HTML is not available here yet."},
        FrameCase{"pasteImage", "lornwick://app/api/grant-paste", "POST", "X-Quillmarsh-Token", false, {}, 501,
                  "Pictures cannot be pasted here yet. Save the picture next to the document and write "
                  "![](its-name.png)."},
        FrameCase{"copyImage", "lornwick://app/api/copy-image", "GET", "X-Quillmarsh-Token", false, {}, 501,
                  "Choosing a picture file is not available yet. Write its name instead, for example "
                  "![](picture.png)."},
        FrameCase{"nothing", "lornwick://app/api/nothing", "GET", "X-Quillmarsh-Token", false, {}, 501,
                  "This is not available here yet."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Frame, RequestWithoutURLOrMethod) {
    BridgeHarness h;
    auto noURL = std::make_shared<FakeTask>(SchemeRequest{});
    EXPECT_EQ(h.run(noURL).status, 404);

    SchemeRequest request;
    request.url = "lornwick://app/api/build";
    request.headers = h.tokenHeaders();
    auto noMethod = std::make_shared<FakeTask>(request);
    EXPECT_EQ(h.run(noMethod).status, 200);  // taken as GET
}

TEST(Frame, BodyIsCheckedBeforeAnyRoute) {
    BridgeHarness h;
    HeaderMap headers = h.tokenHeaders();
    headers["Content-Length"] = "9";
    Answer answer = h.request("GET", "/api/build", "12345", headers);
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.error(), "not saved: the text did not arrive whole; nothing was written, try again");

    headers.erase("Content-Length");
    headers["content-length"] = "5";
    EXPECT_EQ(h.request("GET", "/api/build", "12345", headers).status, 200);
}

TEST(Frame, StreamFailureAndNonBridgeErrorsOfTheReader) {
    struct Failing final : InputStream {
        ssize_t read(char*, size_t) override { return -1; }
    };
    BridgeHarness h;
    SchemeRequest request;
    request.url = "lornwick://app/api/build";
    request.headers = h.tokenHeaders();
    request.bodyStream = std::make_shared<Failing>();
    Answer answer = h.run(std::make_shared<FakeTask>(request));
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.error(), "not saved: the text could not be read (stream error); nothing was written");

    struct Throwing final : InputStream {
        ssize_t read(char*, size_t) override { throw std::runtime_error("boom"); }
    };
    request.bodyStream = std::make_shared<Throwing>();
    answer = h.run(std::make_shared<FakeTask>(request));
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.error(), "not saved: the request could not be read");
}

TEST(Query, FirstValueWinsAndMissingValueIsEmpty) {
    RequestURL url = RequestURL::parse("lornwick://app/api/x?id=a&id=b&flag&plus=a+b&esc=%C3%A9%2F");
    Query query = url.queryItems();
    EXPECT_EQ(query.at("id"), "a");
    EXPECT_EQ(query.at("flag"), "");
    EXPECT_EQ(query.at("plus"), "a+b");
    EXPECT_EQ(query.at("esc"), "\xC3\xA9/");
}

TEST(RequestURLParse, HostAndDecodedPath) {
    RequestURL url = RequestURL::parse("lornwick://app:80/web/a%20b.js?x=1#frag");
    ASSERT_TRUE(url.host);
    EXPECT_EQ(*url.host, "app");
    EXPECT_EQ(url.path, "/web/a b.js");
    EXPECT_FALSE(RequestURL::parse("lornwick:/web/x").host);
}

TEST(ResponseWriter, AnswerFromAWorkerQueueCarriesStandardHeaders) {
    BridgeHarness h;
    auto task = h.task("GET", "/x");
    h.bridge->io.async([&] { h.bridge->responder().send(task, 201, "hello", "text/plain", {{"X-Extra", "1"}}); });
    ASSERT_TRUE(h.pumpUntil([&] { return task->answer.has_value(); }));
    EXPECT_EQ(task->answer->status, 201);
    EXPECT_EQ(task->answer->body, "hello");
    EXPECT_EQ(task->answer->headers.at("Content-Type"), "text/plain");
    EXPECT_EQ(task->answer->headers.at("Content-Length"), "5");
    EXPECT_EQ(task->answer->headers.at("Cache-Control"), "no-store");
    EXPECT_EQ(task->answer->headers.at("X-Extra"), "1");

    auto empty = h.task("GET", "/x");
    h.bridge->responder().send(empty, 200, "", "text/plain", {{"Content-Type", "image/png"}});
    EXPECT_EQ(empty->answer->headers.at("Content-Length"), "0");
    EXPECT_EQ(empty->answer->headers.at("Content-Type"), "image/png");
}

TEST(ResponseWriter, ErrorMappingAndUnserialisableJSON) {
    BridgeHarness h;
    auto conflict = h.task("GET", "/x");
    h.bridge->responder().answering(conflict, [] { throw BridgeError(409, "changed on disk"); });
    EXPECT_EQ(conflict->answer->status, 409);
    EXPECT_EQ(conflict->answer->json(), nlohmann::json({{"error", "changed on disk"}}));

    auto failure = h.task("GET", "/x");
    h.bridge->responder().answering(failure, [] { throw std::runtime_error("disk on fire"); });
    EXPECT_EQ(failure->answer->status, 500);
    EXPECT_EQ(failure->answer->error(), "disk on fire");

    // Never a success that says nothing: a value that cannot be written is a failure.
    auto invalid = h.task("GET", "/x");
    h.bridge->responder().sendJSON(invalid, 200, {{"text", std::string("\xff\xfe")}});
    EXPECT_EQ(invalid->answer->status, 500);
    EXPECT_EQ(invalid->answer->error(), "the answer holds text that is not valid UTF-8");
}

TEST(ResponseWriter, StoppedTaskGetsNoAnswerAndIsForgotten) {
    BridgeHarness h;
    auto task = h.task("GET", "/api/build", std::string(), h.tokenHeaders());
    h.bridge->start(task);  // the work is now queued on io
    h.bridge->stop(task);
    ASSERT_TRUE(h.pumpUntil([&] { return h.bridge->responder().stopped().empty(); }));
    EXPECT_EQ(task->finishCount, 0);

    // A later request is answered normally.
    EXPECT_EQ(h.request("GET", "/api/build").status, 200);
}

TEST(Quit, AnswersFirstThenCallsOnQuitOnTheMainThread) {
    BridgeHarness h;
    std::vector<std::string> order;
    bool onMain = false;
    h.bridge->onQuit = [&] {
        onMain = h.main.isCurrent();
        order.push_back(h.bridge->responder().stopped().empty() ? "onQuit" : "?");
    };
    auto task = h.task("POST", "/api/quit", std::string(), h.tokenHeaders());
    h.bridge->start(task);
    ASSERT_TRUE(task->answer.has_value());  // answered inside the entry, before onQuit runs
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(task->answer->json(), nlohmann::json({{"stopping", true}}));
    ASSERT_TRUE(h.pumpUntil([&] { return !order.empty(); }));
    EXPECT_TRUE(onMain);

    h.bridge->onQuit = nullptr;  // without a callback the answer is all that happens
    EXPECT_EQ(h.request("POST", "/api/quit").status, 200);
}

}  // namespace
