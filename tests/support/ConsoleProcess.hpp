#pragma once
// Runs quillmarsh-console as a child process with its own XDG folders, feeds it
// lines and collects what it prints, as a script or a benchmark would.
#include <sys/types.h>

#include <map>
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

// Starts the console with its XDG folders below `home` and any extra variables;
// throws when no pipe or process can be had.
ConsoleChild startConsole(const std::string& console, const std::string& editor, const std::string& home,
                          const std::vector<std::pair<std::string, std::string>>& extraEnvironment = {});

// Starts the console, writes `input` (one JSON text per line; "{{TOKEN}}" is
// replaced by the token once the console has printed it), closes its input and
// reads until it exits (bounded by `timeoutSeconds`).
ConsoleRun runConsole(const std::string& console, const std::string& editor, const std::string& home,
                      const std::vector<std::string>& input, int timeoutSeconds = 120);
