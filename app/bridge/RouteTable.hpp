#pragma once
// The one table of API routes. Each route group registers its rows: a method,
// a path (or a path prefix for groups that check their own sub-paths), where
// the handler starts, and the handler. The frame takes the first row that
// matches; a request no row matches is answered by `refuseUnmatched`.
#include <functional>
#include <string>
#include <vector>

#include "app/bridge/ApiRequest.hpp"

// Where a handler starts. `main` handlers do only bookkeeping of state that is
// safe from any thread and hand the disk work on: the request skips a queue.
// `io` handlers touch state that lives on io (Open Recent, the folder and
// handles as they change, panels' answers).
enum class StartOn { main, io };

// A handler may take the body out of the request (a save's may be 20 MiB).
using RouteHandler = std::function<void(ApiRequest&)>;

// The method of a row that takes every method: for groups that answer a
// method they do not serve themselves.
inline constexpr const char* anyMethod = "*";

struct Route {
    // A method, or anyMethod.
    std::string method;
    std::string path;
    // Matches `path` itself and everything below "path/".
    bool prefix = false;
    StartOn startOn = StartOn::io;
    RouteHandler handler;
};

class RouteTable {
public:
    void add(std::string method, std::string path, StartOn startOn, RouteHandler handler);
    void addPrefix(std::string method, std::string path, StartOn startOn, RouteHandler handler);
    // The first row whose method and path match, or nothing.
    const Route* find(const std::string& method, const std::string& path) const;

private:
    std::vector<Route> routes_;
};

// The last row: 501 with the wording the path calls for. Always throws.
[[noreturn]] void refuseUnmatched(const std::string& path);
