// The request entry: every request of the page passes through here on the main
// thread. Assets are handed to the asset server; API requests are checked for
// origin and token, their body is read whole, and their work is moved off the
// main thread.
#include <openssl/rand.h>

#include <cstdio>
#include <stdexcept>

#include "app/bridge/Bridge.hpp"
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

// Looks a header up under the two spellings the frame accepts.
const std::string* header(const HeaderMap& headers, const char* name, const char* lower) {
    auto found = headers.find(name);
    if (found == headers.end()) found = headers.find(lower);
    return found == headers.end() ? nullptr : &found->second;
}

}  // namespace

std::string makeToken() { return uuidV4() + uuidV4(); }

void Bridge::start(std::shared_ptr<SchemeTask> task) {
    const SchemeRequest& request = task->request();
    if (!request.url) return sendError(task, 404, "not found");
    RequestURL url = RequestURL::parse(*request.url);
    if (!url.host || *url.host != "app") return sendError(task, 404, "not found");
    if (url.path.rfind("/api/", 0) != 0) return serveAsset(task, url.path);

    const HeaderMap& headers = request.headers;
    if (auto origin = header(headers, "Origin", "origin"); origin && *origin != "lornwick://app") {
        return sendError(task, 403, "requests from other origins are refused");
    }
    auto presented = header(headers, "X-Quillmarsh-Token", "x-quillmarsh-token");
    if (!presented || *presented != token) return sendError(task, 403, "missing or wrong token");

    ApiRequest api;
    api.task = task;
    api.path = url.path;
    api.query = url.queryItems();
    api.method = request.method.value_or("GET");
    api.headers = headers;
    try {
        auto length = header(headers, "Content-Length", "content-length");
        api.body = Files::readBody(request.body, request.bodyStream,
                                   length ? std::optional<std::string>(*length) : std::nullopt);
    } catch (const BridgeError& error) {
        return sendError(task, error.status, error.message);
    } catch (...) {
        return sendError(task, 400, "not saved: the request could not be read");
    }

    const std::string& method = api.method;
    const std::string& path = api.path;
    if (method == "GET" && path == "/api/tree") return getTree(api);
    if (method == "POST" && path == "/api/quit") return quit(api);
    if (method == "POST" && path == "/api/recovery") {
        return io.async([this, api] { answering(api.task, [&] { keepRecovery(api); }); });
    }
    if (((method == "GET" || method == "PUT") && path == "/api/file") ||
        (method == "POST" && path == "/api/versions")) {
        // Moved, not copied: a save's body may be 20 MiB.
        return io.async([this, api = std::move(api)]() mutable { answering(api.task, [&] { documentItem(api); }); });
    }
    io.async([this, api] { answering(api.task, [&] { route(api); }); });
}

void Bridge::stop(const std::shared_ptr<SchemeTask>& task) { stopped.insert(task); }

void Bridge::documentItem(ApiRequest& request) {
    if (request.method == "GET") return getFile(request);
    if (request.method == "PUT") return putFile(request);
    checkVersions(request);
}

void Bridge::keepRecovery(const ApiRequest& request) { unmatched(request); }

// getTree (GET /api/tree) lives with the rest of the open folder in FolderRoutes.cpp.
