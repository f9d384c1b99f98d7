#include "tests/support/ConsoleProcess.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

nlohmann::json ConsoleRun::answer(long long id) const {
    for (const auto& line : lines) {
        if (line.contains("id") && line["id"] == id && line.contains("status")) return line;
    }
    return nullptr;
}

std::vector<nlohmann::json> ConsoleRun::events() const {
    std::vector<nlohmann::json> found;
    for (const auto& line : lines) {
        if (line.contains("event")) found.push_back(line);
    }
    return found;
}

namespace {

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

ConsoleChild startConsole(const std::string& console, const std::string& editor, const std::string& home,
                          const std::vector<std::pair<std::string, std::string>>& extraEnvironment,
                          const std::vector<std::string>& extraArguments) {
    // Made before the fork: the child only calls what is safe after it.
    std::vector<std::string> arguments = {console, "--editor", editor};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
        setenv("XDG_STATE_HOME", (home + "/state").c_str(), 1);
        setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
        for (const auto& [name, value] : extraEnvironment) setenv(name.c_str(), value.c_str(), 1);
        execv(console.c_str(), argv.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    return {pid, toChild[1], fromChild[0]};
}

ConsoleRun runConsole(const std::string& console, const std::string& editor, const std::string& home,
                      const std::vector<std::string>& input, int timeoutSeconds,
                      const std::vector<std::string>& extraArguments) {
    ConsoleChild child = startConsole(console, editor, home, {}, extraArguments);
    pid_t pid = child.pid;
    signal(SIGPIPE, SIG_IGN);

    ConsoleRun run;
    std::string pendingOut;
    std::string token;
    size_t nextInput = 0;
    bool inputClosed = false;
    int writeEnd = child.input;
    fcntl(writeEnd, F_SETFL, O_NONBLOCK);
    std::string received;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);

    for (bool open = true; open;) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            break;
        }
        // Input waits for the token line: later lines may name it.
        if (!inputClosed && pendingOut.empty() && !token.empty()) {
            if (nextInput < input.size()) {
                pendingOut = input[nextInput++];
                replaceAll(pendingOut, "{{TOKEN}}", token);
                pendingOut += '\n';
            } else {
                close(writeEnd);
                inputClosed = true;
            }
        }
        pollfd fds[2] = {{child.output, POLLIN, 0}, {inputClosed ? -1 : writeEnd, POLLOUT, 0}};
        if (pendingOut.empty()) fds[1].fd = -1;
        if (poll(fds, 2, 200) < 0) continue;
        if (fds[1].revents & (POLLOUT | POLLERR | POLLHUP)) {
            ssize_t wrote = write(writeEnd, pendingOut.data(), pendingOut.size());
            if (wrote > 0) pendingOut.erase(0, static_cast<size_t>(wrote));
            else if (wrote < 0 && errno != EAGAIN) pendingOut.clear();
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[65536];
            ssize_t got = read(child.output, buffer, sizeof buffer);
            if (got <= 0) {
                open = false;
            } else {
                received.append(buffer, static_cast<size_t>(got));
                for (size_t end; (end = received.find('\n')) != std::string::npos;) {
                    auto line = nlohmann::json::parse(received.substr(0, end), nullptr, false);
                    received.erase(0, end + 1);
                    if (token.empty() && line.is_object() && line.contains("token")) token = line["token"];
                    run.lines.push_back(line);
                }
            }
        }
    }
    if (!inputClosed) close(writeEnd);
    close(child.output);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

ConsoleSession::ConsoleSession(const std::string& console, const std::string& editor, const std::string& home,
                               const std::vector<std::pair<std::string, std::string>>& extraEnvironment,
                               std::chrono::seconds timeout)
    : child_(startConsole(console, editor, home, extraEnvironment)), timeout_(timeout) {
    // A console that died must show up as an error here, not kill the caller.
    signal(SIGPIPE, SIG_IGN);
    std::optional<std::string> first;
    try {
        first = readLine();
    } catch (const std::exception&) {
        // No line in time: handled below as no token.
    }
    if (first) {
        auto line = nlohmann::json::parse(*first, nullptr, false);
        if (line.is_object() && line.contains("token") && line["token"].is_string()) token_ = line["token"];
    }
    if (token_.empty()) {
        // The destructor does not run for a constructor that throws: end the child here.
        close(child_.input);
        close(child_.output);
        kill(child_.pid, SIGKILL);
        int status = 0;
        waitpid(child_.pid, &status, 0);
        throw std::runtime_error("the console printed no token");
    }
}

ConsoleSession::~ConsoleSession() {
    if (child_.input >= 0) close(child_.input);
    // End of input: the console answers what is open and exits. A console
    // that hangs is killed once the time is up rather than waited on forever.
    try {
        while (readLine()) {
        }
    } catch (const std::exception&) {
        kill(child_.pid, SIGKILL);
    }
    close(child_.output);
    int status = 0;
    waitpid(child_.pid, &status, 0);
}

void ConsoleSession::send(const std::string& line) {
    std::string text = line + "\n";
    for (size_t written = 0; written < text.size();) {
        ssize_t n = write(child_.input, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("the console's input is closed");
        written += static_cast<size_t>(n);
    }
}

std::optional<std::string> ConsoleSession::readLine() {
    auto deadline = std::chrono::steady_clock::now() + timeout_;
    for (;;) {
        auto newline = buffered_.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffered_.substr(0, newline);
            buffered_.erase(0, newline + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) throw std::runtime_error("the console printed no line in time");
        pollfd wait{child_.output, POLLIN, 0};
        int ready = poll(&wait, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;  // the deadline check above ends the wait
        char buffer[65536];
        ssize_t got = read(child_.output, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return std::nullopt;
        buffered_.append(buffer, static_cast<size_t>(got));
    }
}

std::string ConsoleSession::request(const std::string& method, const std::string& url) {
    long long id = nextId_++;
    send(nlohmann::json{{"id", id}, {"url", url}, {"method", method}, {"headers", {{"X-Quillmarsh-Token", token_}}}}
             .dump());
    // The body comes first in an answer line and may be long: look from the end.
    std::string mark = "\"id\":" + std::to_string(id) + ",\"status\":";
    for (;;) {
        auto line = readLine();
        if (!line) throw std::runtime_error("the console ended before answering " + url);
        if (line->rfind(mark) != std::string::npos) return *line;
    }
}

int ConsoleSession::statusOf(const std::string& answerLine) {
    auto line = nlohmann::json::parse(answerLine, nullptr, false);
    if (!line.is_object() || !line.contains("status") || !line["status"].is_number_integer()) return -1;
    return line["status"].get<int>();
}
