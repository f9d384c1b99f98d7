#pragma once
// A loopback HTTPS update server for one test (tests/support/feed_server.py):
// a certificate authority and a server certificate for 127.0.0.1 made with
// the openssl command in the test's own folder, the server started as a child
// and killed when the object goes. Paths it serves: /current (1.2.3), /newer
// (2.0.0 with notes), /newer-without-notes, /bad-digest, /not-modified (304),
// /missing (404), /redirect (to /newer), /announced-big (20000 bytes
// announced, a valid feed sent), /unknown-length (16385 bytes, length not announced), /silent
// (the request is reported, then never answered).
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/TempDir.hpp"

class FeedServer {
public:
    // Throws when the certificates or the server cannot be had within a bounded time.
    FeedServer();
    ~FeedServer();
    FeedServer(const FeedServer&) = delete;
    FeedServer& operator=(const FeedServer&) = delete;

    // https://127.0.0.1:port + path.
    std::string url(const std::string& path) const;
    // A port that accepts connections and then says nothing.
    std::string silentURL() const;
    // A port where every connection is refused (bound, never listening).
    std::string refusedURL() const;
    // The authority that signed the server's certificate.
    std::string caFile() const { return dir_ / "ca.pem"; }

    // The requests the server has received so far ({"path", "headers"} with
    // lower-case names). Each is reported before its answer is sent, so every
    // request already answered is among them.
    std::vector<nlohmann::json> requests();
    // Waits (bounded) until at least `count` requests have arrived; false when they did not.
    bool waitForRequests(size_t count, std::chrono::seconds limit = std::chrono::seconds(20));

private:
    void readAvailable(int waitMilliseconds);
    void shutDown();

    TempDir dir_;
    pid_t pid_ = -1;
    int output_ = -1;
    int refused_ = -1;
    int port_ = 0;
    int silentPort_ = 0;
    int refusedPort_ = 0;
    std::string buffered_;
    std::vector<nlohmann::json> lines_;
};
