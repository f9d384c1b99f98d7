// The request entry: every request of the page passes through here on the main
// thread. Assets are handed to the asset server; API requests are checked for
// origin and token, their body is read whole, and they go to the row of the
// route table that matches, on the main thread or on io as the row says.
#include <openssl/rand.h>

#include <cstdio>
#include <stdexcept>

#include "app/bridge/Bridge.hpp"
#include "app/bridge/SchemeNames.hpp"
#include "core/BridgeError.hpp"
#include "core/Files.hpp"

namespace {

std::string uuidV4() {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) throw std::runtime_error("no random bytes for the token");
    bytes[6] = (bytes[6] & 0x0F) | 0x40;
    bytes[8] = (bytes[8] & 0x3F) | 0x80;
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

}  // namespace

std::string makeToken() { return uuidV4() + uuidV4(); }

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
