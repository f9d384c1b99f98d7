// Requests of the page, and of anything else that reaches the scheme, driven
// into a real Bridge: any address, method, header fields and body, whole or
// streamed, with the token and origin right, wrong or missing. Each input is a
// short sequence of requests on a fresh Bridge whose panels choose inside a
// fixture folder, so later requests can reach the document routes.
//
// Every request is answered once, in time, with a well-formed head; an API
// request without the right token or from another origin is refused with 403;
// an abandoned request is never answered after it was abandoned.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/bridge/RequestURL.hpp"
#include "tests/fuzz/support/FuzzBridge.hpp"
#include "tests/fuzz/support/PieceStream.hpp"
#include "tests/fuzz/support/ScratchFolder.hpp"

namespace {

const std::vector<std::string> knownPaths = {
    "/api/build", "/api/about", "/api/changelog", "/api/settings", "/api/recent", "/api/recent/open",
    "/api/recent/clear", "/api/session", "/api/session/restore", "/api/recovery", "/api/recovery/text",
    "/api/recovery/open", "/api/recovery/clear", "/api/autosave", "/api/autosave/rules", "/api/file",
    "/api/versions", "/api/tree", "/api/close-folder", "/api/opened", "/api/image", "/api/allow-images",
    "/api/choose-folder", "/api/choose-file", "/api/choose-save", "/api/plugin-folder", "/api/update/check",
    "/api/backups/show", "/api/search", "/api/export-html", "/api/nothing", "/", "/index.html", "/web/index.html",
    "/../../etc/passwd", "/%2e%2e/version.json"};

const std::vector<std::string> hosts = {"lornwick://app", "lornwick://app", "lornwick://app", "lornwick://APP",
                                        "lornwick://app:8080", "lornwick://evil", "https://app", "lornwick:app"};

const std::vector<std::string> methods = {"GET", "POST", "PUT", "DELETE", "get", "OPTIONS"};

const std::vector<std::string> queries = {"",
                                          "?path=note.md",
                                          "?path=saved.md",
                                          "?path=../outside.md",
                                          "?path=note.md&src=pictures/dot.png",
                                          "?id=abcdef&path=note.md",
                                          "?auto=1",
                                          "?file=unknown"};


template <typename T>
const T& pick(FuzzedDataProvider& input, const std::vector<T>& from) {
    return from[input.ConsumeIntegralInRange<std::size_t>(0, from.size() - 1)];
}

struct Made {
    std::shared_ptr<FakeTask> task;
    std::shared_ptr<PieceStream> stream;
    bool tokenRight = false;
    bool originWrong = false;
};

Made makeRequest(FuzzedDataProvider& input, const std::string& token) {
    SchemeRequest request;
    switch (input.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: request.url = input.ConsumeRandomLengthString(80); break;
        case 1: break;  // no address at all
        default: {
            // One step at a time: the operands of + are taken in no fixed order.
            std::string url = pick(input, hosts);
            url += pick(input, knownPaths);
            url += pick(input, queries);
            url += input.ConsumeRandomLengthString(24);
            request.url = url;
        }
    }
    if (input.ConsumeIntegralInRange<int>(0, 15) != 0) {
        request.method = input.ConsumeIntegralInRange<int>(0, 7) == 0 ? input.ConsumeRandomLengthString(8)
                                                                        : pick(input, methods);
    }

    Made made;
    switch (input.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: break;
        case 1: request.headers["X-Quillmarsh-Token"] = input.ConsumeRandomLengthString(80); break;
        case 2: request.headers["X-Quillmarsh-Token"] = token + input.ConsumeRandomLengthString(4); break;
        case 3: request.headers["X-QUILLMARSH-TOKEN"] = token; break;
        case 4: request.headers["x-quillmarsh-token"] = token; break;
        default: request.headers["X-Quillmarsh-Token"] = token; break;
    }
    for (const char* name : {"X-Quillmarsh-Token", "x-quillmarsh-token"}) {
        auto found = request.headers.find(name);
        if (found != request.headers.end()) made.tokenRight = found->second == token;
    }
    const char* originName = input.ConsumeBool() ? "Origin" : "origin";
    switch (input.ConsumeIntegralInRange<int>(0, 5)) {
        case 0: request.headers[originName] = input.ConsumeRandomLengthString(30); break;
        case 1: request.headers[originName] = "null"; break;
        case 2: request.headers[originName] = "lornwick://app"; break;
        default: break;
    }
    if (auto found = request.headers.find(originName); found != request.headers.end())
        made.originWrong = found->second != "lornwick://app";
    for (int extra = input.ConsumeIntegralInRange<int>(0, 2); extra > 0; --extra) {
        std::string name = "X-Extra-" + input.ConsumeRandomLengthString(8);
        request.headers[name] = input.ConsumeRandomLengthString(16);
    }

    std::string whole;
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: break;
        case 1: {
            std::vector<std::string> pieces;
            for (int count = input.ConsumeIntegralInRange<int>(1, 4); count > 0; --count) {
                std::string piece = input.ConsumeRandomLengthString(300);
                if (piece.empty()) piece = "{}";
                whole += piece;
                pieces.push_back(piece);
            }
            // One in eight bodies fails once every piece has come.
            bool fails = input.ConsumeIntegralInRange<int>(0, 7) == 7;
            made.stream = std::make_shared<PieceStream>(pieces, fails ? std::optional<std::size_t>(pieces.size()) : std::nullopt);
            request.bodyStream = made.stream;
            break;
        }
        default:
            whole = input.ConsumeRandomLengthString(400);
            request.body = whole;
    }
    const char* lengthName = input.ConsumeBool() ? "Content-Length" : "content-length";
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: request.headers[lengthName] = std::to_string(whole.size()); break;
        case 1: request.headers[lengthName] = input.ConsumeRandomLengthString(12); break;
        case 2: request.headers["X-Quillmarsh-Bytes"] = std::to_string(whole.size()); break;
        default: break;
    }
    made.task = std::make_shared<FakeTask>(std::move(request));
    return made;
}

void checkAnswer(const Made& made) {
    const SchemeRequest& request = made.task->request();
    const Answer& answer = *made.task->answer;
    FUZZ_CHECK(made.task->finishCount == 1, "answered once");
    FUZZ_CHECK(answer.status >= 100 && answer.status <= 599, "a status: " + std::to_string(answer.status));
    auto length = answer.headers.find("Content-Length");
    FUZZ_CHECK(length != answer.headers.end() && length->second == std::to_string(answer.body.size()),
               "the length told is the body's");
    auto type = answer.headers.find("Content-Type");
    FUZZ_CHECK(type != answer.headers.end(), "every answer has a type");
    if (type->second == "application/json") {
        auto value = nlohmann::json::parse(answer.body, nullptr, false);
        FUZZ_CHECK(!value.is_discarded(), "JSON answers parse: " + answer.body);
        if (answer.status >= 400)
            FUZZ_CHECK(value.is_object() && value.contains("error") && value["error"].is_string(),
                       "refusals say why: " + answer.body);
    }
    if (made.stream && made.stream->opens > 0) FUZZ_CHECK(made.stream->closes == 1, "the body stream is closed");

    if (!request.url) return;
    RequestURL url = RequestURL::parse(*request.url);
    bool api = url.host && *url.host == "app" && url.path.rfind("/api/", 0) == 0;
    if (api && (!made.tokenRight || made.originWrong))
        FUZZ_CHECK(answer.status == 403, "an API request without the right token or origin is refused: " +
                                             *request.url + " answered " + std::to_string(answer.status));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzBridge bridge;
    bridge.reset();
    FuzzedDataProvider input(data, size);
    std::vector<Made> abandoned;
    for (int count = input.ConsumeIntegralInRange<int>(1, 4); count > 0 && input.remaining_bytes() > 0; --count) {
        Made made = makeRequest(input, bridge.token());
        // A high value, as an input that has run out reads as zeros.
        if (input.ConsumeIntegralInRange<int>(0, 15) == 15) {
            // The page gives up on it at once: whatever was not answered by
            // then stays unanswered.
            bridge.bridge->start(made.task);
            bool answered = made.task->answer.has_value();
            bridge.bridge->stop(made.task);
            if (!answered) abandoned.push_back(made);
            if (std::getenv("QUILLMARSH_FUZZ_VERBOSE"))
                std::fprintf(stderr, "%s %s -> abandoned\n", made.task->request().method.value_or("-").c_str(),
                             made.task->request().url.value_or("-").c_str());
            continue;
        }
        FUZZ_CHECK(bridge.run(made.task), "answered in time: " + made.task->request().url.value_or("(none)"));
        // To see what a seed or a finding asks: QUILLMARSH_FUZZ_VERBOSE=1.
        if (std::getenv("QUILLMARSH_FUZZ_VERBOSE")) {
            std::fprintf(stderr, "%s %s -> %d %s\n", made.task->request().method.value_or("-").c_str(),
                         made.task->request().url.value_or("-").c_str(), made.task->answer->status,
                         made.task->answer->body.substr(0, 120).c_str());
        }
        checkAnswer(made);
    }
    bridge.reset();
    for (const Made& made : abandoned) FUZZ_CHECK(made.task->finishCount == 0, "an abandoned request stays unanswered");
    return 0;
}
