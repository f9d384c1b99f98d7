#pragma once
// Runs quillmarsh-console as a child process with its own XDG folders, feeds it
// lines and collects what it prints, as a script or a benchmark would: all at
// once (runConsole) or one request at a time (ConsoleSession).
#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

struct ConsoleRun {
    int exitCode = -1;
    std::vector<nlohmann::json> lines;
    std::string token() const { return lines.empty() ? "" : lines.front().value("token", ""); }
    // The answer line of a request id, or null when there is none.
    nlohmann::json answer(long long id) const;
    // Every line that carries an event, in order.
    std::vector<nlohmann::json> events() const;
};

// A console started as a child: its standard input and output are pipes.
struct ConsoleChild {
    pid_t pid = -1;
    int input = -1;   // write end of its standard input
    int output = -1;  // read end of its standard output
};

// Starts the console with its XDG folders below `home`, any extra variables
// and any options after "--editor DIR"; throws when no pipe or process can be had.
ConsoleChild startConsole(const std::string& console, const std::string& editor, const std::string& home,
                          const std::vector<std::pair<std::string, std::string>>& extraEnvironment = {},
                          const std::vector<std::string>& extraArguments = {});

// Starts the console, writes `input` (one JSON text per line; "{{TOKEN}}" is
// replaced by the token once the console has printed it), closes its input and
// reads until it exits (bounded by `timeoutSeconds`).
ConsoleRun runConsole(const std::string& console, const std::string& editor, const std::string& home,
                      const std::vector<std::string>& input, int timeoutSeconds = 120,
                      const std::vector<std::string>& extraArguments = {});

// A console kept running for many requests, one line in and its answer out,
// as a script driving it interactively (or a benchmark timing it) does. Every
// read is bounded by `timeout`; running past it throws.
class ConsoleSession {
public:
    ConsoleSession(const std::string& console, const std::string& editor, const std::string& home,
                   const std::vector<std::pair<std::string, std::string>>& extraEnvironment = {},
                   std::chrono::seconds timeout = std::chrono::seconds(120));
    // Closes the console's input, reads what it still prints and waits for it to exit.
    ~ConsoleSession();
    ConsoleSession(const ConsoleSession&) = delete;
    ConsoleSession& operator=(const ConsoleSession&) = delete;

    // The token from the console's first line.
    const std::string& token() const { return token_; }
    void send(const std::string& line);
    // The next line, or nullopt at the end of output.
    std::optional<std::string> readLine();
    // Sends a request with the token and a fresh id and returns its answer
    // line as printed (not parsed: a timed caller should not pay for parsing
    // a long listing). Lines before it (events) are skipped. Throws when the
    // console ends first.
    std::string request(const std::string& method, const std::string& url);
    // The status of an answer line as `request` returns it.
    static int statusOf(const std::string& answerLine);

private:
    ConsoleChild child_;
    std::chrono::seconds timeout_;
    std::string buffered_;
    std::string token_;
    long long nextId_ = 1;
};
