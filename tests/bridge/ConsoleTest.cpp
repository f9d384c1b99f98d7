// The console as a process: the line protocol a script or a benchmark relies on.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/ConsoleProcess.hpp"
#include "tests/support/TempDir.hpp"

namespace {

std::string request(int id, const std::string& method, const std::string& path, nlohmann::json extra = {}) {
    nlohmann::json line = {{"id", id},
                           {"url", "lornwick://app" + path},
                           {"method", method},
                           {"headers", {{"X-Quillmarsh-Token", "{{TOKEN}}"}}}};
    if (extra.is_object()) {
        for (auto& [key, value] : extra.items()) {
            if (key == "headers") line["headers"].update(value);
            else line[key] = value;
        }
    }
    return line.dump();
}

ConsoleRun run(const TempDir& home, const std::vector<std::string>& input) {
    return runConsole(QUILLMARSH_CONSOLE, QUILLMARSH_EDITOR_DIR, home.path().string(), input);
}

TEST(Console, TokenFirstThenAnswersByIdAndExitsAtEndOfInput) {
    TempDir home;
    auto result = run(home, {request(1, "GET", "/api/build"), request(2, "GET", "/api/search"),
                             R"({"id": 3, "url": "lornwick://app/web/app.js"})",
                             R"({"id": 4, "url": "lornwick://app/api/build", "headers": {"X-Quillmarsh-Token": "x"}})",
                             request(5, "GET", "/")});
    EXPECT_EQ(result.exitCode, 0);
    ASSERT_FALSE(result.lines.empty());
    EXPECT_EQ(result.token().size(), 72u);

    auto build = result.answer(1);
    ASSERT_TRUE(build.is_object());
    EXPECT_EQ(build["status"], 200);
    EXPECT_EQ(build["headers"]["Cache-Control"], "no-store");
    auto info = nlohmann::json::parse(build["body"].get<std::string>());
    EXPECT_EQ(info["name"], "Quillmarsh");

    EXPECT_EQ(result.answer(2)["status"], 501);
    EXPECT_EQ(nlohmann::json::parse(result.answer(2)["body"].get<std::string>())["error"],
              "Search in the folder is not available here yet. Use Find (Ctrl+F) in each document.");
    EXPECT_EQ(result.answer(3)["headers"]["Content-Type"], "text/javascript");
    EXPECT_EQ(result.answer(4)["status"], 403);
    auto page = result.answer(5)["body"].get<std::string>();
    EXPECT_NE(page.find(result.token()), std::string::npos);
}

TEST(Console, BodiesAsTextBytesAndStreams) {
    TempDir home;
    auto result = run(home, {
        request(1, "POST", "/api/nothing", {{"body", "hello"}, {"headers", {{"Content-Length", "6"}}}}),
        request(2, "POST", "/api/nothing", {{"body64", "AAEC/w=="}, {"headers", {{"Content-Length", "4"}}}}),
        request(3, "POST", "/api/nothing", {{"body", "12345"}, {"stream", true}, {"headers", {{"Content-Length", "5"}}}}),
        request(4, "POST", "/api/nothing", {{"body", "12"}, {"stream", true}, {"streamError", "connection lost"}}),
    });
    EXPECT_EQ(result.answer(1)["status"], 400);
    EXPECT_EQ(result.answer(2)["status"], 501);  // four bytes arrived whole
    EXPECT_EQ(result.answer(3)["status"], 501);
    EXPECT_EQ(result.answer(4)["status"], 400);
    EXPECT_EQ(nlohmann::json::parse(result.answer(4)["body"].get<std::string>())["error"],
              "not saved: the text could not be read (connection lost); nothing was written");
}

TEST(Console, BinaryAnswersComeAsBase64) {
    TempDir home;
    TempDir editor;
    std::filesystem::copy(QUILLMARSH_EDITOR_DIR, editor.path(), std::filesystem::copy_options::recursive);
    editor.write("web/dot.png", std::string("\x89PNG\r\n\x1a\n\xff", 9));
    auto result = runConsole(QUILLMARSH_CONSOLE, editor.path().string(), home.path().string(),
                             {R"({"id": 1, "url": "lornwick://app/web/dot.png"})"});
    auto answer = result.answer(1);
    EXPECT_FALSE(answer.contains("body"));
    EXPECT_EQ(answer["body64"], "iVBORw0KGgr/");
}

TEST(Console, WaitHoldsLaterLinesAndEventsReachTheOutput) {
    TempDir home;
    auto result = run(home, {request(1, "POST", "/api/backups/show"), R"({"wait": true})",
                             request(2, "POST", "/api/quit")});
    EXPECT_EQ(result.exitCode, 0);
    std::vector<std::string> order;
    for (const auto& line : result.lines) {
        if (line.contains("status")) order.push_back("answer " + std::to_string(line["id"].get<int>()));
        if (line.contains("event")) order.push_back(line["event"].get<std::string>());
    }
    // Everything of request 1 is done before request 2 starts; quit follows its answer.
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order[0], "open-folder");
    EXPECT_EQ(order[1], "answer 1");
    EXPECT_EQ(order[2], "answer 2");
    EXPECT_EQ(order[3], "quit");
    EXPECT_EQ(result.events()[0]["path"], home.path().string() + "/data/Quillmarsh/Backups");
}

TEST(Console, BadLinesAreReportedNotFatal) {
    TempDir home;
    auto result = run(home, {"not json", R"({"stop": 99})", R"({"mystery": 1})", request(1, "GET", "/api/build")});
    EXPECT_EQ(result.exitCode, 0);
    int errors = 0;
    for (const auto& line : result.lines) errors += line.contains("error") ? 1 : 0;
    EXPECT_EQ(errors, 3);
    EXPECT_EQ(result.answer(1)["status"], 200);
}

// A field given with another type than the protocol's is refused with an error
// line naming it; the line has no effect, not even on its id.
TEST(Console, WronglyTypedFieldsAreRefusedLineByLine) {
    const std::string url = R"("url": "lornwick://app/api/build")";
    const std::vector<std::pair<std::string, std::string>> table = {
        {R"({"id": "1", )" + url + "}", "id"},
        {R"({"id": 1, "url": 5})", "url"},
        {R"({"id": 1, )" + url + R"(, "method": ["GET"]})", "method"},
        {R"({"id": 1, )" + url + R"(, "headers": "X-Quillmarsh-Token: x"})", "headers"},
        {R"({"id": 1, )" + url + R"(, "headers": {"Content-Length": 5}})", "headers"},
        {R"({"id": 1, )" + url + R"(, "body": {"text": "x"}})", "body"},
        {R"({"id": 1, )" + url + R"(, "body64": 17})", "body64"},
        {R"({"id": 1, )" + url + R"(, "stream": "yes"})", "stream"},
        {R"({"id": 1, )" + url + R"(, "stream": true, "streamError": 7})", "streamError"},
        {R"({"stop": "1"})", "stop"},
        {R"({"wait": "yes"})", "wait"},
        {R"({"panel": [true]})", "panel"},
        {R"({"panel": {"chosen": "yes"}})", "chosen"},
        {R"({"panel": {"chosen": true, "urls": "/tmp/a.md"}})", "urls"},
        {R"({"panel": {"chosen": true, "urls": [1]}})", "urls"},
        {R"({"finder": "/tmp/a.md"})", "finder"},
        {R"({"finder": [null]})", "finder"},
    };
    std::vector<std::string> input;
    for (const auto& [line, field] : table) input.push_back(line);
    input.push_back(request(1, "GET", "/api/build"));
    TempDir home;
    auto result = run(home, input);
    EXPECT_EQ(result.exitCode, 0);

    // Each bad line is answered at once, so the error lines come in its order.
    std::vector<nlohmann::json> errors;
    for (const auto& line : result.lines) {
        if (line.contains("error")) errors.push_back(line);
    }
    ASSERT_EQ(errors.size(), table.size());
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_NE(errors[i]["error"].get<std::string>().find(table[i].second), std::string::npos)
            << table[i].first << " -> " << errors[i].dump();
    }
    EXPECT_EQ(result.answer(1)["status"], 200);
}

}  // namespace

namespace {

// At launch the program keeps what a killed save left in its private folder.
TEST(Console, ALaunchKeepsTheTextOfAnInterruptedSaveInBackups) {
    TempDir home;
    auto copy = home.write("cache/Quillmarsh/save-1/plan.md", "the text being saved");
    std::filesystem::last_write_time(home / "cache/Quillmarsh/save-1",
                                     std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    auto result = run(home, {});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(copy));
    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(home / "data/Quillmarsh/Backups"))
        kept.push_back(TempDir::read(entry.path()));
    EXPECT_EQ(kept, std::vector<std::string>{"the text being saved"});
    auto log = TempDir::read(home / "state/Quillmarsh.log");
    EXPECT_NE(log.find("save: 1 copy of interrupted saves kept in Backups"), std::string::npos) << log;
}

}  // namespace
