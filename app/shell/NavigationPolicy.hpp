#pragma once
// What the web view may load and what goes to the system's browser instead.
// The page itself lives on its own scheme (SchemeNames::scheme); nothing else
// is ever loaded in the view, and only a deliberate link (a click, or a request for a new
// window) is handed to the browser, so a script cannot open pages on its own.
#include <optional>
#include <string>

struct NavigationRequest {
    // Nothing when the request has no URL.
    std::optional<std::string> url;
    bool linkClicked = false;
    // False for a request to open a new window.
    bool hasTargetFrame = true;
};

struct NavigationDecision {
    bool allow = false;
    // Hand the URL to the system's default handler (and log it, without the address).
    bool openExternally = false;
};

namespace NavigationPolicy {

NavigationDecision decide(const NavigationRequest& request);

// A request for a new window: never a new view; web and mail links go to the browser.
bool opensNewWindowExternally(const std::optional<std::string>& url);

}  // namespace NavigationPolicy
