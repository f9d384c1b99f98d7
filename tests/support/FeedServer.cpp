#include "tests/support/FeedServer.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

extern char** environ;

namespace {

// The fetcher reads the proxy settings of the environment as users need it
// to; a proxy set on a developer's machine must not take the tests' loopback
// requests. Set before main, while no thread can read the environment.
const bool loopbackWithoutProxy = [] {
    ::setenv("no_proxy", "127.0.0.1,localhost", 1);
    ::setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    return true;
}();

pid_t spawn(const std::vector<std::string>& arguments, int outputTo) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outputTo >= 0) posix_spawn_file_actions_adddup2(&actions, outputTo, 1);
    else posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + arguments[0]);
    return pid;
}

void run(const std::vector<std::string>& arguments) {
    pid_t pid = spawn(arguments, -1);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error(arguments[0] + " " + arguments[1] + " failed");
}

// A certificate authority, and a server certificate it signed for 127.0.0.1
// and localhost. EC keys: made in milliseconds.
void makeCertificates(const TempDir& dir) {
    const std::vector<std::string> ecKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    auto with = [&](std::vector<std::string> head, const std::vector<std::string>& tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    run(with(with({"openssl", "req", "-x509"}, ecKey),
             {"-keyout", dir / "ca.key", "-out", dir / "ca.pem", "-days", "2", "-subj", "/CN=Quillmarsh Test Authority"}));
    run(with(with({"openssl", "req"}, ecKey),
             {"-keyout", dir / "server.key", "-out", dir / "server.csr", "-subj", "/CN=127.0.0.1"}));
    std::string extensions = dir.write("server.ext",
                                       "subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                                       "basicConstraints=CA:FALSE\n"
                                       "extendedKeyUsage=serverAuth\n");
    run({"openssl", "x509", "-req", "-in", dir / "server.csr", "-CA", dir / "ca.pem", "-CAkey", dir / "ca.key",
         "-CAcreateserial", "-out", dir / "server.pem", "-days", "2", "-extfile", extensions});
}

// A socket bound to a loopback port and never listening: connections to it are refused.
int refusingSocket(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("no loopback port");
    }
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

FeedServer::FeedServer() {
    (void)loopbackWithoutProxy;
    makeCertificates(dir_);
    refused_ = refusingSocket(refusedPort_);
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    try {
        pid_ = spawn({"python3", QUILLMARSH_FEED_SERVER, dir_ / "server.pem", dir_ / "server.key"}, pipe[1]);
    } catch (...) {
        ::close(pipe[0]);
        ::close(pipe[1]);
        throw;
    }
    ::close(pipe[1]);
    output_ = pipe[0];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (lines_.empty() && std::chrono::steady_clock::now() < deadline) readAvailable(200);
    if (lines_.empty() || !lines_.front().contains("port")) {
        shutDown();
        throw std::runtime_error("the feed server did not start");
    }
    port_ = lines_.front()["port"];
    silentPort_ = lines_.front()["silent"];
    lines_.erase(lines_.begin());
}

FeedServer::~FeedServer() { shutDown(); }

void FeedServer::shutDown() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    if (output_ >= 0) ::close(output_);
    output_ = -1;
    if (refused_ >= 0) ::close(refused_);
    refused_ = -1;
}

std::string FeedServer::url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + path;
}

std::string FeedServer::silentURL() const { return "https://127.0.0.1:" + std::to_string(silentPort_) + "/current"; }

std::string FeedServer::refusedURL() const { return "https://127.0.0.1:" + std::to_string(refusedPort_) + "/current"; }

std::vector<nlohmann::json> FeedServer::requests() {
    readAvailable(0);
    return lines_;
}

bool FeedServer::waitForRequests(size_t count, std::chrono::seconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    readAvailable(0);
    while (lines_.size() < count && std::chrono::steady_clock::now() < deadline) readAvailable(200);
    return lines_.size() >= count;
}

void FeedServer::readAvailable(int waitMilliseconds) {
    for (int wait = waitMilliseconds;; wait = 0) {
        pollfd ready{output_, POLLIN, 0};
        if (::poll(&ready, 1, wait) <= 0 || !(ready.revents & (POLLIN | POLLHUP))) return;
        char buffer[4096];
        ssize_t got = ::read(output_, buffer, sizeof buffer);
        if (got <= 0) return;
        buffered_.append(buffer, static_cast<size_t>(got));
        for (size_t end; (end = buffered_.find('\n')) != std::string::npos;) {
            lines_.push_back(nlohmann::json::parse(buffered_.substr(0, end), nullptr, false));
            buffered_.erase(0, end + 1);
        }
    }
}
