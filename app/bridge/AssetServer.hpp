#pragma once
// The editor page's own files. Only the start document is rewritten (token,
// style nonce and product name); everything else is served as it lies, and only
// from "web/" and "node_modules/" inside the editor folder, after links and ".."
// are resolved. Every file goes out under one content security policy: scripts
// only from the page's own files (nothing inline, no eval), styles from its
// files or from an element carrying this launch's nonce, and nothing from
// anywhere else. Workers take the policy from their own script's answer, so
// scripts carry it too. Main thread.
#include <memory>
#include <string>

#include "app/bridge/RequestURL.hpp"
#include "app/bridge/Responder.hpp"

class AssetServer {
public:
    AssetServer(Responder& responder, std::string editor, std::string token, std::string productName);
    void serve(const std::shared_ptr<SchemeTask>& task, const std::string& path);

private:
    HeaderMap withPolicy() const;

    Responder& responder_;
    const std::string editor_;
    const std::string token_;
    const std::string productName_;
    // A one-way hash of the token: it changes with every launch like the
    // token, and a script that reads it (every style element shows it) learns
    // nothing of the token.
    const std::string nonce_;
    const std::string policy_;
};
