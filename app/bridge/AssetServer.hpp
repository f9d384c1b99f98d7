#pragma once
// The editor page's own files. Only the start document is rewritten (token and
// product name); everything else is served as it lies, and only from "web/" and
// "node_modules/" inside the editor folder, after links and ".." are resolved.
// Main thread.
#include <memory>
#include <string>

#include "app/bridge/RequestURL.hpp"
#include "app/bridge/Responder.hpp"

class AssetServer {
public:
    AssetServer(Responder& responder, std::string editor, std::string token, std::string productName);
    void serve(const std::shared_ptr<SchemeTask>& task, const std::string& path);

private:
    Responder& responder_;
    const std::string editor_;
    const std::string token_;
    const std::string productName_;
};
