#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "app/bridge/AssetServer.hpp"

#include <map>
#include "core/DocumentRead.hpp"
#include "core/UTF8.hpp"

namespace {

std::optional<std::string> readWhole(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return bytes.str();
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

std::string escapeName(std::string name) {
    replaceAll(name, "&", "&amp;");
    replaceAll(name, "<", "&lt;");
    replaceAll(name, "\"", "&quot;");
    return name;
}

const std::string& contentType(const std::string& path) {
    static const std::map<std::string, std::string> types = {
        {"html", "text/html; charset=utf-8"},
        {"js", "text/javascript"},
        {"mjs", "text/javascript"},
        {"css", "text/css"},
        {"json", "application/json"},
        {"svg", "image/svg+xml"},
        {"png", "image/png"},
        {"md", "text/markdown; charset=utf-8"},
    };
    static const std::string fallback = "application/octet-stream";
    auto name = path.substr(path.rfind('/') + 1);
    auto dot = name.rfind('.');
    if (dot == std::string::npos) return fallback;
    auto extension = name.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    auto found = types.find(extension);
    return found == types.end() ? fallback : found->second;
}

// Links resolved and "." and ".." removed, as far as the path exists.
std::string standardised(const std::filesystem::path& path) {
    std::error_code error;
    auto canonical = std::filesystem::weakly_canonical(path, error);
    return error ? path.lexically_normal().string() : canonical.string();
}

// Hashed with a purpose of its own, so that the nonce can never equal a hash
// of the token made for something else.
std::string styleNonce(const std::string& token) { return Files::version("quillmarsh style nonce\n" + token); }

std::string policyWith(const std::string& nonce) {
    return "default-src 'self'; script-src 'self'; style-src 'self' 'nonce-" + nonce +
           "'; img-src 'self' blob: data:; font-src 'self' data:; connect-src 'self'; worker-src 'self' blob:; "
           "object-src 'none'; base-uri 'none'; frame-src 'none'; form-action 'none'";
}

}  // namespace

AssetServer::AssetServer(Responder& responder, std::string editor, std::string token, std::string productName)
    : responder_(responder),
      editor_(std::move(editor)),
      token_(std::move(token)),
      productName_(std::move(productName)),
      nonce_(styleNonce(token_)),
      policy_(policyWith(nonce_)) {}

void AssetServer::serve(const std::shared_ptr<SchemeTask>& task, const std::string& path) {
    if (path == "/" || path == "/index.html") {
        auto page = readWhole(editor_ + "/web/index.html");
        if (!page || !UTF8::isValid(*page)) return responder_.sendError(task, 404, "not found");
        replaceAll(*page, "__QUILLMARSH_TOKEN__", token_);
        replaceAll(*page, "__QUILLMARSH_NONCE__", nonce_);
        replaceAll(*page, "__PRODUCT__", escapeName(productName_));
        return responder_.send(task, 200, std::move(*page), "text/html; charset=utf-8", withPolicy());
    }
    std::string decoded = percentDecode(path).value_or(path);
    if (decoded.find('\0') != std::string::npos) return responder_.sendError(task, 404, "not found");
    if (decoded.rfind("/web/", 0) != 0 && decoded.rfind("/node_modules/", 0) != 0) {
        return responder_.sendError(task, 404, "not found");
    }
    std::string base = standardised(editor_);
    std::string candidate = standardised(std::filesystem::path(base) / decoded.substr(1));
    if (candidate.rfind(base + "/", 0) != 0) return responder_.sendError(task, 404, "not found");
    auto bytes = readWhole(candidate);
    if (!bytes) return responder_.sendError(task, 404, "not found");
    responder_.send(task, 200, std::move(*bytes), contentType(candidate), withPolicy());
}

HeaderMap AssetServer::withPolicy() const { return {{"Content-Security-Policy", policy_}}; }
