// The request entry: every request of the page passes through here on the main
// thread. Assets are handed to the asset server; API requests are checked for
// origin and token, their body is read whole, and they go to the row of the
// route table that matches, on the main thread or on io as the row says.
#include "app/bridge/Bridge.hpp"
#include "app/bridge/SchemeNames.hpp"
#include "core/BridgeError.hpp"
#include "core/Files.hpp"
#include "core/RandomText.hpp"


std::string makeToken() { return randomUUID() + randomUUID(); }

void Bridge::start(std::shared_ptr<SchemeTask> task) {
    QUILLMARSH_ONLY_ON(platform_.main);
    const SchemeRequest& request = task->request();
    if (!request.url) return responder_.sendError(task, 404, "not found");
    RequestURL url = RequestURL::parse(*request.url);
    if (!url.host || *url.host != "app") return responder_.sendError(task, 404, "not found");
    if (url.path.rfind("/api/", 0) != 0) return assets_.serve(task, url.path);

    const HeaderMap& headers = request.headers;
    if (auto origin = headerValue(headers, "Origin", "origin"); origin && *origin != SchemeNames::origin) {
        return responder_.sendError(task, 403, "requests from other origins are refused");
    }
    auto presented = headerValue(headers, "X-Quillmarsh-Token", "x-quillmarsh-token");
    if (!presented || *presented != token) return responder_.sendError(task, 403, "missing or wrong token");

    ApiRequest api;
    api.task = task;
    api.path = url.path;
    api.query = url.queryItems();
    api.method = request.method.value_or("GET");
    api.headers = headers;
    try {
        auto length = headerValue(headers, "Content-Length", "content-length");
        api.body = Files::readBody(request.body, request.bodyStream,
                                   length ? std::optional<std::string>(*length) : std::nullopt);
    } catch (const BridgeError& error) {
        return responder_.sendError(task, error.status, error.message);
    } catch (...) {
        return responder_.sendError(task, 400, "not saved: the request could not be read");
    }

    const Route* route = routes_.find(api.method, api.path);
    if (!route) return responder_.answering(task, [&] { refuseUnmatched(api.path); });
    if (route->startOn == StartOn::main) return responder_.answering(task, [&] { route->handler(api); });
    // Moved, not copied: a save's body may be 20 MiB.
    io.async([this, route, api = std::move(api)]() mutable {
        responder_.answering(api.task, [&] { route->handler(api); });
    });
}
