#include "app/shell/NavigationPolicy.hpp"

#include "app/bridge/SchemeNames.hpp"

namespace {

// The scheme exactly as the URL holds it (the web view hands URLs over already
// canonical, so no case folding here).
std::string rawScheme(const std::string& url) {
    std::size_t colon = url.find(':');
    return colon == std::string::npos ? std::string() : url.substr(0, colon);
}

bool isWebOrMail(const std::string& scheme) { return scheme == "http" || scheme == "https" || scheme == "mailto"; }

}  // namespace

namespace NavigationPolicy {

NavigationDecision decide(const NavigationRequest& request) {
    if (!request.url) return {};
    std::string scheme = rawScheme(*request.url);
    if (scheme == SchemeNames::scheme) return {true, false};
    return {false, isWebOrMail(scheme) && (request.linkClicked || !request.hasTargetFrame)};
}

bool opensNewWindowExternally(const std::optional<std::string>& url) {
    if (!url) return false;
    return isWebOrMail(rawScheme(*url));
}

}  // namespace NavigationPolicy
